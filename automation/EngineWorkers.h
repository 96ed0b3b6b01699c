#pragma once

#include "automation/BatchFrame.h"
#include "automation/EngineSession.h"

#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace gm {

// The engine workers of one run: threads with an engine session each (so each has its own
// engine process, private folder and pipe, watchdog and restarts), taking one job at a time.
// Jobs are handed out by one thread, the run's; each job's result goes into the slot of its
// entry, where the run takes it, so that results are reported in list order whichever worker
// ends first. Files a worker writes reach the disk before the worker ends.
class EngineWorkers
{
public:
    struct Job
    {
        int index = 0; // the entry's slot
        QStringList keys; // the files the job works on: no two jobs with a common key run at once
        std::function<FileResult(EngineSession &)> run;
    };

    EngineWorkers(int count, const ApplicationFactory &factory, int entries);
    // Waits for the jobs in progress, then quits every engine.
    ~EngineWorkers();
    EngineWorkers(const EngineWorkers &) = delete;
    EngineWorkers &operator=(const EngineWorkers &) = delete;

    // Stops every worker's engine at once (any thread): the files in progress fail now.
    void abort();

    // Waits until a worker is free and no job in progress shares a key with `keys`; returns
    // false when the run is stopped meanwhile. `report` is called, unlocked, whenever a job
    // ended. Only the run's thread hands jobs out, so the room found stays free for start().
    bool waitForRoom(const QStringList &keys, const std::function<void()> &report);
    // The same without waiting for a free worker: the next entry is prepared while the
    // workers are busy, and handed out when one is free.
    bool waitForNoClash(const QStringList &keys, const std::function<void()> &report);
    // The same without waiting.
    bool hasRoom(const QStringList &keys);
    void start(Job job);
    // Waits until every job handed out has ended.
    void drain(const std::function<void()> &report);

    // Puts the result of an entry the run settled itself into its slot.
    void settle(int index, FileResult result);
    // The result at `index` once it is known (taken out of its slot).
    std::optional<FileResult> take(int index);
    // Waits for the result at `index` of a job handed out, and takes it.
    FileResult waitFor(int index);

private:
    struct Worker
    {
        explicit Worker(const ApplicationFactory &factory) : engines(factory) { }
        EngineSession engines;
        std::optional<Job> job; // the entry being worked on; none while idle
        std::thread thread;
    };

    bool waitUntil(const std::function<bool()> &ready, const std::function<void()> &report);
    Worker *idleWorker() const;
    bool clashes(const QStringList &keys) const;
    void work(Worker &worker);

    std::vector<std::unique_ptr<Worker>> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closing = false;
    QSet<QString> m_inFlight;
    std::vector<std::optional<FileResult>> m_results;
};

} // namespace gm
