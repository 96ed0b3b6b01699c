// gridmule-cli sheets, run as a user would run it: the options of the four sheet operations
// and the refusals of bad combinations.

#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using gm::test::CliRun;

CliRun runSheets(const QStringList &args)
{
    return gm::test::runCli(QStringList{QStringLiteral("sheets")} + args);
}

QStringList args(std::initializer_list<const char *> texts)
{
    QStringList result;
    for (const char *text : texts)
        result << QString::fromUtf8(text);
    return result;
}

} // namespace

TEST(CliSheets, OperationsChangeTheWorkbookAndBadCombinationsAreRefused)
{
    QTemporaryDir dir;
    const QString book = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheet_references.xlsx")), dir.path());
    const QByteArray original = gm::test::readAll(book);
    auto workbook = [&] { return gm::test::zipEntry(book, QStringLiteral("xl/workbook.xml")); };

    const QStringList refused[] = {
        args({"delete", "--position", "1"}), // no --yes
        args({"hide", "--position", "1", "--name-equals", "Data"}),
        args({"hide", "--name-equals", "Data", "--name-contains", "a"}),
        args({"unhide"}),
        args({"rename", "--replace", "a", "--with", "b", "--active-name", "c"}),
        args({"move"}),
    };
    for (const QStringList &arguments : refused) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        EXPECT_EQ(runSheets(arguments + QStringList{book}).exitCode, 2);
        EXPECT_EQ(gm::test::readAll(book), original);
    }
    // An empty name text is the operation's own check.
    const CliRun empty = runSheets(args({"hide", "--name-equals", ""}) + QStringList{book});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_TRUE(empty.err.contains(QStringLiteral("请输入工作表的名称！")));

    CliRun run = runSheets(args({"hide", "--name-not-contains", "a"}) + QStringList{book});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, book + QStringLiteral("\tchanged\t\n"));
    EXPECT_TRUE(workbook().contains("<sheet name=\"Other\" sheetId=\"2\" state=\"hidden\""));
    EXPECT_TRUE(workbook().contains("sheetId=\"3\" state=\"hidden\""));

    run = runSheets(args({"unhide", "--name-equals", "other"}) + QStringList{book});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(workbook().contains("<sheet name=\"Other\" sheetId=\"2\" r:id"));

    run = runSheets(args({"rename", "--replace", "Calc", "--with", "Sum 1"}) + QStringList{book});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(workbook().contains("'Sum 1'!$A$1:$C$6"));

    run = runSheets(
        args({"delete", "--yes", "--position", "9", "--log"}) + QStringList{dir.filePath(QStringLiteral("run.log")), book});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.startsWith(book + QStringLiteral("\tfailed\t")));
    run = runSheets(args({"delete", "--yes", "--name-equals", "DATA"}) + QStringList{book});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, book + QStringLiteral("\tdeleted\t\n"));
    EXPECT_FALSE(workbook().contains("name=\"Data\""));
}
