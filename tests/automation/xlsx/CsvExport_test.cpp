// CSV and tab-separated text written from .xlsx packages without the engine: layout, quoting,
// values as displayed, the cases left to the engine, and the conversion run using it.

#include "automation/EngineError.h"
#include "automation/PathHelpers.h"
#include "automation/xlsx/CsvExport.h"
#include "operations/workbook/ConvertOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::test::readAll;

namespace {

struct Book
{
    QByteArray sheetData; // the content of <sheetData>
    QByteArray beforeData; // elements before <sheetData> (cols, sheetFormatPr)
    QByteArray strings; // <si> items of the shared-string table
    QByteArray workbookExtra; // elements after <sheets> in the workbook part (calcPr)
    QByteArray workbookPr; // attributes of <workbookPr>
    QByteArray notes; // <comment> refs, as ref="B2" items
    int activeTab = 0;
    bool hiddenFirst = false;
    bool chartSecond = false;
};

// Styles: 0 General, 1 "0.00", 2 "yyyy-mm-dd", 3 "0.0%", 4 text shown with a prefix, 5 id 14,
// 6 a fill with "*" (a "_*" gap and a quoted "*" are no fill: style 7).
const QByteArray kStyles
    = "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><numFmts count=\"3\">"
      "<numFmt numFmtId=\"166\" formatCode=\"0.0%\"/><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/><numFmt "
      "numFmtId=\"165\" formatCode=\"0;-0;0;&quot;re: &quot;@\"/>"
      "<numFmt numFmtId=\"167\" formatCode=\"0* \"/><numFmt numFmtId=\"168\" formatCode=\"0_*&quot;*&quot;\\*\"/>"
      "</numFmts><cellXfs count=\"8\"><xf numFmtId=\"0\"/><xf numFmtId=\"2\"/><xf numFmtId=\"164\"/><xf numFmtId=\"166\"/>"
      "<xf numFmtId=\"165\"/><xf numFmtId=\"14\"/><xf numFmtId=\"167\"/><xf numFmtId=\"168\"/></cellXfs></styleSheet>";

void writeBook(const QString &path, const Book &book)
{
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const QByteArray rt = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QByteArray sheets
        = "<sheet name=\"One\" sheetId=\"1\" r:id=\"rId1\"" + QByteArray(book.hiddenFirst ? " state=\"hidden\"" : "") + "/>";
    sheets += "<sheet name=\"Two\" sheetId=\"2\" r:id=\"rId2\"/>";
    QList<std::pair<QString, QByteArray>> entries = {
        {QStringLiteral("[Content_Types].xml"),
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Override PartName=\"/xl/workbook.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>"},
        {QStringLiteral("_rels/.rels"),
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
            "Id=\"rId1\" Type=\""
                + rt + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {QStringLiteral("xl/workbook.xml"),
            "<workbook " + ns + "><workbookPr " + book.workbookPr + "/><bookViews><workbookView activeTab=\""
                + QByteArray::number(book.activeTab) + "\"/></bookViews><sheets>" + sheets + "</sheets>" + book.workbookExtra
                + "</workbook>"},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\""
                + rt
                + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                  "<Relationship Id=\"rId2\" Type=\""
                + rt + (book.chartSecond ? "chartsheet" : "worksheet")
                + "\" Target=\"worksheets/sheet2.xml\"/>"
                  "<Relationship Id=\"rId3\" Type=\""
                + rt
                + "styles\" Target=\"styles.xml\"/>"
                  "<Relationship Id=\"rId4\" Type=\""
                + rt
                + "sharedStrings\" Target=\"sharedStrings.xml\"/>"
                  "</Relationships>"},
        {QStringLiteral("xl/styles.xml"), kStyles},
        {QStringLiteral("xl/sharedStrings.xml"),
            "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + book.strings + "</sst>"},
        {QStringLiteral("xl/worksheets/sheet1.xml"),
            "<worksheet " + ns + ">" + book.beforeData + "<sheetData>" + book.sheetData + "</sheetData></worksheet>"},
        {QStringLiteral("xl/worksheets/sheet2.xml"),
            book.chartSecond ? QByteArray("<chartsheet " + ns + "/>")
                             : QByteArray("<worksheet " + ns
                                 + "><sheetData><row r=\"1\"><c r=\"A1\"><v>2</v></c></row>"
                                   "</sheetData></worksheet>")},
    };
    if (!book.notes.isEmpty()) {
        entries.append({QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"),
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
            "Id=\"rId1\" Type=\""
                + rt + "comments\" Target=\"../comments1.xml\"/></Relationships>"});
        entries.append({QStringLiteral("xl/comments1.xml"),
            "<comments xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><authors><author>a</author>"
            "</authors><commentList>"
                + book.notes + "</commentList></comments>"});
    }
    gm::test::writeZip(path, entries);
}

class CsvExportTest : public ::testing::Test
{
protected:
    QString source() const { return dir.filePath(QStringLiteral("book.xlsx")); }
    QString target() const { return dir.filePath(QStringLiteral("out.csv")); }

    // The text written for the book, or "engine: <reason>" when it is left to the engine.
    QByteArray exported(const Book &book, xlsx::TextSeparator separator = xlsx::TextSeparator::Comma)
    {
        writeBook(source(), book);
        QFile::remove(target());
        const xlsx::SheetTextExport result = xlsx::exportActiveSheetText(source(), target(), separator);
        if (!result.written)
            return "engine: " + result.engineReason.toUtf8();
        return readAll(target());
    }
    QStringList leftovers() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".~gridmule"));
    }

    QTemporaryDir dir;
};

QByteArray cell(const char *ref, const QByteArray &body, const QByteArray &attributes = {})
{
    return "<c r=\"" + QByteArray(ref) + "\"" + attributes + ">" + body + "</c>";
}

QByteArray row(int number, const QByteArray &cells)
{
    return "<row r=\"" + QByteArray::number(number) + "\">" + cells + "</row>";
}

} // namespace

TEST_F(CsvExportTest, RecordsSpanFromA1ToTheLastValueOrNoteAndArePadded)
{
    struct Case
    {
        const char *name;
        Book book;
        QByteArray expected;
    };
    Book gaps;
    gaps.sheetData = row(2, cell("C2", "<v>1</v>")) + row(4, cell("A4", "<v>2</v>") + cell("B4", "", " s=\"1\""));
    Book formattedOnly; // formatted blanks and empty rows beyond the values count for nothing
    formattedOnly.sheetData = row(1, cell("A1", "<v>1</v>") + cell("D1", "", " s=\"1\"")) + row(5, cell("E5", "", " s=\"1\""));
    Book noted;
    noted.sheetData = row(1, cell("A1", "<v>1</v>"));
    noted.notes = "<comment ref=\"C3\" authorId=\"0\"><text><t>n</t></text></comment>";
    Book implied; // rows and cells without their references follow the ones before
    implied.sheetData = "<row><c><v>1</v></c><c><v>2</v></c></row><row><c r=\"C2\"><v>3</v></c></row>";
    Book empty;
    Book chart;
    chart.chartSecond = true;
    chart.activeTab = 1;
    chart.sheetData = row(1, cell("A1", "<v>1</v>"));
    Book second;
    second.activeTab = 1;
    second.sheetData = row(1, cell("A1", "<v>1</v>"));
    const Case cases[] = {
        {"gaps", gaps, ",,\r\n,,1\r\n,,\r\n2,,\r\n"},
        {"formatted only", formattedOnly, "1\r\n"},
        {"note", noted, "1,,\r\n,,\r\n,,\r\n"},
        {"implied references", implied, "1,2,\r\n,,3\r\n"},
        {"empty sheet", empty, "\r\n"},
        {"chart sheet", chart, "\r\n"},
        {"second sheet active", second, "2\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(exported(c.book), c.expected);
    }
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(CsvExportTest, FieldsAreQuotedOnlyWhenTheyHoldASeparatorQuoteOrLineEnd)
{
    Book book;
    book.strings
        = "<si><t>a,b</t></si><si><t>say \"hi\"</t></si><si><t>tab\there</t></si>"
          "<si><t><![CDATA[two\r\nlines]]></t></si><si><t>cr_x000D_only</t></si><si><t xml:space=\"preserve\"> lead </t></si>";
    QByteArray cells;
    for (int i = 0; i < 6; ++i)
        cells += cell(QByteArray(1, char('A' + i)).append('1').constData(), "<v>" + QByteArray::number(i) + "</v>", " t=\"s\"");
    cells += cell("G1", "<v>1234.5</v>", " s=\"1\"");
    book.sheetData = row(1, cells);
    book.beforeData = "<cols><col min=\"7\" max=\"7\" width=\"12\"/></cols>";
    EXPECT_EQ(exported(book), "\"a,b\",\"say \"\"hi\"\"\",tab\there,\"two\nlines\",\"cr\ronly\", lead ,1234.50\r\n");
    EXPECT_EQ(exported(book, xlsx::TextSeparator::Tab),
        "a,b\t\"say \"\"hi\"\"\"\t\"tab\there\"\t\"two\nlines\"\t\"cr\ronly\"\t lead \t1234.50\r\n");
}

TEST_F(CsvExportTest, CellsShowTheirDisplayedValues)
{
    Book book;
    book.strings = "<si><r><t>rich </t></r><r><rPr><b/></rPr><t>text</t></r><rPh sb=\"0\" eb=\"1\"><t>ルビ</t></rPh></si>"
                   "<si><t>中文</t></si>";
    book.beforeData = "<sheetFormatPr defaultColWidth=\"12\"/>";
    book.sheetData = row(1,
        cell("A1", "<v>0</v>", " t=\"s\"") + cell("B1", "<v>1</v>", " t=\"s\" s=\"4\"") + cell("C1", "<v>45000</v>", " s=\"2\"")
            + cell("D1", "<v>0</v>", " s=\"3\"") + cell("E1", "<v>0.1234</v>", " s=\"3\"") + cell("F1", "<v>1</v>", " t=\"b\"")
            + cell("G1", "<v>#DIV/0!</v>", " t=\"e\"") + cell("H1", "<is><t>in&amp;line</t></is>", " t=\"inlineStr\"")
            + cell("I1", "<f>A1&amp;\"x\"</f><v>cached</v>", " t=\"str\"") + cell("J1", "<v>43832</v>", " s=\"5\"")
            + cell("K1", "<v>0.1</v>") + cell("L1", "<v>1.005</v>", " s=\"1\""));
    EXPECT_EQ(exported(book), "rich text,re: 中文,2023-03-15,0.0%,12.3%,TRUE,#DIV/0!,in&line,cached,1/2/2020,0.1,1.01\r\n");
    book.workbookPr = "date1904=\"1\"";
    book.sheetData = row(1, cell("A1", "<v>0</v>", " s=\"2\""));
    EXPECT_EQ(exported(book), "1904-01-01\r\n");
}

TEST_F(CsvExportTest, FilesWhoseTextCannotBeKnownAreLeftToTheEngineUntouched)
{
    struct Case
    {
        const char *name;
        Book book;
        const char *reason;
    };
    auto sheet = [](const QByteArray &data, const QByteArray &before = {}) {
        Book book;
        book.sheetData = data;
        book.beforeData = before;
        return book;
    };
    Book recalculated = sheet(row(1, cell("A1", "<v>1</v>")));
    recalculated.workbookExtra = "<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>";
    Book hidden = sheet(row(1, cell("A1", "<v>1</v>")));
    hidden.hiddenFirst = true;
    const Case cases[] = {
        {"formula without result", sheet(row(1, cell("A1", "<f>1+1</f>"))), "a formula without a cached result"},
        {"volatile formula", sheet(row(1, cell("A1", "<f>TODAY()+1</f><v>45000</v>"))),
            "a formula that is computed anew on opening"},
        {"volatile shared formula, child cell",
            sheet(row(1, cell("A1", "<f t=\"shared\" ref=\"A1:A2\" si=\"0\">RAND()</f><v>0.5</v>"))
                + row(2, cell("A2", "<f t=\"shared\" si=\"0\"/><v>0.25</v>"))),
            "a formula that is computed anew on opening"},
        {"full recalculation", recalculated, "the workbook asks for a full recalculation"},
        {"number wider than its column", sheet(row(1, cell("A1", "<v>123456789</v>"))), "a number wider than its column"},
        {"date wider than its narrowed column",
            sheet(row(1, cell("B1", "<v>45000</v>", " s=\"2\"")), "<cols><col min=\"2\" max=\"2\" width=\"6\"/></cols>"),
            "a number wider than its column"},
        {"negative date", sheet(row(1, cell("A1", "<v>-1</v>", " s=\"2\""))), "a number wider than its column"},
        {"fill to the column's width", sheet(row(1, cell("A1", "<v>5</v>", " s=\"6\""))), "a number format that fills the cell"},
        {"hidden active sheet", hidden, "a hidden active sheet"},
        {"ISO date cell", sheet(row(1, cell("A1", "<v>2020-01-02</v>", " t=\"d\""))), "a cell of type \"d\""},
        {"cells out of order", sheet(row(1, cell("B1", "<v>1</v>") + cell("A1", "<v>2</v>"))), "cells out of order"},
        {"rows out of order", sheet(row(2, cell("A2", "<v>1</v>")) + row(1, cell("A1", "<v>2</v>"))), "rows out of order"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gm::test::writeAll(target(), "previous output");
        writeBook(source(), c.book);
        const xlsx::SheetTextExport result = xlsx::exportActiveSheetText(source(), target(), xlsx::TextSeparator::Comma);
        EXPECT_FALSE(result.written);
        EXPECT_EQ(result.engineReason, QString::fromUtf8(c.reason));
        EXPECT_EQ(readAll(target()), "previous output");
        EXPECT_EQ(leftovers(), QStringList());
    }
    // A volatile name inside a longer one is not a call of it.
    Book fine = sheet(row(1, cell("A1", "<f>MYNOW()+NOWHERE</f><v>3</v>") + cell("B1", "<v>4</v>", " s=\"7\"")));
    EXPECT_EQ(exported(fine), "3,4 **\r\n");
}

TEST_F(CsvExportTest, ASheetTheReaderCannotFollowGoesToTheEngineAndAReadOnlyTargetFails)
{
    Book broken;
    broken.sheetData = row(1, "<c r=\"A1\"><v>1</v></x>");
    EXPECT_TRUE(exported(broken).startsWith("engine: "));
    EXPECT_EQ(leftovers(), QStringList());

    Book book;
    book.sheetData = row(1, cell("A1", "<v>1</v>"));
    writeBook(source(), book);
    gm::test::writeAll(target(), "kept");
    QFile::setPermissions(target(), QFile::ReadOwner);
    try {
        xlsx::exportActiveSheetText(source(), target(), xlsx::TextSeparator::Comma);
        ADD_FAILURE() << "a read-only target was replaced";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::ReadOnlyFile);
    }
    EXPECT_EQ(readAll(target()), "kept");
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(CsvExportTest, TheConversionRunWritesTextWithoutStartingAnEngine)
{
    Book book;
    book.strings = "<si><t>名称</t></si>";
    book.sheetData = row(1, cell("A1", "<v>0</v>", " t=\"s\"") + cell("B1", "<v>7</v>"));
    writeBook(source(), book);
    Book needsEngine;
    needsEngine.sheetData = row(1, cell("A1", "<f>1+1</f>"));
    const QString second = dir.filePath(QStringLiteral("formula.xlsx"));
    writeBook(second, needsEngine);

    int starts = 0;
    gm::test::ScriptedUi ui;
    RunSettings settings;
    ConvertInputs inputs;
    inputs.entries = {source(), second};
    inputs.outputFolder = dir.filePath(QStringLiteral("out"));
    for (const int code : {FileFormat::Csv, FileFormat::Text}) {
        SCOPED_TRACE(code);
        inputs.targetIndex = gm::test::convertTargetIndex(code);
        const RunSummary summary = runConvert(inputs, ui, settings, [&]() -> std::unique_ptr<Application> {
            ++starts;
            throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("no engine in this test"));
        });
        ASSERT_EQ(summary.files.size(), 2u);
        EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
        const QString written = inputs.outputFolder + QStringLiteral("/book") + FormatExtension(code);
        EXPECT_EQ(readAll(written), code == FileFormat::Csv ? QByteArray("名称,7\r\n") : QByteArray("名称\t7\r\n"));
        // The formula without a result is the engine's, which could not start here.
        EXPECT_NE(summary.files[1].outcome, FileOutcome::Processed);
        EXPECT_FALSE(QFileInfo::exists(inputs.outputFolder + QStringLiteral("/formula") + FormatExtension(code)));
    }
    EXPECT_GE(starts, 2);
}

TEST_F(CsvExportTest, ASheetReadInManyChunksLosesNothingAtTheirSeams)
{
    // About 2 MB of sheet XML and 100 KB of strings: entities, comments and CDATA sections
    // fall across the reader's chunk boundaries somewhere.
    Book book;
    for (int i = 0; i < 2000; ++i)
        book.strings += "<si><t>s&lt;" + QByteArray::number(i) + "&gt;</t></si>";
    QByteArray expected;
    for (int r = 1; r <= 30000; ++r) {
        const QByteArray n = QByteArray::number(r);
        QByteArray inlineText = "in&amp;line " + n;
        QByteArray shown = "in&line " + n;
        if (r % 777 == 0) {
            inlineText = "<![CDATA[<cdata> " + n + "]]>";
            shown = "<cdata> " + n;
        }
        book.sheetData += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>" + inlineText
            + "</t></is></c><c r=\"B" + n + "\"><v>" + n + "</v></c><c r=\"C" + n + "\" t=\"s\"><v>"
            + QByteArray::number(r % 2000) + "</v></c></row>";
        if (r % 1000 == 0)
            book.sheetData += "<!-- rows <" + n + "> done -->";
        expected += shown + "," + n + ",s<" + QByteArray::number(r % 2000) + ">\r\n";
    }
    const QByteArray written = exported(book);
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}
