#include "automation/xls/SheetColumnRecords.h"

#include "automation/EngineError.h"
#include "automation/xlsx/SheetRowsColumns.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace gm::xls {

namespace {

constexpr quint16 kStandardWidth = 0x0099;
constexpr quint16 kFont = 0x0031;
constexpr quint16 fHidden = 0x0001;
constexpr quint16 fUserSet = 0x0002;
constexpr quint16 kDefaultCellFormat = 15;

struct Span
{
    qint64 first = 0; // 0-based
    qint64 last = 0;
    QByteArray data; // the COLINFO payload
};

QByteArray colInfo(qint64 first, qint64 last, quint16 width, quint16 format, quint16 flags)
{
    QByteArray data(12, '\0');
    writeU16(data, 0, quint16(first));
    writeU16(data, 2, quint16(last));
    writeU16(data, 4, width);
    writeU16(data, 6, format);
    writeU16(data, 8, flags);
    return data;
}

} // namespace

SheetColumnRecords::SheetColumnRecords(BiffRecordStream &stream, int sheetPosition) : m_stream(stream), m_sheet(sheetPosition) { }

bool SheetColumnRecords::hide(LineRun columns)
{
    return apply(columns, Change{true, 0});
}

bool SheetColumnRecords::setWidth(LineRun columns, double characters)
{
    if (!(characters >= 0) || characters > xlsx::kMaxColumnWidth)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(characters));
    if (characters == 0)
        return apply(columns, Change{true, 0});
    const double stored = xlsx::storedColumnWidth(characters, maximumDigitWidth());
    return apply(columns, Change{false, quint16(std::min(65535.0, std::round(stored * 256)))});
}

int SheetColumnRecords::maximumDigitWidth() const
{
    for (const BiffRecord &record : m_stream.records()) {
        if (record.type != kFont)
            continue;
        // FONT: dyHeight (twips) at 0, the name (count, flags, characters) at 14.
        if (record.data.size() < 16)
            break;
        const double points = readU16(record.data, 0) / 20.0;
        const int count = quint8(record.data[14]);
        const bool wide = quint8(record.data[15]) & 0x01;
        QString name;
        for (int i = 0; i < count && 16 + (i + 1) * (wide ? 2 : 1) <= record.data.size(); ++i)
            name += wide ? QChar(readU16(record.data, 16 + 2 * i)) : QChar(char16_t(quint8(record.data[16 + i])));
        return xlsx::digitWidthOfFont(name, points);
    }
    return xlsx::digitWidthOfFont(QStringLiteral("Arial"), 10);
}

quint16 SheetColumnRecords::defaultWidth() const
{
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    int characters = 8;
    for (int i = substream.bof + 1; i < substream.eof; ++i) {
        const BiffRecord &record = m_stream.records()[i];
        if (record.type == kStandardWidth && record.data.size() >= 2)
            return readU16(record.data, 0);
        if (record.type == kDefColWidth && record.data.size() >= 2)
            characters = readU16(record.data, 0);
    }
    // The default width in pixels is the characters plus padding, rounded up to 8 pixels.
    const int digit = maximumDigitWidth();
    const int pixels = int(std::ceil((characters * digit + 5) / 8.0)) * 8;
    return quint16(pixels * 256 / digit);
}

bool SheetColumnRecords::apply(LineRun columns, const Change &change)
{
    const qint64 first = columns.first - 1;
    const qint64 last = columns.last - 1;
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    if (substream.bof < 0 || substream.eof < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no substream for sheet %1").arg(m_sheet + 1));
    auto &records = m_stream.records();

    // The sheet's own COLINFO records (embedded chart substreams aside) and where new ones go.
    std::vector<Span> spans;
    std::vector<int> positions;
    int insertAt = -1;
    int depth = 0;
    for (int i = substream.bof + 1; i < substream.eof; ++i) {
        const quint16 type = records[i].type;
        if (type == kBof) {
            ++depth;
        } else if (depth > 0) {
            if (type == kEof)
                --depth;
        } else if (type == kColInfo && records[i].data.size() >= 10) {
            const QByteArray &data = records[i].data;
            spans.push_back({readU16(data, 0), readU16(data, 2), data});
            positions.push_back(i);
        } else if (type == kDimensions && insertAt < 0) {
            insertAt = i;
        }
    }
    if (!positions.empty())
        insertAt = positions.front();
    if (insertAt < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no DIMENSIONS in sheet %1").arg(m_sheet + 1));

    auto changed = [&](QByteArray data) {
        quint16 flags = readU16(data, 8);
        if (change.hide) {
            flags |= fHidden;
        } else {
            writeU16(data, 4, change.width);
            flags = quint16((flags | fUserSet) & ~fHidden);
        }
        writeU16(data, 8, flags);
        return data;
    };
    std::vector<Span> result;
    auto piece = [&](const QByteArray &from, qint64 a, qint64 b, bool inRun) {
        if (a > b)
            return;
        QByteArray data = from;
        writeU16(data, 0, quint16(a));
        writeU16(data, 2, quint16(b));
        result.push_back({a, b, inRun ? changed(data) : data});
    };
    std::vector<std::pair<qint64, qint64>> covered;
    for (const Span &span : spans) {
        if (span.last < first || span.first > last) {
            result.push_back(span);
            continue;
        }
        piece(span.data, span.first, first - 1, false);
        piece(span.data, std::max(span.first, first), std::min(span.last, last), true);
        piece(span.data, last + 1, span.last, false);
        covered.emplace_back(std::max(span.first, first), std::min(span.last, last));
    }
    std::sort(covered.begin(), covered.end());
    const QByteArray blank = colInfo(0, 0, defaultWidth(), kDefaultCellFormat, 0);
    qint64 next = first;
    for (const auto &[a, b] : covered) {
        piece(blank, next, a - 1, true);
        next = std::max(next, b + 1);
    }
    piece(blank, next, last, true);
    std::stable_sort(result.begin(), result.end(), [](const Span &a, const Span &b) { return a.first < b.first; });

    // Nothing to do when the records come out as they were.
    if (result.size() == spans.size()
        && std::equal(result.begin(), result.end(), spans.begin(), [](const Span &a, const Span &b) { return a.data == b.data; }))
        return false;
    for (auto it = positions.rbegin(); it != positions.rend(); ++it)
        records.removeAt(*it);
    for (size_t k = 0; k < result.size(); ++k)
        records.insert(insertAt + int(k), BiffRecord{kColInfo, result[k].data, {}, 0});
    return true;
}

} // namespace gm::xls
