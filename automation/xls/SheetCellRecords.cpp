#include "automation/xls/SheetCellRecords.h"

#include "automation/EngineError.h"
#include "automation/cells/NumberFormat.h"
#include "automation/xls/SheetColumnRecords.h"
#include "automation/xls/SheetRecordEdits.h"
#include "automation/xls/SheetRowRecords.h"
#include "automation/xls/XlsContent.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

namespace gm::xls {

namespace {

enum : quint16 {
    kXfCrc = 0x087C,
    kXfExt = 0x087D,
};

constexpr qsizetype kMaxRecordData = 8224;
constexpr int kMaxCellFormats = 4000; // what the oldest readers of the format accept
constexpr quint16 kDefaultCellXf = 15;
constexpr int kMaxTextLength = 32767;
constexpr quint16 fGhostDirty = 0x0080; // ROW: the row has a format of its own
constexpr quint8 fAtrNum = 0x04; // XF byte 9: the number format is the cell's own
constexpr quint8 f123Prefix = 0x08; // XF byte 4: the text was typed with a leading apostrophe
constexpr qsizetype kXfCrcSize = 20; // frtHeader (12), reserved, cxfs u16 @14, crc u32 @16
constexpr qsizetype kXfExtIndex = 14; // XFEXT: after frtHeader and a reserved u16, ixfe u16

[[noreturn]] void needEngine(int sheet, const QString &why)
{
    throw EngineError(ErrorCode::XlsCellsNeedEngine, QStringLiteral("sheet %1: %2").arg(sheet + 1).arg(why));
}

int errorCodeOf(const QString &text)
{
    static const std::pair<const char *, int> codes[] = {{"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F},
        {"#REF!", 0x17}, {"#NAME?", 0x1D}, {"#NUM!", 0x24}, {"#N/A", 0x2A}};
    for (const auto &[name, code] : codes) {
        if (text == QLatin1String(name))
            return code;
    }
    return -1;
}

double rkDecoded(quint32 rk)
{
    double value = 0;
    if (rk & 0x02) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The RK form of a number when it holds the number exactly, as the spreadsheet program picks it.
std::optional<quint32> rkOf(double value)
{
    auto integer = [](double v) -> std::optional<quint32> {
        if (v >= -(1 << 29) && v < (1 << 29) && v == std::floor(v))
            return quint32(qint32(v)) << 2 | 0x02;
        return std::nullopt;
    };
    auto truncated = [](double v) -> std::optional<quint32> {
        quint64 bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        if (bits & 0xFFFFFFFFull)
            return std::nullopt;
        return quint32(bits >> 32) & 0xFFFFFFFCu;
    };
    std::optional<quint32> candidates[] = {integer(value), truncated(value), std::nullopt, std::nullopt};
    const double hundred = value * 100;
    if (auto i = integer(hundred))
        candidates[2] = *i | 0x01;
    if (auto t = truncated(hundred))
        candidates[3] = *t | 0x01;
    for (const auto &rk : candidates) {
        if (rk && sameBits(rkDecoded(*rk), value))
            return rk;
    }
    return std::nullopt;
}

QByteArray cellHeader(int row, int column, quint16 xf, qsizetype size)
{
    QByteArray data(size, '\0');
    writeU16(data, 0, quint16(row));
    writeU16(data, 2, quint16(column));
    writeU16(data, 4, xf);
    return data;
}

// XLUnicodeString of a FORMAT record.
QString formatCode(const QByteArray &data)
{
    if (data.size() < 5)
        return {};
    const int count = readU16(data, 2);
    const bool wide = data[4] & 0x01;
    const qsizetype available = (data.size() - 5) / (wide ? 2 : 1);
    const int take = int(std::min<qsizetype>(count, available));
    if (wide)
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(data.constData() + 5), take);
    return QString::fromLatin1(data.constData() + 5, take);
}

// The shared string table as a list of parts, walked string by string.
struct StringTable
{
    QList<QByteArray> parts; // the SST payload, then its CONTINUE payloads
    struct Start
    {
        int part = 0;
        qsizetype offset = 0; // in the part's payload
    };
    QList<Start> starts;
    QHash<QString, quint32> plain; // strings without formatting runs or phonetic data -> index

    // Reads every string; false when the bytes do not hold whole strings.
    bool walk()
    {
        int part = 0;
        qsizetype pos = 8;
        auto settle = [&] {
            while (part < parts.size() && pos >= parts[part].size()) {
                ++part;
                pos = 0;
            }
            return part < parts.size();
        };
        auto byte = [&]() -> std::optional<quint8> {
            if (!settle())
                return std::nullopt;
            return quint8(parts[part][pos++]);
        };
        auto u16 = [&]() -> std::optional<quint16> {
            const auto a = byte();
            const auto b = byte();
            if (!a || !b)
                return std::nullopt;
            return quint16(*a | *b << 8);
        };
        auto skip = [&](qint64 count) {
            while (count > 0) {
                if (!settle())
                    return false;
                const qint64 step = std::min<qint64>(count, parts[part].size() - pos);
                pos += step;
                count -= step;
            }
            return true;
        };
        while (settle()) {
            starts.append({part, pos});
            const auto count = u16();
            const auto flags = byte();
            if (!count || !flags)
                return false;
            int runs = 0;
            qint64 extra = 0;
            if (*flags & 0x08) {
                const auto r = u16();
                if (!r)
                    return false;
                runs = *r;
            }
            if (*flags & 0x04) {
                const auto a = u16();
                const auto b = u16();
                if (!a || !b)
                    return false;
                extra = qint32(quint32(*a) | quint32(*b) << 16);
            }
            bool wide = *flags & 0x01;
            QString text;
            int left = *count;
            while (left > 0) {
                if (part < parts.size() && pos >= parts[part].size()) {
                    ++part;
                    pos = 0;
                    if (part >= parts.size() || parts[part].isEmpty())
                        return false;
                    wide = parts[part][pos++] & 0x01;
                    continue;
                }
                if (part >= parts.size())
                    return false;
                const int width = wide ? 2 : 1;
                const int take = int(std::min<qsizetype>(left, (parts[part].size() - pos) / width));
                if (take == 0)
                    return false;
                const char *p = parts[part].constData() + pos;
                text += wide ? QString::fromUtf16(reinterpret_cast<const char16_t *>(p), take) : QString::fromLatin1(p, take);
                pos += qsizetype(take) * width;
                left -= take;
            }
            if (!skip(qint64(runs) * 4 + std::max<qint64>(extra, 0)))
                return false;
            if (!(*flags & 0x0C))
                plain.insert(text, quint32(starts.size() - 1)); // the last of equal strings, as readers keep none apart
        }
        return true;
    }

    // Appends a string, split over CONTINUE payloads as the format requires: a header never
    // splits, and characters resume after a flag byte.
    quint32 append(const QString &text)
    {
        const bool wide = std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() > 0xFF; });
        const int width = wide ? 2 : 1;
        if (kMaxRecordData - parts.last().size() < 3 + (text.isEmpty() ? 0 : width))
            parts.append(QByteArray());
        starts.append({int(parts.size() - 1), parts.last().size()});
        QByteArray header(3, '\0');
        writeU16(header, 0, quint16(text.size()));
        header[2] = char(wide ? 0x01 : 0x00);
        parts.last().append(header);
        qsizetype done = 0;
        while (done < text.size()) {
            qsizetype room = (kMaxRecordData - parts.last().size()) / width;
            if (room == 0) {
                parts.append(QByteArray(1, char(wide ? 0x01 : 0x00)));
                continue;
            }
            const qsizetype take = std::min(room, text.size() - done);
            const QString piece = text.mid(done, take);
            if (wide)
                parts.last().append(reinterpret_cast<const char *>(piece.utf16()), take * 2);
            else
                parts.last().append(piece.toLatin1());
            done += take;
        }
        const quint32 index = quint32(starts.size() - 1);
        plain.insert(text, index);
        return index;
    }
};

// What a cell of the table holds before the writes.
struct Existing
{
    int unit = -1; // index into the units
    quint16 xf = kDefaultCellXf;
    bool multi = false; // one of several cells of a MULRK or MULBLANK
};

struct Planned
{
    int row = 0;
    int column = 0;
    TypedEntry entry;
    std::optional<quint16> xf; // the cell's format record after the write
    quint32 string = 0; // LABELSST index
};

} // namespace

quint32 xfChecksum(const QList<QByteArray> &xfPayloads)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 value = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 0x80000000u) ? (value << 1) ^ 0xAFu : value << 1;
            t[i] = value;
        }
        return t;
    }();
    quint32 crc = 0;
    for (const QByteArray &payload : xfPayloads) {
        for (const char byte : payload)
            crc = (crc << 8) ^ table[((crc >> 24) ^ quint8(byte)) & 0xFF];
    }
    return crc;
}

bool usesDate1904(const BiffRecordStream &stream)
{
    const int end = stream.globalsEnd();
    for (int i = 0; i < end; ++i) {
        const BiffRecord &record = stream.records()[i];
        if (record.type == kDate1904 && record.data.size() >= 2)
            return readU16(record.data, 0) != 0;
    }
    return false;
}

SheetCellRecords::SheetCellRecords(BiffRecordStream &stream, int sheetPosition) : m_stream(stream), m_sheet(sheetPosition)
{ }

void SheetCellRecords::write(const std::vector<Entry> &entries, const EntryContext &context)
{
    if (entries.empty())
        return;
    if (m_stream.isEncrypted())
        needEngine(m_sheet, QStringLiteral("encrypted workbook stream"));
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    if (substream.bof < 0 || substream.eof < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no substream for sheet %1").arg(m_sheet + 1));
    QList<BiffRecord> &records = m_stream.records();

    // The globals: format records, number formats, shared strings.
    const int globalsEnd = m_stream.globalsEnd();
    QList<int> xfAt;
    QHash<int, QString> formats;
    int sstAt = -1;
    int extSstAt = -1;
    int xfCrcAt = -1;
    QHash<int, int> xfExtAt; // XF index -> its XFEXT record
    int lastXfExt = -1;
    for (int i = 0; i < globalsEnd; ++i) {
        const BiffRecord &record = records[i];
        if (record.type == kXf)
            xfAt.append(i);
        else if (record.type == kFormat && record.data.size() >= 2)
            formats.insert(readU16(record.data, 0), formatCode(record.data));
        else if (record.type == kSst && sstAt < 0)
            sstAt = i;
        else if (record.type == kExtSst && extSstAt < 0)
            extSstAt = i;
        else if (record.type == kXfCrc && xfCrcAt < 0 && record.data.size() >= kXfCrcSize)
            xfCrcAt = i;
        else if (record.type == kXfExt && record.data.size() >= kXfExtIndex + 2) {
            xfExtAt.insert(readU16(record.data, kXfExtIndex), i);
            lastXfExt = i;
        }
    }
    auto xfRecord = [&](quint16 xf) -> const QByteArray & {
        static const QByteArray none;
        return xf < xfAt.size() && records[xfAt[xf]].data.size() >= 20 ? records[xfAt[xf]].data : none;
    };
    auto formatIdOf = [&](quint16 xf) { return xfRecord(xf).isEmpty() ? 0 : int(readU16(xfRecord(xf), 2)); };
    auto codeOf = [&](int id) { return formats.contains(id) ? formats.value(id) : builtInFormatCode(id); };

    // The sheet's own records (embedded chart substreams aside).
    int indexAt = -1, dimensionsAt = -1, defaultAt = -1, tableFirst = -1, tableLast = -1;
    QList<int> columnInfos;
    for (const int i : SheetRecordEdits(m_stream, m_sheet).ownRecords()) {
        const BiffRecord &record = records[i];
        if (record.type == kIndex && indexAt < 0 && record.data.size() >= 16)
            indexAt = i;
        else if (record.type == kDimensions && dimensionsAt < 0 && record.data.size() >= 12)
            dimensionsAt = i;
        else if (record.type == kDefaultRowHeight && defaultAt < 0 && record.data.size() >= 4)
            defaultAt = i;
        else if (record.type == kColInfo && record.data.size() >= 8)
            columnInfos.append(i);
        if (!isCellTableRecord(record.type))
            continue;
        if (tableFirst < 0)
            tableFirst = i;
        tableLast = i;
    }
    if (dimensionsAt < 0)
        needEngine(m_sheet, QStringLiteral("no DIMENSIONS record"));

    // The cell table as rows and cell units; every cell by position.
    std::map<int, BiffRecord> rows;
    std::vector<CellUnit> units;
    QHash<quint32, Existing> cells;
    if (tableFirst >= 0) {
        for (int i = tableFirst; i <= tableLast; ++i) {
            const BiffRecord &record = records[i];
            const quint16 type = record.type;
            if (type == kDbCell)
                continue;
            if (type == kRow) {
                if (record.data.size() < 16)
                    throw EngineError(ErrorCode::Damaged, QStringLiteral("short ROW record in sheet %1").arg(m_sheet + 1));
                rows.try_emplace(readU16(record.data, 0), record);
                continue;
            }
            if (followsCellRecord(type)) {
                if (units.empty())
                    needEngine(m_sheet, QStringLiteral("formula data before any cell"));
                units.back().records.append(record);
                continue;
            }
            if (!isCellRecord(type))
                needEngine(m_sheet, QStringLiteral("record 0x%1 among the cells").arg(type, 4, 16, QLatin1Char('0')));
            if (record.data.size() < 6)
                throw EngineError(ErrorCode::Damaged, QStringLiteral("short cell record in sheet %1").arg(m_sheet + 1));
            const int row = readU16(record.data, 0);
            const int unit = int(units.size());
            units.push_back({row, {record}});
            if (type == kMulRk || type == kMulBlank) {
                const int first = readU16(record.data, 2);
                const int width = type == kMulRk ? 6 : 2;
                const int count = int((record.data.size() - 6) / width);
                for (int k = 0; k < count; ++k)
                    cells.insert(cellKey(row, first + k), {unit, readU16(record.data, 4 + k * width), true});
            } else {
                cells.insert(cellKey(row, readU16(record.data, 2)), {unit, readU16(record.data, 4), false});
            }
        }
    }

    // The format a new cell takes: its row's, else its column's, else the default.
    auto newCellXf = [&](int row, int column) -> quint16 {
        const auto at = rows.find(row);
        if (at != rows.end() && (readU16(at->second.data, 12) & fGhostDirty))
            return readU16(at->second.data, 14) & 0x0FFF;
        for (int i : std::as_const(columnInfos)) {
            const QByteArray &data = records[i].data;
            if (column >= readU16(data, 0) && column <= readU16(data, 2))
                return readU16(data, 6);
        }
        return kDefaultCellXf;
    };

    // Plan every write before anything changes: whatever needs the engine is found first.
    std::map<quint32, Planned> planned;
    QList<QByteArray> addedXfs;
    QList<quint16> addedFrom; // the format record each added one was made from
    auto xfFor = [&](quint16 base, const std::function<void(QByteArray &)> &change) -> quint16 {
        QByteArray wanted = xfRecord(base);
        if (wanted.isEmpty())
            needEngine(m_sheet, QStringLiteral("format record %1 missing").arg(base));
        change(wanted);
        if (wanted == xfRecord(base))
            return base;
        for (int k = 0; k < xfAt.size(); ++k) {
            if (records[xfAt[k]].data == wanted)
                return quint16(k);
        }
        for (int k = 0; k < addedXfs.size(); ++k) {
            if (addedXfs[k] == wanted)
                return quint16(xfAt.size() + k);
        }
        if (xfAt.size() + addedXfs.size() >= kMaxCellFormats)
            needEngine(m_sheet, QStringLiteral("format record table full"));
        addedXfs.append(wanted);
        addedFrom.append(base);
        return quint16(xfAt.size() + addedXfs.size() - 1);
    };
    for (const Entry &entry : entries) {
        if (entry.row < 0 || entry.row >= kXlsRows || entry.column < 0 || entry.column >= kXlsColumns)
            throw EngineError(ErrorCode::CellOutOfRange, QStringLiteral("row %1, column %2").arg(entry.row + 1).arg(entry.column + 1));
        const quint32 key = cellKey(entry.row, entry.column);
        const auto existing = cells.constFind(key);
        const auto earlier = planned.find(key);
        if (existing != cells.cend() && earlier == planned.end()) {
            const BiffRecord &record = units[size_t(existing->unit)].records.front();
            // A cell of a shared, array or table formula refers to the formula's first cell.
            if (record.type == kFormula && record.data.size() >= 23 && (record.data[22] == 0x01 || record.data[22] == 0x02))
                needEngine(m_sheet, QStringLiteral("%1 is part of a shared, array or table formula").arg(cellName(entry.row, entry.column)));
        }
        const quint16 xf = earlier != planned.end() && earlier->second.xf ? *earlier->second.xf
            : existing != cells.cend()                                    ? existing->xf
                                                                          : newCellXf(entry.row, entry.column);
        EntryContext cellContext = context;
        cellContext.cellIsText = codeOf(formatIdOf(xf)) == QLatin1String("@");
        Planned plan{entry.row, entry.column, parseTypedEntry(entry.text, cellContext), xf, 0};
        switch (plan.entry.type) {
        case TypedEntry::Type::Formula:
            needEngine(m_sheet, QStringLiteral("a formula in %1").arg(cellName(entry.row, entry.column)));
        case TypedEntry::Type::Error:
            if (errorCodeOf(plan.entry.text) < 0)
                needEngine(m_sheet, QStringLiteral("error value %1").arg(plan.entry.text));
            break;
        case TypedEntry::Type::Text:
            if (plan.entry.text.size() > kMaxTextLength)
                needEngine(m_sheet, QStringLiteral("text longer than a cell holds"));
            if (plan.entry.quotePrefix)
                plan.xf = xfFor(xf, [](QByteArray &data) { data[4] = char(data[4] | f123Prefix); });
            break;
        case TypedEntry::Type::Number:
            // The format typing gives goes only to cells formatted General.
            if (plan.entry.numberFormatId > 0 && codeOf(formatIdOf(xf)).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
                const int id = plan.entry.numberFormatId;
                if (formats.contains(id) && formats.value(id) != builtInFormatCode(id))
                    needEngine(m_sheet, QStringLiteral("number format %1 redefined by the file").arg(id));
                plan.xf = xfFor(xf, [id](QByteArray &data) {
                    writeU16(data, 2, quint16(id));
                    data[9] = char(data[9] | fAtrNum);
                });
            }
            break;
        case TypedEntry::Type::Empty:
        case TypedEntry::Type::Boolean:
            break;
        }
        planned[key] = plan;
    }

    // Shared strings.
    StringTable strings;
    const bool hasText = std::any_of(planned.cbegin(), planned.cend(),
        [](const auto &item) { return item.second.entry.type == TypedEntry::Type::Text; });
    if (hasText) {
        if (sstAt >= 0) {
            strings.parts = QList<QByteArray>{records[sstAt].data} + records[sstAt].continuations;
            if (records[sstAt].data.size() < 8 || !strings.walk())
                needEngine(m_sheet, QStringLiteral("shared string table not readable"));
        } else {
            strings.parts = {QByteArray(8, '\0')};
        }
    }
    // Nothing can fail from here on.

    qint64 referencesAdded = 0;
    for (auto &[key, plan] : planned) {
        if (plan.entry.type != TypedEntry::Type::Text)
            continue;
        const auto known = strings.plain.constFind(plan.entry.text);
        plan.string = known != strings.plain.cend() ? *known : strings.append(plan.entry.text);
        ++referencesAdded;
    }

    // Cells of a MULRK or MULBLANK that is written into become single records.
    std::vector<bool> removed(units.size(), false);
    std::vector<CellUnit> added;
    for (const auto &[key, plan] : planned) {
        const auto existing = cells.constFind(key);
        if (existing == cells.cend() || removed[size_t(existing->unit)])
            continue;
        const CellUnit &unit = units[size_t(existing->unit)];
        const BiffRecord &record = unit.records.front();
        removed[size_t(existing->unit)] = true;
        if (record.type == kLabelSst)
            --referencesAdded;
        if (!existing->multi)
            continue;
        const int first = readU16(record.data, 2);
        const bool rk = record.type == kMulRk;
        const int width = rk ? 6 : 2;
        const int count = int((record.data.size() - 6) / width);
        for (int k = 0; k < count; ++k) {
            if (planned.count(cellKey(unit.row, first + k)))
                continue;
            QByteArray data = cellHeader(unit.row, first + k, readU16(record.data, 4 + k * width), rk ? 10 : 6);
            if (rk)
                writeU32(data, 6, readU32(record.data, 4 + k * width + 2));
            added.push_back({unit.row, {BiffRecord{rk ? quint16(kRk) : quint16(kBlank), data, {}, 0}}});
        }
    }
    for (const auto &[key, plan] : planned) {
        const quint16 xf = *plan.xf;
        QByteArray data;
        quint16 type = 0;
        switch (plan.entry.type) {
        case TypedEntry::Type::Empty:
            // Clearing keeps the cell's format; a cell without one goes.
            if (!cells.contains(key) || xf == kDefaultCellXf)
                continue;
            type = kBlank;
            data = cellHeader(plan.row, plan.column, xf, 6);
            break;
        case TypedEntry::Type::Number:
            if (const auto rk = rkOf(plan.entry.number)) {
                type = kRk;
                data = cellHeader(plan.row, plan.column, xf, 10);
                writeU32(data, 6, *rk);
            } else {
                type = kNumber;
                data = cellHeader(plan.row, plan.column, xf, 14);
                std::memcpy(data.data() + 6, &plan.entry.number, 8);
            }
            break;
        case TypedEntry::Type::Text:
            type = kLabelSst;
            data = cellHeader(plan.row, plan.column, xf, 10);
            writeU32(data, 6, plan.string);
            break;
        case TypedEntry::Type::Boolean:
        case TypedEntry::Type::Error:
            type = kBoolErr;
            data = cellHeader(plan.row, plan.column, xf, 8);
            data[6] = char(plan.entry.type == TypedEntry::Type::Boolean ? int(plan.entry.number) : errorCodeOf(plan.entry.text));
            data[7] = char(plan.entry.type == TypedEntry::Type::Error ? 1 : 0);
            break;
        case TypedEntry::Type::Formula:
            continue;
        }
        added.push_back({plan.row, {BiffRecord{type, data, {}, 0}}});
    }

    // Units in row and column order; the records of every row that has cells.
    std::vector<CellUnit> table;
    table.reserve(units.size() + added.size());
    for (size_t k = 0; k < units.size(); ++k) {
        if (!removed[k])
            table.push_back(std::move(units[k]));
    }
    const auto firstColumn = [](const CellUnit &unit) { return readU16(unit.records.front().data, 2); };
    const quint16 defaultFlags = defaultAt >= 0 ? readU16(records[defaultAt].data, 0) : 0;
    const quint16 defaultHeight = defaultAt >= 0 ? readU16(records[defaultAt].data, 2) : 255;
    QByteArray &dimensions = records[dimensionsAt].data;
    quint32 rowMic = readU32(dimensions, 0), rowMac = readU32(dimensions, 4);
    quint16 columnMic = readU16(dimensions, 8), columnMac = readU16(dimensions, 10);
    const bool wasEmpty = rowMac <= rowMic || columnMac <= columnMic;
    for (const CellUnit &unit : added) {
        const QByteArray &data = unit.records.front().data;
        const int column = readU16(data, 2);
        auto at = rows.find(unit.row);
        if (at == rows.end())
            at = rows.emplace(unit.row, BiffRecord{kRow, plainRowRecord(unit.row, defaultFlags, defaultHeight), {}, 0}).first;
        QByteArray &row = at->second.data;
        const bool rowEmpty = readU16(row, 4) <= readU16(row, 2);
        writeU16(row, 2, quint16(rowEmpty ? column : std::min<int>(readU16(row, 2), column)));
        writeU16(row, 4, quint16(rowEmpty ? column + 1 : std::max<int>(readU16(row, 4), column + 1)));
        if (wasEmpty && rowMac <= rowMic) {
            rowMic = quint32(unit.row);
            rowMac = quint32(unit.row + 1);
            columnMic = quint16(column);
            columnMac = quint16(column + 1);
        } else {
            rowMic = std::min(rowMic, quint32(unit.row));
            rowMac = std::max(rowMac, quint32(unit.row + 1));
            columnMic = std::min(columnMic, quint16(column));
            columnMac = std::max(columnMac, quint16(column + 1));
        }
    }
    for (CellUnit &unit : added) {
        const auto at = std::upper_bound(table.begin(), table.end(), unit, [&](const CellUnit &a, const CellUnit &b) {
            return a.row != b.row ? a.row < b.row : firstColumn(a) < firstColumn(b);
        });
        table.insert(at, std::move(unit));
    }
    writeU32(dimensions, 0, rowMic);
    writeU32(dimensions, 4, rowMac);
    writeU16(dimensions, 8, columnMic);
    writeU16(dimensions, 10, columnMac);
    std::vector<std::pair<int, BiffRecord>> rowList;
    rowList.reserve(rows.size());
    for (auto &[row, record] : rows)
        rowList.emplace_back(row, std::move(record));
    layOutCellTable(m_stream, indexAt, tableFirst, tableLast, tableFirst >= 0 ? tableFirst : dimensionsAt + 1,
        std::move(rowList), table);

    // The globals last: the sheet's record indexes are no longer needed.
    if (hasText) {
        if (sstAt < 0) {
            // A workbook without shared strings gets its table at the end of the globals.
            const int end = m_stream.globalsEnd();
            records.insert(end, BiffRecord{kExtSst, QByteArray(2, '\0'), {}, 0});
            records.insert(end, BiffRecord{kSst, QByteArray(8, '\0'), {}, 0});
            sstAt = end;
            extSstAt = end + 1;
        }
        BiffRecord &sst = records[sstAt];
        const qint64 total = qint64(readU32(sst.data, 0)) + referencesAdded;
        sst.data = strings.parts.front();
        sst.continuations = strings.parts.mid(1);
        writeU32(sst.data, 0, quint32(std::max<qint64>(total, 0)));
        writeU32(sst.data, 4, quint32(strings.starts.size()));
        if (extSstAt >= 0) {
            // The index: every dsst-th string's position, no more than 128 buckets.
            BiffRecord &extSst = records[extSstAt];
            const qsizetype count = strings.starts.size();
            int perBucket = extSst.data.size() >= 2 ? std::max<int>(readU16(extSst.data, 0), 8) : 8;
            if ((count + perBucket - 1) / perBucket > 128)
                perBucket = int((count + 127) / 128);
            const qsizetype buckets = (count + perBucket - 1) / perBucket;
            QByteArray data(2 + 8 * buckets, '\0');
            writeU16(data, 0, quint16(perBucket));
            const quint32 sstId = m_stream.identify(sst);
            const quint32 extId = m_stream.identify(extSst);
            m_stream.setPositions(extId, 2, {});
            for (qsizetype b = 0; b < buckets; ++b) {
                const StringTable::Start &start = strings.starts[b * perBucket];
                writeU16(data, 2 + 8 * b + 4, quint16(start.offset + 4));
                m_stream.setPosition(extId, int(2 + 8 * b), sstId, start.part, quint32(start.offset + 4));
            }
            extSst.data = std::move(data);
        }
    }
    if (!addedXfs.isEmpty()) {
        // The checksum tells readers whether the extensions still describe the format records;
        // it is kept true only when it was true. Records after the format records first, so
        // that the indexes found above still hold.
        QList<QByteArray> payloads;
        for (const int i : std::as_const(xfAt))
            payloads.append(records[i].data);
        const bool checksumHolds = xfCrcAt >= 0 && readU16(records[xfCrcAt].data, 14) == xfAt.size()
            && readU32(records[xfCrcAt].data, 16) == xfChecksum(payloads);
        if (checksumHolds) {
            QList<BiffRecord> extensions;
            for (qsizetype k = 0; k < addedXfs.size(); ++k) {
                const auto from = xfExtAt.constFind(addedFrom[k]);
                if (from == xfExtAt.cend())
                    continue;
                BiffRecord extension{kXfExt, records[*from].data, records[*from].continuations, 0};
                writeU16(extension.data, kXfExtIndex, quint16(xfAt.size() + k));
                extensions.append(extension);
            }
            if (!extensions.isEmpty()) {
                const int after = lastXfExt >= 0 ? lastXfExt : xfCrcAt;
                for (qsizetype k = extensions.size() - 1; k >= 0; --k)
                    records.insert(after + 1, extensions[k]);
            }
            BiffRecord &checksum = records[xfCrcAt];
            writeU16(checksum.data, 14, quint16(xfAt.size() + addedXfs.size()));
            writeU32(checksum.data, 16, xfChecksum(payloads + addedXfs));
        }
        const int after = xfAt.last();
        for (qsizetype k = addedXfs.size() - 1; k >= 0; --k)
            records.insert(after + 1, BiffRecord{kXf, addedXfs[k], {}, 0});
    }
}

} // namespace gm::xls
