// The rows-and-columns operation: its checks in their order (with the deletion question
// between them), the size fields' numbers, and runs over copies of real workbooks choosing
// sheets by name, all or the active one, where a failing file is logged and the others go on.

#include "automation/xls/BiffTestSupport.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace gm;

namespace {

RowsColumnsInputs hideInputs(const QStringList &entries)
{
    RowsColumnsInputs inputs;
    inputs.entries = entries;
    inputs.mode = RowsColumnsMode::Hide;
    inputs.columns = true;
    inputs.rows = true;
    inputs.columnFrom = QStringLiteral("B");
    inputs.columnTo = QStringLiteral("C");
    inputs.rowFrom = QStringLiteral("2");
    inputs.rowTo = QStringLiteral("3");
    return inputs;
}

// Whether the sheet part hides row 2 and has a hidden <col> span over column B.
struct SheetState
{
    bool rowHidden = false;
    bool columnHidden = false;
    QString rowHeight;
};

SheetState stateOf(const QString &path, const QString &part)
{
    SheetState state;
    const QByteArray bytes = gm::test::zipEntry(path, part);
    pugi::xml_document sheet;
    EXPECT_TRUE(sheet.load_buffer(bytes.constData(), size_t(bytes.size())));
    for (pugi::xml_node row : sheet.document_element().child("sheetData").children("row")) {
        if (row.attribute("r").as_int() == 2) {
            state.rowHidden = row.attribute("hidden").as_bool();
            state.rowHeight = QString::fromUtf8(row.attribute("ht").value());
        }
    }
    for (pugi::xml_node col : sheet.document_element().child("cols").children("col")) {
        if (col.attribute("min").as_int() <= 2 && col.attribute("max").as_int() >= 2)
            state.columnHidden = col.attribute("hidden").as_bool();
    }
    return state;
}

TEST(RowsColumnsChecks, FailInOrderWithTheDeletionQuestionBetween)
{
    struct Case
    {
        const char *what;
        std::function<void(RowsColumnsInputs &)> set;
        QString message; // "" when the inputs pass
        QString control;
    };
    const QString file = QStringLiteral("/nowhere/a.xlsx");
    const Case cases[] = {
        {"empty name", [](RowsColumnsInputs &i) { i.sheets = RowsColumnsSheets::Named; }, kRowsColumnsNameEmpty,
            QStringLiteral("CmbSheetName")},
        {"hide: blank column end", [](RowsColumnsInputs &i) { i.columnTo = QStringLiteral("  "); }, kRowsColumnsNoColumn,
            QStringLiteral("txtCol2(0)")},
        {"hide: rows after columns",
            [](RowsColumnsInputs &i) {
                i.rowFrom.clear();
                i.columnFrom.clear();
            },
            kRowsColumnsNoColumn, QStringLiteral("txtCol1(0)")},
        {"hide: row start", [](RowsColumnsInputs &i) { i.rowFrom.clear(); }, kRowsColumnsNoRow, QStringLiteral("txtRow1(1)")},
        {"hide: unticked runs are not checked",
            [](RowsColumnsInputs &i) {
                i.rows = false;
                i.rowFrom.clear();
            },
            {}, {}},
        {"delete: rows are member 0",
            [](RowsColumnsInputs &i) {
                i.mode = RowsColumnsMode::Delete;
                i.rowTo.clear();
            },
            kRowsColumnsNoRow, QStringLiteral("txtRow2(0)")},
        {"size: height before width", [](RowsColumnsInputs &i) { i.mode = RowsColumnsMode::Size; }, kRowsColumnsNoHeight,
            QStringLiteral("txtRowHeight")},
        {"size: width",
            [](RowsColumnsInputs &i) {
                i.mode = RowsColumnsMode::Size;
                i.height = QStringLiteral("12");
            },
            kRowsColumnsNoWidth, QStringLiteral("txtColWidth")},
        {"size: columns before rows",
            [](RowsColumnsInputs &i) {
                i.mode = RowsColumnsMode::Size;
                i.height = i.width = QStringLiteral(".");
                i.rowFrom.clear();
                i.columnTo.clear();
            },
            kRowsColumnsNoColumn, QStringLiteral("txtCol2(2)")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RowsColumnsInputs inputs = hideInputs({file});
        c.set(inputs);
        gm::test::ScriptedUi ui;
        ui.okCancelAnswers = {true};
        Validation failed;
        const RunSummary summary = changeRowsColumns(inputs, ui, {}, {}, &failed);
        if (c.message.isEmpty()) {
            EXPECT_FALSE(failed);
            EXPECT_FALSE(summary.stopped);
            continue;
        }
        EXPECT_TRUE(summary.stopped);
        EXPECT_EQ(ui.messages, QStringList{c.message});
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->control, c.control);
        // Only a deletion asks, and only after the sheet choice passed.
        const bool asked = inputs.mode == RowsColumnsMode::Delete && c.control != QStringLiteral("CmbSheetName");
        EXPECT_EQ(ui.questions, asked ? QStringList{kRowsColumnsConfirmDelete} : QStringList{});
    }

    // Cancel ends the command before the fields are checked.
    RowsColumnsInputs inputs = hideInputs({file});
    inputs.mode = RowsColumnsMode::Delete;
    inputs.rowTo.clear();
    gm::test::ScriptedUi ui;
    EXPECT_TRUE(changeRowsColumns(inputs, ui, {}).stopped);
    EXPECT_EQ(ui.questions, QStringList{kRowsColumnsConfirmDelete});
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST(RowsColumnsChecks, SizesAreTheLeadingNumberOfTheirField)
{
    EXPECT_EQ(leadingNumber(QStringLiteral("12.75")), 12.75);
    EXPECT_EQ(leadingNumber(QStringLiteral(".")), 0);
    EXPECT_EQ(leadingNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(leadingNumber(QStringLiteral("20.5.1")), 20.5);
    EXPECT_EQ(leadingNumber(QStringLiteral("15pt")), 15);
    EXPECT_EQ(leadingNumber(QString()), 0);
}

class RowsColumnsRun : public ::testing::Test
{
protected:
    void SetUp() override { settings = {true, dir.filePath(QStringLiteral("run.log"))}; }
    QString corpusCopy(const char *name)
    {
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(name));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, dir.path());
    }
    QStringList logLines() const
    {
        QFile log(settings.logFile);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    QTemporaryDir dir;
    RunSettings settings;
    gm::test::ScriptedUi ui;
};

TEST_F(RowsColumnsRun, SheetsAreChosenByNameAllOrActiveAndFailuresAreLoggedPerFile)
{
    const QString hidden = corpusCopy("hide01.xlsx"); // Sheet1, hidden Sheet2, Sheet3
    const QString chart = corpusCopy("chartsheet01.xlsx"); // the active sheet is a chart
    if (hidden.isEmpty() || chart.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QByteArray chartBefore = gm::test::readAll(chart);
    const QByteArray xlsBefore = gm::test::readAll(xls);
    auto part = [](int n) { return QStringLiteral("xl/worksheets/sheet%1.xml").arg(n); };

    // By name, letter case aside; a hidden sheet counts.
    RowsColumnsInputs inputs = hideInputs({hidden, chart, xls});
    inputs.sheets = RowsColumnsSheets::Named;
    inputs.sheetName = QStringLiteral("sheet2");
    RunSummary summary = runRowsColumns(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Processed); // no such sheet: nothing to do
    EXPECT_TRUE(stateOf(hidden, part(2)).rowHidden);
    EXPECT_TRUE(stateOf(hidden, part(2)).columnHidden);
    EXPECT_FALSE(stateOf(hidden, part(1)).rowHidden);
    EXPECT_FALSE(stateOf(hidden, part(3)).columnHidden);
    EXPECT_TRUE(gm::test::readAll(chart) == chartBefore);

    // All sheets, size mode: height and width, snapped.
    inputs = hideInputs({hidden});
    inputs.mode = RowsColumnsMode::Size;
    inputs.sheets = RowsColumnsSheets::All;
    inputs.height = QStringLiteral("12.75");
    inputs.width = QStringLiteral(".");
    summary = runRowsColumns(inputs, ui, settings);
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const SheetState state = stateOf(hidden, part(n));
        EXPECT_EQ(state.rowHeight, QStringLiteral("12.75"));
        EXPECT_FALSE(state.rowHidden) << "a new height shows the row again";
        EXPECT_TRUE(state.columnHidden) << "a width of 0 hides the column";
    }

    // The active sheet: a chart fails that file only, and the run log says so.
    inputs = hideInputs({chart, hidden});
    summary = runRowsColumns(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 2u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Processed);
    EXPECT_TRUE(gm::test::readAll(chart) == chartBefore);
    EXPECT_TRUE(stateOf(hidden, part(1)).rowHidden);
    const QStringList log = logLines();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.last().contains(kRowsColumnsAction));
    EXPECT_TRUE(log.last().contains(QFileInfo(chart).fileName()));
    EXPECT_EQ(ui.messages.count(kRowsColumnsDone), 3);
    EXPECT_TRUE(gm::test::readAll(xls) == xlsBefore);
}

TEST_F(RowsColumnsRun, AnActionThatFailsDoesNotKeepTheNextOneFromRunning)
{
    const QString path = corpusCopy("simple01.xlsx");
    if (path.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    // Text pasted into the column fields: the columns fail, the rows are still hidden and
    // saved, and the file is logged.
    RowsColumnsInputs inputs = hideInputs({path});
    inputs.columnFrom = QStringLiteral("B2");
    const RunSummary summary = runRowsColumns(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
    EXPECT_TRUE(stateOf(path, QStringLiteral("xl/worksheets/sheet1.xml")).rowHidden);
    EXPECT_FALSE(stateOf(path, QStringLiteral("xl/worksheets/sheet1.xml")).columnHidden);
    EXPECT_EQ(logLines().size(), 1);
}

TEST_F(RowsColumnsRun, XlsRowsAreHiddenAndSizedInPlaceOnEveryWorksheet)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xls/calamine-issues.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString path = gm::test::copyInto(source, dir.path());
    // [grbit, miyRw] of the ROW records of the 0-based rows 1 and 2 (and 9, which no sheet
    // has data in), by worksheet.
    auto rowStates = [&] {
        QList<QList<QPair<int, int>>> sheets;
        for (const gm::xls::test::RawRecord &r : gm::xls::test::rawRecords(gm::xls::test::workbookStreamOf(path))) {
            if (r.type == 0x0809 && gm::xls::test::u16(r.data, 2) == 0x0010)
                sheets.append(QList<QPair<int, int>>());
            else if (r.type == 0x0208 && !sheets.isEmpty() && QList<int>{1, 2, 9}.contains(gm::xls::test::u16(r.data, 0)))
                sheets.last().append({gm::xls::test::u16(r.data, 12), gm::xls::test::u16(r.data, 6)});
        }
        return sheets;
    };

    RowsColumnsInputs inputs = hideInputs({path});
    inputs.sheets = RowsColumnsSheets::All;
    inputs.columns = false;
    inputs.rowFrom = QStringLiteral("10");
    inputs.rowTo = QStringLiteral("2");
    RunSummary summary = runRowsColumns(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    const auto hidden = rowStates();
    ASSERT_GE(hidden.size(), 2);
    for (const auto &sheet : hidden) {
        ASSERT_EQ(sheet.size(), 3) << "every row of the run has a record";
        for (const auto &[grbit, height] : sheet)
            EXPECT_EQ(grbit & 0x20, 0x20);
    }

    inputs.mode = RowsColumnsMode::Size;
    inputs.height = QStringLiteral("12.75");
    summary = runRowsColumns(inputs, ui, settings);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    for (const auto &sheet : rowStates()) {
        for (const auto &[grbit, height] : sheet) {
            EXPECT_EQ(grbit & 0x60, 0x40) << "shown, with a height of its own";
            EXPECT_EQ(height, 255);
        }
    }
    EXPECT_TRUE(logLines().isEmpty());
}

} // namespace
