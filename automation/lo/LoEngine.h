#pragma once

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/lo/EngineLimits.h"
#include "automation/lo/EngineProcess.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <QSet>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace gm::lo {

// Bounds every engine call: when a call outlives its deadline the engine is killed, which
// releases the blocked call at once. A call that takes more than a second samples how long
// the engine's threads have waited for a CPU (sampleWaits), and that time, lost to other
// programs on a busy machine, is added to its limit up to maxStretch times the limit. A hung
// or stopped engine does not wait for a CPU, so it is killed at the limit itself.
class Watchdog
{
public:
    using WaitSampler = std::function<QHash<int, qint64>()>;
    explicit Watchdog(std::function<void()> onExpire, WaitSampler sampleWaits = {}, int maxStretch = 1);
    ~Watchdog();
    void arm(std::chrono::milliseconds limit);
    void disarm();
    bool fired() const { return m_fired; }
    void reset() { m_fired = false; }

private:
    void loop();
    QHash<int, qint64> sampleUnlocked(std::unique_lock<std::mutex> &lock, bool &stillArmed);

    std::function<void()> m_onExpire;
    WaitSampler m_sampleWaits;
    int m_maxStretch;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::steady_clock::time_point m_armedAt;
    std::chrono::steady_clock::time_point m_deadline;
    std::chrono::milliseconds m_limit{0};
    quint64 m_generation = 0;
    bool m_sampled = false;
    QHash<int, qint64> m_baseline;
    bool m_armed = false;
    bool m_stop = false;
    std::atomic<bool> m_fired = false;
    std::thread m_thread; // last: started once every member above is ready
};

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
    QStringList socketPaths() const { return m_process.socketPaths(); }
    EngineInfo info();
    void terminate();

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
