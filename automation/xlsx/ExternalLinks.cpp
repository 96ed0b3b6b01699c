#include "automation/xlsx/ExternalLinks.h"

#include "automation/EngineError.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/WorkbookModel.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlTree.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

#include <array>
#include <optional>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

const QString externalLinkType
    = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.externalLink+xml");
const QString externalLinkRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLink");
const QString externalLinkPathRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/externalLinkPath");
const QString sharedStringsRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
constexpr std::string_view relationshipsNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

using xml::children;

// The workbook's links, in the order of their numbers, by part name ("" for an entry whose
// part is missing: it still takes its number).
QStringList linkParts(OpcPackage &package, const QString &workbookPart)
{
    QHash<QString, QString> parts;
    for (const Relationship &relationship : package.relationships(workbookPart))
        parts.insert(relationship.id, relationship.partName);
    QStringList result;
    const pugi::xml_node references = xml::child(package.xml(workbookPart).root(), "externalReferences");
    for (pugi::xml_node reference : children(references, "externalReference"))
        result.append(parts.value(QString::fromUtf8(xml::prefixedAttribute(reference, "id").value())));
    return result;
}

// The file a link part points at, as its relationship writes it.
QString linkTarget(OpcPackage &package, const QString &linkPart)
{
    if (linkPart.isEmpty() || !package.hasPart(linkPart))
        return {};
    for (const Relationship &relationship : package.relationships(linkPart)) {
        if (rel::isType(relationship.type, externalLinkPathRelationship))
            return relationship.target;
    }
    return {};
}

// A cached cell as the link holds it: its type (empty for a number) and value text.
struct CachedCell
{
    QString type;
    QString value;
};
using CachedRows = std::map<qint64, std::map<qint64, CachedCell>>;

// Row and column of a cell reference such as "C12"; nothing when it is not one.
std::optional<std::pair<qint64, qint64>> cellPosition(const QString &reference)
{
    const std::optional<formula::Area> area = formula::parseArea(reference);
    if (!area || area->firstRow != area->lastRow || area->firstColumn != area->lastColumn || reference.contains(u':'))
        return std::nullopt;
    return std::pair{area->firstRow, area->firstColumn};
}

QString columnLetters(qint64 column)
{
    QString letters;
    for (; column > 0; column = (column - 1) / 26)
        letters.prepend(QChar(char16_t(u'A' + (column - 1) % 26)));
    return letters;
}

// The text of a string item: its runs, phonetic readings left out.
QString itemText(pugi::xml_node item)
{
    QString text;
    for (pugi::xml_node node = item.first_child(); node; node = node.next_sibling()) {
        const std::string_view local = xml::localName(node);
        if (local == "t")
            text += xml::text(node);
        else if (local == "r")
            text += xml::text(xml::child(node, "t"));
    }
    return text;
}

// The values the cells of `areas` show in a worksheet of the source: numbers, texts (shared
// or inline strings and formula results alike become text), logical values and errors.
// Empty cells and formulas without a stored result are left out.
void readValues(const QByteArray &sheetBytes, const std::vector<pugi::xml_node> &strings,
    const std::vector<formula::Area> &areas, CachedRows &rows)
{
    pugi::xml_document document;
    if (!document.load_buffer(sheetBytes.constData(), size_t(sheetBytes.size()), pugi::parse_default, pugi::encoding_utf8))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("worksheet not readable"));
    const pugi::xml_node sheetData = xml::child(document.document_element(), "sheetData");
    qint64 rowNumber = 0;
    for (pugi::xml_node row : children(sheetData, "row")) {
        rowNumber = row.attribute("r") ? row.attribute("r").as_llong() : rowNumber + 1;
        qint64 column = 0;
        for (pugi::xml_node cell : children(row, "c")) {
            if (pugi::xml_attribute reference = cell.attribute("r")) {
                const std::optional<std::pair<qint64, qint64>> position = cellPosition(QString::fromUtf8(reference.value()));
                if (!position)
                    continue;
                column = position->second;
            } else {
                ++column;
            }
            if (std::none_of(areas.begin(), areas.end(), [&](const formula::Area &a) { return a.contains(rowNumber, column); }))
                continue;
            const std::string_view type = cell.attribute("t").value();
            CachedCell cached;
            if (type == "inlineStr") {
                cached = {QStringLiteral("str"), itemText(xml::child(cell, "is"))};
            } else {
                const pugi::xml_node value = xml::child(cell, "v");
                if (!value)
                    continue;
                const QString text = xml::text(value);
                if (type == "s") {
                    const int index = text.toInt();
                    if (index < 0 || index >= int(strings.size()))
                        throw EngineError(ErrorCode::Damaged, QStringLiteral("shared string %1 missing").arg(index));
                    cached = {QStringLiteral("str"), itemText(strings[size_t(index)])};
                } else if (type.empty() || type == "n") {
                    cached = {QString(), text};
                } else {
                    cached = {QString::fromUtf8(type.data(), qsizetype(type.size())), text};
                }
            }
            rows[rowNumber][column] = cached;
        }
    }
}

// The cells a link's sheet data holds now.
CachedRows cachedRows(pugi::xml_node sheetData)
{
    CachedRows rows;
    for (pugi::xml_node row : children(sheetData, "row")) {
        for (pugi::xml_node cell : children(row, "cell")) {
            const std::optional<std::pair<qint64, qint64>> position
                = cellPosition(QString::fromUtf8(cell.attribute("r").value()));
            if (position)
                rows[position->first][position->second]
                    = {QString::fromUtf8(cell.attribute("t").value()), xml::text(xml::child(cell, "v"))};
        }
    }
    return rows;
}

void writeRows(pugi::xml_node sheetData, const CachedRows &rows)
{
    while (sheetData.first_child())
        sheetData.remove_child(sheetData.first_child());
    const std::string rowName = xml::siblingName(sheetData, "row");
    const std::string cellName = xml::siblingName(sheetData, "cell");
    const std::string valueName = xml::siblingName(sheetData, "v");
    for (const auto &[rowNumber, cells] : rows) {
        pugi::xml_node row = sheetData.append_child(rowName.c_str());
        row.append_attribute("r").set_value(rowNumber);
        for (const auto &[column, cached] : cells) {
            pugi::xml_node cell = row.append_child(cellName.c_str());
            cell.append_attribute("r").set_value((columnLetters(column) + QString::number(rowNumber)).toUtf8().constData());
            if (!cached.type.isEmpty())
                cell.append_attribute("t").set_value(cached.type.toUtf8().constData());
            cell.append_child(valueName.c_str()).text().set(cached.value.toUtf8().constData());
        }
    }
}

QString freeLinkPart(OpcPackage &package)
{
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("xl/externalLinks/externalLink%1.xml").arg(n);
        if (!package.hasPart(candidate))
            return candidate;
    }
}

// A relationship target for `toPart`, relative to the folder of `fromPart`.
QString relativeTo(const QString &fromPart, const QString &toPart)
{
    const QString folder = fromPart.left(fromPart.lastIndexOf(u'/') + 1);
    return toPart.startsWith(folder) && !folder.isEmpty() ? toPart.mid(folder.size()) : u'/' + toPart;
}

// A new, empty link part for `location` with its relationships and content type, listed last
// in the workbook's <externalReferences>.
QString newLinkPart(OpcPackage &package, XmlPart &workbook, const QString &location)
{
    const QString workbookPart = workbook.name();
    QString linkPart;
    linkPart = freeLinkPart(package);
    package.createXml(linkPart,
        QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                          "<externalLink xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                          "<externalBook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                          "r:id=\"rId1\"><sheetNames/><sheetDataSet/></externalBook></externalLink>"));
    package.ensureOverride(linkPart, externalLinkType);
    package.addRelationship(linkPart, externalLinkPathRelationship, location);
    XmlPart &relationships = package.xml(OpcPackage::relationshipsPartName(linkPart));
    relationships.root().last_child().append_attribute("TargetMode").set_value("External");
    xml::prefixedAttribute(xml::child(package.xml(linkPart).root(), "externalBook"), "id")
        .set_value(package.relationships(linkPart).back().id.toUtf8().constData());

    const QString id = package.addRelationship(workbookPart, externalLinkRelationship, relativeTo(workbookPart, linkPart));
    pugi::xml_node root = workbook.root();
    pugi::xml_node references = xml::child(root, "externalReferences");
    if (!references)
        references = xml::insertChild(root, xml::siblingName(root, "externalReferences"), order::workbook);
    pugi::xml_node reference = references.append_child(xml::siblingName(root, "externalReference").c_str());
    reference.append_attribute(xml::qualifiedName(root, relationshipsNamespace, "id", "r").c_str())
        .set_value(id.toUtf8().constData());
    workbook.markDirty();
    return linkPart;
}

// The <externalBook> of a link part, with the children a link fills in order.
pugi::xml_node linkBook(OpcPackage &package, const QString &linkPart)
{
    pugi::xml_node book = xml::child(package.xml(linkPart).root(), "externalBook");
    if (!book)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("link without a workbook: ") + linkPart);
    return book;
}

pugi::xml_node ensureBookChild(pugi::xml_node book, std::string_view name)
{
    static constexpr std::array order{"sheetNames"sv, "definedNames"sv, "sheetDataSet"sv};
    pugi::xml_node node = xml::child(book, name);
    return node ? node : xml::insertChild(book, xml::siblingName(book, name), order);
}

// The index of the sheet in the link's <sheetNames>, added at the end when missing.
int linkSheetIndex(pugi::xml_node sheetNames, const QString &sheet)
{
    const std::vector<pugi::xml_node> names = children(sheetNames, "sheetName");
    for (size_t i = 0; i < names.size(); ++i) {
        if (QString::fromUtf8(names[i].attribute("val").value()).compare(sheet, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    sheetNames.append_child(xml::siblingName(sheetNames, "sheetName").c_str())
        .append_attribute("val")
        .set_value(sheet.toUtf8().constData());
    return int(names.size());
}

// The cached data of the link's sheet `index`, added when missing.
pugi::xml_node linkSheetData(pugi::xml_node dataSet, int index)
{
    for (pugi::xml_node data : children(dataSet, "sheetData")) {
        if (data.attribute("sheetId").as_int(-1) == index)
            return data;
    }
    pugi::xml_node data = dataSet.append_child(xml::siblingName(dataSet, "sheetData").c_str());
    data.append_attribute("sheetId").set_value(index);
    return data;
}

// Puts the link's sheets in the order `order` gives them (case-folded names; sheets it lacks
// go last, as they were), so that a 3-D span over sheets of the linked workbook covers the
// same sheets in the link as there. Sheets are numbered by their place in the list, so the
// cached data and sheet-scoped names follow. Returns whether anything moved.
bool orderLinkSheets(pugi::xml_node book, const QStringList &order)
{
    pugi::xml_node sheetNames = xml::child(book, "sheetNames");
    const std::vector<pugi::xml_node> names = children(sheetNames, "sheetName");
    std::vector<int> sorted(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        sorted[i] = int(i);
    auto rank = [&](int index) {
        const qsizetype at = order.indexOf(QString::fromUtf8(names[size_t(index)].attribute("val").value()).toCaseFolded());
        return at < 0 ? order.size() : at;
    };
    std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) { return rank(a) < rank(b); });
    QHash<int, int> moved; // old index -> new index
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i] != int(i))
            moved.insert(sorted[i], int(i));
    }
    if (moved.isEmpty())
        return false;
    for (int index : sorted)
        sheetNames.append_move(names[size_t(index)]);
    auto renumber = [&](pugi::xml_node parent, const char *element) {
        for (pugi::xml_node node : children(parent, element)) {
            pugi::xml_attribute sheetId = node.attribute("sheetId");
            if (sheetId && moved.contains(sheetId.as_int(-1)))
                sheetId.set_value(moved.value(sheetId.as_int()));
        }
    };
    renumber(xml::child(book, "definedNames"), "definedName");
    renumber(xml::child(book, "sheetDataSet"), "sheetData");
    // The cached data in the order of the sheets.
    pugi::xml_node dataSet = xml::child(book, "sheetDataSet");
    std::vector<pugi::xml_node> data = children(dataSet, "sheetData");
    std::stable_sort(data.begin(), data.end(),
        [](pugi::xml_node a, pugi::xml_node b) { return a.attribute("sheetId").as_int() < b.attribute("sheetId").as_int(); });
    for (pugi::xml_node node : data)
        dataSet.append_move(node);
    return true;
}

} // namespace

QString linkLocation(const QString &path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::PrettyDecoded);
}

int linkCount(OpcPackage &package, const QString &workbookPart)
{
    return int(linkParts(package, workbookPart).size());
}

int linkNumber(OpcPackage &package, const QString &workbookPart, const QString &location)
{
    const QStringList parts = linkParts(package, workbookPart);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (linkTarget(package, parts[i]) == location)
            return int(i) + 1;
    }
    return int(parts.size()) + 1;
}

int addLink(OpcPackage &package, XmlPart &workbook, const QString &location, OpcPackage &source,
    const WorkbookModel &sourceModel, const LinkedCells &cells)
{
    const QString workbookPart = workbook.name();
    const int number = linkNumber(package, workbookPart, location);
    QStringList parts = linkParts(package, workbookPart);
    QString linkPart;
    if (number <= parts.size()) {
        linkPart = parts[number - 1];
    } else {
        linkPart = newLinkPart(package, workbook, location);
    }

    XmlPart &link = package.xml(linkPart);
    pugi::xml_node book = linkBook(package, linkPart);
    pugi::xml_node sheetNames = ensureBookChild(book, "sheetNames");
    pugi::xml_node dataSet = ensureBookChild(book, "sheetDataSet");

    std::vector<pugi::xml_node> strings;
    for (const Relationship &relationship : source.relationships(sourceModel.partName())) {
        if (rel::isType(relationship.type, sharedStringsRelationship) && source.hasPart(relationship.partName))
            strings = children(source.xml(relationship.partName).root(), "si");
    }

    for (const auto &[sheet, areas] : cells) {
        QString sheetPart;
        for (const SheetEntry &entry : sourceModel.sheets()) {
            if (entry.name.compare(sheet, Qt::CaseInsensitive) == 0)
                sheetPart = entry.partName;
        }
        if (sheetPart.isEmpty() || !source.hasPart(sheetPart))
            throw EngineError(ErrorCode::Damaged, QStringLiteral("linked sheet missing: ") + sheet);

        const pugi::xml_node sheetData = linkSheetData(dataSet, linkSheetIndex(sheetNames, sheet));
        CachedRows rows = cachedRows(sheetData);
        readValues(source.partBytes(sheetPart), strings, areas, rows);
        writeRows(sheetData, rows);
    }
    std::vector<SheetEntry> sheets = sourceModel.sheets();
    std::sort(sheets.begin(), sheets.end(), [](const SheetEntry &a, const SheetEntry &b) { return a.position < b.position; });
    QStringList order;
    for (const SheetEntry &entry : sheets)
        order.append(entry.name.toCaseFolded());
    orderLinkSheets(book, order);
    link.markDirty();
    return number;
}

QString linkLocationOf(OpcPackage &package, const QString &workbookPart, int number, const QString &workbookPath)
{
    const QStringList parts = linkParts(package, workbookPart);
    if (number < 1 || number > parts.size())
        return {};
    QString target = linkTarget(package, parts[number - 1]);
    if (target.isEmpty() || target.contains(QStringLiteral("://")) || target.startsWith(u'/') || target.startsWith(u'\\')
        || (target.size() > 1 && target[1] == u':'))
        return target;
    // A file named relative to the workbook's own folder.
    target.replace(u'\\', u'/');
    return linkLocation(QDir::cleanPath(QFileInfo(workbookPath).absolutePath() + u'/' + target));
}

int copyLink(OpcPackage &package, XmlPart &workbook, const QString &location, OpcPackage &source,
    const QString &sourceWorkbookPart, int sourceNumber)
{
    const QStringList sourceParts = linkParts(source, sourceWorkbookPart);
    if (sourceNumber < 1 || sourceNumber > sourceParts.size() || !source.hasPart(sourceParts[sourceNumber - 1]))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("link %1 missing").arg(sourceNumber));
    const pugi::xml_node from = linkBook(source, sourceParts[sourceNumber - 1]);

    const QString workbookPart = workbook.name();
    const int number = linkNumber(package, workbookPart, location);
    const QStringList parts = linkParts(package, workbookPart);
    const QString linkPart = number <= parts.size() ? parts[number - 1] : newLinkPart(package, workbook, location);
    XmlPart &link = package.xml(linkPart);
    pugi::xml_node book = linkBook(package, linkPart);
    pugi::xml_node sheetNames = ensureBookChild(book, "sheetNames");

    // The sheets by their index in the source's link -> index in this one.
    QHash<int, int> sheets;
    int sourceIndex = 0;
    for (pugi::xml_node name : children(xml::child(from, "sheetNames"), "sheetName"))
        sheets.insert(sourceIndex++, linkSheetIndex(sheetNames, QString::fromUtf8(name.attribute("val").value())));

    // Names of the other workbook that formulas read; a name the link already has stays.
    if (const pugi::xml_node names = xml::child(from, "definedNames")) {
        pugi::xml_node own = ensureBookChild(book, "definedNames");
        for (pugi::xml_node name : children(names, "definedName")) {
            const pugi::xml_attribute sheetId = name.attribute("sheetId");
            const int scope = sheetId ? sheets.value(sheetId.as_int(), -1) : -1;
            const std::vector<pugi::xml_node> existingNames = children(own, "definedName");
            const bool known = std::any_of(existingNames.begin(), existingNames.end(), [&](pugi::xml_node existing) {
                return QString::fromUtf8(existing.attribute("name").value())
                           .compare(QString::fromUtf8(name.attribute("name").value()), Qt::CaseInsensitive)
                    == 0
                    && existing.attribute("sheetId").as_int(-1) == scope;
            });
            if (known)
                continue;
            pugi::xml_node copy = own.append_copy(name);
            if (sheetId)
                copy.attribute("sheetId").set_value(scope);
        }
    }

    // The cached values; a cell the link already holds keeps its value.
    if (const pugi::xml_node dataSet = xml::child(from, "sheetDataSet")) {
        pugi::xml_node own = ensureBookChild(book, "sheetDataSet");
        for (pugi::xml_node data : children(dataSet, "sheetData")) {
            const int index = sheets.value(data.attribute("sheetId").as_int(), -1);
            if (index < 0)
                throw EngineError(ErrorCode::Damaged, QStringLiteral("link data of an unlisted sheet"));
            const pugi::xml_node sheetData = linkSheetData(own, index);
            CachedRows rows = cachedRows(data);
            for (const auto &[row, cells] : cachedRows(sheetData)) {
                for (const auto &[column, cell] : cells)
                    rows[row][column] = cell;
            }
            writeRows(sheetData, rows);
        }
    }
    link.markDirty();
    return number;
}

} // namespace gm::xlsx
