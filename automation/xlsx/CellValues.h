#pragma once

#include "automation/Engine.h"
#include "automation/xlsx/WorkbookModel.h"

#include <vector>

namespace gm::xlsx {

class PackageDocument;

// Writes typed texts into the cells of a worksheet part, as the spreadsheet program stores
// an entry typed into a cell in an en-US session:
// - numbers, dates, times, percents and currency as numbers; TRUE/FALSE as booleans; error
//   codes as errors; text as a new shared string (an inline string when the workbook has no
//   shared-string table); "=..." as a formula without a cached value;
// - the cell keeps its style; where typing sets a number format (5% -> 0%, 1/2/2020 ->
//   m/d/yyyy) and the cell's format is General, the cell gets a copy of its style with that
//   format; an entry typed with a leading apostrophe gets a copy with the quote prefix;
// - a cell formatted as text keeps every entry as text;
// - rows and cells are inserted in order, the sheet's dimension grows to cover them;
// - a full recalculation is asked for on load (formulas may depend on the new values); when a
//   formula is written or a formula cell overwritten, the calculation chain is dropped too.
// The master cell of a shared formula (the others would lose their formula) and a cell of
// an array formula are refused, as are positions outside the sheet; each refusal skips that
// write only, and the last one is thrown once every other write is done.
void setCellValues(PackageDocument &document, const SheetEntry &sheet, const std::vector<Worksheet::CellWrite> &writes);

} // namespace gm::xlsx
