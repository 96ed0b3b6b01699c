#include "automation/xlsx/SheetPageSetup.h"

#include "automation/xlsx/HeaderFooterText.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"

#include <span>

namespace gm::xlsx {

namespace {

std::span<const std::string_view> sheetOrder(pugi::xml_node root)
{
    if (xml::localName(root) == "chartsheet")
        return order::chartsheet;
    return order::worksheet;
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

SheetPageSetup::SheetPageSetup(XmlPart &part)
    : m_part(part)
{
}

QString SheetPageSetup::headerFooter(HeaderFooterSection section) const
{
    const pugi::xml_node element =
        xml::child(xml::child(m_part.root(), "headerFooter"), isHeader(section) ? "oddHeader" : "oddFooter");
    HeaderFooterText text = HeaderFooterText::parse(decodeXmlText(xml::text(element)));
    return sectionOf(text, section);
}

void SheetPageSetup::setHeaderFooter(HeaderFooterSection section, const QString &code)
{
    const char *elementName = isHeader(section) ? "oddHeader" : "oddFooter";
    pugi::xml_node root = m_part.root();
    pugi::xml_node headerFooter = xml::child(root, "headerFooter");
    pugi::xml_node element = xml::child(headerFooter, elementName);

    HeaderFooterText text = HeaderFooterText::parse(decodeXmlText(xml::text(element)));
    QString &target = sectionOf(text, section);
    if (target == code)
        return;
    target = code;
    const QString composed = text.compose();

    if (composed.isEmpty()) {
        // No empty element: the header or footer goes, its container and switches stay.
        headerFooter.remove_child(element);
    } else {
        if (!headerFooter)
            headerFooter = xml::insertChild(root, xml::siblingName(root, "headerFooter"), sheetOrder(root));
        if (!element)
            element = xml::insertChild(headerFooter, xml::siblingName(headerFooter, elementName), order::headerFooter);
        xml::setText(element, encodeXmlText(composed));
    }
    m_part.markDirty();
}

Orientation SheetPageSetup::orientation() const
{
    const pugi::xml_node pageSetup = xml::child(m_part.root(), "pageSetup");
    return std::string_view(pageSetup.attribute("orientation").value()) == "landscape" ? Orientation::Landscape
                                                                                        : Orientation::Portrait;
}

bool SheetPageSetup::setOrientation(Orientation orientation)
{
    const char *value = orientation == Orientation::Landscape ? "landscape" : "portrait";
    pugi::xml_node root = m_part.root();
    pugi::xml_node pageSetup = xml::child(root, "pageSetup");
    pugi::xml_attribute attribute = pageSetup.attribute("orientation");
    if (attribute && std::string_view(attribute.value()) == value)
        return false;
    if (!pageSetup)
        pageSetup = xml::insertChild(root, xml::siblingName(root, "pageSetup"), sheetOrder(root));
    if (!attribute)
        attribute = xml::insertAttribute(pageSetup, "orientation", order::pageSetupAttributes);
    attribute.set_value(value);
    m_part.markDirty();
    return true;
}

QString SheetPageSetup::printerSettingsId() const
{
    return QString::fromUtf8(xml::prefixedAttribute(xml::child(m_part.root(), "pageSetup"), "id").value());
}

} // namespace gm::xlsx
