#include "automation/BatchFrame.h"

#include "automation/Durability.h"
#include "automation/EngineError.h"
#include "automation/EngineWorkers.h"
#include "automation/Interruption.h"
#include "automation/RunLog.h"
#include "automation/RunMemory.h"
#include "automation/SafeReplace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace gm {

namespace {
const QString kProgress = QStringLiteral("正在处理：");

// A missing entry, in the words the workbook backends use for it.
FileResult missingFile(const QString &path)
{
    const ErrorCode code = QFileInfo::exists(QFileInfo(path).absolutePath()) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    return {path, FileOutcome::Failed, static_cast<int>(code), EngineError::describe(code), {}};
}
// Runs one step of a file; a failure is noted in the result instead of ending the file.
template<typename Step> void attemptStep(FileResult &result, Step &&step)
{
    try {
        step();
    } catch (const EngineError &e) {
        result.outcome = FileOutcome::Failed;
        result.errorNumber = e.number();
        result.errorDescription = e.description();
        result.errorDetail = e.detail();
    } catch (const std::exception &) {
        result.outcome = FileOutcome::Failed;
        result.errorNumber = static_cast<int>(ErrorCode::Unexpected);
        result.errorDescription = EngineError::describe(ErrorCode::Unexpected);
    }
}

// The last steps of every file, on the thread that worked on it: none of its temporary files
// stays behind, and a file that failed because the run was stopped says so.
void endFile(FileResult &result, const QElapsedTimer &clock)
{
    removeOutstandingTemporaries();
    if (result.outcome == FileOutcome::Failed && interruptRequested()) {
        result.errorNumber = static_cast<int>(ErrorCode::Interrupted);
        result.errorDescription = EngineError::describe(ErrorCode::Interrupted);
    }
    result.milliseconds = clock.elapsed();
}

// The work of one entry on an engine worker, and the result it leaves.
void runWork(const EngineWork &work, FileContext &context, FileResult &result)
{
    attemptStep(result, [&] {
        work(context);
        if (const EngineError *held = context.heldFailure())
            throw *held;
    });
    if (result.outcome != FileOutcome::Failed)
        result.outcome = context.outcome();
}

// What two entries must not share while they run: the source and the file written.
QString entryKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

int defaultEngineJobs()
{
    return std::clamp(QThread::idealThreadCount(), 1, kMaxEngineJobs);
}

int RunSummary::failedCount() const
{
    int n = 0;
    for (const FileResult &f : files)
        n += f.outcome == FileOutcome::Failed ? 1 : 0;
    return n;
}

int RunSummary::unfinishedCount() const
{
    int n = 0;
    for (const FileResult &f : files)
        n += f.outcome == FileOutcome::Failed && f.errorNumber == static_cast<int>(ErrorCode::Interrupted) ? 1 : 0;
    return n;
}

FileContext::FileContext(BatchFrame &frame, QString path, int index, EngineSession *engines)
    : m_frame(frame), m_engines(engines ? *engines : frame.engines()), m_path(std::move(path)), m_index(index)
{ }

UserInterface &FileContext::ui()
{
    return m_frame.ui();
}

EngineSession &FileContext::engines()
{
    return m_engines;
}

void FileContext::showProgress()
{
    m_frame.ui().setStatus(kProgress + m_path);
}

void FileContext::recordFailure(const EngineError &error)
{
    m_held = error;
}

std::unique_ptr<Workbook> FileContext::open(const QString &path)
{
    return m_engines.open(path, m_frame.options().use);
}

BatchFrame::BatchFrame(UserInterface &ui, RunSettings settings, ApplicationFactory engineFactory)
    : m_ui(ui), m_settings(std::move(settings)), m_engineFactory(engineFactory), m_session(std::move(engineFactory))
{ }

BatchFrame::~BatchFrame() = default;

bool BatchFrame::checkList(UserInterface &ui, const QStringList &entries, const QString &message)
{
    if (!entries.isEmpty())
        return true;
    ui.inform(message);
    return false;
}

void BatchFrame::sweepFolders(const QStringList &entries) const
{
    // What runs of ours that died left beside the files of this run and in its output folder.
    QSet<QString> folders;
    if (!m_options->outputFolder.isEmpty())
        folders.insert(QFileInfo(m_options->outputFolder + QLatin1Char('/')).absolutePath());
    for (const QString &path : entries) {
        if (path.trimmed().isEmpty())
            continue;
        folders.insert(QFileInfo(path).absolutePath());
        folders.insert(QFileInfo(resolveLinkTarget(path)).absolutePath());
    }
    // Scratch folders of merges, sheet sources and printing live in the system's temporary folder.
    folders.insert(QDir::tempPath());
    for (const QString &folder : std::as_const(folders))
        sweepLeftovers(folder);
    // And the private folders and pipe sockets of engines whose program died, even when this
    // run starts no engine.
    EngineSession::removeDeadEngineLeftovers();
}

RunSummary BatchFrame::run(const QStringList &entries, const Operation &operation)
{
    m_options = &operation.options;
    keepFreedMemoryForReuse();
    RunSummary summary;
    std::optional<DeferredDurability> durability(std::in_place);
    m_ui.setBusy(true);
    sweepFolders(entries);
    // A stop signal or a cancel stops the engine at once, so that the file in progress fails now.
    std::optional<InterruptWatch> watch(std::in_place, [this] { m_session.abort(); });
    auto done = [&](FileResult result) {
        if (result.outcome == FileOutcome::Failed)
            recordFailure(result, summary);
        summary.files.push_back(std::move(result));
    };
    const int count = static_cast<int>(entries.size());
    int nonBlank = 0;
    for (const QString &path : entries)
        nonBlank += path.trimmed().isEmpty() ? 0 : 1;
    const bool handsOut
        = operation.prepare || (operation.changeOnWorkers && operation.options.saveMode != SaveMode::SaveLeaveOpen);
    const int workers = handsOut ? std::min(m_settings.jobs, nonBlank) : 1;
    if (workers > 1) {
        watch.reset(); // the workers' run watches its own engines
        runOnWorkers(entries, operation, workers, done);
    } else {
        for (int index = 0; index < count; ++index) {
            const QString &path = entries.at(index);
            if (path.trimmed().isEmpty())
                continue;
            QElapsedTimer clock;
            clock.start();
            if (std::optional<FileResult> settled = settledBeforeWork(path)) {
                done(std::move(*settled));
                continue;
            }
            m_ui.setProgress(index, count);
            FileResult result = runEntry(path, index, operation);
            endFile(result, clock);
            done(std::move(result));
        }
    }
    watch.reset();
    summary.interrupted = interruptRequested();
    summary.cancelled = summary.interrupted && interruptSignal() == 0 && cancelRequested();
    m_ui.setProgress(count, count);
    durability.reset(); // every change is on disk before the run reports its end
    finish(operation, summary);
    m_options = nullptr;
    return summary;
}

std::optional<FileResult> BatchFrame::settledBeforeWork(const QString &path)
{
    // Every entry the run does not reach is reported, so that nothing passes unnoticed.
    if (interruptRequested())
        return cancelledEntry(path);
    if (m_settings.missingFilesFail && !QFileInfo::exists(path))
        return missingFile(path);
    if (m_options->testExistence && !QFileInfo::exists(path))
        return FileResult{path, FileOutcome::Skipped, 0, {}, {}};
    return std::nullopt;
}

FileResult BatchFrame::cancelledEntry(const QString &path)
{
    const ErrorCode code = ErrorCode::Interrupted;
    return {path, FileOutcome::Failed, static_cast<int>(code), EngineError::describe(code), {}};
}

QString BatchFrame::cancelledMessage(const RunSummary &summary)
{
    const int unfinished = summary.unfinishedCount();
    return kRunCancelledMessage.arg(static_cast<int>(summary.files.size()) - unfinished).arg(unfinished);
}

FileResult BatchFrame::runEntry(const QString &path, int index, const Operation &operation)
{
    FileContext context(*this, path, index);
    FileResult result{path, FileOutcome::Processed, 0, {}, {}};
    // Every step of a file is attempted even when an earlier one failed, except that nothing
    // acts on a workbook that could not be opened; the last failure is the one recorded.
    auto attempt = [&](auto &&step) { attemptStep(result, step); };

    if (operation.prepare) {
        EngineWork work;
        attempt([&] {
            work = operation.prepare(context);
            if (const EngineError *held = context.heldFailure())
                throw *held;
        });
        if (result.outcome == FileOutcome::Failed)
            return result;
        if (work)
            runWork(work, context, result);
        else
            result.outcome = context.outcome();
        return result;
    }

    if (operation.process) {
        attempt([&] {
            operation.process(context);
            if (const EngineError *held = context.heldFailure())
                throw *held;
        });
        if (result.outcome != FileOutcome::Failed)
            result.outcome = context.outcome();
        return result;
    }

    if (prepareChange(context, result))
        changeWorkbook(context, operation, result);
    return result;
}

bool BatchFrame::prepareChange(FileContext &context, FileResult &result)
{
    const QString &path = context.path();
    if (m_options->showProgress)
        context.showProgress();

    if (m_options->readOnly != ReadOnlyPolicy::None && QFileInfo::exists(path) && !isOwnerWritable(path)) {
        if (m_options->readOnly == ReadOnlyPolicy::Skip) {
            result.outcome = FileOutcome::Skipped;
            return false;
        }
        attemptStep(result, [&] {
            if (!makeOwnerWritable(path))
                throw EngineError(ErrorCode::PermissionDenied, path);
        });
    }
    return true;
}

void BatchFrame::changeWorkbook(FileContext &context, const Operation &operation, FileResult &result)
{
    if (editWorkbook(context, operation, result, m_options->use) == Edit::RedoOnEngine)
        editWorkbook(context, operation, result, WorkbookUse::GuardedEngine);
}

BatchFrame::Edit BatchFrame::editWorkbook(FileContext &context, const Operation &operation, FileResult &result, WorkbookUse use)
{
    const QString &path = context.path();
    // Every step of a file is attempted even when an earlier one failed, except that nothing
    // acts on a workbook that could not be opened; the last failure is the one recorded.
    auto attempt = [&](auto &&step) { attemptStep(result, step); };

    std::unique_ptr<Workbook> workbook;
    attempt([&] { workbook = context.engines().open(path, use); });
    if (!workbook)
        return Edit::Done;

    bool needsEngine = false;
    attempt([&] {
        try {
            operation.change(*workbook, context);
        } catch (const EngineError &error) {
            if (error.code() != ErrorCode::XlsCellsNeedEngine || use != WorkbookUse::CellValues)
                throw;
            needsEngine = true;
            return;
        }
        if (const EngineError *held = context.heldFailure())
            throw *held;
    });
    if (needsEngine) {
        // The in-place editor cannot store everything the change writes exactly: the file's
        // change is done again from the start by the engine, whose save is checked cell by cell.
        attempt([&] { workbook->close(false); });
        context.clearFailure();
        return Edit::RedoOnEngine;
    }
    // A save that failed for want of room says so, whatever the backend reported.
    auto saving = [&](auto &&step) {
        return [&, step] {
            try {
                step();
            } catch (const EngineError &error) {
                throw explainWriteFailure(error, QFileInfo(resolveLinkTarget(path)).absolutePath(), 2 * QFileInfo(path).size());
            }
        };
    };
    switch (m_options->saveMode) {
    case SaveMode::SaveThenClose:
        attempt(saving([&] { workbook->save(); }));
        attempt([&] { workbook->close(false); });
        break;
    case SaveMode::CloseSaving:
        attempt(saving([&] { workbook->close(true); }));
        break;
    case SaveMode::CloseWithoutSaving:
        attempt([&] { workbook->close(false); });
        break;
    case SaveMode::SaveLeaveOpen:
        attempt(saving([&] { workbook->save(); }));
        m_leftOpen.push_back(std::move(workbook));
        break;
    }
    if (result.outcome != FileOutcome::Failed)
        result.outcome = context.outcome();
    return Edit::Done;
}

void BatchFrame::runOnWorkers(
    const QStringList &entries, const Operation &operation, int workers, const std::function<void(FileResult)> &done)
{
    const int count = static_cast<int>(entries.size());
    EngineWorkers pool(workers, m_engineFactory, count);
    // A stop signal or a cancel stops every engine at once, so that the files in progress fail now.
    InterruptWatch watch([&] {
        m_session.abort();
        pool.abort();
    });

    // Results are reported in list order, whichever worker ends first.
    int nextReport = 0;
    auto report = [&] {
        while (nextReport < count) {
            if (entries.at(nextReport).trimmed().isEmpty()) {
                ++nextReport;
                continue;
            }
            std::optional<FileResult> result = pool.take(nextReport);
            if (!result)
                break;
            done(std::move(*result));
            ++nextReport;
        }
    };

    for (int index = 0; index < count; ++index) {
        const QString &path = entries.at(index);
        if (path.trimmed().isEmpty())
            continue;
        QElapsedTimer clock;
        clock.start();
        if (std::optional<FileResult> settled = settledBeforeWork(path)) {
            pool.settle(index, std::move(*settled));
            report();
            continue;
        }
        // A file changed in place is the same file under each of its names.
        QStringList keys{entryKey(path)};
        if (!operation.prepare)
            keys << entryKey(resolveLinkTarget(path));
        if (operation.outputOf) {
            const QString output = operation.outputOf(path);
            if (!output.isEmpty())
                keys << entryKey(output);
        }
        // An entry is prepared only when no earlier entry with the same source or output is
        // still running, so that its questions see what those wrote. It is prepared while the
        // workers are busy, so that a worker that ends finds its next entry ready.
        if (!pool.waitForNoClash(keys, report)) {
            pool.settle(index, cancelledEntry(path));
            report();
            continue;
        }
        // Hands prepared engine work to the next free worker; a run stopped meanwhile leaves
        // the entry untouched.
        auto handOut = [&](EngineWorkers::Job job) {
            if (pool.waitForRoom(keys, report))
                pool.start(std::move(job));
            else
                pool.settle(index, cancelledEntry(path));
        };
        clock.restart();
        m_ui.setProgress(index, count);
        FileContext context(*this, path, index);
        FileResult result{path, FileOutcome::Processed, 0, {}, {}};
        if (!operation.prepare) {
            // A change: the editors' files are changed here, the engine's on a worker, also
            // when the editor finds that the engine must do the change after all.
            const bool toOpen = prepareChange(context, result);
            std::optional<WorkbookUse> engineUse;
            if (toOpen && EngineSession::engineBound(path, m_options->use))
                engineUse = m_options->use;
            else if (toOpen && editWorkbook(context, operation, result, m_options->use) == Edit::RedoOnEngine)
                engineUse = WorkbookUse::GuardedEngine;
            if (engineUse) {
                const qint64 preparing = clock.elapsed();
                handOut({index, keys, [this, &operation, prepared = result, index, preparing, use = *engineUse](EngineSession &engines) {
                             QElapsedTimer working;
                             working.start();
                             FileContext context(*this, prepared.path, index, &engines);
                             FileResult result = prepared;
                             editWorkbook(context, operation, result, use);
                             endFile(result, working);
                             result.milliseconds += preparing;
                             return result;
                         }});
            } else {
                endFile(result, clock);
                pool.settle(index, std::move(result));
            }
            report();
            continue;
        }
        EngineWork work;
        attemptStep(result, [&] {
            work = operation.prepare(context);
            if (const EngineError *held = context.heldFailure())
                throw *held;
        });
        if (result.outcome == FileOutcome::Failed || !work) {
            if (result.outcome != FileOutcome::Failed)
                result.outcome = context.outcome();
            endFile(result, clock);
            pool.settle(index, std::move(result));
            report();
            continue;
        }
        const qint64 preparing = clock.elapsed();
        handOut({index, keys, [this, path, index, work, preparing](EngineSession &engines) {
                     QElapsedTimer working;
                     working.start();
                     FileContext context(*this, path, index, &engines);
                     FileResult result{path, FileOutcome::Processed, 0, {}, {}};
                     runWork(work, context, result);
                     endFile(result, working);
                     result.milliseconds += preparing;
                     return result;
                 }});
        report();
    }
    pool.drain(report);
    report();
}

void BatchFrame::recordFailure(const FileResult &result, RunSummary &summary)
{
    if (!m_settings.isRecordError)
        return;
    // The line carries the system's detail after the description, unless it only repeats the
    // file's path, which the line names already.
    QString description = result.errorDescription;
    const QString &detail = result.errorDetail;
    if (!detail.isEmpty() && detail != result.path
        && QFileInfo(detail).absoluteFilePath() != QFileInfo(result.path).absoluteFilePath())
        description += QStringLiteral("（详细信息：") + detail + QStringLiteral("）");
    const QString &path = result.path;
    // A line that cannot be written is lost; the run goes on and says so once at its end.
    if (WriteError(m_settings.logFile, m_options->actionName, path, description, m_settings.createLogFolder))
        summary.logged = true;
    else
        summary.logFailed = true;
}

void BatchFrame::finish(const Operation &operation, const RunSummary &summary)
{
    m_ui.setStatus(QString());
    m_leftOpen.clear();
    m_session.quit();
    m_ui.setBusy(false);
    if (summary.interrupted && !summary.cancelled)
        return; // the program is being stopped: no message waits for an answer
    if (summary.cancelled)
        m_ui.inform(cancelledMessage(summary));
    else if (!operation.options.completionMessage.isEmpty())
        m_ui.inform(operation.options.completionMessage);
    if (summary.logFailed)
        m_ui.inform(logUnwritableNotice(m_settings.logFile));
    if (summary.logged && m_ui.askOkCancel(kOfferLogQuestion))
        m_ui.openInViewer(m_settings.logFile);
}

} // namespace gm
