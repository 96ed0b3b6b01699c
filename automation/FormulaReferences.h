#pragma once

// Sheet references in formula text as workbooks store it (A1 notation, English function
// names, no leading "="). Formulas are tokenised, never searched as text: string literals,
// array constants, error literals, structured references and references into other
// workbooks ([n]Sheet!A1) are recognised and left as they are, so that only real sheet
// qualifiers of this workbook are rewritten. This is the only place formula text is edited.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace gm::formula {

// A sheet qualifier in a formula: from its first character up to and including the "!".
struct SheetPrefix
{
    qsizetype start = 0;
    qsizetype length = 0;
    // The reference the qualifier applies to, right after the "!": a cell, a range, whole
    // rows or columns, a name or #REF!.
    qsizetype operandLength = 0;
    bool external = false; // names a sheet of another workbook: [n]Sheet!, '[n]Sheet'!, [n]!Name
    QString first; // the sheet name, unquoted; for a 3-D span its first sheet
    QString last; // the last sheet of a 3-D span (Sheet1:Sheet3!A1); empty otherwise
    bool isSpan() const { return !last.isEmpty(); }
};

// Every sheet qualifier of a formula, left to right. Both 3-D spellings are read:
// 'Jan 1:Mar 3'!A1 and 'Jan 1':'Mar 3'!A1.
std::vector<SheetPrefix> sheetPrefixes(const QString &formula);

// The names a formula uses without a qualifier (SUM(Total)), left to right: defined names,
// or names the formula's workbook does not know. Functions, cells, ranges, table names and
// logicals are not among them.
QStringList unqualifiedNames(const QString &formula);

// Whether a sheet name must be quoted in a formula: it holds a character other than ASCII
// letters, digits, "_" and ".", starts with a digit or ".", reads as a cell of the grid
// (A1, XFD1048576) or starts like an R1C1 reference (R, C, RC, R12, C3).
bool needsQuotes(const QString &sheetName);
// The qualifier for a sheet, or a 3-D span, ending in "!", quoted when needed with every
// "'" doubled.
QString qualifier(const QString &first, const QString &last = {});

// The qualifier for a sheet of another workbook, or a 3-D span of its sheets, by the number
// under which this workbook lists its link to that workbook (1 for the first): [1]Sheet!,
// '[1]My Sheet'!, [1]Jan:Mar!.
QString externalQualifier(int book, const QString &sheet, const QString &last = {});

// The formula with each qualifier of this workbook (see sheetPrefixes) replaced by the text
// `replace` gives for it, "!" included; a qualifier for which it gives nothing stays.
// Qualifiers into other workbooks are never offered.
QString replaceQualifiers(const QString &formula, const std::function<std::optional<QString>(const SheetPrefix &)> &replace);
// The same for the qualifiers into other workbooks ([n]Sheet!, '[n]Sheet'!, [n]Jan:Mar!, [n]!).
QString replaceExternalQualifiers(
    const QString &formula, const std::function<std::optional<QString>(const SheetPrefix &)> &replace);
// The formula with each qualifier of this workbook and the operand after it (Sheet!A1:B2,
// Jan:Mar!B2, Other!Local) replaced by the text `replace` gives for both, from the operand's
// text; a reference for which it gives nothing stays.
QString replaceQualifiedReferences(const QString &formula,
    const std::function<std::optional<QString>(const SheetPrefix &, const QString &operand)> &replace);

// The function of which the text from `start` to `end` is a whole argument, spaces aside:
// "SUM" for the span in SUM(A1, Jan:Mar!B2), "_xlfn.STDEV.S" for one in _xlfn.STDEV.S(...).
// Empty when that text is part of a larger operand, stands in parentheses that call no
// function (a union), or is not inside a call.
QString argumentOf(const QString &formula, qsizetype start, qsizetype end);

// The formula with every qualifier of this workbook that names `from` (letter case aside),
// alone or as an end of a 3-D span, naming `to` instead. Other text is kept as it is.
QString renameSheet(const QString &formula, const QString &from, const QString &to);

// Whether formulas held as UTF-8 text may name a sheet: a byte search that spares the
// tokeniser (and the conversion to QString) every formula that cannot. It never misses a
// qualifier of the sheet, whatever its letter case or quoting ('It''s'!A1).
class SheetNameSearch
{
public:
    explicit SheetNameSearch(const QString &sheet);
    // False only when no qualifier of the formula can name the sheet.
    bool mayName(QByteArrayView formula) const;
    // Whether a sheet name as written in a qualifier, unquoted, is this sheet's name, letter
    // case aside.
    bool isNamed(QByteArrayView name) const;
    const QString &sheet() const { return m_sheet; }

private:
    QString m_sheet;
    QByteArray m_utf8;
    bool m_ascii = true;
    bool m_quote = false; // the name holds "'", which formulas write doubled
};

// renameSheet() for formulas held as UTF-8 text, read in their bytes: a worksheet's cell data
// holds thousands of formulas, and only those that name the sheet are tokenised.
class SheetRenamer
{
public:
    SheetRenamer(const QString &from, const QString &to);
    // Appends the formula with the sheet renamed to `out` and returns true; returns false,
    // leaving `out` as it is, when the formula does not name the sheet.
    bool rename(QByteArrayView formula, QByteArray &out) const;

private:
    SheetNameSearch m_from;
    QString m_to;
    QByteArray m_qualifier; // qualifier(to), UTF-8
};

// The formula after the sheet `deleted` has gone from a workbook whose sheets, in tab order
// before the deletion, are `sheetOrder`: a reference to that sheet, qualifier and operand,
// becomes the error literal #REF! (Sheet!A1:B2 becomes #REF!), which every reader takes as
// that error; a 3-D span that ends on it shrinks by one sheet, and one that consists of it
// alone becomes #REF!. Spans that merely pass through it are kept.
QString deleteSheet(const QString &formula, const QString &deleted, const QStringList &sheetOrder);

// The formula with every structured reference to the table `from` (letter case aside)
// naming the table `to` instead: Sales[Amount] becomes Sales2[Amount]. Strings, qualified
// names and references inside a table's own brackets stay as they are.
QString renameTable(const QString &formula, const QString &from, const QString &to);

// A reference to cells of one sheet as formulas write it: a cell (A1), a range (A1:B2),
// whole columns (B:D) or whole rows (2:5); "$" marks an absolute row or column. Rows and
// columns are 1-based; first <= last on each axis.
struct Area
{
    enum class Kind { Cell, Range, Columns, Rows };
    Kind kind = Kind::Cell;
    qint64 firstRow = 0;
    qint64 lastRow = 0;
    qint64 firstColumn = 0;
    qint64 lastColumn = 0;
    bool firstRowAbsolute = false;
    bool lastRowAbsolute = false;
    bool firstColumnAbsolute = false;
    bool lastColumnAbsolute = false;
    bool contains(qint64 row, qint64 column) const
    {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
};
inline constexpr qint64 kGridRows = 1048576;
inline constexpr qint64 kGridColumns = 16384;

// Reads a whole text as a reference of the grid ("$A$1", "b2:c3", "A:C", "2:2"), as the cells
// it covers (whole columns span every row, ends in either order); nothing when it is anything
// else (a name, an error, a lone "A" or "5"), or names a row or column outside the grid.
std::optional<Area> parseArea(QStringView text);
// The reference written back, letters in upper case, "$" where it was.
QString areaText(const Area &area);

// Whole rows (or columns) first..last of one sheet being deleted, 1-based, inclusive.
struct LineDeletion
{
    bool columns = false; // columns; otherwise rows
    qint64 first = 0;
    qint64 last = 0;
    qint64 count() const { return last - first + 1; }
};

// Where the run a..b of the deletion's axis lies after the deletion: the part before it stays,
// the part after it moves back by the number deleted, a run wholly inside it is gone
// (nothing); a run that a deletion cuts keeps what is left of it.
std::optional<std::pair<qint64, qint64>> movedRun(qint64 a, qint64 b, const LineDeletion &deletion);
// The area after the deletion (whole columns stay as they are when rows go, and whole rows
// when columns go); nothing when it is gone.
std::optional<Area> movedArea(const Area &area, const LineDeletion &deletion);

// The formula, stored on the sheet `hostSheet`, after the deletion on the sheet `sheet`:
// references qualified with that sheet, and unqualified ones when the formula is on that
// sheet itself (hostSheet empty: on no sheet, as in defined names and charts), move by
// movedArea(); a reference that is gone, qualifier and all, becomes #REF!. References to
// other sheets, into other workbooks and through 3-D spans stay as they are: a span covers
// other sheets whose cells do not move.
QString deleteLines(const QString &formula, const QString &hostSheet, const QString &sheet, const LineDeletion &deletion);

// Whether the formula holds a 3-D span (Jan:Mar!B2:B9) that covers `sheet`, by the sheets'
// tab order `sheetOrder`, with a reference that the deletion on that sheet would move or
// take. deleteLines leaves such spans as they are; a caller that must not leave them refuses.
bool spanMovesWith(const QString &formula, const QStringList &sheetOrder, const QString &sheet, const LineDeletion &deletion);

// The formula as it reads when copied `rows` down and `columns` to the right: the relative
// rows and columns of its references move, absolute ones stay; a reference moved off the grid
// becomes #REF!.
QString copyFormula(const QString &formula, qint64 rows, qint64 columns);

} // namespace gm::formula
