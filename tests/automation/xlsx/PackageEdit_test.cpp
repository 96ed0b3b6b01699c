// Edits through the package editor on copies of Excel-made workbooks, each checked
// independently: every entry not touched is stored exactly as before, touched XML differs
// only where the change is, and values sit in the right elements.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace gm::xlsx {
namespace {

using test::childNames;
using test::expectEdit;
using test::expectUntouchedExcept;
using test::parseXml;
using test::readRaw;

class PackageEdit : public ::testing::Test
{
protected:
    // A copy of a corpus workbook in a temporary folder; "" when the corpus is missing.
    QString copyOf(const char *name)
    {
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(name));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path());
    }
    QTemporaryDir m_dir;
};

#define COPY_OR_SKIP(var, name)                                                                                        \
    const QString var = copyOf(name);                                                                                  \
    if (var.isEmpty())                                                                                                 \
    GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"

QByteArray entry(const QString &path, const char *name)
{
    return gm::test::zipEntry(path, QString::fromUtf8(name));
}

struct SheetExpectation
{
    const char16_t *name;
    bool chart;
    SheetVisibility visibility;
};

TEST_F(PackageEdit, SheetModelFollowsTabOrderKindsAndStates)
{
    constexpr auto V = SheetVisibility::Visible;
    struct Case
    {
        const char *file;
        std::vector<SheetExpectation> sheets;
        const char16_t *active;
    };
    const Case cases[] = {
        {"chartsheet02.xlsx", {{u"Sheet1", false, V}, {u"Chart1", true, V}, {u"Sheet2", false, V}}, u"Chart1"},
        {"poi-WithChartSheet.xlsx",
         {{u"Sheet1", false, V}, {u"Sheet6", false, V}, {u"Sheet5", false, V}, {u"Sheet4", false, V},
          {u"Sheet3", false, V}, {u"Sheet2", false, V}, {u"Chart2", true, V}},
         u"Sheet1"},
        {"hide01.xlsx", {{u"Sheet1", false, V}, {u"Sheet2", false, SheetVisibility::Hidden}, {u"Sheet3", false, V}}, u"Sheet1"},
        {"hide02.xlsx", {{u"Sheet1", false, V}, {u"Sheet2", false, SheetVisibility::VeryHidden}, {u"Sheet3", false, V}}, u"Sheet1"},
        {"poi-TwoSheetsOneHidden.xlsx", {{u"Sheet1", false, SheetVisibility::Hidden}, {u"Sheet2", false, V}}, u"Sheet2"},
        {"quote_name01.xlsx",
         {{u"Sheet 1", false, V}, {u"Sheet 2", false, V}, {u"Sheet!3", false, V}, {u"Sheet\"4", false, V},
          {u"Sheet#5", false, V}, {u"Sheet$6", false, V}, {u"Sheet%7", false, V}, {u"Sheet&8", false, V}},
         u"Sheet 1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        COPY_OR_SKIP(path, c.file);
        PackageWorkbook workbook(path);
        ASSERT_EQ(workbook.sheetCount(), int(c.sheets.size()));
        QStringList worksheetNames;
        for (int i = 0; i < int(c.sheets.size()); ++i) {
            const SheetExpectation &expected = c.sheets[size_t(i)];
            const auto sheet = workbook.sheet(i + 1);
            EXPECT_EQ(sheet->name(), QString::fromUtf16(expected.name));
            EXPECT_EQ(sheet->isChart(), expected.chart);
            EXPECT_EQ(sheet->visibility(), expected.visibility);
            EXPECT_EQ(sheet->sheetIndex(), i + 1);
            if (!expected.chart)
                worksheetNames << sheet->name();
        }
        ASSERT_EQ(workbook.worksheetCount(), worksheetNames.size());
        for (int i = 0; i < worksheetNames.size(); ++i)
            EXPECT_EQ(workbook.worksheet(i + 1)->name(), worksheetNames[i]);
        EXPECT_EQ(workbook.activeSheet()->name(), QString::fromUtf16(c.active));
    }
}

TEST_F(PackageEdit, LookupsByNameIgnoreCaseAndKeepChartSheetsOutOfWorksheets)
{
    COPY_OR_SKIP(path, "chartsheet02.xlsx");
    PackageWorkbook workbook(path);
    EXPECT_TRUE(workbook.sheet(QStringLiteral("CHART1"))->isChart());
    EXPECT_EQ(workbook.worksheet(QStringLiteral("sheet2"))->sheetIndex(), 3);
    for (auto lookup : {+[](Workbook &w) { w.worksheet(QStringLiteral("Chart1")); },
                        +[](Workbook &w) { w.worksheet(3); }, +[](Workbook &w) { w.sheet(0); },
                        +[](Workbook &w) { w.sheet(QStringLiteral("Missing")); }}) {
        try {
            lookup(workbook);
            ADD_FAILURE() << "lookup should fail";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::SheetNotFound);
        }
    }
}

TEST_F(PackageEdit, AllNinePropertiesLandInTheirElements)
{
    COPY_OR_SKIP(path, "properties01.xlsx");
    const test::RawPackage before = readRaw(path);
    const std::vector<std::pair<DocumentProperty, QString>> values{
        {DocumentProperty::Title, QStringLiteral("标题 & <title>")},
        {DocumentProperty::Subject, QStringLiteral("Subject")},
        {DocumentProperty::Author, QStringLiteral("Ann O'Hara")},
        {DocumentProperty::Manager, QStringLiteral("Manager\"M\"")},
        {DocumentProperty::Company, QStringLiteral("Company")},
        {DocumentProperty::Category, QStringLiteral("Category")},
        {DocumentProperty::Keywords, QStringLiteral("a, b")},
        {DocumentProperty::Comments, QStringLiteral("line 1\r\nline 2\u0001")},
        {DocumentProperty::HyperlinkBase, QStringLiteral("http://example.com/base/")},
    };
    {
        PackageWorkbook workbook(path);
        EXPECT_EQ(workbook.builtinProperty(DocumentProperty::Title), QStringLiteral("This is an example spreadsheet"));
        EXPECT_EQ(workbook.builtinProperty(DocumentProperty::Manager), QStringLiteral("Dr. Heinz Doofenshmirtz"));
        EXPECT_EQ(workbook.builtinProperty(DocumentProperty::HyperlinkBase), QString());
        for (const auto &[property, value] : values)
            workbook.setBuiltinProperty(property, value);
        workbook.close(true);
    }
    expectUntouchedExcept(before, path, {QStringLiteral("docProps/core.xml"), QStringLiteral("docProps/app.xml")});

    const auto core = parseXml(entry(path, "docProps/core.xml"));
    const pugi::xml_node coreRoot = core->document_element();
    EXPECT_STREQ(coreRoot.child("dc:title").text().get(), "标题 & <title>");
    EXPECT_STREQ(coreRoot.child("dc:creator").text().get(), "Ann O'Hara");
    EXPECT_STREQ(coreRoot.child("cp:keywords").text().get(), "a, b");
    EXPECT_STREQ(coreRoot.child("dc:description").text().get(), "line 1_x000D_\nline 2_x0001_");
    EXPECT_STREQ(coreRoot.child("cp:category").text().get(), "Category");
    EXPECT_EQ(childNames(coreRoot).join(u' '),
              QStringLiteral("dc:title dc:subject dc:creator cp:keywords dc:description cp:lastModifiedBy "
                             "dcterms:created dcterms:modified cp:category cp:contentStatus"));

    const auto app = parseXml(entry(path, "docProps/app.xml"));
    const pugi::xml_node appRoot = app->document_element();
    EXPECT_STREQ(appRoot.child("Manager").text().get(), "Manager\"M\"");
    EXPECT_STREQ(appRoot.child("Company").text().get(), "Company");
    EXPECT_STREQ(appRoot.child("HyperlinkBase").text().get(), "http://example.com/base/");
    EXPECT_EQ(childNames(appRoot).join(u' '),
              QStringLiteral("Application DocSecurity ScaleCrop HeadingPairs TitlesOfParts Manager Company "
                             "LinksUpToDate SharedDoc HyperlinkBase HyperlinksChanged AppVersion"));

    PackageWorkbook reopened(path);
    for (const auto &[property, value] : values) {
        SCOPED_TRACE(int(property));
        EXPECT_EQ(reopened.builtinProperty(property), value);
    }
}

TEST_F(PackageEdit, PropertyChangesTouchOnlyTheirElement)
{
    COPY_OR_SKIP(path, "simple01.xlsx");
    const QByteArray core = entry(path, "docProps/core.xml");
    const QByteArray app = entry(path, "docProps/app.xml");
    {
        PackageWorkbook workbook(path);
        workbook.setBuiltinProperty(DocumentProperty::Author, QString());
        workbook.setBuiltinProperty(DocumentProperty::Manager, QStringLiteral("M"));
        workbook.setBuiltinProperty(DocumentProperty::Company, QString()); // already empty: no change
        workbook.save();
    }
    expectEdit(core, entry(path, "docProps/core.xml"), "<dc:creator>John</dc:creator>", "<dc:creator></dc:creator>");
    expectEdit(app, entry(path, "docProps/app.xml"), "<Company></Company>", "<Manager>M</Manager><Company></Company>");
}

TEST_F(PackageEdit, MissingPropertyPartsAreCreatedWithRelationshipAndContentType)
{
    COPY_OR_SKIP(path, "simple01.xlsx");
    // Remove docProps and every mention of it, as some writers leave packages.
    QByteArray typesXml = entry(path, "[Content_Types].xml");
    for (const char *part : {"/docProps/core.xml", "/docProps/app.xml"}) {
        const qsizetype at = typesXml.indexOf(QByteArray("<Override PartName=\"") + part);
        ASSERT_GE(at, 0);
        typesXml.remove(at, typesXml.indexOf("/>", at) + 2 - at);
    }
    QByteArray relsXml = entry(path, "_rels/.rels");
    relsXml = relsXml.left(relsXml.indexOf("<Relationship "))
        + "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    test::rewriteEntries(path, {{QStringLiteral("[Content_Types].xml"), typesXml}, {QStringLiteral("_rels/.rels"), relsXml}},
                         {QStringLiteral("docProps/core.xml"), QStringLiteral("docProps/app.xml")});
    const test::RawPackage before = readRaw(path);
    {
        PackageWorkbook workbook(path);
        EXPECT_EQ(workbook.builtinProperty(DocumentProperty::Title), QString());
        workbook.setBuiltinProperty(DocumentProperty::Title, QStringLiteral("T"));
        workbook.setBuiltinProperty(DocumentProperty::Company, QStringLiteral("C"));
        workbook.save();
    }
    expectUntouchedExcept(before, path, {QStringLiteral("[Content_Types].xml"), QStringLiteral("_rels/.rels")},
                          {QStringLiteral("docProps/core.xml"), QStringLiteral("docProps/app.xml")});

    const auto rels = parseXml(entry(path, "_rels/.rels"));
    QMap<QString, QString> targetByType;
    for (pugi::xml_node r : rels->document_element().children("Relationship"))
        targetByType.insert(QString::fromUtf8(r.attribute("Type").value()), QString::fromUtf8(r.attribute("Target").value()));
    EXPECT_EQ(targetByType.value(QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties")),
              QStringLiteral("docProps/core.xml"));
    EXPECT_EQ(targetByType.value(QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties")),
              QStringLiteral("docProps/app.xml"));
    const auto types = parseXml(entry(path, "[Content_Types].xml"));
    EXPECT_STREQ(types->document_element().find_child_by_attribute("Override", "PartName", "/docProps/core.xml").attribute("ContentType").value(),
                 "application/vnd.openxmlformats-package.core-properties+xml");
    EXPECT_STREQ(types->document_element().find_child_by_attribute("Override", "PartName", "/docProps/app.xml").attribute("ContentType").value(),
                 "application/vnd.openxmlformats-officedocument.extended-properties+xml");
    EXPECT_STREQ(parseXml(entry(path, "docProps/core.xml"))->document_element().child("dc:title").text().get(), "T");
    EXPECT_STREQ(parseXml(entry(path, "docProps/app.xml"))->document_element().child("Company").text().get(), "C");
}

TEST_F(PackageEdit, AbsoluteAndEncodedRelationshipTargetsResolve)
{
    COPY_OR_SKIP(path, "chartsheet02.xlsx");
    QByteArray rels = entry(path, "xl/_rels/workbook.xml.rels");
    rels.replace("Target=\"worksheets/sheet2.xml\"", "Target=\"/xl/worksheets/sheet2.xml\"");
    rels.replace("Target=\"chartsheets/sheet1.xml\"", "Target=\"/xl/./chartsheets/../chartsheets/sheet%31.xml\"");
    test::rewriteEntries(path, {{QStringLiteral("xl/_rels/workbook.xml.rels"), rels}});
    const test::RawPackage before = readRaw(path);
    {
        PackageWorkbook workbook(path);
        ASSERT_EQ(workbook.worksheetCount(), 2);
        EXPECT_TRUE(workbook.sheet(2)->isChart());
        workbook.sheet(2)->setOrientation(Orientation::Landscape);
        workbook.sheet(3)->setOrientation(Orientation::Landscape);
        workbook.save();
    }
    expectUntouchedExcept(before, path, {QStringLiteral("xl/chartsheets/sheet1.xml"), QStringLiteral("xl/worksheets/sheet2.xml")});
}

TEST_F(PackageEdit, HeaderAndFooterSectionsChangeOnlyTheirCodeString)
{
    struct Case
    {
        const char *file;
        const char *part;
        int sheet; // position among all sheets
        HeaderFooterSection section;
        const char16_t *code;
        const char *from;
        const char *to;
    };
    const Case cases[] = {
        // A section added to an existing header.
        {"header01.xlsx", "xl/worksheets/sheet1.xml", 1, HeaderFooterSection::CenterHeader, u"&D &T",
         "<oddHeader>&amp;L&amp;P</oddHeader>", "<oddHeader>&amp;L&amp;P&amp;C&amp;D &amp;T</oddHeader>"},
        // The last section cleared: the header goes, its container and switches stay.
        {"header01.xlsx", "xl/worksheets/sheet1.xml", 1, HeaderFooterSection::LeftHeader, u"",
         "<headerFooter scaleWithDoc=\"0\"><oddHeader>&amp;L&amp;P</oddHeader></headerFooter>",
         "<headerFooter scaleWithDoc=\"0\"/>"},
        // A footer in an empty container of a hidden workbook's second sheet.
        {"poi-TwoSheetsOneHidden.xlsx", "xl/worksheets/sheet2.xml", 2, HeaderFooterSection::LeftFooter, u"&F",
         "<headerFooter alignWithMargins=\"0\"/>",
         "<headerFooter alignWithMargins=\"0\"><oddFooter>&amp;L&amp;F</oddFooter></headerFooter>"},
        // A chart sheet without headerFooter: inserted before drawing.
        {"chartsheet02.xlsx", "xl/chartsheets/sheet1.xml", 2, HeaderFooterSection::RightHeader, u"x",
         "<drawing r:id=\"rId1\"/>", "<headerFooter><oddHeader>&amp;Rx</oddHeader></headerFooter><drawing r:id=\"rId1\"/>"},
        // A worksheet without headerFooter: inserted after pageSetup.
        {"landscape01.xlsx", "xl/worksheets/sheet1.xml", 1, HeaderFooterSection::CenterFooter, u"Page &P of &N",
         "</worksheet>", "<headerFooter><oddFooter>&amp;CPage &amp;P of &amp;N</oddFooter></headerFooter></worksheet>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.to);
        COPY_OR_SKIP(path, c.file);
        const test::RawPackage before = readRaw(path);
        const QByteArray original = entry(path, c.part);
        {
            PackageWorkbook workbook(path);
            workbook.sheet(c.sheet)->setHeaderFooter(c.section, QString::fromUtf16(c.code));
            workbook.save();
        }
        expectUntouchedExcept(before, path, {QString::fromUtf8(c.part)});
        expectEdit(original, entry(path, c.part), c.from, c.to);
        PackageWorkbook reopened(path);
        EXPECT_EQ(reopened.sheet(c.sheet)->headerFooter(c.section), QString::fromUtf16(c.code));
    }
}

TEST_F(PackageEdit, HeaderSectionsReadAsExcelWroteThem)
{
    COPY_OR_SKIP(ampersand, "poi-AmpersandHeader.xlsx");
    COPY_OR_SKIP(complex, "poi-HeaderFooterComplexFormats.xlsx");
    PackageWorkbook first(ampersand);
    const auto sheet = first.worksheet(1);
    EXPECT_EQ(sheet->headerFooter(HeaderFooterSection::CenterHeader), QStringLiteral("one && two &&&&"));
    EXPECT_EQ(sheet->headerFooter(HeaderFooterSection::LeftHeader), QString());
    PackageWorkbook second(complex);
    EXPECT_EQ(second.worksheet(1)->headerFooter(HeaderFooterSection::CenterHeader),
              QStringLiteral("Header &\"-,Bold\"Bold&\"-,Regular\" &U&KFF0000RedUnderlined&U&K01+000 "
                             "&\"-,Bold Italic\"Bolditalics"));
}

TEST_F(PackageEdit, PrintAreaReplacesOrAddsTheSheetScopedName)
{
    COPY_OR_SKIP(existing, "print_area01.xlsx");
    COPY_OR_SKIP(charts, "chartsheet02.xlsx");
    const test::RawPackage before = readRaw(existing);
    const QByteArray workbookXml = entry(existing, "xl/workbook.xml");
    {
        PackageWorkbook workbook(existing);
        EXPECT_EQ(workbook.worksheet(1)->printArea(), QStringLiteral("$A$1"));
        workbook.worksheet(1)->setPrintArea(QStringLiteral("E100:a1"));
        workbook.save();
        EXPECT_EQ(workbook.worksheet(1)->printArea(), QStringLiteral("$A$1:$E$100"));
    }
    expectUntouchedExcept(before, existing, {QStringLiteral("xl/workbook.xml")});
    expectEdit(workbookXml, entry(existing, "xl/workbook.xml"), ">Sheet1!$A$1<", ">Sheet1!$A$1:$E$100<");

    // localSheetId counts the chart sheet before Sheet2; definedNames goes before calcPr.
    const QByteArray chartsXml = entry(charts, "xl/workbook.xml");
    {
        PackageWorkbook workbook(charts);
        workbook.worksheet(2)->setPrintArea(QStringLiteral("A1:B2"));
        try {
            workbook.sheet(2)->setPrintArea(QStringLiteral("A1:B2"));
            ADD_FAILURE() << "a chart sheet has no print area";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::NotSupported);
        }
        workbook.save();
    }
    expectEdit(chartsXml, entry(charts, "xl/workbook.xml"), "<calcPr",
               "<definedNames><definedName name=\"_xlnm.Print_Area\" localSheetId=\"2\">Sheet2!$A$1:$B$2"
               "</definedName></definedNames><calcPr");
}

TEST_F(PackageEdit, PrintAreaQuotesSheetNamesAndClearingRestoresTheWorkbook)
{
    COPY_OR_SKIP(path, "quote_name01.xlsx");
    const QByteArray original = entry(path, "xl/workbook.xml");
    {
        PackageWorkbook workbook(path);
        for (int i = 1; i <= workbook.worksheetCount(); ++i)
            workbook.worksheet(i)->setPrintArea(QStringLiteral("C3:A1"));
        workbook.save();
    }
    const auto document = parseXml(entry(path, "xl/workbook.xml"));
    QMap<int, QString> formulas;
    for (pugi::xml_node name : document->document_element().child("definedNames").children("definedName")) {
        EXPECT_STREQ(name.attribute("name").value(), "_xlnm.Print_Area");
        formulas.insert(name.attribute("localSheetId").as_int(), QString::fromUtf8(name.text().get()));
    }
    const QStringList expected{QStringLiteral("'Sheet 1'!$A$1:$C$3"), QStringLiteral("'Sheet 2'!$A$1:$C$3"), QStringLiteral("'Sheet!3'!$A$1:$C$3"),
                               QStringLiteral("'Sheet\"4'!$A$1:$C$3"), QStringLiteral("'Sheet#5'!$A$1:$C$3"), QStringLiteral("'Sheet$6'!$A$1:$C$3"),
                               QStringLiteral("'Sheet%7'!$A$1:$C$3"), QStringLiteral("'Sheet&8'!$A$1:$C$3")};
    EXPECT_EQ(formulas.values(), expected);

    PackageWorkbook workbook(path);
    for (int i = 1; i <= workbook.worksheetCount(); ++i) {
        EXPECT_EQ(workbook.worksheet(i)->printArea(), QStringLiteral("$A$1:$C$3"));
        workbook.worksheet(i)->setPrintArea(QString());
    }
    workbook.save();
    EXPECT_EQ(entry(path, "xl/workbook.xml"), original);
}

TEST_F(PackageEdit, InvalidPrintAreaChangesNothing)
{
    COPY_OR_SKIP(path, "print_area01.xlsx");
    const QByteArray original = gm::test::readAll(path);
    PackageWorkbook workbook(path);
    for (const char16_t *bad : {u"A0:B2", u"A1:", u"XFE1", u"A1:B2:C3", u"Sheet1!A1", u"1A"}) {
        SCOPED_TRACE(QString::fromUtf16(bad).toStdString());
        try {
            workbook.worksheet(1)->setPrintArea(QString::fromUtf16(bad));
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::InvalidArgument);
        }
    }
    workbook.close(true);
    EXPECT_EQ(gm::test::readAll(path), original);
}

TEST_F(PackageEdit, OrientationChangesTheAttributeAndThePrinterSettings)
{
    COPY_OR_SKIP(path, "print_area01.xlsx");
    const test::RawPackage before = readRaw(path);
    const QByteArray sheet = entry(path, "xl/worksheets/sheet1.xml");
    QByteArray devmode = entry(path, "xl/printerSettings/printerSettings1.bin");
    {
        PackageWorkbook workbook(path);
        EXPECT_EQ(workbook.worksheet(1)->orientation(), Orientation::Portrait);
        workbook.worksheet(1)->setOrientation(Orientation::Landscape);
        workbook.save();
    }
    expectUntouchedExcept(before, path,
                          {QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/printerSettings/printerSettings1.bin")});
    expectEdit(sheet, entry(path, "xl/worksheets/sheet1.xml"), "orientation=\"portrait\"", "orientation=\"landscape\"");
    ASSERT_EQ(devmode[76], char(1));
    devmode[76] = char(2);
    EXPECT_EQ(entry(path, "xl/printerSettings/printerSettings1.bin"), devmode);
    EXPECT_EQ(PackageWorkbook(path).worksheet(1)->orientation(), Orientation::Landscape);
}

TEST_F(PackageEdit, MissingPageSetupIsInsertedBeforeHeaderFooter)
{
    COPY_OR_SKIP(path, "poi-TwoSheetsOneHidden.xlsx");
    const QByteArray sheet = entry(path, "xl/worksheets/sheet2.xml");
    {
        PackageWorkbook workbook(path);
        workbook.worksheet(2)->setOrientation(Orientation::Landscape);
        workbook.save();
    }
    expectEdit(sheet, entry(path, "xl/worksheets/sheet2.xml"), "<headerFooter",
               "<pageSetup orientation=\"landscape\"/><headerFooter");
}

TEST_F(PackageEdit, ValuesSetAgainLeaveTheFileAlone)
{
    COPY_OR_SKIP(path, "header01.xlsx");
    const QByteArray original = gm::test::readAll(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    {
        PackageWorkbook workbook(path);
        const auto sheet = workbook.worksheet(1);
        sheet->setHeaderFooter(HeaderFooterSection::LeftHeader, QStringLiteral("&P"));
        sheet->setHeaderFooter(HeaderFooterSection::RightFooter, QString());
        sheet->setOrientation(Orientation::Portrait);
        workbook.setBuiltinProperty(DocumentProperty::Author, workbook.builtinProperty(DocumentProperty::Author));
        workbook.close(true);
    }
    EXPECT_EQ(gm::test::readAll(path), original);
    EXPECT_EQ(QFileInfo(path).lastModified(), modified);
}

} // namespace
} // namespace gm::xlsx

namespace gm::xlsx {
namespace {

// Texts read for a caller seeking one character agree with the full texts wherever a cell
// holds it; elsewhere they may differ, but never in being empty or only line breaks, and
// never by holding the character. Over every worksheet of the corpus, for characters found
// in numbers, in texts, and in neither.
TEST(PackageCellTexts, SeekingACharacterKeepsEveryCellThatHoldsIt)
{
    GM_REQUIRE_CORPUS(folder, "xlsx");
    auto onlyLineBreaks = [](const QString &text) {
        return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'\n' || c == u'\r'; });
    };
    int standIns = 0;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xlsx")})) {
        SCOPED_TRACE(file.toStdString());
        PackageWorkbook book(folder + u'/' + file);
        for (int position = 1; position <= book.worksheetCount(); ++position) {
            std::unique_ptr<Worksheet> sheet = book.worksheet(position);
            std::optional<CellBounds> used;
            try {
                used = sheet->usedRange();
            } catch (const EngineError &) {
                continue; // a chart sheet
            }
            if (!used)
                continue;
            const std::vector<QString> full = sheet->displayedTexts(*used);
            for (char16_t sought : {u'1', u'#', u'a', char16_t(0x6587)}) {
                const std::vector<QString> seeking = sheet->displayedTextsSeeking(*used, sought);
                ASSERT_EQ(seeking.size(), full.size());
                for (size_t i = 0; i < full.size(); ++i) {
                    if (full[i].contains(sought) || seeking[i] == full[i]) {
                        EXPECT_EQ(seeking[i], full[i]);
                        continue;
                    }
                    ++standIns;
                    EXPECT_FALSE(seeking[i].contains(sought));
                    EXPECT_FALSE(full[i].isEmpty() || onlyLineBreaks(full[i]));
                    EXPECT_FALSE(seeking[i].isEmpty() || onlyLineBreaks(seeking[i]));
                }
            }
        }
    }
    EXPECT_GT(standIns, 100);
}

} // namespace
} // namespace gm::xlsx
