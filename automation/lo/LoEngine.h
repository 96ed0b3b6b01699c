#pragma once

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/lo/EngineLimits.h"
#include "automation/lo/EngineProcess.h"
#include "automation/lo/Watchdog.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <QSet>

#include <chrono>
#include <mutex>

namespace gm::lo {

// One running engine: its process, the UNO connection to it, and the watchdog. Shared by
// the application object and every workbook opened in it, so that it lives while they do.
class LoEngine
{
public:
    LoEngine(const QString &programDir, EngineLimits limits);
    ~LoEngine();

    // Runs f under the watchdog, turning every UNO failure into EngineError. Failures that
    // are not the engine's death become `fallback` with the UNO message as detail.
    template<typename F> auto call(std::chrono::milliseconds limit, ErrorCode fallback, F &&f) -> decltype(f());

    std::chrono::milliseconds limitForFile(qint64 bytes) const;
    const EngineLimits &limits() const { return m_limits; }
    css::uno::Reference<css::frame::XDesktop2> desktop() const { return m_desktop; }
    css::uno::Reference<css::uno::XComponentContext> context() const { return m_context; }
    bool isAlive();
    pid_t pid() const { return m_process.pid(); }
    bool startedFromFinishedProfile() const { return m_process.startedFromCopy(); }
    QStringList socketPaths() const { return m_process.socketPaths(); }
    EngineInfo info();
    void terminate();
    // Kills the process at once (any thread), as the watchdog does.
    void kill() { m_process.kill(); }

    // Lock files the engine writes beside open documents; removed when the engine dies.
    void documentOpened(const QString &path);
    void documentClosed(const QString &path);

private:
    void start(const css::uno::Reference<css::uno::XComponentContext> &local);
    [[noreturn]] void rethrowAsEngineError(ErrorCode fallback);
    void markDead();
    void removeLockFiles();

    EngineLimits m_limits;
    EngineProcess m_process;
    Watchdog m_watchdog;
    css::uno::Reference<css::uno::XComponentContext> m_context;
    css::uno::Reference<css::frame::XDesktop2> m_desktop;
    bool m_dead = false;
    std::mutex m_docsMutex;
    QSet<QString> m_openDocuments;
    EngineInfo m_info;
};

template<typename F> auto LoEngine::call(std::chrono::milliseconds limit, ErrorCode fallback, F &&f) -> decltype(f())
{
    if (m_dead)
        throw EngineError(m_watchdog.fired() ? ErrorCode::TimedOut : ErrorCode::EngineDied);
    struct Disarm
    {
        Watchdog &w;
        ~Disarm() { w.disarm(); }
    };
    try {
        m_watchdog.arm(limit);
        Disarm disarm{m_watchdog};
        return f();
    } catch (...) {
        rethrowAsEngineError(fallback);
    }
}

} // namespace gm::lo
