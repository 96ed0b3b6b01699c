// Page setup changed in place in every BIFF8 workbook of the corpus: only the intended records
// change (the rest of the record list is identical once stream positions are set aside), every
// other stream and storage stays byte-identical, and the values read back with the read-side
// summary reader and a raw record walk of the test's own.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffInfo.h"
#include "automation/xls/XlsWorkbook.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <functional>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

constexpr std::array<HeaderFooterSection, 6> allSections
    = {HeaderFooterSection::LeftHeader, HeaderFooterSection::CenterHeader, HeaderFooterSection::RightHeader,
        HeaderFooterSection::LeftFooter, HeaderFooterSection::CenterFooter, HeaderFooterSection::RightFooter};

// The records a page-setup change may insert or replace.
bool isPageSetupRecord(quint16 type)
{
    switch (type) {
    case 0x0014: // HEADER
    case 0x0015: // FOOTER
    case 0x00A1: // SETUP
    case 0x004D: // PLS
    case 0x0081: // WSBOOL
    case 0x0018: // NAME
    case 0x01AE: // SUPBOOK
    case 0x0017: // EXTERNSHEET
        return true;
    default:
        return false;
    }
}

QList<RawRecord> unchangedPart(const QByteArray &stream)
{
    QList<RawRecord> kept;
    for (const RawRecord &record : rawRecords(stream)) {
        if (!isPageSetupRecord(record.type))
            kept.append(withoutPositions(record));
    }
    return kept;
}

QList<QByteArray> recordsOfType(const QByteArray &stream, quint16 type)
{
    QList<QByteArray> result;
    for (const RawRecord &record : rawRecords(stream)) {
        if (record.type == type)
            result.append(record.data);
    }
    return result;
}

// What a change must keep: every record it does not own, every other stream, every position.
// Reference records (SUPBOOK, EXTERNSHEET entries, NAMEs) may only grow at their end.
void expectOnlyPageSetupChanged(const QString &original, const QString &edited)
{
    const ole::CompoundEntry before = ole::CompoundFile::readFile(original);
    ole::CompoundEntry after = ole::CompoundFile::readFile(edited);
    const QByteArray name = workbookStreamName(before);
    ASSERT_EQ(workbookStreamName(after), name);
    const QByteArray oldStream = before.child(name)->data;
    const QByteArray newStream = after.child(name)->data;
    after.child(name)->data = oldStream;
    EXPECT_EQ(ole::CompoundFile::difference(before, after), QString());

    const QList<RawRecord> oldKept = unchangedPart(oldStream), newKept = unchangedPart(newStream);
    ASSERT_EQ(newKept.size(), oldKept.size());
    for (qsizetype i = 0; i < oldKept.size(); ++i) {
        if (oldKept[i].type != newKept[i].type || oldKept[i].data != newKept[i].data) {
            ADD_FAILURE() << "record " << i << " of type " << oldKept[i].type << " changed";
            break;
        }
    }
    const QList<bool> oldHits = positionHits(oldStream), newHits = positionHits(newStream);
    ASSERT_EQ(newHits.size(), oldHits.size());
    for (qsizetype i = 0; i < oldHits.size(); ++i)
        EXPECT_TRUE(!oldHits[i] || newHits[i]) << "position " << i;

    const QList<QByteArray> oldSupBooks = recordsOfType(oldStream, 0x01AE), newSupBooks = recordsOfType(newStream, 0x01AE);
    EXPECT_EQ(newSupBooks.mid(0, oldSupBooks.size()), oldSupBooks);
    const QList<QByteArray> oldXti = recordsOfType(oldStream, 0x0017), newXti = recordsOfType(newStream, 0x0017);
    if (!oldXti.isEmpty()) {
        ASSERT_EQ(newXti.size(), 1);
        EXPECT_EQ(newXti[0].mid(2, oldXti[0].size() - 2), oldXti[0].mid(2));
    }
    // A NAME keeps its place; only a sheet's print area may change in it.
    const QList<QByteArray> oldNames = recordsOfType(oldStream, 0x0018), newNames = recordsOfType(newStream, 0x0018);
    ASSERT_GE(newNames.size(), oldNames.size());
    for (qsizetype i = 0; i < oldNames.size(); ++i) {
        const bool printArea = oldNames[i].size() > 15 && (u16(oldNames[i], 0) & 0x20) && oldNames[i][15] == 0x06;
        if (!printArea)
            EXPECT_EQ(newNames[i], oldNames[i]) << "NAME " << i;
        else
            EXPECT_EQ(newNames[i].left(4), oldNames[i].left(4)) << "NAME " << i;
    }
}

class XlsRecordEditorTest : public ::testing::Test
{
protected:
    // Runs `edit` on a copy of every corpus .xls the editor opens and checks the result with
    // `check`; returns how many were edited. BIFF5 and encrypted ones must be refused.
    int overCorpus(
        const std::function<void(Workbook &)> &edit, const std::function<void(const QString &, const BiffSummary &)> &check)
    {
        int edited = 0, refused = 0;
        for (const QString &source : corpusXlsFiles()) {
            SCOPED_TRACE(source.toStdString());
            const QString copy = gm::test::copyInto(source, dir.path());
            std::unique_ptr<Workbook> book;
            try {
                book = openXlsRecords(copy);
            } catch (const EngineError &error) {
                EXPECT_TRUE(error.code() == ErrorCode::UnsupportedFormat || error.code() == ErrorCode::PasswordRequired)
                    << error.what();
                EXPECT_EQ(gm::test::readAll(copy), gm::test::readAll(source));
                ++refused;
                continue;
            }
            edit(*book);
            book->close(true);
            expectOnlyPageSetupChanged(source, copy);
            check(copy, readBiff(copy));
            // The result opens again in the editor.
            EXPECT_NO_THROW(openXlsRecords(copy, true));
            QFile::remove(copy);
            ++edited;
        }
        EXPECT_EQ(refused, 4); // three Excel 5.0/95 workbooks and one encrypted one
        return edited;
    }

    QTemporaryDir dir;
};

std::array<QString, 6> templateCodes(Workbook &book)
{
    auto sheet = book.activeSheet();
    std::array<QString, 6> codes;
    for (size_t i = 0; i < allSections.size(); ++i)
        codes[i] = sheet->headerFooter(allSections[i]);
    book.close(false);
    return codes;
}

QString composed(const QString &left, const QString &center, const QString &right)
{
    QString code;
    if (!left.isEmpty())
        code += QStringLiteral("&L") + left;
    if (!center.isEmpty())
        code += QStringLiteral("&C") + center;
    if (!right.isEmpty())
        code += QStringLiteral("&R") + right;
    return code;
}

TEST_F(XlsRecordEditorTest, HeadersAndFootersFromAnXlsxAndAnXlsTemplateChangeOnlyThoseRecords)
{
    GM_REQUIRE_CORPUS(xlsxTemplate, "xlsx/header01.xlsx");
    GM_REQUIRE_CORPUS(xlsTemplate, "xls/poi-45538_classic_Header.xls");
    auto fromXlsx = xlsx::openPackage(xlsxTemplate);
    auto fromXls = openXlsRecords(xlsTemplate, true);
    const QList<std::array<QString, 6>> templates = {templateCodes(*fromXlsx), templateCodes(*fromXls),
        // Characters beyond Latin-1 are written as UTF-16; an ampersand stays doubled.
        {QStringLiteral("页眉 €"), QString(), QStringLiteral("&P / &N"), QString(), QStringLiteral("A && B ÄÖ"), QString()}};
    EXPECT_EQ(templates[0][0], QStringLiteral("&P"));
    EXPECT_EQ(templates[1][0], QStringLiteral("testdoc"));
    EXPECT_EQ(templates[1][2], QStringLiteral("test phrase"));

    for (const auto &codes : templates) {
        SCOPED_TRACE(codes[0].toStdString() + "|" + codes[4].toStdString());
        const QString header = composed(codes[0], codes[1], codes[2]);
        const QString footer = composed(codes[3], codes[4], codes[5]);
        const int edited = overCorpus(
            [&](Workbook &book) {
                for (int n = 1; n <= book.worksheetCount(); ++n) {
                    auto sheet = book.worksheet(n);
                    for (size_t i = 0; i < allSections.size(); ++i)
                        sheet->setHeaderFooter(allSections[i], codes[i]);
                }
            },
            [&](const QString &path, const BiffSummary &summary) {
                auto book = openXlsRecords(path, true);
                for (const BiffSheet &sheet : summary.sheets) {
                    if (sheet.type != 0 || book->sheet(sheet.name)->isChart())
                        continue;
                    SCOPED_TRACE(sheet.name.toStdString());
                    EXPECT_EQ(sheet.header, header);
                    EXPECT_EQ(sheet.footer, footer);
                }
            });
        EXPECT_GE(edited, 50);
    }
    // Among them the workbooks whose default font is drawn in palette colour 8, where copying
    // through the engine added a white colour code to every section.
    int paletteColour8 = 0;
    for (const QString &file : corpusXlsFiles()) {
        for (const RawRecord &record : rawRecords(workbookStreamOf(file))) {
            if (record.type == 0x0031) { // the first FONT is the default font
                paletteColour8 += record.data.size() >= 6 && u16(record.data, 4) == 8;
                break;
            }
        }
    }
    EXPECT_GE(paletteColour8, 18);
}

TEST_F(XlsRecordEditorTest, PrintAreaAndLandscapeChangeOnlyThoseRecords)
{
    const int edited = overCorpus(
        [](Workbook &book) {
            for (int n = 1; n <= book.worksheetCount(); ++n) {
                auto sheet = book.worksheet(n);
                sheet->setPrintArea(QStringLiteral("e10:A1"));
                sheet->setOrientation(Orientation::Landscape);
                EXPECT_EQ(sheet->printArea(), QStringLiteral("$A$1:$E$10"));
                EXPECT_EQ(sheet->orientation(), Orientation::Landscape);
            }
        },
        [](const QString &path, const BiffSummary &summary) {
            auto book = openXlsRecords(path, true);
            for (int n = 1; n <= book->worksheetCount(); ++n) {
                const QString name = book->worksheet(n)->name();
                SCOPED_TRACE(name.toStdString());
                for (const BiffSheet &sheet : summary.sheets) {
                    if (sheet.name == name) {
                        EXPECT_EQ(sheet.printArea, QStringLiteral("$A$1:$E$10"));
                        EXPECT_EQ(sheet.orientation, 2);
                    }
                }
            }
        });
    EXPECT_GE(edited, 50);
}

TEST_F(XlsRecordEditorTest, SecondChangesReplaceRecordsInsteadOfAddingThem)
{
    GM_REQUIRE_CORPUS(source, "xls/xlrd-namesdemo.xls");
    const QString book = gm::test::copyInto(source, dir.path());
    for (const auto &[area, orientation] : {std::pair{QStringLiteral("A1:C3"), Orientation::Landscape},
             std::pair{QStringLiteral("B2:IV65536,A1"), Orientation::Portrait}}) {
        auto workbook = openXlsRecords(book);
        for (int n = 1; n <= workbook->worksheetCount(); ++n) {
            workbook->worksheet(n)->setPrintArea(area);
            workbook->worksheet(n)->setOrientation(orientation);
            workbook->worksheet(n)->setHeaderFooter(HeaderFooterSection::CenterHeader, area);
        }
        workbook->close(true);
    }
    const QByteArray stream = workbookStreamOf(book);
    const BiffSummary summary = readBiff(book);
    auto workbook = openXlsRecords(book, true);
    const int worksheets = workbook->worksheetCount();
    int printAreas = 0;
    for (const QByteArray &name : recordsOfType(stream, 0x0018))
        printAreas += name.size() > 15 && (u16(name, 0) & 0x20) && name[15] == 0x06;
    EXPECT_EQ(printAreas, worksheets);
    EXPECT_EQ(recordsOfType(stream, 0x0017).size(), 1);
    for (int n = 1; n <= worksheets; ++n) {
        auto sheet = workbook->worksheet(n);
        EXPECT_EQ(sheet->printArea(), QStringLiteral("$B$2:$IV$65536,$A$1"));
        EXPECT_EQ(sheet->orientation(), Orientation::Portrait);
        EXPECT_EQ(sheet->headerFooter(HeaderFooterSection::CenterHeader), QStringLiteral("B2:IV65536,A1"));
        EXPECT_EQ(summary.sheets[sheet->sheetIndex() - 1].printArea, QStringLiteral("$B$2:$IV$65536,$A$1"));
    }
}

TEST_F(XlsRecordEditorTest, ChangesThatCannotBeMadeLeaveTheFileByteIdentical)
{
    GM_REQUIRE_CORPUS(source, "xls/poi-SimpleWithPrintArea.xls");
    const struct
    {
        const char *what;
        std::function<void(Worksheet &)> change;
        ErrorCode code;
    } cases[] = {
        {"column past IV", [](Worksheet &s) { s.setPrintArea(QStringLiteral("A1:IW100")); }, ErrorCode::InvalidArgument},
        {"row past 65536", [](Worksheet &s) { s.setPrintArea(QStringLiteral("A1:B65537")); }, ErrorCode::InvalidArgument},
        {"not a range", [](Worksheet &s) { s.setPrintArea(QStringLiteral("A1:")); }, ErrorCode::InvalidArgument},
        {"header of 256 characters",
            [](Worksheet &s) { s.setHeaderFooter(HeaderFooterSection::LeftHeader, QString(254, QLatin1Char('x'))); },
            ErrorCode::InvalidArgument},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString book = gm::test::copyInto(source, dir.path());
        const QByteArray before = gm::test::readAll(book);
        auto workbook = openXlsRecords(book);
        // A change that did succeed on the same sheet is not saved either.
        workbook->worksheet(1)->setOrientation(Orientation::Landscape);
        try {
            c.change(*workbook->worksheet(1));
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), c.code);
        }
        try {
            workbook->close(true);
            ADD_FAILURE() << "saved";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), c.code);
            if (QByteArray(c.what).startsWith("column") || QByteArray(c.what).startsWith("row")) {
                EXPECT_TRUE(error.description().contains(QStringLiteral("65536")));
            }
        }
        EXPECT_EQ(gm::test::readAll(book), before);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QFile::remove(book);
    }
}

TEST_F(XlsRecordEditorTest, OrientationTakesEffectWhereThePrinterSettingsWereUndefined)
{
    // Excel leaves undefined values in a setup without printer settings (here a scale of
    // 300 %); landscape needs valid ones, portrait is what such a sheet prints already.
    GM_REQUIRE_CORPUS(source, "xls/calamine-any_sheets.xls");
    const QString book = gm::test::copyInto(source, dir.path());
    auto portrait = openXlsRecords(book);
    portrait->worksheet(1)->setOrientation(Orientation::Portrait);
    portrait->close(true);
    EXPECT_EQ(gm::test::readAll(book), gm::test::readAll(source));

    auto landscape = openXlsRecords(book);
    landscape->worksheet(1)->setOrientation(Orientation::Landscape);
    landscape->close(true);
    QList<QByteArray> setups;
    for (const RawRecord &record : rawRecords(workbookStreamOf(book)))
        if (record.type == 0x00A1)
            setups << record.data;
    ASSERT_FALSE(setups.isEmpty());
    const QByteArray &setup = setups.first();
    EXPECT_EQ(u16(setup, 10) & 0x0046, 0); // landscape, printer settings valid, orientation valid
    EXPECT_EQ(u16(setup, 2), 100); // scale
    EXPECT_NE(u16(setup, 0), 0); // a paper size
    EXPECT_EQ(u16(setup, 12), 600);
    EXPECT_EQ(u16(setup, 32), 1); // copies
    EXPECT_EQ(readBiff(book).sheets[0].orientation, 2);
}

TEST_F(XlsRecordEditorTest, SheetsKindsVisibilityAndActiveSheetAreRead)
{
    GM_REQUIRE_CORPUS(anySheets, "xls/calamine-any_sheets.xls");
    GM_REQUIRE_CORPUS(twoSheets, "xls/poi-TwoSheetsOneHidden.xls");
    auto book = openXlsRecords(anySheets, true);
    ASSERT_EQ(book->sheetCount(), 4);
    EXPECT_EQ(book->worksheetCount(), 3);
    EXPECT_EQ(book->sheet(1)->name(), QStringLiteral("Visible"));
    EXPECT_EQ(book->sheet(2)->visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(book->sheet(3)->visibility(), SheetVisibility::VeryHidden);
    EXPECT_TRUE(book->sheet(4)->isChart());
    EXPECT_EQ(book->sheet(QStringLiteral("CHART"))->sheetIndex(), 4);
    EXPECT_THROW(book->worksheet(4), EngineError);
    EXPECT_THROW(book->sheet(4)->setPrintArea(QStringLiteral("A1")), EngineError);
    EXPECT_THROW(book->save(), EngineError); // opened read-only

    auto two = openXlsRecords(twoSheets, true);
    EXPECT_EQ(two->activeSheet()->name(), readBiff(twoSheets).sheets[readBiff(twoSheets).activeSheet].name);
    EXPECT_EQ(two->activeSheet()->sheetIndex(), 2);
    EXPECT_EQ(two->sheet(1)->visibility(), SheetVisibility::Hidden);
}

TEST_F(XlsRecordEditorTest, AFileChangedOnDiskSinceItWasOpenedIsNotOverwritten)
{
    GM_REQUIRE_CORPUS(source, "xls/calamine-date.xls");
    const QString book = gm::test::copyInto(source, dir.path());
    auto workbook = openXlsRecords(book);
    workbook->worksheet(1)->setOrientation(Orientation::Landscape);
    gm::test::writeAll(book, gm::test::readAll(source) + QByteArray(512, '\0'));
    const QByteArray changed = gm::test::readAll(book);
    try {
        workbook->close(true);
        ADD_FAILURE() << "saved";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::InUse);
    }
    EXPECT_EQ(gm::test::readAll(book), changed);
}

} // namespace
} // namespace gm::xls
