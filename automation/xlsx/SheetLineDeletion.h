#pragma once

#include "automation/FormulaReferences.h"
#include "automation/Notation.h"
#include "automation/xlsx/WorkbookModel.h"

namespace gm::xlsx {

class PackageDocument;

// Deletes whole rows or columns of a worksheet of an open package as the spreadsheet program
// does, moving every reference to the sheet:
// - the cell data, streamed when the package is written so that a huge sheet is never held:
//   rows and cells inside the run go, later ones move back; formulas follow the reference
//   rule of formula::deleteLines; a shared formula whose master goes is anchored on its first
//   remaining cell, and a cell whose own formula no longer derives from its master's gets
//   the formula written out;
// - on the sheet: dimension, column spans, merged ranges, conditional formats and
//   validations (ranges and formulas, re-anchored on their first remaining cell),
//   hyperlinks, the filter, page breaks, sort state and tables; pictures, charts and shapes
//   (see objects::moveDrawingAnchors), comments, threaded comments and the notes that show
//   them; a comments part left without comments, a notes drawing left without notes and
//   pictures and charts no object shows any more go with their relationships;
// - elsewhere: formulas of other sheets, defined names (print areas and titles, filter
//   ranges), chart ranges, table formulas and pivot sources.
// The calculation chain is dropped and a full recalculation asked for on load.
// What the spreadsheet program refuses (cutting part of an array formula or data table,
// deleting the header row of a table or filter, a sheet with a pivot table) and what cannot be
// moved exactly (controls, embedded objects, extension lists with ranges) throw EngineError
// before anything changes.
class SheetLineDeletion
{
public:
    SheetLineDeletion(PackageDocument &document, const SheetEntry &sheet);

    void deleteRows(LineRun rows);
    void deleteColumns(LineRun columns);

private:
    void run(const formula::LineDeletion &deletion);

    PackageDocument &m_document;
    const SheetEntry &m_sheet;
};

} // namespace gm::xlsx
