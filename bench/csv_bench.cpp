// CSV export benchmark. Three cases, each converted to CSV by the conversion run (which writes
// the CSV of an .xlsx itself) in a child process of its own, so that its time and peak resident
// memory (getrusage ru_maxrss, the child's start-up of about 10 MiB included) are its own:
// 1. SMALL (default 50) small .xlsx files, against `soffice --headless --convert-to csv` on
//    the same files in the same run (one soffice call for all of them, after one warm-up call
//    that creates its profile);
// 2. one sheet of ROWS (default 200,000) x 10 cells: text, numbers, amounts, dates;
// 3. a workbook of SHEETS (default 1,000) worksheets of 20 x 5 cells.
// Usage: csv_bench [SMALL [ROWS [SHEETS]]]

#include "BenchWorkbooks.h"
#include "automation/BatchFrame.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "operations/workbook/ConvertOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>
#include <zip.h>

#include <algorithm>

using namespace gm;

namespace {

const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const QByteArray mainNs = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
const QByteArray relNs = "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const QByteArray relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// Styles: 0 General, 1 "0.00", 2 "#,##0", 3 "yyyy-mm-dd", 4 "0.0%".
const QByteArray stylesXml = declaration + "<styleSheet " + mainNs
    + "><numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts>"
      "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
      "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
      "<borders count=\"1\"><border/></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
      "<cellXfs count=\"5\"><xf numFmtId=\"0\" xfId=\"0\"/><xf numFmtId=\"2\" xfId=\"0\" applyNumberFormat=\"1\"/>"
      "<xf numFmtId=\"3\" xfId=\"0\" applyNumberFormat=\"1\"/><xf numFmtId=\"164\" xfId=\"0\" applyNumberFormat=\"1\"/>"
      "<xf numFmtId=\"10\" xfId=\"0\" applyNumberFormat=\"1\"/></cellXfs></styleSheet>";

// A worksheet of rows x cols cells cycling through text, whole numbers, amounts, dates and
// percentages, in columns wide enough for every value (as the spreadsheet program sizes them
// when values are typed); text goes to the shared-string table `strings`.
QByteArray sheetXml(int rows, int cols, QByteArray &strings, int &stringCount)
{
    QByteArray xml = declaration + "<worksheet " + mainNs + "><cols><col min=\"1\" max=\"" + QByteArray::number(cols)
        + "\" width=\"14.7109375\" customWidth=\"1\"/></cols><sheetData>";
    xml.reserve(qsizetype(rows) * cols * 40);
    for (int r = 1; r <= rows; ++r) {
        xml += "<row r=\"" + QByteArray::number(r) + "\">";
        for (int c = 0; c < cols; ++c) {
            const QByteArray ref = QByteArray(1, char('A' + c)) + QByteArray::number(r);
            switch (c % 5) {
            case 0:
                xml += "<c r=\"" + ref + "\" t=\"s\"><v>" + QByteArray::number(stringCount++) + "</v></c>";
                strings += "<si><t>名称 " + QByteArray::number(r) + ", 第" + QByteArray::number(c) + "列</t></si>";
                break;
            case 1:
                xml += "<c r=\"" + ref + "\"><v>" + QByteArray::number(r * 7 + c) + "</v></c>";
                break;
            case 2:
                xml += "<c r=\"" + ref + "\" s=\"2\"><v>" + QByteArray::number(r * 1234.567, 'g', 15) + "</v></c>";
                break;
            case 3:
                xml += "<c r=\"" + ref + "\" s=\"3\"><v>" + QByteArray::number(40000 + r % 9000) + "</v></c>";
                break;
            default:
                xml += "<c r=\"" + ref + "\" s=\"4\"><v>" + QByteArray::number((r % 1000) / 997.0, 'g', 15) + "</v></c>";
                break;
            }
        }
        xml += "</row>";
    }
    return xml + "</sheetData></worksheet>";
}

void writeZip(const QString &path, const QList<QPair<QByteArray, QByteArray>> &parts)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto &[name, data] : parts) {
        zip_source_t *source = zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
        zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8);
    }
    if (!archive || zip_close(archive) != 0) {
        QTextStream(stderr) << "cannot write " << path << "\n";
        exit(1);
    }
}

// A workbook of `sheets` worksheets of rows x cols cells, the first one active.
void writeWorkbook(const QString &path, int sheets, int rows, int cols)
{
    QByteArray types = declaration
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
          "<Override PartName=\"/xl/styles.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
          "<Override PartName=\"/xl/sharedStrings.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    QByteArray workbook = declaration + "<workbook " + mainNs + " " + relNs + "><sheets>";
    QByteArray rels = declaration + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    QList<QPair<QByteArray, QByteArray>> parts;
    QByteArray strings;
    int stringCount = 0;
    for (int i = 1; i <= sheets; ++i) {
        const QByteArray n = QByteArray::number(i);
        types += "<Override PartName=\"/xl/worksheets/sheet" + n
            + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        workbook += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + relType + "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        parts.append({"xl/worksheets/sheet" + n + ".xml", sheetXml(rows, cols, strings, stringCount)});
    }
    rels += "<Relationship Id=\"rIdS\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/>";
    rels += "<Relationship Id=\"rIdT\" Type=\"" + relType + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    parts.prepend({"xl/_rels/workbook.xml.rels", rels});
    parts.prepend({"xl/workbook.xml", workbook + "</sheets></workbook>"});
    parts.prepend({"_rels/.rels",
        declaration
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\""
            + relType + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    parts.prepend({"[Content_Types].xml", types + "</Types>"});
    parts.append({"xl/styles.xml", stylesXml});
    parts.append({"xl/sharedStrings.xml",
        declaration + "<sst " + mainNs + " count=\"" + QByteArray::number(stringCount) + "\" uniqueCount=\""
            + QByteArray::number(stringCount) + "\">" + strings + "</sst>"});
    writeZip(path, parts);
}

double cpuMilliseconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Child: converts the files to CSV in `folder` by the conversion run and prints
// "milliseconds CPU-milliseconds peak-KiB converted".
int measure(const QString &folder, const QStringList &files)
{
    bench::SilentUi ui(true);
    RunSettings settings;
    ConvertInputs inputs;
    inputs.entries = files;
    inputs.targetIndex = 1; // CSV
    inputs.outputFolder = folder;
    QElapsedTimer timer;
    timer.start();
    // No engine: a file the run would leave to it fails, so the count is of native exports.
    const RunSummary summary = runConvert(inputs, ui, settings, []() -> std::unique_ptr<Application> {
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("not in this benchmark"));
    });
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto converted = std::count_if(summary.files.begin(), summary.files.end(),
        [](const FileResult &file) { return file.outcome == FileOutcome::Processed; });
    QTextStream(stdout) << ms << ' ' << cpuMilliseconds(RUSAGE_SELF) << ' ' << usage.ru_maxrss << ' ' << converted << '\n';
    return 0;
}

struct Figures
{
    double ms = 0;
    double cpuMs = 0;
    double peakMiB = 0;
    int converted = 0;
};

Figures runChild(const QString &program, const QString &folder, const QStringList &files)
{
    QDir().mkpath(folder);
    QProcess child;
    child.start(program, QStringList{QStringLiteral("--child"), folder} + files);
    child.waitForFinished(-1);
    const QStringList figures = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    if (figures.size() != 4)
        return {};
    return {figures[0].toDouble(), figures[1].toDouble(), figures[2].toDouble() / 1024, figures[3].toInt()};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--child"))
        return measure(args[2], args.mid(3));
    if (args.size() == 6 && args[1] == QLatin1String("--generate")) {
        writeWorkbook(args[2], args[3].toInt(), args[4].toInt(), args[5].toInt());
        return 0;
    }
    const int small = args.size() > 1 ? std::max(1, args[1].toInt()) : 50;
    const int rows = args.size() > 2 ? std::max(1, args[2].toInt()) : 200000;
    const int sheets = args.size() > 3 ? std::max(1, args[3].toInt()) : 1000;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString program = app.applicationFilePath();
    auto generate = [&](const QString &path, int sheetCount, int rowCount, int cols) {
        QProcess generator;
        generator.start(program,
            {QStringLiteral("--generate"), path, QString::number(sheetCount), QString::number(rowCount), QString::number(cols)});
        generator.waitForFinished(-1);
    };

    // 1. Small files, natively and by soffice.
    QStringList smallFiles;
    QDir().mkpath(dir.filePath(QStringLiteral("small")));
    for (int i = 0; i < small; ++i) {
        smallFiles << dir.filePath(QStringLiteral("small/book%1.xlsx").arg(i));
        bench::writeXlsx(smallFiles.last(), 3, 10);
    }
    const Figures native = runChild(program, dir.filePath(QStringLiteral("out-native")), smallFiles);
    out << small << " small .xlsx to CSV\n";
    out << QStringLiteral("  native:  %1 ms wall, %2 ms CPU, %3 of %4 written natively\n")
               .arg(native.ms, 0, 'f', 1)
               .arg(native.cpuMs, 0, 'f', 1)
               .arg(native.converted)
               .arg(small);
    out.flush();
    const QString soffice = libreOfficeProgramDir() + QStringLiteral("/soffice");
    const QStringList base = {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
        QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("csv"), QStringLiteral("--outdir")};
    {
        QProcess warmUp;
        warmUp.start(soffice, base + QStringList{dir.filePath(QStringLiteral("out-warm")), smallFiles.first()});
        warmUp.waitForFinished(-1);
    }
    const double cpuBefore = cpuMilliseconds(RUSAGE_CHILDREN);
    QElapsedTimer timer;
    timer.start();
    QProcess engine;
    engine.start(soffice, base + QStringList{dir.filePath(QStringLiteral("out-soffice"))} + smallFiles);
    engine.waitForFinished(-1);
    const double engineMs = double(timer.nsecsElapsed()) / 1e6;
    const double engineCpu = cpuMilliseconds(RUSAGE_CHILDREN) - cpuBefore;
    const int engineWritten = int(QDir(dir.filePath(QStringLiteral("out-soffice"))).entryList({QStringLiteral("*.csv")}).size());
    out << QStringLiteral("  soffice: %1 ms wall, %2 ms CPU, %3 files written\n")
               .arg(engineMs, 0, 'f', 1)
               .arg(engineCpu, 0, 'f', 1)
               .arg(engineWritten);
    if (native.ms > 0 && native.cpuMs > 0)
        out << QStringLiteral("  native is %1x faster in wall time, %2x in CPU time\n")
                   .arg(engineMs / native.ms, 0, 'f', 1)
                   .arg(engineCpu / native.cpuMs, 0, 'f', 1);
    out.flush();

    // 2. One large sheet; 3. many sheets.
    const QString large = dir.filePath(QStringLiteral("large.xlsx"));
    generate(large, 1, rows, 10);
    const QString many = dir.filePath(QStringLiteral("many.xlsx"));
    generate(many, sheets, 20, 5);
    out << QStringLiteral("\n%1%2%3%4%5\n")
               .arg(QStringLiteral("case"), -32)
               .arg(QStringLiteral("KiB"), 10)
               .arg(QStringLiteral("ms"), 10)
               .arg(QStringLiteral("CPU ms"), 10)
               .arg(QStringLiteral("peak MiB"), 10);
    const QList<QPair<QString, QString>> cases
        = {{QStringLiteral("%1 rows x 10 cells").arg(rows), large}, {QStringLiteral("%1 sheets").arg(sheets), many}};
    for (const auto &[name, file] : cases) {
        const Figures f = runChild(program, dir.filePath(QStringLiteral("out-") + QFileInfo(file).baseName()), {file});
        out << QStringLiteral("%1%2%3%4%5  %6\n")
                   .arg(name, -32)
                   .arg(QFileInfo(file).size() / 1024, 10)
                   .arg(f.ms, 10, 'f', 1)
                   .arg(f.cpuMs, 10, 'f', 1)
                   .arg(f.peakMiB, 10, 'f', 1)
                   .arg(f.converted == 1 ? QStringLiteral("written natively") : QStringLiteral("NOT written natively"));
        out.flush();
    }
    return 0;
}
