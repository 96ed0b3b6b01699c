#include "ui/RunController.h"

#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "ui/GuiUserInterface.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

namespace gm {

RunController::RunController(GuiUserInterface &ui, QObject *parent)
    : QObject(parent)
    , m_ui(ui)
{
}

RunController::~RunController()
{
    // The worker may be waiting for an answer from this thread: keep serving it until it ends.
    if (m_thread) {
        while (!m_thread->isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        delete m_thread;
    }
}

void RunController::setGuardedWidgets(const QList<QWidget *> &widgets)
{
    m_guarded.clear();
    for (QWidget *widget : widgets)
        m_guarded.append(widget);
}

bool RunController::start(std::function<void(UserInterface &)> work, std::function<void()> done)
{
    if (m_thread)
        return false;
    m_done = std::move(done);
    m_failure.clear();
    // A cancel belongs to the run it was given for.
    clearCancelRequest();
    m_cancelling = false;

    m_disabled.clear();
    for (const QPointer<QWidget> &widget : std::as_const(m_guarded)) {
        if (widget && widget->isEnabled()) {
            widget->setEnabled(false);
            m_disabled.append(widget);
        }
    }

    m_thread = QThread::create([this, work = std::move(work)] {
        try {
            work(m_ui);
        } catch (const EngineError &error) {
            m_failure = error.description();
        } catch (const std::exception &error) {
            m_failure = QString::fromLocal8Bit(error.what());
        } catch (...) {
            m_failure = QStringLiteral("未知错误");
        }
    });
    m_thread->setObjectName(QStringLiteral("GridmuleRun"));
    connect(m_thread, &QThread::finished, this, &RunController::finish, Qt::QueuedConnection);
    emit runStarted();
    m_thread->start();
    return true;
}

void RunController::cancel()
{
    if (!m_thread || m_cancelling)
        return;
    m_cancelling = true;
    requestCancel();
    emit cancelling();
}

void RunController::finish()
{
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    clearCancelRequest();
    m_cancelling = false;

    m_ui.setStatus(QString());
    m_ui.endRun();
    for (const QPointer<QWidget> &widget : std::as_const(m_disabled)) {
        if (widget)
            widget->setEnabled(true);
    }
    m_disabled.clear();

    if (!m_failure.isEmpty())
        m_ui.inform(QStringLiteral("处理过程中发生错误：") + m_failure);
    if (m_done) {
        auto done = std::move(m_done);
        m_done = nullptr;
        done();
    }
    emit runFinished();
}

} // namespace gm
