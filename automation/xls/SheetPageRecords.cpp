#include "automation/xls/SheetPageRecords.h"

#include "automation/EngineError.h"

#include <QtEndian>

#include <cstring>

namespace gm::xls {

namespace {

constexpr quint16 fPortrait = 0x0002;
constexpr quint16 fNoPls = 0x0004;
constexpr quint16 fNoOrient = 0x0040;
constexpr int setupSize = 34;
constexpr quint16 paperA4 = 9;

// PLS payload: wEnv u16, then a DEVMODEW.
constexpr int plsDevmodeSize = 2 + 68;
constexpr int plsDevmodeFields = 2 + 72;
constexpr int plsDevmodeOrientation = 2 + 76;

// A SETUP for a sheet that has none: A4, 100 %, portrait, 600 dpi, margins of 0.3 inch for
// header and footer, one copy.
QByteArray defaultSetup()
{
    QByteArray data = QByteArray::fromHex("0900640001000100010002005802580200000000000000000000000000000000"
                                          "0100");
    const double margin = 0.3;
    quint64 bits = 0;
    std::memcpy(&bits, &margin, sizeof bits);
    for (int offset : {16, 24}) {
        for (int i = 0; i < 8; ++i)
            data[offset + i] = char((bits >> (8 * i)) & 0xFF);
    }
    return data;
}

// The paper size of another sheet whose setup is valid, else A4.
quint16 paperSizeOfWorkbook(const BiffRecordStream &stream)
{
    for (const BiffRecord &record : stream.records()) {
        if (record.type == kSetup && record.data.size() >= 12 && !(readU16(record.data, 10) & fNoPls)
            && readU16(record.data, 0) != 0)
            return readU16(record.data, 0);
    }
    return paperA4;
}

} // namespace

QString readUnicodeString(const QByteArray &data, qsizetype offset)
{
    if (offset + 3 > data.size())
        return {};
    const int count = readU16(data, offset);
    const bool wide = uchar(data[offset + 2]) & 0x01;
    const qsizetype start = offset + 3;
    const qsizetype available = (data.size() - start) / (wide ? 2 : 1);
    const int n = int(std::min<qsizetype>(count, available));
    if (!wide)
        return QString::fromLatin1(data.constData() + start, n);
    QString text(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        text[i] = QChar(readU16(data, start + 2 * i));
    return text;
}

QByteArray headerFooterPayload(const QString &code)
{
    if (code.isEmpty())
        return {};
    bool wide = false;
    for (const QChar c : code)
        wide = wide || c.unicode() > 0xFF;
    QByteArray data(3 + code.size() * (wide ? 2 : 1), '\0');
    writeU16(data, 0, quint16(code.size()));
    data[2] = wide ? 1 : 0;
    for (int i = 0; i < code.size(); ++i) {
        if (wide)
            writeU16(data, 3 + 2 * i, code[i].unicode());
        else
            data[3 + i] = char(code[i].unicode());
    }
    return data;
}

SheetPageRecords::SheetPageRecords(BiffRecordStream &stream, int sheetPosition) : m_stream(stream), m_sheet(sheetPosition) { }

QList<int> SheetPageRecords::ownRecords() const
{
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    if (substream.bof < 0 || substream.eof < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no substream for sheet %1").arg(m_sheet + 1));
    QList<int> own;
    int depth = 0;
    for (int i = substream.bof + 1; i < substream.eof; ++i) {
        const quint16 type = m_stream.records()[i].type;
        if (type == kBof)
            ++depth;
        else if (depth == 0)
            own.append(i);
        else if (type == kEof)
            --depth;
    }
    return own;
}

int SheetPageRecords::find(quint16 type) const
{
    for (int i : ownRecords()) {
        if (m_stream.records()[i].type == type)
            return i;
    }
    return -1;
}

int SheetPageRecords::insertBefore(const QList<quint16> &types, BiffRecord record)
{
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    int at = substream.eof;
    for (int i : ownRecords()) {
        if (types.contains(m_stream.records()[i].type)) {
            at = i;
            break;
        }
    }
    auto &records = m_stream.records();
    if (at == substream.bof + 1) {
        records.insert(at, BiffRecord{kWsBool, QByteArray::fromHex("C104"), {}, 0});
        ++at;
    }
    records.insert(at, std::move(record));
    return at;
}

QString SheetPageRecords::headerFooter(bool footer) const
{
    const int index = find(footer ? kFooter : kHeader);
    return index < 0 ? QString() : readUnicodeString(m_stream.records()[index].data);
}

bool SheetPageRecords::setHeaderFooter(bool footer, const QString &code)
{
    if (code.size() > maxHeaderFooterLength)
        throw EngineError(ErrorCode::InvalidArgument,
            QStringLiteral("header/footer of %1 characters, at most %2").arg(code.size()).arg(maxHeaderFooterLength));
    const quint16 type = footer ? kFooter : kHeader;
    const QByteArray payload = headerFooterPayload(code);
    const int index = find(type);
    if (index >= 0) {
        BiffRecord &record = m_stream.records()[index];
        if (readUnicodeString(record.data) == code && record.continuations.isEmpty())
            return false;
        record.data = payload;
        record.continuations.clear();
        return true;
    }
    if (code.isEmpty())
        return false; // no record means no header already
    static const QList<quint16> afterHeader = {kFooter, kHCenter, kVCenter, kLeftMargin, kRightMargin, kTopMargin, kBottomMargin,
        kPls, kSetup, kHeaderFooter, kPrintSize, kDefColWidth, kColInfo, kDimensions};
    if (!footer) {
        insertBefore(afterHeader, BiffRecord{kHeader, payload, {}, 0});
        return true;
    }
    int header = find(kHeader);
    if (header < 0)
        header = insertBefore(afterHeader, BiffRecord{kHeader, {}, {}, 0});
    m_stream.records().insert(header + 1, BiffRecord{kFooter, payload, {}, 0});
    return true;
}

Orientation SheetPageRecords::orientation() const
{
    const int index = find(kSetup);
    if (index < 0 || m_stream.records()[index].data.size() < 12)
        return Orientation::Portrait;
    const quint16 flags = readU16(m_stream.records()[index].data, 10);
    if (flags & (fNoPls | fNoOrient))
        return Orientation::Portrait;
    return (flags & fPortrait) ? Orientation::Portrait : Orientation::Landscape;
}

bool SheetPageRecords::setOrientation(Orientation orientation)
{
    if (orientation != Orientation::Portrait && orientation != Orientation::Landscape)
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("orientation %1").arg(int(orientation)));
    int index = find(kSetup);
    // Without printer settings a sheet prints portrait already; it is left as it is.
    const bool undefined = index < 0 || m_stream.records()[index].data.size() < 12
        || (readU16(m_stream.records()[index].data, 10) & (fNoPls | fNoOrient));
    if (orientation == Orientation::Portrait && undefined)
        return false;
    bool changed = false;
    if (index < 0) {
        index = insertBefore(
            {kHeaderFooter, kPrintSize, kDefColWidth, kColInfo, kDimensions}, BiffRecord{kSetup, defaultSetup(), {}, 0});
        changed = true;
    }
    BiffRecord &setup = m_stream.records()[index];
    QByteArray data = setup.data.size() >= setupSize ? setup.data : defaultSetup();
    quint16 flags = readU16(data, 10);
    if (flags & fNoPls) {
        writeU16(data, 0, paperSizeOfWorkbook(m_stream));
        writeU16(data, 2, 100);
        writeU16(data, 12, 600);
        writeU16(data, 14, 600);
        writeU16(data, 32, 1);
        flags &= quint16(~fNoPls);
    }
    flags &= quint16(~fNoOrient);
    flags = orientation == Orientation::Portrait ? (flags | fPortrait) : quint16(flags & ~fPortrait);
    writeU16(data, 10, flags);
    if (data != setup.data) {
        setup.data = data;
        changed = true;
    }

    const int pls = find(kPls);
    if (pls >= 0) {
        BiffRecord &record = m_stream.records()[pls];
        if (record.data.size() >= plsDevmodeOrientation + 2 && readU16(record.data, plsDevmodeSize) >= 78
            && (readU32(record.data, plsDevmodeFields) & 0x1)) {
            const quint16 wanted = orientation == Orientation::Landscape ? 2 : 1;
            if (readU16(record.data, plsDevmodeOrientation) != wanted) {
                writeU16(record.data, plsDevmodeOrientation, wanted);
                changed = true;
            }
        }
    }
    return changed;
}

} // namespace gm::xls
