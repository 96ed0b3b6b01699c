#include "automation/xlsx/CsvExport.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/cells/NumberFormat.h"
#include "automation/xlsx/CellTexts.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/WorkbookModel.h"
#include "automation/xlsx/XmlText.h"
#include "automation/xlsx/XmlTree.h"
#include "automation/xlsx/ZipArchive.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace gm::xlsx {

namespace {

const QString sharedStringsType
    = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings");
const QString stylesType = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");

// Thrown while reading when the engine has to write the file.
struct EngineNeeded
{
    QString reason;
};

bool isTrue(pugi::xml_attribute attribute)
{
    const std::string_view value = attribute.value();
    return value == "1" || value == "true";
}

// "B12" to 0-based row and column; false for anything else.
bool parseCell(std::string_view text, int *row, int *column)
{
    size_t i = 0;
    int col = 0;
    while (i < text.size() && i < 3 && text[i] >= 'A' && text[i] <= 'Z')
        col = col * 26 + (text[i++] - 'A' + 1);
    if (col == 0 || i == text.size())
        return false;
    int r = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || r > 1048576)
            return false;
        r = r * 10 + (text[i] - '0');
    }
    if (r < 1 || r > 1048576 || col > 16384)
        return false;
    *row = r - 1;
    *column = col - 1;
    return true;
}

// A forward-only reader of an XML part fed in chunks, fast enough for sheets of millions of
// cells: it reports start tags with their attributes, end tags and text, raw (entities still
// encoded) and valid only during the call. Text is reported once the markup after it has
// arrived, so an entity is never split. Comments, processing instructions and CDATA sections
// are understood; a document type declaration, a tag that does not match the one it closes
// or a document cut short throws EngineError(Damaged).
template<typename Handler> class PartScanner
{
public:
    struct Attribute
    {
        std::string_view name; // local name
        std::string_view value; // raw
    };

    explicit PartScanner(Handler &handler) : m_handler(handler) { }

    void feed(const char *data, qsizetype size)
    {
        if (m_pos > 0) {
            m_buffer.erase(0, m_pos);
            m_pos = 0;
        }
        m_buffer.append(data, size_t(size));
        scan();
    }

    void finish()
    {
        if (m_pos < m_buffer.size() && m_buffer.find('<', m_pos) != std::string::npos)
            fail("a tag cut short");
        if (!m_open.empty() || !m_rootSeen)
            fail("an element not closed");
    }

private:
    [[noreturn]] static void fail(const char *what) { throw EngineError(ErrorCode::Damaged, QString::fromLatin1(what)); }

    static std::string_view localName(std::string_view qualified)
    {
        const size_t colon = qualified.find(':');
        return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    }

    void scan()
    {
        const std::string_view all(m_buffer);
        while (m_pos < all.size()) {
            const size_t open = all.find('<', m_pos);
            if (open == std::string_view::npos)
                return; // the text goes on in the next chunk
            if (open > m_pos && !m_open.empty())
                m_handler.text(all.substr(m_pos, open - m_pos));
            m_pos = open;
            if (all.size() - open < 2)
                return;
            const char next = all[open + 1];
            if (next == '!') {
                if (all.compare(open, 4, "<!--") == 0) {
                    const size_t end = all.find("-->", open + 4);
                    if (end == std::string_view::npos)
                        return;
                    m_pos = end + 3;
                } else if (all.compare(open, 9, "<![CDATA[") == 0) {
                    const size_t end = all.find("]]>", open + 9);
                    if (end == std::string_view::npos)
                        return;
                    if (!m_open.empty())
                        m_handler.cdata(all.substr(open + 9, end - open - 9));
                    m_pos = end + 3;
                } else if (all.size() - open < 9) {
                    return;
                } else {
                    fail("a document type declaration");
                }
            } else if (next == '?') {
                const size_t end = all.find("?>", open + 2);
                if (end == std::string_view::npos)
                    return;
                m_pos = end + 2;
            } else if (next == '/') {
                const size_t end = all.find('>', open + 2);
                if (end == std::string_view::npos)
                    return;
                std::string_view name = all.substr(open + 2, end - open - 2);
                while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '\r' || name.back() == '\n'))
                    name.remove_suffix(1);
                if (m_open.empty() || m_open.back() != name)
                    fail("an end tag that does not match");
                m_open.pop_back();
                m_pos = end + 1;
                m_handler.endElement(localName(name));
            } else {
                // The end of the start tag: the first ">" outside a quoted value.
                const qsizetype after = startTagEnd(all, qsizetype(open + 1));
                const size_t end = after < 0 ? all.size() : size_t(after - 1);
                if (end >= all.size())
                    return;
                startTag(all.substr(open + 1, end - open - 1));
                m_pos = end + 1;
            }
        }
    }

    void startTag(std::string_view tag)
    {
        const bool selfClosed = !tag.empty() && tag.back() == '/';
        if (selfClosed)
            tag.remove_suffix(1);
        size_t i = 0;
        while (i < tag.size() && !isSpace(tag[i]))
            ++i;
        const std::string_view name = tag.substr(0, i);
        if (name.empty())
            fail("a tag without a name");
        if (m_open.empty() && m_rootSeen)
            fail("a second root element");
        m_rootSeen = true;
        m_attributes.clear();
        while (i < tag.size()) {
            while (i < tag.size() && isSpace(tag[i]))
                ++i;
            if (i >= tag.size())
                break;
            const size_t nameStart = i;
            while (i < tag.size() && tag[i] != '=' && !isSpace(tag[i]))
                ++i;
            const std::string_view attribute = tag.substr(nameStart, i - nameStart);
            while (i < tag.size() && (isSpace(tag[i]) || tag[i] == '='))
                ++i;
            if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
                fail("an attribute without a quoted value");
            const char quote = tag[i++];
            const size_t valueEnd = tag.find(quote, i);
            if (valueEnd == std::string_view::npos)
                fail("an attribute value cut short");
            m_attributes.push_back({localName(attribute), tag.substr(i, valueEnd - i)});
            i = valueEnd + 1;
        }
        const std::string_view local = localName(name);
        m_handler.startElement(local, m_attributes);
        if (selfClosed)
            m_handler.endElement(local);
        else
            m_open.emplace_back(name);
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    Handler &m_handler;
    std::string m_buffer;
    size_t m_pos = 0;
    std::vector<std::string> m_open; // qualified names of the open elements
    std::vector<Attribute> m_attributes;
    bool m_rootSeen = false;
};

template<typename Attributes> std::string_view attributeValue(const Attributes &attributes, std::string_view name)
{
    for (const auto &attribute : attributes) {
        if (attribute.name == name)
            return attribute.value;
    }
    return {};
}

template<typename Attributes> bool hasAttribute(const Attributes &attributes, std::string_view name)
{
    for (const auto &attribute : attributes) {
        if (attribute.name == name)
            return true;
    }
    return false;
}

// Appends raw XML text with its entities and character references decoded and its line ends
// read as an XML reader does: CRLF and a lone CR become LF (a CR given as a reference stays).
void appendDecoded(std::string &out, std::string_view raw)
{
    size_t i = 0;
    while (i < raw.size()) {
        const size_t special = raw.find_first_of("&\r", i);
        if (special == std::string_view::npos) {
            out.append(raw.substr(i));
            return;
        }
        out.append(raw.substr(i, special - i));
        if (raw[special] == '\r') {
            out += '\n';
            i = special + 1 < raw.size() && raw[special + 1] == '\n' ? special + 2 : special + 1;
            continue;
        }
        const size_t amp = special;
        const size_t semi = raw.find(';', amp);
        if (semi == std::string_view::npos)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("an entity without its end"));
        const std::string_view entity = raw.substr(amp + 1, semi - amp - 1);
        const char32_t c = xmlEntityCharacter(entity);
        if (c == 0)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("an unknown entity or a bad character reference"));
        if (c < 0x80)
            out += char(c);
        else
            out.append(QString::fromUcs4(&c, 1).toStdString());
        i = semi + 1;
    }
}

// Appends the text of a CDATA section, its line ends read as an XML reader does.
void appendCData(std::string &out, std::string_view raw)
{
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\r')
            out += raw[i];
        else if (i + 1 == raw.size() || raw[i + 1] != '\n')
            out += '\n';
    }
}

int toInt(std::string_view text, int fallback = 0)
{
    int value = fallback;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() ? value : fallback;
}

double toDouble(std::string_view text, bool *ok)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '+'))
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    *ok = !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
    return value;
}

// Functions whose result the spreadsheet program computes anew whenever it opens a workbook,
// so the cached result in the file is not what it shows.
bool callsVolatileFunction(const QString &formula)
{
    static const QRegularExpression volatileCall(
        QStringLiteral("(?<![A-Za-z0-9_.])(?:_xlfn\\.)?(NOW|TODAY|RAND|RANDBETWEEN|RANDARRAY|OFFSET|INDIRECT|INFO|CELL)\\s*\\("),
        QRegularExpression::CaseInsensitiveOption);
    return volatileCall.match(formula).hasMatch();
}

// Display width of a text in the column's character units: a digit is one, a wide (CJK)
// character two.
int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return width;
}

// Buffered writer of the output: a record's bytes go to a file in large writes.
class Output
{
public:
    explicit Output(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw EngineError(ErrorCode::WriteFailed, path + QStringLiteral(": ") + m_file.errorString());
        m_buffer.reserve(kChunk + 4096);
    }
    QByteArray &buffer() { return m_buffer; }
    qint64 position() const { return m_written + m_buffer.size(); }
    void spill()
    {
        if (m_buffer.size() >= kChunk)
            flush();
    }
    void flush()
    {
        if (m_buffer.isEmpty())
            return;
        if (m_file.write(m_buffer) != m_buffer.size())
            throw EngineError(ErrorCode::WriteFailed, m_file.fileName() + QStringLiteral(": ") + m_file.errorString());
        m_written += m_buffer.size();
        m_buffer.clear();
    }
    void close()
    {
        flush();
        if (!m_file.flush())
            throw EngineError(ErrorCode::WriteFailed, m_file.fileName() + QStringLiteral(": ") + m_file.errorString());
        m_file.close();
    }
    void discard()
    {
        m_file.close();
        m_file.remove();
    }

private:
    static constexpr qsizetype kChunk = 1 << 20;
    QFile m_file;
    QByteArray m_buffer;
    qint64 m_written = 0;
};

// The workbook-wide parts a sheet's cells refer to: shared strings, cell styles with their
// number formats, the date system.
class WorkbookParts
{
public:
    WorkbookParts(OpcPackage &package, const QString &workbookPart)
    {
        const pugi::xml_node root = package.xml(workbookPart).root();
        m_system = isTrue(xml::child(root, "workbookPr").attribute("date1904")) ? DateSystem::Date1904 : DateSystem::Date1900;
        if (isTrue(xml::child(root, "calcPr").attribute("fullCalcOnLoad")))
            throw EngineNeeded{QStringLiteral("the workbook asks for a full recalculation")};
        for (const Relationship &relationship : package.relationships(workbookPart)) {
            if (relationship.partName.isEmpty() || !package.hasPart(relationship.partName))
                continue;
            if (rel::isType(relationship.type, sharedStringsType))
                readStrings(package, relationship.partName);
            else if (rel::isType(relationship.type, stylesType))
                readStyles(package.xml(relationship.partName).root());
        }
    }

    DateSystem dateSystem() const { return m_system; }
    qsizetype stringCount() const { return qsizetype(m_strings.size()); }
    // A shared string as UTF-8.
    const std::string &string(qsizetype index) const { return m_strings[size_t(index)]; }

    const NumberFormat &format(int style)
    {
        if (style < 0 || style >= int(m_styleFormats.size()))
            return m_formats.builtIn(0);
        const NumberFormat *&format = m_styleFormats[size_t(style)];
        if (!format)
            format = &m_formats.format(m_styleCodes[size_t(style)]);
        return *format;
    }

    // Whether the style's format repeats a character to fill the cell ("* " in accounting
    // formats): the text then depends on the column's width in pixels.
    bool fillsCell(int style)
    {
        if (style < 0 || style >= int(m_styleCodes.size()))
            return false;
        signed char &fills = m_styleFills[size_t(style)];
        if (fills < 0)
            fills = hasFill(m_styleCodes[size_t(style)]) ? 1 : 0;
        return fills == 1;
    }

    // Undoes the _xHHHH_ escapes of a string value.
    static void unescape(std::string &text)
    {
        if (text.find("_x") != std::string::npos)
            text = decodeXmlText(QString::fromStdString(text)).toStdString();
    }

private:
    // The shared-string table, streamed: the text of each item, its runs joined, phonetic
    // runs left out.
    struct StringReader
    {
        std::vector<std::string> &strings;
        std::string value;
        bool inItem = false;
        bool inText = false;
        int phonetic = 0;

        template<typename Attributes> void startElement(std::string_view name, const Attributes &)
        {
            if (name == "si") {
                inItem = true;
                value.clear();
            } else if (name == "rPh") {
                ++phonetic;
            } else if (name == "t" && inItem && phonetic == 0) {
                inText = true;
            }
        }
        void endElement(std::string_view name)
        {
            if (name == "si") {
                unescape(value);
                strings.push_back(std::move(value));
                value.clear();
                inItem = false;
            } else if (name == "rPh") {
                --phonetic;
            } else if (name == "t") {
                inText = false;
            }
        }
        void text(std::string_view raw)
        {
            if (inText)
                appendDecoded(value, raw);
        }
        void cdata(std::string_view raw)
        {
            if (inText)
                appendCData(value, raw);
        }
    };

    void readStrings(OpcPackage &package, const QString &part)
    {
        StringReader reader{m_strings, {}, false, false, 0};
        PartScanner<StringReader> scanner(reader);
        package.readPartChunks(part, [&](const char *data, qsizetype size) { scanner.feed(data, size); });
        scanner.finish();
    }

    void readStyles(pugi::xml_node root)
    {
        m_styleCodes = styleFormatCodes(root);
        m_styleFormats.assign(m_styleCodes.size(), nullptr);
        m_styleFills.assign(m_styleCodes.size(), -1);
    }

    // A "*" outside quotes that is not escaped and not the width of a "_" gap.
    static bool hasFill(const QString &code)
    {
        bool quoted = false;
        for (qsizetype i = 0; i < code.size(); ++i) {
            const QChar c = code.at(i);
            if (c == u'"')
                quoted = !quoted;
            else if (quoted)
                continue;
            else if (c == u'\\' || c == u'_')
                ++i;
            else if (c == u'*')
                return true;
        }
        return false;
    }

    DateSystem m_system = DateSystem::Date1900;
    std::vector<std::string> m_strings;
    std::vector<QString> m_styleCodes;
    std::vector<const NumberFormat *> m_styleFormats;
    std::vector<signed char> m_styleFills; // -1 not known yet, else 0 or 1
    NumberFormatCache m_formats;
};

// The last row and column a sheet's notes sit in (-1 when it has none).
void addNoteExtent(OpcPackage &package, const QString &sheetPart, int *lastRow, int *lastColumn)
{
    for (const Relationship &relationship : package.relationships(sheetPart)) {
        if (!relationship.type.endsWith(QStringLiteral("/comments")) || relationship.partName.isEmpty()
            || !package.hasPart(relationship.partName))
            continue;
        QXmlStreamReader reader(package.partBytes(relationship.partName));
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"comment") {
                const QByteArray ref = reader.attributes().value(QLatin1StringView("ref")).toUtf8();
                int row = 0;
                int column = 0;
                if (parseCell(std::string_view(ref.constData(), size_t(ref.size())), &row, &column)) {
                    *lastRow = std::max(*lastRow, row);
                    *lastColumn = std::max(*lastColumn, column);
                }
            }
        }
        if (reader.hasError())
            throw EngineError(ErrorCode::Damaged, relationship.partName + QStringLiteral(": ") + reader.errorString());
    }
}

// Streams a worksheet part and writes its records, each unpadded, remembering where each one
// ends; padding to the sheet's width follows once the width is known.
class SheetWriter
{
public:
    SheetWriter(WorkbookParts &parts, Output &output, char separator) : m_parts(parts), m_out(output), m_separator(separator) { }

    void run(OpcPackage &package, const QString &part)
    {
        PartScanner<SheetWriter> scanner(*this);
        package.readPartChunks(part, [&](const char *data, qsizetype size) {
            scanner.feed(data, size);
            m_out.spill();
        });
        scanner.finish();
        if (m_row >= 0)
            endRecord();
    }

    struct Record
    {
        quint32 length = 0; // bytes, without the record end
        quint32 fields = 0; // fields written; the rest of the record is padding
    };
    const std::vector<Record> &records() const { return m_records; }
    int lastRow() const { return m_lastRow; }
    int lastColumn() const { return m_lastColumn; }

    // Scanner events.
    template<typename Attributes> void startElement(std::string_view name, const Attributes &attributes)
    {
        if (m_inCell) {
            if (name == "v") {
                m_hasValue = true;
                m_text = &m_value;
            } else if (name == "f") {
                m_hasFormula = true;
                m_text = &m_formula;
                m_sharedIndex = attributeValue(attributes, "t") == "shared" ? toInt(attributeValue(attributes, "si"), -1) : -1;
            } else if (name == "is") {
                m_hasInline = true;
                m_inInline = true;
            } else if (name == "rPh") {
                ++m_phonetic;
            } else if (name == "t" && m_inInline && m_phonetic == 0) {
                m_text = &m_inlineText;
            }
            return;
        }
        if (name == "c") {
            int row = m_row;
            int column = m_column + 1;
            if (const std::string_view ref = attributeValue(attributes, "r"); !ref.empty()) {
                if (!parseCell(ref, &row, &column))
                    throw EngineNeeded{QStringLiteral("a cell reference it cannot read")};
                if (row != m_row)
                    throw EngineNeeded{QStringLiteral("a cell outside its row")};
            }
            if (m_row < 0 || column <= m_column || column > 16383)
                throw EngineNeeded{QStringLiteral("cells out of order")};
            m_column = column;
            m_inCell = true;
            m_hasValue = m_hasFormula = m_hasInline = m_inInline = false;
            m_phonetic = 0;
            m_value.clear();
            m_formula.clear();
            m_inlineText.clear();
            m_style = toInt(attributeValue(attributes, "s"));
            const std::string_view type = attributeValue(attributes, "t");
            m_type.assign(type.data(), type.size());
        } else if (name == "row") {
            const std::string_view r = attributeValue(attributes, "r");
            const int row = r.empty() ? m_row + 1 : toInt(r) - 1;
            if (row <= m_row || row > 1048575)
                throw EngineNeeded{QStringLiteral("rows out of order")};
            if (m_row >= 0)
                endRecord();
            // Rows the part leaves out are empty records.
            while (qsizetype(m_records.size()) < row) {
                m_records.push_back({});
                m_out.buffer().append("\r\n", 2);
                m_out.spill();
            }
            m_row = row;
            m_column = -1;
            m_fields = 0;
            m_recordStart = m_out.position();
        } else if (name == "col") {
            const int first = toInt(attributeValue(attributes, "min"));
            const int last = toInt(attributeValue(attributes, "max"));
            bool ok = false;
            const double width = toDouble(attributeValue(attributes, "width"), &ok);
            if (ok && first >= 1 && last >= first)
                m_columnWidths.push_back({first - 1, std::min(last, 16384) - 1, int(std::floor(width))});
        } else if (name == "sheetFormatPr") {
            bool ok = false;
            const double width = toDouble(attributeValue(attributes, "defaultColWidth"), &ok);
            if (ok)
                m_defaultWidth = int(std::floor(width));
            else if (hasAttribute(attributes, "baseColWidth"))
                m_defaultWidth = toInt(attributeValue(attributes, "baseColWidth"), 8);
        }
    }

    void endElement(std::string_view name)
    {
        if (!m_inCell)
            return;
        if (name == "c") {
            m_inCell = false;
            endCell();
        } else if (name == "v" || name == "f" || name == "t") {
            m_text = nullptr;
        } else if (name == "rPh") {
            --m_phonetic;
        } else if (name == "is") {
            m_inInline = false;
        }
    }

    void text(std::string_view raw)
    {
        if (m_text)
            appendDecoded(*m_text, raw);
    }
    void cdata(std::string_view raw)
    {
        if (m_text)
            appendCData(*m_text, raw);
    }

private:
    void endCell()
    {
        if (m_hasFormula)
            checkFormula();
        const NumberFormat &format = m_parts.format(m_style);
        if (m_type == "inlineStr") {
            if (!m_hasInline && !m_hasValue)
                return;
            std::string &text = m_hasInline ? m_inlineText : m_value;
            WorkbookParts::unescape(text);
            return writeText(format, text);
        }
        if (!m_hasValue) {
            if (m_hasFormula)
                throw EngineNeeded{QStringLiteral("a formula without a cached result")};
            return; // a formatted blank: it only moves the column on
        }
        if (m_type == "s") {
            const int index = toInt(m_value, -1);
            if (index < 0 || index >= m_parts.stringCount())
                throw EngineNeeded{QStringLiteral("a shared string that is not in the table")};
            return writeText(format, m_parts.string(index));
        }
        if (m_type == "str") {
            WorkbookParts::unescape(m_value);
            return writeText(format, m_value);
        }
        CellValue value;
        if (m_type == "b") {
            value = CellValue::ofBoolean(toInt(m_value) != 0);
        } else if (m_type == "e") {
            value = CellValue::ofError(QString::fromStdString(m_value).trimmed());
        } else if (m_type.empty() || m_type == "n") {
            bool ok = false;
            const double number = toDouble(m_value, &ok);
            if (!ok)
                throw EngineNeeded{QStringLiteral("a number it cannot read")};
            value = CellValue::ofNumber(number);
        } else {
            throw EngineNeeded{QStringLiteral("a cell of type \"%1\"").arg(QString::fromStdString(m_type))};
        }
        const QString text = format.format(value, m_parts.dateSystem());
        if (value.type == CellValue::Type::Number) {
            // A cell shows these as wide as it is, which only its pixel width tells.
            if (displayWidth(text) > columnWidth(m_column) || text == NumberFormat::InvalidDateText)
                throw EngineNeeded{QStringLiteral("a number wider than its column")};
            if (m_parts.fillsCell(m_style))
                throw EngineNeeded{QStringLiteral("a number format that fills the cell")};
        }
        const QByteArray bytes = text.toUtf8();
        writeField(std::string_view(bytes.constData(), size_t(bytes.size())));
    }

    void writeText(const NumberFormat &format, const std::string &text)
    {
        if (format.showsTextUnchanged())
            return writeField(text);
        const QByteArray bytes = format.formatText(QString::fromStdString(text)).toUtf8();
        writeField(std::string_view(bytes.constData(), size_t(bytes.size())));
    }

    void checkFormula()
    {
        bool isVolatile = false;
        if (!m_formula.empty()) {
            isVolatile = callsVolatileFunction(QString::fromStdString(m_formula));
            if (m_sharedIndex >= 0)
                m_volatileShared.insert(m_sharedIndex, isVolatile);
        } else if (m_sharedIndex >= 0) {
            isVolatile = m_volatileShared.value(m_sharedIndex, false);
        }
        if (isVolatile)
            throw EngineNeeded{QStringLiteral("a formula that is computed anew on opening")};
    }

    int columnWidth(int column) const
    {
        for (const ColumnWidth &range : m_columnWidths) {
            if (column >= range.first && column <= range.last)
                return range.width;
        }
        return m_defaultWidth;
    }

    void writeField(std::string_view bytes)
    {
        QByteArray &out = m_out.buffer();
        out.append(m_fields == 0 ? m_column : m_column - m_fields + 1, m_separator);
        const bool quoted = bytes.find_first_of(m_quoteTriggers) != std::string_view::npos;
        if (quoted) {
            out.append('"');
            for (const char c : bytes) {
                if (c == '"')
                    out.append('"');
                out.append(c);
            }
            out.append('"');
        } else {
            out.append(bytes.data(), qsizetype(bytes.size()));
        }
        m_fields = m_column + 1;
        m_lastRow = std::max(m_lastRow, m_row);
        m_lastColumn = std::max(m_lastColumn, m_column);
    }

    void endRecord()
    {
        m_records.push_back({quint32(m_out.position() - m_recordStart), quint32(m_fields)});
        m_out.buffer().append("\r\n", 2);
    }

    struct ColumnWidth
    {
        int first;
        int last;
        int width;
    };

    WorkbookParts &m_parts;
    Output &m_out;
    const char m_separator;
    const char m_quoteTriggers[5] = {m_separator, '"', '\n', '\r', 0};
    std::vector<Record> m_records;
    std::vector<ColumnWidth> m_columnWidths;
    int m_defaultWidth = 8;
    QHash<int, bool> m_volatileShared; // shared formula index: calls a volatile function
    int m_row = -1;
    int m_column = -1;
    int m_fields = 0;
    qint64 m_recordStart = 0;
    int m_lastRow = -1;
    int m_lastColumn = -1;
    // The cell being read.
    bool m_inCell = false;
    bool m_inInline = false;
    bool m_hasValue = false;
    bool m_hasFormula = false;
    bool m_hasInline = false;
    int m_phonetic = 0;
    int m_sharedIndex = -1;
    int m_style = 0;
    std::string *m_text = nullptr; // where the text being read goes
    std::string m_type;
    std::string m_value;
    std::string m_formula;
    std::string m_inlineText;
};

// Copies the unpadded records to `target`, each padded to `columns` fields and ended with CRLF.
void writePadded(const QString &records, const std::vector<SheetWriter::Record> &list, int rows, int columns, char separator,
    const QString &target)
{
    QFile in(records);
    if (!in.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::WriteFailed, records + QStringLiteral(": ") + in.errorString());
    Output out(target);
    for (int row = 0; row < rows; ++row) {
        const SheetWriter::Record record = row < qsizetype(list.size()) ? list[size_t(row)] : SheetWriter::Record{};
        QByteArray &buffer = out.buffer();
        if (row < qsizetype(list.size())) {
            const qsizetype at = buffer.size();
            buffer.resize(at + record.length);
            if (in.read(buffer.data() + at, record.length) != record.length || !in.skip(2))
                throw EngineError(ErrorCode::WriteFailed, records + QStringLiteral(": ") + in.errorString());
        }
        buffer.append(columns - std::max<int>(int(record.fields), 1), separator);
        buffer.append("\r\n", 2);
        out.spill();
    }
    out.close();
}

} // namespace

SheetTextExport exportActiveSheetText(const QString &source, const QString &target, TextSeparator separatorKind)
{
    const char separator = separatorKind == TextSeparator::Comma ? ',' : '\t';
    const QString temporary = temporarySiblingPath(target, QStringLiteral(".tmp"));
    std::optional<Output> output;
    try {
        OpcPackage package(ZipArchive::fromFile(source));
        const WorkbookModel model(package);
        const std::vector<SheetEntry> &sheets = model.sheets();
        if (sheets.empty())
            throw EngineNeeded{QStringLiteral("a workbook without sheets")};
        const SheetEntry &sheet = sheets[size_t(model.activeTab())];
        if (sheet.visibility != SheetVisibility::Visible)
            throw EngineNeeded{QStringLiteral("a hidden active sheet")};
        if (sheet.kind == SheetKind::Other)
            throw EngineNeeded{QStringLiteral("an active sheet that is not a worksheet")};
        WorkbookParts parts(package, model.partName());

        if (QFileInfo::exists(target) && !isOwnerWritable(target))
            throw EngineError(ErrorCode::ReadOnlyFile, target);
        output.emplace(temporary);
        if (sheet.kind == SheetKind::Chart) {
            output->buffer().append("\r\n", 2);
            output->close();
            replaceWithTemporary(temporary, target);
            return {true, {}};
        }
        SheetWriter writer(parts, *output, separator);
        writer.run(package, sheet.partName);
        output->close();
        int lastRow = writer.lastRow();
        int lastColumn = writer.lastColumn();
        addNoteExtent(package, sheet.partName, &lastRow, &lastColumn);
        const int rows = std::max(lastRow, 0) + 1;
        const int columns = std::max(lastColumn, 0) + 1;
        const auto &records = writer.records();
        const bool padded = qsizetype(records.size()) == rows
            && std::all_of(records.begin(), records.end(),
                [&](const SheetWriter::Record &record) { return std::max<int>(int(record.fields), 1) == columns; });
        if (!padded) {
            const QString final = temporarySiblingPath(target, QStringLiteral(".tmp"));
            try {
                writePadded(temporary, records, rows, columns, separator, final);
            } catch (...) {
                QFile::remove(final);
                throw;
            }
            QFile::remove(temporary);
            replaceWithTemporary(final, target);
        } else {
            replaceWithTemporary(temporary, target);
        }
        return {true, {}};
    } catch (const EngineNeeded &needed) {
        if (output)
            output->discard();
        QFile::remove(temporary);
        return {false, needed.reason};
    } catch (const EngineError &error) {
        if (output)
            output->discard();
        QFile::remove(temporary);
        // A package this reader cannot follow may still be one the engine reads; failures to
        // write are the run's to report.
        if (error.code() == ErrorCode::Damaged || error.code() == ErrorCode::NotAWorkbook
            || error.code() == ErrorCode::UnsupportedFormat)
            return {false, error.description()};
        throw;
    }
}

} // namespace gm::xlsx
