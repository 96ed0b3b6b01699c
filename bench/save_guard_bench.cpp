// Save-guard benchmark: milliseconds to read an .xls workbook and its saved copy cell by cell
// and compare them, as every in-place engine save of an .xls does before it replaces the
// original; for 30, 10,000 and 100,000 cells, and the peak memory of the process.
// Usage: save_guard_bench [N]   (N comparisons per size, default 20)

#include "BenchWorkbooks.h"
#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/SaveGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <algorithm>

using namespace gm;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTextStream out(stdout);
    QTemporaryDir dir;
    lo::LoApplication engine(libreOfficeProgramDir());

    out << "ms per check: read the original and the copy, compare every cell, name and stream; mean of " << n << "\n";
    out << QStringLiteral("%1%2%3\n")
               .arg(QStringLiteral("cells"), -10)
               .arg(QStringLiteral("bytes"), 12)
               .arg(QStringLiteral("ms"), 10);
    for (const int rows : {3, 1000, 10000}) {
        const QString base = dir.filePath(QStringLiteral("book-%1").arg(rows));
        bench::writeXlsx(base + QStringLiteral(".xlsx"), rows, 10);
        {
            auto book = engine.open(base + QStringLiteral(".xlsx"), true);
            book->saveAs(base + QStringLiteral(".xls"), FileFormat::Excel8);
            book->close(false);
        }
        QFile::copy(base + QStringLiteral(".xls"), base + QStringLiteral("-copy.xls"));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < n; ++i)
            xls::checkSaveKeepsContent(base + QStringLiteral(".xls"), base + QStringLiteral("-copy.xls"), {});
        const double ms = timer.nsecsElapsed() / 1e6 / n;
        out << QStringLiteral("%1%2%3\n")
                   .arg(rows * 10, -10)
                   .arg(QFile(base + QStringLiteral(".xls")).size(), 12)
                   .arg(ms, 10, 'f', 2);
        out.flush();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out << "peak resident memory of this process: " << usage.ru_maxrss / 1024 << " MB\n";
    return 0;
}
