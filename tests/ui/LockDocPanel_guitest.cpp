// The document-password panel driven as the user would: its checks on the window's side, then
// real runs on copies of the fixture workbooks.

#include "GuiTestSupport.h"

#include "automation/ole/CompoundFile.h"
#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

class LockDocPanelTest : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        start();
        action(QStringLiteral("CLock"))->trigger();
    }
    void addFixtures()
    {
        const QString folder = tempPath(QStringLiteral("in"));
        xlsx = copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), folder);
        xls = copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder);
        m_dialogs.files.push_back({xlsx, xls});
        action(QStringLiteral("AddFile"))->trigger();
    }
    void type(const QString &first, const QString &second)
    {
        find<QLineEdit>(QStringLiteral("txtPassword1"))->setText(first);
        find<QLineEdit>(QStringLiteral("txtPassword2"))->setText(second);
    }
    void runLock()
    {
        m_dialogs.messages.clear();
        QSignalSpy finished(&m_window->runner(), &RunController::runFinished);
        find<QPushButton>(QStringLiteral("CmdLockDoc"))->click();
        ASSERT_TRUE(m_window->runner().isRunning());
        ASSERT_TRUE(finished.wait(240000));
    }

    QString xlsx;
    QString xls;
};

TEST_F(LockDocPanelTest, ChecksBeforeAnyRun)
{
    auto *command = find<QPushButton>(QStringLiteral("CmdLockDoc"));
    EXPECT_TRUE(command->isEnabled());
    EXPECT_TRUE(command->toolTip().isEmpty());

    command->click();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("没有需要处理的文档！")});

    // Two entries that differ only in letter case: the message, both boxes emptied, the focus
    // in the first; nothing runs.
    addFixtures();
    const QByteArray before = readAll(xlsx);
    type(QStringLiteral("Secret"), QStringLiteral("secret"));
    command->setFocus();
    m_dialogs.messages.clear();
    command->click();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("两次输入的口令不一致，请重新输入！")});
    EXPECT_TRUE(find<QLineEdit>(QStringLiteral("txtPassword1"))->text().isEmpty());
    EXPECT_TRUE(find<QLineEdit>(QStringLiteral("txtPassword2"))->text().isEmpty());
    EXPECT_EQ(m_window->focusWidget(), find<QWidget>(QStringLiteral("txtPassword1")));
    EXPECT_FALSE(m_window->runner().isRunning());

    // Both boxes empty: nothing at all.
    m_dialogs.messages.clear();
    command->click();
    EXPECT_TRUE(m_dialogs.messages.empty());
    EXPECT_FALSE(m_window->runner().isRunning());
    EXPECT_EQ(readAll(xlsx), before);
}

TEST_F(LockDocPanelTest, SetsOpenAndModifyPasswords)
{
    addFixtures();
    type(QStringLiteral("改写"), QStringLiteral("改写"));
    find<QRadioButton>(QStringLiteral("OptWritePassowrd"))->click();
    runLock();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("修改密码设置完成！")});
    EXPECT_TRUE(zipEntry(xlsx, QStringLiteral("xl/workbook.xml")).contains("<fileSharing "));
    // The boxes keep their texts after a run.
    EXPECT_EQ(find<QLineEdit>(QStringLiteral("txtPassword1"))->text(), QStringLiteral("改写"));

    find<QRadioButton>(QStringLiteral("OptPassword"))->click();
    runLock();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("访问（打开）密码设置完成！")});
    const ole::CompoundEntry encrypted = ole::CompoundFile::readFile(xlsx);
    EXPECT_TRUE(encrypted.child("EncryptedPackage"));
    // The .xls workbook stream now starts BOF, WRITEPROT (from the modify password), FILEPASS.
    const QByteArray stream = ole::CompoundFile::readFile(xls).child("Workbook")->data;
    const qsizetype second = 4 + quint8(stream[2]) + 256 * quint8(stream[3]);
    EXPECT_EQ(stream.mid(second, 4), QByteArray::fromHex("86000000"));
    EXPECT_EQ(stream.mid(second + 4, 2), QByteArray::fromHex("2f00"));
}

} // namespace
} // namespace gm::test
