#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace gm::xlsx {

// The shared-string table of a workbook (its sst part), read and extended in its text
// without a tree. The items are found by one scan when it is read; each item's text is read
// when asked for. New items are added before the root's end tag, uniqueCount and count (where
// the part has them) are kept right, and every other byte of the part stays as it was.
class SharedStringTable
{
public:
    // Throws EngineError(Damaged) when the part is not well-formed where it is read.
    SharedStringTable(QString partName, QByteArray bytes);

    const QString &partName() const { return m_partName; }
    qsizetype size() const { return qsizetype(m_items.size()) + m_added; }
    // The text of an item: its own <t>, or its runs' <t> in order, phonetic runs left out;
    // character references resolved, _xHHHH_ escapes kept. "" for an index out of range.
    QString text(qsizetype index) const;

    // Appends an item holding `text` (escaped as string items store it); returns its index.
    qsizetype append(const QString &text);
    // Counts `cells` more cells that refer to the table.
    void addReferences(qint64 cells) { m_references += cells; }
    bool isChanged() const { return m_added > 0 || m_references > 0; }
    // The part with the new items and counts.
    QByteArray bytes() const;

private:
    struct Span
    {
        qsizetype start = 0;
        qsizetype size = 0;
    };

    QString m_partName;
    QByteArray m_bytes;
    QByteArray m_rootName;
    Span m_rootAttributes; // of the root start tag, without a closing "/"
    qsizetype m_rootTagEnd = 0; // just after the root start tag
    qsizetype m_endTagStart = 0; // the root's end tag; the root tag's "/>" when it is empty
    bool m_selfClosed = false;
    std::vector<Span> m_items; // the content of each <si>
    QByteArray m_appended; // the new items' text
    std::vector<QString> m_appendedTexts;
    qsizetype m_added = 0;
    qint64 m_references = 0;
};

// Text as a string item stores it: control characters (carriage returns too) as _xHHHH_, and
// a literal _xHHHH_ kept by escaping its underscore. Not yet escaped for XML.
std::string storedItemText(const QString &text);
// Text escaped for element content: "&", "<" and ">" as references.
QByteArray escapedForXml(const std::string &text);

} // namespace gm::xlsx
