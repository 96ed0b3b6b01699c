#include "automation/lo/Watchdog.h"

#include "automation/lo/EngineProcess.h"

#include <algorithm>

namespace gm::lo {

namespace {
// Calls shorter than this never read the engine's scheduling figures.
constexpr std::chrono::milliseconds kSampleAfter{1000};
} // namespace

Watchdog::Watchdog(std::function<void()> onExpire, WaitSampler sampleWaits, int maxStretch)
    : m_onExpire(std::move(onExpire)),
      m_sampleWaits(std::move(sampleWaits)),
      m_maxStretch(std::max(1, maxStretch)),
      m_thread([this] { loop(); })
{ }

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Watchdog::arm(std::chrono::milliseconds limit)
{
    {
        std::lock_guard lock(m_mutex);
        m_armedAt = std::chrono::steady_clock::now();
        m_limit = limit;
        m_deadline = m_armedAt + limit;
        m_sampled = false;
        ++m_generation;
        m_armed = true;
    }
    m_wake.notify_all();
}

void Watchdog::disarm()
{
    std::lock_guard lock(m_mutex);
    m_armed = false;
}

QHash<int, qint64> Watchdog::sampleUnlocked(std::unique_lock<std::mutex> &lock, bool &stillArmed)
{
    // Reading /proc must not hold up arm() and disarm() of the calling thread.
    const quint64 generation = m_generation;
    lock.unlock();
    QHash<int, qint64> sample = m_sampleWaits();
    lock.lock();
    stillArmed = m_armed && !m_stop && m_generation == generation;
    return sample;
}

void Watchdog::loop()
{
    using clock = std::chrono::steady_clock;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (!m_armed) {
            m_wake.wait(lock);
            continue;
        }
        const auto now = clock::now();
        const bool sampling = m_sampleWaits && !m_sampled;
        const auto wakeAt = sampling ? std::min(m_deadline, m_armedAt + kSampleAfter) : m_deadline;
        if (now < wakeAt) {
            m_wake.wait_until(lock, wakeAt);
            continue;
        }
        if (sampling && now < m_deadline) {
            bool armed = false;
            QHash<int, qint64> baseline = sampleUnlocked(lock, armed);
            if (armed) {
                m_baseline = std::move(baseline);
                m_sampled = true;
            }
            continue;
        }
        if (m_sampled) {
            // Past the deadline: add the time the engine waited for a CPU since the sample.
            bool armed = false;
            const QHash<int, qint64> current = sampleUnlocked(lock, armed);
            if (!armed)
                continue;
            const std::chrono::nanoseconds waited(EngineProcess::longestWaitSince(current, m_baseline));
            const auto stretched = std::min(
                m_armedAt + m_limit + std::chrono::duration_cast<clock::duration>(waited), m_armedAt + m_limit * m_maxStretch);
            if (stretched > clock::now()) {
                m_deadline = stretched;
                continue;
            }
        }
        m_armed = false;
        m_fired = true;
        lock.unlock();
        m_onExpire();
        lock.lock();
    }
}

} // namespace gm::lo
