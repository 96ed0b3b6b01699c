#include "automation/xlsx/SheetStructure.h"

#include "automation/EngineError.h"
#include "automation/FormulaReferences.h"
#include "automation/xlsx/CellMetadata.h"
#include "automation/xlsx/ExternalLinks.h"
#include "automation/xlsx/FormulaTextRewrite.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

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
    const QByteArray word = longest.toUtf8();
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    const std::boyer_moore_horspool_searcher search(word.begin(), word.end(),
        [&](char c) { return std::hash<char>()(lower(c)); }, [&](char a, char b) { return lower(a) == lower(b); });
    return std::search(bytes.begin(), bytes.end(), search) != bytes.end();
}

// Parts reachable from the package root through internal relationships.

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
    const std::vector<pugi::xml_node> variants = xml::children(pairsVector);
    const std::vector<pugi::xml_node> titles = xml::children(titlesVector);
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
        const pugi::xml_node number = xml::children(group.count).empty() ? pugi::xml_node() : xml::children(group.count)[0];
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
        xml::children(group.count)[0].text().set(int(group.after.size()));
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

void removeUnreachableParts(OpcPackage &package, const QStringList &reachableBefore)
{
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
}

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
    const std::vector<pugi::xml_node> sheets = xml::children(xml::child(workbook, "sheets"), "sheet");
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
    auto select = [&](pugi::xml_node sheetViews) {
        bool changed = false;
        for (pugi::xml_node view : xml::children(sheetViews, "sheetView")) {
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
        return changed;
    };
    // A part already parsed (its formulas were rewritten) is edited in its tree; otherwise only
    // the sheetViews element is parsed, so that a large sheet's cell data is never held.
    if (document.package().editedAsTree(sheet.partName)) {
        XmlPart &part = document.package().xml(sheet.partName);
        if (select(xml::child(part.root(), "sheetViews")))
            part.markDirty();
        return;
    }
    SplicedXmlPart &part = document.sheetPart(sheet);
    const QByteArray text = part.element("sheetViews");
    if (text.isEmpty())
        return;
    XmlPart views(part.name(), text);
    if (select(views.root()))
        part.setElement("sheetViews", views.serialize(),
            part.rootLocalName() == "chartsheet" ? std::span<const std::string_view>(order::chartsheet)
                                                 : std::span<const std::string_view>(order::worksheet));
}

// Puts the workbook views on a visible active sheet with a visible first tab at or before it;
// the sheet that stops being active loses its selection, the new one gets it.
void settleViews(PackageDocument &document, int previousActive, int active, const std::vector<SheetEntry> &previousSheets)
{
    const std::vector<SheetEntry> &sheets = document.model().sheets();
    XmlPart &workbook = document.package().xml(document.model().partName());
    bool changed = false;
    for (pugi::xml_node view : xml::children(xml::child(workbook.root(), "bookViews"), "workbookView")) {
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

// The same rewrite for formulas held as UTF-8 text, passed over by a byte search when they
// cannot name `sheet`. It runs when the package is written, so it holds what it needs.
FormulaTextRewrite::Edit textEdit(const QString &sheet, Rewrite rewrite)
{
    return [search = std::make_shared<const formula::SheetNameSearch>(sheet), rewrite = std::move(rewrite)](
               QByteArrayView text, QByteArray &out) {
        if (!search->mayName(text))
            return false;
        const QString formula = QString::fromUtf8(text);
        const QString rewritten = rewrite(formula);
        if (rewritten == formula)
            return false;
        out += rewritten.toUtf8();
        return true;
    };
}

// Applies a formula rewrite to every part of the workbook that holds formulas, except the
// parts in `skip`. `mentioned` is the sheet name the rewrite is about, to pass over parts
// that cannot refer to it. Worksheets not already edited as a tree are never parsed whole:
// their cell data gets `cellEdit`, the same rewrite on formulas as UTF-8 text, while the
// package is written, and their other elements that hold formulas are rewritten now, each
// as a small tree.
// With pivotSource (a rename), pivot cache sources and the pivot tables charts are drawn from
// follow too; a deleted sheet's pivot sources are left, as the caches keep their data.
void rewriteFormulas(PackageDocument &document, const QString &mentioned, const QSet<QString> &skip, const Rewrite &rewrite,
    const FormulaTextRewrite::Edit &cellEdit, const std::function<bool(pugi::xml_node)> &pivotSource)
{
    OpcPackage &package = document.package();
    const QString workbookPart = document.model().partName();
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
    std::vector<SplicedXmlPart *> streamed;
    for (const QString &partName : reachableParts(package)) {
        if (skip.contains(partName.toCaseFolded()))
            continue;
        const QString type = package.contentType(partName);
        Target target{nullptr, {}, false, false};
        if (type.compare(contentType::worksheet, Qt::CaseInsensitive) == 0) {
            target.names = worksheetFormulas;
            if (!package.editedAsTree(partName) && package.archive().contains(partName)) {
                // Stored bytes tell which sheets the formulas name unless a rewrite of the
                // cell data is already pending.
                if (document.hasFormulaRewrite(partName) || mayMention(package.partBytes(partName), mentioned, true))
                    streamed.push_back(&package.sheet(partName));
                continue;
            }
        } else if (type.compare(contentType::chart, Qt::CaseInsensitive) == 0 || type.compare(contentType::chartEx, Qt::CaseInsensitive) == 0) {
            target.names = chartFormulas;
            target.chart = type.compare(contentType::chart, Qt::CaseInsensitive) == 0;
        } else if (type.compare(contentType::table, Qt::CaseInsensitive) == 0) {
            target.names = tableFormulas;
        } else if (type.compare(contentType::pivotCache, Qt::CaseInsensitive) == 0 && pivotSource) {
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
    for (pugi::xml_node name : xml::children(xml::child(workbook.root(), "definedNames"), "definedName")) {
        const QString text = xml::text(name);
        const QString rewritten = rewrite(text);
        if (rewritten != text)
            namesChanged = xml::setText(name, rewritten) || namesChanged;
    }
    if (namesChanged)
        workbook.markDirty();

    for (SplicedXmlPart *part : streamed) {
        part->addRewrite([cellEdit] { return std::make_unique<FormulaTextRewrite>(cellEdit); });
        document.noteFormulaRewrite(part->name());
        for (const std::string_view element :
            {"conditionalFormatting"sv, "dataValidations"sv, "extLst"sv, "AlternateContent"sv}) {
            std::vector<QByteArray> texts = part->elements(element);
            bool changed = false;
            for (QByteArray &text : texts) {
                if (!mayMention(text, mentioned, true))
                    continue;
                XmlPart tree(part->name(), text);
                if (!rewriteElements(tree.root(), worksheetFormulas, rewrite))
                    continue;
                text = tree.serialize();
                changed = true;
            }
            if (changed)
                part->replaceElements(element, texts);
        }
    }

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
    const auto renamer = std::make_shared<const formula::SheetRenamer>(oldName, newName);
    rewriteFormulas(
        m_document, oldName, {},
        rewrite, [renamer](QByteArrayView text, QByteArray &out) { return renamer->rename(text, out); }, pivotSource);
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
    rewriteFormulas(m_document, entry.name, {entry.partName.toCaseFolded()}, rewrite,
        textEdit(entry.name, [deleted = entry.name, order](const QString &formula) {
            return formula::deleteSheet(formula, deleted, order);
        }),
        {});

    XmlPart &workbook = package.xml(model.partName());
    pugi::xml_node root = workbook.root();
    // Names scoped to the sheet go; names of later sheets move down by one.
    pugi::xml_node names = xml::child(root, "definedNames");
    for (pugi::xml_node name : xml::children(names, "definedName")) {
        pugi::xml_attribute scope = name.attribute("localSheetId");
        if (!scope)
            continue;
        if (scope.as_int(-1) == position)
            names.remove_child(name);
        else if (scope.as_int(-1) > position)
            scope.set_value(scope.as_int() - 1);
    }
    if (names && xml::children(names).empty())
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
    for (pugi::xml_node view : xml::children(xml::child(root, "bookViews"), "workbookView")) {
        for (const char *attribute : {"activeTab", "firstSheet"}) {
            const int value = view.attribute(attribute).as_int(0);
            if (value > position)
                setOrRemove(view, attribute, value - 1, 0);
        }
    }
    workbook.markDirty();
    model.reload();

    // Parts only the deleted sheet reached go, with their relationships and content types.
    removeUnreachableParts(package, reachableBefore);

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

namespace gm::xlsx {

QString copyName(const QString &name, const QStringList &taken)
{
    auto isTaken = [&](const QString &candidate) {
        return std::any_of(taken.begin(), taken.end(),
            [&](const QString &other) { return other.compare(candidate, Qt::CaseInsensitive) == 0; });
    };
    if (!isTaken(name))
        return name;
    QString base = name;
    qint64 n = 2;
    if (name.endsWith(u')')) {
        const qsizetype open = name.lastIndexOf(QLatin1String(" ("));
        bool ok = false;
        const QString digits = open > 0 ? name.mid(open + 2, name.size() - open - 3) : QString();
        const qint64 k = digits.isEmpty() ? 0 : digits.toLongLong(&ok);
        if (ok && std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); })) {
            base = name.left(open);
            n = k + 1;
        }
    }
    for (;; ++n) {
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        const QString candidate = base.left(31 - suffix.size()) + suffix;
        if (!isTaken(candidate))
            return candidate;
    }
}

namespace {

const QString stylesRelationship = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");
const QString sharedStringsRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
const QString sharedStringsType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml");
constexpr std::string_view relationshipsNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"sv;
constexpr std::string_view strictRelationshipsNamespace = "http://purl.oclc.org/ooxml/officeDocument/relationships"sv;

QString partFor(OpcPackage &package, const QString &workbookPart, const QString &type)
{
    return package.relatedPart(workbookPart, type);
}

bool isRelationshipId(pugi::xml_node node, pugi::xml_attribute attribute)
{
    const std::string_view name = attribute.name();
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos || name.substr(colon + 1) != "id")
        return false;
    const std::string_view uri = xml::namespaceForPrefix(node, name.substr(0, colon));
    return uri == relationshipsNamespace || uri == strictRelationshipsNamespace;
}

// A collection of a styles part (fonts, cellXfs, dxfs...) with its entries by content, so
// that an entry copied twice, or one the target already has, is stored once.
class StyleCollection
{
public:
    StyleCollection(pugi::xml_node styleSheet, const char *name, const char *entry, std::span<const std::string_view> before)
        : m_styleSheet(styleSheet), m_name(name), m_entry(entry), m_before(before)
    {
        m_node = xml::child(styleSheet, name);
        int index = 0;
        for (pugi::xml_node child : xml::children(m_node, entry))
            m_index.insert(xml::rawText(child), index++);
        m_count = index;
    }

    // The target index of a copy of `node`, added when the target has no equal entry.
    int add(pugi::xml_node node)
    {
        const QByteArray key = xml::rawText(node);
        if (const auto it = m_index.constFind(key); it != m_index.constEnd())
            return it.value();
        if (!m_node) {
            // Placed before the first later collection, as the schema orders them.
            pugi::xml_node next;
            for (std::string_view later : m_before) {
                if ((next = xml::child(m_styleSheet, later)))
                    break;
            }
            const std::string qualified = xml::siblingName(m_styleSheet.first_child(), m_name);
            m_node = next ? m_styleSheet.insert_child_before(qualified.c_str(), next)
                          : m_styleSheet.append_child(qualified.c_str());
        }
        m_node.append_copy(node);
        m_index.insert(key, m_count);
        m_changed = true;
        return m_count++;
    }

    void finish()
    {
        if (m_changed)
            m_node.attribute("count") ? m_node.attribute("count").set_value(m_count)
                                      : m_node.prepend_attribute("count").set_value(m_count);
    }
    bool changed() const { return m_changed; }

private:
    pugi::xml_node m_styleSheet;
    const char *m_name;
    const char *m_entry;
    std::span<const std::string_view> m_before;
    pugi::xml_node m_node;
    QHash<QByteArray, int> m_index;
    int m_count = 0;
    bool m_changed = false;
};

constexpr std::array afterNumFmts{"fonts"sv, "fills"sv, "borders"sv, "cellStyleXfs"sv, "cellXfs"sv, "cellStyles"sv,
    "dxfs"sv, "tableStyles"sv, "colors"sv, "extLst"sv};
constexpr std::array afterDxfs{"tableStyles"sv, "colors"sv, "extLst"sv};

// Maps the cell formats and differential formats a copied sheet uses from the source's
// styles part into the target's, adding what the target lacks.
class StyleMapper
{
public:
    StyleMapper(pugi::xml_node source, pugi::xml_node target)
        : m_source(source), m_target(target), m_fonts(target, "fonts", "font", std::span(afterNumFmts).subspan(1)),
          m_fills(target, "fills", "fill", std::span(afterNumFmts).subspan(2)),
          m_borders(target, "borders", "border", std::span(afterNumFmts).subspan(3)),
          m_xfs(target, "cellXfs", "xf", std::span(afterNumFmts).subspan(5)), m_dxfs(target, "dxfs", "dxf", afterDxfs)
    {
        for (pugi::xml_node format : xml::children(xml::child(target, "numFmts"), "numFmt")) {
            const int id = format.attribute("numFmtId").as_int();
            m_highestFormat = std::max(m_highestFormat, id);
            m_formatIds.insert(QString::fromUtf8(format.attribute("formatCode").value()), id);
        }
    }

    // The default format (index 0) is the target's own, as for cells that name none: the
    // target's Normal style wins over the source's.
    int cellFormat(int sourceIndex)
    {
        if (sourceIndex == 0)
            return 0;
        if (const auto it = m_xfMap.constFind(sourceIndex); it != m_xfMap.constEnd())
            return it.value();
        const std::vector<pugi::xml_node> xfs = xml::children(xml::child(m_source, "cellXfs"), "xf");
        if (sourceIndex < 0 || sourceIndex >= int(xfs.size()))
            throw EngineError(ErrorCode::Damaged, QStringLiteral("cell format %1 missing").arg(sourceIndex));
        pugi::xml_document scratch;
        pugi::xml_node xf = scratch.append_copy(xfs[size_t(sourceIndex)]);
        mapAttribute(xf, "fontId", "fonts", "font", m_fonts, 0);
        mapAttribute(xf, "fillId", "fills", "fill", m_fills, 2);
        mapAttribute(xf, "borderId", "borders", "border", m_borders, 0);
        if (pugi::xml_attribute format = xf.attribute("numFmtId"))
            format.set_value(numberFormat(format.as_int()));
        // The copy takes the target's Normal style as its named style.
        if (pugi::xml_attribute named = xf.attribute("xfId"))
            named.set_value(0);
        const int index = m_xfs.add(xf);
        m_xfMap.insert(sourceIndex, index);
        return index;
    }

    int differentialFormat(int sourceIndex)
    {
        if (const auto it = m_dxfMap.constFind(sourceIndex); it != m_dxfMap.constEnd())
            return it.value();
        const std::vector<pugi::xml_node> dxfs = xml::children(xml::child(m_source, "dxfs"), "dxf");
        if (sourceIndex < 0 || sourceIndex >= int(dxfs.size()))
            throw EngineError(ErrorCode::Damaged, QStringLiteral("differential format %1 missing").arg(sourceIndex));
        pugi::xml_document scratch;
        pugi::xml_node dxf = scratch.append_copy(dxfs[size_t(sourceIndex)]);
        if (pugi::xml_node format = xml::child(dxf, "numFmt"))
            format.attribute("numFmtId").set_value(numberFormat(format.attribute("numFmtId").as_int()));
        const int index = m_dxfs.add(dxf);
        m_dxfMap.insert(sourceIndex, index);
        return index;
    }

    bool changed() const
    {
        return m_formatsChanged || m_fonts.changed() || m_fills.changed() || m_borders.changed() || m_xfs.changed()
            || m_dxfs.changed();
    }

    void finish()
    {
        m_fonts.finish();
        m_fills.finish();
        m_borders.finish();
        m_xfs.finish();
        m_dxfs.finish();
        if (m_formatsChanged) {
            pugi::xml_node formats = xml::child(m_target, "numFmts");
            const int count = int(xml::children(formats, "numFmt").size());
            formats.attribute("count") ? formats.attribute("count").set_value(count)
                                       : formats.prepend_attribute("count").set_value(count);
        }
    }

private:
    void mapAttribute(pugi::xml_node xf, const char *attribute, const char *collection, const char *entry,
        StyleCollection &target, int reserved)
    {
        pugi::xml_attribute id = xf.attribute(attribute);
        if (!id)
            return;
        const int sourceId = id.as_int();
        if (sourceId < reserved)
            return; // fills 0 and 1 (none, gray125) are the same in every workbook
        const std::vector<pugi::xml_node> entries = xml::children(xml::child(m_source, collection), entry);
        if (sourceId < 0 || sourceId >= int(entries.size()))
            throw EngineError(ErrorCode::Damaged, QStringLiteral("%1 %2 missing").arg(QLatin1String(entry)).arg(sourceId));
        id.set_value(target.add(entries[size_t(sourceId)]));
    }

    // Built-in formats (ids below 164) are the same everywhere; custom ones are matched by
    // their format code.
    int numberFormat(int sourceId)
    {
        if (sourceId < 164)
            return sourceId;
        QString code;
        for (pugi::xml_node format : xml::children(xml::child(m_source, "numFmts"), "numFmt")) {
            if (format.attribute("numFmtId").as_int() == sourceId)
                code = QString::fromUtf8(format.attribute("formatCode").value());
        }
        if (const auto it = m_formatIds.constFind(code); it != m_formatIds.constEnd())
            return it.value();
        const int id = std::max(m_highestFormat, 163) + 1;
        m_highestFormat = id;
        m_formatIds.insert(code, id);
        pugi::xml_node formats = xml::child(m_target, "numFmts");
        if (!formats) {
            const std::string qualified = xml::siblingName(m_target.first_child(), "numFmts");
            formats = m_target.prepend_child(qualified.c_str());
        }
        const std::string qualified = xml::siblingName(formats.parent().first_child(), "numFmt");
        pugi::xml_node format = formats.append_child(qualified.c_str());
        format.append_attribute("numFmtId").set_value(id);
        format.append_attribute("formatCode").set_value(code.toUtf8().constData());
        m_formatsChanged = true;
        return id;
    }

    pugi::xml_node m_source;
    pugi::xml_node m_target;
    StyleCollection m_fonts, m_fills, m_borders, m_xfs, m_dxfs;
    QHash<int, int> m_xfMap, m_dxfMap;
    QHash<QString, int> m_formatIds;
    int m_highestFormat = 0;
    bool m_formatsChanged = false;
};

// Every element below root, depth first.
template<typename Visit>
void forEachElement(pugi::xml_node root, Visit visit)
{
    std::vector<pugi::xml_node> pending{root};
    while (!pending.empty()) {
        pugi::xml_node node = pending.back();
        pending.pop_back();
        visit(node);
        for (pugi::xml_node child = node.last_child(); child; child = child.previous_sibling()) {
            if (child.type() == pugi::node_element)
                pending.push_back(child);
        }
    }
}

// Functions that take 3-D spans (SUM(Jan:Mar!B2)): each adds up, counts or compares the
// cells of all its arguments alike, so a span among them reads the same as one argument per
// spanned sheet.
constexpr std::array spanFunctions{u"SUM"sv, u"AVERAGE"sv, u"AVERAGEA"sv, u"COUNT"sv, u"COUNTA"sv, u"MAX"sv, u"MAXA"sv,
    u"MIN"sv, u"MINA"sv, u"PRODUCT"sv, u"STDEV"sv, u"STDEVA"sv, u"STDEVP"sv, u"STDEVPA"sv, u"VAR"sv, u"VARA"sv, u"VARP"sv,
    u"VARPA"sv, u"_xlfn.STDEV.S"sv, u"_xlfn.STDEV.P"sv, u"_xlfn.VAR.S"sv, u"_xlfn.VAR.P"sv};
constexpr qsizetype maxArguments = 255;

bool isSpanFunction(const QString &name)
{
    return std::any_of(spanFunctions.begin(), spanFunctions.end(),
        [&](std::u16string_view f) { return name.compare(QStringView(f), Qt::CaseInsensitive) == 0; });
}

// Whether every row and column of the reference is absolute ($A$1, $B:$C, $2:$3): one that
// reads the same cells wherever it is written.
bool isAbsolute(const formula::Area &area)
{
    const bool rows = area.kind == formula::Area::Kind::Columns || (area.firstRowAbsolute && area.lastRowAbsolute);
    const bool columns = area.kind == formula::Area::Kind::Rows || (area.firstColumnAbsolute && area.lastColumnAbsolute);
    return rows && columns;
}

// How the references of a copied sheet are written in the target. A reference to the sheet
// itself, or to another sheet of the source copied into the target with it, names that copy;
// a reference to any other sheet of the source becomes a reference into the source file
// ([n]Sheet!A1), and the cells it reads are gathered so that the link can hold their values.
// A reference that already leads into another workbook keeps leading there, under the
// number the target's link to that file has or will have. Links the target lacks are
// numbered after its own, in the order first met.
// - A workbook-level name of the source that the target lacks (SUM(Total)) is copied into
//   the target, its own references written the same way, and so are the names it uses in
//   turn; a name the target has is the target's.
// - A 3-D span over sheets that are not all copied side by side reads the source file: as
//   one reference per spanned sheet where it is an argument of a function that takes spans
//   (SUM([1]Jan!B2,[1]Feb!B2,[1]Mar!B2), which every reader computes from the link's values;
//   the office engine computes no span through a link), otherwise as the span [n]Jan:Mar!B2.
// - A name of a sheet left behind (Other!Local) that stands for fixed cells reads them through
//   the link ([n]Other!$A$1), which every reader computes; the office engine reads no name of
//   another sheet through a link ([n]Other!Local shows #NAME? there).
// What cannot be written that way is refused: names of other sheets that stand for formulas
// or cells relative to where they are used, errors qualified by another sheet, sheets the
// source lacks, a copied name that a table of the target already bears.
class CopiedReferences
{
public:
    // A link the copy needs: to the source file itself (sourceNumber 0) or the source's link
    // `sourceNumber`.
    struct Link
    {
        QString location;
        int sourceNumber = 0;
    };
    // A workbook-level name of the source to add to the target, with its text as written there.
    struct Name
    {
        pugi::xml_node source;
        QString text;
    };

    CopiedReferences(const QHash<QString, QString> &copies, const QStringList &copyOrder, const WorkbookModel &source,
        int sourcePosition, OpcPackage &sourcePackage, const QString &sourcePath, OpcPackage &target,
        const QString &targetWorkbookPart)
        : m_copies(copies),
          m_copyOrder(copyOrder),
          m_source(sourcePackage),
          m_sourceWorkbookPart(source.partName()),
          m_sourcePath(sourcePath),
          m_target(target),
          m_targetWorkbookPart(targetWorkbookPart)
    {
        std::vector<SheetEntry> sheets = source.sheets();
        std::sort(sheets.begin(), sheets.end(), [](const SheetEntry &a, const SheetEntry &b) { return a.position < b.position; });
        for (const SheetEntry &entry : sheets) {
            if (entry.kind != SheetKind::Worksheet)
                continue;
            m_sourceSheets.insert(entry.name.toCaseFolded(), entry.name);
            m_sourceOrder.append(entry.name.toCaseFolded());
            m_sourcePositions.insert(entry.name.toCaseFolded(), entry.position);
        }
        // Workbook-level names of the source that the copy's formulas cannot read in the
        // target as they are: not the sheet's own (those are copied with it), and not one
        // the target has (the copy then reads the target's, as the spreadsheet program
        // offers by default). These are copied along when used.
        QSet<QString> own;
        for (pugi::xml_node name :
            xml::children(xml::child(sourcePackage.xml(source.partName()).root(), "definedNames"), "definedName")) {
            const QString key = QString::fromUtf8(name.attribute("name").value()).toCaseFolded();
            if (!name.attribute("localSheetId"))
                m_sourceNames.insert(key, name);
            else if (name.attribute("localSheetId").as_int(-1) == sourcePosition)
                own.insert(key);
            m_sheetNames.insert({name.attribute("localSheetId").as_int(-1), key}, name);
        }
        for (pugi::xml_node name :
            xml::children(xml::child(target.xml(targetWorkbookPart).root(), "definedNames"), "definedName")) {
            if (!name.attribute("localSheetId"))
                own.insert(QString::fromUtf8(name.attribute("name").value()).toCaseFolded());
        }
        for (const QString &key : own)
            m_sourceNames.remove(key);
        // Tables share the names' space: a copied name must not take a table's.
        for (const QString &part : target.partNames()) {
            if (target.contentType(part) == contentType::table) {
                const pugi::xml_node table = target.xml(part).root();
                m_targetTables.insert(QString::fromUtf8(table.attribute("name").value()).toCaseFolded());
                m_targetTables.insert(QString::fromUtf8(table.attribute("displayName").value()).toCaseFolded());
            }
        }
    }

    QString operator()(const QString &original)
    {
        if (!m_sourceNames.isEmpty())
            copyNamesUsed(original);
        if (!original.contains(u'!'))
            return original;
        const QString text = renumbered(original);
        return formula::replaceQualifiedReferences(
            text, [&](const formula::SheetPrefix &prefix, const QString &operand) -> std::optional<QString> {
                if (prefix.isSpan())
                    return span(text, prefix, operand);
                const QString key = prefix.first.toCaseFolded();
                if (const auto copy = m_copies.constFind(key); copy != m_copies.constEnd()) {
                    return copy.value() == prefix.first ? std::nullopt
                                                        : std::optional<QString>(formula::qualifier(copy.value()) + operand);
                }
                const QString sheet = m_sourceSheets.value(key);
                if (sheet.isEmpty())
                    throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("reference to another sheet: ") + text);
                const std::optional<formula::Area> area = formula::parseArea(operand);
                if (!area)
                    return sheetName(text, key, operand);
                m_linked[sheet].push_back(*area);
                return formula::externalQualifier(numberFor(linkLocation(m_sourcePath), 0), sheet) + operand;
            });
    }

    // The source's workbook-level names the copy uses and the target lacks, each after the
    // names it uses itself.
    const std::vector<Name> &names() const { return m_names; }
    const LinkedCells &linked() const { return m_linked; }
    // The links the copy's references use, in the order of the numbers given to new ones.
    const std::vector<Link> &links() const { return m_links; }

private:
    // Copies the workbook-level names of the source that the text uses and the target lacks,
    // and the ones they use (each name once, so that names using each other end).
    void copyNamesUsed(const QString &text)
    {
        for (const QString &used : formula::unqualifiedNames(text)) {
            const QString key = used.toCaseFolded();
            const auto name = m_sourceNames.constFind(key);
            if (name == m_sourceNames.constEnd() || m_copiedNames.contains(key))
                continue;
            if (m_targetTables.contains(key))
                throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("workbook name taken by a table: ") + used);
            m_copiedNames.insert(key);
            const pugi::xml_node node = name.value();
            const QString written = (*this)(xml::text(node));
            m_names.push_back({node, written});
        }
    }

    // Other!Local, for a sheet `key` of the source that is not copied: the cells the name
    // stands for, read through the link, when that is one fixed reference.
    QString sheetName(const QString &text, const QString &key, const QString &operand)
    {
        const pugi::xml_node name = m_sheetNames.value({m_sourcePositions.value(key, -2), operand.toCaseFolded()});
        const QString refersTo = name ? xml::text(name) : QString();
        const std::vector<formula::SheetPrefix> prefixes = formula::sheetPrefixes(refersTo);
        if (prefixes.size() == 1 && prefixes[0].start == 0 && !prefixes[0].external && !prefixes[0].isSpan()
            && prefixes[0].length + prefixes[0].operandLength == refersTo.size()) {
            const std::optional<formula::Area> area = formula::parseArea(QStringView(refersTo).mid(prefixes[0].length));
            if (area && isAbsolute(*area))
                return (*this)(refersTo);
        }
        throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("name of another sheet: ") + text);
    }

    // A 3-D span stays one when every worksheet it spans in the source is copied and the
    // copies stand side by side in the same order; it then spans the copies. Otherwise it
    // reads the spanned sheets of the source file.
    std::optional<QString> span(const QString &text, const formula::SheetPrefix &prefix, const QString &operand)
    {
        qsizetype first = m_sourceOrder.indexOf(prefix.first.toCaseFolded());
        qsizetype last = m_sourceOrder.indexOf(prefix.last.toCaseFolded());
        if (first > last)
            std::swap(first, last);
        if (first < 0)
            throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("reference to several sheets: ") + text);
        const QStringList spanned = m_sourceOrder.mid(first, last - first + 1);
        const qsizetype at = m_copyOrder.indexOf(spanned.front());
        if (at >= 0 && m_copyOrder.mid(at, spanned.size()) == spanned) {
            const QString from = m_copies.value(spanned.front());
            const QString to = m_copies.value(spanned.back());
            if (from == prefix.first && to == prefix.last)
                return std::nullopt;
            return formula::qualifier(from, to) + operand;
        }
        const std::optional<formula::Area> area = formula::parseArea(operand);
        if (!area)
            throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("reference to several sheets: ") + text);
        const int number = numberFor(linkLocation(m_sourcePath), 0);
        QStringList each;
        for (const QString &key : spanned) {
            const QString sheet = m_sourceSheets.value(key);
            m_linked[sheet].push_back(*area);
            each.append(formula::externalQualifier(number, sheet) + operand);
        }
        const QString function = formula::argumentOf(text, prefix.start, prefix.start + prefix.length + prefix.operandLength);
        if (isSpanFunction(function) && each.size() < maxArguments)
            return each.join(u',');
        return formula::externalQualifier(number, m_sourceSheets.value(spanned.front()), m_sourceSheets.value(spanned.back()))
            + operand;
    }

    // The formula with each reference into another workbook renumbered.
    QString renumbered(const QString &text)
    {
        return formula::replaceExternalQualifiers(
            text, [&](const formula::SheetPrefix &prefix) -> std::optional<QString> { return external(text, prefix); });
    }

    // [k]Sheet!A1, '[k]Sheet'!A1, [k]Jan:Mar!A1, [k]!Name: the same reference through the
    // target's link to the file of the source's link k.
    QString external(const QString &text, const formula::SheetPrefix &prefix)
    {
        const QString qualifier = text.mid(prefix.start, prefix.length);
        const qsizetype open = qualifier.indexOf(u'[');
        const int sourceNumber = qualifier.mid(open + 1, qualifier.indexOf(u']') - open - 1).toInt();
        const QString location = linkLocationOf(m_source, m_sourceWorkbookPart, sourceNumber, m_sourcePath);
        if (location.isEmpty())
            throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("reference to another workbook: ") + text);
        const int number = numberFor(location, sourceNumber);
        if (prefix.first.isEmpty()) // [k]!Name: a workbook-level name of the other file
            return u'[' + QString::number(number) + QStringLiteral("]!");
        return formula::externalQualifier(number, prefix.first, prefix.last);
    }

    int numberFor(const QString &location, int sourceNumber)
    {
        int number = 0;
        for (size_t i = 0; i < m_links.size(); ++i) {
            if (m_links[i].location != location)
                continue;
            number = m_numbers[i];
            if (m_links[i].sourceNumber == sourceNumber)
                return number;
        }
        if (number == 0) {
            const int existing = linkCount(m_target, m_targetWorkbookPart);
            number = linkNumber(m_target, m_targetWorkbookPart, location);
            if (number > existing)
                number = existing + 1 + m_newLinks++;
        }
        m_links.push_back({location, sourceNumber});
        m_numbers.push_back(number);
        return number;
    }

    QHash<QString, pugi::xml_node> m_sourceNames; // case-folded: workbook-level names to copy when used
    QHash<std::pair<int, QString>, pugi::xml_node> m_sheetNames; // (localSheetId or -1, case-folded name)
    QSet<QString> m_targetTables; // case-folded
    QSet<QString> m_copiedNames; // case-folded
    std::vector<Name> m_names;
    QHash<QString, int> m_sourcePositions; // case-folded worksheet name -> position
    QHash<QString, QString> m_copies;
    QStringList m_copyOrder; // case-folded source names of the copies, in their order in the target
    QHash<QString, QString> m_sourceSheets; // case-folded name -> name
    QStringList m_sourceOrder; // case-folded worksheet names, in tab order
    OpcPackage &m_source;
    QString m_sourceWorkbookPart;
    QString m_sourcePath;
    OpcPackage &m_target;
    QString m_targetWorkbookPart;
    LinkedCells m_linked;
    std::vector<Link> m_links;
    std::vector<int> m_numbers;
    int m_newLinks = 0; // links the target does not have yet
};

// Relationship kinds a copied sheet may carry, by the last segment of their type: the parts
// hang off the sheet and are copied with it (a pivot table with a cache of its own, which the
// target's workbook then lists). Anything else (slicers, form controls, embedded objects,
// threaded comments) depends on workbook-level parts and is refused.
constexpr std::array copiedRelationships{"printerSettings"sv, "drawing"sv, "vmlDrawing"sv, "comments"sv, "table"sv, "chart"sv,
    "chartUserShapes"sv, "image"sv, "hyperlink"sv, "package"sv, "themeOverride"sv, "chartStyle"sv, "chartColorStyle"sv,
    "chartEx"sv, "diagramData"sv, "diagramLayout"sv, "diagramQuickStyle"sv, "diagramColors"sv, "diagramDrawing"sv,
    "pivotTable"sv, "pivotCacheDefinition"sv, "pivotCacheRecords"sv, "externalLinkPath"sv};
const QString pivotCacheRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/pivotCacheDefinition");
const QString externalLinkPathRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLinkPath");
// Elements of a chart part whose text is a reference: series and label ranges, and the full
// ranges of filtered series.
constexpr std::array copiedChartFormulas{"f"sv, "sqref"sv};

bool isCopiedRelationship(const QString &type)
{
    const QString tail = type.mid(type.lastIndexOf(u'/') + 1);
    return std::any_of(copiedRelationships.begin(), copiedRelationships.end(),
        [&](std::string_view kind) { return tail == QLatin1String(kind.data(), qsizetype(kind.size())); });
}



// The VML drawing blocks a package uses: each VML part claims blocks of 1024 shape ids
// through <o:idmap data="1,2"/>, and blocks must not be shared between sheets.
QList<int> vmlBlocks(const QByteArray &vml)
{
    static const QRegularExpression idmap(QStringLiteral("<o:idmap\\b[^>]*\\bdata=\"([0-9,\\s]*)\""));
    QList<int> blocks;
    const QString text = QString::fromUtf8(vml);
    for (auto it = idmap.globalMatch(text); it.hasNext();) {
        for (const QString &number : it.next().captured(1).split(u',', Qt::SkipEmptyParts))
            blocks.append(number.trimmed().toInt());
    }
    return blocks;
}

// A VML drawing moved to other id blocks: the idmap and every shape id (_x0000_s1025 is
// shape 1 of block 1) follow the map. VML is rewritten as text: the files the spreadsheet
// program writes are not always well-formed XML.
QByteArray moveVmlBlocks(const QByteArray &vml, const QHash<int, int> &blockMap)
{
    static const QRegularExpression idmap(QStringLiteral("(<o:idmap\\b[^>]*\\bdata=\")([0-9,\\s]*)(\")"));
    static const QRegularExpression shapeId(QStringLiteral("_x0000_s([0-9]+)"));
    QString text = QString::fromUtf8(vml);
    QString result;
    qsizetype copied = 0;
    for (auto it = idmap.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QStringList blocks;
        for (const QString &number : m.captured(2).split(u',', Qt::SkipEmptyParts))
            blocks.append(QString::number(blockMap.value(number.trimmed().toInt(), number.trimmed().toInt())));
        result += QStringView(text).mid(copied, m.capturedStart(2) - copied);
        result += blocks.join(u',');
        copied = m.capturedEnd(2);
    }
    result += QStringView(text).mid(copied);
    text = result;
    result.clear();
    copied = 0;
    for (auto it = shapeId.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const qint64 id = m.captured(1).toLongLong();
        const qint64 block = id / 1024;
        const qint64 moved = blockMap.contains(int(block)) ? blockMap.value(int(block)) * 1024 + id % 1024 : id;
        result += QStringView(text).mid(copied, m.capturedStart(1) - copied);
        result += QString::number(moved);
        copied = m.capturedEnd(1);
    }
    result += QStringView(text).mid(copied);
    return result.toUtf8();
}

bool isVml(OpcPackage &package, const QString &part)
{
    return part.endsWith(QLatin1String(".vml"), Qt::CaseInsensitive)
        || package.contentType(part) == QLatin1String("application/vnd.openxmlformats-officedocument.vmlDrawing");
}

// A part copied with the sheet: where it goes, its content type and relationships.
struct CopiedPart
{
    QString source;
    QString target;
    QString contentType;
    QByteArray bytes; // the content to write; a rewritten copy where needed
    std::vector<Relationship> relationships;
};

// Writes the relationships part of `owner`: each relationship with its id and type, internal
// ones pointing at the copy `targets` names for their part (key: case-folded source part),
// external ones as they were. A part without relationships gets none.
void writeRelationships(OpcPackage &package, const QString &owner, const std::vector<Relationship> &relationships,
    const QHash<QString, QString> &targets)
{
    const QString relsPart = OpcPackage::relationshipsPartName(owner);
    if (package.hasPart(relsPart))
        package.removePart(relsPart);
    if (relationships.empty())
        return;
    pugi::xml_document document;
    pugi::xml_node root = document.append_child("Relationships");
    root.append_attribute("xmlns").set_value("http://schemas.openxmlformats.org/package/2006/relationships");
    for (const Relationship &relationship : relationships) {
        pugi::xml_node node = root.append_child("Relationship");
        node.append_attribute("Id").set_value(relationship.id.toUtf8().constData());
        node.append_attribute("Type").set_value(relationship.type.toUtf8().constData());
        const QString target = relationship.partName.isEmpty()
            ? relationship.target
            : relativeTarget(owner, targets.value(relationship.partName.toCaseFolded()));
        node.append_attribute("Target").set_value(target.toUtf8().constData());
        if (relationship.partName.isEmpty())
            node.append_attribute("TargetMode").set_value("External");
    }
    package.createXml(
        relsPart, QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n") + xml::rawText(root));
    if (package.contentType(relsPart).isEmpty())
        package.ensureOverride(relsPart, QStringLiteral("application/vnd.openxmlformats-package.relationships+xml"));
}

// Adds a copied part with its content type: a kind of file the package has none of (a picture
// format, VML) gets a Default entry for its extension, as the spreadsheet program writes
// them; a part whose extension stands for another type gets an Override.
void addCopiedPart(OpcPackage &package, const CopiedPart &part)
{
    package.setBinary(part.target, part.bytes);
    const qsizetype dot = part.target.lastIndexOf(u'.');
    const QString extension = part.target.mid(dot + 1);
    if (!part.contentType.isEmpty() && package.contentType(part.target) != part.contentType) {
        if (dot < 0 || !package.ensureDefault(extension, part.contentType))
            package.ensureOverride(part.target, part.contentType);
    }
}

} // namespace

QString freshPartName(OpcPackage &target, const QString &sourcePart, QSet<QString> &reserved)
{
    const qsizetype slash = sourcePart.lastIndexOf(u'/');
    const QString folder = sourcePart.left(slash + 1);
    QString file = sourcePart.mid(slash + 1);
    const qsizetype dot = file.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : file.mid(dot);
    QString stem = dot < 0 ? file : file.left(dot);
    while (!stem.isEmpty() && stem.back().isDigit())
        stem.chop(1);
    for (int n = 1;; ++n) {
        const QString candidate = folder + stem + QString::number(n) + extension;
        if (!target.hasPart(candidate) && !reserved.contains(candidate.toCaseFolded())) {
            reserved.insert(candidate.toCaseFolded());
            return candidate;
        }
    }
}

QString relativeTarget(const QString &fromPart, const QString &toPart)
{
    QStringList from = fromPart.split(u'/');
    from.removeLast();
    const QStringList to = toPart.split(u'/');
    qsizetype common = 0;
    while (common < from.size() && common < to.size() - 1 && from[common] == to[common])
        ++common;
    QString result;
    for (qsizetype i = common; i < from.size(); ++i)
        result += QStringLiteral("../");
    return result + to.mid(common).join(u'/');
}

QStringList copyRelatedParts(OpcPackage &source, const QString &sourceOwner, OpcPackage &target, const QString &targetOwner)
{
    QSet<QString> reserved{targetOwner.toCaseFolded()};
    QHash<QString, QString> targets{{sourceOwner.toCaseFolded(), targetOwner}};
    std::vector<CopiedPart> parts;
    std::vector<Relationship> ownerRelationships;
    QStringList pending{sourceOwner};
    while (!pending.isEmpty()) {
        const QString owner = pending.takeFirst();
        std::vector<Relationship> relationships = source.relationships(owner);
        for (const Relationship &relationship : relationships) {
            if (relationship.partName.isEmpty() || targets.contains(relationship.partName.toCaseFolded()))
                continue;
            if (!source.hasPart(relationship.partName))
                throw EngineError(ErrorCode::Damaged, QStringLiteral("missing part ") + relationship.partName);
            const QString copy = freshPartName(target, relationship.partName, reserved);
            targets.insert(relationship.partName.toCaseFolded(), copy);
            pending.append(relationship.partName);
            parts.push_back({relationship.partName, copy, source.contentType(relationship.partName),
                source.partBytes(relationship.partName), {}});
        }
        if (owner == sourceOwner)
            ownerRelationships = std::move(relationships);
        else
            std::find_if(parts.begin(), parts.end(), [&](const CopiedPart &p) { return p.source == owner; })->relationships
                = std::move(relationships);
    }
    QStringList copies;
    for (const CopiedPart &part : parts) {
        addCopiedPart(target, part);
        writeRelationships(target, part.target, part.relationships, targets);
        copies << part.target;
    }
    writeRelationships(target, targetOwner, ownerRelationships, targets);
    return copies;
}

QString SheetStructure::insertCopy(PackageDocument &source, const QString &sourceSheetPart, const QString &sourcePath)
{
    const SheetEntry *entry = sourceWorksheet(source, sourceSheetPart);
    const QHash<QString, QString> copies{{entry->name.toCaseFolded(), QString()}};
    return copySheet(source, sourceSheetPart, sourcePath, copies, {}, {}, false);
}

QStringList SheetStructure::insertCopies(PackageDocument &source, const QStringList &sourceSheetParts,
    const QString &sourcePath, std::optional<EngineError> *refused)
{
    // The sheets that can be copied together: a sheet refused takes itself out, and the
    // others are checked again, since their references to it now lead into the source file.
    QStringList names;
    for (const QString &part : sourceSheetParts)
        names.append(sourceWorksheet(source, part)->name);
    std::vector<bool> copied(size_t(sourceSheetParts.size()), true);
    QHash<QString, QString> copies;
    QStringList order; // the copies in front of the target, in their order
    for (bool changed = true; changed;) {
        changed = false;
        copies.clear();
        order.clear();
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (copied[size_t(i)]) {
                copies.insert(names[i].toCaseFolded(), QString());
                order.append(names[i].toCaseFolded());
            }
        }
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (!copied[size_t(i)])
                continue;
            try {
                copySheet(source, sourceSheetParts[i], sourcePath, copies, order, {}, true);
            } catch (const EngineError &e) {
                if (refused)
                    *refused = e;
                copied[size_t(i)] = false;
                changed = true;
            }
        }
    }

    // The copies' names, given from the last sheet to the first as the copies go in front
    // one after another: a name already taken goes to the copy that comes earlier.
    QStringList taken;
    for (const SheetEntry &sheet : m_document.model().sheets())
        taken.append(sheet.name);
    QStringList result(names.size());
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        if (!copied[size_t(i)])
            continue;
        result[i] = copyName(names[i], taken);
        taken.append(result[i]);
        copies.insert(names[i].toCaseFolded(), result[i]);
    }
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        if (!copied[size_t(i)])
            continue;
        try {
            copySheet(source, sourceSheetParts[i], sourcePath, copies, order, result[i], false);
        } catch (const EngineError &e) {
            if (refused)
                *refused = e;
            result[i].clear();
        }
    }
    return result;
}

const SheetEntry *SheetStructure::sourceWorksheet(PackageDocument &source, const QString &sourceSheetPart)
{
    for (const SheetEntry &entry : source.model().sheets()) {
        if (entry.partName.compare(sourceSheetPart, Qt::CaseInsensitive) == 0 && entry.kind == SheetKind::Worksheet)
            return &entry;
    }
    throw EngineError(ErrorCode::SheetNotFound, sourceSheetPart);
}

QString SheetStructure::copySheet(PackageDocument &source, const QString &sourceSheetPart, const QString &sourcePath,
    QHash<QString, QString> copies, const QStringList &copyOrder, const QString &givenName, bool checkOnly)
{
    // The source: its sheet, read and checked before the target changes.
    const WorkbookModel &sourceModel = source.model();
    const SheetEntry sourceEntry = *sourceWorksheet(source, sourceSheetPart);
    if (sourceEntry.visibility == SheetVisibility::VeryHidden)
        throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("very hidden sheet ") + sourceEntry.name);
    OpcPackage &from = source.package();

    refuseWhenStructureLocked();
    OpcPackage &package = m_document.package();
    WorkbookModel &model = m_document.editableModel();
    const std::vector<SheetEntry> before = model.sheets();
    QStringList taken;
    int position = int(before.size());
    int highestSheetId = 0;
    for (const SheetEntry &sheet : before) {
        taken.append(sheet.name);
        if (sheet.kind == SheetKind::Worksheet && position == int(before.size()))
            position = sheet.position;
    }
    const QString name = givenName.isEmpty() ? copyName(sourceEntry.name, taken) : givenName;
    copies.insert(sourceEntry.name.toCaseFolded(), name);
    CopiedReferences references(copies, copyOrder.isEmpty() ? QStringList{sourceEntry.name.toCaseFolded()} : copyOrder,
        sourceModel, sourceEntry.position, from, sourcePath, package, model.partName());

    XmlPart copy(sourceEntry.partName, from.partBytes(sourceEntry.partName));
    pugi::xml_node sheetRoot = copy.root();
    std::vector<pugi::xml_node> stringCells;
    std::vector<std::pair<pugi::xml_attribute, bool>> formatUses; // attribute, differential
    std::vector<pugi::xml_node> formulaNodes;
    std::vector<pugi::xml_attribute> metadataUses;
    std::vector<pugi::xml_attribute> valueMetadataUses;
    forEachElement(sheetRoot, [&](pugi::xml_node node) {
        const std::string_view local = xml::localName(node);
        if (local == "c") {
            if (pugi::xml_attribute metadata = node.attribute("cm"))
                metadataUses.push_back(metadata);
            if (pugi::xml_attribute metadata = node.attribute("vm"))
                valueMetadataUses.push_back(metadata);
            if (pugi::xml_attribute style = node.attribute("s"))
                formatUses.emplace_back(style, false);
            if (std::string_view(node.attribute("t").value()) == "s")
                stringCells.push_back(node);
        } else if (local == "row") {
            if (pugi::xml_attribute style = node.attribute("s"))
                formatUses.emplace_back(style, false);
        } else if (local == "col") {
            if (pugi::xml_attribute style = node.attribute("style"))
                formatUses.emplace_back(style, false);
        } else if (local == "cfRule") {
            if (pugi::xml_attribute style = node.attribute("dxfId"))
                formatUses.emplace_back(style, true);
        } else if (isOneOf(local, worksheetFormulas)) {
            const QString text = xml::text(node);
            if (!text.isEmpty()) {
                const QString own = references(text);
                if (own != text)
                    xml::setText(node, own);
                formulaNodes.push_back(node);
            }
        } else if (local == "sheetPr") {
            // The code name belongs to the source's macro project.
            node.remove_attribute("codeName");
        } else if (local == "sheetView") {
            node.remove_attribute("tabSelected");
        }
    });

    // The source's own names, checked like its formulas.
    XmlPart &sourceWorkbook = from.xml(sourceModel.partName());
    std::vector<std::pair<pugi::xml_node, QString>> ownNames;
    for (pugi::xml_node definedName : xml::children(xml::child(sourceWorkbook.root(), "definedNames"), "definedName")) {
        if (definedName.attribute("localSheetId").as_int(-1) == sourceEntry.position)
            ownNames.emplace_back(definedName, references(xml::text(definedName)));
    }

    // Every target part the copy edits is read before anything changes.

    // The parts that hang off the sheet, followed through their own relationships (drawing,
    // its charts and pictures; comments and their VML; tables; printer settings), each read
    // and checked now and given a free name in the target.
    int n = 1;
    QString partName;
    do {
        partName = QStringLiteral("xl/worksheets/sheet%1.xml").arg(n++);
    } while (package.hasPart(partName));
    QSet<QString> reserved{partName.toCaseFolded()};
    QHash<QString, QString> targets{{sourceEntry.partName.toCaseFolded(), partName}};
    std::vector<CopiedPart> parts;
    std::vector<Relationship> sheetRelationships;
    QStringList pending{sourceEntry.partName};
    while (!pending.isEmpty()) {
        const QString owner = pending.takeFirst();
        std::vector<Relationship> relationships = from.relationships(owner);
        for (const Relationship &relationship : relationships) {
            if (!isCopiedRelationship(relationship.type))
                throw EngineError(ErrorCode::SheetCopyUnsupported,
                    QStringLiteral("linked part ") + relationship.type.mid(relationship.type.lastIndexOf(u'/') + 1));
            if (relationship.partName.isEmpty() || targets.contains(relationship.partName.toCaseFolded()))
                continue;
            if (!from.hasPart(relationship.partName))
                throw EngineError(ErrorCode::Damaged, QStringLiteral("missing part ") + relationship.partName);
            targets.insert(relationship.partName.toCaseFolded(), freshPartName(package, relationship.partName, reserved));
            pending.append(relationship.partName);
            parts.push_back({relationship.partName, targets.value(relationship.partName.toCaseFolded()),
                from.contentType(relationship.partName), from.partBytes(relationship.partName), {}});
        }
        if (owner == sourceEntry.partName)
            sheetRelationships = std::move(relationships);
        else
            std::find_if(parts.begin(), parts.end(), [&](const CopiedPart &p) { return p.source == owner; })->relationships
                = std::move(relationships);
    }

    // Tables: ids unique in the workbook, names unique among its tables and defined names.
    QSet<QString> tableNames;
    int highestTableId = 0;
    for (const QString &part : package.partNames()) {
        if (package.contentType(part) != contentType::table)
            continue;
        const pugi::xml_node table = package.xml(part).root();
        highestTableId = std::max(highestTableId, table.attribute("id").as_int());
        tableNames.insert(QString::fromUtf8(table.attribute("name").value()).toCaseFolded());
        tableNames.insert(QString::fromUtf8(table.attribute("displayName").value()).toCaseFolded());
    }
    XmlPart &workbook = package.xml(model.partName());
    for (pugi::xml_node definedName : xml::children(xml::child(workbook.root(), "definedNames"), "definedName"))
        tableNames.insert(QString::fromUtf8(definedName.attribute("name").value()).toCaseFolded());
    for (const CopiedReferences::Name &copied : references.names())
        tableNames.insert(QString::fromUtf8(copied.source.attribute("name").value()).toCaseFolded());
    QList<QPair<QString, QString>> tableRenames; // old name, new name
    std::vector<std::unique_ptr<XmlPart>> tableParts;
    for (CopiedPart &part : parts) {
        if (part.contentType != contentType::table)
            continue;
        auto table = std::make_unique<XmlPart>(part.target, part.bytes);
        pugi::xml_node root = table->root();
        const QString oldName = QString::fromUtf8(root.attribute("displayName").value());
        QString newName = oldName;
        for (int k = 2; tableNames.contains(newName.toCaseFolded()); ++k)
            newName = oldName + QString::number(k);
        tableNames.insert(newName.toCaseFolded());
        root.attribute("id").set_value(++highestTableId);
        if (newName != oldName) {
            tableRenames.append({oldName, newName});
            root.attribute("displayName").set_value(newName.toUtf8().constData());
            if (pugi::xml_attribute tableName = root.attribute("name"))
                tableName.set_value(newName.toUtf8().constData());
        }
        tableParts.push_back(std::move(table));
    }
    const auto renameTables = [&](QString text) {
        for (const auto &[oldName, newName] : tableRenames)
            text = formula::renameTable(text, oldName, newName);
        return text;
    };
    for (pugi::xml_node node : formulaNodes) {
        const QString text = xml::text(node);
        if (const QString renamed = renameTables(text); renamed != text)
            xml::setText(node, renamed);
    }
    for (std::unique_ptr<XmlPart> &table : tableParts) {
        forEachElement(table->root(), [&](pugi::xml_node node) {
            if (isOneOf(xml::localName(node), tableFormulas)) {
                const QString text = xml::text(node);
                if (const QString renamed = renameTables(text); renamed != text)
                    xml::setText(node, renamed);
            }
        });
        std::find_if(parts.begin(), parts.end(), [&](const CopiedPart &p) { return p.target == table->name(); })->bytes
            = table->serialize();
    }

    // Pivot tables: each cache copied along gets an id the target's workbook does not use. A
    // cache that reads a sheet copied along reads that copy; one that reads another sheet of
    // the source reads it in the source file, through a relationship to that file.
    std::map<int, QString> pivotCaches; // new cache id -> the cache's part in the target
    {
        int nextCacheId = 0;
        for (pugi::xml_node cache : xml::children(xml::child(workbook.root(), "pivotCaches"), "pivotCache"))
            nextCacheId = std::max(nextCacheId, cache.attribute("cacheId").as_int() + 1);
        QHash<QString, int> cacheIds; // case-folded target part -> id
        for (CopiedPart &part : parts) {
            if (part.contentType != contentType::pivotTable)
                continue;
            QString cachePart;
            for (const Relationship &relationship : part.relationships) {
                if (rel::isType(relationship.type, pivotCacheRelationship) && !relationship.partName.isEmpty())
                    cachePart = targets.value(relationship.partName.toCaseFolded());
            }
            if (cachePart.isEmpty())
                throw EngineError(ErrorCode::Damaged, QStringLiteral("pivot table without its cache: ") + part.source);
            if (!cacheIds.contains(cachePart.toCaseFolded())) {
                cacheIds.insert(cachePart.toCaseFolded(), nextCacheId);
                pivotCaches.emplace(nextCacheId++, cachePart);
            }
            XmlPart table(part.target, part.bytes);
            table.root().attribute("cacheId").set_value(cacheIds.value(cachePart.toCaseFolded()));
            part.bytes = table.serialize();
        }
        for (CopiedPart &part : parts) {
            if (part.contentType != contentType::pivotCache)
                continue;
            XmlPart cache(part.target, part.bytes);
            const pugi::xml_node cacheSource = xml::child(cache.root(), "cacheSource");
            const QString kind = QString::fromUtf8(cacheSource.attribute("type").value());
            pugi::xml_node range = xml::child(cacheSource, "worksheetSource");
            if ((!kind.isEmpty() && kind != QLatin1String("worksheet")) || !range)
                throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("pivot cache source ") + kind);
            const QString sheet = QString::fromUtf8(range.attribute("sheet").value());
            if (xml::prefixedAttribute(range, "id"))
                continue; // it reads another file already, through its own relationship
            if (sheet.isEmpty())
                throw EngineError(
                    ErrorCode::SheetCopyUnsupported, QStringLiteral("pivot cache source name ") + xml::attribute(range, "name"));
            const QString key = sheet.toCaseFolded();
            if (const auto copied = copies.constFind(key); copied != copies.constEnd()) {
                if (!copied.value().isEmpty() && copied.value() != sheet)
                    range.attribute("sheet").set_value(copied.value().toUtf8().constData());
            } else if (std::any_of(sourceModel.sheets().begin(), sourceModel.sheets().end(), [&](const SheetEntry &entry) {
                           return entry.kind == SheetKind::Worksheet && entry.name.toCaseFolded() == key;
                       })) {
                QSet<QString> ids;
                for (const Relationship &relationship : part.relationships)
                    ids.insert(relationship.id);
                QString id;
                for (int k = 1; id.isEmpty() || ids.contains(id); ++k)
                    id = QStringLiteral("rId%1").arg(k);
                part.relationships.push_back({id, externalLinkPathRelationship, linkLocation(sourcePath), QString()});
                const std::string name = xml::qualifiedName(range, relationshipsNamespace, "id", "r");
                range.append_attribute(name.c_str()).set_value(id.toUtf8().constData());
            } else {
                throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("pivot cache source sheet ") + sheet);
            }
            part.bytes = cache.serialize();
        }
    }

    // Charts name the copied sheet in their ranges, and other sheets of the source like the
    // formulas do.
    QList<int> usedBlocks;
    for (CopiedPart &part : parts) {
        if (part.contentType == contentType::chart || part.contentType == contentType::chartEx) {
            XmlPart chart(part.target, part.bytes);
            bool changed = false;
            forEachElement(chart.root(), [&](pugi::xml_node node) {
                if (!isOneOf(xml::localName(node), copiedChartFormulas))
                    return;
                const QString text = xml::text(node);
                if (text.isEmpty())
                    return;
                const QString own = renameTables(references(text));
                if (own != text)
                    changed = xml::setText(node, own) || changed;
            });
            if (changed)
                part.bytes = chart.serialize();
        }
    }
    // VML drawings (comments, header and footer pictures) move to id blocks the target
    // does not use.
    for (const QString &part : package.partNames()) {
        if (isVml(package, part))
            usedBlocks += vmlBlocks(package.partBytes(part));
    }
    int nextBlock = usedBlocks.isEmpty() ? 1 : *std::max_element(usedBlocks.begin(), usedBlocks.end()) + 1;
    for (CopiedPart &part : parts) {
        if (!isVml(from, part.source))
            continue;
        QHash<int, int> blockMap;
        for (int block : vmlBlocks(part.bytes)) {
            if (!blockMap.contains(block))
                blockMap.insert(block, nextBlock++);
        }
        part.bytes = moveVmlBlocks(part.bytes, blockMap);
    }
    const QString sourceStylesPart = partFor(from, sourceModel.partName(), stylesRelationship);
    const QString stylesPart = partFor(package, model.partName(), stylesRelationship);
    if (!formatUses.empty() && (sourceStylesPart.isEmpty() || stylesPart.isEmpty()))
        throw EngineError(ErrorCode::SheetCopyUnsupported, QStringLiteral("no styles part"));
    XmlPart *styles = stylesPart.isEmpty() ? nullptr : &package.xml(stylesPart);
    const QString sourceStringsPart = partFor(from, sourceModel.partName(), sharedStringsRelationship);
    if (!stringCells.empty() && sourceStringsPart.isEmpty())
        throw EngineError(ErrorCode::Damaged, QStringLiteral("shared strings missing"));
    QString stringsPart = partFor(package, model.partName(), sharedStringsRelationship);
    XmlPart *strings = stringsPart.isEmpty() ? nullptr : &package.xml(stringsPart);

    CellMetadataCopy metadata(from, sourceModel.partName(), package, model.partName());
    for (pugi::xml_attribute use : metadataUses)
        metadata.check(use.as_int());
    for (pugi::xml_attribute use : valueMetadataUses)
        metadata.checkValue(use.as_int());

    if (checkOnly)
        return name;

    // Cell and value metadata (dynamic array formulas, pictures in cells): the records the
    // copy's cells use, in the target.
    for (pugi::xml_attribute use : metadataUses)
        use.set_value(metadata.map(use.as_int()));
    for (pugi::xml_attribute use : valueMetadataUses)
        use.set_value(metadata.mapValue(use.as_int()));
    metadata.finish();

    // Shared strings: each string the copy uses is appended to the target's table (or found
    // there) and the cell points at it.
    if (!stringCells.empty()) {
        const std::vector<pugi::xml_node> sourceItems
            = xml::children(from.xml(sourceStringsPart).root(), "si");
        if (!strings) {
            const QString folder = model.partName().left(model.partName().lastIndexOf(u'/') + 1);
            stringsPart = folder + QStringLiteral("sharedStrings.xml");
            for (int n = 2; package.hasPart(stringsPart); ++n)
                stringsPart = folder + QStringLiteral("sharedStrings%1.xml").arg(n);
            strings = &package.createXml(stringsPart,
                QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<sst "
                                  "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"0\" "
                                  "uniqueCount=\"0\"/>"));
            package.addRelationship(model.partName(), sharedStringsRelationship, stringsPart.mid(folder.size()));
            package.ensureOverride(stringsPart, sharedStringsType);
        }
        pugi::xml_node table = strings->root();
        QHash<QByteArray, int> index;
        int count = 0;
        for (pugi::xml_node item : xml::children(table, "si"))
            index.insert(xml::rawText(item), count++);
        QHash<int, int> mapped;
        for (pugi::xml_node cell : stringCells) {
            pugi::xml_node value = xml::child(cell, "v");
            const int sourceIndex = value.text().as_int(-1);
            if (sourceIndex < 0 || sourceIndex >= int(sourceItems.size()))
                throw EngineError(ErrorCode::Damaged, QStringLiteral("shared string %1 missing").arg(sourceIndex));
            int target = mapped.value(sourceIndex, -1);
            if (target < 0) {
                const QByteArray key = xml::rawText(sourceItems[size_t(sourceIndex)]);
                target = index.value(key, -1);
                if (target < 0) {
                    table.append_copy(sourceItems[size_t(sourceIndex)]);
                    index.insert(key, count);
                    target = count++;
                }
                mapped.insert(sourceIndex, target);
            }
            value.text().set(target);
        }
        const auto setCount = [&](const char *attribute, int value) {
            table.attribute(attribute) ? table.attribute(attribute).set_value(value)
                                       : table.append_attribute(attribute).set_value(value);
        };
        setCount("count", table.attribute("count").as_int(0) + int(stringCells.size()));
        setCount("uniqueCount", count);
        strings->markDirty();
    }

    // Styles: every format index of the copy points into the target's styles.
    if (!formatUses.empty()) {
        StyleMapper mapper(from.xml(sourceStylesPart).root(), styles->root());
        for (auto &[attribute, differential] : formatUses) {
            const int sourceIndex = attribute.as_int();
            attribute.set_value(differential ? mapper.differentialFormat(sourceIndex) : mapper.cellFormat(sourceIndex));
        }
        mapper.finish();
        if (mapper.changed())
            styles->markDirty();
    }

    // The new part with everything that hangs off it, their relationships and content types.
    if (sourceEntry.visibility == SheetVisibility::Visible) {
        if (pugi::xml_node view = xml::child(xml::child(sheetRoot, "sheetViews"), "sheetView"))
            view.prepend_attribute("tabSelected").set_value(1);
    }
    for (const CopiedPart &part : parts) {
        addCopiedPart(package, part);
        writeRelationships(package, part.target, part.relationships, targets);
    }
    writeRelationships(package, partName, sheetRelationships, targets);
    package.createXml(partName, copy.serialize());
    package.ensureOverride(partName, contentType::worksheet);

    // References to other sheets of the source read them through a link to the source file,
    // and references into other workbooks keep reading them through links of the target.
    bool sourceLinked = false;
    for (const CopiedReferences::Link &link : references.links()) {
        if (link.sourceNumber != 0)
            copyLink(package, workbook, link.location, from, sourceModel.partName(), link.sourceNumber);
        else if (!std::exchange(sourceLinked, true))
            addLink(package, workbook, link.location, from, sourceModel, references.linked());
    }

    // The workbook part: the sheet entry, names, views.
    pugi::xml_node root = workbook.root();
    pugi::xml_node sheetsNode = xml::child(root, "sheets");
    const std::vector<pugi::xml_node> sheetNodes = xml::children(sheetsNode, "sheet");
    for (pugi::xml_node node : sheetNodes)
        highestSheetId = std::max(highestSheetId, node.attribute("sheetId").as_int());
    const QString workbookFolder = model.partName().left(model.partName().lastIndexOf(u'/') + 1);
    const QString relationshipTarget = partName.startsWith(workbookFolder) && !workbookFolder.isEmpty()
        ? partName.mid(workbookFolder.size())
        : u'/' + partName;
    const QString relationshipId = package.addRelationship(model.partName(), rel::worksheet, relationshipTarget);
    const std::string sheetName = xml::siblingName(sheetNodes.front(), "sheet");
    pugi::xml_node node = position < int(sheetNodes.size())
        ? sheetsNode.insert_child_before(sheetName.c_str(), sheetNodes[size_t(position)])
        : sheetsNode.append_child(sheetName.c_str());
    node.append_attribute("name").set_value(name.toUtf8().constData());
    node.append_attribute("sheetId").set_value(highestSheetId + 1);
    if (sourceEntry.visibility == SheetVisibility::Hidden)
        node.append_attribute("state").set_value("hidden");
    std::string idName = "r:id";
    for (pugi::xml_attribute attribute = sheetNodes.front().first_attribute(); attribute; attribute = attribute.next_attribute()) {
        if (isRelationshipId(sheetNodes.front(), attribute))
            idName = attribute.name();
    }
    // Some writers declare the relationships prefix on each sheet element rather than on the
    // root: the new element then declares it too.
    const std::string idPrefix = idName.substr(0, idName.find(':'));
    if (xml::namespaceForPrefix(node, idPrefix).empty()) {
        const std::string_view uri = xml::namespaceForPrefix(sheetNodes.front(), idPrefix);
        node.append_attribute(("xmlns:" + idPrefix).c_str())
            .set_value(uri.empty() ? relationshipsNamespace.data() : std::string(uri).c_str());
    }
    node.append_attribute(idName.c_str()).set_value(relationshipId.toUtf8().constData());

    // The pivot caches copied along, listed by the workbook under their new ids.
    if (!pivotCaches.empty()) {
        pugi::xml_node caches = xml::child(root, "pivotCaches");
        if (!caches)
            caches = xml::insertChild(root, xml::siblingName(root, "pivotCaches"), order::workbook);
        const std::string cacheName = xml::siblingName(caches, "pivotCache");
        const std::string cacheIdName = xml::qualifiedName(root, relationshipsNamespace, "id", "r");
        for (const auto &[id, cachePart] : pivotCaches) {
            const QString cacheRelationship
                = package.addRelationship(model.partName(), pivotCacheRelationship, relativeTarget(model.partName(), cachePart));
            pugi::xml_node cache = caches.append_child(cacheName.c_str());
            cache.append_attribute("cacheId").set_value(id);
            cache.append_attribute(cacheIdName.c_str()).set_value(cacheRelationship.toUtf8().constData());
        }
    }

    pugi::xml_node names = xml::child(root, "definedNames");
    for (pugi::xml_node definedName : xml::children(names, "definedName")) {
        pugi::xml_attribute scope = definedName.attribute("localSheetId");
        if (scope && scope.as_int(-1) >= position)
            scope.set_value(scope.as_int() + 1);
    }
    if ((!ownNames.empty() || !references.names().empty()) && !names)
        names = xml::insertChild(root, xml::siblingName(root, "definedNames"), order::workbook);
    for (const auto &[sourceName, formulaText] : ownNames) {
        pugi::xml_node added = names.append_copy(sourceName);
        added.attribute("localSheetId").set_value(position);
        xml::setText(added, formulaText);
    }
    // The workbook-level names the copy reads, which the target lacked.
    for (const CopiedReferences::Name &copied : references.names())
        xml::setText(names.append_copy(copied.source), copied.text);

    const int previousActive = model.activeTab();
    const bool activate = sourceEntry.visibility == SheetVisibility::Visible;
    for (pugi::xml_node view : xml::children(xml::child(root, "bookViews"), "workbookView")) {
        int active = view.attribute("activeTab").as_int(0);
        int first = view.attribute("firstSheet").as_int(0);
        if (active >= position)
            ++active;
        if (first >= position)
            ++first;
        if (activate) {
            active = position;
            first = std::min(first, position);
        }
        setOrRemove(view, "activeTab", active, 0);
        setOrRemove(view, "firstSheet", first, 0);
    }

    // The calculation chain lists cells by sheet; the spreadsheet program rebuilds it.
    for (const Relationship &relationship : package.relationships(model.partName())) {
        if (rel::isType(relationship.type, calcChainRelationship)) {
            package.removeRelationship(model.partName(), relationship.id);
            if (!relationship.partName.isEmpty() && package.hasPart(relationship.partName)) {
                package.removePart(relationship.partName);
                package.removeOverride(relationship.partName);
            }
        }
    }
    requireFullCalculation(workbook);
    workbook.markDirty();
    model.reload();

    if (activate && previousActive >= 0 && previousActive < int(before.size()))
        setTabSelected(m_document, before[size_t(previousActive)], false);
    syncAppTitles(package, before, model.sheets(), [](const QString &title) { return std::optional<QString>(title); });
    return name;
}

} // namespace gm::xlsx

namespace gm::xlsx {

void recalculateOnLoad(OpcPackage &package, const QString &workbookPart)
{
    for (const Relationship &relationship : package.relationships(workbookPart)) {
        if (!rel::isType(relationship.type, calcChainRelationship))
            continue;
        package.removeRelationship(workbookPart, relationship.id);
        if (package.hasPart(relationship.partName)) {
            package.removePart(relationship.partName);
            package.removeOverride(relationship.partName);
        }
    }
    requireFullCalculation(package.xml(workbookPart));
}

} // namespace gm::xlsx
