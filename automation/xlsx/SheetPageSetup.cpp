#include "automation/xlsx/SheetPageSetup.h"

#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"

#include <span>

namespace gm::xlsx {

namespace {

std::span<const std::string_view> sheetOrder(const SplicedXmlPart &part)
{
    if (part.rootLocalName() == "chartsheet")
        return order::chartsheet;
    return order::worksheet;
}

// A child element of the sheet, parsed on its own; an empty one when the sheet has none.
XmlPart childElement(const SplicedXmlPart &part, std::string_view localName)
{
    const QByteArray text = part.element(localName);
    return XmlPart(part.name(), text.isEmpty() ? '<' + part.childName(localName) + "/>" : text);
}

bool isHeader(HeaderFooterSection section)
{
    return section == HeaderFooterSection::LeftHeader || section == HeaderFooterSection::CenterHeader
        || section == HeaderFooterSection::RightHeader;
}

QString &sectionOf(HeaderFooterText &text, HeaderFooterSection section)
{
    switch (section) {
    case HeaderFooterSection::LeftHeader:
    case HeaderFooterSection::LeftFooter:
        return text.left;
    case HeaderFooterSection::RightHeader:
    case HeaderFooterSection::RightFooter:
        return text.right;
    case HeaderFooterSection::CenterHeader:
    case HeaderFooterSection::CenterFooter:
        break;
    }
    return text.center;
}

} // namespace

SheetPageSetup::SheetPageSetup(SplicedXmlPart &part) : m_part(part) { }

QString SheetPageSetup::headerFooter(HeaderFooterSection section) const
{
    const XmlPart headerFooter = childElement(m_part, "headerFooter");
    const pugi::xml_node element = xml::child(headerFooter.root(), isHeader(section) ? "oddHeader" : "oddFooter");
    HeaderFooterText text = HeaderFooterText::parse(decodeXmlText(xml::text(element)));
    return sectionOf(text, section);
}

void SheetPageSetup::setHeaderFooter(HeaderFooterSection section, const QString &code)
{
    const char *elementName = isHeader(section) ? "oddHeader" : "oddFooter";
    XmlPart headerFooter = childElement(m_part, "headerFooter");
    pugi::xml_node container = headerFooter.root();
    pugi::xml_node element = xml::child(container, elementName);

    HeaderFooterText text = HeaderFooterText::parse(decodeXmlText(xml::text(element)));
    QString &target = sectionOf(text, section);
    if (target == code)
        return;
    target = code;
    const QString composed = text.compose();

    if (composed.isEmpty()) {
        // No empty element: the header or footer goes, its container and switches stay.
        container.remove_child(element);
    } else {
        if (!element)
            element = xml::insertChild(container, xml::siblingName(container, elementName), order::headerFooter);
        xml::setText(element, encodeXmlText(composed));
    }
    m_part.setElement("headerFooter", headerFooter.serialize(), sheetOrder(m_part));
}

Orientation SheetPageSetup::orientation() const
{
    const XmlPart pageSetup = childElement(m_part, "pageSetup");
    return std::string_view(pageSetup.root().attribute("orientation").value()) == "landscape" ? Orientation::Landscape
                                                                                              : Orientation::Portrait;
}

bool SheetPageSetup::setOrientation(Orientation orientation)
{
    const char *value = orientation == Orientation::Landscape ? "landscape" : "portrait";
    XmlPart pageSetup = childElement(m_part, "pageSetup");
    pugi::xml_node node = pageSetup.root();
    pugi::xml_attribute attribute = node.attribute("orientation");
    if (attribute && std::string_view(attribute.value()) == value)
        return false;
    if (!attribute)
        attribute = xml::insertAttribute(node, "orientation", order::pageSetupAttributes);
    attribute.set_value(value);
    m_part.setElement("pageSetup", pageSetup.serialize(), sheetOrder(m_part));
    return true;
}

QString SheetPageSetup::printerSettingsId() const
{
    const XmlPart pageSetup = childElement(m_part, "pageSetup");
    return QString::fromUtf8(xml::prefixedAttribute(pageSetup.root(), "id").value());
}

} // namespace gm::xlsx
