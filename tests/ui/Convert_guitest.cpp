#include "GuiTestSupport.h"

#include "doclist/DocumentListModel.h"
#include "ui/RunController.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

namespace gm::test {
namespace {

const QString kCorpus = QStringLiteral(GRIDMULE_CORPUS "/xls");

class ConvertTest : public WindowTest
{
protected:
    QString copyFromCorpus(const QString &name, const QString &as)
    {
        const QString target = tempPath(QStringLiteral("in/") + as);
        QDir().mkpath(QFileInfo(target).absolutePath());
        EXPECT_TRUE(QFile::copy(kCorpus + u'/' + name, target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }
    void addByDialog(const QStringList &paths)
    {
        m_dialogs.files.push_back(paths);
        action(QStringLiteral("AddFile"))->trigger();
    }
};

TEST_F(ConvertTest, ChecksComeFirst)
{
    start();
    auto *convert = find<QPushButton>(QStringLiteral("BtnConvert"));
    convert->click();
    EXPECT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("没有需要转换类型的文档！")});

    addByDialog({tempPath(QStringLiteral("a.xls"))});
    find<QLineEdit>(QStringLiteral("txtOut"))->setText(QStringLiteral(" x "));
    m_dialogs.messages.clear();
    convert->click();
    ASSERT_EQ(m_dialogs.texts(), QStringList{QStringLiteral("请选择输出文件路径！")});
    EXPECT_EQ(m_dialogs.messages[0].request.caption, QStringLiteral("Gridmule"));
    EXPECT_EQ(m_dialogs.messages[0].request.icon, QMessageBox::Information);
    EXPECT_EQ(m_window->focusWidget(), find<QLineEdit>(QStringLiteral("txtOut")));
    EXPECT_FALSE(m_window->runner().isRunning());
    EXPECT_TRUE(convert->isEnabled());
    // Nothing was chosen from the format list, and nothing was run.
    EXPECT_TRUE(find<QListWidget>(QStringLiteral("LstFileType"))->selectedItems().isEmpty());
}

TEST_F(ConvertTest, FullRunFromThePanel)
{
    if (!QFileInfo::exists(kCorpus))
        GTEST_SKIP() << "the workbook corpus is not beside the project";
    const QString log = tempPath(QStringLiteral("runs.log"));
    {
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    seed(QStringLiteral("Option/isRecordError"), QStringLiteral("True"));
    seed(QStringLiteral("Option/LogFile"), log);
    MainWindow &window = start();
    ASSERT_TRUE(m_state.isRecordError);
    action(QStringLiteral("Convert"))->trigger();

    const QString first = copyFromCorpus(QStringLiteral("calamine-date.xls"), QStringLiteral("日期.xls"));
    const QString second = copyFromCorpus(QStringLiteral("poi-chinese-provinces.xls"), QStringLiteral("provinces.xls"));
    const QString missing = tempPath(QStringLiteral("in/missing.xls"));
    addByDialog({first, missing, second});
    find<QListWidget>(QStringLiteral("LstFileType"))->setCurrentRow(1); // CSV
    const QString out = tempPath(QStringLiteral("out"));
    m_dialogs.files.push_back({out});
    find<QPushButton>(QStringLiteral("Command2"))->click();
    ASSERT_EQ(find<QLineEdit>(QStringLiteral("txtOut"))->text(), out + u'/');

    QSignalSpy finished(&window.runner(), &RunController::runFinished);
    find<QPushButton>(QStringLiteral("BtnConvert"))->click();
    // While the run lasts the window takes no other command.
    EXPECT_TRUE(window.runner().isRunning());
    EXPECT_FALSE(window.centralWidget()->isEnabled());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("Toolbar1"))->isEnabled());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("Toolbar1Row2"))->isEnabled());
    EXPECT_FALSE(window.close());
    ASSERT_TRUE(finished.wait(240000));

    EXPECT_TRUE(QFileInfo(out + QStringLiteral("/日期.csv")).size() > 0);
    EXPECT_TRUE(QFileInfo(out + QStringLiteral("/provinces.csv")).size() > 0);
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/missing.csv")));
    ASSERT_GE(m_dialogs.messages.size(), 2u);
    const auto &done = m_dialogs.messages[m_dialogs.messages.size() - 2];
    EXPECT_EQ(done.request.text, QStringLiteral("类型转换完成！"));
    EXPECT_EQ(done.request.icon, QMessageBox::Information);
    const auto &offer = m_dialogs.messages.back();
    EXPECT_EQ(offer.request.text, QStringLiteral("日志文件记录了处理过程中发生的异常，\n是否查看日志文件？"));
    EXPECT_EQ(offer.request.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(m_dialogs.opened, QStringList{log});
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(logFile.readAll());
    EXPECT_TRUE(logged.contains(QStringLiteral("类型转换\t处理") + missing + QStringLiteral("处错：")));
    EXPECT_FALSE(logged.contains(first));

    // Everything is back as it was before the run.
    EXPECT_TRUE(window.centralWidget()->isEnabled());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("Toolbar1"))->isEnabled());
    EXPECT_TRUE(find<QWidget>(QStringLiteral("Toolbar1Row2"))->isEnabled());
    EXPECT_TRUE(find<QPushButton>(QStringLiteral("BtnConvert"))->isEnabled());
    EXPECT_TRUE(find<QLabel>(QStringLiteral("StatusPanel1"))->text().isEmpty());
    EXPECT_FALSE(find<QWidget>(QStringLiteral("RunProgress"))->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ConvertTest, DecliningTheOverwriteSkipsTheFile)
{
    if (!QFileInfo::exists(kCorpus))
        GTEST_SKIP() << "the workbook corpus is not beside the project";
    MainWindow &window = start();
    const QString source = copyFromCorpus(QStringLiteral("calamine-date.xls"), QStringLiteral("book.xls"));
    const QString out = tempPath(QStringLiteral("out2"));
    QDir().mkpath(out);
    {
        QFile existing(out + QStringLiteral("/book.txt"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    addByDialog({source});
    find<QListWidget>(QStringLiteral("LstFileType"))->setCurrentRow(3); // tab-separated text
    find<QLineEdit>(QStringLiteral("txtOut"))->setText(out);

    m_dialogs.answers = {QMessageBox::No};
    QSignalSpy finished(&window.runner(), &RunController::runFinished);
    find<QPushButton>(QStringLiteral("BtnConvert"))->click();
    ASSERT_TRUE(finished.wait(240000));

    ASSERT_EQ(m_dialogs.messages.size(), 2u);
    EXPECT_EQ(m_dialogs.messages[0].request.text,
              QStringLiteral("同名文件“") + out + QStringLiteral("/book.txt”已经存在，是否覆盖？"));
    EXPECT_EQ(m_dialogs.messages[0].request.icon, QMessageBox::Question);
    EXPECT_EQ(m_dialogs.messages[1].request.text, QStringLiteral("类型转换完成！"));
    QFile kept(out + QStringLiteral("/book.txt"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep me"));
}

} // namespace
} // namespace gm::test
