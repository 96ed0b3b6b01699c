#include "automation/xlsx/SheetDecorations.h"

#include "automation/BackgroundPicture.h"
#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

namespace gm::xlsx {

namespace {

const QString hyperlinkType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink");
const QString imageType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/image");
const QByteArray relationshipsNamespace("http://schemas.openxmlformats.org/officeDocument/2006/relationships");

std::span<const std::string_view> sheetOrder(const SplicedXmlPart &part)
{
    if (part.rootLocalName() == "chartsheet")
        return order::chartsheet;
    return order::worksheet;
}

// The r:id values of an element and of its descendants' elements named `localName`.
QStringList relationshipIds(const QByteArray &text, std::string_view localName)
{
    QStringList ids;
    if (text.isEmpty())
        return ids;
    const XmlPart fragment(QStringLiteral("fragment"), text);
    auto collect = [&](pugi::xml_node node) {
        if (xml::localName(node) != localName)
            return;
        if (const pugi::xml_attribute id = xml::prefixedAttribute(node, "id"))
            ids.append(QString::fromUtf8(id.value()));
    };
    collect(fragment.root());
    for (pugi::xml_node node : fragment.root().children())
        collect(node);
    return ids;
}

int countChildren(const QByteArray &text, std::string_view localName)
{
    const XmlPart fragment(QStringLiteral("fragment"), text);
    int count = 0;
    for (pugi::xml_node node : fragment.root().children())
        count += node.type() == pugi::node_element && xml::localName(node) == localName ? 1 : 0;
    return count;
}

// Drops a relationships part that no longer holds any relationship.
void dropIfEmpty(OpcPackage &package, const QString &sourcePart)
{
    const QString relsPart = OpcPackage::relationshipsPartName(sourcePart);
    if (!package.hasPart(relsPart) || !package.relationships(sourcePart).empty())
        return;
    package.removePart(relsPart);
    package.removeOverride(relsPart);
}

// The part a relationships part belongs to: "xl/worksheets/_rels/sheet1.xml.rels" gives
// "xl/worksheets/sheet1.xml", "_rels/.rels" the package itself ("").
QString sourceOfRelationships(const QString &relsPart)
{
    const qsizetype marker = relsPart.lastIndexOf(QLatin1String("_rels/"), -1, Qt::CaseInsensitive);
    if (marker < 0 || !relsPart.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive))
        return {};
    const QString file = relsPart.mid(marker + 6).chopped(5);
    return relsPart.left(marker) + file;
}

bool isReferenced(OpcPackage &package, const QString &partName)
{
    for (const QString &name : package.partNames()) {
        if (!name.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive))
            continue;
        for (const Relationship &relationship : package.relationships(sourceOfRelationships(name))) {
            if (relationship.partName.compare(partName, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

// The media part holding exactly these bytes, else a new one "xl/media/imageN.<ext>" whose
// number no other media part uses, whatever its extension.
QString mediaPart(OpcPackage &package, const BackgroundPicture &picture)
{
    const QString folder = QStringLiteral("xl/media/");
    QStringList stems;
    for (const QString &name : package.partNames()) {
        if (!name.startsWith(folder, Qt::CaseInsensitive))
            continue;
        stems.append(name.left(name.lastIndexOf(QLatin1Char('.'))).toLower());
        if (name.endsWith(QLatin1Char('.') + picture.extension(), Qt::CaseInsensitive)
            && package.partBytes(name) == picture.bytes())
            return name;
    }
    QString stem;
    for (int n = 1; stem.isEmpty() || stems.contains(stem.toLower()); ++n)
        stem = folder + QStringLiteral("image%1").arg(n);
    const QString name = stem + QLatin1Char('.') + picture.extension();
    package.setBinary(name, picture.bytes());
    return name;
}

// A relative target from a part in xl/worksheets/ (or xl/chartsheets/) to a part in xl/.
QString targetFrom(const QString &sourcePart, const QString &partName)
{
    const qsizetype slash = sourcePart.lastIndexOf(QLatin1Char('/'));
    const QString folder = sourcePart.left(slash + 1);
    if (partName.startsWith(folder))
        return partName.mid(folder.size());
    const qsizetype parentSlash = folder.lastIndexOf(QLatin1Char('/'), folder.size() - 2);
    const QString parent = folder.left(parentSlash + 1);
    if (!parent.isEmpty() && partName.startsWith(parent))
        return QStringLiteral("../") + partName.mid(parent.size());
    return QLatin1Char('/') + partName;
}

// Removes the sheet's relationship with that id when it has the given type; returns the part
// it pointed at ("" when none was removed).
QString removeTypedRelationship(OpcPackage &package, const QString &sheetPart, const QString &id, const QString &type)
{
    for (const Relationship &relationship : package.relationships(sheetPart)) {
        if (relationship.id == id && rel::isType(relationship.type, type)) {
            package.removeRelationship(sheetPart, id);
            return relationship.partName.isEmpty() ? QStringLiteral("-") : relationship.partName;
        }
    }
    return {};
}

// Removes the sheet's <picture>, its relationship and the media part when nothing else
// refers to it; a relationships part left empty goes too unless another one follows.
bool removePicture(PackageDocument &document, const SheetEntry &sheet, bool dropEmptyRelationships)
{
    SplicedXmlPart &part = document.sheetPart(sheet);
    const QByteArray text = part.element("picture");
    if (text.isEmpty())
        return false;
    const QStringList ids = relationshipIds(text, "picture");
    part.setElement("picture", {}, sheetOrder(part));
    OpcPackage &package = document.package();
    for (const QString &id : ids) {
        const QString media = removeTypedRelationship(package, sheet.partName, id, imageType);
        if (!media.isEmpty() && media != QStringLiteral("-") && package.hasPart(media) && !isReferenced(package, media)) {
            package.removePart(media);
            package.removeOverride(media);
        }
    }
    if (dropEmptyRelationships)
        dropIfEmpty(package, sheet.partName);
    return true;
}

} // namespace

int removeHyperlinks(PackageDocument &document, const SheetEntry &sheet)
{
    SplicedXmlPart &part = document.sheetPart(sheet);
    const QByteArray text = part.element("hyperlinks");
    if (text.isEmpty())
        return 0;
    const int count = countChildren(text, "hyperlink");
    const QStringList ids = relationshipIds(text, "hyperlink");
    part.setElement("hyperlinks", {}, sheetOrder(part));
    OpcPackage &package = document.package();
    for (const QString &id : ids)
        removeTypedRelationship(package, sheet.partName, id, hyperlinkType);
    dropIfEmpty(package, sheet.partName);
    return count;
}

void setBackground(PackageDocument &document, const SheetEntry &sheet, const BackgroundPicture &picture)
{
    OpcPackage &package = document.package();
    SplicedXmlPart &part = document.sheetPart(sheet);
    // The same picture again changes nothing.
    const QStringList current = relationshipIds(part.element("picture"), "picture");
    if (current.size() == 1) {
        for (const Relationship &relationship : package.relationships(sheet.partName)) {
            if (relationship.id == current.first() && rel::isType(relationship.type, imageType)
                && !relationship.partName.isEmpty() && package.hasPart(relationship.partName)
                && package.partBytes(relationship.partName) == picture.bytes())
                return;
        }
    }
    // The media part is chosen while the old background still stands, so that a new name
    // never reuses the name of a part about to be removed.
    const QString media = mediaPart(package, picture);
    removePicture(document, sheet, false);
    if (package.contentType(media) != picture.contentType())
        package.ensureDefault(picture.extension(), picture.contentType());
    const QString id = package.addRelationship(sheet.partName, imageType, targetFrom(sheet.partName, media));
    const QByteArray element
        = part.childName("picture") + " xmlns:r=\"" + relationshipsNamespace + "\" r:id=\"" + id.toUtf8() + "\"/>";
    part.setElement("picture", '<' + element, sheetOrder(part));
}

bool removeBackground(PackageDocument &document, const SheetEntry &sheet)
{
    return removePicture(document, sheet, true);
}

} // namespace gm::xlsx
