#pragma once

#include "automation/Engine.h"
#include "automation/cells/TypedEntry.h"
#include "automation/xls/BiffRecordStream.h"

#include <vector>

namespace gm::xls {

// Writes typed entries into the cells of one worksheet of a workbook stream, stored as the
// spreadsheet program stores a typed constant:
// - text as LABELSST, the string shared with an equal plain one or appended to the shared
//   string table (continued over CONTINUE records at 8224 bytes, a string's characters
//   resuming after a flag byte), whose index (EXTSST) is laid out again;
// - numbers as RK where that holds the value exactly, else NUMBER; TRUE/FALSE and error codes
//   as BOOLERR; an empty entry clears the value and keeps the cell's format (BLANK);
// - a cell keeps its format record (XF); a new one takes its row's format, else its column's,
//   else the default one. An entry that sets a number format (a date, percent, currency) on
//   a cell formatted General, or a text typed with a leading apostrophe, gets a format record
//   equal to the cell's but for that: an existing one, else one appended to the table. When
//   the format records carry a checksum (XFCRC) that matches them, the appended ones get a
//   copy of the extension (XFEXT) of the record they were made from, and the checksum and
//   count are brought up to date; a checksum that already did not match is left as found, so
//   readers go on ignoring the extensions as they did;
// - cells of a MULRK or MULBLANK that is written into are split into single records; ROW
//   records (colMic/colMac, new rows), DIMENSIONS and the row blocks (DBCELL, INDEX) follow.
// Whatever cannot be stored exactly this way throws EngineError(XlsCellsNeedEngine) before any
// record changes: formulas, cells of a shared, array or table formula, format records that
// cannot be added (the table is full), a built-in number format the file redefines, a cell
// table this editor cannot lay out.
class SheetCellRecords
{
public:
    SheetCellRecords(BiffRecordStream &stream, int sheetPosition);

    struct Entry
    {
        int row = 0; // 0-based
        int column = 0; // 0-based
        QString text; // as typed
    };
    // Writes in order: a later entry for the same cell wins. `context` gives the date system
    // and the current year; whether a cell is formatted as text is read from its format.
    void write(const std::vector<Entry> &entries, const EntryContext &context);

private:
    BiffRecordStream &m_stream;
    int m_sheet;
};

// The checksum an XFCRC record holds over the payloads of the XF records, in their order: the
// Office CRC-32 (polynomial 0xAF, most significant bit first, starting from 0, no final
// inversion).
quint32 xfChecksum(const QList<QByteArray> &xfPayloads);

// Whether the workbook stream counts dates from 1904 (a DATE1904 record in the globals).
bool usesDate1904(const BiffRecordStream &stream);

} // namespace gm::xls
