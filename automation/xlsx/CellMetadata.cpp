#include "automation/xlsx/CellMetadata.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <array>
#include <string_view>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

const QString metadataRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sheetMetadata");
const QString metadataType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheetMetadata+xml");
constexpr std::array metadataOrder{"metadataTypes"sv, "metadataStrings"sv, "mdxMetadata"sv, "futureMetadata"sv,
    "cellMetadata"sv, "valueMetadata"sv, "extLst"sv};
// Rich values (pictures in cells, linked data types) point on into the rich data parts.
constexpr std::string_view richValueType = "XLRICHVALUE";

QString metadataPartOf(OpcPackage &package, const QString &workbookPart)
{
    for (const Relationship &relationship : package.relationships(workbookPart)) {
        if (rel::isType(relationship.type, metadataRelationship) && !relationship.partName.isEmpty()
            && package.hasPart(relationship.partName))
            return relationship.partName;
    }
    return {};
}

QByteArray bytesOf(pugi::xml_node node)
{
    struct Writer : pugi::xml_writer
    {
        QByteArray out;
        void write(const void *data, size_t size) override { out.append(static_cast<const char *>(data), qsizetype(size)); }
    } writer;
    node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return writer.out;
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
    (attribute ? attribute : list.prepend_attribute("count")).set_value(count);
}

[[noreturn]] void refuse(const QString &what)
{
    throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("cell metadata: ") + what);
}

} // namespace

CellMetadataCopy::CellMetadataCopy(
    OpcPackage &source, const QString &sourceWorkbookPart, OpcPackage &target, const QString &targetWorkbookPart)
    : m_source(source),
      m_target(target),
      m_targetWorkbookPart(targetWorkbookPart),
      m_sourcePart(metadataPartOf(source, sourceWorkbookPart)),
      m_targetPart(metadataPartOf(target, targetWorkbookPart))
{
}

pugi::xml_node CellMetadataCopy::sourceBlock(int cellIndex) const
{
    if (m_sourcePart.isEmpty())
        refuse(QStringLiteral("no metadata part"));
    const pugi::xml_node block = nth(xml::child(m_source.xml(m_sourcePart).root(), "cellMetadata"), "bk", cellIndex - 1);
    if (!block)
        refuse(QStringLiteral("record %1 missing").arg(cellIndex));
    return block;
}

void CellMetadataCopy::check(int cellIndex)
{
    const pugi::xml_node block = sourceBlock(cellIndex);
    const pugi::xml_node root = m_source.xml(m_sourcePart).root();
    for (pugi::xml_node record : xml::children(block, "rc")) {
        const pugi::xml_node type = nth(xml::child(root, "metadataTypes"), "metadataType", record.attribute("t").as_int() - 1);
        const char *name = type.attribute("name").value();
        if (!type || name == richValueType)
            refuse(QString::fromUtf8(name));
        if (!nth(futureBlocks(root, name), "bk", record.attribute("v").as_int(-1)))
            refuse(QString::fromUtf8(name));
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
    const QByteArray wanted = bytesOf(block);
    int index = 0;
    for (pugi::xml_node existing : xml::children(future, "bk")) {
        if (bytesOf(existing) == wanted)
            return index;
        ++index;
    }
    future.append_copy(block);
    setCount(future, "bk");
    m_changed = true;
    return index;
}

int CellMetadataCopy::map(int cellIndex)
{
    if (const auto found = m_mapped.constFind(cellIndex); found != m_mapped.constEnd())
        return found.value();
    const pugi::xml_node sourceRoot = m_source.xml(m_sourcePart).root();
    // The record as the target numbers it: each of its entries names the target's type and
    // future metadata block.
    pugi::xml_document built;
    pugi::xml_node block = built.append_child("bk");
    for (pugi::xml_node record : xml::children(sourceBlock(cellIndex), "rc")) {
        const pugi::xml_node type
            = nth(xml::child(sourceRoot, "metadataTypes"), "metadataType", record.attribute("t").as_int() - 1);
        const QByteArray typeName = type.attribute("name").value();
        const pugi::xml_node future = nth(futureBlocks(sourceRoot, typeName.constData()), "bk", record.attribute("v").as_int());
        pugi::xml_node entry = block.append_child("rc");
        entry.append_attribute("t").set_value(targetType(type));
        entry.append_attribute("v").set_value(targetFuture(typeName, future));
    }
    pugi::xml_node root = targetPart().root();
    pugi::xml_node cells = xml::child(root, "cellMetadata");
    if (!cells)
        cells = xml::insertChild(root, xml::siblingName(root, "cellMetadata"), metadataOrder);
    const std::string prefix = xml::siblingName(root, "bk");
    const QByteArray wanted = bytesOf(block);
    int index = 1;
    for (pugi::xml_node existing : xml::children(cells, "bk")) {
        // Compared as the source would write it: the entries' prefix aside.
        pugi::xml_document plain;
        pugi::xml_node copy = plain.append_child("bk");
        for (pugi::xml_node record : xml::children(existing, "rc")) {
            pugi::xml_node entry = copy.append_child("rc");
            for (pugi::xml_attribute attribute : record.attributes())
                entry.append_attribute(attribute.name()).set_value(attribute.value());
        }
        if (bytesOf(copy) == wanted) {
            m_mapped.insert(cellIndex, index);
            return index;
        }
        ++index;
    }
    pugi::xml_node added = cells.append_child(prefix.c_str());
    const std::string recordName = xml::siblingName(root, "rc");
    for (pugi::xml_node record : block.children()) {
        pugi::xml_node entry = added.append_child(recordName.c_str());
        for (pugi::xml_attribute attribute : record.attributes())
            entry.append_attribute(attribute.name()).set_value(attribute.value());
    }
    setCount(cells, "bk");
    m_changed = true;
    m_mapped.insert(cellIndex, index);
    return index;
}

void CellMetadataCopy::finish()
{
    if (m_changed && m_written)
        m_written->markDirty();
}

} // namespace gm::xlsx
