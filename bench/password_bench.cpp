// Document-password benchmark: per-file milliseconds of setting an open or a modify password
// and saving, by the .xlsx package editor and the .xls record editor, against a LibreOffice
// load-and-save of the same file (what any engine save with a password costs at the least),
// for small (30 cells) and large (10,000 cells) files.
// Usage: password_bench [N]   (N files per kind, default 10)

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

#include <algorithm>
#include <functional>

using namespace gm;
using bench::timePerFile;

namespace {

using Change = std::function<void(Workbook &)>;

QStringList copies(const QString &source, const QString &tag, int n)
{
    QStringList result;
    for (int i = 0; i < n; ++i) {
        const QString copy = source.left(source.lastIndexOf(QLatin1Char('.'))) + QStringLiteral("-%1-%2").arg(tag).arg(i)
            + source.mid(source.lastIndexOf(QLatin1Char('.')));
        QFile::copy(source, copy);
        result << copy;
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTextStream out(stdout);
    QTemporaryDir dir;
    lo::LoApplication engine(libreOfficeProgramDir());
    const QString password = QStringLiteral("Geheim-42");

    out << "ms per file: set the password, save, close; mean over a run of " << n
        << " files, final flush to disk included.\nLibreOffice: load and save without a password (the least an engine save "
           "costs)\n";
    out << QStringLiteral("%1%2%3%4%5%6\n")
               .arg(QStringLiteral("file"), -14)
               .arg(QStringLiteral("open pw"), 10)
               .arg(QStringLiteral("modify pw"), 11)
               .arg(QStringLiteral("LibreOffice"), 13)
               .arg(QStringLiteral("ratio open"), 12)
               .arg(QStringLiteral("ratio modify"), 14);
    const Change open = [&](Workbook &book) { book.setPassword(password); };
    const Change modify = [&](Workbook &book) { book.setWritePassword(password); };
    const Change nothing = [](Workbook &book) { book.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("t")); };
    for (const auto &[name, rows] : {std::pair{QStringLiteral("small"), 3}, std::pair{QStringLiteral("large"), 1000}}) {
        const QString xlsx = dir.filePath(name + QStringLiteral(".xlsx"));
        const QString xls = dir.filePath(name + QStringLiteral(".xls"));
        bench::writeXlsx(xlsx, rows, 10);
        {
            auto book = engine.open(xlsx, true);
            book->saveAs(xls, FileFormat::Excel8);
            book->close(false);
        }
        const auto package = [](const QString &p) { return xlsx::openPackage(p); };
        const auto records = [](const QString &p) { return xls::openXlsRecords(p); };
        const auto lo = [&](const QString &p) { return engine.open(p); };
        for (const auto &[file, own] : {std::pair{xlsx, std::function<std::unique_ptr<Workbook>(const QString &)>(package)},
                 std::pair{xls, std::function<std::unique_ptr<Workbook>(const QString &)>(records)}}) {
            const double openMs = timePerFile(copies(file, QStringLiteral("o"), n), own, open);
            const double modifyMs = timePerFile(copies(file, QStringLiteral("m"), n), own, modify);
            const double engineMs = timePerFile(copies(file, QStringLiteral("e"), n), lo, nothing);
            out << QStringLiteral("%1%2%3%4%5%6\n")
                       .arg(QFileInfo(file).fileName(), -14)
                       .arg(openMs, 10, 'f', 2)
                       .arg(modifyMs, 11, 'f', 2)
                       .arg(engineMs, 13, 'f', 2)
                       .arg(engineMs / openMs, 12, 'f', 1)
                       .arg(engineMs / modifyMs, 14, 'f', 1);
            out.flush();
        }
    }
    return 0;
}
