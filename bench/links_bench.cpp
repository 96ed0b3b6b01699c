// Hyperlink and background benchmark: per-file milliseconds of removing every hyperlink and
// of setting a sheet background (a 200 x 100 picture), each saved, through the .xlsx package
// editor and the .xls record editor; beside them the engine's load-and-save of the same files,
// the cost of the alternative. Small files have 20 rows, large ones 2,000 (10 cells a row),
// with a hyperlink on every cell of the first column.
// Usage: links_bench [N]   (N files per kind, default 10)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <functional>

using namespace gm;
using bench::timePerFile;

namespace {

void eachWorksheet(Workbook &book, const std::function<void(Worksheet &)> &change)
{
    for (int i = 1; i <= book.worksheetCount(); ++i)
        change(*book.worksheet(i));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTextStream out(stdout);
    QTemporaryDir dir;
    lo::LoApplication engine(libreOfficeProgramDir());
    const QString picture = dir.filePath(QStringLiteral("back.bmp"));
    {
        QFile file(picture);
        file.open(QIODevice::WriteOnly);
        file.write(bench::bmp(200, 100));
    }

    out << "ms per file, saved; mean over a run of " << n << " files, final flush to disk included\n";
    out << QStringLiteral("%1%2%3%4%5\n")
               .arg(QStringLiteral("file"), -12)
               .arg(QStringLiteral("links"), 10)
               .arg(QStringLiteral("background"), 12)
               .arg(QStringLiteral("engine load+save"), 18)
               .arg(QStringLiteral("ratio (slower)"), 16);
    for (const auto &[kind, rows] : {std::pair{QStringLiteral("small"), 20}, std::pair{QStringLiteral("large"), 2000}}) {
        const QString xlsxSource = dir.filePath(QStringLiteral("%1.xlsx").arg(kind));
        bench::writeXlsx(xlsxSource, rows, 10, bench::hyperlinks(rows));
        const QString xlsSource = dir.filePath(QStringLiteral("%1.xls").arg(kind));
        {
            auto book = engine.open(xlsxSource);
            book->saveAs(xlsSource, FileFormat::Excel8);
            book->close(false);
        }
        for (const QString &suffix : {QStringLiteral("xlsx"), QStringLiteral("xls")}) {
            const QString source = suffix == QLatin1String("xls") ? xlsSource : xlsxSource;
            QStringList linkFiles, backgroundFiles, engineFiles;
            for (int i = 0; i < n; ++i) {
                for (QStringList *list : {&linkFiles, &backgroundFiles, &engineFiles}) {
                    const QString path = dir.filePath(QStringLiteral("%1-%2-%3.%4")
                                                          .arg(kind)
                                                          .arg(i)
                                                          .arg(list == &linkFiles            ? 1
                                                                  : list == &backgroundFiles ? 2
                                                                                             : 3)
                                                          .arg(suffix));
                    QFile::copy(source, path);
                    list->append(path);
                }
            }
            auto editor = [&](const QString &p) {
                return suffix == QLatin1String("xls") ? xls::openXlsRecords(p) : xlsx::openPackage(p);
            };
            // One untimed file first, so that one-time costs (loading, the picture's decoding)
            // are not counted per file.
            const QString warmUp = dir.filePath(QStringLiteral("%1-warm.%2").arg(kind, suffix));
            QFile::copy(source, warmUp);
            timePerFile({warmUp}, editor, [&](Workbook &b) {
                eachWorksheet(b, [&](Worksheet &s) {
                    s.deleteHyperlinks();
                    s.setBackgroundPicture(picture);
                });
            });
            const double linksMs = timePerFile(
                linkFiles, editor, [](Workbook &b) { eachWorksheet(b, [](Worksheet &s) { s.deleteHyperlinks(); }); });
            const double backgroundMs = timePerFile(backgroundFiles, editor,
                [&](Workbook &b) { eachWorksheet(b, [&](Worksheet &s) { s.setBackgroundPicture(picture); }); });
            const double engineMs = timePerFile(
                engineFiles, [&](const QString &p) { return engine.open(p); }, [](Workbook &) {});
            out << QStringLiteral("%1%2%3%4%5\n")
                       .arg(kind + QLatin1Char(' ') + suffix, -12)
                       .arg(linksMs, 10, 'f', 2)
                       .arg(backgroundMs, 12, 'f', 2)
                       .arg(engineMs, 18, 'f', 2)
                       .arg(engineMs / std::max(linksMs, backgroundMs), 16, 'f', 0);
            out.flush();
        }
    }
    return 0;
}
