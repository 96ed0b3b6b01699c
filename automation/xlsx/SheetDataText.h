#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace gm::xlsx {

class OpcPackage;

// A forward scan over XML markup held as text.
namespace markup {
enum class Kind { Start, Empty, End, Other }; // Other: a comment, CDATA section or processing instruction
struct Token
{
    Kind kind = Kind::Other;
    std::string_view name; // qualified, as written
    std::string_view attributes; // of a start tag, as written
    size_t begin = 0; // the "<"
    size_t end = 0; // just after the ">"
};
// Reads the markup that starts with the "<" at p; false when it is cut off, holds a "<" in
// a start tag, or is a document type declaration.
bool readToken(std::string_view text, size_t p, Token &token);
// Steps over the element whose start tag `token` holds, leaving `token` at its end tag; returns
// null, or what is wrong with the markup ("broken markup", "mismatched end tag").
const char *skipElement(std::string_view text, Token &token);
// Checks text that should hold whole elements only (comments, processing instructions and
// white space between them): tags must nest and match, references be complete. Returns null,
// or what is wrong with it.
const char *checkElements(std::string_view text);
std::string_view localName(std::string_view qualifiedName);
bool isNameEnd(char c);
} // namespace markup

// The sheetData element of a worksheet part as text: from the sheet edited in its text, or
// printed from its tree when the part is already edited as one. The sheet is opened for
// editing as text when it was not opened yet, so that a later write reuses it.
QByteArray sheetDataText(OpcPackage &package, const QString &partName);

// Reads rows and cells from the text of a sheetData element (or of a whole worksheet part,
// whose first sheetData element is read) without building a tree: one forward pass over the
// markup, with comments, CDATA sections and processing instructions stepped over. Element
// names are matched by local name, whatever their prefix. Rows and cells written without
// their number follow the one before, as the spreadsheet reads them.
class SheetDataScan
{
public:
    struct Row
    {
        qint64 number = 0;
        bool numbered = false; // written with r
        bool counts = false; // custom height, custom format or hidden
        qint64 start = 0; // the "<" of its start tag
        qint64 end = 0; // just after its end tag or "/>"
        std::string_view attributes; // the start tag's attributes, as written
        size_t firstCell = 0; // in SheetCells::cells
        size_t cellCount = 0;
    };
    struct Cell
    {
        qint64 row = 0;
        qint64 column = 0;
        qint64 start = 0;
        qint64 end = 0;
        std::string_view type; // t, as written
        int style = 0; // s
        bool hasValue = false; // has a <v>
        std::string_view value; // the text of <v>, still escaped
        bool hasInline = false; // has an <is>
        std::string_view inlineItem; // the <is> element's content, as written
        std::string_view formulaType; // t of <f>; empty when none or a normal formula
        std::string_view formulaRef; // ref of <f>
        bool hasFormula = false;
        std::string_view attributes; // of the start tag, as written
        // Written without a prefix, with its reference and double-quoted attributes, holding
        // nothing, one <v> or one <is> with one <t>, each end tag written plainly.
        bool plain = false;
    };

    // Throws EngineError(Damaged) when the markup is broken.
    explicit SheetDataScan(const QByteArray &text, QString partName = {});

    // Calls onCell for every cell (when `withContent`, with its value, inline text and
    // formula read) and onRow once each row has been read, its cells before it. A callback
    // that returns false for a cell skips the rest of that row.
    void run(const std::function<bool(const Cell &)> &onCell, const std::function<void(const Row &, bool anyCell)> &onRow,
        bool withContent = true);

    // The sheetData element's qualified name as written ("sheetData", "x:sheetData").
    std::string_view qualifiedName() const { return m_name; }
    // Where the sheetData element starts and ends in the text, and whether it is written as
    // an empty element; where its end tag starts (the end for an empty element).
    qint64 elementStart() const { return m_elementStart; }
    qint64 elementEnd() const { return m_elementEnd; }
    qint64 endTagStart() const { return m_endTagStart; }
    bool selfClosed() const { return m_selfClosed; }

private:
    [[noreturn]] void fail(const char *what) const;

    const QByteArray &m_text;
    QString m_partName;
    std::string_view m_name;
    qint64 m_elementStart = 0;
    qint64 m_contentStart = 0;
    qint64 m_elementEnd = 0;
    qint64 m_endTagStart = 0;
    bool m_selfClosed = false;
};

// The rows and cells of a sheetData element read once, their views into `text`, which they
// share: for the readers of a sheet's cells and its writer alike.
struct SheetCells
{
    QByteArray text;
    std::vector<SheetDataScan::Row> rows; // in the order they are written
    std::vector<SheetDataScan::Cell> cells; // in the order they are written, row by row
    QByteArray qualifiedName; // of the sheetData element
    bool selfClosed = false;
    qint64 endTagStart = 0;
};
// Throws EngineError(Damaged) when the markup is broken.
std::shared_ptr<const SheetCells> readSheetCells(const QByteArray &text, const QString &partName);

// The value of an attribute in a start tag's attribute text, still escaped; `found` tells an
// empty value from a missing one.
std::string_view attributeValue(std::string_view attributes, std::string_view name, bool *found = nullptr);
// Text with its character and entity references resolved.
QString unescapedXml(std::string_view text);
// The text of a string item's content (<si> or <is>): its own <t>, or its runs' <t> in
// order, phonetic runs left out; references resolved, _xHHHH_ escapes not.
QString itemContentText(std::string_view content);

} // namespace gm::xlsx
