// Batch printing without the engine: reading the sheet positions and the copy count, the
// order of the checks before a run, the "no printer" stop, and counting the pages of a PDF.

#include "automation/EngineError.h"
#include "automation/PdfPages.h"
#include "operations/workbook/PrintOperation.h"
#include "support/PrivateCups.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

using namespace gm;

TEST(PrintInputs, SheetPositionsSplitAtEveryBlankAfterTrimming)
{
    const struct
    {
        const char *typed;
        std::vector<const char *> tokens;
    } cases[] = {
        {"1 3 5", {"1", "3", "5"}}, {"  2 2 ", {"2", "2"}}, // repetitions count: one job each
        {"1  3", {"1", "", "3"}}, // two blanks make an empty token, which prints nothing
        {"   ", {}}, {"", {}}, {"\t1", {"\t1"}}, // only blanks are trimmed
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        QStringList tokens;
        for (const char *token : c.tokens)
            tokens << QString::fromLatin1(token);
        EXPECT_EQ(sheetPositionTokens(QString::fromLatin1(c.typed)), tokens);
    }
}

TEST(PrintInputs, NumbersAreReadAsSixteenBitIntegers)
{
    const struct
    {
        const char *text;
        std::optional<int> value;
    } cases[] = {
        {"1", 1},
        {" 7 ", 7},
        {"-1", -1},
        {"0", 0},
        {"2.5", 2}, // half to even
        {"3.5", 4},
        {"32767", 32767},
        {"-32768", -32768},
        {"32768", std::nullopt}, // beyond a 16-bit integer: a conversion error
        {"99999", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"ab", std::nullopt},
        {"1a", std::nullopt},
        {"nan", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(readShortInteger(QString::fromLatin1(c.text)), c.value);
    }
}

TEST(PrintInputs, ChecksComeInOrderAndACountBelowOnePasses)
{
    const struct
    {
        bool printSheets;
        const char *sheetIndex;
        const char *copies;
        QString message; // empty: no failure
        QString control;
    } cases[] = {
        // The positions are checked first, and only when sheet printing is chosen.
        {true, "   ", "x", kPrintNoSheets, QStringLiteral("txtSheetIndex")},
        {false, "   ", "2", {}, {}},
        {true, " 1 ", "", kPrintBadCopies, QStringLiteral("TxtCopy")},
        {false, "", "abc", kPrintBadCopies, QStringLiteral("TxtCopy")},
        {false, "", "0", {}, {}}, // the run then ends silently
        {false, "", "-1", {}, {}},
        {false, "", "99", {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.sheetIndex) + "|" + c.copies);
        PrintInputs inputs;
        inputs.printSheets = c.printSheets;
        inputs.sheetIndex = QString::fromLatin1(c.sheetIndex);
        inputs.copies = QString::fromLatin1(c.copies);
        const Validation failure = validatePrint(inputs);
        ASSERT_EQ(failure.has_value(), !c.message.isEmpty());
        if (failure) {
            EXPECT_EQ(failure->message, c.message);
            EXPECT_EQ(failure->control, c.control);
        }
    }
}

TEST(PrintRun, WithoutAPrinterNothingStartsAfterTheListCheck)
{
    // A print service address where none listens, and no printer chosen by the environment.
    QTemporaryDir dir;
    gm::test::EnvironmentGuard environment;
    environment.set("CUPS_SERVER", dir.filePath(QStringLiteral("nothing.sock")).toLocal8Bit());
    environment.unset("LPDEST");
    environment.unset("PRINTER");
    const QString workbook = gm::test::copyInto(gm::test::fixture(QStringLiteral("print_pages.xlsx")), dir.path());

    gm::test::ScriptedUi ui;
    PrintInputs inputs;
    RunSummary summary = printWorkbooks(inputs, ui, {});
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(ui.messages, QStringList{kPrintEmptyList});

    // A list, and inputs that would fail later checks: the printer check comes first.
    ui.messages.clear();
    inputs.entries = {workbook};
    inputs.printSheets = true;
    inputs.copies = QStringLiteral("x");
    summary = printWorkbooks(inputs, ui, {});
    EXPECT_TRUE(summary.stopped);
    EXPECT_TRUE(summary.files.empty());
    EXPECT_EQ(ui.messages, QStringList{kPrintNoPrinter});
    EXPECT_TRUE(ui.statuses.isEmpty());

    // A dry run sends nothing and needs no printer: the other checks still stop it, and once
    // they pass the file goes to the engine (here one that cannot start).
    PrintOptions dry;
    dry.dryRun = true;
    int engineStarts = 0;
    auto noEngine = [&engineStarts]() -> std::unique_ptr<Application> {
        ++engineStarts;
        throw EngineError(ErrorCode::EngineUnavailable);
    };
    ui.messages.clear();
    summary = printWorkbooks(inputs, ui, {}, dry, noEngine);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(ui.messages, QStringList{kPrintNoSheets});
    ui.messages.clear();
    inputs.printSheets = false;
    inputs.copies = QStringLiteral("1");
    summary = printWorkbooks(inputs, ui, {}, dry, noEngine);
    EXPECT_FALSE(summary.stopped);
    ASSERT_EQ(summary.files.size(), 1u);
    EXPECT_EQ(summary.files[0].errorNumber, int(ErrorCode::EngineUnavailable));
    EXPECT_EQ(engineStarts, 1);
    EXPECT_FALSE(ui.messages.contains(kPrintNoPrinter));
}

TEST(PdfPages, CountsPageObjectsNotPageTreeNodes)
{
    const struct
    {
        const char *pdf;
        int pages;
    } cases[] = {
        {"%PDF-1.6\n1 0 obj\n<</Type/Pages/Kids[2 0 R 3 0 R]/Count 2>>\nendobj\n"
         "2 0 obj\n<</Type/Page/Parent 1 0 R>>\nendobj\n3 0 obj\n<</Type /Page\n/Parent 1 0 R>>\nendobj\n",
            2},
        {"<</Type\n/Page>> <</Parent 1 0 R /Type /Page /Contents 4 0 R>>", 2},
        {"<</Type/Pages/Count 0>> <</Type/Catalog/Pages 1 0 R>>", 0},
        {"<</Type/PageLabel>> <</Type/Page", 1}, // another name, then a page at the very end
        {"", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pdf);
        EXPECT_EQ(pdfPageCount(QByteArray(c.pdf)), c.pages);
    }
}
