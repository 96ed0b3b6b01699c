// .xls changes and merge sources on several engine workers, on real workbooks through real
// engines: the same files, log, questions and order as with one engine; a killed engine fails
// only its own file; a cancel leaves no engine, no temporary file and no half-changed workbook.

#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "automation/xls/XlsContent.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "operations/sheets/SheetOperations.h"
#include "operations/workbook/MergeOperation.h"
#include "support/MeddlingEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace gm;
using gm::test::fixture;
using gm::test::MeddlingApplication;
using gm::test::readAll;

namespace {

struct Outcome
{
    QString path;
    FileOutcome outcome;
    int errorNumber;
    bool operator==(const Outcome &) const = default;
};

std::vector<Outcome> outcomes(const RunSummary &summary)
{
    std::vector<Outcome> list;
    for (const FileResult &file : summary.files)
        list.push_back({file.path, file.outcome, file.errorNumber});
    return list;
}

// What a workbook holds, for comparing two runs: an .xls by its sheets and every cell's
// type and value read from its records (the engine's saves differ in bytes from run to run),
// any other file by its bytes.
QByteArray contentOf(const QString &path)
{
    if (!path.endsWith(QStringLiteral(".xls")))
        return readAll(path);
    QByteArray text;
    try {
        const xls::WorkbookContent book = xls::readXlsContent(path);
        for (const xls::SheetContent &sheet : book.sheets) {
            text += sheet.name.toUtf8() + '\n';
            for (const auto &[key, cell] : sheet.cells)
                text += QByteArray::number(key) + ':' + QByteArray::number(int(cell.type)) + ':' + cell.display().toUtf8() + '\n';
        }
    } catch (const EngineError &) {
        return readAll(path); // not a workbook: as it is
    }
    return text;
}

class XlsChangeWorkersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = dir.filePath(QStringLiteral("books"));
        settings.isRecordError = true;
        settings.logFile = dir.filePath(QStringLiteral("run.log"));
    }
    void TearDown() override
    {
        clearInterruptRequest();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
        EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
    }

    // Fresh copies, always at the same paths: .xls files, one of them (print_pages) a file
    // whose save through the engine the guard refuses, so that it stays as it was; an .xlsx
    // the package editor changes on the run's thread, a read-only .xls, a file that is no
    // workbook, a workbook the engine would save with losses (from the corpus, when it is
    // there), a blank entry, a missing file and one file named twice.
    QStringList books()
    {
        QDir(folder).removeRecursively();
        QStringList entries;
        auto add = [&](const char *fixtureName, const char *name) {
            entries << gm::test::copyInto(fixture(QString::fromLatin1(fixtureName)), folder, QString::fromLatin1(name));
        };
        add("sheets_second_active.xls", "a.xls");
        add("print_pages.xls", "b.xls");
        entries << folder + QStringLiteral("/bad.xls");
        gm::test::writeAll(entries.last(), "no workbook at all");
        add("sheets_second_active.xlsx", "c.xlsx");
        entries << QStringLiteral("  ");
        add("sheets_second_active.xls", "d.xls");
        add("sheets_second_active.xls", "readonly.xls");
        QFile::setPermissions(entries.last(), QFile::ReadOwner | QFile::ReadGroup);
        const QString damaging = gm::test::corpusFile(QStringLiteral("xls/calamine-empty-string.xls"));
        if (!damaging.isEmpty())
            entries << gm::test::copyInto(damaging, folder, QStringLiteral("lossy.xls"));
        entries << folder + QStringLiteral("/missing.xls");
        add("sheets_second_active.xls", "e.xls");
        entries << entries.at(1);
        return entries;
    }

    QMap<QString, QByteArray> contents() const
    {
        QMap<QString, QByteArray> files;
        for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            files.insert(name, contentOf(folder + QLatin1Char('/') + name));
        return files;
    }

    // The log without the time of each line.
    QStringList logLines() const
    {
        QStringList lines = QString::fromUtf8(readAll(settings.logFile)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (QString &line : lines)
            line = line.section(QLatin1Char('\t'), 1);
        return lines;
    }

    QTemporaryDir dir;
    QString folder;
    gm::test::ScriptedUi ui;
    RunSettings settings;
};

CellListEntry cell(int row, int column, const char *text)
{
    return {QString::number(row), QString::number(column), QString::fromUtf8(text)};
}

using Change = std::function<RunSummary(const QStringList &, UserInterface &, const RunSettings &, ApplicationFactory)>;

RunSummary setSomeCells(const QStringList &entries, UserInterface &ui, const RunSettings &settings, ApplicationFactory factory)
{
    // On every worksheet: a number, a formula over it and a text.
    return setCells({entries, {cell(2, 5, "41"), cell(3, 5, "=E2+1"), cell(40, 20, "并行")}, CellSheets::All, {}}, ui, settings,
        std::move(factory));
}

RunSummary replaceSheet(const QStringList &entries, UserInterface &ui, const RunSettings &settings, ApplicationFactory factory)
{
    ReplaceInputs inputs;
    inputs.entries = entries;
    inputs.find = QStringLiteral("sheet");
    inputs.replacement = QStringLiteral("page");
    inputs.contains = true;
    return replaceContent(inputs, ui, settings, std::move(factory));
}

RunSummary insertSecondSheet(const QStringList &entries, UserInterface &ui, const RunSettings &settings, ApplicationFactory factory)
{
    return insertSheet(InsertSheetInputs{entries, fixture(QStringLiteral("sheets_second_active.xlsx")), QStringLiteral("第二")}, ui,
        settings, std::move(factory));
}

// Row 1 of the active sheet deleted: an .xls change that only the engine makes.
RunSummary deleteFirstRow(const QStringList &entries, UserInterface &ui, const RunSettings &settings, ApplicationFactory factory)
{
    RowsColumnsInputs inputs;
    inputs.entries = entries;
    inputs.mode = RowsColumnsMode::Delete;
    inputs.rows = true;
    inputs.rowFrom = QStringLiteral("1");
    inputs.rowTo = QStringLiteral("1");
    return runRowsColumns(inputs, ui, settings, std::move(factory));
}

} // namespace

TEST_F(XlsChangeWorkersTest, TwoWorkersChangeTheSameFilesWithTheSameLogAndOrderAsOne)
{
    struct Case
    {
        const char *name;
        Change change;
        bool engineWork; // some of the files surely need the engine
    };
    // The engine's part of every file, also a change the record editor hands over (a formula),
    // runs on the workers: no engine starts on the run's thread.
    const std::thread::id runThread = std::this_thread::get_id();
    std::atomic<int> runThreadEngines = 0, workerEngines = 0;
    const ApplicationFactory factory = [&] {
        ++(std::this_thread::get_id() == runThread ? runThreadEngines : workerEngines);
        return EngineSession::defaultFactory()();
    };
    for (const Case &c : {Case{"set cells", setSomeCells, true}, Case{"replace", replaceSheet, false}}) {
        SCOPED_TRACE(c.name);
        struct Run
        {
            std::vector<Outcome> files;
            QStringList log, questions, messages;
            QMap<QString, QByteArray> written;
        };
        QMap<QString, QByteArray> originals;
        auto run = [&](int jobs) {
            const QStringList entries = books();
            originals = contents();
            QFile::remove(settings.logFile);
            ui.questions.clear();
            ui.messages.clear();
            settings.jobs = jobs;
            runThreadEngines = 0;
            workerEngines = 0;
            const RunSummary summary = c.change(entries, ui, settings, factory);
            if (jobs > 1) {
                EXPECT_EQ(runThreadEngines, 0);
                if (c.engineWork) {
                    EXPECT_GT(workerEngines, 0);
                }
            }
            return Run{outcomes(summary), logLines(), ui.questions, ui.messages, contents()};
        };
        const Run one = run(1);
        const Run two = run(2);
        EXPECT_EQ(two.files, one.files);
        EXPECT_EQ(two.log, one.log);
        EXPECT_EQ(two.questions, one.questions);
        EXPECT_EQ(two.messages, one.messages);
        EXPECT_EQ(two.written.keys(), one.written.keys());
        for (auto it = one.written.begin(); it != one.written.end(); ++it)
            EXPECT_EQ(two.written.value(it.key()), it.value()) << it.key().toStdString();

        // The runs did real work: the workbooks changed (the read-only one too), the bad and
        // the missing file failed in their places, and the lossy one stayed as it was.
        for (const char *name : {"a.xls", "c.xlsx", "d.xls", "readonly.xls", "e.xls"})
            EXPECT_NE(one.written.value(QString::fromLatin1(name)), originals.value(QString::fromLatin1(name))) << name;
        EXPECT_EQ(one.written.value(QStringLiteral("bad.xls")), "no workbook at all");
        if (originals.contains(QStringLiteral("lossy.xls"))) {
            EXPECT_EQ(one.written.value(QStringLiteral("lossy.xls")), originals.value(QStringLiteral("lossy.xls")));
        }
        EXPECT_EQ(one.log.filter(QStringLiteral("/bad.xls")).size(), 1) << one.log.join(u'\n').toStdString();
        EXPECT_EQ(one.questions, QStringList{kOfferLogQuestion});
        EXPECT_EQ(one.files.size(), size_t(originals.size() + 1 + 1)); // the missing file and b.xls twice
    }
}

TEST_F(XlsChangeWorkersTest, SheetsInsertedIntoXlsTargetsAreCopiedByTheWorkersEngines)
{
    // Each worker's engine loads the source itself and copies the sheet from it; the run's own
    // thread starts no engine (the source is an .xlsx, which the package editor reads).
    QDir(folder).removeRecursively();
    QStringList entries;
    for (const char *name : {"a.xls", "b.xls"})
        entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QString::fromLatin1(name));
    const std::thread::id runThread = std::this_thread::get_id();
    std::atomic<int> runThreadEngines = 0;
    const ApplicationFactory factory = [&] {
        if (std::this_thread::get_id() == runThread)
            ++runThreadEngines;
        return EngineSession::defaultFactory()();
    };
    settings.jobs = 2;
    const RunSummary summary = insertSecondSheet(entries, ui, settings, factory);
    EXPECT_EQ(summary.failedCount(), 0) << logLines().join(u'\n').toStdString();
    EXPECT_EQ(runThreadEngines, 0);
    for (const QString &path : std::as_const(entries)) {
        QStringList names;
        for (const xls::SheetContent &sheet : xls::readXlsContent(path).sheets)
            names << sheet.name;
        EXPECT_EQ(names, (QStringList{QStringLiteral("第二 (2)"), QStringLiteral("First"), QStringLiteral("第二")})) << path.toStdString();
    }
}

TEST_F(XlsChangeWorkersTest, AnEngineKilledUnderOneChangeFailsOnlyThatFileAndKeepsItWhole)
{
    QDir(folder).removeRecursively();
    QStringList entries;
    for (const char *name : {"a.xls", "b.xls", "victim.xls", "d.xls", "e.xls"})
        entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QString::fromLatin1(name));
    const QByteArray original = readAll(entries[2]);
    std::atomic<int> started{0};
    auto factory = [&]() -> std::unique_ptr<Application> {
        ++started;
        return std::make_unique<MeddlingApplication>(QStringLiteral("victim.xls"), MeddlingApplication::Act::KillEngine);
    };
    settings.jobs = 2;
    const RunSummary summary = deleteFirstRow(entries, ui, settings, factory);
    ASSERT_EQ(summary.files.size(), entries.size());
    for (const FileResult &file : summary.files) {
        SCOPED_TRACE(file.path.toStdString());
        if (file.path.endsWith(QStringLiteral("victim.xls"))) {
            EXPECT_EQ(file.errorDescription, EngineError::describe(ErrorCode::EngineDied));
            EXPECT_EQ(readAll(file.path), original);
        } else {
            EXPECT_EQ(file.outcome, FileOutcome::Processed) << file.errorDescription.toStdString();
            EXPECT_NE(readAll(file.path), original) << "the change landed";
        }
    }
    EXPECT_GE(started.load(), 2); // the victim's worker started a new engine for its next file
    EXPECT_EQ(logLines().size(), 1);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), entries.size()) << "no temporary file left";
}

TEST_F(XlsChangeWorkersTest, ACancelLeavesEveryWorkbookChangedCompletelyOrNotAtAll)
{
    QDir(folder).removeRecursively();
    QStringList entries;
    for (const char *name : {"a.xls", "b.xls", "c.xls", "d.xls", "e.xls", "f.xls", "g.xls"})
        entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QString::fromLatin1(name));
    const QByteArray original = readAll(entries[0]);
    // What a complete change gives, from a run on one engine.
    const QString reference = gm::test::copyInto(entries[0], dir.filePath(QStringLiteral("reference")));
    settings.jobs = 1;
    ASSERT_EQ(setSomeCells({reference}, ui, settings, {}).failedCount(), 0);
    const QByteArray changed = contentOf(reference);
    ui.messages.clear();

    settings.jobs = 2;
    auto factory
        = [] { return std::make_unique<MeddlingApplication>(QStringLiteral("c.xls"), MeddlingApplication::Act::Cancel); };
    const RunSummary summary = setSomeCells(entries, ui, settings, factory);
    EXPECT_TRUE(summary.cancelled);
    ASSERT_EQ(summary.files.size(), entries.size());
    EXPECT_EQ(summary.files[2].errorNumber, static_cast<int>(ErrorCode::Interrupted));
    for (const FileResult &file : summary.files) {
        SCOPED_TRACE(file.path.toStdString());
        if (file.outcome == FileOutcome::Processed) {
            EXPECT_EQ(contentOf(file.path), changed);
        } else {
            EXPECT_EQ(file.errorNumber, static_cast<int>(ErrorCode::Interrupted));
            EXPECT_EQ(readAll(file.path), original);
        }
    }
    EXPECT_GE(summary.unfinishedCount(), 1);
    EXPECT_EQ(ui.messages, QStringList{BatchFrame::cancelledMessage(summary)});
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u' '),
        QStringLiteral("a.xls b.xls c.xls d.xls e.xls f.xls g.xls"))
        << "no temporary file left";
}

TEST_F(XlsChangeWorkersTest, AMergeOfXlsSourcesGivesTheSameWorkbookWithOneAndTwoWorkers)
{
    QDir(folder).removeRecursively();
    QStringList entries;
    entries << gm::test::copyInto(fixture(QStringLiteral("print_pages.xls")), folder, QStringLiteral("p1.xls"));
    entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QStringLiteral("s1.xls"));
    entries << folder + QStringLiteral("/bad.xls");
    gm::test::writeAll(entries.last(), "no workbook at all");
    entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), folder, QStringLiteral("s2.xlsx"));
    entries << gm::test::copyInto(fixture(QStringLiteral("print_pages.xls")), folder, QStringLiteral("p2.xls"));
    entries << entries.at(1); // the same source twice
    entries << gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), folder, QStringLiteral("s3.xls"));

    struct Run
    {
        std::vector<Outcome> files;
        QStringList sheets, log, messages;
        QMap<QString, QByteArray> parts;
    };
    auto run = [&](int jobs) {
        const QString target = dir.filePath(QStringLiteral("merged-%1.xlsx").arg(jobs));
        QFile::remove(settings.logFile);
        ui.messages.clear();
        settings.jobs = jobs;
        MergeInputs inputs{entries, target, /*nameByBook=*/true, /*skipEmpty=*/true};
        MergeResult result;
        const RunSummary summary = mergeWorkbooks(inputs, ui, settings, false, &result);
        EXPECT_TRUE(result.written);
        QMap<QString, QByteArray> parts;
        for (const QString &name : gm::test::zipEntryNames(target))
            parts.insert(name, gm::test::zipEntry(target, name));
        return Run{outcomes(summary), result.sheetNames, logLines(), ui.messages, parts};
    };
    const Run one = run(1);
    const Run two = run(2);
    EXPECT_EQ(two.files, one.files);
    EXPECT_EQ(two.sheets, one.sheets);
    EXPECT_EQ(two.log, one.log);
    EXPECT_EQ(two.messages, one.messages);
    EXPECT_EQ(two.parts.keys(), one.parts.keys());
    for (auto it = one.parts.begin(); it != one.parts.end(); ++it)
        EXPECT_EQ(two.parts.value(it.key()), it.value()) << it.key().toStdString();

    // Every sound source is in, in list order; the bad one failed in its place, and the source
    // named twice could not take its prefixed names again.
    ASSERT_EQ(one.files.size(), size_t(entries.size()));
    EXPECT_EQ(one.files[2].outcome, FileOutcome::Failed);
    ASSERT_EQ(one.log.size(), 2) << one.log.join(u'\n').toStdString();
    EXPECT_TRUE(one.log[0].contains(QStringLiteral("/bad.xls")));
    EXPECT_TRUE(one.log[1].contains(QStringLiteral("/s1.xls")));
    for (const QString &prefix :
        {QStringLiteral("p1-"), QStringLiteral("s1-"), QStringLiteral("s2-"), QStringLiteral("p2-"), QStringLiteral("s3-")})
        EXPECT_TRUE(std::any_of(one.sheets.begin(), one.sheets.end(), [&](const QString &s) { return s.startsWith(prefix); }))
            << prefix.toStdString();
    EXPECT_EQ(one.sheets.first().left(3), QStringLiteral("p1-"));
}
