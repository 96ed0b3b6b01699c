#pragma once

#include <QByteArray>
#include <QString>

#include <pugixml.hpp>

#include <span>
#include <string>
#include <string_view>
#include <vector>

// Namespace-aware helpers over pugixml, which itself only knows qualified names. Elements are
// matched by local name and, where it matters, by the namespace their prefix is bound to.
namespace gm::xlsx::xml {

std::string_view localName(const char *qualifiedName);
std::string_view localName(pugi::xml_node node);
std::string_view prefix(pugi::xml_node node);
// The namespace URI bound to the node's prefix (or the default namespace) in its scope.
std::string_view namespaceUri(pugi::xml_node node);
// The namespace URI bound to a prefix ("" for the default namespace) at node.
std::string_view namespaceForPrefix(pugi::xml_node node, std::string_view prefix);

// First child element with that local name, whatever its prefix.
pugi::xml_node child(pugi::xml_node parent, std::string_view localName);
// Every child element with that local name, whatever its prefix, in document order; with no
// name, every child element.
std::vector<pugi::xml_node> children(pugi::xml_node parent, std::string_view localName = {});
// First child element with that local name in that namespace.
pugi::xml_node child(pugi::xml_node parent, std::string_view namespaceUri, std::string_view localName);
// First attribute with that local name whose name carries a prefix (such as r:id).
pugi::xml_attribute prefixedAttribute(pugi::xml_node node, std::string_view localName);

// The qualified name for an element in namespaceUri to be created under parent: the prefix
// already bound to that namespace in scope, else preferredPrefix, declared on the root element.
std::string qualifiedName(pugi::xml_node parent, std::string_view namespaceUri, std::string_view localName,
                          std::string_view preferredPrefix);
// The qualified name for a child in the parent's own namespace: the parent's prefix.
std::string siblingName(pugi::xml_node parent, std::string_view localName);

// Adds a child element named qualifiedName before the first existing child element that
// comes later in order. An mc:AlternateContent child ranks as the element it offers first.
pugi::xml_node insertChild(pugi::xml_node parent, const std::string &qualifiedName,
                           std::span<const std::string_view> order);
// Adds an attribute before the first existing attribute that comes later in order.
pugi::xml_attribute insertAttribute(pugi::xml_node node, const char *name, std::span<const std::string_view> order);

QString text(pugi::xml_node node);
// Sets the element's text; returns false when it already was that text.
bool setText(pugi::xml_node node, const QString &value);
QString attribute(pugi::xml_node node, const char *name);

// The node as markup, without indentation, in UTF-8.
QByteArray rawText(pugi::xml_node node);

} // namespace gm::xlsx::xml
