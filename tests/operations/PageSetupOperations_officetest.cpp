// Header and footer from a template, print area and orientation, and document properties,
// run over real .xls and .xlsx files; results read back from the files themselves.

#include "automation/xls/BiffInfo.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/ole/CompoundFile.h"
#include "automation/ole/XlsPropertyWorkbook.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "operations/workbook/PropertiesOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::test::fixture;
using gm::test::readAll;

namespace {

class PageSetupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        xls = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), dir.filePath(QStringLiteral("a")));
        xlsx = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.filePath(QStringLiteral("b")));
        settings = {true, dir.filePath(QStringLiteral("run.log"))};
    }
    void TearDown() override
    {
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
        EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
    }
    QString sheetXml(const QString &package, int n) const
    {
        return QString::fromUtf8(gm::test::zipEntry(package, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n)));
    }

    QTemporaryDir dir;
    QString xls, xlsx;
    RunSettings settings;
    gm::test::ScriptedUi ui;
};

} // namespace

TEST_F(PageSetupTest, HeadersOfAnXlsTemplateLandOnEveryWorksheetOfAnXlsx)
{
    GM_REQUIRE_CORPUS(source, "xls/poi-45538_classic_Header.xls");
    const QString templ = gm::test::copyInto(source, dir.filePath(QStringLiteral("t")));
    HeaderFooterInputs inputs{{xlsx}, templ, true, true, false};
    const RunSummary summary = copyHeaderFooter(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    for (int n : {1, 2}) {
        SCOPED_TRACE(n);
        // The template's active sheet has "&Ltestdoc&Rtest phrase" and no footer.
        EXPECT_TRUE(sheetXml(xlsx, n).contains(QStringLiteral("<oddHeader>&amp;Ltestdoc&amp;Rtest phrase</oddHeader>")));
        EXPECT_FALSE(sheetXml(xlsx, n).contains(QStringLiteral("oddFooter")));
    }
    EXPECT_EQ(ui.messages, QStringList{kHeaderFooterDone});
    // Parts the change did not need are untouched.
    EXPECT_EQ(gm::test::zipEntry(xlsx, QStringLiteral("xl/styles.xml")),
        gm::test::zipEntry(fixture(QStringLiteral("sheets_second_active.xlsx")), QStringLiteral("xl/styles.xml")));
}

TEST_F(PageSetupTest, FootersOfAnXlsxTemplateLandOnAnXlsAndHeadersStay)
{
    GM_REQUIRE_CORPUS(source, "xls/poi-45538_classic_Header.xls");
    GM_REQUIRE_CORPUS(footerSource, "xlsx/header01.xlsx");
    // First give the .xls a header from one template, then footers only from another.
    const QString xlsTemplate = gm::test::copyInto(source, dir.filePath(QStringLiteral("t")));
    ASSERT_EQ(copyHeaderFooter({{xls}, xlsTemplate, true, false, false}, ui, settings).failedCount(), 0);

    // An .xlsx template whose active sheet has the footer "&C&P of &N" and the header "&L&P".
    const QString templ = gm::test::copyInto(footerSource, dir.filePath(QStringLiteral("t2")));
    const RunSummary summary = copyHeaderFooter({{xls}, templ, false, true, false}, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    const BiffSummary biff = readBiff(xls);
    ASSERT_EQ(biff.sheets.size(), 2);
    const QString expectedFooter = QString::fromUtf8(gm::test::zipEntry(templ, QStringLiteral("xl/worksheets/sheet1.xml")))
                                       .section(QStringLiteral("<oddFooter>"), 1)
                                       .section(QStringLiteral("</oddFooter>"), 0, 0)
                                       .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    for (const BiffSheet &sheet : biff.sheets) {
        SCOPED_TRACE(sheet.name.toStdString());
        EXPECT_EQ(sheet.header, QStringLiteral("&Ltestdoc&Rtest phrase"));
        EXPECT_EQ(sheet.footer, expectedFooter);
    }
}

TEST_F(PageSetupTest, PrintAreaAndOrientationReachEveryWorksheetHiddenOnesIncluded)
{
    GM_REQUIRE_CORPUS(hiddenSource, "xls/poi-TwoSheetsOneHidden.xls");
    GM_REQUIRE_CORPUS(veryHiddenSource, "xlsx/hide01.xlsx");
    const QString hidden = gm::test::copyInto(hiddenSource, dir.filePath(QStringLiteral("h")));
    const QString hiddenXlsx = gm::test::copyInto(veryHiddenSource, dir.filePath(QStringLiteral("h")));
    PrintSetupInputs inputs;
    inputs.entries = {xls, xlsx, hidden, hiddenXlsx, dir.filePath(QStringLiteral("missing.xls"))};
    inputs.setArea = true;
    inputs.topLeft = QStringLiteral("E100"); // corners in either order
    inputs.bottomRight = QStringLiteral("a1");
    inputs.setOrientation = true;
    inputs.landscape = true;
    const RunSummary summary = setPrintSetup(inputs, ui, settings);
    for (const FileResult &f : summary.files)
        EXPECT_NE(f.outcome, FileOutcome::Failed) << f.path.toStdString() << " " << f.errorDescription.toStdString();
    EXPECT_FALSE(QFileInfo::exists(settings.logFile)); // the missing file is skipped silently

    for (const QString &book : {xls, hidden}) {
        for (const BiffSheet &sheet : readBiff(book).sheets) {
            SCOPED_TRACE((book + QLatin1Char(' ') + sheet.name).toStdString());
            EXPECT_EQ(sheet.printArea, QStringLiteral("$A$1:$E$100"));
            EXPECT_EQ(sheet.orientation, 2);
        }
    }
    for (const QString &book : {xlsx, hiddenXlsx}) {
        const QString workbook = QString::fromUtf8(gm::test::zipEntry(book, QStringLiteral("xl/workbook.xml")));
        const int sheets = static_cast<int>(workbook.count(QStringLiteral("<sheet ")));
        for (int n = 1; n <= sheets; ++n) {
            SCOPED_TRACE((book + QString::number(n)).toStdString());
            EXPECT_TRUE(workbook.contains(QStringLiteral("localSheetId=\"%1\">").arg(n - 1)));
            EXPECT_TRUE(sheetXml(book, n).contains(QStringLiteral("orientation=\"landscape\"")));
        }
        EXPECT_EQ(workbook.count(QStringLiteral("!$A$1:$E$100</definedName>")), sheets);
    }
}

TEST_F(PageSetupTest, InvalidCellsStopBeforeAnyWork)
{
    PrintSetupInputs inputs;
    inputs.entries = {xls};
    inputs.setArea = true;
    const QList<std::tuple<QString, QString, QString>> cases = {
        {QStringLiteral("A0"), QStringLiteral("E100"), QStringLiteral("txtPrintF")},
        {QStringLiteral("A1"), QStringLiteral("ABC1"), QStringLiteral("txtPrint2")},
        {QStringLiteral("A1"), QString(), QStringLiteral("txtPrint2")},
    };
    for (const auto &[from, to, control] : cases) {
        inputs.topLeft = from;
        inputs.bottomRight = to;
        Validation failed;
        EXPECT_TRUE(setPrintSetup(inputs, ui, settings, {}, &failed).stopped);
        EXPECT_EQ(failed->control, control);
    }
    // Orientation alone does not look at the cells.
    inputs.setArea = false;
    EXPECT_FALSE(validatePrintSetup(inputs).has_value());
    EXPECT_EQ(readAll(xls), readAll(fixture(QStringLiteral("sheets_second_active.xls"))));
}

TEST_F(PageSetupTest, AnXlsChangedInPlaceKeepsTextAndBooleanFormulaResults)
{
    GM_REQUIRE_CORPUS(source, "xls/xlrd-formula_test_sjmachin.xls");
    const QString book = gm::test::copyInto(source, dir.filePath(QStringLiteral("f")));
    const BiffSummary before = readBiff(book);
    ASSERT_GT(before.stringFormulaResults + before.booleanFormulaResults, 0);
    PrintSetupInputs inputs;
    inputs.entries = {book};
    inputs.setOrientation = true;
    inputs.landscape = true;
    const RunSummary summary = setPrintSetup(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    const BiffSummary after = readBiff(book);
    EXPECT_EQ(after.stringFormulaResults, before.stringFormulaResults);
    EXPECT_EQ(after.booleanFormulaResults, before.booleanFormulaResults);
    EXPECT_EQ(after.sheets.value(0).orientation, 2);
}

TEST_F(PageSetupTest, AnXlsWithAVbaProjectAndAChartSheetKeepsEveryOtherStream)
{
    // An engine save would drop this workbook's VBA project (a chart sheet and Cyrillic module
    // names); changed in place, only its workbook stream differs.
    GM_REQUIRE_CORPUS(source, "xls/calamine-any_sheets.xls");
    const QString book = gm::test::copyInto(source, dir.filePath(QStringLiteral("f")));
    PrintSetupInputs inputs;
    inputs.entries = {book};
    inputs.setOrientation = true;
    inputs.landscape = true;
    const RunSummary summary = setPrintSetup(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_NE(readAll(book), readAll(source));
    ole::CompoundEntry before = ole::CompoundFile::readFile(source);
    const ole::CompoundEntry after = ole::CompoundFile::readFile(book);
    before.child("Workbook")->data = after.child("Workbook")->data;
    EXPECT_EQ(ole::CompoundFile::difference(before, after), QString());
    EXPECT_TRUE(readBiff(book).hasVbaProject);
    EXPECT_EQ(readBiff(book).sheets.value(0).orientation, 2);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("f"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(PageSetupTest, PropertiesLandInTheXlsxPartsExcelUses)
{
    PropertiesInputs inputs;
    inputs.entries = {xlsx, QStringLiteral("  "), dir.filePath(QStringLiteral("missing.xlsx"))};
    inputs.checked = propertyChecks(propertyMask({true, false, true, true, false, false, true, true, true}));
    inputs.values = {QStringLiteral("标题 & <1>"), QStringLiteral("unused"), QString(), QStringLiteral("类别"), QString(),
        QString(), QStringLiteral("经理"), QStringLiteral("单位"), QStringLiteral("http://base/")};
    const RunSummary summary = setProperties(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 2u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Failed); // missing files are logged here
    EXPECT_EQ(ui.messages.first(), kPropertiesDone);

    const QString core = QString::fromUtf8(gm::test::zipEntry(xlsx, QStringLiteral("docProps/core.xml")));
    const QString app = QString::fromUtf8(gm::test::zipEntry(xlsx, QStringLiteral("docProps/app.xml")));
    EXPECT_TRUE(core.contains(QStringLiteral("<dc:title>标题 &amp; &lt;1&gt;</dc:title>")));
    EXPECT_TRUE(core.contains(QStringLiteral("<cp:category>类别</cp:category>")));
    EXPECT_FALSE(core.contains(QStringLiteral("unused")));
    EXPECT_FALSE(core.contains(QRegularExpression(QStringLiteral("<dc:creator>[^<]")))) << core.toStdString();
    EXPECT_TRUE(app.contains(QStringLiteral("<Manager>经理</Manager>")));
    EXPECT_TRUE(app.contains(QStringLiteral("<Company>单位</Company>")));
    EXPECT_TRUE(app.contains(QStringLiteral("<HyperlinkBase>http://base/</HyperlinkBase>")));
    EXPECT_EQ(propertyMask(propertyChecks(261)), 261);
}

TEST_F(PageSetupTest, AllNinePropertiesOfAnXlsAreWrittenWithoutTheEngine)
{
    PropertiesInputs inputs;
    inputs.entries = {xls};
    inputs.checked.fill(true);
    inputs.values = {QStringLiteral("标题"), QStringLiteral("主题"), QStringLiteral("作者"), QStringLiteral("类别"),
        QStringLiteral("k1, k2"), QStringLiteral("备注"), QStringLiteral("经理"), QStringLiteral("单位"),
        QStringLiteral("http://base/")};
    int engines = 0;
    const RunSummary summary = setProperties(inputs, ui, settings, [&]() -> std::unique_ptr<Application> {
        ++engines;
        throw EngineError(ErrorCode::EngineUnavailable);
    });
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(engines, 0);

    // The engine reads the summary fields back from the file.
    lo::LoApplication app(libreOfficeProgramDir());
    auto book = app.open(xls, true);
    EXPECT_EQ(book->builtinProperty(DocumentProperty::Title), QStringLiteral("标题"));
    EXPECT_EQ(book->builtinProperty(DocumentProperty::Author), QStringLiteral("作者"));
    EXPECT_EQ(book->builtinProperty(DocumentProperty::Keywords), QStringLiteral("k1, k2"));
    EXPECT_EQ(book->worksheetCount(), 2);
    book.reset();
    auto streams = ole::openXlsProperties(xls);
    for (int i = 0; i < kPropertyCount; ++i)
        EXPECT_EQ(streams->builtinProperty(propertyOfPair(i)), inputs.values[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(readBiff(xls).sheets.size(), 2);
}

TEST_F(PageSetupTest, InPlaceOperationsOnExcelMadeXlsxTouchOnlyTheParts)
{
    // Excel-made workbooks carrying a theme, frozen panes, workbook protection, a very hidden
    // sheet, a chart sheet, a table and comments: the features an engine save would lose.
    const char *names[]
        = {"xlsx/theme01.xlsx", "xlsx/panes01.xlsx", "xlsx/poi-workbookProtection_workbook_structure_protected.xlsx",
            "xlsx/hide01.xlsx", "xlsx/chartsheet01.xlsx", "xlsx/table01.xlsx", "xlsx/comment01.xlsx"};
    QStringList books;
    for (const char *name : names) {
        const QString source = gm::test::corpusFile(QString::fromLatin1(name));
        if (source.isEmpty()) {
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        }
        books << gm::test::copyInto(source, dir.filePath(QStringLiteral("rich")));
    }
    QMap<QString, QMap<QString, QByteArray>> before;
    for (const QString &book : books)
        for (const QString &entry : gm::test::zipEntryNames(book))
            before[book][entry] = gm::test::zipEntry(book, entry);

    PropertiesInputs properties;
    properties.entries = books;
    properties.checked = propertyChecks(1 << 7);
    properties.values[7] = QStringLiteral("单位");
    ASSERT_EQ(setProperties(properties, ui, settings).failedCount(), 0);
    PrintSetupInputs print;
    print.entries = books;
    print.setOrientation = true;
    print.landscape = true;
    ASSERT_EQ(setPrintSetup(print, ui, settings).failedCount(), 0);

    for (const QString &book : books) {
        SCOPED_TRACE(book.toStdString());
        const QStringList after = gm::test::zipEntryNames(book);
        EXPECT_EQ(QSet<QString>(after.begin(), after.end()), QSet<QString>(before[book].keyBegin(), before[book].keyEnd()));
        for (const QString &entry : after) {
            // Only the extended properties and the worksheets' page setup may change.
            const bool mayChange = entry == QStringLiteral("docProps/app.xml")
                || entry.startsWith(QStringLiteral("xl/worksheets/sheet"))
                || entry.startsWith(QStringLiteral("xl/chartsheets/sheet"))
                || entry.startsWith(QStringLiteral("xl/printerSettings/"));
            if (!mayChange) {
                EXPECT_EQ(gm::test::zipEntry(book, entry), before[book][entry]) << entry.toStdString();
            }
        }
        EXPECT_TRUE(gm::test::zipEntry(book, QStringLiteral("docProps/app.xml")).contains("<Company>单位</Company>"));
    }
}

TEST_F(PageSetupTest, AnXlsChangedInPlaceKeepsItsDocumentProperties)
{
    PropertiesInputs properties;
    properties.entries = {xls};
    properties.checked = propertyChecks(propertyMask({true, false, false, true, false, false, true, true, false}));
    properties.values
        = {QStringLiteral("标题"), {}, {}, QStringLiteral("类别"), {}, {}, QStringLiteral("经理"), QStringLiteral("单位"), {}};
    ASSERT_EQ(setProperties(properties, ui, settings).failedCount(), 0);

    PrintSetupInputs print;
    print.entries = {xls};
    print.setOrientation = true;
    print.landscape = true;
    const RunSummary summary = setPrintSetup(print, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_EQ(readBiff(xls).sheets.value(0).orientation, 2);
    auto streams = ole::openXlsProperties(xls);
    for (int i : {0, 3, 6, 7})
        EXPECT_EQ(streams->builtinProperty(propertyOfPair(i)), properties.values[static_cast<size_t>(i)]) << i;
}
