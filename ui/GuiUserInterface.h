#pragma once

// The window's side of a run: messages and questions as message boxes, the status text and
// progress in the status bar, the busy cursor. Calls made on a run's worker thread are carried
// to the GUI thread and wait there for the answer.

#include "automation/UserInterface.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

namespace gm {

class UserDialogs;

class GuiUserInterface : public QObject, public UserInterface
{
    Q_OBJECT

public:
    GuiUserInterface(QWidget *window, UserDialogs &dialogs, QLabel *statusPanel, QProgressBar *progress,
                     QObject *parent = nullptr);

    void inform(const QString &text) override;
    bool askYesNo(const QString &text) override;
    bool askOkCancel(const QString &text) override;
    void setStatus(const QString &text) override;
    void setBusy(bool busy) override;
    void openInViewer(const QString &path) override;
    void setProgress(int done, int total) override;

    // Restores the cursor and clears the progress, whatever a run left behind.
    void endRun();

private:
    void onGuiThread(const std::function<void()> &call);

    QPointer<QWidget> m_window;
    UserDialogs &m_dialogs;
    QPointer<QLabel> m_statusPanel;
    QPointer<QProgressBar> m_progress;
    int m_busyDepth = 0;
};

} // namespace gm
