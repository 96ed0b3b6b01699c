// Format conversion over the batch frame, on real workbooks through the real engine.

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/Interruption.h"
#include "automation/PathHelpers.h"
#include "automation/xls/BiffInfo.h"
#include "automation/lo/LoApplication.h"
#include "operations/workbook/ConvertOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/mount.h>
#include <thread>

using namespace gm;
using gm::test::fixture;
using gm::test::readAll;

namespace {

// A small tmpfs over a folder for one test.
class Mount
{
public:
    bool tmpfs(const QString &dir, const char *options)
    {
        QDir().mkpath(dir);
        m_dir = QFile::encodeName(dir);
        m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, options) == 0;
        return m_mounted;
    }
    ~Mount()
    {
        if (m_mounted)
            ::umount2(m_dir.constData(), MNT_DETACH);
    }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};

class ConvertTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        src = dir.filePath(QStringLiteral("src"));
        out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(src);
        xls = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), src);
        xlsx = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), src + QStringLiteral("/x"));
        settings.isRecordError = true;
        settings.logFile = dir.filePath(QStringLiteral("run.log"));
    }
    void TearDown() override
    {
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
        EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
    }

    RunSummary convert(const QStringList &entries, int code, ApplicationFactory factory = {})
    {
        ConvertInputs inputs;
        inputs.entries = entries;
        inputs.targetIndex = gm::test::convertTargetIndex(code);
        inputs.outputFolder = out;
        return convertWorkbooks(inputs, ui, settings, std::move(factory));
    }
    QStringList logLines() const
    {
        return QString::fromUtf8(readAll(settings.logFile)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QString src, out, xls, xlsx;
    gm::test::ScriptedUi ui;
    RunSettings settings;
};

} // namespace

TEST_F(ConvertTest, TextTargetsHoldTheActiveSheetsDisplayedValues)
{
    for (const int code : {FileFormat::Csv, FileFormat::Text}) {
        for (const QString &source : {xls, xlsx}) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(code).arg(source).toStdString());
            QDir(out).removeRecursively();
            const RunSummary summary = convert({source}, code);
            ASSERT_EQ(summary.files.size(), 1u);
            EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();
            const QString sep = code == FileFormat::Csv ? QStringLiteral(",") : QStringLiteral("\t");
            const QString expected = code == FileFormat::Csv
                ? QStringLiteral("second-sheet,\"1,234.57\"\r\n\"中文,逗号\",2023-03-15\r\n")
                : QStringLiteral("second-sheet\t1,234.57\r\n中文,逗号\t2023-03-15\r\n");
            const QString written = out + QStringLiteral("/sheets_second_active") + FormatExtension(code);
            EXPECT_EQ(QString::fromUtf8(readAll(written)), expected);
            // Exactly one file: no "-SheetName" leftovers, no temporary files.
            EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
    }
    EXPECT_EQ(ui.messages.count(kConvertDone), 4);
    EXPECT_TRUE(ui.questions.isEmpty());
}

TEST_F(ConvertTest, WorkbookAndWebTargetsAreWrittenAndReadable)
{
    const RunSummary toXls = convert({xlsx}, FileFormat::Excel8);
    ASSERT_EQ(toXls.failedCount(), 0);
    const QString xlsOut = out + QStringLiteral("/sheets_second_active.xls");
    ASSERT_TRUE(readAll(xlsOut).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
    EXPECT_EQ(biffActiveSheet(xlsOut), 1);
    // The Chinese font names of the cells survive; no substitute font is written instead.
    const QByteArray biff = readAll(xlsOut);
    for (const QString &font : {QStringLiteral("宋体"), QStringLiteral("微软雅黑")})
        EXPECT_TRUE(biff.contains(QByteArray(reinterpret_cast<const char *>(font.utf16()), font.size() * 2)))
            << font.toStdString();
    EXPECT_FALSE(biff.contains("Noto"));
    EXPECT_FALSE(biff.contains("DejaVu"));
    {
        // The BIFF8 output reopens in the engine with its sheets.
        lo::LoApplication app(libreOfficeProgramDir());
        auto book = app.open(xlsOut, true);
        EXPECT_EQ(book->worksheetCount(), 2);
        EXPECT_EQ(book->activeSheet()->name(), QStringLiteral("第二"));
    }

    QFile::remove(xlsOut);
    const RunSummary toXlsx = convert({xls}, FileFormat::OpenXmlWorkbook);
    ASSERT_EQ(toXlsx.failedCount(), 0);
    const QString xlsxOut = out + QStringLiteral("/sheets_second_active.xlsx");
    EXPECT_TRUE(
        QString::fromUtf8(gm::test::zipEntry(xlsxOut, QStringLiteral("xl/workbook.xml"))).contains(QStringLiteral("第二")));

    ASSERT_EQ(convert({xlsx}, FileFormat::Html).failedCount(), 0);
    const QString page = QString::fromUtf8(readAll(out + QStringLiteral("/sheets_second_active.htm")));
    EXPECT_TRUE(page.contains(QStringLiteral("second-sheet")));
    EXPECT_TRUE(page.contains(QStringLiteral("<img"), Qt::CaseInsensitive));

    QDir(out).removeRecursively();
    ASSERT_EQ(convert({xlsx}, FileFormat::WebArchive).failedCount(), 0);
    // One self-contained file: the page and its picture inside, nothing beside it.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("sheets_second_active.mht")});
    const QByteArray archive = readAll(out + QStringLiteral("/sheets_second_active.mht"));
    EXPECT_TRUE(archive.contains("Content-Type: multipart/related"));
    EXPECT_TRUE(archive.contains("Content-Type: image/png"));
    EXPECT_TRUE(archive.contains("second-sheet"));
}

TEST_F(ConvertTest, SameFormatIsCopiedWithoutTheEngineOrLeftAlone)
{
    int engines = 0;
    auto counting = [&]() -> std::unique_ptr<Application> {
        ++engines;
        throw EngineError(ErrorCode::EngineUnavailable);
    };
    const QString upper = gm::test::copyInto(xls, src + QStringLiteral("/upper"), QStringLiteral("Book1.XLS"));
    const RunSummary copied = convert({xls, upper}, FileFormat::Excel8, counting);
    EXPECT_EQ(copied.failedCount(), 0);
    EXPECT_EQ(readAll(out + QStringLiteral("/sheets_second_active.xls")), readAll(xls));
    EXPECT_EQ(readAll(out + QStringLiteral("/Book1.XLS")), readAll(xls));

    // Output folder = the source's own folder: nothing to do, success.
    ConvertInputs inputs;
    inputs.entries = {xls};
    inputs.targetIndex = gm::test::convertTargetIndex(FileFormat::Excel8);
    inputs.outputFolder = src;
    const RunSummary same = convertWorkbooks(inputs, ui, settings, counting);
    ASSERT_EQ(same.files.size(), 1u);
    EXPECT_EQ(same.files[0].outcome, FileOutcome::Copied);
    EXPECT_EQ(engines, 0);
    EXPECT_EQ(QDir(src).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A copy onto a read-only file of that name fails and is logged.
    QFile::setPermissions(out + QStringLiteral("/Book1.XLS"), QFile::ReadOwner);
    const RunSummary refused = convert({upper}, FileFormat::Excel8, counting);
    EXPECT_EQ(refused.failedCount(), 1);
    EXPECT_EQ(logLines().size(), 1);
}

TEST_F(ConvertTest, SecondSourceWithTheSameBaseNameAsksBeforeOverwriting)
{
    ui.yesNoAnswers = {false};
    RunSummary declined = convert({xls, xlsx}, FileFormat::Csv);
    ASSERT_EQ(ui.questions.size(), 1);
    EXPECT_EQ(
        ui.questions[0], QStringLiteral("同名文件“") + out + QStringLiteral("/sheets_second_active.csv”已经存在，是否覆盖？"));
    EXPECT_EQ(declined.files[1].outcome, FileOutcome::Skipped);
    EXPECT_FALSE(QFileInfo::exists(settings.logFile));

    // Answered Yes, the earlier result is replaced by the second source's.
    QFile::remove(out + QStringLiteral("/sheets_second_active.csv"));
    gm::test::writeAll(out + QStringLiteral("/sheets_second_active.csv"), "old");
    ui.yesNoAnswers = {true};
    RunSummary accepted = convert({xlsx}, FileFormat::Csv);
    EXPECT_EQ(accepted.files[0].outcome, FileOutcome::Processed);
    EXPECT_TRUE(readAll(out + QStringLiteral("/sheets_second_active.csv")).startsWith("second-sheet"));
}

TEST_F(ConvertTest, BadFilesFailWithTheirOwnDescriptionWhileTheOthersConvert)
{
    gm::test::writeAll(src + QStringLiteral("/empty.xls"), {});
    gm::test::writeAll(src + QStringLiteral("/text.xls"), "not,a,workbook\n");
    QByteArray package = readAll(xlsx);
    package[package.indexOf("xl/worksheets/sheet2.xml") + 40] ^= 0x5A;
    gm::test::writeAll(src + QStringLiteral("/damaged.xlsx"), package);
    QStringList entries = {xls, src + QStringLiteral("/empty.xls"), src + QStringLiteral("/missing.xls"), QStringLiteral("   "),
        src + QStringLiteral("/text.xls"), src + QStringLiteral("/damaged.xlsx"), xlsx};
    const QString encrypted = gm::test::corpusFile(QStringLiteral("encrypted/poi-password.xls"));
    if (!encrypted.isEmpty())
        entries.insert(1, gm::test::copyInto(encrypted, src));
    QMap<QString, QByteArray> before;
    for (const QString &e : entries)
        before[e] = readAll(e);

    ui.yesNoAnswers = {true};
    ui.okCancelAnswers = {true};
    const RunSummary summary = convert(entries, FileFormat::Csv);

    QStringList failures;
    for (const FileResult &f : summary.files)
        if (f.outcome == FileOutcome::Failed)
            failures << QFileInfo(f.path).fileName() + QLatin1Char(' ') + f.errorDescription;
    QStringList expected = {
        QStringLiteral("empty.xls ") + EngineError::describe(ErrorCode::EmptyFile),
        QStringLiteral("missing.xls ") + EngineError::describe(ErrorCode::FileNotFound),
        QStringLiteral("text.xls ") + EngineError::describe(ErrorCode::NotAWorkbook),
        QStringLiteral("damaged.xlsx ") + EngineError::describe(ErrorCode::Damaged),
    };
    if (!encrypted.isEmpty())
        expected.prepend(QStringLiteral("poi-password.xls ") + EngineError::describe(ErrorCode::PasswordRequired));
    EXPECT_EQ(failures, expected);
    EXPECT_EQ(summary.files.size(), static_cast<size_t>(entries.size() - 1)); // the blank entry is skipped
    EXPECT_EQ(summary.files.front().outcome, FileOutcome::Processed);
    EXPECT_EQ(summary.files.back().outcome, FileOutcome::Processed);
    for (const QString &e : entries)
        EXPECT_EQ(readAll(e), before[e]) << e.toStdString();

    // One log line per failure, in the run-log format; then the offer to view it.
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(lines[0].contains(QStringLiteral("\t类型转换\t处理")));
    // The description, then what the system said of the damage.
    EXPECT_TRUE(lines.last().contains(QStringLiteral("damaged.xlsx处错：\t") + EngineError::describe(ErrorCode::Damaged)
        + QStringLiteral("（详细信息：")));
    EXPECT_EQ(ui.messages.last(), kConvertDone);
    EXPECT_EQ(ui.questions.last(), QStringLiteral("日志文件记录了处理过程中发生的异常，\n是否查看日志文件？"));
    EXPECT_EQ(ui.opened, QStringList{settings.logFile});
}

TEST_F(ConvertTest, LoggingOffLeavesNoTraceAndOffersNothing)
{
    settings.isRecordError = false;
    const RunSummary summary = convert({src + QStringLiteral("/missing.xls"), xls}, FileFormat::Csv);
    EXPECT_EQ(summary.failedCount(), 1);
    EXPECT_FALSE(summary.logged);
    EXPECT_FALSE(QFileInfo::exists(settings.logFile));
    EXPECT_TRUE(ui.questions.isEmpty());
    EXPECT_EQ(ui.messages, QStringList{kConvertDone});
}

TEST_F(ConvertTest, AnEngineKilledDuringTheRunIsReplacedForTheNextFile)
{
    pid_t pid = 0;
    auto factory = [&] {
        auto app = std::make_unique<lo::LoApplication>(libreOfficeProgramDir());
        pid = app->enginePid();
        return app;
    };
    const QString second = gm::test::copyInto(xls, src + QStringLiteral("/b"), QStringLiteral("second.xls"));
    const QString third = gm::test::copyInto(xls, src + QStringLiteral("/c"), QStringLiteral("third.xls"));
    // The engine is frozen as the second file starts and killed while that file's open waits
    // on it, so the kill lands in the middle of an engine call.
    std::thread killer;
    ui.onStatus = [&](const QString &status) {
        if (status.endsWith(QStringLiteral("second.xls")) && pid > 0) {
            const pid_t victim = pid;
            ::kill(victim, SIGSTOP);
            killer = std::thread([victim] {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                ::kill(victim, SIGKILL);
            });
        }
    };
    const RunSummary summary = convert({xls, second, third}, FileFormat::Csv, factory);
    if (killer.joinable())
        killer.join();
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Failed);
    EXPECT_EQ(summary.files[1].errorDescription, EngineError::describe(ErrorCode::EngineDied));
    EXPECT_EQ(summary.files[2].outcome, FileOutcome::Processed);
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/third.csv")));
    EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/b/.~lock.second.xls#")));
}

TEST_F(ConvertTest, AStopRequestAbandonsTheFileInProgressAndQuitsTheEngine)
{
    const QString second = gm::test::copyInto(xls, src + QStringLiteral("/b"), QStringLiteral("second.xls"));
    const QString third = gm::test::copyInto(xls, src + QStringLiteral("/c"), QStringLiteral("third.xls"));
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled in the window" : "SIGINT");
        ui.messages.clear();
        QDir(out).removeRecursively();
        ui.onStatus = [&](const QString &status) {
            if (!status.endsWith(QStringLiteral("second.xls")))
                return;
            if (cancel)
                requestCancel();
            else
                requestInterrupt(SIGINT);
        };
        const RunSummary summary = convert({xls, second, third}, FileFormat::Csv);
        clearInterruptRequest();
        EXPECT_TRUE(summary.interrupted);
        EXPECT_EQ(summary.cancelled, cancel);
        ASSERT_EQ(summary.files.size(), 3u);
        EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
        // The engine is stopped under the file in progress, which then fails as interrupted.
        if (summary.files[1].outcome == FileOutcome::Failed) {
            EXPECT_EQ(summary.files[1].errorNumber, static_cast<int>(ErrorCode::Interrupted));
        }
        EXPECT_EQ(summary.files[2].errorNumber, static_cast<int>(ErrorCode::Interrupted));
        EXPECT_FALSE(ui.messages.contains(kConvertDone));
        EXPECT_EQ(ui.messages.contains(BatchFrame::cancelledMessage(summary)), cancel);
        const QStringList written = QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_TRUE(written == QStringList{QStringLiteral("sheets_second_active.csv")}
            || written == (QStringList{QStringLiteral("second.csv"), QStringLiteral("sheets_second_active.csv")}))
            << written.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(QFileInfo::exists(src + QStringLiteral("/b/.~lock.second.xls#")));
    }
}

TEST_F(ConvertTest, AnEngineSaveOnAFullDiskSaysSoAndLeavesNothing)
{
    Mount mount;
    if (!mount.tmpfs(out, "size=64k"))
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here";
    gm::test::writeAll(out + QStringLiteral("/sheets_second_active.xlsx"), "old output");
    QFile filler(out + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) { }
    filler.close();
    ui.yesNoAnswers = {true};
    const RunSummary summary = convert({xls}, FileFormat::OpenXmlWorkbook);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(summary.files[0].errorDescription, QStringLiteral("磁盘空间不足"));
    EXPECT_EQ(readAll(out + QStringLiteral("/sheets_second_active.xlsx")), "old output");
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList{QStringLiteral("filler"), QStringLiteral("sheets_second_active.xlsx")}));
}

TEST(ConvertValidation, OutputFolderMustHaveTwoCharacters)
{
    gm::test::ScriptedUi ui;
    ConvertInputs inputs;
    RunSettings settings;
    Validation failed;
    EXPECT_TRUE(convertWorkbooks(inputs, ui, settings, {}, &failed).stopped);
    EXPECT_EQ(ui.messages, QStringList{kConvertEmptyList});

    inputs.entries = {QStringLiteral("/nowhere/a.xls")};
    for (const QString &folder : {QString(), QStringLiteral(" x "), QStringLiteral("/")}) {
        inputs.outputFolder = folder;
        EXPECT_TRUE(validateConvert(inputs).has_value());
    }
    inputs.outputFolder = QStringLiteral(" /tmp ");
    EXPECT_FALSE(validateConvert(inputs).has_value());
    inputs.outputFolder = QStringLiteral("x");
    EXPECT_TRUE(convertWorkbooks(inputs, ui, settings, {}, &failed).stopped);
    EXPECT_EQ(failed->control, QStringLiteral("txtOut"));
    EXPECT_EQ(ui.messages.last(), QStringLiteral("请选择输出文件路径！"));
}
