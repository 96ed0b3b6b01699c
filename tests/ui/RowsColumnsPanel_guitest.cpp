// The rows-and-columns panel driven as the user would: the mode's own fields reach the run,
// the deletion question comes before anything is opened, and a real run changes the file.

#include "GuiTestSupport.h"

#include "operations/cells/RowsColumnsOperation.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"

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

TEST_F(RowsColumnsPanelTest, CancellingTheDeletionQuestionOpensNothing)
{
    const QString xlsx = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), tempPath(QStringLiteral("in")));
    m_dialogs.files.push_back({xlsx});
    action(QStringLiteral("AddFile"))->trigger();
    const QByteArray before = readAll(xlsx);

    click(QStringLiteral("OpBatchColRow(1)"));
    click(QStringLiteral("ChkDelRows"));
    setText(QStringLiteral("txtRow1(0)"), QStringLiteral("3"));
    m_dialogs.answers = {QMessageBox::Cancel};
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdBatchColsAndRows"));
    ASSERT_EQ(m_dialogs.messages.size(), 1u);
    const auto &question = m_dialogs.messages[0].request;
    EXPECT_EQ(question.caption, kRowsColumnsConfirmCaption);
    EXPECT_EQ(question.text, kRowsColumnsConfirmDelete);
    EXPECT_EQ(question.defaultButton, QMessageBox::Cancel);
    EXPECT_FALSE(m_window->runner().isRunning());
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("txtRow1(0)"))->text(), QStringLiteral("3"));

    // Confirmed, the empty "to" field is the next check, with the focus on it.
    m_dialogs.answers = {QMessageBox::Ok};
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdBatchColsAndRows"));
    EXPECT_EQ(m_dialogs.texts(), (QStringList{kRowsColumnsConfirmDelete, kRowsColumnsNoRow}));
    EXPECT_EQ(m_window->focusWidget(), find<QWidget>(QStringLiteral("txtRow2(0)")));
    EXPECT_FALSE(m_window->runner().isRunning());
    EXPECT_TRUE(readAll(xlsx) == before);
}

} // namespace
} // namespace gm::test
