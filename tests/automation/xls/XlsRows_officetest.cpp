// Hidden rows and row heights written by the record editor, read by the spreadsheet engine:
// its own export of each result has the cells of the original, and the rows hidden and
// sized as set, on workbooks with and without row blocks, and with a run over the whole sheet
// that the default row takes.

#include "BiffTestSupport.h"

#include "automation/EngineLocator.h"
#include "automation/xls/XlsWorkbook.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>

namespace gm::xls {
namespace {

struct Row
{
    bool hidden = false;
    double height = 0; // 0 when the row has no height of its own
};

struct SheetView
{
    QStringList cells; // "A1=value", in document order
    QMap<int, Row> rows;
    bool hiddenByDefault = false;
    double defaultHeight = 0;
};

QMap<QString, SheetView> worksheetsOf(const QString &xlsx)
{
    QMap<QString, SheetView> sheets;
    for (const QString &name : gm::test::zipEntryNames(xlsx)) {
        if (!name.startsWith(QLatin1String("xl/worksheets/sheet")))
            continue;
        const QByteArray bytes = gm::test::zipEntry(xlsx, name);
        pugi::xml_document document;
        if (!document.load_buffer(bytes.constData(), size_t(bytes.size())))
            continue;
        SheetView view;
        const pugi::xml_node worksheet = document.document_element();
        view.hiddenByDefault = worksheet.child("sheetFormatPr").attribute("zeroHeight").as_bool();
        view.defaultHeight = worksheet.child("sheetFormatPr").attribute("defaultRowHeight").as_double();
        for (pugi::xml_node row : worksheet.child("sheetData").children("row")) {
            Row state{row.attribute("hidden").as_bool(), row.attribute("ht").as_double(view.defaultHeight)};
            view.rows.insert(row.attribute("r").as_int(), state);
            for (pugi::xml_node cell : row.children("c")) {
                const QString value
                    = QString::fromUtf8(cell.child("v").text().get()) + QString::fromUtf8(cell.child("is").child_value("t"));
                if (!value.isEmpty())
                    view.cells << QString::fromUtf8(cell.attribute("r").value()) + u'=' + value;
            }
        }
        sheets.insert(name, view);
    }
    return sheets;
}

bool isHidden(const SheetView &view, int row)
{
    return view.rows.contains(row) ? view.rows[row].hidden : view.hiddenByDefault;
}

double heightOf(const SheetView &view, int row)
{
    return view.rows.contains(row) ? view.rows[row].height : view.defaultHeight;
}

TEST(XlsRowsOffice, TheEngineReadsTheCellsOfTheOriginalAndTheRowsAsSet)
{
    const char *names[] = {"poi-45538_classic_Header", "calamine-gh548_incorrect_sst_unique_count", "calamine-issue_271",
        "xlrd-namesdemo", "poi-TwoSheetsOneHidden", "poi-SharedFormulaTest", "xlrd-Formate", "calamine-biff5-rich-text-string"};
    if (gm::test::corpusFile(QStringLiteral("xls")).isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString books = dir.filePath(QStringLiteral("books")), out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(books);
    QDir().mkpath(out);
    QStringList all;
    for (const char *name : names) {
        const QString source = gm::test::corpusFile(QStringLiteral("xls/%1.xls").arg(QLatin1String(name)));
        ASSERT_FALSE(source.isEmpty()) << name;
        all << gm::test::copyInto(source, books, QStringLiteral("o-%1.xls").arg(QLatin1String(name)));
        const QString runs = gm::test::copyInto(source, books, QStringLiteral("r-%1.xls").arg(QLatin1String(name)));
        const QString whole = gm::test::copyInto(source, books, QStringLiteral("w-%1.xls").arg(QLatin1String(name)));
        all << runs << whole;
        auto book = openXlsRecords(runs);
        for (int n = 1; n <= book->worksheetCount(); ++n) {
            auto sheet = book->worksheet(n);
            sheet->setRowsHidden(QStringLiteral("3:7"));
            sheet->setRowHeight(QStringLiteral("2"), 20.1);
            sheet->setRowHeight(QStringLiteral("100"), 409.5);
        }
        book->close(true);
        book = openXlsRecords(whole);
        book->worksheet(1)->setRowsHidden(QStringLiteral("1:65536"));
        for (int n = 2; n <= book->worksheetCount(); ++n)
            book->worksheet(n)->setRowHeight(QStringLiteral("5:65536"), 15);
        book->close(true);
    }
    QProcess soffice;
    soffice.start(libreOfficeProgramDir() + QStringLiteral("/soffice"),
        QStringList{QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
            QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"), QStringLiteral("xlsx"),
            QStringLiteral("--outdir"), out}
            + all);
    ASSERT_TRUE(soffice.waitForFinished(600000));

    for (const char *name : names) {
        SCOPED_TRACE(name);
        auto exported = [&](const char *prefix) {
            return worksheetsOf(QStringLiteral("%1/%2-%3.xlsx").arg(out, QLatin1String(prefix), QLatin1String(name)));
        };
        const QMap<QString, SheetView> original = exported("o"), runs = exported("r"), whole = exported("w");
        ASSERT_FALSE(original.isEmpty());
        ASSERT_EQ(runs.keys(), original.keys());
        ASSERT_EQ(whole.keys(), original.keys());
        for (const QString &part : original.keys()) {
            const bool first = part == QLatin1String("xl/worksheets/sheet1.xml");
            SCOPED_TRACE(part.toStdString());
            EXPECT_EQ(runs[part].cells, original[part].cells);
            EXPECT_EQ(whole[part].cells, original[part].cells);
            for (int row = 3; row <= 7; ++row)
                EXPECT_TRUE(isHidden(runs[part], row)) << row;
            EXPECT_FALSE(isHidden(runs[part], 2));
            EXPECT_EQ(heightOf(runs[part], 2), 20.25);
            EXPECT_EQ(heightOf(runs[part], 100), 409.5);
            EXPECT_EQ(isHidden(runs[part], 8), isHidden(original[part], 8));
            for (int row : {1, 5, 50, 65536}) {
                SCOPED_TRACE(row);
                if (first) {
                    EXPECT_TRUE(isHidden(whole[part], row));
                } else if (row >= 5) {
                    EXPECT_FALSE(isHidden(whole[part], row));
                    EXPECT_EQ(heightOf(whole[part], row), 15);
                }
            }
        }
    }
}

} // namespace
} // namespace gm::xls
