#include "automation/xlsx/XmlScanner.h"

#include "automation/EngineError.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace gm::xlsx {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool endsName(char c)
{
    return c == '>' || isSpace(c);
}

// The first of data[from, size) that is one of the (up to four) characters, else `size`.
template<char... Stops>
qsizetype findAny(const char *data, qsizetype from, qsizetype size)
{
    static_assert(sizeof...(Stops) >= 1 && sizeof...(Stops) <= 4);
    qsizetype i = from;
#ifdef __SSE2__
    while (i + 16 <= size) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(block, _mm_set1_epi8(Stops)))), ...);
        if (const int mask = _mm_movemask_epi8(hit); mask != 0)
            return i + __builtin_ctz(unsigned(mask));
        i += 16;
    }
#endif
    while (i < size && ((data[i] != Stops) && ...))
        ++i;
    return i;
}

} // namespace

qsizetype XmlScanner::nextSkipCandidate(const char *data, qsizetype from, qsizetype size) const
{
    // Only a "<" that opens an end tag, a comment, CDATA, a declaration or a processing
    // instruction can matter here; end tags of other names are passed over at once when the
    // chunk holds them whole. Returns where such a "<" stands, else `size`.
    const qsizetype nameSize = qsizetype(m_skipName.size());
    auto isCandidate = [&](qsizetype at) {
        const char next = data[at + 1];
        if (next == '!' || next == '?')
            return true;
        if (next != '/')
            return false;
        if (at + 2 + nameSize >= size)
            return true; // the name runs past the chunk: the byte-wise states decide
        return data[at + 2] == m_skipName[0] && std::memcmp(data + at + 2, m_skipName.data(), size_t(nameSize)) == 0 && endsName(data[at + 2 + nameSize]);
    };
    qsizetype i = from;
#ifdef __SSE2__
    const __m128i open = _mm_set1_epi8('<');
    const __m128i slash = _mm_set1_epi8('/');
    const __m128i bang = _mm_set1_epi8('!');
    const __m128i question = _mm_set1_epi8('?');
    while (i + 17 <= size) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + 1));
        const __m128i special = _mm_or_si128(
            _mm_cmpeq_epi8(next, slash), _mm_or_si128(_mm_cmpeq_epi8(next, bang), _mm_cmpeq_epi8(next, question)));
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, open), special)));
        while (mask != 0) {
            const qsizetype at = i + __builtin_ctz(mask);
            if (isCandidate(at))
                return at;
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    while (i < size) {
        const void *found = std::memchr(data + i, '<', size_t(size - i));
        if (!found)
            return size;
        const qsizetype at = static_cast<const char *>(found) - data;
        if (at + 1 >= size || isCandidate(at))
            return at;
        i = at + 1;
    }
    return size;
}

void XmlScanner::fail(const char *what) const
{
    throw EngineError(ErrorCode::Damaged, QStringLiteral("%1 at offset %2").arg(QLatin1String(what)).arg(m_tokenStart));
}

void XmlScanner::feed(const char *data, qsizetype size)
{
    const bool collectRoot = !m_rootSeen;
    qsizetype i = 0;
    while (i < size) {
        const char c = data[i];
        switch (m_state) {
        case State::Text: {
            const void *found = std::memchr(data + i, '<', size_t(size - i));
            if (!found) {
                i = size;
                continue;
            }
            i = static_cast<const char *>(found) - data;
            m_tokenStart = m_offset + i;
            m_state = State::TagOpen;
            break;
        }
        case State::TagOpen:
            if (c == '/') {
                m_name.clear();
                m_state = State::EndName;
            } else if (c == '!') {
                m_bang.clear();
                m_state = State::Bang;
            } else if (c == '?') {
                m_run = 0;
                m_state = State::Pi;
            } else if (isSpace(c) || c == '>' || c == '<' || c == '=' || c == '"' || c == '\'') {
                fail("malformed tag");
            } else {
                if (m_rootSeen && m_depth == 0)
                    fail("content after the root element");
                m_name.assign(1, c);
                m_slash = false;
                if (collectRoot && !m_rootSeen)
                    m_rootTag = QByteArray("<") + c;
                m_state = State::StartName;
            }
            break;
        case State::StartName: {
            // Most of a large sheet is tags: the plain run of a name is taken in one step.
            qsizetype j = i;
            while (j < size && !isSpace(data[j]) && data[j] != '>' && data[j] != '/' && data[j] != '<' && data[j] != '"'
                && data[j] != '\'' && data[j] != '=')
                ++j;
            if (j > i) {
                m_name.append(data + i, size_t(j - i));
                if (collectRoot && !m_rootSeen)
                    m_rootTag.append(data + i, j - i);
                i = j;
                continue;
            }
            if (collectRoot && !m_rootSeen)
                m_rootTag += c;
            if (c == '>') {
                startTagDone(false, m_offset + i + 1);
            } else if (c == '/') {
                m_slash = true;
                m_state = State::Attributes;
            } else if (isSpace(c)) {
                m_state = State::Attributes;
            } else {
                fail("malformed tag");
            }
            break;
        }
        case State::Attributes: {
            const qsizetype j = findAny<'>', '"', '\'', '<'>(data, i, size);
            if (j > i) {
                // Whether the tag closes itself depends on the last character before ">".
                for (qsizetype k = j - 1; k >= i; --k) {
                    if (!isSpace(data[k])) {
                        m_slash = data[k] == '/';
                        break;
                    }
                }
                if (collectRoot && !m_rootSeen)
                    m_rootTag.append(data + i, j - i);
                i = j;
                continue;
            }
            if (collectRoot && !m_rootSeen)
                m_rootTag += c;
            if (c == '>') {
                startTagDone(m_slash, m_offset + i + 1);
            } else if (c == '"' || c == '\'') {
                m_quote = c;
                m_slash = false;
                m_state = State::Quoted;
            } else {
                fail("malformed tag");
            }
            break;
        }
        case State::Quoted: {
            // Attribute values run to the matching quote; ">" may appear in them, "<" may not.
            const qsizetype j = m_quote == '"' ? findAny<'"', '<'>(data, i, size) : findAny<'\'', '<'>(data, i, size);
            if (collectRoot && !m_rootSeen)
                m_rootTag.append(data + i, j - i);
            if (j == size) {
                i = size;
                continue;
            }
            if (data[j] == '<')
                fail("\"<\" in an attribute value");
            if (collectRoot && !m_rootSeen)
                m_rootTag += m_quote;
            m_state = State::Attributes;
            i = j;
            break;
        }
        case State::EndName: {
            qsizetype j = i;
            while (j < size && data[j] != '>' && !isSpace(data[j]))
                ++j;
            if (j > i) {
                m_name.append(data + i, size_t(j - i));
                i = j;
                continue;
            }
            if (c == '>') {
                endTagDone(m_offset + i + 1);
            } else {
                m_state = State::EndRest;
            }
            break;
        }
        case State::EndRest:
            if (c == '>')
                endTagDone(m_offset + i + 1);
            else if (!isSpace(c))
                fail("malformed end tag");
            break;
        case State::Bang: {
            m_bang += c;
            static constexpr std::string_view comment = "--";
            static constexpr std::string_view cdata = "[CDATA[";
            if (m_bang == comment) {
                m_run = 0;
                m_state = State::Comment;
            } else if (m_bang == cdata) {
                if (m_depth == 0)
                    fail("character data outside the root element");
                m_run = 0;
                m_state = State::CData;
            } else if (!comment.starts_with(m_bang) && !cdata.starts_with(m_bang)) {
                fail(m_bang.starts_with('D') ? "document type declaration" : "malformed markup");
            }
            break;
        }
        case State::Comment:
            if (c == '>' && m_run >= 2)
                m_state = textState();
            m_run = c == '-' ? m_run + 1 : 0;
            break;
        case State::CData:
            if (c == '>' && m_run >= 2)
                m_state = textState();
            m_run = c == ']' ? m_run + 1 : 0;
            break;
        case State::Pi:
            if (c == '>' && m_run > 0)
                m_state = textState();
            m_run = c == '?' ? 1 : 0;
            break;
        case State::Skip:
            i = nextSkipCandidate(data, i, size);
            if (i == size)
                continue;
            m_tokenStart = m_offset + i;
            m_state = State::SkipOpen;
            break;
        case State::SkipOpen:
            if (c == '/') {
                m_run = 0;
                m_state = State::SkipEnd;
            } else if (c == '!') {
                m_bang.clear();
                m_state = State::Bang;
            } else if (c == '?') {
                m_run = 0;
                m_state = State::Pi;
            } else {
                m_state = State::Skip;
                continue; // the character is looked at again as text
            }
            break;
        case State::SkipEnd:
            if (size_t(m_run) < m_skipName.size()) {
                if (c == m_skipName[size_t(m_run)]) {
                    ++m_run;
                    break;
                }
                m_state = State::Skip;
                continue;
            }
            if (!endsName(c)) {
                m_state = State::Skip;
                continue;
            }
            // The stepped-over element's own end tag: read as any end tag from here.
            m_name = m_skipName;
            m_state = State::EndName;
            continue;
        }
        ++i;
    }
    m_offset += size;
}

void XmlScanner::startTagDone(bool selfClosed, qint64 end)
{
    m_state = State::Text;
    if (m_depth == 0) {
        m_rootSeen = true;
        m_rootName = QByteArray::fromStdString(m_name);
        if (selfClosed) {
            m_rootClosed = true;
            m_rootEndTagStart = m_tokenStart;
            return;
        }
    } else if (m_depth == 1) {
        m_current = Element{QByteArray::fromStdString(m_name), {}, m_tokenStart, 0};
        if (onChildStart)
            onChildStart(m_current.qualifiedName, m_tokenStart);
        if (selfClosed) {
            m_current.end = end;
            if (onChild)
                onChild(m_current);
            if (m_keepChildren)
                m_children.push_back(m_current);
            return;
        }
        if (!m_skipLocalName.isEmpty() && !m_skipDone) {
            const size_t colon = m_name.find(':');
            const std::string_view local = colon == std::string::npos ? std::string_view(m_name) : std::string_view(m_name).substr(colon + 1);
            if (local == std::string_view(m_skipLocalName.constData(), size_t(m_skipLocalName.size()))) {
                m_skipName = m_name;
                m_skipping = true;
                m_state = State::Skip;
            }
        }
    } else if (m_depth == 3 && m_current.firstNested.isEmpty()) {
        m_current.firstNested = QByteArray::fromStdString(m_name);
    }
    if (selfClosed)
        return;
    m_stackStarts.push_back(m_stack.size());
    m_stack += m_name;
    ++m_depth;
}

void XmlScanner::endTagDone(qint64 end)
{
    m_state = State::Text;
    if (m_depth == 0)
        fail("end tag without a start tag");
    const size_t start = m_stackStarts.back();
    // Names are short: a plain loop beats a call to memcmp for each of millions of tags.
    bool same = m_stack.size() - start == m_name.size();
    for (size_t k = 0; same && k < m_name.size(); ++k)
        same = m_stack[start + k] == m_name[k];
    if (!same)
        fail("mismatched end tag");
    m_stack.resize(start);
    m_stackStarts.pop_back();
    --m_depth;
    if (m_depth == 1) {
        if (m_skipping) {
            m_skipping = false;
            m_skipDone = true;
        }
        m_current.end = end;
        if (onChild)
            onChild(m_current);
        if (m_keepChildren)
            m_children.push_back(m_current);
    } else if (m_depth == 0) {
        m_rootClosed = true;
        m_rootEndTagStart = m_tokenStart;
    }
}

void XmlScanner::finish()
{
    m_tokenStart = m_offset;
    if (!m_rootSeen)
        fail("no root element");
    if (!m_rootClosed || m_state != State::Text)
        fail("incomplete document");
}

} // namespace gm::xlsx
