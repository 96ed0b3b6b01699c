#pragma once

#include <QByteArray>
#include <QList>

namespace gm::xls {

// Record types the editors and readers refer to by name.
enum BiffType : quint16 {
    kBof = 0x0809,
    kEof = 0x000A,
    kContinue = 0x003C,
    kFilePass = 0x002F,
    kBoundSheet = 0x0085,
    kIndex = 0x020B,
    kDbCell = 0x00D7,
    kDefColWidth = 0x0055,
    kSst = 0x00FC,
    kExtSst = 0x00FF,
    kCodePage = 0x0042,
    kCountry = 0x008C,
    kSupBook = 0x01AE,
    kExternSheet = 0x0017,
    kName = 0x0018,
    kWindow1 = 0x003D,
    kWindow2 = 0x023E,
    kHeader = 0x0014,
    kFooter = 0x0015,
    kHCenter = 0x0083,
    kVCenter = 0x0084,
    kLeftMargin = 0x0026,
    kRightMargin = 0x0027,
    kTopMargin = 0x0028,
    kBottomMargin = 0x0029,
    kPls = 0x004D,
    kSetup = 0x00A1,
    kHeaderFooter = 0x089C,
    kPrintSize = 0x0033,
    kColInfo = 0x007D,
    kDimensions = 0x0200,
    kWsBool = 0x0081,
    // Cell records and the format records their XF indexes lead to.
    kNumber = 0x0203,
    kLabel = 0x0204,
    kLabelSst = 0x00FD,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kBlank = 0x0201,
    kMulBlank = 0x00BE,
    kBoolErr = 0x0205,
    kRString = 0x00D6,
    kFormat = 0x041E,
    kXf = 0x00E0,
    kFormula = 0x0006,
    kProtect = 0x0012,
    kRow = 0x0208,
    kDefaultRowHeight = 0x0225,
    kDate1904 = 0x0022,
};

// Substream kinds (the dt field of BOF).
enum BiffSubstreamKind : quint16 {
    kGlobals = 0x0005,
    kWorksheet = 0x0010,
    kChart = 0x0020,
    kMacroSheet = 0x0040,
};

// One record of a workbook stream with the CONTINUE records that follow it. A record and its
// continuations always move together: CONTINUE belongs to the record before it.
struct BiffRecord
{
    quint16 type = 0;
    QByteArray data; // the payload, without the 4-byte header
    QList<QByteArray> continuations; // payloads of the CONTINUE records that follow
    quint32 id = 0; // given by the reader; 0 for records made by an editor

    // Bytes the record takes in the stream, headers of the continuations included.
    qsizetype streamSize() const;
};

} // namespace gm::xls

// Records are moved by memory copy when the list grows or records are inserted: a workbook
// stream of a large sheet holds tens of thousands of them.
Q_DECLARE_TYPEINFO(gm::xls::BiffRecord, Q_RELOCATABLE_TYPE);

namespace gm::xls {

// A BOF ... EOF range of the record list (indexes into records()).
struct BiffSubstream
{
    int bof = -1;
    int eof = -1;
    int depth = 0; // 0 at the top level; 1 for a chart embedded in a sheet
    quint16 version = 0; // 0x0600 BIFF8, 0x0500 BIFF5
    quint16 kind = 0; // BiffSubstreamKind
};

// A workbook stream (BIFF5/BIFF8) as a list of records. The reader notes every absolute
// stream position it finds (BOUNDSHEET8 lbPlyPos, INDEX ibXF and rgibRw, EXTSST ib) as a
// reference to the record it points at; the writer lays the records out again and patches each
// of those fields, so records can be replaced, inserted or removed freely. A position that did
// not hit a record when read (writer anomalies) is kept as found. Anything after the last
// top-level EOF (Excel pads small streams with zeros) is kept and re-padded as found.
class BiffRecordStream
{
public:
    // Throws EngineError(Damaged) for a stream that is not a sequence of whole records in
    // BOF ... EOF substreams.
    static BiffRecordStream parse(const QByteArray &bytes);
    QByteArray serialize() const;

    QList<BiffRecord> &records() { return m_records; }
    const QList<BiffRecord> &records() const { return m_records; }

    // The globals BOF version: 0x0600 for BIFF8, 0x0500 for BIFF5.
    quint16 version() const { return m_version; }
    // A FILEPASS record follows the globals BOF: the rest of the stream is encrypted.
    bool isEncrypted() const { return m_encrypted; }

    // Every BOF ... EOF range in stream order, nested ones included.
    QList<BiffSubstream> substreams() const;
    // The index of the EOF ending the globals substream.
    int globalsEnd() const;
    // The indexes of the BOUNDSHEET8 records, in sheet order.
    QList<int> sheetRecords() const;
    // The substream of the sheet at `sheetIndex` (BOUNDSHEET8 order): the one its lbPlyPos
    // pointed at when read, else the top-level substream at that place after the globals.
    BiffSubstream sheetSubstream(int sheetIndex) const;

    // The index of the record with `id`, -1 when it is gone.
    int indexOf(quint32 id) const;

    // Gives a record made by an editor an identity of its own, so that stream positions can
    // point at it; returns it.
    quint32 identify(BiffRecord &record);
    // The 4-byte position fields of record `sourceId` from `firstOffset` on point at the
    // records `targets`, in order, when the stream is written; whatever those fields pointed
    // at before is forgotten.
    void setPositions(quint32 sourceId, int firstOffset, const QList<quint32> &targets);
    // The 4-byte position field of record `sourceId` at `offset` points `targetOffset` bytes
    // past the header of part `targetPart` (0 the record itself, k its k-th continuation) of
    // record `targetId`; a pointer held for that field before is forgotten.
    void setPosition(quint32 sourceId, int offset, quint32 targetId, int targetPart, quint32 targetOffset);

private:
    struct Pointer
    {
        quint32 sourceId = 0; // record holding the field (in its payload)
        int sourceOffset = 0;
        quint32 targetId = 0; // record pointed at
        int targetPart = 0; // 0 the record itself, k its k-th continuation
        quint32 targetOffset = 0; // from the start of that part's header
    };

    void resolvePointers();

    QList<BiffRecord> m_records;
    QList<Pointer> m_pointers;
    QByteArray m_trailer;
    qsizetype m_originalSize = 0;
    quint32 m_nextId = 1;
    quint16 m_version = 0;
    bool m_encrypted = false;
};

// Little-endian field access for record payloads.
quint16 readU16(const QByteArray &data, qsizetype offset);
quint32 readU32(const QByteArray &data, qsizetype offset);
void writeU16(QByteArray &data, qsizetype offset, quint16 value);
void writeU32(QByteArray &data, qsizetype offset, quint32 value);

} // namespace gm::xls
