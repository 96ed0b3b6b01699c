#pragma once

// The one driver every batch operation runs in: check the list, start the run, walk the
// entries, show progress, apply the read-only policy, open, change, save and close, record
// failures in the run log, finish, report and offer the log. Operations supply their change
// and options; they never loop over files or write the run log themselves.

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/UserInterface.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace gm {

enum class ReadOnlyPolicy {
    None, // no read-only step: saving a read-only file in place fails and is logged
    Skip, // read-only files are left alone, nothing is logged
    MakeWritable, // read-only files get the owner's write permission, then are processed
};

enum class SaveMode {
    SaveThenClose, // Save, then Close without saving
    CloseSaving, // Close(SaveChanges = true)
    CloseWithoutSaving, // read-only use of the workbook
    SaveLeaveOpen, // Save; the workbook stays open until the run ends
};

enum class FileOutcome { Processed, Copied, Skipped, Failed };

struct FileResult
{
    QString path;
    FileOutcome outcome = FileOutcome::Processed;
    int errorNumber = 0;
    QString errorDescription;
    QString errorDetail; // the system's own account (cause, path), for the run log
    qint64 milliseconds = 0; // time spent on the entry
};

struct RunSummary
{
    std::vector<FileResult> files; // one per non-blank entry, in list order
    bool logged = false; // at least one failure was written to the run log
    bool logFailed = false; // at least one failure could not be written to the run log
    bool stopped = false; // the run ended at Check list (empty list)
    bool interrupted = false; // a stop signal or a cancel ended the run before its last entry
    bool cancelled = false; // the user cancelled the run (the program goes on)
    int failedCount() const;
    // Entries the run did not finish: the one stopped under way and those it never reached.
    int unfinishedCount() const;
};

struct RunOptions
{
    QString actionName; // run-log action name
    QString emptyListMessage = QStringLiteral("没有需要处理的EXCEL文档！");
    QString completionMessage;
    bool testExistence = true; // skip entries naming no existing file
    ReadOnlyPolicy readOnly = ReadOnlyPolicy::None;
    SaveMode saveMode = SaveMode::SaveThenClose;
    bool showProgress = true;
    WorkbookUse use = WorkbookUse::Engine; // which members the change uses (picks the backend)
    QString outputFolder; // where the operation writes new files, if anywhere else
};

// The message that replaces the completion message of a cancelled run.
inline const QString kRunCancelledMessage = QStringLiteral("运行已取消：已处理 %1 个文件，其余 %2 个文件未处理。");

// The question at the end of a run that logged failures.
inline const QString kOfferLogQuestion = QStringLiteral("日志文件记录了处理过程中发生的异常，\n是否查看日志文件？");

struct RunSettings
{
    bool isRecordError = false;
    QString logFile;
    bool createLogFolder = false; // make the log's folder when it is missing (the default log)
    // Every entry that names no existing file fails as "not found", whatever the operation's
    // testExistence says (the command line, where a mistyped path must not pass unnoticed).
    bool missingFilesFail = false;
    // How many engines may work at once on an operation that hands its engine work out (one
    // worker thread with its own engine each); 1 works every file on the run's own thread.
    int jobs = 1;
};

// The most engines a run starts at once (each takes a few hundred megabytes), and how many it
// starts when not told: one per processor.
constexpr int kMaxEngineJobs = 32;
int defaultEngineJobs();

class BatchFrame;

// What an operation's per-file code sees of the run.
class FileContext
{
public:
    // `engines` are the engines of the thread the file is worked on (the run's own by default).
    FileContext(BatchFrame &frame, QString path, int index, EngineSession *engines = nullptr);
    const QString &path() const { return m_path; }
    int index() const { return m_index; }
    UserInterface &ui();
    EngineSession &engines();
    void showProgress();
    // Opens a workbook with the backend the run's options allow for this file.
    std::unique_ptr<Workbook> open(const QString &path);
    void setOutcome(FileOutcome outcome) { m_outcome = outcome; }
    FileOutcome outcome() const { return m_outcome; }
    // Holds a failure of one step of the change and lets the change go on with its next
    // step; the file is recorded as failed with the last such failure.
    void recordFailure(const EngineError &error);
    const EngineError *heldFailure() const { return m_held ? &*m_held : nullptr; }
    // Forgets a held failure (the change is done again on another backend).
    void clearFailure() { m_held.reset(); }

private:
    BatchFrame &m_frame;
    EngineSession &m_engines;
    QString m_path;
    int m_index;
    FileOutcome m_outcome = FileOutcome::Processed;
    std::optional<EngineError> m_held;
};

// The engine-bound part of an entry, run on one of the run's engine workers.
using EngineWork = std::function<void(FileContext &)>;

struct Operation
{
    RunOptions options;
    // Called with the open workbook when the frame opens and saves the file itself.
    std::function<void(Workbook &, FileContext &)> change;
    // Called instead of the frame's open/change/save steps when the operation handles the
    // entry itself (conversion writes new files and may copy or skip an entry).
    std::function<void(FileContext &)> process;
    // Instead of `process`, an operation whose engine work may run on several engines at once
    // splits each entry in two. `prepare` runs on the run's own thread, entry after entry in
    // list order: it checks the source, asks the user what it must, shows progress, and may
    // settle the entry itself (copy, skip, fail). When the entry needs the engine it returns
    // that work, which then runs on a free engine worker while the next entries are prepared.
    // The work sees the worker's own engines and never talks to the user.
    std::function<EngineWork(FileContext &)> prepare;
    // The file an entry writes, if any. Entries that name the same source or write the same
    // file never run at once: the later one is prepared only when the earlier one is done,
    // so that it sees (and may ask about) the earlier one's output.
    std::function<QString(const QString &path)> outputOf;
    // A `change` that asks nothing and shares nothing between files may be worked on by the
    // run's engine workers: a file the engine changes (an .xls under WorkbookUse::GuardedEngine,
    // or one whose change the record editor hands to the engine under WorkbookUse::CellValues)
    // is opened, changed, saved and closed on a free worker while the next entries are
    // prepared; the read-only step and progress stay on the run's thread, and files the
    // editors change are worked there too. Never with SaveMode::SaveLeaveOpen.
    bool changeOnWorkers = false;
};

class BatchFrame
{
public:
    BatchFrame(UserInterface &ui, RunSettings settings, ApplicationFactory engineFactory = {});
    ~BatchFrame();

    // Runs the operation over the list entries. Validation of the operation's inputs is the
    // caller's step between Check list (checkList) and run().
    RunSummary run(const QStringList &entries, const Operation &operation);

    // Check list: shows the message and returns false when the list is empty.
    static bool checkList(UserInterface &ui, const QStringList &entries, const QString &message);
    // The result of an entry a stopped run never reached: left as it was, like the file that
    // was rolled back under way.
    static FileResult cancelledEntry(const QString &path);
    // What the user is told at the end of a cancelled run.
    static QString cancelledMessage(const RunSummary &summary);

    UserInterface &ui() { return m_ui; }
    EngineSession &engines() { return m_session; }
    const RunOptions &options() const { return *m_options; }

private:
    void sweepFolders(const QStringList &entries) const;
    FileResult runEntry(const QString &path, int index, const Operation &operation);
    // The steps of a `change` entry before its workbook is opened (progress, read-only
    // policy); false when they settle the entry.
    bool prepareChange(FileContext &context, FileResult &result);
    // Opens, changes, saves and closes the workbook of a `change` entry on the context's engines.
    void changeWorkbook(FileContext &context, const Operation &operation, FileResult &result);
    // The same with the backend chosen for `use`. RedoOnEngine: the record editor cannot store
    // what the change writes; nothing was saved, and the change is to be done again from the
    // start with WorkbookUse::GuardedEngine (on whichever engines are free).
    enum class Edit { Done, RedoOnEngine };
    Edit editWorkbook(FileContext &context, const Operation &operation, FileResult &result, WorkbookUse use);
    // The entry's checks before any work: a stopped run, a missing file. Returns the result
    // when they settle the entry.
    std::optional<FileResult> settledBeforeWork(const QString &path);
    // Work handed out to engine workers; results are reported in list order.
    void runOnWorkers(
        const QStringList &entries, const Operation &operation, int workers, const std::function<void(FileResult)> &done);
    void applyChange(Workbook &workbook, FileContext &context, const Operation &operation);
    void recordFailure(const FileResult &result, RunSummary &summary);
    void finish(const Operation &operation, const RunSummary &summary);

    UserInterface &m_ui;
    RunSettings m_settings;
    ApplicationFactory m_engineFactory; // the workers' engines are made the same way
    EngineSession m_session;
    const RunOptions *m_options = nullptr;
    std::vector<std::unique_ptr<Workbook>> m_leftOpen; // SaveLeaveOpen workbooks, closed at the end
};

} // namespace gm
