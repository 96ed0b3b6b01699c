// The batch frame's own steps on real files: read-only policy, skipped entries, the order of
// the finishing steps.

#include "automation/BatchFrame.h"
#include "automation/EngineError.h"
#include "automation/RunLog.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

Operation saveInPlace(ReadOnlyPolicy policy, int *changes)
{
    Operation operation;
    operation.options.actionName = QStringLiteral("测试");
    operation.options.completionMessage = QStringLiteral("完成！");
    operation.options.readOnly = policy;
    operation.change = [changes](Workbook &workbook, FileContext &) {
        ++*changes;
        EXPECT_EQ(workbook.worksheetCount(), 2);
    };
    return operation;
}

} // namespace

TEST(BatchFrameOffice, ReadOnlyFilesAreSkippedOrMadeWritable)
{
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
    const QByteArray before = gm::test::readAll(path);
    RunSettings settings{true, dir.filePath(QStringLiteral("run.log"))};

    int changes = 0;
    gm::test::ScriptedUi skipUi;
    RunSummary skipped = BatchFrame(skipUi, settings).run({path}, saveInPlace(ReadOnlyPolicy::Skip, &changes));
    EXPECT_EQ(skipped.files.at(0).outcome, FileOutcome::Skipped);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(gm::test::readAll(path), before);
    EXPECT_FALSE(QFileInfo::exists(settings.logFile));
    EXPECT_TRUE(skipUi.statuses.contains(QStringLiteral("正在处理：") + path));
    EXPECT_EQ(skipUi.messages, QStringList{QStringLiteral("完成！")});

    // Without a read-only step the save fails and is logged; the file stays as it was.
    gm::test::ScriptedUi noneUi;
    RunSummary refused = BatchFrame(noneUi, settings).run({path}, saveInPlace(ReadOnlyPolicy::None, &changes));
    EXPECT_EQ(refused.files.at(0).outcome, FileOutcome::Failed);
    EXPECT_EQ(refused.files.at(0).errorDescription, EngineError::describe(ErrorCode::ReadOnlyFile));
    EXPECT_EQ(gm::test::readAll(path), before);
    EXPECT_TRUE(refused.logged);

    gm::test::ScriptedUi writableUi;
    RunSummary written = BatchFrame(writableUi, settings).run({path}, saveInPlace(ReadOnlyPolicy::MakeWritable, &changes));
    EXPECT_EQ(written.files.at(0).outcome, FileOutcome::Processed) << written.files.at(0).errorDescription.toStdString();
    EXPECT_EQ(changes, 2);
    // Only the owner's write permission was added.
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::WriteOther),
        QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
}

TEST(BatchFrameOffice, BlankAndMissingEntriesFollowTheExistenceRule)
{
    QTemporaryDir dir;
    const QString first = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString third = gm::test::copyInto(first, dir.filePath(QStringLiteral("c")));
    const QString missing = dir.filePath(QStringLiteral("gone.xlsx"));
    RunSettings settings{true, dir.filePath(QStringLiteral("log/run.log"))}; // a folder that does not exist

    for (const bool testExistence : {true, false}) {
        SCOPED_TRACE(testExistence);
        int changes = 0;
        Operation operation = saveInPlace(ReadOnlyPolicy::MakeWritable, &changes);
        operation.options.testExistence = testExistence;
        gm::test::ScriptedUi ui;
        const RunSummary summary = BatchFrame(ui, settings).run({first, QStringLiteral(" \t "), missing, third}, operation);
        ASSERT_EQ(summary.files.size(), 3u);
        EXPECT_EQ(changes, 2);
        EXPECT_EQ(summary.files[1].outcome, testExistence ? FileOutcome::Skipped : FileOutcome::Failed);
        // The log line is lost (no such folder): the log is not offered, the run says so once.
        EXPECT_FALSE(summary.logged);
        EXPECT_EQ(summary.logFailed, !testExistence);
        EXPECT_TRUE(ui.questions.isEmpty());
        EXPECT_EQ(ui.messages.contains(logUnwritableNotice(settings.logFile)), !testExistence);
        EXPECT_EQ(ui.busyChanges, (QList<bool>{true, false}));
        EXPECT_EQ(ui.statuses.last(), QString());
    }
}
