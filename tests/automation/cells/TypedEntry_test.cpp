#include "automation/cells/NumberFormat.h"
#include "automation/cells/TypedEntry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace gm {
namespace {

using Type = TypedEntry::Type;

QString text(const char16_t *s)
{
    return QString::fromUtf16(s);
}

// 2020-01-02 in the 1900 system.
constexpr double Jan2 = 43832;

struct Row
{
    const char16_t *typed;
    Type type;
    double number; // Number and Boolean
    int format; // -1: the cell keeps its format
    const char16_t *shown; // with the assigned format (General when kept); nullptr to skip
};

// Entries typed into a General cell of a 1900-system workbook in 2020.
void checkRows(const std::vector<Row> &rows, const EntryContext &context = {DateSystem::Date1900, 2020, false})
{
    NumberFormatCache formats;
    for (const Row &row : rows) {
        SCOPED_TRACE(text(row.typed).toStdString());
        const TypedEntry e = parseTypedEntry(text(row.typed), context);
        ASSERT_EQ(e.type, row.type);
        if (row.type == Type::Number || row.type == Type::Boolean) {
            EXPECT_NEAR(e.number, row.number, std::fabs(row.number) * 1e-15);
            EXPECT_EQ(e.numberFormatId, row.format);
        }
        if (row.shown) {
            const CellValue value = row.type == Type::Boolean ? CellValue::ofBoolean(e.number != 0)
                : row.type == Type::Number                    ? CellValue::ofNumber(e.number)
                                                              : CellValue::ofText(e.text);
            EXPECT_EQ(formats.builtIn(std::max(0, e.numberFormatId)).format(value, context.system).toStdString(),
                text(row.shown).toStdString());
        }
    }
}

TEST(TypedEntry, Numbers)
{
    checkRows({
        {u"123", Type::Number, 123, -1, u"123"},
        {u"00123", Type::Number, 123, -1, u"123"},
        {u"+5", Type::Number, 5, -1, u"5"},
        {u"-5", Type::Number, -5, -1, u"-5"},
        {u"(5)", Type::Number, -5, -1, u"-5"},
        {u" 12 ", Type::Number, 12, -1, u"12"},
        {u"0.1", Type::Number, 0.1, -1, u"0.1"},
        {u"1,234", Type::Number, 1234, 3, u"1,234"},
        {u"1,234.5", Type::Number, 1234.5, 4, u"1,234.50"},
        {u"1,234,567", Type::Number, 1234567, 3, u"1,234,567"},
        {u"5%", Type::Number, 0.05, 9, u"5%"},
        {u"5.5%", Type::Number, 0.055, 10, u"5.50%"},
        {u"-12%", Type::Number, -0.12, 9, u"-12%"},
        {u"1e3", Type::Number, 1000, 11, u"1.00E+03"},
        {u"1.5E+3", Type::Number, 1500, 11, u"1.50E+03"},
        {u"2.5e-3", Type::Number, 0.0025, 11, u"2.50E-03"},
        {u"1 1/2", Type::Number, 1.5, 12, u"1 1/2"},
        {u"0 3/4", Type::Number, 0.75, 12, u" 3/4"},
        {u"2 5/16", Type::Number, 2.3125, 13, u"2  5/16"},
        {u"9.99999999999999E+307", Type::Number, 9.99999999999999E+307, 11, nullptr},
        // Only 15 significant digits are kept; the rest are dropped, not rounded.
        {u"12345678901234567890", Type::Number, 1.23456789012345E+19, -1, u"1.23457E+19"},
        {u"110101199001011234", Type::Number, 110101199001011000.0, -1, u"1.10101E+17"},
        {u"1.23456789012345678", Type::Number, 1.23456789012345, -1, u"1.23456789"},
        {u"0.000000000000000123456789012345678", Type::Number, 1.23456789012345E-16, -1, u"1.23457E-16"},
    });
}

// Currency entries set the dollar format with red negatives: the whole-dollar one, or the one
// with cents when cents were typed.
TEST(TypedEntry, CurrencyTakesTheDollarFormats)
{
    checkRows({
        {u"$5", Type::Number, 5, 6, u"$5 "},
        {u"$1,234.50", Type::Number, 1234.5, 8, u"$1,234.50 "},
        {u"-$5", Type::Number, -5, 6, u"($5)"},
        {u"$-5", Type::Number, -5, 6, u"($5)"},
        {u"($5.25)", Type::Number, -5.25, 8, u"($5.25)"},
    });
}

TEST(TypedEntry, DatesAndTimes)
{
    checkRows({
        {u"1/2/2020", Type::Number, Jan2, 14, u"1/2/2020"},
        {u"1-2-2020", Type::Number, Jan2, 14, u"1/2/2020"},
        {u"2020/1/2", Type::Number, Jan2, 14, u"1/2/2020"},
        {u"2020-01-02", Type::Number, Jan2, 14, u"1/2/2020"},
        {u"1/2/29", Type::Number, 47120, 14, u"1/2/2029"},
        {u"1/2/30", Type::Number, 10960, 14, u"1/2/1930"},
        {u"Jan 2", Type::Number, Jan2, 16, u"2-Jan"},
        {u"2 Jan", Type::Number, Jan2, 16, u"2-Jan"},
        {u"1/2", Type::Number, Jan2, 16, u"2-Jan"},
        {u"3/4", Type::Number, 43894, 16, u"4-Mar"},
        {u"Jan 2020", Type::Number, 43831, 17, u"Jan-20"},
        {u"2-Jan-2020", Type::Number, Jan2, 15, u"2-Jan-20"},
        {u"January 2, 2020", Type::Number, Jan2, 15, u"2-Jan-20"},
        {u"12:30", Type::Number, 12.5 / 24, 20, u"12:30"},
        {u"12:30:15", Type::Number, (12 * 3600 + 30 * 60 + 15) / 86400.0, 21, u"12:30:15"},
        {u"1:30 PM", Type::Number, 0.5625, 18, u"1:30 PM"},
        {u"12:05 am", Type::Number, 5 / 1440.0, 18, u"12:05 AM"},
        {u"25:00", Type::Number, 25 / 24.0, 46, u"25:00:00"},
        {u"1/2/2020 13:45", Type::Number, Jan2 + 13.75 / 24, 22, u"1/2/2020 13:45"},
        // The 1900 system's phantom leap day is accepted and shifts nothing before it.
        {u"1/1/1900", Type::Number, 1, 14, u"1/1/1900"},
        {u"2/28/1900", Type::Number, 59, 14, u"2/28/1900"},
        {u"2/29/1900", Type::Number, 60, 14, u"2/29/1900"},
        {u"3/1/1900", Type::Number, 61, 14, u"3/1/1900"},
        {u"12/31/9999", Type::Number, 2958465, 14, u"12/31/9999"},
    });
}

TEST(TypedEntry, Dates1904)
{
    checkRows(
        {
            {u"1/2/2020", Type::Number, Jan2 - 1462, 14, u"1/2/2020"},
            {u"1/1/1904", Type::Number, 0, 14, u"1/1/1904"},
            {u"12/31/1903", Type::Text, 0, -1, u"12/31/1903"},
        },
        {DateSystem::Date1904, 2020, false});
}

TEST(TypedEntry, TextBooleansErrorsFormulas)
{
    checkRows({
        {u"TRUE", Type::Boolean, 1, -1, u"TRUE"},
        {u"true", Type::Boolean, 1, -1, u"TRUE"},
        {u"False", Type::Boolean, 0, -1, u"FALSE"},
        {u"12,34", Type::Text, 0, -1, u"12,34"},
        {u"1.2.3", Type::Text, 0, -1, u"1.2.3"},
        {u"1 234", Type::Text, 0, -1, u"1 234"},
        {u"13/1/2020", Type::Text, 0, -1, u"13/1/2020"},
        {u"2/30/2020", Type::Text, 0, -1, u"2/30/2020"},
        {u"2/29/2021", Type::Text, 0, -1, nullptr},
        {u"2020年1月2日", Type::Text, 0, -1, u"2020年1月2日"},
        {u"替换10", Type::Text, 0, -1, u"替换10"},
        {u" 文本 1/2/2020", Type::Text, 0, -1, u" 文本 1/2/2020"},
        {u"Ärger 5", Type::Text, 0, -1, u"Ärger 5"},
        {u"12:60", Type::Text, 0, -1, nullptr},
        {u"13:00 PM", Type::Text, 0, -1, nullptr},
        {u"$5%", Type::Text, 0, -1, nullptr},
        {u"1e400", Type::Text, 0, -1, nullptr},
        {u"abc", Type::Text, 0, -1, u"abc"},
        {u" padded ", Type::Text, 0, -1, u" padded "},
        {u"=", Type::Text, 0, -1, u"="},
    });
    const EntryContext context{DateSystem::Date1900, 2020, false};
    for (const auto &[typed, code] : {std::pair{u"#N/A", u"#N/A"}, {u"#div/0!", u"#DIV/0!"}}) {
        const TypedEntry e = parseTypedEntry(text(typed), context);
        EXPECT_EQ(e.type, Type::Error);
        EXPECT_EQ(e.text, text(code));
    }
    for (const auto &[typed, formula] : {std::pair{u"=1+1", u"1+1"}, {u"=SUM(A1:A3)", u"SUM(A1:A3)"}}) {
        const TypedEntry e = parseTypedEntry(text(typed), context);
        EXPECT_EQ(e.type, Type::Formula);
        EXPECT_EQ(e.text, text(formula));
    }
    EXPECT_EQ(parseTypedEntry(QString(), context).type, Type::Empty);
}

TEST(TypedEntry, ApostropheAndTextCells)
{
    const EntryContext general{DateSystem::Date1900, 2020, false};
    for (const auto &[typed, stored] : {std::pair{u"'abc", u"abc"}, {u"'123", u"123"}, {u"'=1+1", u"=1+1"}, {u"''x", u"'x"}}) {
        SCOPED_TRACE(text(typed).toStdString());
        const TypedEntry e = parseTypedEntry(text(typed), general);
        EXPECT_EQ(e.type, Type::Text);
        EXPECT_EQ(e.text, text(stored));
        EXPECT_TRUE(e.quotePrefix);
    }
    // A cell formatted as text keeps every entry as typed.
    const EntryContext textCell{DateSystem::Date1900, 2020, true};
    for (const char16_t *typed : {u"=1+1", u"5%", u"00123", u"TRUE"}) {
        SCOPED_TRACE(text(typed).toStdString());
        const TypedEntry e = parseTypedEntry(text(typed), textCell);
        EXPECT_EQ(e.type, Type::Text);
        EXPECT_EQ(e.text, text(typed));
        EXPECT_FALSE(e.quotePrefix);
    }
}

} // namespace
} // namespace gm
