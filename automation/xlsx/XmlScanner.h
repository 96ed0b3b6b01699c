#pragma once

#include <QByteArray>

#include <functional>
#include <string>
#include <vector>

namespace gm::xlsx {

// A forward-only scan of an XML document fed in chunks, for parts too large to parse into a
// tree. It finds the root element and the spans of the root's child elements, checks that
// tags nest and match, and steps over comments, CDATA sections, processing instructions and
// quoted attribute values, so that markup-like text inside them is never taken for an element.
// Offsets count bytes from the start of the document. A document type declaration, a "<" in
// an attribute value, a mismatched or missing end tag, or a document without a root throws
// EngineError(Damaged).
// One child of the root may be stepped over quickly (skipBodyOf): its body is searched for its
// own end tag instead of being read tag by tag. Comments, CDATA sections and processing
// instructions in it are still recognised (their text never ends it) and a document type
// declaration in it still throws, but the names and nesting of the tags inside it are not
// checked, and an element of the same name nested in it is not allowed for.
class XmlScanner
{
public:
    struct Element
    {
        QByteArray qualifiedName;
        // The first element two levels further in (for mc:AlternateContent, the element its
        // first choice offers); empty when there is none.
        QByteArray firstNested;
        qint64 start = 0; // the "<" of the start tag
        qint64 end = 0; // just after the end tag, or after "/>"
    };

    // Called when a child element of the root has been read to its end.
    std::function<void(const Element &)> onChild;
    // Called when the start tag of a child element of the root has been read.
    std::function<void(const QByteArray &qualifiedName, qint64 start)> onChildStart;

    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &bytes) { feed(bytes.constData(), bytes.size()); }
    // Checks that the document is complete.
    void finish();

    const QByteArray &rootName() const { return m_rootName; }
    // The root's start tag, as written.
    const QByteArray &rootStartTag() const { return m_rootTag; }
    qint64 rootEndTagStart() const { return m_rootEndTagStart; }
    const std::vector<Element> &children() const { return m_children; }
    // When false, the children are reported through onChild only and not kept.
    void setKeepChildren(bool keep) { m_keepChildren = keep; }
    // The first child of the root with this local name has its body stepped over; before the
    // first feed().
    void skipBodyOf(const QByteArray &localName) { m_skipLocalName = localName; }

private:
    enum class State { Text, TagOpen, StartName, Attributes, Quoted, EndName, EndRest, Bang, Comment, CData, Pi, Skip, SkipOpen, SkipEnd };

    [[noreturn]] void fail(const char *what) const;
    void startTagDone(bool selfClosed, qint64 end);
    void endTagDone(qint64 end);
    // Where character data goes on after markup: plain text, or the body being stepped over.
    State textState() const { return m_skipping ? State::Skip : State::Text; }
    qsizetype nextSkipCandidate(const char *data, qsizetype from, qsizetype size) const;

    State m_state = State::Text;
    qint64 m_offset = 0; // offset of the chunk being fed
    qint64 m_tokenStart = 0; // offset of the current markup's "<"
    std::string m_name;
    std::string m_bang;
    char m_quote = 0;
    bool m_slash = false;
    int m_run = 0; // dashes, brackets or question marks just seen
    int m_depth = 0;
    std::string m_stack; // names of the open elements, one after another
    std::vector<size_t> m_stackStarts; // where each open element's name starts in m_stack
    bool m_rootSeen = false;
    bool m_rootClosed = false;
    QByteArray m_rootName;
    QByteArray m_rootTag;
    qint64 m_rootEndTagStart = -1;
    Element m_current;
    std::vector<Element> m_children;
    bool m_keepChildren = true;
    QByteArray m_skipLocalName;
    std::string m_skipName; // the stepped-over element's qualified name, as its end tag has it
    bool m_skipping = false;
    bool m_skipDone = false;
};

} // namespace gm::xlsx
