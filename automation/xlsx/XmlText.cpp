#include "automation/xlsx/XmlText.h"

#include <charconv>

namespace gm::xlsx {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// True when text holds "_xHHHH_" at position i.
bool isEscapeAt(const QString &text, qsizetype i)
{
    if (i + 7 > text.size() || text[i] != u'_' || text[i + 1] != u'x' || text[i + 6] != u'_')
        return false;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        if (!isHexDigit(text[k]))
            return false;
    }
    return true;
}

QString escapeUnit(char16_t unit)
{
    return QStringLiteral("_x%1_").arg(QStringLiteral("%1").arg(unsigned(unit), 4, 16, QLatin1Char('0')).toUpper());
}

} // namespace

QString encodeXmlText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'_' && isEscapeAt(text, i)) {
            out += QStringLiteral("_x005F_");
        } else if ((c < 0x20 && c != u'\t' && c != u'\n') || c == 0xFFFE || c == 0xFFFF) {
            // A carriage return included: XML readers turn a literal one into a line feed.
            out += escapeUnit(c);
        } else if (QChar::isHighSurrogate(c)) {
            if (i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                out += text[i];
                out += text[++i];
            } else {
                out += escapeUnit(c);
            }
        } else if (QChar::isLowSurrogate(c)) {
            out += escapeUnit(c);
        } else {
            out += text[i];
        }
    }
    return out;
}

QString decodeXmlText(const QString &rawText)
{
    // Line ends as an XML reader sees them: CR LF and a lone CR read as LF.
    QString text = rawText;
    if (text.contains(u'\r')) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(u'\r', u'\n');
    }
    if (!text.contains(QStringLiteral("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'_' && isEscapeAt(text, i)) {
            out += QChar(char16_t(text.mid(i + 2, 4).toUShort(nullptr, 16)));
            i += 6;
        } else {
            out += text[i];
        }
    }
    return out;
}

char32_t xmlEntityCharacter(std::string_view entity)
{
    if (entity == "lt")
        return U'<';
    if (entity == "gt")
        return U'>';
    if (entity == "amp")
        return U'&';
    if (entity == "quot")
        return U'"';
    if (entity == "apos")
        return U'\'';
    if (entity.size() < 2 || entity[0] != '#')
        return 0;
    const bool hex = entity[1] == 'x';
    const std::string_view digits = entity.substr(hex ? 2 : 1);
    unsigned code = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || code == 0 || code > 0x10FFFF
        || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return char32_t(code);
}

qsizetype startTagEnd(std::string_view text, qsizetype from)
{
    char quote = 0;
    for (qsizetype i = from; i < qsizetype(text.size()); ++i) {
        const char c = text[size_t(i)];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return -1;
}

} // namespace gm::xlsx
