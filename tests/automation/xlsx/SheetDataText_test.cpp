#include "automation/xlsx/SheetDataText.h"
#include "automation/xlsx/XmlText.h"

#include "automation/EngineError.h"
#include "operations/cells/SetCellsOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <pugixml.hpp>

#include <gtest/gtest.h>

using namespace gm;
using gm::xlsx::SheetDataScan;

namespace {

std::string_view localName(const char *name)
{
    const std::string_view text(name);
    const size_t colon = text.find(':');
    return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

// Every cell of a worksheet as "row,column,type,value" lines, read by the scan.
QStringList scannedCells(const QByteArray &sheet)
{
    QStringList cells;
    SheetDataScan scan(sheet);
    scan.run(
        [&](const SheetDataScan::Cell &cell) {
            const QString value = cell.hasInline ? xlsx::itemContentText(cell.inlineItem) : xlsx::unescapedXml(cell.value);
            cells << QStringLiteral("%1,%2,%3,%4")
                         .arg(cell.row)
                         .arg(cell.column)
                         .arg(QString::fromUtf8(cell.type.data(), qsizetype(cell.type.size())), value);
            return true;
        },
        [](const SheetDataScan::Row &, bool) {});
    return cells;
}

// The same read from a tree, rows and cells without a number following the one before.
QStringList treeCells(const QByteArray &sheet)
{
    pugi::xml_document document;
    EXPECT_TRUE(document.load_buffer(sheet.constData(), size_t(sheet.size()), pugi::parse_default | pugi::parse_ws_pcdata));
    pugi::xml_node sheetData;
    for (pugi::xml_node child : document.document_element().children()) {
        if (localName(child.name()) == "sheetData")
            sheetData = child;
    }
    QStringList cells;
    qint64 rowNumber = 0;
    for (pugi::xml_node row : sheetData.children()) {
        if (localName(row.name()) != "row")
            continue;
        rowNumber = row.attribute("r") ? row.attribute("r").as_llong() : rowNumber + 1;
        qint64 column = 0;
        for (pugi::xml_node cell : row.children()) {
            if (localName(cell.name()) != "c")
                continue;
            qint64 letters = 0;
            for (const char *ref = cell.attribute("r").value(); *ref >= 'A' && *ref <= 'Z'; ++ref)
                letters = letters * 26 + (*ref - 'A' + 1);
            column = letters ? letters : column + 1;
            QString value;
            for (pugi::xml_node child : cell.children()) {
                if (localName(child.name()) == "v") {
                    value = QString::fromUtf8(child.child_value());
                } else if (localName(child.name()) == "is") {
                    for (pugi::xml_node part : child.children()) {
                        if (localName(part.name()) == "t")
                            value += QString::fromUtf8(part.child_value());
                        else if (localName(part.name()) == "r")
                            value += QString::fromUtf8(part.child("t").child_value());
                    }
                }
            }
            cells << QStringLiteral("%1,%2,%3,%4").arg(rowNumber).arg(column).arg(QString::fromUtf8(cell.attribute("t").value()), value);
        }
    }
    return cells;
}

} // namespace

// Every worksheet of the corpus reads the same by the scan as from a tree.
TEST(SheetDataScan, ReadsEveryCorpusSheetAsATreeDoes)
{
    GM_REQUIRE_CORPUS(folder, "xlsx");
    int sheets = 0;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")})) {
        const QString path = folder + u'/' + file;
        for (const QString &name : gm::test::zipEntryNames(path)) {
            if (!name.startsWith(QStringLiteral("xl/worksheets/sheet")) || !name.endsWith(QStringLiteral(".xml")))
                continue;
            SCOPED_TRACE((file + u' ' + name).toStdString());
            const QByteArray sheet = gm::test::zipEntry(path, name);
            EXPECT_EQ(scannedCells(sheet), treeCells(sheet));
            ++sheets;
        }
    }
    EXPECT_GT(sheets, 50);
}

// Prefixed names, rows and cells without numbers, comments, CDATA, references, rows that count
// without cells, an empty sheetData; broken markup is refused.
TEST(SheetDataScan, MarkupForms)
{
    const QByteArray sheet = R"(<x:worksheet xmlns:x="m"><x:sheetData><!-- <row r="9"> -->)"
                             R"(<x:row><x:c><x:v>1</x:v></x:c><x:c t="str"><x:f>A1</x:f><x:v><![CDATA[<b>]]>&amp;&#x41;</x:v></x:c></x:row>)"
                             R"(<x:row customHeight="1" ht="30"/><x:row r="5" hidden="true"></x:row>)"
                             R"(<x:row r="7"><x:c r="C7" t="inlineStr"><x:is><x:r><x:t>a</x:t></x:r><x:rPh><x:t>p</x:t></x:rPh><x:r><x:t xml:space="preserve"> b</x:t></x:r></x:is></x:c></x:row>)"
                             R"(</x:sheetData></x:worksheet>)";
    EXPECT_EQ(scannedCells(sheet), (QStringList{QStringLiteral("1,1,,1"), QStringLiteral("1,2,str,<b>&A"), QStringLiteral("7,3,inlineStr,a b")}));

    QList<std::pair<qint64, bool>> rows;
    SheetDataScan scan(sheet);
    EXPECT_EQ(scan.qualifiedName(), "x:sheetData");
    scan.run([](const SheetDataScan::Cell &) { return true; },
        [&](const SheetDataScan::Row &row, bool) { rows.append({row.number, row.counts}); });
    EXPECT_EQ(rows, (QList<std::pair<qint64, bool>>{{1, false}, {2, true}, {5, true}, {7, false}}));

    SheetDataScan empty("<worksheet><sheetData/></worksheet>");
    EXPECT_TRUE(empty.selfClosed());
    EXPECT_TRUE(scannedCells("<worksheet><sheetData/></worksheet>").isEmpty());

    for (const char *broken : {"<worksheet><sheetData><row><c></row></sheetData></worksheet>", "<worksheet><sheetData><row>",
             "<worksheet><cols/></worksheet>", "<worksheet><sheetData><row><c r=\"A1<\"/></row></sheetData></worksheet>"}) {
        SCOPED_TRACE(broken);
        EXPECT_THROW(scannedCells(broken), EngineError);
    }
}

// Cells in the common plain shapes and in shapes close to them that need the general reading
// read alike: the same values, types, styles and bounds as a tree gives.
TEST(SheetDataScan, PlainAndNearlyPlainCellsReadAlike)
{
    const QByteArray cells[] = {
        R"(<c r="A1" s="2" t="s"><v>3</v></c>)",
        R"(<c t="inlineStr" r="B1"><is><t>文本é</t></is></c>)",
        R"(<c r="C1" s="1"/>)",
        R"(<c r="D1" />)",
        R"(<c r="E1"></c>)",
        "<c\tr=\"F1\"\n s=\"4\"><v>1.5</v></c>",
        R"(<c r='G1' s='5'><v>2</v></c>)",
        R"(<c r="H1" t="str" t="n" s="6" s="7"><v>a&gt;b</v></c>)",
        R"(<c r="I1"> <v>4</v> </c>)",
        R"(<c r="J1" t="inlineStr"><is><t xml:space="preserve"> x </t></is></c>)",
        R"(<c r="K1"><v><![CDATA[5]]></v></c>)",
        R"(<c r="L1" t="str"><f>A1</f><v>6</v></c>)",
        R"(<c r="M1" t="inlineStr"><is><r><t>p</t></r><r><t>q</t></r></is></c>)",
        R"(<c r="N1" x="a>b"><v>7</v></c>)",
        R"(<c s = "3"><v>8</v></c>)",
        R"(<c r="P1"><v>9</v ></c >)",
        R"(<c><v>10</v></c>)",
    };
    QByteArray sheet = "<worksheet><sheetData><row r=\"1\">";
    for (const QByteArray &cell : cells)
        sheet += cell;
    sheet += "</row></sheetData></worksheet>";
    EXPECT_EQ(scannedCells(sheet), treeCells(sheet));

    QList<int> styles;
    QByteArrayList written;
    QByteArrayList attributes;
    QList<bool> plain;
    SheetDataScan(sheet).run(
        [&](const SheetDataScan::Cell &cell) {
            styles << cell.style;
            written << sheet.mid(cell.start, cell.end - cell.start);
            attributes << QByteArray(cell.attributes.data(), qsizetype(cell.attributes.size()));
            plain << cell.plain;
            return true;
        },
        [](const SheetDataScan::Row &, bool) {});
    EXPECT_EQ(written, QByteArrayList(std::begin(cells), std::end(cells)));
    EXPECT_EQ(styles, (QList<int>{2, 0, 1, 0, 0, 4, 5, 6, 0, 0, 0, 0, 0, 0, 3, 0, 0}));
    // The start tag's attributes as written, whichever reading took the cell; plain cells
    // are those a writer may replace without reading them again.
    QByteArrayList startTags;
    for (const QByteArray &cell : cells) {
        const qsizetype end = xlsx::startTagEnd(std::string_view(cell.constData(), size_t(cell.size())), 2) - 1;
        startTags << cell.mid(2, end - 2 - (cell.at(end - 1) == '/' ? 1 : 0));
    }
    EXPECT_EQ(attributes, startTags);
    EXPECT_EQ(plain, (QList<bool>{true, true, true, true, true, true, false, true, false, false, false, false, false, true, false, false, false}));
}

// Text decoded from UTF-8 as the general decoder does, whatever its bytes: one, two, three
// and four byte characters, a byte order mark, and malformed bytes.
TEST(SheetDataScan, DecodesTextAsTheGeneralDecoderDoes)
{
    const QByteArray texts[] = {"plain", "caf\xc3\xa9 \xe6\x96\x87", "\xf0\x9f\x98\x80x", "\xef\xbb\xbf" "a", "a\xc0\xaf" "b",
        "\xed\xa0\x80", "x\xe6\x96", "\xff", "\xef\xbf\xbe", QByteArray(300, 'z') + "\xc3\xa9"};
    for (const QByteArray &text : texts) {
        SCOPED_TRACE(text.toHex().toStdString());
        const std::string_view view(text.constData(), size_t(text.size()));
        EXPECT_EQ(xlsx::unescapedXml(view), QString::fromUtf8(text));
        EXPECT_EQ(xlsx::itemContentText("<t>" + text.toStdString() + "</t>"), QString::fromUtf8(text));
    }
}

// Writing into a sheet edited as text: rows without a number get theirs before a row is
// inserted, the new row goes before the first higher one, the sheet's own prefix is used,
// and rows that are not written to keep their bytes.
TEST(SheetDataScan, WritesInsertRowsInPlaceAndKeepOtherRows)
{
    GM_REQUIRE_CORPUS(source, "xlsx/simple01.xlsx");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.xlsx"));
    const QString sheetName = QStringLiteral("xl/worksheets/sheet1.xml");
    const QByteArray rows = R"(<x:sheetData><x:row><x:c t="s"><x:v>0</x:v></x:c></x:row><x:row r="4" spans="1:2">)"
                            R"(<x:c r="B4" s="0"><x:v>5</x:v></x:c></x:row><x:row r="6"><x:c r="A6"><x:v>6</x:v></x:c></x:row></x:sheetData>)";
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source)) {
        QByteArray bytes = gm::test::zipEntry(source, name);
        if (name == sheetName) {
            const qsizetype start = bytes.indexOf("<sheetData>");
            const qsizetype end = bytes.indexOf("</sheetData>") + 12;
            bytes.replace(start, end - start, rows);
            bytes.replace("<worksheet xmlns=", "<x:worksheet xmlns:x=");
            bytes.replace("</worksheet>", "</x:worksheet>");
            for (const char *element : {"dimension", "sheetViews", "sheetView", "sheetFormatPr", "pageMargins"})
                bytes.replace(QByteArray("<") + element, QByteArray("<x:") + element).replace(QByteArray("</") + element, QByteArray("</x:") + element);
        }
        entries.append({name, bytes});
    }
    gm::test::writeZip(path, entries);

    SetCellsInputs inputs;
    inputs.entries = {path};
    inputs.cells = {{QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("new")}, {QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("7")}};
    gm::test::ScriptedUi ui;
    const RunSummary summary = setCells(
        inputs, ui, RunSettings{}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();

    const QByteArray sheet = gm::test::zipEntry(path, sheetName);
    EXPECT_TRUE(sheet.contains(R"(<x:sheetData><x:row r="1"><x:c t="s"><x:v>0</x:v></x:c></x:row>)"
                               R"(<x:row r="2"><x:c r="A2" t="s"><x:v>1</x:v></x:c></x:row>)"
                               R"(<x:row r="4" spans="1:2"><x:c r="A4"><x:v>7</x:v></x:c><x:c r="B4" s="0"><x:v>5</x:v></x:c></x:row>)"
                               R"(<x:row r="6"><x:c r="A6"><x:v>6</x:v></x:c></x:row></x:sheetData>)"))
        << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(R"(<x:dimension ref="A1:A4"/>)")) << sheet.toStdString();
    EXPECT_TRUE(gm::test::zipEntry(path, QStringLiteral("xl/sharedStrings.xml")).endsWith("<si><t>new</t></si></sst>"));
}

// The check of newly written cell data: whole elements with matching tags and complete
// references pass; anything else is named.
TEST(SheetDataScan, CheckOfWrittenElements)
{
    using gm::xlsx::markup::checkElements;
    for (const char *good : {"", " <c r=\"A1\"><v>1</v></c>\n<c/>", "<x:c><x:is><x:t>a &amp; &#x41; b</x:t></x:is></x:c>",
             "<row><!-- c --><?pi x?><c><v><![CDATA[<]]></v></c></row>"}) {
        SCOPED_TRACE(good);
        EXPECT_EQ(checkElements(good), nullptr);
    }
    for (const auto &[bad, what] : std::initializer_list<std::pair<const char *, const char *>>{
             {"<c><v>1</c></v>", "mismatched end tag"},
             {"<c><v>1</v>", "unclosed element"},
             {"</c>", "mismatched end tag"},
             {"<c>a & b</c>", "broken reference"},
             {"<c>&amp</c>", "broken reference"},
             {"<c/>text", "text outside an element"},
             {"<c r=\"<\"/>", "broken markup"},
             {"<a><b><c><d><e><f><g><h><i><j><k><l><m><n><o><p><q><r></r></q></p></o></n></m></l></k></j></i></h></g></f></e></d></c></b></x>",
                 "mismatched end tag"}}) {
        SCOPED_TRACE(bad);
        const char *found = checkElements(bad);
        EXPECT_STREQ(found ? found : "", what);
    }
}
