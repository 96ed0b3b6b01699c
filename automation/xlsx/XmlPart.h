#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

namespace gm::xlsx {

// One XML part of a package, parsed for editing. Writing it back changes only what was
// edited: the bytes before the root element (declaration, line break, byte-order mark) and
// after it are kept verbatim, whitespace-only text is kept, and an element written with a
// start and an end tag keeps that form even when it is empty.
class XmlPart
{
public:
    // Throws EngineError(Damaged) when the bytes are not well-formed XML or declare a DTD.
    XmlPart(QString name, const QByteArray &bytes);

    XmlPart(const XmlPart &) = delete;
    XmlPart &operator=(const XmlPart &) = delete;

    const QString &name() const { return m_name; }
    pugi::xml_node root() const { return m_document.document_element(); }

    // Whether the part has been changed since it was read or last saved.
    bool isDirty() const { return m_dirty; }
    void markDirty() { m_dirty = true; }
    void markClean() { m_dirty = false; }

    QByteArray serialize() const;

private:
    void keepEmptyElementForms(const QByteArray &bytes);

    QString m_name;
    pugi::xml_document m_document;
    QByteArray m_prolog;
    QByteArray m_epilog;
    bool m_dirty = false;
};

} // namespace gm::xlsx
