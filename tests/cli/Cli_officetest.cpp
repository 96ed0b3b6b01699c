// gridmule-cli convert, run as a user would run it.

#include "automation/SafeReplace.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using gm::test::CliRun;
using gm::test::runCli;

TEST(Cli, ConvertsRealFilesAndReportsEachFile)
{
    QTemporaryDir dir;
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QString xlsx
        = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.filePath(QStringLiteral("b")));
    const QString missing = dir.filePath(QStringLiteral("missing.xls"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString log = dir.filePath(QStringLiteral("run.log"));

    const CliRun run = runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("--out"),
        out, QStringLiteral("--log"), log, xls, missing, xlsx});
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.out.toStdString();
    EXPECT_EQ(lines[0], xls + QStringLiteral("\tconverted\t"));
    EXPECT_TRUE(lines[1].startsWith(missing + QStringLiteral("\tfailed\t")));
    // Same base name: the question is answered "no" by default and the source skipped.
    EXPECT_EQ(lines[2], xlsx + QStringLiteral("\tskipped\t"));
    EXPECT_TRUE(run.err.contains(QStringLiteral("是否覆盖？")));
    EXPECT_TRUE(run.err.contains(QStringLiteral("类型转换完成！")));
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/sheets_second_active.csv")));
    EXPECT_TRUE(gm::test::readAll(log).contains("missing.xls"));

    const CliRun again = runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("CSV"),
        QStringLiteral("--yes"), QStringLiteral("--out"), out, xlsx});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, xlsx + QStringLiteral("\tconverted\t\n"));
}

TEST(Cli, ChangesPropertiesHeadersAndPageSetupInPlace)
{
    QTemporaryDir dir;
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());

    CliRun run = runCli({QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("季度报表"),
        QStringLiteral("--company"), QStringLiteral("某公司"), xls, xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(run.out, xls + QStringLiteral("\tchanged\t\n") + xlsx + QStringLiteral("\tchanged\t\n"));
    EXPECT_TRUE(gm::test::zipEntry(xlsx, QStringLiteral("docProps/app.xml")).contains("<Company>某公司</Company>"));

    run = runCli(
        {QStringLiteral("print-setup"), QStringLiteral("--area"), QStringLiteral("B2:C3"), QStringLiteral("--landscape"), xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(gm::test::zipEntry(xlsx, QStringLiteral("xl/workbook.xml")).contains("!$B$2:$C$3</definedName>"));

    run = runCli({QStringLiteral("header-footer"), QStringLiteral("--template"), dir.filePath(QStringLiteral("none.xls")), xlsx});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("请选择已设置好页眉页脚的EXCEL文档模板！")));
    EXPECT_EQ(runCli({QStringLiteral("properties"), xlsx}).exitCode, 2);
}

TEST(Cli, BadArgumentsExitWithTwo)
{
    const QList<QStringList> cases = {
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("convert"), QStringLiteral("--out"), QStringLiteral("/tmp"), QStringLiteral("a.xls")},
        {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("pdf"), QStringLiteral("--out"),
            QStringLiteral("/tmp"), QStringLiteral("a.xls")},
        {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("--out"),
            QStringLiteral("/tmp")},
        {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("a.xls")},
        {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("--yes"),
            QStringLiteral("--no"), QStringLiteral("--out"), QStringLiteral("/tmp"), QStringLiteral("a.xls")},
    };
    for (const QStringList &args : cases) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const CliRun run = runCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty() || args.isEmpty());
        EXPECT_FALSE(run.err.isEmpty() && !args.isEmpty());
    }
    const CliRun help = runCli({QStringLiteral("convert"), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--to")));
}

TEST(Cli, HelpListsEveryCommandWithItsOptionsAndTheVersion)
{
    struct Command
    {
        const char *name;
        QStringList options; // as documented; a trailing "=" marks an option that takes a value
    };
    const Command commands[] = {
        {"convert", {QStringLiteral("to="), QStringLiteral("out="), QStringLiteral("yes"), QStringLiteral("no")}},
        {"properties",
            {QStringLiteral("title="), QStringLiteral("subject="), QStringLiteral("author="), QStringLiteral("category="),
                QStringLiteral("keywords="), QStringLiteral("comments="), QStringLiteral("manager="), QStringLiteral("company="),
                QStringLiteral("hyperlink-base=")}},
        {"header-footer",
            {QStringLiteral("template="), QStringLiteral("header"), QStringLiteral("footer"), QStringLiteral("make-writable")}},
        {"print-setup", {QStringLiteral("area="), QStringLiteral("landscape"), QStringLiteral("portrait")}},
        {"protect",
            {QStringLiteral("workbook"), QStringLiteral("structure"), QStringLiteral("windows"), QStringLiteral("sheets"),
                QStringLiteral("allow="), QStringLiteral("password-file="), QStringLiteral("no-password")}},
        {"print", {QStringLiteral("sheets="), QStringLiteral("copies="), QStringLiteral("printer="), QStringLiteral("dry-run")}},
    };
    const CliRun overall = runCli({QStringLiteral("--help")});
    EXPECT_EQ(overall.exitCode, 0);
    for (const Command &command : commands) {
        const QString name = QString::fromLatin1(command.name);
        SCOPED_TRACE(command.name);
        EXPECT_TRUE(overall.out.contains(QStringLiteral("\n  ") + name + u' '));
        const CliRun own = runCli({name, QStringLiteral("--help")});
        EXPECT_EQ(own.exitCode, 0);
        EXPECT_TRUE(own.out.contains(QStringLiteral("gridmule-cli ") + name + u' '));
        for (const Command &other : commands) {
            if (&other == &command)
                continue;
            EXPECT_FALSE(own.out.contains(QStringLiteral("gridmule-cli ") + QString::fromLatin1(other.name) + u' '));
        }
        for (QString option : command.options + QStringList{QStringLiteral("log="), QStringLiteral("help")}) {
            SCOPED_TRACE(option.toStdString());
            const bool takesValue = option.endsWith(u'=');
            option = QStringLiteral("--") + option.remove(u'=');
            EXPECT_TRUE(overall.out.contains(option));
            EXPECT_TRUE(own.out.contains(option));
            // The documented option is one the command accepts.
            QStringList args{name, option};
            if (takesValue)
                args << QStringLiteral("x");
            const CliRun accepted = runCli(args << QStringLiteral("--help"));
            EXPECT_EQ(accepted.exitCode, 0) << accepted.err.toStdString();
        }
    }

    for (const QString &flag : {QStringLiteral("--version"), QStringLiteral("-v")}) {
        const CliRun version = runCli({flag});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^gridmule-cli \d+\.\d+\.\d+\n$)")).match(version.out).hasMatch())
            << version.out.toStdString();
    }
}

TEST(Cli, APathThatDoesNotExistFailsInEveryCommand)
{
    QTemporaryDir dir;
    const QString templ = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));
    const QString noFolder = dir.filePath(QStringLiteral("no-folder/b.xls"));
    const QString expected
        = missing + QStringLiteral("\tfailed\t文件未找到。\n") + noFolder + QStringLiteral("\tfailed\t路径未找到。\n");
    const QList<QStringList> commands = {
        {QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("--out"),
            dir.filePath(QStringLiteral("out"))},
        {QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("t")},
        {QStringLiteral("header-footer"), QStringLiteral("--template"), templ},
        {QStringLiteral("print-setup"), QStringLiteral("--landscape")},
        {QStringLiteral("protect"), QStringLiteral("--sheets"), QStringLiteral("--no-password")},
    };
    for (const QStringList &command : commands) {
        SCOPED_TRACE(command.first().toStdString());
        const QString log = dir.filePath(command.first() + QStringLiteral(".log"));
        const CliRun run = runCli(command + QStringList{QStringLiteral("--log"), log, missing, noFolder});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(QString::fromUtf8(gm::test::readAll(log)).count(QStringLiteral("\r\n")), 2);
        EXPECT_TRUE(run.err.contains(QStringLiteral("日志文件：") + log));
    }

    // Existing files are still processed; a log that cannot be written is said once, on one line.
    const QString xlsx
        = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.filePath(QStringLiteral("d")));
    const QString badLog = dir.filePath(QStringLiteral("no-folder/run.log"));
    const CliRun run = runCli(
        {QStringLiteral("print-setup"), QStringLiteral("--landscape"), QStringLiteral("--log"), badLog, missing, xlsx, noFolder});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.split(u'\n', Qt::SkipEmptyParts),
        (QStringList{missing + QStringLiteral("\tfailed\t文件未找到。"), xlsx + QStringLiteral("\tchanged\t"),
            noFolder + QStringLiteral("\tfailed\t路径未找到。")}));
    EXPECT_EQ(run.err.count(badLog), 1) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("日志文件：")));
    EXPECT_FALSE(QFileInfo::exists(badLog));
}

TEST(Cli, AnUnusableTemplateIsOneErrorAndTouchesNothing)
{
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QByteArray before = gm::test::readAll(xlsx);
    const QString text = dir.filePath(QStringLiteral("template.xls"));
    gm::test::writeAll(text, "not a workbook\n");
    const CliRun run = runCli({QStringLiteral("header-footer"), QStringLiteral("--template"), text, QStringLiteral("--log"),
        dir.filePath(QStringLiteral("run.log")), xlsx, dir.filePath(QStringLiteral("missing.xlsx"))});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_EQ(run.err, QStringLiteral("页眉页脚模板无法使用：该文件不是Excel工作簿。请选择已设置好页眉页脚的EXCEL文档模板！\n"));
    EXPECT_EQ(gm::test::readAll(xlsx), before);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("run.log"))));
}

namespace {

// Engine processes still running that were started by the program `owner`.
int enginesOf(qint64 owner)
{
    const QByteArray tag = QStringLiteral("gridmule-engine-%1-").arg(owner).toUtf8();
    int count = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += gm::test::readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains(tag) ? 1 : 0;
    return count;
}

QStringList ourLeftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".~gridmule*"), QStringLiteral(".~lock.*"), QStringLiteral("lu*.tmp")},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Starts a conversion of several workbooks on one engine, so that the files follow one another
// whatever the number of processors, and waits until the first output is written.
struct RunningConversion
{
    QTemporaryDir dir;
    QString out = dir.filePath(QStringLiteral("out"));
    QStringList sources;
    QProcess process;

    bool start(const QStringList &options = {})
    {
        for (int i = 0; i < 6; ++i)
            sources << gm::test::copyInto(
                gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path(), QStringLiteral("book%1.xls").arg(i));
        process.start(QStringLiteral(GRIDMULE_CLI),
            QStringList{QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("csv"), QStringLiteral("--out"), out,
                QStringLiteral("--jobs"), QStringLiteral("1")}
                + options + sources);
        for (int waited = 0; waited < 1200; ++waited) {
            if (QFileInfo::exists(out + QStringLiteral("/book0.csv")))
                return true;
            if (process.waitForFinished(100))
                return false;
        }
        return false;
    }
};

} // namespace

TEST(Cli, AStopSignalEndsTheRunCleanly)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        RunningConversion run;
        ASSERT_TRUE(run.start({QStringLiteral("--output"), QStringLiteral("jsonl")}))
            << run.process.readAllStandardError().toStdString();
        const qint64 pid = run.process.processId();
        QMap<QString, QByteArray> before;
        for (const QString &source : run.sources)
            before[source] = gm::test::readAll(source);

        ::kill(static_cast<pid_t>(pid), signal);
        ASSERT_TRUE(run.process.waitForFinished(60000));
        EXPECT_EQ(run.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.process.exitCode(), signal == SIGINT ? 130 : 143);
        // The run stopped early; what it wrote is whole, and nothing of it is left behind.
        const QStringList written = QDir(run.out).entryList(QDir::Files);
        EXPECT_LT(written.size(), run.sources.size());
        for (const QString &name : written)
            EXPECT_TRUE(gm::test::readAll(run.out + QLatin1Char('/') + name).startsWith("second-sheet")) << name.toStdString();
        EXPECT_EQ(ourLeftovers(run.out), QStringList());
        EXPECT_EQ(ourLeftovers(run.dir.path()), QStringList());
        for (const QString &source : run.sources)
            EXPECT_EQ(gm::test::readAll(source), before[source]);
        EXPECT_EQ(enginesOf(pid), 0);
        EXPECT_EQ(gm::test::engineLeftoversOf(pid), QStringList());

        // Every file is reported once: converted, stopped under way, or never reached.
        const QStringList lines = QString::fromUtf8(run.process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), run.sources.size());
        int converted = 0;
        for (int i = 0; i < lines.size(); ++i) {
            const QJsonObject line = QJsonDocument::fromJson(lines[i].toUtf8()).object();
            EXPECT_EQ(line.value(QStringLiteral("path")).toString(), run.sources[i]);
            const QString result = line.value(QStringLiteral("result")).toString();
            const int error = line.value(QStringLiteral("error")).toInt();
            if (result == QStringLiteral("converted"))
                ++converted;
            else
                EXPECT_TRUE(result == QStringLiteral("cancelled") && error == 1022) << lines[i].toStdString();
        }
        EXPECT_EQ(converted, written.size());
        EXPECT_TRUE(lines.last().contains(QStringLiteral("\"cancelled\"")));
    }
}

TEST(Cli, TheNextRunRemovesWhatAKilledRunLeft)
{
    RunningConversion run;
    ASSERT_TRUE(run.start()) << run.process.readAllStandardError().toStdString();
    const qint64 pid = run.process.processId();
    run.process.kill();
    run.process.waitForFinished(10000);
    // What a run killed in the middle of a save leaves: its temporary output and the lock
    // file the engine keeps for it.
    const QString temporary = gm::temporaryPrefixFor(pid) + QStringLiteral("00c0ffee00c0ffee.csv");
    gm::test::writeAll(run.out + QLatin1Char('/') + temporary, QByteArray(4096, 'x'));
    gm::test::writeAll(run.out + QStringLiteral("/.~lock.") + temporary + QLatin1Char('#'), "lock");
    for (int waited = 0; waited < 100 && enginesOf(pid) > 0; ++waited)
        QThread::msleep(100);

    const CliRun again = runCli({QStringLiteral("convert"), QStringLiteral("--to"), QStringLiteral("xls"),
        QStringLiteral("--out"), run.out, run.sources.first()});
    EXPECT_EQ(again.exitCode, 0) << again.out.toStdString();
    EXPECT_EQ(ourLeftovers(run.out), QStringList());
}
