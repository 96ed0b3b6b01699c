#include "automation/xlsx/SheetRowsColumns.h"

#include "automation/EngineError.h"
#include "automation/xlsx/PackageDocument.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/XmlTree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace gm::xlsx {

namespace {

using namespace std::string_view_literals;

const QString stylesType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");

// Attribute orders the spreadsheet program writes; attributes it does not list (such as
// x14ac:dyDescent) stay where they are, after these.
constexpr std::array rowAttributeOrder{"r"sv, "spans"sv, "s"sv, "customFormat"sv, "ht"sv, "hidden"sv, "customHeight"sv,
    "outlineLevel"sv, "collapsed"sv, "thickTop"sv, "thickBot"sv, "ph"sv};
constexpr std::array columnAttributeOrder{"min"sv, "max"sv, "width"sv, "style"sv, "hidden"sv, "bestFit"sv, "customWidth"sv,
    "phonetic"sv, "outlineLevel"sv, "collapsed"sv};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view localPart(std::string_view name)
{
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// A start tag taken apart: its name and its attributes with their values as written
// (entities kept), so that it can be written again with some attributes changed.
struct StartTag
{
    QByteArray name;
    std::vector<std::pair<QByteArray, QByteArray>> attributes;
    bool selfClosed = false;

    static StartTag parse(std::string_view text)
    {
        StartTag tag;
        size_t i = 1;
        while (i < text.size() && !isSpace(text[i]) && text[i] != '/' && text[i] != '>')
            ++i;
        tag.name = QByteArray(text.data() + 1, qsizetype(i - 1));
        while (i < text.size()) {
            while (i < text.size() && isSpace(text[i]))
                ++i;
            if (i >= text.size() || text[i] == '>' || text[i] == '/') {
                tag.selfClosed = i < text.size() && text[i] == '/';
                break;
            }
            const size_t nameStart = i;
            while (i < text.size() && text[i] != '=' && !isSpace(text[i]))
                ++i;
            const QByteArray name(text.data() + nameStart, qsizetype(i - nameStart));
            while (i < text.size() && text[i] != '"' && text[i] != '\'')
                ++i;
            if (i >= text.size())
                break;
            const char quote = text[i];
            const size_t valueStart = ++i;
            while (i < text.size() && text[i] != quote)
                ++i;
            tag.attributes.emplace_back(name, QByteArray(text.data() + valueStart, qsizetype(i - valueStart)));
            ++i;
        }
        return tag;
    }

    const QByteArray *value(std::string_view wanted) const
    {
        for (const auto &[name, value] : attributes) {
            if (std::string_view(name.constData(), size_t(name.size())) == wanted)
                return &value;
        }
        return nullptr;
    }

    template<size_t N> void set(std::string_view wanted, const QByteArray &newValue, const std::array<std::string_view, N> &order)
    {
        for (auto &[name, value] : attributes) {
            if (std::string_view(name.constData(), size_t(name.size())) == wanted) {
                value = newValue;
                return;
            }
        }
        auto rankOf = [&](std::string_view name) {
            const auto it = std::find(order.begin(), order.end(), name);
            return it == order.end() ? int(N) : int(it - order.begin());
        };
        const int rank = rankOf(wanted);
        auto at = std::find_if(attributes.begin(), attributes.end(), [&](const auto &attribute) {
            return rankOf(std::string_view(attribute.first.constData(), size_t(attribute.first.size()))) > rank;
        });
        attributes.insert(at, {QByteArray(wanted.data(), qsizetype(wanted.size())), newValue});
    }

    void remove(std::string_view wanted)
    {
        std::erase_if(attributes, [&](const auto &attribute) {
            return std::string_view(attribute.first.constData(), size_t(attribute.first.size())) == wanted;
        });
    }

    QByteArray text() const
    {
        QByteArray out = '<' + name;
        for (const auto &[attribute, value] : attributes)
            out += ' ' + attribute + "=\"" + value + '"';
        out += selfClosed ? "/>" : ">";
        return out;
    }
};

QByteArray numberText(double value)
{
    return QByteArray::number(value, 'g', 17);
}

// What is done to each row of the run.
struct RowChange
{
    bool hide = false; // hide; otherwise set the height (0 hides too)
    double height = 0;

    void apply(StartTag &row) const
    {
        if (hide || height == 0) {
            row.set("hidden"sv, "1", rowAttributeOrder);
            return;
        }
        row.set("ht"sv, numberText(height), rowAttributeOrder);
        row.set("customHeight"sv, "1", rowAttributeOrder);
        row.remove("hidden"sv);
    }
};

// Just past the markup that starts at `open`, or nullptr when it does not end in the data.
const char *markupEnd(const char *open, const char *end)
{
    const std::string_view rest(open, size_t(end - open));
    auto after = [&](std::string_view terminator) -> const char * {
        const size_t at = rest.find(terminator, 2);
        return at == std::string_view::npos ? nullptr : open + at + terminator.size();
    };
    if (rest.size() < 2)
        return nullptr;
    if (rest[1] == '!') {
        if (rest.size() < 4)
            return nullptr;
        if (rest.starts_with("<!--"sv))
            return after("-->"sv);
        if (rest.size() < 9)
            return nullptr;
        return rest.starts_with("<![CDATA["sv) ? after("]]>"sv) : after(">"sv);
    }
    if (rest[1] == '?')
        return after("?>"sv);
    char quote = 0;
    for (const char *c = open + 1; c < end; ++c) {
        if (quote) {
            if (*c == quote)
                quote = 0;
        } else if (*c == '"' || *c == '\'') {
            quote = *c;
        } else if (*c == '>') {
            return c + 1;
        }
    }
    return nullptr;
}

// Splits a part fed in chunks into text and whole markup: a tag, comment, CDATA section or
// processing instruction cut by the end of a chunk is kept until the next one completes it.
class MarkupSplitter
{
public:
    // Calls text(data, size) for the text between markup and markup(view) for each piece of
    // markup, in order; markup() returning false stops the rest of this chunk.
    template<typename Text, typename Markup> void feed(const char *data, qsizetype size, Text &&text, Markup &&markup)
    {
        if (m_carry.isEmpty()) {
            scan(data, size, text, markup);
            return;
        }
        m_carry.append(data, size);
        const QByteArray buffer = std::move(m_carry);
        m_carry.clear();
        scan(buffer.constData(), buffer.size(), text, markup);
    }

    // Markup that no chunk completed.
    QByteArray takeRest() { return std::exchange(m_carry, QByteArray()); }

private:
    template<typename Text, typename Markup> void scan(const char *data, qsizetype size, Text &text, Markup &markup)
    {
        const char *p = data;
        const char *end = data + size;
        while (p < end) {
            const char *open = static_cast<const char *>(std::memchr(p, '<', size_t(end - p)));
            if (!open) {
                text(p, end - p);
                return;
            }
            text(p, open - p);
            const char *close = markupEnd(open, end);
            if (!close) {
                m_carry = QByteArray(open, end - open);
                return;
            }
            p = close;
            if (!markup(std::string_view(open, size_t(close - open))))
                return;
        }
    }

    QByteArray m_carry;
};

// Rewrites the cell data of a sheet as it streams by: the start tags of the rows in the run
// get the change, and rows of the run that have no element yet get one, in order. Only the
// markup of row start tags and of the cell data's own tags is looked at; everything else is
// copied through as it is.
class RowRewrite : public SplicedXmlPart::Rewrite
{
public:
    RowRewrite(LineRun run, RowChange change) : m_run(run), m_change(change), m_next(run.first) { }

    void feed(const char *data, qsizetype size, QByteArray &out) override
    {
        m_splitter.feed(
            data, size, [&](const char *text, qsizetype length) { out.append(text, length); },
            [&](std::string_view text) {
                markup(text, out);
                return true;
            });
    }

    void finish(QByteArray &out) override
    {
        out += m_splitter.takeRest(); // markup cut short: the part was not well-formed to begin with
    }

private:
    void markup(std::string_view text, QByteArray &out)
    {
        if (text.size() < 3 || text[1] == '!' || text[1] == '?') {
            out.append(text.data(), qsizetype(text.size()));
            return;
        }
        const bool endTag = text[1] == '/';
        size_t nameEnd = endTag ? 2 : 1;
        while (nameEnd < text.size() && !isSpace(text[nameEnd]) && text[nameEnd] != '/' && text[nameEnd] != '>')
            ++nameEnd;
        const size_t nameStart = endTag ? 2 : 1;
        const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
        const std::string_view local = localPart(name);
        if (local == "sheetData"sv) {
            if (endTag) {
                addRows(m_run.last, out);
                out.append(text.data(), qsizetype(text.size()));
                return;
            }
            m_rowName = QByteArray(name.data(), qsizetype(name.size() - local.size())) + "row";
            if (text[text.size() - 2] == '/' && m_next <= m_run.last) {
                // <sheetData/>: it gets its rows and an end tag.
                StartTag tag = StartTag::parse(text);
                tag.selfClosed = false;
                out += tag.text();
                addRows(m_run.last, out);
                out += "</" + QByteArray(name.data(), qsizetype(name.size())) + '>';
                return;
            }
            out.append(text.data(), qsizetype(text.size()));
            return;
        }
        if (endTag || local != "row"sv) {
            out.append(text.data(), qsizetype(text.size()));
            return;
        }
        StartTag row = StartTag::parse(text);
        qint64 number = m_lastRow + 1;
        bool numbered = false;
        if (const QByteArray *r = row.value("r"sv)) {
            bool ok = false;
            const qint64 written = r->toLongLong(&ok);
            if (ok && written > 0) {
                number = written;
                numbered = true;
            }
        }
        m_lastRow = number;
        addRows(std::min(number - 1, m_run.last), out);
        const bool inRun = m_run.contains(number);
        if (inRun)
            m_change.apply(row);
        // A row without a number after an inserted one would take the wrong number.
        if (!numbered && m_inserted)
            row.set("r"sv, QByteArray::number(number), rowAttributeOrder);
        if (inRun || (!numbered && m_inserted))
            out += row.text();
        else
            out.append(text.data(), qsizetype(text.size()));
        m_next = std::max(m_next, number + 1);
    }

    // New rows for the part of the run up to `last` that has none yet.
    void addRows(qint64 last, QByteArray &out)
    {
        for (; m_next <= last; ++m_next) {
            StartTag row{m_rowName, {{"r", QByteArray::number(m_next)}}, true};
            m_change.apply(row);
            out += row.text();
            m_inserted = true;
        }
    }

    LineRun m_run;
    RowChange m_change;
    qint64 m_next; // the first row of the run not yet written
    qint64 m_lastRow = 0;
    bool m_inserted = false;
    QByteArray m_rowName = "row";
    MarkupSplitter m_splitter;
};

// What is done to each column of the run.
struct ColumnChange
{
    bool hide = false; // hide; otherwise set the width (0 hides too)
    double width = 0; // as stored

    void apply(StartTag &column) const
    {
        if (hide || width == 0) {
            if (!column.value("width"sv)) {
                column.set("width"sv, "0", columnAttributeOrder);
                column.set("customWidth"sv, "1", columnAttributeOrder);
            }
            column.set("hidden"sv, "1", columnAttributeOrder);
            return;
        }
        column.set("width"sv, numberText(width), columnAttributeOrder);
        column.set("customWidth"sv, "1", columnAttributeOrder);
        column.remove("hidden"sv);
    }
};

struct ColumnSpan
{
    qint64 min = 0;
    qint64 max = 0;
    StartTag tag;
};

void changeColumns(SplicedXmlPart &part, LineRun run, const ColumnChange &change)
{
    const QByteArray existing = part.element("cols"sv);
    QByteArray colsStart;
    QByteArray colsEnd;
    QByteArray columnName = part.childName("col"sv);
    std::vector<ColumnSpan> spans;
    if (existing.isEmpty()) {
        colsStart = '<' + part.childName("cols"sv) + '>';
        colsEnd = "</" + part.childName("cols"sv) + '>';
    } else {
        const qsizetype startEnd = existing.indexOf('>') + 1;
        colsStart = existing.left(startEnd);
        if (colsStart.endsWith("/>")) {
            const StartTag cols = StartTag::parse(std::string_view(colsStart.constData(), size_t(colsStart.size())));
            colsStart.chop(2);
            colsStart += '>';
            colsEnd = "</" + cols.name + '>';
        } else {
            colsEnd = existing.mid(existing.lastIndexOf("</"));
        }
        for (qsizetype at = existing.indexOf('<', startEnd); at >= 0 && at < existing.size() - colsEnd.size();
             at = existing.indexOf('<', at + 1)) {
            if (existing[at + 1] == '/' || existing[at + 1] == '!' || existing[at + 1] == '?')
                continue;
            const qsizetype close = existing.indexOf('>', at);
            StartTag tag = StartTag::parse(std::string_view(existing.constData() + at, size_t(close + 1 - at)));
            if (localPart(std::string_view(tag.name.constData(), size_t(tag.name.size()))) != "col"sv)
                continue;
            columnName = tag.name;
            const QByteArray *min = tag.value("min"sv);
            const QByteArray *max = tag.value("max"sv);
            if (!min || !max)
                throw EngineError(ErrorCode::Damaged, part.name() + QStringLiteral(": <col> without min or max"));
            ColumnSpan span{min->toLongLong(), max->toLongLong(), std::move(tag)};
            span.tag.selfClosed = true;
            spans.push_back(std::move(span));
        }
    }

    std::vector<ColumnSpan> result;
    auto piece = [&](const ColumnSpan &from, qint64 min, qint64 max, bool changed) {
        if (min > max)
            return;
        ColumnSpan span{min, max, from.tag};
        span.tag.set("min"sv, QByteArray::number(min), columnAttributeOrder);
        span.tag.set("max"sv, QByteArray::number(max), columnAttributeOrder);
        if (changed)
            change.apply(span.tag);
        result.push_back(std::move(span));
    };
    std::vector<LineRun> covered;
    for (const ColumnSpan &span : spans) {
        if (span.max < run.first || span.min > run.last) {
            result.push_back(span);
            continue;
        }
        piece(span, span.min, run.first - 1, false);
        piece(span, std::max(span.min, run.first), std::min(span.max, run.last), true);
        piece(span, run.last + 1, span.max, false);
        covered.push_back({std::max(span.min, run.first), std::min(span.max, run.last)});
    }
    // Columns of the run that no span covers get spans of their own.
    std::sort(covered.begin(), covered.end(), [](LineRun a, LineRun b) { return a.first < b.first; });
    qint64 next = run.first;
    const ColumnSpan blank{0, 0, StartTag{columnName, {}, true}};
    for (const LineRun &taken : covered) {
        piece(blank, next, taken.first - 1, true);
        next = std::max(next, taken.last + 1);
    }
    piece(blank, next, run.last, true);
    std::stable_sort(result.begin(), result.end(), [](const ColumnSpan &a, const ColumnSpan &b) { return a.min < b.min; });

    QByteArray text = colsStart;
    for (const ColumnSpan &span : result)
        text += span.tag.text();
    text += colsEnd;
    part.setElement("cols"sv, text, order::worksheet);
}

// Reads the heights of rows first..last (1-based) from the cell data as it streams by: only
// row start tags are looked at.
class RowHeightReader
{
public:
    RowHeightReader(qint64 first, qint64 last, double shownHeight, LineSizes &sizes)
        : m_first(first), m_last(last), m_shownHeight(shownHeight), m_sizes(sizes)
    { }

    void feed(const char *data, qsizetype size)
    {
        if (m_lastRow <= m_last)
            m_splitter.feed(data, size, [](const char *, qsizetype) { }, [&](std::string_view text) {
                readRow(text);
                return m_lastRow <= m_last;
            });
    }

private:
    void readRow(std::string_view text)
    {
        if (text.size() < 3 || text[1] == '/' || text[1] == '!' || text[1] == '?')
            return;
        size_t nameEnd = 1;
        while (nameEnd < text.size() && !isSpace(text[nameEnd]) && text[nameEnd] != '/' && text[nameEnd] != '>')
            ++nameEnd;
        if (localPart(text.substr(1, nameEnd - 1)) != "row"sv)
            return;
        const StartTag row = StartTag::parse(text);
        qint64 number = m_lastRow + 1;
        if (const QByteArray *r = row.value("r"sv)) {
            bool ok = false;
            const qint64 written = r->toLongLong(&ok);
            if (ok && written > 0)
                number = written;
        }
        m_lastRow = number;
        if (number < m_first || number > m_last)
            return;
        double points = m_shownHeight;
        if (const QByteArray *height = row.value("ht"sv)) {
            bool ok = false;
            const double value = height->toDouble(&ok);
            if (ok && value >= 0)
                points = value;
        }
        if (const QByteArray *hidden = row.value("hidden"sv); hidden && (*hidden == "1" || *hidden == "true"))
            points = 0;
        m_sizes.set(number - 1, std::llround(points * 12700));
    }

    qint64 m_first;
    qint64 m_last;
    double m_shownHeight;
    LineSizes &m_sizes;
    qint64 m_lastRow = 0;
    MarkupSplitter m_splitter;
};

// Pixels of a column `width` characters wide, for a maximum digit width in pixels.
qint64 columnPixels(double width, int digitWidth)
{
    return qint64(std::trunc((256 * width + std::trunc(128.0 / digitWidth)) / 256 * digitWidth));
}

} // namespace

void LineSizes::set(qint64 line, qint64 size)
{
    const qint64 before = m_extra.empty() ? 0 : m_extra.back() + m_sizes.back() - m_default;
    m_lines.push_back(line);
    m_sizes.push_back(size);
    m_extra.push_back(before);
}

qint64 LineSizes::size(qint64 line) const
{
    const auto at = std::lower_bound(m_lines.begin(), m_lines.end(), line);
    return at != m_lines.end() && *at == line ? m_sizes[size_t(at - m_lines.begin())] : m_default;
}

qint64 LineSizes::start(qint64 line) const
{
    const size_t set = size_t(std::lower_bound(m_lines.begin(), m_lines.end(), line) - m_lines.begin());
    const qint64 extra = set == 0 ? 0 : m_extra[set - 1] + m_sizes[set - 1] - m_default;
    return line * m_default + extra;
}

double snappedRowHeight(double points)
{
    return std::round(points / 0.75) * 0.75;
}

double storedColumnWidth(double characters, int digitWidth)
{
    if (characters <= 0)
        return 0;
    const double pixels = characters >= 1 ? std::round(characters * digitWidth) + 5 : std::round(characters * (digitWidth + 5));
    return std::trunc(pixels * 256 / digitWidth) / 256;
}

int digitWidthOfFont(const QString &family, double points)
{
    struct Known
    {
        const char16_t *family;
        double points;
        int pixels;
    };
    static const Known known[] = {
        {u"Calibri", 11, 7},
        {u"Arial", 8, 6},
        {u"Arial", 10, 7},
        {u"Arial", 11, 8},
        {u"Arial", 12, 9},
        {u"Arial", 14, 11},
        {u"Arial", 16, 12},
        {u"Arial", 18, 13},
        {u"宋体", 11, 8},
        {u"SimSun", 11, 8},
        {u"等线", 11, 8},
        {u"DengXian", 11, 8},
    };
    for (const Known &font : known) {
        if (family.compare(QString::fromUtf16(font.family), Qt::CaseInsensitive) == 0 && font.points == points)
            return font.pixels;
    }
    // Digits are about half as wide as the font's em at 96 dpi.
    return std::max(1, int(std::lround(points * 96 / 72 * 0.5)));
}

SheetRowsColumns::SheetRowsColumns(PackageDocument &document, const SheetEntry &sheet) : m_document(document), m_sheet(sheet) { }

void SheetRowsColumns::hideRows(LineRun rows)
{
    const RowChange change{true, 0};
    m_document.sheetPart(m_sheet).addRewrite([rows, change] { return std::make_unique<RowRewrite>(rows, change); });
}

void SheetRowsColumns::setRowHeight(LineRun rows, double points)
{
    if (!(points >= 0) || points > kMaxRowHeight)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(points));
    const RowChange change{false, snappedRowHeight(points)};
    m_document.sheetPart(m_sheet).addRewrite([rows, change] { return std::make_unique<RowRewrite>(rows, change); });
}

void SheetRowsColumns::hideColumns(LineRun columns)
{
    changeColumns(m_document.sheetPart(m_sheet), columns, ColumnChange{true, 0});
}

void SheetRowsColumns::setColumnWidth(LineRun columns, double characters)
{
    if (!(characters >= 0) || characters > kMaxColumnWidth)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(characters));
    const ColumnChange change{false, storedColumnWidth(characters, maximumDigitWidth())};
    changeColumns(m_document.sheetPart(m_sheet), columns, change);
}

int SheetRowsColumns::maximumDigitWidth()
{
    if (m_digitWidth)
        return *m_digitWidth;
    QString family = QStringLiteral("Calibri");
    double points = 11;
    OpcPackage &package = m_document.package();
    QString stylesName;
    for (const Relationship &relationship : package.relationships(m_document.model().partName())) {
        if (rel::isType(relationship.type, stylesType))
            stylesName = relationship.partName;
    }
    if (!stylesName.isEmpty() && package.hasPart(stylesName)) {
        const pugi::xml_node styles = package.xml(stylesName).root();
        // The Normal style: its cell style format, and that format's font.
        qint64 styleFormat = 0;
        for (pugi::xml_node style = xml::child(xml::child(styles, "cellStyles"), "cellStyle"); style;
             style = style.next_sibling()) {
            if (xml::localName(style) == "cellStyle"sv && std::string_view(style.attribute("builtinId").value()) == "0"sv)
                styleFormat = style.attribute("xfId").as_llong();
        }
        qint64 fontId = 0;
        qint64 index = 0;
        for (pugi::xml_node format = xml::child(xml::child(styles, "cellStyleXfs"), "xf"); format;
             format = format.next_sibling()) {
            if (xml::localName(format) != "xf"sv)
                continue;
            if (index++ == styleFormat)
                fontId = format.attribute("fontId").as_llong();
        }
        index = 0;
        for (pugi::xml_node font = xml::child(xml::child(styles, "fonts"), "font"); font; font = font.next_sibling()) {
            if (xml::localName(font) != "font"sv)
                continue;
            if (index++ != fontId)
                continue;
            if (const pugi::xml_node name = xml::child(font, "name"))
                family = QString::fromUtf8(name.attribute("val").value());
            if (const pugi::xml_node size = xml::child(font, "sz"))
                points = size.attribute("val").as_double(points);
        }
    }
    m_digitWidth = digitWidthOfFont(family, points);
    return *m_digitWidth;
}

LineSizes SheetRowsColumns::lineSizes(bool columns, qint64 first, qint64 last)
{
    SplicedXmlPart &part = m_document.sheetPart(m_sheet);
    StartTag format;
    if (const QByteArray text = part.element("sheetFormatPr"sv); !text.isEmpty())
        format = StartTag::parse(std::string_view(text.constData(), size_t(text.indexOf('>') + 1)));
    auto number = [&](std::string_view name, double fallback) {
        bool ok = false;
        const QByteArray *value = format.value(name);
        const double result = value ? value->toDouble(&ok) : 0;
        return ok ? result : fallback;
    };
    first = std::max<qint64>(first, 0);
    if (!columns) {
        // A sheet without a default height was written for the default font: Calibri 11.
        const double shownHeight = number("defaultRowHeight"sv, 15);
        const QByteArray *zeroHeight = format.value("zeroHeight"sv);
        const bool hiddenByDefault = zeroHeight && (*zeroHeight == "1" || *zeroHeight == "true");
        LineSizes sizes(hiddenByDefault ? 0 : std::llround(shownHeight * 12700));
        RowHeightReader reader(first + 1, std::min(last, kSheetRows - 1) + 1, shownHeight, sizes);
        m_document.package().readSheetData(m_sheet.partName, [&](const char *data, qsizetype size) { reader.feed(data, size); });
        return sizes;
    }
    const int digitWidth = maximumDigitWidth();
    const qint64 defaultPixels = format.value("defaultColWidth"sv)
        ? columnPixels(number("defaultColWidth"sv, 0), digitWidth)
        : (qint64(number("baseColWidth"sv, 8)) * digitWidth + 5 + 7) / 8 * 8;
    LineSizes sizes(defaultPixels * 9525);
    const QByteArray cols = part.element("cols"sv);
    std::vector<std::pair<qint64, qint64>> set; // 0-based column, pixels
    for (qsizetype at = cols.indexOf('<', 1); at >= 0; at = cols.indexOf('<', at + 1)) {
        const qsizetype close = cols.indexOf('>', at);
        if (close < 0)
            break;
        const StartTag tag = StartTag::parse(std::string_view(cols.constData() + at, size_t(close + 1 - at)));
        if (localPart(std::string_view(tag.name.constData(), size_t(tag.name.size()))) != "col"sv)
            continue;
        const QByteArray *min = tag.value("min"sv);
        const QByteArray *max = tag.value("max"sv);
        if (!min || !max)
            continue;
        const QByteArray *hidden = tag.value("hidden"sv);
        const QByteArray *width = tag.value("width"sv);
        qint64 pixels = defaultPixels;
        if (hidden && (*hidden == "1" || *hidden == "true"))
            pixels = 0;
        else if (width)
            pixels = columnPixels(width->toDouble(), digitWidth);
        for (qint64 column = std::max(min->toLongLong() - 1, first); column <= std::min({max->toLongLong() - 1, last, kSheetColumns - 1}); ++column)
            set.emplace_back(column, pixels);
    }
    // Spans must not overlap; where they do, the first one written counts.
    std::stable_sort(set.begin(), set.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    qint64 previous = -1;
    for (const auto &[column, pixels] : set) {
        if (column != previous)
            sizes.set(column, pixels * 9525);
        previous = column;
    }
    return sizes;
}

} // namespace gm::xlsx
