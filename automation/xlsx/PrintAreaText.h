#pragma once

#include <QString>

// Print areas as the workbook stores them: a sheet-scoped defined name whose formula names
// the sheet and uses absolute references ('Sheet 1'!$A$1:$E$100).
namespace gm::xlsx {

// Absolute, corner-normalised form of a print area given as cells or ranges ("A1:E100",
// "$E$100:a1", "B2", or several areas separated by commas). A range of one cell is written
// as that cell. Throws EngineError(InvalidArgument) for anything else.
QString normalisePrintArea(const QString &text);

// The sheet name as a formula prefix needs it: quoted (with ' doubled) unless it consists
// of ASCII letters, digits, "_" and "." only and cannot be read as a cell or R1C1 reference.
QString quoteSheetName(const QString &name);

// The defined-name formula for a normalised area on a sheet.
QString printAreaFormula(const QString &sheetName, const QString &normalisedArea);

// The area of a print-area formula without its sheet prefixes: "$A$1:$E$6".
QString areaWithoutSheet(const QString &formula);

} // namespace gm::xlsx
