// gridmule-cli set-cells and replace, run as a user would run them.

#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using gm::test::CliRun;
using gm::test::runCli;

TEST(CliCells, SetCellsFromAListThenReplace)
{
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString list = dir.filePath(QStringLiteral("cells.xml"));
    gm::test::writeAll(list,
        "<Cells><Cell><Row>3</Row><Col>1</Col><Text>alpha</Text></Cell>"
        "<Cell><Row>3</Row><Col>2</Col><Text>=B1*2</Text></Cell></Cells>");

    CliRun run = runCli(
        {QStringLiteral("set-cells"), QStringLiteral("--list"), list, QStringLiteral("--sheet"), QStringLiteral("FIRST"), xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, xlsx + QStringLiteral("\tchanged\t\n"));
    const QByteArray first = gm::test::zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet1.xml"));
    EXPECT_TRUE(first.contains("<c r=\"B3\"><f>B1*2</f></c>")) << first.constData();
    EXPECT_TRUE(gm::test::zipEntry(xlsx, QStringLiteral("xl/sharedStrings.xml")).contains("<si><t>alpha</t></si>"));

    run = runCli({QStringLiteral("replace"), QStringLiteral("--find"), QStringLiteral("ALPHA"), QStringLiteral("--with"),
        QStringLiteral("12%"), QStringLiteral("--columns"), QStringLiteral("a-b"), xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("字符替换完成！")));
    EXPECT_TRUE(gm::test::zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet1.xml")).contains("<v>0.12</v>"));

    // A list that is not a cell list is refused before anything is opened.
    const QByteArray before = gm::test::readAll(xlsx);
    gm::test::writeAll(list, "<Rows/>");
    run = runCli({QStringLiteral("set-cells"), QStringLiteral("--list"), list, xlsx});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("根元素应为Cells")));
    run = runCli({QStringLiteral("replace"), QStringLiteral("--with"), QStringLiteral("x"), xlsx});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("请输入要替换的字符！")));
    EXPECT_EQ(gm::test::readAll(xlsx), before);
}
