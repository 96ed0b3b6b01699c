// Hide, unhide, rename and delete sheets through the package editor, on the reference fixture
// and on copies of Excel-made workbooks. Results are read back from the saved zip with
// libzip and pugixml only; every package must stay consistent (views on visible sheets,
// names scoped to existing sheets, relationships and content types naming existing parts).

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageWorkbook.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm::xlsx {
namespace {

using test::parseXml;
using test::readRaw;

QByteArray entry(const QString &path, const QString &name)
{
    return gm::test::zipEntry(path, name);
}

QString text(const QString &path, const QString &name)
{
    return QString::fromUtf8(entry(path, name));
}

struct SheetState
{
    QString name;
    QString state; // "", "hidden", "veryHidden"
    QString part;
};

// The sheets of a saved workbook, read with pugixml.
std::vector<SheetState> sheetsOf(const QString &path)
{
    std::vector<SheetState> result;
    const auto rels = parseXml(entry(path, QStringLiteral("xl/_rels/workbook.xml.rels")));
    QMap<QString, QString> targets;
    for (pugi::xml_node r : rels->document_element().children())
        targets[QString::fromUtf8(r.attribute("Id").value())] = QString::fromUtf8(r.attribute("Target").value());
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    for (pugi::xml_node s : workbook->document_element().child("sheets").children("sheet"))
        result.push_back({QString::fromUtf8(s.attribute("name").value()), QString::fromUtf8(s.attribute("state").value()),
            QStringLiteral("xl/") + targets.value(QString::fromUtf8(s.attribute("r:id").value()))});
    return result;
}

// The invariants every edited package keeps.
void expectConsistent(const QString &path)
{
    SCOPED_TRACE("consistency of " + path.toStdString());
    const QStringList names = gm::test::zipEntryNames(path);
    const QSet<QString> present(names.begin(), names.end());
    for (const QString &name : names) {
        if (!name.endsWith(QLatin1String(".rels")))
            continue;
        const QString folder = name.left(name.indexOf(QLatin1String("_rels/")));
        const QString source = folder + name.mid(name.lastIndexOf(u'/') + 1).chopped(5);
        EXPECT_TRUE(folder.isEmpty() || present.contains(source)) << "relationships of a missing part: " << name.toStdString();
        const auto rels = parseXml(entry(path, name));
        for (pugi::xml_node r : rels->document_element().children()) {
            if (QString::fromUtf8(r.attribute("TargetMode").value()) == QLatin1String("External"))
                continue;
            const QString target = OpcPackage::resolveTarget(folder, QString::fromUtf8(r.attribute("Target").value()));
            EXPECT_TRUE(present.contains(target)) << name.toStdString() << " -> " << target.toStdString();
        }
    }
    const auto types = parseXml(entry(path, QStringLiteral("[Content_Types].xml")));
    for (pugi::xml_node o : types->document_element().children("Override"))
        EXPECT_TRUE(present.contains(QString::fromUtf8(o.attribute("PartName").value()).mid(1)))
            << o.attribute("PartName").value();

    const std::vector<SheetState> sheets = sheetsOf(path);
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    const pugi::xml_node view = workbook->document_element().child("bookViews").child("workbookView");
    const int active = view.attribute("activeTab").as_int(0);
    const int first = view.attribute("firstSheet").as_int(0);
    ASSERT_LT(active, int(sheets.size()));
    EXPECT_EQ(sheets[size_t(active)].state, QString()) << "active sheet not visible";
    EXPECT_LE(first, active);
    EXPECT_EQ(sheets[size_t(first)].state, QString()) << "first tab not visible";
    for (pugi::xml_node name : workbook->document_element().child("definedNames").children("definedName")) {
        if (name.attribute("localSheetId")) {
            EXPECT_LT(name.attribute("localSheetId").as_int(), int(sheets.size()));
        }
    }
    for (const SheetState &sheet : sheets) {
        const QString xml = text(path, sheet.part);
        if (!sheet.state.isEmpty()) {
            EXPECT_FALSE(xml.contains(QLatin1String("tabSelected=\"1\"")))
                << "hidden sheet selected: " << sheet.name.toStdString();
        }
    }
    const bool activeSelected = text(path, sheets[size_t(active)].part).contains(QLatin1String("tabSelected=\"1\""));
    EXPECT_TRUE(activeSelected) << "active sheet not selected";
}

QStringList appTitles(const QString &path)
{
    QStringList titles;
    const auto app = parseXml(entry(path, QStringLiteral("docProps/app.xml")));
    const pugi::xml_node vector = app->document_element().child("TitlesOfParts").child("vt:vector");
    for (pugi::xml_node t : vector.children())
        titles << QString::fromUtf8(t.text().get());
    EXPECT_EQ(vector.attribute("size").as_int(), titles.size());
    return titles;
}

QList<int> appCounts(const QString &path)
{
    QList<int> counts;
    const auto app = parseXml(entry(path, QStringLiteral("docProps/app.xml")));
    for (pugi::xml_node v : app->document_element().child("HeadingPairs").child("vt:vector").children()) {
        if (pugi::xml_node n = v.child("vt:i4"))
            counts << n.text().as_int();
    }
    return counts;
}

class SheetStructureTest : public ::testing::Test
{
protected:
    QString copyOf(const QString &source) { return source.isEmpty() ? QString() : gm::test::copyInto(source, m_dir.path()); }
    QString fixtureCopy() { return copyOf(gm::test::fixture(QStringLiteral("sheet_references.xlsx"))); }
    QString corpusCopy(const char *name)
    {
        return copyOf(gm::test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(name)));
    }

    // Opens, applies, saves.
    void edit(const QString &path, const std::function<void(Workbook &)> &change)
    {
        auto workbook = openPackage(path);
        change(*workbook);
        workbook->close(true);
    }

    QTemporaryDir m_dir;
};

#define CORPUS_OR_SKIP(var, name)                                                                                                \
    const QString var = corpusCopy(name);                                                                                        \
    if (var.isEmpty())                                                                                                           \
    GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)"

TEST_F(SheetStructureTest, HidingTheActiveSheetMovesActiveFirstAndSelectedTabsToAVisibleSheet)
{
    CORPUS_OR_SKIP(path, "hide01.xlsx"); // Sheet1 active, Sheet2 hidden, Sheet3
    const auto before = readRaw(path);
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Sheet1"))->setVisibility(SheetVisibility::Hidden); });
    const std::vector<SheetState> sheets = sheetsOf(path);
    EXPECT_EQ(sheets[0].state, QStringLiteral("hidden"));
    EXPECT_EQ(sheets[1].state, QStringLiteral("hidden"));
    EXPECT_EQ(sheets[2].state, QString());
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    const pugi::xml_node view = workbook->document_element().child("bookViews").child("workbookView");
    EXPECT_EQ(view.attribute("activeTab").as_int(), 2);
    EXPECT_EQ(view.attribute("firstSheet").as_int(), 2);
    expectConsistent(path);
    // Only the workbook and the two sheets whose selection moved changed; app.xml lists
    // hidden sheets, so it stays.
    test::expectUntouchedExcept(before, path,
        {QStringLiteral("xl/workbook.xml"), QStringLiteral("xl/worksheets/sheet1.xml"),
            QStringLiteral("xl/worksheets/sheet3.xml")});
}

TEST_F(SheetStructureTest, VisibilityStatesAreKeptApartAndTitlesFollowVeryHiddenSheets)
{
    const QString path = fixtureCopy();
    const QStringList namedTitles{QStringLiteral("Calc!Print_Area"), QStringLiteral("Data!Print_Area"),
        QStringLiteral("Other!Local"), QStringLiteral("Total")};
    // Hiding a very hidden sheet makes it merely hidden, and listed again in its tab place.
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Secret"))->setVisibility(SheetVisibility::Hidden); });
    EXPECT_EQ(sheetsOf(path)[5].state, QStringLiteral("hidden"));
    EXPECT_EQ(appTitles(path),
        QStringList({QStringLiteral("Data"), QStringLiteral("Other"), QStringLiteral("It's"), QStringLiteral("Calc"),
            QStringLiteral("Hidden"), QStringLiteral("Secret")})
            + namedTitles);
    EXPECT_EQ(appCounts(path), QList<int>({6, 4}));

    edit(path, [](Workbook &book) {
        book.worksheet(QStringLiteral("Secret"))->setVisibility(SheetVisibility::VeryHidden);
        book.worksheet(QStringLiteral("Hidden"))->setVisibility(SheetVisibility::Visible);
        EXPECT_EQ(book.worksheet(QStringLiteral("Hidden"))->visibility(), SheetVisibility::Visible);
        EXPECT_EQ(book.worksheet(QStringLiteral("Secret"))->visibility(), SheetVisibility::VeryHidden);
    });
    EXPECT_EQ(sheetsOf(path)[4].state, QString());
    EXPECT_EQ(sheetsOf(path)[5].state, QStringLiteral("veryHidden"));
    EXPECT_EQ(appCounts(path), QList<int>({5, 4}));
    expectConsistent(path);
}

TEST_F(SheetStructureTest, RefusalsLeaveTheFileByteIdentical)
{
    struct Case
    {
        const char *file;
        std::function<void(Workbook &)> change;
        ErrorCode expected;
    };
    auto rename = [](const char *from, const char16_t *to) {
        return [=](Workbook &book) { book.sheet(QString::fromUtf8(from))->setName(QString::fromUtf16(to)); };
    };
    const Case cases[] = {
        {"poi-TwoSheetsOneHidden.xlsx",
            [](Workbook &book) { book.worksheet(QStringLiteral("Sheet2"))->setVisibility(SheetVisibility::Hidden); },
            ErrorCode::LastVisibleSheet},
        {"poi-TwoSheetsOneHidden.xlsx", [](Workbook &book) { book.worksheet(QStringLiteral("Sheet2"))->deleteSheet(); },
            ErrorCode::LastVisibleSheet},
        {"chartsheet01.xlsx", [](Workbook &book) { book.worksheet(QStringLiteral("Sheet1"))->deleteSheet(); },
            ErrorCode::LastWorksheet},
        {"poi-workbookProtection_workbook_structure_protected.xlsx",
            [](Workbook &book) { book.worksheet(1)->setName(QStringLiteral("Renamed")); }, ErrorCode::WorkbookStructureProtected},
        {"hide01.xlsx", rename("Sheet1", u"sheet2"), ErrorCode::SheetNameTaken}, // a hidden sheet's name
        {"chartsheet01.xlsx", rename("Sheet1", u"CHART1"), ErrorCode::SheetNameTaken}, // a chart sheet's name
        {"hide01.xlsx", rename("Sheet1", u""), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"1234567890123456789012345678901x"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"a/b"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"a[1]"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"what?"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"'quoted"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"ends'"), ErrorCode::SheetNameInvalid},
        {"hide01.xlsx", rename("Sheet1", u"history"), ErrorCode::SheetNameInvalid},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = corpusCopy(c.file);
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found";
        const QByteArray before = gm::test::readAll(path);
        try {
            edit(path, c.change);
            ADD_FAILURE() << "not refused";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.expected) << e.what();
        }
        EXPECT_EQ(gm::test::readAll(path), before);
        QFile::remove(path);
    }
}

TEST_F(SheetStructureTest, AnUnreadablePartStopsARenameBeforeAnythingChanged)
{
    const QString path = fixtureCopy();
    test::rewriteEntries(path, {{QStringLiteral("xl/worksheets/sheet2.xml"), QByteArray("<worksheet><f>Data!A1</f>")}});
    const QByteArray before = gm::test::readAll(path);
    auto workbook = openPackage(path);
    try {
        workbook->worksheet(QStringLiteral("Data"))->setName(QStringLiteral("Renamed"));
        ADD_FAILURE() << "not refused";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::Damaged);
    }
    EXPECT_EQ(workbook->worksheet(1)->name(), QStringLiteral("Data"));
    workbook->close(true);
    EXPECT_EQ(gm::test::readAll(path), before);
}

TEST_F(SheetStructureTest, RenameRewritesEveryReferenceAndNothingElse)
{
    const QString path = fixtureCopy();
    const auto before = readRaw(path);
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Data"))->setName(QStringLiteral("My Data")); });
    EXPECT_EQ(sheetsOf(path)[0].name, QStringLiteral("My Data"));
    const QByteArray calc = entry(path, QStringLiteral("xl/worksheets/sheet4.xml"));
    for (const char *expected : {"<f>'My Data'!A1*2</f>", "<f>SUM('My Data'!A1:A5)</f>", "<f>SUM('My Data:Other'!A1)</f>",
             "<f>INDIRECT(\"Data!A2\")</f>", "si=\"0\">'My Data'!A1+1</f>", "ref=\"C1\">SUM('My Data'!A1:A3*2)</f>",
             "<formula>'My Data'!$A$1&gt;0</formula>", "<formula1>'My Data'!$A$1:$A$5</formula1>", "location=\"Data!A1\""})
        EXPECT_TRUE(calc.contains(expected)) << expected;
    const QByteArray workbook = entry(path, QStringLiteral("xl/workbook.xml"));
    EXPECT_TRUE(workbook.contains("<definedName name=\"Total\">'My Data'!$A$1:$A$5</definedName>"));
    EXPECT_TRUE(workbook.contains("localSheetId=\"0\">'My Data'!$A$1:$A$5</definedName>"));
    EXPECT_TRUE(workbook.contains("<calcPr calcId=\"191029\"/>")) << "a rename keeps the calculation chain";
    EXPECT_EQ(appTitles(path).mid(0, 1), QStringList{QStringLiteral("My Data")});
    EXPECT_TRUE(appTitles(path).contains(QStringLiteral("'My Data'!Print_Area")));
    test::expectUntouchedExcept(before, path,
        {QStringLiteral("xl/workbook.xml"), QStringLiteral("xl/worksheets/sheet4.xml"), QStringLiteral("docProps/app.xml")});
    expectConsistent(path);

    // A rename to the same name in another case is allowed; writing a name back unchanged is no change.
    const QByteArray saved = gm::test::readAll(path);
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Other"))->setName(QStringLiteral("Other")); });
    EXPECT_EQ(gm::test::readAll(path), saved);
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Other"))->setName(QStringLiteral("OTHER")); });
    EXPECT_TRUE(entry(path, QStringLiteral("xl/worksheets/sheet4.xml")).contains("SUM('My Data:OTHER'!A1)"));
}

TEST_F(SheetStructureTest, ChangesInOneSessionSeeTheFormulasEarlierRenamesWrote)
{
    // The other sheet's cell data is rewritten only when the file is written, so each later
    // change must find what the earlier ones will have written there.
    const QString renamedTwice = fixtureCopy();
    edit(renamedTwice, [](Workbook &book) {
        book.worksheet(QStringLiteral("Data"))->setName(QStringLiteral("Step 1"));
        book.worksheet(QStringLiteral("Step 1"))->setName(QStringLiteral("Step 2"));
    });
    QByteArray calc = entry(renamedTwice, QStringLiteral("xl/worksheets/sheet4.xml"));
    for (const char *expected : {"<f>'Step 2'!A1*2</f>", "<f>SUM('Step 2:Other'!A1)</f>", "<formula1>'Step 2'!$A$1:$A$5</formula1>"})
        EXPECT_TRUE(calc.contains(expected)) << expected;
    EXPECT_FALSE(calc.contains("Step 1"));
    expectConsistent(renamedTwice);

    const QString renamedThenDeleted = fixtureCopy();
    edit(renamedThenDeleted, [](Workbook &book) {
        book.worksheet(QStringLiteral("Data"))->setName(QStringLiteral("Gone"));
        book.worksheet(QStringLiteral("Gone"))->deleteSheet();
    });
    calc = entry(renamedThenDeleted, QStringLiteral("xl/worksheets/sheet4.xml"));
    for (const char *expected : {"<f>#REF!*2</f>", "<f>SUM(#REF!)</f>", "<formula1>#REF!</formula1>"})
        EXPECT_TRUE(calc.contains(expected)) << expected;
    EXPECT_FALSE(calc.contains("Gone"));
    expectConsistent(renamedThenDeleted);
}

TEST_F(SheetStructureTest, RenameFollowsChartSeriesPivotSourcesAndChartSheetTitles)
{
    CORPUS_OR_SKIP(path, "poi-WithChartSheet.xlsx");
    edit(path, [](Workbook &book) {
        book.worksheet(QStringLiteral("Sheet1"))->setName(QStringLiteral("Source Data"));
        book.worksheet(QStringLiteral("Sheet2"))->setName(QStringLiteral("Pivot 2"));
    });
    const QByteArray chart = entry(path, QStringLiteral("xl/charts/chart1.xml"));
    EXPECT_TRUE(chart.contains("<c:name>[CVT23.tmp]'Pivot 2'!PivotTable2</c:name>"));
    EXPECT_TRUE(chart.contains("<c:f>'Pivot 2'!$C$3</c:f>"));
    EXPECT_FALSE(chart.contains("Sheet2!"));
    for (int n = 1; n <= 3; ++n) {
        const QByteArray cache = entry(path, QStringLiteral("xl/pivotCache/pivotCacheDefinition%1.xml").arg(n));
        EXPECT_FALSE(cache.contains("sheet=\"Sheet1\"")) << n;
    }
    EXPECT_TRUE(entry(path, QStringLiteral("xl/pivotCache/pivotCacheDefinition1.xml")).contains("sheet=\"Source Data\""));
    EXPECT_EQ(appTitles(path).first(), QStringLiteral("Source Data"));
    EXPECT_EQ(appTitles(path).at(5), QStringLiteral("Pivot 2"));
}

TEST_F(SheetStructureTest, DeleteTurnsReferencesIntoRefErrorsAndRenumbersScopedNames)
{
    const QString path = fixtureCopy();
    const auto before = readRaw(path);
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Data"))->deleteSheet(); });

    std::vector<SheetState> sheets = sheetsOf(path);
    ASSERT_EQ(sheets.size(), 5u);
    EXPECT_EQ(sheets[0].name, QStringLiteral("Other"));
    const QByteArray calc = entry(path, QStringLiteral("xl/worksheets/sheet4.xml"));
    for (const char *expected : {"<f>#REF!*2</f>", "<f>SUM(#REF!)</f>", "<f>SUM(Other!A1)</f>", "<f>INDIRECT(\"Data!A2\")</f>",
             "si=\"0\">#REF!+1</f>", "<f>'It''s'!A1+Other!A1</f>", "<formula>#REF!&gt;0</formula>", "<formula1>#REF!</formula1>"})
        EXPECT_TRUE(calc.contains(expected)) << expected;

    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    QStringList names;
    for (pugi::xml_node n : workbook->document_element().child("definedNames").children())
        names << QStringLiteral("%1@%2=%3")
                     .arg(QString::fromUtf8(n.attribute("name").value()), QString::fromUtf8(n.attribute("localSheetId").value()),
                         QString::fromUtf8(n.text().get()));
    EXPECT_EQ(names,
        QStringList({QStringLiteral("_xlnm.Print_Area@2=Calc!$A$1:$C$6"), QStringLiteral("Local@0=Other!$A$1"),
            QStringLiteral("Total@=#REF!")}));
    EXPECT_EQ(workbook->document_element().child("bookViews").child("workbookView").attribute("activeTab").as_int(), 2);
    EXPECT_STREQ(workbook->document_element().child("calcPr").attribute("fullCalcOnLoad").value(), "1");

    // The sheet's part and the calculation chain are gone with their relationships and types.
    const QStringList entries = gm::test::zipEntryNames(path);
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/worksheets/sheet1.xml")));
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/calcChain.xml")));
    EXPECT_FALSE(entry(path, QStringLiteral("xl/_rels/workbook.xml.rels")).contains("calcChain"));
    EXPECT_FALSE(entry(path, QStringLiteral("[Content_Types].xml")).contains("calcChain"));
    EXPECT_EQ(appTitles(path),
        QStringList({QStringLiteral("Other"), QStringLiteral("It's"), QStringLiteral("Calc"), QStringLiteral("Hidden"),
            QStringLiteral("Calc!Print_Area"), QStringLiteral("Other!Local"), QStringLiteral("Total")}));
    EXPECT_EQ(appCounts(path), QList<int>({4, 3}));
    expectConsistent(path);

    // Sheets that held no reference to the deleted sheet are stored as they were.
    const auto after = readRaw(path);
    for (const char *name : {"xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml", "xl/worksheets/sheet5.xml",
             "xl/worksheets/sheet6.xml", "_rels/.rels"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(
            after.entries.at(QString::fromUtf8(name)).compressed == before.entries.at(QString::fromUtf8(name)).compressed);
    }
}

TEST_F(SheetStructureTest, DeletingTheActiveSheetActivatesTheNearestVisibleOne)
{
    const QString path = fixtureCopy();
    // Calc is active; to its right are only a hidden and a very hidden sheet.
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Calc"))->deleteSheet(); });
    const auto workbook = parseXml(entry(path, QStringLiteral("xl/workbook.xml")));
    EXPECT_EQ(workbook->document_element().child("bookViews").child("workbookView").attribute("activeTab").as_int(), 2);
    EXPECT_EQ(sheetsOf(path)[2].name, QStringLiteral("It's"));
    // Calc's own print area went; Other's name keeps its scope.
    EXPECT_FALSE(entry(path, QStringLiteral("xl/workbook.xml")).contains("Calc!"));
    expectConsistent(path);
}

TEST_F(SheetStructureTest, DeletingASheetRemovesThePartsOnlyItReached)
{
    CORPUS_OR_SKIP(path, "poi-WithChartSheet.xlsx");
    // Sheet2 (xl/worksheets/sheet6.xml) holds PivotTable5, which the chart sheet draws.
    edit(path, [](Workbook &book) { book.worksheet(QStringLiteral("Sheet2"))->deleteSheet(); });
    const QStringList entries = gm::test::zipEntryNames(path);
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/worksheets/sheet6.xml")));
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/worksheets/_rels/sheet6.xml.rels")));
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/pivotTables/pivotTable5.xml")));
    EXPECT_FALSE(entries.contains(QStringLiteral("xl/pivotTables/_rels/pivotTable5.xml.rels")));
    // Workbook-level pivot caches and the other sheets' pivot tables stay.
    EXPECT_TRUE(entries.contains(QStringLiteral("xl/pivotCache/pivotCacheDefinition1.xml")));
    EXPECT_TRUE(entries.contains(QStringLiteral("xl/pivotTables/pivotTable1.xml")));
    EXPECT_TRUE(entry(path, QStringLiteral("xl/charts/chart1.xml")).contains("<c:f>#REF!</c:f>"));
    EXPECT_EQ(appCounts(path), QList<int>({5, 1}));
    expectConsistent(path);
}

} // namespace
} // namespace gm::xlsx
