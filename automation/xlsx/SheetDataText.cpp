#include "automation/xlsx/SheetDataText.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/XmlText.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string>

namespace gm::xlsx {

namespace markup {

// Character classes, by byte: 1 ends a name (blank, ">" or "/"); 2 matters in a start tag
// ("<", ">", quotes).
struct CharClasses
{
    unsigned char of[256] = {};
    constexpr CharClasses()
    {
        for (unsigned char c : {' ', '\t', '\r', '\n', '>', '/'})
            of[c] |= 1;
        for (unsigned char c : {'<', '>', '"', '\''})
            of[c] |= 2;
    }
};
constexpr CharClasses classes;

bool isNameEnd(char c)
{
    return classes.of[static_cast<unsigned char>(c)] & 1;
}

std::string_view localName(std::string_view name)
{
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// Reads the markup that starts with the "<" at p; false when it is cut off or is a document
// type declaration.
bool readToken(std::string_view s, size_t p, Token &token)
{
    token.begin = p;
    token.kind = Kind::Other;
    auto skipTo = [&](const char *terminator, size_t from) {
        const size_t found = s.find(terminator, from);
        if (found == std::string_view::npos)
            return false;
        token.end = found + std::strlen(terminator);
        return true;
    };
    if (p + 1 >= s.size())
        return false;
    const char next = s[p + 1];
    if (next == '!') {
        if (s.substr(p, 4) == "<!--")
            return skipTo("-->", p + 4);
        if (s.substr(p, 9) == "<![CDATA[")
            return skipTo("]]>", p + 9);
        return false;
    }
    if (next == '?')
        return skipTo("?>", p + 2);
    if (next == '/') {
        size_t e = p + 2;
        while (e < s.size() && !isNameEnd(s[e]))
            ++e;
        token.name = s.substr(p + 2, e - p - 2);
        token.kind = Kind::End;
        while (e < s.size() && s[e] != '>')
            ++e;
        token.end = e + 1;
        return e < s.size();
    }
    size_t e = p + 1;
    while (e < s.size() && !isNameEnd(s[e]))
        ++e;
    token.name = s.substr(p + 1, e - p - 1);
    if (token.name.empty())
        return false;
    for (size_t i = e; i < s.size(); ++i) {
        const char c = s[i];
        if (!(classes.of[static_cast<unsigned char>(c)] & 2))
            continue;
        if (c == '"' || c == '\'') {
            // Values are short: a plain loop beats a library search.
            ++i;
            while (i < s.size() && s[i] != c && s[i] != '<')
                ++i;
            if (i == s.size() || s[i] == '<')
                return false;
        } else if (c == '<') {
            return false;
        } else {
            const bool empty = s[i - 1] == '/';
            token.kind = empty ? Kind::Empty : Kind::Start;
            token.attributes = s.substr(e, i - e - (empty ? 1 : 0));
            token.end = i + 1;
            return true;
        }
    }
    return false;
}

const char *skipElement(std::string_view s, Token &token)
{
    const std::string_view name = token.name;
    int depth = 1;
    size_t p = token.end;
    while (depth > 0) {
        // Markup mostly follows markup at once.
        if (p >= s.size() || s[p] != '<')
            p = s.find('<', p);
        if (p == std::string_view::npos || !readToken(s, p, token))
            return "broken markup";
        if (token.kind == Kind::Start)
            ++depth;
        else if (token.kind == Kind::End && --depth == 0 && token.name != name)
            return "mismatched end tag";
        p = token.end;
    }
    return nullptr;
}

const char *checkElements(std::string_view text)
{
    // Names of the elements not yet ended: a few levels in place, deeper ones in the heap.
    std::array<std::string_view, 16> near;
    std::vector<std::string_view> far;
    size_t depth = 0;
    const size_t n = text.size();
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    for (size_t p = 0; p < n;) {
        const char c = text[p];
        if (c == '&') {
            // A reference: a name or a character number, then ";".
            size_t e = p + 1;
            while (e < n && e - p < 12 && (std::isalnum(static_cast<unsigned char>(text[e])) || text[e] == '#'))
                ++e;
            if (depth == 0 || e == p + 1 || e >= n || text[e] != ';')
                return "broken reference";
            p = e + 1;
            continue;
        }
        if (c != '<') {
            if (depth == 0 && !isBlank(c))
                return "text outside an element";
            ++p;
            continue;
        }
        if (p + 1 < n && (text[p + 1] == '!' || text[p + 1] == '?')) {
            Token token;
            if (!readToken(text, p, token))
                return "broken markup";
            p = token.end;
            continue;
        }
        const bool endTag = p + 1 < n && text[p + 1] == '/';
        size_t q = p + (endTag ? 2 : 1);
        const size_t nameStart = q;
        while (q < n && !isNameEnd(text[q]) && text[q] != '<' && text[q] != '&')
            ++q;
        const std::string_view name = text.substr(nameStart, q - nameStart);
        if (name.empty())
            return "broken markup";
        if (endTag) {
            while (q < n && isBlank(text[q]))
                ++q;
            if (q >= n || text[q] != '>')
                return "broken markup";
            if (depth == 0 || (depth <= near.size() ? near[depth - 1] : far.back()) != name)
                return "mismatched end tag";
            if (--depth >= near.size())
                far.pop_back();
            p = q + 1;
            continue;
        }
        // The attributes, their values quoted and without "<".
        while (q < n && text[q] != '>') {
            const char d = text[q];
            if (d == '"' || d == '\'') {
                const size_t close = text.find(d, q + 1);
                if (close == std::string_view::npos || text.substr(q + 1, close - q - 1).find('<') != std::string_view::npos)
                    return "broken markup";
                q = close;
            } else if (d == '<') {
                return "broken markup";
            }
            ++q;
        }
        if (q >= n)
            return "broken markup";
        if (text[q - 1] != '/') {
            if (depth < near.size())
                near[depth] = name;
            else
                far.push_back(name);
            ++depth;
        }
        p = q + 1;
    }
    return depth == 0 ? nullptr : "unclosed element";
}

} // namespace markup

using namespace markup;

namespace {

// Calls f(name, value) for each attribute of a start tag's attribute text, values as written.
template<typename F> void forEachAttribute(std::string_view a, F f)
{
    const size_t n = a.size();
    size_t i = 0;
    while (i < n) {
        while (i < n && isNameEnd(a[i]))
            ++i;
        const size_t nameStart = i;
        while (i < n && a[i] != '=' && !isNameEnd(a[i]))
            ++i;
        const std::string_view name = a.substr(nameStart, i - nameStart);
        while (i < n && a[i] != '"' && a[i] != '\'')
            ++i;
        if (i >= n)
            return;
        const char quote = a[i++];
        const size_t valueStart = i;
        while (i < n && a[i] != quote)
            ++i;
        f(name, a.substr(valueStart, i - valueStart));
        ++i;
    }
}

bool isTrue(std::string_view value)
{
    return value == "1" || value == "true";
}

// Column and row of a reference such as "B12", read as the tree reader reads them.
bool parseRef(std::string_view text, qint64 &row, qint64 &column)
{
    row = column = 0;
    size_t i = 0;
    while (i < text.size() && i < 3 && text[i] >= 'A' && text[i] <= 'Z')
        column = column * 26 + (text[i++] - 'A' + 1);
    if (column == 0 || i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || row > 1048576)
            return false;
        row = row * 10 + (text[i] - '0');
    }
    return true;
}

qint64 toInteger(std::string_view text, qint64 fallback)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9')
        return fallback;
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}


bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Takes a cell's reference, type and style from its attributes as the spreadsheet reads
// them: the first of each counts.
struct CellAttributes
{
    std::string_view ref;
    bool hasType = false;
    bool hasStyle = false;

    void take(std::string_view name, std::string_view value, SheetDataScan::Cell &cell)
    {
        if (name.size() != 1)
            return;
        if (name[0] == 'r' && ref.empty())
            ref = value;
        else if (name[0] == 't' && !hasType)
            hasType = true, cell.type = value;
        else if (name[0] == 's' && !hasStyle)
            hasStyle = true, cell.style = int(toInteger(value, 0));
    }
};

// Reads the common shapes of a cell written without a prefix at p (the "<" of "<c"):
// double-quoted attributes, then nothing, a <v> of text or an <is> holding one plain <t>,
// each end tag written plainly. Fills `cell` as the general reading would and returns
// where the cell ends; 0 for any other shape, left to the general reading.
size_t readPlainCell(std::string_view s, size_t p, SheetDataScan::Cell &cell, CellAttributes &attributes)
{
    const size_t n = s.size();
    size_t i = p + 2;
    for (;;) {
        if (i >= n)
            return 0;
        const char c = s[i];
        if (c == '>') {
            cell.attributes = s.substr(p + 2, i - p - 2);
            ++i;
            break;
        }
        if (c == '/') {
            if (i + 1 < n && s[i + 1] == '>') {
                cell.attributes = s.substr(p + 2, i - p - 2);
                return i + 2;
            }
            return 0;
        }
        if (!isBlank(c))
            return 0;
        while (i < n && isBlank(s[i]))
            ++i;
        if (i < n && (s[i] == '>' || s[i] == '/'))
            continue;
        const size_t nameStart = i;
        while (i < n && s[i] != '=' && !isNameEnd(s[i]) && s[i] != '"' && s[i] != '\'' && s[i] != '<')
            ++i;
        if (i + 1 >= n || s[i] != '=' || s[i + 1] != '"' || i == nameStart)
            return 0;
        const std::string_view name = s.substr(nameStart, i - nameStart);
        i += 2;
        const size_t valueStart = i;
        while (i < n && s[i] != '"' && s[i] != '<')
            ++i;
        if (i >= n || s[i] != '"')
            return 0;
        const std::string_view value = s.substr(valueStart, i - valueStart);
        ++i;
        attributes.take(name, value, cell);
    }
    auto at = [&](size_t k, std::string_view text) { return s.substr(k, text.size()) == text; };
    // The text of an element ends at its first "<", which must start its end tag.
    auto textUntil = [&](size_t from, std::string_view endTag, std::string_view &text) -> size_t {
        const void *found = std::memchr(s.data() + from, '<', n - from);
        if (!found)
            return 0;
        const size_t lt = size_t(static_cast<const char *>(found) - s.data());
        if (!at(lt, endTag))
            return 0;
        text = s.substr(from, lt - from);
        return lt + endTag.size();
    };
    if (at(i, "<v>")) {
        std::string_view value;
        i = textUntil(i + 3, "</v>", value);
        if (i == 0)
            return 0;
        cell.hasValue = true;
        cell.value = value;
    } else if (at(i, "<is><t>")) {
        std::string_view text;
        const size_t end = textUntil(i + 7, "</t></is>", text);
        if (end == 0)
            return 0;
        cell.hasInline = true;
        cell.inlineItem = s.substr(i + 4, end - 5 - (i + 4));
        i = end;
    }
    return at(i, "</c>") ? i + 4 : 0;
}


// UTF-8 text as a QString: short texts of the basic plane are decoded here in one pass into
// a string of their final size, which is much cheaper than the general decoder for the few
// characters of a cell; anything else (4-byte sequences, malformed bytes) goes to it.
QString fromUtf8(std::string_view text)
{
    const size_t n = text.size();
    if (n > 256)
        return QString::fromUtf8(text.data(), qsizetype(n));
    char16_t units[256];
    size_t count = 0;
    const auto *b = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0; i < n;) {
        const unsigned c = b[i];
        if (c < 0x80) {
            units[count++] = char16_t(c);
            ++i;
        } else if (c >= 0xC2 && c < 0xE0 && i + 1 < n && (b[i + 1] & 0xC0) == 0x80) {
            units[count++] = char16_t(((c & 0x1F) << 6) | (b[i + 1] & 0x3F));
            i += 2;
        } else if (c >= 0xE0 && c < 0xF0 && i + 2 < n && (b[i + 1] & 0xC0) == 0x80 && (b[i + 2] & 0xC0) == 0x80) {
            const unsigned u = ((c & 0x0F) << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F);
            if (u < 0x800 || (u >= 0xD800 && u < 0xE000) || u == 0xFEFF || u >= 0xFFFE)
                return QString::fromUtf8(text.data(), qsizetype(n));
            units[count++] = char16_t(u);
            i += 3;
        } else {
            return QString::fromUtf8(text.data(), qsizetype(n));
        }
    }
    return QString(reinterpret_cast<const QChar *>(units), qsizetype(count));
}


// Whether text holds markup or a reference; a plain loop, as cell texts are short.
bool holdsMarkupOrReference(std::string_view text)
{
    for (const char c : text) {
        if (c == '<' || c == '&')
            return true;
    }
    return false;
}

} // namespace

QByteArray sheetDataText(OpcPackage &package, const QString &partName)
{
    if (package.editedAsTree(partName))
        return package.partBytes(partName);
    QByteArray text;
    package.readSheetData(partName, [&text](const char *data, qsizetype size) { text.append(data, size); });
    return text;
}

std::string_view attributeValue(std::string_view attributes, std::string_view name, bool *found)
{
    if (found)
        *found = false;
    size_t i = 0;
    for (;;) {
        const size_t equals = attributes.find('=', i);
        if (equals == std::string_view::npos)
            return {};
        size_t nameEnd = equals;
        while (nameEnd > i && isNameEnd(attributes[nameEnd - 1]))
            --nameEnd;
        size_t nameStart = nameEnd;
        while (nameStart > i && !isNameEnd(attributes[nameStart - 1]))
            --nameStart;
        size_t quoteAt = equals + 1;
        while (quoteAt < attributes.size() && attributes[quoteAt] != '"' && attributes[quoteAt] != '\'')
            ++quoteAt;
        if (quoteAt >= attributes.size())
            return {};
        const size_t valueEnd = attributes.find(attributes[quoteAt], quoteAt + 1);
        if (valueEnd == std::string_view::npos)
            return {};
        if (attributes.substr(nameStart, nameEnd - nameStart) == name) {
            if (found)
                *found = true;
            return attributes.substr(quoteAt + 1, valueEnd - quoteAt - 1);
        }
        i = valueEnd + 1;
    }
}

QString unescapedXml(std::string_view text)
{
    if (!holdsMarkupOrReference(text))
        return fromUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            Token token;
            if (!readToken(text, i, token))
                break;
            if (text.substr(i, 9) == "<![CDATA[")
                out.append(text.substr(i + 9, token.end - i - 12));
            i = token.end - 1;
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const size_t semicolon = text.find(';', i);
        if (semicolon == std::string_view::npos) {
            out += c;
            continue;
        }
        const std::string_view entity = text.substr(i + 1, semicolon - i - 1);
        const char32_t code = xmlEntityCharacter(entity);
        if (code == 0) {
            out += c;
            continue;
        }
        out += QString::fromUcs4(&code, 1).toStdString();
        i = semicolon;
    }
    return QString::fromStdString(out);
}

QString itemContentText(std::string_view content)
{
    // Most items are one <t> of plain text.
    if (content.size() >= 7 && content.substr(0, 3) == "<t>" && content.substr(content.size() - 4) == "</t>") {
        const std::string_view inner = content.substr(3, content.size() - 7);
        if (!holdsMarkupOrReference(inner))
            return fromUtf8(inner);
    }
    QString text;
    // Depth 0 is the item's own content; a run's <t> is read at depth 1.
    int depth = 0;
    bool inRun = false;
    size_t p = 0;
    while ((p = content.find('<', p)) != std::string_view::npos) {
        Token token;
        if (!readToken(content, p, token))
            break;
        const std::string_view name = localName(token.name);
        if (token.kind == Kind::Start && name == "t" && (depth == 0 || (depth == 1 && inRun))) {
            const size_t end = content.find("</", token.end);
            // A <t> holds text only (CDATA sections included): its end tag is the first "</"
            // outside a CDATA section.
            size_t close = end;
            size_t cdata = content.find("<![CDATA[", token.end);
            while (cdata != std::string_view::npos && cdata < close) {
                const size_t cdataEnd = content.find("]]>", cdata);
                if (cdataEnd == std::string_view::npos)
                    break;
                close = content.find("</", cdataEnd);
                cdata = content.find("<![CDATA[", cdataEnd);
            }
            if (close == std::string_view::npos)
                break;
            text += unescapedXml(content.substr(token.end, close - token.end));
            Token endToken;
            if (!readToken(content, close, endToken))
                break;
            p = endToken.end;
            continue;
        }
        if (token.kind == Kind::Start) {
            if (depth == 0 && name == "r")
                inRun = true;
            ++depth;
        } else if (token.kind == Kind::End) {
            --depth;
            if (depth == 0)
                inRun = false;
        }
        p = token.end;
    }
    return text;
}

std::shared_ptr<const SheetCells> readSheetCells(const QByteArray &text, const QString &partName)
{
    auto result = std::make_shared<SheetCells>();
    result->text = text;
    // A plain cell takes some thirty bytes or more: room for most without regrowing.
    result->cells.reserve(size_t(text.size() / 32));
    SheetDataScan scan(result->text, partName);
    size_t rowStart = 0;
    scan.run(
        [&](const SheetDataScan::Cell &cell) {
            result->cells.push_back(cell);
            return true;
        },
        [&](const SheetDataScan::Row &row, bool) {
            SheetDataScan::Row &added = result->rows.emplace_back(row);
            added.firstCell = rowStart;
            added.cellCount = result->cells.size() - rowStart;
            rowStart = result->cells.size();
        });
    const std::string_view name = scan.qualifiedName();
    result->qualifiedName = QByteArray(name.data(), qsizetype(name.size()));
    result->selfClosed = scan.selfClosed();
    result->endTagStart = scan.endTagStart();
    return result;
}

SheetDataScan::SheetDataScan(const QByteArray &text, QString partName)
    : m_text(text), m_partName(std::move(partName))
{
    const std::string_view s(text.constData(), size_t(text.size()));
    size_t p = 0;
    while ((p = s.find('<', p)) != std::string_view::npos) {
        Token token;
        if (!readToken(s, p, token))
            fail("broken markup");
        if ((token.kind == Kind::Start || token.kind == Kind::Empty) && localName(token.name) == "sheetData") {
            m_name = token.name;
            m_elementStart = qint64(p);
            m_contentStart = qint64(token.end);
            m_selfClosed = token.kind == Kind::Empty;
            m_endTagStart = m_elementEnd = qint64(token.end);
            return;
        }
        p = token.end;
    }
    fail("no sheetData");
}

void SheetDataScan::fail(const char *what) const
{
    throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: %2 in its cell data").arg(m_partName, QLatin1String(what)));
}

void SheetDataScan::run(
    const std::function<bool(const Cell &)> &onCell, const std::function<void(const Row &, bool anyCell)> &onRow, bool withContent)
{
    const std::string_view s(m_text.constData(), size_t(m_text.size()));
    if (m_selfClosed)
        return;
    Token token;
    // Steps over the element whose start tag was just read; leaves `token` at its end tag.
    auto skipElement = [&] {
        if (const char *wrong = markup::skipElement(s, token))
            fail(wrong);
    };
    auto next = [&](size_t from) {
        // Markup mostly follows markup at once.
        const size_t p = from < s.size() && s[from] == '<' ? from : s.find('<', from);
        if (p == std::string_view::npos || !readToken(s, p, token))
            fail("broken markup");
    };

    qint64 rowNumber = 0;
    size_t p = size_t(m_contentStart);
    for (;;) {
        next(p);
        if (token.kind == Kind::End) {
            if (token.name != m_name)
                fail("mismatched end tag");
            m_endTagStart = qint64(token.begin);
            m_elementEnd = qint64(token.end);
            return;
        }
        if (token.kind == Kind::Other) {
            p = token.end;
            continue;
        }
        if (localName(token.name) != "row") {
            if (token.kind == Kind::Start)
                skipElement();
            p = token.end;
            continue;
        }
        Row row;
        row.start = qint64(token.begin);
        row.attributes = token.attributes;
        const std::string_view rowName = token.name;
        bool numbered = false;
        std::string_view r;
        forEachAttribute(token.attributes, [&](std::string_view name, std::string_view value) {
            if (name == "r" && !numbered) {
                numbered = true;
                r = value;
            } else if (name == "customHeight" || name == "customFormat" || name == "hidden") {
                row.counts = row.counts || isTrue(value);
            }
        });
        rowNumber = numbered ? toInteger(r, 0) : rowNumber + 1;
        row.number = rowNumber;
        row.numbered = numbered;
        bool any = false;
        if (token.kind == Kind::Empty) {
            row.end = qint64(token.end);
            p = token.end;
            onRow(row, false);
            continue;
        }
        qint64 column = 0;
        bool skipRest = false;
        p = token.end;
        for (;;) {
            if (withContent && !skipRest) {
                const size_t q = p < s.size() && s[p] == '<' ? p : s.find('<', p);
                if (q != std::string_view::npos && q + 2 < s.size() && s[q + 1] == 'c'
                    && (isBlank(s[q + 2]) || s[q + 2] == '>' || s[q + 2] == '/')) {
                    Cell cell;
                    CellAttributes attributes;
                    const std::string_view &ref = attributes.ref;
                    if (const size_t end = readPlainCell(s, q, cell, attributes)) {
                        cell.start = qint64(q);
                        cell.end = qint64(end);
                        cell.row = rowNumber;
                        cell.column = column + 1;
                        cell.plain = !ref.empty();
                        if (!ref.empty()) {
                            qint64 refRow = 0;
                            parseRef(ref, refRow, cell.column);
                        }
                        column = cell.column;
                        any = true;
                        p = end;
                        if (!onCell(cell))
                            skipRest = true;
                        continue;
                    }
                }
            }
            next(p);
            if (token.kind == Kind::End) {
                if (token.name != rowName)
                    fail("mismatched end tag");
                break;
            }
            if (token.kind == Kind::Other) {
                p = token.end;
                continue;
            }
            if (skipRest || localName(token.name) != "c") {
                if (token.kind == Kind::Start)
                    skipElement();
                p = token.end;
                continue;
            }
            Cell cell;
            cell.start = qint64(token.begin);
            cell.attributes = token.attributes;
            cell.row = rowNumber;
            cell.column = column + 1;
            CellAttributes attributes;
            forEachAttribute(token.attributes, [&](std::string_view name, std::string_view value) { attributes.take(name, value, cell); });
            const std::string_view ref = attributes.ref;
            if (!ref.empty()) {
                qint64 refRow = 0;
                parseRef(ref, refRow, cell.column);
            }
            column = cell.column;
            any = true;
            if (token.kind == Kind::Start) {
                const std::string_view cellName = token.name;
                if (!withContent) {
                    skipElement();
                } else {
                    for (;;) {
                        next(token.end);
                        if (token.kind == Kind::End) {
                            if (token.name != cellName)
                                fail("mismatched end tag");
                            break;
                        }
                        if (token.kind != Kind::Start && token.kind != Kind::Empty)
                            continue;
                        const std::string_view name = localName(token.name);
                        const std::string_view attributes = token.attributes;
                        const size_t contentStart = token.end;
                        const bool empty = token.kind == Kind::Empty;
                        if (!empty)
                            skipElement();
                        const std::string_view content
                            = empty ? std::string_view() : s.substr(contentStart, token.begin - contentStart);
                        if (name == "v") {
                            cell.hasValue = true;
                            cell.value = content;
                        } else if (name == "is") {
                            cell.hasInline = true;
                            cell.inlineItem = content;
                        } else if (name == "f") {
                            cell.hasFormula = true;
                            cell.formulaType = attributeValue(attributes, "t");
                            cell.formulaRef = attributeValue(attributes, "ref");
                        }
                    }
                }
            }
            cell.end = qint64(token.end);
            p = token.end;
            if (!onCell(cell))
                skipRest = true;
        }
        row.end = qint64(token.end);
        p = token.end;
        onRow(row, any);
    }
}

} // namespace gm::xlsx
