#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

namespace gm::ole {

// One section of an OLE property set: a format identifier and a table of properties, each a
// typed value (type, padding, value) at an offset from the section start.
//
// Every property keeps its bytes as read; only the properties that are set are rewritten.
// A section nothing was set in is written back byte for byte. A rewritten section lays the
// values out in their original order, each padded to 4 bytes, with the new ones at the end.
//
// Strings are VT_LPSTR in the section's code page (PID 1). When a value has no form in that
// code page the whole section moves to code page 1200 (UTF-16LE): every VT_LPSTR, including
// those inside vectors and variant vectors (heading pairs, document parts), and the names of
// the dictionary are re-encoded, as all strings of a section share its code page.
class PropertySection
{
public:
    static constexpr quint32 DictionaryId = 0;
    static constexpr quint32 CodePageId = 1;

    static constexpr quint16 TypeI2 = 0x0002;
    static constexpr quint16 TypeLpstr = 0x001E;
    static constexpr quint16 TypeLpwstr = 0x001F;
    static constexpr quint16 TypeBlob = 0x0041;

    // Parses the section at the start of `bytes` (its size field first; bytes past its size
    // are ignored). Table entries that point outside the section are left out. Throws
    // EngineError(Damaged) when the bytes cannot be a section.
    PropertySection(const QUuid &formatId, const QByteArray &bytes);
    // A new section holding only its code page.
    PropertySection(const QUuid &formatId, quint16 codePage);

    const QUuid &formatId() const { return m_formatId; }
    // The code page of the section's strings; 1252 when the section names none.
    quint16 codePage() const;

    bool isModified() const { return m_modified; }
    // The section as stored: the original bytes when nothing was set.
    QByteArray toBytes() const;

    // Property ids in the order of the section's table.
    QList<quint32> propertyIds() const;
    bool contains(quint32 id) const;
    // The typed value as stored, with the padding that followed it; "" when absent.
    QByteArray value(quint32 id) const;
    // 0 (VT_EMPTY) when absent.
    quint16 type(quint32 id) const;
    // A string property as text: VT_LPSTR, VT_LPWSTR, or a VT_BLOB holding a NUL-terminated
    // UTF-16LE string. "" for an absent property or another type.
    QString text(quint32 id) const;

    // Writes `text` as VT_LPSTR (a VT_LPSTR that reads as `text` already stays), moving the section to code page 1200 first when needed.
    // Throws EngineError(NotSupported) when a move is needed and a property holding strings
    // has a layout this class does not know.
    void setText(quint32 id, const QString &text);
    // Writes a VT_BLOB whose bytes are `text` as NUL-terminated UTF-16LE (unless it holds
    // that text already).
    void setUnicodeBlob(quint32 id, const QString &text);
    // Replaces a typed value or appends it as a new property.
    void setValue(quint32 id, const QByteArray &typedValue);

    // The property id the dictionary gives `name` (letter case ignored).
    std::optional<quint32> idOfName(const QString &name) const;
    // Gives `name` a new property id in the dictionary, creating the dictionary when there is
    // none, and returns the id.
    quint32 addName(const QString &name);

    // Moves the section to code page 1200 (see above); nothing happens when it is there.
    void convertToUnicode();

private:
    struct Property
    {
        quint32 id = 0;
        QByteArray value;
        qint64 position = 0; // orders the values in the section
    };
    struct DictionaryEntry
    {
        quint32 id = 0;
        QString name;
        QByteArray bytes; // the entry as stored
    };

    const Property *find(quint32 id) const;
    std::vector<DictionaryEntry> dictionary() const;
    void setDictionary(const std::vector<DictionaryEntry> &entries);
    void setCodePage(quint16 codePage);

    QUuid m_formatId;
    QByteArray m_original;
    std::vector<Property> m_properties; // in table order
    bool m_modified = false;
};

} // namespace gm::ole
