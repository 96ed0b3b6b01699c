// Engine workers benchmark: converts the same .xls files to .xlsx through the batch frame with
// 1 worker and with N workers (engine start-up included, as in a real run), then sets cells in
// copies of them (the engine's change, checked cell by cell before each original is replaced)
// with 1 and N workers, and prints the wall times, the speed-ups and the load average measured
// before and after each run, and the time one engine takes to start and quit.
// Usage: workers_bench [FILES] [N]   (default 50 files of 300 x 10 cells, N = processors)

#include "automation/BatchFrame.h"
#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "operations/workbook/ConvertOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include "BenchWorkbooks.h"

#include <algorithm>
#include <functional>

#include <sys/resource.h>

using namespace gm;

namespace {

// Answers nothing and shows nothing: the benchmark writes into empty folders.
class SilentUi : public UserInterface
{
public:
    void inform(const QString &) override { }
    bool askYesNo(const QString &) override { return true; }
    bool askOkCancel(const QString &) override { return false; }
    void setStatus(const QString &) override { }
    void setBusy(bool) override { }
    void openInViewer(const QString &) override { }
};

// Processor seconds used so far by this program and by the engines it started and ended.
double processorSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(2, atoi(argv[1])) : 50;
    const int jobs = argc > 2 ? std::clamp(atoi(argv[2]), 2, kMaxEngineJobs) : std::max(2, defaultEngineJobs());
    QTextStream out(stdout);
    QTemporaryDir dir;

    // Sources: .xls files written by the engine from generated .xlsx packages.
    const QString src = dir.filePath(QStringLiteral("src"));
    QDir().mkpath(src);
    QStringList sources;
    {
        lo::LoApplication engine(libreOfficeProgramDir());
        for (int i = 0; i < files; ++i) {
            const QString base = src + QStringLiteral("/book-%1").arg(i, 3, 10, QLatin1Char('0'));
            bench::writeXlsx(base + QStringLiteral(".xlsx"), 300, 10);
            auto book = engine.open(base + QStringLiteral(".xlsx"), true);
            book->saveAs(base + QStringLiteral(".xls"), FileFormat::Excel8);
            book->close(false);
            QFile::remove(base + QStringLiteral(".xlsx"));
            sources << base + QStringLiteral(".xls");
        }
    }
    out << files << " .xls files (300 x 10 cells) to .xlsx, engine start-up included, " << QThread::idealThreadCount()
        << " processors\n";

    // One engine's start on the finished profile, up to its first answer and set up, and its
    // quit: the part of a run that more workers do not shorten. The least of three starts.
    {
        double fastest = 0, fastestProcessor = 0;
        for (int i = 0; i < 3; ++i) {
            const double processor = processorSeconds();
            QElapsedTimer timer;
            timer.start();
            lo::LoApplication(libreOfficeProgramDir()).quit();
            const double seconds = timer.nsecsElapsed() / 1e9;
            if (i == 0 || seconds < fastest) {
                fastest = seconds;
                fastestProcessor = processorSeconds() - processor;
            }
        }
        out << QStringLiteral("engine start and quit: %1 s, processor time %2 s (least of 3); load average %3\n")
                   .arg(fastest, 0, 'f', 2)
                   .arg(fastestProcessor, 0, 'f', 2)
                   .arg(loadAverage());
    }

    SilentUi ui;
    // Runs `run` with the given number of workers and prints its wall and processor time.
    auto timed = [&](int workers, const std::function<RunSummary(const RunSettings &)> &run) {
        RunSettings settings;
        settings.jobs = workers;
        const QString before = loadAverage();
        const double processor = processorSeconds();
        QElapsedTimer timer;
        timer.start();
        const RunSummary summary = run(settings);
        const double seconds = timer.nsecsElapsed() / 1e9;
        const double used = processorSeconds() - processor;
        out << QStringLiteral("%1 worker(s): %2 s, %3 failed; processor time %4 s (%5 processors busy); "
                              "load average before %6, after %7\n")
                   .arg(workers, 2)
                   .arg(seconds, 0, 'f', 2)
                   .arg(summary.failedCount())
                   .arg(used, 0, 'f', 2)
                   .arg(used / seconds, 0, 'f', 2)
                   .arg(before, loadAverage());
        out.flush();
        return seconds;
    };
    auto convert = [&](int workers) {
        return timed(workers, [&](const RunSettings &settings) {
            ConvertInputs inputs;
            inputs.entries = sources;
            inputs.targetIndex = 4; // Excel 2007 workbook
            inputs.outputFolder = dir.filePath(QStringLiteral("out-%1").arg(workers));
            return runConvert(inputs, ui, settings);
        });
    };
    const double one = convert(1);
    const double many = convert(jobs);
    out << QStringLiteral("speed-up with %1 workers: %2x\n").arg(jobs).arg(one / many, 0, 'f', 2);

    // Deleting lines of an .xls is a change only the engine makes, so it runs on the workers.
    out << "\ndeleting row 2 of the active sheet of copies of the same files (.xls changed in place)\n";
    auto deleteRow = [&](int workers) {
        return timed(workers, [&](const RunSettings &settings) {
            const QString folder = dir.filePath(QStringLiteral("change-%1").arg(workers));
            QDir().mkpath(folder);
            RowsColumnsInputs inputs;
            for (const QString &source : std::as_const(sources)) {
                inputs.entries << folder + QLatin1Char('/') + QFileInfo(source).fileName();
                QFile::copy(source, inputs.entries.last());
            }
            inputs.mode = RowsColumnsMode::Delete;
            inputs.rows = true;
            inputs.rowFrom = QStringLiteral("2");
            inputs.rowTo = QStringLiteral("2");
            return runRowsColumns(inputs, ui, settings);
        });
    };
    const double changeOne = deleteRow(1);
    const double changeMany = deleteRow(jobs);
    out << QStringLiteral("speed-up with %1 workers: %2x\n").arg(jobs).arg(changeOne / changeMany, 0, 'f', 2);
    return 0;
}
