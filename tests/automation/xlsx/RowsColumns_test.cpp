// Hidden rows and columns, heights and widths written into worksheets by the package editor:
// the unit conversions against widths Excel wrote, the rows rewritten as the cell data streams
// by (chunk edges included), <col> spans split, and the result read back independently by
// pugixml and openpyxl with every other entry left byte-identical.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/Notation.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "automation/xlsx/SheetRowsColumns.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <QTemporaryDir>
#include <functional>

#include <gtest/gtest.h>

#include <cmath>

namespace gm::xlsx {
namespace {

using test::parseXml;
using test::readRaw;

const QString sheetPart = QStringLiteral("xl/worksheets/sheet1.xml");

QByteArray entry(const QString &path, const QString &name)
{
    return gm::test::zipEntry(path, name);
}

// Opens, applies to the first worksheet, saves.
void edit(const QString &path, const std::function<void(Worksheet &)> &change)
{
    auto workbook = openPackage(path);
    change(*workbook->worksheet(1));
    workbook->close(true);
}

struct RowState
{
    bool hidden = false;
    QString height; // ht as written, "" when none
    int cells = 0;
};

// Every <row> of the first sheet by number, checking that they ascend without repeats.
std::map<qint64, RowState> rowsOf(const QString &path)
{
    std::map<qint64, RowState> rows;
    const auto sheet = parseXml(entry(path, sheetPart));
    qint64 last = 0;
    for (pugi::xml_node row : sheet->document_element().child("sheetData").children("row")) {
        const qint64 number = row.attribute("r").as_llong();
        EXPECT_GT(number, last) << "rows out of order";
        last = number;
        RowState state;
        state.hidden = row.attribute("hidden").as_bool();
        state.height = QString::fromUtf8(row.attribute("ht").value());
        for (pugi::xml_node cell = row.child("c"); cell; cell = cell.next_sibling("c"))
            ++state.cells;
        rows[number] = state;
    }
    return rows;
}

struct ColumnSpanState
{
    qint64 min = 0;
    qint64 max = 0;
    QString width;
    bool hidden = false;
    QString style;
};

std::vector<ColumnSpanState> columnsOf(const QString &path)
{
    std::vector<ColumnSpanState> spans;
    const auto sheet = parseXml(entry(path, sheetPart));
    qint64 last = 0;
    for (pugi::xml_node col : sheet->document_element().child("cols").children("col")) {
        ColumnSpanState span{col.attribute("min").as_llong(), col.attribute("max").as_llong(),
            QString::fromUtf8(col.attribute("width").value()), col.attribute("hidden").as_bool(),
            QString::fromUtf8(col.attribute("style").value())};
        EXPECT_GT(span.min, last) << "spans overlap or are out of order";
        EXPECT_LE(span.min, span.max);
        last = span.max;
        spans.push_back(span);
    }
    return spans;
}

// What openpyxl reads for the first sheet's rows and columns, or an empty object (with the
// test skipped) when it is not installed.
QJsonObject readWithOpenpyxl(const QString &path, const QString &rows, const QString &columns)
{
    const QString script = QStringLiteral("import json, sys\n"
                                          "import openpyxl\n"
                                          "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                          "r1, r2 = map(int, sys.argv[2].split(':'))\n"
                                          "c1, c2 = sys.argv[3].split(':')\n"
                                          "from openpyxl.utils import column_index_from_string as ci, get_column_letter as gl\n"
                                          "out = {'rows': {}, 'cols': {}}\n"
                                          "for r in range(r1, r2 + 1):\n"
                                          "    d = ws.row_dimensions[r]\n"
                                          "    out['rows'][str(r)] = [bool(d.hidden), d.height]\n"
                                          "for c in range(ci(c1), ci(c2) + 1):\n"
                                          "    hidden, width = False, None\n"
                                          "    for key, d in ws.column_dimensions.items():\n"
                                          "        if d.min and d.max and d.min <= c <= d.max:\n"
                                          "            hidden, width = bool(d.hidden), d.width if d.customWidth else None\n"
                                          "    out['cols'][gl(c)] = [hidden, width]\n"
                                          "print(json.dumps(out))\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path, rows, columns});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        const QByteArray error = python.readAllStandardError();
        if (error.contains("No module named 'openpyxl'") || python.error() == QProcess::FailedToStart)
            return {};
        ADD_FAILURE() << error.toStdString();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

TEST(RowColumnSizes, WidthsAreStoredOnThePixelGridExcelUses)
{
    // Every width of this Excel-made sheet was set in whole pixels with Calibri 11 (7 px
    // digits): the width the user sees for it must be stored exactly as Excel stored it.
    const QString path = gm::test::corpusFile(QStringLiteral("xlsx/set_column01.xlsx"));
    if (path.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const auto sheet = parseXml(gm::test::zipEntry(path, sheetPart));
    int checked = 0;
    for (pugi::xml_node col : sheet->document_element().child("cols").children("col")) {
        const double stored = col.attribute("width").as_double();
        const int mdw = 7;
        const int pixels = int(std::trunc((256 * stored + std::trunc(128.0 / mdw)) / 256 * mdw));
        const double characters = pixels >= 12 ? double(pixels - 5) / mdw : double(pixels) / (mdw + 5);
        SCOPED_TRACE(pixels);
        EXPECT_EQ(storedColumnWidth(characters, mdw), stored);
        ++checked;
    }
    EXPECT_GT(checked, 20);

    struct Case
    {
        double characters;
        int mdw;
        double stored;
    };
    const Case cases[] = {{0.5, 7, 0.85546875}, {1, 7, 1.7109375}, {8, 7, 8.7109375}, {12, 7, 12.7109375}, {20, 7, 20.7109375},
        {255, 7, 255.7109375}, {1, 8, 1.625}, {10, 8, 10.625}, {255, 8, 255.625}, {0, 7, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.characters);
        EXPECT_EQ(storedColumnWidth(c.characters, c.mdw), c.stored);
    }
    EXPECT_EQ(digitWidthOfFont(QStringLiteral("Calibri"), 11), 7);
    EXPECT_EQ(digitWidthOfFont(QStringLiteral("arial"), 12), 9);
    EXPECT_EQ(digitWidthOfFont(QStringLiteral("宋体"), 11), 8);

    // Heights snap to whole pixels of 0.75 pt.
    EXPECT_EQ(snappedRowHeight(12.75), 12.75);
    EXPECT_EQ(snappedRowHeight(13), 12.75);
    EXPECT_EQ(snappedRowHeight(13.2), 13.5);
    EXPECT_EQ(snappedRowHeight(409.5), 409.5);
}

TEST(LineRuns, RangeTextResolvesAsTheSpreadsheetDoes)
{
    struct Case
    {
        const char *text;
        bool columns;
        qint64 first; // 0: refused
        qint64 last;
    };
    const Case cases[]
        = {{"C:E", true, 3, 5}, {"E:C", true, 3, 5}, {"c:e", true, 3, 5}, {"$B:$B", true, 2, 2}, {"AA", true, 27, 27},
            {"XFD:XFD", true, 16384, 16384}, {"XFE:XFE", true, 0, 0}, {"3:7", false, 3, 7}, {"7:3", false, 3, 7},
            {"1048576:1", false, 1, 1048576}, {"0:3", false, 0, 0}, {"1048577", false, 0, 0}, {"C3:E5", true, 0, 0},
            {":", true, 0, 0}, {"3:", false, 0, 0}, {"", false, 0, 0}, {"3:7", true, 0, 0}, {"C:E", false, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = QString::fromUtf8(c.text);
        const auto run = c.columns ? columnRun(text, kSheetColumns) : rowRun(text, kSheetRows);
        ASSERT_EQ(run.has_value(), c.first > 0);
        if (run) {
            EXPECT_EQ(run->first, c.first);
            EXPECT_EQ(run->last, c.last);
        }
    }
}

class RowsColumnsTest : public ::testing::Test
{
protected:
    QString corpusCopy(const char *name)
    {
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(name));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path());
    }
    QTemporaryDir m_dir;
};

#define CORPUS_OR_SKIP(var, name)                                                                                                \
    const QString var = corpusCopy(name);                                                                                        \
    if (var.isEmpty())                                                                                                           \
    GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"

TEST_F(RowsColumnsTest, RowsOfTheRunChangeAndMissingOnesAreAddedInOrder)
{
    CORPUS_OR_SKIP(path, "outline01.xlsx");
    const auto before = rowsOf(path);
    const test::RawPackage raw = readRaw(path);
    // Rows 11 to 15: the sheet's last rows and some it does not have yet.
    edit(path, [](Worksheet &sheet) {
        sheet.setRowsHidden(QStringLiteral("15:11"));
        sheet.setRowHeight(QStringLiteral("2:3"), 20.1);
    });
    test::expectUntouchedExcept(raw, path, {sheetPart}, {}, test::LocalHeaders::MayBeRewritten);

    const auto after = rowsOf(path);
    for (qint64 r = 1; r <= 15; ++r) {
        SCOPED_TRACE(r);
        ASSERT_TRUE(after.count(r));
        const RowState &now = after.at(r);
        EXPECT_EQ(now.hidden, r >= 11);
        EXPECT_EQ(now.height, r == 2 || r == 3 ? QStringLiteral("20.25") : before.count(r) ? before.at(r).height : QString());
        EXPECT_EQ(now.cells, before.count(r) ? before.at(r).cells : 0);
    }
    // Other attributes of a changed row stay.
    const QByteArray xml = entry(path, sheetPart);
    EXPECT_TRUE(xml.contains("<row r=\"2\" spans=\"1:2\" ht=\"20.25\" customHeight=\"1\" outlineLevel=\"2\">"))
        << xml.left(2000).toStdString();

    const QJsonObject read = readWithOpenpyxl(path, QStringLiteral("1:15"), QStringLiteral("A:A"));
    if (read.isEmpty())
        GTEST_SKIP() << "openpyxl not installed";
    const QJsonObject rows = read.value(QStringLiteral("rows")).toObject();
    EXPECT_TRUE(rows.value(QStringLiteral("11"))[0].toBool());
    EXPECT_TRUE(rows.value(QStringLiteral("15"))[0].toBool());
    EXPECT_FALSE(rows.value(QStringLiteral("10"))[0].toBool());
    EXPECT_EQ(rows.value(QStringLiteral("3"))[1].toDouble(), 20.25);
}

TEST_F(RowsColumnsTest, ARowRunOverAHugeSheetIsRewrittenAcrossChunkEdges)
{
    // Rows long enough that the cell data spans many read chunks, with markup that hides
    // tags in text, attribute values and comments.
    QByteArray data = "<sheetData>";
    const int rows = 40000;
    for (int r = 1; r <= rows; ++r) {
        if (r % 7 == 0)
            continue; // gaps, filled only inside the run
        data += "<row r=\"" + QByteArray::number(r) + "\" spans=\"1:2\"><c r=\"A" + QByteArray::number(r)
            + "\" t=\"inlineStr\"><is><t>a &lt;row r=\"1\"/&gt; text > here</t></is></c><c r=\"B" + QByteArray::number(r)
            + "\"><v>" + QByteArray::number(r) + "</v></c></row>";
        if (r % 1000 == 0)
            data += "<!-- <row r=\"99\"> -->";
    }
    data += "</sheetData>";
    const QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                             "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        + data
        + "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/></worksheet>";
    const QString path = m_dir.filePath(QStringLiteral("huge.xlsx"));
    gm::test::writeZip(path,
        {{QStringLiteral("[Content_Types].xml"),
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
             "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
             "<Override PartName=\"/xl/workbook.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
             "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
             "</Types>"},
            {QStringLiteral("_rels/.rels"),
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                "Target=\"xl/workbook.xml\"/>"
                "</Relationships>"},
            {QStringLiteral("xl/workbook.xml"),
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook "
                "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
                "<sheet name=\"Big\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
            {QStringLiteral("xl/_rels/workbook.xml.rels"),
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                "Target=\"worksheets/sheet1.xml\"/>"
                "</Relationships>"},
            {sheetPart, sheet}});
    edit(path, [](Worksheet &sheet) { sheet.setRowsHidden(QStringLiteral("20000:20030")); });
    const QByteArray after = entry(path, sheetPart);

    // Apart from the rows of the run, the text is exactly what it was.
    QByteArray expected = sheet;
    for (int r = 20000; r <= 20030; ++r) {
        const QByteArray number = QByteArray::number(r);
        if (r % 7 == 0) {
            const QByteArray next = "<row r=\"" + QByteArray::number(r + 1) + "\" spans";
            expected.replace(next, "<row r=\"" + number + "\" hidden=\"1\"/>" + next);
        } else {
            expected.replace("<row r=\"" + number + "\" spans=\"1:2\">", "<row r=\"" + number + "\" spans=\"1:2\" hidden=\"1\">");
        }
    }
    EXPECT_EQ(after.size(), expected.size());
    EXPECT_TRUE(after == expected) << "the rewrite changed more than the run";
}

TEST_F(RowsColumnsTest, ColumnSpansAreSplitAndNewColumnsGetSpansOfTheirOwn)
{
    CORPUS_OR_SKIP(path, "set_column03.xlsx");
    const test::RawPackage raw = readRaw(path);
    // F has a style-only span; D:H covers part of it and columns with none.
    edit(path, [](Worksheet &sheet) {
        sheet.setColumnsHidden(QStringLiteral("H:D"));
        sheet.setColumnWidth(QStringLiteral("B"), 12);
    });
    test::expectUntouchedExcept(raw, path, {sheetPart}, {}, test::LocalHeaders::MayBeRewritten);
    const auto spans = columnsOf(path);
    ASSERT_EQ(spans.size(), 4u);
    EXPECT_EQ(spans[0].min, 2);
    EXPECT_EQ(spans[0].width, QStringLiteral("12.7109375"));
    EXPECT_FALSE(spans[0].hidden);
    EXPECT_EQ(spans[1].min, 4);
    EXPECT_EQ(spans[1].max, 5);
    EXPECT_TRUE(spans[1].hidden);
    // The styled column keeps its style and width while hidden.
    EXPECT_EQ(spans[2].min, 6);
    EXPECT_EQ(spans[2].max, 6);
    EXPECT_EQ(spans[2].style, QStringLiteral("1"));
    EXPECT_EQ(spans[2].width, QStringLiteral("9.140625"));
    EXPECT_TRUE(spans[2].hidden);
    EXPECT_EQ(spans[3].min, 7);
    EXPECT_EQ(spans[3].max, 8);
    EXPECT_TRUE(spans[3].hidden);

    // Splitting a span in three copies its attributes to each piece; a width of 0 hides.
    edit(path, [](Worksheet &sheet) { sheet.setColumnWidth(QStringLiteral("E:E"), 0); });
    edit(path, [](Worksheet &sheet) { sheet.setColumnWidth(QStringLiteral("G"), 3.5); });
    const auto again = columnsOf(path);
    ASSERT_EQ(again.size(), 6u);
    EXPECT_EQ(again[4].min, 7);
    EXPECT_EQ(again[4].max, 7);
    EXPECT_FALSE(again[4].hidden);
    EXPECT_EQ(again[4].width, QString::number(storedColumnWidth(3.5, 7), 'g', 17));
    EXPECT_EQ(again[5].min, 8);
    EXPECT_TRUE(again[5].hidden);

    const QJsonObject read = readWithOpenpyxl(path, QStringLiteral("1:1"), QStringLiteral("A:I"));
    if (read.isEmpty())
        GTEST_SKIP() << "openpyxl not installed";
    const QJsonObject cols = read.value(QStringLiteral("cols")).toObject();
    for (const char *column : {"D", "E", "F", "H"}) {
        SCOPED_TRACE(column);
        EXPECT_TRUE(cols.value(QLatin1String(column))[0].toBool());
    }
    for (const char *column : {"A", "B", "C", "G", "I"}) {
        SCOPED_TRACE(column);
        EXPECT_FALSE(cols.value(QLatin1String(column))[0].toBool());
    }
    EXPECT_EQ(cols.value(QStringLiteral("B"))[1].toDouble(), 12.7109375);
}

TEST_F(RowsColumnsTest, BadRunsAndSizesAndChartSheetsFailAndLeaveTheFileAsItWas)
{
    CORPUS_OR_SKIP(path, "chartsheet01.xlsx");
    const QByteArray original = gm::test::readAll(path);
    struct Case
    {
        const char *what;
        std::function<void(Worksheet &)> change;
        ErrorCode code;
    };
    const Case cases[] = {
        {"row beyond the sheet", [](Worksheet &s) { s.setRowsHidden(QStringLiteral("3:1048577")); }, ErrorCode::LineRunInvalid},
        {"text pasted into a column field", [](Worksheet &s) { s.setColumnsHidden(QStringLiteral("C1:D")); },
            ErrorCode::LineRunInvalid},
        {"height above the limit", [](Worksheet &s) { s.setRowHeight(QStringLiteral("1:2"), 409.6); },
            ErrorCode::LineSizeOutOfRange},
        {"width above the limit", [](Worksheet &s) { s.setColumnWidth(QStringLiteral("A"), 255.5); },
            ErrorCode::LineSizeOutOfRange},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto workbook = openPackage(path);
        try {
            c.change(*workbook->worksheet(1));
            ADD_FAILURE() << "not refused";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.code);
        }
        workbook->close(true);
        EXPECT_TRUE(gm::test::readAll(path) == original);
    }
    // The chart sheet has no rows or columns.
    auto workbook = openPackage(path);
    std::unique_ptr<Worksheet> chart;
    for (int position = 1; position <= workbook->sheetCount(); ++position) {
        if (workbook->sheet(position)->isChart())
            chart = workbook->sheet(position);
    }
    ASSERT_TRUE(chart);
    EXPECT_THROW(chart->setRowsHidden(QStringLiteral("1:2")), EngineError);
    workbook->close(true);
    EXPECT_TRUE(gm::test::readAll(path) == original);
}

} // namespace
} // namespace gm::xlsx
