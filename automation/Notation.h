#pragma once

#include <QString>

#include <optional>

namespace gm {

// Cell and range notation: column letters as a base-26 numeral without a zero digit
// (A = 1, Z = 26, AA = 27, IV = 256), cell names such as F5.

// Column number of upper-case letters; 0 for empty text. Letters whose number does not fit a
// signed 32-bit integer (some texts of seven or more letters) give -1.
int ColumnLettersToNumber(const QString &letters);
// Column letters of a column number given as decimal text; "" when the text is not a 32-bit
// whole number.
QString ColumnNumberToLetters(const QString &number);
// The column number as decimal text when the text is upper-case letters only (so "" gives
// "0"); otherwise, and for letters too many to number, the text unchanged.
QString NormalizeColumnRef(const QString &text);
// One or two letters (either case) followed by a row number from 1 to 32767; leading zeros
// of the row are allowed.
bool IsValidCell(const QString &text);
// True when the text, blanks around it allowed, is a number in the user's locale that rounds
// (halves to even) to a whole number from -32768 to 32767.
bool IsInteger(const QString &text);
// The whole number that IsInteger accepts, or nothing.
std::optional<int> toInteger16(const QString &text);

struct CellNameParts
{
    QString column; // column number as decimal text
    QString row; // row digits, leading zeros dropped; may be empty
};
// Column letters from the start of the text (as their number) and the row digits after them.
CellNameParts SplitCellName(const QString &text);
// Range text for whole columns or rows: the two ends joined by ":".
QString RangeText(const QString &from, const QString &to);

// A run of whole rows or columns, 1-based and inclusive, first <= last.
struct LineRun
{
    qint64 first = 0;
    qint64 last = 0;
    qint64 count() const { return last - first + 1; }
    bool contains(qint64 line) const { return line >= first && line <= last; }
};
// Resolves range text for whole columns ("C:E", "E:C", "c", "$C:$E") as the spreadsheet
// does: the ends in either order, letters of either case. Nothing when the text names no
// columns or one beyond `lastColumn`.
std::optional<LineRun> columnRun(const QString &text, qint64 lastColumn);
// The same for whole rows ("3:7", "7:3", "5").
std::optional<LineRun> rowRun(const QString &text, qint64 lastRow);

} // namespace gm
