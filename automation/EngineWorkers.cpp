#include "automation/EngineWorkers.h"

#include "automation/Durability.h"
#include "automation/Interruption.h"

#include <algorithm>

namespace gm {

EngineWorkers::EngineWorkers(int count, const ApplicationFactory &factory, int entries) : m_results(static_cast<size_t>(entries))
{
    for (int i = 0; i < count; ++i)
        m_workers.push_back(std::make_unique<Worker>(factory));
    for (auto &worker : m_workers)
        worker->thread = std::thread([this, w = worker.get()] { work(*w); });
}

EngineWorkers::~EngineWorkers()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    for (auto &worker : m_workers)
        if (worker->thread.joinable())
            worker->thread.join();
}

void EngineWorkers::abort()
{
    for (auto &worker : m_workers)
        worker->engines.abort();
    {
        std::lock_guard lock(m_mutex); // a waiting run sees the stop after this
    }
    m_changed.notify_all();
}

bool EngineWorkers::waitForRoom(const QStringList &keys, const std::function<void()> &report)
{
    return waitUntil([&] { return !clashes(keys) && idleWorker(); }, report);
}

bool EngineWorkers::waitForNoClash(const QStringList &keys, const std::function<void()> &report)
{
    return waitUntil([&] { return !clashes(keys); }, report);
}

bool EngineWorkers::waitUntil(const std::function<bool()> &ready, const std::function<void()> &report)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (interruptRequested())
            return false;
        if (ready())
            return true;
        m_changed.wait(lock);
        lock.unlock();
        report();
        lock.lock();
    }
}

bool EngineWorkers::hasRoom(const QStringList &keys)
{
    std::lock_guard lock(m_mutex);
    return !clashes(keys) && idleWorker();
}

void EngineWorkers::start(Job job)
{
    {
        std::lock_guard lock(m_mutex);
        Worker *worker = idleWorker();
        for (const QString &key : std::as_const(job.keys))
            m_inFlight.insert(key);
        worker->job = std::move(job);
    }
    m_changed.notify_all();
}

void EngineWorkers::drain(const std::function<void()> &report)
{
    std::unique_lock lock(m_mutex);
    while (std::any_of(m_workers.begin(), m_workers.end(), [](const auto &w) { return w->job.has_value(); })) {
        m_changed.wait(lock);
        lock.unlock();
        report();
        lock.lock();
    }
}

void EngineWorkers::settle(int index, FileResult result)
{
    std::lock_guard lock(m_mutex);
    m_results[static_cast<size_t>(index)] = std::move(result);
}

std::optional<FileResult> EngineWorkers::take(int index)
{
    std::lock_guard lock(m_mutex);
    std::optional<FileResult> result;
    result.swap(m_results[static_cast<size_t>(index)]);
    return result;
}

FileResult EngineWorkers::waitFor(int index)
{
    std::unique_lock lock(m_mutex);
    std::optional<FileResult> &slot = m_results[static_cast<size_t>(index)];
    m_changed.wait(lock, [&] { return slot.has_value(); });
    FileResult result = std::move(*slot);
    slot.reset();
    return result;
}

EngineWorkers::Worker *EngineWorkers::idleWorker() const
{
    for (const auto &worker : m_workers)
        if (!worker->job)
            return worker.get();
    return nullptr;
}

bool EngineWorkers::clashes(const QStringList &keys) const
{
    return std::any_of(keys.begin(), keys.end(), [&](const QString &key) { return m_inFlight.contains(key); });
}

void EngineWorkers::work(Worker &worker)
{
    {
        // The worker's files reach the disk before the run reports its end.
        DeferredDurability durability;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [&] { return worker.job.has_value() || m_closing; });
            if (!worker.job)
                break;
            Job &job = *worker.job;
            lock.unlock();
            FileResult result = job.run(worker.engines);
            lock.lock();
            m_results[static_cast<size_t>(job.index)] = std::move(result);
            for (const QString &key : std::as_const(job.keys))
                m_inFlight.remove(key);
            worker.job.reset();
            m_changed.notify_all();
        }
    }
    worker.engines.quit();
}

} // namespace gm
