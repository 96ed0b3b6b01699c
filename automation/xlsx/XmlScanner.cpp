#include "automation/xlsx/XmlScanner.h"

#include "automation/EngineError.h"

#include <cstring>

namespace gm::xlsx {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

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
            qsizetype j = i;
            while (j < size && data[j] != '>' && data[j] != '"' && data[j] != '\'' && data[j] != '<')
                ++j;
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
            qsizetype j = i;
            while (j < size && data[j] != m_quote && data[j] != '<')
                ++j;
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
                m_state = State::Text;
            m_run = c == '-' ? m_run + 1 : 0;
            break;
        case State::CData:
            if (c == '>' && m_run >= 2)
                m_state = State::Text;
            m_run = c == ']' ? m_run + 1 : 0;
            break;
        case State::Pi:
            if (c == '>' && m_run > 0)
                m_state = State::Text;
            m_run = c == '?' ? 1 : 0;
            break;
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
