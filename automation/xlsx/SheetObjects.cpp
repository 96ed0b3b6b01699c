#include "automation/xlsx/SheetObjects.h"

#include "automation/xlsx/XmlTree.h"

#include <QSet>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace gm::xlsx::objects {

namespace {

using namespace std::string_view_literals;
using formula::Area;
using formula::LineDeletion;

const std::string_view relationshipsNamespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"sv;

// A point of an anchor on the deletion's axis: a 0-based row (column) and an offset into it.
struct Point
{
    qint64 line = 0;
    qint64 offset = 0;
};

// The deleted run, 0-based as drawings count rows and columns.
struct Band
{
    explicit Band(const LineDeletion &deletion)
        : first(deletion.first - 1), last(deletion.last - 1), count(deletion.count()), columns(deletion.columns)
    { }

    // The point after the deletion: a point inside the run goes to its edge, the top (left)
    // of the first line after it.
    Point moved(Point point) const
    {
        if (point.line < first)
            return point;
        if (point.line > last)
            return {point.line - count, point.offset};
        return {first, 0};
    }
    // An object ending at `end` lies wholly before the run.
    bool before(Point end) const { return end.line < first || (end.line == first && end.offset == 0); }
    // An object starting at `start` lies wholly after the run.
    bool after(Point start) const { return start.line > last; }
    // The object from..to lies wholly inside the run.
    bool covers(Point from, Point to) const
    {
        return from.line >= first && from.line <= last && (to.line <= last || (to.line == last + 1 && to.offset == 0));
    }

    qint64 first;
    qint64 last;
    qint64 count;
    bool columns;
};

enum class Behaviour { MoveAndSize, Move, Stay, Unknown };

Behaviour behaviour(pugi::xml_node anchor)
{
    const std::string_view kind = xml::localName(anchor);
    if (kind == "oneCellAnchor"sv)
        return Behaviour::Move;
    if (kind == "absoluteAnchor"sv)
        return Behaviour::Stay;
    if (kind != "twoCellAnchor"sv)
        return Behaviour::Unknown;
    const std::string_view editAs = anchor.attribute("editAs").value();
    if (editAs.empty() || editAs == "twoCell"sv)
        return Behaviour::MoveAndSize;
    if (editAs == "oneCell"sv)
        return Behaviour::Move;
    if (editAs == "absolute"sv)
        return Behaviour::Stay;
    return Behaviour::Unknown;
}

struct Marker
{
    pugi::xml_node line;
    pugi::xml_node offset;
    bool valid() const { return line && offset; }
    Point point() const
    {
        return {QString::fromUtf8(line.text().get()).trimmed().toLongLong(),
            QString::fromUtf8(offset.text().get()).trimmed().toLongLong()};
    }
    bool set(Point point) const
    {
        const bool lineChanged = xml::setText(line, QString::number(point.line));
        const bool offsetChanged = xml::setText(offset, QString::number(point.offset));
        return lineChanged || offsetChanged;
    }
};

Marker marker(pugi::xml_node anchor, std::string_view name, const Band &band)
{
    const pugi::xml_node node = xml::child(anchor, name);
    return {xml::child(node, band.columns ? "col"sv : "row"sv), xml::child(node, band.columns ? "colOff"sv : "rowOff"sv)};
}

// An object of a drawing: an anchor, or an mc:AlternateContent with the anchors of its
// choices and its fallback, of which a reader shows one.
struct DrawingObject
{
    pugi::xml_node element;
    std::vector<pugi::xml_node> anchors;
};

std::vector<DrawingObject> drawingObjects(pugi::xml_node drawing)
{
    std::vector<DrawingObject> objects;
    for (pugi::xml_node element : xml::children(drawing)) {
        DrawingObject object{element, {}};
        if (xml::localName(element) == "AlternateContent"sv) {
            for (pugi::xml_node alternative : xml::children(element)) {
                for (pugi::xml_node anchor : xml::children(alternative))
                    object.anchors.push_back(anchor);
            }
        } else {
            object.anchors.push_back(element);
        }
        objects.push_back(object);
    }
    return objects;
}

// Whether placing the anchor needs the sizes of lines: an object that keeps its size (or its
// place on the page) while the deletion cuts it or, for one that stays, runs before it.
bool needsSizes(pugi::xml_node anchor, const Band &band)
{
    if (xml::localName(anchor) != "twoCellAnchor"sv)
        return false;
    const Marker from = marker(anchor, "from"sv, band);
    const Marker to = marker(anchor, "to"sv, band);
    if (!from.valid() || !to.valid())
        return false;
    switch (behaviour(anchor)) {
    case Behaviour::Move:
        return !band.after(from.point()) && !band.before(to.point());
    case Behaviour::Stay:
        return !band.before(to.point());
    default:
        return false;
    }
}

// Positions on the deletion's axis before and after it, from the sizes of the lines.
struct Layout
{
    const Band &band;
    const LineSizes &sizes;

    qint64 before(Point point) const { return sizes.start(point.line) + point.offset; }
    qint64 deleted() const { return sizes.start(band.last + 1) - sizes.start(band.first); }
    // Where a line starts once the deletion is done.
    qint64 startAfter(qint64 line) const
    {
        return line < band.first ? sizes.start(line) : sizes.start(line + band.count) - deleted();
    }
    // The point at a position once the deletion is done: the last line starting at or before it.
    Point pointAfter(qint64 position) const
    {
        qint64 low = 0;
        qint64 high = (band.columns ? kSheetColumns : kSheetRows) - 1;
        if (position <= 0)
            return {0, 0};
        while (low < high) {
            const qint64 middle = low + (high - low + 1) / 2;
            if (startAfter(middle) <= position)
                low = middle;
            else
                high = middle - 1;
        }
        return {low, position - startAfter(low)};
    }
};

// Moves one anchor; returns whether it changed. An object that moves and sizes with its
// cells has each end inside the deleted run go to the run's edge. One that moves but keeps
// its size keeps its start when the run lies after it, moves back with the lines after the
// run, and starts where the run was when its start was deleted; its end follows at its own
// size. One that stays keeps its place on the grid and its size.
bool moveAnchor(pugi::xml_node anchor, const Band &band, const LineSizes &sizes)
{
    const Behaviour kind = behaviour(anchor);
    const Marker from = marker(anchor, "from"sv, band);
    const Marker to = marker(anchor, "to"sv, band);
    bool changed = false;
    if (kind == Behaviour::MoveAndSize) {
        changed = from.set(band.moved(from.point())) | changed;
        changed = to.set(band.moved(to.point())) | changed;
        return changed;
    }
    if (needsSizes(anchor, band)) {
        const Layout layout{band, sizes};
        const qint64 top = layout.before(from.point());
        const qint64 size = layout.before(to.point()) - top;
        if (kind == Behaviour::Move) {
            const Point start = band.moved(from.point());
            changed = from.set(start) | changed;
            changed = to.set(layout.pointAfter(layout.startAfter(start.line) + start.offset + size)) | changed;
        } else {
            changed = from.set(layout.pointAfter(top)) | changed;
            changed = to.set(layout.pointAfter(top + size)) | changed;
        }
        return changed;
    }
    if (kind == Behaviour::Move && from.valid()) {
        // A one-cell anchor's size is its own: only where it starts counts. A two-cell one
        // that the run neither cuts nor precedes lies before it.
        const bool oneCell = xml::localName(anchor) == "oneCellAnchor"sv;
        if (!oneCell && !band.after(from.point()))
            return false;
        changed = from.set(band.moved(from.point())) | changed;
        if (!oneCell)
            changed = to.set(band.moved(to.point())) | changed;
    }
    return changed;
}

pugi::xml_node findElement(pugi::xml_node node, std::string_view localName)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (xml::localName(child) == localName)
            return child;
        if (pugi::xml_node found = findElement(child, localName))
            return found;
    }
    return {};
}

// The name the object shows in the program ("Picture 1", "Chart 2").
QString objectName(pugi::xml_node anchor)
{
    if (const pugi::xml_node properties = findElement(anchor, "cNvPr"sv))
        return xml::attribute(properties, "name");
    return QString::fromUtf8(anchor.name());
}

// The relationship ids an element and its descendants use (r:id, r:embed, r:link, ...).
void collectIds(pugi::xml_node node, QSet<QString> &ids)
{
    for (pugi::xml_attribute attribute : node.attributes()) {
        const std::string_view name = attribute.name();
        const size_t colon = name.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (xml::namespaceForPrefix(node, name.substr(0, colon)) == relationshipsNamespace)
            ids.insert(QString::fromUtf8(attribute.value()));
    }
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element)
            collectIds(child, ids);
    }
}

// A span of the VML text and what replaces it.
struct Splice
{
    qsizetype start = 0;
    qsizetype end = 0;
    QByteArray text;
};

// The element text between <tag> and </tag> inside [from, to), as the positions of its content.
bool elementContent(const QByteArray &text, const QByteArray &tag, qsizetype from, qsizetype to, qsizetype *start, qsizetype *end)
{
    const QByteArray open = '<' + tag + '>';
    const qsizetype at = text.indexOf(open, from);
    if (at < 0 || at >= to)
        return false;
    const qsizetype close = text.indexOf("</" + tag + '>', at);
    if (close < 0 || close > to)
        return false;
    *start = at + open.size();
    *end = close;
    return true;
}

struct VmlShape
{
    qsizetype start = 0; // the "<" of the shape
    qsizetype end = 0; // after its end tag
    QByteArray objectType; // of its x:ClientData; empty when it has none
};

// The v:shape elements of a VML drawing (shape types are not shapes).
std::vector<VmlShape> vmlShapes(const QByteArray &vml)
{
    std::vector<VmlShape> shapes;
    qsizetype at = 0;
    while ((at = vml.indexOf("<v:shape", at)) >= 0) {
        const char next = at + 8 < vml.size() ? vml[at + 8] : '\0';
        if (next != ' ' && next != '>' && next != '\n' && next != '\r' && next != '\t') {
            at += 8;
            continue;
        }
        VmlShape shape;
        shape.start = at;
        const qsizetype tagEnd = vml.indexOf('>', at);
        if (tagEnd < 0)
            break;
        if (vml[tagEnd - 1] == '/') {
            shape.end = tagEnd + 1;
        } else {
            const qsizetype close = vml.indexOf("</v:shape>", tagEnd);
            shape.end = close < 0 ? vml.size() : close + qsizetype(std::string_view("</v:shape>").size());
        }
        const qsizetype data = vml.indexOf("<x:ClientData", at);
        if (data >= 0 && data < shape.end) {
            const qsizetype type = vml.indexOf("ObjectType=", data);
            const qsizetype dataEnd = vml.indexOf('>', data);
            if (type >= 0 && type < dataEnd) {
                const char quote = vml[type + 11];
                const qsizetype valueEnd = vml.indexOf(quote, type + 12);
                shape.objectType = vml.mid(type + 12, valueEnd - type - 12);
            }
        }
        shapes.push_back(shape);
        at = shape.end;
    }
    return shapes;
}

} // namespace

std::optional<std::pair<qint64, qint64>> sizedLines(pugi::xml_node drawing, const LineDeletion &deletion)
{
    const Band band(deletion);
    std::optional<std::pair<qint64, qint64>> lines;
    for (const DrawingObject &object : drawingObjects(drawing)) {
        for (pugi::xml_node anchor : object.anchors) {
            if (!needsSizes(anchor, band))
                continue;
            const Point from = marker(anchor, "from"sv, band).point();
            const Point to = marker(anchor, "to"sv, band).point();
            // The lines that come up under the object's new place follow the deleted ones.
            const qint64 first = std::min(from.line, band.first);
            const qint64 last = std::max(to.line, band.last) + band.count + 1024;
            lines = lines ? std::pair{std::min(lines->first, first), std::max(lines->second, last)} : std::pair{first, last};
        }
    }
    return lines;
}

QString drawingRefusal(pugi::xml_node drawing, const LineDeletion &deletion)
{
    const Band band(deletion);
    for (const DrawingObject &object : drawingObjects(drawing)) {
        int removed = 0;
        for (pugi::xml_node anchor : object.anchors) {
            const Marker from = marker(anchor, "from"sv, band);
            const Marker to = marker(anchor, "to"sv, band);
            switch (behaviour(anchor)) {
            case Behaviour::Unknown:
                return QString::fromUtf8(anchor.name());
            case Behaviour::MoveAndSize:
                if (!from.valid() || !to.valid())
                    return objectName(anchor);
                removed += band.covers(from.point(), to.point()) ? 1 : 0;
                break;
            case Behaviour::Stay:
                if (xml::localName(anchor) != "absoluteAnchor"sv && (!from.valid() || !to.valid()))
                    return objectName(anchor);
                break;
            case Behaviour::Move:
                if (!from.valid() || (xml::localName(anchor) != "oneCellAnchor"sv && !to.valid()))
                    return objectName(anchor);
                break;
            }
        }
        // A reader shows one of the alternatives: they go together or stay together.
        if (removed != 0 && removed != int(object.anchors.size()))
            return objectName(object.anchors.front());
    }
    return {};
}

bool moveDrawingAnchors(pugi::xml_node drawing, const LineDeletion &deletion, const LineSizes &sizes, QStringList *unusedIds)
{
    const Band band(deletion);
    bool changed = false;
    QSet<QString> removedIds;
    for (const DrawingObject &object : drawingObjects(drawing)) {
        const bool covered = !object.anchors.empty() && std::all_of(object.anchors.begin(), object.anchors.end(), [&](pugi::xml_node anchor) {
            return behaviour(anchor) == Behaviour::MoveAndSize
                && band.covers(marker(anchor, "from"sv, band).point(), marker(anchor, "to"sv, band).point());
        });
        if (covered) {
            collectIds(object.element, removedIds);
            drawing.remove_child(object.element);
            changed = true;
            continue;
        }
        for (pugi::xml_node anchor : object.anchors)
            changed = moveAnchor(anchor, band, sizes) || changed;
    }
    if (!removedIds.isEmpty()) {
        QSet<QString> usedIds;
        collectIds(drawing, usedIds);
        for (const QString &id : removedIds) {
            if (!usedIds.contains(id))
                unusedIds->append(id);
        }
    }
    return changed;
}

namespace {

// The list that holds the comments of a comments part, with the comments' local name: the
// commentList of legacy comments, or the root of threaded comments.
std::pair<pugi::xml_node, std::string_view> commentList(pugi::xml_node comments)
{
    if (xml::localName(comments) == "ThreadedComments"sv)
        return {comments, "threadedComment"sv};
    return {xml::child(comments, "commentList"sv), "comment"sv};
}

} // namespace

bool moveComments(pugi::xml_node comments, const LineDeletion &deletion)
{
    bool changed = false;
    auto [list, name] = commentList(comments);
    for (pugi::xml_node comment : xml::children(list, name)) {
        const std::optional<Area> cell = formula::parseArea(xml::attribute(comment, "ref"));
        if (!cell)
            continue;
        const std::optional<Area> moved = formula::movedArea(*cell, deletion);
        if (!moved) {
            list.remove_child(comment);
            changed = true;
            continue;
        }
        const QString text = formula::areaText(*moved);
        if (text != xml::attribute(comment, "ref")) {
            comment.attribute("ref").set_value(text.toUtf8().constData());
            changed = true;
        }
    }
    return changed;
}

bool hasComments(pugi::xml_node comments)
{
    const auto [list, name] = commentList(comments);
    return !xml::children(list, name).empty();
}

bool hasVmlShapes(const QByteArray &vml)
{
    return !vmlShapes(vml).empty();
}

QString vmlRefusal(const QByteArray &vml)
{
    const std::vector<VmlShape> shapes = vmlShapes(vml);
    // Client data outside the shapes read here (another prefix, say) would be left behind.
    const auto read = std::count_if(shapes.begin(), shapes.end(), [](const VmlShape &shape) { return !shape.objectType.isEmpty(); });
    if (vml.count("ClientData ObjectType=") != read)
        return QStringLiteral("shapes");
    for (const VmlShape &shape : shapes) {
        if (shape.objectType != "Note")
            return shape.objectType.isEmpty() ? QStringLiteral("VML shape") : QString::fromUtf8(shape.objectType);
        qsizetype start = 0;
        qsizetype end = 0;
        if (!elementContent(vml, "x:Row", shape.start, shape.end, &start, &end)
            || !elementContent(vml, "x:Column", shape.start, shape.end, &start, &end))
            return QStringLiteral("Note");
    }
    return {};
}

QByteArray movedVmlNotes(const QByteArray &vml, const LineDeletion &deletion)
{
    const Band band(deletion);
    std::vector<Splice> splices;
    for (const VmlShape &shape : vmlShapes(vml)) {
        qsizetype rowStart = 0;
        qsizetype rowEnd = 0;
        qsizetype columnStart = 0;
        qsizetype columnEnd = 0;
        if (shape.objectType != "Note" || !elementContent(vml, "x:Row", shape.start, shape.end, &rowStart, &rowEnd)
            || !elementContent(vml, "x:Column", shape.start, shape.end, &columnStart, &columnEnd))
            continue;
        const qint64 row = vml.mid(rowStart, rowEnd - rowStart).trimmed().toLongLong();
        const qint64 column = vml.mid(columnStart, columnEnd - columnStart).trimmed().toLongLong();
        const qint64 line = band.columns ? column : row;
        if (line >= band.first && line <= band.last) {
            // The note goes with its cell, and the line break before it with it.
            qsizetype start = shape.start;
            while (start > 0 && (vml[start - 1] == ' ' || vml[start - 1] == '\n' || vml[start - 1] == '\r'))
                --start;
            splices.push_back({start, shape.end, {}});
            continue;
        }
        if (line > band.last) {
            if (band.columns)
                splices.push_back({columnStart, columnEnd, QByteArray::number(column - band.count)});
            else
                splices.push_back({rowStart, rowEnd, QByteArray::number(row - band.count)});
        }
        // The box: left column, offset, top row, offset, right column, offset, bottom row,
        // offset.
        qsizetype anchorStart = 0;
        qsizetype anchorEnd = 0;
        if (!elementContent(vml, "x:Anchor", shape.start, shape.end, &anchorStart, &anchorEnd))
            continue;
        const QByteArray anchorText = vml.mid(anchorStart, anchorEnd - anchorStart);
        const QList<QByteArray> parts = anchorText.split(',');
        if (parts.size() != 8)
            continue;
        std::array<qint64, 8> values{};
        bool ok = true;
        for (int i = 0; i < 8 && ok; ++i)
            values[size_t(i)] = parts[i].trimmed().toLongLong(&ok);
        if (!ok)
            continue;
        const size_t first = band.columns ? 0 : 2;
        const size_t last = band.columns ? 4 : 6;
        const Point from{values[first], values[first + 1]};
        const Point to{values[last], values[last + 1]};
        // The box keeps its size: it moves with the line under its top (left) edge.
        const Point start = band.moved(from);
        const Point end{start.line + (to.line - from.line), to.offset};
        if (start.line == from.line && start.offset == from.offset && end.line == to.line && end.offset == to.offset)
            continue;
        values[first] = start.line;
        values[first + 1] = start.offset;
        values[last] = end.line;
        values[last + 1] = end.offset;
        QByteArray written;
        qsizetype lead = 0;
        while (lead < anchorText.size() && QChar::isSpace(uchar(anchorText[lead])))
            ++lead;
        written += anchorText.left(lead);
        for (size_t i = 0; i < values.size(); ++i)
            written += (i ? ", " : "") + QByteArray::number(values[i]);
        splices.push_back({anchorStart, anchorEnd, written});
    }
    if (splices.empty())
        return vml;
    std::sort(splices.begin(), splices.end(), [](const Splice &a, const Splice &b) { return a.start < b.start; });
    QByteArray result;
    result.reserve(vml.size());
    qsizetype at = 0;
    for (const Splice &splice : splices) {
        result.append(vml.constData() + at, splice.start - at);
        result += splice.text;
        at = splice.end;
    }
    result.append(vml.constData() + at, vml.size() - at);
    return result;
}

} // namespace gm::xlsx::objects
