// Hide, unhide and rename on .xls workbooks, changed by the record editor and then loaded by
// the engine: the sheets, their states and the formula results are what the operation
// intended, and the value-level comparison finds nothing else changed.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/xls/BiffInfo.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/SheetRecords.h"
#include "automation/xls/XlsDocument.h"
#include "operations/sheets/SheetOperations.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

struct SheetView
{
    QString name;
    SheetVisibility visibility;
};

class XlsSheetOperationsTest : public ::testing::Test
{
protected:
    void SetUp() override { settings = {true, dir.filePath(QStringLiteral("run.log"))}; }
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    // The workbook of formulas that refer to other sheets in every spelling, written as
    // Excel 97-2003 by the engine (its very hidden sheet becomes a hidden one there).
    QString references(const char *name)
    {
        const QString target = dir.filePath(QString::fromUtf8(name) + QStringLiteral(".xls"));
        std::unique_ptr<Workbook> book
            = session.open(gm::test::fixture(QStringLiteral("sheet_references.xlsx")), WorkbookUse::Engine, true);
        book->saveAs(target, FileFormat::Excel8);
        book->close(false);
        return target;
    }

    QStringList logLines() const
    {
        QFile log(settings.logFile);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // What the engine sees: the sheets, the active one, and the text of the cells A1:E8 of
    // every worksheet.
    struct EngineView
    {
        std::vector<SheetView> sheets;
        QString active;
        QStringList texts;
    };
    EngineView engineView(const QString &path)
    {
        EngineView view;
        std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
        for (int i = 1; i <= book->sheetCount(); ++i) {
            auto sheet = book->sheet(i);
            view.sheets.push_back({sheet->name(), sheet->visibility()});
        }
        view.active = book->activeSheet()->name();
        for (int i = 1; i <= book->worksheetCount(); ++i) {
            auto sheet = book->worksheet(i);
            for (int row = 1; row <= 8; ++row) {
                for (const char *column : {"A", "B", "C", "D", "E"})
                    view.texts << sheet->cellText(QString::fromLatin1(column) + QString::number(row));
            }
        }
        book->close(false);
        return view;
    }

    QTemporaryDir dir;
    RunSettings settings;
    gm::test::ScriptedUi ui;
    EngineSession session;
};

QStringList names(const std::vector<SheetView> &sheets)
{
    QStringList result;
    for (const SheetView &sheet : sheets)
        result << sheet.name;
    return result;
}

// xlrd's reading of the worksheets: "name:state:shown" per worksheet, the state 0 visible, 1
// hidden, 2 very hidden, shown 1 for the sheet the window displays; empty without xlrd.
QStringList xlrdTabs(const QString &path)
{
    static const char *script = "import sys\n"
                                "try:\n    import xlrd\nexcept ImportError:\n    sys.exit(0)\n"
                                "book = xlrd.open_workbook(sys.argv[1])\n"
                                "for s in book.sheets():\n"
                                "    print('%s:%d:%d' % (s.name, s.visibility, s.sheet_visible))\n";
    QProcess process;
    const QString python
        = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    process.start(python, {QStringLiteral("-c"), QString::fromUtf8(script), path});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList differences(const QString &original, const QString &edited, const xls::ExpectedChanges &expected)
{
    return xls::contentDifferences(xls::readXlsContent(original), xls::readXlsContent(edited), expected);
}

} // namespace

TEST_F(XlsSheetOperationsTest, FormulasGiveTheSameResultsAfterARename)
{
    const QString original = references("original");
    const QString path = gm::test::copyInto(original, dir.filePath(QStringLiteral("a")));
    const EngineView before = engineView(path);
    ASSERT_EQ(names(before.sheets), QStringList({QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("It's"),
                                        QStringLiteral("Calc"), QStringLiteral("Hidden"), QStringLiteral("Secret")}));

    // "a" replaced in every worksheet name, letter case counting: Data → Dxtx, Calc → Cxlc.
    RenameSheetInputs inputs{{path}, 0, QStringLiteral("a"), QStringLiteral("x"), {}};
    const RunSummary summary = renameSheets(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(ui.messages, QStringList{kSheetsDone});

    const EngineView after = engineView(path);
    EXPECT_EQ(names(after.sheets), QStringList({QStringLiteral("Dxtx"), QStringLiteral("Other"), QStringLiteral("It's"),
                                       QStringLiteral("Cxlc"), QStringLiteral("Hidden"), QStringLiteral("Secret")}));
    EXPECT_EQ(after.active, QStringLiteral("Cxlc"));
    // Every result is the same (but INDIRECT("Data!A2"), a text naming a sheet that is gone,
    // where the engine calculates it again).
    ASSERT_EQ(after.texts.size(), before.texts.size());
    int changed = 0;
    for (qsizetype i = 0; i < before.texts.size(); ++i)
        changed += after.texts[i] != before.texts[i];
    EXPECT_LE(changed, 1);
    // The formulas name the new sheets: the engine writes them out as text.
    const QString xlsx = dir.filePath(QStringLiteral("renamed.xlsx"));
    std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
    book->saveAs(xlsx, FileFormat::OpenXmlWorkbook);
    book->close(false);
    const QString calc = QString::fromUtf8(gm::test::zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet4.xml")));
    for (const char *formula : {"Dxtx!A1*2", "SUM(Dxtx!A1:A5)", "Other!Local", "INDIRECT(&quot;Data!A2&quot;)"})
        EXPECT_TRUE(calc.contains(QString::fromUtf8(formula))) << formula;
    EXPECT_FALSE(calc.contains(QStringLiteral("Data!A1")));
    const QString workbook = QString::fromUtf8(gm::test::zipEntry(xlsx, QStringLiteral("xl/workbook.xml")));
    EXPECT_TRUE(workbook.contains(QStringLiteral("Cxlc!$A$1:$C$6"))) << workbook.toStdString();

    xls::ExpectedChanges expected;
    expected.sheetNames = {{1, QStringLiteral("Dxtx")}, {4, QStringLiteral("Cxlc")}};
    EXPECT_EQ(differences(original, path, expected), QStringList());
}

TEST_F(XlsSheetOperationsTest, HidingTheActiveSheetMovesTheTabAndUnhidingShowsEveryHiddenSheet)
{
    const QString original = references("original");
    const QString path = gm::test::copyInto(original, dir.filePath(QStringLiteral("a")));

    SheetPickInputs hide{{path}, true, int(NameMatchKind::Equals), QStringLiteral("calc"), {}};
    ASSERT_EQ(hideSheets(hide, ui, settings).failedCount(), 0);
    EngineView view = engineView(path);
    EXPECT_EQ(view.sheets[3].visibility, SheetVisibility::Hidden);
    // The nearest visible sheet on the right of Calc is none; on its left, It's.
    EXPECT_EQ(view.active, QStringLiteral("It's"));
    xls::ExpectedChanges expected;
    expected.sheetStates = {{4, 1}};
    EXPECT_EQ(differences(original, path, expected), QStringList());

    UnhideInputs all{{path}, true, 0, {}};
    ASSERT_EQ(unhideSheets(all, ui, settings).failedCount(), 0);
    view = engineView(path);
    for (const SheetView &sheet : view.sheets)
        EXPECT_EQ(sheet.visibility, SheetVisibility::Visible) << sheet.name.toStdString();
    EXPECT_EQ(view.active, QStringLiteral("It's"));

    // Hiding every worksheet stops at the last visible one; the others are saved hidden.
    SheetPickInputs every{{path}, true, int(NameMatchKind::NotContains), QStringLiteral("zzz"), {}};
    const RunSummary summary = hideSheets(every, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::LastVisibleSheet));
    EXPECT_EQ(logLines().size(), 1);
    view = engineView(path);
    int visible = 0;
    for (const SheetView &sheet : view.sheets)
        visible += sheet.visibility == SheetVisibility::Visible;
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(view.sheets.back().visibility, SheetVisibility::Visible);
    EXPECT_EQ(view.active, view.sheets.back().name);
}

TEST_F(XlsSheetOperationsTest, CorpusWorkbooksWithHiddenVeryHiddenAndChartSheetsReadAsIntended)
{
    GM_REQUIRE_CORPUS(anySheets, "xls/calamine-any_sheets.xls"); // Visible, Hidden, VeryHidden, Chart
    GM_REQUIRE_CORPUS(twoCharts, "xls/poi-44010-TwoCharts.xls");
    for (const QString &source : {anySheets, twoCharts}) {
        SCOPED_TRACE(source.toStdString());
        const QString path = gm::test::copyInto(source, dir.filePath(QStringLiteral("c")));
        const EngineView before = engineView(path);
        const BiffSummary original = readBiff(path);

        // The very hidden sheet shown, the worksheets renamed (chart sheets are not), then the
        // active sheet renamed again.
        ASSERT_EQ(runUnhideSheets({{path}, false, int(NameMatchKind::Equals), QStringLiteral("veryhidden")}, ui, settings)
                      .failedCount(),
            0);
        RenameSheetInputs rename{{path}, 0, original.sheets[0].name.left(1), QStringLiteral("数据 "), {}};
        ASSERT_EQ(renameSheets(rename, ui, settings).failedCount(), 0);
        ASSERT_EQ(runRenameSheets({{path}, 1, {}, {}, QStringLiteral("Bob's €")}, ui, settings).failedCount(), 0);

        const BiffSummary edited = readBiff(path);
        const EngineView after = engineView(path);
        ASSERT_EQ(after.sheets.size(), before.sheets.size());
        xls::ExpectedChanges expected;
        for (int i = 0; i < edited.sheets.size(); ++i) {
            SCOPED_TRACE(edited.sheets[i].name.toStdString());
            EXPECT_EQ(after.sheets[size_t(i)].name, edited.sheets[i].name);
            if (edited.sheets[i].name != original.sheets[i].name)
                expected.sheetNames.insert(i + 1, edited.sheets[i].name);
            if (edited.sheets[i].state != original.sheets[i].state)
                expected.sheetStates.insert(i + 1, edited.sheets[i].state);
            const bool chart = edited.sheets[i].type == 2;
            if (chart && i != edited.activeSheet) { // an active chart sheet is renamed in mode 1
                EXPECT_EQ(edited.sheets[i].name, original.sheets[i].name);
            }
            EXPECT_EQ(after.sheets[size_t(i)].visibility == SheetVisibility::Visible, edited.sheets[i].state == 0);
        }
        EXPECT_EQ(edited.sheets[edited.activeSheet].name, QStringLiteral("Bob's €"));
        EXPECT_EQ(after.active, QStringLiteral("Bob's €"));
        EXPECT_FALSE(expected.sheetNames.isEmpty());
        EXPECT_EQ(after.texts, before.texts);
        EXPECT_EQ(differences(source, path, expected), QStringList());
    }
}

TEST_F(XlsSheetOperationsTest, DeletedSheetsLeaveRefErrorsAndNothingElseMoves)
{
    const QString original = references("original");
    const QString path = gm::test::copyInto(original, dir.filePath(QStringLiteral("a")));
    ui.okCancelAnswers = {true};
    SheetPickInputs inputs{{path}, true, int(NameMatchKind::Equals), QStringLiteral("DATA"), {}};
    const RunSummary summary = deleteSheets(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();

    std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
    QStringList sheets, texts;
    for (int i = 1; i <= book->sheetCount(); ++i)
        sheets << book->sheet(i)->name();
    EXPECT_EQ(sheets, QStringList({QStringLiteral("Other"), QStringLiteral("It's"), QStringLiteral("Calc"),
                          QStringLiteral("Hidden"), QStringLiteral("Secret")}));
    EXPECT_EQ(book->activeSheet()->name(), QStringLiteral("Calc"));
    auto calc = book->worksheet(QStringLiteral("Calc"));
    for (const char *cell : {"A1", "A2", "A3", "A4", "A5", "A6", "B1", "B3", "C1", "D1"})
        texts << calc->cellText(QString::fromLatin1(cell));
    book->close(false);
    // The 3-D span Data:Other lost its first sheet and is now Other alone; Other's own name
    // Local still reads 100 through its moved scope; the workbook name Total referred to Data.
    EXPECT_EQ(texts,
        QStringList({QStringLiteral("#REF!"), QStringLiteral("#REF!"), QStringLiteral("100"), QStringLiteral("#REF!"),
            QStringLiteral("110"), QStringLiteral("#REF!"), QStringLiteral("#REF!"), QStringLiteral("#REF!"),
            QStringLiteral("#REF!"), QStringLiteral("100")}));

    xls::ExpectedChanges expected;
    expected.deletedSheets = {1};
    EXPECT_EQ(differences(original, path, expected), QStringList());
}

TEST_F(XlsSheetOperationsTest, InsertedSheetsKeepTheirStateAndTheTargetKeepsItsTabs)
{
    // The engine writes the sheet at the active index it loaded as the active, shown one, and
    // very hidden sheets as hidden: a copy in front moves a hidden sheet onto that index.
    GM_REQUIRE_CORPUS(oneHidden, "xls/poi-TwoSheetsOneHidden.xls"); // Sheet1 hidden, Sheet2 active
    GM_REQUIRE_CORPUS(hide01, "xlsx/hide01.xlsx"); // Sheet1, Sheet2 (hidden), Sheet3
    const QString visibleSource = gm::test::fixture(QStringLiteral("sheets_second_active.xlsx"));
    // The same workbook with Sheet1 very hidden.
    const QString veryHidden = gm::test::copyInto(oneHidden, dir.filePath(QStringLiteral("very")));
    {
        xls::XlsDocument document(veryHidden, false);
        xls::SheetRecords(document.stream()).setVisibility(0, SheetVisibility::VeryHidden);
        document.markModified();
        document.save();
    }
    struct Case
    {
        QString target, source, sheet;
        QString copy; // the copy's name
        QString active; // the active sheet afterwards
    };
    const Case cases[] = {
        {oneHidden, visibleSource, QStringLiteral("第二"), QStringLiteral("第二"), QStringLiteral("第二")},
        {oneHidden, hide01, QStringLiteral("Sheet2"), QStringLiteral("Sheet2 (2)"), QStringLiteral("Sheet2")},
        {veryHidden, oneHidden, QStringLiteral("Sheet1"), QStringLiteral("Sheet1 (2)"), QStringLiteral("Sheet2")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.target + QStringLiteral(" <- ") + c.sheet).toStdString());
        const QString path = gm::test::copyInto(c.target, dir.filePath(QStringLiteral("insert")));
        const BiffSummary original = readBiff(path);
        std::unique_ptr<Workbook> source = session.open(c.source, WorkbookUse::Engine, true);
        const SheetVisibility sourceState = source->worksheet(c.sheet)->visibility();
        source->close(false);

        const RunSummary summary = insertSheet({{path}, c.source, c.sheet}, ui, settings);
        ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDetail.toStdString();

        // The file: the copy in front with its source's state, every other sheet as it was.
        const BiffSummary edited = readBiff(path);
        ASSERT_EQ(edited.sheets.size(), original.sheets.size() + 1);
        EXPECT_EQ(edited.sheets[0].name, c.copy);
        EXPECT_EQ(edited.sheets[0].state, sourceState == SheetVisibility::Visible ? 0 : 1);
        for (int i = 0; i < original.sheets.size(); ++i) {
            EXPECT_EQ(edited.sheets[i + 1].name, original.sheets[i].name);
            EXPECT_EQ(edited.sheets[i + 1].state, original.sheets[i].state) << original.sheets[i].name.toStdString();
        }
        EXPECT_EQ(edited.sheets[edited.activeSheet].name, c.active);

        // The engine and xlrd read the same states and show the same sheet.
        const EngineView view = engineView(path);
        EXPECT_EQ(view.active, c.active);
        for (int i = 0; i < edited.sheets.size(); ++i)
            EXPECT_EQ(view.sheets[size_t(i)].visibility == SheetVisibility::Visible, edited.sheets[i].state == 0);
        QStringList expectedTabs;
        for (const BiffSheet &sheet : edited.sheets) {
            if (sheet.type == 0)
                expectedTabs << QStringLiteral("%1:%2:%3").arg(sheet.name).arg(sheet.state).arg(sheet.name == c.active);
        }
        const QStringList tabs = xlrdTabs(path);
        if (!tabs.isEmpty()) {
            EXPECT_EQ(tabs, expectedTabs);
        }

        xls::ExpectedChanges expected;
        expected.insertedSheets = {1};
        EXPECT_EQ(differences(c.target, path, expected), QStringList());
    }
}

TEST_F(XlsSheetOperationsTest, OneEngineCopiesASheetWithNotesAndObjectsIntoManyTargets)
{
    // Sheets whose import leaves state behind in the source document: drawings with notes, and
    // an .xlsx sheet with a table. A run of several targets on one engine copies into every
    // one; the engine stays up throughout.
    GM_REQUIRE_CORPUS(notes, "xls/poi-DrawingAndComments.xls");
    GM_REQUIRE_CORPUS(table, "xlsx/table02.xlsx");
    const QString target = gm::test::fixture(QStringLiteral("sheets_second_active.xls"));
    for (const QString &source : {notes, table}) {
        SCOPED_TRACE(source.toStdString());
        QStringList targets;
        for (int i = 0; i < 4; ++i)
            targets << gm::test::copyInto(target, dir.filePath(QStringLiteral("many%1").arg(i)));
        RunSettings oneEngine = settings;
        oneEngine.jobs = 1;
        const RunSummary summary = insertSheet({targets, source, QStringLiteral("Sheet1")}, ui, oneEngine);
        ASSERT_EQ(summary.files.size(), size_t(targets.size()));
        for (const auto &file : summary.files)
            EXPECT_TRUE(file.errorDescription.isEmpty()) << file.errorDetail.toStdString();
        std::unique_ptr<Workbook> copied = session.open(source, WorkbookUse::Engine, true);
        const QString expected = copied->worksheet(QStringLiteral("Sheet1"))->cellText(QStringLiteral("A1"));
        copied->close(false);
        for (const QString &path : targets) {
            const EngineView view = engineView(path);
            ASSERT_FALSE(view.sheets.empty());
            EXPECT_EQ(view.sheets[0].name, QStringLiteral("Sheet1"));
            EXPECT_EQ(view.texts.value(0), expected) << path.toStdString();
        }
    }
}
