// Property-change benchmark: per-file milliseconds of setting the title of a workbook and
// saving it, through the .xlsx package editor, the .xls property-stream editor and the
// LibreOffice backend, for small (30 cells) and large (10,000 cells) files.
// Usage: properties_bench [N]   (N files per kind, default 20)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/ole/XlsPropertyWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

using namespace gm;

namespace {

// Mean milliseconds per file over a run of files, as a batch run does it: the flush of the
// written files to disk happens once at the end of the run and is included.
double timePerFile(const QStringList &files, const std::function<std::unique_ptr<Workbook>(const QString &)> &open)
{
    QElapsedTimer timer;
    timer.start();
    {
        DeferredDurability run;
        int n = 0;
        for (const QString &file : files) {
            auto book = open(file);
            book->setBuiltinProperty(DocumentProperty::Title, QStringLiteral("标题 %1").arg(++n));
            book->save();
            book->close(false);
        }
    }
    return timer.nsecsElapsed() / 1e6 / static_cast<double>(files.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTextStream out(stdout);
    QTemporaryDir dir;
    lo::LoApplication engine(libreOfficeProgramDir());

    struct Kind
    {
        QString name;
        int rows;
    };
    out << "ms per file: set Title, save, close; mean over a run of " << n << " files, final flush to disk included\n";
    out << QStringLiteral("%1%2%3%4\n")
               .arg(QStringLiteral("file"), -14)
               .arg(QStringLiteral("own editor"), 12)
               .arg(QStringLiteral("LibreOffice"), 13)
               .arg(QStringLiteral("ratio"), 8);
    for (const Kind &kind : {Kind{QStringLiteral("small"), 3}, Kind{QStringLiteral("large"), 1000}}) {
        QStringList xlsxOwn, xlsxEngine, xlsOwn, xlsEngine;
        for (int i = 0; i < n; ++i) {
            const QString base = dir.filePath(QStringLiteral("%1-%2").arg(kind.name).arg(i));
            bench::writeXlsx(base + QStringLiteral("-a.xlsx"), kind.rows, 10);
            QFile::copy(base + QStringLiteral("-a.xlsx"), base + QStringLiteral("-b.xlsx"));
            xlsxOwn << base + QStringLiteral("-a.xlsx");
            xlsxEngine << base + QStringLiteral("-b.xlsx");
            auto book = engine.open(base + QStringLiteral("-a.xlsx"), true);
            book->saveAs(base + QStringLiteral("-a.xls"), FileFormat::Excel8);
            book->close(false);
            QFile::copy(base + QStringLiteral("-a.xls"), base + QStringLiteral("-b.xls"));
            xlsOwn << base + QStringLiteral("-a.xls");
            xlsEngine << base + QStringLiteral("-b.xls");
        }
        const double packageMs = timePerFile(xlsxOwn, [](const QString &p) { return xlsx::openPackage(p); });
        const double engineXlsxMs = timePerFile(xlsxEngine, [&](const QString &p) { return engine.open(p); });
        const double streamsMs = timePerFile(xlsOwn, [](const QString &p) { return ole::openXlsProperties(p); });
        const double engineXlsMs = timePerFile(xlsEngine, [&](const QString &p) { return engine.open(p); });
        out << QStringLiteral("%1%2%3%4\n")
                   .arg(kind.name + QStringLiteral(".xlsx"), -14)
                   .arg(packageMs, 12, 'f', 2)
                   .arg(engineXlsxMs, 13, 'f', 2)
                   .arg(engineXlsxMs / packageMs, 7, 'f', 0);
        out << QStringLiteral("%1%2%3%4\n")
                   .arg(kind.name + QStringLiteral(".xls"), -14)
                   .arg(streamsMs, 12, 'f', 2)
                   .arg(engineXlsMs, 13, 'f', 2)
                   .arg(engineXlsMs / streamsMs, 7, 'f', 0);
        out.flush();
    }
    return 0;
}
