// Rows and columns deleted by the package editor, read back with pugixml and openpyxl:
// formulas of other sheets, names, validations and shared formulas follow; a sheet far
// larger than one read chunk streams through with its shared formulas re-anchored.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "support/WorkbookReader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

using gm::test::zipEntry;

// Every cell formula of a sheet part: address -> text ("t=shared si=0" for a follower).
std::map<QString, QString> formulas(const QString &path, const QString &part)
{
    std::map<QString, QString> result;
    const auto sheet = test::parseXml(zipEntry(path, part));
    for (pugi::xml_node row : sheet->document_element().child("sheetData").children("row")) {
        for (pugi::xml_node cell : row.children("c")) {
            const pugi::xml_node f = cell.child("f");
            if (!f)
                continue;
            QString text = QString::fromUtf8(f.text().get());
            if (text.isEmpty() && f.attribute("si"))
                text = QStringLiteral("shared %1").arg(QString::fromUtf8(f.attribute("si").value()));
            result[QString::fromUtf8(cell.attribute("r").value())] = text;
        }
    }
    return result;
}

TEST(LineDeletion, ReferencesOnOtherSheetsAndInNamesFollowTheDeletedRows)
{
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheet_references.xlsx")), dir.path());
    const QByteArray other = zipEntry(path, QStringLiteral("xl/worksheets/sheet2.xml"));
    {
        auto book = openPackage(path);
        book->worksheet(QStringLiteral("Data"))->deleteRows(QStringLiteral("3:2"));
        book->close(true);
    }
    const std::map<QString, QString> calc = formulas(path, QStringLiteral("xl/worksheets/sheet4.xml"));
    const std::map<QString, QString> expected{
        {QStringLiteral("A1"), QStringLiteral("Data!A1*2")},
        {QStringLiteral("B1"), QStringLiteral("Data!A1+1")},
        // The followers no longer derive from their master: their own formulas are written.
        {QStringLiteral("B2"), QStringLiteral("#REF!+1")},
        {QStringLiteral("B3"), QStringLiteral("#REF!+1")},
        {QStringLiteral("C1"), QStringLiteral("SUM(Data!A1:A1*2)")},
        {QStringLiteral("D1"), QStringLiteral("Other!Local")},
        {QStringLiteral("A2"), QStringLiteral("SUM(Data!A1:A3)")},
        {QStringLiteral("A3"), QStringLiteral("SUM(Data:Other!A1)")},
        {QStringLiteral("A4"), QStringLiteral("INDIRECT(\"Data!A2\")")},
        {QStringLiteral("A5"), QStringLiteral("'It''s'!A1+Other!A1")},
        {QStringLiteral("A6"), QStringLiteral("SUM(Total)")},
    };
    EXPECT_EQ(calc, expected);
    const QByteArray calcXml = zipEntry(path, QStringLiteral("xl/worksheets/sheet4.xml"));
    EXPECT_TRUE(calcXml.contains("<formula1>Data!$A$1:$A$3</formula1>")) << calcXml.constData();
    EXPECT_TRUE(calcXml.contains("location=\"Data!A1\"")); // a static address: it stays

    const QByteArray data = zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml"));
    EXPECT_TRUE(data.contains("<row r=\"3\"><c r=\"A3\"><v>5</v></c></row></sheetData>")) << data.constData();
    const QByteArray workbook = zipEntry(path, QStringLiteral("xl/workbook.xml"));
    EXPECT_TRUE(workbook.contains("localSheetId=\"0\">Data!$A$1:$A$3<")) << workbook.constData();
    EXPECT_TRUE(workbook.contains("name=\"Total\">Data!$A$1:$A$3<"));
    EXPECT_TRUE(workbook.contains("localSheetId=\"3\">Calc!$A$1:$C$6<"));
    // A sheet that does not name Data keeps its bytes.
    EXPECT_EQ(zipEntry(path, QStringLiteral("xl/worksheets/sheet2.xml")), other);

    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
    if (!read.available)
        GTEST_SKIP() << "no openpyxl";
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    const gm::test::ReaderSheet *sheet = read.sheet(QStringLiteral("Data"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->cells.value(QStringLiteral("A2")).toString(), QStringLiteral("4"));
    EXPECT_FALSE(sheet->cells.contains(QStringLiteral("A4")));
}

// The reference rule leaves a 3-D span as it is: a deletion that would move the cells a span
// names on one of its sheets is refused, the file kept; one after them goes ahead.
TEST(LineDeletion, AThreeDimensionalSpanWhoseCellsWouldMoveIsRefused)
{
    const std::pair<const char *, bool> cases[] = {{"Data", true}, {"Other", true}, {"Calc", false}};
    for (const auto &[sheet, refused] : cases) {
        SCOPED_TRACE(sheet);
        QTemporaryDir dir;
        const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheet_references.xlsx")), dir.path());
        const QByteArray before = gm::test::readAll(path);
        auto book = openPackage(path);
        try {
            book->worksheet(QString::fromUtf8(sheet))->deleteRows(QStringLiteral("1"));
            EXPECT_FALSE(refused);
        } catch (const EngineError &e) {
            EXPECT_TRUE(refused) << e.what();
            EXPECT_EQ(e.code(), ErrorCode::LineDeletionUnsupported);
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("Data:Other!A1"))) << e.what();
        }
        book->close(true);
        if (refused) {
            EXPECT_EQ(gm::test::readAll(path), before);
        } else {
            EXPECT_TRUE(zipEntry(path, QStringLiteral("xl/worksheets/sheet4.xml")).contains("SUM(Data:Other!A1)"));
        }
    }
}

// A workbook saved by Excel keeps the stored results of its formulas; those the deletion changes
// are recomputed when the file is opened, which the workbook asks for. An independent reader
// finds each subtotal narrowed as Excel narrows a range that loses rows from its inside.
TEST(LineDeletion, StoredSubtotalsAreLeftToTheRecalculationOnLoad)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xlsx/outline01.xlsx"));
    if (source.isEmpty())
        GTEST_SKIP() << "the shared corpus is not there";
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(source, dir.path());
    {
        auto book = openPackage(path);
        book->worksheet(QStringLiteral("Outlined Rows"))->deleteRows(QStringLiteral("3:4"));
        book->close(true);
    }
    EXPECT_TRUE(zipEntry(path, QStringLiteral("xl/workbook.xml")).contains("fullCalcOnLoad=\"1\""));
    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
    if (!read.available)
        GTEST_SKIP() << "no openpyxl";
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    const gm::test::ReaderSheet *sheet = read.sheet(QStringLiteral("Outlined Rows"));
    ASSERT_NE(sheet, nullptr);
    const std::pair<const char *, const char *> cells[] = {
        {"A4", "North Total"}, {"B4", "=SUBTOTAL(9,B2:B3)"}, {"A9", "South Total"}, {"B9", "=SUBTOTAL(9,B5:B8)"},
        {"B10", "=SUBTOTAL(9,B2:B8)"}, {"B3", "1200"}, // the last "North" row, moved up by two
    };
    for (const auto &[cell, expected] : cells) {
        SCOPED_TRACE(cell);
        EXPECT_EQ(sheet->cells.value(QString::fromLatin1(cell)).toString(), QString::fromUtf8(expected));
    }
    EXPECT_FALSE(sheet->cells.contains(QStringLiteral("A11")));
}

// A sheet of 30,000 rows is cut in the middle of a shared group whose master is deleted:
// the rows after the cut arrive in many chunks, and the first remaining cell of the group
// becomes its master.
TEST(LineDeletion, ALargeSheetStreamsThroughAndItsSharedGroupIsAnchoredAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.xlsx"));
    const int count = 30000;
    QByteArray rows;
    rows.reserve(count * 120);
    for (int r = 1; r <= count; ++r) {
        const QByteArray n = QByteArray::number(r);
        rows += "<row r=\"" + n + "\" spans=\"1:2\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\">";
        rows += r == 2 ? QByteArray("<f t=\"shared\" ref=\"B2:B30000\" si=\"0\">A2*2+$A$1</f>") : QByteArray();
        rows += r > 2 ? QByteArray("<f t=\"shared\" si=\"0\"/>") : QByteArray();
        rows += "<v>0</v></c></row>";
    }
    const QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                             "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                             "<dimension ref=\"A1:B30000\"/><sheetData>"
        + rows + "</sheetData></worksheet>";
    gm::test::writeZip(path,
        {{QStringLiteral("[Content_Types].xml"),
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
             "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Override PartName=\"/xl/workbook.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
             "PartName=\"/xl/worksheets/sheet1.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"},
            {QStringLiteral("_rels/.rels"),
                "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                "Target=\"xl/workbook.xml\"/></Relationships>"},
            {QStringLiteral("xl/workbook.xml"),
                "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet name=\"Big\" "
                "sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
            {QStringLiteral("xl/_rels/workbook.xml.rels"),
                "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
            {QStringLiteral("xl/worksheets/sheet1.xml"), sheet}});
    {
        auto book = openPackage(path);
        book->worksheet(1)->deleteRows(QStringLiteral("2:20000"));
        book->close(true);
    }
    const auto tree = test::parseXml(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    const pugi::xml_node root = tree->document_element();
    EXPECT_STREQ(root.child("dimension").attribute("ref").value(), "A1:B10001");
    qint64 expectedRow = 1;
    int shared = 0;
    for (pugi::xml_node row : root.child("sheetData").children("row")) {
        ASSERT_EQ(row.attribute("r").as_llong(), expectedRow);
        const qint64 original = expectedRow == 1 ? 1 : expectedRow + 19999;
        EXPECT_EQ(row.child("c").child("v").text().as_llong(), original);
        const pugi::xml_node f = row.child("c").next_sibling("c").child("f");
        if (expectedRow == 2) {
            // Old B20001 = A20001*2+$A$1 becomes the master at B2, its range shrunk.
            EXPECT_STREQ(f.attribute("ref").value(), "B2:B10001");
            EXPECT_STREQ(f.text().get(), "A2*2+$A$1");
        } else if (expectedRow > 2) {
            shared += std::string_view(f.attribute("t").value()) == "shared" && !*f.text().get() ? 1 : 0;
        }
        ++expectedRow;
    }
    EXPECT_EQ(expectedRow - 1, count - 19999);
    EXPECT_EQ(shared, count - 20001);
}

} // namespace
} // namespace gm::xlsx
