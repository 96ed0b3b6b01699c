#include "automation/xlsx/SharedStringTable.h"

#include "automation/EngineError.h"
#include "automation/xlsx/SheetDataText.h"

#include <cctype>
#include <string_view>

namespace gm::xlsx {

using namespace markup;

QByteArray escapedForXml(const std::string &text)
{
    QByteArray out;
    out.reserve(qsizetype(text.size()));
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

namespace {

// Replaces the value of an attribute in a start tag's attribute text; false when it has none.
bool setAttribute(QByteArray &attributes, std::string_view name, const QByteArray &value)
{
    const std::string_view text(attributes.constData(), size_t(attributes.size()));
    bool found = false;
    const std::string_view current = attributeValue(text, name, &found);
    if (!found)
        return false;
    attributes.replace(qsizetype(current.data() - text.data()), qsizetype(current.size()), value);
    return true;
}

} // namespace

// Text as a string item stores it: control characters (carriage returns too) as _xHHHH_, and a literal _xHHHH_ kept
// by escaping its underscore.
std::string storedItemText(const QString &text)
{
    bool plain = true;
    for (const QChar c : text)
        plain = plain && (c.unicode() >= 0x20 || c == u'\t' || c == u'\n');
    if (plain && !text.contains(QLatin1String("_x")))
        return text.toStdString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n') {
            out += QStringLiteral("_x%1_")
                       .arg(c.unicode(), 4, 16, QLatin1Char('0'))
                       .toUpper()
                       .replace(QLatin1String("_X"), QLatin1String("_x"));
            continue;
        }
        if (c == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x' && text.at(i + 6) == u'_') {
            bool hex = true;
            for (qsizetype k = i + 2; k < i + 6; ++k)
                hex = hex && isxdigit(text.at(k).toLatin1());
            if (hex) {
                out += QLatin1String("_x005F");
                out += c;
                continue;
            }
        }
        out += c;
    }
    return out.toStdString();
}

SharedStringTable::SharedStringTable(QString partName, QByteArray bytes)
    : m_partName(std::move(partName)), m_bytes(std::move(bytes))
{
    const std::string_view s(m_bytes.constData(), size_t(m_bytes.size()));
    auto fail = [&](const char *what) {
        throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: %2").arg(m_partName, QLatin1String(what)));
    };
    Token token;
    size_t p = 0;
    // The root: the first element after the declaration, comments and processing instructions.
    for (;;) {
        p = s.find('<', p);
        if (p == std::string_view::npos || !readToken(s, p, token))
            fail("no root element");
        if (token.kind == Kind::End)
            fail("mismatched end tag");
        if (token.kind != Kind::Other)
            break;
        p = token.end;
    }
    m_rootName = QByteArray(token.name.data(), qsizetype(token.name.size()));
    m_rootAttributes = {qsizetype(token.attributes.data() - s.data()), qsizetype(token.attributes.size())};
    m_rootTagEnd = qsizetype(token.end);
    if (token.kind == Kind::Empty) {
        m_selfClosed = true;
        m_endTagStart = m_rootAttributes.start + m_rootAttributes.size;
        return;
    }
    // The root's children, each stepped over whole; an <si>'s content is kept as a span.
    p = token.end;
    for (;;) {
        p = s.find('<', p);
        if (p == std::string_view::npos || !readToken(s, p, token))
            fail("broken markup");
        if (token.kind == Kind::End) {
            if (token.name != std::string_view(m_rootName.constData(), size_t(m_rootName.size())))
                fail("mismatched end tag");
            m_endTagStart = qsizetype(token.begin);
            return;
        }
        if (token.kind == Kind::Other) {
            p = token.end;
            continue;
        }
        const bool item = localName(token.name) == "si";
        if (token.kind == Kind::Empty) {
            if (item)
                m_items.push_back({qsizetype(token.end), 0});
            p = token.end;
            continue;
        }
        const size_t contentStart = token.end;
        if (const char *wrong = skipElement(s, token))
            fail(wrong);
        p = token.end;
        if (item)
            m_items.push_back({qsizetype(contentStart), qsizetype(token.begin - contentStart)});
    }
}

QString SharedStringTable::text(qsizetype index) const
{
    if (index < 0 || index >= size())
        return {};
    if (index >= qsizetype(m_items.size()))
        return m_appendedTexts[size_t(index - qsizetype(m_items.size()))];
    const Span &item = m_items[size_t(index)];
    return itemContentText(std::string_view(m_bytes.constData() + item.start, size_t(item.size)));
}

qsizetype SharedStringTable::append(const QString &text)
{
    const std::string stored = storedItemText(text);
    const qsizetype colon = m_rootName.indexOf(':');
    const QByteArray prefix = colon < 0 ? QByteArray() : m_rootName.left(colon + 1);
    const bool preserve = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    m_appended += '<' + prefix + "si><" + prefix + 't' + (preserve ? " xml:space=\"preserve\"" : "") + '>'
        + escapedForXml(stored) + "</" + prefix + "t></" + prefix + "si>";
    // Read back as a reader would: with its _xHHHH_ escapes.
    m_appendedTexts.push_back(QString::fromStdString(stored));
    return qsizetype(m_items.size()) + m_added++;
}

QByteArray SharedStringTable::bytes() const
{
    if (!isChanged())
        return m_bytes;
    QByteArray attributes = m_bytes.mid(m_rootAttributes.start, m_rootAttributes.size);
    setAttribute(attributes, "uniqueCount", QByteArray::number(size()));
    const std::string_view all(attributes.constData(), size_t(attributes.size()));
    bool hasCount = false;
    const std::string_view count = attributeValue(all, "count", &hasCount);
    if (hasCount) {
        bool ok = false;
        const qint64 before = QByteArray(count.data(), qsizetype(count.size())).trimmed().toLongLong(&ok);
        setAttribute(attributes, "count", QByteArray::number((ok ? before : 0) + m_references));
    }
    QByteArray out;
    out.reserve(m_bytes.size() + m_appended.size() + 32);
    out.append(m_bytes.constData(), m_rootAttributes.start);
    out += attributes;
    if (m_selfClosed) {
        // <sst .../> becomes <sst ...>items</sst>.
        out += '>' + m_appended + "</" + m_rootName + '>';
        out.append(m_bytes.constData() + m_rootTagEnd, m_bytes.size() - m_rootTagEnd);
        return out;
    }
    out.append(m_bytes.constData() + m_rootAttributes.start + m_rootAttributes.size,
        m_endTagStart - m_rootAttributes.start - m_rootAttributes.size);
    out += m_appended;
    out.append(m_bytes.constData() + m_endTagStart, m_bytes.size() - m_endTagStart);
    return out;
}

} // namespace gm::xlsx
