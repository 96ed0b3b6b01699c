#include "automation/cells/NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>

namespace gm {
namespace {

QString text(const char16_t *s)
{
    return QString::fromUtf16(s);
}

struct Vector
{
    CellValue value;
    const char16_t *code;
    const char16_t *expected;
    DateSystem system = DateSystem::Date1900;
};

CellValue num(double v)
{
    return CellValue::ofNumber(v);
}

void check(const std::vector<Vector> &vectors)
{
    NumberFormatCache cache;
    for (const Vector &v : vectors) {
        const QString code = text(v.code);
        const QString shown = v.value.type == CellValue::Type::Text ? v.value.text : QString::number(v.value.number, 'g', 17);
        SCOPED_TRACE((shown + QStringLiteral("  with  ") + code).toStdString());
        const QString result = cache.format(code).format(v.value, v.system);
        if (v.expected) { // without an expected text: renders without failing
            EXPECT_EQ(result.toStdString(), text(v.expected).toStdString());
        }
    }
}

constexpr auto D1904 = DateSystem::Date1904;

TEST(NumberFormat, General)
{
    check({
        {num(1.2345678912), u"General", u"1.234567891"},
        {num(1.2345678919), u"General", u"1.234567892"},
        {num(-1.2345678912), u"General", u"-1.234567891"},
        {num(10000000000), u"General", u"10000000000"},
        {num(-10000000000), u"General", u"-10000000000"},
        {num(100000000000), u"General", u"1E+11"},
        {num(112345900000), u"General", u"1.12346E+11"},
        {num(112345100000), u"General", u"1.12345E+11"},
        {num(1.0000000000000001E-9), u"General", u"0.000000001"},
        {num(1.123E-10), u"General", u"1.123E-10"},
        {num(1E-10), u"General", u"1E-10"},
        {num(1.5E-9), u"General", u"1.5E-09"},
        {num(123456789012), u"General", u"1.23457E+11"},
        {num(0.30000000000000004), u"General", u"0.3"},
        {num(0.0001234567891), u"General", u"0.000123457"},
        {num(12345678901.5), u"General", u"12345678902"},
        {num(99999999999.7), u"General", u"1E+11"},
        {num(9.99999999999999E+307), u"General", u"1E+308"},
        {num(-1.5E+200), u"General", u"-1.5E+200"},
        {num(-0.0), u"General", u"0"},
        {CellValue::ofBoolean(true), u"General", u"TRUE"},
        {CellValue::ofBoolean(false), u"0.00", u"FALSE"},
        {CellValue::ofError(QStringLiteral("#DIV/0!")), u"0.00", u"#DIV/0!"},
        {CellValue::ofText(QStringLiteral("abc")), u"General", u"abc"},
        {CellValue{}, u"0.00", u""},
        {num(5), u"", u"5"},
        {num(5.5), u"G/通用格式", u"5.5"},
        {num(INFINITY), u"0.00", u"#NUM!"},
    });
}

TEST(NumberFormat, NumberPlaceholders)
{
    check({
        {num(12.343999999999999), u"0.00", u"12.34"},
        {num(12.3), u"000.00", u"012.30"},
        {num(12.3), u"#.##", u"12.3"},
        {num(0.5), u"#.##", u".5"},
        {num(-12.3), u"$###.##", u"-$12.3"},
        {num(12.3), u"\\a $#.00\" profit\"", u"a $12.30 profit"},
        {num(-12.3), u"¥#.00\" after\"", u"-¥12.30 after"},
        {num(12.3), u"£000.00", u"£012.30"},
        {num(1.1), u"|??.??|", u"| 1.1 |"},
        {num(1234567), u"#,###", u"1,234,567"},
        {num(1234567), u"0,0000000", u"01,234,567"},
        {num(1234567), u"0,", u"1235"},
        {num(1234567), u"#,,", u"1"},
        {num(314159), u"#,##0.00", u"314,159.00"},
        {num(314159), u"$000,000,000", u"$000,314,159"},
        {num(123), u"#,##0", u"123"},
        {num(0), u"#,##0", u"0"},
        {num(0.0123), u"0.00%", u"1.23%"},
        {num(0), u"0.0%", u"0.0%"},
        {num(0), u"0%", u"0%"},
        {num(0), u"#,##0,", u"0"},
        {num(-123.45), u"0,0.00%", u"-12,345.00%"},
        {num(123.45), u"0,0.00%%", u"1,234,500.00%%"},
        {num(1234), u"0.00_ ", u"1234.00 "},
        {num(1234567), u"#,##0,\"K\"", u"1,235K"},
        {num(1234.5), u"[$¥-804]#,##0.00", u"¥1,234.50"},
        {num(1234.5), u"[Red][$USD-409] 0.0", u"USD 1234.5"},
        {num(5), u"\"h\"\"I\"0", u"hI5"},
        {num(5), u"\\h\\i0", u"hi5"},
        {num(5551234), u"000-0000", u"555-1234"},
        {num(1234), u"0.00E+00", u"1.23E+03"},
        {num(0.000123), u"0.00E+00", u"1.23E-04"},
        {num(0), u"0.00E+00", u"0.00E+00"},
        {num(1234), u"##0.0E+0", u"1.2E+3"},
        {num(0.5), u"##0.0E+0", u"500.0E-3"},
        {num(99999), u"0.00E+00", u"1.00E+05"},
        {num(9.99999999999999E+307), u"0.00E+00", u"1.00E+308"},
    });
}

TEST(NumberFormat, DecimalRoundingHalvesAwayFromZero)
{
    check({
        {num(0.00035), u"#,##0.00%", u"0.04%"},
        {num(1.005), u"0.00", u"1.01"},
        {num(652.685), u"0.00", u"652.69"},
        {num(-2.5), u"0", u"-3"},
        {num(2.5), u"0", u"3"},
        {num(0.5), u"0", u"1"},
        {num(1.45), u"0.0", u"1.5"},
        {num(0.125), u"0.00", u"0.13"},
        {num(9.995), u"0.00", u"10.00"},
        {num(999.5), u"#,##0", u"1,000"},
        {num(-0.000001325), u"0.00", u"-0.00"},
        {num(-0.4), u"0", u"-0"},
        {num(-0.0), u"0.00;(0.00);\"zero\"", u"zero"},
    });
}

TEST(NumberFormat, SectionsAndConditions)
{
    check({
        {num(-5), u"\"(\"0\")\"", u"-(5)"},
        {num(-5), u"0;0", u"5"},
        {num(-5), u"0.00;(0.00)", u"(5.00)"},
        {num(0), u"0.00;-0.00;\"zero\"", u"zero"},
        {num(0), u"0.00;(0.00)", u"0.00"},
        {num(-5), u"0;;", u""},
        {num(5), u";;;", u""},
        {CellValue::ofText(QStringLiteral("abc")), u";;;", u""},
        {num(1), u"[<10]#\" Wow\"", u"1 Wow"},
        {num(10), u"[<10]#\" Wow\"", u"10"},
        {num(1.5), u"[<10]#\" Wow\"", u"2 Wow"},
        {num(-9), u"[>-10]#\" Big\"", u"-9 Big"},
        {num(5), u"[<      10]0.0", u"5.0"},
        {num(150), u"[>=100][Red]0\" big\";[<0]0\" neg\";0\" small\"", u"150 big"},
        {num(-3), u"[>=100][Red]0\" big\";[<0]0\" neg\";0\" small\"", u"3 neg"},
        {num(7), u"[>=100][Red]0\" big\";[<0]0\" neg\";0\" small\"", u"7 small"},
        {CellValue::ofText(QStringLiteral("jello")), u";;;-@-", u"-jello-"},
        {CellValue::ofBoolean(true), u";;;\"hi\"", u"hi"},
        {CellValue::ofBoolean(true), u";;;@", u"TRUE"},
        {CellValue::ofText(QStringLiteral("jello")), u"-@-@-", u"-jello-jello-"},
        {CellValue::ofText(QStringLiteral("abc")), u"\"Qty \"0", u"abc"},
        {CellValue::ofText(QStringLiteral("abc")), u"@\" kg\"", u"abc kg"},
        {num(5), u"@\" kg\"", u"5"},
        {num(1234.5), u"\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)", u"$1,234.50 "},
        {num(-1234.5), u"\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)", u"($1,234.50)"},
        {num(123), u"[DBNum2][$-804]General", u"壹佰贰拾叁"},
        {num(10203), u"[DBNum1]General", u"一万〇二百〇三"},
    });
}

TEST(NumberFormat, Fractions)
{
    check({
        {num(1.5), u"# ?/?", u"1 1/2"},
        {num(0.3333333), u"# ?/?", u" 1/3"},
        {num(2), u"# ?/?", u"2    "},
        {num(3.14159265358979), u"# ?\?/??", u"3  1/7 "},
        {num(-1.75), u"# ?/?", u"-1 3/4"},
        {num(1.5), u"?/?", u"3/2"},
        {num(0.3), u"?/4", u"1/4"},
        {num(0.53), u"# ?/100", u" 53/100"},
        {num(0), u"# ?/?", u"0    "},
        {num(1e20), u"# ?/?", nullptr},
    });
}

TEST(NumberFormat, DatesAndTimes)
{
    check({
        {num(19278.607951388887), u"d-m-y", u"11-10-52"},
        {num(19278.607951388887 - 1462), u"d-m-y", u"11-10-52", D1904},
        {num(19278.607951388887), u"dddd-mmmm-yyyy", u"Saturday-October-1952"},
        {num(19278.607951388887), u"ddd-mmm-yyy", u"Sat-Oct-1952"},
        {num(19278.607951388887), u"D-M-Y H:M:S", u"11-10-52 14:35:27"},
        {num(19278.607951388887), u"hh:mm:ss a/p", u"02:35:27 p"},
        {num(19278.607951388887), u"hh:mm:ss.000 am/pm", u"02:35:27.000 PM"},
        {num(19278.607951388887), u"d \"days\" h am/pm", u"11 days 2 PM"},
        {num(19278.607951388887), u"h:m", u"14:35"},
        {num(19278.607951388887), u"mmmmm", u"O"},
        {num(37653.170208437499), u"h:m:s.00 A/P", u"4:5:6.01 A"},
        {num(37653.170208437499), u"dd-mm-yy", u"01-02-03"},
        {num(45658), u"dd-mm-yyyy", u"01-01-2025"},
        {num(1463.0032134017094), u"yyyy-mm-dd hh:mm:ss", u"1904-01-02 00:04:38"},
        {num(1463.0032134017094), u"yyyy-mm-dd hh:mm:ss.00", u"1904-01-02 00:04:37.64"},
        {num(1463.0032134017094), u"yyyy-mm-dd hh:mm:ss.0", u"1904-01-02 00:04:37.6"},
        {num(43832), u"m/d/yyyy", u"1/2/2020"},
        {num(43832), u"d-mmm-yy", u"2-Jan-20"},
        {num(43832), u"mmm-yy", u"Jan-20"},
        {num(43832), u"mmmm d, yyyy", u"January 2, 2020"},
        {num(43832), u"yyyy\"年\"m\"月\"d\"日\"", u"2020年1月2日"},
        {num(43832), u"[$-F800]dddd, mmmm dd, yyyy", u"Thursday, January 2, 2020"},
        // Codes as Excel stores them in workbooks.
        {num(43832), u"[$-409]mmmm\\ d\\,\\ yyyy;@", u"January 2, 2020"},
        {CellValue::ofText(QStringLiteral("n/a")), u"[$-409]mmmm\\ d\\,\\ yyyy;@", u"n/a"},
        {num(43832), u"mmm\\ d\\,\\ yyyy", u"Jan 2, 2020"},
        {num(0.5520833333), u"h:mm:ss\\ AM/PM", u"1:15:00 PM"},
        {num(0.5520833333), u"h:mm AM/PM", u"1:15 PM"},
        {num(0), u"h:mm AM/PM", u"12:00 AM"},
        {num(10.0 / 24 + 29.0 / 1440 + 59.136 / 86400), u"h:mm", u"10:29"},
        {num(10.0 / 24 + 29.0 / 1440 + 59.91 / 86400), u"h:mm", u"10:30"},
        {num(0.99999), u"m/d/yyyy h:mm:ss", u"1/0/1900 23:59:59"},
        {num(0.999999), u"m/d/yyyy h:mm:ss", u"1/1/1900 0:00:00"},
        // The 1900 system keeps the phantom 1900-02-29 and its shifted weekdays.
        {num(0), u"m/d/yyyy", u"1/0/1900"},
        {num(1), u"m/d/yyyy dddd", u"1/1/1900 Sunday"},
        {num(59), u"m/d/yyyy", u"2/28/1900"},
        {num(60), u"m/d/yyyy", u"2/29/1900"},
        {num(61), u"m/d/yyyy dddd", u"3/1/1900 Thursday"},
        {num(2958465.9), u"m/d/yyyy", u"12/31/9999"},
        {num(2958466), u"m/d/yyyy", u"#####"},
        {num(-1), u"m/d/yyyy", u"#####"},
        {num(2958466), u"h:mm", u"#####"},
        {num(1e300), u"[h]:mm", u"#####"},
        {num(2957004), u"m/d/yyyy", u"#####", D1904},
        {num(2957003), u"m/d/yyyy", u"12/31/9999", D1904},
        {num(0), u"m/d/yyyy", u"1/1/1904", D1904},
        {num(43832), u"m/d/yyyy", u"1/3/2024", D1904},
        {num(-0.08546296296296296), u"[h]:m:s.000", u"-2:3:4.000", D1904},
    });
}

TEST(NumberFormat, ElapsedTimes)
{
    check({
        {num(3.14159), u"[h]:m:s.000", u"75:23:53.376"},
        {num(3.14159), u"[mm]:ss.0", u"4523:53.4"},
        {num(3.14159), u"[s].000", u"271433.376"},
        {num(0.08546296296296296), u"[hh]:mm:ss.0", u"02:03:04.0"},
        {num(3.14159), u"s:m\" @ hour \"[hh]", u"53:23 @ hour 75"},
        {num(1.5), u"[h]:mm:ss", u"36:00:00"},
        {num(0.0001), u"[h]:mm:ss", u"0:00:09"},
        {num(37.638 / 86400), u"mm:ss", u"00:38"},
        {num(37.638 / 86400), u"mm:ss.0", u"00:37.6"},
    });
}

TEST(NumberFormat, BuiltInIds)
{
    NumberFormatCache cache;
    struct Case
    {
        int id;
        double value;
        const char16_t *expected;
    };
    const Case cases[] = {
        {0, 1234.5, u"1234.5"},
        {3, 1234.5, u"1,235"},
        {8, -1234.5, u"($1,234.50)"},
        {14, 43832, u"1/2/2020"},
        {22, 43832.5729166667, u"1/2/2020 13:45"},
        {44, 1234.5, u" $1,234.50 "},
        {44, 0, u" $-   "},
        {47, 37.638 / 86400, u"00:37.6"},
        // CJK and Thai ids carry no code in the file.
        {27, 43832, u"1/2/2020"},
        {58, 43832, u"1/2/2020"},
        {31, 43832, u"1/2/2020"},
        {32, 0.5520833333, u"13时15分"},
        {35, 0.5520833333, u"下午1时15分00秒"},
        {59, 2.5, u"3"},
        {68, 0.5, u"50.00%"},
        {81, 37.638 / 86400, u"00:37.6"},
        {23, 5, u"5"},
        {200, 5, u"5"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(cache.builtIn(c.id).formatNumber(c.value, DateSystem::Date1900).toStdString(), text(c.expected).toStdString());
    }
    EXPECT_EQ(&cache.builtIn(14), &cache.builtIn(14));
    EXPECT_EQ(&cache.format(QStringLiteral("0.00")), &cache.format(QStringLiteral("0.00")));
    EXPECT_TRUE(cache.builtIn(22).isDateTime());
    EXPECT_FALSE(cache.builtIn(4).isDateTime());
}

} // namespace
} // namespace gm
