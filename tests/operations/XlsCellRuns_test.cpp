// Set cells and replace runs over .xls files whose entries are constants: written into the
// records, so no engine is ever started; a file with a formula among its entries goes to the
// engine as a whole, and without one it fails and stays as it was.

#include "automation/EngineError.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/XlsCellTexts.h"
#include "automation/xls/XlsContent.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

class XlsCellRunTest : public ::testing::Test
{
protected:
    // A factory that counts starts and refuses them: any use of the engine shows.
    ApplicationFactory noEngine()
    {
        return [this]() -> std::unique_ptr<Application> {
            ++engineStarts;
            throw EngineError(ErrorCode::EngineUnavailable);
        };
    }
    QString copy(const char *name)
    {
        return gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path(), QString::fromLatin1(name));
    }

    QTemporaryDir dir;
    RunSettings settings{true, QString()};
    gm::test::ScriptedUi ui;
    int engineStarts = 0;
};

QString shown(const xls::WorkbookContent &book, int sheet, int row, int column)
{
    return xls::displayedTexts(book, sheet, CellBounds{row + 1, row + 1, column + 1, column + 1})[0];
}

TEST_F(XlsCellRunTest, ConstantsAreWrittenWithoutTheEngine)
{
    settings.logFile = dir.filePath(QStringLiteral("run.log"));
    const QString path = copy("set.xls");
    const xls::WorkbookContent before = xls::readXlsContent(path);
    SetCellsInputs inputs{{path},
        {{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("5%")},
            {QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1/2/2020")},
            {QStringLiteral("3"), QStringLiteral("3"), QStringLiteral("TRUE")},
            {QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("#N/A")},
            {QStringLiteral("5"), QStringLiteral("3"), QStringLiteral("'001")},
            {QStringLiteral("6"), QStringLiteral("3"), QStringLiteral("123456789012345678")},
            {QStringLiteral("1"), QStringLiteral("300"), QStringLiteral("beyond the grid")}},
        CellSheets::All, {}};
    const RunSummary summary = setCells(inputs, ui, settings, noEngine());
    ASSERT_EQ(summary.files.size(), 1u);
    // The one entry beyond column 256 fails the file's log line; the others are saved.
    EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::CellOutOfRange)) << summary.files[0].errorDetail.toStdString();
    EXPECT_EQ(engineStarts, 0);

    const xls::WorkbookContent after = xls::readXlsContent(path);
    xls::ExpectedChanges expected;
    for (int sheet = 0; sheet < after.sheets.size(); ++sheet) {
        SCOPED_TRACE(sheet);
        // The first sheet's cells are formatted General, so typing gives them their formats.
        const char *texts[] = {"5%", "1/2/2020", "TRUE", "#N/A", "001", "1.23457E+17"};
        for (int row = 0; row < 6 && sheet == 0; ++row)
            EXPECT_EQ(shown(after, sheet, row, 2), QString::fromUtf8(texts[row]));
        EXPECT_DOUBLE_EQ(after.sheets[sheet].cells.at(xls::cellKey(0, 2)).number, 0.05);
        EXPECT_EQ(after.sheets[sheet].cells.at(xls::cellKey(4, 2)).text, QStringLiteral("001"));
        EXPECT_EQ(after.sheets[sheet].cells.at(xls::cellKey(2, 2)).type, xls::CellContent::Type::Boolean);
        EXPECT_EQ(after.sheets[sheet].cells.at(xls::cellKey(3, 2)).type, xls::CellContent::Type::Error);
        expected.cells << xls::ExpectedChanges::Cells{sheet + 1, 0, 5, 2, 2};
    }
    EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
}

TEST_F(XlsCellRunTest, ReplaceWritesItsMatchesWithoutTheEngine)
{
    const QString path = copy("replace.xls");
    const xls::WorkbookContent before = xls::readXlsContent(path);
    // Every text cell that shows a comma-free number or text is matched by what it shows.
    ReplaceInputs inputs;
    inputs.entries = {path};
    inputs.find = QStringLiteral("1,234.57"); // 1234.5678 shown in #,##0.00
    inputs.replacement = QStringLiteral("5%");
    RunSummary summary = replaceContent(inputs, ui, settings, noEngine());
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();
    EXPECT_EQ(engineStarts, 0);

    const xls::WorkbookContent after = xls::readXlsContent(path);
    int changed = 0;
    xls::ExpectedChanges expected;
    for (int sheet = 0; sheet < before.sheets.size(); ++sheet) {
        for (const auto &[key, cell] : before.sheets[sheet].cells) {
            if (shown(before, sheet, int(key >> 16), int(key & 0xFFFF)) != QLatin1String("1,234.57"))
                continue;
            const xls::CellContent &now = after.sheets[sheet].cells.at(key);
            EXPECT_EQ(now.type, xls::CellContent::Type::Number);
            EXPECT_DOUBLE_EQ(now.number, 0.05);
            EXPECT_EQ(now.xf, cell.xf); // a cell with a format of its own keeps it
            expected.addCell(sheet + 1, int(key >> 16), int(key & 0xFFFF));
            ++changed;
        }
    }
    EXPECT_GE(changed, 1);
    EXPECT_EQ(xls::contentDifferences(before, after, expected), QStringList());
}

TEST_F(XlsCellRunTest, AFormulaTakesTheWholeFileToTheEngine)
{
    struct Case
    {
        const char *what;
        QList<CellListEntry> cells;
    };
    const Case cases[] = {
        {"a formula after constants",
            {{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("7")},
                {QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("=C1*2")}}},
        {"a formula alone", {{QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("=SUM(A1:A3)")}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = copy("formula.xls");
        const QByteArray bytes = gm::test::readAll(path);
        engineStarts = 0;
        const RunSummary summary = setCells({{path}, c.cells, CellSheets::Active, {}}, ui, settings, noEngine());
        ASSERT_EQ(summary.files.size(), 1u);
        // The engine was asked for; without one the file fails and nothing was written.
        EXPECT_GE(engineStarts, 1);
        EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::EngineUnavailable));
        EXPECT_TRUE(gm::test::readAll(path) == bytes);
        QFile::remove(path);
    }
}

} // namespace
