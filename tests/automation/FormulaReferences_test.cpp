// Sheet qualifiers in formula text: what is read as a qualifier, what is left alone, and the
// rename and delete rewrites, on formula spellings found in Excel-made workbooks.

#include "automation/FormulaReferences.h"

#include <gtest/gtest.h>

using namespace gm::formula;

namespace {

struct Case
{
    const char16_t *formula;
    const char16_t *expected;
};

QString q(const char16_t *text)
{
    return QString::fromUtf16(text);
}

std::string s(const QString &text)
{
    return text.toStdString();
}

} // namespace

TEST(FormulaReferences, QualifiersAreFoundWithTheirSheetsAndSpans)
{
    struct Found
    {
        const char16_t *formula;
        const char16_t *prefixes; // "first|last|x" per qualifier (x: external), joined by ";"
    };
    const Found cases[] = {
        {u"Sheet1!A1", u"Sheet1||"},
        {u"SUM(Sheet1!A1:B2,'Sheet 3'!$A$1)", u"Sheet1||;Sheet 3||"},
        {u"'It''s'!A1", u"It's||"},
        {u"'Sheet''1'!A1+Sheet10!B2", u"Sheet'1||;Sheet10||"},
        {u"Sheet・1!$A$1", u"Sheet・1||"},
        {u"SUM(Jan:Mar!A1)", u"Jan|Mar|"},
        {u"SUM('Jan 1:Mar 3'!A1)", u"Jan 1|Mar 3|"},
        {u"SUM('A':'B'!A1)", u"A|B|"},
        {u"[1]Sheet1!A1+'[2]My Sheet'!B1+[1]!Name+[0]!Macro", u"Sheet1||x;My Sheet||x;||x;||x"},
        {u"INDIRECT(\"Sheet1!A1\")&\"'x'!y\"", u""},
        {u"#REF!A1+Sheet1!#REF!+#REF!", u"Sheet1||"},
        // Another program's spelling of an unknown function's error, and a spill reference.
        {u"#NAME!()+#N/A+A1#+Data!A1#", u"Data||"},
        {u"{\"a!b\",1;2,3}+Table1[[#This Row],[Col'[x']]]", u""},
        {u"1E+3+E3+LOG10(2)", u""},
        {u"Sheet1!A1:Sheet1!B5", u"Sheet1||;Sheet1||"},
        {u"Sheet1!Print_Area", u"Sheet1||"},
        {u"(Data!$A$1:$A$3,Data!$C$1:$C$3)", u"Data||;Data||"},
        {u"_xlfn.XLOOKUP(1,'第二'!A:A,Sheet2!1:1)", u"第二||;Sheet2||"},
    };
    for (const Found &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        QStringList found;
        const QString formula = q(c.formula);
        for (const SheetPrefix &p : sheetPrefixes(formula)) {
            found << p.first + u'|' + p.last + u'|' + (p.external ? QStringLiteral("x") : QString());
            EXPECT_EQ(formula.at(p.start + p.length - 1), u'!');
        }
        EXPECT_EQ(s(found.join(u';')), s(q(c.prefixes)));
    }
}

TEST(FormulaReferences, UnqualifiedNamesLeaveOutFunctionsCellsTablesAndQualifiedNames)
{
    const std::vector<std::pair<QString, QStringList>> cases = {
        {QStringLiteral("SUM(Total)+Rate*2"), {QStringLiteral("Total"), QStringLiteral("Rate")}},
        {QStringLiteral("SUM(A1:B5,$C$1,A:C,2:5)+TRUE"), {}},
        {QStringLiteral("Other!Local+[1]!Ext+'My Sheet'!A1"), {}},
        {QStringLiteral("SUM(Table1[Amount])&\"Total\"&1E3"), {}},
        {QStringLiteral("IF(_x,Data!A1,Net_Sales)"), {QStringLiteral("_x"), QStringLiteral("Net_Sales")}},
    };
    for (const auto &[formula, names] : cases) {
        SCOPED_TRACE(formula.toStdString());
        EXPECT_EQ(unqualifiedNames(formula), names);
    }
}

TEST(FormulaReferences, QuotingFollowsTheWriterRules)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"Sheet1", u"Sheet1!"},
        {u"Sh.eet_1", u"Sh.eet_1!"},
        {u"Sheet 1", u"'Sheet 1'!"},
        {u"It's", u"'It''s'!"},
        {u"1Sheet", u"'1Sheet'!"},
        {u".x", u"'.x'!"},
        {u"A1", u"'A1'!"},
        {u"xfd1048576", u"'xfd1048576'!"},
        {u"XFE1", u"XFE1!"},
        {u"A1048577", u"A1048577!"},
        {u"R", u"'R'!"},
        {u"RC", u"'RC'!"},
        {u"R12x", u"'R12x'!"},
        {u"C3", u"'C3'!"},
        {u"Rate", u"Rate!"},
        {u"第二", u"'第二'!"},
        {u"Sheet&8", u"'Sheet&8'!"},
    };
    for (const auto &[name, expected] : cases) {
        SCOPED_TRACE(s(q(name)));
        EXPECT_EQ(s(qualifier(q(name))), s(q(expected)));
    }
    EXPECT_EQ(s(qualifier(QStringLiteral("Jan"), QStringLiteral("Mar"))), "Jan:Mar!");
    EXPECT_EQ(s(qualifier(QStringLiteral("Jan"), QStringLiteral("Mar 3"))), "'Jan:Mar 3'!");
}

TEST(FormulaReferences, RenameRewritesOnlyQualifiersOfTheSheet)
{
    // Renaming "Sheet1" to "My Data".
    const Case cases[] = {
        {u"Sheet1!A1", u"'My Data'!A1"},
        {u"sheet1!A1*2", u"'My Data'!A1*2"},
        {u"'Sheet1'!$A$1:$B$2", u"'My Data'!$A$1:$B$2"},
        {u"Sheet10!A1+Sheet1!A1", u"Sheet10!A1+'My Data'!A1"},
        {u"'Sheet1 (2)'!A1", u"'Sheet1 (2)'!A1"},
        {u"INDIRECT(\"Sheet1!A1\")", u"INDIRECT(\"Sheet1!A1\")"},
        {u"[1]Sheet1!A1+'[1]Sheet1'!A2", u"[1]Sheet1!A1+'[1]Sheet1'!A2"},
        {u"#REF!A1+Sheet1!#REF!", u"#REF!A1+'My Data'!#REF!"},
        {u"SUM(Sheet1:Sheet3!A1)", u"SUM('My Data:Sheet3'!A1)"},
        {u"SUM(Sheet0:Sheet1!A1)", u"SUM('Sheet0:My Data'!A1)"},
        {u"SUM('Sheet0':'Sheet1'!A1)", u"SUM('Sheet0:My Data'!A1)"},
        {u"Sheet1!Print_Area", u"'My Data'!Print_Area"},
        {u"Sheet1!A1:Sheet1!B5", u"'My Data'!A1:'My Data'!B5"},
        {u"Table1[[#This Row],[Sheet1!]]", u"Table1[[#This Row],[Sheet1!]]"},
        {u"{\"Sheet1!A1\"}", u"{\"Sheet1!A1\"}"},
        {u"A1+B2", u"A1+B2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        EXPECT_EQ(s(renameSheet(q(c.formula), QStringLiteral("Sheet1"), QStringLiteral("My Data"))), s(q(c.expected)));
    }
    // A new name that needs no quotes is written bare, also where the old one was quoted.
    EXPECT_EQ(s(renameSheet(QStringLiteral("'Sheet 3'!A1"), QStringLiteral("Sheet 3"), QStringLiteral("Data"))), "Data!A1");
    EXPECT_EQ(s(renameSheet(QStringLiteral("'a''b'!A1"), QStringLiteral("a'b"), QStringLiteral("c'd"))), "'c''d'!A1");
}

TEST(FormulaReferences, TableRenameRewritesOnlyStructuredReferencesToTheTable)
{
    // Renaming the table "Sales" to "Sales2".
    const Case cases[] = {
        {u"SUM(Sales[Amount])", u"SUM(Sales2[Amount])"},
        {u"sales[[#This Row],[Net]]*2", u"Sales2[[#This Row],[Net]]*2"},
        {u"Sales[#Totals]+SalesTax[Rate]", u"Sales2[#Totals]+SalesTax[Rate]"},
        {u"\"Sales[Amount]\"&Sales", u"\"Sales[Amount]\"&Sales"},
        {u"[1]!Sales[Amount]", u"[1]!Sales[Amount]"},
        {u"Other[[Sales]:[Cost]]", u"Other[[Sales]:[Cost]]"},
        {u"Sheet1!A1+Sales!A1", u"Sheet1!A1+Sales!A1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        EXPECT_EQ(s(renameTable(q(c.formula), QStringLiteral("Sales"), QStringLiteral("Sales2"))), s(q(c.expected)));
    }
}

TEST(FormulaReferences, DeleteTurnsReferencesIntoRefErrors)
{
    const QStringList order{QStringLiteral("Jan"), QStringLiteral("Feb"), QStringLiteral("Mar"), QStringLiteral("Data")};
    struct DeleteCase
    {
        const char16_t *deleted;
        const char16_t *formula;
        const char16_t *expected;
    };
    const DeleteCase cases[] = {
        {u"Data", u"Data!A5", u"#REF!"},
        {u"Data", u"SUM(data!A1:A10)+Jan!A1", u"SUM(#REF!)+Jan!A1"},
        {u"Data", u"Data!$A$1*2", u"#REF!*2"},
        {u"Data", u"SUM(Data!A:A,Data!$1:$3)", u"SUM(#REF!,#REF!)"},
        {u"Data", u"Data!Local+Data!#REF!", u"#REF!+#REF!"},
        {u"Data", u"Data!A1:Data!B5", u"#REF!:#REF!"},
        {u"Data", u"(Data!$A$1:$A$3,Jan!$C$1:$C$3)", u"(#REF!,Jan!$C$1:$C$3)"},
        {u"Data", u"[1]Data!A1+\"Data!A1\"", u"[1]Data!A1+\"Data!A1\""},
        {u"Jan", u"SUM(Jan:Mar!A1)", u"SUM(Feb:Mar!A1)"},
        {u"Mar", u"SUM(Jan:Mar!A1)", u"SUM(Jan:Feb!A1)"},
        {u"Feb", u"SUM(Jan:Mar!A1)", u"SUM(Jan:Mar!A1)"},
        {u"Jan", u"SUM(Jan:Feb!A1)", u"SUM(Feb!A1)"},
        {u"Mar", u"SUM('Mar:Jan'!A1)", u"SUM(Feb:Jan!A1)"},
        {u"Jan", u"SUM(Jan:Jan!A1)", u"SUM(#REF!)"},
        {u"Data", u"Data10!A1", u"Data10!A1"},
    };
    for (const DeleteCase &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        EXPECT_EQ(s(deleteSheet(q(c.formula), q(c.deleted), order)), s(q(c.expected)));
    }
}

TEST(FormulaReferences, DeletedRowsAndColumnsMoveReferencesByTheSixCases)
{
    struct LinesCase
    {
        const char16_t *host; // the sheet the formula is on
        bool columns;
        qint64 first;
        qint64 last;
        const char16_t *formula;
        const char16_t *expected;
    };
    // The deletions are on the sheet "Data".
    const LinesCase cases[] = {
        // Rows 3:5: before, after, inside, containing, tail cut, head cut.
        {u"Data", false, 3, 5, u"SUM(A1:A2)", u"SUM(A1:A2)"},
        {u"Data", false, 3, 5, u"A9*2", u"A6*2"},
        {u"Data", false, 3, 5, u"A4+$A$3:$A$5", u"#REF!+#REF!"},
        {u"Data", false, 3, 5, u"SUM(A1:A10)", u"SUM(A1:A7)"},
        {u"Data", false, 3, 5, u"SUM($A$1:B4)", u"SUM($A$1:B2)"},
        {u"Data", false, 3, 5, u"SUM(A4:$B$9)", u"SUM(A3:$B$6)"},
        // Rows 1:3 and 4:5 as the engine moved them.
        {u"Data", false, 1, 3, u"SUM(A3:A6)", u"SUM(A1:A3)"},
        {u"Data", false, 1, 3, u"SUM(Data!2:4)", u"SUM(Data!1:1)"},
        {u"Data", false, 1, 3, u"SUM(A2:A3)", u"SUM(#REF!)"},
        {u"Other", false, 4, 5, u"Data!2:4+Data!A9+A9", u"Data!2:3+Data!A7+A9"},
        {u"Other", false, 4, 5, u"'data'!$A$5", u"#REF!"},
        // Whole columns are untouched by rows and whole rows by columns.
        {u"Data", false, 1, 3, u"SUM(B:C)+SUM($2:$9)", u"SUM(B:C)+SUM($1:$6)"},
        {u"Data", true, 2, 3, u"SUM(B:C)+SUM($2:$9)+SUM(A:E)", u"SUM(#REF!)+SUM($2:$9)+SUM(A:C)"},
        // Columns B:C: the same rule on the column axis.
        {u"Data", true, 2, 3, u"A1+D1+$E$5+B7", u"A1+B1+$C$5+#REF!"},
        {u"Data", true, 2, 3, u"SUM(A1:D4)+SUM(C1:F1)+SUM(A2:B2)", u"SUM(A1:B4)+SUM(B1:D1)+SUM(A2:A2)"},
        // A formula on another sheet moves only references qualified with the sheet; one on
        // the sheet keeps its references to other sheets.
        {u"Other", false, 1, 1, u"A5+Data!A5+Data10!A5", u"A5+Data!A4+Data10!A5"},
        {u"Data", false, 1, 1, u"A5+Other!A5", u"A4+Other!A5"},
        // Both ends of a range qualified with another sheet belong to that sheet.
        {u"Data", false, 1, 1, u"SUM(Other!A1:A7)+Other!$B$2:$B$9+'My Other'!C1:D4+Other!A:B",
            u"SUM(Other!A1:A7)+Other!$B$2:$B$9+'My Other'!C1:D4+Other!A:B"},
        {u"Other", false, 2, 3, u"SUM(Data!A1:A7)*A5+SUM(Jan:Mar!A1:A4)", u"SUM(Data!A1:A5)*A5+SUM(Jan:Mar!A1:A4)"},
        {u"", false, 1, 1, u"Data!$A$2:$A$9", u"Data!$A$1:$A$8"},
        // Quoted names, texts, functions, names, numbers, structured and external references.
        {u"Other", false, 1, 1, u"'Data'!B2&\"Data!B2\"&[1]Data!B2", u"'Data'!B1&\"Data!B2\"&[1]Data!B2"},
        {u"Data", false, 1, 1, u"LOG10(A2)+ATAN2(A3,1)+1E5+A5", u"LOG10(A1)+ATAN2(A2,1)+1E5+A4"},
        {u"Data", false, 1, 1, u"Rate*A2+Sales[Amount]+T(\"A2\")+{1,2}", u"Rate*A1+Sales[Amount]+T(\"A2\")+{1,2}"},
        {u"Data", false, 1, 1, u"Data!Print_Area+#REF!", u"Data!Print_Area+#REF!"},
        // 3-D spans cover sheets whose cells do not move, and stay.
        {u"Other", false, 1, 1, u"SUM(Data:Other!A5)", u"SUM(Data:Other!A5)"},
        // The last row of the grid: a range to it shrinks like any other.
        {u"Data", false, 1, 1, u"SUM(A2:A1048576)", u"SUM(A1:A1048575)"},
    };
    for (const LinesCase &c : cases) {
        SCOPED_TRACE(s(q(c.formula)) + (c.columns ? " columns " : " rows ") + std::to_string(c.first));
        const LineDeletion deletion{c.columns, c.first, c.last};
        EXPECT_EQ(s(deleteLines(q(c.formula), q(c.host), QStringLiteral("Data"), deletion)), s(q(c.expected)));
    }
}

TEST(FormulaReferences, SpansThroughTheCutSheetWhoseCellsWouldMoveAreFound)
{
    struct SpanCase
    {
        const char16_t *sheet; // the sheet the lines are deleted from
        bool columns;
        qint64 first;
        qint64 last;
        const char16_t *formula;
        bool moves;
    };
    // Tab order: Jan, Feb, Mar, Summary.
    const SpanCase cases[] = {
        {u"Feb", false, 5, 6, u"SUM(Jan:Mar!B2:B9)", true}, // a sheet inside the span, rows inside the range
        {u"Jan", false, 12, 12, u"SUM(Jan:Mar!B2:B9)", false}, // after the range: nothing moves
        {u"Mar", false, 1, 1, u"SUM(Jan:Mar!B2:B9)", true}, // before it: the range would move up
        {u"Summary", false, 1, 1, u"SUM(Jan:Mar!B2:B9)", false}, // not in the span
        {u"Feb", false, 1, 1, u"SUM('Mar:Jan'!B:B)", false}, // whole columns stay when rows go
        {u"Feb", true, 2, 2, u"SUM('Mar:Jan'!B:B)", true}, // ends in either order
        {u"feb", false, 1, 1, u"SUM(Jan:Mar!A2)+\"Jan:Mar!A2\"", true},
        {u"Feb", false, 1, 1, u"SUM([1]Jan:Mar!A2)+Feb!A5+\"Jan:Mar!A2\"", false}, // another workbook, a plain reference, a text
        {u"Feb", false, 1, 1, u"SUM(Jan:Nov!A2)", false}, // a span this workbook cannot place
    };
    const QStringList order{QStringLiteral("Jan"), QStringLiteral("Feb"), QStringLiteral("Mar"), QStringLiteral("Summary")};
    for (const SpanCase &c : cases) {
        SCOPED_TRACE(s(q(c.formula)) + " on " + s(q(c.sheet)));
        EXPECT_EQ(spanMovesWith(q(c.formula), order, q(c.sheet), LineDeletion{c.columns, c.first, c.last}), c.moves);
    }
}

TEST(FormulaReferences, AreasAreReadAndWrittenBack)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"a1", u"A1"},
        {u"$XFD$1048576", u"$XFD$1048576"},
        {u"B3:A1", u"A1:B3"},
        {u"$C:A", u"A:$C"},
        {u"$5:$2", u"$2:$5"},
        {u"XFE1", u""},
        {u"A0", u""},
        {u"A1048577", u""},
        {u"A", u""},
        {u"5", u""},
        {u"A1:B", u""},
        {u"Rate", u""},
        {u"A$", u""},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(s(q(text)));
        const std::optional<Area> area = parseArea(q(text));
        EXPECT_EQ(area ? s(areaText(*area)) : std::string(), s(q(expected)));
    }
}

TEST(FormulaReferences, CopiedFormulasMoveRelativeReferences)
{
    struct CopyCase
    {
        qint64 rows;
        qint64 columns;
        const char16_t *formula;
        const char16_t *expected;
    };
    const CopyCase cases[] = {
        {3, 0, u"A2>B2", u"A5>B5"},
        {3, 1, u"$A2+A$2+$A$2+Other!B2", u"$A5+B$2+$A$2+Other!C5"},
        {2, 0, u"SUM(Other!A1:$A$4)+'A b'!B1:C2", u"SUM(Other!A3:$A$4)+'A b'!B3:C4"},
        {-1, 0, u"SUM(A2:A9)+SUM(2:3)+SUM(B:B)", u"SUM(A1:A8)+SUM(1:2)+SUM(B:B)"},
        {-2, 0, u"A2+Other!A1+$A$1", u"#REF!+#REF!+$A$1"},
        {0, 0, u"A1", u"A1"},
    };
    for (const CopyCase &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        EXPECT_EQ(s(copyFormula(q(c.formula), c.rows, c.columns)), s(q(c.expected)));
    }
}

TEST(FormulaReferences, OperandsReadAsTheCellsTheyCover)
{
    struct Cells
    {
        qint64 firstRow, lastRow, firstColumn, lastColumn;
    };
    struct Case
    {
        const char *operand;
        std::optional<Cells> area;
    };
    const Case cases[] = {
        {"B3", Cells{3, 3, 2, 2}},
        {"$B$3", Cells{3, 3, 2, 2}},
        {"C9:$A$2", Cells{2, 9, 1, 3}},
        {"XFD1048576", Cells{1048576, 1048576, 16384, 16384}},
        {"A:C", Cells{1, 1048576, 1, 3}},
        {"$5:3", Cells{3, 5, 1, 16384}},
        {"XFE1", std::nullopt}, // beyond the last column
        {"A1048577", std::nullopt},
        {"A0", std::nullopt},
        {"Rate", std::nullopt}, // a name
        {"A", std::nullopt},
        {"5", std::nullopt},
        {"A1:C", std::nullopt},
        {"#REF!", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.operand);
        const std::optional<Area> area = parseArea(QString::fromUtf8(c.operand));
        ASSERT_EQ(area.has_value(), c.area.has_value());
        if (!area)
            continue;
        EXPECT_EQ(area->firstRow, c.area->firstRow);
        EXPECT_EQ(area->lastRow, c.area->lastRow);
        EXPECT_EQ(area->firstColumn, c.area->firstColumn);
        EXPECT_EQ(area->lastColumn, c.area->lastColumn);
    }
}

TEST(FormulaReferences, ReplacedQualifiersIntoAnotherWorkbookReadBackAsExternal)
{
    // Every qualifier of this workbook becomes one into workbook 2; the tokeniser must then
    // read each of them as external, with the sheet and operand it had.
    const QString formulas[] = {QStringLiteral("Data!A1*2+'Other Sheet'!$B$2:C3"), QStringLiteral("'It''s'!A1&\"Data!A1\""),
        QStringLiteral("A1+Data!1:2"), QStringLiteral("SUM(Jan:'Mar 1'!B2,Jan:Mar!C3)")};
    for (const QString &text : formulas) {
        SCOPED_TRACE(text.toStdString());
        const std::vector<SheetPrefix> before = sheetPrefixes(text);
        const QString linked = replaceQualifiers(
            text, [](const SheetPrefix &prefix) { return externalQualifier(2, prefix.first, prefix.last); });
        const std::vector<SheetPrefix> after = sheetPrefixes(linked);
        ASSERT_EQ(after.size(), before.size()) << linked.toStdString();
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_TRUE(after[i].external);
            EXPECT_EQ(after[i].first, before[i].first);
            EXPECT_EQ(after[i].last, before[i].last);
            EXPECT_EQ(linked.mid(after[i].start, after[i].length), externalQualifier(2, before[i].first, before[i].last));
            EXPECT_EQ(linked.mid(after[i].start + after[i].length, after[i].operandLength),
                text.mid(before[i].start + before[i].length, before[i].operandLength));
        }
        // Text outside the qualifiers stays.
        EXPECT_EQ(replaceQualifiers(text, [](const SheetPrefix &) { return std::nullopt; }), text);
    }
    EXPECT_EQ(externalQualifier(1, QStringLiteral("Data")), QStringLiteral("[1]Data!"));
    EXPECT_EQ(externalQualifier(3, QStringLiteral("It's")), QStringLiteral("'[3]It''s'!"));
    EXPECT_EQ(externalQualifier(1, QStringLiteral("Jan"), QStringLiteral("Mar 1")), QStringLiteral("'[1]Jan:Mar 1'!"));

    // Qualifiers replaced together with their operands.
    EXPECT_EQ(replaceQualifiedReferences(QStringLiteral("Other!Local+\"Other!A1\"+Data!A1:B2"),
                  [](const SheetPrefix &prefix, const QString &operand) -> std::optional<QString> {
                      if (prefix.first == u"Data")
                          return std::nullopt;
                      return u'<' + operand + u'>';
                  }),
        QStringLiteral("<Local>+\"Other!A1\"+Data!A1:B2"));
}

TEST(FormulaReferences, ArgumentsStandingAloneNameTheirFunction)
{
    // The last 3-D span of each formula, and the function it is a whole argument of.
    const std::pair<const char *, const char *> cases[] = {
        {"SUM(A1, Jan:Mar!B2)", "SUM"},
        {"IF(A1,\"x(\",_xlfn.STDEV.S(Jan:Mar!B2 ))", "_xlfn.STDEV.S"},
        {"MAX('a(b'!A1,Jan:Mar!B2,3)", "MAX"},
        {"SUM(Jan:Mar!B2*2)", ""},
        {"SUM((Jan:Mar!B2))", ""},
        {"SUM(1)+Jan:Mar!B2", ""},
        {"COUNT({1,\")\"},Table1[[#This Row],[(a]],Jan:Mar!B2)", "COUNT"},
    };
    for (const auto &[text, function] : cases) {
        SCOPED_TRACE(text);
        const QString formula = QString::fromUtf8(text);
        const std::vector<SheetPrefix> prefixes = sheetPrefixes(formula);
        ASSERT_FALSE(prefixes.empty());
        const SheetPrefix &span = prefixes.back();
        ASSERT_TRUE(span.isSpan());
        EXPECT_EQ(argumentOf(formula, span.start, span.start + span.length + span.operandLength), QString::fromUtf8(function));
    }
}

TEST(FormulaReferences, ByteRenameAgreesWithTheTokeniserAndItsSearchMissesNoSpelling)
{
    struct RenameCase
    {
        const char16_t *from;
        const char16_t *to;
        const char16_t *formula;
        bool renamed;
    };
    const RenameCase cases[] = {
        {u"Sheet1", u"My Data", u"Sheet1!A1+sheet1!B2*SHEET1!C3", true},
        {u"Sheet1", u"My Data", u"Sheet10!A1+'Sheet1 (2)'!A1", false},
        {u"Sheet1", u"My Data", u"INDIRECT(\"Sheet1!A1\")&{\"Sheet1!A1\"}", false},
        {u"Sheet1", u"My Data", u"[1]Sheet1!A1+'[1]Sheet1'!A2+[2]Sheet1:Sheet2!A3", false},
        {u"Sheet1", u"My Data", u"SUM(Sheet1:Sheet3!A1)+SUM(Sheet0:Sheet1!A1)+SUM('Sheet0':'Sheet1'!A1)", true},
        {u"Sheet1", u"My Data", u"Sheet1!A1:Sheet1!B5+Sheet1!#REF!+#REF!A1+Sheet1!Print_Area", true},
        {u"Sheet1", u"My Data", u"Table1[[#This Row],[Sheet1!]]+1E3+.5E-2", false},
        {u"Jan", u"Feb", u"SUM(Jan:Jan!A:A)+Jan!1:3", true},
        {u"a'b", u"c'd", u"'a''b'!A1+'A''B'!B2+'a''bc'!C3", true},
        {u"It's", u"Its", u"IF(A1,\"It's\",'IT''S'!A1)", true},
        {u"Données", u"Data", u"'DONNÉES'!A1+'données'!B2", true},
        {u"Лист1", u"Лист2", u"'лист1'!A1+SUM('ЛИСТ1:Лист3'!B1)", true},
        {u"Лист1", u"Лист2", u"'Лист10'!A1", false},
        {u"第二", u"第三", u"第二!A1+'第二'!B2", true},
        {u"Data", u"Data 2", u"'Data'!A1+\"'Data'!A1\"", true},
        {u"Data", u"Data 2", u"SUM(A1:B2)", false},
        {u"Data", u"Data 2", u"'Data!A1", false}, // unbalanced quote: nothing more is read
    };
    for (const RenameCase &c : cases) {
        SCOPED_TRACE(s(q(c.formula)));
        const QString from = q(c.from);
        const QString to = q(c.to);
        const QString formula = q(c.formula);
        const QString expected = renameSheet(formula, from, to);
        EXPECT_EQ(expected != formula, c.renamed);
        const QByteArray utf8 = formula.toUtf8();
        EXPECT_TRUE(SheetNameSearch(from).mayName(utf8) || !c.renamed) << "the byte search missed a qualifier";
        QByteArray out("kept:");
        const bool renamed = SheetRenamer(from, to).rename(utf8, out);
        EXPECT_EQ(renamed, c.renamed);
        EXPECT_EQ(s(QString::fromUtf8(out)), s(QStringLiteral("kept:") + (renamed ? expected : QString())));
    }
    // The search passes over formulas that cannot name the sheet without reading them.
    EXPECT_FALSE(SheetNameSearch(QStringLiteral("Data")).mayName("SUM(A1:B2)"));
    EXPECT_FALSE(SheetNameSearch(QStringLiteral("Data")).mayName("Other!A1"));
    EXPECT_FALSE(SheetNameSearch(QStringLiteral("Données")).mayName("Other!A1+\"é\""));
    EXPECT_TRUE(SheetNameSearch(QStringLiteral("It's")).mayName("'IT''S'!A1"));
}
