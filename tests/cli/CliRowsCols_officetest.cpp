// gridmule-cli rows-cols, run as a user would run it.

#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using gm::test::CliRun;
using gm::test::runCli;

TEST(CliRowsCols, HideAndSizeInPlaceAndRefuseBadArguments)
{
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString first = QStringLiteral("xl/worksheets/sheet1.xml");

    CliRun run = runCli({QStringLiteral("rows-cols"), QStringLiteral("hide"), QStringLiteral("--rows"), QStringLiteral("2:1"),
        QStringLiteral("--columns"), QStringLiteral("C"), QStringLiteral("--sheet"), QStringLiteral("first"), xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, xlsx + QStringLiteral("\tchanged\t\n"));
    QByteArray sheet = gm::test::zipEntry(xlsx, first);
    EXPECT_TRUE(sheet.contains("<row r=\"1\" hidden=\"1\">")) << sheet.constData();
    EXPECT_TRUE(sheet.contains("<col min=\"3\" max=\"3\" width=\"0\" hidden=\"1\" customWidth=\"1\"/>")) << sheet.constData();

    run = runCli({QStringLiteral("rows-cols"), QStringLiteral("size"), QStringLiteral("--rows"), QStringLiteral("1:1"),
        QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--all-sheets"), xlsx});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    sheet = gm::test::zipEntry(xlsx, first);
    EXPECT_TRUE(sheet.contains("<row r=\"1\" ht=\"24\" customHeight=\"1\">")) << sheet.constData();

    // Bad arguments are refused before anything is opened.
    const QByteArray before = gm::test::readAll(xlsx);
    const QList<QStringList> refused = {
        {QStringLiteral("rows-cols"), QStringLiteral("size"), QStringLiteral("--height"), QStringLiteral("3"), xlsx},
        {QStringLiteral("rows-cols"), QStringLiteral("delete"), QStringLiteral("--rows"), QStringLiteral("1:2"), xlsx},
        {QStringLiteral("rows-cols"), QStringLiteral("hide"), xlsx},
        {QStringLiteral("rows-cols"), QStringLiteral("fold"), xlsx},
        {QStringLiteral("rows-cols"), QStringLiteral("hide"), QStringLiteral("--rows"), QStringLiteral(":5"), xlsx},
    };
    for (const QStringList &args : refused) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        run = runCli(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(run.err.isEmpty());
    }
    EXPECT_TRUE(gm::test::readAll(xlsx) == before);
}

TEST(CliRowsCols, DeleteMovesReferencesInXlsxAndXls)
{
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheet_references.xlsx")), dir.path());
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QByteArray xlsBefore = gm::test::readAll(xls);

    // Row 2: Calc's 3-D span over Data reads A1, which stays where it is.
    CliRun run = runCli({QStringLiteral("rows-cols"), QStringLiteral("delete"), QStringLiteral("--rows"), QStringLiteral("2"),
        QStringLiteral("--sheet"), QStringLiteral("data"), QStringLiteral("--yes"), xlsx});
    EXPECT_TRUE(run.out.contains(xlsx + QStringLiteral("\tdeleted\t"))) << run.out.toStdString();
    run = runCli({QStringLiteral("rows-cols"), QStringLiteral("delete"), QStringLiteral("--rows"), QStringLiteral("1"),
        QStringLiteral("--yes"), xls});
    EXPECT_TRUE(run.out.contains(xls + QStringLiteral("\tdeleted\t"))) << run.out.toStdString();
    const QByteArray calc = gm::test::zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet4.xml"));
    EXPECT_TRUE(calc.contains("<f>SUM(Data!A1:A4)</f>")) << calc.constData();
    EXPECT_TRUE(calc.contains("<f>Data!A1*2</f>")) << calc.constData();
    EXPECT_TRUE(calc.contains("<f>SUM(Data:Other!A1)</f>")) << calc.constData();
    EXPECT_NE(gm::test::readAll(xls), xlsBefore);
}
