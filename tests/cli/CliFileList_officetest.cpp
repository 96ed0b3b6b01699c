// gridmule-cli reading its files from a list, taking its share of them, and reporting in JSON.

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using gm::test::CliRun;
using gm::test::runCli;

namespace {

QList<QJsonObject> jsonLines(const QString &text)
{
    QList<QJsonObject> result;
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        result << document.object();
    }
    return result;
}

bool titled(const QString &xlsx, const QByteArray &title)
{
    return gm::test::zipEntry(xlsx, QStringLiteral("docProps/core.xml")).contains("<dc:title>" + title + "</dc:title>");
}

CliRun runWithInput(const QStringList &args, const QByteArray &input, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(GRIDMULE_CLI), args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError())};
}

class CliFileList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Names a line-based list cannot carry, or carries only with care.
        const QStringList names{QStringLiteral("a.xlsx"), QStringLiteral("b c.xlsx"), QStringLiteral("季度.xlsx"),
            QStringLiteral("line\nbreak.xlsx"), QStringLiteral(" lead.xlsx"), QStringLiteral("f.xlsx"), QStringLiteral("g.xlsx")};
        for (const QString &name : names)
            books << gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path(), name);
    }
    QString list(const QStringList &paths, char separator)
    {
        const QString file = dir.filePath(QStringLiteral("list-%1.txt").arg(++lists));
        QByteArray data;
        for (const QString &path : paths)
            data += QFile::encodeName(path) + separator;
        gm::test::writeAll(file, data);
        return file;
    }

    QTemporaryDir dir;
    QStringList books;
    int lists = 0;
};

} // namespace

TEST_F(CliFileList, ListsFromFilesAndStandardInputReportInJson)
{
    // NUL-separated: every name, the one with a line break included.
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));
    CliRun run
        = runCli({QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("one"), QStringLiteral("--files-from"),
            list(books + QStringList{missing}, '\0'), QStringLiteral("-0"), QStringLiteral("--output"), QStringLiteral("jsonl")});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    QList<QJsonObject> lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), books.size() + 1);
    for (int i = 0; i < books.size(); ++i) {
        SCOPED_TRACE(books[i].toStdString());
        EXPECT_EQ(lines[i].value(QStringLiteral("path")).toString(), books[i]);
        EXPECT_EQ(lines[i].value(QStringLiteral("result")).toString(), QStringLiteral("changed"));
        EXPECT_EQ(lines[i].value(QStringLiteral("error")).toInt(-1), 0);
        EXPECT_TRUE(lines[i].value(QStringLiteral("milliseconds")).isDouble());
        EXPECT_TRUE(titled(books[i], "one"));
    }
    EXPECT_EQ(lines.last().value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(lines.last().value(QStringLiteral("error")).toInt(), 53);
    EXPECT_EQ(lines.last().value(QStringLiteral("description")).toString(), QStringLiteral("文件未找到。"));

    // One a line from standard input, with CRLF ends and an empty line, after a path given as
    // an argument; relative paths are taken from the working folder.
    QByteArray input = "\r\n";
    for (const QString &book : books.mid(0, 3))
        input += QFile::encodeName(QFileInfo(book).fileName()) + "\r\n";
    run = runWithInput({QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("two"), books[5],
                           QStringLiteral("--files-from"), QStringLiteral("-")},
        input, dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList expected;
    for (const QString &book : QStringList{books[5], books[0], books[1], books[2]})
        expected << book + QStringLiteral("\tchanged\t");
    EXPECT_EQ(run.out.split(u'\n', Qt::SkipEmptyParts), expected);
    for (int i : {0, 1, 2, 5})
        EXPECT_TRUE(titled(books[i], "two")) << i;
    EXPECT_TRUE(titled(books[3], "one"));
}

TEST_F(CliFileList, ShardsSplitTheListOnceWhateverItsOrder)
{
    QStringList reversed = books;
    std::reverse(reversed.begin(), reversed.end());
    const QString forward = list(books, '\0');
    const QString backward = list(reversed, '\0');
    for (const int count : {1, 2, 3}) {
        SCOPED_TRACE(count);
        QMap<QString, int> seen;
        for (int k = 1; k <= count; ++k) {
            QSet<QString> mine[2];
            for (int order = 0; order < 2; ++order) {
                const CliRun run = runCli({QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("x"),
                    QStringLiteral("--shard"), QStringLiteral("%1/%2").arg(k).arg(count), QStringLiteral("--files-from"),
                    order == 0 ? forward : backward, QStringLiteral("-0"), QStringLiteral("--output"), QStringLiteral("jsonl")});
                EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
                for (const QJsonObject &line : jsonLines(run.out))
                    mine[order].insert(line.value(QStringLiteral("path")).toString());
            }
            // The same share from a list in another order.
            EXPECT_EQ(mine[0], mine[1]);
            for (const QString &path : std::as_const(mine[0]))
                ++seen[path];
        }
        EXPECT_EQ(seen.size(), books.size());
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            EXPECT_EQ(it.value(), 1) << it.key().toStdString();
    }
}

TEST_F(CliFileList, BadListOptionsStopBeforeAnyFile)
{
    const QByteArray before = gm::test::readAll(books[0]);
    const QString good = list({books[0]}, '\n');
    const QList<QStringList> cases = {
        {QStringLiteral("--shard"), QStringLiteral("0/2"), books[0]},
        {QStringLiteral("--shard"), QStringLiteral("3/2"), books[0]},
        {QStringLiteral("--shard"), QStringLiteral("1"), books[0]},
        {QStringLiteral("--shard"), QStringLiteral("a/b"), books[0]},
        {QStringLiteral("--output"), QStringLiteral("xml"), books[0]},
        {QStringLiteral("-0"), books[0]},
        {QStringLiteral("--files-from"), dir.filePath(QStringLiteral("no-such-list"))},
        {QStringLiteral("--files-from"), dir.path()},
        {QStringLiteral("--files-from"), good, QStringLiteral("--files-from"), good},
    };
    for (const QStringList &extra : cases) {
        SCOPED_TRACE(extra.join(u' ').toStdString());
        const CliRun run
            = runCli(QStringList{QStringLiteral("properties"), QStringLiteral("--title"), QStringLiteral("t")} + extra);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
    EXPECT_EQ(gm::test::readAll(books[0]), before);
}

// Two machines reached over SSH by GNU parallel, each converting its shard of one list. The
// stand-in for ssh runs the command here and notes which host it was asked for.
TEST_F(CliFileList, GnuParallelSpreadsAConversionOverShards)
{
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    if (parallel.isEmpty())
        GTEST_SKIP() << "GNU parallel is not installed (Debian package parallel)";
    const QString hosts = dir.filePath(QStringLiteral("hosts"));
    const QString ssh = dir.filePath(QStringLiteral("ssh"));
    gm::test::writeAll(ssh,
        "#!/bin/sh\n"
        "while [ $# -gt 0 ]; do case \"$1\" in -*) shift;; *) break;; esac; done\n"
        "echo \"$1\" >> '"
            + QFile::encodeName(hosts)
            + "'\n"
              "shift\n"
              "[ \"$1\" = -- ] && shift\n"
              "exec sh -c \"$*\"\n");
    QFile::setPermissions(ssh, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QStringList sources;
    for (int i = 0; i < 6; ++i)
        sources << gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")),
            dir.filePath(QStringLiteral("src")), QStringLiteral("book%1.xls").arg(i));
    const QString files = list(sources, '\n');
    const QString out = dir.filePath(QStringLiteral("out"));
    QProcess process;
    // The worker parallel starts on each host runs the job through $SHELL and silently does
    // nothing when it is unset, as it is under some CI runners.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    process.setProcessEnvironment(environment);
    process.start(parallel,
        {QStringLiteral("--will-cite"), QStringLiteral("--ssh"), ssh, QStringLiteral("--sshlogin"),
            QStringLiteral("1/hostA,1/hostB"), QStringLiteral(GRIDMULE_CLI), QStringLiteral("convert"), QStringLiteral("--to"),
            QStringLiteral("csv"), QStringLiteral("--out"), out, QStringLiteral("--files-from"), files,
            QStringLiteral("--output"), QStringLiteral("jsonl"), QStringLiteral("--shard"), QStringLiteral("{}/2"),
            QStringLiteral(":::"), QStringLiteral("1"), QStringLiteral("2")});
    ASSERT_TRUE(process.waitForFinished(300000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    QMap<QString, int> done;
    for (const QJsonObject &line : jsonLines(QString::fromUtf8(process.readAllStandardOutput()))) {
        EXPECT_EQ(line.value(QStringLiteral("result")).toString(), QStringLiteral("converted"));
        ++done[line.value(QStringLiteral("path")).toString()];
    }
    EXPECT_EQ(done.keys(), QStringList(sources.begin(), sources.end()));
    for (const QString &source : sources) {
        EXPECT_EQ(done.value(source), 1) << source.toStdString();
        const QString csv = out + u'/' + QFileInfo(source).completeBaseName() + QStringLiteral(".csv");
        EXPECT_TRUE(gm::test::readAll(csv).startsWith("second-sheet")) << csv.toStdString();
    }
    QStringList reached = QString::fromUtf8(gm::test::readAll(hosts)).split(u'\n', Qt::SkipEmptyParts);
    reached.sort();
    EXPECT_EQ(reached, (QStringList{QStringLiteral("hostA"), QStringLiteral("hostB")}));
}
