#pragma once

#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/ZipArchive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <vector>

namespace gm::xlsx {

struct Relationship
{
    QString id;
    QString type;
    QString target;   // as written
    QString partName; // the part it points to; "" for external targets
};

// A zip package of parts (Open Packaging Conventions): content types, relationships and the
// parts themselves, read from memory. Part names are written without the leading "/" and
// compared without regard to letter case. Changed parts are held until build() writes a
// new archive in which every other entry is copied through as stored.
class OpcPackage
{
public:
    // Throws EngineError(NotAWorkbook) for a zip without [Content_Types].xml.
    explicit OpcPackage(ZipArchive archive);

    OpcPackage(const OpcPackage &) = delete;
    OpcPackage &operator=(const OpcPackage &) = delete;

    // Reads every entry, so that a bad CRC shows now rather than in a later copy. Worksheet and
    // chart sheet parts, which are read again whenever one is edited, are held as checked
    // while they fit (see ZipArchive::verifyEntries). Throws Damaged.
    void verifyEntries();

    bool hasPart(const QString &partName) const;
    // The stored spelling of an existing part's name, else the name as given.
    QString canonicalName(const QString &partName) const;
    // The part's content with its changes; a sheet part edited as text reads as stored.
    QByteArray partBytes(const QString &partName) const;
    // A stored part's bytes in chunks, so that a large sheet is never held whole; throws Damaged.
    void readPartChunks(const QString &partName, const ZipArchive::ChunkSink &sink) const
    {
        m_archive.readChunks(partName, sink);
    }
    // The part parsed as XML, read once and kept. Throws Damaged.
    XmlPart &xml(const QString &partName);
    // A worksheet or chart sheet part, edited in its text without a tree and without holding
    // its cell data (see SplicedXmlPart); read once and kept. A part is edited either this way
    // or through xml(), never both. Throws Damaged.
    SplicedXmlPart &sheet(const QString &partName);
    // The cell data of a sheet part edited as text, as it will be written (its rewrites
    // applied), in chunks.
    void readSheetData(const QString &partName, const ZipArchive::ChunkSink &sink)
    {
        sheet(partName).readSkipped(m_archive, sink);
    }
    // The part is already being edited as a tree through xml().
    bool editedAsTree(const QString &partName) const;
    // Adds a new XML part with the given initial content.
    XmlPart &createXml(const QString &partName, const QByteArray &bytes);
    // Replaces (or adds) a part that is not edited as XML.
    void setBinary(const QString &partName, QByteArray bytes);
    // Leaves the part out of the package: its entry is not written again. Its relationships
    // part and its content type entry are the caller's to remove.
    void removePart(const QString &partName);
    // The names of all parts now in the package, in entry order, new parts last.
    QStringList partNames() const;

    static QString relationshipsPartName(const QString &sourcePart);
    // Relationships of a part ("" for the package itself); none when it has no rels part.
    std::vector<Relationship> relationships(const QString &sourcePart);
    // The first part, present in the package, that a part's relationship of that type names;
    // "" when there is none.
    QString relatedPart(const QString &sourcePart, const QString &type);
    // Resolves a relationship target: relative to the source part's folder, or from the
    // package root when it starts with "/".
    static QString resolveTarget(const QString &sourcePart, const QString &target);
    // Adds a relationship with a fresh id, creating the rels part when missing; returns the id.
    QString addRelationship(const QString &sourcePart, const QString &type, const QString &target);
    // Removes the relationship with that id; returns false when there was none.
    bool removeRelationship(const QString &sourcePart, const QString &id);

    QString contentType(const QString &partName);
    // Adds an Override for the part unless it has one.
    void ensureOverride(const QString &partName, const QString &contentType);
    // Adds a Default entry for the extension unless there is one; returns false when a
    // Default for that extension already names another content type.
    bool ensureDefault(const QString &extension, const QString &contentType);
    // Removes the part's Override; Default entries by extension stay.
    void removeOverride(const QString &partName);

    // The workbook part, found through the package's officeDocument relationship.
    // Throws NotAWorkbook when there is none or its target is missing.
    QString mainPart();

    bool isModified() const;
    // The changed parts, in entry order of the new archive.
    std::vector<ZipArchive::Change> changes() const;
    // A new archive with those changes; every other entry is copied through as stored.
    QByteArray build(const std::vector<ZipArchive::Change> &changes) const;
    int entryCount() const { return int(m_archive.entryNames().size()); }
    // The archive as read (or as last committed).
    const ZipArchive &archive() const { return m_archive; }
    // Called once the built archive has been stored: it becomes the package's content.
    void committed(QByteArray bytes);

private:
    ZipArchive m_archive;
    std::map<QString, std::unique_ptr<XmlPart>> m_xml;  // key: case-folded part name
    std::map<QString, std::unique_ptr<SplicedXmlPart>> m_sheets; // key: case-folded part name
    std::map<QString, QByteArray> m_binary;             // key: case-folded part name
    QStringList m_newParts;                             // added parts, in order of creation
    QStringList m_removed;                              // stored entries left out, as stored
};

// Relationship and content types used by the package editor.
namespace rel {
inline const QString officeDocument = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument");
inline const QString worksheet = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet");
inline const QString chartsheet = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet");
inline const QString coreProperties = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties");
inline const QString extendedProperties = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties");
inline const QString printerSettings = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/printerSettings");
// Whether a relationship type is the given one, in its transitional or strict spelling.
inline bool isType(const QString &type, const QString &wanted)
{
    if (type == wanted)
        return true;
    const QString tail = wanted.mid(wanted.lastIndexOf(QLatin1Char('/')));
    if (wanted == extendedProperties && type.endsWith(QLatin1String("/extendedProperties")))
        return true;
    return type.startsWith(QLatin1String("http://purl.oclc.org/ooxml/")) && type.endsWith(tail);
}
} // namespace rel

} // namespace gm::xlsx
