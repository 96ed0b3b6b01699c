#pragma once

#include <QString>

namespace gm {

// Everything a run tells or asks the user goes through this interface. The window
// implements it with message boxes and the status bar (answering on the GUI thread),
// the command line with standard error and its flags, tests with a scripted answerer.
class UserInterface
{
public:
    virtual ~UserInterface() = default;

    virtual void inform(const QString &text) = 0; // information box, OK
    virtual bool askYesNo(const QString &text) = 0; // question box, Yes/No; true for Yes
    virtual bool askOkCancel(const QString &text) = 0; // question box, OK/Cancel; true for OK
    virtual void setStatus(const QString &text) = 0; // status panel 1
    virtual void setBusy(bool busy) = 0; // busy cursor over the whole screen
    virtual void openInViewer(const QString &path) = 0; // default application, no waiting
    virtual void setProgress(int /*done*/, int /*total*/) { }
};

} // namespace gm
