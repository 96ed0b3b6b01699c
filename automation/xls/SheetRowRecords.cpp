#include "automation/xls/SheetRowRecords.h"

#include "automation/EngineError.h"
#include "automation/xls/SheetRecordEdits.h"
#include "automation/xlsx/SheetRowsColumns.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace gm::xls {

namespace {

// ROW.grbit
constexpr quint16 fDyZero = 0x0020;
constexpr quint16 fUnsynced = 0x0040;
constexpr quint16 kRowReserved = 0x0100; // always set
// ROW.ixfe_val and its flags
constexpr quint16 kDefaultCellFormat = 15;
constexpr quint16 fExAsc = 0x1000;
constexpr quint16 fExDes = 0x2000;
// DEFAULTROWHEIGHT flags
constexpr quint16 fDefaultUnsynced = 0x0001;
constexpr quint16 fDefaultDyZero = 0x0002;
constexpr quint16 fDefaultExAsc = 0x0004;
constexpr quint16 fDefaultExDsc = 0x0008;
// The height of rows when a sheet does not say: 12.75 points.
constexpr quint16 kStandardHeight = 255;

constexpr int kRowsPerBlock = 32;

enum : quint16 {
    kFormulaCell = 0x0006,
    // Records that belong to the formula cell before them.
    kString = 0x0207,
    kArray = 0x0221,
    kTable = 0x0236,
    kShrFmla = 0x04BC,
};

} // namespace

bool isCellRecord(quint16 type)
{
    switch (type) {
    case kFormulaCell:
    case kRString:
    case kMulRk:
    case kMulBlank:
    case kLabelSst:
    case kBlank:
    case kNumber:
    case kLabel:
    case kBoolErr:
    case kRk:
        return true;
    default:
        return false;
    }
}

bool followsCellRecord(quint16 type)
{
    return type == kString || type == kArray || type == kTable || type == kShrFmla;
}

bool isCellTableRecord(quint16 type)
{
    return type == kRow || type == kDbCell || isCellRecord(type) || followsCellRecord(type);
}

namespace {

struct DefaultRow
{
    quint16 flags = 0;
    quint16 height = kStandardHeight;

    bool operator==(const DefaultRow &) const = default;
};

// A row record as the spreadsheet program writes one for a row that has no format of its
// own, with the default row's height and state.
QByteArray defaultRowRecord(int row, const DefaultRow &defaults)
{
    QByteArray data(16, '\0');
    writeU16(data, 0, quint16(row));
    writeU16(data, 6, defaults.height);
    quint16 grbit = kRowReserved;
    if (defaults.flags & fDefaultDyZero)
        grbit |= fDyZero;
    if (defaults.flags & fDefaultUnsynced)
        grbit |= fUnsynced;
    writeU16(data, 12, grbit);
    quint16 format = kDefaultCellFormat;
    if (defaults.flags & fDefaultExAsc)
        format |= fExAsc;
    if (defaults.flags & fDefaultExDsc)
        format |= fExDes;
    writeU16(data, 14, format);
    return data;
}

struct Block
{
    std::vector<std::pair<int, BiffRecord>> rows;
    std::vector<const CellUnit *> cells;
};

// The DBCELL of a laid-out block: dbRtrw, the distance from the first ROW to the DBCELL;
// then for each row the distance from the previous row's first cell (for the first row, from
// the second ROW record) to its first cell, a row without cells counting where its cells
// would start.
QByteArray dbCell(const Block &block)
{
    std::vector<qsizetype> unitStarts;
    qsizetype position = 0;
    for (const auto &[row, record] : block.rows)
        position += record.streamSize();
    for (const CellUnit *unit : block.cells) {
        unitStarts.push_back(position);
        for (const BiffRecord &record : unit->records)
            position += record.streamSize();
    }
    const qsizetype end = position;
    QByteArray data(4 + 2 * qsizetype(block.rows.size()), '\0');
    writeU32(data, 0, quint32(end));
    if (block.rows.empty())
        return data;
    qsizetype previous = block.rows.front().second.streamSize();
    size_t unit = 0;
    for (size_t i = 0; i < block.rows.size(); ++i) {
        while (unit < block.cells.size() && block.cells[unit]->row < block.rows[i].first)
            ++unit;
        const qsizetype start = unit < block.cells.size() ? unitStarts[unit] : end;
        writeU16(data, 4 + 2 * qsizetype(i), quint16(start - previous));
        previous = start;
    }
    return data;
}

EngineError unsupportedTable(int sheet, const QString &what)
{
    return EngineError(ErrorCode::XlsCellTableUnsupported, QStringLiteral("sheet %1: %2").arg(sheet + 1).arg(what));
}

} // namespace

void layOutCellTable(BiffRecordStream &stream, int indexAt, int tableFirst, int tableLast, int insertAt,
    std::vector<std::pair<int, BiffRecord>> allRows, const std::vector<CellUnit> &units)
{
    std::map<int, Block> byBlock;
    int rowMin = kXlsRows;
    int rowMax = -1;
    for (auto &[row, record] : allRows) {
        byBlock[row / kRowsPerBlock].rows.emplace_back(row, std::move(record));
        rowMin = std::min(rowMin, row);
        rowMax = std::max(rowMax, row);
    }
    for (const CellUnit &unit : units) {
        byBlock[unit.row / kRowsPerBlock].cells.push_back(&unit);
        rowMin = std::min(rowMin, unit.row);
        rowMax = std::max(rowMax, unit.row);
    }

    QList<BiffRecord> table;
    QList<quint32> dbCells;
    for (auto &[number, block] : byBlock) {
        BiffRecord cell{kDbCell, dbCell(block), {}, 0};
        for (auto &[row, record] : block.rows)
            table.append(std::move(record));
        for (const CellUnit *unit : block.cells)
            table.append(unit->records);
        if (indexAt < 0)
            continue;
        dbCells.append(stream.identify(cell));
        table.append(std::move(cell));
    }

    QList<BiffRecord> &records = stream.records();
    const quint32 indexId = indexAt >= 0 ? stream.identify(records[indexAt]) : 0;
    if (tableFirst >= 0)
        records.remove(tableFirst, tableLast - tableFirst + 1);
    QList<BiffRecord> out;
    out.reserve(records.size() + table.size());
    out.append(records.mid(0, insertAt));
    out.append(std::move(table));
    out.append(records.mid(insertAt));
    records = std::move(out);
    if (indexAt < 0)
        return;

    // INDEX: rwMic, rwMac (the row after the last), one position per block.
    BiffRecord &index = records[stream.indexOf(indexId)];
    QByteArray data = index.data.left(16);
    writeU32(data, 4, rowMax < 0 ? 0 : quint32(rowMin));
    writeU32(data, 8, rowMax < 0 ? 0 : quint32(rowMax + 1));
    data.append(QByteArray(4 * dbCells.size(), '\0'));
    index.data = std::move(data);
    stream.setPositions(indexId, 16, dbCells);
}

QByteArray plainRowRecord(int row, quint16 defaultFlags, quint16 defaultHeight)
{
    return defaultRowRecord(row, DefaultRow{defaultFlags, defaultHeight});
}

SheetRowRecords::SheetRowRecords(BiffRecordStream &stream, int sheetPosition) : m_stream(stream), m_sheet(sheetPosition) { }

bool SheetRowRecords::hide(LineRun rows)
{
    return apply(rows, Change{true, 0});
}

bool SheetRowRecords::setHeight(LineRun rows, double points)
{
    if (!(points >= 0) || points > xlsx::kMaxRowHeight)
        throw EngineError(ErrorCode::LineSizeOutOfRange, QString::number(points));
    const double snapped = xlsx::snappedRowHeight(points);
    if (snapped == 0)
        return apply(rows, Change{true, 0});
    return apply(rows, Change{false, quint16(std::lround(snapped * 20))});
}

bool SheetRowRecords::apply(LineRun rows, const Change &change)
{
    const int first = int(rows.first - 1);
    const int last = int(rows.last - 1);
    if (first < 0 || last >= kXlsRows || first > last)
        throw EngineError(ErrorCode::LineRunInvalid, QStringLiteral("%1:%2").arg(rows.first).arg(rows.last));
    const BiffSubstream substream = m_stream.sheetSubstream(m_sheet);
    if (substream.bof < 0 || substream.eof < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no substream for sheet %1").arg(m_sheet + 1));
    QList<BiffRecord> &records = m_stream.records();

    // The sheet's own records (embedded chart substreams aside).
    int indexAt = -1;
    int defaultAt = -1;
    int dimensionsAt = -1;
    int tableFirst = -1;
    int tableLast = -1;
    int usedEnd = 0; // the row after the last one that has a record or a cell
    std::vector<int> rowAt(kXlsRows, -1);
    std::vector<int> rowRecords;
    for (const int i : SheetRecordEdits(m_stream, m_sheet).ownRecords()) {
        const BiffRecord &record = records[i];
        if (record.type == kIndex && indexAt < 0 && record.data.size() >= 16)
            indexAt = i;
        else if (record.type == kDefaultRowHeight && defaultAt < 0 && record.data.size() >= 4)
            defaultAt = i;
        else if (record.type == kDimensions && dimensionsAt < 0)
            dimensionsAt = i;
        if (!isCellTableRecord(record.type))
            continue;
        if (tableFirst < 0)
            tableFirst = i;
        tableLast = i;
        if (isCellRecord(record.type) && record.data.size() >= 2)
            usedEnd = std::max(usedEnd, readU16(record.data, 0) + 1);
        if (record.type == kRow) {
            if (record.data.size() < 16)
                throw EngineError(ErrorCode::Damaged, QStringLiteral("short ROW record in sheet %1").arg(m_sheet + 1));
            rowRecords.push_back(i);
            const int row = readU16(record.data, 0);
            if (rowAt[row] < 0)
                rowAt[row] = i;
            usedEnd = std::max(usedEnd, row + 1);
        }
    }

    auto changedRow = [&](QByteArray data) {
        quint16 grbit = readU16(data, 12);
        if (change.hide) {
            grbit |= fDyZero;
        } else {
            writeU16(data, 6, change.twips);
            grbit = quint16((grbit | fUnsynced) & ~fDyZero);
        }
        writeU16(data, 12, grbit);
        return data;
    };
    DefaultRow defaults;
    if (defaultAt >= 0)
        defaults = {readU16(records[defaultAt].data, 0), readU16(records[defaultAt].data, 2)};
    DefaultRow changedDefault = defaults;
    if (change.hide) {
        changedDefault.flags |= fDefaultDyZero;
    } else {
        changedDefault.flags = quint16((changedDefault.flags | fDefaultUnsynced) & ~fDefaultDyZero);
        changedDefault.height = change.twips;
    }

    // Which rows get new records: those of the run, or, when the default row takes the
    // change, the others, and the rows of the run among the sheet's used rows (readers take
    // the default row only for the rows after the last used one).
    const int count = last - first + 1;
    int recordedInRun = 0;
    for (int row = first; row <= last; ++row)
        recordedInRun += rowAt[row] >= 0 ? 1 : 0;
    int recorded = 0;
    for (int at : rowAt)
        recorded += at >= 0 ? 1 : 0;
    const int missingInRun = count - recordedInRun;
    const int missingElsewhere = (kXlsRows - count) - (recorded - recordedInRun);
    const bool defaultTakesChange = changedDefault != defaults && defaultAt >= 0 && missingInRun > missingElsewhere;
    std::vector<std::pair<int, QByteArray>> added;
    if (changedDefault != defaults) {
        auto addRow = [&](int row, bool changed) {
            if (rowAt[row] < 0) {
                const QByteArray data = defaultRowRecord(row, defaults);
                added.emplace_back(row, changed ? changedRow(data) : data);
            }
        };
        if (defaultTakesChange) {
            for (int row = 0; row < kXlsRows; ++row) {
                if (row < first || row > last)
                    addRow(row, false);
                else if (row < usedEnd)
                    addRow(row, true);
            }
        } else {
            for (int row = first; row <= last; ++row)
                addRow(row, true);
        }
    }
    const bool blocks = indexAt >= 0;
    if (!added.empty()) {
        if (tableFirst < 0 && dimensionsAt < 0)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("no DIMENSIONS in sheet %1").arg(m_sheet + 1));
        if (blocks && tableFirst >= 0) {
            bool cellSeen = false;
            for (int i = tableFirst; i <= tableLast; ++i) {
                const quint16 type = records[i].type;
                if (!isCellTableRecord(type))
                    throw unsupportedTable(
                        m_sheet, QStringLiteral("record 0x%1 among the cells").arg(type, 4, 16, QLatin1Char('0')));
                if (followsCellRecord(type) && !cellSeen)
                    throw unsupportedTable(m_sheet, QStringLiteral("formula data before any cell"));
                cellSeen = cellSeen || isCellRecord(type);
            }
        }
    }

    // Nothing can fail from here on.
    bool changed = false;
    for (int at : rowRecords) {
        // Every record of a row of the run, should a writer have repeated one.
        if (!rows.contains(readU16(records[at].data, 0) + 1))
            continue;
        QByteArray data = changedRow(records[at].data);
        if (data != records[at].data) {
            records[at].data = std::move(data);
            changed = true;
        }
    }
    if (defaultTakesChange) {
        QByteArray &data = records[defaultAt].data;
        writeU16(data, 0, changedDefault.flags);
        writeU16(data, 2, changedDefault.height);
        changed = true;
    }
    if (added.empty())
        return changed;

    if (!blocks) {
        // No row blocks: the new records go among the others in row order, else before the
        // cells, else after DIMENSIONS.
        QList<BiffRecord> out;
        out.reserve(records.size() + qsizetype(added.size()));
        size_t next = 0;
        auto addUpTo = [&](int row) {
            for (; next < added.size() && added[next].first < row; ++next)
                out.append(BiffRecord{kRow, added[next].second, {}, 0});
        };
        const int lastRow = rowRecords.empty() ? -1 : rowRecords.back();
        const int before = rowRecords.empty() ? tableFirst : -1;
        const int after = lastRow >= 0 ? lastRow : before < 0 ? dimensionsAt : -1;
        size_t nextRowRecord = 0;
        for (int i = 0; i < records.size(); ++i) {
            if (nextRowRecord < rowRecords.size() && rowRecords[nextRowRecord] == i) {
                ++nextRowRecord;
                addUpTo(readU16(records[i].data, 0));
            }
            if (i == before)
                addUpTo(kXlsRows);
            out.append(std::move(records[i]));
            if (i == after)
                addUpTo(kXlsRows);
        }
        records = std::move(out);
        return true;
    }

    // Row blocks: the cell table is laid out again, 32 rows to a block.
    std::vector<std::pair<int, BiffRecord>> allRows;
    std::vector<CellUnit> units;
    if (tableFirst >= 0) {
        for (int i = tableFirst; i <= tableLast; ++i) {
            BiffRecord &record = records[i];
            if (record.type == kRow)
                allRows.emplace_back(readU16(record.data, 0), std::move(record));
            else if (isCellRecord(record.type))
                units.push_back({readU16(record.data, 0), {std::move(record)}});
            else if (followsCellRecord(record.type))
                units.back().records.append(std::move(record));
        }
    }
    for (auto &[row, data] : added)
        allRows.emplace_back(row, BiffRecord{kRow, std::move(data), {}, 0});
    std::stable_sort(allRows.begin(), allRows.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    layOutCellTable(m_stream, indexAt, tableFirst, tableLast, tableFirst >= 0 ? tableFirst : dimensionsAt + 1,
        std::move(allRows), units);
    return true;
}

} // namespace gm::xls
