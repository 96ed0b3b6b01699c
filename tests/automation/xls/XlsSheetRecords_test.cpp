// Hiding, unhiding and renaming sheets of .xls workbooks in place: only the sheet and window
// records change, every value, name and other stream stays as it was (the value-level
// comparison and a raw record walk of the test's own), the tabs shown and selected are never
// left on a hidden sheet, and refusals leave the file byte-identical.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/xls/BiffInfo.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/SheetRecords.h"
#include "automation/xls/XlsDocument.h"
#include "automation/xls/XlsContent.h"
#include "automation/xls/XlsWorkbook.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <functional>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

bool isSheetRecord(quint16 type)
{
    return type == 0x0085 || type == 0x003D || type == 0x023E; // BOUNDSHEET8, WINDOW1, WINDOW2
}

// Every other stream and storage byte-identical; every record but BOUNDSHEET8, WINDOW1 and
// WINDOW2 identical once stream positions are set aside; every position still hits.
void expectOnlySheetRecordsChanged(const QString &original, const QString &edited)
{
    const ole::CompoundEntry before = ole::CompoundFile::readFile(original);
    ole::CompoundEntry after = ole::CompoundFile::readFile(edited);
    const QByteArray name = workbookStreamName(before);
    ASSERT_EQ(workbookStreamName(after), name);
    const QByteArray oldStream = before.child(name)->data;
    const QByteArray newStream = after.child(name)->data;
    after.child(name)->data = oldStream;
    EXPECT_EQ(ole::CompoundFile::difference(before, after), QString());

    QList<RawRecord> oldKept, newKept;
    for (const RawRecord &record : rawRecords(oldStream))
        if (!isSheetRecord(record.type))
            oldKept << withoutPositions(record);
    for (const RawRecord &record : rawRecords(newStream))
        if (!isSheetRecord(record.type))
            newKept << withoutPositions(record);
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
}

struct Windows
{
    QList<int> states; // BOUNDSHEET8 hsState by sheet
    int active = -1, first = -1, selectedCount = -1;
    QList<int> window2; // the sheet's own WINDOW2 grbit, -1 when none
};

// The window records as a raw walk finds them, each sheet's WINDOW2 found through lbPlyPos.
Windows windowsOf(const QString &path)
{
    const QList<RawRecord> records = rawRecords(workbookStreamOf(path));
    Windows windows;
    QList<quint32> starts;
    int depth = 0;
    for (const RawRecord &record : records) {
        depth += record.type == 0x0809 ? 1 : 0;
        if (depth == 1 && record.type == 0x0085) {
            windows.states << (uchar(record.data[4]) & 3);
            starts << u32(record.data, 0);
        } else if (depth == 1 && record.type == 0x003D && windows.active < 0) {
            windows.active = u16(record.data, 10);
            windows.first = u16(record.data, 12);
            windows.selectedCount = u16(record.data, 14);
        }
        depth -= record.type == 0x000A ? 1 : 0;
        if (depth == 0)
            break;
    }
    for (const quint32 start : std::as_const(starts)) {
        int grbit = -1, level = 0;
        bool inside = false;
        for (const RawRecord &record : records) {
            if (record.at == start)
                inside = true;
            if (!inside)
                continue;
            level += record.type == 0x0809 ? 1 : record.type == 0x000A ? -1 : 0;
            if (level == 1 && record.type == 0x023E && grbit < 0)
                grbit = u16(record.data, 0);
            if (level == 0)
                break;
        }
        windows.window2 << grbit;
    }
    return windows;
}

// The shown tabs are on visible sheets, the active one is selected, no hidden sheet is
// selected, and the count of selected tabs is right.
void expectWindowsConsistent(const QString &path)
{
    const Windows w = windowsOf(path);
    ASSERT_GE(w.active, 0);
    ASSERT_LT(w.active, w.states.size());
    EXPECT_EQ(w.states[w.active], 0) << "active tab on a hidden sheet";
    EXPECT_LE(w.first, w.active);
    EXPECT_EQ(w.states[w.first], 0) << "first tab on a hidden sheet";
    int selected = 0;
    for (int i = 0; i < w.states.size(); ++i) {
        if (w.window2[i] < 0)
            continue;
        selected += (w.window2[i] & 0x200) != 0;
        if (w.states[i] != 0) {
            EXPECT_EQ(w.window2[i] & 0x600, 0) << "hidden sheet " << i << " selected";
        }
    }
    // Some writers leave fPaged out; the active tab is always among the selected ones.
    if (w.window2[w.active] >= 0) {
        EXPECT_NE(w.window2[w.active] & 0x200, 0);
    }
    EXPECT_EQ(w.selectedCount, std::max(selected, 1));
}

QString sheetNameFor(int position)
{
    // UTF-16 characters, an inner apostrophe and a space: names that need quoting in formulas.
    return QStringLiteral("表 %1's €").arg(position);
}

class XlsSheetRecordsTest : public ::testing::Test
{
protected:
    QString copy(const QString &source) { return gm::test::copyInto(source, dir.path()); }
    QTemporaryDir dir;
};

TEST_F(XlsSheetRecordsTest, RenamingEverySheetAndHidingTheActiveOneKeepsEverythingElseOfEveryCorpusFile)
{
    int edited = 0, movedActive = 0;
    for (const QString &source : corpusXlsFiles()) {
        SCOPED_TRACE(source.toStdString());
        const QString path = copy(source);
        std::unique_ptr<Workbook> book;
        try {
            book = openXlsRecords(path);
        } catch (const EngineError &) {
            continue; // Excel 5.0/95 and encrypted workbooks are not edited
        }
        ExpectedChanges expected;
        const BiffSummary original = readBiff(source);
        for (int n = 1; n <= book->sheetCount(); ++n) {
            book->sheet(n)->setName(sheetNameFor(n));
            expected.sheetNames.insert(n, sheetNameFor(n));
        }
        // Hide the active sheet when another one is visible; show the first hidden one.
        auto active = book->activeSheet();
        const int activePosition = active->sheetIndex();
        int visible = 0;
        for (const BiffSheet &sheet : original.sheets)
            visible += sheet.state == 0;
        if (visible > 1) {
            active->setVisibility(SheetVisibility::Hidden);
            expected.sheetStates.insert(activePosition, 1);
            ++movedActive;
        } else {
            EXPECT_THROW(active->setVisibility(SheetVisibility::Hidden), EngineError);
        }
        EXPECT_EQ(active->name(), sheetNameFor(activePosition));
        for (int i = 0; i < original.sheets.size(); ++i) {
            if (original.sheets[i].state != 0) {
                book->sheet(i + 1)->setVisibility(SheetVisibility::Visible);
                expected.sheetStates.insert(i + 1, 0);
                break;
            }
        }
        book->close(true);
        ++edited;

        expectOnlySheetRecordsChanged(source, path);
        expectWindowsConsistent(path);
        const BiffSummary summary = readBiff(path);
        ASSERT_EQ(summary.sheets.size(), original.sheets.size());
        for (int i = 0; i < summary.sheets.size(); ++i) {
            EXPECT_EQ(summary.sheets[i].name, sheetNameFor(i + 1));
            EXPECT_EQ(summary.sheets[i].state, expected.sheetStates.value(i + 1, original.sheets[i].state));
        }
        try {
            const QStringList differences = contentDifferences(readXlsContent(source), readXlsContent(path), expected);
            EXPECT_EQ(differences.join(u'\n').toStdString(), "");
        } catch (const EngineError &error) {
            // Files the content reader cannot read at all are compared by records only.
            EXPECT_EQ(error.code(), ErrorCode::Damaged) << error.what();
        }
        EXPECT_NO_THROW(openXlsRecords(path, true));
        QFile::remove(path);
    }
    if (edited == 0)
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    EXPECT_GE(edited, 50);
    EXPECT_GE(movedActive, 10);
}

TEST_F(XlsSheetRecordsTest, StatesStayApartAndTheTabsMoveToAVisibleSheet)
{
    GM_REQUIRE_CORPUS(anySheets, "xls/calamine-any_sheets.xls"); // Visible (active), Hidden, VeryHidden, Chart
    GM_REQUIRE_CORPUS(twoSheets, "xls/poi-TwoSheetsOneHidden.xls"); // Sheet1 hidden, Sheet2 active
    const struct
    {
        const char *what;
        QString source;
        std::function<void(Workbook &)> change;
        QList<int> states;
        int active;
    } cases[] = {
        {"hiding the active sheet moves the tab to the nearest visible sheet on its right", anySheets,
            [](Workbook &b) { b.sheet(QStringLiteral("visible"))->setVisibility(SheetVisibility::Hidden); }, {1, 1, 2, 0}, 3},
        {"a very hidden sheet made hidden is hidden, not visible", anySheets,
            [](Workbook &b) { b.sheet(3)->setVisibility(SheetVisibility::Hidden); }, {0, 1, 1, 0}, 0},
        {"a hidden sheet made very hidden", anySheets,
            [](Workbook &b) { b.sheet(2)->setVisibility(SheetVisibility::VeryHidden); }, {0, 2, 2, 0}, 0},
        {"unhiding both; the active tab stays", anySheets,
            [](Workbook &b) {
                b.sheet(2)->setVisibility(SheetVisibility::Visible);
                b.sheet(3)->setVisibility(SheetVisibility::Visible);
            },
            {0, 0, 0, 0}, 0},
        {"hiding the last sheet moves the tab to the left, past a very hidden sheet", anySheets,
            [](Workbook &b) {
                b.sheet(1)->setVisibility(SheetVisibility::Hidden); // the tab goes to Chart
                b.sheet(2)->setVisibility(SheetVisibility::Visible);
                b.sheet(3)->setVisibility(SheetVisibility::VeryHidden); // already so: no change
                b.sheet(4)->setVisibility(SheetVisibility::Hidden); // the tab goes back to Hidden
            },
            {1, 0, 2, 1}, 1},
        {"showing the hidden sheet of two leaves the active one", twoSheets,
            [](Workbook &b) { b.sheet(1)->setVisibility(SheetVisibility::Visible); }, {0, 0}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = copy(c.source);
        auto book = openXlsRecords(path);
        c.change(*book);
        EXPECT_EQ(book->activeSheet()->sheetIndex(), c.active + 1);
        book->close(true);
        const Windows windows = windowsOf(path);
        EXPECT_EQ(windows.states, c.states);
        EXPECT_EQ(windows.active, c.active);
        EXPECT_EQ(windows.window2[c.active] & 0x600, 0x600); // selected and shown
        expectWindowsConsistent(path);
        expectOnlySheetRecordsChanged(c.source, path);
        QFile::remove(path);
    }
}

TEST_F(XlsSheetRecordsTest, RefusalsChangeNothingAndEarlierChangesAreStillSaved)
{
    GM_REQUIRE_CORPUS(twoSheets, "xls/poi-TwoSheetsOneHidden.xls"); // Sheet1 hidden, Sheet2
    GM_REQUIRE_CORPUS(formulas, "xls/calamine-xls_formula.xls"); // Sheet1, Sheet2
    const struct
    {
        const char *what;
        QString source;
        std::function<void(Workbook &)> change;
        ErrorCode code;
    } cases[] = {
        {"the last visible sheet", twoSheets, [](Workbook &b) { b.sheet(2)->setVisibility(SheetVisibility::Hidden); },
            ErrorCode::LastVisibleSheet},
        {"very hiding the last visible sheet", twoSheets,
            [](Workbook &b) { b.sheet(2)->setVisibility(SheetVisibility::VeryHidden); }, ErrorCode::LastVisibleSheet},
        {"an empty name", formulas, [](Workbook &b) { b.sheet(1)->setName(QString()); }, ErrorCode::SheetNameInvalid},
        {"32 characters", formulas, [](Workbook &b) { b.sheet(1)->setName(QString(32, u'x')); }, ErrorCode::SheetNameInvalid},
        {"a slash", formulas, [](Workbook &b) { b.sheet(1)->setName(QStringLiteral("a/b")); }, ErrorCode::SheetNameInvalid},
        {"a leading apostrophe", formulas, [](Workbook &b) { b.sheet(1)->setName(QStringLiteral("'x")); },
            ErrorCode::SheetNameInvalid},
        {"History", formulas, [](Workbook &b) { b.sheet(1)->setName(QStringLiteral("history")); }, ErrorCode::SheetNameInvalid},
        {"another sheet's name in other letter case", formulas, [](Workbook &b) { b.sheet(1)->setName(QStringLiteral("SHEET2")); },
            ErrorCode::SheetNameTaken},
        {"a hidden sheet's name", twoSheets, [](Workbook &b) { b.sheet(2)->setName(QStringLiteral("sheet1")); },
            ErrorCode::SheetNameTaken},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = copy(c.source);
        const QByteArray before = gm::test::readAll(path);
        auto book = openXlsRecords(path);
        try {
            c.change(*book);
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), c.code) << error.what();
        }
        book->close(true);
        EXPECT_EQ(gm::test::readAll(path), before);
        QFile::remove(path);
    }

    // A refusal after a change that succeeded: the change is saved, the refused one is not.
    const QString path = copy(formulas);
    auto book = openXlsRecords(path);
    book->sheet(1)->setName(QStringLiteral("First"));
    EXPECT_THROW(book->sheet(2)->setName(QStringLiteral("first")), EngineError);
    // Renaming to the same name, or the name in other letter case, is no conflict with itself.
    book->sheet(2)->setName(QStringLiteral("Sheet2"));
    book->sheet(2)->setName(QStringLiteral("SHEET2"));
    book->close(true);
    const BiffSummary summary = readBiff(path);
    ASSERT_EQ(summary.sheets.size(), 2);
    EXPECT_EQ(summary.sheets[0].name, QStringLiteral("First"));
    EXPECT_EQ(summary.sheets[1].name, QStringLiteral("SHEET2"));
}

TEST_F(XlsSheetRecordsTest, AProtectedWorkbookStructureRefusesEveryChange)
{
    GM_REQUIRE_CORPUS(source, "xls/calamine-any_sheets.xls");
    // The workbook's own PROTECT record (the first one, in the globals) switched on.
    ole::CompoundEntry root = ole::CompoundFile::readFile(source);
    ole::CompoundEntry *stream = root.child(workbookStreamName(root));
    bool locked = false;
    for (const RawRecord &record : rawRecords(stream->data)) {
        if (record.type == 0x0012) {
            stream->data[record.at + 4] = 1;
            locked = true;
            break;
        }
        ASSERT_NE(record.type, 0x000A) << "no PROTECT in the globals";
    }
    ASSERT_TRUE(locked);
    const QString path = dir.filePath(QStringLiteral("locked.xls"));
    gm::test::writeAll(path, ole::CompoundFile::write(root));
    const QByteArray before = gm::test::readAll(path);

    auto book = openXlsRecords(path);
    const std::function<void()> changes[] = {
        [&] { book->sheet(1)->setVisibility(SheetVisibility::Hidden); },
        [&] { book->sheet(2)->setVisibility(SheetVisibility::Visible); },
        [&] { book->sheet(1)->setName(QStringLiteral("Renamed")); },
    };
    for (const auto &change : changes) {
        try {
            change();
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::WorkbookStructureProtected);
        }
    }
    book->close(true);
    EXPECT_EQ(gm::test::readAll(path), before);
}

// Every other stream byte-identical, and every stream position of the result hits its record.
void expectStreamsKeptAndPositionsHit(const QString &original, const QString &edited)
{
    const ole::CompoundEntry before = ole::CompoundFile::readFile(original);
    ole::CompoundEntry after = ole::CompoundFile::readFile(edited);
    const QByteArray name = workbookStreamName(before);
    const QByteArray newStream = after.child(name)->data;
    after.child(name)->data = before.child(name)->data;
    EXPECT_EQ(ole::CompoundFile::difference(before, after), QString());
    const QList<bool> oldHits = positionHits(before.child(name)->data), newHits = positionHits(newStream);
    EXPECT_LE(newHits.count(false), oldHits.count(false));
}

TEST_F(XlsSheetRecordsTest, DeletingTheFirstWorksheetOfEveryCorpusFileKeepsEverythingElse)
{
    int deleted = 0, refused = 0;
    for (const QString &source : corpusXlsFiles()) {
        SCOPED_TRACE(source.toStdString());
        const QString path = copy(source);
        std::unique_ptr<Workbook> book;
        try {
            book = openXlsRecords(path);
        } catch (const EngineError &) {
            continue; // Excel 5.0/95 and encrypted workbooks are not edited
        }
        const BiffSummary original = readBiff(source);
        const int position = book->worksheet(1)->sheetIndex();
        try {
            book->worksheet(1)->deleteSheet();
        } catch (const EngineError &error) {
            EXPECT_TRUE(error.code() == ErrorCode::LastVisibleSheet || error.code() == ErrorCode::LastWorksheet
                || error.code() == ErrorCode::XlsSheetNotDeletable)
                << error.what();
            book->close(true);
            EXPECT_EQ(gm::test::readAll(path), gm::test::readAll(source));
            ++refused;
            continue;
        }
        EXPECT_EQ(book->sheetCount(), original.sheets.size() - 1);
        book->close(true);
        ++deleted;

        expectStreamsKeptAndPositionsHit(source, path);
        expectWindowsConsistent(path);
        const BiffSummary summary = readBiff(path);
        QList<BiffSheet> expectedSheets = original.sheets;
        expectedSheets.removeAt(position - 1);
        ASSERT_EQ(summary.sheets.size(), expectedSheets.size());
        for (int i = 0; i < summary.sheets.size(); ++i) {
            EXPECT_EQ(summary.sheets[i].name, expectedSheets[i].name);
            EXPECT_EQ(summary.sheets[i].state, expectedSheets[i].state);
            EXPECT_EQ(summary.sheets[i].printArea, expectedSheets[i].printArea);
            EXPECT_EQ(summary.sheets[i].header, expectedSheets[i].header);
        }
        ExpectedChanges expected;
        expected.deletedSheets = {position};
        try {
            const QStringList differences = contentDifferences(readXlsContent(source), readXlsContent(path), expected);
            EXPECT_EQ(differences.join(u'\n').toStdString(), "");
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::Damaged) << error.what();
        }
        EXPECT_NO_THROW(openXlsRecords(path, true));
        QFile::remove(path);
    }
    if (deleted == 0)
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    EXPECT_GE(deleted, 25);
    EXPECT_GE(refused, 5);
}

// The entries of EXTERNSHEET as (book, first, last).
QList<std::array<int, 3>> externSheetEntries(const QString &path)
{
    QList<std::array<int, 3>> entries;
    for (const RawRecord &record : rawRecords(workbookStreamOf(path))) {
        if (record.type != 0x0017)
            continue;
        for (int i = 0; i < u16(record.data, 0); ++i)
            entries.append({u16(record.data, 2 + 6 * i), qint16(u16(record.data, 4 + 6 * i)), qint16(u16(record.data, 6 + 6 * i))});
    }
    return entries;
}

TEST_F(XlsSheetRecordsTest, DeletionTurnsReferencesIntoRefErrorsAndMovesEveryLaterSheetIndex)
{
    // The second sheet of the first of these workbooks of names and 3-D references whose
    // formulas the editor can follow.
    QString source, path;
    for (const char *file : {"xls/xlrd-namesdemo.xls", "xls/xlrd-formula_test_names.xls", "xls/calamine-issues.xls",
             "xls/calamine-optional_records.xls", "xls/calamine-xls_formula.xls"}) {
        const QString candidate = gm::test::corpusFile(QString::fromLatin1(file));
        if (candidate.isEmpty() || externSheetEntries(candidate).isEmpty())
            continue;
        path = copy(candidate);
        auto book = openXlsRecords(path);
        try {
            book->sheet(2)->deleteSheet();
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::XlsSheetNotDeletable) << file;
            continue;
        }
        book->close(true);
        source = candidate;
        break;
    }
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    SCOPED_TRACE(source.toStdString());
    const WorkbookContent before = readXlsContent(source);
    const QList<std::array<int, 3>> entriesBefore = externSheetEntries(source);

    const WorkbookContent after = readXlsContent(path);
    ExpectedChanges expected;
    expected.deletedSheets = {2};
    EXPECT_EQ(contentDifferences(before, after, expected).join(u'\n').toStdString(), "");
    // Without the deletion declared the comparison sees it.
    EXPECT_FALSE(contentDifferences(before, after, {}).isEmpty());

    const QList<std::array<int, 3>> entriesAfter = externSheetEntries(path);
    ASSERT_EQ(entriesAfter.size(), entriesBefore.size());
    for (qsizetype i = 0; i < entriesBefore.size(); ++i) {
        const auto [book0, first, last] = entriesBefore[i];
        const auto [book1, newFirst, newLast] = entriesAfter[i];
        EXPECT_EQ(book1, book0);
        const bool onDeleted = first == 1 && last == 1;
        EXPECT_EQ(newFirst, onDeleted ? -1 : first > 1 ? first - 1 : first);
        EXPECT_EQ(newLast, onDeleted ? -1 : last >= 1 ? last - 1 : last);
    }
    // Names of later sheets moved down with them; the deleted sheet's own went.
    int scoped = 0;
    for (const DefinedName &name : after.names) {
        EXPECT_LT(name.scope, int(before.sheets.size()));
        scoped += name.scope != 0;
    }
    int scopedBefore = 0;
    for (const DefinedName &name : before.names)
        scopedBefore += name.scope != 0 && name.scope != 2;
    EXPECT_EQ(scoped, scopedBefore);
}

TEST_F(XlsSheetRecordsTest, DeletionRefusalsLeaveTheFileByteIdentical)
{
    GM_REQUIRE_CORPUS(twoSheets, "xls/poi-TwoSheetsOneHidden.xls"); // Sheet1 hidden, Sheet2
    GM_REQUIRE_CORPUS(anySheets, "xls/calamine-any_sheets.xls"); // Visible, Hidden, VeryHidden, Chart
    GM_REQUIRE_CORPUS(macro, "xls/poi-SimpleMacro.xls");
    const struct
    {
        const char *what;
        QString source;
        std::function<void(Workbook &)> change;
        ErrorCode code;
    } cases[] = {
        {"the only visible sheet", twoSheets, [](Workbook &b) { b.sheet(2)->deleteSheet(); }, ErrorCode::LastVisibleSheet},
        {"a workbook with a VBA project", macro, [](Workbook &b) { b.worksheet(1)->deleteSheet(); },
            ErrorCode::XlsSheetNotDeletable},
        {"a workbook with a VBA project and hidden sheets", anySheets, [](Workbook &b) { b.sheet(2)->deleteSheet(); },
            ErrorCode::XlsSheetNotDeletable},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = copy(c.source);
        auto book = openXlsRecords(path);
        try {
            c.change(*book);
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), c.code) << error.what();
        }
        book->close(true);
        EXPECT_EQ(gm::test::readAll(path), gm::test::readAll(c.source));
        QFile::remove(path);
    }

    // The records alone: a workbook keeps a worksheet even beside a visible chart sheet.
    XlsDocument document(anySheets, true);
    SheetRecords records(document.stream());
    records.remove(2);
    records.remove(1);
    try {
        records.remove(0);
        ADD_FAILURE() << "accepted";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::LastWorksheet);
    }
    records.remove(1); // the chart sheet
    EXPECT_EQ(records.sheetCount(), 1);
    EXPECT_EQ(records.name(0), QStringLiteral("Visible"));
    try {
        records.remove(0);
        ADD_FAILURE() << "accepted";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::LastVisibleSheet);
    }
}

} // namespace
} // namespace gm::xls
