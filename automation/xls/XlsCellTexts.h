#pragma once

#include "automation/Engine.h"
#include "automation/xls/XlsContent.h"

#include <vector>

namespace gm::xls {

// The text each cell in bounds shows, row by row, left to right: its value (a formula's cached
// result) rendered with the number format of its format record in an en-US session, as for an
// .xlsx; "" for empty cells. sheet is the 0-based position among all sheets of the workbook.
std::vector<QString> displayedTexts(const WorkbookContent &book, int sheet, const CellBounds &bounds);

} // namespace gm::xls
