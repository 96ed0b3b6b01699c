#include "automation/xlsx/CellValues.h"

#include "automation/EngineError.h"
#include "automation/cells/TypedEntry.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlTree.h"

#include <QDate>
#include <QHash>

#include <cctype>
#include <charconv>
#include <map>
#include <optional>
#include <string>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

constexpr qint64 kMaxRow = 1048576;
constexpr qint64 kMaxColumn = 16384;

const QString sharedStringsType
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
const QString stylesType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");
const QString calcChainType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/calcChain");

constexpr std::array calcPrAttributeOrder{"calcId"sv, "calcMode"sv, "fullCalcOnLoad"sv};
constexpr std::array cellChildOrder{"f"sv, "v"sv, "is"sv, "extLst"sv};

struct CellRef
{
    qint64 row = 0;
    qint64 column = 0;
};

// Reads "B12" (letters then digits); nothing when it is not a cell reference.
std::optional<CellRef> parseRef(std::string_view text)
{
    CellRef ref;
    size_t i = 0;
    while (i < text.size() && i < 3 && text[i] >= 'A' && text[i] <= 'Z')
        ref.column = ref.column * 26 + (text[i++] - 'A' + 1);
    if (i == 0 || i == text.size())
        return std::nullopt;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || ref.row > kMaxRow)
            return std::nullopt;
        ref.row = ref.row * 10 + (text[i] - '0');
    }
    return ref;
}

std::string columnLetters(qint64 column)
{
    std::string letters;
    while (column > 0) {
        const qint64 digit = (column - 1) % 26;
        letters.insert(letters.begin(), char('A' + digit));
        column = (column - 1) / 26;
    }
    return letters;
}

std::string cellName(qint64 row, qint64 column)
{
    return columnLetters(column) + std::to_string(row);
}

bool isTrue(pugi::xml_attribute attribute)
{
    const std::string_view value = attribute.value();
    return value == "1" || value == "true";
}

// The shortest decimal text that reads back as the same double, as workbooks store numbers.
std::string numberText(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    std::string text(buffer, result.ptr);
    if (text == "-0")
        text = "0";
    return text;
}

// Text as a string item stores it: control characters (carriage returns too) as _xHHHH_, and a literal _xHHHH_ kept
// by escaping its underscore.
std::string escapedText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n') {
            out += QStringLiteral("_x%1_")
                       .arg(c.unicode(), 4, 16, QLatin1Char('0'))
                       .toUpper()
                       .replace(QLatin1String("_X"), QLatin1String("_x"));
            continue;
        }
        if (c == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x' && text.at(i + 6) == u'_') {
            bool hex = true;
            for (qsizetype k = i + 2; k < i + 6; ++k)
                hex = hex && isxdigit(text.at(k).toLatin1());
            if (hex) {
                out += QLatin1String("_x005F");
                out += c;
                continue;
            }
        }
        out += c;
    }
    return out.toStdString();
}

void setStringElement(pugi::xml_node t, const QString &text)
{
    const std::string value = escapedText(text);
    if (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()))
        t.append_attribute("xml:space").set_value("preserve");
    t.text().set(value.c_str());
}

class Writer
{
public:
    Writer(PackageDocument &document, const SheetEntry &sheet)
        : m_document(document), m_package(document.package()), m_sheet(m_package.xml(sheet.partName))
    {
        const pugi::xml_node root = m_sheet.root();
        m_sheetData = xml::child(root, "sheetData");
        if (!m_sheetData)
            throw EngineError(ErrorCode::Damaged, sheet.partName + QStringLiteral(": no sheetData"));
        XmlPart &workbook = m_package.xml(document.model().partName());
        const pugi::xml_node workbookPr = xml::child(workbook.root(), "workbookPr");
        m_context.system = isTrue(workbookPr.attribute("date1904")) ? DateSystem::Date1904 : DateSystem::Date1900;
        m_context.currentYear = QDate::currentDate().year();
        for (const Relationship &relationship : m_package.relationships(document.model().partName())) {
            if (relationship.partName.isEmpty() || !m_package.hasPart(relationship.partName))
                continue;
            if (rel::isType(relationship.type, sharedStringsType))
                m_sharedStringsName = relationship.partName;
            else if (rel::isType(relationship.type, stylesType))
                m_stylesName = relationship.partName;
        }
    }

    void write(const Worksheet::CellWrite &write)
    {
        if (write.row < 1 || write.row > kMaxRow || write.column < 1 || write.column > kMaxColumn)
            throw EngineError(ErrorCode::CellOutOfRange, QStringLiteral("row %1, column %2").arg(write.row).arg(write.column));
        pugi::xml_node row = rowNode(write.row);
        pugi::xml_node cell = cellNode(row, write.row, write.column);
        const pugi::xml_node formula = xml::child(cell, "f");
        if (formula) {
            const std::string_view kind = formula.attribute("t").value();
            if (kind == "array" || kind == "dataTable")
                throw EngineError(ErrorCode::ArrayFormulaPart, QString::fromStdString(cellName(write.row, write.column)));
            if (kind == "shared" && formula.attribute("ref"))
                throw EngineError(ErrorCode::SharedFormulaAnchor, QString::fromStdString(cellName(write.row, write.column)));
        }
        if (isArrayMember(write.row, write.column))
            throw EngineError(ErrorCode::ArrayFormulaPart, QString::fromStdString(cellName(write.row, write.column)));

        const int style = cell.attribute("s").as_int(0);
        EntryContext context = m_context;
        context.cellIsText = numberFormatOf(style) == 49;
        const TypedEntry entry = parseTypedEntry(write.text, context);

        if (formula)
            m_formulasChanged = true;
        for (const char *name : {"f", "v", "is"}) {
            while (pugi::xml_node child = xml::child(cell, name))
                cell.remove_child(child);
        }
        for (const char *name : {"t", "cm", "vm"})
            cell.remove_attribute(name);

        int newStyle = style;
        if (entry.numberFormatId >= 0 && numberFormatOf(style) == 0)
            newStyle = styleWith(style, entry.numberFormatId, false);
        if (entry.quotePrefix)
            newStyle = styleWith(newStyle, -1, true);
        if (newStyle != style) {
            pugi::xml_attribute s = cell.attribute("s");
            if (!s)
                s = cell.insert_attribute_after("s", cell.attribute("r"));
            s.set_value(newStyle);
        }

        switch (entry.type) {
        case TypedEntry::Type::Empty:
            if (!cell.attribute("s") && !cell.first_child())
                row.remove_child(cell);
            break;
        case TypedEntry::Type::Number:
            setValue(cell, nullptr, numberText(entry.number));
            break;
        case TypedEntry::Type::Boolean:
            setValue(cell, "b", entry.number != 0 ? "1" : "0");
            break;
        case TypedEntry::Type::Error:
            setValue(cell, "e", entry.text.toStdString());
            break;
        case TypedEntry::Type::Formula: {
            pugi::xml_node f = xml::insertChild(cell, xml::siblingName(cell, "f"), cellChildOrder);
            f.text().set(entry.text.toUtf8().constData());
            m_formulasChanged = true;
            break;
        }
        case TypedEntry::Type::Text:
            setText(cell, entry.text);
            break;
        }
        extendDimension(write.row, write.column);
        m_sheet.markDirty();
        m_written = true;
    }

    void finish()
    {
        if (m_sharedStrings) {
            pugi::xml_node root = m_sharedStrings->root();
            root.attribute("uniqueCount").set_value(m_uniqueCount);
            if (pugi::xml_attribute count = root.attribute("count"))
                count.set_value(count.as_llong(0) + m_addedStrings);
            m_sharedStrings->markDirty();
        }
        // Formulas elsewhere may depend on the new values: their stored results are stale.
        if (m_written)
            requireRecalculation(m_formulasChanged);
    }

private:
    // The row element for a row number, inserted in order when missing. Rows are found by
    // their number wherever they stand: other writers leave them out of order. Before a row is
    // inserted, rows written without their number get it, so that theirs stays as it was.
    pugi::xml_node rowNode(qint64 number)
    {
        if (!m_rowsIndexed) {
            m_rowsIndexed = true;
            qint64 implied = 0;
            for (pugi::xml_node row = m_sheetData.first_child(); row; row = row.next_sibling()) {
                if (row.type() != pugi::node_element || xml::localName(row) != "row")
                    continue;
                const pugi::xml_attribute r = row.attribute("r");
                implied = r ? r.as_llong(0) : implied + 1;
                m_unnumberedRows = m_unnumberedRows || !r;
                m_rows.emplace(implied, row); // the first of rows written twice
            }
        }
        if (const auto found = m_rows.find(number); found != m_rows.end())
            return found->second;
        if (m_unnumberedRows) {
            for (auto &[current, row] : m_rows) {
                if (!row.attribute("r"))
                    row.prepend_attribute("r").set_value(current);
            }
            m_unnumberedRows = false;
        }
        const auto next = m_rows.upper_bound(number);
        const std::string name = xml::siblingName(m_sheetData, "row");
        pugi::xml_node added = next == m_rows.end() ? m_sheetData.append_child(name.c_str())
                                                    : m_sheetData.insert_child_before(name.c_str(), next->second);
        added.append_attribute("r").set_value(number);
        m_rows.emplace(number, added);
        return added;
    }

    // The cell element for a column of a row, inserted in order when missing; found wherever
    // it stands, as rows are.
    pugi::xml_node cellNode(pugi::xml_node row, qint64 rowNumber, qint64 column)
    {
        std::vector<std::pair<qint64, pugi::xml_node>> cells;
        qint64 implied = 0;
        for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) {
            if (cell.type() != pugi::node_element || xml::localName(cell) != "c")
                continue;
            const std::optional<CellRef> ref = parseRef(cell.attribute("r").value());
            implied = ref ? ref->column : implied + 1;
            if (implied == column) {
                if (!cell.attribute("r"))
                    cell.prepend_attribute("r").set_value(cellName(rowNumber, column).c_str());
                return cell;
            }
            cells.emplace_back(implied, cell);
        }
        pugi::xml_node next;
        for (auto &[current, cell] : cells) {
            if (!cell.attribute("r"))
                cell.prepend_attribute("r").set_value(cellName(rowNumber, current).c_str());
            if (!next && current > column)
                next = cell;
        }
        const std::string name = xml::siblingName(row, "c");
        pugi::xml_node added = next ? row.insert_child_before(name.c_str(), next) : row.append_child(name.c_str());
        added.append_attribute("r").set_value(cellName(rowNumber, column).c_str());
        return added;
    }

    // Whether the cell lies inside the range of an array formula anchored elsewhere.
    bool isArrayMember(qint64 row, qint64 column)
    {
        if (!m_arraysRead) {
            m_arraysRead = true;
            // A formula comes first in its cell; a walk is far cheaper than a path query.
            for (pugi::xml_node line = m_sheetData.first_child(); line; line = line.next_sibling()) {
                for (pugi::xml_node entry = line.first_child(); entry; entry = entry.next_sibling()) {
                    pugi::xml_node f = entry.first_child();
                    while (f && f.type() != pugi::node_element)
                        f = f.next_sibling();
                    if (!f || xml::localName(f) != "f")
                        continue;
                    const std::string_view kind = f.attribute("t").value();
                    if (kind != "array" && kind != "dataTable")
                        continue;
                    const std::string ref = f.attribute("ref").value();
                    const size_t colon = ref.find(':');
                    const std::optional<CellRef> first = parseRef(std::string_view(ref).substr(0, colon));
                    const std::optional<CellRef> last
                        = colon == std::string::npos ? first : parseRef(std::string_view(ref).substr(colon + 1));
                    if (first && last)
                        m_arrays.push_back({*first, *last});
                }
            }
        }
        for (const auto &[first, last] : m_arrays) {
            if (row >= first.row && row <= last.row && column >= first.column && column <= last.column)
                return true;
        }
        return false;
    }

    void setValue(pugi::xml_node cell, const char *type, const std::string &value)
    {
        if (type)
            cell.append_attribute("t").set_value(type);
        xml::insertChild(cell, xml::siblingName(cell, "v"), cellChildOrder).text().set(value.c_str());
    }

    void setText(pugi::xml_node cell, const QString &text)
    {
        if (m_sharedStringsName.isEmpty()) {
            cell.append_attribute("t").set_value("inlineStr");
            pugi::xml_node is = xml::insertChild(cell, xml::siblingName(cell, "is"), cellChildOrder);
            setStringElement(is.append_child(xml::siblingName(cell, "t").c_str()), text);
            return;
        }
        if (!m_sharedStrings) {
            m_sharedStrings = &m_package.xml(m_sharedStringsName);
            for (pugi::xml_node item : m_sharedStrings->root().children()) {
                if (item.type() == pugi::node_element && xml::localName(item) == "si")
                    ++m_uniqueCount;
            }
        }
        // A new item for each new text, shared by the cells written with it: an item that was
        // there before may carry runs or phonetic text of its own.
        auto item = m_addedItems.constFind(text);
        if (item == m_addedItems.cend()) {
            item = m_addedItems.insert(text, m_uniqueCount);
            pugi::xml_node root = m_sharedStrings->root();
            pugi::xml_node si = root.append_child(xml::siblingName(root, "si").c_str());
            setStringElement(si.append_child(xml::siblingName(root, "t").c_str()), text);
            ++m_uniqueCount;
        }
        ++m_addedStrings;
        setValue(cell, "s", std::to_string(*item));
    }

    pugi::xml_node cellXfs()
    {
        if (m_stylesName.isEmpty())
            return {};
        return xml::child(m_package.xml(m_stylesName).root(), "cellXfs");
    }

    // The cell style at an index; the list is read once, and a style added joins it.
    pugi::xml_node xf(int index)
    {
        if (!m_xfsRead) {
            m_xfsRead = true;
            for (pugi::xml_node node : cellXfs().children()) {
                if (node.type() == pugi::node_element)
                    m_xfs.push_back(node);
            }
        }
        return index >= 0 && index < int(m_xfs.size()) ? m_xfs[size_t(index)] : pugi::xml_node();
    }

    int numberFormatOf(int style) { return xf(style).attribute("numFmtId").as_int(0); }

    // A style like `style` with the number format (unless -1) or the quote prefix set,
    // appended to the styles once and reused for later cells.
    int styleWith(int style, int numberFormat, bool quotePrefix)
    {
        const QString key = QStringLiteral("%1/%2/%3").arg(style).arg(numberFormat).arg(quotePrefix);
        if (const auto found = m_newStyles.constFind(key); found != m_newStyles.cend())
            return *found;
        pugi::xml_node list = cellXfs();
        if (!list)
            return style;
        pugi::xml_node base = xf(style);
        pugi::xml_node copy = base ? list.append_copy(base) : list.append_child(xml::siblingName(list, "xf").c_str());
        auto set = [&](const char *name, const char *value) {
            pugi::xml_attribute attribute = copy.attribute(name);
            if (!attribute)
                attribute = copy.append_attribute(name);
            attribute.set_value(value);
        };
        if (numberFormat >= 0) {
            set("numFmtId", std::to_string(numberFormat).c_str());
            set("applyNumberFormat", "1");
        }
        if (quotePrefix)
            set("quotePrefix", "1");
        m_xfs.push_back(copy);
        const int count = int(m_xfs.size());
        if (pugi::xml_attribute countAttribute = list.attribute("count"))
            countAttribute.set_value(count);
        m_package.xml(m_stylesName).markDirty();
        m_newStyles.insert(key, count - 1);
        return count - 1;
    }

    void extendDimension(qint64 row, qint64 column)
    {
        pugi::xml_node dimension = xml::child(m_sheet.root(), "dimension");
        if (!dimension)
            return;
        pugi::xml_attribute ref = dimension.attribute("ref");
        const std::string text = ref.value();
        const size_t colon = text.find(':');
        std::optional<CellRef> first = parseRef(std::string_view(text).substr(0, colon));
        std::optional<CellRef> last = colon == std::string::npos ? first : parseRef(std::string_view(text).substr(colon + 1));
        if (!first || !last)
            return;
        first = CellRef{std::min(first->row, row), std::min(first->column, column)};
        last = CellRef{std::max(last->row, row), std::max(last->column, column)};
        std::string updated = cellName(first->row, first->column);
        if (first->row != last->row || first->column != last->column)
            updated += ":" + cellName(last->row, last->column);
        if (updated != text)
            ref.set_value(updated.c_str());
    }

    // Asks for a full recalculation on load; when formulas were written or overwritten, the
    // calculation chain, which lists formula cells, is dropped for the spreadsheet to rebuild.
    void requireRecalculation(bool dropCalcChain)
    {
        const QString workbookName = m_document.model().partName();
        for (const Relationship &relationship : m_package.relationships(workbookName)) {
            if (!dropCalcChain)
                break;
            if (!rel::isType(relationship.type, calcChainType))
                continue;
            m_package.removeRelationship(workbookName, relationship.id);
            if (!relationship.partName.isEmpty() && m_package.hasPart(relationship.partName)) {
                m_package.removePart(relationship.partName);
                m_package.removeOverride(relationship.partName);
            }
        }
        XmlPart &workbook = m_package.xml(workbookName);
        pugi::xml_node root = workbook.root();
        pugi::xml_node calcPr = xml::child(root, "calcPr");
        if (!calcPr)
            calcPr = xml::insertChild(root, xml::siblingName(root, "calcPr"), order::workbook);
        if (!isTrue(calcPr.attribute("fullCalcOnLoad")))
            xml::insertAttribute(calcPr, "fullCalcOnLoad", calcPrAttributeOrder).set_value("1");
        workbook.markDirty();
    }

    PackageDocument &m_document;
    OpcPackage &m_package;
    XmlPart &m_sheet;
    pugi::xml_node m_sheetData;
    EntryContext m_context;
    QString m_sharedStringsName;
    QString m_stylesName;
    XmlPart *m_sharedStrings = nullptr;
    long long m_uniqueCount = 0;
    long long m_addedStrings = 0; // cells given a shared string
    QHash<QString, long long> m_addedItems; // index of each item added, by text
    QHash<QString, int> m_newStyles;
    bool m_formulasChanged = false;
    bool m_written = false;
    bool m_arraysRead = false;
    std::vector<std::pair<CellRef, CellRef>> m_arrays;
    bool m_xfsRead = false;
    std::vector<pugi::xml_node> m_xfs; // cellXfs, in order
    bool m_rowsIndexed = false;
    bool m_unnumberedRows = false;
    std::map<qint64, pugi::xml_node> m_rows; // by row number
};

} // namespace

void setCellValues(PackageDocument &document, const SheetEntry &sheet, const std::vector<Worksheet::CellWrite> &writes)
{
    if (sheet.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value on ") + sheet.name);
    Writer writer(document, sheet);
    std::optional<EngineError> failure;
    for (const Worksheet::CellWrite &write : writes) {
        try {
            writer.write(write);
        } catch (const EngineError &error) {
            if (error.code() == ErrorCode::Damaged)
                throw;
            failure = error;
        }
    }
    writer.finish();
    if (failure)
        throw *failure;
}

} // namespace gm::xlsx
