// Writing a cell list into real workbooks: the saved sheet XML, read here with pugixml, holds
// exactly the intended cells as typed entries; every other part is unchanged; and the engine,
// loading the result, shows the values and recalculates the formulas.

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "operations/cells/SetCellsOperation.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>

using namespace gm;
using gm::test::fixture;
using gm::test::zipEntry;
using gm::test::zipEntryNames;

namespace {

// One saved sheet as an independent reader sees it.
class SheetXml
{
public:
    SheetXml(const QString &path, const char *sheetPart)
    {
        load(m_sheet, zipEntry(path, QString::fromLatin1(sheetPart)));
        load(m_strings, zipEntry(path, QStringLiteral("xl/sharedStrings.xml")));
        load(m_styles, zipEntry(path, QStringLiteral("xl/styles.xml")));
    }

    pugi::xml_node cell(const char *ref) const
    {
        return m_sheet.select_node((std::string("//c[@r='") + ref + "']").c_str()).node();
    }
    // The cell's value: shared strings and inline strings resolved, "=" before a formula.
    std::string value(const char *ref) const
    {
        const pugi::xml_node c = cell(ref);
        if (c.child("f"))
            return std::string("=") + c.child_value("f");
        const std::string type = c.attribute("t").value();
        if (type == "s") {
            const int index = c.child("v").text().as_int();
            return m_strings.document_element()
                .find_child([&, i = 0](pugi::xml_node) mutable { return i++ == index; })
                .child_value("t");
        }
        if (type == "inlineStr")
            return c.child("is").child_value("t");
        return c.child_value("v");
    }
    pugi::xml_node style(const char *ref) const
    {
        const int index = cell(ref).attribute("s").as_int(0);
        int i = 0;
        return m_styles.document_element().child("cellXfs").find_child([&](pugi::xml_node) { return i++ == index; });
    }

private:
    static void load(pugi::xml_document &document, const QByteArray &bytes)
    {
        if (!bytes.isEmpty()) {
            ASSERT_TRUE(document.load_buffer(bytes.constData(), size_t(bytes.size())));
        }
    }
    pugi::xml_document m_sheet;
    pugi::xml_document m_strings;
    pugi::xml_document m_styles;
};

class SetCellsTest : public ::testing::Test
{
protected:
    void SetUp() override { settings = {true, dir.filePath(QStringLiteral("run.log"))}; }
    void TearDown() override
    {
        session.quit();
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
    }

    QString copy(const char *name) { return gm::test::copyInto(fixture(QString::fromLatin1(name)), dir.path()); }

    QStringList engineTexts(const QString &path, const QString &sheetName, const QStringList &cells)
    {
        QStringList texts;
        std::unique_ptr<Workbook> book = session.open(path, WorkbookUse::Engine, true);
        auto sheet = book->worksheet(sheetName);
        for (const QString &cell : cells)
            texts << sheet->cellText(cell);
        book->close(false);
        return texts;
    }

    QStringList logLines() const
    {
        QFile log(settings.logFile);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    RunSettings settings;
    gm::test::ScriptedUi ui;
    EngineSession session;
};

CellListEntry cell(int row, int column, const char *text)
{
    return {QString::number(row), QString::number(column), QString::fromUtf8(text)};
}

} // namespace

TEST(SetCellsValidation, ChecksInOrder)
{
    gm::test::ScriptedUi ui;
    Validation failed;
    SetCellsInputs inputs{{}, {}, CellSheets::Named, {}};
    EXPECT_TRUE(setCells(inputs, ui, {}, {}, &failed).stopped);
    EXPECT_EQ(ui.messages, QStringList{kSetCellsEmptyList});
    inputs.entries = {QStringLiteral("/nowhere/a.xlsx")};
    EXPECT_EQ(validateSetCells(inputs)->message, kSetCellsNoCells);
    inputs.cells = {cell(1, 1, "x")};
    EXPECT_EQ(validateSetCells(inputs)->control, QStringLiteral("txtBatchCellsSheet"));
    inputs.sheetName = QStringLiteral(" ");
    EXPECT_FALSE(validateSetCells(inputs));
}

TEST_F(SetCellsTest, ActiveSheetGetsTypedValues)
{
    const QString path = copy("sheets_second_active.xlsx");
    const QByteArray firstSheet = zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml"));
    const QStringList otherParts{QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/media/image1.png"),
        QStringLiteral("xl/drawings/drawing1.xml"), QStringLiteral("[Content_Types].xml")};
    std::vector<QByteArray> before;
    for (const QString &part : otherParts)
        before.push_back(zipEntry(path, part));

    SetCellsInputs inputs{{path},
        {cell(5, 6, "x"), cell(1, 1, "=1+1"), cell(3, 2, "5%"), cell(4, 2, "1/2/2020"), cell(6, 1, "'001"), cell(6, 2, "true"),
            cell(2, 1, "42"), cell(1, 0, "no column"), cell(7, 1, "a<b & _x0041_"), cell(5, 6, "later wins"),
            cell(8, 1, "123456789012345678")},
        CellSheets::Active, {}};
    const RunSummary summary = setCells(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    // The entry with column 0 fails and is logged; every other entry is written.
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::CellOutOfRange));
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_TRUE(logLines().constFirst().contains(kSetCellsAction));

    const SheetXml sheet(path, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(sheet.value("F5"), "later wins");
    EXPECT_EQ(sheet.value("A1"), "=1+1");
    EXPECT_FALSE(sheet.cell("A1").child("v"));
    EXPECT_EQ(sheet.value("B3"), "0.05");
    EXPECT_EQ(sheet.style("B3").attribute("numFmtId").as_int(), 9);
    EXPECT_EQ(sheet.value("B4"), "43832");
    EXPECT_EQ(sheet.style("B4").attribute("numFmtId").as_int(), 14);
    EXPECT_EQ(sheet.value("A6"), "001");
    EXPECT_STREQ(sheet.style("A6").attribute("quotePrefix").value(), "1");
    EXPECT_STREQ(sheet.cell("B6").attribute("t").value(), "b");
    EXPECT_EQ(sheet.value("B6"), "1");
    EXPECT_EQ(sheet.value("A2"), "42");
    EXPECT_STREQ(sheet.cell("A2").attribute("s").value(), "3"); // the cell's own style stays
    EXPECT_EQ(sheet.value("A7"), "a<b & _x005F_x0041_");
    EXPECT_EQ(sheet.value("A8"), "1.23456789012345e+17"); // 15 significant digits kept
    // Untouched cells stay.
    EXPECT_EQ(sheet.value("B1"), "1234.5678");
    EXPECT_EQ(sheet.value("B2"), "45000");
    for (int i = 0; i < otherParts.size(); ++i) {
        SCOPED_TRACE(otherParts.at(i).toStdString());
        EXPECT_EQ(zipEntry(path, otherParts.at(i)), before[size_t(i)]);
    }
    EXPECT_EQ(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")), firstSheet);
    EXPECT_TRUE(zipEntry(path, QStringLiteral("xl/workbook.xml")).contains("fullCalcOnLoad=\"1\""));

    // The engine shows a boolean cell as 1, so B6 is checked in the XML above only.
    const QStringList texts = engineTexts(path, QStringLiteral("第二"),
        {QStringLiteral("F5"), QStringLiteral("A1"), QStringLiteral("B3"), QStringLiteral("A6"), QStringLiteral("A2"),
            QStringLiteral("A7"), QStringLiteral("B1")});
    EXPECT_EQ(texts,
        (QStringList{QStringLiteral("later wins"), QStringLiteral("2"), QStringLiteral("5%"), QStringLiteral("001"),
            QStringLiteral("42"), QStringLiteral("a<b & _x0041_"), QStringLiteral("1,234.57")}));
}

TEST_F(SetCellsTest, NamedSheetsRecalculateAndRefuseSharedAndArrayAnchors)
{
    const QString path = copy("sheet_references.xlsx");
    const QByteArray other = zipEntry(path, QStringLiteral("xl/worksheets/sheet2.xml"));

    // " data " matches Data (letter case aside, trimmed) and nothing else.
    SetCellsInputs inputs{{path}, {cell(1, 1, "10"), cell(7, 3, "text")}, CellSheets::Named, QStringLiteral(" data ")};
    RunSummary summary = setCells(inputs, ui, settings);
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    const SheetXml data(path, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(data.value("A1"), "10");
    EXPECT_EQ(data.value("C7"), "text"); // no shared-string table: an inline string
    EXPECT_STREQ(data.cell("C7").attribute("t").value(), "inlineStr");
    EXPECT_EQ(zipEntry(path, QStringLiteral("xl/worksheets/sheet2.xml")), other);
    // Only a value changed, no formula: the calculation chain stays, the results are recalculated.
    EXPECT_TRUE(zipEntry(path, QStringLiteral("xl/workbook.xml")).contains("fullCalcOnLoad=\"1\""));
    EXPECT_TRUE(zipEntryNames(path).contains(QStringLiteral("xl/calcChain.xml")));

    // Every worksheet: the shared formula's anchor B1 and the array formula C1 of Calc are
    // refused, the child B2 of the shared formula takes its value, hidden sheets are written.
    inputs = {{path}, {cell(1, 2, "7"), cell(1, 3, "8"), cell(2, 2, "=Data!A1*3")}, CellSheets::All, {}};
    summary = setCells(inputs, ui, settings);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Failed);
    const SheetXml calc(path, "xl/worksheets/sheet4.xml");
    EXPECT_EQ(calc.value("B1"), "=Data!A1+1");
    EXPECT_EQ(calc.value("C1"), "=SUM(Data!A1:A3*2)");
    EXPECT_EQ(calc.value("B2"), "=Data!A1*3");
    EXPECT_EQ(SheetXml(path, "xl/worksheets/sheet6.xml").value("B1"), "7");
    EXPECT_FALSE(zipEntryNames(path).contains(QStringLiteral("xl/calcChain.xml")));
    EXPECT_FALSE(zipEntry(path, QStringLiteral("xl/_rels/workbook.xml.rels")).contains("calcChain"));
    EXPECT_FALSE(zipEntry(path, QStringLiteral("[Content_Types].xml")).contains("calcChain"));

    // The engine recalculates on load: Data!A1 is 10 now.
    EXPECT_EQ(engineTexts(path, QStringLiteral("Calc"),
                  {QStringLiteral("A1"), QStringLiteral("A2"), QStringLiteral("B1"), QStringLiteral("B2"), QStringLiteral("B3")}),
        (QStringList{
            QStringLiteral("20"), QStringLiteral("24"), QStringLiteral("11"), QStringLiteral("30"), QStringLiteral("4")}));
}
