#include "automation/xlsx/WorkbookModel.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlTree.h"

#include <map>
#include <utility>

namespace gm::xlsx {

namespace {

const QStringList workbookContentTypes{
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"),
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"),
    QStringLiteral("application/vnd.ms-excel.sheet.macroEnabled.main+xml"),
    QStringLiteral("application/vnd.ms-excel.template.macroEnabled.main+xml"),
    QStringLiteral("application/vnd.ms-excel.addin.macroEnabled.main+xml"),
};

int localSheetIdOf(pugi::xml_node definedName)
{
    const pugi::xml_attribute attribute = definedName.attribute("localSheetId");
    return attribute ? attribute.as_int(-1) : -1;
}

QString strippedName(const QString &name)
{
    static const QString builtin = QStringLiteral("_xlnm.");
    return (name.startsWith(builtin, Qt::CaseInsensitive) ? name.mid(builtin.size()) : name).toCaseFolded();
}

} // namespace

bool WorkbookModel::isWorkbookContentType(const QString &contentType)
{
    return workbookContentTypes.contains(contentType, Qt::CaseInsensitive);
}

WorkbookModel::WorkbookModel(OpcPackage &package)
    : m_package(package), m_partName(package.mainPart())
{
    const QString type = m_package.contentType(m_partName);
    if (type.contains(QLatin1String(".binary."), Qt::CaseInsensitive))
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("binary workbook %1").arg(m_partName));
    if (!type.isEmpty() && !workbookContentTypes.contains(type, Qt::CaseInsensitive))
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("main part of type %1").arg(type));
    m_contentType = type;

    const pugi::xml_node root = part().root();
    if (xml::localName(root) != "workbook")
        throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("%1 is no workbook").arg(m_partName));

    readSheets();
}

void WorkbookModel::readSheets()
{
    const pugi::xml_node root = part().root();
    m_sheets.clear();
    std::map<QString, Relationship> byId;
    for (Relationship &relationship : m_package.relationships(m_partName))
        byId.emplace(relationship.id, std::move(relationship));

    int position = 0;
    for (pugi::xml_node node = xml::child(root, "sheets").first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || xml::localName(node) != "sheet")
            continue;
        SheetEntry entry;
        entry.name = xml::attribute(node, "name");
        entry.position = position++;
        const QString state = xml::attribute(node, "state");
        if (state == QLatin1String("hidden"))
            entry.visibility = SheetVisibility::Hidden;
        else if (state == QLatin1String("veryHidden"))
            entry.visibility = SheetVisibility::VeryHidden;

        const QString id = QString::fromUtf8(xml::prefixedAttribute(node, "id").value());
        const auto found = byId.find(id);
        if (found == byId.end() || found->second.partName.isEmpty())
            throw EngineError(ErrorCode::Damaged, QStringLiteral("sheet %1 has no part").arg(entry.name));
        entry.partName = found->second.partName;
        if (rel::isType(found->second.type, rel::worksheet))
            entry.kind = SheetKind::Worksheet;
        else if (rel::isType(found->second.type, rel::chartsheet))
            entry.kind = SheetKind::Chart;
        else
            entry.kind = SheetKind::Other;
        if (entry.kind != SheetKind::Other && !m_package.hasPart(entry.partName))
            throw EngineError(ErrorCode::Damaged, QStringLiteral("missing part %1").arg(entry.partName));
        m_sheets.push_back(std::move(entry));
    }
    if (m_sheets.empty())
        throw EngineError(ErrorCode::Damaged, QStringLiteral("workbook without sheets"));
}

XmlPart &WorkbookModel::part() const
{
    return m_package.xml(m_partName);
}

int WorkbookModel::activeTab() const
{
    const pugi::xml_node view = xml::child(xml::child(part().root(), "bookViews"), "workbookView");
    const int tab = view.attribute("activeTab").as_int(0);
    return tab >= 0 && tab < int(m_sheets.size()) ? tab : 0;
}

QString WorkbookModel::definedName(const QString &name, int localSheetId) const
{
    const pugi::xml_node names = xml::child(part().root(), "definedNames");
    for (pugi::xml_node node = names.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "definedName"
            && localSheetIdOf(node) == localSheetId
            && xml::attribute(node, "name").compare(name, Qt::CaseInsensitive) == 0)
            return xml::text(node);
    }
    return {};
}

bool WorkbookModel::setDefinedName(const QString &name, int localSheetId, const QString &formula)
{
    XmlPart &workbook = part();
    pugi::xml_node root = workbook.root();
    pugi::xml_node names = xml::child(root, "definedNames");
    for (pugi::xml_node node = names.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "definedName"
            && localSheetIdOf(node) == localSheetId
            && xml::attribute(node, "name").compare(name, Qt::CaseInsensitive) == 0) {
            if (!xml::setText(node, formula))
                return false;
            workbook.markDirty();
            return true;
        }
    }

    if (!names)
        names = xml::insertChild(root, xml::siblingName(root, "definedNames"), order::workbook);
    // Keep Excel's order: by name without the "_xlnm." prefix, then by the scope's sheet name.
    auto scopeName = [this](int id) {
        return id >= 0 && id < int(m_sheets.size()) ? m_sheets[size_t(id)].name.toCaseFolded() : QString();
    };
    const std::pair<QString, QString> key{strippedName(name), scopeName(localSheetId)};
    pugi::xml_node before;
    for (pugi::xml_node node = names.first_child(); node && !before; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "definedName") {
            const std::pair<QString, QString> existing{strippedName(xml::attribute(node, "name")),
                                                       scopeName(localSheetIdOf(node))};
            if (key < existing)
                before = node;
        }
    }
    const std::string elementName = xml::siblingName(names, "definedName");
    pugi::xml_node node = before ? names.insert_child_before(elementName.c_str(), before)
                                 : names.append_child(elementName.c_str());
    node.append_attribute("name").set_value(name.toUtf8().constData());
    if (localSheetId >= 0)
        node.append_attribute("localSheetId").set_value(localSheetId);
    xml::setText(node, formula);
    workbook.markDirty();
    return true;
}

bool WorkbookModel::removeDefinedName(const QString &name, int localSheetId)
{
    XmlPart &workbook = part();
    pugi::xml_node root = workbook.root();
    pugi::xml_node names = xml::child(root, "definedNames");
    for (pugi::xml_node node = names.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && xml::localName(node) == "definedName"
            && localSheetIdOf(node) == localSheetId
            && xml::attribute(node, "name").compare(name, Qt::CaseInsensitive) == 0) {
            names.remove_child(node);
            if (!names.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; }))
                root.remove_child(names);
            workbook.markDirty();
            return true;
        }
    }
    return false;
}

} // namespace gm::xlsx
