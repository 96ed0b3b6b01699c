#pragma once

// Every message box, file dialog, folder browser and hand-over to the desktop that the window
// shows goes through this interface, so that tests can answer them without a modal loop.

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QUrl;
class QWidget;

namespace gm {

struct MessageRequest
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

struct FileDialogRequest
{
    QString title;
    QString filter;        // "description|pattern|description|pattern", as the panels give it
    QString presetName;    // file name shown at first
    QString folder;        // initial folder; empty for the dialog's own choice
    QString defaultSuffix; // appended when the user types a name without one
};

class UserDialogs
{
public:
    virtual ~UserDialogs() = default;

    // Shows a message box and returns the button pressed.
    virtual QMessageBox::StandardButton message(QWidget *parent, const MessageRequest &request) = 0;
    // Open dialogs return the chosen existing files; empty when cancelled.
    virtual QStringList openFileNames(QWidget *parent, const FileDialogRequest &request) = 0;
    virtual QString openFileName(QWidget *parent, const FileDialogRequest &request) = 0;
    // Save dialog; confirmOverwrite asks before an existing file is chosen.
    virtual QString saveFileName(QWidget *parent, const FileDialogRequest &request, bool confirmOverwrite) = 0;
    // Folder browser: the chosen folder without a trailing separator, or empty.
    virtual QString browseForFolder(QWidget *parent, const QString &prompt) = 0;
    // Opens a file or address with the desktop's default application, without waiting.
    virtual void openUrl(QWidget *parent, const QString &fileOrUrl) = 0;

    // Conveniences over message().
    void inform(QWidget *parent, const QString &text);
    bool askYesNo(QWidget *parent, const QString &text, bool defaultNo = false);
    bool askOkCancel(QWidget *parent, const QString &text);
};

// The narrowest message box, wide enough for its title and the window's buttons.
inline constexpr int kMessageBoxMinimumWidth = 300;

// "desc|pattern|desc|pattern" to Qt's "desc (pattern);;desc (pattern)".
QString qtFileFilter(const QString &filter);

// The dialogs of the desktop.
class DesktopDialogs : public UserDialogs
{
public:
    // Hands an address to the desktop; false when it has no application for it.
    using Launcher = std::function<bool(const QUrl &)>;

    // The desktop's launcher, asked without leaving messages on the console.
    DesktopDialogs();
    explicit DesktopDialogs(Launcher launcher);

    QMessageBox::StandardButton message(QWidget *parent, const MessageRequest &request) override;
    QStringList openFileNames(QWidget *parent, const FileDialogRequest &request) override;
    QString openFileName(QWidget *parent, const FileDialogRequest &request) override;
    QString saveFileName(QWidget *parent, const FileDialogRequest &request, bool confirmOverwrite) override;
    QString browseForFolder(QWidget *parent, const QString &prompt) override;
    // Where the desktop cannot open a file, the program shows it in a window of its own.
    void openUrl(QWidget *parent, const QString &fileOrUrl) override;

private:
    Launcher m_launch;
};

} // namespace gm
