#include "automation/Notation.h"

#include <QLocale>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

namespace gm {

namespace {

bool isUpperLetter(QChar c)
{
    return c >= u'A' && c <= u'Z';
}

bool isLetter(QChar c)
{
    return isUpperLetter(c) || (c >= u'a' && c <= u'z');
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Rounds to the nearest whole number, halves to the even one, whatever rounding mode the
// caller has set.
double roundHalfEven(double value)
{
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    return rounded;
}

} // namespace

int ColumnLettersToNumber(const QString &letters)
{
    // The rightmost letter is the lowest place. Each step is kept in a 32-bit integer;
    // letters beyond that range have no column number and give -1, which no letter text
    // gives otherwise.
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    int total = 0;
    double weight = 1.0;
    for (qsizetype i = letters.size() - 1; i >= 0; --i) {
        const double digit = static_cast<double>(letters.at(i).unicode()) - u'A' + 1;
        const double sum = total + digit * weight;
        if (!(sum >= lowest && sum <= highest))
            return -1;
        total = static_cast<int>(sum);
        weight *= 26.0;
    }
    return total;
}

QString ColumnNumberToLetters(const QString &number)
{
    bool ok = false;
    const int n = number.trimmed().toInt(&ok);
    if (!ok)
        return QString();
    // C++ division truncates toward zero and the remainder takes the sign of the dividend,
    // so column 0 gives the character just before "A". 64-bit steps keep the lowest
    // numbers free of overflow.
    const auto letterFor = [](qint64 value) { return QChar(static_cast<char16_t>(u'A' + (value - 1) % 26)); };
    QString letters(letterFor(n));
    for (qint64 q = (static_cast<qint64>(n) - 1) / 26; q > 0; q = (q - 1) / 26)
        letters.prepend(letterFor(q));
    return letters;
}

QString NormalizeColumnRef(const QString &text)
{
    for (const QChar c : text) {
        if (!isUpperLetter(c))
            return text;
    }
    const int number = ColumnLettersToNumber(text);
    // Too many letters to number: leave the text as typed so that a number check on the
    // result fails like it does for any other text that is no column.
    if (number < 0)
        return text;
    return QString::number(number);
}

bool IsValidCell(const QString &text)
{
    const qsizetype length = text.size();
    if (length < 2)
        return false;
    if (!isLetter(text.front()) || !isDigit(text.back()))
        return false;
    const QChar second = text.at(1);
    if (!isLetter(second) && !isDigit(second))
        return false;
    for (qsizetype i = 2; i < length - 1; ++i) {
        if (!isDigit(text.at(i)))
            return false;
    }
    // Every character of the row part is a digit now. The row is held in 16 bits, so a row
    // above 32767 is no valid address here.
    QStringView row = QStringView(text).mid(isLetter(second) ? 2 : 1);
    while (row.size() > 1 && row.front() == u'0')
        row = row.mid(1);
    if (row.size() > 5)
        return false;
    const int value = row.toInt();
    return value > 0 && value <= std::numeric_limits<qint16>::max();
}

std::optional<int> toInteger16(const QString &text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    const double rounded = roundHalfEven(value);
    if (!(rounded >= std::numeric_limits<qint16>::min() && rounded <= std::numeric_limits<qint16>::max()))
        return std::nullopt;
    return static_cast<int>(rounded);
}

bool IsInteger(const QString &text)
{
    return toInteger16(text).has_value();
}

CellNameParts SplitCellName(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && isUpperLetter(text.at(i)))
        ++i;
    CellNameParts parts;
    parts.column = QString::number(ColumnLettersToNumber(text.left(i)));
    // Zeros before the first other digit are dropped; anything else before the first digit
    // is skipped, and the first non-digit after it ends the row.
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (isDigit(c)) {
            if (c != u'0' || !parts.row.isEmpty())
                parts.row.append(c);
        } else if (!parts.row.isEmpty()) {
            break;
        }
    }
    return parts;
}

QString RangeText(const QString &from, const QString &to)
{
    return from + u':' + to;
}

namespace {

// One end of a run: letters for columns, digits for rows, an optional "$" before it.
std::optional<qint64> runEnd(QStringView text, bool columns, qint64 limit)
{
    if (text.startsWith(u'$'))
        text = text.mid(1);
    if (text.isEmpty() || text.size() > (columns ? 3 : 7))
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (columns) {
            const QChar upper = c.toUpper();
            if (upper < u'A' || upper > u'Z')
                return std::nullopt;
            value = value * 26 + (upper.unicode() - u'A' + 1);
        } else {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
        }
    }
    if (value < 1 || value > limit)
        return std::nullopt;
    return value;
}

std::optional<LineRun> run(const QString &text, bool columns, qint64 limit)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.indexOf(u':');
    const QStringView whole(trimmed);
    const auto first = runEnd(colon < 0 ? whole : whole.left(colon), columns, limit);
    const auto last = colon < 0 ? first : runEnd(whole.mid(colon + 1), columns, limit);
    if (!first || !last)
        return std::nullopt;
    return LineRun{std::min(*first, *last), std::max(*first, *last)};
}

} // namespace

std::optional<LineRun> columnRun(const QString &text, qint64 lastColumn)
{
    return run(text, true, lastColumn);
}

std::optional<LineRun> rowRun(const QString &text, qint64 lastRow)
{
    return run(text, false, lastRow);
}

} // namespace gm
