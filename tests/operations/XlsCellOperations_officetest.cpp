// Replace, set cells, row and column deletion and sheet insertion on .xls workbooks, done by
// the engine and checked cell by cell before the original is replaced: the file's own records,
// read back without the engine, hold exactly the intended changes, and a workbook the engine
// would save with losses fails and stays as it was.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/XlsCellTexts.h"
#include "automation/xls/XlsContent.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "operations/sheets/SheetOperations.h"
#include "support/TestSupport.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::test::fixture;

namespace {

class XlsCellOperationsTest : public ::testing::Test
{
protected:
    void SetUp() override { settings = {true, dir.filePath(QStringLiteral("run.log"))}; }
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    QString copy(const QString &source, const char *name)
    {
        return gm::test::copyInto(source, dir.path(), QString::fromUtf8(name));
    }

    QTemporaryDir dir;
    RunSettings settings;
    gm::test::ScriptedUi ui;
    EngineSession session;
};

CellListEntry cell(int row, int column, const char *text)
{
    return {QString::number(row), QString::number(column), QString::fromUtf8(text)};
}

int sheetPosition(const xls::WorkbookContent &book, const QString &name)
{
    for (int i = 0; i < book.sheets.size(); ++i)
        if (book.sheets[i].name == name)
            return i + 1;
    return 0;
}

// The text a cell of the saved file shows (0-based row and column), read without the engine.
QString shown(const xls::WorkbookContent &book, const QString &sheet, int row, int column)
{
    return xls::displayedTexts(book, sheetPosition(book, sheet) - 1, CellBounds{row + 1, row + 1, column + 1, column + 1})[0];
}

const xls::CellContent *cellOf(const xls::WorkbookContent &book, const QString &sheet, int row, int column)
{
    const xls::CellMap &cells = book.sheets[sheetPosition(book, sheet) - 1].cells;
    const auto it = cells.find(xls::cellKey(row, column));
    return it == cells.end() ? nullptr : &it->second;
}

} // namespace

TEST_F(XlsCellOperationsTest, ReplaceMatchesWhatCellsShowWhateverTheUserLocale)
{
    const QString original = fixture(QStringLiteral("sheets_second_active.xls"));
    const QString path = copy(original, "replace.xls");
    // A user in a Chinese session: the shown text and typed entries still read as in en-US.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QByteArray lang = qgetenv("LANG");
    qputenv("LANG", "zh_CN.UTF-8");

    ReplaceInputs inputs;
    inputs.entries = {path};
    inputs.find = QStringLiteral("1,234.57"); // 1234.5678 in #,##0.00
    inputs.replacement = QStringLiteral("5%");
    RunSummary summary = replaceContent(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();
    inputs.find = QStringLiteral("逗号");
    inputs.replacement = QStringLiteral("comma");
    inputs.contains = true;
    summary = replaceContent(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();
    // Equal mode compares the whole text: a part of it matches nothing.
    inputs.find = QStringLiteral("1,234");
    inputs.contains = false;
    summary = replaceContent(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0);

    QLocale::setDefault(previous);
    qputenv("LANG", lang);

    const xls::WorkbookContent before = xls::readXlsContent(original);
    const xls::WorkbookContent after = xls::readXlsContent(path);
    const QString second = QStringLiteral("第二");
    ASSERT_NE(cellOf(after, second, 0, 1), nullptr);
    EXPECT_EQ(cellOf(after, second, 0, 1)->type, xls::CellContent::Type::Number);
    EXPECT_DOUBLE_EQ(cellOf(after, second, 0, 1)->number, 0.05);
    // Typing sets a number format only where the cell's own is General: #,##0.00 stays.
    EXPECT_EQ(shown(after, second, 0, 1), QStringLiteral("0.05"));
    EXPECT_EQ(shown(after, second, 1, 0), QStringLiteral("中文,comma"));
    xls::ExpectedChanges expected;
    const int position = sheetPosition(before, second);
    expected.addCell(position, 0, 1);
    expected.addCell(position, 1, 0);
    EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
}

TEST_F(XlsCellOperationsTest, SetCellsStoresTypedEntriesAndFailsOnlyTheBadOnes)
{
    const QString original = fixture(QStringLiteral("sheets_second_active.xls"));
    const QString path = copy(original, "set.xls");
    SetCellsInputs inputs{{path},
        {cell(1, 3, "5%"), cell(2, 3, "1/2/2020"), cell(3, 3, "1,234"), cell(4, 3, "=SUM(C1:C3)"), cell(5, 3, "'001"),
            cell(6, 3, "123456789012345678"), cell(7, 3, "TRUE"), cell(8, 3, "='第二'!B1*2"), cell(1, 300, "beyond"),
            cell(9, 3, "=SUM(1,")},
        CellSheets::Named, QStringLiteral("first")};
    const RunSummary summary = setCells(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    // The bad formula is the last failure; what succeeded is saved.
    EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::FormulaInvalid)) << summary.files[0].errorDetail.toStdString();

    const xls::WorkbookContent before = xls::readXlsContent(original);
    const xls::WorkbookContent after = xls::readXlsContent(path);
    const QString first = QStringLiteral("First");
    struct Expect
    {
        int row;
        const char *text;
        bool formula;
    };
    for (const Expect &e : {Expect{0, "5%", false}, Expect{1, "1/2/2020", false}, Expect{2, "1,234", false},
             Expect{3, "45066.05", true}, Expect{4, "001", false}, Expect{5, "1.23457E+17", false},
             Expect{6, "TRUE", false}, Expect{7, "2469.1356", true}}) {
        SCOPED_TRACE(e.row);
        const xls::CellContent *c = cellOf(after, first, e.row, 2);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(shown(after, first, e.row, 2), QString::fromUtf8(e.text));
        EXPECT_EQ(c->formula, e.formula);
    }
    EXPECT_EQ(cellOf(after, first, 4, 2)->type, xls::CellContent::Type::Text);
    EXPECT_DOUBLE_EQ(cellOf(after, first, 5, 2)->number, 123456789012345000.0);
    EXPECT_DOUBLE_EQ(cellOf(after, first, 1, 2)->number, 43832);
    EXPECT_EQ(cellOf(after, first, 8, 2), nullptr); // the refused formula left its cell alone

    xls::ExpectedChanges expected;
    expected.cells << xls::ExpectedChanges::Cells{sheetPosition(before, first), 0, 7, 2, 2};
    EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
}

TEST_F(XlsCellOperationsTest, WorkbooksTheEngineWouldDamageFailAndStayAsTheyWere)
{
    struct Case
    {
        const char *file;
        ErrorCode error;
    };
    // An empty-string cell the engine drops on saving (a formula takes the file to the engine);
    // an Excel 5.0/95 workbook it cannot write back.
    for (const Case &c : {Case{"xls/calamine-empty-string.xls", ErrorCode::WouldLoseContent},
             Case{"xls/calamine-biff5_write.xls", ErrorCode::UnsupportedFormat}}) {
        SCOPED_TRACE(c.file);
        const QString source = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString path = copy(source, "damaged.xls");
        const QByteArray bytes = gm::test::readAll(path);
        const RunSummary summary = setCells({{path}, {cell(40, 20, "x"), cell(41, 20, "=1")}, CellSheets::All, {}}, ui, settings);
        ASSERT_EQ(summary.files.size(), 1u);
        EXPECT_EQ(summary.files[0].errorNumber, int(c.error)) << summary.files[0].errorDetail.toStdString();
        EXPECT_EQ(gm::test::readAll(path), bytes);
        QFile::remove(path);
    }
}

TEST_F(XlsCellOperationsTest, DeletedRowsAndColumnsMoveEveryCellOfRealWorkbooks)
{
    RowsColumnsInputs inputs;
    inputs.sheets = RowsColumnsSheets::Active;
    inputs.mode = RowsColumnsMode::Delete;
    inputs.columns = inputs.rows = true;
    inputs.columnFrom = QStringLiteral("B");
    inputs.columnTo = QStringLiteral("B");
    inputs.rowFrom = QStringLiteral("3");
    inputs.rowTo = QStringLiteral("2");
    int moved = 0;
    for (const char *name : {"calamine-xls_formula.xls", "xlrd-Formate.xls", "poi-SharedFormulaTest.xls",
             "calamine-merge_cells.xls", "xlrd-namesdemo.xls", "calamine-date_1904.xls", "xlrd-profiles.xls"}) {
        SCOPED_TRACE(name);
        const QString source = gm::test::corpusFile(QStringLiteral("xls/") + QString::fromLatin1(name));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QString path = copy(source, name);
        const QByteArray bytes = gm::test::readAll(path);
        inputs.entries = {path};
        const RunSummary summary = runRowsColumns(inputs, ui, settings);
        ASSERT_EQ(summary.files.size(), 1u);
        if (summary.files[0].outcome == FileOutcome::Failed) {
            // A save that would lose something else leaves the file as it was.
            EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::WouldLoseContent))
                << summary.files[0].errorDetail.toStdString();
            EXPECT_EQ(gm::test::readAll(path), bytes);
            continue;
        }
        // Every constant of the active sheet stands at its new address: column B gone, then
        // rows 2 and 3.
        const xls::WorkbookContent before = xls::readXlsContent(source);
        const xls::WorkbookContent after = xls::readXlsContent(path);
        int active = -1;
        {
            std::unique_ptr<Workbook> book = session.open(source, WorkbookUse::Engine, true);
            active = book->activeSheet()->sheetIndex() - 1;
            book->close(false);
        }
        const xls::CellMap &was = before.sheets[active].cells;
        const xls::CellMap &now = after.sheets[active].cells;
        for (const auto &[key, content] : was) {
            int row = int(key >> 16), column = int(key & 0xFFFF);
            if (content.formula || content.type == xls::CellContent::Type::Blank || column == 1 || row == 1 || row == 2)
                continue;
            column -= column > 1 ? 1 : 0;
            row -= row > 2 ? 2 : 0;
            const auto it = now.find(xls::cellKey(row, column));
            ASSERT_NE(it, now.end()) << xls::cellName(row, column).toStdString();
            EXPECT_EQ(it->second.display(), content.display()) << xls::cellName(row, column).toStdString();
        }
        xls::ExpectedChanges expected;
        expected.deletedLines << xls::ExpectedChanges::LineDeletion{active + 1, false, 1, 1}
                              << xls::ExpectedChanges::LineDeletion{active + 1, true, 1, 2};
        EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
        ++moved;
    }
    EXPECT_GE(moved, 4);
}

TEST_F(XlsCellOperationsTest, SheetCopiesFromEitherFormatLandBeforeTheFirstWorksheet)
{
    const QString original = fixture(QStringLiteral("sheets_second_active.xls"));
    const QString path = copy(original, "target.xls");
    InsertSheetInputs inputs{{path}, fixture(QStringLiteral("sheets_second_active.xlsx")), QStringLiteral("第二")};
    RunSummary summary = insertSheet(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();
    const QString printPages = fixture(QStringLiteral("print_pages.xls"));
    inputs.sourcePath = printPages;
    inputs.sheetName = QStringLiteral("One");
    summary = insertSheet(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();

    const xls::WorkbookContent before = xls::readXlsContent(original);
    const xls::WorkbookContent after = xls::readXlsContent(path);
    QStringList names;
    for (const xls::SheetContent &sheet : after.sheets)
        names << sheet.name;
    EXPECT_EQ(names, QStringList({QStringLiteral("One"), QStringLiteral("第二 (2)"), QStringLiteral("First"), QStringLiteral("第二")}));
    // The copies hold their sources' values; nothing else changed.
    auto values = [](const xls::SheetContent &sheet) {
        QStringList list;
        for (const auto &[key, content] : sheet.cells)
            list << xls::cellName(int(key >> 16), int(key & 0xFFFF)) + QLatin1Char('=') + content.display();
        return list;
    };
    EXPECT_EQ(values(after.sheets[1]), values(before.sheets[1]));
    EXPECT_EQ(values(after.sheets[0]), values(xls::readXlsContent(printPages).sheets[0]));
    EXPECT_EQ(shown(after, QStringLiteral("第二 (2)"), 0, 1), shown(before, QStringLiteral("第二"), 0, 1));
    xls::ExpectedChanges expected;
    expected.insertedSheets << 1 << 2;
    EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
}
