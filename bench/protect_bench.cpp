// Protection benchmark: per-file milliseconds of protecting every worksheet (sorting and
// filtering allowed, with a password) and of protecting a workbook's structure, made in place
// by the package editor (.xlsx) and the record editor (.xls), beside the engine's load-and-save
// of the same files, the cost of the alternative. Small files have 3 x 10 cells, the others
// about 10,000. The password's SHA-512 hash is made once per run, as the operation does; its
// cost is shown on its own. As in a run, files are flushed to disk once per series.
// Usage: protect_bench [N]   (N files per kind, default 5)

#include "BenchWorkbooks.h"
#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/Protection.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

using namespace gm;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    gm::keepFreedMemoryForReuse(); // as a run of the program does
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTextStream out(stdout);
    QTemporaryDir dir;

    QElapsedTimer timer;
    timer.start();
    const ProtectionPassword password(QStringLiteral("密码"));
    out << "password hash (SHA-512, 100,000 rounds), once per run: " << timer.nsecsElapsed() / 1e6 << " ms\n";
    SheetPermissions allowed;
    allowed.allow(SheetPermission::Sort);
    allowed.allow(SheetPermission::AutoFilter);

    timer.restart();
    lo::LoApplication engine(libreOfficeProgramDir());
    out << "engine start-up: " << timer.elapsed() << " ms (LibreOffice " << engine.info().version << ")\n";

    struct Kind
    {
        QString name;
        QString source;
    };
    std::vector<Kind> kinds;
    QDir().mkpath(dir.filePath(QStringLiteral("src")));
    for (const auto &[label, rows] : {std::pair{QStringLiteral("small"), 3}, std::pair{QStringLiteral("10k-cell"), 1000}}) {
        const QString base = dir.filePath(QStringLiteral("src/") + label);
        bench::writeXlsx(base + QStringLiteral(".xlsx"), rows, 10);
        auto book = engine.open(base + QStringLiteral(".xlsx"), true);
        book->saveAs(base + QStringLiteral(".xls"), FileFormat::Excel8);
        book->close(false);
        kinds.push_back({label + QStringLiteral(".xlsx"), base + QStringLiteral(".xlsx")});
        kinds.push_back({label + QStringLiteral(".xls"), base + QStringLiteral(".xls")});
    }

    using Open = std::function<std::unique_ptr<Workbook>(const QString &)>;
    const Open editor = [](const QString &path) {
        return path.endsWith(QLatin1String(".xls")) ? xls::openXlsRecords(path) : xlsx::openPackage(path);
    };
    const Open viaEngine = [&](const QString &path) { return engine.open(path, false); };
    const QList<QPair<QString, std::function<void(Workbook &)>>> changes = {
        {QStringLiteral("sheets"),
            [&](Workbook &book) {
                for (int i = 1; i <= book.worksheetCount(); ++i)
                    book.worksheet(i)->protect(password, allowed);
            }},
        {QStringLiteral("workbook"), [&](Workbook &book) { book.protect(password, true, false); }},
    };

    auto medianMs = [&](const QString &source, const Open &open, const std::function<void(Workbook &)> &change) {
        static int copies = 0;
        std::vector<double> times;
        DeferredDurability durability;
        for (int i = 0; i < n; ++i) {
            const QString copy = dir.filePath(QStringLiteral("work-%1.%2").arg(copies++).arg(QFileInfo(source).suffix()));
            QFile::copy(source, copy);
            try {
                timer.restart();
                auto book = open(copy);
                change(*book);
                book->close(true);
                times.push_back(timer.nsecsElapsed() / 1e6);
            } catch (const EngineError &error) {
                out << "failed: " << QString::fromUtf8(error.what()) << "\n";
            }
            QFile::remove(copy);
        }
        return bench::median(times);
    };

    out << "\nmedian ms per file (open + change + save), " << n << " files each\n";
    out << QStringLiteral("%1%2%3%4\n")
               .arg(QStringLiteral("file"), -16)
               .arg(QStringLiteral("protect"), -10)
               .arg(QStringLiteral("editor"), 10)
               .arg(QStringLiteral("engine load+save"), 18);
    for (const Kind &kind : kinds) {
        const double engineMs = medianMs(kind.source, viaEngine, [](Workbook &) {});
        for (const auto &change : changes) {
            const double editorMs = medianMs(kind.source, editor, change.second);
            out << QStringLiteral("%1%2%3%4   (%5x)\n")
                       .arg(kind.name, -16)
                       .arg(change.first, -10)
                       .arg(editorMs, 10, 'f', 2)
                       .arg(engineMs, 18, 'f', 1)
                       .arg(editorMs > 0 ? engineMs / editorMs : 0, 0, 'f', 0);
            out.flush();
        }
    }
    engine.quit();
    return 0;
}
