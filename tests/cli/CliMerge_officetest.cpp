// gridmule-cli merge and sheets insert with sources of both formats: .xls sources are
// converted by the engine first, the merged workbook is written as .xlsx or .xls by its
// extension, and the engine itself, openpyxl and the record reader read the results.

#include "automation/EngineSession.h"
#include "automation/xls/XlsWorkbook.h"
#include "support/TestSupport.h"
#include "support/WorkbookReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using gm::test::CliRun;

QStringList sheetLines(const QString &out)
{
    QStringList names;
    for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("sheet\t")))
            names.append(line.mid(6));
    }
    return names;
}

// The worksheet names as the spreadsheet engine reads the file.
QStringList engineNames(const QString &path)
{
    gm::EngineSession engines;
    std::unique_ptr<gm::Workbook> workbook = engines.open(path, gm::WorkbookUse::Engine, true);
    QStringList names;
    for (int i = 1; i <= workbook->worksheetCount(); ++i)
        names.append(workbook->worksheet(i)->name());
    workbook->close(false);
    return names;
}

} // namespace

TEST(CliMerge, BothFormatsMergeIntoXlsxAndXlsThatEveryReaderReads)
{
    const QString mergeCells = gm::test::corpusFile(QStringLiteral("xls/calamine-merge_cells.xls"));
    const QString provinces = gm::test::corpusFile(QStringLiteral("xls/poi-chinese-provinces.xls"));
    const QString ranges = gm::test::corpusFile(QStringLiteral("xlsx/merge_range02.xlsx"));
    const QString chart = gm::test::corpusFile(QStringLiteral("xlsx/chart_bar01.xlsx"));
    if (mergeCells.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString cjk = gm::test::copyInto(provinces, dir.path(), QStringLiteral("各省份名单.xls"));
    const QStringList sources{mergeCells, cjk, ranges, chart};
    const QStringList expected{QStringLiteral("calamine-merge_cells-Sheet1"), QStringLiteral("各省份名单-provinces"),
        QStringLiteral("merge_range02-Sheet1"), QStringLiteral("chart_bar01-Sheet1 (2)")};

    const QString xlsx = dir.filePath(QStringLiteral("合并.xlsx"));
    const CliRun run = gm::test::runCli(
        QStringList{QStringLiteral("merge"), QStringLiteral("--book-names"), QStringLiteral("--out"), xlsx} + sources);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_EQ(sheetLines(run.out), expected);
    for (const QString &source : sources)
        EXPECT_TRUE(run.out.contains(source + QStringLiteral("\tmerged"))) << source.toStdString();
    EXPECT_EQ(engineNames(xlsx), expected);
    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(xlsx);
    if (read.available) {
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const gm::test::ReaderSheet *fromXls = read.sheet(expected[0]);
        ASSERT_NE(fromXls, nullptr);
        EXPECT_EQ(fromXls->merged.size(), 3);
        EXPECT_EQ(fromXls->cells.value(QStringLiteral("A1")).toString(), QStringLiteral("Row Merge"));
        EXPECT_EQ(read.sheet(expected[3])->charts, 1);
    }

    // The same merge written as .xls: checked before it appears, then read by the engine
    // and by the record reader.
    const QString xls = dir.filePath(QStringLiteral("合并.xls"));
    const CliRun asXls = gm::test::runCli(
        QStringList{QStringLiteral("merge"), QStringLiteral("--book-names"), QStringLiteral("--out"), xls} + sources);
    ASSERT_EQ(asXls.exitCode, 0) << asXls.err.toStdString();
    EXPECT_EQ(engineNames(xls), expected);
    std::unique_ptr<gm::Workbook> records = gm::xls::openXlsRecords(xls, true);
    EXPECT_EQ(records->worksheetCount(), 4);
    EXPECT_EQ(records->worksheet(2)->name(), expected[1]);
    records->close(false);

    // An existing output is kept without --yes.
    const QByteArray before = gm::test::readAll(xls);
    EXPECT_NE(gm::test::runCli({QStringLiteral("merge"), QStringLiteral("--out"), xls, ranges}).exitCode, 0);
    EXPECT_EQ(gm::test::readAll(xls), before);
}

TEST(CliMerge, JsonLinesReportEachFileThenTheMergedSheets)
{
    QTemporaryDir dir;
    const QString first = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));
    const QString target = dir.filePath(QStringLiteral("merged.xlsx"));
    const CliRun run = gm::test::runCli({QStringLiteral("merge"), QStringLiteral("--out"), target, QStringLiteral("--output"),
        QStringLiteral("jsonl"), first, missing});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    QList<QJsonObject> lines;
    for (const QString &text : run.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        ASSERT_TRUE(document.isObject()) << text.toStdString();
        lines << document.object();
    }
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].value(QStringLiteral("path")).toString(), first);
    EXPECT_EQ(lines[0].value(QStringLiteral("result")).toString(), QStringLiteral("merged"));
    EXPECT_EQ(lines[0].value(QStringLiteral("error")).toInt(-1), 0);
    EXPECT_EQ(lines[1].value(QStringLiteral("path")).toString(), missing);
    EXPECT_EQ(lines[1].value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    EXPECT_NE(lines[1].value(QStringLiteral("error")).toInt(), 0);
    EXPECT_FALSE(lines[1].value(QStringLiteral("description")).toString().isEmpty());
    EXPECT_EQ(lines[2].value(QStringLiteral("out")).toString(), target);
    EXPECT_EQ(lines[2].value(QStringLiteral("sheets")).toVariant().toStringList(), engineNames(target));
}

TEST(CliMerge, InsertTakesAnXlsSourceThroughATemporaryXlsx)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xls/calamine-merge_cells.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString target = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QByteArray drawing = gm::test::zipEntry(target, QStringLiteral("xl/drawings/drawing1.xml"));
    const CliRun run = gm::test::runCli({QStringLiteral("sheets"), QStringLiteral("insert"), QStringLiteral("--source"), source,
        QStringLiteral("--source-sheet"), QStringLiteral("Sheet1"), target});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_EQ(engineNames(target), QStringList({QStringLiteral("Sheet1"), QStringLiteral("First"), QStringLiteral("第二")}));
    EXPECT_EQ(gm::test::zipEntry(target, QStringLiteral("xl/drawings/drawing1.xml")), drawing);
    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(target);
    if (read.available) {
        ASSERT_NE(read.sheet(QStringLiteral("Sheet1")), nullptr);
        EXPECT_EQ(read.sheet(QStringLiteral("Sheet1"))->merged.size(), 3);
    }
}
