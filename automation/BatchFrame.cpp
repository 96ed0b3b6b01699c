#include "automation/BatchFrame.h"

#include "automation/Durability.h"
#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "automation/RunLog.h"
#include "automation/RunMemory.h"
#include "automation/SafeReplace.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

namespace gm {

namespace {
const QString kProgress = QStringLiteral("正在处理：");

// A missing entry, in the words the workbook backends use for it.
FileResult missingFile(const QString &path)
{
    const ErrorCode code = QFileInfo::exists(QFileInfo(path).absolutePath()) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound;
    return {path, FileOutcome::Failed, static_cast<int>(code), EngineError::describe(code), {}};
}
} // namespace

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

FileContext::FileContext(BatchFrame &frame, QString path, int index) : m_frame(frame), m_path(std::move(path)), m_index(index) { }

UserInterface &FileContext::ui()
{
    return m_frame.ui();
}

EngineSession &FileContext::engines()
{
    return m_frame.engines();
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
    return m_frame.engines().open(path, m_frame.options().use);
}

BatchFrame::BatchFrame(UserInterface &ui, RunSettings settings, ApplicationFactory engineFactory)
    : m_ui(ui), m_settings(std::move(settings)), m_session(std::move(engineFactory))
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
    for (int index = 0; index < count; ++index) {
        const QString &path = entries.at(index);
        if (path.trimmed().isEmpty())
            continue;
        if (interruptRequested()) {
            // Every entry the run does not reach is reported, so that nothing passes unnoticed.
            summary.interrupted = true;
            done(cancelledEntry(path));
            continue;
        }
        QElapsedTimer clock;
        clock.start();
        if (m_settings.missingFilesFail && !QFileInfo::exists(path)) {
            done(missingFile(path));
            continue;
        }
        if (m_options->testExistence && !QFileInfo::exists(path)) {
            done({path, FileOutcome::Skipped, 0, {}, {}});
            continue;
        }
        m_ui.setProgress(index, count);
        FileResult result = runEntry(path, index, operation);
        // Whatever way the file ended, none of its temporary files stays behind.
        removeOutstandingTemporaries();
        if (result.outcome == FileOutcome::Failed && interruptRequested()) {
            result.errorNumber = static_cast<int>(ErrorCode::Interrupted);
            result.errorDescription = EngineError::describe(ErrorCode::Interrupted);
        }
        result.milliseconds = clock.elapsed();
        done(std::move(result));
    }
    watch.reset();
    summary.interrupted = summary.interrupted || interruptRequested();
    summary.cancelled = summary.interrupted && interruptSignal() == 0 && cancelRequested();
    m_ui.setProgress(count, count);
    durability.reset(); // every change is on disk before the run reports its end
    finish(operation, summary);
    m_options = nullptr;
    return summary;
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
    auto attempt = [&](auto &&step) {
        try {
            step();
        } catch (const EngineError &e) {
            result.outcome = FileOutcome::Failed;
            result.errorNumber = e.number();
            result.errorDescription = e.description();
            result.errorDetail = e.detail();
        } catch (const std::exception &e) {
            result.outcome = FileOutcome::Failed;
            result.errorNumber = static_cast<int>(ErrorCode::Unexpected);
            result.errorDescription = EngineError::describe(ErrorCode::Unexpected);
        }
    };

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

    if (m_options->showProgress)
        context.showProgress();

    if (m_options->readOnly != ReadOnlyPolicy::None && QFileInfo::exists(path) && !isOwnerWritable(path)) {
        if (m_options->readOnly == ReadOnlyPolicy::Skip) {
            result.outcome = FileOutcome::Skipped;
            return result;
        }
        attempt([&] {
            if (!makeOwnerWritable(path))
                throw EngineError(ErrorCode::PermissionDenied, path);
        });
    }

    std::unique_ptr<Workbook> workbook;
    attempt([&] { workbook = context.open(path); });
    if (!workbook)
        return result;

    attempt([&] {
        operation.change(*workbook, context);
        if (const EngineError *held = context.heldFailure())
            throw *held;
    });
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
    return result;
}

void BatchFrame::recordFailure(const FileResult &result, RunSummary &summary)
{
    if (!m_settings.isRecordError)
        return;
    // The line carries the system's detail after the description, unless it only repeats the
    // file's path, which the line names already.
    QString description = result.errorDescription;
    const QString &detail = result.errorDetail;
    if (!detail.isEmpty() && detail != result.path && QFileInfo(detail).absoluteFilePath() != QFileInfo(result.path).absoluteFilePath())
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
