#include "automation/cells/TypedEntry.h"

#include <QStringList>

#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace gm {

namespace {

// Built-in number format ids an entry can set.
constexpr int FormatGrouped = 3;
constexpr int FormatGroupedDecimals = 4;
constexpr int FormatCurrency = 6;
constexpr int FormatCurrencyDecimals = 8;
constexpr int FormatPercent = 9;
constexpr int FormatPercentDecimals = 10;
constexpr int FormatScientific = 11;
constexpr int FormatFraction = 12;
constexpr int FormatFractionTwoDigits = 13;
constexpr int FormatShortDate = 14;
constexpr int FormatDayMonthYear = 15;
constexpr int FormatDayMonth = 16;
constexpr int FormatMonthYear = 17;
constexpr int FormatTime12 = 18;
constexpr int FormatTime12Seconds = 19;
constexpr int FormatTime = 20;
constexpr int FormatTimeSeconds = 21;
constexpr int FormatDateTime = 22;
constexpr int FormatElapsed = 46;

constexpr int SignificantDigits = 15;

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The value of decimal digits times a power of ten, keeping the first 15 significant digits.
std::optional<double> decimalValue(const QString &digits, int exponent)
{
    std::string kept;
    qsizetype i = 0;
    while (i < digits.size() && digits.at(i) == u'0')
        ++i;
    const qsizetype significant = digits.size() - i;
    for (; i < digits.size() && static_cast<int>(kept.size()) < SignificantDigits; ++i)
        kept += static_cast<char>(digits.at(i).unicode());
    if (kept.empty())
        return 0.0;
    // digits = kept followed by the dropped ones, times 10^exponent.
    const long long scale = exponent + (significant - static_cast<qsizetype>(kept.size()));
    const std::string text = kept + "e" + std::to_string(scale);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value) || value > 9.99999999999999E+307)
        return std::nullopt;
    return value;
}

struct ParsedNumber
{
    double value = 0;
    int format = -1;
};

std::optional<ParsedNumber> parseNumber(QString s)
{
    bool negative = false;
    bool currency = false;
    bool percent = false;
    if (s.size() >= 2 && s.startsWith(u'(') && s.endsWith(u')')) {
        negative = true;
        s = s.mid(1, s.size() - 2);
        if (s.startsWith(u'$')) {
            currency = true;
            s.remove(0, 1);
        }
    } else {
        bool sign = false;
        while (!s.isEmpty()) {
            const QChar c = s.at(0);
            if ((c == u'+' || c == u'-') && !sign) {
                sign = true;
                negative = c == u'-';
            } else if (c == u'$' && !currency) {
                currency = true;
            } else {
                break;
            }
            s.remove(0, 1);
        }
    }
    if (s.endsWith(u'%')) {
        percent = true;
        s.chop(1);
    }
    if (s.isEmpty() || (currency && percent))
        return std::nullopt;
    QString digits;
    int decimals = 0;
    bool point = false;
    bool grouped = false;
    int groupLength = -1; // digits since the last comma, -1 before any comma
    int leadingLength = 0;
    qsizetype i = 0;
    for (; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (isDigit(c)) {
            digits += c;
            if (point)
                ++decimals;
            else if (groupLength >= 0)
                ++groupLength;
            else
                ++leadingLength;
        } else if (c == u',' && !point) {
            if ((groupLength < 0 && (leadingLength == 0 || leadingLength > 3)) || (groupLength >= 0 && groupLength != 3))
                return std::nullopt;
            grouped = true;
            groupLength = 0;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits.isEmpty() || (grouped && groupLength != 3))
        return std::nullopt;
    int exponent = 0;
    bool scientific = false;
    if (i < s.size()) {
        if ((s.at(i) != u'e' && s.at(i) != u'E') || grouped)
            return std::nullopt;
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-')) {
            expNegative = s.at(i) == u'-';
            ++i;
        }
        if (i >= s.size())
            return std::nullopt;
        for (; i < s.size(); ++i) {
            if (!isDigit(s.at(i)) || exponent > 10000)
                return std::nullopt;
            exponent = exponent * 10 + s.at(i).digitValue();
        }
        if (expNegative)
            exponent = -exponent;
        scientific = true;
    }
    const std::optional<double> value = decimalValue(digits, exponent - decimals - (percent ? 2 : 0));
    if (!value)
        return std::nullopt;
    ParsedNumber parsed;
    parsed.value = negative ? -*value : *value;
    if (percent)
        parsed.format = decimals > 0 ? FormatPercentDecimals : FormatPercent;
    else if (currency)
        parsed.format = decimals > 0 ? FormatCurrencyDecimals : FormatCurrency;
    else if (scientific)
        parsed.format = FormatScientific;
    else if (grouped)
        parsed.format = decimals > 0 ? FormatGroupedDecimals : FormatGrouped;
    return parsed;
}

// "1 1/2", "-0 3/4": a whole number, one space, a fraction.
std::optional<ParsedNumber> parseMixedFraction(const QString &s)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s.at(i) == u'-' || s.at(i) == u'+')) {
        negative = s.at(i) == u'-';
        ++i;
    }
    auto number = [&](long long &out) {
        const qsizetype start = i;
        out = 0;
        while (i < s.size() && isDigit(s.at(i)) && i - start < 9)
            out = out * 10 + s.at(i++).digitValue();
        return i > start;
    };
    long long whole = 0;
    long long num = 0;
    long long den = 0;
    if (!number(whole) || i >= s.size() || s.at(i++) != u' ' || !number(num) || i >= s.size() || s.at(i++) != u'/' || !number(den)
        || i != s.size() || den == 0)
        return std::nullopt;
    const double value = static_cast<double>(whole) + static_cast<double>(num) / static_cast<double>(den);
    return ParsedNumber{negative ? -value : value, den >= 10 ? FormatFractionTwoDigits : FormatFraction};
}

struct ParsedTime
{
    double fraction = 0; // of a day; may exceed 1 for hours past 24
    int format = FormatTime;
};

// h:mm, h:mm:ss (with optional decimals of a second), either followed by AM/PM, A or P.
std::optional<ParsedTime> parseTime(const QString &text)
{
    // Every time has a colon between its fields; most entries are told apart at once.
    if (!text.contains(u':'))
        return std::nullopt;
    QString s = text;
    int meridiem = 0; // 1 morning, 2 afternoon
    const QString upper = s.toUpper();
    for (const auto &[suffix, value] : {std::pair{"AM", 1}, {"PM", 2}, {"A", 1}, {"P", 2}}) {
        if (upper.endsWith(QLatin1String(suffix))) {
            meridiem = value;
            s.chop(qsizetype(qstrlen(suffix)));
            s = trimSpaces(s);
            break;
        }
    }
    const QStringList parts = s.split(u':');
    if (parts.size() < 2 || parts.size() > 3)
        return std::nullopt;
    long long fields[3] = {0, 0, 0};
    double secondFraction = 0;
    for (qsizetype k = 0; k < parts.size(); ++k) {
        QString part = parts.at(k);
        if (k == 2) {
            const qsizetype dot = part.indexOf(u'.');
            if (dot >= 0) {
                const QString decimals = part.mid(dot + 1);
                bool ok = !decimals.isEmpty();
                for (QChar c : decimals)
                    ok = ok && isDigit(c);
                if (!ok)
                    return std::nullopt;
                secondFraction = QStringLiteral("0.%1").arg(decimals).toDouble();
                part = part.left(dot);
            }
        }
        if (part.isEmpty() || part.size() > (k == 0 ? 5 : 2))
            return std::nullopt;
        for (QChar c : part) {
            if (!isDigit(c))
                return std::nullopt;
        }
        fields[k] = part.toLongLong();
    }
    const long long hours = fields[0];
    if (fields[1] > 59 || fields[2] > 59)
        return std::nullopt;
    ParsedTime t;
    long long h = hours;
    if (meridiem) {
        if (hours > 12)
            return std::nullopt;
        h = hours % 12 + (meridiem == 2 ? 12 : 0);
        t.format = parts.size() == 3 ? FormatTime12Seconds : FormatTime12;
    } else if (hours >= 24) {
        t.format = FormatElapsed;
    } else {
        t.format = parts.size() == 3 ? FormatTimeSeconds : FormatTime;
    }
    t.fraction = (static_cast<double>(h * 3600 + fields[1] * 60 + fields[2]) + secondFraction) / 86400.0;
    return t;
}

int monthFromName(const QString &word)
{
    static const char *const names[] = {
        "january", "february", "march", "april", "may", "june", "july", "august", "september", "october", "november", "december"};
    const QString lower = word.toLower();
    if (lower.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        const QLatin1String name(names[m]);
        if (lower == name || lower == name.left(3) || (m == 8 && lower == QLatin1String("sept")))
            return m + 1;
    }
    return 0;
}

int expandYear(long long year, qsizetype digits)
{
    if (digits <= 2)
        return static_cast<int>(year < 30 ? 2000 + year : 1900 + year);
    return static_cast<int>(year);
}

struct DatePart
{
    bool isMonthName = false;
    long long value = 0; // the number, or the month of a name
    qsizetype digits = 0;
};

struct ParsedDate
{
    long long serial = 0;
    int format = FormatShortDate;
};

// Numeric dates with "/" or "-" (m/d/y, y/m/d, m/d, m/y) and dates with month names
// ("Jan 2", "2 Jan", "Jan 2020", "2-Jan-2020", "January 2, 2020").
std::optional<ParsedDate> parseDate(const QString &s, const EntryContext &context)
{
    std::vector<DatePart> parts;
    bool slashOrDash = false;
    bool otherSeparator = false;
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s.at(i);
        if (isDigit(c)) {
            DatePart p;
            while (i < s.size() && isDigit(s.at(i)) && p.digits < 5) {
                p.value = p.value * 10 + s.at(i++).digitValue();
                ++p.digits;
            }
            if (i < s.size() && isDigit(s.at(i)))
                return std::nullopt;
            parts.push_back(p);
        } else if (c.isLetter() && c.unicode() < 128) {
            const qsizetype start = i;
            while (i < s.size() && s.at(i).isLetter() && s.at(i).unicode() < 128)
                ++i;
            const int month = monthFromName(s.mid(start, i - start));
            if (!month)
                return std::nullopt;
            parts.push_back({true, month, 0});
        } else if (c == u'/' || c == u'-') {
            slashOrDash = true;
            ++i;
        } else if (c == u' ' || c == u',') {
            otherSeparator = true;
            ++i;
        } else {
            return std::nullopt;
        }
    }
    int names = 0;
    for (const DatePart &p : parts)
        names += p.isMonthName ? 1 : 0;
    int year = context.currentYear;
    int month = 0;
    int day = 1;
    int format = FormatShortDate;
    auto isYear = [](const DatePart &p) { return p.digits == 4 || p.value > 31; };
    if (names == 0) {
        if (!slashOrDash || otherSeparator)
            return std::nullopt;
        if (parts.size() == 3) {
            if (parts[0].digits >= 3) {
                year = expandYear(parts[0].value, parts[0].digits);
                month = static_cast<int>(parts[1].value);
                day = static_cast<int>(parts[2].value);
            } else {
                if (parts[2].digits == 3 || parts[2].digits > 4)
                    return std::nullopt;
                month = static_cast<int>(parts[0].value);
                day = static_cast<int>(parts[1].value);
                year = expandYear(parts[2].value, parts[2].digits);
            }
        } else if (parts.size() == 2) {
            month = static_cast<int>(parts[0].value);
            if (isYear(parts[1])) {
                year = expandYear(parts[1].value, parts[1].digits);
                format = FormatMonthYear;
            } else {
                day = static_cast<int>(parts[1].value);
                format = FormatDayMonth;
            }
        } else {
            return std::nullopt;
        }
    } else if (names == 1) {
        if (parts.size() == 2) {
            const DatePart &n = parts[0].isMonthName ? parts[1] : parts[0];
            month = static_cast<int>((parts[0].isMonthName ? parts[0] : parts[1]).value);
            if (parts[0].isMonthName && isYear(n)) {
                year = expandYear(n.value, n.digits);
                format = FormatMonthYear;
            } else if (!isYear(n)) {
                day = static_cast<int>(n.value);
                format = FormatDayMonth;
            } else {
                return std::nullopt;
            }
        } else if (parts.size() == 3 && !parts[2].isMonthName) {
            if (parts[1].isMonthName) { // 2-Jan-2020, 2 Jan 2020
                day = static_cast<int>(parts[0].value);
                month = static_cast<int>(parts[1].value);
            } else if (parts[0].isMonthName) { // Jan 2, 2020
                month = static_cast<int>(parts[0].value);
                day = static_cast<int>(parts[1].value);
            } else {
                return std::nullopt;
            }
            year = expandYear(parts[2].value, parts[2].digits);
            format = FormatDayMonthYear;
        } else {
            return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    const std::optional<long long> serial = serialFromCivil(year, month, day, context.system);
    if (!serial)
        return std::nullopt;
    return ParsedDate{*serial, format};
}

TypedEntry textEntry(const QString &text)
{
    TypedEntry e;
    e.type = TypedEntry::Type::Text;
    e.text = text;
    return e;
}

} // namespace

TypedEntry parseTypedEntry(const QString &text, const EntryContext &context)
{
    TypedEntry entry;
    if (text.isEmpty())
        return entry;
    if (text.startsWith(u'\'')) {
        entry = textEntry(text.mid(1));
        entry.quotePrefix = true;
        return entry;
    }
    if (context.cellIsText)
        return textEntry(text);
    if (text.startsWith(u'=') && text.size() > 1) {
        entry.type = TypedEntry::Type::Formula;
        entry.text = text.mid(1);
        return entry;
    }
    const QString s = trimSpaces(text);
    // Numbers, dates, times, booleans and errors begin with a digit, a sign, a symbol or an
    // English word: text that begins with a letter of another script stays text.
    if (!s.isEmpty() && s.front().unicode() >= 0x80 && s.front().isLetter())
        return textEntry(text);
    const QString upper = s.toUpper();
    if (upper == QLatin1String("TRUE") || upper == QLatin1String("FALSE")) {
        entry.type = TypedEntry::Type::Boolean;
        entry.number = upper == QLatin1String("TRUE") ? 1 : 0;
        return entry;
    }
    static const char *const errors[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA"};
    for (const char *code : errors) {
        if (upper == QLatin1String(code)) {
            entry.type = TypedEntry::Type::Error;
            entry.text = QLatin1String(code);
            return entry;
        }
    }
    std::optional<ParsedNumber> number = parseNumber(s);
    if (!number)
        number = parseMixedFraction(s);
    if (number) {
        entry.type = TypedEntry::Type::Number;
        entry.number = number->value;
        entry.numberFormatId = number->format;
        return entry;
    }
    if (const auto time = parseTime(s)) {
        entry.type = TypedEntry::Type::Number;
        entry.number = time->fraction;
        entry.numberFormatId = time->format;
        return entry;
    }
    // A date, possibly followed by a time after the last blank.
    std::optional<ParsedDate> date = parseDate(s, context);
    std::optional<ParsedTime> time;
    if (!date) {
        const qsizetype blank = s.indexOf(u' ');
        if (blank > 0) {
            // The time starts at the first blank followed by digits and a colon.
            for (qsizetype split = blank; split > 0 && split < s.size(); split = s.indexOf(u' ', split + 1)) {
                const QString timeText = trimSpaces(s.mid(split));
                if (!timeText.contains(u':'))
                    continue;
                date = parseDate(s.left(split), context);
                time = date ? parseTime(timeText) : std::nullopt;
                if (date && time && time->format != FormatElapsed)
                    break;
                date.reset();
                time.reset();
            }
        }
    }
    if (date) {
        entry.type = TypedEntry::Type::Number;
        entry.number = static_cast<double>(date->serial) + (time ? time->fraction : 0.0);
        entry.numberFormatId = time ? FormatDateTime : date->format;
        return entry;
    }
    return textEntry(text);
}

} // namespace gm
