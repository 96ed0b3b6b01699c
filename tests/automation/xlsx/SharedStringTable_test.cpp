#include "automation/xlsx/SharedStringTable.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "operations/cells/ReplaceOperation.h"
#include "operations/cells/SetCellsOperation.h"
#include "support/TestSupport.h"
#include "support/WorkbookReader.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::xlsx::SharedStringTable;

namespace {

const QString sstName = QStringLiteral("xl/sharedStrings.xml");

QByteArray corpusStrings(const QString &file)
{
    return gm::test::zipEntry(file, sstName);
}

// A copy of a corpus workbook with its shared strings replaced.
QString withStrings(const QString &source, const QString &folder, const QByteArray &strings)
{
    const QString path = folder + QStringLiteral("/changed.xlsx");
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source))
        entries.append({name, name == sstName ? strings : gm::test::zipEntry(source, name)});
    gm::test::writeZip(path, entries);
    return path;
}

RunSummary replaceIn(const QString &path, const char *find, const char *replacement)
{
    ReplaceInputs inputs;
    inputs.entries = {path};
    inputs.find = QString::fromUtf8(find);
    inputs.replacement = QString::fromUtf8(replacement);
    gm::test::ScriptedUi ui;
    return replaceContent(
        inputs, ui, RunSettings{}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
}

} // namespace

// Items are read from real tables: plain, rich (runs), with entities and with blanks kept by
// xml:space; _xHHHH_ escapes are left for the reader of the cell to undo.
TEST(SharedStringTable, ReadsTheItemsOfRealTables)
{
    GM_REQUIRE_CORPUS(rich, "xlsx/rich_string01.xlsx");
    GM_REQUIRE_CORPUS(escapes, "xlsx/escapes01.xlsx");
    GM_REQUIRE_CORPUS(controls, "xlsx/shared_strings01.xlsx");

    const SharedStringTable richTable(sstName, corpusStrings(rich));
    ASSERT_EQ(richTable.size(), 3);
    EXPECT_EQ(richTable.text(0), QStringLiteral("Foo"));
    EXPECT_EQ(richTable.text(2), QStringLiteral("abcdefg"));
    EXPECT_EQ(richTable.text(3), QString());
    EXPECT_EQ(richTable.text(-1), QString());

    EXPECT_EQ(SharedStringTable(sstName, corpusStrings(escapes)).text(0), QStringLiteral("\"&<>"));

    const SharedStringTable controlTable(sstName, corpusStrings(controls));
    EXPECT_EQ(controlTable.size(), 126);
    EXPECT_EQ(controlTable.text(0), QStringLiteral("_x0000_"));
    EXPECT_EQ(controlTable.text(9), QStringLiteral("\t"));
    // Line ends are kept as written (this one is CR LF), as the tree reader kept them.
    EXPECT_EQ(controlTable.text(10), QStringLiteral("\r\n"));
}

// Phonetic runs are no part of an item's text; a prefixed table, one without count and an
// empty <sst/> are read and extended in their own form.
TEST(SharedStringTable, PhoneticRunsPrefixesAndEmptyTables)
{
    GM_REQUIRE_CORPUS(rich, "xlsx/rich_string01.xlsx");
    QByteArray phonetic = corpusStrings(rich);
    ASSERT_TRUE(phonetic.contains("<t>defg</t></r></si>"));
    phonetic.replace("<t>defg</t></r></si>",
        R"(<t>defg</t></r><rPh sb="0" eb="1"><t>フリガナ</t></rPh><phoneticPr fontId="1" type="noConversion"/></si>)");
    EXPECT_EQ(SharedStringTable(sstName, phonetic).text(2), QStringLiteral("abcdefg"));
    // A cell showing that item matches its text without the reading.
    QTemporaryDir dir;
    const QString path = withStrings(rich, dir.path(), phonetic);
    const RunSummary summary = replaceIn(path, "abcdefg", "plain");
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_TRUE(corpusStrings(path).endsWith(R"(<phoneticPr fontId="1" type="noConversion"/></si><si><t>plain</t></si></sst>)"));

    const QByteArray prefixed = "<?xml version=\"1.0\"?>\n<x:sst xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                "uniqueCount=\"1\"><x:si><x:t xml:space=\"preserve\"> a&amp;b </x:t></x:si></x:sst>\n";
    SharedStringTable table(sstName, prefixed);
    EXPECT_EQ(table.text(0), QStringLiteral(" a&b "));
    EXPECT_EQ(table.append(QStringLiteral("c")), 1);
    table.addReferences(1);
    EXPECT_EQ(table.bytes(),
        "<?xml version=\"1.0\"?>\n<x:sst xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "uniqueCount=\"2\"><x:si><x:t xml:space=\"preserve\"> a&amp;b </x:t></x:si><x:si><x:t>c</x:t></x:si></x:sst>\n");

    SharedStringTable empty(sstName, "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"0\"/>");
    EXPECT_EQ(empty.size(), 0);
    EXPECT_EQ(empty.append(QStringLiteral("z")), 0);
    empty.addReferences(2);
    EXPECT_EQ(empty.bytes(),
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"2\"><si><t>z</t></si></sst>");

    EXPECT_THROW(SharedStringTable(sstName, "<sst><si><t>a</si></sst>"), EngineError);
    EXPECT_THROW(SharedStringTable(sstName, "no markup"), EngineError);
}

// New items go before the end tag, stored as string items store text (XML escapes, _xHHHH_
// for control characters, xml:space for edge blanks); the counts follow; every other byte of
// the table stays.
TEST(SharedStringTable, AppendedItemsLeaveTheRestAsItWas)
{
    GM_REQUIRE_CORPUS(rich, "xlsx/rich_string01.xlsx");
    const QByteArray original = corpusStrings(rich);
    SharedStringTable table(sstName, original);
    EXPECT_FALSE(table.isChanged());
    EXPECT_EQ(table.bytes(), original);

    EXPECT_EQ(table.append(QStringLiteral("a<b>&c")), 3);
    EXPECT_EQ(table.append(QStringLiteral(" lead\x01")), 4);
    table.addReferences(3);
    EXPECT_EQ(table.size(), 5);
    EXPECT_EQ(table.text(4), QStringLiteral(" lead_x0001_"));

    QByteArray expected = original;
    expected.replace(R"(count="3" uniqueCount="3")", R"(count="6" uniqueCount="5")");
    expected.replace("</sst>", R"(<si><t>a&lt;b&gt;&amp;c</t></si><si><t xml:space="preserve"> lead_x0001_</t></si></sst>)");
    EXPECT_EQ(table.bytes(), expected);
}

// A replace run over a real workbook with a shared-string table: the matching cell gets a new
// item, the rich item and every part but the sheet, the table and the workbook stay as they
// were, and an independent reader sees exactly that cell changed.
TEST(SharedStringTable, ReplaceRunAddsOneItemToARealTable)
{
    GM_REQUIRE_CORPUS(source, "xlsx/rich_string01.xlsx");
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(source, dir.path());
    const gm::test::ReaderResult before = gm::test::readWithOpenpyxl(path);

    const RunSummary summary = replaceIn(path, "Bar", "Baz");
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();

    QByteArray expected = corpusStrings(source);
    expected.replace(R"(count="3" uniqueCount="3")", R"(count="4" uniqueCount="4")");
    expected.replace("</sst>", "<si><t>Baz</t></si></sst>");
    EXPECT_EQ(corpusStrings(path), expected);
    for (const QString &name : gm::test::zipEntryNames(source)) {
        if (name != sstName && name != QStringLiteral("xl/worksheets/sheet1.xml") && name != QStringLiteral("xl/workbook.xml")) {
            EXPECT_EQ(gm::test::zipEntry(path, name), gm::test::zipEntry(source, name)) << name.toStdString();
        }
    }

    const gm::test::ReaderResult after = gm::test::readWithOpenpyxl(path);
    if (!after.available)
        GTEST_SKIP() << "no Python with openpyxl";
    ASSERT_TRUE(after.error.isEmpty()) << after.error.toStdString();
    QJsonObject cells = before.sheets.at(0).cells;
    QString changed;
    for (auto it = cells.begin(); it != cells.end(); ++it) {
        if (it.value().toString() == QStringLiteral("Bar"))
            changed = it.key();
    }
    ASSERT_FALSE(changed.isEmpty());
    cells[changed] = QStringLiteral("Baz");
    EXPECT_EQ(after.sheets.at(0).cells, cells);
}

// A workbook without a shared-string table keeps having none: text is written inline.
TEST(SharedStringTable, WorkbookWithoutATableGetsInlineText)
{
    GM_REQUIRE_CORPUS(source, "xlsx/hide01.xlsx");
    ASSERT_FALSE(gm::test::zipEntryNames(source).contains(sstName));
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(source, dir.path());
    {
        gm::xlsx::PackageDocument document(path);
        EXPECT_EQ(document.sharedStrings(), nullptr);
    }
    SetCellsInputs inputs;
    inputs.entries = {path};
    inputs.cells = {{QStringLiteral("7"), QStringLiteral("3"), QStringLiteral("new & text")}};
    gm::test::ScriptedUi ui;
    const RunSummary summary = setCells(
        inputs, ui, RunSettings{}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    ASSERT_EQ(summary.failedCount(), 0) << summary.files[0].errorDescription.toStdString();
    EXPECT_FALSE(gm::test::zipEntryNames(path).contains(sstName));
    const QByteArray sheet = gm::test::zipEntry(path, QStringLiteral("xl/worksheets/sheet1.xml"));
    // The empty cell data gets its first row, and the dimension grows to cover it.
    EXPECT_TRUE(sheet.contains(R"(<dimension ref="A1:C7"/>)")) << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(R"(<sheetData><row r="7"><c r="C7" t="inlineStr"><is><t>new &amp; text</t></is></c></row></sheetData>)"))
        << sheet.toStdString();

    const gm::test::ReaderResult after = gm::test::readWithOpenpyxl(path);
    if (!after.available)
        GTEST_SKIP() << "no Python with openpyxl";
    EXPECT_EQ(after.sheets.at(0).cells.value(QStringLiteral("C7")).toString(), QStringLiteral("new & text"));
}
