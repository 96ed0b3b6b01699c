// gridmule-cli convert, run as a user would run it.

#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(GRIDMULE_CLI), args);
    process.waitForFinished(120000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

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
