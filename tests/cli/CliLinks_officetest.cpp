// gridmule-cli links and background, run as a user would run them: one action per run, bad
// combinations and a missing picture refused before anything is touched.

#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using gm::test::CliRun;

QStringList args(std::initializer_list<const char *> texts)
{
    QStringList result;
    for (const char *text : texts)
        result << QString::fromUtf8(text);
    return result;
}

} // namespace

TEST(CliLinks, LinksAndBackgroundChangeTheWorkbookAndBadCombinationsAreRefused)
{
    QTemporaryDir dir;
    const QString book = gm::test::copyInto(gm::test::fixture(QStringLiteral("links_and_pictures.xlsx")), dir.path());
    const QString picture
        = gm::test::copyInto(gm::test::fixture(QStringLiteral("links_and_pictures.xlsx")), dir.path(), QStringLiteral("p.png"));
    gm::test::writeAll(picture, gm::test::zipEntry(book, QStringLiteral("xl/media/image1.png")));
    const QByteArray original = gm::test::readAll(book);

    const QStringList refused[] = {
        args({"links"}),
        args({"links", "--share", "--unshare"}),
        args({"links", "--remove-hyperlinks", "--share"}),
        args({"background"}),
        args({"background", "--remove", "--set", "x.png"}),
    };
    for (const QStringList &arguments : refused) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        EXPECT_EQ(gm::test::runCli(arguments + QStringList{book}).exitCode, 2);
        EXPECT_EQ(gm::test::readAll(book), original);
    }
    const CliRun noPicture = gm::test::runCli(
        QStringList{QStringLiteral("background"), QStringLiteral("--set"), dir.filePath(QStringLiteral("none.jpg")), book});
    EXPECT_EQ(noPicture.exitCode, 2);
    EXPECT_TRUE(noPicture.err.contains(QStringLiteral("请选择背景图片文件！")));
    EXPECT_EQ(gm::test::readAll(book), original);

    CliRun run = gm::test::runCli(args({"links", "--remove-hyperlinks"}) + QStringList{book});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, book + QStringLiteral("\tchanged\t\n"));
    EXPECT_TRUE(run.err.contains(QStringLiteral("超链接取消完毕！")));
    EXPECT_FALSE(gm::test::zipEntry(book, QStringLiteral("xl/worksheets/sheet1.xml")).contains("<hyperlink"));

    run = gm::test::runCli(QStringList{QStringLiteral("background"), QStringLiteral("--set"), picture, book});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(gm::test::zipEntry(book, QStringLiteral("xl/worksheets/sheet2.xml")).contains("<picture"));

    // A workbook that cannot be shared fails on its own line; the exit status says so.
    const QString tables = gm::test::corpusFile(QStringLiteral("xlsx/table01.xlsx"));
    QStringList files{book};
    if (!tables.isEmpty())
        files << gm::test::copyInto(tables, dir.path());
    run = gm::test::runCli(args({"links", "--share"}) + files);
    EXPECT_EQ(run.exitCode, tables.isEmpty() ? 0 : 1) << run.err.toStdString();
    EXPECT_TRUE(run.out.startsWith(book + QStringLiteral("\tchanged\t\n")));
    EXPECT_TRUE(gm::test::zipEntryNames(book).contains(QStringLiteral("xl/revisions/userNames.xml")));
    if (!tables.isEmpty()) {
        EXPECT_TRUE(run.out.contains(QStringLiteral("\tfailed\t工作簿含有表格")));
    }
}
