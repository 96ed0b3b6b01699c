// The hyperlink panel and the sheet background sub-panel driven as the user would: the checks
// before a run, then real runs on a copy of the links fixture.

#include "GuiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class LinksBackgroundPanelsTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
    }
    void click(const QString &name) { find<QAbstractButton>(name)->click(); }
    void addFixture()
    {
        book = copyInto(fixture(QStringLiteral("links_and_pictures.xlsx")), tempPath(QStringLiteral("in")));
        m_dialogs.files.push_back({book});
        action(QStringLiteral("AddFile"))->trigger();
    }
    // Clicks the command; it stays disabled until the run has ended.
    void run(const QString &button)
    {
        m_dialogs.messages.clear();
        QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
        click(button);
        ASSERT_TRUE(m_window->runner().isRunning());
        EXPECT_FALSE(find<QPushButton>(button)->isEnabled());
        ASSERT_TRUE(finished.wait(60000));
        EXPECT_TRUE(find<QPushButton>(button)->isEnabled());
    }

    QString book;
};

TEST_F(LinksBackgroundPanelsTest, HyperlinkPanelRunsTheChosenAction)
{
    action(QStringLiteral("Share"))->trigger();
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdHyperLink"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("没有需要处理的EXCEL文档！")});
    EXPECT_FALSE(m_window->runner().isRunning());

    addFixture();
    run(QStringLiteral("CmdHyperLink")); // OptKillHyperlink is selected at first
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("超链接取消完毕！")});
    EXPECT_FALSE(zipEntry(book, QStringLiteral("xl/worksheets/sheet1.xml")).contains("<hyperlink"));

    click(QStringLiteral("OptShared"));
    run(QStringLiteral("CmdHyperLink"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("批量允许多用户同时编辑工作簿设置完毕！")});
    EXPECT_TRUE(zipEntryNames(book).contains(QStringLiteral("xl/revisions/userNames.xml")));

    click(QStringLiteral("OptExclusiveAccess"));
    run(QStringLiteral("CmdHyperLink"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("批量取消工作簿多用户共享完毕！")});
    EXPECT_FALSE(zipEntryNames(book).contains(QStringLiteral("xl/revisions/userNames.xml")));
}

TEST_F(LinksBackgroundPanelsTest, BackgroundSubPanelChecksThePictureThenSetsAndRemoves)
{
    action(QStringLiteral("BatchSheet"))->trigger();
    click(QStringLiteral("OptSheetBackground"));
    addFixture();
    m_dialogs.messages.clear();
    click(QStringLiteral("CmdSheetBackgroud"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("请选择背景图片文件！")});
    EXPECT_FALSE(m_window->runner().isRunning());

    const QString picture = tempPath(QStringLiteral("back.png"));
    writeAll(picture, zipEntry(book, QStringLiteral("xl/media/image1.png")));
    find<QLineEdit>(QStringLiteral("txtBackgroudPic"))->setText(picture);
    run(QStringLiteral("CmdSheetBackgroud"));
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("工作表背景设置完成！")});
    for (int n : {1, 2})
        EXPECT_TRUE(zipEntry(book, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)).contains("<picture ")) << n;

    click(QStringLiteral("OptSheetBack(0)"));
    find<QLineEdit>(QStringLiteral("txtBackgroudPic"))->clear();
    run(QStringLiteral("CmdSheetBackgroud"));
    for (int n : {1, 2})
        EXPECT_FALSE(zipEntry(book, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)).contains("<picture")) << n;
}

} // namespace
} // namespace gm::test
