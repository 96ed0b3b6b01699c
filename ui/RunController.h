#pragma once

// Runs one operation at a time on a worker thread, so that the window keeps painting. While
// a run lasts the guarded widgets (toolbar, menus, list and panels) take no commands; the
// run's messages and questions are answered on the GUI thread through GuiUserInterface.

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QThread;
class QWidget;

namespace gm {

class GuiUserInterface;
class UserInterface;

class RunController : public QObject
{
    Q_OBJECT

public:
    explicit RunController(GuiUserInterface &ui, QObject *parent = nullptr);
    ~RunController() override;

    void setGuardedWidgets(const QList<QWidget *> &widgets);
    bool isRunning() const { return m_thread != nullptr; }

    // Starts work on a worker thread; done runs on the GUI thread after it ended. Returns
    // false when a run is already going on.
    bool start(std::function<void(UserInterface &)> work, std::function<void()> done = {});
    // Asks the run to stop: the file in progress ends or is rolled back, the rest are reported
    // as cancelled. Does nothing when no run is going on.
    void cancel();
    bool isCancelling() const { return m_cancelling; }

signals:
    void runStarted();
    void runFinished();
    void cancelling();

private:
    void finish();

    GuiUserInterface &m_ui;
    QList<QPointer<QWidget>> m_guarded;
    QList<QPointer<QWidget>> m_disabled;
    QThread *m_thread = nullptr;
    std::function<void()> m_done;
    QString m_failure;
    bool m_cancelling = false;
};

} // namespace gm
