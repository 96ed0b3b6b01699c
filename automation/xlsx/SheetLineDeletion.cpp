#include "automation/xlsx/SheetLineDeletion.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SheetObjects.h"
#include "automation/xlsx/SheetRowsColumns.h"
#include "automation/xlsx/SheetStructure.h"
#include "automation/xlsx/XmlPart.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;
using formula::Area;
using formula::LineDeletion;

const QString pivotTableRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/pivotTable");
const QString tableRelationship = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/table");
const QString commentsRelationship
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/comments");
const QString threadedCommentsRelationship
    = QStringLiteral("http://schemas.microsoft.com/office/2017/10/relationships/threadedComment");

using xml::children;

QString text(pugi::xml_attribute attribute)
{
    return QString::fromUtf8(attribute.value());
}

void setAttribute(pugi::xml_node node, const char *name, const QString &value)
{
    pugi::xml_attribute attribute = node.attribute(name);
    if (!attribute)
        attribute = node.append_attribute(name);
    attribute.set_value(value.toUtf8().constData());
}

// A space-separated list of ranges (sqref), each moved; ranges that are gone are left out.
QString movedRanges(const QString &ranges, const LineDeletion &deletion)
{
    QStringList kept;
    for (const QString &range : ranges.split(u' ', Qt::SkipEmptyParts)) {
        const std::optional<Area> area = formula::parseArea(range);
        if (!area) {
            kept.append(range);
            continue;
        }
        if (const std::optional<Area> moved = formula::movedArea(*area, deletion))
            kept.append(formula::areaText(*moved));
    }
    return kept.join(u' ');
}

bool onAxis(const Area &area, const LineDeletion &deletion, qint64 *first, qint64 *last)
{
    *first = deletion.columns ? area.firstColumn : area.firstRow;
    *last = deletion.columns ? area.lastColumn : area.lastRow;
    return *last >= deletion.first && *first <= deletion.last;
}

// Whether the deletion takes part of the area but not all of it, on its axis.
bool cutsPart(const Area &area, const LineDeletion &deletion)
{
    qint64 first = 0;
    qint64 last = 0;
    return onAxis(area, deletion, &first, &last) && (first < deletion.first || last > deletion.last);
}

// The first cell of a list of ranges that the deletion leaves, as it is addressed before the
// deletion: where a formula written for the list's first cell is anchored afterwards.
std::optional<std::pair<qint64, qint64>> firstRemainingCell(const QString &ranges, const LineDeletion &deletion)
{
    for (const QString &range : ranges.split(u' ', Qt::SkipEmptyParts)) {
        const std::optional<Area> area = formula::parseArea(range);
        if (!area || !formula::movedArea(*area, deletion))
            continue;
        qint64 row = area->firstRow;
        qint64 column = area->firstColumn;
        qint64 &line = deletion.columns ? column : row;
        if (deletion.first <= line && line <= deletion.last)
            line = deletion.last + 1;
        return std::pair{row, column};
    }
    return std::nullopt;
}

std::optional<std::pair<qint64, qint64>> topLeft(const QString &ranges)
{
    const QStringList list = ranges.split(u' ', Qt::SkipEmptyParts);
    if (list.isEmpty())
        return std::nullopt;
    const std::optional<Area> area = formula::parseArea(list.front());
    if (!area)
        return std::nullopt;
    return std::pair{area->firstRow, area->firstColumn};
}

QString cellName(qint64 row, qint64 column)
{
    Area area;
    area.firstRow = area.lastRow = row;
    area.firstColumn = area.lastColumn = column;
    return formula::areaText(area);
}

// Reads an element taken from a sheet part as a small tree of its own.
std::unique_ptr<XmlPart> fragment(const QString &partName, const QByteArray &text)
{
    return std::make_unique<XmlPart>(partName, text);
}

// The cell data of a worksheet rewritten as it streams by, one row element at a time: on
// the sheet being cut, rows and cells move and those inside the deletion go; on every sheet,
// formulas follow the deletion. Rows that nothing changes are copied through as they are.
class CellDataRewrite : public SplicedXmlPart::Rewrite
{
public:
    CellDataRewrite(QString partName, QString host, QString sheet, LineDeletion deletion, bool moves)
        : m_partName(std::move(partName)),
          m_host(std::move(host)),
          m_sheet(std::move(sheet)),
          m_deletion(deletion),
          m_moves(moves)
    { }

    void feed(const char *data, qsizetype size, QByteArray &out) override
    {
        m_buffer.append(data, size);
        qsizetype at = 0;
        while (at < m_buffer.size()) {
            const qsizetype open = m_buffer.indexOf('<', at);
            if (open < 0) {
                out.append(m_buffer.constData() + at, m_buffer.size() - at);
                at = m_buffer.size();
                break;
            }
            out.append(m_buffer.constData() + at, open - at);
            at = open;
            const qsizetype close = m_buffer.indexOf('>', open);
            if (close < 0)
                break;
            if (m_rowStart.isEmpty()) {
                // The sheetData start tag: the rows carry its prefix.
                QByteArray name = m_buffer.mid(open + 1, close - open - 1);
                const qsizetype space = name.indexOf(' ');
                if (space >= 0)
                    name.truncate(space);
                if (name.endsWith('/'))
                    name.chop(1);
                const QByteArray prefix = name.left(name.size() - qsizetype(std::string_view("sheetData").size()));
                m_rowStart = '<' + prefix + "row";
                m_rowEnd = "</" + prefix + "row>";
            }
            if (!startsRow(open)) {
                out.append(m_buffer.constData() + open, close + 1 - open);
                at = close + 1;
                continue;
            }
            qsizetype end = close + 1;
            if (m_buffer[close - 1] != '/') {
                const qsizetype endTag = m_buffer.indexOf(m_rowEnd, close);
                if (endTag < 0)
                    break;
                end = endTag + m_rowEnd.size();
            }
            row(m_buffer.mid(open, end - open), out);
            at = end;
        }
        m_buffer.remove(0, at);
    }

    void finish(QByteArray &out) override
    {
        out += m_buffer; // markup cut short: the part was not well-formed to begin with
        m_buffer.clear();
    }

private:
    struct SharedGroup
    {
        qint64 row = 0; // the master's cell before the deletion
        qint64 column = 0;
        QString text; // the master's formula before the deletion
        std::optional<Area> range; // the group's range after the deletion
        bool anchored = false;
        qint64 anchorRow = 0; // the master's cell and formula after the deletion
        qint64 anchorColumn = 0;
        QString anchorText;
    };

    bool startsRow(qsizetype open) const
    {
        if (m_buffer.size() - open < m_rowStart.size()
            || std::memcmp(m_buffer.constData() + open, m_rowStart.constData(), size_t(m_rowStart.size())) != 0)
            return false;
        const qsizetype next = open + m_rowStart.size();
        if (next >= m_buffer.size())
            return false;
        const char c = m_buffer[next];
        return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\r' || c == '\n';
    }

    QString moved(const QString &formula) const { return formula::deleteLines(formula, m_host, m_sheet, m_deletion); }

    bool gone(qint64 line) const { return m_moves && m_deletion.first <= line && line <= m_deletion.last; }
    qint64 after(qint64 line) const { return m_moves && line > m_deletion.last ? line - m_deletion.count() : line; }

    void row(const QByteArray &rowText, QByteArray &out)
    {
        qint64 number = m_lastRow + 1;
        {
            // The row number, read without a tree when the row can stay as it is.
            const qsizetype r = rowText.indexOf(" r=\"");
            const qsizetype tagEnd = rowText.indexOf('>');
            if (r > 0 && r < tagEnd) {
                bool ok = false;
                const qint64 written = rowText.mid(r + 4, rowText.indexOf('"', r + 4) - r - 4).toLongLong(&ok);
                if (ok && written > 0)
                    number = written;
            }
        }
        m_lastRow = number;
        m_rowChanged = false;
        const bool formulas = rowText.contains("<f") || rowText.contains(":f");
        const bool rowsMove = m_moves && !m_deletion.columns && number >= m_deletion.first;
        const bool columnsMove = m_moves && m_deletion.columns;
        if (!formulas && !rowsMove && !columnsMove) {
            out += rowText;
            return;
        }
        const bool rowGone = !m_deletion.columns && gone(number);
        std::unique_ptr<XmlPart> tree = fragment(m_partName, rowText);
        pugi::xml_node rowNode = tree->root();
        const qint64 newRow = m_deletion.columns ? number : after(number);
        if (m_moves && !rowGone)
            setAttribute(rowNode, "r", QString::number(newRow));
        if (columnsMove)
            rowNode.remove_attribute("spans");
        qint64 column = 0;
        for (pugi::xml_node cell : children(rowNode, "c")) {
            const QString reference = text(cell.attribute("r"));
            qint64 cellRow = number;
            if (const std::optional<Area> area = formula::parseArea(reference); area && area->kind == Area::Kind::Cell) {
                column = area->firstColumn;
                cellRow = area->firstRow;
            } else {
                ++column;
            }
            const bool cellGone = rowGone || (m_deletion.columns && gone(column));
            const qint64 newColumn = m_deletion.columns ? after(column) : column;
            const qint64 newCellRow = m_deletion.columns ? cellRow : after(cellRow);
            if (pugi::xml_node f = xml::child(cell, "f"))
                cellFormula(f, cellRow, column, newCellRow, newColumn, cellGone);
            if (cellGone) {
                rowNode.remove_child(cell);
                continue;
            }
            if (m_moves && (newColumn != column || newCellRow != cellRow || cell.attribute("r")))
                setAttribute(cell, "r", cellName(newCellRow, newColumn));
        }
        if (rowGone)
            return;
        if (m_moves || m_rowChanged)
            out += tree->serialize();
        else
            out += rowText;
    }

    void cellFormula(pugi::xml_node f, qint64 row, qint64 column, qint64 newRow, qint64 newColumn, bool cellGone)
    {
        const std::string_view type = f.attribute("t").value();
        const QString formulaText = xml::text(f);
        if (type == "shared"sv) {
            const QString si = text(f.attribute("si"));
            if (!formulaText.isEmpty() && f.attribute("ref")) {
                SharedGroup group;
                group.row = row;
                group.column = column;
                group.text = formulaText;
                group.range = formula::parseArea(text(f.attribute("ref")));
                if (group.range && m_moves)
                    group.range = formula::movedArea(*group.range, m_deletion);
                if (!cellGone) {
                    group.anchored = true;
                    group.anchorRow = newRow;
                    group.anchorColumn = newColumn;
                    group.anchorText = moved(formulaText);
                    m_rowChanged = xml::setText(f, group.anchorText) || m_rowChanged;
                    if (group.range && m_moves)
                        setAttribute(f, "ref", formula::areaText(*group.range));
                }
                m_groups.insert(si, group);
                return;
            }
            const auto found = m_groups.find(si);
            if (found == m_groups.end() || cellGone)
                return;
            SharedGroup &group = *found;
            const QString own = moved(formula::copyFormula(group.text, row - group.row, column - group.column));
            if (!group.anchored) {
                // The master has gone: the first remaining cell of the group takes its place.
                if (group.range && newRow >= group.range->firstRow && newColumn >= group.range->firstColumn
                    && newRow <= group.range->lastRow && newColumn <= group.range->lastColumn) {
                    group.anchored = true;
                    group.anchorRow = newRow;
                    group.anchorColumn = newColumn;
                    group.anchorText = own;
                    Area range = *group.range;
                    range.kind = Area::Kind::Range;
                    range.firstRow = newRow;
                    range.firstColumn = newColumn;
                    setAttribute(f, "ref", formula::areaText(range));
                    xml::setText(f, own);
                    m_rowChanged = true;
                    return;
                }
            } else {
                const bool inside = newRow >= group.anchorRow && newColumn >= group.anchorColumn
                    && (!group.range || (newRow <= group.range->lastRow && newColumn <= group.range->lastColumn));
                const QString derived
                    = formula::copyFormula(group.anchorText, newRow - group.anchorRow, newColumn - group.anchorColumn);
                if (inside && derived == own)
                    return;
            }
            // The cell's formula no longer follows from the master's: it is written out.
            f.remove_attribute("t");
            f.remove_attribute("si");
            f.remove_attribute("ref");
            xml::setText(f, own);
            m_rowChanged = true;
            return;
        }
        if (cellGone || formulaText.isEmpty())
            return;
        if (type == "array"sv && m_moves) {
            if (const std::optional<Area> range = formula::parseArea(text(f.attribute("ref")))) {
                if (const std::optional<Area> movedRange = formula::movedArea(*range, m_deletion))
                    setAttribute(f, "ref", formula::areaText(*movedRange));
            }
        }
        if (type == "dataTable"sv)
            return;
        const QString rewritten = moved(formulaText);
        if (rewritten != formulaText)
            m_rowChanged = xml::setText(f, rewritten) || m_rowChanged;
    }

    QString m_partName;
    QString m_host;
    QString m_sheet;
    LineDeletion m_deletion;
    bool m_moves;
    QByteArray m_buffer;
    QByteArray m_rowStart;
    QByteArray m_rowEnd;
    qint64 m_lastRow = 0;
    bool m_rowChanged = false;
    QHash<QString, SharedGroup> m_groups;
};

// Array formulas and data tables of the cell data as it will be written: what a deletion
// must not cut.
struct BlockedRanges
{
    std::vector<Area> arrays;
    std::vector<Area> dataTables;
};

BlockedRanges blockedRanges(OpcPackage &package, const QString &partName)
{
    BlockedRanges result;
    QByteArray buffer;
    auto scan = [&](bool last) {
        qsizetype at = 0;
        while (true) {
            qsizetype found = buffer.indexOf(" t=\"", at);
            if (found < 0)
                break;
            const qsizetype open = buffer.lastIndexOf('<', found);
            const qsizetype close = buffer.indexOf('>', found);
            if (close < 0 && !last)
                break;
            at = found + 4;
            if (open < 0 || close < 0)
                continue;
            const QByteArray tag = buffer.mid(open, close - open);
            const bool isFormula = tag.startsWith("<f ") || tag.contains(":f ");
            if (!isFormula)
                continue;
            const bool array = tag.contains(" t=\"array\"");
            const bool dataTable = tag.contains(" t=\"dataTable\"");
            const qsizetype ref = tag.indexOf(" ref=\"");
            if ((!array && !dataTable) || ref < 0)
                continue;
            const QByteArray range = tag.mid(ref + 6, tag.indexOf('"', ref + 6) - ref - 6);
            if (const std::optional<Area> area = formula::parseArea(QString::fromLatin1(range)))
                (array ? result.arrays : result.dataTables).push_back(*area);
        }
        // Keep a tail that may hold the start of a tag cut by the chunk.
        const qsizetype keepFrom = std::max<qsizetype>(0, std::max(at, buffer.size() - 512));
        buffer.remove(0, last ? buffer.size() : keepFrom);
    };
    package.readSheetData(partName, [&](const char *data, qsizetype size) {
        buffer.append(data, size);
        if (buffer.size() > (1 << 20))
            scan(false);
    });
    scan(true);
    return result;
}

// Calls `visit` with the text of each formula element (f, formula, formula1, formula2) of a
// stretch of sheet markup that could hold a 3-D span, until it returns true. Returns how much
// of the markup is done with: all of it for the last stretch, else up to the last end tag read.
qsizetype visitSpanFormulas(const QByteArray &markup, bool last, const std::function<bool(const QString &)> &visit, bool *found)
{
    qsizetype at = 0;
    while (!*found) {
        const qsizetype close = markup.indexOf("</", at);
        const qsizetype nameEnd = close < 0 ? -1 : markup.indexOf('>', close);
        if (nameEnd < 0)
            break;
        std::string_view name(markup.constData() + close + 2, size_t(nameEnd - close - 2));
        if (const size_t colon = name.find(':'); colon != std::string_view::npos)
            name.remove_prefix(colon + 1);
        if (name == "f"sv || name == "formula"sv || name == "formula1"sv || name == "formula2"sv) {
            const qsizetype open = markup.lastIndexOf('>', close);
            const QByteArray content = markup.mid(open + 1, close - open - 1);
            if (content.contains('!') && content.contains(':'))
                *found = visit(decodeXmlText(QString::fromUtf8(content)));
        }
        at = nameEnd + 1;
    }
    return last ? markup.size() : at;
}

[[noreturn]] void refuse(ErrorCode code, const QString &sheet, const QString &what)
{
    throw EngineError(code, QStringLiteral("%1: %2").arg(sheet, what));
}

struct TableEdit
{
    XmlPart *part = nullptr;
    Area range;
};

} // namespace

SheetLineDeletion::SheetLineDeletion(PackageDocument &document, const SheetEntry &sheet)
    : m_document(document), m_sheet(sheet) { }

void SheetLineDeletion::deleteRows(LineRun rows)
{
    run(LineDeletion{false, rows.first, rows.last});
}

void SheetLineDeletion::deleteColumns(LineRun columns)
{
    run(LineDeletion{true, columns.first, columns.last});
}

void SheetLineDeletion::run(const LineDeletion &deletion)
{
    OpcPackage &package = m_document.package();
    const QString &sheetName = m_sheet.name;
    const QString &partName = m_sheet.partName;
    SplicedXmlPart &part = m_document.sheetPart(m_sheet);

    // Everything that could refuse the deletion is checked before anything changes.
    for (const auto &[name, what] : {std::pair{"oleObjects"sv, "oleObjects"}, std::pair{"controls"sv, "controls"}}) {
        if (!part.element(name).isEmpty())
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QString::fromLatin1(what));
    }
    // The drawing and the legacy drawing of notes, by the relationship their elements name.
    const std::vector<Relationship> sheetRelationships = package.relationships(partName);
    auto linkedPart = [&](std::string_view element, QString *relationshipId = nullptr) {
        const QByteArray elementText = part.element(element);
        if (elementText.isEmpty())
            return QString();
        const std::unique_ptr<XmlPart> tree = fragment(partName, elementText);
        const QString id = text(xml::prefixedAttribute(tree->root(), "id"));
        for (const Relationship &relationship : sheetRelationships) {
            if (relationship.id == id && !relationship.partName.isEmpty() && package.hasPart(relationship.partName)) {
                if (relationshipId)
                    *relationshipId = id;
                return relationship.partName;
            }
        }
        return QString();
    };
    XmlPart *drawing = nullptr;
    LineSizes lineSizes;
    if (const QString drawingPart = linkedPart("drawing"sv); !drawingPart.isEmpty()) {
        drawing = &package.xml(drawingPart);
        if (const QString object = objects::drawingRefusal(drawing->root(), deletion); !object.isEmpty())
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("drawing object ") + object);
        // Objects that keep their size or place are measured in the sheet's heights or widths.
        if (const auto lines = objects::sizedLines(drawing->root(), deletion))
            lineSizes = SheetRowsColumns(m_document, m_sheet).lineSizes(deletion.columns, lines->first, lines->second);
    }
    QString vmlRelationship;
    const QString vmlPart = linkedPart("legacyDrawing"sv, &vmlRelationship);
    if (!vmlPart.isEmpty()) {
        if (const QString shape = objects::vmlRefusal(package.partBytes(vmlPart)); !shape.isEmpty())
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("VML ") + shape);
    }
    struct CommentsPart
    {
        XmlPart *part;
        QString relationshipId;
    };
    std::vector<CommentsPart> commentParts; // legacy and threaded
    for (const QByteArray &extension : part.elements("extLst"sv)) {
        if (extension.contains("sqref") || extension.contains(":f>"))
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("extLst"));
    }
    std::vector<TableEdit> tables;
    for (const Relationship &relationship : sheetRelationships) {
        const bool comments = rel::isType(relationship.type, commentsRelationship)
            || rel::isType(relationship.type, threadedCommentsRelationship);
        if (comments && package.hasPart(relationship.partName))
            commentParts.push_back({&package.xml(relationship.partName), relationship.id});
        if (rel::isType(relationship.type, pivotTableRelationship))
            refuse(ErrorCode::LineDeletionPivotTable, sheetName, relationship.partName);
        if (!rel::isType(relationship.type, tableRelationship) || !package.hasPart(relationship.partName))
            continue;
        XmlPart &table = package.xml(relationship.partName);
        const std::optional<Area> range = formula::parseArea(xml::attribute(table.root(), "ref"));
        if (!range)
            throw EngineError(ErrorCode::Damaged, relationship.partName);
        qint64 first = 0;
        qint64 last = 0;
        if (onAxis(*range, deletion, &first, &last)) {
            if (deletion.columns)
                refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("table columns"));
            const bool header = table.root().attribute("headerRowCount").as_int(1) != 0;
            const qint64 totals = table.root().attribute("totalsRowCount").as_int(0);
            const std::optional<Area> moved = formula::movedArea(*range, deletion);
            const bool headerGone = header && deletion.first <= range->firstRow && range->firstRow <= deletion.last;
            const qint64 rowsLeft = moved ? moved->lastRow - moved->firstRow + 1 : 0;
            if (headerGone || !moved || rowsLeft <= (header ? 1 : 0) + totals)
                refuse(ErrorCode::LineDeletionHeader, sheetName, xml::attribute(table.root(), "name"));
        }
        tables.push_back({&table, *range});
    }
    if (const QByteArray filter = part.element("autoFilter"sv); !filter.isEmpty()) {
        const std::unique_ptr<XmlPart> tree = fragment(partName, filter);
        if (const std::optional<Area> range = formula::parseArea(xml::attribute(tree->root(), "ref"))) {
            if (!deletion.columns && deletion.first <= range->firstRow && range->firstRow <= deletion.last)
                refuse(ErrorCode::LineDeletionHeader, sheetName, QStringLiteral("autoFilter"));
        }
    }
    const BlockedRanges blocked = blockedRanges(package, partName);
    for (const Area &array : blocked.arrays) {
        if (cutsPart(array, deletion))
            refuse(ErrorCode::ArrayFormulaPart, sheetName, formula::areaText(array));
    }
    for (const Area &table : blocked.dataTables) {
        qint64 first = 0;
        qint64 last = 0;
        if (onAxis(table, deletion, &first, &last) || first > deletion.last)
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("data table ") + formula::areaText(table));
    }

    // A 3-D span through the sheet is left as it is by the reference rule, which is exact only
    // while the deletion leaves its cells where they are: a span that would move is refused.
    {
        QStringList sheetOrder;
        for (const SheetEntry &entry : m_document.model().sheets())
            sheetOrder.append(entry.name);
        bool found = false;
        QString spanning;
        auto check = [&](const QString &formulaText) {
            if (!formula::spanMovesWith(formulaText, sheetOrder, sheetName, deletion))
                return false;
            spanning = formulaText;
            return true;
        };
        for (pugi::xml_node name :
            children(xml::child(package.xml(m_document.model().partName()).root(), "definedNames"), "definedName")) {
            if (!found)
                found = check(xml::text(name));
        }
        for (const SheetEntry &entry : m_document.model().sheets()) {
            if (found || entry.kind != SheetKind::Worksheet)
                continue;
            if (entry.partName.compare(partName, Qt::CaseInsensitive) != 0) {
                visitSpanFormulas(package.partBytes(entry.partName), true, check, &found);
                continue;
            }
            // The sheet being cut may be huge: its cell data streams by.
            QByteArray buffer;
            package.readSheetData(partName, [&](const char *data, qsizetype size) {
                if (found)
                    return;
                buffer.append(data, size);
                buffer.remove(0, visitSpanFormulas(buffer, false, check, &found));
            });
            visitSpanFormulas(buffer, true, check, &found);
        }
        if (found)
            refuse(ErrorCode::LineDeletionUnsupported, sheetName, QStringLiteral("3-D reference ") + spanning);
    }

    // Other sheets: their formulas that name the sheet. Parts are read before any changes.
    const QString workbookPart = m_document.model().partName();
    struct OtherSheet
    {
        QString name;
        QString partName;
    };
    std::vector<OtherSheet> others;
    const QByteArray nameBytes = sheetName.toUtf8().toLower();
    const bool plainName = !sheetName.contains(u'&') && !sheetName.contains(u'<') && !sheetName.contains(u'>')
        && !sheetName.contains(u'\'') && !sheetName.contains(u'"');
    auto mayMention = [&](const QString &other) {
        const QByteArray bytes = package.partBytes(other);
        return bytes.contains('!') && (!plainName || bytes.toLower().contains(nameBytes));
    };
    for (const SheetEntry &entry : m_document.model().sheets()) {
        if (entry.kind != SheetKind::Worksheet || entry.partName.compare(partName, Qt::CaseInsensitive) == 0)
            continue;
        if (mayMention(entry.partName))
            others.push_back({entry.name, entry.partName});
    }
    std::vector<XmlPart *> formulaParts; // charts, tables of other sheets, pivot caches
    const QStringList reachableBefore = reachableParts(package);
    for (const QString &reachable : reachableBefore) {
        const QString type = package.contentType(reachable);
        const bool wanted = type.compare(contentType::chart, Qt::CaseInsensitive) == 0
            || type.compare(contentType::chartEx, Qt::CaseInsensitive) == 0 || type.compare(contentType::table, Qt::CaseInsensitive) == 0
            || type.compare(contentType::pivotCache, Qt::CaseInsensitive) == 0;
        if (wanted && mayMention(reachable))
            formulaParts.push_back(&package.xml(reachable));
    }

    // The cell data.
    const QString canonical = package.canonicalName(partName);
    part.addRewrite([=] { return std::make_unique<CellDataRewrite>(canonical, sheetName, sheetName, deletion, true); });

    // The sheet's other elements, each edited as a small tree; elements that do not change
    // keep their bytes.
    auto editEach = [&](SplicedXmlPart &target, std::string_view localName, const std::function<bool(pugi::xml_node)> &edit) {
        std::vector<QByteArray> texts = target.elements(localName);
        bool changed = false;
        for (QByteArray &elementText : texts) {
            std::unique_ptr<XmlPart> tree = fragment(target.name(), elementText);
            if (!edit(tree->root()))
                continue;
            changed = true;
            elementText = tree->root() ? tree->serialize() : QByteArray();
        }
        if (changed)
            target.replaceElements(localName, texts);
    };
    auto rangeAttribute = [&](pugi::xml_node node, const char *name) {
        // Returns false when the range is gone.
        const QString before = xml::attribute(node, name);
        const QString after = movedRanges(before, deletion);
        if (after.isEmpty() && !before.isEmpty())
            return false;
        if (after != before)
            setAttribute(node, name, after);
        return true;
    };
    // Formulas written for the first cell of a list of ranges follow it to its first
    // remaining cell: copied there, then moved.
    auto anchoredFormulas = [&](pugi::xml_node owner, const QString &ranges, std::span<const std::string_view> names) {
        const std::optional<std::pair<qint64, qint64>> from = topLeft(ranges);
        const std::optional<std::pair<qint64, qint64>> to = firstRemainingCell(ranges, deletion);
        for (pugi::xml_node node = owner.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element)
                continue;
            if (std::find(names.begin(), names.end(), xml::localName(node)) == names.end()) {
                continue;
            }
            QString formulaText = xml::text(node);
            if (from && to)
                formulaText = formula::copyFormula(formulaText, to->first - from->first, to->second - from->second);
            formulaText = formula::deleteLines(formulaText, sheetName, sheetName, deletion);
            xml::setText(node, formulaText);
        }
    };

    editEach(part, "dimension"sv, [&](pugi::xml_node dimension) {
        const std::optional<Area> range = formula::parseArea(xml::attribute(dimension, "ref"));
        if (!range)
            return false;
        const std::optional<Area> moved = formula::movedArea(*range, deletion);
        setAttribute(dimension, "ref", moved ? formula::areaText(*moved) : QStringLiteral("A1"));
        return true;
    });
    if (deletion.columns) {
        editEach(part, "cols"sv, [&](pugi::xml_node cols) {
            for (pugi::xml_node column : children(cols, "col")) {
                const std::optional<std::pair<qint64, qint64>> run
                    = formula::movedRun(column.attribute("min").as_llong(), column.attribute("max").as_llong(), deletion);
                if (!run) {
                    cols.remove_child(column);
                    continue;
                }
                setAttribute(column, "min", QString::number(run->first));
                setAttribute(column, "max", QString::number(run->second));
            }
            if (children(cols, "col").empty())
                cols.parent().remove_child(cols);
            return true;
        });
    }
    editEach(part, "mergeCells"sv, [&](pugi::xml_node merges) {
        for (pugi::xml_node merge : children(merges, "mergeCell")) {
            const std::optional<Area> range = formula::parseArea(xml::attribute(merge, "ref"));
            const std::optional<Area> moved = range ? formula::movedArea(*range, deletion) : std::nullopt;
            if (!moved || (moved->firstRow == moved->lastRow && moved->firstColumn == moved->lastColumn)) {
                merges.remove_child(merge);
                continue;
            }
            setAttribute(merge, "ref", formula::areaText(*moved));
        }
        const size_t count = children(merges, "mergeCell").size();
        if (count == 0)
            merges.parent().remove_child(merges);
        else if (merges.attribute("count"))
            setAttribute(merges, "count", QString::number(count));
        return true;
    });
    editEach(part, "conditionalFormatting"sv, [&](pugi::xml_node formatting) {
        const QString ranges = xml::attribute(formatting, "sqref");
        static constexpr std::array formulaNames{"formula"sv};
        for (pugi::xml_node rule : children(formatting, "cfRule"))
            anchoredFormulas(rule, ranges, formulaNames);
        if (!rangeAttribute(formatting, "sqref"))
            formatting.parent().remove_child(formatting);
        return true;
    });
    editEach(part, "dataValidations"sv, [&](pugi::xml_node validations) {
        static constexpr std::array formulaNames{"formula1"sv, "formula2"sv};
        for (pugi::xml_node validation : children(validations, "dataValidation")) {
            anchoredFormulas(validation, xml::attribute(validation, "sqref"), formulaNames);
            if (!rangeAttribute(validation, "sqref"))
                validations.remove_child(validation);
        }
        const size_t count = children(validations, "dataValidation").size();
        if (count == 0)
            validations.parent().remove_child(validations);
        else if (validations.attribute("count"))
            setAttribute(validations, "count", QString::number(count));
        return true;
    });
    QStringList droppedLinks;
    editEach(part, "hyperlinks"sv, [&](pugi::xml_node links) {
        for (pugi::xml_node link : children(links, "hyperlink")) {
            if (!rangeAttribute(link, "ref")) {
                if (const pugi::xml_attribute id = xml::prefixedAttribute(link, "id"))
                    droppedLinks.append(text(id));
                links.remove_child(link);
            }
        }
        if (children(links, "hyperlink").empty())
            links.parent().remove_child(links);
        return true;
    });
    for (const QString &id : droppedLinks) {
        bool stillUsed = false;
        for (const QByteArray &links : part.elements("hyperlinks"sv))
            stillUsed = stillUsed || links.contains('"' + id.toUtf8() + '"');
        if (!stillUsed)
            package.removeRelationship(partName, id);
    }
    auto filterEdit = [&](pugi::xml_node filter) {
        const std::optional<Area> range = formula::parseArea(xml::attribute(filter, "ref"));
        if (!range)
            return false;
        if (deletion.columns) {
            // Filter columns are counted from the filter's first column.
            for (pugi::xml_node column : children(filter, "filterColumn")) {
                const qint64 absolute = range->firstColumn + column.attribute("colId").as_llong();
                if (deletion.first <= absolute && absolute <= deletion.last) {
                    filter.remove_child(column);
                    continue;
                }
                const std::optional<Area> moved = formula::movedArea(*range, deletion);
                if (moved)
                    setAttribute(column, "colId",
                        QString::number(absolute - (absolute > deletion.last ? deletion.count() : 0) - moved->firstColumn));
            }
        }
        if (!rangeAttribute(filter, "ref"))
            filter.parent().remove_child(filter);
        return true;
    };
    editEach(part, "autoFilter"sv, filterEdit);
    editEach(part, "sortState"sv, [&](pugi::xml_node sort) {
        if (!rangeAttribute(sort, "ref")) {
            sort.parent().remove_child(sort);
            return true;
        }
        for (pugi::xml_node condition : children(sort, "sortCondition")) {
            if (!rangeAttribute(condition, "ref"))
                sort.remove_child(condition);
        }
        return true;
    });
    editEach(part, deletion.columns ? "colBreaks"sv : "rowBreaks"sv, [&](pugi::xml_node breaks) {
        for (pugi::xml_node brk : children(breaks, "brk")) {
            const std::optional<std::pair<qint64, qint64>> run
                = formula::movedRun(brk.attribute("id").as_llong(), brk.attribute("id").as_llong(), deletion);
            if (!run)
                breaks.remove_child(brk);
            else
                setAttribute(brk, "id", QString::number(run->first));
        }
        const size_t count = children(breaks, "brk").size();
        size_t manual = 0;
        for (pugi::xml_node brk : children(breaks, "brk"))
            manual += brk.attribute("man").as_bool() ? 1 : 0;
        if (count == 0) {
            breaks.parent().remove_child(breaks);
            return true;
        }
        setAttribute(breaks, "count", QString::number(count));
        if (breaks.attribute("manualBreakCount"))
            setAttribute(breaks, "manualBreakCount", QString::number(manual));
        return true;
    });

    // Pictures, charts and shapes; comments and the notes that show them. Comment parts left
    // without comments go, and the notes' drawing once it shows nothing; the pictures and
    // charts they or removed objects used go at the end, once nothing reaches them.
    if (drawing) {
        QStringList unusedIds;
        if (objects::moveDrawingAnchors(drawing->root(), deletion, lineSizes, &unusedIds))
            drawing->markDirty();
        for (const QString &id : unusedIds)
            package.removeRelationship(drawing->name(), id);
    }
    for (const CommentsPart &comments : commentParts) {
        if (!objects::moveComments(comments.part->root(), deletion))
            continue;
        comments.part->markDirty();
        if (!objects::hasComments(comments.part->root()))
            package.removeRelationship(partName, comments.relationshipId);
    }
    if (!vmlPart.isEmpty()) {
        const QByteArray before = package.partBytes(vmlPart);
        const QByteArray after = objects::movedVmlNotes(before, deletion);
        if (after != before && !objects::hasVmlShapes(after)) {
            part.setElement("legacyDrawing"sv, {}, order::worksheet);
            package.removeRelationship(partName, vmlRelationship);
        } else if (after != before) {
            package.setBinary(vmlPart, after);
        }
    }

    // Tables on the sheet: their ranges and filters.
    for (TableEdit &table : tables) {
        pugi::xml_node root = table.part->root();
        const std::optional<Area> moved = formula::movedArea(table.range, deletion);
        setAttribute(root, "ref", formula::areaText(*moved));
        if (pugi::xml_node filter = xml::child(root, "autoFilter"))
            filterEdit(filter);
        for (pugi::xml_node column : children(xml::child(root, "tableColumns"), "tableColumn")) {
            for (const char *name : {"calculatedColumnFormula", "totalsRowFormula"}) {
                if (pugi::xml_node node = xml::child(column, name))
                    xml::setText(node, formula::deleteLines(xml::text(node), sheetName, sheetName, deletion));
            }
        }
        table.part->markDirty();
    }

    // Other sheets' formulas.
    for (const OtherSheet &other : others) {
        if (package.editedAsTree(other.partName)) {
            XmlPart &tree = package.xml(other.partName);
            static constexpr std::array formulaNames{"f"sv, "formula"sv, "formula1"sv, "formula2"sv};
            if (rewriteElements(tree.root(), formulaNames,
                    [&](const QString &text) { return formula::deleteLines(text, other.name, sheetName, deletion); }))
                tree.markDirty();
            continue;
        }
        SplicedXmlPart &otherPart = package.sheet(other.partName);
        const QString otherCanonical = package.canonicalName(other.partName);
        const QString host = other.name;
        otherPart.addRewrite([=] { return std::make_unique<CellDataRewrite>(otherCanonical, host, sheetName, deletion, false); });
        auto formulasOf = [&](std::string_view localName, std::initializer_list<std::string_view> names) {
            editEach(otherPart, localName, [&](pugi::xml_node root) {
                return rewriteElements(root, std::span(names.begin(), names.size()),
                    [&](const QString &text) { return formula::deleteLines(text, host, sheetName, deletion); });
            });
        };
        formulasOf("conditionalFormatting"sv, {"formula"sv});
        formulasOf("dataValidations"sv, {"formula1"sv, "formula2"sv});
    }

    // Charts, formulas of tables elsewhere, pivot sources.
    for (XmlPart *formulaPart : formulaParts) {
        bool changed = false;
        pugi::xml_node root = formulaPart->root();
        if (xml::localName(root) == "pivotCacheDefinition"sv) {
            pugi::xml_node source = xml::child(xml::child(root, "cacheSource"), "worksheetSource");
            if (source && xml::attribute(source, "sheet").compare(sheetName, Qt::CaseInsensitive) == 0
                && !source.attribute("r:id")) {
                const QString before = xml::attribute(source, "ref");
                const QString after = movedRanges(before, deletion);
                if (!after.isEmpty() && after != before) {
                    setAttribute(source, "ref", after);
                    changed = true;
                }
            }
        } else {
            const bool onTable
                = std::any_of(tables.begin(), tables.end(), [&](const TableEdit &t) { return t.part == formulaPart; });
            if (onTable)
                continue;
            static constexpr std::array formulaNames{"f"sv, "calculatedColumnFormula"sv, "totalsRowFormula"sv};
            changed = rewriteElements(root, formulaNames,
                [&](const QString &text) { return formula::deleteLines(text, {}, sheetName, deletion); });
        }
        if (changed)
            formulaPart->markDirty();
    }

    // Defined names: print areas and titles, filter ranges, names of the user.
    XmlPart &workbook = package.xml(workbookPart);
    bool namesChanged = false;
    for (pugi::xml_node name : children(xml::child(workbook.root(), "definedNames"), "definedName")) {
        const QString before = xml::text(name);
        const QString after = formula::deleteLines(before, {}, sheetName, deletion);
        if (after != before)
            namesChanged = xml::setText(name, after) || namesChanged;
    }
    if (namesChanged)
        workbook.markDirty();

    // Cells have moved: the calculation chain lists them by address.
    recalculateOnLoad(package, workbookPart);
    removeUnreachableParts(package, reachableBefore);
}

} // namespace gm::xlsx
