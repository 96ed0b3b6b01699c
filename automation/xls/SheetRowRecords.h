#pragma once

#include "automation/Notation.h"
#include "automation/xls/BiffRecordStream.h"

namespace gm::xls {

inline constexpr qint64 kXlsRows = 65536;

// Records of a sheet's cell table: those holding cells, and those that belong to the formula
// cell before them (STRING, ARRAY, SHRFMLA, TABLE).
bool isCellRecord(quint16 type);
bool followsCellRecord(quint16 type);
// Any record of the cell table: those above, ROW and DBCELL.
bool isCellTableRecord(quint16 type);

// A ROW record as the spreadsheet program writes one for a row that has no format of its own,
// from the sheet's DEFAULTROWHEIGHT (flags, height in twips; 0 and 255 without one).
QByteArray plainRowRecord(int row, quint16 defaultFlags, quint16 defaultHeight);

// A cell record with the records that belong to it.
struct CellUnit
{
    int row = 0;
    QList<BiffRecord> records;
};

// Puts `rows` (in row order) and `units` (in the order they are written) in place of the
// records tableFirst ... tableLast of the stream, or at insertAt when the sheet has no cell
// table yet, 32 rows to a block: the block's ROW records, its cells, then, where the sheet
// has an INDEX (at indexAt, else -1), a DBCELL with the block's offsets. INDEX then lists
// the blocks and the first and last row.
void layOutCellTable(BiffRecordStream &stream, int indexAt, int tableFirst, int tableLast, int insertAt,
    std::vector<std::pair<int, BiffRecord>> rows, const std::vector<CellUnit> &units);

// The row records (ROW) of one worksheet: hidden state and height of runs of rows, stored as
// the spreadsheet program stores them.
// - A row that has a record gets the change in it: fDyZero hides it and keeps miyRw, so that
//   showing it again restores its height; a new height clears fDyZero and sets fUnsynced
//   (a height set by hand); a height of 0 hides it.
// - Rows without a record take the sheet's default row (DEFAULTROWHEIGHT). When the run's
//   rows without a record outnumber the other rows without one (a run over most of the
//   sheet, such as 1:65536), the default row gets the change instead: the rows outside the
//   run that had no record get one keeping the old default, and the run's rows up to the
//   sheet's last used row get one with the change (the spreadsheet engine applies the
//   default row only after that row). Otherwise the rows of the run get records of their
//   own. Either way a whole-sheet run writes no more records than the sheet has used rows.
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
