#pragma once

#include <QString>

#include <algorithm>
#include <charconv>

namespace gm {

// A non-negative number as decimal digits: value = 0.d1d2...dn x 10^exponent, without trailing
// zeros; no digits means zero. Rounding works on these digits, halves away from zero, so it
// rounds what the decimal form shows rather than the binary double behind it.
struct DecimalDigits
{
    char digits[24] = {};
    int count = 0;
    int exponent = 0;

    // The magnitude (finite, >= 0) to 15 significant digits, the precision spreadsheets keep.
    static DecimalDigits fromDouble(double magnitude)
    {
        DecimalDigits d;
        if (!(magnitude > 0))
            return d;
        char buf[40];
        const auto result = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 14);
        // buf holds "d.dddddddddddddde+XX".
        d.digits[0] = buf[0];
        int n = 1;
        const char *p = buf + 2;
        while (p < result.ptr && *p != 'e')
            d.digits[n++] = *p++;
        int e = 0;
        std::from_chars(p + 2, result.ptr, e);
        if (p[1] == '-')
            e = -e;
        d.count = n;
        d.exponent = e + 1;
        d.trim();
        return d;
    }

    // Keeps the given number of digits after the decimal point.
    void roundDecimals(int decimals) { roundAt(exponent + decimals); }
    // Keeps the given number of significant digits.
    void roundSignificant(int significant) { roundAt(significant); }

    int fractionDigits() const { return std::max(0, count - exponent); }

    // Fixed notation: whole digits (at least "0"), then the given number of decimals.
    void appendFixed(QString &out, int decimals) const
    {
        if (exponent <= 0) {
            out += u'0';
        } else {
            for (int i = 0; i < exponent; ++i)
                out += QChar(char16_t(i < count ? digits[i] : '0'));
        }
        if (decimals <= 0)
            return;
        out += u'.';
        for (int i = 0; i < decimals; ++i) {
            const int index = exponent + i;
            out += QChar(char16_t(index >= 0 && index < count ? digits[index] : '0'));
        }
    }

private:
    void roundAt(int keep)
    {
        if (keep >= count)
            return;
        if (keep < 0) {
            count = 0;
            exponent = 0;
            return;
        }
        const bool up = digits[keep] >= '5';
        count = keep;
        if (up) {
            int i = keep - 1;
            while (i >= 0 && digits[i] == '9')
                --i;
            if (i < 0) {
                digits[0] = '1';
                count = 1;
                ++exponent;
            } else {
                ++digits[i];
                count = i + 1;
            }
        }
        trim();
    }

    void trim()
    {
        while (count > 0 && digits[count - 1] == '0')
            --count;
        if (count == 0)
            exponent = 0;
    }
};

} // namespace gm
