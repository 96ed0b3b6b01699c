// .xls benchmark: per-file milliseconds of a header/footer change, of a print setup change
// (print area and landscape), of a sheet rename, of hidden rows (3:7, and everything below
// row 2000, which the default row takes) and of row heights (1:500, rows that have no record
// yet included), made in place by the record editor and by the spreadsheet engine (for the
// rename and the rows, which it does not make in place: its load and save), on small
// (3 x 10 cells) and about 10,000-cell workbooks. As in a run, files are flushed to disk once
// at the end of each series, not per file.
// Usage: xls_bench [N]   (N files per kind, default 5)

#include "automation/Durability.h"
#include "automation/Engine.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/XlsWorkbook.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include "BenchWorkbooks.h"

#include <algorithm>
#include <functional>
#include <vector>

using namespace gm;

namespace {

void setHeaders(Workbook &book)
{
    const HeaderFooterSection sections[]
        = {HeaderFooterSection::LeftHeader, HeaderFooterSection::CenterHeader, HeaderFooterSection::RightHeader,
            HeaderFooterSection::LeftFooter, HeaderFooterSection::CenterFooter, HeaderFooterSection::RightFooter};
    const QString codes[]
        = {QStringLiteral("&D"), QStringLiteral("报表"), QStringLiteral("&P / &N"), QString(), QStringLiteral("&F"), QString()};
    for (int n = 1; n <= book.worksheetCount(); ++n) {
        auto sheet = book.worksheet(n);
        for (int i = 0; i < 6; ++i)
            sheet->setHeaderFooter(sections[i], codes[i]);
    }
}

void setPrintSetup(Workbook &book)
{
    for (int n = 1; n <= book.worksheetCount(); ++n) {
        auto sheet = book.worksheet(n);
        sheet->setPrintArea(QStringLiteral("A1:G100"));
        sheet->setOrientation(Orientation::Landscape);
    }
}

void renameSheet(Workbook &book)
{
    book.worksheet(1)->setName(QStringLiteral("数据 2024"));
}

void hideRows(Workbook &book)
{
    auto sheet = book.worksheet(1);
    sheet->setRowsHidden(QStringLiteral("3:7"));
    sheet->setRowsHidden(QStringLiteral("2000:65536"));
}

void setRowHeights(Workbook &book)
{
    book.worksheet(1)->setRowHeight(QStringLiteral("1:500"), 20);
}

} // namespace

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

    struct Kind
    {
        QString name;
        int rows;
        QString source;
    };
    std::vector<Kind> kinds = {{QStringLiteral("small.xls"), 3, {}}, {QStringLiteral("10k-cell.xls"), 1000, {}}};
    QDir().mkpath(dir.filePath(QStringLiteral("src")));
    for (Kind &kind : kinds) {
        const QString base = dir.filePath(QStringLiteral("src/") + QFileInfo(kind.name).completeBaseName());
        bench::writeXlsx(base + QStringLiteral(".xlsx"), kind.rows, 10);
        auto book = engine.open(base + QStringLiteral(".xlsx"), true);
        book->saveAs(base + QStringLiteral(".xls"), FileFormat::Excel8);
        book->close(false);
        kind.source = base + QStringLiteral(".xls");
    }

    using Open = std::function<std::unique_ptr<Workbook>(const QString &)>;
    const QList<QPair<QString, Open>> backends = {
        {QStringLiteral("record editor"), [](const QString &path) { return xls::openXlsRecords(path); }},
        {QStringLiteral("engine"), [&](const QString &path) { return engine.open(path, false); }},
    };
    struct Change
    {
        QString name;
        std::function<void(Workbook &)> apply;
        bool byEngine; // otherwise the engine's column is its load and save
    };
    const QList<Change> changes = {{QStringLiteral("header/footer"), setHeaders, true},
        {QStringLiteral("print setup"), setPrintSetup, true}, {QStringLiteral("sheet rename"), renameSheet, false},
        {QStringLiteral("hide rows"), hideRows, false}, {QStringLiteral("row height"), setRowHeights, false}};

    out << "\nmedian ms per file (open + change + save), " << n << " files each\n";
    out << QStringLiteral("%1%2%3%4\n")
               .arg(QStringLiteral("file"), -14)
               .arg(QStringLiteral("change"), -15)
               .arg(QStringLiteral("record editor"), 15)
               .arg(QStringLiteral("engine"), 10);
    int copies = 0;
    for (const Kind &kind : kinds) {
        for (const auto &change : changes) {
            QList<double> medians;
            for (const auto &backend : backends) {
                std::vector<double> times;
                // As in a run: the flushes to disk are made once, at the end.
                DeferredDurability durability;
                for (int i = 0; i < n; ++i) {
                    const QString copy = dir.filePath(QStringLiteral("work-%1.xls").arg(copies++));
                    QFile::copy(kind.source, copy);
                    try {
                        timer.restart();
                        auto book = backend.second(copy);
                        // What the engine does not change in place: its column is a load and save.
                        if (backend.first == QStringLiteral("engine") && !change.byEngine)
                            book->save();
                        else
                            change.apply(*book);
                        book->close(true);
                        times.push_back(timer.nsecsElapsed() / 1e6);
                    } catch (const EngineError &error) {
                        out << backend.first << " failed: " << QString::fromUtf8(error.what()) << "\n";
                    }
                    QFile::remove(copy);
                }
                medians << bench::median(times);
            }
            out << QStringLiteral("%1%2%3%4   (%5x)\n")
                       .arg(kind.name, -14)
                       .arg(change.name, -15)
                       .arg(medians[0], 15, 'f', 2)
                       .arg(medians[1], 10, 'f', 1)
                       .arg(medians[0] > 0 ? medians[1] / medians[0] : 0, 0, 'f', 0);
            out.flush();
        }
    }
    engine.quit();
    return 0;
}
