#include "automation/xls/BiffRecordStream.h"

#include "automation/EngineError.h"

#include <QHash>

#include <algorithm>

namespace gm::xls {

namespace {

constexpr int kMaxNesting = 8;

EngineError damaged(const QString &what, qsizetype at)
{
    return EngineError(ErrorCode::Damaged, QStringLiteral("workbook stream: %1 at byte %2").arg(what).arg(at));
}

// Where a record or one of its continuations started in the stream as read.
struct Part
{
    quint32 start = 0;
    quint32 end = 0; // header included
    int record = 0;
    int part = 0;
};

} // namespace

quint16 readU16(const QByteArray &data, qsizetype offset)
{
    const auto *d = reinterpret_cast<const uchar *>(data.constData() + offset);
    return static_cast<quint16>(d[0] | (d[1] << 8));
}

quint32 readU32(const QByteArray &data, qsizetype offset)
{
    const auto *d = reinterpret_cast<const uchar *>(data.constData() + offset);
    return static_cast<quint32>(d[0]) | (static_cast<quint32>(d[1]) << 8) | (static_cast<quint32>(d[2]) << 16)
        | (static_cast<quint32>(d[3]) << 24);
}

void writeU16(QByteArray &data, qsizetype offset, quint16 value)
{
    data[offset] = static_cast<char>(value & 0xFF);
    data[offset + 1] = static_cast<char>(value >> 8);
}

void writeU32(QByteArray &data, qsizetype offset, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

qsizetype BiffRecord::streamSize() const
{
    qsizetype size = 4 + data.size();
    for (const QByteArray &continuation : continuations)
        size += 4 + continuation.size();
    return size;
}

BiffRecordStream BiffRecordStream::parse(const QByteArray &bytes)
{
    BiffRecordStream stream;
    stream.m_originalSize = bytes.size();
    quint32 nextId = 1;
    int depth = 0;
    qsizetype pos = 0;
    // Count the records the loop below will read, so that the list is allocated once.
    qsizetype count = 0;
    for (qsizetype at = 0, level = 0; at + 4 <= bytes.size(); at += 4 + readU16(bytes, at + 2)) {
        const quint16 type = readU16(bytes, at);
        if (level == 0 && type != kBof)
            break;
        level += type == kBof ? 1 : type == kEof ? -1 : 0;
        count += type != kContinue;
    }
    stream.m_records.reserve(count);
    while (pos + 4 <= bytes.size()) {
        const quint16 type = readU16(bytes, pos);
        const quint16 length = readU16(bytes, pos + 2);
        if (depth == 0 && type != kBof) {
            if (stream.m_records.isEmpty())
                throw damaged(QStringLiteral("no BOF record"), pos);
            break; // padding or junk after the last substream, kept as found
        }
        if (pos + 4 + length > bytes.size())
            throw damaged(QStringLiteral("record 0x%1 runs past the end").arg(type, 4, 16, QLatin1Char('0')), pos);
        const QByteArray data = bytes.mid(pos + 4, length);
        if (type == kContinue) {
            stream.m_records.last().continuations.append(data);
        } else {
            BiffRecord record;
            record.type = type;
            record.data = data;
            record.id = nextId++;
            stream.m_records.append(std::move(record));
        }
        if (type == kBof) {
            if (length < 4)
                throw damaged(QStringLiteral("short BOF record"), pos);
            if (++depth > kMaxNesting)
                throw damaged(QStringLiteral("substreams nested too deep"), pos);
            if (stream.m_records.size() == 1)
                stream.m_version = readU16(data, 0);
        } else if (type == kEof) {
            --depth;
        } else if (type == kFilePass && depth == 1) {
            // FILEPASS sits in the globals, not always right after BOF (WRITEPROT may come first).
            stream.m_encrypted = true;
        }
        pos += 4 + length;
    }
    if (stream.m_records.isEmpty())
        throw damaged(QStringLiteral("no records"), 0);
    if (depth != 0)
        throw damaged(QStringLiteral("stream ends inside a substream"), pos);
    stream.m_trailer = bytes.mid(pos);
    stream.m_nextId = nextId;
    stream.resolvePointers();
    return stream;
}

void BiffRecordStream::resolvePointers()
{
    QList<Part> parts;
    parts.reserve(m_records.size());
    QHash<quint32, int> recordStarts; // position -> record index
    recordStarts.reserve(m_records.size());
    quint32 pos = 0;
    for (int i = 0; i < m_records.size(); ++i) {
        const BiffRecord &record = m_records[i];
        recordStarts.insert(pos, i);
        parts.append({pos, pos + 4 + quint32(record.data.size()), i, 0});
        pos += 4 + quint32(record.data.size());
        for (int k = 0; k < record.continuations.size(); ++k) {
            parts.append({pos, pos + 4 + quint32(record.continuations[k].size()), i, k + 1});
            pos += 4 + quint32(record.continuations[k].size());
        }
    }

    auto pointAtRecord = [&](const BiffRecord &source, int offset, quint16 wantedType) {
        const auto hit = recordStarts.constFind(readU32(source.data, offset));
        if (hit == recordStarts.cend())
            return;
        const BiffRecord &target = m_records[*hit];
        if (wantedType != 0 && target.type != wantedType)
            return;
        m_pointers.append({source.id, offset, target.id, 0, 0});
    };
    auto pointIntoSst = [&](const BiffRecord &source, int offset) {
        const quint32 value = readU32(source.data, offset);
        const auto part
            = std::upper_bound(parts.cbegin(), parts.cend(), value, [](quint32 v, const Part &p) { return v < p.start; });
        if (part == parts.cbegin())
            return;
        const Part &hit = *(part - 1);
        if (value < hit.start + 4 || value >= hit.end || m_records[hit.record].type != kSst)
            return;
        m_pointers.append({source.id, offset, m_records[hit.record].id, hit.part, value - hit.start});
    };

    for (const BiffRecord &record : std::as_const(m_records)) {
        const qsizetype size = record.data.size();
        if (record.type == kBoundSheet && size >= 4) {
            // lbPlyPos is stored in the clear even in encrypted streams.
            pointAtRecord(record, 0, kBof);
        } else if (m_encrypted) {
            continue;
        } else if (record.type == kIndex && size >= 16) {
            pointAtRecord(record, 12, 0);
            for (int offset = 16; offset + 4 <= size; offset += 4)
                pointAtRecord(record, offset, kDbCell);
        } else if (record.type == kExtSst && size >= 2) {
            for (int offset = 2; offset + 8 <= size; offset += 8)
                pointIntoSst(record, offset);
        }
    }
}

QByteArray BiffRecordStream::serialize() const
{
    QHash<quint32, int> indexById;
    QList<quint32> starts(m_records.size());
    qsizetype total = 0;
    for (int i = 0; i < m_records.size(); ++i) {
        const BiffRecord &record = m_records[i];
        if (record.id != 0)
            indexById.insert(record.id, i);
        starts[i] = quint32(total);
        total += record.streamSize();
        if (record.data.size() > 0xFFFF
            || std::any_of(record.continuations.cbegin(), record.continuations.cend(),
                [](const QByteArray &c) { return c.size() > 0xFFFF; }))
            throw EngineError(
                ErrorCode::WriteFailed, QStringLiteral("record 0x%1 too long").arg(record.type, 4, 16, QLatin1Char('0')));
    }
    if (total > qsizetype(0xFFFFFFF0))
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("workbook stream too large"));

    QByteArray out;
    out.reserve(total + std::max<qsizetype>(m_trailer.size(), m_originalSize - total));
    auto header = [&out](quint16 type, qsizetype length) {
        const char bytes[4] = {char(type & 0xFF), char(type >> 8), char(length & 0xFF), char(length >> 8)};
        out.append(bytes, 4);
    };
    for (const BiffRecord &record : m_records) {
        header(record.type, record.data.size());
        out.append(record.data);
        for (const QByteArray &continuation : record.continuations) {
            header(kContinue, continuation.size());
            out.append(continuation);
        }
    }

    for (const Pointer &pointer : m_pointers) {
        const int source = indexById.value(pointer.sourceId, -1);
        const int target = indexById.value(pointer.targetId, -1);
        if (source < 0 || target < 0 || m_records[source].data.size() < pointer.sourceOffset + 4)
            continue;
        const BiffRecord &targetRecord = m_records[target];
        if (pointer.targetPart > targetRecord.continuations.size())
            continue;
        quint32 position = starts[target];
        if (pointer.targetPart > 0) {
            position += 4 + quint32(targetRecord.data.size());
            for (int k = 0; k + 1 < pointer.targetPart; ++k)
                position += 4 + quint32(targetRecord.continuations[k].size());
        }
        writeU32(out, starts[source] + 4 + pointer.sourceOffset, position + pointer.targetOffset);
    }

    const bool zeroPadding = !m_trailer.isEmpty() && m_trailer.count('\0') == m_trailer.size();
    if (zeroPadding)
        out.append(QByteArray(std::max<qsizetype>(0, m_originalSize - out.size()), '\0'));
    else
        out.append(m_trailer);
    return out;
}

QList<BiffSubstream> BiffRecordStream::substreams() const
{
    QList<BiffSubstream> result;
    QList<int> open; // indexes into result
    for (int i = 0; i < m_records.size(); ++i) {
        const BiffRecord &record = m_records[i];
        if (record.type == kBof) {
            BiffSubstream substream;
            substream.bof = i;
            substream.depth = int(open.size());
            substream.version = record.data.size() >= 2 ? readU16(record.data, 0) : 0;
            substream.kind = record.data.size() >= 4 ? readU16(record.data, 2) : 0;
            open.append(int(result.size()));
            result.append(substream);
        } else if (record.type == kEof && !open.isEmpty()) {
            result[open.takeLast()].eof = i;
        }
    }
    return result;
}

int BiffRecordStream::globalsEnd() const
{
    for (int i = 1; i < m_records.size(); ++i) {
        if (m_records[i].type == kEof)
            return i;
        if (m_records[i].type == kBof)
            break;
    }
    return -1;
}

QList<int> BiffRecordStream::sheetRecords() const
{
    QList<int> result;
    const int end = globalsEnd();
    for (int i = 0; i < end; ++i) {
        if (m_records[i].type == kBoundSheet)
            result.append(i);
    }
    return result;
}

BiffSubstream BiffRecordStream::sheetSubstream(int sheetIndex) const
{
    const QList<int> sheets = sheetRecords();
    if (sheetIndex < 0 || sheetIndex >= sheets.size())
        return {};
    const QList<BiffSubstream> all = substreams();
    const quint32 sheetId = m_records[sheets[sheetIndex]].id;
    for (const Pointer &pointer : m_pointers) {
        if (sheetId == 0 || pointer.sourceId != sheetId || pointer.sourceOffset != 0)
            continue;
        const int bof = indexOf(pointer.targetId);
        for (const BiffSubstream &substream : all) {
            if (substream.bof == bof && substream.depth == 0)
                return substream;
        }
    }
    int seen = -1;
    for (const BiffSubstream &substream : all) {
        if (substream.depth == 0 && seen++ == sheetIndex)
            return substream;
    }
    return {};
}

int BiffRecordStream::indexOf(quint32 id) const
{
    if (id == 0)
        return -1;
    for (int i = 0; i < m_records.size(); ++i) {
        if (m_records[i].id == id)
            return i;
    }
    return -1;
}

quint32 BiffRecordStream::identify(BiffRecord &record)
{
    if (record.id == 0)
        record.id = m_nextId++;
    return record.id;
}

void BiffRecordStream::setPositions(quint32 sourceId, int firstOffset, const QList<quint32> &targets)
{
    m_pointers.removeIf(
        [&](const Pointer &pointer) { return pointer.sourceId == sourceId && pointer.sourceOffset >= firstOffset; });
    for (int k = 0; k < targets.size(); ++k)
        m_pointers.append({sourceId, firstOffset + 4 * k, targets[k], 0, 0});
}

void BiffRecordStream::setPosition(quint32 sourceId, int offset, quint32 targetId, int targetPart, quint32 targetOffset)
{
    m_pointers.removeIf([&](const Pointer &pointer) { return pointer.sourceId == sourceId && pointer.sourceOffset == offset; });
    m_pointers.append({sourceId, offset, targetId, targetPart, targetOffset});
}

} // namespace gm::xls
