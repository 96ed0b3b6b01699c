#include "automation/xlsx/SheetStructure.h"

#include "automation/EngineError.h"
#include "automation/FormulaReferences.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlTree.h"

#include <QSet>

#include <array>
#include <functional>
#include <optional>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

const QString worksheetType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
const QString chartType = QStringLiteral("application/vnd.openxmlformats-officedocument.drawingml.chart+xml");
const QString chartExType = QStringLiteral("application/vnd.ms-office.chartex+xml");
const QString tableType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml");
const QString pivotCacheType
    = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml");
const QString calcChainRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain");

constexpr std::array sheetAttributeOrder{"name"sv, "sheetId"sv, "state"sv, "id"sv};
constexpr std::array calcPrAttributeOrder{"calcId"sv, "calcMode"sv, "fullCalcOnLoad"sv};

// Elements whose text is a formula, by the kind of part that holds them. Worksheets: cell
// formulas (shared and array masters included), conditional format and validation formulas,
// and the x14 extension formulas (xm:f). Charts: series, category and label ranges.
constexpr std::array worksheetFormulas{"f"sv, "formula"sv, "formula1"sv, "formula2"sv};
constexpr std::array chartFormulas{"f"sv};
constexpr std::array tableFormulas{"calculatedColumnFormula"sv, "totalsRowFormula"sv};

using Rewrite = std::function<QString(const QString &)>;

bool isOneOf(std::string_view name, std::span<const std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<pugi::xml_node> elementChildren(pugi::xml_node parent, std::string_view localName = {})
{
    std::vector<pugi::xml_node> result;
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && (localName.empty() || xml::localName(node) == localName))
            result.push_back(node);
    }
    return result;
}

// Rewrites the text of every element of those names below root; returns whether any changed.
bool rewriteElements(pugi::xml_node root, std::span<const std::string_view> names, const Rewrite &rewrite)
{
    bool changed = false;
    std::vector<pugi::xml_node> pending{root};
    while (!pending.empty()) {
        pugi::xml_node node = pending.back();
        pending.pop_back();
        for (pugi::xml_node child = node.last_child(); child; child = child.previous_sibling()) {
            if (child.type() != pugi::node_element)
                continue;
            if (isOneOf(xml::localName(child), names)) {
                const QString text = xml::text(child);
                if (!text.isEmpty()) {
                    const QString rewritten = rewrite(text);
                    if (rewritten != text)
                        changed = xml::setText(child, rewritten) || changed;
                }
            } else if (child.first_child()) {
                pending.push_back(child);
            }
        }
    }
    return changed;
}

// Whether the part's stored text may name the sheet at all: a cheap test that spares parsing
// parts (large worksheets above all) that cannot hold a reference to it. It looks for the
// longest run of the name free of characters that XML or formula quoting may spell otherwise,
// with ASCII letters compared without regard to case; a name whose run holds other cased
// letters is always looked at.
bool mayMention(const QByteArray &bytes, const QString &sheetName, bool needsBang)
{
    if (needsBang && !bytes.contains('!'))
        return false;
    QString longest;
    QString current;
    for (const QChar c : sheetName + u'\'') {
        if (c == u'\'' || c == u'"' || c == u'&' || c == u'<' || c == u'>') {
            if (current.size() > longest.size())
                longest = current;
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (longest.isEmpty())
        return true;
    for (const QChar c : longest) {
        if (c.unicode() >= 0x80 && c.toLower() != c.toUpper())
            return true;
    }
    return bytes.toLower().contains(longest.toUtf8().toLower());
}

// Parts reachable from the package root through internal relationships.
QStringList reachableParts(OpcPackage &package)
{
    QStringList order;
    QSet<QString> seen;
    std::vector<QString> pending{QString()};
    while (!pending.empty()) {
        const QString source = pending.back();
        pending.pop_back();
        for (const Relationship &relationship : package.relationships(source)) {
            if (relationship.partName.isEmpty() || !package.hasPart(relationship.partName))
                continue;
            const QString key = relationship.partName.toCaseFolded();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            order.append(relationship.partName);
            pending.push_back(relationship.partName);
        }
    }
    return order;
}

bool isTrue(pugi::xml_attribute attribute)
{
    const QString value = QString::fromUtf8(attribute.value()).trimmed();
    return value == QLatin1String("1") || value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void setOrRemove(pugi::xml_node node, const char *name, int value, int omitted)
{
    pugi::xml_attribute attribute = node.attribute(name);
    if (value == omitted) {
        if (attribute)
            node.remove_attribute(attribute);
        return;
    }
    if (!attribute)
        attribute = node.append_attribute(name);
    attribute.set_value(value);
}

// The titles docProps/app.xml lists for the sheets: worksheets and chart sheets, very hidden
// ones left out, in tab order.
QStringList listedTitles(const std::vector<SheetEntry> &sheets, SheetKind kind)
{
    QStringList titles;
    for (const SheetEntry &sheet : sheets) {
        if (sheet.kind == kind && sheet.visibility != SheetVisibility::VeryHidden)
            titles.append(sheet.name);
    }
    return titles;
}

// Brings docProps/app.xml's HeadingPairs and TitlesOfParts in line with the sheets. A group
// whose titles are exactly the listed worksheets (or chart sheets) before the change becomes
// those after it; other groups hold names, each passed through `named` (nothing: dropped).
// Group labels are in the language of the program that wrote the file, so groups are told
// apart by their content. A list that does not match the workbook is left alone.
void syncAppTitles(OpcPackage &package, const std::vector<SheetEntry> &before, const std::vector<SheetEntry> &after,
    const std::function<std::optional<QString>(const QString &)> &named)
{
    QString appPart;
    for (const Relationship &relationship : package.relationships(QString())) {
        if (rel::isType(relationship.type, rel::extendedProperties) && package.hasPart(relationship.partName))
            appPart = relationship.partName;
    }
    if (appPart.isEmpty())
        return;
    XmlPart &part = package.xml(appPart);
    pugi::xml_node pairsVector = xml::child(xml::child(part.root(), "HeadingPairs"), "vector");
    pugi::xml_node titlesVector = xml::child(xml::child(part.root(), "TitlesOfParts"), "vector");
    if (!pairsVector || !titlesVector)
        return;
    const std::vector<pugi::xml_node> variants = elementChildren(pairsVector);
    const std::vector<pugi::xml_node> titles = elementChildren(titlesVector);
    if (variants.size() % 2 != 0 || titles.empty())
        return;

    struct Group
    {
        pugi::xml_node label, count;
        QStringList before, after;
    };
    std::vector<Group> groups;
    size_t at = 0;
    for (size_t i = 0; i < variants.size(); i += 2) {
        Group group{variants[i], variants[i + 1], {}, {}};
        const pugi::xml_node number = elementChildren(group.count).empty() ? pugi::xml_node() : elementChildren(group.count)[0];
        const int count = number.text().as_int(-1);
        if (count < 0 || at + size_t(count) > titles.size())
            return;
        for (int k = 0; k < count; ++k)
            group.before.append(xml::text(titles[at++]));
        groups.push_back(std::move(group));
    }
    if (at != titles.size())
        return;

    bool changed = false;
    for (Group &group : groups) {
        if (group.before == listedTitles(before, SheetKind::Worksheet)) {
            group.after = listedTitles(after, SheetKind::Worksheet);
        } else if (group.before == listedTitles(before, SheetKind::Chart)) {
            group.after = listedTitles(after, SheetKind::Chart);
        } else {
            for (const QString &title : group.before) {
                if (const std::optional<QString> kept = named(title))
                    group.after.append(*kept);
            }
        }
        changed = changed || group.after != group.before;
    }
    if (!changed)
        return;

    const std::string titleName = titles.front().name();
    for (const pugi::xml_node &title : titles)
        titlesVector.remove_child(title);
    int pairCount = 0;
    int titleCount = 0;
    for (Group &group : groups) {
        if (group.after.isEmpty() && !group.before.isEmpty()) {
            pairsVector.remove_child(group.label);
            pairsVector.remove_child(group.count);
            continue;
        }
        elementChildren(group.count)[0].text().set(int(group.after.size()));
        for (const QString &title : group.after)
            xml::setText(titlesVector.append_child(titleName.c_str()), title);
        pairCount += 2;
        titleCount += int(group.after.size());
    }
    pairsVector.attribute("size").set_value(pairCount);
    titlesVector.attribute("size").set_value(titleCount);
    part.markDirty();
}

} // namespace

void checkSheetName(const QString &name, const QStringList &otherSheetNames)
{
    static const QString forbidden = QStringLiteral("\\/?*:[]");
    auto invalid = [&](const QString &why) { throw EngineError(ErrorCode::SheetNameInvalid, why + u' ' + name); };
    if (name.isEmpty())
        invalid(QStringLiteral("empty name"));
    if (name.size() > 31)
        invalid(QStringLiteral("longer than 31 characters:"));
    for (const QChar c : name) {
        if (forbidden.contains(c))
            invalid(QStringLiteral("forbidden character in"));
    }
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        invalid(QStringLiteral("apostrophe at an end of"));
    if (name.compare(QLatin1String("History"), Qt::CaseInsensitive) == 0)
        invalid(QStringLiteral("reserved name"));
    for (const QString &other : otherSheetNames) {
        if (other.compare(name, Qt::CaseInsensitive) == 0)
            throw EngineError(ErrorCode::SheetNameTaken, name);
    }
}

SheetStructure::SheetStructure(PackageDocument &document) : m_document(document) { }

const SheetEntry &SheetStructure::entryOf(const QString &sheetPart) const
{
    for (const SheetEntry &entry : m_document.model().sheets()) {
        if (entry.partName.compare(sheetPart, Qt::CaseInsensitive) == 0)
            return entry;
    }
    throw EngineError(ErrorCode::SheetNotFound, sheetPart);
}

void SheetStructure::refuseWhenStructureLocked() const
{
    OpcPackage &package = m_document.package();
    const pugi::xml_node protection = xml::child(package.xml(m_document.model().partName()).root(), "workbookProtection");
    if (isTrue(protection.attribute("lockStructure")))
        throw EngineError(ErrorCode::WorkbookStructureProtected, m_document.path());
}

bool SheetStructure::hasOtherVisibleSheet(int position) const
{
    for (const SheetEntry &entry : m_document.model().sheets()) {
        if (entry.position != position && entry.visibility == SheetVisibility::Visible)
            return true;
    }
    return false;
}

namespace {

// The sheet element at a position of <sheets>.
pugi::xml_node sheetNode(pugi::xml_node workbook, int position)
{
    const std::vector<pugi::xml_node> sheets = elementChildren(xml::child(workbook, "sheets"), "sheet");
    if (position < 0 || position >= int(sheets.size()))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("sheet %1 not in the workbook part").arg(position));
    return sheets[size_t(position)];
}

// The nearest visible sheet to the right of `position`, else to its left; -1 when none.
int nearestVisible(const std::vector<SheetEntry> &sheets, int position)
{
    for (int i = position + 1; i < int(sheets.size()); ++i) {
        if (sheets[size_t(i)].visibility == SheetVisibility::Visible)
            return i;
    }
    for (int i = std::min(position, int(sheets.size())) - 1; i >= 0; --i) {
        if (sheets[size_t(i)].visibility == SheetVisibility::Visible)
            return i;
    }
    return -1;
}

// Sets or clears tabSelected on the sheet's views.
void setTabSelected(PackageDocument &document, const SheetEntry &sheet, bool selected)
{
    if (sheet.kind == SheetKind::Other)
        return;
    // A sheet part that never mentions the attribute is not parsed just to clear it.
    if (!selected && !document.package().partBytes(sheet.partName).contains("tabSelected"))
        return;
    XmlPart &part = document.package().xml(sheet.partName);
    bool changed = false;
    for (pugi::xml_node view : elementChildren(xml::child(part.root(), "sheetViews"), "sheetView")) {
        pugi::xml_attribute attribute = view.attribute("tabSelected");
        if (selected && !isTrue(attribute)) {
            if (!attribute)
                attribute = view.prepend_attribute("tabSelected");
            attribute.set_value(1);
            changed = true;
        } else if (!selected && attribute) {
            view.remove_attribute(attribute);
            changed = true;
        }
        if (selected)
            break; // the first view is the one shown
    }
    if (changed)
        part.markDirty();
}

// Puts the workbook views on a visible active sheet with a visible first tab at or before it;
// the sheet that stops being active loses its selection, the new one gets it.
void settleViews(PackageDocument &document, int previousActive, int active, const std::vector<SheetEntry> &previousSheets)
{
    const std::vector<SheetEntry> &sheets = document.model().sheets();
    XmlPart &workbook = document.package().xml(document.model().partName());
    bool changed = false;
    for (pugi::xml_node view : elementChildren(xml::child(workbook.root(), "bookViews"), "workbookView")) {
        const int oldActive = view.attribute("activeTab").as_int(0);
        int first = view.attribute("firstSheet").as_int(0);
        if (first < 0 || first >= int(sheets.size()) || first > active
            || sheets[size_t(first)].visibility != SheetVisibility::Visible) {
            first = 0;
            while (first < active && sheets[size_t(first)].visibility != SheetVisibility::Visible)
                ++first;
        }
        if (oldActive != active || view.attribute("firstSheet").as_int(0) != first) {
            setOrRemove(view, "activeTab", active, 0);
            setOrRemove(view, "firstSheet", first, 0);
            changed = true;
        }
    }
    if (changed)
        workbook.markDirty();
    if (previousActive >= 0 && previousActive < int(previousSheets.size())
        && previousSheets[size_t(previousActive)].partName != sheets[size_t(active)].partName) {
        const SheetEntry &old = previousSheets[size_t(previousActive)];
        if (document.package().hasPart(old.partName))
            setTabSelected(document, old, false);
        setTabSelected(document, sheets[size_t(active)], true);
    }
}

// Applies a formula rewrite to every part of the workbook that holds formulas, except the
// parts in `skip`. `mentioned` is the sheet name the rewrite is about, to pass over parts
// that cannot refer to it.
// With pivotSource (a rename), pivot cache sources and the pivot tables charts are drawn from
// follow too; a deleted sheet's pivot sources are left, as the caches keep their data.
void rewriteFormulas(OpcPackage &package, const QString &workbookPart, const QString &mentioned, const QSet<QString> &skip,
    const Rewrite &rewrite, const std::function<bool(pugi::xml_node)> &pivotSource)
{
    // Every part to edit is read first, so that a part that cannot be read stops the change
    // before anything was rewritten.
    struct Target
    {
        XmlPart *part;
        std::span<const std::string_view> names;
        bool pivot;
        bool chart;
    };
    std::vector<Target> targets;
    for (const QString &partName : reachableParts(package)) {
        if (skip.contains(partName.toCaseFolded()))
            continue;
        const QString type = package.contentType(partName);
        Target target{nullptr, {}, false, false};
        if (type.compare(worksheetType, Qt::CaseInsensitive) == 0) {
            target.names = worksheetFormulas;
        } else if (type.compare(chartType, Qt::CaseInsensitive) == 0 || type.compare(chartExType, Qt::CaseInsensitive) == 0) {
            target.names = chartFormulas;
            target.chart = type.compare(chartType, Qt::CaseInsensitive) == 0;
        } else if (type.compare(tableType, Qt::CaseInsensitive) == 0) {
            target.names = tableFormulas;
        } else if (type.compare(pivotCacheType, Qt::CaseInsensitive) == 0 && pivotSource) {
            target.pivot = true;
        } else {
            continue;
        }
        if (!mayMention(package.partBytes(partName), mentioned, !target.pivot))
            continue;
        target.part = &package.xml(partName);
        targets.push_back(target);
    }

    XmlPart &workbook = package.xml(workbookPart);
    bool namesChanged = false;
    for (pugi::xml_node name : elementChildren(xml::child(workbook.root(), "definedNames"), "definedName")) {
        const QString text = xml::text(name);
        const QString rewritten = rewrite(text);
        if (rewritten != text)
            namesChanged = xml::setText(name, rewritten) || namesChanged;
    }
    if (namesChanged)
        workbook.markDirty();

    for (const Target &target : targets) {
        XmlPart &part = *target.part;
        if (target.pivot) {
            if (pivotSource(part.root()))
                part.markDirty();
            continue;
        }
        bool changed = rewriteElements(part.root(), target.names, rewrite);
        if (pivotSource && target.chart) {
            // A chart over a pivot table names it as [file]Sheet!PivotTable.
            const pugi::xml_node sourceName = xml::child(xml::child(part.root(), "pivotSource"), "name");
            if (sourceName) {
                const QString text = xml::text(sourceName);
                const qsizetype close = text.startsWith(u'[') ? text.indexOf(u']') : -1;
                const QString head = text.left(close + 1);
                const QString rewritten = head + rewrite(text.mid(close + 1));
                if (rewritten != text)
                    changed = xml::setText(sourceName, rewritten) || changed;
            }
        }
        if (changed)
            part.markDirty();
    }
}

void requireFullCalculation(XmlPart &workbook)
{
    pugi::xml_node root = workbook.root();
    pugi::xml_node calcPr = xml::child(root, "calcPr");
    if (!calcPr)
        calcPr = xml::insertChild(root, xml::siblingName(root, "calcPr"), order::workbook);
    if (!isTrue(calcPr.attribute("fullCalcOnLoad")))
        xml::insertAttribute(calcPr, "fullCalcOnLoad", calcPrAttributeOrder).set_value("1");
    workbook.markDirty();
}

} // namespace

void SheetStructure::setVisibility(const QString &sheetPart, SheetVisibility visibility)
{
    const SheetEntry entry = entryOf(sheetPart);
    if (entry.visibility == visibility)
        return;
    refuseWhenStructureLocked();
    if (visibility != SheetVisibility::Visible && entry.visibility == SheetVisibility::Visible
        && !hasOtherVisibleSheet(entry.position))
        throw EngineError(ErrorCode::LastVisibleSheet, entry.name);

    OpcPackage &package = m_document.package();
    WorkbookModel &model = m_document.editableModel();
    const std::vector<SheetEntry> before = model.sheets();
    const int previousActive = model.activeTab();
    XmlPart &workbook = package.xml(model.partName());
    pugi::xml_node node = sheetNode(workbook.root(), entry.position);
    if (visibility == SheetVisibility::Visible) {
        node.remove_attribute("state");
    } else {
        pugi::xml_attribute state = node.attribute("state");
        if (!state)
            state = xml::insertAttribute(node, "state", sheetAttributeOrder);
        state.set_value(visibility == SheetVisibility::Hidden ? "hidden" : "veryHidden");
    }
    workbook.markDirty();
    model.reload();

    if (visibility != SheetVisibility::Visible) {
        const std::vector<SheetEntry> &sheets = model.sheets();
        int active = previousActive;
        if (sheets[size_t(active)].visibility != SheetVisibility::Visible)
            active = nearestVisible(sheets, active);
        settleViews(m_document, previousActive, active, before);
        setTabSelected(m_document, sheets[size_t(entry.position)], false);
    }
    if (entry.visibility == SheetVisibility::VeryHidden || visibility == SheetVisibility::VeryHidden)
        syncAppTitles(package, before, model.sheets(), [](const QString &title) { return std::optional<QString>(title); });
}

void SheetStructure::rename(const QString &sheetPart, const QString &newName)
{
    const SheetEntry entry = entryOf(sheetPart);
    if (entry.name == newName)
        return;
    QStringList others;
    for (const SheetEntry &sheet : m_document.model().sheets()) {
        if (sheet.position != entry.position)
            others.append(sheet.name);
    }
    checkSheetName(newName, others);
    refuseWhenStructureLocked();

    OpcPackage &package = m_document.package();
    WorkbookModel &model = m_document.editableModel();
    const std::vector<SheetEntry> before = model.sheets();
    const QString oldName = entry.name;
    const Rewrite rewrite = [&](const QString &formula) { return formula::renameSheet(formula, oldName, newName); };
    auto pivotSource = [&](pugi::xml_node cache) {
        const pugi::xml_node source = xml::child(xml::child(cache, "cacheSource"), "worksheetSource");
        pugi::xml_attribute sheet = source.attribute("sheet");
        if (!sheet || QString::fromUtf8(sheet.value()).compare(oldName, Qt::CaseInsensitive) != 0
            || xml::prefixedAttribute(source, "id"))
            return false; // another sheet, or a source in another workbook
        sheet.set_value(newName.toUtf8().constData());
        return true;
    };
    rewriteFormulas(package, model.partName(), oldName, {}, rewrite, pivotSource);
    XmlPart &workbook = package.xml(model.partName());
    sheetNode(workbook.root(), entry.position).attribute("name").set_value(newName.toUtf8().constData());
    workbook.markDirty();
    model.reload();
    syncAppTitles(package, before, model.sheets(),
        [&](const QString &title) { return std::optional<QString>(title.contains(u'!') ? rewrite(title) : title); });
}

void SheetStructure::remove(const QString &sheetPart)
{
    const SheetEntry entry = entryOf(sheetPart);
    refuseWhenStructureLocked();
    if (!hasOtherVisibleSheet(entry.position))
        throw EngineError(ErrorCode::LastVisibleSheet, entry.name);
    if (entry.kind == SheetKind::Worksheet) {
        bool otherWorksheet = false;
        for (const SheetEntry &sheet : m_document.model().sheets())
            otherWorksheet = otherWorksheet || (sheet.kind == SheetKind::Worksheet && sheet.position != entry.position);
        if (!otherWorksheet)
            throw EngineError(ErrorCode::LastWorksheet, entry.name);
    }

    OpcPackage &package = m_document.package();
    WorkbookModel &model = m_document.editableModel();
    const std::vector<SheetEntry> before = model.sheets();
    const int previousActive = model.activeTab();
    const QStringList reachableBefore = reachableParts(package);
    QStringList order;
    for (const SheetEntry &sheet : before)
        order.append(sheet.name);
    const int position = entry.position;

    // References first, while the sheet order still holds the deleted sheet.
    const Rewrite rewrite = [&](const QString &formula) { return formula::deleteSheet(formula, entry.name, order); };
    rewriteFormulas(package, model.partName(), entry.name, {entry.partName.toCaseFolded()}, rewrite, {});

    XmlPart &workbook = package.xml(model.partName());
    pugi::xml_node root = workbook.root();
    // Names scoped to the sheet go; names of later sheets move down by one.
    pugi::xml_node names = xml::child(root, "definedNames");
    for (pugi::xml_node name : elementChildren(names, "definedName")) {
        pugi::xml_attribute scope = name.attribute("localSheetId");
        if (!scope)
            continue;
        if (scope.as_int(-1) == position)
            names.remove_child(name);
        else if (scope.as_int(-1) > position)
            scope.set_value(scope.as_int() - 1);
    }
    if (names && elementChildren(names).empty())
        root.remove_child(names);

    pugi::xml_node node = sheetNode(root, position);
    const QString relationshipId = QString::fromUtf8(xml::prefixedAttribute(node, "id").value());
    node.parent().remove_child(node);
    package.removeRelationship(model.partName(), relationshipId);

    // The calculation chain lists cells by sheet; the spreadsheet program rebuilds it.
    for (const Relationship &relationship : package.relationships(model.partName())) {
        if (rel::isType(relationship.type, calcChainRelationship))
            package.removeRelationship(model.partName(), relationship.id);
    }
    requireFullCalculation(workbook);

    // The workbook views: positions after the deleted sheet move down by one.
    for (pugi::xml_node view : elementChildren(xml::child(root, "bookViews"), "workbookView")) {
        for (const char *attribute : {"activeTab", "firstSheet"}) {
            const int value = view.attribute(attribute).as_int(0);
            if (value > position)
                setOrRemove(view, attribute, value - 1, 0);
        }
    }
    workbook.markDirty();
    model.reload();

    // Parts only the deleted sheet reached go, with their relationships and content types.
    QSet<QString> stillReachable;
    for (const QString &part : reachableParts(package))
        stillReachable.insert(part.toCaseFolded());
    for (const QString &part : reachableBefore) {
        if (stillReachable.contains(part.toCaseFolded()))
            continue;
        const QString relsPart = OpcPackage::relationshipsPartName(part);
        if (package.hasPart(relsPart)) {
            package.removePart(relsPart);
            package.removeOverride(relsPart);
        }
        package.removePart(part);
        package.removeOverride(part);
    }

    int active = previousActive == position ? nearestVisible(before, position) : previousActive;
    if (active > position)
        --active;
    const std::vector<SheetEntry> &sheets = model.sheets();
    if (active < 0 || active >= int(sheets.size()) || sheets[size_t(active)].visibility != SheetVisibility::Visible)
        active = nearestVisible(sheets, -1);
    settleViews(m_document, previousActive, active, before);

    syncAppTitles(package, before, sheets, [&](const QString &title) -> std::optional<QString> {
        for (const formula::SheetPrefix &prefix : formula::sheetPrefixes(title)) {
            if (!prefix.external && prefix.first.compare(entry.name, Qt::CaseInsensitive) == 0)
                return std::nullopt;
        }
        return title;
    });
}

} // namespace gm::xlsx
