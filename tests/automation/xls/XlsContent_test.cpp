// The own content reader on corpus workbooks whose values are known (checked once against an
// independent reader): constants, shared strings across CONTINUE records, formula results of
// every kind, and names. Storages and streams are covered by the comparison's tests.

#include "support/TestSupport.h"

#include "automation/EngineError.h"
#include "automation/xls/XlsContent.h"

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

using Type = CellContent::Type;

const SheetContent *sheetNamed(const WorkbookContent &book, const QString &name)
{
    for (const SheetContent &sheet : book.sheets)
        if (sheet.name == name)
            return &sheet;
    return nullptr;
}

TEST(XlsContent, ReadsEveryKindOfCellValue)
{
    struct Case
    {
        const char *file;
        const char *sheet;
        int row, column;
        Type type;
        bool formula;
        QString text; // Text
        double number; // Number
        int code; // Boolean, Error
    };
    const QList<Case> cases = {
        // An empty string is a cell, not a blank.
        {"xls/calamine-empty-string.xls", "Sheet1", 0, 0, Type::Text, false, QString(), 0, 0},
        {"xls/calamine-empty-string.xls", "Sheet1", 0, 1, Type::Boolean, true, {}, 0, 0},
        // A formula result that is the empty string (no STRING record follows).
        {"xls/calamine-issue343.xls", "Лист1", 0, 0, Type::Text, true, QString(), 0, 0},
        // Text results in STRING records, Cyrillic constants, booleans and errors.
        {"xls/xlrd-formula_test_sjmachin.xls", "Sheet1", 1, 1, Type::Text, false, QStringLiteral("МОСКВА Москва"), 0, 0},
        {"xls/xlrd-formula_test_sjmachin.xls", "Sheet1", 3, 1, Type::Text, true, QStringLiteral("ABCDEF"), 0, 0},
        {"xls/xlrd-formula_test_sjmachin.xls", "Sheet1", 4, 1, Type::Text, true, QString(), 0, 0},
        {"xls/xlrd-formula_test_sjmachin.xls", "Sheet1", 5, 1, Type::Boolean, true, {}, 0, 1},
        // Numeric results of formulas that point at another workbook.
        {"bad/calamine-OOM_alloc.xls", "Weekly Report", 11, 11, Type::Number, true, {}, 18521, 0},
        // An error constant.
        {"xls/calamine-gh548_incorrect_sst_unique_count.xls", "Acute Trust Mapping", 12, 10, Type::Error, false, {}, 0, 0x0F},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2!%3")
                         .arg(QString::fromLatin1(c.file), QString::fromUtf8(c.sheet), cellName(c.row, c.column))
                         .toStdString());
        const QString path = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const WorkbookContent book = readXlsContent(path);
        const SheetContent *sheet = sheetNamed(book, QString::fromUtf8(c.sheet));
        ASSERT_NE(sheet, nullptr);
        const auto found = sheet->cells.find(cellKey(c.row, c.column));
        ASSERT_NE(found, sheet->cells.end());
        const CellContent &cell = found->second;
        EXPECT_EQ(cell.type, c.type);
        EXPECT_EQ(cell.formula, c.formula);
        if (c.type == Type::Text) {
            EXPECT_EQ(cell.text, c.text);
            EXPECT_FALSE(cell.text.isNull() && !c.text.isNull());
        } else if (c.type == Type::Number) {
            EXPECT_EQ(cell.number, c.number);
        } else {
            EXPECT_EQ(cell.code, c.code);
        }
    }
}

TEST(XlsContent, ReadsSharedStringsNumbersAndBlanksLikeAnIndependentReader)
{
    GM_REQUIRE_CORPUS(path, "xls/calamine-gh548_incorrect_sst_unique_count.xls");
    const WorkbookContent book = readXlsContent(path);
    // The table states 7668 unique strings but holds 892; every LABELSST still resolves.
    const SheetContent *sheet = sheetNamed(book, QStringLiteral("System Mapping"));
    ASSERT_NE(sheet, nullptr);
    int text = 0, numbers = 0, blanks = 0;
    for (const auto &[key, cell] : sheet->cells) {
        text += cell.type == Type::Text && !cell.formula;
        numbers += cell.type == Type::Number;
        blanks += cell.type == Type::Blank;
    }
    EXPECT_GT(text, 100);
    EXPECT_GT(numbers + blanks, 0);
    EXPECT_EQ(sheet->cells.at(cellKey(11, 8)).text, QStringLiteral("NHS COVENTRY AND WARWICKSHIRE INTEGRATED CARE BOARD"));
}

TEST(XlsContent, ReadsNamesWithScopeAndHiddenFlagAndResolvedReferences)
{
    GM_REQUIRE_CORPUS(path, "xls/calamine-optional_records.xls");
    const WorkbookContent book = readXlsContent(path);
    auto find = [&](const QString &name, int scope) -> const DefinedName * {
        for (const DefinedName &n : book.names)
            if (n.name == name && n.scope == scope)
                return &n;
        return nullptr;
    };
    const DefinedName *filter = find(QStringLiteral("_FilterDatabase"), 1);
    ASSERT_NE(filter, nullptr);
    EXPECT_TRUE(filter->builtin);
    EXPECT_TRUE(filter->hidden);
    const DefinedName *area = find(QStringLiteral("Print_Area"), 1);
    ASSERT_NE(area, nullptr);
    EXPECT_FALSE(area->hidden);
    EXPECT_TRUE(area->definition.contains(QStringLiteral("#1!$A$1:$P$38"))) << area->definition.toStdString();
    // A name that refers to another workbook keeps that workbook's path and sheet.
    const DefinedName *external = find(QStringLiteral("OrigName"), 0);
    ASSERT_NE(external, nullptr);
    EXPECT_TRUE(external->definition.contains(QStringLiteral("\\Financial_Trading\\Book\\Orig.xls]Sheet2")))
        << external->definition.toStdString();
}

TEST(XlsContent, RefusesWhatItCannotRead)
{
    struct Case
    {
        const char *file;
        ErrorCode code;
    };
    const QList<Case> cases = {
        {"xls/calamine-issue_385.xls", ErrorCode::PasswordRequired},
        {"xls/calamine-biff5_write.xls", ErrorCode::UnsupportedFormat},
        {"bad/calamine-too_small.xls", ErrorCode::Damaged},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        try {
            readXlsContent(path);
            ADD_FAILURE() << "read";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.code) << e.detail().toStdString();
        }
    }
    EXPECT_THROW(readXlsContent(QByteArray("not a compound file")), EngineError);
}

} // namespace
} // namespace gm::xls
