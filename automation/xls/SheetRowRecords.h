#pragma once

#include "automation/Notation.h"
#include "automation/xls/BiffRecordStream.h"

namespace gm::xls {

inline constexpr qint64 kXlsRows = 65536;

// The row records (ROW) of one worksheet: hidden state and height of runs of rows, stored as
// the spreadsheet program stores them.
// - A row that has a record gets the change in it: fDyZero hides it and keeps miyRw, so that
//   showing it again restores its height; a new height clears fDyZero and sets fUnsynced
//   (a height set by hand); a height of 0 hides it.
// - Rows without a record take the sheet's default row (DEFAULTROWHEIGHT). When the run's
//   rows without a record outnumber the other rows without one (a run over most of the
//   sheet, such as 1:65536), the default row gets the change instead, and the rows outside
//   the run that had none get records keeping the old default; otherwise the rows of the run
//   get records of their own. Either way no more records are written than needed.
// - New records go into the cell table in row order. Where the sheet has row blocks (an
//   INDEX), the blocks are laid out again as the spreadsheet program writes them: the rows
//   32·k ... 32·k + 31 with their cells, then a DBCELL with the block's offsets; INDEX
//   lists the blocks and the first and last row. Cell records keep their order.
class SheetRowRecords
{
public:
    SheetRowRecords(BiffRecordStream &stream, int sheetPosition);

    // Each returns whether a record changed.
    bool hide(LineRun rows);
    // Height in points, snapped to whole pixels; throws LineSizeOutOfRange above 409.5.
    bool setHeight(LineRun rows, double points);

private:
    struct Change
    {
        bool hide = false;
        quint16 twips = 0; // when not hiding
    };
    bool apply(LineRun rows, const Change &change);

    BiffRecordStream &m_stream;
    int m_sheet;
};

} // namespace gm::xls
