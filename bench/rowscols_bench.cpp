// Rows-and-columns benchmark on a large .xlsx: one worksheet of ROWS x 10 cells (default
// 200,000, about 15 MB). Each run happens in a child process of its own, so that its peak
// resident memory (getrusage ru_maxrss) is its own, start-up included:
// - hide: columns C:E and rows 1000:1999 hidden in place by the package editor;
// - size: rows 10:100000 given a height and columns B:D a width in place;
// - delete: column B and then rows 10:100000 deleted in place by the package editor, every
//   reference moved;
// - engine: the spreadsheet engine loading and storing the same file unchanged, the least any
//   change made through it costs per file (its start-up is not counted; its CPU time is spent
//   in the engine's own process, so only the wall-clock milliseconds compare);
// - engine-delete: the engine deleting the same column and rows itself and storing the file.
// Usage: rowscols_bench [ROWS]

#include "BenchWorkbooks.h"
#include "automation/BatchFrame.h"
#include "automation/EngineSession.h"
#include "operations/cells/RowsColumnsOperation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>

using namespace gm;

namespace {

double cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Child: one run on one file; prints "milliseconds CPU-milliseconds peak-KiB outcome".
int measure(const QString &what, const QString &file)
{
    bench::SilentUi ui;
    RunSettings settings;
    bool ok = false;
    double ms = 0;
    if (what.startsWith(QLatin1String("engine"))) {
        EngineSession session;
        session.libreOffice(); // started before the clock
        QElapsedTimer timer;
        timer.start();
        try {
            std::unique_ptr<Workbook> workbook = session.open(file, WorkbookUse::Engine);
            if (what == QLatin1String("engine-delete")) {
                workbook->worksheet(1)->deleteColumns(QStringLiteral("B"));
                workbook->worksheet(1)->deleteRows(QStringLiteral("10:100000"));
            }
            workbook->save();
            workbook->close(false);
            ok = true;
        } catch (const EngineError &) { }
        ms = double(timer.nsecsElapsed()) / 1e6;
        session.quit();
    } else {
        RowsColumnsInputs inputs;
        inputs.entries = {file};
        inputs.columns = inputs.rows = true;
        if (what == QLatin1String("hide")) {
            inputs.mode = RowsColumnsMode::Hide;
            inputs.columnFrom = QStringLiteral("C");
            inputs.columnTo = QStringLiteral("E");
            inputs.rowFrom = QStringLiteral("1000");
            inputs.rowTo = QStringLiteral("1999");
        } else if (what == QLatin1String("delete")) {
            inputs.mode = RowsColumnsMode::Delete;
            inputs.columnFrom = inputs.columnTo = QStringLiteral("B");
            inputs.rowFrom = QStringLiteral("10");
            inputs.rowTo = QStringLiteral("100000");
        } else {
            inputs.mode = RowsColumnsMode::Size;
            inputs.columnFrom = QStringLiteral("B");
            inputs.columnTo = QStringLiteral("D");
            inputs.rowFrom = QStringLiteral("10");
            inputs.rowTo = QStringLiteral("100000");
            inputs.height = QStringLiteral("20");
            inputs.width = QStringLiteral("15");
        }
        QElapsedTimer timer;
        timer.start();
        const RunSummary summary = runRowsColumns(inputs, ui, settings);
        ms = double(timer.nsecsElapsed()) / 1e6;
        ok = summary.files.size() == 1 && summary.files.front().outcome == FileOutcome::Processed;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    QTextStream(stdout) << ms << ' ' << cpuMilliseconds() << ' ' << usage.ru_maxrss << ' ' << (ok ? "ok" : "FAILED") << '\n';
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--child"))
        return measure(args[2], args[3]);
    if (args.size() == 4 && args[1] == QLatin1String("--generate")) {
        bench::writeXlsx(args[2], args[3].toInt(), 10);
        return 0;
    }

    const int rows = args.size() > 1 ? std::max(1, args[1].toInt()) : 200000;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("large.xlsx"));
    QProcess generator;
    generator.start(app.applicationFilePath(), {QStringLiteral("--generate"), source, QString::number(rows)});
    generator.waitForFinished(-1);
    out << rows << " x 10 cells, " << QFileInfo(source).size() / 1024 << " KiB\n";
    out << QStringLiteral("%1%2%3%4\n")
               .arg(QStringLiteral("run"), -14)
               .arg(QStringLiteral("ms"), 10)
               .arg(QStringLiteral("CPU ms"), 10)
               .arg(QStringLiteral("peak MiB"), 10);
    for (const QString &what : {QStringLiteral("hide"), QStringLiteral("size"), QStringLiteral("delete"),
             QStringLiteral("engine"), QStringLiteral("engine-delete")}) {
        const QString target = dir.filePath(what + QStringLiteral(".xlsx"));
        QFile::remove(target);
        QFile::copy(source, target);
        QProcess child;
        child.start(app.applicationFilePath(), {QStringLiteral("--child"), what, target});
        child.waitForFinished(-1);
        const QStringList figures = QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
        if (figures.size() != 4) {
            out << what << ": child failed\n";
            continue;
        }
        out << QStringLiteral("%1%2%3%4  %5\n")
                   .arg(what, -14)
                   .arg(figures[0].toDouble(), 10, 'f', 1)
                   .arg(figures[1].toDouble(), 10, 'f', 1)
                   .arg(figures[2].toDouble() / 1024, 10, 'f', 1)
                   .arg(figures[3]);
        out.flush();
    }
    return 0;
}
