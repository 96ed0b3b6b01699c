#pragma once

#include "automation/xls/BiffRecordStream.h"

#include <QList>
#include <QString>

namespace gm::xls {

// A rectangle of cells, 0-based, corners included.
struct CellArea
{
    int firstRow = 0;
    int lastRow = 0;
    int firstColumn = 0;
    int lastColumn = 0;
    bool operator==(const CellArea &) const = default;
};

// The defined names of the workbook globals (NAME records) and the references they need
// (the workbook's own SUPBOOK and its EXTERNSHEET entries). Formulas refer to names and to
// EXTERNSHEET entries by position, so new ones are only ever appended, never inserted before
// existing ones.
class WorkbookNames
{
public:
    explicit WorkbookNames(BiffRecordStream &stream);

    // The sheet's print area as "$A$1:$E$10" (several areas joined by ","), "" when none.
    QString printArea(int sheetPosition) const;
    // Sets the sheet's built-in Print_Area name to `areas` (at least one). Returns whether
    // records changed. Throws EngineError(NotSupported) for a workbook whose reference
    // records cannot take a new entry.
    bool setPrintArea(int sheetPosition, const QList<CellArea> &areas);

    // The areas of a print-area text ("A1:E10", "$B$2", several joined by ","), checked
    // against the grid of an .xls sheet (256 columns, 65536 rows). Throws EngineError
    // (InvalidArgument) with a description that says so.
    static QList<CellArea> parseArea(const QString &text);

    static constexpr int maxRows = 65536;
    static constexpr int maxColumns = 256;

private:
    int findPrintAreaName(int sheetPosition) const;
    // The EXTERNSHEET entry for the sheet itself, added (with the SUPBOOK it needs) when missing.
    quint16 selfReference(int sheetPosition);

    BiffRecordStream &m_stream;
};

} // namespace gm::xls
