// Page setup spliced into a sheet's text: the scan that finds the sheet's elements, the edits
// on tricky XML, the entry written back (its compressed beginning reused), and the outcome
// compared with a full parse of every corpus sheet.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SheetPageSetup.h"
#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/WorkbookModel.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlScanner.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <functional>
#include <vector>

namespace gm::xlsx {
namespace {

QStringList childNamesOf(const XmlScanner &scanner)
{
    QStringList names;
    for (const XmlScanner::Element &element : scanner.children())
        names.append(QString::fromUtf8(element.qualifiedName));
    return names;
}

TEST(XmlScanner, FindsTheRootsChildrenAndNothingHiddenInMarkup)
{
    struct Case
    {
        const char *xml;
        const char *children; // qualified names, space-separated
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?>\r\n<w><a/><b x=\"1\"></b></w>\r\n", "a b"},
        // Markup in comments, CDATA, processing instructions and attribute values is text.
        {"<w><!-- <pageSetup/> --><a t=\"<x>\"/></w>", nullptr},
        {"<w><!-- <pageSetup/> --><a t='/>'>x&gt;</a><?pi <b/> ?><c><![CDATA[<d/></c>]]></c></w>", "a c"},
        // Nested elements of the same name are not children of the root.
        {"<x:w xmlns:x=\"u\"><x:a><x:a><x:b/></x:a></x:a><x:b   /></x:w>", "x:a x:b"},
        {"<w\n  a=\"1\"\n/>", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.xml);
        const QByteArray xml(c.xml);
        if (!c.children) {
            XmlScanner scanner;
            EXPECT_THROW(scanner.feed(xml), EngineError); // "<" in an attribute value
            continue;
        }
        XmlScanner whole;
        whole.feed(xml);
        whole.finish();
        EXPECT_EQ(childNamesOf(whole).join(u' '), QString::fromUtf8(c.children));
        for (const XmlScanner::Element &element : whole.children()) {
            const QByteArray text = xml.mid(element.start, element.end - element.start);
            EXPECT_TRUE(text.startsWith('<' + element.qualifiedName)) << text.toStdString();
            EXPECT_TRUE(text.endsWith('>')) << text.toStdString();
        }
        // Byte by byte, every token is cut somewhere: the result is the same.
        XmlScanner bytewise;
        for (char c : xml)
            bytewise.feed(&c, 1);
        bytewise.finish();
        ASSERT_EQ(bytewise.children().size(), whole.children().size());
        for (size_t i = 0; i < whole.children().size(); ++i) {
            EXPECT_EQ(bytewise.children()[i].start, whole.children()[i].start);
            EXPECT_EQ(bytewise.children()[i].end, whole.children()[i].end);
        }
        EXPECT_EQ(bytewise.rootStartTag(), whole.rootStartTag());
    }
}

TEST(XmlScanner, RejectsDocumentsThatAreNotWellFormed)
{
    for (const char *xml : {"<!DOCTYPE w [<!ENTITY e \"x\">]><w/>", "<w><a></b></w>", "<w><a>", "<w></w><v/>", "", "text only",
             "<w><a></a>", "</w>", "<w>< a/></w>"}) {
        SCOPED_TRACE(xml);
        XmlScanner scanner;
        EXPECT_THROW(
            {
                scanner.feed(QByteArray(xml));
                scanner.finish();
            },
            EngineError);
    }
}

TEST(XmlScanner, ASteppedOverBodyEndsOnlyAtItsOwnEndTag)
{
    // End-tag lookalikes in comments, CDATA, processing instructions and longer names, and
    // an end tag cut between any two bytes: the element ends where a full scan ends it.
    const char *cases[] = {
        "<w><a/><sheetData><row><c><!-- </sheetData> --></c><c><![CDATA[</sheetData>]]></c>"
        "<?pi </sheetData> ?></row></sheetData><b>x</b></w>",
        "<x:w xmlns:x=\"u\"><x:sheetData><x:sheetDataX></x:sheetDataX><x:row/></x:sheetData\n ><x:b/></x:w>",
        "<w><sheetData/><sheetData><c/></sheetData></w>",
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        const QByteArray xml(text);
        XmlScanner full;
        full.feed(xml);
        full.finish();
        for (const bool bytewise : {false, true}) {
            XmlScanner skipping;
            skipping.skipBodyOf("sheetData");
            if (bytewise) {
                for (char c : xml)
                    skipping.feed(&c, 1);
            } else {
                skipping.feed(xml);
            }
            skipping.finish();
            ASSERT_EQ(skipping.children().size(), full.children().size());
            for (size_t i = 0; i < full.children().size(); ++i) {
                EXPECT_EQ(skipping.children()[i].qualifiedName, full.children()[i].qualifiedName);
                EXPECT_EQ(skipping.children()[i].start, full.children()[i].start);
                EXPECT_EQ(skipping.children()[i].end, full.children()[i].end);
            }
        }
    }
    // What stays checked inside the stepped-over body: its end, its comments and CDATA, no
    // document type declaration; and everything after it.
    for (const char *xml : {"<w><sheetData><row>", "<w><sheetData><!-- </sheetData></w>", "<w><sheetData><![CDATA[</sheetData>]]></w>",
             "<w><sheetData><!DOCTYPE x></sheetData></w>", "<w><sheetData></sheetData></x>"}) {
        SCOPED_TRACE(xml);
        XmlScanner scanner;
        scanner.skipBodyOf("sheetData");
        EXPECT_THROW(
            {
                scanner.feed(QByteArray(xml));
                scanner.finish();
            },
            EngineError);
    }
}

// Cell data varied enough that deflate cuts it into many blocks.
QByteArray rows(int count)
{
    QByteArray data;
    QRandomGenerator random(7);
    for (int r = 1; r <= count; ++r) {
        data += "<x:row r=\"" + QByteArray::number(r) + "\"><x:c r=\"A" + QByteArray::number(r) + "\"><x:v>"
            + QByteArray::number(random.bounded(1000000)) + "</x:v></x:c><x:c r=\"B" + QByteArray::number(r)
            + "\" t=\"inlineStr\"><x:is><x:t>&lt;pageSetup/&gt; " + QByteArray::number(random.generate())
            + "</x:t></x:is></x:c></x:row>";
    }
    return data;
}

// An archive holding one entry "s.xml", stored with the given method and level.
QByteArray archiveWith(const QByteArray &content, zip_int32_t method, zip_uint32_t level)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.zip"));
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_source_t *source = zip_source_buffer(za, content.constData(), zip_uint64_t(content.size()), 0);
    const zip_int64_t index = zip_file_add(za, "s.xml", source, 0);
    zip_set_file_compression(za, zip_uint64_t(index), method, level);
    EXPECT_EQ(zip_close(za), 0);
    return gm::test::readAll(path);
}

struct Edit
{
    const char *name;
    QByteArray head; // before the cell data
    QByteArray tail; // after it
    std::function<void(SheetPageSetup &)> change;
    QByteArray from; // in head or tail: replaced by `to`
    QByteArray to;
};

const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const QByteArray prefixedRoot = "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";
const QByteArray margins
    = "<x:pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>";

void landscape(SheetPageSetup &setup)
{
    EXPECT_EQ(setup.orientation(), Orientation::Portrait);
    EXPECT_TRUE(setup.setOrientation(Orientation::Landscape));
    EXPECT_EQ(setup.orientation(), Orientation::Landscape);
}

std::vector<Edit> edits()
{
    const QByteArray mc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
    return {
        {"attribute replaced, other attributes and the r: prefix kept", declaration + prefixedRoot,
            margins + "<x:pageSetup paperSize=\"9\" orientation=\"portrait\" r:id=\"rId1\"/></x:worksheet>", landscape,
            "orientation=\"portrait\"", "orientation=\"landscape\""},
        {"open form kept", declaration + prefixedRoot,
            margins + "<x:pageSetup orientation=\"portrait\"></x:pageSetup></x:worksheet>", landscape,
            "<x:pageSetup orientation=\"portrait\"></x:pageSetup>", "<x:pageSetup orientation=\"landscape\"></x:pageSetup>"},
        {"absent: inserted with the root's prefix; lookalikes in comments, attributes and extLst ignored",
            declaration + prefixedRoot,
            "\n  " + margins
                + "\n  <!-- <x:pageSetup orientation=\"landscape\"/> -->\n  <x:ignoredErrors><x:ignoredError "
                  "sqref=\"A1\" note=\"&lt;pageSetup/&gt; a>b\"/></x:ignoredErrors>\n  <x:extLst><x:ext uri=\"u\">"
                  "<x:pageSetup orientation=\"landscape\"/></x:ext></x:extLst>\n</x:worksheet>",
            landscape, "\n  <x:ignoredErrors>", "\n  <x:pageSetup orientation=\"landscape\"/><x:ignoredErrors>"},
        {"a header goes before mc:AlternateContent that offers controls",
            declaration + "<worksheet xmlns=\"main\" xmlns:mc=\"" + mc + "\">",
            "<pageMargins/><mc:AlternateContent><mc:Choice Requires=\"x14\"><controls/></mc:Choice><mc:Fallback/>"
            "</mc:AlternateContent><extLst/></worksheet>",
            [](SheetPageSetup &setup) { setup.setHeaderFooter(HeaderFooterSection::CenterHeader, QStringLiteral("&P & <x>")); },
            "<pageMargins/>", "<pageMargins/><headerFooter><oddHeader>&amp;C&amp;P &amp; &lt;x&gt;</oddHeader></headerFooter>"},
        {"a header goes after mc:AlternateContent that offers printOptions, before extLst",
            declaration + "<worksheet xmlns=\"main\">",
            "<mc:AlternateContent xmlns:mc=\"" + mc
                + "\"><mc:Choice Requires=\"x\"><printOptions/></mc:Choice>"
                  "</mc:AlternateContent><extLst><ext/></extLst></worksheet>",
            [](SheetPageSetup &setup) { setup.setHeaderFooter(HeaderFooterSection::LeftFooter, QStringLiteral("&F")); },
            "<extLst>", "<headerFooter><oddFooter>&amp;L&amp;F</oddFooter></headerFooter><extLst>"},
        {"last section cleared: the element goes, its container and the other header stay",
            declaration + "<worksheet xmlns=\"main\">",
            "<headerFooter differentFirst=\"1\"><oddHeader>&amp;Lx</oddHeader><firstHeader>y</firstHeader></headerFooter>"
            "<drawing r:id=\"rId1\" xmlns:r=\"r\"/></worksheet>",
            [](SheetPageSetup &setup) {
                EXPECT_EQ(setup.headerFooter(HeaderFooterSection::LeftHeader), QStringLiteral("x"));
                setup.setHeaderFooter(HeaderFooterSection::LeftHeader, QString());
            },
            "<oddHeader>&amp;Lx</oddHeader>", ""},
        {"both elements at the end of a sheet without margins", declaration + "<worksheet xmlns=\"main\">", "</worksheet>",
            [](SheetPageSetup &setup) {
                setup.setHeaderFooter(HeaderFooterSection::RightFooter, QStringLiteral("r"));
                setup.setOrientation(Orientation::Landscape);
            },
            "</worksheet>",
            "<pageSetup orientation=\"landscape\"/><headerFooter><oddFooter>&amp;Rr</oddFooter></headerFooter></worksheet>"},
    };
}

TEST(SheetSplice, EditsLandExactlyAndTheEntryReadsBackWhateverItsCompression)
{
    const QByteArray data = rows(15000);
    struct Compression
    {
        zip_int32_t method;
        zip_uint32_t level;
    };
    for (const Edit &edit : edits()) {
        for (const Compression compression :
            {Compression{ZIP_CM_DEFLATE, 1}, Compression{ZIP_CM_DEFLATE, 6}, Compression{ZIP_CM_STORE, 0}}) {
            SCOPED_TRACE(std::string(edit.name) + " / method " + std::to_string(compression.method) + " level "
                + std::to_string(compression.level));
            const QByteArray original = edit.head + "<x:sheetData>" + data + "</x:sheetData>" + edit.tail;
            QByteArray expected = original;
            const qsizetype at = expected.lastIndexOf(edit.from);
            ASSERT_GE(at, expected.size() - edit.tail.size() - edit.from.size());
            expected.replace(at, edit.from.size(), edit.to);

            const ZipArchive archive = ZipArchive::fromBytes(archiveWith(original, compression.method, compression.level));
            SplicedXmlPart part(archive, QStringLiteral("s.xml"), "sheetData");
            SheetPageSetup setup(part);
            edit.change(setup);
            ASSERT_TRUE(part.isDirty());
            const ZipArchive::Change change = part.change(archive);
            ASSERT_TRUE(change.deflated.has_value());
            if (compression.method == ZIP_CM_DEFLATE) {
                // The stored bytes are reused up to the last deflate block (tens of KiB).
                EXPECT_GT(change.deflated->keptBytes, archive.info(QStringLiteral("s.xml")).compressedSize - 128 * 1024);
                EXPECT_LT(change.deflated->appended.size(), 256 * 1024);
            }
            const ZipArchive rebuilt = ZipArchive::fromBytes(archive.rebuilt({change}));
            EXPECT_EQ(rebuilt.read(QStringLiteral("s.xml")).toStdString(), expected.toStdString());
        }
    }
}

TEST(SheetSplice, SheetsWithoutCellDataAndChangesBeforeItAreWrittenWhole)
{
    // A chart sheet: no sheetData, the whole part is held and rewritten.
    const QByteArray chart = "<chartsheet xmlns=\"main\"><sheetPr/><pageMargins/><drawing/></chartsheet>";
    const ZipArchive charts = ZipArchive::fromBytes(archiveWith(chart, ZIP_CM_DEFLATE, 6));
    SplicedXmlPart chartPart(charts, QStringLiteral("s.xml"), "sheetData");
    SheetPageSetup(chartPart).setHeaderFooter(HeaderFooterSection::CenterHeader, QStringLiteral("c"));
    EXPECT_EQ(ZipArchive::fromBytes(charts.rebuilt({chartPart.change(charts)})).read(QStringLiteral("s.xml")),
        QByteArray("<chartsheet xmlns=\"main\"><sheetPr/><pageMargins/><headerFooter><oddHeader>&amp;Cc"
                   "</oddHeader></headerFooter><drawing/></chartsheet>"));

    // An element before the cell data changes: the entry is compressed again as it streams.
    const QByteArray data = rows(3000);
    const QByteArray sheet = "<worksheet xmlns=\"main\"><sheetPr/><sheetData>" + data + "</sheetData><pageMargins/></worksheet>";
    const ZipArchive archive = ZipArchive::fromBytes(archiveWith(sheet, ZIP_CM_DEFLATE, 6));
    SplicedXmlPart part(archive, QStringLiteral("s.xml"), "sheetData");
    EXPECT_EQ(part.element("sheetPr"), QByteArray("<sheetPr/>"));
    EXPECT_TRUE(part.setElement("sheetPr", "<sheetPr codeName=\"a\"/>", order::worksheet));
    EXPECT_FALSE(part.setElement("sheetPr", "<sheetPr codeName=\"a\"/>", order::worksheet));
    EXPECT_THROW(part.setElement("sheetData", "<sheetData/>", order::worksheet), EngineError);
    const ZipArchive::Change change = part.change(archive);
    ASSERT_TRUE(change.deflated.has_value());
    EXPECT_EQ(change.deflated->keptBytes, 0);
    EXPECT_EQ(ZipArchive::fromBytes(archive.rebuilt({change})).read(QStringLiteral("s.xml")),
        "<worksheet xmlns=\"main\"><sheetPr codeName=\"a\"/><sheetData>" + data + "</sheetData><pageMargins/></worksheet>");
}

TEST(SheetSplice, SuccessiveEditsFindTheChildrenAFreshReadFinds)
{
    // Each edit scans only its own text; the children it finds and the ones around it must be
    // what reading the edited text from scratch finds, for the next edit to land right.
    const QByteArray mc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
    const QByteArray original = declaration + "<worksheet xmlns=\"main\" xmlns:mc=\"" + mc + "\"><sheetData>" + rows(200)
        + "</sheetData><pageMargins/><mc:AlternateContent><mc:Choice Requires=\"x\"><controls/></mc:Choice>"
          "</mc:AlternateContent><extLst/></worksheet>";
    const ZipArchive archive = ZipArchive::fromBytes(archiveWith(original, ZIP_CM_DEFLATE, 6));
    SplicedXmlPart part(archive, QStringLiteral("s.xml"), "sheetData");
    const std::vector<std::function<bool()>> steps = {
        [&] { return part.setElement("sheetProtection", "<sheetProtection sheet=\"1\"/>", order::worksheet); },
        [&] { return part.setElement("pageSetup", "<pageSetup orientation=\"landscape\"/>", order::worksheet); },
        // mc:AlternateContent offers controls, which come after headerFooter: it goes before.
        [&] { return part.setElement("headerFooter", "<headerFooter><oddHeader>h</oddHeader></headerFooter>", order::worksheet); },
        [&] { return part.setElement("sheetProtection", "<sheetProtection sheet=\"1\" objects=\"1\"/>", order::worksheet); },
        [&] { return part.setElement("pageMargins", QByteArray(), order::worksheet); },
        [&] { return part.setElement("printOptions", "<printOptions/>\n<!-- c -->", order::worksheet); },
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("edit " + std::to_string(i));
        ASSERT_TRUE(steps[i]());
        const QByteArray text = ZipArchive::fromBytes(archive.rebuilt({part.change(archive)})).read(QStringLiteral("s.xml"));
        const ZipArchive again = ZipArchive::fromBytes(archiveWith(text, ZIP_CM_DEFLATE, 6));
        const SplicedXmlPart fresh(again, QStringLiteral("s.xml"), "sheetData");
        for (const char *name : {"sheetProtection", "pageMargins", "printOptions", "pageSetup", "headerFooter",
                 "AlternateContent", "extLst", "sheetData"})
            EXPECT_EQ(part.element(name), fresh.element(name)) << name;
    }
    const QByteArray text = ZipArchive::fromBytes(archive.rebuilt({part.change(archive)})).read(QStringLiteral("s.xml"));
    EXPECT_TRUE(text.endsWith("</sheetData><sheetProtection sheet=\"1\" objects=\"1\"/><printOptions/>\n<!-- c -->"
                              "<pageSetup orientation=\"landscape\"/><headerFooter><oddHeader>h</oddHeader>"
                              "</headerFooter><mc:AlternateContent><mc:Choice Requires=\"x\"><controls/></mc:Choice>"
                              "</mc:AlternateContent><extLst/></worksheet>"))
        << text.right(400).toStdString();
    // Text that does not close what it opens is refused.
    EXPECT_THROW(part.setElement("drawing", "<drawing>", order::worksheet), EngineError);
}

TEST(SheetSplice, PartsWrittenWholeAreDeflatedAtTheEditorsOwnLevel)
{
    // libzip keeps its maximum level for an entry that was deflated before, whatever level is
    // asked for: the editor compresses such content itself.
    const QByteArray data = "<worksheet xmlns=\"main\"><sheetData>" + rows(3000) + "</sheetData></worksheet>";
    RawDeflater deflater;
    deflater.add(data.constData(), data.size());
    const qint64 atEditorsLevel = deflater.finish().size();
    struct Compression
    {
        zip_int32_t method;
        zip_uint32_t level;
    };
    for (const Compression compression : {Compression{ZIP_CM_DEFLATE, 9}, Compression{ZIP_CM_DEFLATE, 1}, Compression{ZIP_CM_STORE, 0}}) {
        SCOPED_TRACE("method " + std::to_string(compression.method) + " level " + std::to_string(compression.level));
        const ZipArchive archive = ZipArchive::fromBytes(archiveWith("<old/>", compression.method, compression.level));
        const ZipArchive rebuilt = ZipArchive::fromBytes(archive.rebuilt({ZipArchive::Change{QStringLiteral("s.xml"), data, std::nullopt},
            ZipArchive::Change{QStringLiteral("new.xml"), data, std::nullopt}}));
        EXPECT_EQ(rebuilt.entryNames(), QStringList({QStringLiteral("s.xml"), QStringLiteral("new.xml")}));
        for (const QString &name : rebuilt.entryNames()) {
            EXPECT_EQ(rebuilt.read(name), data);
            EXPECT_EQ(rebuilt.info(name).method, 8);
            EXPECT_EQ(rebuilt.info(name).compressedSize, atEditorsLevel);
        }
    }
}

TEST(SheetSplice, CellDataWithCommentsAndCDataIsSteppedOverAndKept)
{
    QByteArray data = rows(4000);
    data.insert(data.indexOf("<x:row r=\"2000\""), "<!-- </x:sheetData> --><?pi </x:sheetData>?>");
    data.replace("&lt;pageSetup/&gt; 1", "<![CDATA[</x:sheetData><pageSetup/>]]>1");
    const QByteArray original = declaration + prefixedRoot + "<x:sheetData>" + data + "</x:sheetData>" + margins + "</x:worksheet>";
    const ZipArchive archive = ZipArchive::fromBytes(archiveWith(original, ZIP_CM_DEFLATE, 6));
    // Held as checked, with the CRCs the opening check took on the way; the new entry's CRC
    // goes on from the last of them before the change (a wrong one fails the read below).
    archive.verifyEntries({QStringLiteral("s.xml")});
    for (const qint64 offset : {qint64(0), qint64(100000), qint64(original.size() - 10)}) {
        const ZipArchive::CrcCheckpoint checkpoint = archive.crcCheckpoint(QStringLiteral("s.xml"), offset);
        EXPECT_LE(checkpoint.offset, offset);
        EXPECT_GT(checkpoint.offset, offset - ZipArchive::kCrcStep);
        EXPECT_EQ(checkpoint.crc, crc32(0, reinterpret_cast<const Bytef *>(original.constData()), uInt(checkpoint.offset)));
    }
    SplicedXmlPart part(archive, QStringLiteral("s.xml"), "sheetData");
    EXPECT_EQ(part.element("pageMargins"), margins);
    EXPECT_TRUE(part.element("pageSetup").isEmpty());
    EXPECT_TRUE(part.setElement("pageSetup", "<x:pageSetup orientation=\"landscape\"/>", order::worksheet));
    QByteArray expected = original;
    expected.insert(expected.lastIndexOf("</x:worksheet>"), "<x:pageSetup orientation=\"landscape\"/>");
    const ZipArchive rebuilt = ZipArchive::fromBytes(archive.rebuilt({part.change(archive)}));
    EXPECT_EQ(rebuilt.read(QStringLiteral("s.xml")), expected);
}

TEST(SheetSplice, DamagedEntriesFailToOpen)
{
    const QByteArray data = rows(2000);
    for (const QByteArray &bad :
        {"<worksheet><sheetData>" + data + "</sheetData>", "<worksheet><sheetData>" + data + "</sheetdata></worksheet>"}) {
        const ZipArchive archive = ZipArchive::fromBytes(archiveWith(bad, ZIP_CM_DEFLATE, 6));
        EXPECT_THROW(SplicedXmlPart(archive, QStringLiteral("s.xml"), "sheetData"), EngineError);
    }
}

// The same change made on a full tree of the sheet, the way a parser-based editor makes it.
void referenceEdit(XmlPart &sheet)
{
    pugi::xml_node root = sheet.root();
    const auto order = xml::localName(root) == "chartsheet" ? std::span<const std::string_view>(order::chartsheet)
                                                            : std::span<const std::string_view>(order::worksheet);
    pugi::xml_node pageSetup = xml::child(root, "pageSetup");
    if (!pageSetup)
        pageSetup = xml::insertChild(root, xml::siblingName(root, "pageSetup"), order);
    pugi::xml_attribute orientation = pageSetup.attribute("orientation");
    if (!orientation)
        orientation = xml::insertAttribute(pageSetup, "orientation", order::pageSetupAttributes);
    orientation.set_value("landscape");
    pugi::xml_node headerFooter = xml::child(root, "headerFooter");
    if (!headerFooter)
        headerFooter = xml::insertChild(root, xml::siblingName(root, "headerFooter"), order);
    pugi::xml_node footer = xml::child(headerFooter, "oddFooter");
    if (!footer)
        footer = xml::insertChild(headerFooter, xml::siblingName(headerFooter, "oddFooter"), order::headerFooter);
    HeaderFooterText text = HeaderFooterText::parse(decodeXmlText(xml::text(footer)));
    text.center = QStringLiteral("Page &P");
    xml::setText(footer, encodeXmlText(text.compose()));
}

// What a reader sees of a sheet: the element children of the root in order, and the
// attributes and text of the page setup elements.
QString outline(const QByteArray &xml)
{
    const auto document = test::parseXml(xml);
    const pugi::xml_node root = document->document_element();
    QString out = test::childNames(root).join(u' ');
    for (const char *name : {"pageSetup", "headerFooter"}) {
        const pugi::xml_node node = xml::child(root, name);
        for (pugi::xml_attribute attribute : node.attributes())
            out += QStringLiteral(" %1=%2").arg(QString::fromUtf8(attribute.name()), QString::fromUtf8(attribute.value()));
        for (pugi::xml_node child : node.children())
            out += QStringLiteral(" %1:%2").arg(QString::fromUtf8(child.name()), QString::fromUtf8(child.text().get()));
    }
    return out;
}

TEST(SheetSplice, EveryCorpusSheetComesOutAsAFullParseWouldEditIt)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xlsx"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    int sheets = 0;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files)) {
        SCOPED_TRACE(file.toStdString());
        const QString path = gm::test::copyInto(QDir(folder).filePath(file), dir.path());
        std::unique_ptr<PackageWorkbook> workbook;
        try {
            workbook = std::make_unique<PackageWorkbook>(path);
        } catch (const EngineError &) {
            continue; // not an editable package: covered elsewhere
        }
        QStringList parts;
        {
            OpcPackage package(ZipArchive::fromFile(path));
            const WorkbookModel model(package);
            for (const SheetEntry &entry : model.sheets()) {
                if (entry.kind != SheetKind::Other)
                    parts.append(entry.partName);
            }
        }
        const test::RawPackage before = test::readRaw(path);
        std::map<QString, QByteArray> originals;
        for (const QString &part : parts)
            originals[part] = gm::test::zipEntry(path, part);
        for (int i = 1; i <= workbook->sheetCount(); ++i) {
            auto sheet = workbook->sheet(i);
            try {
                sheet->setOrientation(Orientation::Landscape);
                sheet->setHeaderFooter(HeaderFooterSection::CenterFooter, QStringLiteral("Page &P"));
            } catch (const EngineError &error) {
                EXPECT_EQ(error.code(), ErrorCode::NotSupported);
            }
        }
        workbook->close(true);
        // Other entries keep their stored bytes; printer settings follow the orientation.
        const test::RawPackage after = test::readRaw(path);
        EXPECT_EQ(after.order, before.order);
        for (const auto &[name, entry] : before.entries) {
            if (!parts.contains(name) && !name.contains(QLatin1String("printerSettings"))) {
                EXPECT_TRUE(after.entries.at(name).compressed == entry.compressed) << name.toStdString();
            }
        }
        for (const QString &part : parts) {
            SCOPED_TRACE(part.toStdString());
            ++sheets;
            XmlPart reference(part, originals[part]);
            referenceEdit(reference);
            const QByteArray spliced = gm::test::zipEntry(path, part);
            EXPECT_EQ(outline(spliced), outline(reference.serialize()));
            // The cell data is carried over byte for byte.
            const qsizetype start = originals[part].indexOf("<sheetData");
            const qsizetype end = originals[part].indexOf("</sheetData>");
            if (start >= 0 && end > start) {
                const QByteArray cells = originals[part].mid(start, end - start);
                EXPECT_EQ(spliced.indexOf(cells), start);
            }
        }
    }
    EXPECT_GT(sheets, 100);
}

} // namespace
} // namespace gm::xlsx
