#include "automation/cells/NumberFormat.h"

#include "automation/cells/DecimalDigits.h"

#include <algorithm>
#include <cmath>

namespace gm {

namespace {

enum class Tok : quint8 {
    Literal,
    Comma,
    Zero,
    Hash,
    Question,
    Point,
    Percent,
    Exponent, // text "+" or "-"; width = exponent digits
    Slash,
    FixedDenominator, // text = the digits
    TextAt,
    General,
    Year2,
    Year4,
    Month1,
    Month2,
    MonthAbbr,
    MonthFull,
    MonthLetter,
    Day1,
    Day2,
    DayAbbr,
    DayFull,
    Hour1,
    Hour2,
    Minute1,
    Minute2,
    Second1,
    Second2,
    SecondFraction, // width = digits
    AmPm, // text = morning text, alt = afternoon text
    ElapsedH, // width = minimum digits
    ElapsedM,
    ElapsedS,
};

bool isPlaceholder(Tok t)
{
    return t == Tok::Zero || t == Tok::Hash || t == Tok::Question;
}

struct Token
{
    Tok kind = Tok::Literal;
    int width = 0;
    QString text;
    QString alt;
};

enum class Cmp : quint8 { Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

const char16_t *const monthNames[] = {u"January", u"February", u"March", u"April", u"May", u"June", u"July", u"August",
    u"September", u"October", u"November", u"December"};
const char16_t *const dayNames[] = {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};

} // namespace

struct NumberFormat::Section
{
    enum class Kind : quint8 { Number, DateTime, Text, Empty };
    Kind kind = Kind::Number;
    std::vector<Token> tokens;
    bool hasCondition = false;
    Cmp op = Cmp::Equal;
    double operand = 0;
    // Numbers
    bool grouping = false;
    int shift = 0; // powers of ten applied to the value: +2 per %, -3 per scaling comma
    int intPlaceholders = 0;
    int decPlaceholders = 0;
    bool scientific = false;
    bool engineering = false;
    bool fraction = false;
    int numeratorStart = -1; // token indices of a fraction layout
    int slash = -1;
    int denominatorEnd = -1;
    int numeratorPlaceholders = 0;
    int denominatorPlaceholders = 0;
    bool fractionInteger = false; // a whole-number part before the numerator
    int dbnum = 0;
    // Dates and times
    bool twelveHour = false;
    int secondDecimals = 0;

    bool accepts(double v) const
    {
        switch (op) {
        case Cmp::Less:
            return v < operand;
        case Cmp::LessEqual:
            return v <= operand;
        case Cmp::Greater:
            return v > operand;
        case Cmp::GreaterEqual:
            return v >= operand;
        case Cmp::Equal:
            return v == operand;
        case Cmp::NotEqual:
            return v != operand;
        }
        return false;
    }
    // A condition that only negative numbers meet: the section then shows their magnitude.
    bool negativeOnly() const
    {
        return hasCondition
            && ((op == Cmp::Less && operand <= 0) || (op == Cmp::LessEqual && operand < 0) || (op == Cmp::Equal && operand < 0));
    }
};

namespace {

using Section = NumberFormat::Section;

// Splits a code on ";" outside quotes, brackets and escapes.
std::vector<QString> splitSections(const QString &code)
{
    std::vector<QString> parts;
    QString current;
    bool quoted = false;
    bool bracket = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (quoted) {
            quoted = c != u'"';
        } else if (bracket) {
            bracket = c != u']';
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'[') {
            bracket = true;
        } else if ((c == u'\\' || c == u'_' || c == u'*') && i + 1 < code.size()) {
            current += c;
            current += code.at(++i);
            continue;
        } else if (c == u';') {
            parts.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.push_back(current);
    return parts;
}

bool sameLetterRun(const QString &text, QChar letter)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c.toLower() != letter)
            return false;
    }
    return true;
}

class SectionParser
{
public:
    SectionParser(const QString &text, bool textMode) : m_text(text), m_textMode(textMode) { }

    Section parse()
    {
        Section s;
        bool longDate = false;
        bool longTime = false;
        const QString &t = m_text;
        qsizetype i = 0;
        while (i < t.size()) {
            const QChar c = t.at(i);
            const char16_t u = c.unicode();
            if (u == u'"') {
                const qsizetype end = t.indexOf(u'"', i + 1);
                literal(s, t.mid(i + 1, (end < 0 ? t.size() : end) - i - 1));
                i = end < 0 ? t.size() : end + 1;
            } else if (u == u'\\') {
                if (i + 1 < t.size())
                    literal(s, t.mid(i + 1, 1));
                i += 2;
            } else if (u == u'_') {
                literal(s, QStringLiteral(" "));
                i += 2;
            } else if (u == u'*') {
                i += 2; // fill to the column width: nothing without a width
            } else if (u == u'[') {
                const qsizetype end = t.indexOf(u']', i + 1);
                const QString inner = t.mid(i + 1, (end < 0 ? t.size() : end) - i - 1);
                i = end < 0 ? t.size() : end + 1;
                bracketed(s, inner, longDate, longTime);
            } else if (u == u'@') {
                s.tokens.push_back({Tok::TextAt, 0, {}, {}});
                ++i;
            } else if (m_textMode) {
                literal(s, QString(c));
                ++i;
            } else if (t.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
                s.tokens.push_back({Tok::General, 0, {}, {}});
                i += 7;
            } else if (t.mid(i, 6) == QStringView(u"G/通用格式")) {
                // General as some Chinese-language producers store it.
                s.tokens.push_back({Tok::General, 0, {}, {}});
                i += 6;
            } else if (t.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0) {
                s.tokens.push_back({Tok::AmPm, 0, QStringLiteral("AM"), QStringLiteral("PM")});
                s.twelveHour = true;
                i += 5;
            } else if (t.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0) {
                const bool lower = c == u'a';
                s.tokens.push_back({Tok::AmPm, 0, lower ? QStringLiteral("a") : QStringLiteral("A"),
                    lower ? QStringLiteral("p") : QStringLiteral("P")});
                s.twelveHour = true;
                i += 3;
            } else if (t.mid(i, 5) == QStringView(u"上午/下午")) {
                s.tokens.push_back({Tok::AmPm, 0, QStringLiteral("上午"), QStringLiteral("下午")});
                s.twelveHour = true;
                i += 5;
            } else {
                const char16_t l = c.toLower().unicode();
                if ((u == u'E' || u == u'e') && i + 1 < t.size() && (t.at(i + 1) == u'+' || t.at(i + 1) == u'-')) {
                    Token e{Tok::Exponent, 0, t.mid(i + 1, 1), {}};
                    i += 2;
                    while (i < t.size() && (t.at(i) == u'0' || t.at(i) == u'#' || t.at(i) == u'?')) {
                        ++e.width;
                        ++i;
                    }
                    s.tokens.push_back(e);
                } else if (l == u'y' || l == u'm' || l == u'd' || l == u'h' || l == u's' || l == u'e') {
                    qsizetype n = 1;
                    while (i + n < t.size() && t.at(i + n).toLower() == QChar(l))
                        ++n;
                    dateToken(s, l, t.mid(i, n));
                    i += n;
                } else if (u == u'0' || u == u'#' || u == u'?') {
                    s.tokens.push_back({u == u'0' ? Tok::Zero : u == u'#' ? Tok::Hash : Tok::Question, 0, {}, {}});
                    ++i;
                } else if (u == u'.') {
                    qsizetype n = 0;
                    while (i + 1 + n < t.size() && t.at(i + 1 + n) == u'0')
                        ++n;
                    if (n > 0 && m_afterSeconds) {
                        s.tokens.push_back({Tok::SecondFraction, static_cast<int>(std::min<qsizetype>(n, 3)), {}, {}});
                        i += 1 + n;
                    } else {
                        s.tokens.push_back({Tok::Point, 0, {}, {}});
                        ++i;
                    }
                } else if (u == u',') {
                    s.tokens.push_back({Tok::Comma, 0, {}, {}});
                    ++i;
                } else if (u == u'%') {
                    s.tokens.push_back({Tok::Percent, 0, {}, {}});
                    ++i;
                } else if (u == u'/') {
                    s.tokens.push_back({Tok::Slash, 0, {}, {}});
                    ++i;
                    if (i < t.size() && t.at(i) >= u'1' && t.at(i) <= u'9') {
                        qsizetype n = 0;
                        while (i + n < t.size() && t.at(i + n).isDigit())
                            ++n;
                        s.tokens.push_back({Tok::FixedDenominator, 0, t.mid(i, n), {}});
                        i += n;
                    }
                } else {
                    literal(s, QString(c));
                    ++i;
                }
            }
        }
        if (longDate || longTime) {
            Section replaced
                = SectionParser(longDate ? QStringLiteral("dddd, mmmm d, yyyy") : QStringLiteral("h:mm:ss AM/PM"), false).parse();
            replaced.hasCondition = s.hasCondition;
            replaced.op = s.op;
            replaced.operand = s.operand;
            return replaced;
        }
        classify(s);
        return s;
    }

private:
    static void literal(Section &s, const QString &text)
    {
        if (!s.tokens.empty() && s.tokens.back().kind == Tok::Literal)
            s.tokens.back().text += text;
        else
            s.tokens.push_back({Tok::Literal, 0, text, {}});
    }

    void bracketed(Section &s, const QString &inner, bool &longDate, bool &longTime)
    {
        const QString trimmed = inner.trimmed();
        if (trimmed.isEmpty())
            return;
        const QChar first = trimmed.at(0);
        if (!m_textMode && (first == u'<' || first == u'>' || first == u'=')) {
            QString rest = trimmed;
            Cmp op = Cmp::Equal;
            auto take = [&](const char *prefix, Cmp value) {
                if (rest.startsWith(QLatin1String(prefix))) {
                    op = value;
                    rest = rest.mid(qsizetype(qstrlen(prefix)));
                    return true;
                }
                return false;
            };
            take("<>", Cmp::NotEqual) || take("<=", Cmp::LessEqual) || take(">=", Cmp::GreaterEqual) || take("<", Cmp::Less)
                || take(">", Cmp::Greater) || take("=", Cmp::Equal);
            bool ok = false;
            const double operand = rest.trimmed().toDouble(&ok);
            if (ok) {
                s.hasCondition = true;
                s.op = op;
                s.operand = operand;
            }
            return;
        }
        if (first == u'$') {
            const qsizetype dash = trimmed.indexOf(u'-');
            const QString currency = trimmed.mid(1, dash < 0 ? -1 : dash - 1);
            if (!currency.isEmpty())
                literal(s, currency);
            if (dash >= 0) {
                const QString tag = trimmed.mid(dash + 1).toUpper();
                longDate = longDate || tag == QLatin1String("F800");
                longTime = longTime || tag == QLatin1String("F400");
            }
            return;
        }
        if (trimmed.startsWith(QLatin1String("DBNum"), Qt::CaseInsensitive)) {
            s.dbnum = trimmed.mid(5).toInt();
            return;
        }
        if (!m_textMode) {
            for (const auto &[letter, kind] : {std::pair{u'h', Tok::ElapsedH}, {u'm', Tok::ElapsedM}, {u's', Tok::ElapsedS}}) {
                if (sameLetterRun(trimmed, QChar(letter))) {
                    s.tokens.push_back({kind, static_cast<int>(trimmed.size()), {}, {}});
                    m_afterSeconds = kind == Tok::ElapsedS;
                    return;
                }
            }
        }
        // Colours ([Red], [Color12]) and anything unknown show nothing.
    }

    void dateToken(Section &s, char16_t letter, const QString &written)
    {
        const auto n = written.size();
        Tok kind = Tok::Literal;
        m_afterSeconds = false;
        switch (letter) {
        case u'y':
            kind = n <= 2 ? Tok::Year2 : Tok::Year4;
            break;
        case u'e':
            kind = Tok::Year4;
            break;
        case u'm':
            kind = n == 1 ? Tok::Month1
                : n == 2  ? Tok::Month2
                : n == 3  ? Tok::MonthAbbr
                : n == 5  ? Tok::MonthLetter
                          : Tok::MonthFull;
            break;
        case u'd':
            kind = n == 1 ? Tok::Day1 : n == 2 ? Tok::Day2 : n == 3 ? Tok::DayAbbr : Tok::DayFull;
            break;
        case u'h':
            kind = n == 1 ? Tok::Hour1 : Tok::Hour2;
            break;
        case u's':
            kind = n == 1 ? Tok::Second1 : Tok::Second2;
            m_afterSeconds = true;
            break;
        default:
            break;
        }
        s.tokens.push_back({kind, static_cast<int>(n), written, {}});
    }

    static bool isDatePart(Tok t) { return t >= Tok::Year2 && t <= Tok::ElapsedS; }

    static void classify(Section &s)
    {
        auto &tk = s.tokens;
        bool hasDate = false;
        bool hasNumber = false;
        bool hasText = false;
        for (const Token &t : tk) {
            hasDate = hasDate || isDatePart(t.kind);
            hasNumber = hasNumber || isPlaceholder(t.kind) || t.kind == Tok::General;
            hasText = hasText || t.kind == Tok::TextAt;
        }
        if (tk.empty()) {
            s.kind = Section::Kind::Empty;
            return;
        }
        if (hasText) {
            s.kind = Section::Kind::Text;
            return;
        }
        if (hasDate && !hasNumber) {
            s.kind = Section::Kind::DateTime;
            // "m" or "mm" next to hours or seconds means minutes.
            for (size_t i = 0; i < tk.size(); ++i) {
                if (tk[i].kind != Tok::Month1 && tk[i].kind != Tok::Month2)
                    continue;
                Tok before = Tok::Literal;
                for (size_t j = i; j-- > 0;) {
                    if (isDatePart(tk[j].kind)) {
                        before = tk[j].kind;
                        break;
                    }
                }
                Tok after = Tok::Literal;
                for (size_t j = i + 1; j < tk.size(); ++j) {
                    if (isDatePart(tk[j].kind)) {
                        after = tk[j].kind;
                        break;
                    }
                }
                const bool hourBefore = before == Tok::Hour1 || before == Tok::Hour2 || before == Tok::ElapsedH;
                const bool secondNear = after == Tok::Second1 || after == Tok::Second2 || after == Tok::ElapsedS
                    || before == Tok::Second1 || before == Tok::Second2;
                if (hourBefore || secondNear)
                    tk[i].kind = tk[i].kind == Tok::Month1 ? Tok::Minute1 : Tok::Minute2;
            }
            for (const Token &t : tk) {
                if (t.kind == Tok::SecondFraction)
                    s.secondDecimals = std::max(s.secondDecimals, t.width);
            }
            for (Token &t : tk) {
                if (t.kind == Tok::Point || t.kind == Tok::Comma || t.kind == Tok::Percent || t.kind == Tok::Slash) {
                    t.text = t.kind == Tok::Point ? QStringLiteral(".")
                        : t.kind == Tok::Comma    ? QStringLiteral(",")
                        : t.kind == Tok::Percent  ? QStringLiteral("%")
                                                  : QStringLiteral("/");
                    t.kind = Tok::Literal;
                } else if (t.kind == Tok::FixedDenominator || (t.kind == Tok::Exponent)) {
                    t.text = t.kind == Tok::Exponent ? QStringLiteral("E") + t.text : t.text;
                    t.kind = Tok::Literal;
                }
            }
            return;
        }
        s.kind = Section::Kind::Number;
        // Date letters inside a number section are shown as they are written.
        for (Token &t : tk) {
            if (isDatePart(t.kind) || t.kind == Tok::AmPm)
                t.kind = Tok::Literal; // the letters as written
        }
        // Commas: between placeholders they group thousands; after the last placeholder of the
        // whole number they divide by a thousand each; anywhere else they are literal.
        std::vector<Token> kept;
        kept.reserve(tk.size());
        bool pastPoint = false;
        for (size_t i = 0; i < tk.size(); ++i) {
            if (tk[i].kind != Tok::Comma) {
                pastPoint = pastPoint || tk[i].kind == Tok::Point;
                kept.push_back(tk[i]);
                continue;
            }
            size_t j = i;
            while (j < tk.size() && tk[j].kind == Tok::Comma)
                ++j;
            const bool afterPlaceholder = !kept.empty() && isPlaceholder(kept.back().kind);
            bool laterWholeDigit = false;
            for (size_t k = j; !pastPoint && k < tk.size() && tk[k].kind != Tok::Point && tk[k].kind != Tok::Exponent; ++k)
                laterWholeDigit = laterWholeDigit || isPlaceholder(tk[k].kind);
            if (afterPlaceholder && laterWholeDigit)
                s.grouping = true;
            else if (afterPlaceholder)
                s.shift -= 3 * static_cast<int>(j - i);
            else
                kept.push_back({Tok::Literal, 0, QString(static_cast<qsizetype>(j - i), QChar(u',')), {}});
            i = j - 1;
        }
        tk = std::move(kept);
        // A point after the first is literal.
        bool seenPoint = false;
        for (Token &t : tk) {
            if (t.kind == Tok::Point) {
                if (seenPoint) {
                    t.kind = Tok::Literal;
                    t.text = QStringLiteral(".");
                }
                seenPoint = true;
            } else if (t.kind == Tok::Percent) {
                s.shift += 2;
            } else if (t.kind == Tok::Exponent) {
                s.scientific = true;
            }
        }
        // A fraction: placeholders, "/", then placeholders or a fixed denominator.
        if (!s.scientific && !seenPoint) {
            for (size_t i = 1; i + 1 < tk.size(); ++i) {
                if (tk[i].kind != Tok::Slash || !isPlaceholder(tk[i - 1].kind))
                    continue;
                if (tk[i + 1].kind != Tok::FixedDenominator && !isPlaceholder(tk[i + 1].kind))
                    continue;
                s.fraction = true;
                s.slash = static_cast<int>(i);
                size_t start = i;
                while (start > 0 && isPlaceholder(tk[start - 1].kind))
                    --start;
                s.numeratorStart = static_cast<int>(start);
                s.numeratorPlaceholders = static_cast<int>(i - start);
                size_t end = i + 1;
                if (tk[end].kind == Tok::FixedDenominator) {
                    ++end;
                } else {
                    while (end < tk.size() && isPlaceholder(tk[end].kind))
                        ++end;
                    s.denominatorPlaceholders = static_cast<int>(end - i - 1);
                }
                s.denominatorEnd = static_cast<int>(end);
                for (size_t k = 0; k < start; ++k)
                    s.fractionInteger = s.fractionInteger || isPlaceholder(tk[k].kind);
                break;
            }
        }
        for (Token &t : tk) {
            if (t.kind == Tok::Slash) {
                t.kind = Tok::Literal;
                t.text = QStringLiteral("/");
            }
        }
        if (!s.fraction) {
            for (Token &t : tk) {
                if (t.kind == Tok::FixedDenominator)
                    t.kind = Tok::Literal;
            }
        }
        // Placeholder counts on each side of the point (the mantissa in scientific layouts).
        bool decimal = false;
        bool hashInInteger = false;
        for (const Token &t : tk) {
            if (t.kind == Tok::Point)
                decimal = true;
            else if (t.kind == Tok::Exponent)
                break;
            else if (isPlaceholder(t.kind)) {
                if (decimal) {
                    ++s.decPlaceholders;
                } else {
                    ++s.intPlaceholders;
                    hashInInteger = hashInInteger || t.kind != Tok::Zero;
                }
            }
        }
        s.engineering = s.scientific && hashInInteger && s.intPlaceholders > 1;
    }

    const QString &m_text;
    bool m_textMode;
    bool m_afterSeconds = false;
};

void appendDigits(QString &out, const char *digits, int count)
{
    for (int i = 0; i < count; ++i)
        out += QChar(char16_t(digits[i]));
}

void appendNumber(QString &out, long long value, int minDigits)
{
    char buf[24];
    int n = 0;
    unsigned long long v = static_cast<unsigned long long>(value < 0 ? -value : value);
    do {
        buf[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    for (int i = n; i < minDigits; ++i)
        out += u'0';
    while (n > 0)
        out += QChar(char16_t(buf[--n]));
}

QString generalText(double value)
{
    QString out;
    out.reserve(16);
    if (value == 0 || std::isnan(value))
        return QStringLiteral("0");
    if (value < 0)
        out += u'-';
    const double x = std::fabs(value);
    if (x < 1e11 && x == std::floor(x)) {
        appendNumber(out, static_cast<long long>(x), 1);
        return out;
    }
    if (std::isinf(x)) {
        out += QStringLiteral("#NUM!");
        return out;
    }
    const DecimalDigits d = DecimalDigits::fromDouble(x);
    const int e = d.exponent - 1; // power of ten of the first digit
    auto scientific = [&](const DecimalDigits &r) {
        const int exp = r.exponent - 1;
        out += QChar(char16_t(r.digits[0]));
        if (r.count > 1) {
            out += u'.';
            appendDigits(out, r.digits + 1, r.count - 1);
        }
        out += u'E';
        out += exp < 0 ? u'-' : u'+';
        appendNumber(out, exp < 0 ? -exp : exp, 2);
        return out;
    };
    auto sciRounded = [&]() {
        DecimalDigits r = d;
        const int expDigits = std::abs(e) >= 100 ? 3 : 2;
        r.roundSignificant(11 - 2 - expDigits - 1); // "d." + "E+" + exponent digits
        if (std::abs(r.exponent - 1) >= 100 && expDigits == 2)
            r.roundSignificant(5);
        return r;
    };
    auto fixed = [&](const DecimalDigits &r) {
        r.appendFixed(out, r.fractionDigits());
        return out;
    };
    if (e >= 11)
        return scientific(sciRounded());
    if (e >= 0) {
        DecimalDigits r = d;
        const int room = 11 - (e + 1);
        r.roundDecimals(room >= 2 ? room - 1 : 0);
        if (r.exponent > 11)
            return scientific(sciRounded());
        return fixed(r);
    }
    DecimalDigits r = d;
    r.roundDecimals(9);
    const DecimalDigits s = sciRounded();
    if (r.count == 0 || r.count < s.count)
        return scientific(s);
    return fixed(r);
}

// Places digits right-aligned into the placeholders of tokens [begin, end): the leftmost
// placeholder takes any digits beyond the placeholder count; missing digits give 0, nothing or a
// space for 0, # and ?. With grouping, a comma follows every digit whose place is a positive
// multiple of three.
void appendIntegerPart(QString &out, const std::vector<Token> &tk, size_t begin, size_t end, const char *digits, int count,
    int placeholders, bool grouping)
{
    int seen = 0;
    auto put = [&](char digit, int place) {
        out += QChar(char16_t(digit));
        if (grouping && place > 0 && place % 3 == 0)
            out += u',';
    };
    for (size_t i = begin; i < end; ++i) {
        const Token &t = tk[i];
        if (!isPlaceholder(t.kind)) {
            if (t.kind == Tok::Literal)
                out += t.text;
            else if (t.kind == Tok::Percent)
                out += u'%';
            continue;
        }
        if (seen == 0) {
            for (int j = 0; j < count - placeholders; ++j)
                put(digits[j], count - 1 - j);
        }
        const int place = placeholders - 1 - seen;
        ++seen;
        const int index = count - 1 - place;
        if (index >= 0)
            put(digits[index], place);
        else if (t.kind == Tok::Zero)
            put('0', place);
        else if (t.kind == Tok::Question)
            out += u' ';
    }
}

} // namespace

const QString NumberFormat::InvalidDateText = QStringLiteral("#####");

NumberFormat::NumberFormat(const QString &code)
{
    const std::vector<QString> parts = splitSections(code);
    const size_t count = std::min<size_t>(parts.size(), 4);
    for (size_t i = 0; i < count; ++i) {
        const bool textMode = i == 3 || [&] {
            bool quoted = false;
            for (qsizetype k = 0; k < parts[i].size(); ++k) {
                const QChar c = parts[i].at(k);
                if (c == u'"')
                    quoted = !quoted;
                else if (!quoted && (c == u'\\' || c == u'_' || c == u'*'))
                    ++k;
                else if (!quoted && c == u'@')
                    return true;
            }
            return false;
        }();
        m_sections.push_back(SectionParser(parts[i], textMode).parse());
    }
    if (m_sections.size() == 1 && parts[0].isEmpty())
        m_sections[0] = SectionParser(QStringLiteral("General"), false).parse();
    m_numberSections = static_cast<int>(std::min<size_t>(m_sections.size(), 3));
    if (m_sections.size() == 4) {
        m_textSection = 3;
    } else {
        for (size_t i = 0; i < m_sections.size(); ++i) {
            if (m_sections[i].kind == Section::Kind::Text) {
                m_textSection = static_cast<int>(i);
                break;
            }
        }
    }
    m_conditional = m_sections[0].hasCondition || (m_sections.size() > 1 && m_sections[1].hasCondition);
}

NumberFormat::~NumberFormat() = default;

bool NumberFormat::isDateTime() const
{
    return m_sections[0].kind == Section::Kind::DateTime;
}

QString NumberFormat::format(const CellValue &value, DateSystem system) const
{
    switch (value.type) {
    case CellValue::Type::Empty:
        return {};
    case CellValue::Type::Number:
        return formatNumber(value.number, system);
    case CellValue::Type::Text:
        return formatText(value.text);
    case CellValue::Type::Boolean:
        return formatText(value.number != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    case CellValue::Type::Error:
        return value.text;
    }
    return {};
}

QString NumberFormat::formatText(const QString &text) const
{
    if (m_textSection < 0)
        return text;
    const Section &s = m_sections[static_cast<size_t>(m_textSection)];
    QString out;
    for (const Token &t : s.tokens) {
        if (t.kind == Tok::TextAt)
            out += text;
        else
            out += t.text;
    }
    return out;
}

namespace {

QString renderDate(const Section &s, double value, DateSystem system, bool minus)
{
    // Round to the precision shown: whole seconds, or the fraction digits after the seconds.
    long long ticksPerSecond = 1;
    for (int i = 0; i < s.secondDecimals; ++i)
        ticksPerSecond *= 10;
    const long long ticksPerDay = 86400 * ticksPerSecond;
    const double scaled = value * static_cast<double>(ticksPerDay);
    const long long ticks = static_cast<long long>(std::floor(scaled + 0.5));
    const long long days = ticks / ticksPerDay;
    const long long dayTicks = ticks % ticksPerDay;
    long long serial = days;
    if (system == DateSystem::Date1904)
        serial += Date1904Offset;
    bool needsDate = false;
    bool elapsedHours = false;
    bool elapsedMinutes = false;
    for (const Token &t : s.tokens) {
        needsDate = needsDate || (t.kind >= Tok::Year2 && t.kind <= Tok::DayFull);
        elapsedHours = elapsedHours || t.kind == Tok::ElapsedH;
        elapsedMinutes = elapsedMinutes || t.kind == Tok::ElapsedM;
    }
    if (needsDate && serial > LastSerial1900)
        return NumberFormat::InvalidDateText;
    CivilDate date;
    int weekday = 0;
    if (needsDate) {
        date = civilFromSerial1900(serial);
        weekday = weekdayFromSerial1900(serial);
    }
    const long long totalSeconds = ticks / ticksPerSecond;
    const long long fraction = ticks % ticksPerSecond;
    const long long secondOfDay = dayTicks / ticksPerSecond;
    const long long hour = secondOfDay / 3600;
    QString out;
    out.reserve(24);
    if (minus)
        out += u'-';
    for (const Token &t : s.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Year2:
            appendNumber(out, date.year % 100, 2);
            break;
        case Tok::Year4:
            appendNumber(out, date.year, 4);
            break;
        case Tok::Month1:
        case Tok::Month2:
            appendNumber(out, date.month, t.kind == Tok::Month2 ? 2 : 1);
            break;
        case Tok::MonthAbbr:
            out += QStringView(monthNames[date.month - 1]).left(3);
            break;
        case Tok::MonthFull:
            out += QStringView(monthNames[date.month - 1]);
            break;
        case Tok::MonthLetter:
            out += QStringView(monthNames[date.month - 1]).left(1);
            break;
        case Tok::Day1:
        case Tok::Day2:
            appendNumber(out, date.day, t.kind == Tok::Day2 ? 2 : 1);
            break;
        case Tok::DayAbbr:
            out += QStringView(dayNames[weekday]).left(3);
            break;
        case Tok::DayFull:
            out += QStringView(dayNames[weekday]);
            break;
        case Tok::Hour1:
        case Tok::Hour2: {
            long long h = hour;
            if (s.twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            appendNumber(out, h, t.kind == Tok::Hour2 ? 2 : 1);
            break;
        }
        case Tok::Minute1:
        case Tok::Minute2:
            appendNumber(
                out, elapsedHours || !elapsedMinutes ? secondOfDay / 60 % 60 : totalSeconds / 60, t.kind == Tok::Minute2 ? 2 : 1);
            break;
        case Tok::Second1:
        case Tok::Second2:
            appendNumber(out, totalSeconds % 60, t.kind == Tok::Second2 ? 2 : 1);
            break;
        case Tok::SecondFraction: {
            out += u'.';
            long long f = fraction;
            for (int i = t.width; i < s.secondDecimals; ++i)
                f /= 10;
            appendNumber(out, f, t.width);
            break;
        }
        case Tok::AmPm:
            out += hour < 12 ? t.text : t.alt;
            break;
        case Tok::ElapsedH:
            appendNumber(out, totalSeconds / 3600, t.width);
            break;
        case Tok::ElapsedM:
            appendNumber(out, elapsedHours ? totalSeconds / 60 % 60 : totalSeconds / 60, t.width);
            break;
        case Tok::ElapsedS:
            appendNumber(out, elapsedHours || elapsedMinutes ? totalSeconds % 60 : totalSeconds, t.width);
            break;
        default:
            break;
        }
    }
    return out;
}

// Chinese numerals for a whole number: DBNum1 ordinary, DBNum2 financial (anti-fraud) forms.
QString chineseNumber(long long n, int style)
{
    const char16_t *digits = style == 2 ? u"零壹贰叁肆伍陆柒捌玖" : u"〇一二三四五六七八九";
    const char16_t *units = style == 2 ? u"拾佰仟" : u"十百千";
    if (n == 0)
        return QString(QChar(digits[0]));
    static const char16_t *const groups[] = {u"", u"万", u"亿", u"万亿"};
    QString out;
    bool pendingZero = false;
    int group = 0;
    long long divisor = 1;
    while (divisor * 10000 <= n && group < 3) {
        divisor *= 10000;
        ++group;
    }
    for (; group >= 0; --group, divisor /= 10000) {
        const int part = static_cast<int>(n / divisor % 10000);
        if (part == 0) {
            pendingZero = !out.isEmpty();
            continue;
        }
        if (!out.isEmpty() && part < 1000)
            pendingZero = true;
        const int place[] = {part / 1000, part / 100 % 10, part / 10 % 10, part % 10};
        for (int k = 0; k < 4; ++k) {
            if (place[k] == 0) {
                pendingZero = pendingZero || !out.isEmpty();
                continue;
            }
            if (pendingZero)
                out += QChar(digits[0]);
            pendingZero = false;
            out += QChar(digits[place[k]]);
            if (k < 3)
                out += QChar(units[2 - k]);
        }
        out += QStringView(groups[group]);
        pendingZero = false;
    }
    return out;
}

// The last continued-fraction convergent of x whose denominator fits maxDen: the fraction
// spreadsheets choose for "?/?" layouts (3.14159 shows as 3 1/7 with "# ??/??").
void bestFraction(double x, long long maxDen, long long &num, long long &den)
{
    maxDen = std::max(1LL, maxDen);
    double b = x;
    long long p2 = 0, p1 = 1, q2 = 1, q1 = 0;
    long long p = 0, q = 1;
    for (int step = 0; step < 64 && q1 < maxDen; ++step) {
        const double a = std::floor(b);
        p = static_cast<long long>(a) * p1 + p2;
        q = static_cast<long long>(a) * q1 + q2;
        if (b - a < 0.00000005)
            break;
        b = 1 / (b - a);
        p2 = p1;
        p1 = p;
        q2 = q1;
        q1 = q;
    }
    if (q > maxDen) {
        if (q1 > maxDen) {
            q = q2;
            p = p2;
        } else {
            q = q1;
            p = p1;
        }
    }
    num = p;
    den = std::max(1LL, q);
}

QString renderNumber(const Section &s, double magnitude, bool minus)
{
    QString out;
    out.reserve(24);
    if (minus)
        out += u'-';
    const auto &tk = s.tokens;
    if (s.dbnum == 1 || s.dbnum == 2) {
        const double rounded = std::round(magnitude);
        if (rounded < 1e16 && s.decPlaceholders == 0 && !s.scientific && !s.fraction) {
            bool placed = false;
            for (const Token &t : tk) {
                if (t.kind == Tok::Literal) {
                    out += t.text;
                } else if ((t.kind == Tok::General || isPlaceholder(t.kind)) && !placed) {
                    out += chineseNumber(static_cast<long long>(rounded), s.dbnum);
                    placed = true;
                }
            }
            return out;
        }
    }
    DecimalDigits d = DecimalDigits::fromDouble(magnitude);
    if (d.count > 0) // zero has no digits to shift
        d.exponent += s.shift;
    if (s.fraction && magnitude * std::pow(10.0, s.shift) < 1e15) {
        const double x = magnitude * std::pow(10.0, s.shift);
        double whole = s.fractionInteger ? std::floor(x) : 0;
        const double part = x - whole;
        long long num = 0;
        long long den = 1;
        const Token &denToken = tk[static_cast<size_t>(s.slash + 1)];
        if (denToken.kind == Tok::FixedDenominator) {
            den = std::max(1LL, denToken.text.toLongLong());
            num = static_cast<long long>(std::floor(part * static_cast<double>(den) + 0.5));
        } else {
            long long maxDen = 1;
            for (int i = 0; i < std::min(s.denominatorPlaceholders, 7); ++i)
                maxDen *= 10;
            bestFraction(part, maxDen - 1, num, den);
        }
        if (s.fractionInteger && num == den) {
            whole += 1;
            num = 0;
        }
        const bool blankFraction = s.fractionInteger && num == 0;
        // A zero whole part shows only where the fraction is blank too (0 shows as "0").
        const QByteArray wholeDigits = whole > 0 ? QByteArray::number(static_cast<long long>(whole))
            : blankFraction                      ? QByteArray("0")
                                                 : QByteArray();
        int intCount = 0;
        for (int i = 0; i < s.numeratorStart; ++i)
            intCount += isPlaceholder(tk[static_cast<size_t>(i)].kind) ? 1 : 0;
        appendIntegerPart(out, tk, 0, static_cast<size_t>(s.numeratorStart), wholeDigits.constData(),
            static_cast<int>(wholeDigits.size()), intCount, s.grouping);
        const size_t numStart = static_cast<size_t>(s.numeratorStart);
        const size_t slash = static_cast<size_t>(s.slash);
        const size_t denEnd = static_cast<size_t>(s.denominatorEnd);
        if (blankFraction) {
            for (size_t i = numStart; i < denEnd; ++i)
                out += QString(tk[i].kind == Tok::FixedDenominator ? int(tk[i].text.size()) : 1, QChar(u' '));
        } else {
            const QByteArray n = QByteArray::number(num);
            appendIntegerPart(
                out, tk, numStart, slash, n.constData(), static_cast<int>(n.size()), s.numeratorPlaceholders, false);
            out += u'/';
            if (denToken.kind == Tok::FixedDenominator) {
                out += denToken.text;
            } else {
                const QByteArray q = QByteArray::number(den);
                out += QLatin1String(q);
                for (size_t i = slash + 1 + static_cast<size_t>(q.size()); i < denEnd; ++i) {
                    if (tk[i].kind == Tok::Zero)
                        out += u'0';
                    else if (tk[i].kind == Tok::Question)
                        out += u' ';
                }
            }
        }
        for (size_t i = denEnd; i < tk.size(); ++i) {
            if (tk[i].kind == Tok::Literal)
                out += tk[i].text;
            else if (tk[i].kind == Tok::Percent)
                out += u'%';
        }
        return out;
    }
    int exponent = 0;
    if (s.scientific) {
        if (d.count > 0) {
            const int ip = std::max(1, s.intPlaceholders);
            for (int attempt = 0; attempt < 2; ++attempt) {
                const int e = d.exponent - 1;
                if (s.engineering)
                    exponent = static_cast<int>(std::floor(static_cast<double>(e) / ip)) * ip;
                else
                    exponent = e - (ip - 1);
                DecimalDigits m = d;
                m.exponent -= exponent;
                m.roundDecimals(s.decPlaceholders);
                const int allowed = s.engineering ? e - exponent + 1 : ip;
                if (m.exponent > allowed && attempt == 0) {
                    d = m;
                    d.exponent += exponent;
                    continue;
                }
                d = m;
                break;
            }
        }
    } else {
        d.roundDecimals(s.decPlaceholders);
    }
    // Whole digits and fraction digits of the rounded value.
    char intDigits[400];
    int intCount = 0;
    for (int i = 0; i < d.exponent && intCount < 399; ++i)
        intDigits[intCount++] = i < d.count ? d.digits[i] : '0';
    char decDigits[64];
    const int decCount = std::min(s.decPlaceholders, 63);
    int lastSignificant = -1;
    for (int i = 0; i < decCount; ++i) {
        const int index = d.exponent + i;
        decDigits[i] = index >= 0 && index < d.count ? d.digits[index] : '0';
        if (decDigits[i] != '0')
            lastSignificant = i;
    }
    size_t pointIndex = tk.size();
    size_t exponentIndex = tk.size();
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind == Tok::Point && pointIndex == tk.size())
            pointIndex = i;
        if (tk[i].kind == Tok::Exponent) {
            exponentIndex = i;
            break;
        }
    }
    const size_t intEnd = std::min(pointIndex, exponentIndex);
    bool hasGeneral = false;
    for (size_t i = 0; i < intEnd; ++i)
        hasGeneral = hasGeneral || tk[i].kind == Tok::General;
    if (hasGeneral) {
        // "General" among literals: the number in its General form at that place.
        for (size_t i = 0; i < intEnd; ++i) {
            if (tk[i].kind == Tok::Literal)
                out += tk[i].text;
            else if (tk[i].kind == Tok::Percent)
                out += u'%';
            else if (tk[i].kind == Tok::General)
                out += generalText(magnitude * std::pow(10.0, s.shift));
        }
    } else {
        appendIntegerPart(out, tk, 0, intEnd, intDigits, intCount, s.intPlaceholders, s.grouping);
    }
    if (pointIndex < tk.size() && pointIndex < exponentIndex) {
        if (s.intPlaceholders == 0 && !hasGeneral)
            appendDigits(out, intDigits, intCount);
        out += u'.';
        int seen = 0;
        for (size_t i = pointIndex + 1; i < exponentIndex; ++i) {
            const Token &t = tk[i];
            if (isPlaceholder(t.kind)) {
                if (seen <= lastSignificant)
                    out += QChar(char16_t(decDigits[seen]));
                else if (t.kind == Tok::Zero)
                    out += u'0';
                else if (t.kind == Tok::Question)
                    out += u' ';
                ++seen;
            } else if (t.kind == Tok::Literal) {
                out += t.text;
            } else if (t.kind == Tok::Percent) {
                out += u'%';
            }
        }
    }
    if (exponentIndex < tk.size()) {
        const Token &e = tk[exponentIndex];
        out += u'E';
        if (exponent < 0)
            out += u'-';
        else if (e.text == QLatin1String("+"))
            out += u'+';
        appendNumber(out, exponent < 0 ? -exponent : exponent, std::max(1, e.width));
        for (size_t i = exponentIndex + 1; i < tk.size(); ++i) {
            if (tk[i].kind == Tok::Literal)
                out += tk[i].text;
            else if (tk[i].kind == Tok::Percent)
                out += u'%';
        }
    }
    return out;
}

} // namespace

QString NumberFormat::formatNumber(double value, DateSystem system) const
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    if (value == 0)
        value = 0; // a stored negative zero is zero
    const Section *section = nullptr;
    bool minus = false;
    if (m_conditional) {
        const Section &first = m_sections[0];
        if (first.hasCondition && first.accepts(value)) {
            section = &first;
        } else if (m_numberSections >= 2) {
            const Section &second = m_sections[1];
            if (!second.hasCondition || second.accepts(value))
                section = &second;
            else if (m_numberSections >= 3)
                section = &m_sections[2];
        } else if (!first.hasCondition) {
            section = &first;
        }
        if (!section)
            return generalText(value);
        minus = value < 0 && !section->negativeOnly();
    } else if (m_numberSections == 1 || value > 0 || (value == 0 && m_numberSections == 2)) {
        section = &m_sections[0];
        minus = value < 0;
    } else if (value < 0) {
        section = &m_sections[1];
    } else {
        section = &m_sections[2];
    }
    const double magnitude = std::fabs(value);
    switch (section->kind) {
    case Section::Kind::Empty:
        return {};
    case Section::Kind::Text:
        return minus ? QStringLiteral("-") + generalText(magnitude) : generalText(magnitude);
    case Section::Kind::DateTime: {
        // Past 9999-12-31 nothing shows, not even a time of day.
        const long long end = LastSerial1900 + 1 - (system == DateSystem::Date1904 ? Date1904Offset : 0);
        if ((value < 0 && system == DateSystem::Date1900) || magnitude >= static_cast<double>(end))
            return InvalidDateText;
        return renderDate(*section, magnitude, system, value < 0);
    }
    case Section::Kind::Number:
        break;
    }
    if (section->tokens.size() == 1 && section->tokens[0].kind == Tok::General && section->dbnum == 0)
        return minus ? QStringLiteral("-") + generalText(magnitude) : generalText(magnitude);
    return renderNumber(*section, magnitude, minus);
}

QString builtInFormatCode(int id)
{
    switch (id) {
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("\"$\"#,##0_);\\(\"$\"#,##0\\)");
    case 6:
        return QStringLiteral("\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)");
    case 7:
        return QStringLiteral("\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)");
    case 8:
        return QStringLiteral("\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/??");
    case 14:
        return QStringLiteral("m/d/yyyy");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("m/d/yyyy h:mm");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    case 36:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 37:
        return QStringLiteral("#,##0_);(#,##0)");
    case 38:
        return QStringLiteral("#,##0_);[Red](#,##0)");
    case 39:
        return QStringLiteral("#,##0.00_);(#,##0.00)");
    case 40:
        return QStringLiteral("#,##0.00_);[Red](#,##0.00)");
    case 41:
        return QStringLiteral("_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)");
    case 42:
        return QStringLiteral("_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)");
    case 43:
        return QStringLiteral("_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)");
    case 44:
        return QStringLiteral("_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    default:
        break;
    }
    // CJK and Thai ids without a format element, as an en-US session shows them.
    if ((id >= 27 && id <= 31) || (id >= 50 && id <= 58) || id == 71 || id == 72)
        return builtInFormatCode(14);
    if (id >= 59 && id <= 62)
        return builtInFormatCode(id - 58);
    if (id == 67 || id == 68)
        return builtInFormatCode(id - 58);
    if (id == 69 || id == 70)
        return builtInFormatCode(id - 57);
    if (id >= 73 && id <= 75)
        return builtInFormatCode(id - 58);
    if (id >= 76 && id <= 78)
        return builtInFormatCode(id - 56);
    if (id >= 79 && id <= 81)
        return builtInFormatCode(id - 34);
    return QStringLiteral("General");
}

NumberFormatCache::NumberFormatCache() = default;
NumberFormatCache::~NumberFormatCache() = default;

const NumberFormat &NumberFormatCache::format(const QString &code)
{
    auto it = m_byCode.constFind(code);
    if (it == m_byCode.constEnd())
        it = m_byCode.insert(code, std::make_shared<const NumberFormat>(code));
    return **it;
}

const NumberFormat &NumberFormatCache::builtIn(int id)
{
    if (id < 0 || id >= static_cast<int>(m_builtIn.size()))
        id = 0;
    auto &slot = m_builtIn[static_cast<size_t>(id)];
    if (!slot)
        slot = std::make_shared<const NumberFormat>(builtInFormatCode(id));
    return *slot;
}

} // namespace gm
