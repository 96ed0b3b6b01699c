#pragma once

#include <QList>
#include <QString>

namespace gm {

// The used range of a worksheet as a spreadsheet program reports it, read from the file's
// own records without the engine. Used cells are cells holding a value or formula and cells
// formatted on their own (a style, a blank formatted record); rows carrying their own height,
// format, hidden flag or outline level widen the rows only; notes widen both; a sheet with
// nothing is A1. A stored dimension is taken when it contains every used cell (it is what the
// program that saved the file computed), never when it would cut cells off.
struct UsedRange
{
    int firstRow = 0; // 0-based, inclusive
    int lastRow = 0;
    int firstColumn = 0;
    int lastColumn = 0;
    bool singleCellHasValue = false; // the top-left cell holds a value (or a formula)

    int rowCount() const { return lastRow - firstRow + 1; }
    // More than one cell, or the single cell holds a value.
    bool isNonEmpty() const
    {
        return lastRow > firstRow || lastColumn > firstColumn || singleCellHasValue;
    }
};

struct SheetUsage
{
    QString name;
    UsedRange range;
};

// The worksheets of a workbook (hidden ones included; chart sheets, macro sheets and dialog
// sheets left out; an .xls macro sheet too), in tab order, with their used ranges. The format is told by the content:
// a zip package is read as .xlsx (sheets streamed, so memory does not grow with the sheet),
// a compound file as .xls (BIFF8). Throws EngineError: FileNotFound, NotAWorkbook,
// UnsupportedFormat, PasswordRequired, Damaged. Without trustDimension the stored dimension is
// ignored and the range is the box of what the records hold.
QList<SheetUsage> worksheetUsage(const QString &path, bool trustDimension = true);

} // namespace gm
