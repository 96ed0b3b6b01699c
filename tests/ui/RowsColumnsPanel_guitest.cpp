// The rows-and-columns panel driven as the user would: the mode's own fields reach the run,
// the deletion question comes before anything is opened, and a real run changes the file.

#include "GuiTestSupport.h"

#include "operations/cells/RowsColumnsOperation.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"
#include "ui/panels/FeaturePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>

namespace gm::test {
namespace {

class RowsColumnsPanelTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        action(QStringLiteral("Cols"))->trigger();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void setText(const QString &name, const QString &text) { find<QLineEdit>(name)->setText(text); }
    QString sheetXml(const QString &path, int n) const
    {
        return QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)));
    }
};

TEST_F(RowsColumnsPanelTest, SizesReachTheActiveSheetOfEachListedWorkbook)
{
    const QString xlsx = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), tempPath(QStringLiteral("in")));
    m_dialogs.files.push_back({xlsx});
    action(QStringLiteral("AddFile"))->trigger();

    click(QStringLiteral("OpBatchColRow(2)"));
    click(QStringLiteral("ChkRowHeight"));
    click(QStringLiteral("ChkColWidth"));
    setText(QStringLiteral("txtRowHeight"), QStringLiteral("30"));
    setText(QStringLiteral("txtColWidth"), QStringLiteral("12"));
    setText(QStringLiteral("txtRow1(2)"), QStringLiteral("4"));
    setText(QStringLiteral("txtRow2(2)"), QStringLiteral("2"));
    setText(QStringLiteral("txtCol1(2)"), QStringLiteral("B"));
    setText(QStringLiteral("txtCol2(2)"), QStringLiteral("C"));
    // The Normal style is 宋体 11 (8-pixel digits). Fields of the other groups do not count.
    setText(QStringLiteral("txtRow1(1)"), QStringLiteral("9"));

    const QString first = sheetXml(xlsx, 1);
    QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
    click(QStringLiteral("CmdBatchColsAndRows"));
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_EQ(m_dialogs.texts(), QStringList{kRowsColumnsDone});
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("CmdBatchColsAndRows"))->isEnabled());

    const QString active = sheetXml(xlsx, 2);
    for (int row = 2; row <= 4; ++row) {
        SCOPED_TRACE(row);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("<row r=\"%1\"[^>]* ht=\"30\" customHeight=\"1\"").arg(row))
                        .match(active)
                        .hasMatch());
    }
    EXPECT_FALSE(active.contains(QStringLiteral("<row r=\"9\"")));
    EXPECT_TRUE(active.contains(QStringLiteral("<col min=\"2\" max=\"3\" width=\"12.625\" customWidth=\"1\"/>")))
        << active.toStdString();
    EXPECT_EQ(sheetXml(xlsx, 1), first);
}

// Deletion asks first, then deletes the rows of the named sheet of an .xlsx workbook with the
// references to them; an .xls workbook in the same list fails on its own and stays as it was.
TEST_F(RowsColumnsPanelTest, DeletionMovesReferencesInXlsxAndReachesTheXls)
{
    const QString xlsx = copyInto(fixture(QStringLiteral("sheet_references.xlsx")), tempPath(QStringLiteral("in")));
    const QString xls = copyInto(fixture(QStringLiteral("sheets_second_active.xls")), tempPath(QStringLiteral("in")));
    m_dialogs.files.push_back({xls, xlsx});
    action(QStringLiteral("AddFile"))->trigger();
    const QByteArray xlsBefore = readAll(xls);

    click(QStringLiteral("OpBatchColRow(1)"));
    click(QStringLiteral("OptBatchColRowSheetName(0)"));
    find<QComboBox>(QStringLiteral("CmbSheetName"))->setEditText(QStringLiteral("Data"));
    click(QStringLiteral("ChkDelRows"));
    setText(QStringLiteral("txtRow1(0)"), QStringLiteral("2"));
    setText(QStringLiteral("txtRow2(0)"), QStringLiteral("3"));
    m_dialogs.answers.push_back(QMessageBox::Ok);

    QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
    click(QStringLiteral("CmdBatchColsAndRows"));
    ASSERT_TRUE(finished.wait(60000));
    ASSERT_FALSE(m_dialogs.texts().isEmpty());
    EXPECT_EQ(m_dialogs.texts().front(), kRowsColumnsConfirmDelete);

    const QString data = sheetXml(xlsx, 1);
    EXPECT_FALSE(data.contains(QStringLiteral("<row r=\"4\"")));
    EXPECT_TRUE(data.contains(QStringLiteral("<c r=\"A3\"><v>5</v></c>"))) << data.toStdString();
    const QString names = QString::fromUtf8(zipEntry(xlsx, QStringLiteral("xl/workbook.xml")));
    EXPECT_TRUE(names.contains(QStringLiteral(">Data!$A$1:$A$3<"))) << names.toStdString();
    EXPECT_NE(readAll(xls), xlsBefore); // deleted through the engine, past the save check
}

} // namespace
} // namespace gm::test
