#include "GuiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/RunController.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTest>

namespace gm::test {
namespace {

const QString kCancelled = QStringLiteral("运行已取消：已处理 %1 个文件，其余 %2 个文件未处理。");

class CancelRunTest : public WindowTest
{
protected:
    // Starts a conversion of `count` copies of one workbook to CSV and stops it, the way
    // `stop` does, once the status line names the second file.
    void runAndStop(int count, const std::function<void()> &stop)
    {
        MainWindow &window = *m_window;
        QStringList sources;
        for (int i = 0; i < count; ++i)
            sources << copyInto(fixture(QStringLiteral("sheets_second_active.xls")), m_in, QStringLiteral("book%1.xls").arg(i));
        m_dialogs.files.push_back(sources);
        action(QStringLiteral("AddFile"))->trigger();
        action(QStringLiteral("Convert"))->trigger();
        find<QListWidget>(QStringLiteral("LstFileType"))->setCurrentRow(1); // CSV
        find<QLineEdit>(QStringLiteral("txtOut"))->setText(m_out);

        auto *cancel = find<QPushButton>(QStringLiteral("CmdCancelRun"));
        EXPECT_FALSE(cancel->isVisible());
        QSignalSpy finished(&window.runner(), &RunController::runFinished);
        find<QPushButton>(QStringLiteral("BtnConvert"))->click();
        EXPECT_TRUE(cancel->isVisible());
        EXPECT_TRUE(cancel->isEnabled());
        auto *status = find<QLabel>(QStringLiteral("StatusPanel1"));
        bool stopped = false;
        for (int waited = 0; waited < 24000 && finished.isEmpty(); ++waited) {
            if (!stopped && status->text().endsWith(QStringLiteral("book1.xls"))) {
                stop();
                stopped = true;
                EXPECT_FALSE(cancel->isEnabled());
            }
            QTest::qWait(10);
        }
        ASSERT_TRUE(stopped) << "the run never reached the second file";
        ASSERT_TRUE(finished.size() == 1 || finished.wait(120000));
        EXPECT_FALSE(cancel->isVisible());
    }

    QString m_in = tempPath(QStringLiteral("in"));
    QString m_out = tempPath(QStringLiteral("out"));
};

QStringList everything(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST_F(CancelRunTest, TheButtonAndEscStopARunAndReportTheRest)
{
    // The stored log is used only when the file is there at start-up.
    const QString log = tempPath(QStringLiteral("runs.log"));
    writeAll(log, {});
    seed(QStringLiteral("Option/isRecordError"), QStringLiteral("True"));
    seed(QStringLiteral("Option/LogFile"), log);
    // One engine, so that the files follow one another whatever the number of processors.
    seed(QStringLiteral("Option/Jobs"), QStringLiteral("1"));
    MainWindow &window = start();
    QApplication::setActiveWindow(&window);

    const int count = 6;
    const std::vector<std::pair<const char *, std::function<void()>>> ways = {
        {"button", [&] { find<QPushButton>(QStringLiteral("CmdCancelRun"))->click(); }},
        {"Esc", [&] { QTest::keyClick(&window, Qt::Key_Escape); }},
    };
    for (const auto &[name, stop] : ways) {
        SCOPED_TRACE(name);
        QDir(m_in).removeRecursively();
        QDir(m_out).removeRecursively();
        QFile::remove(log);
        m_dialogs.messages.clear();
        action(QStringLiteral("RemoveAll"))->trigger();
        runAndStop(count, stop);

        // The first file was converted; the second was finished or rolled back; none after it
        // was started.
        const QStringList written = everything(m_out);
        EXPECT_TRUE(written == QStringList{QStringLiteral("book0.csv")}
            || written == (QStringList{QStringLiteral("book0.csv"), QStringLiteral("book1.csv")}))
            << written.join(u' ').toStdString();
        for (const QString &file : written)
            EXPECT_TRUE(readAll(m_out + u'/' + file).startsWith("second-sheet")) << file.toStdString();
        EXPECT_EQ(everything(m_in).size(), count) << everything(m_in).join(u' ').toStdString();

        // The message says how many files were left undone; each of them has its log line.
        const int done = int(written.size());
        ASSERT_GE(m_dialogs.messages.size(), 1u);
        EXPECT_EQ(m_dialogs.messages.front().request.text, kCancelled.arg(done).arg(count - done));
        EXPECT_FALSE(m_dialogs.texts().contains(QStringLiteral("类型转换完成！")));
        const QString logged = QString::fromUtf8(readAll(log));
        EXPECT_EQ(logged.count(QStringLiteral("\r\n")), count - done) << logged.toStdString();
        EXPECT_TRUE(logged.contains(QStringLiteral("book5.xls")));
        EXPECT_FALSE(logged.contains(QStringLiteral("book0.xls")));

        // The engine is gone and the window takes commands again.
        EXPECT_EQ(engineLeftoversOf(QCoreApplication::applicationPid()), QStringList());
        EXPECT_FALSE(window.runner().isRunning());
        EXPECT_TRUE(window.centralWidget()->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }

    // A cancel is over with its run: the next run goes to its end.
    QDir(m_out).removeRecursively();
    m_dialogs.messages.clear();
    QSignalSpy finished(&window.runner(), &RunController::runFinished);
    find<QPushButton>(QStringLiteral("BtnConvert"))->click();
    ASSERT_TRUE(finished.wait(240000));
    EXPECT_EQ(everything(m_out).size(), count);
    EXPECT_TRUE(m_dialogs.texts().contains(QStringLiteral("类型转换完成！")));
}

} // namespace
} // namespace gm::test
