#include "operations/cells/ReplaceOperation.h"

#include "automation/EngineError.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace gm;

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

struct Write
{
    qint64 row;
    qint64 column;
    const char *text;
};

void expectWrites(const std::vector<Worksheet::CellWrite> &actual, std::initializer_list<Write> expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    size_t i = 0;
    for (const Write &want : expected) {
        EXPECT_EQ(actual[i].row, want.row) << i;
        EXPECT_EQ(actual[i].column, want.column) << i;
        EXPECT_EQ(actual[i].text, s(want.text)) << i;
        ++i;
    }
}

} // namespace

TEST(ReplaceValidation, FirstFailureInOrder)
{
    struct Case
    {
        const char *name;
        ReplaceInputs inputs;
        QString message;
        const char *control;
    };
    auto inputs = [](const char *find, bool rows, const char *r1, const char *r2, bool columns, const char *c1, const char *c2) {
        ReplaceInputs in;
        in.find = s(find);
        in.limitRows = rows;
        in.rowFrom = s(r1);
        in.rowTo = s(r2);
        in.limitColumns = columns;
        in.columnFrom = s(c1);
        in.columnTo = s(c2);
        return in;
    };
    const Case cases[] = {
        {"no find text", inputs("", true, "x", "", true, "", ""), kReplaceNoText, "txtStr1"},
        {"both columns checked for blanks first", inputs("a", false, "", "", true, "?", " "), kReplaceBadColumns,
            "cmbReplaceScopeC2"},
        {"bad first column", inputs("a", false, "", "", true, "A1", "C"), kReplaceBadColumns, "cmbReplaceScopeC1"},
        {"columns before rows", inputs("a", true, "x", "", true, "C", "-"), kReplaceBadColumns, "cmbReplaceScopeC2"},
        {"bad second row", inputs("a", true, "1", "1.5x", true, "AB", "3"), kReplaceBadRows, "txtReplaceScopeR2"},
        {"row beyond 16 bits", inputs("a", true, "40000", "1", false, "", ""), kReplaceBadRows, "txtReplaceScopeR1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Validation failure = validateReplace(c.inputs);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->message, c.message);
        EXPECT_EQ(failure->control, s(c.control));
    }
    EXPECT_FALSE(validateReplace(inputs("a", true, "5", "3", true, "e", "C")));
}

TEST(ReplaceScope, UsedRangeNarrowedByLimits)
{
    const CellBounds used{5, 40, 3, 2000}; // C5 to column 2000
    ReplaceInputs in;
    std::optional<CellBounds> scope = replaceScope(in, used);
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->firstRow, 5);
    EXPECT_EQ(scope->firstColumn, 3);
    EXPECT_EQ(scope->lastColumn, 1000); // columns past 1000 are never visited

    in.limitColumns = true;
    in.columnFrom = s("E");
    in.columnTo = s("1"); // in order: 1 to 5, within the used range 3 to 5
    in.limitRows = true;
    in.rowFrom = s("30");
    in.rowTo = s("100");
    scope = replaceScope(in, used);
    ASSERT_TRUE(scope);
    EXPECT_EQ(scope->firstColumn, 3);
    EXPECT_EQ(scope->lastColumn, 5);
    EXPECT_EQ(scope->firstRow, 30);
    EXPECT_EQ(scope->lastRow, 40);

    in.rowFrom = s("100");
    in.rowTo = s("200");
    EXPECT_FALSE(replaceScope(in, {1, 10, 1, 3}));
    in.limitRows = false;
    in.columnFrom = s("AB");
    in.columnTo = s("AC");
    EXPECT_FALSE(replaceScope(in, {1, 10, 1, 27}));
    EXPECT_EQ(replaceScope(in, {1, 10, 1, 28})->firstColumn, 28);
}

TEST(ReplaceMatching, ModesCaseAndLineBreaks)
{
    const CellBounds row{1, 1, 1, 5};
    const std::vector<QString> texts{s("ABC"), s("abc"), s("abcd"), s("Banana"), s("a\nb\r")};
    ReplaceInputs in;
    in.find = s("abc");
    in.replacement = s("x");
    expectWrites(replacementsFor(in, row, texts), {{1, 1, "x"}, {1, 2, "x"}});
    in.matchCase = true;
    expectWrites(replacementsFor(in, row, texts), {{1, 2, "x"}});

    in.matchCase = false;
    in.contains = true;
    in.find = s("a");
    expectWrites(replacementsFor(in, row, texts), {{1, 1, "xBC"}, {1, 2, "xbc"}, {1, 3, "xbcd"}, {1, 4, "Bxnxnx"}, {1, 5, "xb"}});
    in.matchCase = true;
    in.find = s("A");
    expectWrites(replacementsFor(in, row, texts), {{1, 1, "xBC"}});

    // A cell showing a, a line break and b matches "ab" only while line breaks are ignored.
    in = ReplaceInputs{};
    in.find = s("ab");
    in.replacement = s("y");
    expectWrites(replacementsFor(in, row, texts), {{1, 5, "y"}});
    in.ignoreLineBreaks = false;
    expectWrites(replacementsFor(in, row, texts), {});
}

// Letters that fold alike match whatever their case, also where only one of them is written
// in the text: the sharp s and its capital, the Kelvin sign and k; a text without a character
// that folds alone is still compared.
TEST(ReplaceMatching, CaseBlindMatchesOfLettersThatFoldAlike)
{
    const CellBounds row{1, 1, 1, 4};
    const std::vector<QString> texts{QStringLiteral("Stra\u1E9Ee"), QStringLiteral("stra\u00DFe"), QStringLiteral("\u212Am"),
        QStringLiteral("\u6587\u672C")};
    ReplaceInputs in;
    in.contains = true;
    in.find = QStringLiteral("\u00DF");
    in.replacement = s("ss");
    expectWrites(replacementsFor(in, row, texts), {{1, 1, "Strasse"}, {1, 2, "strasse"}});
    in.find = s("km");
    in.replacement = s("x");
    expectWrites(replacementsFor(in, row, texts), {{1, 3, "x"}});
    in.find = QStringLiteral("\u672C");
    expectWrites(replacementsFor(in, row, texts), {{1, 4, "\u6587x"}});
    in.matchCase = true;
    in.find = QStringLiteral("\u00DF");
    expectWrites(replacementsFor(in, row, texts), {{1, 2, "straxe"}});
}

TEST(ReplaceMatching, HundredAndFirstEmptyCellEndsTheRow)
{
    for (int gap : {100, 101}) {
        SCOPED_TRACE(gap);
        const CellBounds bounds{1, 2, 1, gap + 2};
        std::vector<QString> texts(size_t(2 * (gap + 2)));
        texts[0] = s("a");
        texts[size_t(gap + 1)] = s("a"); // after `gap` empty cells
        texts[size_t(gap + 2)] = s("a"); // the next row starts afresh
        ReplaceInputs in;
        in.find = s("a");
        in.replacement = s("b");
        auto expectGapRule = [&] {
            const auto writes = replacementsFor(in, bounds, texts);
            if (gap == 100) {
                expectWrites(writes, {{1, 1, "b"}, {1, qint64(gap + 2), "b"}, {2, 1, "b"}});
            } else {
                expectWrites(writes, {{1, 1, "b"}, {2, 1, "b"}});
            }
        };
        expectGapRule();
        // Cells showing only line breaks are empty while line breaks are ignored; other
        // texts that cannot match are not.
        std::fill(texts.begin() + 1, texts.begin() + gap + 1, s("\r\n"));
        expectGapRule();
        std::fill(texts.begin() + 1, texts.begin() + gap + 1, s("x"));
        expectWrites(replacementsFor(in, bounds, texts), {{1, 1, "b"}, {1, qint64(gap + 2), "b"}, {2, 1, "b"}});
    }
}

// Other writers than the spreadsheet program leave rows, and cells in a row, out of order: a
// match in such a row is written into its own row and cell, never into a second copy of them.
TEST(ReplaceRun, RowsAndCellsOutOfOrderAreWrittenWhereTheyStand)
{
    GM_REQUIRE_CORPUS(source, "xlsx/outline01.xlsx");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("unordered.xlsx"));
    const QString sheetName = QStringLiteral("xl/worksheets/sheet1.xml");
    const QByteArray row2
        = R"(<row r="2" spans="1:2" outlineLevel="2"><c r="A2" t="s"><v>1</v></c><c r="B2"><v>1000</v></c></row>)";
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source)) {
        QByteArray bytes = gm::test::zipEntry(source, name);
        if (name == sheetName) {
            ASSERT_TRUE(bytes.contains(row2));
            // Row 2 last, its cell B2 before A2.
            bytes.replace(row2, "");
            bytes.replace("</sheetData>",
                R"(<row r="2" spans="1:2" outlineLevel="2"><c r="B2"><v>1000</v></c><c r="A2" t="s"><v>1</v></c></row></sheetData>)");
        }
        entries.append({name, bytes});
    }
    gm::test::writeZip(path, entries);

    ReplaceInputs inputs;
    inputs.entries = {path};
    inputs.find = QStringLiteral("north"); // A2 to A5 show North
    inputs.replacement = QStringLiteral("N");
    gm::test::ScriptedUi ui;
    const RunSummary summary = replaceContent(
        inputs, ui, RunSettings{}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();

    const QByteArray sheet = gm::test::zipEntry(path, sheetName);
    EXPECT_EQ(sheet.count(R"(<row r="2")"), 1);
    EXPECT_EQ(sheet.count(R"(r="A2")"), 1);
    // The row and its cells stay where and as they were; the four cells share one new string.
    EXPECT_TRUE(sheet.contains(
        R"(<row r="2" spans="1:2" outlineLevel="2"><c r="B2"><v>1000</v></c><c r="A2" t="s"><v>7</v></c></row></sheetData>)"))
        << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(R"(<c r="A5" t="s"><v>7</v></c>)"));
    const QByteArray strings = gm::test::zipEntry(path, QStringLiteral("xl/sharedStrings.xml"));
    EXPECT_TRUE(strings.endsWith("<si><t>Grand Total</t></si><si><t>N</t></si></sst>")) << strings.toStdString();
}
