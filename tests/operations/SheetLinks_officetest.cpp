// Sheets whose formulas read other sheets, inserted into other workbooks and merged, then
// loaded by the engine: every formula must show the value it shows in the source, whether it
// now reads the source file through a link or the merged copies of its sheets.

#include "automation/EngineSession.h"
#include "operations/sheets/SheetOperations.h"
#include "operations/workbook/MergeOperation.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

class SheetLinksTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    // The texts the engine shows in cells of a sheet.
    QStringList engineTexts(const QString &path, const QString &sheet, const QStringList &cells)
    {
        std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
        QStringList texts;
        auto worksheet = book->worksheet(sheet);
        for (const QString &cell : cells)
            texts.append(worksheet->cellText(cell));
        book->close(false);
        return texts;
    }

    QTemporaryDir dir;
    EngineSession session;
};

// Calc!B4 tests an error value read from Data; the engine takes the number, text and logical
// values a link holds but not its error values, so it is left out here (the link's content
// is checked by the package tests).
const QStringList calcCells{QStringLiteral("A1"), QStringLiteral("B1"), QStringLiteral("A2"), QStringLiteral("B2"),
    QStringLiteral("A3"), QStringLiteral("B3"), QStringLiteral("A4")};

// linked_sheets with Calc also reading a 3-D span over Data, Other Sheet and itself (A9), the
// workbook-level names Total and Twice, which reads Total (A10, B10), and Other Sheet's own
// name Seven (A11). These formulas hold no results, so that the engine computes them.
QString withNamesAndSpans(const QString &path)
{
    const QString linked = gm::test::fixture(QStringLiteral("linked_sheets.xlsx"));
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &entry : gm::test::zipEntryNames(linked)) {
        QByteArray bytes = gm::test::zipEntry(linked, entry);
        if (entry == QStringLiteral("xl/worksheets/sheet3.xml"))
            bytes.replace("</sheetData>",
                "<row r=\"9\"><c r=\"A9\"><f>SUM(Data:Calc!A1)</f></c></row>"
                "<row r=\"10\"><c r=\"A10\"><f>SUM(Total)</f></c><c r=\"B10\"><f>Twice</f></c></row>"
                "<row r=\"11\"><c r=\"A11\"><f>'Other Sheet'!Seven+1</f></c></row></sheetData>");
        else if (entry == QStringLiteral("xl/workbook.xml"))
            bytes.replace("<definedNames>",
                "<definedNames><definedName name=\"Seven\" localSheetId=\"1\">'Other Sheet'!$A$1</definedName>"
                "<definedName name=\"Total\">Data!$A$1:$A$3</definedName><definedName name=\"Twice\">SUM(Total)*2</definedName>");
        entries.append({entry, bytes});
    }
    gm::test::writeZip(path, entries);
    return path;
}
const QStringList namedCells{QStringLiteral("A9"), QStringLiteral("A10"), QStringLiteral("B10"), QStringLiteral("A11")};

} // namespace

TEST_F(SheetLinksTest, InsertedAndMergedSheetsShowTheSourceValuesInTheEngine)
{
    const QString source = withNamesAndSpans(dir.filePath(QStringLiteral("linked_sheets.xlsx")));
    const QStringList expected = engineTexts(source, QStringLiteral("Calc"), calcCells + namedCells);
    ASSERT_EQ(expected.size(), calcCells.size() + namedCells.size());
    EXPECT_FALSE(expected.contains(QString()));
    // The span, the names and the other sheet's name read 10 + 7.5 + 20, 10 + 20 + 30, twice
    // that, 7.5 + 1.
    EXPECT_EQ(expected.mid(calcCells.size()),
        QStringList({QStringLiteral("37.5"), QStringLiteral("60"), QStringLiteral("120"), QStringLiteral("8.5")}));

    // Inserted: the copy reads the source file through the link.
    const QString target
        = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.filePath(QStringLiteral("t")));
    gm::test::ScriptedUi ui;
    const RunSummary inserted = insertSheet(InsertSheetInputs{{target}, source, QStringLiteral("Calc")}, ui, RunSettings{});
    EXPECT_EQ(inserted.failedCount(), 0);
    EXPECT_EQ(engineTexts(target, QStringLiteral("Calc"), calcCells + namedCells), expected);

    // Merged with a converted .xls whose first sheet reads its second: both stay in the
    // merged workbook, which reads only itself.
    const QString formulas = gm::test::corpusFile(QStringLiteral("xls/calamine-xls_formula.xls"));
    if (formulas.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QStringList xlsCells{QStringLiteral("A1"), QStringLiteral("B1"), QStringLiteral("A2"), QStringLiteral("B2"),
        QStringLiteral("C1"), QStringLiteral("C2")};
    const QStringList xlsExpected = engineTexts(formulas, QStringLiteral("Sheet1"), xlsCells);
    // The source goes in twice. Documents go in from the last to the first, each in front:
    // the first document's copies come last and read the names the other copy brought.
    const QString again = gm::test::copyInto(source, dir.path(), QStringLiteral("again.xlsx"));
    MergeInputs inputs;
    inputs.entries = {source, formulas, again};
    inputs.targetPath = dir.filePath(QStringLiteral("merged.xlsx"));
    MergeResult result;
    const RunSummary merged = mergeWorkbooks(inputs, ui, RunSettings{}, false, &result);
    EXPECT_EQ(merged.failedCount(), 0);
    // The new workbook's own "Sheet1" is gone when the .xls document's goes in.
    EXPECT_EQ(result.sheetNames,
        QStringList({QStringLiteral("Data (2)"), QStringLiteral("Other Sheet (2)"), QStringLiteral("Calc (2)"),
            QStringLiteral("Sheet1"), QStringLiteral("Sheet2"), QStringLiteral("Data"), QStringLiteral("Other Sheet"),
            QStringLiteral("Calc")}));
    EXPECT_FALSE(gm::test::zipEntry(inputs.targetPath, QStringLiteral("xl/workbook.xml")).contains("externalReference"));
    EXPECT_EQ(engineTexts(inputs.targetPath, QStringLiteral("Calc"), calcCells + namedCells), expected);
    // The second copy's span spans the copies, 'Data (2):Calc (2)'!A1, a spelling the engine
    // does not read; its names read as the first's.
    const QStringList names = namedCells.mid(1);
    EXPECT_EQ(engineTexts(inputs.targetPath, QStringLiteral("Calc (2)"), calcCells + names),
        expected.mid(0, calcCells.size()) + expected.mid(calcCells.size() + 1));
    EXPECT_EQ(engineTexts(inputs.targetPath, QStringLiteral("Sheet1"), xlsCells), xlsExpected);
}

TEST_F(SheetLinksTest, ACopiedSheetReadsTheFileItsLinkNamedAmongTheTargetsOwnLinks)
{
    // "first" and "second" differ in Data!A1 (10 and 11); the target already reads "second"
    // through its link 1 when a sheet that reads "first" through its own link 1 comes in.
    // Their formulas hold no results, so that the engine computes them.
    const QString linked = gm::test::fixture(QStringLiteral("linked_sheets.xlsx"));
    auto variant = [&](const char *name, const QByteArray &dataA1) {
        const QString path = dir.filePath(QString::fromUtf8(name));
        QList<std::pair<QString, QByteArray>> entries;
        static const QRegularExpression result(QStringLiteral("(</f>)<v>[^<]*</v>"));
        for (const QString &entry : gm::test::zipEntryNames(linked)) {
            QByteArray bytes = gm::test::zipEntry(linked, entry);
            if (entry == QStringLiteral("xl/worksheets/sheet1.xml"))
                bytes.replace("<c r=\"A1\"><v>10</v>", "<c r=\"A1\"><v>" + dataA1 + "</v>");
            else if (entry.startsWith(QStringLiteral("xl/worksheets/sheet")))
                bytes = QString::fromUtf8(bytes).replace(result, QStringLiteral("\\1")).toUtf8();
            entries.append({entry, bytes});
        }
        gm::test::writeZip(path, entries);
        return path;
    };
    const QString first = variant("first.xlsx", "10");
    const QString second = variant("second.xlsx", "11");
    const QStringList fromFirst = engineTexts(first, QStringLiteral("Calc"), calcCells);
    const QStringList fromSecond = engineTexts(second, QStringLiteral("Calc"), calcCells);
    ASSERT_NE(fromFirst, fromSecond);

    const QString plain = gm::test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    const QString middle = gm::test::copyInto(plain, dir.path(), QStringLiteral("middle.xlsx"));
    const QString target = gm::test::copyInto(plain, dir.path(), QStringLiteral("target.xlsx"));
    gm::test::ScriptedUi ui;
    ASSERT_EQ(insertSheet(InsertSheetInputs{{middle}, first, QStringLiteral("Calc")}, ui, RunSettings{}).failedCount(), 0);
    ASSERT_EQ(insertSheet(InsertSheetInputs{{target}, second, QStringLiteral("Calc")}, ui, RunSettings{}).failedCount(), 0);
    ASSERT_EQ(insertSheet(InsertSheetInputs{{target}, middle, QStringLiteral("Calc")}, ui, RunSettings{}).failedCount(), 0);

    EXPECT_EQ(engineTexts(target, QStringLiteral("Calc (2)"), calcCells), fromFirst);
    EXPECT_EQ(engineTexts(target, QStringLiteral("Calc"), calcCells), fromSecond);
}
