// The text export written without the engine against the engine's own, on every .xlsx of the
// shared corpus and on a workbook of number formats made here: the two outputs are the same
// byte for byte, or the file is listed below with the reason they differ, or the file is one
// the exporter leaves to the engine, listed with its reason.

#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/PathHelpers.h"
#include "automation/lo/LoApplication.h"
#include "automation/xlsx/CsvExport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace gm;
using gm::test::readAll;

namespace {

struct Listed
{
    const char *file;
    const char *reason;
};

// Files whose displayed text the exporter cannot know; the engine writes them.
const Listed kLeftToEngine[] = {
    {"dynamic_array01.xlsx", "the workbook asks for a full recalculation"},
    {"dynamic_array02.xlsx", "the workbook asks for a full recalculation"},
    {"embed_image01.xlsx", "the workbook asks for a full recalculation"},
    {"embed_image02.xlsx", "the workbook asks for a full recalculation"},
    // Numbers such as 6.8 x 10^6 and long General decimals in columns of the default width.
    {"poi-123233_charts.xlsx", "a number wider than its column"},
    {"poi-WithChartSheet.xlsx", "a number wider than its column"},
};

// Files whose two outputs differ, and why: each a deviation of the engine's text from what the
// spreadsheet program shows.
const std::vector<Listed> kDifferences = {
    {"general_long.xlsx",
        "the engine shows General numbers with up to 15 significant digits (0.333333333333333, 123456789012), the "
        "spreadsheet program in at most 11 characters (0.333333333, 1.23457E+11)"},
    {"text_literal.xlsx", "the engine drops the space before \"@\" in the text format \" @\" (\"txt\" for \" txt\")"},
};

// A workbook of one sheet with these rows, in wide columns, and styles: 0 General,
// 1 "0.00_ ", 2 an accounting layout without fill, 3 " @", 4 "0;"neg"", 5 id 14, 6 id 22.
void writeFormats(const QString &path, const QByteArray &rows)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray rt = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const QByteArray styles = "<styleSheet " + ns
        + "><numFmts count=\"4\"><numFmt numFmtId=\"164\" formatCode=\"0.00_ \"/>"
          "<numFmt numFmtId=\"165\" formatCode=\"_(#,##0_);_(\\(#,##0\\);_(&quot;-&quot;_);_(@_)\"/>"
          "<numFmt numFmtId=\"166\" formatCode=\" @\"/><numFmt numFmtId=\"167\" formatCode=\"0;&quot;neg&quot;\"/>"
          "</numFmts><cellXfs count=\"7\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
          "<xf numFmtId=\"166\"/><xf numFmtId=\"167\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/></cellXfs></styleSheet>";
    const QByteArray sheet = "<worksheet " + ns + "><cols><col min=\"1\" max=\"10\" width=\"24\" customWidth=\"1\"/></cols>"
        + "<sheetData>" + rows + "</sheetData></worksheet>";
    gm::test::writeZip(path,
        {
            {QStringLiteral("[Content_Types].xml"),
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                "<Override PartName=\"/xl/workbook.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                "<Override PartName=\"/xl/styles.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/></Types>"},
            {QStringLiteral("_rels/.rels"),
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                "Id=\"rId1\" Type=\""
                    + rt + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
            {QStringLiteral("xl/workbook.xml"),
                "<workbook " + ns + "><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
            {QStringLiteral("xl/_rels/workbook.xml.rels"),
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\""
                    + rt
                    + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                      "<Relationship Id=\"rId2\" Type=\""
                    + rt + "styles\" Target=\"styles.xml\"/></Relationships>"},
            {QStringLiteral("xl/styles.xml"), styles},
            {QStringLiteral("xl/worksheets/sheet1.xml"), sheet},
        });
}

// The lines in which two outputs differ, for the failure message; "" when they are the same.
QString differingLines(const QByteArray &native, const QByteArray &engine)
{
    if (native == engine)
        return {};
    const QList<QByteArray> a = native.split('\n');
    const QList<QByteArray> b = engine.split('\n');
    QString lines;
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const QByteArray x = a.value(i).chopped(a.value(i).endsWith('\r') ? 1 : 0);
        const QByteArray y = b.value(i).chopped(b.value(i).endsWith('\r') ? 1 : 0);
        if (x != y)
            lines += QStringLiteral("line %1: native \"%2\", engine \"%3\"; ")
                         .arg(i + 1)
                         .arg(QString::fromUtf8(x), QString::fromUtf8(y));
    }
    return lines.isEmpty() ? QStringLiteral("the same lines, other bytes") : lines;
}

} // namespace

TEST(CsvExportCorpus, NativeTextMatchesTheEngineOrTheDifferenceIsListed)
{
    const QString corpus = gm::test::corpusFile(QStringLiteral("xlsx"));
    if (corpus.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("src"));
    QDir().mkpath(src);
    for (const QFileInfo &file : QDir(corpus).entryInfoList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files))
        gm::test::copyInto(file.filePath(), src);
    auto c = [](const char *ref, int style, const QByteArray &body, const char *type = nullptr) {
        return "<c r=\"" + QByteArray(ref) + "\" s=\"" + QByteArray::number(style) + "\""
            + (type ? " t=\"" + QByteArray(type) + "\"" : QByteArray()) + ">" + body + "</c>";
    };
    writeFormats(src + QStringLiteral("/formats.xlsx"),
        "<row r=\"1\">" + c("A1", 0, "<v>1E-10</v>") + c("B1", 0, "<v>0.1</v>") + c("C1", 0, "<v>10000000000</v>")
            + c("D1", 0, "<v>-1234.5</v>") + "</row><row r=\"2\">" + c("A2", 1, "<v>5</v>") + c("B2", 2, "<v>1234</v>")
            + c("C2", 2, "<v>-1234</v>") + c("D2", 2, "<v>0</v>") + c("F2", 4, "<v>-3</v>") + "</row><row r=\"3\">"
            + c("A3", 5, "<v>43832</v>") + c("B3", 6, "<v>43832.5</v>") + c("C3", 0, "<v>1</v>", "b")
            + c("D3", 0, "<v>#N/A</v>", "e") + "</row>");
    writeFormats(src + QStringLiteral("/general_long.xlsx"),
        "<row r=\"1\">" + c("A1", 0, "<v>0.333333333333333</v>") + c("B1", 0, "<v>123456789012</v>")
            + c("C1", 0, "<v>1234567.891234</v>") + "</row>");
    writeFormats(
        src + QStringLiteral("/text_literal.xlsx"), "<row r=\"1\">" + c("A1", 3, "<is><t>txt</t></is>", "inlineStr") + "</row>");

    QMap<QString, QString> expectedEngine;
    for (const Listed &listed : kLeftToEngine)
        expectedEngine.insert(QString::fromUtf8(listed.file), QString::fromUtf8(listed.reason));
    QMap<QString, QString> expectedDifferences;
    for (const Listed &listed : kDifferences)
        expectedDifferences.insert(QString::fromUtf8(listed.file), QString::fromUtf8(listed.reason));

    lo::LoApplication engine(libreOfficeProgramDir());
    QMap<QString, QString> leftToEngine;
    QMap<QString, QString> differences;
    int compared = 0;
    const QList<QPair<int, xlsx::TextSeparator>> formats
        = {{FileFormat::Csv, xlsx::TextSeparator::Comma}, {FileFormat::Text, xlsx::TextSeparator::Tab}};
    for (const QFileInfo &file : QDir(src).entryInfoList(QDir::Files, QDir::Name)) {
        const QString name = file.fileName();
        std::unique_ptr<Workbook> book;
        for (const auto &[code, separator] : formats) {
            const QString extension = FormatExtension(code);
            const QString native = dir.filePath(QStringLiteral("native-") + file.completeBaseName() + extension);
            const xlsx::SheetTextExport result = xlsx::exportActiveSheetText(file.filePath(), native, separator);
            if (!result.written) {
                leftToEngine.insert(name, result.engineReason);
                break;
            }
            if (!book)
                book = engine.open(file.filePath(), /*readOnly=*/true);
            const QString engineOutput = dir.filePath(QStringLiteral("engine-") + file.completeBaseName() + extension);
            book->saveAs(engineOutput, code);
            const QString difference = differingLines(readAll(native), readAll(engineOutput));
            if (!difference.isEmpty())
                differences.insert(name, differences.value(name) + extension + QStringLiteral(": ") + difference);
            ++compared;
        }
        if (book)
            book->close(false);
    }
    EXPECT_GE(compared, 200);
    for (auto it = leftToEngine.cbegin(); it != leftToEngine.cend(); ++it)
        EXPECT_EQ(expectedEngine.value(it.key()).toStdString(), it.value().toStdString())
            << it.key().toStdString() << " is left to the engine";
    for (auto it = expectedEngine.cbegin(); it != expectedEngine.cend(); ++it)
        EXPECT_TRUE(leftToEngine.contains(it.key())) << it.key().toStdString() << " is now written natively";
    for (auto it = differences.cbegin(); it != differences.cend(); ++it)
        EXPECT_TRUE(expectedDifferences.contains(it.key()))
            << it.key().toStdString() << " differs from the engine: " << it.value().toStdString();
    for (auto it = expectedDifferences.cbegin(); it != expectedDifferences.cend(); ++it)
        EXPECT_TRUE(differences.contains(it.key())) << it.key().toStdString() << " no longer differs";
}
