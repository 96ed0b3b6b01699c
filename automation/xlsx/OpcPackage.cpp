#include "automation/xlsx/OpcPackage.h"

#include "automation/EngineError.h"
#include "automation/xlsx/XmlTree.h"

#include <QUrl>

namespace gm::xlsx {

namespace {

const QString contentTypesPart = QStringLiteral("[Content_Types].xml");
constexpr std::string_view relationshipsNamespace = "http://schemas.openxmlformats.org/package/2006/relationships";
const QByteArray emptyRelationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>";

QString folded(const QString &partName)
{
    return partName.toCaseFolded();
}

// Collapses "." and ".." segments; a ".." above the root is dropped.
QString normalisePath(const QString &path)
{
    QStringList out;
    for (const QString &segment : path.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(segment);
    }
    return out.join(QLatin1Char('/'));
}

} // namespace

OpcPackage::OpcPackage(ZipArchive archive)
    : m_archive(std::move(archive))
{
    if (!m_archive.contains(contentTypesPart))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("no [Content_Types].xml"));
}

void OpcPackage::verifyEntries()
{
    static const QString worksheetType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
    static const QString chartsheetType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.chartsheet+xml");
    auto isSheet = [](const QString &type) {
        return type.compare(worksheetType, Qt::CaseInsensitive) == 0 || type.compare(chartsheetType, Qt::CaseInsensitive) == 0;
    };
    QStringList sheets;
    QStringList extensions;
    const pugi::xml_node types = xml(contentTypesPart).root();
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || !isSheet(xml::attribute(node, "ContentType")))
            continue;
        if (xml::localName(node) == "Override")
            sheets.append(xml::attribute(node, "PartName").mid(1));
        else if (xml::localName(node) == "Default")
            extensions.append(QLatin1Char('.') + xml::attribute(node, "Extension"));
    }
    for (const QString &extension : extensions) {
        for (const QString &name : m_archive.entryNames()) {
            if (name.endsWith(extension, Qt::CaseInsensitive))
                sheets.append(name);
        }
    }
    m_archive.verifyEntries(sheets);
}

bool OpcPackage::hasPart(const QString &partName) const
{
    const QString key = folded(partName);
    if (m_xml.count(key) || m_binary.count(key))
        return true;
    return m_archive.contains(partName) && !m_removed.contains(partName, Qt::CaseInsensitive);
}

QString OpcPackage::canonicalName(const QString &partName) const
{
    const QString stored = m_archive.storedName(partName);
    if (!stored.isEmpty())
        return stored;
    for (const QString &added : m_newParts) {
        if (added.compare(partName, Qt::CaseInsensitive) == 0)
            return added;
    }
    return partName;
}

QByteArray OpcPackage::partBytes(const QString &partName) const
{
    const QString key = folded(partName);
    if (const auto it = m_xml.find(key); it != m_xml.end())
        return it->second->serialize();
    if (const auto it = m_binary.find(key); it != m_binary.end())
        return it->second;
    return m_archive.read(partName);
}

XmlPart &OpcPackage::xml(const QString &partName)
{
    const QString key = folded(partName);
    if (const auto it = m_xml.find(key); it != m_xml.end())
        return *it->second;
    if (m_sheets.count(key))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("part %1 is already edited as text").arg(partName));
    if (m_removed.contains(partName, Qt::CaseInsensitive))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("missing part %1").arg(partName));
    const QString name = canonicalName(partName);
    // A part set as bytes in this session (a copied part) is parsed from those bytes, and
    // from now on written from the tree.
    if (const auto bin = m_binary.find(key); bin != m_binary.end()) {
        auto part = std::make_unique<XmlPart>(name, bin->second);
        part->markDirty();
        m_binary.erase(bin);
        return *m_xml.emplace(key, std::move(part)).first->second;
    }
    auto part = std::make_unique<XmlPart>(name, m_archive.read(name));
    return *m_xml.emplace(key, std::move(part)).first->second;
}

SplicedXmlPart &OpcPackage::sheet(const QString &partName)
{
    const QString key = folded(partName);
    if (const auto it = m_sheets.find(key); it != m_sheets.end())
        return *it->second;
    if (m_xml.count(key))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("part %1 is already edited as a tree").arg(partName));
    auto part = std::make_unique<SplicedXmlPart>(m_archive, canonicalName(partName), QByteArrayLiteral("sheetData"));
    return *m_sheets.emplace(key, std::move(part)).first->second;
}

bool OpcPackage::editedAsTree(const QString &partName) const
{
    return m_xml.count(folded(partName)) != 0;
}

XmlPart &OpcPackage::createXml(const QString &partName, const QByteArray &bytes)
{
    if (hasPart(partName))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("part %1 exists").arg(partName));
    auto part = std::make_unique<XmlPart>(partName, bytes);
    part->markDirty();
    // A part written again under the name of a removed one replaces that entry.
    if (!m_removed.removeIf([&](const QString &name) { return name.compare(partName, Qt::CaseInsensitive) == 0; }))
        m_newParts.append(partName);
    return *m_xml.emplace(folded(partName), std::move(part)).first->second;
}

void OpcPackage::setBinary(const QString &partName, QByteArray bytes)
{
    const QString name = canonicalName(partName);
    if (!hasPart(name))
        m_newParts.append(name);
    m_binary[folded(name)] = std::move(bytes);
}

void OpcPackage::removePart(const QString &partName)
{
    const QString key = folded(partName);
    m_xml.erase(key);
    m_binary.erase(key);
    if (m_newParts.removeIf([&](const QString &name) { return folded(name) == key; }) > 0)
        return;
    const QString stored = m_archive.storedName(partName);
    if (!stored.isEmpty() && !m_removed.contains(stored, Qt::CaseInsensitive))
        m_removed.append(stored);
}

QStringList OpcPackage::partNames() const
{
    QStringList names;
    for (const QString &name : m_archive.entryNames()) {
        if (!name.endsWith(QLatin1Char('/')) && !m_removed.contains(name, Qt::CaseInsensitive))
            names.append(name);
    }
    return names + m_newParts;
}

QString OpcPackage::relationshipsPartName(const QString &sourcePart)
{
    const qsizetype slash = sourcePart.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : sourcePart.left(slash + 1);
    const QString file = sourcePart.mid(slash + 1);
    return folder + QStringLiteral("_rels/") + file + QStringLiteral(".rels");
}

QString OpcPackage::resolveTarget(const QString &sourcePart, const QString &target)
{
    QString path = QUrl::fromPercentEncoding(target.toUtf8());
    if (const qsizetype hash = path.indexOf(QLatin1Char('#')); hash >= 0)
        path.truncate(hash);
    if (path.startsWith(QLatin1Char('/')))
        return normalisePath(path);
    const qsizetype slash = sourcePart.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : sourcePart.left(slash + 1);
    return normalisePath(folder + path);
}

std::vector<Relationship> OpcPackage::relationships(const QString &sourcePart)
{
    std::vector<Relationship> result;
    const QString relsPart = relationshipsPartName(sourcePart);
    if (!hasPart(relsPart))
        return result;
    const pugi::xml_node root = xml(relsPart).root();
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || xml::localName(node) != "Relationship")
            continue;
        Relationship relationship;
        relationship.id = xml::attribute(node, "Id");
        relationship.type = xml::attribute(node, "Type");
        relationship.target = xml::attribute(node, "Target");
        if (xml::attribute(node, "TargetMode").compare(QLatin1String("External"), Qt::CaseInsensitive) != 0)
            relationship.partName = canonicalName(resolveTarget(sourcePart, relationship.target));
        result.push_back(relationship);
    }
    return result;
}

QString OpcPackage::relatedPart(const QString &sourcePart, const QString &type)
{
    for (const Relationship &relationship : relationships(sourcePart)) {
        if (rel::isType(relationship.type, type) && !relationship.partName.isEmpty() && hasPart(relationship.partName))
            return relationship.partName;
    }
    return {};
}

QString OpcPackage::addRelationship(const QString &sourcePart, const QString &type, const QString &target)
{
    const QString relsPart = relationshipsPartName(sourcePart);
    const bool created = !hasPart(relsPart);
    XmlPart &part = created ? createXml(relsPart, emptyRelationships) : xml(relsPart);
    if (created && contentType(relsPart).isEmpty())
        ensureOverride(relsPart, QStringLiteral("application/vnd.openxmlformats-package.relationships+xml"));

    int highest = 0;
    QStringList ids;
    for (const Relationship &existing : relationships(sourcePart)) {
        ids.append(existing.id);
        if (existing.id.startsWith(QLatin1String("rId")))
            highest = std::max(highest, existing.id.mid(3).toInt());
    }
    QString id;
    for (int n = highest + 1; id.isEmpty() || ids.contains(id, Qt::CaseInsensitive); ++n)
        id = QStringLiteral("rId%1").arg(n);

    pugi::xml_node root = part.root();
    pugi::xml_node node = root.append_child(xml::qualifiedName(root, relationshipsNamespace, "Relationship", "r").c_str());
    node.append_attribute("Id").set_value(id.toUtf8().constData());
    node.append_attribute("Type").set_value(type.toUtf8().constData());
    node.append_attribute("Target").set_value(target.toUtf8().constData());
    part.markDirty();
    return id;
}

bool OpcPackage::removeRelationship(const QString &sourcePart, const QString &id)
{
    const QString relsPart = relationshipsPartName(sourcePart);
    if (!hasPart(relsPart))
        return false;
    XmlPart &part = xml(relsPart);
    pugi::xml_node root = part.root();
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "Relationship"
            && xml::attribute(node, "Id") == id) {
            root.remove_child(node);
            part.markDirty();
            return true;
        }
    }
    return false;
}

QString OpcPackage::contentType(const QString &partName)
{
    const pugi::xml_node types = xml(contentTypesPart).root();
    const QString absolute = QLatin1Char('/') + partName;
    const qsizetype dot = partName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 || partName.indexOf(QLatin1Char('/'), dot) >= 0 ? QString() : partName.mid(dot + 1);
    QString byDefault;
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element)
            continue;
        if (xml::localName(node) == "Override"
            && xml::attribute(node, "PartName").compare(absolute, Qt::CaseInsensitive) == 0)
            return xml::attribute(node, "ContentType");
        if (xml::localName(node) == "Default" && !extension.isEmpty() && byDefault.isEmpty()
            && xml::attribute(node, "Extension").compare(extension, Qt::CaseInsensitive) == 0)
            byDefault = xml::attribute(node, "ContentType");
    }
    return byDefault;
}

void OpcPackage::ensureOverride(const QString &partName, const QString &type)
{
    XmlPart &part = xml(contentTypesPart);
    pugi::xml_node types = part.root();
    const QString absolute = QLatin1Char('/') + partName;
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "Override"
            && xml::attribute(node, "PartName").compare(absolute, Qt::CaseInsensitive) == 0)
            return;
    }
    pugi::xml_node node = types.append_child(xml::siblingName(types, "Override").c_str());
    node.append_attribute("PartName").set_value(absolute.toUtf8().constData());
    node.append_attribute("ContentType").set_value(type.toUtf8().constData());
    part.markDirty();
}

bool OpcPackage::ensureDefault(const QString &extension, const QString &type)
{
    XmlPart &part = xml(contentTypesPart);
    pugi::xml_node types = part.root();
    pugi::xml_node firstOverride;
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element)
            continue;
        if (xml::localName(node) == "Default" && xml::attribute(node, "Extension").compare(extension, Qt::CaseInsensitive) == 0)
            return xml::attribute(node, "ContentType").compare(type, Qt::CaseInsensitive) == 0;
        if (!firstOverride && xml::localName(node) == "Override")
            firstOverride = node;
    }
    // Defaults are written before the Overrides, as packages usually list them.
    const std::string name = xml::siblingName(types, "Default");
    pugi::xml_node node
        = firstOverride ? types.insert_child_before(name.c_str(), firstOverride) : types.append_child(name.c_str());
    node.append_attribute("Extension").set_value(extension.toUtf8().constData());
    node.append_attribute("ContentType").set_value(type.toUtf8().constData());
    part.markDirty();
    return true;
}

void OpcPackage::removeOverride(const QString &partName)
{
    XmlPart &part = xml(contentTypesPart);
    pugi::xml_node types = part.root();
    const QString absolute = QLatin1Char('/') + partName;
    for (pugi::xml_node node = types.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "Override"
            && xml::attribute(node, "PartName").compare(absolute, Qt::CaseInsensitive) == 0) {
            types.remove_child(node);
            part.markDirty();
            return;
        }
    }
}

QString OpcPackage::mainPart()
{
    for (const Relationship &relationship : relationships(QString())) {
        if (rel::isType(relationship.type, rel::officeDocument) && !relationship.partName.isEmpty()) {
            if (!hasPart(relationship.partName))
                throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("missing %1").arg(relationship.partName));
            return relationship.partName;
        }
    }
    throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("no officeDocument relationship"));
}

bool OpcPackage::isModified() const
{
    if (!m_binary.empty() || !m_newParts.isEmpty() || !m_removed.isEmpty())
        return true;
    for (const auto &entry : m_xml) {
        if (entry.second->isDirty())
            return true;
    }
    for (const auto &entry : m_sheets) {
        if (entry.second->isDirty())
            return true;
    }
    return false;
}

std::vector<ZipArchive::Change> OpcPackage::changes() const
{
    std::vector<ZipArchive::Change> result;
    auto add = [&](const QString &name) {
        const QString key = folded(name);
        if (const auto it = m_xml.find(key); it != m_xml.end()) {
            if (it->second->isDirty())
                result.push_back({name, it->second->serialize(), std::nullopt});
        } else if (const auto sheet = m_sheets.find(key); sheet != m_sheets.end()) {
            if (sheet->second->isDirty())
                result.push_back(sheet->second->change(m_archive));
        } else if (const auto bin = m_binary.find(key); bin != m_binary.end()) {
            result.push_back({name, bin->second, std::nullopt});
        }
    };
    for (const QString &name : m_archive.entryNames()) {
        if (m_removed.contains(name, Qt::CaseInsensitive))
            result.push_back({name, {}, std::nullopt, true});
        else
            add(name);
    }
    for (const QString &name : m_newParts)
        add(name);
    return result;
}

QByteArray OpcPackage::build(const std::vector<ZipArchive::Change> &changes) const
{
    return m_archive.rebuilt(changes);
}

void OpcPackage::committed(QByteArray bytes)
{
    m_archive = ZipArchive::fromBytes(std::move(bytes));
    m_binary.clear();
    m_newParts.clear();
    // Sheet parts are read again from the new archive when next needed.
    m_sheets.clear();
    m_removed.clear();
    for (auto &entry : m_xml)
        entry.second->markClean();
}

} // namespace gm::xlsx
