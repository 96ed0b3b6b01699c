// Rows and columns deleted under pictures, charts, shapes and comments by the package editor,
// read back with pugixml and openpyxl: objects move with their cells, shrink when partly
// covered and go when covered whole; comments and their notes follow their cells. What
// cannot be placed without the sizes of the deleted lines is refused, the file unchanged.

#include "DrawnSheetFixture.h"
#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "support/WorkbookReader.h"

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

// The objects of a drawing part by their names.
std::map<std::string, Anchor> anchors(const QString &path, const QString &part = QStringLiteral("xl/drawings/drawing1.xml"))
{
    std::map<std::string, Anchor> result;
    const auto drawing = test::parseXml(zipEntry(path, part));
    for (pugi::xml_node anchor : drawing->document_element().children()) {
        const pugi::xml_node name = anchor.find_node([](pugi::xml_node n) { return std::string_view(n.name()) == "xdr:cNvPr"; });
        result[name.attribute("name").value()] = {marker(anchor.child("xdr:from")), marker(anchor.child("xdr:to"))};
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
        {"", "3:5",
            {{"Box 1", {"3,0,1,0", "5,0,2,0"}}, {"Box 2", {"3,0,2,0", "5,0,5,100000"}}, {"Box 3", {"6,0,6,0", "7,0,7,190500"}},
                {"Label", {"1,0,7,0", ""}}, {"Frame", frame}},
            {"A2", "D6"}, {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "5,3|4, 15, 5, 10, 6, 15, 9, 4"}, false},
        // Row 12, after every object and comment: nothing on the grid moves.
        {"", "12",
            {{"Box 1", {"3,0,1,0", "5,0,3,0"}}, {"Box 2", {"3,0,4,50000", "5,0,8,100000"}},
                {"Box 3", {"6,0,9,0", "7,0,10,190500"}}, {"Label", {"1,0,10,0", ""}}, {"Frame", frame},
                {"Picture", {"8,0,3,0", "9,100,4,100"}}},
            {"A2", "B5", "D9"},
            {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "4,1|2, 15, 4, 10, 4, 15, 8, 4", "8,3|4, 15, 8, 10, 6, 15, 12, 4"}, true},
        // Columns D:E hold Box 1 and Box 2 whole and the comment on D9; the note on B5, whose
        // box starts before the columns, keeps its width.
        {"D:E", "",
            {{"Box 3", {"4,0,9,0", "5,0,10,190500"}}, {"Label", {"1,0,10,0", ""}}, {"Frame", frame},
                {"Picture", {"6,0,3,0", "7,100,4,100"}}},
            {"A2", "B5"}, {"1,0|1, 15, 1, 10, 3, 15, 5, 4", "4,1|2, 15, 4, 10, 4, 15, 8, 4"}, true},
        // Column A first (the note on A2 goes, boxes move left), then row 1 of the result.
        {"A", "1",
            {{"Box 1", {"2,0,0,0", "4,0,2,0"}}, {"Box 2", {"2,0,3,50000", "4,0,7,100000"}},
                {"Box 3", {"5,0,8,0", "6,0,9,190500"}}, {"Label", {"0,0,9,0", ""}}, {"Frame", frame},
                {"Picture", {"7,0,2,0", "8,100,3,100"}}},
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
        // A removed picture gives up its relationship; the picture itself stays as it was.
        EXPECT_EQ(zipEntry(path, QStringLiteral("xl/drawings/_rels/drawing1.xml.rels")).contains("image1.png"), c.pictureKept);
        EXPECT_EQ(zipEntry(path, QStringLiteral("xl/media/image1.png")), png);

        const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
        if (!read.available)
            continue;
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const gm::test::ReaderSheet *sheet = read.sheet(QStringLiteral("Data"));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->images, c.pictureKept ? 1 : 0);
    }
}

TEST(LineDeletionObjects, WhatCannotBePlacedExactlyIsRefusedAndTheFileKept)
{
    struct Refusal
    {
        const char *file; // "" for the workbook made here
        const char *sheet;
        const char *columns;
        const char *rows;
        const char *named; // in the message
    };
    const Refusal cases[] = {
        {"", "Data", "", "10:11", "Box 3"}, // moves without sizing, its top row deleted
        {"", "Data", "", "11", "Box 3"}, // its bottom row deleted: its size is its own
        {"", "Data", "B", "", "Label"}, // a one-cell anchor in a deleted column
        {"", "Data", "G", "", "Box 3"}, {"xlsx/button01.xlsx", "Sheet1", "", "1", "Button"}, // a control in the legacy drawing
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " columns " + c.columns + " rows " + c.rows);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("objects.xlsx"));
        if (*c.file) {
            const QString corpus = gm::test::corpusFile(QString::fromUtf8(c.file));
            if (corpus.isEmpty())
                continue;
            path = gm::test::copyInto(corpus, dir.path());
        } else {
            gm::test::writeDrawnSheetWorkbook(path);
        }
        const QByteArray before = gm::test::readAll(path);
        try {
            deleteLines(path, QString::fromUtf8(c.sheet), QString::fromUtf8(c.columns), QString::fromUtf8(c.rows));
            ADD_FAILURE() << "deleted";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::LineDeletionUnsupported);
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QString::fromUtf8(c.named))) << e.what();
        }
        EXPECT_EQ(gm::test::readAll(path), before);
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
    };
    const Case cases[] = {
        {"xlsx/image01.xlsx", "1:2", {{"Picture 1", {"4,0,6,0", "4,304800,7,114300"}}}, {}, 1, 0},
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
        deleteLines(path, QStringLiteral("Sheet1"), {}, QString::fromUtf8(c.rows));
        const QStringList entries = gm::test::zipEntryNames(path);
        if (entries.contains(QStringLiteral("xl/drawings/drawing1.xml"))) {
            EXPECT_EQ(anchors(path), c.objects);
        }
        if (entries.contains(QStringLiteral("xl/comments1.xml"))) {
            EXPECT_EQ(commentRefs(path), c.comments);
        }
        // Pictures and charts whose ranges do not move are never rewritten.
        for (const QString &entry : entries) {
            if (entry.startsWith(QStringLiteral("xl/media/")) || entry.startsWith(QStringLiteral("xl/charts/"))) {
                EXPECT_EQ(zipEntry(path, entry), zipEntry(source, entry)) << entry.toStdString();
            }
        }
        const gm::test::ReaderResult read = gm::test::readWithOpenpyxl(path);
        if (!read.available)
            continue;
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const gm::test::ReaderSheet *sheet = read.sheet(QStringLiteral("Sheet1"));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->images, c.images);
        EXPECT_EQ(sheet->charts, c.charts);
    }
}

} // namespace
} // namespace gm::xlsx
