// In-place editing benchmark without the engine: per-file milliseconds of each in-place change
// on a 10,000-cell workbook (1,000 rows x 10 columns, a hyperlink on every cell of the first
// column) in both formats, and the changed files kept for comparison. With a folder argument
// the source workbooks are made there once (the .xls by the engine) and reused by later runs,
// and each change's result is written there as out-<change>.<suffix>, so that two builds can be
// compared byte for byte (cmp) on the same sources. Figures for the engine's load-and-save are
// in protect_bench, links_bench and replace_bench.
// With ENGINE as a fourth argument, the engine's load-and-save of the same sources follows in the
// same run, and each change is shown as a multiple of it. The load average is printed at the
// start and the end: on a shared machine the time on the clock follows it.
// With "corpus" in place of the change, FOLDER is a folder of .xlsx workbooks (left as it is):
// each change is timed on copies of each workbook beside the engine's load-and-save of copies
// of the same workbook, and the median over the workbooks of the engine's time over the
// change's is printed for each change.
// Usage: inplace_bench [N] [FOLDER] [CHANGE|all|corpus] [engine]   (N files per change, default
// 20; only CHANGE, e.g. xls:protect-sheets, when given)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/Protection.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "operations/cells/ReplaceOperation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <ctime>
#include <functional>
#include <map>
#include <vector>

using namespace gm;

namespace {

// Processor time of the whole process, in milliseconds: on a shared machine it varies less
// than the time on the clock.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void eachWorksheet(Workbook &book, const std::function<void(Worksheet &)> &change)
{
    for (int i = 1; i <= book.worksheetCount(); ++i)
        change(*book.worksheet(i));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTextStream out(stdout);
    QTemporaryDir temporary;
    const bool corpus = argc > 3 && qstrcmp(argv[3], "corpus") == 0;
    const QDir keep(argc > 2 && !corpus ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    QDir().mkpath(keep.path());
    QDir work(temporary.path());
    const QString only = argc > 3 && qstrcmp(argv[3], "all") != 0 ? QString::fromLocal8Bit(argv[3]) : QString();
    const bool withEngine = argc > 4 && qstrcmp(argv[4], "engine") == 0;
    auto loadAverage = [] {
        QFile file(QStringLiteral("/proc/loadavg"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine().trimmed()) : QStringLiteral("unknown");
    };
    auto wanted = [&](const QString &suffix, const QString &label) {
        return only.isEmpty() || only == suffix + QLatin1Char(':') + label;
    };

    const QString xlsxSource = keep.filePath(QStringLiteral("source.xlsx"));
    const QString xlsSource = keep.filePath(QStringLiteral("source.xls"));
    const QString picture = keep.filePath(QStringLiteral("back.bmp"));
    if (!corpus && (!QFile::exists(xlsxSource) || !QFile::exists(xlsSource))) {
        bench::writeXlsx(xlsxSource, 1000, 10, bench::hyperlinks(1000));
        lo::LoApplication engine(libreOfficeProgramDir());
        auto book = engine.open(xlsxSource, true);
        book->saveAs(xlsSource, FileFormat::Excel8);
        book->close(false);
        engine.quit();
    }
    if (!QFile::exists(picture)) {
        QFile file(picture);
        file.open(QIODevice::WriteOnly);
        file.write(bench::bmp(200, 100));
    }

    const ProtectionPassword password(QStringLiteral("密码"));
    SheetPermissions allowed;
    allowed.allow(SheetPermission::Sort);
    allowed.allow(SheetPermission::AutoFilter);
    using Change = std::function<void(Workbook &)>;
    const QList<QPair<QString, Change>> changes = {
        {QStringLiteral("protect-sheets"),
            [&](Workbook &b) { eachWorksheet(b, [&](Worksheet &s) { s.protect(password, allowed); }); }},
        {QStringLiteral("protect-workbook"), [&](Workbook &b) { b.protect(password, true, false); }},
        {QStringLiteral("remove-links"), [](Workbook &b) { eachWorksheet(b, [](Worksheet &s) { s.deleteHyperlinks(); }); }},
        {QStringLiteral("background"),
            [&](Workbook &b) { eachWorksheet(b, [&](Worksheet &s) { s.setBackgroundPicture(picture); }); }},
    };

    auto copies = [&](const QString &source, const QString &label, int count) {
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files << work.filePath(QStringLiteral("%1-%2.%3").arg(label).arg(i).arg(QFileInfo(source).suffix()));
            QFile::remove(files.constLast());
            QFile::copy(source, files.constLast());
        }
        return files;
    };
    auto keepResult = [&](const QString &file, const QString &label) {
        const QString target = keep.filePath(QStringLiteral("out-%1.%2").arg(label, QFileInfo(file).suffix()));
        QFile::remove(target);
        QFile::copy(file, target);
    };

    if (corpus) {
        const QDir folder(QString::fromLocal8Bit(argv[2]));
        lo::LoApplication engine(libreOfficeProgramDir());
        const auto viaEngine = [&](const QString &path) { return engine.open(path, false); };
        const auto viaPackage = [](const QString &path) { return xlsx::openPackage(path); };
        out << "load average: " << loadAverage() << "\n";
        std::map<QString, std::vector<double>> ratios;
        int workbooks = 0;
        for (const QString &name : folder.entryList({QStringLiteral("*.xlsx")}, QDir::Files, QDir::Name)) {
            const QString source = folder.filePath(name);
            double engineMs = 0;
            try {
                bench::timePerFile(copies(source, QStringLiteral("engine-warm"), 1), viaEngine, [](Workbook &) {});
                engineMs = bench::timePerFile(copies(source, QStringLiteral("engine"), n), viaEngine, [](Workbook &) {});
            } catch (const EngineError &) {
                continue;
            }
            ++workbooks;
            for (const auto &[label, change] : changes) {
                try {
                    bench::timePerFile(copies(source, QStringLiteral("warm"), 1), viaPackage, change);
                    ratios[label].push_back(engineMs / bench::timePerFile(copies(source, label, n), viaPackage, change));
                } catch (const EngineError &) {
                    // not a change this workbook takes in place
                }
            }
        }
        engine.quit();
        out << "corpus: " << workbooks << " workbooks the engine loads and saves; median per-workbook multiple of the change\n";
        for (const auto &[label, values] : ratios)
            out << QStringLiteral("      %1%2x  (%3 workbooks)\n").arg(label, -18).arg(bench::median(values), 8, 'f', 1).arg(values.size());
        out << "load average: " << loadAverage() << "\n";
        return 0;
    }

    out << "load average: " << loadAverage() << "\n";
    out << "ms per file, 10,000-cell sheet, saved; mean over a run of " << n
        << " files, final flush included; then processor ms per file\n";
    QList<std::tuple<QString, QString, double>> measured; // suffix, change, ms per file
    for (const QString &source : {xlsxSource, xlsSource}) {
        const QString suffix = QFileInfo(source).suffix();
        auto editor = [&](const QString &p) {
            return suffix == QLatin1String("xls") ? xls::openXlsRecords(p) : xlsx::openPackage(p);
        };
        for (const auto &[label, change] : changes) {
            if (!wanted(suffix, label))
                continue;
            const QStringList warm = copies(source, QStringLiteral("warm"), 1);
            bench::timePerFile(warm, editor, change);
            const QStringList files = copies(source, label, n);
            const double cpuBefore = cpuMs();
            const double ms = bench::timePerFile(files, editor, change);
            const double cpu = (cpuMs() - cpuBefore) / n;
            keepResult(files.front(), label);
            measured.append({suffix, label, ms});
            out << QStringLiteral("%1 %2%3%4\n").arg(suffix, -5).arg(label, -18).arg(ms, 8, 'f', 2).arg(cpu, 8, 'f', 2);
            out.flush();
        }
    }

    if (withEngine) {
        lo::LoApplication engine(libreOfficeProgramDir());
        const auto viaEngine = [&](const QString &path) { return engine.open(path, false); };
        for (const QString &source : {xlsxSource, xlsSource}) {
            const QString suffix = QFileInfo(source).suffix();
            bench::timePerFile(copies(source, QStringLiteral("engine-warm"), 1), viaEngine, [](Workbook &) {});
            const double engineMs = bench::timePerFile(copies(source, QStringLiteral("engine"), n), viaEngine, [](Workbook &) {});
            out << QStringLiteral("%1 %2%3\n")
                       .arg(suffix, -5)
                       .arg(QStringLiteral("engine load+save"), -18)
                       .arg(engineMs, 8, 'f', 2);
            for (const auto &[changeSuffix, label, ms] : measured) {
                if (changeSuffix == suffix)
                    out << QStringLiteral("      %1%2x\n").arg(label, -18).arg(engineMs / ms, 8, 'f', 1);
            }
            out.flush();
        }
        engine.quit();
    }

    bench::SilentUi ui;
    for (const auto &[label, find, contains] : {std::tuple{QStringLiteral("replace-equals"), QStringLiteral("文本16"), false},
             std::tuple{QStringLiteral("replace-contains"), QStringLiteral("文本"), true}}) {
        if (!wanted(QStringLiteral("xlsx"), label))
            continue;
        ReplaceInputs inputs;
        inputs.entries = copies(xlsxSource, label, n);
        inputs.find = find;
        inputs.replacement = QStringLiteral("替换");
        inputs.contains = contains;
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = cpuMs();
        {
            DeferredDurability run;
            const RunSummary summary = runReplaceContent(inputs, ui, {});
            if (summary.failedCount() > 0) {
                QTextStream(stderr) << "replace failed: " << summary.files.front().errorDescription << "\n";
                return 1;
            }
        }
        keepResult(inputs.entries.front(), label);
        const double cpu = (cpuMs() - cpuBefore) / n;
        out << QStringLiteral("xlsx  %1%2%3\n")
                   .arg(label, -18)
                   .arg(double(timer.nsecsElapsed()) / 1e6 / n, 8, 'f', 2)
                   .arg(cpu, 8, 'f', 2);
    }
    out << "load average: " << loadAverage() << "\n";
    return 0;
}
