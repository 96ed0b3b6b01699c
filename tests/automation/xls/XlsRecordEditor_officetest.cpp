// The record editor's results read by the spreadsheet engine, an independent reader: every
// sheet's values (CSV of all sheets) are those of the original, and print areas, orientation
// and headers read back as set, on sheets whose names need quoting too.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xls/XlsWorkbook.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

const QString area = QStringLiteral("$A$1:$E$10");

// Every sheet of every workbook as CSV, by a separate engine process with its own profile.
void convertAllSheetsToCsv(const QStringList &books, const QString &outDir, const QString &profile)
{
    QProcess soffice;
    QStringList arguments{QStringLiteral("-env:UserInstallation=file://") + profile, QStringLiteral("--headless"),
        QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
        QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"),
        QStringLiteral("--outdir"), outDir};
    soffice.start(libreOfficeProgramDir() + QStringLiteral("/soffice"), arguments + books);
    ASSERT_TRUE(soffice.waitForFinished(600000));
}

TEST(XlsRecordEditorOffice, TheEngineReadsTheSameValuesAndThePageSetupAsSet)
{
    const QStringList sources = corpusXlsFiles();
    if (sources.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString books = dir.filePath(QStringLiteral("books")), csv = dir.filePath(QStringLiteral("csv"));
    QDir().mkpath(books);
    QDir().mkpath(csv);
    QStringList edited, all;
    for (const QString &source : sources) {
        const QString base = QFileInfo(source).completeBaseName();
        const QString original = gm::test::copyInto(source, books, QStringLiteral("o-%1.xls").arg(base));
        const QString copy = gm::test::copyInto(source, books, QStringLiteral("e-%1.xls").arg(base));
        std::unique_ptr<Workbook> book;
        try {
            book = openXlsRecords(copy);
        } catch (const EngineError &) {
            continue; // Excel 5.0/95 and encrypted workbooks are not edited
        }
        for (int n = 1; n <= book->worksheetCount(); ++n) {
            auto sheet = book->worksheet(n);
            sheet->setPrintArea(QStringLiteral("A1:E10"));
            sheet->setOrientation(Orientation::Landscape);
            sheet->setHeaderFooter(HeaderFooterSection::LeftHeader, QStringLiteral("GM &P"));
            sheet->setHeaderFooter(HeaderFooterSection::CenterHeader, QString());
            sheet->setHeaderFooter(HeaderFooterSection::RightHeader, QStringLiteral("页 €"));
            sheet->setHeaderFooter(HeaderFooterSection::LeftFooter, QString());
            sheet->setHeaderFooter(HeaderFooterSection::CenterFooter, QStringLiteral("Footer ÄÖ"));
            sheet->setHeaderFooter(HeaderFooterSection::RightFooter, QString());
        }
        book->close(true);
        edited << copy;
        all << original << copy;
    }
    ASSERT_GE(edited.size(), 50);
    convertAllSheetsToCsv(all, csv, dir.filePath(QStringLiteral("profile")));

    int compared = 0;
    for (const QString &copy : edited) {
        const QString base = QFileInfo(copy).completeBaseName().mid(2);
        SCOPED_TRACE(base.toStdString());
        const QStringList before = QDir(csv).entryList({QStringLiteral("o-%1*.csv").arg(base)}, QDir::Files, QDir::Name);
        const QStringList after = QDir(csv).entryList({QStringLiteral("e-%1*.csv").arg(base)}, QDir::Files, QDir::Name);
        ASSERT_EQ(after.size(), before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            EXPECT_EQ(gm::test::readAll(csv + QLatin1Char('/') + after[i]), gm::test::readAll(csv + QLatin1Char('/') + before[i]))
                << after[i].toStdString();
            ++compared;
        }
    }
    EXPECT_GE(compared, 100);

    // Print areas, orientation and headers as the engine reads them.
    lo::LoApplication engine(libreOfficeProgramDir());
    int sheets = 0, quoted = 0;
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.]*$"));
    for (const QString &copy : edited) {
        SCOPED_TRACE(copy.toStdString());
        std::unique_ptr<Workbook> book;
        try {
            book = engine.open(copy, true);
        } catch (const EngineError &error) {
            ADD_FAILURE() << error.what();
            continue;
        }
        for (int n = 1; n <= book->worksheetCount(); ++n) {
            auto sheet = book->worksheet(n);
            SCOPED_TRACE(sheet->name().toStdString());
            EXPECT_EQ(sheet->printArea(), area);
            EXPECT_EQ(sheet->orientation(), Orientation::Landscape);
            EXPECT_EQ(sheet->headerFooter(HeaderFooterSection::RightHeader), QStringLiteral("页 €"));
            EXPECT_EQ(sheet->headerFooter(HeaderFooterSection::CenterFooter), QStringLiteral("Footer ÄÖ"));
            ++sheets;
            quoted += !plainName.match(sheet->name()).hasMatch();
        }
        book->close(false);
    }
    EXPECT_GE(sheets, 100);
    EXPECT_GE(quoted, 5); // names with blanks, quotes or non-ASCII letters
    engine.quit();
}

} // namespace
} // namespace gm::xls
