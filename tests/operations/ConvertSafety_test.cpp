// Conversion of files that are not sound workbooks, and conversions that fail, without an
// engine: nothing may be reported as done, copied, started or lost.

#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "automation/PathHelpers.h"
#include "operations/workbook/ConvertOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include <sys/mount.h>

using namespace gm;
using gm::test::readAll;
using gm::test::writeAll;

namespace {

class ConvertSafetyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        src = dir.filePath(QStringLiteral("src"));
        out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(src);
        QDir().mkpath(out);
    }
    void TearDown() override { clearInterruptRequest(); }

    RunSummary convert(const QStringList &entries, int code)
    {
        ConvertInputs inputs;
        inputs.entries = entries;
        inputs.targetIndex = gm::test::convertTargetIndex(code);
        inputs.outputFolder = out;
        return convertWorkbooks(inputs, ui, {}, [this]() -> std::unique_ptr<Application> {
            ++enginesStarted;
            throw EngineError(ErrorCode::EngineUnavailable);
        });
    }
    QStringList outputs() const { return QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    QTemporaryDir dir;
    QString src, out;
    gm::test::ScriptedUi ui;
    int enginesStarted = 0;
};

} // namespace

TEST_F(ConvertSafetyTest, FilesThatAreNotSoundWorkbooksFailBeforeAnyCopyOrEngine)
{
    const QByteArray xls = readAll(gm::test::fixture(QStringLiteral("sheets_second_active.xls")));
    const QByteArray xlsx = readAll(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")));
    struct Bad
    {
        QString name;
        QByteArray bytes;
        ErrorCode code;
    };
    const QList<Bad> bad = {
        {QStringLiteral("zero.xls"), QByteArray(), ErrorCode::EmptyFile},
        {QStringLiteral("stub.xls"), xls.left(68), ErrorCode::Damaged},
        {QStringLiteral("biff4.xls"), QByteArray::fromHex("0904060000001000"), ErrorCode::UnsupportedFormat},
        {QStringLiteral("truncated.xls"), xls.left(xls.size() * 6 / 10), ErrorCode::Damaged},
        {QStringLiteral("page.xls"), "<html><body><table><tr><td>1</td></tr></table></body></html>", ErrorCode::NotAWorkbook},
        {QStringLiteral("package.xls"), xlsx, ErrorCode::NotAWorkbook},
    };
    QStringList entries;
    for (const Bad &b : bad) {
        writeAll(src + QLatin1Char('/') + b.name, b.bytes);
        entries << src + QLatin1Char('/') + b.name;
    }
    // A copy in the same format, and a real conversion, check the same way.
    for (const int code : {FileFormat::Excel8, FileFormat::Csv}) {
        SCOPED_TRACE(code);
        const RunSummary summary = convert(entries, code);
        ASSERT_EQ(summary.files.size(), static_cast<size_t>(bad.size()));
        for (int i = 0; i < bad.size(); ++i) {
            SCOPED_TRACE(bad[i].name.toStdString());
            EXPECT_EQ(summary.files[size_t(i)].outcome, FileOutcome::Failed);
            EXPECT_EQ(summary.files[size_t(i)].errorNumber, static_cast<int>(bad[i].code));
        }
        EXPECT_EQ(outputs(), QStringList());
        EXPECT_EQ(enginesStarted, 0);
        EXPECT_TRUE(ui.questions.isEmpty());
    }
}

TEST_F(ConvertSafetyTest, AFailedOverwriteKeepsTheOldOutput)
{
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), src);
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), src);
    writeAll(out + QStringLiteral("/sheets_second_active.csv"), "old output");
    writeAll(out + QStringLiteral("/sheets_second_active.xls"), "old copy");
    ::chmod(QFile::encodeName(xls).constData(), 0); // unreadable, but only for a user other than root

    ui.yesNoAnswers = {true};
    const RunSummary converted = convert({xlsx}, FileFormat::Csv);
    ASSERT_EQ(converted.files.size(), 1u);
    EXPECT_EQ(converted.files[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(ui.questions.size(), 1);
    EXPECT_EQ(readAll(out + QStringLiteral("/sheets_second_active.csv")), "old output");
    EXPECT_EQ(enginesStarted, 1);

    // A copy that cannot read its source says so, and keeps the old copy too.
    if (::geteuid() != 0) {
        const RunSummary copied = convert({xls}, FileFormat::Excel8);
        EXPECT_EQ(copied.files[0].errorNumber, static_cast<int>(ErrorCode::PermissionDenied));
        EXPECT_EQ(readAll(out + QStringLiteral("/sheets_second_active.xls")), "old copy");
    }
    EXPECT_EQ(outputs().size(), 2);
}

TEST_F(ConvertSafetyTest, AnOutputFolderTheRunMadeGoesAgainWhenNothingCouldBeWrittenIntoIt)
{
    // A copy onto a full disk: the run makes the missing output folder, the copy fails.
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), src);
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no small file system could be mounted: " << std::strerror(errno);
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mountPoint)};
    {
        QFile fill(QDir(mountPoint).filePath(QStringLiteral("fill")));
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size() && fill.flush()) { }
    }
    const QString existing = out;
    out = mountPoint + QStringLiteral("/new");
    RunSummary summary = convert({xls}, FileFormat::Excel8);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].errorNumber, static_cast<int>(ErrorCode::DiskFull));
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(
        QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral("fill")});

    // Once there is room the copy is written into the folder, which stays.
    QFile::remove(QDir(mountPoint).filePath(QStringLiteral("fill")));
    summary = convert({xls}, FileFormat::Excel8);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Copied);
    EXPECT_EQ(outputs(), QStringList{QStringLiteral("sheets_second_active.xls")});

    // A folder that was there before stays, though nothing was written into it.
    out = existing;
    summary = convert({src + QStringLiteral("/missing.xls")}, FileFormat::Excel8);
    EXPECT_TRUE(QFileInfo(out).isDir());
}

TEST_F(ConvertSafetyTest, AStopRequestReportsEveryFileItDidNotReach)
{
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), src);
    const QString log = dir.filePath(QStringLiteral("run.log"));
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled in the window" : "SIGTERM");
        gm::test::ScriptedUi user;
        QFile::remove(log);
        if (cancel)
            requestCancel();
        else
            requestInterrupt(SIGTERM);
        ConvertInputs inputs;
        inputs.entries = {xls, QStringLiteral("  "), xls};
        inputs.targetIndex = gm::test::convertTargetIndex(FileFormat::Excel8);
        inputs.outputFolder = out;
        RunSettings settings;
        settings.isRecordError = true;
        settings.logFile = log;
        const RunSummary summary = convertWorkbooks(inputs, user, settings, [this]() -> std::unique_ptr<Application> {
            ++enginesStarted;
            throw EngineError(ErrorCode::EngineUnavailable);
        });
        clearInterruptRequest();
        EXPECT_TRUE(summary.interrupted);
        EXPECT_EQ(summary.cancelled, cancel);
        // The blank entry is passed over as always; both files are reported, neither touched.
        ASSERT_EQ(summary.files.size(), 2u);
        for (const FileResult &file : summary.files) {
            EXPECT_EQ(file.outcome, FileOutcome::Failed);
            EXPECT_EQ(file.errorNumber, static_cast<int>(ErrorCode::Interrupted));
        }
        EXPECT_EQ(summary.unfinishedCount(), 2);
        EXPECT_EQ(outputs(), QStringList());
        EXPECT_EQ(enginesStarted, 0);
        EXPECT_EQ(QString::fromUtf8(readAll(log)).count(EngineError::describe(ErrorCode::Interrupted)), 2);
        if (cancel) {
            // The program goes on: the user is told what was left undone and offered the log.
            EXPECT_EQ(user.messages, QStringList{QStringLiteral("运行已取消：已处理 0 个文件，其余 2 个文件未处理。")});
            EXPECT_EQ(user.questions, QStringList{kOfferLogQuestion});
        } else {
            // The program is ending: no message waits for an answer.
            EXPECT_TRUE(user.messages.isEmpty());
            EXPECT_TRUE(user.questions.isEmpty());
        }
    }
}
