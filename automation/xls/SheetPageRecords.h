#pragma once

#include "automation/Engine.h"
#include "automation/xls/BiffRecordStream.h"

#include <QList>
#include <QString>

namespace gm::xls {

// The page-setup records of one sheet: HEADER, FOOTER and SETUP (with the sheet's PLS) of the
// sheet's own substream; the substreams of charts embedded in the sheet carry their own and
// are left alone. Records that are missing are inserted where Excel writes them.
class SheetPageRecords
{
public:
    SheetPageRecords(BiffRecordStream &stream, int sheetPosition);

    // The whole header or footer code string ("&LLeft&CCentre"), "" when there is none.
    QString headerFooter(bool footer) const;
    // Stores a code string as given. Returns whether a record changed. Throws
    // EngineError(InvalidArgument) for a string of more than 255 characters.
    bool setHeaderFooter(bool footer, const QString &code);

    // Portrait unless the setup holds a valid landscape orientation.
    Orientation orientation() const;
    // Returns whether a record changed. Portrait on a sheet without printer settings changes
    // nothing, as such a sheet prints portrait. A setup that says it has no printer settings
    // (fNoPls) holds undefined values in its other fields: they are given defaults (the paper
    // size of another sheet of the workbook that has valid settings, else A4; 100 %; 600 dpi;
    // one copy) so that the orientation takes effect. A sheet-level PLS that carries an
    // orientation is changed with it.
    bool setOrientation(Orientation orientation);

    static constexpr int maxHeaderFooterLength = 255;

    // Placing records in the sheet's own substream, for the editors of its other records.
    // Indexes of the records directly in the sheet's substream, BOF and EOF excluded.
    QList<int> ownRecords() const;
    // The first own record of that type, -1 when none.
    int find(quint16 type) const;
    // Inserts before the first own record of one of `types` (or before the sheet's EOF) and
    // returns the index of the inserted record. Never as the first record after BOF, where
    // some readers skip a record: a WSBOOL goes there first.
    int insertBefore(const QList<quint16> &types, BiffRecord record);

private:
    BiffRecordStream &m_stream;
    int m_sheet;
};

// An XLUnicodeString (16-bit count, flags, Latin-1 or UTF-16LE characters); "" for an empty
// or zero-length record.
QString readUnicodeString(const QByteArray &data, qsizetype offset = 0);
// The payload of a HEADER/FOOTER record: empty for "", compressed when every character fits
// in one byte, UTF-16LE otherwise.
QByteArray headerFooterPayload(const QString &code);

} // namespace gm::xls
