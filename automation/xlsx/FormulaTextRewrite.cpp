#include "automation/xlsx/FormulaTextRewrite.h"

#include "automation/EngineError.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"

#include <algorithm>
#include <cstring>

namespace gm::xlsx {

namespace {

bool endsName(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

bool isFormulaName(QByteArrayView qualified)
{
    // Cell data holds mostly c, v, row and is: a name that does not end in "f" or in
    // "formula", "formula1" or "formula2" is passed over before the prefix is looked for.
    const char last = qualified.isEmpty() ? 0 : qualified.back();
    if (last != 'f' && last != 'a' && last != '1' && last != '2')
        return false;
    qsizetype colon = qualified.size();
    while (colon > 0 && qualified[colon - 1] != ':')
        --colon;
    const QByteArrayView local = qualified.sliced(colon);
    return local == "f" || local == "formula" || local == "formula1" || local == "formula2";
}

qsizetype find(QByteArrayView text, QByteArrayView what, qsizetype from)
{
    const qsizetype found = text.sliced(from).indexOf(what);
    return found < 0 ? -1 : from + found;
}

void appendUtf8(char32_t code, QByteArray &out)
{
    const char32_t units[] = {code};
    out += QString::fromUcs4(units, 1).toUtf8();
}

} // namespace

void FormulaTextRewrite::appendEscaped(QByteArrayView text, QByteArray &out)
{
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '&' && c != '<' && c != '>' && (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n'))
            continue;
        out.append(text.sliced(copied, i - copied));
        if (c == '&')
            out.append("&amp;");
        else if (c == '<')
            out.append("&lt;");
        else if (c == '>')
            out.append("&gt;");
        else
            out.append("&#" + QByteArray::number(int(c)) + ';');
        copied = i + 1;
    }
    out.append(text.sliced(copied));
}

bool FormulaTextRewrite::unescape(QByteArrayView content, QByteArray &out)
{
    out.resize(0);
    qsizetype copied = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '<' && c != '\r' && c != '&')
            continue;
        out.append(content.sliced(copied, i - copied));
        copied = i + 1;
        if (c == '<')
            return false;
        if (c == '\r') {
            // Line ends read as "\n", as every XML reader reads them.
            out += '\n';
            if (i + 1 < content.size() && content[i + 1] == '\n')
                copied = ++i + 1;
            continue;
        }
        const qsizetype semicolon = content.sliced(i).indexOf(';');
        if (semicolon < 0)
            return false;
        const QByteArrayView name = content.sliced(i + 1, semicolon - 1);
        i += semicolon;
        copied = i + 1;
        const char32_t code = xmlEntityCharacter(std::string_view(name.data(), size_t(name.size())));
        if (code == 0)
            return false;
        appendUtf8(code, out);
    }
    out.append(content.sliced(copied));
    return true;
}

bool FormulaTextRewrite::editElement(QByteArrayView element, QByteArrayView content, QByteArray &out)
{
    m_edited.resize(0);
    // Most formulas hold no reference and no line end: they are read where they stand.
    const bool plain = std::none_of(content.begin(), content.end(), [](char c) { return c == '&' || c == '<' || c == '\r'; });
    if (plain || unescape(content, m_plain)) {
        if (!m_edit(plain ? content : QByteArrayView(m_plain), m_edited))
            return false;
        appendEscaped(m_edited, out);
        return true;
    }
    // Markup inside the formula (CDATA, a comment): read the element as a small tree.
    try {
        XmlPart tree(QString(), element.toByteArray());
        pugi::xml_text text = tree.root().text();
        if (!m_edit(QByteArrayView(text.get()), m_edited))
            return false;
        text.set(m_edited.constData());
        out += tree.serialize();
        return true;
    } catch (const EngineError &) {
        return false; // not well-formed: kept as it is
    }
}

void FormulaTextRewrite::feed(const char *data, qsizetype size, QByteArray &out)
{
    m_buffer.append(data, size);
    const QByteArrayView text(m_buffer);
    const qsizetype n = text.size();
    qsizetype copied = 0; // text before this is in `out`
    qsizetype at = 0; // text before this is read
    // Only formula elements are read whole; of any other markup only the name is read, as
    // "<" stands nowhere else outside comments, CDATA and processing instructions.
    while (at < n) {
        const void *found = std::memchr(text.data() + at, '<', size_t(n - at));
        if (!found) {
            at = n;
            break;
        }
        const qsizetype open = static_cast<const char *>(found) - text.data();
        if (open + 1 >= n) {
            at = open;
            break;
        }
        const char kind = text[open + 1];
        if (kind == '/') {
            at = open + 2;
            continue;
        }
        if (kind == '!' || kind == '?') {
            const QByteArrayView rest = text.sliced(open);
            if (kind == '!' && rest.size() < 9) {
                at = open; // cannot tell a comment from CDATA yet
                break;
            }
            const QByteArrayView close = kind == '?' ? QByteArrayView("?>")
                : rest.startsWith("<!--")            ? QByteArrayView("-->")
                : rest.startsWith("<![CDATA[")       ? QByteArrayView("]]>")
                                                     : QByteArrayView(">");
            const qsizetype end = find(text, close, open + 2);
            if (end < 0) {
                at = open;
                break;
            }
            at = end + close.size();
            continue;
        }
        qsizetype nameEnd = open + 1;
        while (nameEnd < n && !endsName(text[nameEnd]))
            ++nameEnd;
        if (nameEnd >= n) {
            at = open;
            break;
        }
        const QByteArrayView name = text.sliced(open + 1, nameEnd - open - 1);
        if (!isFormulaName(name)) {
            at = nameEnd;
            continue;
        }
        const qsizetype startEnd = startTagEnd(std::string_view(text.data(), size_t(text.size())), nameEnd);
        if (startEnd < 0) {
            at = open;
            break;
        }
        if (text[startEnd - 2] == '/') {
            at = startEnd;
            continue;
        }
        if (m_endTag.size() != name.size() + 2 || !m_endTag.endsWith(name))
            m_endTag = "</" + name.toByteArray();
        // The end tag: "</f>", spaces allowed before its ">"; a longer name that starts alike
        // is passed over.
        qsizetype end = startEnd;
        qsizetype after = -1;
        while ((end = find(text, m_endTag, end)) >= 0) {
            after = end + m_endTag.size();
            while (after < n && (text[after] == ' ' || text[after] == '\t' || text[after] == '\r' || text[after] == '\n'))
                ++after;
            if (after >= n || text[after] == '>')
                break;
            ++end;
        }
        if (end < 0 || after >= n) {
            at = open;
            break;
        }
        ++after;
        m_out.resize(0);
        if (editElement(text.sliced(open, after - open), text.sliced(startEnd, end - startEnd), m_out)) {
            out.append(text.sliced(copied, open - copied));
            if (m_out.startsWith('<')) {
                out += m_out; // the whole element, read as a tree (escaped text never starts so)
            } else {
                out.append(text.sliced(open, startEnd - open));
                out += m_out;
                out.append(text.sliced(end, after - end));
            }
            copied = after;
        }
        at = after;
    }
    out.append(text.sliced(copied, at - copied));
    m_buffer.remove(0, at);
}

void FormulaTextRewrite::finish(QByteArray &out)
{
    out += m_buffer; // markup cut short: the part was not well-formed to begin with
    m_buffer.clear();
}

} // namespace gm::xlsx
