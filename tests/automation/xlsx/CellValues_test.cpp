#include "automation/xlsx/CellValues.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageDocument.h"
#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace gm;

namespace {

const QString sheetName = QStringLiteral("xl/worksheets/sheet1.xml");

// A copy of simple01.xlsx whose first sheet holds `sheetData`.
QString workbookWithCells(const QString &source, const QString &folder, const QString &name, const QByteArray &sheetData)
{
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &entry : gm::test::zipEntryNames(source)) {
        QByteArray bytes = gm::test::zipEntry(source, entry);
        if (entry == sheetName) {
            const qsizetype start = bytes.indexOf("<sheetData");
            const qsizetype end = bytes.indexOf("</sheetData>") >= 0 ? bytes.indexOf("</sheetData>") + 12 : bytes.indexOf("/>", start) + 2;
            bytes.replace(start, end - start, sheetData);
        }
        entries.append({entry, bytes});
    }
    const QString path = folder + u'/' + name;
    gm::test::writeZip(path, entries);
    return path;
}

// The cells of a sheet part, each with its attributes in name order and its content as
// written: what the spreadsheet reads, whatever the attribute order and quotes.
std::vector<std::string> canonicalCells(const QByteArray &sheet)
{
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(sheet.constData(), size_t(sheet.size())));
    auto localName = [](pugi::xml_node node) {
        const std::string_view name = node.name();
        return name.substr(name.find(':') == std::string_view::npos ? 0 : name.find(':') + 1);
    };
    pugi::xml_node sheetData;
    for (pugi::xml_node child : document.document_element().children()) {
        if (localName(child) == "sheetData")
            sheetData = child;
    }
    std::vector<std::string> cells;
    for (pugi::xml_node row : sheetData.children()) {
        if (localName(row) != "row")
            continue;
        cells.push_back(std::string("row ") + row.attribute("r").value());
        for (pugi::xml_node cell : row.children()) {
            std::map<std::string, std::string> attributes;
            for (pugi::xml_attribute attribute : cell.attributes())
                attributes[attribute.name()] = attribute.value();
            std::string text = cell.name();
            for (const auto &[name, value] : attributes)
                text += " " + name + "=" + value;
            std::ostringstream content;
            for (pugi::xml_node child : cell.children())
                child.print(content, "", pugi::format_raw);
            cells.push_back(text + " | " + content.str());
        }
    }
    return cells;
}


void writeTextAndTree(const QString &source, const QString &prefix);

// Markup with every element name given the prefix, declared on the outermost element.
QByteArray prefixed(const QByteArray &markup, const QString &prefix)
{
    if (prefix.isEmpty())
        return markup;
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z])"));
    QString text = QString::fromUtf8(markup).replace(tag, QStringLiteral("<\\1") + prefix + QStringLiteral(":\\2"));
    const qsizetype nameEnd = text.indexOf(QRegularExpression(QStringLiteral("[ />]")), 1);
    text.insert(nameEnd, QStringLiteral(" xmlns:%1=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"").arg(prefix));
    return text.toUtf8();
}

} // namespace

// The same writes into the same cells, once with the sheet edited in its text and once as a
// tree, give the same cells, shared strings and styles: entries of every kind, into cells
// with styles, formulas, metadata, single quotes and no content, new cells between others,
// and rows the text path leaves to the tree (a cell with more than a value, a cell without its
// reference, an empty row element, a new row); in workbooks with and without a shared-string
// table, with and without a prefix on the cell data's names.
TEST(CellWrites, TextAndTreeWritesGiveTheSameCells)
{
    GM_REQUIRE_CORPUS(withTable, "xlsx/simple01.xlsx");
    GM_REQUIRE_CORPUS(withoutTable, "xlsx/hide01.xlsx");
    for (const QString &source : {withTable, withoutTable}) {
        for (const QString &prefix : {QString(), QStringLiteral("x")}) {
            SCOPED_TRACE((source + u' ' + prefix).toStdString());
            writeTextAndTree(source, prefix);
        }
    }
}

namespace {

void writeTextAndTree(const QString &source, const QString &prefix)
{
    QTemporaryDir dir;
    const QByteArray plainCells
        = R"(<sheetData><row r="1" spans="1:6"><c r="A1" s="0" t="s"><v>0</v></c><c r='B1' t='str' cm="1"><f>1+1</f><v>2</v></c>)"
          R"(<c r="C1" s="0"/><c r="E1"><v>5</v></c></row>)"
          R"(<row r="2"><c r="A2"><v>1</v><extLst><ext uri="x"/></extLst></c></row>)"
          R"(<row r="3"><c><v>1</v></c><c r="B3"><v>2</v></c></row>)"
          R"(<row r="4"><c r="A4" vm="1" t="e"><v>#N/A</v></c><c r="C4" t="inlineStr"><is><t>x</t></is></c></row>)"
          R"(<row r="5"/>)"
          R"(<row r="7"><c r="A7"><f>1</f><v>1</v></c><c r="B7" s="0"><f t="shared" si="0">A1</f><v>0</v></c></row></sheetData>)";
    const QByteArray cells = prefixed(plainCells, prefix);
    const std::vector<Worksheet::CellWrite> writes = {
        {1, 1, QStringLiteral("5%")},
        {1, 2, QStringLiteral("1/2/2020")},
        {1, 3, QString()},
        {1, 4, QStringLiteral("'001")},
        {1, 5, QStringLiteral("=SUM(A1:A3)&\"<\"")},
        {1, 6, QStringLiteral("TRUE")},
        {2, 1, QStringLiteral("abc")},
        {3, 2, QStringLiteral("x y ")},
        {3, 4, QStringLiteral("7")},
        {4, 1, QStringLiteral(" lead & <tag>")},
        {4, 3, QStringLiteral("#DIV/0!")},
        {5, 2, QStringLiteral("n")},
        {7, 2, QStringLiteral("3")},
        {7, 3, QStringLiteral("a_x0041_b\x01")},
        {8, 2, QStringLiteral("new row")},
    };
    auto written = [&](const QString &name, bool asTree) {
        const QString path = workbookWithCells(source, dir.path(), name, cells);
        xlsx::PackageDocument document(path);
        const xlsx::SheetEntry sheet = document.model().sheets().front();
        if (asTree)
            document.package().xml(sheet.partName);
        xlsx::setCellValues(document, sheet, writes);
        document.save();
        return path;
    };
    const QString text = written(QStringLiteral("text.xlsx"), false);
    const QString tree = written(QStringLiteral("tree.xlsx"), true);

    const std::vector<std::string> textCells = canonicalCells(gm::test::zipEntry(text, sheetName));
    EXPECT_EQ(textCells, canonicalCells(gm::test::zipEntry(tree, sheetName)));
    EXPECT_EQ(textCells.size(), 24u); // 7 rows, 17 cells
    for (const char *entry : {"xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml"})
        EXPECT_EQ(gm::test::zipEntry(text, QString::fromLatin1(entry)), gm::test::zipEntry(tree, QString::fromLatin1(entry))) << entry;
    // Cells that were not written to keep their bytes in the text path, and written ones their
    // other attributes as written.
    const QByteArray textSheet = gm::test::zipEntry(text, sheetName);
    const QString p = prefix.isEmpty() ? QString() : prefix + u':';
    EXPECT_TRUE(textSheet.contains(QStringLiteral("<%1c r=\"A7\"><%1f>1</%1f><%1v>1</%1v></%1c>").arg(p).toUtf8())) << textSheet.toStdString();
    EXPECT_TRUE(textSheet.contains(QStringLiteral("<%1c r='B1' s=\"2\">").arg(p).toUtf8())) << textSheet.toStdString();
}

} // namespace

// Writes that the sheet refuses fail alone in the text path too, and leave their cells as
// they were: the master cell of a shared formula, a cell of an array formula.
TEST(CellWrites, RefusedCellsStayAsTheyWere)
{
    GM_REQUIRE_CORPUS(source, "xlsx/simple01.xlsx");
    QTemporaryDir dir;
    const QByteArray cells = R"(<sheetData><row r="1"><c r="A1"><f t="shared" ref="A1:A2" si="0">B1</f><v>0</v></c>)"
                             R"(<c r="B1"><f t="array" ref="B1:B2">C1:C2</f><v>0</v></c><c r="C1"><v>1</v></c></row>)"
                             R"(<row r="2"><c r="B2"><v>0</v></c></row></sheetData>)";
    const QString path = workbookWithCells(source, dir.path(), QStringLiteral("refused.xlsx"), cells);
    xlsx::PackageDocument document(path);
    const xlsx::SheetEntry sheet = document.model().sheets().front();
    try {
        xlsx::setCellValues(document, sheet, {{1, 1, QStringLiteral("1")}, {2, 2, QStringLiteral("2")}, {1, 3, QStringLiteral("3")}});
        FAIL() << "no refusal";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::ArrayFormulaPart);
    }
    document.save();
    const QByteArray after = gm::test::zipEntry(path, sheetName);
    EXPECT_TRUE(after.contains(R"(<c r="A1"><f t="shared" ref="A1:A2" si="0">B1</f><v>0</v></c>)")) << after.toStdString();
    EXPECT_TRUE(after.contains(R"(<row r="2"><c r="B2"><v>0</v></c></row>)")) << after.toStdString();
    EXPECT_TRUE(after.contains(R"(<c r="C1"><v>3</v></c>)")) << after.toStdString();
}
