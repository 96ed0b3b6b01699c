#include "automation/xls/SheetRecordEdits.h"

#include <algorithm>

namespace gm::xls {

namespace {

// Records that come after the background in a sheet: BIGNAME, the protection block, the
// column block and everything after it.
constexpr quint16 kAfterBackground[] = {0x0418, 0x0012, 0x00DD, 0x0063, 0x0013, kDefColWidth, kColInfo, kDimensions};

} // namespace

SheetRecordEdits::SheetRecordEdits(BiffRecordStream &stream, int sheetPosition) : m_stream(stream), m_sheet(sheetPosition) { }

QList<int> SheetRecordEdits::ownRecords() const
{
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    QList<int> own;
    int depth = 0;
    for (int i = substream.bof + 1; i < substream.eof; ++i) {
        const quint16 type = m_stream.records()[i].type;
        if (type == kBof) {
            ++depth;
            continue;
        }
        if (type == kEof && depth > 0) {
            --depth;
            continue;
        }
        if (depth == 0)
            own.append(i);
    }
    return own;
}

int SheetRecordEdits::removeAll(std::initializer_list<quint16> types)
{
    const QList<int> own = ownRecords();
    int removed = 0;
    for (auto it = own.crbegin(); it != own.crend(); ++it) {
        const quint16 type = m_stream.records()[*it].type;
        if (std::find(types.begin(), types.end(), type) != types.end()) {
            m_stream.records().removeAt(*it);
            ++removed;
        }
    }
    return removed;
}

int SheetRecordEdits::removeHyperlinks()
{
    int links = 0;
    for (int index : ownRecords())
        links += m_stream.records()[index].type == kHLink ? 1 : 0;
    removeAll({kHLink, kHLinkTooltip});
    return links;
}

bool SheetRecordEdits::setBackground(const QByteArray &data)
{
    BiffRecord record;
    record.type = kBackground;
    record.data = data.left(kMaxPayload);
    for (qsizetype at = kMaxPayload; at < data.size(); at += kMaxPayload)
        record.continuations.append(data.mid(at, kMaxPayload));

    const QList<int> own = ownRecords();
    for (int index : own) {
        const BiffRecord &existing = m_stream.records()[index];
        if (existing.type == kBackground && existing.data + existing.continuations.join() == data)
            return false;
    }
    removeBackground();
    const QList<int> remaining = ownRecords();
    int at = m_stream.sheetSubstream(m_sheet).eof;
    for (int index : remaining) {
        const quint16 type = m_stream.records()[index].type;
        if (std::find(std::begin(kAfterBackground), std::end(kAfterBackground), type) != std::end(kAfterBackground)) {
            at = index;
            break;
        }
    }
    m_stream.records().insert(at, std::move(record));
    return true;
}

bool SheetRecordEdits::removeBackground()
{
    return removeAll({kBackground}) > 0;
}

} // namespace gm::xls
