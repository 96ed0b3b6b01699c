// Rows and columns deleted under pictures, charts, shapes and comments by the package editor,
// read back with pugixml and openpyxl: objects move with their cells, shrink when partly
// covered and go when covered whole; objects that keep their size or place are measured in
// the sheet's heights and widths; comments, threaded comments and their notes follow their
// cells, and parts nothing uses any more go. Controls are refused, the file unchanged.

#include "DrawnSheetFixture.h"
#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "support/WorkbookReader.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace gm::xlsx {
namespace {

using gm::test::zipEntry;

// An anchor as written: "col,colOff,row,rowOff" of its from and to markers ("" when absent).
struct Anchor
{
    std::string from;
    std::string to;
    bool operator==(const Anchor &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Anchor &anchor)
{
    return out << "from " << anchor.from << " to " << anchor.to;
}

std::string marker(pugi::xml_node node)
{
    if (!node)
        return {};
    return std::string(node.child_value("xdr:col")) + ',' + node.child_value("xdr:colOff") + ',' + node.child_value("xdr:row")
        + ',' + node.child_value("xdr:rowOff");
}

// The objects of a drawing part by their names. The alternatives of an mc:AlternateContent
// must stand where its first one stands.
std::map<std::string, Anchor> anchors(const QString &path, const QString &part = QStringLiteral("xl/drawings/drawing1.xml"))
{
    std::map<std::string, Anchor> result;
    const auto drawing = test::parseXml(zipEntry(path, part));
    for (pugi::xml_node object : drawing->document_element().children()) {
        std::vector<pugi::xml_node> alternatives{object};
        if (std::string_view(object.name()) == "mc:AlternateContent") {
            alternatives.clear();
            for (pugi::xml_node alternative : object.children())
                alternatives.push_back(alternative.first_child());
        }
        for (pugi::xml_node anchor : alternatives) {
            const pugi::xml_node name
                = anchor.find_node([](pugi::xml_node n) { return std::string_view(n.name()) == "xdr:cNvPr"; });
            const Anchor read{marker(anchor.child("xdr:from")), marker(anchor.child("xdr:to"))};
            if (anchor == alternatives.front())
                result[name.attribute("name").value()] = read;
            else
                EXPECT_EQ(read, result[name.attribute("name").value()]) << name.attribute("name").value();
        }
    }
    return result;
}

std::vector<std::string> commentRefs(const QString &path)
{
    std::vector<std::string> refs;
    const auto comments = test::parseXml(zipEntry(path, QStringLiteral("xl/comments1.xml")));
    for (pugi::xml_node comment : comments->document_element().child("commentList").children("comment"))
        refs.emplace_back(comment.attribute("ref").value());
    return refs;
}

// Each note of a VML drawing: "row,column|anchor".
std::vector<std::string> notes(const QString &path)
{
    static const QRegularExpression note(
        QStringLiteral("<x:Anchor>\\s*([^<]*)</x:Anchor>.*?<x:Row>(\\d+)</x:Row>\\s*<x:Column>(\\d+)</x:Column>"),
        QRegularExpression::DotMatchesEverythingOption);
    std::vector<std::string> result;
    const QString vml = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/drawings/vmlDrawing1.vml")));
    for (const QRegularExpressionMatch &match : note.globalMatch(vml))
        result.push_back((match.captured(2) + u',' + match.captured(3) + u'|' + match.captured(1).trimmed()).toStdString());
    return result;
}

void deleteLines(const QString &path, const QString &sheet, const QString &columns, const QString &rows)
{
    auto book = openPackage(path);
    if (!columns.isEmpty())
        book->worksheet(sheet)->deleteColumns(columns);
    if (!rows.isEmpty())
        book->worksheet(sheet)->deleteRows(rows);
    book->close(true);
}

TEST(LineDeletionObjects, ObjectsCommentsAndNotesFollowTheCells)
{
    struct Case
    {
        const char *columns;
        const char *rows;
        std::map<std::string, Anchor> objects;
        std::vector<std::string> comments;
        std::vector<std::string> notes;
        bool pictureKept;
    };
    const Anchor frame{"", ""};
    const Case cases[] = {
        // Rows 3:5: Box 1 loses its last row, Box 2 its top, the picture lies inside and goes;
        // the comment on B5 goes with its note; later objects and notes move up by three.
        // Box 4 stays where it was: on the tall row, which has come up under it.
        {"", "3:5",
            {{"Box 1", {"3,0,1,0", "5,0,2,0"}}, {"Box 2", {"3,0,2,0", "5,0,5,100000"}}, {"Box 3", {"6,0,6,0", "7,0,7,190500"}},
                {"Label", {"1,0,7,0", ""}}, {"Frame", frame}, {"Box 4", {"10,0,7,190500", "11,0,8,95250"}}},
            {"A2", "D6"}, {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "5,3|4, 15, 5, 10, 6, 15, 9, 4"}, false},
        // Row 12, after every object and comment: nothing on the grid moves.
        {"", "12",
            {{"Box 1", {"3,0,1,0", "5,0,3,0"}}, {"Box 2", {"3,0,4,50000", "5,0,8,100000"}},
                {"Box 3", {"6,0,9,0", "7,0,10,190500"}}, {"Label", {"1,0,10,0", ""}}, {"Frame", frame},
                {"Picture", {"8,0,3,0", "9,100,4,100"}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}},
            {"A2", "B5", "D9"},
            {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "4,1|2, 15, 4, 10, 4, 15, 8, 4", "8,3|4, 15, 8, 10, 6, 15, 12, 4"}, true},
        // Columns D:E hold Box 1 (both its alternatives) and Box 2 whole and the comment on
        // D9; the note on B5, whose box starts before the columns, keeps its width. Box 4
        // stays, over columns as wide as those it stood on.
        {"D:E", "",
            {{"Box 3", {"4,0,9,0", "5,0,10,190500"}}, {"Label", {"1,0,10,0", ""}}, {"Frame", frame},
                {"Picture", {"6,0,3,0", "7,100,4,100"}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}},
            {"A2", "B5"}, {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "4,1|2, 15, 4, 10, 4, 15, 8, 4"}, true},
        // Column A first (the note on A2 goes, boxes move left), then row 1 of the result.
        {"A", "1",
            {{"Box 1", {"2,0,0,0", "4,0,2,0"}}, {"Box 2", {"2,0,3,50000", "4,0,7,100000"}},
                {"Box 3", {"5,0,8,0", "6,0,9,190500"}}, {"Label", {"0,0,9,0", ""}}, {"Frame", frame},
                {"Picture", {"7,0,2,0", "8,100,3,100"}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}},
            {"A4", "C8"}, {"3,0|1, 15, 3, 10, 3, 15, 7, 4", "7,2|3, 15, 7, 10, 5, 15, 11, 4"}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("columns ") + c.columns + " rows " + c.rows);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("objects.xlsx"));
        gm::test::writeDrawnSheetWorkbook(path);
        const QByteArray png = zipEntry(path, QStringLiteral("xl/media/image1.png"));
        deleteLines(path, QStringLiteral("Data"), QString::fromUtf8(c.columns), QString::fromUtf8(c.rows));
        EXPECT_EQ(anchors(path), c.objects);
        EXPECT_EQ(commentRefs(path), c.comments);
        EXPECT_EQ(notes(path), c.notes);
        // A removed picture gives up its relationship and its image, which nothing else shows.
        EXPECT_EQ(zipEntry(path, QStringLiteral("xl/drawings/_rels/drawing1.xml.rels")).contains("image1.png"), c.pictureKept);
        EXPECT_EQ(gm::test::zipEntryNames(path).contains(QStringLiteral("xl/media/image1.png")), c.pictureKept);
        if (c.pictureKept) {
            EXPECT_EQ(zipEntry(path, QStringLiteral("xl/media/image1.png")), png);
        }

        const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
        if (!read.available)
            continue;
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const gm::test::ReaderSheet *sheet = read.sheet(QStringLiteral("Data"));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->images, c.pictureKept ? 1 : 0);
    }
}

// Objects that keep their size (Box 3, Label) or their place (Box 4) while the deletion cuts
// them, placed with the tall row 10 and the wide column 7 of the sheet.
TEST(LineDeletionObjects, ObjectsKeepingTheirSizeOrPlaceAreMeasuredInTheSheet)
{
    struct Case
    {
        const char *columns;
        const char *rows;
        std::map<std::string, Anchor> objects;
    };
    const Case cases[] = {
        // Box 3's top row goes: it starts where that row was and ends on the tall row after it.
        {"", "10", {{"Box 3", {"6,0,9,0", "7,0,10,0"}}, {"Label", {"1,0,9,0", ""}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}}},
        // Box 3 and the label lie inside: they keep their size where the rows were.
        {"", "10:11", {{"Box 3", {"6,0,9,0", "7,0,11,0"}}, {"Label", {"1,0,9,0", ""}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}}},
        // Box 3's left column goes; the wide column takes its place under it.
        {"G", "", {{"Box 3", {"6,0,9,0", "6,609600,10,190500"}}, {"Box 4", {"10,0,8,0", "11,0,9,95250"}}}},
        // The wide column goes: Box 4 now stands over narrower columns, further along them.
        {"H", "", {{"Box 3", {"6,0,9,0", "7,0,10,190500"}}, {"Box 4", {"11,161925,8,0", "12,161925,9,95250"}}}},
        // The label's column goes: it starts where the column was.
        {"B", "", {{"Box 3", {"5,0,9,0", "6,0,10,190500"}}, {"Label", {"1,0,10,0", ""}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("columns ") + c.columns + " rows " + c.rows);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("objects.xlsx"));
        gm::test::writeDrawnSheetWorkbook(path);
        deleteLines(path, QStringLiteral("Data"), QString::fromUtf8(c.columns), QString::fromUtf8(c.rows));
        const std::map<std::string, Anchor> all = anchors(path);
        for (const auto &[name, anchor] : c.objects) {
            ASSERT_TRUE(all.contains(name)) << name;
            EXPECT_EQ(all.at(name), anchor) << name;
        }
    }
}

// Files saved by the spreadsheet program: a picture that moves but keeps its size, a chart
// that moves and sizes with its cells, and notes.
TEST(LineDeletionObjects, CorpusPicturesChartsAndNotesFollowTheirCells)
{
    struct Case
    {
        const char *file;
        const char *rows;
        std::map<std::string, Anchor> objects; // empty: the workbook has no drawing
        std::vector<std::string> comments;
        int images;
        int charts;
        const char *sheet = "Sheet1";
    };
    const Case cases[] = {
        {"xlsx/image01.xlsx", "1:2", {{"Picture 1", {"4,0,6,0", "4,304800,7,114300"}}}, {}, 1, 0},
        // Rows of 15, 5.25, 20.25 and 15 points under a picture that keeps its size: the row
        // under its top goes, and it ends further down the rows that come up.
        {"xlsx/poi-62629_toMerge.xlsx", "4", {{"Picture 2", {"1,133350,3,0", "4,19050,6,137160"}}}, {}, 1, 0, "5P_CM"},
        {"xlsx/chart_bar01.xlsx", "10:12", {{"Chart 1", {"4,0,8,0", "11,304800,19,76200"}}}, {}, 0, 1},
        // The chart lies within rows 9 to 23 whole: it goes.
        {"xlsx/chart_bar01.xlsx", "9:23", {}, {}, 0, 0},
        {"xlsx/comment02.xlsx", "2", {}, {"D16"}, 0, 0},
        {"xlsx/comment02.xlsx", "1", {}, {"B1", "D16"}, 0, 0},
    };
    if (gm::test::corpusFile(QString::fromUtf8(cases[0].file)).isEmpty())
        GTEST_SKIP() << "the shared corpus is not there";
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " rows " + c.rows);
        QTemporaryDir dir;
        const QString source = gm::test::corpusFile(QString::fromUtf8(c.file));
        const QString path = gm::test::copyInto(source, dir.path());
        deleteLines(path, QString::fromUtf8(c.sheet), {}, QString::fromUtf8(c.rows));
        const QStringList entries = gm::test::zipEntryNames(path);
        if (entries.contains(QStringLiteral("xl/drawings/drawing1.xml"))) {
            EXPECT_EQ(anchors(path), c.objects);
        }
        if (entries.contains(QStringLiteral("xl/comments1.xml"))) {
            EXPECT_EQ(commentRefs(path), c.comments);
        }
        // Pictures and charts that stay keep their bytes; those no object shows any more go.
        EXPECT_EQ(!entries.filter(QStringLiteral("xl/charts/chart")).isEmpty(), c.charts > 0);
        EXPECT_EQ(!entries.filter(QStringLiteral("xl/media/")).isEmpty(), c.images > 0);
        for (const QString &entry : entries) {
            if (entry.startsWith(QStringLiteral("xl/media/")) || entry.startsWith(QStringLiteral("xl/charts/"))) {
                EXPECT_EQ(zipEntry(path, entry), zipEntry(source, entry)) << entry.toStdString();
            }
        }
        const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
        if (!read.available)
            continue;
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const gm::test::ReaderSheet *sheet = read.sheet(QString::fromUtf8(c.sheet));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->images, c.images);
        EXPECT_EQ(sheet->charts, c.charts);
    }
}

// A workbook saved by the spreadsheet program whose one comment, on B2, is also a threaded
// comment with a reply, and the list of people who wrote them.
QString threadedCommentWorkbook(const QString &folder)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xlsx/comment01.xlsx"));
    if (source.isEmpty())
        return {};
    const QByteArray threaded = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<ThreadedComments xmlns="http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments" xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><threadedComment ref="B2" dT="2024-03-01T09:00:00.00" personId="{6A1C2B3D-0000-4000-8000-000000000001}" id="{6A1C2B3D-0000-4000-8000-0000000000A1}"><text>Some text</text></threadedComment><threadedComment ref="B2" dT="2024-03-01T09:05:00.00" personId="{6A1C2B3D-0000-4000-8000-000000000001}" id="{6A1C2B3D-0000-4000-8000-0000000000A2}" parentId="{6A1C2B3D-0000-4000-8000-0000000000A1}"><text>A reply</text></threadedComment></ThreadedComments>)";
    const QByteArray persons = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<personList xmlns="http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments" xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><person displayName="John" id="{6A1C2B3D-0000-4000-8000-000000000001}" userId="John" providerId="None"/></personList>)";
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source)) {
        QByteArray data = zipEntry(source, name);
        if (name == QStringLiteral("[Content_Types].xml"))
            data.replace("</Types>",
                "<Override PartName=\"/xl/threadedComments/threadedComment1.xml\" "
                "ContentType=\"application/vnd.ms-excel.threadedcomments+xml\"/><Override PartName=\"/xl/persons/person.xml\" "
                "ContentType=\"application/vnd.ms-excel.person+xml\"/></Types>");
        else if (name == QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"))
            data.replace("</Relationships>",
                "<Relationship Id=\"rId3\" Type=\"http://schemas.microsoft.com/office/2017/10/relationships/threadedComment\" "
                "Target=\"../threadedComments/threadedComment1.xml\"/></Relationships>");
        else if (name == QStringLiteral("xl/_rels/workbook.xml.rels"))
            data.replace("</Relationships>",
                "<Relationship Id=\"rId9\" Type=\"http://schemas.microsoft.com/office/2017/10/relationships/person\" "
                "Target=\"persons/person.xml\"/></Relationships>");
        entries.push_back({name, data});
    }
    entries.push_back({QStringLiteral("xl/threadedComments/threadedComment1.xml"), threaded});
    entries.push_back({QStringLiteral("xl/persons/person.xml"), persons});
    const QString path = QDir(folder).filePath(QStringLiteral("threaded.xlsx"));
    gm::test::writeZip(path, entries);
    return path;
}

// Threaded comments move with their cell, replies too; when the last comment goes, the
// comments, the threaded comments and the notes' drawing go with their relationships, their
// content types and the sheet's legacyDrawing, and the list of people stays.
TEST(LineDeletionObjects, ThreadedCommentsFollowTheirCellAndEmptyCommentPartsGo)
{
    QTemporaryDir dir;
    const QString source = threadedCommentWorkbook(dir.path());
    if (source.isEmpty())
        GTEST_SKIP() << "the shared corpus is not there";
    const QString threadedPart = QStringLiteral("xl/threadedComments/threadedComment1.xml");
    auto threadedRefs = [&](const QString &path) {
        std::vector<std::string> refs;
        const auto threaded = test::parseXml(zipEntry(path, threadedPart));
        for (pugi::xml_node comment : threaded->document_element().children("threadedComment"))
            refs.emplace_back(comment.attribute("ref").value());
        return refs;
    };
    {
        const QString path = gm::test::copyInto(source, dir.path(), QStringLiteral("moved.xlsx"));
        deleteLines(path, QStringLiteral("Sheet1"), {}, QStringLiteral("1"));
        EXPECT_EQ(commentRefs(path), std::vector<std::string>{"B1"});
        EXPECT_EQ(threadedRefs(path), (std::vector<std::string>{"B1", "B1"}));
        EXPECT_EQ(notes(path).size(), 1u);
        EXPECT_TRUE(notes(path).front().starts_with("0,1|")) << notes(path).front();
    }
    const QString path = gm::test::copyInto(source, dir.path(), QStringLiteral("gone.xlsx"));
    deleteLines(path, QStringLiteral("Sheet1"), {}, QStringLiteral("2"));
    const QStringList entries = gm::test::zipEntryNames(path);
    for (const QString &gone : {QStringLiteral("xl/comments1.xml"), threadedPart, QStringLiteral("xl/drawings/vmlDrawing1.vml")}) {
        EXPECT_FALSE(entries.contains(gone)) << gone.toStdString();
    }
    const QByteArray types = zipEntry(path, QStringLiteral("[Content_Types].xml"));
    EXPECT_FALSE(types.contains("comments1.xml") || types.contains("threadedComment1.xml")) << types.toStdString();
    EXPECT_TRUE(types.contains("/xl/persons/person.xml"));
    const QByteArray relationships = zipEntry(path, QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"));
    EXPECT_FALSE(relationships.contains("Relationship ")) << relationships.toStdString();
    EXPECT_FALSE(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")).contains("legacyDrawing"));
    EXPECT_EQ(zipEntry(path, QStringLiteral("xl/persons/person.xml")), zipEntry(source, QStringLiteral("xl/persons/person.xml")));
    const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
    if (read.available) {
        EXPECT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    }
}

} // namespace
} // namespace gm::xlsx
