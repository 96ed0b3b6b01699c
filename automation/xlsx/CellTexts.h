#pragma once

#include "automation/Engine.h"
#include "automation/xlsx/WorkbookModel.h"

#include <pugixml.hpp>

#include <optional>
#include <vector>

namespace gm::xlsx {

class PackageDocument;

// The used range of a worksheet part: the rows and columns of its cells (value cells and
// formatted blanks alike) and of rows written with a custom height, format or hidden state.
// Nothing when the sheet has none.
std::optional<CellBounds> usedRange(PackageDocument &document, const SheetEntry &sheet);

// The text each cell in bounds shows, row by row, left to right: its value rendered with its
// number format in an en-US session (shared and inline strings, booleans, errors and cached
// formula results alike); "" for empty cells.
std::vector<QString> displayedTexts(PackageDocument &document, const SheetEntry &sheet, const CellBounds &bounds);
// The same, except that a number shown as stored whose text lacks `sought` is given as a
// stand-in that lacks it too (see Worksheet::displayedTexts).
std::vector<QString> displayedTexts(
    PackageDocument &document, const SheetEntry &sheet, const CellBounds &bounds, std::optional<QChar> sought);

// The number format code of each cell style (cellXfs) of a styles part, by style index:
// the part's own codes, else Excel's built-in ones.
std::vector<QString> styleFormatCodes(pugi::xml_node stylesRoot);

} // namespace gm::xlsx
