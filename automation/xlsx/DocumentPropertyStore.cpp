#include "automation/xlsx/DocumentPropertyStore.h"

#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"

namespace gm::xlsx {

namespace {

constexpr std::string_view dublinCore = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view coreNamespace = "http://schemas.openxmlformats.org/package/2006/metadata/core-properties";
constexpr std::string_view extendedNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";

struct Placement
{
    bool core;
    std::string_view namespaceUri;
    std::string_view localName;
    std::string_view prefix;
};

Placement placementOf(DocumentProperty property)
{
    switch (property) {
    case DocumentProperty::Title: return {true, dublinCore, "title", "dc"};
    case DocumentProperty::Subject: return {true, dublinCore, "subject", "dc"};
    case DocumentProperty::Author: return {true, dublinCore, "creator", "dc"};
    case DocumentProperty::Keywords: return {true, coreNamespace, "keywords", "cp"};
    case DocumentProperty::Comments: return {true, dublinCore, "description", "dc"};
    case DocumentProperty::Category: return {true, coreNamespace, "category", "cp"};
    case DocumentProperty::Manager: return {false, extendedNamespace, "Manager", "ep"};
    case DocumentProperty::Company: return {false, extendedNamespace, "Company", "ep"};
    case DocumentProperty::HyperlinkBase: break;
    }
    return {false, extendedNamespace, "HyperlinkBase", "ep"};
}

const QString corePartName = QStringLiteral("docProps/core.xml");
const QString extendedPartName = QStringLiteral("docProps/app.xml");

const QByteArray coreTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
    "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"/>";
const QByteArray extendedTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
    "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\"/>";

bool isPropertiesType(const QString &type, bool core)
{
    if (core)
        return type.endsWith(QLatin1String("/metadata/core-properties"));
    return rel::isType(type, rel::extendedProperties);
}

} // namespace

DocumentPropertyStore::DocumentPropertyStore(OpcPackage &package)
    : m_package(package)
{
}

QString DocumentPropertyStore::findPart(bool core)
{
    for (const Relationship &relationship : m_package.relationships(QString())) {
        if (isPropertiesType(relationship.type, core) && !relationship.partName.isEmpty()
            && m_package.hasPart(relationship.partName))
            return relationship.partName;
    }
    return {};
}

QString DocumentPropertyStore::createPart(bool core)
{
    const QString name = core ? corePartName : extendedPartName;
    // A part left without its relationship is taken back into use rather than replaced.
    if (!m_package.hasPart(name))
        m_package.createXml(name, core ? coreTemplate : extendedTemplate);
    m_package.ensureOverride(name, core ? QStringLiteral("application/vnd.openxmlformats-package.core-properties+xml")
                                        : QStringLiteral("application/vnd.openxmlformats-officedocument.extended-properties+xml"));
    m_package.addRelationship(QString(), core ? rel::coreProperties : rel::extendedProperties, name);
    return m_package.canonicalName(name);
}

QString DocumentPropertyStore::value(DocumentProperty property)
{
    const Placement placement = placementOf(property);
    const QString partName = findPart(placement.core);
    if (partName.isEmpty())
        return {};
    const pugi::xml_node root = m_package.xml(partName).root();
    return decodeXmlText(xml::text(xml::child(root, placement.namespaceUri, placement.localName)));
}

void DocumentPropertyStore::setValue(DocumentProperty property, const QString &value)
{
    const Placement placement = placementOf(property);
    QString partName = findPart(placement.core);
    if (partName.isEmpty()) {
        if (value.isEmpty())
            return;
        partName = createPart(placement.core);
    }
    XmlPart &part = m_package.xml(partName);
    pugi::xml_node root = part.root();
    pugi::xml_node element = xml::child(root, placement.namespaceUri, placement.localName);
    if (!element) {
        if (value.isEmpty())
            return;
        const std::string name = xml::qualifiedName(root, placement.namespaceUri, placement.localName, placement.prefix);
        element = xml::insertChild(root, name,
                                   placement.core ? std::span<const std::string_view>(order::coreProperties)
                                                  : std::span<const std::string_view>(order::extendedProperties));
        part.markDirty();
    }
    if (xml::setText(element, encodeXmlText(value)))
        part.markDirty();
}

} // namespace gm::xlsx
