// Batch printing on real workbooks: the engine's PDF of a whole workbook and of single
// worksheets (print areas, manual page breaks, hidden and empty sheets), a run that queues
// nothing, and runs through a private print service with a PDF printer, whose output files
// are counted page by page.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/PdfPages.h"
#include "operations/workbook/PrintOperation.h"
#include "support/PrivateCups.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace gm;
using gm::test::EnvironmentGuard;
using gm::test::fixture;
using gm::test::PrivateCups;

namespace {

// The text of a PDF file (poppler's pdftotext); a null string when that is not installed.
QString pdfText(const QString &path)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        return {};
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pagesOf(const QString &path)
{
    const int byPoppler = gm::test::pdfinfoPages(path);
    return byPoppler >= 0 ? byPoppler : pdfPageCount(gm::test::readAll(path));
}

// The fixture's worksheets and what each prints on its own.
struct SheetPages
{
    int position;
    const char *name;
    int pages; // 0: nothing to print
};
const SheetPages kSheets[] = {
    {1, "One", 1},
    {2, "Breaks", 3}, // two manual breaks
    {3, "Area", 2}, // print area rows 1-15 of 40, broken every 10 rows
    {4, "Hidden", 0},
    {5, "Empty", 0},
};
constexpr int kWorkbookPages = 6; // One, Breaks and Area; the hidden and empty sheets add none

class PrintPdfTest : public ::testing::TestWithParam<const char *>
{
protected:
    void TearDown() override { EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0); }
    QTemporaryDir dir;
};

} // namespace

TEST_P(PrintPdfTest, TheWorkbookAndEachWorksheetPrintTheirOwnPages)
{
    const QString original = fixture(QString::fromLatin1(GetParam()));
    const QString path = gm::test::copyInto(original, dir.filePath(QStringLiteral("in")));
    {
        EngineSession session;
        auto workbook = session.open(path, WorkbookUse::Engine, true);
        const QString whole = dir.filePath(QStringLiteral("whole.pdf"));
        EXPECT_EQ(workbook->exportPdf(whole), kWorkbookPages);
        EXPECT_EQ(pagesOf(whole), kWorkbookPages);
        ASSERT_EQ(workbook->worksheetCount(), 5);
        for (const SheetPages &expected : kSheets) {
            SCOPED_TRACE(expected.name);
            auto sheet = workbook->worksheet(expected.position);
            EXPECT_EQ(sheet->name(), QString::fromLatin1(expected.name));
            const QString pdf = dir.filePath(QStringLiteral("sheet%1.pdf").arg(expected.position));
            EXPECT_EQ(sheet->exportPdf(pdf), expected.pages);
            if (expected.pages == 0) {
                EXPECT_FALSE(QFile::exists(pdf));
                continue;
            }
            EXPECT_EQ(pagesOf(pdf), expected.pages);
            // Only this sheet's cells are on its pages, and only those of its print area.
            const QString text = pdfText(pdf);
            if (text.isNull())
                continue;
            EXPECT_TRUE(text.contains(QStringLiteral("%1 line 1").arg(QString::fromLatin1(expected.name))));
            for (const SheetPages &other : kSheets) {
                if (other.position == expected.position)
                    continue;
                EXPECT_FALSE(text.contains(QString::fromLatin1(other.name) + QStringLiteral(" line"))) << other.name;
            }
            if (expected.position == 3) {
                EXPECT_TRUE(text.contains(QStringLiteral("Area line 15")));
                EXPECT_FALSE(text.contains(QStringLiteral("Area line 16")));
            }
        }
        workbook->close(false);
    }
    EXPECT_EQ(gm::test::readAll(path), gm::test::readAll(original));
}

INSTANTIATE_TEST_SUITE_P(Formats, PrintPdfTest, ::testing::Values("print_pages.xlsx", "print_pages.xls"));

TEST(PrintRun, SheetPositionsMakeOneJobEachInTheOrderTyped)
{
    // A dry run lays out every job as a real one does and queues nothing.
    QTemporaryDir dir;
    QTemporaryDir temporaries; // where the run keeps its PDF files
    EnvironmentGuard environment;
    environment.set("TMPDIR", temporaries.path().toLocal8Bit());
    const QString original = fixture(QStringLiteral("print_pages.xlsx"));
    const QString xlsx = gm::test::copyInto(original, dir.filePath(QStringLiteral("a")));
    const QString xls = gm::test::copyInto(fixture(QStringLiteral("print_pages.xls")), dir.filePath(QStringLiteral("b")));

    PrintInputs inputs;
    inputs.entries = {xlsx, dir.filePath(QStringLiteral("deleted.xlsx")), QStringLiteral("  "), xls};
    inputs.printSheets = true;
    // 3 (a print area), 4 (hidden) and 5 (empty) print what they hold; 9 and 0 are no
    // worksheet; 2 is typed twice; 99999 is no 16-bit number and fails that token only.
    inputs.sheetIndex = QStringLiteral(" 3 4 9  0 2 99999 2 5 1 ");
    inputs.copies = QStringLiteral("2");
    std::vector<PrintJob> jobs;
    PrintOptions options;
    options.dryRun = true;
    options.jobs = &jobs;
    gm::test::ScriptedUi ui;
    const RunSettings settings{true, dir.filePath(QStringLiteral("run.log"))};
    const RunSummary summary = runPrint(inputs, QStringLiteral("unused"), ui, settings, options);

    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Skipped); // the deleted file: no log line
    for (size_t file : {0u, 2u}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(summary.files[file].outcome, FileOutcome::Failed);
        EXPECT_EQ(summary.files[file].errorNumber, int(ErrorCode::InvalidArgument));
    }
    struct Expected
    {
        int entry;
        const char *sheet;
        int pages;
    };
    const Expected expected[] = {{0, "Area", 2}, {0, "Breaks", 3}, {0, "Breaks", 3}, {0, "One", 1}, {3, "Area", 2},
        {3, "Breaks", 3}, {3, "Breaks", 3}, {3, "One", 1}};
    ASSERT_EQ(jobs.size(), std::size(expected));
    for (size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(jobs[i].entryIndex, expected[i].entry);
        EXPECT_EQ(jobs[i].sheet, QString::fromLatin1(expected[i].sheet));
        EXPECT_EQ(jobs[i].pages, expected[i].pages);
        EXPECT_TRUE(jobs[i].jobId.isEmpty());
    }

    const QString log = QString::fromUtf8(gm::test::readAll(settings.logFile));
    EXPECT_EQ(log.count(kPrintAction), 2) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("deleted.xlsx")));
    EXPECT_TRUE(ui.statuses.contains(kPrintProgress + xlsx));
    EXPECT_TRUE(ui.messages.isEmpty()); // nothing was sent, so nothing says it was
    // Nothing changed, nothing left behind.
    EXPECT_EQ(gm::test::readAll(xlsx), gm::test::readAll(original));
    EXPECT_EQ(QDir(temporaries.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("a"))).entryList(QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("print_pages.xlsx")});
    EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
}

TEST(PrintService, NoPrinterStopsTheRunAndAPdfPrinterGetsOneJobPerWorkbook)
{
    GM_REQUIRE_PRINT_SERVICE(cups);
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(fixture(QStringLiteral("print_pages.xlsx")), dir.filePath(QStringLiteral("a")));
    const QString xls = gm::test::copyInto(fixture(QStringLiteral("print_pages.xls")), dir.filePath(QStringLiteral("b")));
    gm::test::ScriptedUi ui;
    PrintInputs inputs;
    inputs.entries = {xlsx, xls};
    inputs.copies = QStringLiteral("2");

    // The service runs but has no printer.
    RunSummary summary = printWorkbooks(inputs, ui, {});
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(ui.messages, QStringList{kPrintNoPrinter});

    if (QString why; !cups.addPdfPrinter(QStringLiteral("GridmuleTest"), &why))
        GTEST_SKIP() << why.toStdString();
    const QStringList before = PrivateCups::outputFiles();
    ui.messages.clear();
    std::vector<PrintJob> jobs;
    PrintOptions options;
    options.jobs = &jobs;
    summary = printWorkbooks(inputs, ui, {}, options);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(ui.messages, QStringList{kPrintDone});
    ASSERT_EQ(jobs.size(), 2u);
    ASSERT_TRUE(cups.waitForIdle());

    // Each workbook is one job of two collated copies of its six pages.
    const QMap<int, int> counted = cups.pagesByJob();
    for (const PrintJob &job : jobs) {
        SCOPED_TRACE(job.jobId.toStdString());
        EXPECT_TRUE(job.sheet.isEmpty());
        EXPECT_EQ(job.pages, kWorkbookPages);
        EXPECT_EQ(counted.value(job.jobId.section(u'-', -1).toInt()), 2 * kWorkbookPages);
    }
    QStringList written = PrivateCups::outputFiles();
    for (const QString &name : before)
        written.removeAll(name);
    ASSERT_EQ(written.size(), 2) << written.join(u' ').toStdString();
    for (const QString &name : written) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(pagesOf(PrivateCups::outputFolder() + u'/' + name), 2 * kWorkbookPages);
        QFile::remove(PrivateCups::outputFolder() + u'/' + name);
    }
}

TEST(PrintService, TheCommandLinePrintsTheChosenSheetsToANamedPrinter)
{
    GM_REQUIRE_PRINT_SERVICE(cups);
    if (QString why; !cups.addPdfPrinter(QStringLiteral("GridmuleCli"), &why))
        GTEST_SKIP() << why.toStdString();
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(fixture(QStringLiteral("print_pages.xlsx")), dir.path());

    const auto unknown
        = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--printer"), QStringLiteral("NoSuchPrinter"), xlsx});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("NoSuchPrinter")));
    const auto badCopies = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--copies"), QStringLiteral("100"), xlsx});
    EXPECT_EQ(badCopies.exitCode, 2);
    EXPECT_TRUE(badCopies.err.contains(kPrintBadCopies));

    const QStringList before = PrivateCups::outputFiles();
    const auto dry = gm::test::runCli(
        {QStringLiteral("print"), QStringLiteral("--dry-run"), QStringLiteral("--sheets"), QStringLiteral("3,1"), xlsx});
    EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(dry.out, xlsx + QStringLiteral("\twould print\tArea: 2 pages; One: 1 page\n"));
    // The same as a JSON object, the jobs as an array.
    const auto dryJson = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--dry-run"), QStringLiteral("--sheets"),
        QStringLiteral("3,1"), QStringLiteral("--output"), QStringLiteral("jsonl"), xlsx});
    EXPECT_EQ(dryJson.exitCode, 0) << dryJson.err.toStdString();
    const QJsonObject report = QJsonDocument::fromJson(dryJson.out.trimmed().toUtf8()).object();
    EXPECT_EQ(report.value(QStringLiteral("path")).toString(), xlsx);
    EXPECT_EQ(report.value(QStringLiteral("result")).toString(), QStringLiteral("would print"));
    const QJsonArray jobs = report.value(QStringLiteral("jobs")).toArray();
    ASSERT_EQ(jobs.size(), 2) << dryJson.out.toStdString();
    EXPECT_EQ(jobs[0].toObject().value(QStringLiteral("sheet")).toString(), QStringLiteral("Area"));
    EXPECT_EQ(jobs[0].toObject().value(QStringLiteral("pages")).toInt(), 2);
    EXPECT_EQ(jobs[1].toObject().value(QStringLiteral("sheet")).toString(), QStringLiteral("One"));
    EXPECT_EQ(jobs[1].toObject().value(QStringLiteral("pages")).toInt(), 1);

    const auto printed = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--printer"), QStringLiteral("GridmuleCli"),
        QStringLiteral("--sheets"), QStringLiteral("3,1"), QStringLiteral("--copies"), QStringLiteral("3"), xlsx});
    EXPECT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.out.startsWith(xlsx + QStringLiteral("\tprinted\tArea: 2 pages (job GridmuleCli-")))
        << printed.out.toStdString();
    ASSERT_TRUE(cups.waitForIdle());
    QStringList written = PrivateCups::outputFiles();
    for (const QString &name : before)
        written.removeAll(name);
    ASSERT_EQ(written.size(), 2) << "the dry run queued nothing, the real one two jobs";
    QList<int> pages;
    for (const QString &name : written) {
        pages << pagesOf(PrivateCups::outputFolder() + u'/' + name);
        QFile::remove(PrivateCups::outputFolder() + u'/' + name);
    }
    std::sort(pages.begin(), pages.end());
    EXPECT_EQ(pages, (QList<int>{3, 6})); // three copies of one page and of two pages
}
