// gridmule-cli rename and stats, run as a user would run them: the dry runs change nothing,
// the real runs rename and report, bad option combinations are refused.

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using gm::test::CliRun;
using gm::test::runCli;

namespace {

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

TEST(CliRename, DryRunChangesNothingAndTheRunRenames)
{
    QTemporaryDir dir;
    const QString first = dir.path() + QStringLiteral("/一月报表.xlsx");
    const QString second = dir.path() + QStringLiteral("/二月报表.xlsx");
    const QString taken = dir.path() + QStringLiteral("/二月.xlsx");
    for (const QString &file : {first, second, taken})
        gm::test::writeAll(file, QFileInfo(file).fileName().toUtf8());
    const QStringList before = namesIn(dir.path());

    const QStringList rename{QStringLiteral("rename"), QStringLiteral("--replace"), QStringLiteral("报表"),
        QStringLiteral("--with"), QString(), first, second};
    const CliRun dry = runCli(rename + QStringList{QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.exitCode, 1) << dry.err.toStdString();
    EXPECT_EQ(namesIn(dir.path()), before);
    EXPECT_TRUE(dry.out.contains(first + QStringLiteral("\twould rename\t") + dir.path() + QStringLiteral("/一月.xlsx")));
    EXPECT_TRUE(dry.out.contains(second + QStringLiteral("\twould fail\t")));

    const CliRun real = runCli(rename);
    EXPECT_EQ(real.exitCode, 1);
    EXPECT_TRUE(real.out.contains(first + QStringLiteral("\trenamed\t")));
    EXPECT_TRUE(real.err.contains(QStringLiteral("同名文件已存在。该文件改名取消！")));
    EXPECT_EQ(namesIn(dir.path()),
              (QStringList{QStringLiteral("一月.xlsx"), QStringLiteral("二月.xlsx"), QStringLiteral("二月报表.xlsx")}));
    EXPECT_EQ(gm::test::readAll(taken), QByteArray("二月.xlsx"));

    const QStringList refused[] = {
        {QStringLiteral("rename"), QStringLiteral("--replace"), QStringLiteral("a"), taken},
        {QStringLiteral("rename"), QStringLiteral("--insert"), QStringLiteral("a"), taken},
        {QStringLiteral("rename"), QStringLiteral("--case"), QStringLiteral("title"), taken},
        {QStringLiteral("rename"), QStringLiteral("--delete"), QStringLiteral("1"), QStringLiteral("--at"),
            QStringLiteral("1"), QStringLiteral("--case"), QStringLiteral("upper"), taken},
    };
    for (const QStringList &args : refused) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        EXPECT_EQ(runCli(args).exitCode, 2);
    }
    EXPECT_EQ(gm::test::readAll(taken), QByteArray("二月.xlsx"));
}

TEST(CliStats, WritesTheReportUnlessDryRun)
{
    GM_REQUIRE_CORPUS(book, "xlsx/comment01.xlsx");
    QTemporaryDir dir;
    const QString report = dir.path() + QStringLiteral("/report.txt");
    const QStringList args{QStringLiteral("stats"), QStringLiteral("--out"), report, QStringLiteral("--rows"), book};
    const CliRun dry = runCli(args + QStringList{QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(dry.out, book + QStringLiteral("\tcounted\t2 rows\n"));
    EXPECT_FALSE(QFileInfo::exists(report));

    const CliRun real = runCli(args);
    EXPECT_EQ(real.exitCode, 0);
    EXPECT_EQ(gm::test::readAll(report),
              QByteArray("\xEF\xBB\xBF") + QStringLiteral("统计结果：\r\n\r\n%1\t2行\r\n\r\n合计：\t2行\r\n").arg(book).toUtf8());
    EXPECT_EQ(runCli({QStringLiteral("stats"), book}).exitCode, 2);
}
