#pragma once

#include <QHash>

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

} // namespace gm::lo
