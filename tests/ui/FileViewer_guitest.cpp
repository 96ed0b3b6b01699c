#include "GuiTestSupport.h"

#include "ui/dialogs/FileViewer.h"

#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

namespace gm::test {
namespace {

// The desktop's dialogs with a launcher that finds no application (or one that opens
// everything), and message boxes recorded instead of shown.
class NoLauncherDialogs : public DesktopDialogs
{
public:
    explicit NoLauncherDialogs(bool launches)
        : DesktopDialogs([this, launches](const QUrl &url) {
              launched.append(url);
              return launches;
          })
    { }
    QMessageBox::StandardButton message(QWidget *, const MessageRequest &request) override
    {
        messages.append(request.text);
        return QMessageBox::Ok;
    }
    QList<QUrl> launched;
    QStringList messages;
};

class FileViewerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { guiApp(); }
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = m_temp.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }
    QList<FileViewer *> viewers() const { return m_window.findChildren<FileViewer *>(); }

    QTemporaryDir m_temp;
    QMainWindow m_window;
};

TEST_F(FileViewerTest, LogAndHelpOpenInTheProgramsOwnWindowWithoutALauncher)
{
    const QString log = write(QStringLiteral("Gridmule.log"),
        QStringLiteral("2026-12-07 08:00 /d/a.xls 1004 文件已损坏\r\n"
                       "2026-12-07 08:01 /d/b.xls 53 找不到文件\r\n")
            .toUtf8());
    const QString help = write(
        QStringLiteral("Gridmule.html"), QStringLiteral("<html><body><h1>使用说明</h1><p>添加文档</p></body></html>").toUtf8());
    NoLauncherDialogs dialogs(false);

    dialogs.openUrl(&m_window, log);
    ASSERT_EQ(viewers().size(), 1);
    auto *text = viewers().constFirst()->findChild<QPlainTextEdit *>(QStringLiteral("LogText"));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->toPlainText(),
        QStringLiteral("2026-12-07 08:00 /d/a.xls 1004 文件已损坏\n"
                       "2026-12-07 08:01 /d/b.xls 53 找不到文件\n"));
    EXPECT_TRUE(viewers().constFirst()->isVisible());
    EXPECT_EQ(dialogs.launched, QList<QUrl>{QUrl::fromLocalFile(log)});

    // The same log again shows the one window with what the file holds now.
    QFile more(log);
    ASSERT_TRUE(more.open(QIODevice::Append));
    more.write("2026-12-07 08:02 /d/c.xls 1004 x\r\n");
    more.close();
    dialogs.openUrl(&m_window, log);
    ASSERT_EQ(viewers().size(), 1);
    EXPECT_TRUE(text->toPlainText().endsWith(QStringLiteral("/d/c.xls 1004 x\n")));

    dialogs.openUrl(&m_window, help);
    ASSERT_EQ(viewers().size(), 2);
    QTextBrowser *browser = nullptr;
    for (FileViewer *viewer : viewers()) {
        if (!browser)
            browser = viewer->findChild<QTextBrowser *>(QStringLiteral("HelpBrowser"));
    }
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("使用说明")));
    EXPECT_TRUE(dialogs.messages.isEmpty());

    for (FileViewer *viewer : viewers())
        viewer->close();
    QApplication::processEvents();
}

TEST_F(FileViewerTest, ALauncherOpensFilesItselfAndFailuresAreSaid)
{
    const QString log = write(QStringLiteral("run.log"), "line\n");
    NoLauncherDialogs desktop(true);
    desktop.openUrl(&m_window, log);
    EXPECT_EQ(desktop.launched.size(), 1);
    EXPECT_TRUE(viewers().isEmpty());
    EXPECT_TRUE(desktop.messages.isEmpty());

    // Nothing opens silently: a missing file and an address without a browser are said.
    NoLauncherDialogs bare(false);
    const QString missing = m_temp.filePath(QStringLiteral("missing.html"));
    bare.openUrl(&m_window, missing);
    bare.openUrl(&m_window, QStringLiteral("https://example.org/gridmule"));
    EXPECT_TRUE(viewers().isEmpty());
    ASSERT_EQ(bare.messages.size(), 2);
    EXPECT_TRUE(bare.messages.at(0).contains(missing));
    EXPECT_TRUE(bare.messages.at(1).contains(QStringLiteral("https://example.org/gridmule")));
}

// Asking the desktop leaves nothing on the console, whether or not it has a launcher.
TEST_F(FileViewerTest, TheDesktopIsAskedQuietly)
{
    const QString log = write(QStringLiteral("quiet.log"), "line\n");
    static QStringList printed;
    printed.clear();
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        // The offscreen platform's notices about window handling are not the program's.
        const bool windowNotice = message.startsWith(QStringLiteral("This plugin does not support"))
            && !message.contains(QStringLiteral("QPlatformServices"));
        if (!windowNotice)
            printed.append(message);
    });
    {
        // No launcher is found here: the offscreen platform has none.
        QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_temp.path().toLocal8Bit());
        DesktopDialogs dialogs;
        dialogs.openUrl(&m_window, log);
        qputenv("PATH", path);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(printed.isEmpty()) << printed.join(u'\n').toStdString();
    for (FileViewer *viewer : viewers())
        viewer->close();
    QApplication::processEvents();
}

} // namespace
} // namespace gm::test
