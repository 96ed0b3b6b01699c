#pragma once

#include "automation/Notation.h"
#include "automation/xlsx/WorkbookModel.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace gm::xlsx {

class PackageDocument;

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
