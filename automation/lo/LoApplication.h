#pragma once

#include "automation/Engine.h"
#include "automation/Preflight.h"
#include "automation/lo/EngineLimits.h"

#include <sys/types.h>

#include <memory>

namespace gm::lo {

class LoEngine;

// The LibreOffice backend's application: one headless engine process.
class LoApplication : public Application
{
public:
    explicit LoApplication(const QString &programDir, EngineLimits limits = {});
    ~LoApplication() override;

    EngineInfo info() override;
    // Opens hidden, with prompts aborted and macros off. readOnly loads leave the file
    // unlocked and refuse save(); they are used for sources that are only read.
    using Application::open;
    std::unique_ptr<Workbook> open(const QString &path, bool readOnly) override;
    // Opens a workbook that has an open password, read-only, with that password: a check that
    // the engine reads what the password editors wrote. A wrong password throws
    // PasswordRequired.
    std::unique_ptr<Workbook> openWithPassword(const QString &path, const QString &password);
    std::unique_ptr<Workbook> add() override;
    bool isAlive() const override;
    void abort() override;
    void quit() override;

    pid_t enginePid() const;
    // Whether the engine started on a copy of the profile an earlier engine of the program
    // finished, without setting up a new one.
    bool startedFromFinishedProfile() const;
    // Where the engine's pipe sockets are or would be (existing or not).
    QStringList engineSockets() const;

private:
    std::unique_ptr<Workbook> load(const QString &absolute, WorkbookKind kind, bool readOnly, const QString &password);

    std::shared_ptr<LoEngine> m_engine;
    int m_newBooks = 0;
};

} // namespace gm::lo
