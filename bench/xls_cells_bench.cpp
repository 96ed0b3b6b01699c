// .xls cell operations: per-file milliseconds of replace (equals: one cell, contains: every
// text cell) and set cells (ten constants) written into the records; the same ten cells with
// one formula among them (the whole file then goes through the engine), ten formulas, and
// deleting rows 2-11 through the engine; each saved with the cell-by-cell check, over .xls
// files of one 10,000-cell sheet (1,000 rows x 10 columns, every third cell text). Beside them
// the engine's plain load-and-save of the same files and the check alone, which together are
// the floor of any engine change.
// Usage: xls_cells_bench [N]   (N files per kind, default 5)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/EngineLocator.h"
#include "automation/EngineSession.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/SaveGuard.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "operations/cells/SetCellsOperation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdlib>

using namespace gm;

namespace {

QString g_template;

QStringList makeFiles(const QTemporaryDir &dir, const QString &kind, int n)
{
    QStringList files;
    for (int i = 0; i < n; ++i) {
        files << dir.filePath(QStringLiteral("%1-%2.xls").arg(kind).arg(i));
        QFile::copy(g_template, files.constLast());
    }
    return files;
}

double runMs(const QStringList &files, const std::function<RunSummary()> &run)
{
    QElapsedTimer timer;
    timer.start();
    {
        DeferredDurability durability;
        const RunSummary summary = run();
        if (summary.failedCount() > 0) {
            QTextStream(stderr) << "run failed: " << summary.files.front().errorDescription << " "
                                << summary.files.front().errorDetail << "\n";
            exit(1);
        }
    }
    return double(timer.nsecsElapsed()) / 1e6 / double(files.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    QTemporaryDir dir;
    bench::SilentUi ui;

    // The .xls every run starts from, written by the engine from a generated .xlsx.
    {
        const QString xlsx = dir.filePath(QStringLiteral("template.xlsx"));
        bench::writeXlsx(xlsx, 1000, 10);
        g_template = dir.filePath(QStringLiteral("template.xls"));
        EngineSession session;
        auto book = session.open(xlsx, WorkbookUse::Engine, true);
        book->saveAs(g_template, FileFormat::Excel8);
        book->close(false);
    }

    ReplaceInputs replace;
    replace.find = QStringLiteral("文本15");
    replace.replacement = QStringLiteral("替换");
    QStringList files = makeFiles(dir, QStringLiteral("equals"), n);
    replace.entries = files;
    const double equalsMs = runMs(files, [&] { return runReplaceContent(replace, ui, {}); });

    files = makeFiles(dir, QStringLiteral("contains"), n);
    replace.entries = files;
    replace.find = QStringLiteral("文本");
    replace.contains = true;
    const double containsMs = runMs(files, [&] { return runReplaceContent(replace, ui, {}); });

    files = makeFiles(dir, QStringLiteral("constants"), n);
    SetCellsInputs constants;
    constants.entries = files;
    const char *typed[] = {"12.5", "5%", "1/2/2020", "TRUE", "#N/A", "'001", "text", "1,234", "$3.50", "other text"};
    for (int i = 1; i <= 10; ++i)
        constants.cells << CellListEntry{QString::number(i * 7), QString::number(i), QString::fromUtf8(typed[i - 1])};
    const double constantsMs = runMs(files, [&] { return runSetCells(constants, ui, {}); });

    files = makeFiles(dir, QStringLiteral("mixed"), n);
    constants.entries = files;
    constants.cells.last().content = QStringLiteral("=A1*2");
    const double mixedMs = runMs(files, [&] { return runSetCells(constants, ui, {}); });

    files = makeFiles(dir, QStringLiteral("set"), n);
    SetCellsInputs set;
    set.entries = files;
    for (int i = 1; i <= 10; ++i)
        set.cells << CellListEntry{QString::number(i * 7), QString::number(i), QStringLiteral("=A%1*2").arg(i)};
    const double setMs = runMs(files, [&] { return runSetCells(set, ui, {}); });

    files = makeFiles(dir, QStringLiteral("delete"), n);
    RowsColumnsInputs rows;
    rows.entries = files;
    rows.mode = RowsColumnsMode::Delete;
    rows.rows = true;
    rows.rowFrom = QStringLiteral("2");
    rows.rowTo = QStringLiteral("11");
    const double deleteMs = runMs(files, [&] { return runRowsColumns(rows, ui, {}); });

    lo::LoApplication engine(libreOfficeProgramDir());
    files = makeFiles(dir, QStringLiteral("engine"), n);
    const double engineMs = bench::timePerFile(files, [&](const QString &file) { return engine.open(file); }, [](Workbook &) { });

    files = makeFiles(dir, QStringLiteral("check"), n);
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files)
        xls::checkSaveKeepsContent(g_template, file, {});
    const double checkMs = double(timer.nsecsElapsed()) / 1e6 / double(n);

    out << "ms per file, .xls with a 10,000-cell sheet, saved; mean over a run of " << n << " files\n";
    out << QStringLiteral("replace, equals (1 cell changed):      %1\n").arg(equalsMs, 8, 'f', 1);
    out << QStringLiteral("replace, contains (4,000 cells):       %1\n").arg(containsMs, 8, 'f', 1);
    out << QStringLiteral("set cells (10 constants):              %1\n").arg(constantsMs, 8, 'f', 1);
    out << QStringLiteral("set cells (9 constants, 1 formula):    %1\n").arg(mixedMs, 8, 'f', 1);
    out << QStringLiteral("set cells (10 formulas):               %1\n").arg(setMs, 8, 'f', 1);
    out << QStringLiteral("delete rows 2-11:                      %1\n").arg(deleteMs, 8, 'f', 1);
    out << QStringLiteral("engine load+save (check included):     %1\n").arg(engineMs, 8, 'f', 1);
    out << QStringLiteral("the check alone (both files read):     %1\n").arg(checkMs, 8, 'f', 1);
    return 0;
}
