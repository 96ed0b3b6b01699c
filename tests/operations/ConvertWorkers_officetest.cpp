// Conversions on several engine workers, on real workbooks through real engines: the same
// outputs, log and order as one engine; a dead engine fails only its own file; a cancel leaves
// nothing behind; programs started together share the finished profile on disk safely.

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/Interruption.h"
#include "automation/PathHelpers.h"
#include "automation/lo/EngineProcess.h"
#include "automation/lo/LoApplication.h"
#include "operations/workbook/ConvertOperation.h"
#include "support/MeddlingEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

using namespace gm;
using gm::test::fixture;
using gm::test::MeddlingApplication;
using gm::test::readAll;

namespace {

class ConvertWorkersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        src = dir.filePath(QStringLiteral("src"));
        out = dir.filePath(QStringLiteral("out"));
        settings.isRecordError = true;
        settings.logFile = dir.filePath(QStringLiteral("run.log"));
    }
    void TearDown() override
    {
        clearInterruptRequest();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
        EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
    }

    // Copies of the two fixture workbooks under their own names, in list order.
    QStringList sources(const QStringList &names)
    {
        QStringList paths;
        for (const QString &name : names) {
            const QString folder = src + QLatin1Char('/') + QString::number(paths.size());
            const QString kind
                = paths.size() % 2 ? QStringLiteral("print_pages.xls") : QStringLiteral("sheets_second_active.xls");
            paths << gm::test::copyInto(fixture(kind), folder, name);
        }
        return paths;
    }

    RunSummary convert(const QStringList &entries, int jobs, int code, ApplicationFactory factory = {})
    {
        ConvertInputs inputs;
        inputs.entries = entries;
        inputs.targetIndex = gm::test::convertTargetIndex(code);
        inputs.outputFolder = out;
        settings.jobs = jobs;
        return convertWorkbooks(inputs, ui, settings, std::move(factory));
    }

    // The log without the time of each line.
    QStringList logLines() const
    {
        QStringList lines = QString::fromUtf8(readAll(settings.logFile)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        for (QString &line : lines)
            line = line.section(QLatin1Char('\t'), 1);
        return lines;
    }

    // Every file of the output folder (hidden ones too) with its content.
    QMap<QString, QByteArray> outputs() const
    {
        QMap<QString, QByteArray> files;
        for (const QString &name : QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            files.insert(name, readAll(out + QLatin1Char('/') + name));
        return files;
    }

    QTemporaryDir dir;
    QString src, out;
    gm::test::ScriptedUi ui;
    RunSettings settings;
};

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

} // namespace

TEST_F(ConvertWorkersTest, TwoWorkersGiveTheSameOutputsLogQuestionsAndOrderAsOne)
{
    QStringList entries = sources({QStringLiteral("a.xls"), QStringLiteral("b.xls"), QStringLiteral("c.xls"),
        QStringLiteral("d.xls"), QStringLiteral("e.xls"), QStringLiteral("f.xls")});
    // A file that is no workbook fails with a log line, in its place in the list.
    const QString bad = src + QStringLiteral("/bad.xls");
    gm::test::writeAll(bad, "no workbook at all");
    entries.insert(2, bad);
    // A second source with an earlier one's base name asks about the earlier output, which
    // must therefore be written before the question; the same source twice does too.
    entries.insert(4,
        gm::test::copyInto(fixture(QStringLiteral("print_pages.xls")), src + QStringLiteral("/other"), QStringLiteral("a.xls")));
    entries << entries.at(1);
    // A blank entry and a missing file on the way.
    entries.insert(5, QStringLiteral("  "));
    entries.insert(6, src + QStringLiteral("/missing.xls"));

    struct Run
    {
        std::vector<Outcome> files;
        QStringList log, questions;
        QMap<QString, QByteArray> written;
    };
    auto run = [&](int jobs, const QList<bool> &answers) {
        QDir(out).removeRecursively();
        QFile::remove(settings.logFile);
        ui.questions.clear();
        ui.yesNoAnswers = answers;
        const RunSummary summary = convert(entries, jobs, FileFormat::Csv);
        EXPECT_TRUE(ui.yesNoAnswers.isEmpty()) << "every question was asked";
        return Run{outcomes(summary), logLines(), ui.questions, outputs()};
    };
    for (const QList<bool> &answers : {QList<bool>{true, false}, QList<bool>{false, true}}) {
        SCOPED_TRACE(answers.first() ? "first question answered Yes" : "first question answered No");
        const Run one = run(1, answers);
        const Run two = run(2, answers);
        ASSERT_EQ(one.files.size(), entries.size() - 1);
        // Two overwrite questions, then the offer of the log.
        ASSERT_EQ(one.questions.size(), 3);
        EXPECT_EQ(one.questions.last(), kOfferLogQuestion);
        EXPECT_EQ(two.files, one.files);
        EXPECT_EQ(two.log, one.log);
        EXPECT_EQ(two.questions, one.questions);
        EXPECT_EQ(two.written.keys(), one.written.keys());
        EXPECT_EQ(two.written, one.written);
        // The runs did real work: converted files, a copied-over answer, failures logged.
        EXPECT_EQ(one.written.size(), 6);
        EXPECT_EQ(one.log.size(), 2);
        EXPECT_EQ(one.files[2].outcome, FileOutcome::Failed);
        EXPECT_EQ(one.files[4].outcome, answers.first() ? FileOutcome::Processed : FileOutcome::Skipped);
        EXPECT_EQ(one.files.back().outcome, answers.first() ? FileOutcome::Skipped : FileOutcome::Processed);
    }
    // Declined, the second a.xls left the first one's output in place.
    EXPECT_TRUE(readAll(out + QStringLiteral("/a.csv")).startsWith("second-sheet"));
}

TEST_F(ConvertWorkersTest, AnEngineKilledInOneWorkerFailsOnlyItsFile)
{
    const QStringList entries = sources({QStringLiteral("a.xls"), QStringLiteral("b.xls"), QStringLiteral("victim.xls"),
        QStringLiteral("d.xls"), QStringLiteral("e.xls"), QStringLiteral("f.xls")});
    std::atomic<int> started{0};
    auto factory = [&]() -> std::unique_ptr<Application> {
        ++started;
        return std::make_unique<MeddlingApplication>(QStringLiteral("victim.xls"), MeddlingApplication::Act::KillEngine);
    };
    const RunSummary summary = convert(entries, 2, FileFormat::Csv, factory);
    ASSERT_EQ(summary.files.size(), entries.size());
    for (const FileResult &file : summary.files) {
        SCOPED_TRACE(file.path.toStdString());
        if (file.path.endsWith(QStringLiteral("victim.xls"))) {
            EXPECT_EQ(file.outcome, FileOutcome::Failed);
            EXPECT_EQ(file.errorDescription, EngineError::describe(ErrorCode::EngineDied));
            EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/victim.csv")));
        } else {
            EXPECT_EQ(file.outcome, FileOutcome::Processed) << file.errorDescription.toStdString();
            const QString written = out + QLatin1Char('/') + GetBaseName(file.path) + QStringLiteral(".csv");
            EXPECT_FALSE(readAll(written).isEmpty());
        }
    }
    // The worker whose engine was killed started another one for its next file.
    EXPECT_GE(started.load(), 2);
    EXPECT_EQ(logLines().size(), 1);
    EXPECT_EQ(ui.messages, QStringList{kConvertDone});
}

TEST_F(ConvertWorkersTest, ACancelWithTwoWorkersLeavesNoEngineNorTemporaryFile)
{
    const QStringList entries = sources({QStringLiteral("a.xls"), QStringLiteral("b.xls"), QStringLiteral("c.xls"),
        QStringLiteral("d.xls"), QStringLiteral("e.xls"), QStringLiteral("f.xls"), QStringLiteral("g.xls")});
    auto factory
        = [] { return std::make_unique<MeddlingApplication>(QStringLiteral("c.xls"), MeddlingApplication::Act::Cancel); };
    const RunSummary summary = convert(entries, 2, FileFormat::Csv, factory);
    EXPECT_TRUE(summary.cancelled);
    ASSERT_EQ(summary.files.size(), entries.size());
    // The file whose engine was stopped under it is rolled back; every other file was either
    // converted completely or not touched, and says which.
    EXPECT_EQ(summary.files[2].errorNumber, static_cast<int>(ErrorCode::Interrupted));
    QStringList expected;
    for (const FileResult &file : summary.files) {
        SCOPED_TRACE(file.path.toStdString());
        const QString name = GetBaseName(file.path) + QStringLiteral(".csv");
        if (file.outcome == FileOutcome::Processed) {
            expected << name;
            const QByteArray written = readAll(out + QLatin1Char('/') + name);
            if (readAll(file.path) == readAll(fixture(QStringLiteral("sheets_second_active.xls"))))
                EXPECT_EQ(
                    QString::fromUtf8(written), QStringLiteral("second-sheet,\"1,234.57\"\r\n\"中文,逗号\",2023-03-15\r\n"));
            else
                EXPECT_FALSE(written.isEmpty());
        } else {
            EXPECT_EQ(file.outcome, FileOutcome::Failed);
            EXPECT_EQ(file.errorNumber, static_cast<int>(ErrorCode::Interrupted));
        }
    }
    EXPECT_GE(summary.unfinishedCount(), 1);
    expected.sort();
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), expected);
    EXPECT_EQ(ui.messages, QStringList{BatchFrame::cancelledMessage(summary)});
    for (const QString &folder : QDir(src).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        EXPECT_EQ(QDir(src + QLatin1Char('/') + folder).entryList(QDir::Files | QDir::Hidden).size(), 1) << folder.toStdString();
}

TEST_F(ConvertWorkersTest, CommandLineJobsAreCheckedAndChangeNothingButSpeed)
{
    const QStringList entries = sources({QStringLiteral("a.xls"), QStringLiteral("b.xls"), QStringLiteral("c.xls")});
    for (const QString &bad : {QStringLiteral("0"), QStringLiteral("many"), QStringLiteral("33")}) {
        const gm::test::CliRun refused
            = gm::test::runCli(QStringList{QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"),
                                   QStringLiteral("--out"), out, QStringLiteral("--jobs"), bad}
                + entries);
        EXPECT_EQ(refused.exitCode, 2) << bad.toStdString();
        EXPECT_TRUE(refused.err.contains(QStringLiteral("--jobs must be a whole number from 1 to 32.")))
            << refused.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out));
    QStringList printed;
    for (const QString &jobs : {QStringLiteral("1"), QStringLiteral("2")}) {
        QDir(out).removeRecursively();
        const gm::test::CliRun run
            = gm::test::runCli(QStringList{QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("xlsx"),
                                   QStringLiteral("--out"), out, QStringLiteral("--jobs"), jobs}
                + entries);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        printed << run.out;
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3);
    }
    EXPECT_EQ(printed[1], printed[0]);
    EXPECT_EQ(printed[0].count(QStringLiteral("\tconverted")), 3);
}

TEST_F(ConvertWorkersTest, TwoProgramsStartingTogetherOnAnEmptyCacheBothConvertAndLeaveOneSoundProfile)
{
    // Two command-line runs with two workers each start at once on an empty cache folder: both
    // may set a profile up and store its image, one replacing the other whole.
    const QString cache = dir.filePath(QStringLiteral("cache"));
    const QStringList entries = sources({QStringLiteral("a.xls"), QStringLiteral("b.xls")});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
    QProcess runs[2];
    for (int i = 0; i < 2; ++i) {
        runs[i].setProcessEnvironment(environment);
        runs[i].start(QStringLiteral(GRIDMULE_CLI),
            QStringList{QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("xlsx"), QStringLiteral("--out"),
                out + QString::number(i), QStringLiteral("--jobs"), QStringLiteral("2")}
                + entries);
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(runs[i].waitForFinished(120000));
        EXPECT_EQ(runs[i].exitCode(), 0) << runs[i].readAllStandardError().toStdString();
        EXPECT_EQ(QDir(out + QString::number(i)).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
    const QStringList stored
        = QDir(cache + QStringLiteral("/gridmule")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    ASSERT_EQ(stored.size(), 1) << stored.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(stored.first().endsWith(QStringLiteral(".img")));

    // The image left is sound: an engine of this program, which holds none, starts on it.
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    lo::EngineProcess::forgetFinishedProfile();
    {
        lo::LoApplication app(libreOfficeProgramDir());
        EXPECT_TRUE(app.startedFromFinishedProfile());
    }
    saved.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", saved);
    lo::EngineProcess::forgetFinishedProfile();
}
