// Merge benchmark: milliseconds to merge 20 small .xlsx workbooks of the corpus (cells,
// merged ranges, column widths, tables, charts, comments, pictures) into one .xlsx through
// the package editor; beside it the same merge written as .xls (package editor, then one
// engine conversion) and the engine's load-and-save of the 20 sources, the least an
// engine-built merge would cost.
// Usage: merge_bench [RUNS [CORPUS]]   (runs of each, default 5; CORPUS the corpus's xlsx
// folder, by default the shared corpus beside the project)

#include "BenchWorkbooks.h"
#include "automation/EngineSession.h"
#include "operations/workbook/MergeOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

using namespace gm;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    const QString corpus = (argc > 2 ? QString::fromLocal8Bit(argv[2])
                                     : QCoreApplication::applicationDirPath() + QStringLiteral("/../../../shared/corpus/xlsx"))
        + u'/';
    const char *const names[] = {"merge_range01.xlsx", "merge_range02.xlsx", "format01.xlsx", "simple01.xlsx", "simple02.xlsx",
        "table01.xlsx", "table02.xlsx", "chart_bar01.xlsx", "chart_bar02.xlsx", "comment01.xlsx", "comment02.xlsx",
        "set_column03.xlsx", "outline01.xlsx", "rich_string01.xlsx", "shared_strings01.xlsx", "types01.xlsx", "utf8_01.xlsx",
        "hyperlink01.xlsx", "theme01.xlsx", "cond_format01.xlsx"};
    QTemporaryDir dir;
    QStringList sources;
    for (const char *name : names) {
        const QString path = corpus + QString::fromLatin1(name);
        const QString copy = dir.filePath(QString::fromLatin1(name));
        if (!QFile::copy(path, copy)) {
            out << "corpus file missing: " << path << Qt::endl;
            return 1;
        }
        sources.append(copy);
    }

    auto timeMerge = [&](const QString &target) {
        std::vector<double> times;
        int sheets = 0;
        for (int run = 0; run < runs; ++run) {
            QFile::remove(target);
            bench::SilentUi ui(true);
            MergeInputs inputs;
            inputs.entries = sources;
            inputs.targetPath = target;
            MergeResult result;
            QElapsedTimer timer;
            timer.start();
            const RunSummary summary = mergeWorkbooks(inputs, ui, {}, false, &result);
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
            sheets = int(result.sheetNames.size());
            if (!result.written || summary.failedCount() > 0)
                out << "  (" << summary.failedCount() << " sources failed)" << Qt::endl;
        }
        return std::make_pair(bench::median(times), sheets);
    };

    const auto [xlsxMs, xlsxSheets] = timeMerge(dir.filePath(QStringLiteral("merged.xlsx")));
    out << "merge of " << sources.size() << " .xlsx into .xlsx (package editor): " << QString::number(xlsxMs, 'f', 1)
        << " ms median of " << runs << ", " << xlsxSheets << " sheets" << Qt::endl;
    const auto [xlsMs, xlsSheets] = timeMerge(dir.filePath(QStringLiteral("merged.xls")));
    out << "merge of " << sources.size() << " .xlsx into .xls (package editor + one engine conversion, engine start "
        << "included): " << QString::number(xlsMs, 'f', 1) << " ms median, " << xlsSheets << " sheets" << Qt::endl;

    // The engine's side: load and save each source once, engine already running.
    EngineSession engines;
    engines.libreOffice();
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (const QString &source : sources) {
            std::unique_ptr<Workbook> workbook = engines.open(source, WorkbookUse::Engine, true);
            workbook->saveAs(dir.filePath(QStringLiteral("engine.xlsx")), FileFormat::OpenXmlWorkbook);
            workbook->close(false);
        }
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    out << "engine load-and-save of the " << sources.size()
        << " sources (running engine): " << QString::number(bench::median(times), 'f', 1) << " ms median" << Qt::endl;
    return 0;
}
