// The batch frame's run log and existence rule, with an operation that handles its entries
// itself, so that no engine is needed.

#include "automation/BatchFrame.h"
#include "automation/EngineError.h"
#include "automation/RunLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

const QString kOfferLog = QStringLiteral("日志文件记录了处理过程中发生的异常，\n是否查看日志文件？");

// Fails every entry whose name contains "bad"; counts the entries it was given.
Operation failingOperation(int *processed, bool testExistence)
{
    Operation operation;
    operation.options.actionName = QStringLiteral("测试");
    operation.options.completionMessage = QStringLiteral("完成！");
    operation.options.testExistence = testExistence;
    operation.process = [processed](FileContext &context) {
        ++*processed;
        if (context.path().contains(QStringLiteral("bad")))
            throw EngineError(ErrorCode::Damaged, context.path());
    };
    return operation;
}

class BatchFrameLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char *name : {"a.xlsx", "bad1.xlsx", "bad2.xlsx", "c.xlsx"}) {
            const QString path = m_dir.filePath(QString::fromLatin1(name));
            gm::test::writeAll(path, "x");
            m_entries << path;
        }
    }
    QStringList logLines(const QString &log) const
    {
        return QString::fromUtf8(gm::test::readAll(log)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir m_dir;
    QStringList m_entries;
};

} // namespace

TEST_F(BatchFrameLogTest, TheLogIsOfferedOnlyWhenALineWasWritten)
{
    const QString folderAsLog = m_dir.path();
    struct Case
    {
        const char *name;
        RunSettings settings;
        int lines; // lines the log holds afterwards
        bool offered;
        bool notice;
    };
    const Case cases[] = {
        {"logging off", {false, m_dir.filePath(QStringLiteral("off.log"))}, 0, false, false},
        {"writable log", {true, m_dir.filePath(QStringLiteral("run.log"))}, 2, true, false},
        {"folder missing", {true, m_dir.filePath(QStringLiteral("gone/run.log"))}, 0, false, true},
        {"default log, folder made", {true, m_dir.filePath(QStringLiteral("state/gridmule/Gridmule.log")), true}, 2, true, false},
        {"log path is a folder", {true, folderAsLog, true}, 0, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int processed = 0;
        gm::test::ScriptedUi ui;
        ui.okCancelAnswers = {true};
        const RunSummary summary = BatchFrame(ui, c.settings).run(m_entries, failingOperation(&processed, true));
        EXPECT_EQ(processed, 4);
        EXPECT_EQ(summary.failedCount(), 2);
        EXPECT_EQ(summary.logged, c.offered);
        EXPECT_EQ(summary.logFailed, c.notice);
        if (c.settings.logFile != folderAsLog) {
            EXPECT_EQ(logLines(c.settings.logFile).size(), c.lines);
        }
        EXPECT_EQ(ui.questions, c.offered ? QStringList{kOfferLog} : QStringList());
        EXPECT_EQ(ui.opened, c.offered ? QStringList{c.settings.logFile} : QStringList());
        // The completion message, then at most one notice for the whole run.
        QStringList expected{QStringLiteral("完成！")};
        if (c.notice)
            expected << logUnwritableNotice(c.settings.logFile);
        EXPECT_EQ(ui.messages, expected);
    }
    EXPECT_TRUE(logUnwritableNotice(QStringLiteral("/x/y.log")).contains(QStringLiteral("/x/y.log")));
}

TEST_F(BatchFrameLogTest, MissingEntriesFailOnTheCommandLineWhateverTheOperationsRule)
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.xlsx"));
    const QString noFolder = m_dir.filePath(QStringLiteral("nofolder/missing.xlsx"));
    const QStringList entries = {m_entries[0], missing, noFolder, m_entries[3]};
    struct Case
    {
        bool testExistence;
        bool missingFilesFail;
        FileOutcome outcome;
        int processed; // entries the operation itself saw
    };
    const Case cases[] = {
        {true, false, FileOutcome::Skipped, 2},
        {false, false, FileOutcome::Processed, 4}, // the operation decides (this one does not look)
        {true, true, FileOutcome::Failed, 2},
        {false, true, FileOutcome::Failed, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "testExistence " << c.testExistence << ", missingFilesFail " << c.missingFilesFail);
        RunSettings settings{true, m_dir.filePath(QStringLiteral("run.log"))};
        settings.missingFilesFail = c.missingFilesFail;
        QFile::remove(settings.logFile);
        int processed = 0;
        gm::test::ScriptedUi ui;
        const RunSummary summary = BatchFrame(ui, settings).run(entries, failingOperation(&processed, c.testExistence));
        ASSERT_EQ(summary.files.size(), 4u);
        EXPECT_EQ(processed, c.processed);
        EXPECT_EQ(summary.files[1].outcome, c.outcome);
        EXPECT_EQ(summary.files[2].outcome, c.outcome);
        if (c.outcome != FileOutcome::Failed)
            continue;
        EXPECT_EQ(summary.files[1].errorNumber, static_cast<int>(ErrorCode::FileNotFound));
        EXPECT_EQ(summary.files[1].errorDescription, EngineError::describe(ErrorCode::FileNotFound));
        EXPECT_EQ(summary.files[2].errorNumber, static_cast<int>(ErrorCode::PathNotFound));
        const QStringList lines = logLines(settings.logFile);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[0].endsWith(missing + QStringLiteral("处错：\t") + EngineError::describe(ErrorCode::FileNotFound)));
    }
}

TEST_F(BatchFrameLogTest, TheLineCarriesTheSystemsDetailUnlessItIsOnlyThePath)
{
    Operation operation;
    operation.options.actionName = QStringLiteral("测试");
    operation.process = [](FileContext &context) {
        if (context.path().endsWith(QStringLiteral("a.xlsx")))
            throw EngineError(ErrorCode::DiskFull, QStringLiteral("write: No space left on device"));
        if (context.path().contains(QStringLiteral("bad1")))
            throw EngineError(ErrorCode::Damaged, context.path());
    };
    const QString log = m_dir.filePath(QStringLiteral("detail.log"));
    gm::test::ScriptedUi ui;
    BatchFrame frame(ui, {true, log});
    frame.run(m_entries.mid(0, 2), operation);
    const QStringList lines = logLines(log);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(EngineError::describe(ErrorCode::DiskFull)
        + QStringLiteral("（详细信息：write: No space left on device）")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(u'\t' + EngineError::describe(ErrorCode::Damaged))) << lines[1].toStdString();
}
