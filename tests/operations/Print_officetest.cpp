// Batch printing on real workbooks: the engine's PDF of a whole workbook and of single
// worksheets (print areas, manual page breaks, hidden and empty sheets), a run that queues
// nothing, and runs through a private print service with a PDF printer, whose output files
// are counted page by page.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/PdfPages.h"
#include "operations/workbook/PrintOperation.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace gm;
using gm::test::fixture;

namespace {

// Sets environment variables for one test and puts the old values back.
class EnvironmentGuard
{
public:
    void set(const char *name, const QByteArray &value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        remember(name);
        qunsetenv(name);
    }
    ~EnvironmentGuard()
    {
        for (const auto &[name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

private:
    void remember(const char *name) { m_saved.emplace_back(name, qgetenv(name)); }
    std::vector<std::pair<const char *, QByteArray>> m_saved;
};

// Pages of a PDF file as poppler's pdfinfo counts them, independently of our own reader;
// -1 when pdfinfo is not installed.
int pdfinfoPages(const QString &path)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        return -1;
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {path});
    process.waitForFinished(30000);
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return 0;
}

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
    const int byPoppler = pdfinfoPages(path);
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
            for (const SheetPages &other : kSheets)
                if (other.position != expected.position)
                    EXPECT_FALSE(text.contains(QString::fromLatin1(other.name) + QStringLiteral(" line"))) << other.name;
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
    EXPECT_EQ(ui.messages, QStringList{kPrintDone});
    // Nothing changed, nothing left behind.
    EXPECT_EQ(gm::test::readAll(xlsx), gm::test::readAll(original));
    EXPECT_EQ(QDir(temporaries.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("a"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("print_pages.xlsx")});
    EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
}

namespace {

// A print service of the test's own: cupsd on a private socket with its configuration,
// spool and logs in a temporary folder, reached through CUPS_SERVER; the system's service is
// left alone. Its PDF printer (cups-pdf) writes every job as a PDF file into the user's
// ~/PDF folder.
class PrivateCups
{
public:
    // Starts the service; false with the reason when this machine cannot run one.
    bool start(QString *why)
    {
        const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin")});
        if (cupsd.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("lpadmin"), {QStringLiteral("/usr/sbin")}).isEmpty()) {
            *why = QStringLiteral("CUPS is not installed (Debian packages cups, cups-client)");
            return false;
        }
        if (geteuid() != 0) {
            *why = QStringLiteral("a private cupsd with the cups-pdf backend needs root");
            return false;
        }
        if (!m_dir.isValid()) {
            *why = QStringLiteral("no temporary folder");
            return false;
        }
        // Filters run as the service's own user, which must reach the spool.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        for (const char *sub : {"etc/ppd", "spool/tmp", "cache", "state", "log"})
            QDir().mkpath(m_dir.filePath(QString::fromLatin1(sub)));
        ::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("spool/tmp"))).constData(), 01777);
        m_socket = m_dir.filePath(QStringLiteral("cups.sock"));
        gm::test::writeAll(m_dir.filePath(QStringLiteral("etc/cupsd.conf")),
            QStringLiteral("Listen %1\nLogLevel warn\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n")
                .arg(m_socket)
                .toUtf8());
        gm::test::writeAll(m_dir.filePath(QStringLiteral("etc/cups-files.conf")),
            QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\nCacheDir %1/cache\n"
                           "StateDir %1/state\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                           "PageLog %1/log/page_log\n")
                .arg(m_dir.path())
                .toUtf8());
        m_cupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"), m_dir.filePath(QStringLiteral("etc/cupsd.conf")),
                                 QStringLiteral("-s"), m_dir.filePath(QStringLiteral("etc/cups-files.conf"))});
        if (!m_cupsd.waitForStarted(10000)) {
            *why = QStringLiteral("cupsd did not start: ") + m_cupsd.errorString();
            return false;
        }
        m_environment.set("CUPS_SERVER", m_socket.toLocal8Bit());
        m_environment.unset("LPDEST");
        m_environment.unset("PRINTER");
        // Ready when its socket answers.
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (m_cupsd.state() != QProcess::Running) {
                *why = QStringLiteral("cupsd ended at once: ") + QString::fromUtf8(m_cupsd.readAllStandardError());
                return false;
            }
            if (QFile::exists(m_socket) && run(QStringLiteral("lpstat"), {QStringLiteral("-r")}).contains(QStringLiteral("is running")))
                return true;
            QThread::msleep(100);
        }
        *why = QStringLiteral("cupsd did not answer on its socket");
        return false;
    }

    // A cups-pdf printer, made the service's default.
    bool addPdfPrinter(const QString &name, QString *why)
    {
        const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
        if (!QFile::exists(ppd) || !QFile::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf"))) {
            *why = QStringLiteral("the PDF printer is not installed (Debian package printer-driver-cups-pdf)");
            return false;
        }
        run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
                                             QStringLiteral("-E"), QStringLiteral("-P"), ppd});
        run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name});
        if (!run(QStringLiteral("lpstat"), {QStringLiteral("-e")}).split(u'\n').contains(name)) {
            *why = QStringLiteral("lpadmin could not add the printer");
            return false;
        }
        return true;
    }

    // Waits until every queued job has been printed.
    bool waitForIdle()
    {
        const QDeadlineTimer deadline(180000);
        while (!deadline.hasExpired()) {
            if (run(QStringLiteral("lpstat"), {QStringLiteral("-o")}).trimmed().isEmpty())
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    // "total" pages the service counted for each job (copies included), by job number.
    QMap<int, int> pagesByJob() const
    {
        QMap<int, int> pages;
        for (const QString &line : QString::fromUtf8(gm::test::readAll(m_dir.filePath(QStringLiteral("log/page_log")))).split(u'\n')) {
            const QStringList fields = line.split(u' ');
            const int total = fields.indexOf(QStringLiteral("total"));
            if (fields.size() > 2 && total > 0 && total + 1 < fields.size())
                pages[fields[2].toInt()] = fields[total + 1].toInt();
        }
        return pages;
    }

    ~PrivateCups()
    {
        if (m_cupsd.state() != QProcess::NotRunning) {
            m_cupsd.terminate();
            if (!m_cupsd.waitForFinished(10000)) {
                m_cupsd.kill();
                m_cupsd.waitForFinished(5000);
            }
        }
    }

    static QString run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private:
    QTemporaryDir m_dir;
    QString m_socket;
    QProcess m_cupsd;
    EnvironmentGuard m_environment;
};

// The PDF files cups-pdf wrote for this user.
QString pdfPrinterOutput()
{
    const passwd *user = getpwuid(geteuid());
    return QString::fromLocal8Bit(user ? user->pw_dir : "/root") + QStringLiteral("/PDF");
}

QStringList pdfFiles()
{
    return QDir(pdfPrinterOutput()).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
}

} // namespace

#define GM_REQUIRE_PRINT_SERVICE(cups)                                                                                           \
    PrivateCups cups;                                                                                                            \
    if (QString why; !cups.start(&why))                                                                                          \
    GTEST_SKIP() << "no private print service: " << why.toStdString()

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
    const QStringList before = pdfFiles();
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
    QStringList written = pdfFiles();
    for (const QString &name : before)
        written.removeAll(name);
    ASSERT_EQ(written.size(), 2) << written.join(u' ').toStdString();
    for (const QString &name : written) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(pagesOf(pdfPrinterOutput() + u'/' + name), 2 * kWorkbookPages);
        QFile::remove(pdfPrinterOutput() + u'/' + name);
    }
}

TEST(PrintService, TheCommandLinePrintsTheChosenSheetsToANamedPrinter)
{
    GM_REQUIRE_PRINT_SERVICE(cups);
    if (QString why; !cups.addPdfPrinter(QStringLiteral("GridmuleCli"), &why))
        GTEST_SKIP() << why.toStdString();
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(fixture(QStringLiteral("print_pages.xlsx")), dir.path());

    const auto unknown = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--printer"), QStringLiteral("NoSuchPrinter"), xlsx});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("NoSuchPrinter")));
    const auto badCopies = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--copies"), QStringLiteral("100"), xlsx});
    EXPECT_EQ(badCopies.exitCode, 2);
    EXPECT_TRUE(badCopies.err.contains(kPrintBadCopies));

    const QStringList before = pdfFiles();
    const auto dry = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--dry-run"), QStringLiteral("--sheets"),
        QStringLiteral("3,1"), xlsx});
    EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(dry.out, xlsx + QStringLiteral("\twould print\tArea: 2 pages; One: 1 page\n"));

    const auto printed = gm::test::runCli({QStringLiteral("print"), QStringLiteral("--printer"), QStringLiteral("GridmuleCli"),
        QStringLiteral("--sheets"), QStringLiteral("3,1"), QStringLiteral("--copies"), QStringLiteral("3"), xlsx});
    EXPECT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    EXPECT_TRUE(printed.out.startsWith(xlsx + QStringLiteral("\tprinted\tArea: 2 pages (job GridmuleCli-"))) << printed.out.toStdString();
    ASSERT_TRUE(cups.waitForIdle());
    QStringList written = pdfFiles();
    for (const QString &name : before)
        written.removeAll(name);
    ASSERT_EQ(written.size(), 2) << "the dry run queued nothing, the real one two jobs";
    QList<int> pages;
    for (const QString &name : written) {
        pages << pagesOf(pdfPrinterOutput() + u'/' + name);
        QFile::remove(pdfPrinterOutput() + u'/' + name);
    }
    std::sort(pages.begin(), pages.end());
    EXPECT_EQ(pages, (QList<int>{3, 6})); // three copies of one page and of two pages
}
