// Content-replace benchmark: per-file milliseconds of a replace run over .xlsx files of one
// 10,000-cell sheet (1,000 rows x 10 columns, every third cell text) through the package
// editor, in equals mode (one cell matches) and in contains mode (every text cell matches);
// beside it the engine's load-and-save of the same files, the least the alternative costs.
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

using namespace gm;

namespace {

QStringList makeFiles(const QTemporaryDir &dir, const QString &kind, int n)
{
    QStringList files;
    for (int i = 0; i < n; ++i) {
        files << dir.filePath(QStringLiteral("%1-%2.xlsx").arg(kind).arg(i));
        bench::writeXlsx(files.constLast(), 1000, 10);
    }
    return files;
}

double replaceMs(const QStringList &files, const QString &find, bool contains)
{
    bench::SilentUi ui;
    ReplaceInputs inputs;
    inputs.entries = files;
    inputs.find = find;
    inputs.replacement = QStringLiteral("替换");
    inputs.contains = contains;
    QElapsedTimer timer;
    timer.start();
    {
        DeferredDurability run;
        const RunSummary summary = runReplaceContent(inputs, ui, {});
        if (summary.failedCount() > 0) {
            QTextStream(stderr) << "replace failed: " << summary.files.front().errorDescription << "\n";
            exit(1);
        }
    }
    return double(timer.nsecsElapsed()) / 1e6 / double(files.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTextStream out(stdout);
    QTemporaryDir dir;

    const double equalsMs = replaceMs(makeFiles(dir, QStringLiteral("equals"), n), QStringLiteral("文本16"), false);
    const double containsMs = replaceMs(makeFiles(dir, QStringLiteral("contains"), n), QStringLiteral("文本"), true);

    lo::LoApplication engine(libreOfficeProgramDir());
    const QStringList engineFiles = makeFiles(dir, QStringLiteral("engine"), n);
    QElapsedTimer timer;
    timer.start();
    {
        DeferredDurability run;
        for (const QString &file : engineFiles) {
            auto book = engine.open(file);
            book->save();
            book->close(false);
        }
    }
    const double engineMs = double(timer.nsecsElapsed()) / 1e6 / double(n);

    out << "ms per file, 10,000-cell sheet, saved; mean over a run of " << n << " files\n";
    out << QStringLiteral("replace, equals (1 cell changed):      %1\n").arg(equalsMs, 8, 'f', 2);
    out << QStringLiteral("replace, contains (4,000 cells):       %1\n").arg(containsMs, 8, 'f', 2);
    out << QStringLiteral("engine load+save only:                 %1\n").arg(engineMs, 8, 'f', 2);
    out << QStringLiteral("ratio engine / equals:                 %1\n").arg(engineMs / equalsMs, 8, 'f', 0);
    return 0;
}
