#pragma once

#include <QString>

namespace gm::xlsx {

// Field separators of the two text formats.
enum class TextSeparator { Comma, Tab };

struct SheetTextExport
{
    bool written = false;
    // Why the engine has to write this file instead; empty when it was written here.
    QString engineReason;
};

// Writes the active sheet of the .xlsx package at `source` as text, the way the engine's text
// export writes it: the displayed value of each cell (as an en-US session shows it), fields
// separated by a comma or a tab, UTF-8 without a byte-order mark, CRLF after every record.
// A field holding the separator, a double quote, a line feed or a carriage return is quoted,
// its quotes doubled; a line feed inside a quoted field stays a bare line feed. The records
// cover A1 to the last row and column holding a value, a formula or a note, every record
// padded with separators to that width; a sheet with nothing (a chart sheet too) is one
// empty record.
//
// The sheet is streamed, so memory does not grow with its size. Nothing is written when the
// displayed text cannot be known exactly from the file, and engineReason says why:
// - a formula without a cached result, a formula calling a volatile function (NOW, RAND,
//   OFFSET...), a workbook asking for a full recalculation when it is opened;
// - a number or date whose text is wider than its column (the cell would show a shortened
//   number or "####"), a date the format cannot show (all "#"), a number format that repeats
//   a character to fill the cell: all of these depend on the column's width in pixels;
// - a date given as ISO text, cells or rows out of order, an active sheet that is hidden or is
//   neither a worksheet nor a chart sheet, a package the reader cannot make sense of.
// The output goes to a temporary file beside the target and replaces the target only when it
// is complete. Throws EngineError when writing fails (ReadOnlyFile, WriteFailed and the
// causes replaceWithTemporary reports).
SheetTextExport exportActiveSheetText(const QString &source, const QString &target, TextSeparator separator);

} // namespace gm::xlsx
