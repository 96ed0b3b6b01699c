#pragma once

#include "automation/Notation.h"
#include "automation/xlsx/WorkbookModel.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace gm::xlsx {

class PackageDocument;

// The sizes of the rows or the columns of a sheet in EMU (12700 to the point, 9525 to the
// pixel), as drawings measure positions on the grid; lines are 0-based, as drawings count
// them. Lines not set have the default size.
class LineSizes
{
public:
    explicit LineSizes(qint64 defaultSize = 0) : m_default(defaultSize) { }

    // Lines are set in ascending order, each once.
    void set(qint64 line, qint64 size);
    qint64 size(qint64 line) const;
    // From the start of line 0 to the start of the line.
    qint64 start(qint64 line) const;

private:
    qint64 m_default;
    std::vector<qint64> m_lines;
    std::vector<qint64> m_sizes;
    std::vector<qint64> m_extra; // sum of (size - default) over the lines set before each
};

inline constexpr qint64 kSheetRows = 1048576;
inline constexpr qint64 kSheetColumns = 16384;
inline constexpr double kMaxRowHeight = 409.5; // points
inline constexpr double kMaxColumnWidth = 255; // characters

// Hidden state, heights and widths of whole rows and columns of a worksheet part, changed
// as the spreadsheet program stores them:
// - rows: the row's attributes (hidden, ht with customHeight) in the cell data, which is
//   rewritten as it streams by when the package is written, so that a huge sheet is never
//   held; a row that has no element yet gets one, in order;
// - columns: the <col> spans, split where a run begins or ends inside one, every other
//   attribute copied to each piece;
// - a hidden row or column keeps its height or width, so that showing it again restores it;
//   a new height or width shows it again; a size of 0 hides it.
// Each call changes nothing but the rows or columns it names.
class SheetRowsColumns
{
public:
    SheetRowsColumns(PackageDocument &document, const SheetEntry &sheet);

    void hideRows(LineRun rows);
    void setRowHeight(LineRun rows, double points);
    void hideColumns(LineRun columns);
    void setColumnWidth(LineRun columns, double characters);

    // The maximum digit width in pixels of the Normal style's font: the unit of widths.
    int maximumDigitWidth();
    // The sizes of the rows (columns) as the sheet stores them now: heights of <row> elements
    // (hidden ones 0) over the sheet's default height, widths of <col> spans over its default
    // width. Only lines first..last (0-based) are read; the others count as default.
    LineSizes lineSizes(bool columns, qint64 first, qint64 last);

private:
    PackageDocument &m_document;
    const SheetEntry &m_sheet;
    std::optional<int> m_digitWidth;
};

// Height in points as it is stored: whole pixels at 96 dpi (0.75 pt each).
double snappedRowHeight(double points);
// Width in characters as it is stored for a font whose maximum digit width is `digitWidth`
// pixels: whole pixels, including the 5 pixels of cell padding.
double storedColumnWidth(double characters, int digitWidth);
// Maximum digit width in pixels of a font at 96 dpi, from the widths Excel writes for the
// fonts it knows; others are estimated from the point size.
int digitWidthOfFont(const QString &family, double points);

} // namespace gm::xlsx
