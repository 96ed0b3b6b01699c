#include "automation/Notation.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cfenv>

namespace gm {
namespace {

QString text(const char16_t *s)
{
    return QString::fromUtf16(s);
}

TEST(Notation, ColumnLettersAndNumbers)
{
    const std::pair<const char16_t *, int> cases[] = {
        {u"A", 1}, {u"Z", 26}, {u"AA", 27}, {u"AZ", 52}, {u"BA", 53}, {u"CA", 79}, {u"CZ", 104},
        {u"DA", 105}, {u"IV", 256}, {u"XFD", 16384}, {u"ZZ", 702}, {u"AAA", 703},
        {u"FXSHRXW", 2147483647}, // the largest column number
    };
    for (const auto &[letters, number] : cases) {
        SCOPED_TRACE(text(letters).toStdString());
        EXPECT_EQ(ColumnLettersToNumber(text(letters)), number);
        EXPECT_EQ(ColumnNumberToLetters(QString::number(number)), text(letters));
    }
    EXPECT_EQ(ColumnLettersToNumber(QString()), 0);
}

TEST(Notation, ColumnNumbersRoundTrip)
{
    for (int n = 1; n <= 18278; ++n) { // A to ZZZ
        const QString letters = ColumnNumberToLetters(QString::number(n));
        ASSERT_FALSE(letters.isEmpty()) << n;
        ASSERT_EQ(letters, letters.toUpper()) << n;
        ASSERT_EQ(ColumnLettersToNumber(letters), n) << letters.toStdString();
    }
}

TEST(Notation, ColumnLettersBeyondTheIntegerRange)
{
    // FXSHRXX is one past the largest 32-bit number; longer texts overflow further.
    for (const char16_t *letters : {u"FXSHRXX", u"ZZZZZZZ", u"AAAAAAAAAAAAAAAAAAAAAAAAAAAA"}) {
        SCOPED_TRACE(text(letters).toStdString());
        EXPECT_EQ(ColumnLettersToNumber(text(letters)), -1);
        // The text stays as typed, so a whole-number check on it fails.
        EXPECT_EQ(NormalizeColumnRef(text(letters)), text(letters));
        EXPECT_FALSE(IsInteger(NormalizeColumnRef(text(letters))));
    }
}

TEST(Notation, ColumnNumberToLettersOfUnusualNumbers)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"0", u"@"}, {u"027", u"AA"}, {u"x", u""}, {u"", u""}, {u"2147483648", u""},
    };
    for (const auto &[number, letters] : cases) {
        SCOPED_TRACE(text(number).toStdString());
        EXPECT_EQ(ColumnNumberToLetters(text(number)), text(letters));
    }
}

TEST(Notation, NormalizeColumnRef)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"E", u"5"}, {u"AB", u"28"}, {u"5", u"5"}, {u"e", u"e"}, {u"Ab", u"Ab"},
        {u"A1", u"A1"}, {u"", u"0"}, {u" E", u" E"}, {u"ZZZ", u"18278"},
    };
    for (const auto &[in, out] : cases) {
        SCOPED_TRACE(text(in).toStdString());
        EXPECT_EQ(NormalizeColumnRef(text(in)), text(out));
    }
}

TEST(Notation, IsValidCell)
{
    const std::pair<const char16_t *, bool> cases[] = {
        {u"A1", true}, {u"a1", true}, {u"G100", true}, {u"IV65", true}, {u"ZZ1", true},
        {u"A01", true}, {u"aB7", true}, {u"A32767", true}, {u"AB000032767", true},
        {u"A", false}, {u"A0", false}, {u"AB0", false}, {u"A00", false}, {u"1A", false},
        {u"ABC1", false}, {u"A1B", false}, {u"A 1", false}, {u"", false}, {u"$A$1", false},
        {u"A-1", false}, {u"A32768", false}, {u"A40000", false}, {u"A99999999999", false},
        {u"\uff21\uff11", false}, // full-width letter and digit
        {u"A\u0661", false},      // Arabic-Indic digit one
    };
    for (const auto &[cell, valid] : cases) {
        SCOPED_TRACE(text(cell).toStdString());
        EXPECT_EQ(IsValidCell(text(cell)), valid);
    }
}

TEST(Notation, IsIntegerInTheCLocale)
{
    QLocale::setDefault(QLocale::c());
    const std::pair<const char16_t *, std::optional<int>> cases[] = {
        {u"7", 7}, {u"  7 ", 7}, {u"-3", -3}, {u"32767", 32767}, {u"-32768", -32768},
        {u"2.5", 2}, {u"3.5", 4}, {u"-2.5", -2}, {u"0.5", 0}, {u"32767.4", 32767},
        {u"-32768.5", -32768}, {u"1e3", 1000},
        {u"", std::nullopt}, {u"   ", std::nullopt}, {u"C", std::nullopt}, {u"40000", std::nullopt},
        {u"32768", std::nullopt}, {u"32767.5", std::nullopt}, {u"-32769", std::nullopt},
        {u"7x", std::nullopt}, {u"inf", std::nullopt}, {u"nan", std::nullopt},
    };
    for (const auto &[input, expected] : cases) {
        SCOPED_TRACE(text(input).toStdString());
        EXPECT_EQ(IsInteger(text(input)), expected.has_value());
        EXPECT_EQ(toInteger16(text(input)), expected);
    }
}

TEST(Notation, IsIntegerRoundsHalvesToEvenWhateverTheRoundingMode)
{
    QLocale::setDefault(QLocale::c());
    const int previous = std::fegetround();
    std::fesetround(FE_UPWARD);
    const std::optional<int> a = toInteger16(QStringLiteral("2.5"));
    const std::optional<int> b = toInteger16(QStringLiteral("2.4"));
    const int after = std::fegetround();
    std::fesetround(previous);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(after, FE_UPWARD);
}

TEST(Notation, IsIntegerFollowsTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::optional<int> comma = toInteger16(QStringLiteral("2,5"));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(comma, 2);
}

TEST(Notation, SplitCellName)
{
    struct Case
    {
        const char16_t *name, *column, *row;
    };
    const Case cases[] = {
        {u"F5", u"6", u"5"}, {u"AB12", u"28", u"12"}, {u"F05", u"6", u"5"}, {u"F", u"6", u""},
        {u"F0", u"6", u""}, {u"F5X7", u"6", u"5"}, {u"F100", u"6", u"100"}, {u"F0X5", u"6", u"5"},
        {u"F-5", u"6", u"5"}, {u"12", u"0", u"12"}, {u"", u"0", u""}, {u"f5", u"0", u"5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(text(c.name).toStdString());
        const CellNameParts parts = SplitCellName(text(c.name));
        EXPECT_EQ(parts.column, text(c.column));
        EXPECT_EQ(parts.row, text(c.row));
    }
}

} // namespace
} // namespace gm
