#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"

#include "automation/EngineError.h"

#include <vector>

namespace gm::xlsx {

namespace {

// Keep whitespace-only text (Excel stores significant blanks and line breaks that way) and
// carriage returns; keep the declaration, comments and processing instructions.
constexpr unsigned parseFlags = (pugi::parse_full & ~pugi::parse_eol) | pugi::parse_ws_pcdata;
constexpr unsigned printFlags = pugi::format_raw | pugi::format_no_declaration;

class ByteArrayWriter : public pugi::xml_writer
{
public:
    explicit ByteArrayWriter(QByteArray &out) : m_out(out) {}
    void write(const void *data, size_t size) override
    {
        m_out.append(static_cast<const char *>(data), qsizetype(size));
    }

private:
    QByteArray &m_out;
};

// Whether the start tag that begins at offset (just after "<") ends with "/>".
bool isSelfClosedAt(const QByteArray &bytes, qsizetype offset)
{
    const qsizetype end = startTagEnd(std::string_view(bytes.constData(), size_t(bytes.size())), offset);
    return end > offset + 1 && bytes[end - 2] == '/';
}

} // namespace

XmlPart::XmlPart(QString name, const QByteArray &bytes)
    : m_name(std::move(name))
{
    const pugi::xml_parse_result result =
        m_document.load_buffer(bytes.constData(), size_t(bytes.size()), parseFlags, pugi::encoding_utf8);
    if (!result) {
        throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: %2 at offset %3")
                                                  .arg(m_name, QString::fromUtf8(result.description()))
                                                  .arg(qlonglong(result.offset)));
    }
    const pugi::xml_node rootNode = root();
    if (!rootNode)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: no root element").arg(m_name));
    for (pugi::xml_node node = m_document.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_doctype)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: document type declaration").arg(m_name));
    }

    // The offset points just after the "<" of the root start tag.
    const ptrdiff_t rootOffset = rootNode.offset_debug();
    if (rootOffset < 1 || rootOffset > bytes.size())
        throw EngineError(ErrorCode::Damaged, QStringLiteral("%1: root element not located").arg(m_name));
    m_prolog = bytes.left(qsizetype(rootOffset) - 1);

    // After the root: any comments or processing instructions are printed again, and the
    // bytes after the last markup (a final line break, if any) are kept.
    const qsizetype lastMarkup = bytes.lastIndexOf('>');
    for (pugi::xml_node node = rootNode.next_sibling(); node; node = node.next_sibling()) {
        ByteArrayWriter writer(m_epilog);
        node.print(writer, "", printFlags, pugi::encoding_utf8);
    }
    m_epilog += bytes.mid(lastMarkup + 1);

    keepEmptyElementForms(bytes);
}

void XmlPart::keepEmptyElementForms(const QByteArray &bytes)
{
    // An element without children prints as <x/>. One that was written <x></x> gets an empty
    // text child, which prints as <x></x> again.
    std::vector<pugi::xml_node> pending{root()};
    while (!pending.empty()) {
        pugi::xml_node node = pending.back();
        pending.pop_back();
        if (!node.first_child()) {
            const ptrdiff_t offset = node.offset_debug();
            if (offset > 0 && !isSelfClosedAt(bytes, qsizetype(offset)))
                node.append_child(pugi::node_pcdata);
            continue;
        }
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (child.type() == pugi::node_element)
                pending.push_back(child);
        }
    }
}

QByteArray XmlPart::serialize() const
{
    QByteArray out = m_prolog;
    ByteArrayWriter writer(out);
    root().print(writer, "", printFlags, pugi::encoding_utf8);
    out += m_epilog;
    return out;
}

} // namespace gm::xlsx
