#include "ui/GuiUserInterface.h"

#include "ui/UserDialogs.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

namespace gm {

GuiUserInterface::GuiUserInterface(QWidget *window, UserDialogs &dialogs, QLabel *statusPanel,
                                   QProgressBar *progress, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_dialogs(dialogs)
    , m_statusPanel(statusPanel)
    , m_progress(progress)
{
}

void GuiUserInterface::onGuiThread(const std::function<void()> &call)
{
    if (QThread::currentThread() == thread())
        call();
    else
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
}

void GuiUserInterface::inform(const QString &text)
{
    onGuiThread([&] { m_dialogs.inform(m_window, text); });
}

bool GuiUserInterface::askYesNo(const QString &text)
{
    bool yes = false;
    onGuiThread([&] { yes = m_dialogs.askYesNo(m_window, text); });
    return yes;
}

bool GuiUserInterface::askOkCancel(const QString &text)
{
    bool ok = false;
    onGuiThread([&] { ok = m_dialogs.askOkCancel(m_window, text); });
    return ok;
}

void GuiUserInterface::setStatus(const QString &text)
{
    onGuiThread([&] {
        if (!m_statusPanel)
            return;
        m_statusPanel->setText(text);
        m_statusPanel->repaint();
    });
}

void GuiUserInterface::setBusy(bool busy)
{
    onGuiThread([&] {
        if (busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            ++m_busyDepth;
        } else if (m_busyDepth > 0) {
            QApplication::restoreOverrideCursor();
            --m_busyDepth;
        }
    });
}

void GuiUserInterface::openInViewer(const QString &path)
{
    onGuiThread([&] { m_dialogs.openUrl(m_window, path); });
}

void GuiUserInterface::setProgress(int done, int total)
{
    onGuiThread([&] {
        if (!m_progress)
            return;
        if (total <= 0) {
            m_progress->hide();
            return;
        }
        m_progress->setRange(0, total);
        m_progress->setValue(qBound(0, done, total));
        m_progress->show();
    });
}

void GuiUserInterface::endRun()
{
    while (m_busyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_busyDepth;
    }
    if (m_progress)
        m_progress->hide();
}

} // namespace gm
