// Sheet-operation benchmark: per-file milliseconds of hiding a sheet and of renaming a sheet
// that every formula of another sheet refers to, each saved, through the .xlsx package
// editor; beside it the engine's load-and-save of the same files, the cost of the
// alternative. Small files have 20 rows per sheet, large ones 2,000 (10 cells and 2
// formulas per row).
// Usage: sheets_bench [N] [OPS]   (N files per kind, default 10; OPS a comma-separated choice
// of hide,rename,insert,engine, default all: the others print as 0, which keeps a profile of
// one operation free of the rest)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>
#include <memory>

using namespace gm;
using bench::timePerFile;

namespace {

QByteArray xmlHead()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
}

QByteArray formulaSheet(int rows)
{
    QByteArray xml = xmlHead() + "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (int r = 1; r <= rows; ++r) {
        const QByteArray n = QByteArray::number(r);
        xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><f>Data!B" + n + "*2</f></c><c r=\"B" + n + "\"><f>SUM(Data!B" + n + ":D"
            + n + ")</f></c></row>";
    }
    return xml + "</sheetData></worksheet>";
}

// Data (values), Calc (formulas on Data), Other (values).
void writeWorkbook(const QString &path, int rows)
{
    const QByteArray worksheetType = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QByteArray types = xmlHead()
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
          "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    QByteArray sheets;
    QByteArray rels = xmlHead() + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    const char *names[] = {"Data", "Calc", "Other"};
    for (int i = 1; i <= 3; ++i) {
        const QByteArray n = QByteArray::number(i);
        types += "<Override PartName=\"/xl/worksheets/sheet" + n + ".xml\" ContentType=\"" + worksheetType + "\"/>";
        sheets += "<sheet name=\"" + QByteArray(names[i - 1]) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    }
    const std::vector<std::pair<const char *, QByteArray>> parts = {
        {"[Content_Types].xml", types + "</Types>"},
        {"_rels/.rels",
            xmlHead()
                + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                  "<Relationship Id=\"rId1\" Type=\""
                + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
            xmlHead()
                + "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                  "xmlns:r=\""
                + rel + "\"><sheets>" + sheets + "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels", rels + "</Relationships>"},
        {"xl/worksheets/sheet1.xml", bench::sheetXml(rows, 10)},
        {"xl/worksheets/sheet2.xml", formulaSheet(rows)},
        {"xl/worksheets/sheet3.xml", bench::sheetXml(rows, 10)},
    };
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto &[name, data] : parts) {
        zip_source_t *source = zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
        zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
    }
    if (!archive || zip_close(archive) != 0) {
        QTextStream(stderr) << "cannot write " << path << "\n";
        exit(1);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const QStringList ops = argc > 2 ? QString::fromLocal8Bit(argv[2]).split(u',')
                                     : QStringList{QStringLiteral("hide"), QStringLiteral("rename"),
                                           QStringLiteral("insert"), QStringLiteral("engine")};
    auto timed = [&](const char *op, const std::function<double()> &run) { return ops.contains(QLatin1String(op)) ? run() : 0.0; };
    QTextStream out(stdout);
    QTemporaryDir dir;
    std::unique_ptr<lo::LoApplication> engine;
    if (ops.contains(QStringLiteral("engine")))
        engine = std::make_unique<lo::LoApplication>(libreOfficeProgramDir());

    out << "ms per file, saved; mean over a run of " << n << " files, final flush to disk included\n";
    out << QStringLiteral("%1%2%3%4%5%6\n")
               .arg(QStringLiteral("file"), -8)
               .arg(QStringLiteral("hide"), 10)
               .arg(QStringLiteral("rename"), 10)
               .arg(QStringLiteral("insert"), 10)
               .arg(QStringLiteral("engine load+save"), 18)
               .arg(QStringLiteral("ratio (rename)"), 16);
    for (const auto &[kind, rows] : {std::pair{QStringLiteral("small"), 20}, std::pair{QStringLiteral("large"), 2000}}) {
        QStringList hide, rename, insert, engineFiles;
        const QString sourcePath = dir.filePath(QStringLiteral("%1-source.xlsx").arg(kind));
        writeWorkbook(sourcePath, rows);
        auto source = xlsx::openPackage(sourcePath);
        for (int i = 0; i < n; ++i) {
            const QString base = dir.filePath(QStringLiteral("%1-%2").arg(kind).arg(i));
            for (QStringList *list : {&hide, &rename, &insert, &engineFiles}) {
                const QString path = base
                    + QStringLiteral("-%1.xlsx").arg(list == &hide ? 1 : list == &rename ? 2 : list == &insert ? 3 : 4);
                writeWorkbook(path, rows);
                list->append(path);
            }
        }
        auto package = [](const QString &p) { return xlsx::openPackage(p); };
        const double hideMs = timed("hide", [&] {
            return timePerFile(hide, package,
                [](Workbook &b) { b.worksheet(QStringLiteral("Other"))->setVisibility(SheetVisibility::Hidden); });
        });
        const double renameMs = timed("rename", [&] {
            return timePerFile(
                rename, package, [](Workbook &b) { b.worksheet(QStringLiteral("Data"))->setName(QStringLiteral("Data 2")); });
        });
        const double insertMs = timed("insert", [&] {
            return timePerFile(insert, package, [&](Workbook &b) { b.insertWorksheetCopy(*source, QStringLiteral("Data")); });
        });
        const double engineMs = timed("engine", [&] {
            return timePerFile(engineFiles, [&](const QString &p) { return engine->open(p); }, [](Workbook &) {});
        });
        out << QStringLiteral("%1%2%3%4%5%6\n")
                   .arg(kind, -8)
                   .arg(hideMs, 10, 'f', 2)
                   .arg(renameMs, 10, 'f', 2)
                   .arg(insertMs, 10, 'f', 2)
                   .arg(engineMs, 18, 'f', 2)
                   .arg(renameMs > 0 ? engineMs / renameMs : 0.0, 16, 'f', 0);
        out.flush();
    }
    return 0;
}
