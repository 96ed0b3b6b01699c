#include "automation/xlsx/CellMetadata.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/SheetStructure.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <array>
#include <sstream>
#include <string_view>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

const QString metadataRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sheetMetadata");
const QString metadataType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheetMetadata+xml");
constexpr std::array metadataOrder{"metadataTypes"sv, "metadataStrings"sv, "mdxMetadata"sv, "futureMetadata"sv,
    "cellMetadata"sv, "valueMetadata"sv, "extLst"sv};
// Rich values (pictures in cells, linked data types) point on into the rich data parts: the
// values, their structures (the keys and their kinds), the key flags, and the list of
// relationships (pictures) that values name by position.
constexpr std::string_view richValueType = "XLRICHVALUE";
const QString richValuesTail = QStringLiteral("/rdRichValue");
const QString richStructuresTail = QStringLiteral("/rdRichValueStructure");
const QString richTypesTail = QStringLiteral("/rdRichValueTypes");
const QString richRelationsTail = QStringLiteral("/richValueRel");
// Key kinds a copied rich value may hold: numbers, booleans, errors and strings. Others name
// further rich values, arrays or property bags.
constexpr std::array plainKeyKinds{""sv, "d"sv, "i"sv, "b"sv, "e"sv, "s"sv};
constexpr std::string_view relationKeyPrefix = "_rvRel:";

QString metadataPartOf(OpcPackage &package, const QString &workbookPart)
{
    return package.relatedPart(workbookPart, metadataRelationship);
}

// The workbook's part whose relationship type ends in `tail` (the rich data types carry a
// dated namespace of their own).
QString partByTail(OpcPackage &package, const QString &workbookPart, const QString &tail, QString *type = nullptr)
{
    for (const Relationship &relationship : package.relationships(workbookPart)) {
        if (relationship.type.endsWith(tail) && !relationship.partName.isEmpty() && package.hasPart(relationship.partName)) {
            if (type)
                *type = relationship.type;
            return relationship.partName;
        }
    }
    return {};
}

pugi::xml_node findLocal(pugi::xml_node node, std::string_view localName)
{
    for (pugi::xml_node child : xml::children(node)) {
        if (xml::localName(child) == localName)
            return child;
        if (pugi::xml_node found = findLocal(child, localName))
            return found;
    }
    return {};
}

pugi::xml_node nth(pugi::xml_node parent, std::string_view name, int index)
{
    const std::vector<pugi::xml_node> all = xml::children(parent, name);
    return index >= 0 && index < int(all.size()) ? all[size_t(index)] : pugi::xml_node();
}

pugi::xml_node futureBlocks(pugi::xml_node root, const char *typeName)
{
    for (pugi::xml_node future : xml::children(root, "futureMetadata")) {
        if (std::string_view(future.attribute("name").value()) == typeName)
            return future;
    }
    return {};
}

void setCount(pugi::xml_node list, std::string_view item)
{
    const int count = int(xml::children(list, item).size());
    pugi::xml_attribute attribute = list.attribute("count");
    (attribute ? attribute : list.append_attribute("count")).set_value(count);
}

[[noreturn]] void refuse(const QString &what)
{
    throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("cell metadata: ") + what);
}

} // namespace

CellMetadataCopy::CellMetadataCopy(
    OpcPackage &source, const QString &sourceWorkbookPart, OpcPackage &target, const QString &targetWorkbookPart)
    : m_source(source),
      m_sourceWorkbookPart(sourceWorkbookPart),
      m_target(target),
      m_targetWorkbookPart(targetWorkbookPart),
      m_sourcePart(metadataPartOf(source, sourceWorkbookPart)),
      m_targetPart(metadataPartOf(target, targetWorkbookPart))
{
}

pugi::xml_node CellMetadataCopy::sourceBlock(const char *list, int index) const
{
    if (m_sourcePart.isEmpty())
        refuse(QStringLiteral("no metadata part"));
    const pugi::xml_node block = nth(xml::child(m_source.xml(m_sourcePart).root(), list), "bk", index - 1);
    if (!block)
        refuse(QStringLiteral("record %1 missing").arg(index));
    return block;
}

void CellMetadataCopy::check(int cellIndex)
{
    checkRecords(sourceBlock("cellMetadata", cellIndex));
}

void CellMetadataCopy::checkRecords(pugi::xml_node block)
{
    const pugi::xml_node root = m_source.xml(m_sourcePart).root();
    for (pugi::xml_node record : xml::children(block, "rc")) {
        const pugi::xml_node type = nth(xml::child(root, "metadataTypes"), "metadataType", record.attribute("t").as_int() - 1);
        const char *name = type.attribute("name").value();
        const pugi::xml_node future = nth(futureBlocks(root, name), "bk", record.attribute("v").as_int(-1));
        if (!type || !future)
            refuse(QString::fromUtf8(name));
        if (name == richValueType) {
            const pugi::xml_node reference = findLocal(future, "rvb");
            if (!reference)
                refuse(QString::fromUtf8(name));
            m_sourceRich.values = partByTail(m_source, m_sourceWorkbookPart, richValuesTail);
            m_sourceRich.structures = partByTail(m_source, m_sourceWorkbookPart, richStructuresTail);
            m_sourceRich.relations = partByTail(m_source, m_sourceWorkbookPart, richRelationsTail);
            m_sourceRich.types = partByTail(m_source, m_sourceWorkbookPart, richTypesTail);
            if (m_sourceRich.values.isEmpty() || m_sourceRich.structures.isEmpty())
                refuse(QStringLiteral("rich value parts missing"));
            const pugi::xml_node value
                = nth(m_source.xml(m_sourceRich.values).root(), "rv", reference.attribute("i").as_int(-1));
            const pugi::xml_node structure
                = nth(m_source.xml(m_sourceRich.structures).root(), "s", value.attribute("s").as_int(-1));
            if (!value || !structure)
                refuse(QStringLiteral("rich value %1 missing").arg(reference.attribute("i").as_int(-1)));
            const std::vector<pugi::xml_node> keys = xml::children(structure, "k");
            const std::vector<pugi::xml_node> values = xml::children(value, "v");
            if (keys.size() != values.size())
                refuse(QStringLiteral("rich value %1 damaged").arg(reference.attribute("i").as_int(-1)));
            for (size_t k = 0; k < keys.size(); ++k) {
                const std::string_view kind = keys[k].attribute("t").value();
                if (std::find(plainKeyKinds.begin(), plainKeyKinds.end(), kind) == plainKeyKinds.end())
                    refuse(QStringLiteral("rich value key ") + QString::fromUtf8(keys[k].attribute("n").value()));
                if (std::string_view(keys[k].attribute("n").value()).starts_with(relationKeyPrefix)) {
                    if (m_sourceRich.relations.isEmpty())
                        refuse(QStringLiteral("rich value relationships missing"));
                    const pugi::xml_node relation
                        = nth(m_source.xml(m_sourceRich.relations).root(), "rel", values[k].text().as_int(-1));
                    const QString id = xml::attribute(relation, "r:id");
                    bool found = false;
                    for (const Relationship &relationship : m_source.relationships(m_sourceRich.relations))
                        found = found || (relationship.id == id && m_source.hasPart(relationship.partName));
                    if (!found)
                        refuse(QStringLiteral("rich value picture missing"));
                }
            }
        }
    }
    // The blocks name their extensions by prefixes the source's root declares; the target's
    // root must not bind those prefixes to other namespaces.
    if (m_targetPart.isEmpty())
        return;
    const pugi::xml_node targetRoot = m_target.xml(m_targetPart).root();
    for (pugi::xml_attribute declaration = root.first_attribute(); declaration; declaration = declaration.next_attribute()) {
        const std::string_view name = declaration.name();
        if (!name.starts_with("xmlns"))
            continue;
        const pugi::xml_attribute bound = targetRoot.attribute(declaration.name());
        if (bound && std::string_view(bound.value()) != declaration.value())
            refuse(QString::fromUtf8(declaration.name()));
    }
}

void CellMetadataCopy::checkValue(int valueIndex)
{
    checkRecords(sourceBlock("valueMetadata", valueIndex));
}

XmlPart &CellMetadataCopy::targetPart()
{
    if (m_written)
        return *m_written;
    const pugi::xml_node sourceRoot = m_source.xml(m_sourcePart).root();
    if (m_targetPart.isEmpty()) {
        const QString folder = m_targetWorkbookPart.left(m_targetWorkbookPart.lastIndexOf(u'/') + 1);
        m_targetPart = folder + QStringLiteral("metadata.xml");
        for (int n = 2; m_target.hasPart(m_targetPart); ++n)
            m_targetPart = folder + QStringLiteral("metadata%1.xml").arg(n);
        m_target.createXml(m_targetPart,
            QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<metadata "
                              "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>"));
        m_target.addRelationship(m_targetWorkbookPart, metadataRelationship, m_targetPart.mid(folder.size()));
        m_target.ensureOverride(m_targetPart, metadataType);
    }
    m_written = &m_target.xml(m_targetPart);
    pugi::xml_node root = m_written->root();
    for (pugi::xml_attribute declaration = sourceRoot.first_attribute(); declaration; declaration = declaration.next_attribute()) {
        if (std::string_view(declaration.name()).starts_with("xmlns:") && !root.attribute(declaration.name())) {
            root.append_attribute(declaration.name()).set_value(declaration.value());
            m_changed = true;
        }
    }
    return *m_written;
}

int CellMetadataCopy::targetType(pugi::xml_node sourceType)
{
    pugi::xml_node root = targetPart().root();
    pugi::xml_node types = xml::child(root, "metadataTypes");
    if (!types)
        types = xml::insertChild(root, xml::siblingName(root, "metadataTypes"), metadataOrder);
    int index = 1;
    for (pugi::xml_node type : xml::children(types, "metadataType")) {
        if (std::string_view(type.attribute("name").value()) == sourceType.attribute("name").value())
            return index;
        ++index;
    }
    types.append_copy(sourceType);
    setCount(types, "metadataType");
    m_changed = true;
    return index;
}

int CellMetadataCopy::targetFuture(const QByteArray &typeName, pugi::xml_node block)
{
    pugi::xml_node root = targetPart().root();
    pugi::xml_node future = futureBlocks(root, typeName.constData());
    if (!future) {
        future = xml::insertChild(root, xml::siblingName(root, "futureMetadata"), metadataOrder);
        future.append_attribute("name").set_value(typeName.constData());
    }
    const QByteArray wanted = xml::rawText(block);
    int index = 0;
    for (pugi::xml_node existing : xml::children(future, "bk")) {
        if (xml::rawText(existing) == wanted)
            return index;
        ++index;
    }
    future.append_copy(block);
    setCount(future, "bk");
    m_changed = true;
    return index;
}

// The record as the target numbers it: each of its entries names the target's type and
// future metadata block (a rich value's block naming the target's copy of the value).
pugi::xml_node CellMetadataCopy::mapRecords(pugi::xml_node sourceRecords, pugi::xml_document &built)
{
    const pugi::xml_node sourceRoot = m_source.xml(m_sourcePart).root();
    pugi::xml_node block = built.append_child("bk");
    for (pugi::xml_node record : xml::children(sourceRecords, "rc")) {
        const pugi::xml_node type
            = nth(xml::child(sourceRoot, "metadataTypes"), "metadataType", record.attribute("t").as_int() - 1);
        const QByteArray typeName = type.attribute("name").value();
        pugi::xml_node future = nth(futureBlocks(sourceRoot, typeName.constData()), "bk", record.attribute("v").as_int());
        pugi::xml_document rewritten;
        if (typeName == QByteArray(richValueType.data(), qsizetype(richValueType.size()))) {
            future = rewritten.append_copy(future);
            pugi::xml_node reference = findLocal(future, "rvb");
            reference.attribute("i").set_value(mapRichValue(reference.attribute("i").as_int()));
        }
        pugi::xml_node entry = block.append_child("rc");
        entry.append_attribute("t").set_value(targetType(type));
        entry.append_attribute("v").set_value(targetFuture(typeName, future));
    }
    return block;
}

namespace {

// The 1-based position of a record like `block` in `list` (entries compared without their
// prefix), appending it when missing.
int recordIndex(pugi::xml_node root, pugi::xml_node list, pugi::xml_node block, bool *added)
{
    const QByteArray wanted = xml::rawText(block);
    int index = 1;
    for (pugi::xml_node existing : xml::children(list, "bk")) {
        pugi::xml_document plain;
        pugi::xml_node copy = plain.append_child("bk");
        for (pugi::xml_node record : xml::children(existing, "rc")) {
            pugi::xml_node entry = copy.append_child("rc");
            for (pugi::xml_attribute attribute : record.attributes())
                entry.append_attribute(attribute.name()).set_value(attribute.value());
        }
        if (xml::rawText(copy) == wanted)
            return index;
        ++index;
    }
    pugi::xml_node appended = list.append_child(xml::siblingName(root, "bk").c_str());
    const std::string recordName = xml::siblingName(root, "rc");
    for (pugi::xml_node record : block.children()) {
        pugi::xml_node entry = appended.append_child(recordName.c_str());
        for (pugi::xml_attribute attribute : record.attributes())
            entry.append_attribute(attribute.name()).set_value(attribute.value());
    }
    setCount(list, "bk");
    *added = true;
    return index;
}

} // namespace

int CellMetadataCopy::map(int cellIndex)
{
    return mapBlock("cellMetadata", cellIndex, m_mapped);
}

int CellMetadataCopy::mapValue(int valueIndex)
{
    return mapBlock("valueMetadata", valueIndex, m_mappedValues);
}

int CellMetadataCopy::mapBlock(const char *list, int index, QHash<int, int> &mapped)
{
    if (const auto found = mapped.constFind(index); found != mapped.constEnd())
        return found.value();
    pugi::xml_document built;
    const pugi::xml_node block = mapRecords(sourceBlock(list, index), built);
    pugi::xml_node root = targetPart().root();
    pugi::xml_node blocks = xml::child(root, list);
    if (!blocks)
        blocks = xml::insertChild(root, xml::siblingName(root, list), metadataOrder);
    const int target = recordIndex(root, blocks, block, &m_changed);
    mapped.insert(index, target);
    return target;
}

// The target's rich data part `part` (found, or made from the source's `sourcePart`
// with an empty root, its workbook relationship and content type).
XmlPart &CellMetadataCopy::targetRichPart(QString &part, const QString &sourcePart, const char *relationshipTail)
{
    QString type;
    if (part.isEmpty())
        part = partByTail(m_target, m_targetWorkbookPart, QString::fromLatin1(relationshipTail));
    if (part.isEmpty()) {
        partByTail(m_source, m_sourceWorkbookPart, QString::fromLatin1(relationshipTail), &type);
        part = freshPartName(m_target, sourcePart, m_reserved);
        const pugi::xml_node sourceRoot = m_source.xml(sourcePart).root();
        pugi::xml_document document;
        pugi::xml_node root = document.append_child(sourceRoot.name());
        for (pugi::xml_attribute attribute : sourceRoot.attributes()) {
            if (std::string_view(attribute.name()).starts_with("xmlns") || std::string_view(attribute.name()) == "mc:Ignorable")
                root.append_attribute(attribute.name()).set_value(attribute.value());
        }
        std::ostringstream out;
        root.print(out, "", pugi::format_raw);
        m_target.createXml(part, QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n")
                + QByteArray::fromStdString(out.str()));
        m_target.addRelationship(m_targetWorkbookPart, type, relativeTarget(m_targetWorkbookPart, part));
        m_target.ensureOverride(part, m_source.contentType(sourcePart));
    }
    XmlPart &xml = m_target.xml(part);
    m_dirtyParts.insert(part, &xml);
    return xml;
}

int CellMetadataCopy::addRelatedPicture(int sourceIndex)
{
    const pugi::xml_node relation = nth(m_source.xml(m_sourceRich.relations).root(), "rel", sourceIndex);
    const QString id = xml::attribute(relation, "r:id");
    Relationship picture;
    for (const Relationship &relationship : m_source.relationships(m_sourceRich.relations)) {
        if (relationship.id == id)
            picture = relationship;
    }
    XmlPart &relations = targetRichPart(m_targetRich.relations, m_sourceRich.relations, "/richValueRel");
    const QString copy = freshPartName(m_target, picture.partName, m_reserved);
    m_target.setBinary(copy, m_source.partBytes(picture.partName));
    const QString contentType = m_source.contentType(picture.partName);
    const qsizetype dot = copy.lastIndexOf(u'.');
    if (m_target.contentType(copy) != contentType && (dot < 0 || !m_target.ensureDefault(copy.mid(dot + 1), contentType)))
        m_target.ensureOverride(copy, contentType);
    const QString newId = m_target.addRelationship(relations.name(), picture.type, relativeTarget(relations.name(), copy));
    pugi::xml_node root = relations.root();
    pugi::xml_node added = root.append_copy(relation);
    added.attribute("r:id").set_value(newId.toUtf8().constData());
    return int(xml::children(root, "rel").size()) - 1;
}

int CellMetadataCopy::mapRichValue(int sourceIndex)
{
    const pugi::xml_node value = nth(m_source.xml(m_sourceRich.values).root(), "rv", sourceIndex);
    const pugi::xml_node structure = nth(m_source.xml(m_sourceRich.structures).root(), "s", value.attribute("s").as_int());

    // The key flags are workbook-wide; a target without them takes the source's.
    if (!m_sourceRich.types.isEmpty() && partByTail(m_target, m_targetWorkbookPart, richTypesTail).isEmpty()) {
        QString type;
        partByTail(m_source, m_sourceWorkbookPart, richTypesTail, &type);
        const QString part = freshPartName(m_target, m_sourceRich.types, m_reserved);
        m_target.createXml(part, m_source.partBytes(m_sourceRich.types));
        m_target.addRelationship(m_targetWorkbookPart, type, relativeTarget(m_targetWorkbookPart, part));
        m_target.ensureOverride(part, m_source.contentType(m_sourceRich.types));
    }

    // The structure: one like it, or a copy.
    XmlPart &structures = targetRichPart(m_targetRich.structures, m_sourceRich.structures, "/rdRichValueStructure");
    int structureIndex = 0;
    bool found = false;
    for (pugi::xml_node existing : xml::children(structures.root(), "s")) {
        if (xml::rawText(existing) == xml::rawText(structure)) {
            found = true;
            break;
        }
        ++structureIndex;
    }
    if (!found) {
        structures.root().append_copy(structure);
        setCount(structures.root(), "s");
    }

    // The value, its pictures copied and named by their new positions.
    XmlPart &values = targetRichPart(m_targetRich.values, m_sourceRich.values, "/rdRichValue");
    pugi::xml_node copy = values.root().append_copy(value);
    copy.attribute("s").set_value(structureIndex);
    const std::vector<pugi::xml_node> keys = xml::children(structure, "k");
    const std::vector<pugi::xml_node> entries = xml::children(copy, "v");
    for (size_t k = 0; k < keys.size() && k < entries.size(); ++k) {
        if (std::string_view(keys[k].attribute("n").value()).starts_with(relationKeyPrefix))
            entries[k].text().set(addRelatedPicture(entries[k].text().as_int()));
    }
    setCount(values.root(), "rv");
    return int(xml::children(values.root(), "rv").size()) - 1;
}

void CellMetadataCopy::finish()
{
    if (m_changed && m_written)
        m_written->markDirty();
    for (XmlPart *part : std::as_const(m_dirtyParts))
        part->markDirty();
}

} // namespace gm::xlsx
