#include "automation/xls/SheetRecords.h"

#include "automation/EngineError.h"
#include "automation/xls/FormulaTokens.h"
#include "automation/xls/XlsDocument.h"
#include "automation/xlsx/SheetStructure.h"

#include <QStringList>

#include <algorithm>
#include <functional>

namespace gm::xls {

namespace {

constexpr int kStateMask = 0x03;
constexpr quint16 kSelected = 0x0200; // WINDOW2 fSelected
constexpr quint16 kPaged = 0x0400; // WINDOW2 fPaged: the sheet shown in the window
constexpr int kItabCur = 10; // WINDOW1 fields
constexpr int kItabFirst = 12;
constexpr int kCtabSel = 14;

int stateCode(SheetVisibility visibility)
{
    switch (visibility) {
    case SheetVisibility::Visible:
        return 0;
    case SheetVisibility::Hidden:
        return 1;
    case SheetVisibility::VeryHidden:
        break;
    }
    return 2;
}

constexpr quint16 kShrFmla = 0x04BC;
constexpr quint16 kArray = 0x0221;
constexpr quint16 kCondFmt = 0x01B1; // CF
constexpr quint16 kDv = 0x01BE;
constexpr quint16 kBrai = 0x1051; // a chart series' reference
constexpr quint16 kObj = 0x005D;
constexpr quint16 kTabId = 0x013D;
constexpr quint16 kRecalcId = 0x01C1;
// Records whose formulas this editor does not walk: the extended conditional formats and
// pivot calculated fields.
constexpr quint16 kUnwalkedFormulas[] = {0x087A, 0x087B, 0x0103};

[[noreturn]] void notDeletable(const QString &why)
{
    throw EngineError(ErrorCode::XlsSheetNotDeletable, why);
}

// Where a record keeps a formula: the offset of its tokens and their length; several for
// records with two formulas.
QList<std::pair<qsizetype, int>> formulasOf(const BiffRecord &record)
{
    const QByteArray &data = record.data;
    auto at = [&](qsizetype countOffset, qsizetype tokens) -> QList<std::pair<qsizetype, int>> {
        if (data.size() < countOffset + 2)
            return {};
        return {{tokens, readU16(data, countOffset)}};
    };
    switch (record.type) {
    case kFormula:
        return at(20, 22);
    case kShrFmla:
        return at(8, 10);
    case kArray:
        return at(12, 14);
    case kBrai:
        return at(6, 8);
    case kName: {
        if (data.size() < 15)
            return {};
        const int nameBytes = quint8(data[3]) * ((data[14] & 0x01) ? 2 : 1);
        return {{15 + nameBytes, readU16(data, 4)}};
    }
    case kCondFmt: {
        // The two formulas end the record, after formatting of varying size.
        if (data.size() < 6)
            return {};
        const int first = readU16(data, 2), second = readU16(data, 4);
        const qsizetype start = data.size() - first - second;
        if (start < 6)
            return {{-1, 0}};
        return {{start, first}, {start + first, second}};
    }
    case kDv: {
        // Flags, four strings (titles and texts), then each formula with its length and two
        // unused bytes.
        qsizetype offset = 4;
        for (int i = 0; i < 4; ++i) {
            if (offset + 3 > data.size())
                return {{-1, 0}};
            offset += 3 + readU16(data, offset) * ((data[offset + 2] & 0x01) ? 2 : 1);
        }
        QList<std::pair<qsizetype, int>> result;
        for (int i = 0; i < 2; ++i) {
            if (offset + 4 > data.size())
                return {{-1, 0}};
            const int length = readU16(data, offset);
            result.append({offset + 4, length});
            offset += 4 + length;
        }
        return result;
    }
    default:
        return {};
    }
}

// Whether an OBJ holds a formula (a macro, a linked picture, a control's linked cell or list).
bool objectHasFormula(const QByteArray &data)
{
    for (qsizetype offset = 0; offset + 4 <= data.size();) {
        const quint16 ft = readU16(data, offset);
        if (ft == 0x0000)
            return false;
        if (ft == 0x0004 || ft == 0x0009 || ft == 0x000E || ft == 0x0013 || ft == 0x0014)
            return true;
        offset += 4 + readU16(data, offset + 2);
    }
    return false;
}

} // namespace

QByteArray boundSheetWithName(const QByteArray &data, const QString &name)
{
    bool wide = false;
    for (const QChar c : name)
        wide = wide || c.unicode() > 0xFF;
    QByteArray result = data.left(6);
    result.append(char(name.size()));
    result.append(char(wide ? 1 : 0));
    for (const QChar c : name) {
        result.append(char(c.unicode() & 0xFF));
        if (wide)
            result.append(char(c.unicode() >> 8));
    }
    return result;
}

SheetRecords::SheetRecords(BiffRecordStream &stream) : m_stream(stream), m_sheets(stream.sheetRecords())
{
    for (int index : std::as_const(m_sheets)) {
        if (m_stream.records()[index].data.size() < 8)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("BOUNDSHEET8 too short"));
    }
}

QString SheetRecords::name(int position) const
{
    return shortUnicodeString(m_stream.records()[m_sheets[position]].data, 6);
}

int SheetRecords::state(int position) const
{
    return uchar(m_stream.records()[m_sheets[position]].data[4]) & kStateMask;
}

SheetVisibility SheetRecords::visibility(int position) const
{
    switch (state(position)) {
    case 0:
        return SheetVisibility::Visible;
    case 1:
        return SheetVisibility::Hidden;
    default:
        return SheetVisibility::VeryHidden;
    }
}

void SheetRecords::refuseWhenStructureProtected() const
{
    // The globals' PROTECT record locks the workbook structure; the ones inside sheet
    // substreams protect cells.
    const int end = m_stream.globalsEnd();
    for (int i = 0; i < end; ++i) {
        const BiffRecord &record = m_stream.records()[i];
        if (record.type == kProtect && record.data.size() >= 2 && readU16(record.data, 0) != 0)
            throw EngineError(ErrorCode::WorkbookStructureProtected);
    }
}

int SheetRecords::window2Of(int position) const
{
    const BiffSubstream substream = m_stream.sheetSubstream(position);
    if (substream.bof < 0 || substream.eof < 0)
        return -1;
    int depth = 0;
    for (int i = substream.bof + 1; i < substream.eof; ++i) {
        const quint16 type = m_stream.records()[i].type;
        if (type == kBof)
            ++depth;
        else if (type == kEof)
            --depth;
        else if (depth == 0 && type == kWindow2 && m_stream.records()[i].data.size() >= 2)
            return i;
    }
    return -1;
}

int SheetRecords::visibleFrom(int position) const
{
    for (int i = std::max(position, 0); i < m_sheets.size(); ++i) {
        if (state(i) == 0)
            return i;
    }
    for (int i = std::min<int>(position, int(m_sheets.size())) - 1; i >= 0; --i) {
        if (state(i) == 0)
            return i;
    }
    return -1;
}

bool SheetRecords::setVisibility(int position, SheetVisibility visibility)
{
    if (position < 0 || position >= m_sheets.size())
        throw EngineError(ErrorCode::SheetNotFound, QStringLiteral("sheet %1").arg(position + 1));
    const int wanted = stateCode(visibility);
    if (state(position) == wanted)
        return false;
    refuseWhenStructureProtected();
    if (state(position) == 0) {
        bool otherVisible = false;
        for (int i = 0; i < m_sheets.size(); ++i)
            otherVisible = otherVisible || (i != position && state(i) == 0);
        if (!otherVisible)
            throw EngineError(ErrorCode::LastVisibleSheet, name(position));
    }
    QByteArray &data = m_stream.records()[m_sheets[position]].data;
    data[4] = char((uchar(data[4]) & ~kStateMask) | wanted);
    if (wanted != 0)
        settleWindows(position, false, false);
    return true;
}

void SheetRecords::settleWindows(int position, bool removed, bool recount)
{
    QList<BiffRecord> &records = m_stream.records();
    const int count = int(m_sheets.size());
    const int end = m_stream.globalsEnd();
    int previousActive = -1;
    int active = -1;
    QList<int> windows;
    for (int i = 0; i < end; ++i) {
        BiffRecord &window = records[i];
        if (window.type != kWindow1 || window.data.size() < kCtabSel + 2)
            continue;
        const int stored = readU16(window.data, kItabCur);
        int first = readU16(window.data, kItabFirst);
        int current = stored;
        if (removed) {
            current = stored == position ? -1 : stored > position ? stored - 1 : stored;
            first = first > position ? first - 1 : first;
        }
        int wanted = current;
        if (wanted < 0 || wanted >= count || state(wanted) != 0)
            wanted = visibleFrom(wanted < 0 ? position : std::min(wanted, count - 1));
        if (first >= count || first > wanted || state(first) != 0) {
            first = 0;
            while (first < wanted && state(first) != 0)
                ++first;
        }
        writeU16(window.data, kItabCur, quint16(wanted));
        writeU16(window.data, kItabFirst, quint16(first));
        if (windows.isEmpty()) {
            previousActive = current;
            active = wanted;
        }
        windows.append(i);
    }

    // The tab selection: the hidden sheet leaves it; the new active sheet is selected and shown.
    auto setSelected = [&](int sheet, bool selected) {
        const int index = sheet >= 0 && sheet < count ? window2Of(sheet) : -1;
        if (index < 0)
            return false;
        QByteArray &data = records[index].data;
        const quint16 grbit = readU16(data, 0);
        const quint16 wanted = selected ? quint16(grbit | kSelected | kPaged) : quint16(grbit & ~(kSelected | kPaged));
        if (wanted == grbit)
            return false;
        writeU16(data, 0, wanted);
        return true;
    };
    bool selectionChanged = !removed && setSelected(position, false);
    if (active >= 0 && active != previousActive) {
        selectionChanged = (previousActive >= 0 && setSelected(previousActive, false)) || selectionChanged;
        selectionChanged = setSelected(active, true) || selectionChanged;
    }
    if (!selectionChanged && !recount)
        return;
    int selected = 0;
    for (int sheet = 0; sheet < count; ++sheet) {
        const int index = window2Of(sheet);
        selected += index >= 0 && (readU16(records[index].data, 0) & kSelected);
    }
    for (int index : std::as_const(windows))
        writeU16(records[index].data, kCtabSel, quint16(std::max(selected, 1)));
}

bool SheetRecords::restoreTabs(const QList<SheetVisibility> &states, int active)
{
    const int count = int(m_sheets.size());
    if (states.size() != count
        || std::none_of(states.cbegin(), states.cend(), [](SheetVisibility v) { return v == SheetVisibility::Visible; }))
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("sheet states do not fit the workbook"));
    QList<BiffRecord> &records = m_stream.records();
    bool changed = false;
    for (int position = 0; position < count; ++position) {
        QByteArray &data = records[m_sheets[position]].data;
        const char wanted = char((uchar(data[4]) & ~kStateMask) | stateCode(states[position]));
        changed = changed || data[4] != wanted;
        data[4] = wanted;
    }
    active = visibleFrom(std::clamp(active, 0, count - 1));

    const int end = m_stream.globalsEnd();
    for (int i = 0; i < end; ++i) {
        BiffRecord &window = records[i];
        if (window.type != kWindow1 || window.data.size() < kCtabSel + 2)
            continue;
        int first = readU16(window.data, kItabFirst);
        if (first > active || state(first) != 0)
            first = active;
        for (auto [offset, value] : {std::pair{kItabCur, active}, std::pair{kItabFirst, first}, std::pair{kCtabSel, 1}}) {
            changed = changed || readU16(window.data, offset) != value;
            writeU16(window.data, offset, quint16(value));
        }
    }
    for (int position = 0; position < count; ++position) {
        const int index = window2Of(position);
        if (index < 0)
            continue;
        QByteArray &data = records[index].data;
        const quint16 grbit = readU16(data, 0);
        const quint16 wanted = position == active ? quint16(grbit | kSelected | kPaged) : quint16(grbit & ~(kSelected | kPaged));
        changed = changed || wanted != grbit;
        writeU16(data, 0, wanted);
    }
    return changed;
}

bool SheetRecords::rename(int position, const QString &newName)
{
    if (position < 0 || position >= m_sheets.size())
        throw EngineError(ErrorCode::SheetNotFound, QStringLiteral("sheet %1").arg(position + 1));
    if (name(position) == newName)
        return false;
    QStringList others;
    for (int i = 0; i < m_sheets.size(); ++i) {
        if (i != position)
            others.append(name(i));
    }
    xlsx::checkSheetName(newName, others);
    refuseWhenStructureProtected();
    BiffRecord &record = m_stream.records()[m_sheets[position]];
    record.data = boundSheetWithName(record.data, newName);
    return true;
}

void SheetRecords::remove(int position)
{
    if (position < 0 || position >= m_sheets.size())
        throw EngineError(ErrorCode::SheetNotFound, QStringLiteral("sheet %1").arg(position + 1));
    QList<BiffRecord> &records = m_stream.records();
    auto isWorksheet = [&](int sheet) {
        return uchar(records[m_sheets[sheet]].data[5]) == 0 && m_stream.sheetSubstream(sheet).kind == kWorksheet;
    };
    const bool worksheet = isWorksheet(position);
    const bool chart = uchar(records[m_sheets[position]].data[5]) == 2 && m_stream.sheetSubstream(position).kind == kChart;
    if (!worksheet && !chart)
        throw EngineError(ErrorCode::NotSupported, QStringLiteral("deleting a macro or module sheet"));
    refuseWhenStructureProtected();
    bool otherVisible = false, otherWorksheet = false;
    for (int i = 0; i < m_sheets.size(); ++i) {
        otherVisible = otherVisible || (i != position && state(i) == 0);
        otherWorksheet = otherWorksheet || (i != position && isWorksheet(i));
    }
    if (!otherVisible)
        throw EngineError(ErrorCode::LastVisibleSheet, name(position));
    if (worksheet && !otherWorksheet)
        throw EngineError(ErrorCode::LastWorksheet, name(position));
    const BiffSubstream own = m_stream.sheetSubstream(position);
    if (own.bof < 0 || own.eof < 0)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no substream for sheet %1").arg(position + 1));
    const int end = m_stream.globalsEnd();

    // Everything is planned first, so that a refusal leaves every record as it was.
    // The workbook's own SUPBOOK: its position is what EXTERNSHEET entries name it by.
    int selfBook = -1, selfBookRecord = -1, books = 0;
    int externSheet = -1, tabId = -1, recalcId = -1;
    QList<int> names;
    for (int i = 0; i < end; ++i) {
        const BiffRecord &record = records[i];
        if (record.type == kSupBook) {
            if (selfBook < 0 && record.data.size() >= 4 && readU16(record.data, 2) == 0x0401) {
                selfBook = books;
                selfBookRecord = i;
            }
            ++books;
        } else if (record.type == kExternSheet) {
            externSheet = i;
        } else if (record.type == kName) {
            names.append(i);
        } else if (record.type == kTabId) {
            tabId = i;
        } else if (record.type == kRecalcId) {
            recalcId = i;
        }
    }

    // EXTERNSHEET entries of the workbook itself: the deleted sheet becomes -1 (#REF!), a span
    // that ends on it shrinks, later sheets move down by one.
    QByteArray xti;
    QList<bool> ownEntry;
    if (externSheet >= 0) {
        const BiffRecord &record = records[externSheet];
        xti = record.data;
        for (const QByteArray &continuation : record.continuations)
            xti += continuation;
        const int count = xti.size() >= 2 ? readU16(xti, 0) : 0;
        if (xti.size() < 2 + 6 * count)
            throw EngineError(ErrorCode::Damaged, QStringLiteral("EXTERNSHEET too short"));
        for (int entry = 0; entry < count; ++entry) {
            const qsizetype at = 2 + 6 * entry;
            ownEntry.append(selfBook >= 0 && readU16(xti, at) == selfBook);
            if (!ownEntry.last())
                continue;
            const qint16 first = qint16(readU16(xti, at + 2)), last = qint16(readU16(xti, at + 4));
            if (first < 0 || last < 0)
                continue; // the workbook itself, or a sheet deleted before
            auto moved = [&](int tab) { return tab > position ? tab - 1 : tab; };
            int newFirst = moved(first), newLast = last >= position ? last - 1 : last;
            if (first == position && last == position)
                newFirst = newLast = -1;
            else if (newLast < newFirst)
                newFirst = newLast = -1;
            writeU16(xti, at + 2, quint16(qint16(newFirst)));
            writeU16(xti, at + 4, quint16(qint16(newLast)));
        }
    }

    // The sheet's own names go; formulas name the others by position (1-based), so those
    // after a removed one move up, and references to a removed one become #REF!.
    QList<int> removedNames; // 1-based positions
    for (int n = 0; n < names.size(); ++n) {
        const QByteArray &data = records[names[n]].data;
        if (data.size() >= 10 && readU16(data, 8) == position + 1)
            removedNames.append(n + 1);
    }
    struct TokenEdit
    {
        int record;
        qsizetype at;
    };
    QList<TokenEdit> nameTokens;
    if (!removedNames.isEmpty()) {
        for (int i = 0; i < records.size(); ++i) {
            if (i >= own.bof && i <= own.eof)
                continue; // goes with the sheet
            const BiffRecord &record = records[i];
            if (record.type == kName && removedNames.contains(int(names.indexOf(i)) + 1))
                continue;
            if (std::find(std::begin(kUnwalkedFormulas), std::end(kUnwalkedFormulas), record.type)
                != std::end(kUnwalkedFormulas))
                notDeletable(QStringLiteral("record 0x%1 holds formulas").arg(record.type, 4, 16, QLatin1Char('0')));
            if (record.type == kObj && objectHasFormula(record.data))
                notDeletable(QStringLiteral("an object holds a formula"));
            for (const auto &[start, length] : formulasOf(record)) {
                if (start < 0 || start + length > record.data.size() || !record.continuations.isEmpty())
                    notDeletable(QStringLiteral("record 0x%1 not understood").arg(record.type, 4, 16, QLatin1Char('0')));
                for (qsizetype at = start; at < start + length;) {
                    const int size = formulaTokenSize(record.data.constData() + at, start + length - at);
                    if (size < 0)
                        notDeletable(QStringLiteral("unknown formula token 0x%1 in record 0x%2")
                                         .arg(quint8(record.data[at]), 2, 16, QLatin1Char('0'))
                                         .arg(record.type, 4, 16, QLatin1Char('0')));
                    const quint8 base = quint8((quint8(record.data[at]) & 0x1F) | 0x20);
                    if (quint8(record.data[at]) >= 0x20 && base == 0x23)
                        nameTokens.append({i, at});
                    else if (quint8(record.data[at]) >= 0x20 && base == 0x39) {
                        const int ixti = readU16(record.data, at + 1);
                        if (ixti < ownEntry.size() && ownEntry[ixti])
                            nameTokens.append({i, at});
                    }
                    at += size;
                }
            }
        }
    }

    // Nothing is refused from here on.
    for (const TokenEdit &edit : std::as_const(nameTokens)) {
        QByteArray &data = records[edit.record].data;
        const quint8 ptg = quint8(data[edit.at]);
        const bool external = ((ptg & 0x1F) | 0x20) == 0x39;
        const qsizetype indexAt = edit.at + (external ? 3 : 1);
        const int index = readU16(data, indexAt);
        if (removedNames.contains(index)) {
            // PtgName and PtgRefErr, PtgNameX and PtgRefErr3d have the same size.
            data[edit.at] = char((ptg & 0x60) | (external ? 0x1C : 0x0A));
            for (qsizetype k = indexAt; k < edit.at + (external ? 7 : 5); ++k)
                data[k] = 0;
            continue;
        }
        const int before = int(std::count_if(removedNames.cbegin(), removedNames.cend(), [&](int r) { return r < index; }));
        writeU16(data, indexAt, quint16(index - before));
    }
    for (int index : std::as_const(names)) {
        QByteArray &data = records[index].data;
        if (data.size() >= 10 && readU16(data, 8) > position + 1)
            writeU16(data, 8, quint16(readU16(data, 8) - 1));
    }
    if (externSheet >= 0) {
        BiffRecord &record = records[externSheet];
        qsizetype offset = 0;
        record.data = xti.mid(offset, record.data.size());
        offset += record.data.size();
        for (QByteArray &continuation : record.continuations) {
            continuation = xti.mid(offset, continuation.size());
            offset += continuation.size();
        }
    }
    if (selfBookRecord >= 0) {
        QByteArray &data = records[selfBookRecord].data;
        writeU16(data, 0, quint16(std::max(0, readU16(data, 0) - 1)));
    }
    if (tabId >= 0 && records[tabId].data.size() == 2 * m_sheets.size())
        records[tabId].data.remove(2 * position, 2);
    // Formulas that referred to the sheet give new results: the spreadsheet program
    // recalculates a workbook last calculated by an older calculation engine when it loads it.
    if (recalcId >= 0 && records[recalcId].data.size() >= 8)
        writeU32(records[recalcId].data, 4, 0);

    const int window2 = window2Of(position);
    const bool wasSelected = window2 >= 0 && (readU16(records[window2].data, 0) & kSelected);
    QList<int> removed;
    for (int i = own.bof; i <= own.eof; ++i)
        removed.append(i);
    for (int n : std::as_const(removedNames))
        removed.append(names[n - 1]);
    removed.append(m_sheets[position]);
    std::sort(removed.begin(), removed.end(), std::greater<int>());
    for (int index : std::as_const(removed))
        records.removeAt(index);
    m_sheets = m_stream.sheetRecords();
    settleWindows(position, true, wasSelected);
}

} // namespace gm::xls
