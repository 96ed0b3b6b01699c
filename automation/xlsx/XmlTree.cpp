#include "automation/xlsx/XmlTree.h"

#include <algorithm>

namespace gm::xlsx::xml {

namespace {

constexpr std::string_view markupCompatibility = "http://schemas.openxmlformats.org/markup-compatibility/2006";

int rank(std::string_view name, std::span<const std::string_view> order)
{
    const auto it = std::find(order.begin(), order.end(), name);
    return it == order.end() ? -1 : int(it - order.begin());
}

// The rank of an existing child; -1 when it is not in the list.
int rankOfChild(pugi::xml_node child, std::span<const std::string_view> order)
{
    if (localName(child) == "AlternateContent" && namespaceUri(child) == markupCompatibility) {
        for (pugi::xml_node choice = child.first_child(); choice; choice = choice.next_sibling()) {
            if (choice.type() != pugi::node_element)
                continue;
            for (pugi::xml_node offered = choice.first_child(); offered; offered = offered.next_sibling()) {
                if (offered.type() == pugi::node_element)
                    return rank(localName(offered), order);
            }
        }
        return -1;
    }
    return rank(localName(child), order);
}

} // namespace

std::string_view localName(const char *qualifiedName)
{
    const std::string_view name(qualifiedName);
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view localName(pugi::xml_node node)
{
    return localName(node.name());
}

std::string_view prefix(pugi::xml_node node)
{
    const std::string_view name(node.name());
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
}

std::string_view namespaceForPrefix(pugi::xml_node node, std::string_view prefixName)
{
    const std::string attributeName = prefixName.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefixName);
    for (pugi::xml_node scope = node; scope && scope.type() == pugi::node_element; scope = scope.parent()) {
        if (const pugi::xml_attribute declaration = scope.attribute(attributeName.c_str()))
            return declaration.value();
    }
    return {};
}

std::string_view namespaceUri(pugi::xml_node node)
{
    return namespaceForPrefix(node, prefix(node));
}

pugi::xml_node child(pugi::xml_node parent, std::string_view name)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == name)
            return node;
    }
    return {};
}

std::vector<pugi::xml_node> children(pugi::xml_node parent, std::string_view name)
{
    std::vector<pugi::xml_node> result;
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && (name.empty() || localName(node) == name))
            result.push_back(node);
    }
    return result;
}

pugi::xml_node child(pugi::xml_node parent, std::string_view namespaceUriWanted, std::string_view name)
{
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == name && namespaceUri(node) == namespaceUriWanted)
            return node;
    }
    return {};
}

pugi::xml_attribute prefixedAttribute(pugi::xml_node node, std::string_view name)
{
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const std::string_view qualified(attribute.name());
        const size_t colon = qualified.find(':');
        if (colon != std::string_view::npos && qualified.substr(colon + 1) == name
            && qualified.substr(0, colon) != "xmlns")
            return attribute;
    }
    return {};
}

std::string qualifiedName(pugi::xml_node parent, std::string_view namespaceUriWanted, std::string_view name,
                          std::string_view preferredPrefix)
{
    // A prefix bound to the namespace anywhere in scope, nearest first.
    for (pugi::xml_node scope = parent; scope && scope.type() == pugi::node_element; scope = scope.parent()) {
        for (pugi::xml_attribute attribute = scope.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            const std::string_view attributeName(attribute.name());
            if (attribute.value() != namespaceUriWanted)
                continue;
            if (attributeName == "xmlns" && namespaceForPrefix(parent, {}) == namespaceUriWanted)
                return std::string(name);
            if (attributeName.starts_with("xmlns:")) {
                const std::string_view boundPrefix = attributeName.substr(6);
                if (namespaceForPrefix(parent, boundPrefix) == namespaceUriWanted)
                    return std::string(boundPrefix) + ":" + std::string(name);
            }
        }
    }
    // None: declare the preferred prefix on the root element, making it unique if taken.
    pugi::xml_node root = parent;
    while (root.parent() && root.parent().type() == pugi::node_element)
        root = root.parent();
    std::string chosen(preferredPrefix);
    for (int n = 1; !namespaceForPrefix(parent, chosen).empty(); ++n)
        chosen = std::string(preferredPrefix) + std::to_string(n);
    root.append_attribute(("xmlns:" + chosen).c_str()).set_value(std::string(namespaceUriWanted).c_str());
    return chosen + ":" + std::string(name);
}

std::string siblingName(pugi::xml_node parent, std::string_view name)
{
    const std::string_view parentPrefix = prefix(parent);
    return parentPrefix.empty() ? std::string(name) : std::string(parentPrefix) + ":" + std::string(name);
}

pugi::xml_node insertChild(pugi::xml_node parent, const std::string &qualified,
                           std::span<const std::string_view> order)
{
    const int wanted = rank(localName(qualified.c_str()), order);
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element)
            continue;
        const int existing = rankOfChild(node, order);
        if (wanted >= 0 && existing > wanted)
            return parent.insert_child_before(qualified.c_str(), node);
    }
    return parent.append_child(qualified.c_str());
}

pugi::xml_attribute insertAttribute(pugi::xml_node node, const char *name, std::span<const std::string_view> order)
{
    const int wanted = rank(localName(name), order);
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const int existing = rank(localName(attribute.name()), order);
        if (wanted >= 0 && existing > wanted)
            return node.insert_attribute_before(name, attribute);
    }
    return node.append_attribute(name);
}

QString text(pugi::xml_node node)
{
    return QString::fromUtf8(node.text().get());
}

bool setText(pugi::xml_node node, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    if (utf8 == node.text().get())
        return false;
    node.text().set(utf8.constData());
    return true;
}

QString attribute(pugi::xml_node node, const char *name)
{
    return QString::fromUtf8(node.attribute(name).value());
}

QByteArray rawText(pugi::xml_node node)
{
    struct Writer : pugi::xml_writer
    {
        QByteArray out;
        void write(const void *data, size_t size) override { out.append(static_cast<const char *>(data), qsizetype(size)); }
    } writer;
    node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return writer.out;
}

} // namespace gm::xlsx::xml
