#include "automation/xls/ProtectionRecords.h"

#include "automation/EngineError.h"
#include "automation/xls/SheetPageRecords.h"

#include <algorithm>
#include <array>

namespace gm::xls {

namespace {

constexpr quint16 kWindowProtect = 0x0019;
constexpr quint16 kPassword = 0x0013;
constexpr quint16 kScenProtect = 0x00DD;
constexpr quint16 kObjProtect = 0x0063;
constexpr quint16 kFeatHeader = 0x0867;
constexpr quint16 kProtectionFeature = 2; // FEATHEADR isf of sheet protection
constexpr quint32 kSelectionAllowed = 0x0400 | 0x4000; // locked and unlocked cells

// The EnhancedProtection bit of each permission, in SheetPermission order.
constexpr std::array<quint32, kSheetPermissionCount> permissionBits{
    0x0004, 0x0008, 0x0010, 0x0020, 0x0040, 0x0080, 0x0100, 0x0200, 0x0800, 0x1000, 0x2000};

// Globals records that come after each protection record, where Excel writes them: the
// rest of the protection block, WINDOW1, then the records that follow it.
const QList<quint16> kAfterGlobalsBlock{0x01AF, 0x01BC, 0x003D, 0x0040, 0x008D, 0x0022, 0x000E, 0x01B7, 0x00DA,
    0x0031, 0x041E, 0x00E0, 0x0293, 0x0085};
// Sheet records that follow the protection block: columns, scenarios, sort and filter, the
// dimensions and the cells.
const QList<quint16> kAfterSheetBlock{0x0055, 0x007D, 0x00AE, 0x0090, 0x009D, 0x009E, 0x0200, 0x0208};
// Sheet records that follow the protection feature header: the other shared features.
const QList<quint16> kAfterFeatureHeader{0x0868, 0x0871, 0x0872, 0x0878};

QByteArray u16Payload(quint16 value)
{
    QByteArray data(2, '\0');
    writeU16(data, 0, value);
    return data;
}

quint16 valueOf(const BiffRecord &record)
{
    return record.data.size() >= 2 ? readU16(record.data, 0) : 0;
}

QByteArray featureHeader(quint32 flags)
{
    QByteArray data = QByteArray::fromHex("670800000000000000000000" "0200" "01" "FFFFFFFF" "00000000");
    writeU32(data, 19, flags);
    return data;
}

// Sets a one-value record, returns whether it changed.
bool setValue(BiffRecord &record, quint16 value)
{
    const QByteArray wanted = u16Payload(value);
    if (record.data == wanted && record.continuations.isEmpty())
        return false;
    record.data = wanted;
    record.continuations.clear();
    return true;
}

} // namespace

ProtectionRecords::ProtectionRecords(BiffRecordStream &stream) : m_stream(stream) { }

quint32 ProtectionRecords::enhancedProtectionFlags(SheetPermissions allowed, quint32 selection)
{
    quint32 flags = selection & kSelectionAllowed;
    for (int i = 0; i < kSheetPermissionCount; ++i) {
        if (allowed.allows(SheetPermission(i)))
            flags |= permissionBits[size_t(i)];
    }
    return flags;
}

bool ProtectionRecords::protectWorkbook(const ProtectionPassword &password, bool structure, bool windows)
{
    QList<BiffRecord> &records = m_stream.records();
    auto find = [&](quint16 type) {
        const int end = m_stream.globalsEnd();
        for (int i = 1; i < end; ++i) {
            if (records[i].type == type)
                return i;
        }
        return -1;
    };
    const int windowProtect = find(kWindowProtect);
    const int protect = find(kProtect);
    const int passwordRecord = find(kPassword);
    const bool locked = (windowProtect >= 0 && valueOf(records[windowProtect]) != 0)
        || (protect >= 0 && valueOf(records[protect]) != 0);
    const quint16 stored = passwordRecord >= 0 ? valueOf(records[passwordRecord]) : 0;
    if (locked && stored != 0 && (password.isEmpty() || !password.matchesLegacy(stored)))
        throw EngineError(ErrorCode::ProtectedWithOtherPassword, QStringLiteral("workbook"));

    bool changed = false;
    // The block is WINDOWPROTECT PROTECT PASSWORD; each missing record goes before the first
    // record that follows it there.
    const std::array<std::pair<quint16, quint16>, 3> block{
        {{kWindowProtect, quint16(windows ? 1 : 0)}, {kProtect, quint16(structure ? 1 : 0)},
            {kPassword, password.legacyVerifier()}}};
    for (size_t k = 0; k < block.size(); ++k) {
        const auto [type, value] = block[k];
        const int at = find(type);
        if (at >= 0) {
            changed = setValue(records[at], value) || changed;
            continue;
        }
        QList<quint16> following = kAfterGlobalsBlock;
        for (size_t later = k + 1; later < block.size(); ++later)
            following.prepend(block[later].first);
        int insertAt = m_stream.globalsEnd();
        for (int i = 1; i < m_stream.globalsEnd(); ++i) {
            if (following.contains(records[i].type)) {
                insertAt = i;
                break;
            }
        }
        records.insert(insertAt, BiffRecord{type, u16Payload(value), {}, 0});
        changed = true;
    }
    return changed;
}

bool ProtectionRecords::protectSheet(int sheetPosition, const ProtectionPassword &password, SheetPermissions allowed)
{
    SheetPageRecords sheet(m_stream, sheetPosition);
    QList<BiffRecord> &records = m_stream.records();
    const int protect = sheet.find(kProtect);
    const int passwordRecord = sheet.find(kPassword);
    const quint16 stored = passwordRecord >= 0 ? valueOf(records[passwordRecord]) : 0;
    const bool wasProtected = protect >= 0 && valueOf(records[protect]) != 0;
    if (wasProtected && stored != 0 && (password.isEmpty() || !password.matchesLegacy(stored)))
        throw EngineError(ErrorCode::ProtectedWithOtherPassword, QStringLiteral("sheet %1").arg(sheetPosition + 1));

    bool changed = false;
    // PROTECT SCENPROTECT OBJPROTECT [PASSWORD], in that order.
    const std::array<quint16, 4> block{kProtect, kScenProtect, kObjProtect, kPassword};
    for (size_t k = 0; k < block.size(); ++k) {
        const quint16 type = block[k];
        const quint16 value = type == kPassword ? password.legacyVerifier() : quint16(1);
        const int at = sheet.find(type);
        if (type == kPassword && password.isEmpty()) {
            if (at >= 0) {
                records.removeAt(at);
                changed = true;
            }
            continue;
        }
        if (at >= 0) {
            changed = setValue(records[at], value) || changed;
            continue;
        }
        int previous = -1;
        for (size_t before = 0; before < k; ++before)
            previous = std::max(previous, sheet.find(block[before]));
        if (previous >= 0)
            records.insert(previous + 1, BiffRecord{type, u16Payload(value), {}, 0});
        else
            sheet.insertBefore(kAfterSheetBlock, BiffRecord{type, u16Payload(value), {}, 0});
        changed = true;
    }

    int header = -1;
    for (int i : sheet.ownRecords()) {
        const BiffRecord &record = records[i];
        if (record.type == kFeatHeader && record.data.size() >= 14 && readU16(record.data, 12) == kProtectionFeature) {
            header = i;
            break;
        }
    }
    if (header >= 0) {
        BiffRecord &record = records[header];
        // The selection rules of a protected sheet stay; an unprotected sheet's flags mean
        // nothing (some writers leave them all clear), so selection is allowed there.
        const quint32 selection
            = wasProtected && record.data.size() >= 23 ? readU32(record.data, 19) : kSelectionAllowed;
        const QByteArray wanted = featureHeader(enhancedProtectionFlags(allowed, selection));
        if (record.data != wanted || !record.continuations.isEmpty()) {
            record.data = wanted;
            record.continuations.clear();
            changed = true;
        }
    } else {
        sheet.insertBefore(kAfterFeatureHeader,
            BiffRecord{kFeatHeader, featureHeader(enhancedProtectionFlags(allowed, kSelectionAllowed)), {}, 0});
        changed = true;
    }
    return changed;
}

} // namespace gm::xls
