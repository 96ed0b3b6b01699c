#include "automation/xlsx/CellValues.h"

#include "automation/EngineError.h"
#include "automation/cells/TypedEntry.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SharedStringTable.h"
#include "automation/xlsx/SheetDataText.h"
#include "automation/xlsx/XmlTree.h"

#include <QDate>
#include <QHash>

#include <cctype>
#include <charconv>
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>

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

void setStringElement(pugi::xml_node t, const QString &text)
{
    const std::string value = storedItemText(text);
    if (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()))
        t.append_attribute("xml:space").set_value("preserve");
    t.text().set(value.c_str());
}

// Text as a string item stores it, escaped for XML.
QByteArray itemText(const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n') || c == '&' || c == '<' || c == '>' || c == '_')
            return escapedForXml(storedItemText(text));
    }
    return utf8;
}

// The array formula ranges of a formula's `t` and `ref`, added to `arrays` when it is one.
void addArrayRange(std::string_view kind, std::string_view ref, std::vector<std::pair<CellRef, CellRef>> &arrays)
{
    if (kind != "array" && kind != "dataTable")
        return;
    const size_t colon = ref.find(':');
    const std::optional<CellRef> first = parseRef(ref.substr(0, colon));
    const std::optional<CellRef> last = colon == std::string_view::npos ? first : parseRef(ref.substr(colon + 1));
    if (first && last)
        arrays.push_back({*first, *last});
}

// One attribute of a start tag's attribute text: its name, and its whole text as written with
// the white space before it.
struct AttributeSpan
{
    std::string_view name;
    std::string_view span;
};

// Calls f(attribute) for each attribute of a start tag's attribute text, in order; false when
// the text cannot be read.
template<typename F> bool forEachAttribute(std::string_view text, F f)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t i = 0;
    const size_t n = text.size();
    while (true) {
        const size_t spanStart = i;
        while (i < n && isBlank(text[i]))
            ++i;
        if (i >= n)
            return true;
        const size_t nameStart = i;
        while (i < n && text[i] != '=' && !markup::isNameEnd(text[i]))
            ++i;
        const std::string_view name = text.substr(nameStart, i - nameStart);
        while (i < n && isBlank(text[i]))
            ++i;
        if (name.empty() || i >= n || text[i] != '=')
            return false;
        ++i;
        while (i < n && isBlank(text[i]))
            ++i;
        if (i >= n || (text[i] != '"' && text[i] != '\''))
            return false;
        const size_t close = text.find(text[i], i + 1);
        if (close == std::string_view::npos)
            return false;
        f(AttributeSpan{name, text.substr(spanStart, close + 1 - spanStart)});
        i = close + 1;
    }
}

std::string_view prefixOf(std::string_view qualifiedName)
{
    const size_t colon = qualifiedName.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualifiedName.substr(0, colon + 1);
}

// A dimension reference grown to cover a cell; the reference as it was when it already does
// or cannot be read.
std::string grownDimension(const std::string &text, qint64 row, qint64 column)
{
    const size_t colon = text.find(':');
    std::optional<CellRef> first = parseRef(std::string_view(text).substr(0, colon));
    std::optional<CellRef> last = colon == std::string::npos ? first : parseRef(std::string_view(text).substr(colon + 1));
    if (!first || !last)
        return text;
    first = CellRef{std::min(first->row, row), std::min(first->column, column)};
    last = CellRef{std::max(last->row, row), std::max(last->column, column)};
    std::string updated = cellName(first->row, first->column);
    if (first->row != last->row || first->column != last->column)
        updated += ":" + cellName(last->row, last->column);
    return updated;
}

// The rows of a worksheet as the writer sees them: row elements found or inserted by number,
// the array formula ranges, and the dimension.
class SheetRows
{
public:
    virtual ~SheetRows() = default;
    // The row element for a row number, inserted in order when missing. Rows are found by
    // their number wherever they stand: other writers leave them out of order. Before a row is
    // inserted, rows written without their number get it, so that theirs stays as it was.
    virtual pugi::xml_node row(qint64 number) = 0;
    virtual void extendDimension(qint64 row, qint64 column) = 0;
    // Called once after the last successful write.
    virtual void finish() = 0;

    // Whether the cell lies inside the range of an array formula anchored elsewhere.
    bool isArrayMember(qint64 row, qint64 column)
    {
        for (const auto &[first, last] : arrays()) {
            if (row >= first.row && row <= last.row && column >= first.column && column <= last.column)
                return true;
        }
        return false;
    }

protected:
    virtual const std::vector<std::pair<CellRef, CellRef>> &arrays() = 0;
};

// A sheet part already edited as a tree.
class TreeRows : public SheetRows
{
public:
    TreeRows(XmlPart &sheet, const QString &partName)
        : m_sheet(sheet), m_sheetData(xml::child(sheet.root(), "sheetData"))
    {
        if (!m_sheetData)
            throw EngineError(ErrorCode::Damaged, partName + QStringLiteral(": no sheetData"));
    }

    pugi::xml_node row(qint64 number) override
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

    void extendDimension(qint64 row, qint64 column) override
    {
        pugi::xml_node dimension = xml::child(m_sheet.root(), "dimension");
        if (!dimension)
            return;
        pugi::xml_attribute ref = dimension.attribute("ref");
        const std::string text = ref.value();
        const std::string updated = grownDimension(text, row, column);
        if (updated != text)
            ref.set_value(updated.c_str());
    }

    void finish() override { m_sheet.markDirty(); }

protected:
    const std::vector<std::pair<CellRef, CellRef>> &arrays() override
    {
        if (!m_arraysRead) {
            m_arraysRead = true;
            // A formula comes first in its cell; a walk is far cheaper than a path query.
            for (pugi::xml_node line = m_sheetData.first_child(); line; line = line.next_sibling()) {
                for (pugi::xml_node entry = line.first_child(); entry; entry = entry.next_sibling()) {
                    pugi::xml_node f = entry.first_child();
                    while (f && f.type() != pugi::node_element)
                        f = f.next_sibling();
                    if (f && xml::localName(f) == "f")
                        addArrayRange(f.attribute("t").value(), f.attribute("ref").value(), m_arrays);
                }
            }
        }
        return m_arrays;
    }

private:
    XmlPart &m_sheet;
    pugi::xml_node m_sheetData;
    bool m_arraysRead = false;
    std::vector<std::pair<CellRef, CellRef>> m_arrays;
    bool m_rowsIndexed = false;
    bool m_unnumberedRows = false;
    std::map<qint64, pugi::xml_node> m_rows; // by row number
};

// A sheet part edited in its text: its cell data is read once without a tree; only the rows
// that are written to are parsed, each on its own, and printed again in place of their text,
// and new rows are inserted before the first row with a higher number. Every other byte of
// the cell data stays as it was.
class TextRows : public SheetRows
{
public:
    TextRows(PackageDocument &document, const QString &partName)
        : m_part(document.package().sheet(partName)), m_partName(partName), m_cells(document.sheetCells(partName)),
          m_text(m_cells->text)
    {
        for (const SheetDataScan::Cell &cell : m_cells->cells) {
            if (cell.hasFormula)
                addArrayRange(cell.formulaType, cell.formulaRef, m_arrays);
        }
        for (size_t i = 0; i < m_cells->rows.size(); ++i)
            m_byNumber.emplace(m_cells->rows[i].number, i);
        const qsizetype colon = m_cells->qualifiedName.indexOf(':');
        m_rowName = (colon < 0 ? std::string() : m_cells->qualifiedName.left(colon + 1).toStdString()) + "row";
    }

    // Reads the rows that the writes to these rows will change, all in one tree: a tree per
    // row would cost more than the row.
    void prepare(const std::vector<Worksheet::CellWrite> &writes)
    {
        std::set<size_t> indices;
        bool inserts = false;
        std::vector<std::pair<size_t, qint64>> written; // row index and column of each write
        written.reserve(writes.size());
        for (const Worksheet::CellWrite &write : writes) {
            if (const auto found = m_byNumber.find(write.row); found != m_byNumber.end())
                written.emplace_back(found->second, write.column);
            else
                inserts = true;
        }
        // Rows whose writes all go to plain cells are written in their text; the others as trees.
        std::sort(written.begin(), written.end());
        for (auto group = written.begin(); group != written.end();) {
            const auto next = std::find_if(group, written.end(), [&](const auto &w) { return w.first != group->first; });
            if (!readTextCells(group->first, group, next))
                indices.insert(group->first);
            group = next;
        }
        // Writes mostly come in order already.
        auto byPlace = [](const TextCell &a, const TextCell &b) { return std::pair(a.row, a.column) < std::pair(b.row, b.column); };
        if (!std::is_sorted(m_textCells.begin(), m_textCells.end(), byPlace))
            std::sort(m_textCells.begin(), m_textCells.end(), byPlace);
        if (inserts) {
            for (const auto &[current, index] : m_byNumber) {
                if (!m_cells->rows[index].numbered)
                    indices.insert(index);
            }
        }
        if (indices.empty())
            return;
        const QByteArray &name = m_cells->qualifiedName;
        QByteArray text = '<' + name + '>';
        for (size_t index : indices) {
            const SheetDataScan::Row &row = m_cells->rows[index];
            text.append(m_text.constData() + row.start, row.end - row.start);
        }
        text += "</" + name + '>';
        m_rowsTree = std::make_unique<XmlPart>(m_partName, text);
        auto index = indices.begin();
        for (pugi::xml_node row = m_rowsTree->root().first_child(); row && index != indices.end(); row = row.next_sibling()) {
            if (row.type() == pugi::node_element)
                m_edited.emplace(*index++, row);
        }
    }

    pugi::xml_node row(qint64 number) override
    {
        if (const auto found = m_byNumber.find(number); found != m_byNumber.end())
            return edited(found->second);
        if (const auto added = m_added.find(number); added != m_added.end())
            return added->second;
        if (!m_numbered) {
            m_numbered = true;
            for (const auto &[current, index] : m_byNumber) {
                if (!m_cells->rows[index].numbered)
                    edited(index).prepend_attribute("r").set_value(current);
            }
        }
        pugi::xml_node added = rowsTree().root().append_child(m_rowName.c_str());
        added.append_attribute("r").set_value(number);
        return m_added.emplace(number, added).first->second;
    }

    void extendDimension(qint64 row, qint64 column) override
    {
        if (!m_bounds) {
            m_bounds = std::pair{CellRef{row, column}, CellRef{row, column}};
            return;
        }
        m_bounds->first = CellRef{std::min(m_bounds->first.row, row), std::min(m_bounds->first.column, column)};
        m_bounds->second = CellRef{std::max(m_bounds->second.row, row), std::max(m_bounds->second.column, column)};
    }

    // A cell of a row written in its text: the cell as read (null for a new one), its start
    // tag's attributes, the qualified name its element has or gets, and the text it replaces
    // (none for a new cell, which goes at `start`).
    struct TextCell
    {
        qint64 row = 0;
        qint64 column = 0;
        const SheetDataScan::Cell *scanned = nullptr;
        std::string_view name;
        std::string_view attributes;
        size_t rowIndex = 0;
        qint64 start = 0;
        qint64 end = 0;
    };

    // The cell at a row and column when its row is written in its text, else null.
    const TextCell *textCell(qint64 row, qint64 column) const
    {
        const auto found = std::lower_bound(m_textCells.begin(), m_textCells.end(), std::pair(row, column),
            [](const TextCell &cell, const std::pair<qint64, qint64> &key) { return std::pair(cell.row, cell.column) < key; });
        return found != m_textCells.end() && found->row == row && found->column == column ? &*found : nullptr;
    }

    // Where the writer puts the new text of text cells: a cell's text, appended from `offset`
    // on, then takes the cell's place (an empty text removes it, or adds nothing).
    std::string &cellTexts() { return m_cellTexts; }
    void setCellText(const TextCell &cell, size_t offset)
    {
        m_textEdits.push_back({cell.rowIndex, cell.start, cell.end, cell.column, offset, m_cellTexts.size() - offset});
    }

    void finish() override
    {
        if (m_edited.empty() && m_added.empty() && m_textEdits.empty())
            return;
        auto byPlace = [](const TextEdit &a, const TextEdit &b) {
            return std::tie(a.rowIndex, a.start, a.end, a.column) < std::tie(b.rowIndex, b.start, b.end, b.column);
        };
        if (!std::is_sorted(m_textEdits.begin(), m_textEdits.end(), byPlace))
            std::sort(m_textEdits.begin(), m_textEdits.end(), byPlace);
        auto nextEdit = m_textEdits.cbegin();
        // New rows, by the row they stand before (none: at the end), in order of their number.
        std::map<size_t, std::vector<pugi::xml_node>> inserted;
        for (const auto &[number, row] : m_added) {
            const auto next = m_byNumber.upper_bound(number);
            inserted[next == m_byNumber.end() ? m_cells->rows.size() : next->second].push_back(row);
        }
        // What is written anew here is checked below; the rest is text that was read.
        std::vector<std::pair<qsizetype, qsizetype>> written;
        auto printRow = [&](pugi::xml_node row, QByteArray &out) {
            const qsizetype start = out.size();
            print(row, out);
            written.emplace_back(start, out.size());
        };
        auto insertBefore = [&](size_t index, QByteArray &out) {
            if (const auto found = inserted.find(index); found != inserted.end()) {
                for (pugi::xml_node row : found->second)
                    printRow(row, out);
            }
        };
        auto text = std::make_shared<QByteArray>();
        QByteArray &out = *text;
        out.reserve(m_text.size() + 256);
        const std::vector<SheetDataScan::Row> &rows = m_cells->rows;
        if (m_cells->selfClosed) {
            out = m_text.left(m_text.lastIndexOf('/')) + '>';
            insertBefore(rows.size(), out);
            out += "</" + m_cells->qualifiedName + '>';
            written = {{0, out.size()}};
        } else {
            qint64 cursor = 0;
            for (size_t i = 0; i < rows.size(); ++i) {
                const SheetDataScan::Row &row = rows[i];
                out.append(m_text.constData() + cursor, row.start - cursor);
                insertBefore(i, out);
                if (const auto edited = m_edited.find(i); edited != m_edited.end())
                    printRow(edited->second, out);
                else if (nextEdit != m_textEdits.cend() && nextEdit->rowIndex == i)
                    nextEdit = applyEdits(row, nextEdit, out);
                else
                    out.append(m_text.constData() + row.start, row.end - row.start);
                cursor = row.end;
            }
            out.append(m_text.constData() + cursor, m_cells->endTagStart - cursor);
            insertBefore(rows.size(), out);
            out.append(m_text.constData() + m_cells->endTagStart, m_text.size() - m_cells->endTagStart);
        }
        auto check = [this](std::string_view piece) {
            if (const char *wrong = markup::checkElements(piece))
                throw EngineError(ErrorCode::SaveFailed, QStringLiteral("%1: %2 in the cells written").arg(m_partName, QLatin1String(wrong)));
        };
        for (const auto &[start, end] : written)
            check(std::string_view(out.constData() + start, size_t(end - start)));
        for (const TextEdit &edit : m_textEdits)
            check(std::string_view(m_cellTexts.data() + edit.offset, edit.size));
        m_part.replaceSkipped(std::move(text), true);
        growDimension();
    }

protected:
    const std::vector<std::pair<CellRef, CellRef>> &arrays() override { return m_arrays; }

private:
    struct TextEdit
    {
        size_t rowIndex = 0;
        qint64 start = 0;
        qint64 end = 0;
        qint64 column = 0;
        size_t offset = 0; // of the new text in m_cellTexts
        size_t size = 0;
    };

    // Reads the cells of a row that writes to the columns in [first, last) will change, and
    // where new cells go; false when the row is to be written as a tree: a row without its
    // number or written as an empty element that gets a cell, a column written twice, a cell
    // without its reference or holding more than a formula, a value and an inline string.
    template<typename Iterator> bool readTextCells(size_t index, Iterator first, Iterator last)
    {
        const SheetDataScan::Row &row = m_cells->rows[index];
        if (!row.numbered || std::adjacent_find(first, last) != last)
            return false;
        const std::string_view text(m_text.constData(), size_t(m_text.size()));
        markup::Token token;
        if (!markup::readToken(text, size_t(row.start), token) || (token.kind != markup::Kind::Start && token.kind != markup::Kind::Empty))
            return false;
        const bool rowIsEmptyElement = token.kind == markup::Kind::Empty;
        const std::string_view rowPrefix = prefixOf(token.name);
        const std::string_view newCellName
            = rowPrefix.empty() ? std::string_view("c") : std::string_view(m_cellNames.emplace_back(std::string(rowPrefix) + "c"));
        auto wanted = [&](qint64 column) {
            return std::binary_search(first, last, std::pair(index, column));
        };

        const size_t before = m_textCells.size();
        auto refuse = [&] {
            m_textCells.resize(before);
            return false;
        };
        const SheetDataScan::Cell *cells = m_cells->cells.data() + row.firstCell;
        for (size_t i = 0; i < row.cellCount; ++i) {
            const SheetDataScan::Cell &cell = cells[i];
            if (!wanted(cell.column) || textCellIn(before, cell.column))
                continue;
            if (cell.plain) {
                m_textCells.push_back({row.number, cell.column, &cell, "c", cell.attributes, index, cell.start, cell.end});
                continue;
            }
            bool numbered = false;
            if (!markup::readToken(text, size_t(cell.start), token)
                || !forEachAttribute(token.attributes, [&](const AttributeSpan &a) { numbered = numbered || a.name == "r"; }) || !numbered
                || !holdsOnlyValues(text, token, cell))
                return refuse();
            m_textCells.push_back({row.number, cell.column, &cell, token.name, token.attributes, index, cell.start, cell.end});
        }
        if (m_textCells.size() - before == size_t(last - first))
            return true;
        // New cells go before the first cell of a higher column, as the tree does it: every
        // cell of the row must then have its reference.
        if (rowIsEmptyElement)
            return refuse();
        for (size_t i = 0; i < row.cellCount; ++i) {
            if (!cells[i].plain && !attributeValueFound(cells[i].attributes, "r"))
                return refuse();
        }
        const qint64 rowEndTag = qint64(text.rfind('<', size_t(row.end - 1)));
        for (Iterator w = first; w != last; ++w) {
            const qint64 column = w->second;
            if (textCellIn(before, column))
                continue;
            qint64 at = rowEndTag;
            for (size_t i = 0; i < row.cellCount; ++i) {
                if (cells[i].column > column) {
                    at = cells[i].start;
                    break;
                }
            }
            m_textCells.push_back({row.number, column, nullptr, newCellName, {}, index, at, at});
        }
        return true;
    }

    // Whether the text cells read from `from` on include one of a column.
    bool textCellIn(size_t from, qint64 column) const
    {
        return std::any_of(m_textCells.begin() + qsizetype(from), m_textCells.end(), [&](const TextCell &c) { return c.column == column; });
    }

    static bool attributeValueFound(std::string_view attributes, std::string_view name)
    {
        bool found = false;
        attributeValue(attributes, name, &found);
        return found;
    }

    // Whether a cell's element, whose start tag `token` holds, has no children but <f>, <v>
    // and <is> and no text beside them (for cells the scan did not find plain).
    static bool holdsOnlyValues(std::string_view text, markup::Token token, const SheetDataScan::Cell &cell)
    {
        if (token.kind == markup::Kind::Empty)
            return true;
        if (token.kind != markup::Kind::Start)
            return false;
        size_t p = token.end;
        while (true) {
            const size_t next = text.find('<', p);
            if (next == std::string_view::npos || next >= size_t(cell.end))
                return false;
            for (size_t i = p; i < next; ++i) {
                if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
                    return false;
            }
            if (!markup::readToken(text, next, token))
                return false;
            if (token.kind == markup::Kind::End)
                return token.end == size_t(cell.end);
            if (token.kind == markup::Kind::Other)
                return false;
            const std::string_view local = markup::localName(token.name);
            if (local != "f" && local != "v" && local != "is")
                return false;
            if (token.kind == markup::Kind::Start && markup::skipElement(text, token))
                return false;
            p = token.end;
        }
    }

    // A row's text with its cells' edits applied, in order of place (new cells by column);
    // returns the first edit of a later row.
    std::vector<TextEdit>::const_iterator applyEdits(const SheetDataScan::Row &row, std::vector<TextEdit>::const_iterator edit, QByteArray &out) const
    {
        const size_t index = edit->rowIndex;
        qint64 cursor = row.start;
        for (; edit != m_textEdits.cend() && edit->rowIndex == index; ++edit) {
            out.append(m_text.constData() + cursor, edit->start - cursor);
            out.append(m_cellTexts.data() + edit->offset, qsizetype(edit->size));
            cursor = edit->end;
        }
        out.append(m_text.constData() + cursor, row.end - cursor);
        return edit;
    }

    XmlPart &rowsTree()
    {
        if (!m_rowsTree)
            m_rowsTree = std::make_unique<XmlPart>(m_partName, '<' + m_cells->qualifiedName + "/>");
        return *m_rowsTree;
    }

    // A row of the sheet, read into the tree of rows when it was not yet.
    pugi::xml_node edited(size_t index)
    {
        auto found = m_edited.find(index);
        if (found == m_edited.end()) {
            const SheetDataScan::Row &row = m_cells->rows[index];
            const XmlPart &part = *m_extraRows.emplace_back(
                std::make_unique<XmlPart>(m_partName, m_text.mid(row.start, row.end - row.start)));
            found = m_edited.emplace(index, part.root()).first;
        }
        return found->second;
    }

    static void print(pugi::xml_node row, QByteArray &out)
    {
        struct Writer : pugi::xml_writer
        {
            QByteArray &out;
            explicit Writer(QByteArray &target) : out(target) { }
            void write(const void *data, size_t size) override { out.append(static_cast<const char *>(data), qsizetype(size)); }
        } writer(out);
        row.print(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    }

    void growDimension()
    {
        const QByteArray element = m_part.element("dimension");
        if (element.isEmpty() || !m_bounds)
            return;
        const qsizetype close = element.indexOf('>');
        const qsizetype nameEnd = element.indexOf(' ');
        if (close < 0 || nameEnd < 0 || nameEnd > close)
            return;
        const std::string_view attributes(element.constData() + nameEnd, size_t(close - nameEnd));
        bool found = false;
        const std::string_view ref = attributeValue(attributes, "ref", &found);
        if (!found)
            return;
        const std::string text(ref);
        std::string updated = grownDimension(text, m_bounds->first.row, m_bounds->first.column);
        updated = grownDimension(updated, m_bounds->second.row, m_bounds->second.column);
        if (updated == text)
            return;
        const qsizetype at = qsizetype(ref.data() - element.constData());
        QByteArray changed = element;
        changed.replace(at, qsizetype(ref.size()), QByteArray::fromStdString(updated));
        m_part.setElement("dimension", changed, {});
    }

    SplicedXmlPart &m_part;
    QString m_partName;
    std::shared_ptr<const SheetCells> m_cells; // the sheetData element as read
    const QByteArray &m_text;
    std::string m_rowName;
    std::map<qint64, size_t> m_byNumber; // the first row of each number
    std::unique_ptr<XmlPart> m_rowsTree; // the rows written to, and the new ones
    std::vector<std::unique_ptr<XmlPart>> m_extraRows; // rows read one by one
    std::map<size_t, pugi::xml_node> m_edited; // by row index
    std::map<qint64, pugi::xml_node> m_added; // by row number
    bool m_numbered = false;
    std::vector<std::pair<CellRef, CellRef>> m_arrays;
    std::optional<std::pair<CellRef, CellRef>> m_bounds; // of the cells written
    std::vector<TextCell> m_textCells; // by row and column once prepared
    std::vector<TextEdit> m_textEdits;
    std::string m_cellTexts;
    std::deque<std::string> m_cellNames; // qualified cell names of rows with a prefix
};

class Writer
{
public:
    Writer(PackageDocument &document, const SheetEntry &sheet, const std::vector<Worksheet::CellWrite> &writes)
        : m_document(document), m_package(document.package())
    {
        if (m_package.editedAsTree(sheet.partName)) {
            m_rows = std::make_unique<TreeRows>(m_package.xml(sheet.partName), sheet.partName);
        } else {
            auto rows = std::make_unique<TextRows>(document, sheet.partName);
            rows->prepare(writes);
            m_textRows = rows.get();
            m_rows = std::move(rows);
        }
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
        if (m_textRows) {
            if (const TextRows::TextCell *cell = m_textRows->textCell(write.row, write.column)) {
                writeText(write, *cell);
                return;
            }
        }
        pugi::xml_node row = m_rows->row(write.row);
        pugi::xml_node cell = cellNode(row, write.row, write.column);
        const pugi::xml_node formula = xml::child(cell, "f");
        if (formula) {
            const std::string_view kind = formula.attribute("t").value();
            if (kind == "array" || kind == "dataTable")
                throw EngineError(ErrorCode::ArrayFormulaPart, QString::fromStdString(cellName(write.row, write.column)));
            if (kind == "shared" && formula.attribute("ref"))
                throw EngineError(ErrorCode::SharedFormulaAnchor, QString::fromStdString(cellName(write.row, write.column)));
        }
        if (m_rows->isArrayMember(write.row, write.column))
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
        m_rows->extendDimension(write.row, write.column);
        m_written = true;
    }

    // The same write as write(), to a cell whose row is kept as text: the cell's element is
    // written anew, its other attributes kept as they were.
    void writeText(const Worksheet::CellWrite &write, const TextRows::TextCell &target)
    {
        const SheetDataScan::Cell *cell = target.scanned;
        if (cell && cell->hasFormula) {
            if (cell->formulaType == "array" || cell->formulaType == "dataTable")
                throw EngineError(ErrorCode::ArrayFormulaPart, QString::fromStdString(cellName(write.row, write.column)));
            if (cell->formulaType == "shared" && !cell->formulaRef.empty())
                throw EngineError(ErrorCode::SharedFormulaAnchor, QString::fromStdString(cellName(write.row, write.column)));
        }
        if (m_rows->isArrayMember(write.row, write.column))
            throw EngineError(ErrorCode::ArrayFormulaPart, QString::fromStdString(cellName(write.row, write.column)));

        const int style = cell ? cell->style : 0;
        EntryContext context = m_context;
        context.cellIsText = numberFormatOf(style) == 49;
        const TypedEntry entry = parseTypedEntry(write.text, context);
        if (cell && cell->hasFormula)
            m_formulasChanged = true;

        int newStyle = style;
        if (entry.numberFormatId >= 0 && numberFormatOf(style) == 0)
            newStyle = styleWith(style, entry.numberFormatId, false);
        if (entry.quotePrefix)
            newStyle = styleWith(newStyle, -1, true);

        // The start tag: the attributes as written but the value type's, the style set.
        const std::string_view name = target.name;
        const std::string_view prefix = prefixOf(name);
        std::string &text = m_textRows->cellTexts();
        const size_t offset = text.size();
        auto add = [&text](std::string_view part) { text.append(part); };
        auto addStyle = [&] {
            add(" s=\"");
            add(std::to_string(newStyle));
            add("\"");
        };
        text += '<';
        add(name);
        bool hasStyle = false;
        if (cell) {
            // The start tag was read when the row was prepared.
            bool hadStyle = false;
            forEachAttribute(target.attributes, [&](const AttributeSpan &a) { hadStyle = hadStyle || a.name == "s"; });
            forEachAttribute(target.attributes, [&](const AttributeSpan &attribute) {
                if (attribute.name == "t" || attribute.name == "cm" || attribute.name == "vm")
                    return;
                if (attribute.name == "s" && newStyle != style)
                    addStyle();
                else
                    add(attribute.span);
                hasStyle = hasStyle || attribute.name == "s";
                if (attribute.name == "r" && !hadStyle && newStyle != style) {
                    addStyle();
                    hasStyle = true;
                }
            });
        } else {
            add(" r=\"");
            add(cellName(write.row, write.column));
            add("\"");
            if (newStyle != style) {
                addStyle();
                hasStyle = true;
            }
        }

        // The value, in the element it goes in (with the cell's prefix).
        auto open = [&](std::string_view element) {
            text += '<';
            add(prefix);
            add(element);
            text += '>';
        };
        auto close = [&](std::string_view element) {
            add("</");
            add(prefix);
            add(element);
            text += '>';
        };
        auto addBytes = [&](const QByteArray &bytes) { text.append(bytes.constData(), size_t(bytes.size())); };
        // Cells without a prefix, nearly all, take their markup in whole pieces.
        const bool plain = prefix.empty();
        auto valueElement = [&](const char *type, std::string_view value) {
            if (type) {
                add(" t=\"");
                add(type);
                add("\"");
            }
            if (plain) {
                add("><v>");
                add(value);
                add("</v></c>");
                return;
            }
            text += '>';
            open("v");
            add(value);
            close("v");
        };
        switch (entry.type) {
        case TypedEntry::Type::Empty:
            if (!hasStyle)
                text.resize(offset); // a cell without a style or a value is left out, as the tree does it
            else
                add("/>");
            break;
        case TypedEntry::Type::Number:
            valueElement(nullptr, numberText(entry.number));
            break;
        case TypedEntry::Type::Boolean:
            valueElement("b", entry.number != 0 ? "1" : "0");
            break;
        case TypedEntry::Type::Error:
            valueElement("e", escapedForXml(entry.text.toStdString()).toStdString());
            break;
        case TypedEntry::Type::Formula:
            text += '>';
            open("f");
            addBytes(escapedForXml(entry.text.toStdString()));
            close("f");
            m_formulasChanged = true;
            break;
        case TypedEntry::Type::Text:
            if (const std::optional<long long> item = sharedString(entry.text)) {
                valueElement("s", std::to_string(*item));
            } else if (plain) {
                const bool preserve = !entry.text.isEmpty() && (entry.text.front().isSpace() || entry.text.back().isSpace());
                add(preserve ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">" : " t=\"inlineStr\"><is><t>");
                addBytes(itemText(entry.text));
                add("</t></is></c>");
            } else {
                add(" t=\"inlineStr\">");
                open("is");
                text += '<';
                add(prefix);
                const bool preserve = !entry.text.isEmpty() && (entry.text.front().isSpace() || entry.text.back().isSpace());
                add(preserve ? "t xml:space=\"preserve\">" : "t>");
                addBytes(itemText(entry.text));
                close("t");
                close("is");
            }
            break;
        }
        const bool closed = plain && (entry.type == TypedEntry::Type::Number || entry.type == TypedEntry::Type::Boolean
                                         || entry.type == TypedEntry::Type::Error || entry.type == TypedEntry::Type::Text);
        if (entry.type != TypedEntry::Type::Empty && !closed) {
            add("</");
            add(name);
            text += '>';
        }
        m_textRows->setCellText(target, offset);
        m_rows->extendDimension(write.row, write.column);
        m_written = true;
    }

    void finish()
    {
        if (m_table)
            m_document.storeSharedStrings();
        if (m_sharedStrings) {
            pugi::xml_node root = m_sharedStrings->root();
            root.attribute("uniqueCount").set_value(m_uniqueCount);
            if (pugi::xml_attribute count = root.attribute("count"))
                count.set_value(count.as_llong(0) + m_addedStrings);
            m_sharedStrings->markDirty();
        }
        // Formulas elsewhere may depend on the new values: their stored results are stale.
        if (m_written) {
            m_rows->finish();
            requireRecalculation(m_formulasChanged);
        }
    }

private:
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

    void setValue(pugi::xml_node cell, const char *type, const std::string &value)
    {
        if (type)
            cell.append_attribute("t").set_value(type);
        xml::insertChild(cell, xml::siblingName(cell, "v"), cellChildOrder).text().set(value.c_str());
    }

    void setText(pugi::xml_node cell, const QString &text)
    {
        if (const std::optional<long long> item = sharedString(text)) {
            setValue(cell, "s", std::to_string(*item));
            return;
        }
        cell.append_attribute("t").set_value("inlineStr");
        pugi::xml_node is = xml::insertChild(cell, xml::siblingName(cell, "is"), cellChildOrder);
        setStringElement(is.append_child(xml::siblingName(cell, "t").c_str()), text);
    }

    // The shared-string item a cell written with `text` refers to, counted as one more
    // reference; nothing when the workbook has no table and the text goes in the cell.
    std::optional<long long> sharedString(const QString &text)
    {
        if (m_sharedStringsName.isEmpty())
            return std::nullopt;
        if (!m_sharedStrings && !m_table)
            m_table = m_document.sharedStrings();
        if (m_table) {
            // A new item for each new text, shared by the cells written with it: an item that was
            // there before may carry runs or phonetic text of its own.
            auto item = m_addedItems.constFind(text);
            if (item == m_addedItems.cend())
                item = m_addedItems.insert(text, m_table->append(text));
            m_table->addReferences(1);
            return *item;
        }
        if (!m_sharedStrings) {
            m_sharedStrings = &m_package.xml(m_sharedStringsName);
            for (pugi::xml_node item : m_sharedStrings->root().children()) {
                if (item.type() == pugi::node_element && xml::localName(item) == "si")
                    ++m_uniqueCount;
            }
        }
        auto item = m_addedItems.constFind(text);
        if (item == m_addedItems.cend()) {
            item = m_addedItems.insert(text, m_uniqueCount);
            pugi::xml_node root = m_sharedStrings->root();
            pugi::xml_node si = root.append_child(xml::siblingName(root, "si").c_str());
            setStringElement(si.append_child(xml::siblingName(root, "t").c_str()), text);
            ++m_uniqueCount;
        }
        ++m_addedStrings;
        return *item;
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
    std::unique_ptr<SheetRows> m_rows;
    TextRows *m_textRows = nullptr; // m_rows when the sheet is edited in its text
    EntryContext m_context;
    QString m_sharedStringsName;
    QString m_stylesName;
    SharedStringTable *m_table = nullptr; // the table read as text
    XmlPart *m_sharedStrings = nullptr; // the table when it is already edited as a tree
    long long m_uniqueCount = 0;
    long long m_addedStrings = 0; // cells given a shared string
    QHash<QString, long long> m_addedItems; // index of each item added, by text
    QHash<QString, int> m_newStyles;
    bool m_formulasChanged = false;
    bool m_written = false;
    bool m_xfsRead = false;
    std::vector<pugi::xml_node> m_xfs; // cellXfs, in order
};

} // namespace

void setCellValues(PackageDocument &document, const SheetEntry &sheet, const std::vector<Worksheet::CellWrite> &writes)
{
    if (sheet.kind != SheetKind::Worksheet)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("Range.Value on ") + sheet.name);
    Writer writer(document, sheet, writes);
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
