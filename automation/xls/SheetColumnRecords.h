#pragma once

#include "automation/Notation.h"
#include "automation/xls/BiffRecordStream.h"

namespace gm::xls {

inline constexpr qint64 kXlsColumns = 256;

// The column records (COLINFO) of one worksheet: hidden state and width of runs of columns,
// stored as the spreadsheet program stores them. A COLINFO that a run begins or ends inside
// is split, each piece keeping the record's other fields; columns without one get their own,
// placed in order before DIMENSIONS. A hidden column keeps its width, so that showing it
// again restores it; a new width shows it again; a width of 0 hides it.
class SheetColumnRecords
{
public:
    SheetColumnRecords(BiffRecordStream &stream, int sheetPosition);

    // Each returns whether a record changed.
    bool hide(LineRun columns);
    // Width in characters of the workbook's default font; throws LineSizeOutOfRange above 255.
    bool setWidth(LineRun columns, double characters);

    // The maximum digit width in pixels of the workbook's default font (its first FONT).
    int maximumDigitWidth() const;

private:
    struct Change
    {
        bool hide = false;
        quint16 width = 0; // 1/256 of a character, when not hiding
    };
    bool apply(LineRun columns, const Change &change);
    // Width in 1/256 characters of a column that has no record.
    quint16 defaultWidth() const;

    BiffRecordStream &m_stream;
    int m_sheet;
};

} // namespace gm::xls
