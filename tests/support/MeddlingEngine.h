#pragma once

// A real engine whose open of one chosen file first does something to the run: kills this
// engine, or cancels the run and waits until the cancel has stopped this engine. For tests of
// runs on several engine workers.

#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/Interruption.h"
#include "automation/lo/LoApplication.h"

#include <QFileInfo>

#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

namespace gm::test {

class MeddlingApplication : public Application
{
public:
    enum class Act { KillEngine, Cancel };
    MeddlingApplication(QString victim, Act act)
        : m_engine(std::make_unique<lo::LoApplication>(libreOfficeProgramDir())), m_victim(std::move(victim)), m_act(act)
    { }
    EngineInfo info() override { return m_engine->info(); }
    std::unique_ptr<Workbook> open(const QString &path, bool readOnly) override
    {
        if (QFileInfo(path).fileName() == m_victim) {
            if (m_act == Act::KillEngine) {
                ::kill(m_engine->enginePid(), SIGKILL);
            } else {
                requestCancel();
                // The run's watch stops every engine; no time limit is assumed for it.
                while (m_engine->isAlive())
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return m_engine->open(path, readOnly);
    }
    std::unique_ptr<Workbook> add() override { return m_engine->add(); }
    bool isAlive() const override { return m_engine->isAlive(); }
    void abort() override { m_engine->abort(); }
    void quit() override { m_engine->quit(); }

private:
    std::unique_ptr<lo::LoApplication> m_engine;
    QString m_victim;
    Act m_act;
};

} // namespace gm::test
