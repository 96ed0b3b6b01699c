// The text .xls cells show, rendered from the file's own values and number formats: the same
// workbook saved as .xlsx and as .xls shows the same texts through either reader.

#include "automation/EngineSession.h"
#include "automation/xls/XlsCellTexts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

TEST(XlsCellTexts, AgreeWithThePackageReaderOnTheSameWorkbook)
{
    const WorkbookContent book = readXlsContent(gm::test::fixture(QStringLiteral("sheets_second_active.xls")));
    EngineSession session;
    std::unique_ptr<Workbook> xlsx
        = session.open(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), WorkbookUse::PackageMembers, true);
    ASSERT_EQ(book.sheets.size(), 2);
    for (int sheet = 0; sheet < 2; ++sheet) {
        SCOPED_TRACE(sheet);
        const CellBounds bounds{1, 4, 1, 4};
        const std::vector<QString> texts = displayedTexts(book, sheet, bounds);
        EXPECT_EQ(texts, xlsx->worksheet(sheet + 1)->displayedTexts(bounds));
        EXPECT_FALSE(texts[0].isEmpty());
    }
    // The formatted ones: 1234.5678 in #,##0.00 and a date.
    const std::vector<QString> second = displayedTexts(book, 1, CellBounds{1, 2, 2, 2});
    EXPECT_EQ(second, (std::vector<QString>{QStringLiteral("1,234.57"), QStringLiteral("2023-03-15")}));
    xlsx->close(false);
}

TEST(XlsCellTexts, BoundsBeyondTheSheetOrTheFormatGiveEmptyTexts)
{
    const WorkbookContent book = readXlsContent(gm::test::fixture(QStringLiteral("sheets_second_active.xls")));
    // Row 0 and a block past the last .xls column hold nothing; an unknown sheet neither.
    EXPECT_EQ(displayedTexts(book, 1, CellBounds{2, 2, 300, 301}), std::vector<QString>(2));
    EXPECT_EQ(displayedTexts(book, 5, CellBounds{1, 1, 1, 2}), std::vector<QString>(2));
    const std::vector<QString> offset = displayedTexts(book, 1, CellBounds{2, 3, 1, 2});
    EXPECT_EQ(offset[0], displayedTexts(book, 1, CellBounds{1, 2, 1, 1})[1]);
}

} // namespace
} // namespace gm::xls
