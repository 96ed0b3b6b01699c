#pragma once

// Shared pieces of the window tests: one application object for the test program, a dialogs
// object that answers from a script and records everything shown, and a window built the
// way the program builds it, on settings kept in a temporary folder.

#include "app/SettingsStore.h"
#include "app/StartUp.h"
#include "ui/MainWindow.h"
#include "ui/UserDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

namespace gm::test {

inline QApplication &guiApp()
{
    static int argc = 1;
    static char name[] = "gui_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        // Recently used documents and any other per-user data go to a private folder.
        static QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            QDir().mkpath(data.filePath(QStringLiteral("runtime")));
            QFile::setPermissions(data.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv("XDG_RUNTIME_DIR", data.filePath(QStringLiteral("runtime")).toLocal8Bit());
        }
        // The offscreen platform warns about every window whose size hints change or that
        // is raised.
        static const QtMessageHandler previous = qInstallMessageHandler(
                [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                    if (!message.contains(QStringLiteral("propagateSizeHints"))
                        && !message.contains(QStringLiteral("support raise()")))
                        previous(type, context, message);
                });
        return new QApplication(argc, argv);
    }();
    return *app;
}

class ScriptedDialogs : public UserDialogs
{
public:
    struct Shown
    {
        MessageRequest request;
        QMessageBox::StandardButton answer;
    };

    QMessageBox::StandardButton message(QWidget *, const MessageRequest &request) override
    {
        QMessageBox::StandardButton answer = request.defaultButton != QMessageBox::NoButton ? request.defaultButton
                                                                                          : QMessageBox::Ok;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        messages.push_back({request, answer});
        return answer;
    }
    QStringList openFileNames(QWidget *, const FileDialogRequest &request) override
    {
        fileDialogs.push_back(request);
        return takeFiles();
    }
    QString openFileName(QWidget *, const FileDialogRequest &request) override
    {
        fileDialogs.push_back(request);
        const QStringList files = takeFiles();
        return files.isEmpty() ? QString() : files.constFirst();
    }
    QString saveFileName(QWidget *, const FileDialogRequest &request, bool) override
    {
        fileDialogs.push_back(request);
        const QStringList files = takeFiles();
        return files.isEmpty() ? QString() : files.constFirst();
    }
    QString browseForFolder(QWidget *, const QString &prompt) override
    {
        folderPrompts.append(prompt);
        const QStringList files = takeFiles();
        return files.isEmpty() ? QString() : files.constFirst();
    }
    void openUrl(QWidget *, const QString &fileOrUrl) override { opened.append(fileOrUrl); }

    QStringList texts() const
    {
        QStringList result;
        for (const Shown &shown : messages)
            result.append(shown.request.text);
        return result;
    }

    std::deque<QMessageBox::StandardButton> answers; // message boxes, in order
    std::deque<QStringList> files;                   // file and folder dialogs, in order; {} cancels
    std::vector<Shown> messages;
    std::vector<FileDialogRequest> fileDialogs;
    QStringList folderPrompts;
    QStringList opened;

private:
    QStringList takeFiles()
    {
        if (files.empty())
            return {};
        QStringList result = files.front();
        files.pop_front();
        return result;
    }
};

inline EngineInfo fullEngine()
{
    return EngineInfo{QStringLiteral("LibreOffice"), QStringLiteral("7.4.7.2"), true, 1048576};
}

class WindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { guiApp(); }

    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    void TearDown() override
    {
        m_window.reset();
        m_store.reset();
    }

    QString iniPath() const { return m_temp.filePath(QStringLiteral("settings/Gridmule.conf")); }
    QString tempPath(const QString &name) const { return m_temp.filePath(name); }

    void seed(const QString &key, const QString &value)
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        raw.setValue(key, value);
    }
    QString stored(const QString &key) const
    {
        QSettings raw(iniPath(), QSettings::IniFormat);
        return raw.value(key, QStringLiteral("<missing>")).toString();
    }

    // Starts the window as the program does, with a probe that finds the given engine.
    MainWindow &start(EngineInfo engine = fullEngine())
    {
        m_store = std::make_unique<SettingsStore>(iniPath());
        const StartUpResult result = startUp(*m_store, [engine] { return std::optional<EngineInfo>(engine); },
                                             programFolder());
        EXPECT_TRUE(result.engineFound);
        m_state = result.state;
        m_window = std::make_unique<MainWindow>(m_state, *m_store, m_dialogs, result.memory);
        m_window->show();
        return *m_window;
    }
    // Closes the window as the user would, which stores the page and panel inputs.
    void closeWindow()
    {
        m_window->close();
        m_store->sync();
        m_window.reset();
        m_store.reset();
    }

    template<typename T>
    T *find(const QString &name) const
    {
        T *result = m_window->findChild<T *>(name);
        EXPECT_NE(result, nullptr) << name.toStdString();
        return result;
    }
    QAction *action(const QString &name) const { return find<QAction>(name); }

    // Runs handle on the next modal dialog of type T once it is shown, then triggers start.
    template<typename T>
    void withModal(const std::function<void(T &)> &handle, const std::function<void()> &start)
    {
        bool handled = false;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
            if (dialog) {
                handled = true;
                handle(*dialog);
            }
        });
        start();
        EXPECT_TRUE(handled) << "no modal dialog was shown";
    }

    QTemporaryDir m_temp;
    ScriptedDialogs m_dialogs;
    AppState m_state;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<MainWindow> m_window;
};

} // namespace gm::test
