// Conversion benchmark: generates workbooks (small and about 10,000 cells, .xlsx and .xls),
// then measures engine start-up and per-file milliseconds of every conversion target and of
// an in-place re-save. Usage: convert_bench [N]   (N files per kind, default 5)

#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include "BenchWorkbooks.h"

#include <algorithm>
#include <vector>

using namespace gm;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    QTemporaryDir dir;

    QElapsedTimer timer;
    timer.start();
    lo::LoApplication engine(libreOfficeProgramDir());
    out << "engine start-up: " << timer.elapsed() << " ms (LibreOffice " << engine.info().version << ")\n";

    // Sources: small (3 x 10 cells) and large (1,000 x 10 cells), .xlsx and .xls.
    struct Kind
    {
        QString name;
        int rows;
        bool xls;
    };
    const std::vector<Kind> kinds = {{QStringLiteral("small.xlsx"), 3, false}, {QStringLiteral("large.xlsx"), 1000, false},
        {QStringLiteral("small.xls"), 3, true}, {QStringLiteral("large.xls"), 1000, true}};
    QMap<QString, QStringList> sources;
    for (const Kind &kind : kinds) {
        for (int i = 0; i < n; ++i) {
            const QString base = dir.filePath(
                QStringLiteral("src/%1-%2").arg(QString(kind.name).replace(QLatin1Char('.'), QLatin1Char('_'))).arg(i));
            QDir().mkpath(dir.filePath(QStringLiteral("src")));
            bench::writeXlsx(base + QStringLiteral(".xlsx"), kind.rows, 10);
            if (kind.xls) {
                auto book = engine.open(base + QStringLiteral(".xlsx"), true);
                book->saveAs(base + QStringLiteral(".xls"), FileFormat::Excel8);
                book->close(false);
                QFile::remove(base + QStringLiteral(".xlsx"));
                sources[kind.name] << base + QStringLiteral(".xls");
            } else {
                sources[kind.name] << base + QStringLiteral(".xlsx");
            }
        }
    }

    const QList<QPair<QString, int>> targets
        = {{QStringLiteral("csv"), FileFormat::Csv}, {QStringLiteral("txt"), FileFormat::Text},
            {QStringLiteral("htm"), FileFormat::Html}, {QStringLiteral("mht"), FileFormat::WebArchive},
            {QStringLiteral("xlsx"), FileFormat::OpenXmlWorkbook}, {QStringLiteral("xls"), FileFormat::Excel8}};
    out << "\nmedian ms per file (open + convert + close), " << n << " files each\n";
    out << QStringLiteral("%1").arg(QStringLiteral("source"), -12);
    for (const auto &t : targets)
        out << QStringLiteral("%1").arg(t.first, 8);
    out << QStringLiteral("%1").arg(QStringLiteral("re-save"), 9) << "\n";
    for (const Kind &kind : kinds) {
        out << QStringLiteral("%1").arg(kind.name, -12);
        for (const auto &t : targets) {
            std::vector<double> times;
            for (const QString &source : sources[kind.name]) {
                const QString target
                    = dir.filePath(QStringLiteral("out/") + QFileInfo(source).completeBaseName() + QLatin1Char('.') + t.first);
                QDir().mkpath(dir.filePath(QStringLiteral("out")));
                timer.restart();
                auto book = engine.open(source, true);
                book->saveAs(target, t.second);
                book->close(false);
                times.push_back(timer.nsecsElapsed() / 1e6);
            }
            out << QStringLiteral("%1").arg(bench::median(times), 8, 'f', 1);
        }
        std::vector<double> times;
        for (const QString &source : sources[kind.name]) {
            timer.restart();
            auto book = engine.open(source);
            book->save();
            book->close(false);
            times.push_back(timer.nsecsElapsed() / 1e6);
        }
        out << QStringLiteral("%1").arg(bench::median(times), 9, 'f', 1) << "\n";
    }
    out.flush();
    return 0;
}
