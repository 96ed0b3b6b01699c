#pragma once

#include "automation/Engine.h"
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
    std::unique_ptr<Workbook> add() override;
    bool isAlive() const override;
    void abort() override;
    void quit() override;

    pid_t enginePid() const;
    // Where the engine's pipe sockets are or would be (existing or not).
    QStringList engineSockets() const;

private:
    std::shared_ptr<LoEngine> m_engine;
    int m_newBooks = 0;
};

} // namespace gm::lo
