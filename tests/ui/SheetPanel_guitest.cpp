// The sheet panel's command buttons driven as the user would: the questions and checks on the
// window's side, then real runs on a copy of the reference fixture.

#include "GuiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class SheetPanelTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        action(QStringLiteral("BatchSheet"))->trigger();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void setText(const QString &name, const QString &text) { find<QLineEdit>(name)->setText(text); }
    void addFixture()
    {
        book = copyInto(fixture(QStringLiteral("sheet_references.xlsx")), tempPath(QStringLiteral("in")));
        m_dialogs.files.push_back({book});
        action(QStringLiteral("AddFile"))->trigger();
        m_dialogs.messages.clear();
    }
    void run(const QString &button)
    {
        QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
        click(button);
        ASSERT_TRUE(m_window->runner().isRunning());
        for (const char *command : {"CmdDelSheet", "CmdBatchHideSheet", "CmdDisplaySheet", "CmdRenameSheet"})
            EXPECT_FALSE(find<QPushButton>(QString::fromLatin1(command))->isEnabled()) << command;
        ASSERT_TRUE(finished.wait(60000));
        EXPECT_TRUE(find<QPushButton>(button)->isEnabled());
    }
    QByteArray workbookXml() const { return zipEntry(book, QStringLiteral("xl/workbook.xml")); }

    QString book;
};

TEST_F(SheetPanelTest, DeletionAsksFirstThenChecksTheListAndTheInputs)
{
    m_dialogs.answers = {QMessageBox::Cancel};
    click(QStringLiteral("CmdDelSheet"));
    ASSERT_EQ(m_dialogs.messages.size(), 1u);
    const MessageRequest &question = m_dialogs.messages[0].request;
    EXPECT_EQ(question.text, QStringLiteral("删除操作将无法撤消，操作前请务必确认您已备份文档！\n确定要进行此操作吗？"));
    EXPECT_EQ(question.caption, QStringLiteral("注意！"));
    EXPECT_EQ(question.defaultButton, QMessageBox::Cancel);
    EXPECT_EQ(question.buttons, QMessageBox::Ok | QMessageBox::Cancel);

    m_dialogs.messages.clear();
    m_dialogs.answers = {QMessageBox::Ok};
    click(QStringLiteral("CmdDelSheet"));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("没有需要处理的EXCEL文档！"));

    addFixture();
    click(QStringLiteral("OptDelSheetByOrder"));
    m_dialogs.answers = {QMessageBox::Ok};
    click(QStringLiteral("CmdDelSheet"));
    EXPECT_EQ(m_dialogs.texts().last(), QStringLiteral("请输入工作表的序号！"));
    EXPECT_EQ(m_window->focusWidget(), find<QWidget>(QStringLiteral("CmbDelsheetPosition")));
    EXPECT_FALSE(m_window->runner().isRunning());
}

TEST_F(SheetPanelTest, HideUnhideAndRenameRunOnTheListedWorkbooks)
{
    addFixture();
    click(QStringLiteral("OptBatchHideSheet"));
    find<QComboBox>(QStringLiteral("CmbHideSheetByName"))->setCurrentIndex(1);
    setText(QStringLiteral("txtHideSheet"), QStringLiteral("ATA"));
    run(QStringLiteral("CmdBatchHideSheet"));
    EXPECT_TRUE(workbookXml().contains("<sheet name=\"Data\" sheetId=\"1\" state=\"hidden\""));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("处理完成！")});

    m_dialogs.messages.clear();
    click(QStringLiteral("OptSheetShow"));
    click(QStringLiteral("OptDisplayAll"));
    run(QStringLiteral("CmdDisplaySheet"));
    EXPECT_FALSE(workbookXml().contains("state="));

    m_dialogs.messages.clear();
    click(QStringLiteral("OptSheetRename"));
    click(QStringLiteral("OptBatchRenameSheet(1)"));
    setText(QStringLiteral("txtSheetName"), QStringLiteral("  "));
    click(QStringLiteral("CmdRenameSheet"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("请输入要批量设置的活动工作表名称！")});
    setText(QStringLiteral("txtSheetName"), QStringLiteral("汇总"));
    m_dialogs.messages.clear();
    run(QStringLiteral("CmdRenameSheet"));
    EXPECT_TRUE(workbookXml().contains("<sheet name=\"汇总\" sheetId=\"4\""));
}

} // namespace
} // namespace gm::test
