// Content-replace benchmark: per-file milliseconds of a replace run over .xlsx files of one
// 10,000-cell sheet (1,000 rows x 10 columns, every third cell text) through the package
// editor, in equals mode (one cell matches) and in contains mode (every text cell matches);
// beside it the engine's load-and-save of the same files, the least the alternative costs (the
// engine backend reads and writes cells of .xls files only, so its replace of these files
// cannot be timed). Each figure is CPU time (the engine's process and ours) and elapsed time;
// on a busy machine the CPU figures are the ones to compare.
// Usage: replace_bench [N]   (N files per kind, default 10)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/EngineLocator.h"
#include "automation/UserInterface.h"
#include "automation/lo/LoApplication.h"
#include "operations/cells/ReplaceOperation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace gm;

namespace {

struct Cost
{
    double cpuMs = 0;
    double wallMs = 0;
};

double ownCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// User and system time of another process, from /proc; 0 when it cannot be read.
double processCpuMs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    }
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Times `work` over n files: this process's CPU, plus the engine's when one is given.
Cost timed(int n, const std::function<void()> &work, pid_t engine = 0)
{
    QElapsedTimer timer;
    const double engineBefore = engine ? processCpuMs(engine) : 0;
    const double before = ownCpuMs();
    timer.start();
    work();
    Cost cost;
    cost.wallMs = double(timer.nsecsElapsed()) / 1e6 / n;
    cost.cpuMs = (ownCpuMs() - before + (engine ? processCpuMs(engine) - engineBefore : 0)) / n;
    return cost;
}

QStringList makeFiles(const QTemporaryDir &dir, const QString &kind, int n)
{
    QStringList files;
    for (int i = 0; i < n; ++i) {
        files << dir.filePath(QStringLiteral("%1-%2.xlsx").arg(kind).arg(i));
        bench::writeXlsx(files.constLast(), 1000, 10);
    }
    return files;
}

Cost replaceCost(const QStringList &files, const QString &find, bool contains)
{
    bench::SilentUi ui;
    ReplaceInputs inputs;
    inputs.entries = files;
    inputs.find = find;
    inputs.replacement = QStringLiteral("替换");
    inputs.contains = contains;
    return timed(int(files.size()), [&] {
        DeferredDurability run;
        const RunSummary summary = runReplaceContent(inputs, ui, {});
        if (summary.failedCount() > 0) {
            QTextStream(stderr) << "replace failed: " << summary.files.front().errorDescription << "\n";
            exit(1);
        }
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTextStream out(stdout);
    QTemporaryDir dir;

    const Cost equals = replaceCost(makeFiles(dir, QStringLiteral("equals"), n), QStringLiteral("文本16"), false);
    const Cost contains = replaceCost(makeFiles(dir, QStringLiteral("contains"), n), QStringLiteral("文本"), true);

    lo::LoApplication engine(libreOfficeProgramDir());
    // A first file brings the engine's libraries in, as it would in a run.
    engine.open(makeFiles(dir, QStringLiteral("warm"), 1).front())->close(false);
    const QStringList engineFiles = makeFiles(dir, QStringLiteral("engine"), n);
    const Cost loadSave = timed(
        n,
        [&] {
            DeferredDurability run;
            for (const QString &file : engineFiles) {
                auto book = engine.open(file);
                book->save();
                book->close(false);
            }
        },
        engine.enginePid());

    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    out << "ms per file, 10,000-cell sheet, saved; mean over a run of " << n << " files; load average "
        << QString::number(load[0], 'f', 1) << "\n";
    out << "                                         CPU   elapsed\n";
    auto line = [&](const char *label, const Cost &cost) {
        out << QString::fromUtf8(label).leftJustified(36)
            << QStringLiteral("%1  %2\n").arg(cost.cpuMs, 8, 'f', 2).arg(cost.wallMs, 8, 'f', 2);
    };
    line("replace, equals (1 cell changed)", equals);
    line("replace, contains (4,000 cells)", contains);
    line("engine load+save only", loadSave);
    out << QStringLiteral("CPU ratio engine load+save / ours, equals:   %1\n").arg(loadSave.cpuMs / equals.cpuMs, 6, 'f', 1);
    out << QStringLiteral("CPU ratio engine load+save / ours, contains: %1\n").arg(loadSave.cpuMs / contains.cpuMs, 6, 'f', 1);
    return 0;
}
