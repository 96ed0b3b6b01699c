#include "automation/xlsx/WorkbookSharing.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <QSet>
#include <QUuid>

#include <algorithm>

namespace gm::xlsx {

namespace {

const QString relationshipBase = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");
const QString userNamesType = relationshipBase + QStringLiteral("usernames");
const QString revisionHeadersType = relationshipBase + QStringLiteral("revisionHeaders");
const QString revisionLogType = relationshipBase + QStringLiteral("revisionLog");
const QString contentTypeBase = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.");
const QString tableType = relationshipBase + QStringLiteral("table");
const QString xmlMapsType = relationshipBase + QStringLiteral("xmlMaps");

const QByteArray mainNamespace("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QByteArray relationshipsNamespace("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QByteArray declaration("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n");

QByteArray escaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

const Relationship *findType(const std::vector<Relationship> &relationships, const QString &type)
{
    for (const Relationship &relationship : relationships) {
        if (rel::isType(relationship.type, type))
            return &relationship;
    }
    return nullptr;
}

// A part in the workbook's folder, for a relationship target from the workbook part.
QString inWorkbookFolder(const QString &workbookPart, const QString &relative)
{
    const qsizetype slash = workbookPart.lastIndexOf(QLatin1Char('/'));
    return workbookPart.left(slash + 1) + relative;
}

bool holdsTablesOrMaps(OpcPackage &package, const QString &workbookPart, const WorkbookModel &model)
{
    if (findType(package.relationships(workbookPart), xmlMapsType))
        return true;
    for (const SheetEntry &sheet : model.sheets()) {
        if (findType(package.relationships(sheet.partName), tableType))
            return true;
    }
    return false;
}

bool sharingProtected(OpcPackage &package, const QString &workbookPart)
{
    const pugi::xml_node protection = xml::child(package.xml(workbookPart).root(), "workbookProtection");
    const QString lock = xml::attribute(protection, "lockRevision");
    return lock == QStringLiteral("1") || lock == QStringLiteral("true");
}

// The sheetId of every sheet in tab order.
QList<int> sheetIds(OpcPackage &package, const QString &workbookPart)
{
    QList<int> ids;
    const pugi::xml_node sheets = xml::child(package.xml(workbookPart).root(), "sheets");
    for (pugi::xml_node sheet : sheets.children()) {
        if (sheet.type() == pugi::node_element && xml::localName(sheet) == "sheet")
            ids.append(xml::attribute(sheet, "sheetId").toInt());
    }
    return ids;
}

void removeWithOverride(OpcPackage &package, const QString &partName)
{
    if (partName.isEmpty() || !package.hasPart(partName))
        return;
    package.removePart(partName);
    package.removeOverride(partName);
}

} // namespace

bool isShared(PackageDocument &document)
{
    OpcPackage &package = document.package();
    return findType(package.relationships(document.model().partName()), userNamesType) != nullptr;
}

bool share(PackageDocument &document, const QString &userName, const QDateTime &when)
{
    if (isShared(document))
        return false;
    OpcPackage &package = document.package();
    const QString workbookPart = document.model().partName();
    if (holdsTablesOrMaps(package, workbookPart, document.model()))
        throw EngineError(ErrorCode::CannotShare, document.path());

    const QList<int> ids = sheetIds(package, workbookPart);
    int maxSheetId = 0;
    for (int id : ids)
        maxSheetId = std::max(maxSheetId, id);
    const QByteArray guid = QUuid::createUuid().toString(QUuid::WithBraces).toUpper().toLatin1();

    // Free names in the revisions folder (a leftover of an earlier sharing may be there).
    auto freeName = [&](const QString &stem) {
        QString name = inWorkbookFolder(workbookPart, QStringLiteral("revisions/") + stem + QStringLiteral(".xml"));
        for (int n = 1; package.hasPart(name); ++n)
            name = inWorkbookFolder(workbookPart, QStringLiteral("revisions/%1%2.xml").arg(stem).arg(n));
        return name;
    };
    const QString headersPart = freeName(QStringLiteral("revisionHeaders"));
    const QString userNamesPart = freeName(QStringLiteral("userNames"));
    QString logPart = inWorkbookFolder(workbookPart, QStringLiteral("revisions/revisionLog1.xml"));
    for (int n = 2; package.hasPart(logPart); ++n)
        logPart = inWorkbookFolder(workbookPart, QStringLiteral("revisions/revisionLog%1.xml").arg(n));
    auto fileName = [](const QString &part) { return part.mid(part.lastIndexOf(QLatin1Char('/')) + 1); };

    QByteArray sheetMap = "<sheetIdMap count=\"" + QByteArray::number(ids.size()) + "\">";
    for (int id : ids)
        sheetMap += "<sheetId val=\"" + QByteArray::number(id) + "\"/>";
    sheetMap += "</sheetIdMap>";
    const QByteArray headers = declaration + "<headers xmlns=\"" + mainNamespace + "\" xmlns:r=\"" + relationshipsNamespace
        + "\" guid=\"" + guid + "\"><header guid=\"" + guid + "\" dateTime=\""
        + when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "\" maxSheetId=\""
        + QByteArray::number(maxSheetId + 1) + "\" userName=\"" + escaped(userName) + "\" r:id=\"rId1\">" + sheetMap
        + "</header></headers>";
    package.createXml(headersPart, headers);
    package.ensureOverride(headersPart, contentTypeBase + QStringLiteral("revisionHeaders+xml"));
    package.createXml(
        logPart, declaration + "<revisions xmlns=\"" + mainNamespace + "\" xmlns:r=\"" + relationshipsNamespace + "\"/>");
    package.ensureOverride(logPart, contentTypeBase + QStringLiteral("revisionLog+xml"));
    package.addRelationship(headersPart, revisionLogType, fileName(logPart));
    package.createXml(userNamesPart,
        declaration + "<users xmlns=\"" + mainNamespace + "\" xmlns:r=\"" + relationshipsNamespace + "\" count=\"0\"/>");
    package.ensureOverride(userNamesPart, contentTypeBase + QStringLiteral("userNames+xml"));

    package.addRelationship(workbookPart, revisionHeadersType, QStringLiteral("revisions/") + fileName(headersPart));
    package.addRelationship(workbookPart, userNamesType, QStringLiteral("revisions/") + fileName(userNamesPart));
    return true;
}

bool unshare(PackageDocument &document)
{
    if (!isShared(document))
        return false;
    OpcPackage &package = document.package();
    const QString workbookPart = document.model().partName();
    if (sharingProtected(package, workbookPart))
        throw EngineError(ErrorCode::SharingProtected, document.path());

    QSet<QString> removed;
    auto removeTree = [&](const QString &part, auto &&self) -> void {
        if (part.isEmpty() || removed.contains(part.toLower()) || !package.hasPart(part))
            return;
        removed.insert(part.toLower());
        for (const Relationship &relationship : package.relationships(part)) {
            if (rel::isType(relationship.type, revisionLogType))
                self(relationship.partName, self);
        }
        removeWithOverride(package, OpcPackage::relationshipsPartName(part));
        removeWithOverride(package, part);
    };
    for (const Relationship &relationship : package.relationships(workbookPart)) {
        if (rel::isType(relationship.type, userNamesType) || rel::isType(relationship.type, revisionHeadersType)) {
            removeTree(relationship.partName, removeTree);
            package.removeRelationship(workbookPart, relationship.id);
        }
    }
    return true;
}

} // namespace gm::xlsx
