#pragma once

#include "automation/xls/BiffRecordStream.h"

#include <QByteArray>

namespace gm::xls {

// Record edits of one sheet's own substream (charts embedded in the sheet keep theirs):
// hyperlinks and the background bitmap.
class SheetRecordEdits
{
public:
    SheetRecordEdits(BiffRecordStream &stream, int sheetPosition);

    // Removes every HLINK and HLINKTOOLTIP record; cells keep their text and format. Returns
    // the number of hyperlinks removed.
    int removeHyperlinks();
    // Puts the background bitmap record (payload as BackgroundPicture::bitmapRecordData gives
    // it, split into continuations as needed) where Excel writes it, replacing any other.
    // Returns whether anything changed.
    bool setBackground(const QByteArray &data);
    // Removes the background bitmap record. Returns false when there was none.
    bool removeBackground();

    // Indexes of the records directly in the sheet's substream, BOF and EOF excluded.
    QList<int> ownRecords() const;

    static constexpr quint16 kHLink = 0x01B8;
    static constexpr quint16 kHLinkTooltip = 0x0800;
    static constexpr quint16 kBackground = 0x00E9;
    // The most payload one record (or one continuation) carries.
    static constexpr qsizetype kMaxPayload = 8224;

private:
    int removeAll(std::initializer_list<quint16> types);

    BiffRecordStream &m_stream;
    int m_sheet;
};

} // namespace gm::xls
