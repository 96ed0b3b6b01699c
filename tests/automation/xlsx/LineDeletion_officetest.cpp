// Rows and columns deleted by the package editor, checked against the engine deleting the
// same lines itself: every remaining formula must compute to what the engine computes, an
// independent reader must read the result, and parts that do not refer to the sheet keep
// their bytes. Refusals leave the file as it was.

#include "DrawnSheetFixture.h"
#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/lo/LoApplication.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "support/TestSupport.h"
#include "support/WorkbookReader.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace gm {
namespace {

using test::writeZip;
using test::zipEntry;

const char *contentTypes = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet3.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/calcChain.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/></Types>)";

const char *rootRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)";

const char *workbookRels = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet3.xml"/><Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/></Relationships>)";

const char *workbook = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Data" sheetId="1" r:id="rId1"/><sheet name="Calc" sheetId="2" r:id="rId2"/><sheet name="Notes" sheetId="3" r:id="rId3"/></sheets><definedNames><definedName name="_xlnm.Print_Area" localSheetId="0">Data!$A$1:$F$12</definedName><definedName name="Total">Data!$A$2:$A$9</definedName></definedNames><calcPr calcId="191029"/></workbook>)";

const char *sheetHead = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)";

// Formula cells carry no cached result, so that the engine computes every one of them when it
// loads the file rather than showing a stored value.
// Data: values 1..12 in A, a shared formula down B, sums and single references in C, a
// second shared group in F whose master sits inside the rows deleted below, merged ranges,
// a conditional format, a validation and hyperlinks.
QByteArray dataSheet()
{
    QByteArray rows;
    for (int r = 1; r <= 12; ++r) {
        QByteArray row = "<row r=\"" + QByteArray::number(r) + "\">";
        row += "<c r=\"A" + QByteArray::number(r) + "\"><v>" + QByteArray::number(r * r) + "</v></c>";
        if (r == 1)
            row += "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B12\" si=\"0\">A1*2+$A$1</f></c>";
        else
            row += "<c r=\"B" + QByteArray::number(r) + "\"><f t=\"shared\" si=\"0\"/></c>";
        static const char *sums[] = {"SUM(A1:A12)", "SUM(A4:A6)", "A10+A2", "SUM(A3:A8)", "SUM($A$5:$A$12)", "Calc!A1+A12",
            "COUNT(A:A)", "SUM(2:3)", "SUM(D1:E1)"};
        if (r <= 9)
            row += "<c r=\"C" + QByteArray::number(r) + "\"><f>" + sums[r - 1] + "</f></c>";
        if (r == 4)
            row += "<c r=\"F4\"><f t=\"shared\" ref=\"F4:F10\" si=\"1\">A4+A5</f></c>";
        else if (r > 4 && r <= 10)
            row += "<c r=\"F" + QByteArray::number(r) + "\"><f t=\"shared\" si=\"1\"/></c>";
        rows += row + "</row>";
    }
    return sheetHead + QByteArray("<dimension ref=\"A1:F12\"/><sheetData>") + rows
        + "</sheetData><mergeCells count=\"2\"><mergeCell ref=\"D1:E3\"/><mergeCell ref=\"D5:E8\"/></mergeCells>"
          "<conditionalFormatting sqref=\"A2:A12\"><cfRule type=\"expression\" priority=\"1\"><formula>A2&gt;B2</formula>"
          "</cfRule></conditionalFormatting><dataValidations count=\"1\"><dataValidation type=\"whole\" sqref=\"A5:A9\">"
          "<formula1>0</formula1><formula2>$A$12</formula2></dataValidation></dataValidations>"
          "<hyperlinks><hyperlink ref=\"A5\" location=\"Calc!A1\"/><hyperlink ref=\"A11\" location=\"Calc!A2\"/></hyperlinks>"
          "</worksheet>";
}

// Calc: references into Data, unqualified ones of its own, a shared group over Data and a
// defined name.
QByteArray calcSheet()
{
    static const char *formulas[] = {
        "SUM(Data!A1:A12)", "Data!A5", "Data!A8*2", "SUM(Data!A3:A7)", "SUM(Total)", "Data!B12+A1", "SUM(Data!D1:F1)", "Data!C1"};
    QByteArray rows;
    for (int r = 1; r <= 8; ++r) {
        rows += "<row r=\"" + QByteArray::number(r) + "\"><c r=\"A" + QByteArray::number(r) + "\"><f>" + formulas[r - 1]
            + "</f></c>";
        if (r == 1)
            rows += "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B8\" si=\"0\">Data!A3</f></c>";
        else
            rows += "<c r=\"B" + QByteArray::number(r) + "\"><f t=\"shared\" si=\"0\"/></c>";
        rows += "</row>";
    }
    return sheetHead + QByteArray("<sheetData>") + rows + "</sheetData></worksheet>";
}

QByteArray notesSheet()
{
    return sheetHead
        + QByteArray("<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>untouched</t></is></c></row></sheetData>"
                     "</worksheet>");
}

void writeFixture(const QString &path)
{
    const QByteArray chain = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><c r="B1" i="1"/><c r="A1" i="2"/></calcChain>)";
    writeZip(path,
        {{QStringLiteral("[Content_Types].xml"), contentTypes}, {QStringLiteral("_rels/.rels"), rootRels},
            {QStringLiteral("xl/workbook.xml"), workbook}, {QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRels},
            {QStringLiteral("xl/worksheets/sheet1.xml"), dataSheet()}, {QStringLiteral("xl/worksheets/sheet2.xml"), calcSheet()},
            {QStringLiteral("xl/worksheets/sheet3.xml"), notesSheet()}, {QStringLiteral("xl/calcChain.xml"), chain}});
}

QString cellName(int row, int column)
{
    return QString(QChar(u'A' + column - 1)) + QString::number(row);
}

// The text the engine shows in every cell of the first rows and columns of each worksheet.
std::map<QString, QString> engineTexts(lo::LoApplication &app, const QString &path)
{
    std::map<QString, QString> texts;
    auto book = app.open(path, true);
    for (int position = 1; position <= book->worksheetCount(); ++position) {
        auto sheet = book->worksheet(position);
        for (int row = 1; row <= 14; ++row) {
            for (int column = 1; column <= 7; ++column) {
                const QString cell = cellName(row, column);
                texts[sheet->name() + u'!' + cell] = sheet->cellText(cell);
            }
        }
    }
    book->close(false);
    return texts;
}

// A copy of a workbook whose formula cells keep their formulas but lose their stored results.
// The engine shows the stored result of a formula when it loads a file, even when the file asks
// for a full recalculation on load (which Excel honours): formulas the editor moved would show
// their results from before the deletion, and the comparison would measure nothing.
QString withoutFormulaResults(const QString &source, const QString &target)
{
    static const QRegularExpression result(QStringLiteral("(</f>|<f\\b[^>]*/>)<v>[^<]*</v>"));
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : test::zipEntryNames(source)) {
        QByteArray data = zipEntry(source, name);
        if (name.startsWith(QStringLiteral("xl/worksheets/")) && name.endsWith(QStringLiteral(".xml")))
            data = QString::fromUtf8(data).replace(result, QStringLiteral("\\1")).toUtf8();
        entries.push_back({name, data});
    }
    writeZip(target, entries);
    return target;
}

// The objects on the grid of a saved workbook, as each writer names them: drawing objects by
// name with their from markers, comment cells, and the cells of the notes.
struct GridObjects
{
    std::map<QString, std::pair<int, int>> from; // name -> (column, row), 0-based
    std::set<QString> withoutCells; // placed on the page, not on the grid
    std::set<QString> keepingTheirSize;
    std::vector<QString> comments;
    std::set<std::pair<int, int>> notes; // (row, column)
};

GridObjects gridObjects(const QString &path)
{
    GridObjects objects;
    static const QRegularExpression anchor(
        QStringLiteral("<xdr:(twoCellAnchor|oneCellAnchor|absoluteAnchor)([^>]*)>(.*?)</xdr:\\1>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression name(QStringLiteral("cNvPr [^>]*name=\"([^\"]*)\""));
    static const QRegularExpression from(
        QStringLiteral("<xdr:from><xdr:col>(\\d+)</xdr:col><xdr:colOff>-?\\d+</xdr:colOff><xdr:row>(\\d+)</xdr:row>"));
    static const QRegularExpression comment(QStringLiteral("<comment ref=\"([A-Z]+[0-9]+)\""));
    static const QRegularExpression note(QStringLiteral("<x:Row>(\\d+)</x:Row>\\s*<x:Column>(\\d+)</x:Column>"));
    for (const QString &entry : test::zipEntryNames(path)) {
        const QString text = QString::fromUtf8(zipEntry(path, entry));
        if (entry.startsWith(QStringLiteral("xl/drawings/drawing")) && entry.endsWith(QStringLiteral(".xml"))) {
            for (const QRegularExpressionMatch &match : anchor.globalMatch(text)) {
                const QString objectName = name.match(match.captured(3)).captured(1);
                const QRegularExpressionMatch marker = from.match(match.captured(3));
                if (match.captured(1) == QStringLiteral("absoluteAnchor"))
                    objects.withoutCells.insert(objectName);
                if (match.captured(1) == QStringLiteral("oneCellAnchor") || match.captured(2).contains(QStringLiteral("oneCell")))
                    objects.keepingTheirSize.insert(objectName);
                objects.from[objectName] = {marker.captured(1).toInt(), marker.captured(2).toInt()};
            }
        } else if (entry.startsWith(QStringLiteral("xl/comments"))) {
            for (const QRegularExpressionMatch &match : comment.globalMatch(text))
                objects.comments.push_back(match.captured(1));
        } else if (entry.endsWith(QStringLiteral(".vml"))) {
            for (const QRegularExpressionMatch &match : note.globalMatch(text))
                objects.notes.insert({match.captured(1).toInt(), match.captured(2).toInt()});
        }
    }
    return objects;
}

// Whether the 1-based line lies in a run written as "D:E", "A", "3:5" or "1".
bool within(int line, const char *run, bool columns)
{
    const QStringList ends = QString::fromUtf8(run).split(u':', Qt::SkipEmptyParts);
    if (ends.isEmpty())
        return false;
    auto number = [&](const QString &end) {
        if (!columns)
            return end.toInt();
        int value = 0;
        for (QChar c : end)
            value = value * 26 + (c.unicode() - u'A' + 1);
        return value;
    };
    return line >= number(ends.front()) && line <= number(ends.back());
}

struct Deletion
{
    const char *sheet;
    const char *columns; // "" for none
    const char *rows;
};

class LineDeletionTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // The editor's result and the engine's own deletion of the same lines in a copy of
    // `source`, compared cell by cell as the engine computes them.
    void compareWithEngine(lo::LoApplication &app, const QString &source, const Deletion &deletion)
    {
        const QString ours = withoutFormulaResults(source, dir.filePath(QStringLiteral("ours.xlsx")));
        const QString theirs = test::copyInto(ours, dir.path(), QStringLiteral("theirs.xlsx"));
        {
            auto book = xlsx::openPackage(ours);
            auto sheet = book->worksheet(QString::fromUtf8(deletion.sheet));
            if (*deletion.columns)
                sheet->deleteColumns(QString::fromUtf8(deletion.columns));
            if (*deletion.rows)
                sheet->deleteRows(QString::fromUtf8(deletion.rows));
            book->close(true);
        }
        {
            auto book = app.open(theirs, false);
            auto sheet = book->worksheet(QString::fromUtf8(deletion.sheet));
            if (*deletion.columns)
                sheet->deleteColumns(QString::fromUtf8(deletion.columns));
            if (*deletion.rows)
                sheet->deleteRows(QString::fromUtf8(deletion.rows));
            book->save();
            book->close(false);
        }
        const std::map<QString, QString> expected = engineTexts(app, theirs);
        const std::map<QString, QString> actual = engineTexts(app, ours);
        for (const auto &[cell, text] : expected) {
            const auto found = actual.find(cell);
            ASSERT_NE(found, actual.end()) << cell.toStdString();
            EXPECT_EQ(found->second.toStdString(), text.toStdString()) << cell.toStdString();
        }
        const test::ReaderResult read = test::readWithOpenpyxl(ours);
        if (read.available) {
            EXPECT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        }
    }

    // After compareWithEngine: the objects left on the grid and the cells of the comments and
    // notes are those the engine leaves, and each object starts in the row and column where
    // the engine starts it (offsets aside: the engine measures rows and columns its own way).
    // Objects that move and size with their cells are compared where the deletion leaves
    // their start. Objects that keep their size and whose start is deleted start where the
    // deleted lines were; the engine drops those that lie wholly inside the deleted lines,
    // where the spreadsheet program keeps them, and the editor does as the latter does.
    void compareObjects(const QString &source, const Deletion &deletion)
    {
        const GridObjects before = gridObjects(source);
        const GridObjects ours = gridObjects(dir.filePath(QStringLiteral("ours.xlsx")));
        const GridObjects theirs = gridObjects(dir.filePath(QStringLiteral("theirs.xlsx")));
        std::set<QString> ourNames;
        std::set<QString> theirNames;
        std::set<QString> keptHere; // kept by the editor, whatever the engine does
        for (const auto &[name, marker] : ours.from) {
            const std::pair<int, int> original = before.from.at(name);
            const bool startsInside
                = within(original.first + 1, deletion.columns, true) || within(original.second + 1, deletion.rows, false);
            const bool keepsItsSize = before.keepingTheirSize.contains(name);
            if (startsInside && keepsItsSize)
                keptHere.insert(name);
            else
                ourNames.insert(name);
            const auto found = theirs.from.find(name);
            if (found == theirs.from.end() || before.withoutCells.contains(name))
                continue;
            if (!startsInside || keepsItsSize) {
                EXPECT_EQ(marker, found->second) << name.toStdString();
            }
        }
        for (const auto &[name, marker] : theirs.from) {
            if (!keptHere.contains(name))
                theirNames.insert(name);
        }
        EXPECT_EQ(ourNames, theirNames);
        EXPECT_EQ(ours.comments, theirs.comments);
        EXPECT_EQ(ours.notes, theirs.notes);
    }

    QTemporaryDir dir;
};

TEST_F(LineDeletionTest, FormulasComputeAsWhenTheEngineDeletesTheSameLines)
{
    const QString source = dir.filePath(QStringLiteral("lines.xlsx"));
    writeFixture(source);
    lo::LoApplication app(libreOfficeProgramDir());
    const Deletion deletions[] = {
        {"Data", "", "4:6"}, // the master of the F group goes; a sum loses its whole range
        {"Data", "", "1:2"}, // the master of the B group goes
        {"Data", "", "12"}, // the last row, which a formula on another sheet names
        {"Data", "B", ""}, // the shared column itself
        {"Data", "D:E", ""}, // the merged columns
        {"Data", "A", "3:4"}, // columns first, then the rows of the result
        {"Calc", "", "1"}, // the other sheet: its own unqualified references move
    };
    for (const Deletion &deletion : deletions) {
        SCOPED_TRACE(std::string(deletion.sheet) + " columns " + deletion.columns + " rows " + deletion.rows);
        compareWithEngine(app, source, deletion);
    }
}

TEST_F(LineDeletionTest, ObjectsAndCommentsLandWhereTheEngineLeavesThem)
{
    const QString source = dir.filePath(QStringLiteral("objects.xlsx"));
    test::writeDrawnSheetWorkbook(source);
    lo::LoApplication app(libreOfficeProgramDir());
    const Deletion deletions[] = {
        {"Data", "", "3:5"}, // boxes cut, a picture covered whole, a comment on a deleted row
        {"Data", "D:E", ""}, // two boxes covered whole, a comment in a deleted column
        {"Data", "A", "1"}, // everything moves left and up
        {"Data", "", "10:11"}, // objects that keep their size lie inside
        {"Data", "", "11"}, // the tall row under an object that keeps its size
        {"Data", "H", ""}, // the wide column before an object that stays in place
    };
    for (const Deletion &deletion : deletions) {
        SCOPED_TRACE(std::string(deletion.sheet) + " columns " + deletion.columns + " rows " + deletion.rows);
        compareWithEngine(app, source, deletion);
        compareObjects(source, deletion);
    }
}

TEST_F(LineDeletionTest, TheSheetAroundTheCellsFollowsAndOtherPartsKeepTheirBytes)
{
    const QString source = dir.filePath(QStringLiteral("lines.xlsx"));
    writeFixture(source);
    const QString path = test::copyInto(source, dir.path(), QStringLiteral("edited.xlsx"));
    {
        auto book = xlsx::openPackage(path);
        book->worksheet(QStringLiteral("Data"))->deleteRows(QStringLiteral("4:6"));
        book->close(true);
    }
    const QString sheet = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml")));
    for (const char *expected : {"<dimension ref=\"A1:F9\"/>", "<mergeCell ref=\"D1:E3\"/><mergeCell ref=\"D4:E5\"/>",
             "mergeCells count=\"2\"", "sqref=\"A2:A9\"", "<formula>A2&gt;B2</formula>", "sqref=\"A4:A6\"",
             "<formula2>$A$9</formula2>", "<hyperlink ref=\"A8\" location=\"Calc!A2\"/>"}) {
        EXPECT_TRUE(sheet.contains(QString::fromUtf8(expected))) << expected << "\n" << sheet.toStdString();
    }
    // The hyperlink on a deleted row has gone.
    EXPECT_FALSE(sheet.contains(QStringLiteral("location=\"Calc!A1\"")));
    const QString names = QString::fromUtf8(zipEntry(path, QStringLiteral("xl/workbook.xml")));
    EXPECT_TRUE(names.contains(QStringLiteral(">Data!$A$1:$F$9<"))) << names.toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral(">Data!$A$2:$A$6<"))) << names.toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("fullCalcOnLoad=\"1\"")));
    EXPECT_FALSE(test::zipEntryNames(path).contains(QStringLiteral("xl/calcChain.xml")));
    EXPECT_FALSE(zipEntry(path, QStringLiteral("xl/_rels/workbook.xml.rels")).contains("calcChain"));
    EXPECT_EQ(
        zipEntry(path, QStringLiteral("xl/worksheets/sheet3.xml")), zipEntry(source, QStringLiteral("xl/worksheets/sheet3.xml")));
}

TEST_F(LineDeletionTest, CorpusWorkbooksComputeAsWhenTheEngineDeletes)
{
    struct Corpus
    {
        const char *file;
        Deletion deletion;
    };
    const Corpus cases[] = {
        {"xlsx/cond_format01.xlsx", {"Sheet1", "", "2:3"}},
        {"xlsx/data_validation01.xlsx", {"Sheet1", "", "1"}},
        {"xlsx/merge_range01.xlsx", {"Sheet1", "A", "2"}},
        {"xlsx/outline01.xlsx", {"Outlined Rows", "", "3:4"}},
        {"xlsx/escapes01.xlsx", {"5&4", "", "1"}},
        {"xlsx/array_formula01.xlsx", {"Sheet1", "", "8:9"}},
        {"xlsx/table01.xlsx", {"Sheet1", "", "1"}},
        {"xlsx/image01.xlsx", {"Sheet1", "", "1:2"}},
        {"xlsx/poi-62629_toMerge.xlsx", {"5P_CM", "", "5"}}, // a short row under a picture that keeps its size
        {"xlsx/chart_bar01.xlsx", {"Sheet1", "", "2:3"}},
        {"xlsx/comment01.xlsx", {"Sheet1", "", "1"}},
        {"xlsx/comment02.xlsx", {"Sheet1", "", "2"}},
    };
    const QString first = test::corpusFile(QString::fromUtf8(cases[0].file));
    if (first.isEmpty())
        GTEST_SKIP() << "the shared corpus is not there";
    lo::LoApplication app(libreOfficeProgramDir());
    for (const Corpus &c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = test::corpusFile(QString::fromUtf8(c.file));
        compareWithEngine(app, source, c.deletion);
        compareObjects(source, c.deletion);
    }
}

TEST_F(LineDeletionTest, RefusalsLeaveTheFileAsItWas)
{
    struct Refusal
    {
        const char *file;
        Deletion deletion;
        ErrorCode expected;
    };
    const Refusal cases[] = {
        {"xlsx/array_formula01.xlsx", {"Sheet1", "", "1"}, ErrorCode::ArrayFormulaPart},
        {"xlsx/poi-TablesWithDifferentHeaders.xlsx", {"IntHeaders", "", "1"}, ErrorCode::LineDeletionHeader},
        {"xlsx/poi-WithChartSheet.xlsx", {"Sheet6", "", "1"}, ErrorCode::LineDeletionPivotTable},
        {"xlsx/button01.xlsx", {"Sheet1", "", "1"}, ErrorCode::LineDeletionUnsupported},
    };
    if (test::corpusFile(QString::fromUtf8(cases[0].file)).isEmpty())
        GTEST_SKIP() << "the shared corpus is not there";
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = test::copyInto(test::corpusFile(QString::fromUtf8(c.file)), dir.path());
        const QByteArray before = test::readAll(path);
        auto book = xlsx::openPackage(path);
        auto sheet = book->worksheet(QString::fromUtf8(c.deletion.sheet));
        try {
            sheet->deleteRows(QString::fromUtf8(c.deletion.rows));
            ADD_FAILURE() << "deleted";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.expected) << e.what();
        }
        book->close(true);
        EXPECT_EQ(test::readAll(path), before);
    }
}

} // namespace
} // namespace gm
