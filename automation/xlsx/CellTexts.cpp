#include "automation/xlsx/CellTexts.h"

#include "automation/cells/NumberFormat.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SheetDataText.h"
#include "automation/xlsx/XmlTree.h"

#include <QHash>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace gm::xlsx {

namespace {

const QString sharedStringsType
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
const QString stylesType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");

bool isTrue(pugi::xml_attribute attribute)
{
    const std::string_view value = attribute.value();
    return value == "1" || value == "true";
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Undoes the _xHHHH_ escapes of string items.
QString unescaped(const QString &text)
{
    // Most texts hold no "_x": a search for the character is far cheaper than for the pair.
    qsizetype underscore = text.indexOf(u'_');
    while (underscore >= 0 && (underscore + 1 >= text.size() || text.at(underscore + 1) != u'x'))
        underscore = text.indexOf(u'_', underscore + 1);
    if (underscore < 0)
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'_' && i + 6 < text.size() && text.at(i + 1) == u'x' && text.at(i + 6) == u'_') {
            int code = 0;
            bool hex = true;
            for (qsizetype k = i + 2; k < i + 6; ++k) {
                const int digit = hexValue(text.at(k));
                hex = hex && digit >= 0;
                code = code * 16 + digit;
            }
            if (hex) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

// Whether General shows a number stored as `raw` as `raw` itself: a plain decimal of at most
// 11 characters besides the sign, with no exponent, no leading zeros and no trailing zeros in
// its fraction. Most stored numbers are such, and need neither reading nor rendering.
bool isShownAsStored(std::string_view raw)
{
    const size_t sign = !raw.empty() && raw.front() == '-' ? 1 : 0;
    const std::string_view body = raw.substr(sign);
    if (body.empty() || body.size() > 11 || (body == "0" && sign))
        return false;
    size_t i = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9')
        ++i;
    if (i == 0 || (body[0] == '0' && i > 1))
        return false;
    if (i < body.size()) {
        if (body[i] != '.' || i + 1 == body.size() || body.back() == '0')
            return false;
        for (size_t k = i + 1; k < body.size(); ++k) {
            if (body[k] < '0' || body[k] > '9')
                return false;
        }
    }
    return true;
}

// The text General shows for a number stored as `raw`, when that is `raw` itself.
std::optional<QString> generalAsStored(std::string_view raw)
{
    if (!isShownAsStored(raw))
        return std::nullopt;
    return QString::fromLatin1(raw.data(), qsizetype(raw.size()));
}

// A whole number written as the text of a value, `none` when it is empty; leading blanks and a
// sign are read, and whatever follows the digits is left alone.
long long integerValue(std::string_view text, long long none)
{
    // Most are a few plain digits.
    if (!text.empty() && text.size() <= 9) {
        long long number = 0;
        size_t i = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            number = number * 10 + (text[i++] - '0');
        if (i == text.size())
            return number;
    }
    const QString value = unescapedXml(text).trimmed();
    if (value.isEmpty())
        return none;
    qsizetype end = value.front() == u'-' || value.front() == u'+' ? 1 : 0;
    while (end < value.size() && value.at(end).isDigit())
        ++end;
    bool ok = false;
    const long long number = QStringView(value).left(end).toLongLong(&ok);
    return ok ? number : 0;
}

// The text of a string item: its own <t>, or its runs' <t> in order; phonetic runs left out.
QString itemText(pugi::xml_node item)
{
    QString text;
    for (pugi::xml_node child : item.children()) {
        const std::string_view name = xml::localName(child);
        if (name == "t")
            text += QString::fromUtf8(child.child_value());
        else if (name == "r")
            text += QString::fromUtf8(xml::child(child, "t").child_value());
    }
    return unescaped(text);
}

class SheetReader
{
public:
    SheetReader(PackageDocument &document, const SheetEntry &sheet)
        : m_package(document.package())
    {
        const QString workbook = document.model().partName();
        const pugi::xml_node workbookPr = xml::child(m_package.xml(workbook).root(), "workbookPr");
        m_system = isTrue(workbookPr.attribute("date1904")) ? DateSystem::Date1904 : DateSystem::Date1900;
        for (const Relationship &relationship : m_package.relationships(workbook)) {
            if (relationship.partName.isEmpty() || !m_package.hasPart(relationship.partName))
                continue;
            if (rel::isType(relationship.type, sharedStringsType)) {
                m_table = document.sharedStrings();
                if (!m_table)
                    readStrings(m_package.xml(relationship.partName).root());
            } else if (rel::isType(relationship.type, stylesType))
                readStyles(m_package.xml(relationship.partName).root());
        }
        (void)sheet;
    }

    // A text for cells whose own text lacks the character sought: one shared string, not
    // one made per cell.
    void seek(QChar sought)
    {
        m_sought = sought;
        m_standIn = sought == u'#' ? QStringLiteral("0") : QStringLiteral("#");
    }

    QString text(const SheetDataScan::Cell &cell)
    {
        const std::string_view type = cell.type;
        CellValue value;
        // General shows a text as it is, with no format to look up.
        auto shownText = [&](QString text) {
            if (isGeneral(cell.style))
                return text;
            return format(cell.style).format(CellValue::ofText(std::move(text)), m_system);
        };
        if (type == "inlineStr") {
            return shownText(unescaped(itemContentText(cell.inlineItem)));
        } else if (!cell.hasValue) {
            return {};
        } else if (type == "s") {
            return shownText(sharedString(integerValue(cell.value, -1)));
        } else if (type == "str") {
            return shownText(unescaped(unescapedXml(cell.value)));
        } else if (type == "b") {
            value = CellValue::ofBoolean(integerValue(cell.value, 0) != 0);
        } else if (type == "e") {
            value = CellValue::ofError(unescapedXml(cell.value));
        } else if (type == "d") {
            return unescapedXml(cell.value);
        } else {
            const bool plain = cell.value.find_first_of("&<") == std::string_view::npos;
            if (isGeneral(cell.style) && plain) {
                if (m_sought && isShownAsStored(cell.value)
                    && (m_sought->unicode() >= 0x80 || cell.value.find(char(m_sought->unicode())) == std::string_view::npos))
                    return m_standIn;
                if (std::optional<QString> shown = generalAsStored(cell.value))
                    return *shown;
            }
            const QByteArray raw = plain ? QByteArray(cell.value.data(), qsizetype(cell.value.size()))
                                         : unescapedXml(cell.value).toUtf8();
            value = CellValue::ofNumber(std::strtod(raw.constData(), nullptr));
        }
        return format(cell.style).format(value, m_system);
    }
private:
    void readStrings(pugi::xml_node root)
    {
        for (pugi::xml_node item : root.children()) {
            if (item.type() == pugi::node_element && xml::localName(item) == "si")
                m_items.push_back(item);
        }
    }

    QString sharedString(long long index)
    {
        if (m_table) {
            if (index < 0 || index >= m_table->size())
                return {};
            if (m_strings.empty())
                m_strings.resize(size_t(m_table->size()));
            std::optional<QString> &text = m_strings[size_t(index)];
            if (!text)
                text = unescaped(m_table->text(index));
            return *text;
        }
        if (index < 0 || index >= qsizetype(m_items.size()))
            return {};
        if (m_strings.empty())
            m_strings.resize(m_items.size());
        std::optional<QString> &text = m_strings[size_t(index)];
        if (!text)
            text = itemText(m_items[size_t(index)]);
        return *text;
    }

    void readStyles(pugi::xml_node root)
    {
        m_styleCodes = styleFormatCodes(root);
        for (const QString &code : m_styleCodes)
            m_generalStyles.push_back(code.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0);
    }

    bool isGeneral(int style) const
    {
        if (style < 0 || style >= int(m_styleCodes.size()))
            return true; // shown with the built-in General, as format() does
        return m_generalStyles[size_t(style)];
    }

    const NumberFormat &format(int style)
    {
        if (style < 0 || style >= int(m_styleCodes.size()))
            return m_formats.builtIn(0);
        return m_formats.format(m_styleCodes[size_t(style)]);
    }

    OpcPackage &m_package;
    std::optional<QChar> m_sought;
    QString m_standIn;
    DateSystem m_system = DateSystem::Date1900;
    // The items of the shared-string table, each read when a cell first shows it: a table
    // often holds far more text than the cells in view use. The table is read as text, or
    // from its tree when it is already edited as one.
    SharedStringTable *m_table = nullptr;
    std::vector<pugi::xml_node> m_items;
    std::vector<std::optional<QString>> m_strings;
    std::vector<QString> m_styleCodes;
    std::vector<bool> m_generalStyles; // by style: its format is General
    NumberFormatCache m_formats;
};

} // namespace

std::optional<CellBounds> usedRange(PackageDocument &document, const SheetEntry &sheet)
{
    const std::shared_ptr<const SheetCells> cells = document.sheetCells(sheet.partName);
    std::optional<CellBounds> bounds;
    auto include = [&](qint64 row, qint64 column) {
        if (!bounds) {
            bounds = CellBounds{row, row, column, column};
            return;
        }
        bounds->firstRow = std::min(bounds->firstRow, row);
        bounds->lastRow = std::max(bounds->lastRow, row);
        bounds->firstColumn = std::min(bounds->firstColumn, column);
        bounds->lastColumn = std::max(bounds->lastColumn, column);
    };
    for (const SheetDataScan::Row &row : cells->rows) {
        for (size_t i = row.firstCell; i < row.firstCell + row.cellCount; ++i)
            include(row.number, cells->cells[i].column);
        if (row.cellCount == 0 && row.counts)
            include(row.number, bounds ? bounds->firstColumn : 1);
    }
    return bounds;
}

std::vector<QString> displayedTexts(PackageDocument &document, const SheetEntry &sheet, const CellBounds &bounds)
{
    return displayedTexts(document, sheet, bounds, std::nullopt);
}

std::vector<QString> displayedTexts(
    PackageDocument &document, const SheetEntry &sheet, const CellBounds &bounds, std::optional<QChar> sought)
{
    std::vector<QString> texts(size_t(bounds.rowCount() * bounds.columnCount()));
    if (texts.empty())
        return texts;
    SheetReader reader(document, sheet);
    if (sought)
        reader.seek(*sought);
    const std::shared_ptr<const SheetCells> cells = document.sheetCells(sheet.partName);
    for (const SheetDataScan::Row &row : cells->rows) {
        // A row outside the bounds, or a cell beyond the last column, ends the row's reading.
        for (size_t i = row.firstCell; i < row.firstCell + row.cellCount; ++i) {
            const SheetDataScan::Cell &cell = cells->cells[i];
            if (cell.row < bounds.firstRow || cell.row > bounds.lastRow || cell.column > bounds.lastColumn)
                break;
            if (cell.column >= bounds.firstColumn)
                texts[size_t((cell.row - bounds.firstRow) * bounds.columnCount() + cell.column - bounds.firstColumn)]
                    = reader.text(cell);
        }
    }
    return texts;
}

std::vector<QString> styleFormatCodes(pugi::xml_node stylesRoot)
{
    QHash<int, QString> codes;
    for (pugi::xml_node numFmt : xml::child(stylesRoot, "numFmts").children()) {
        if (numFmt.type() == pugi::node_element)
            codes.insert(numFmt.attribute("numFmtId").as_int(), QString::fromUtf8(numFmt.attribute("formatCode").value()));
    }
    std::vector<QString> result;
    for (pugi::xml_node xf : xml::child(stylesRoot, "cellXfs").children()) {
        if (xf.type() != pugi::node_element)
            continue;
        const int id = xf.attribute("numFmtId").as_int(0);
        result.push_back(codes.contains(id) ? codes.value(id) : builtInFormatCode(id));
    }
    return result;
}

} // namespace gm::xlsx
