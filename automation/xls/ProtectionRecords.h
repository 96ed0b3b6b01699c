#pragma once

#include "automation/Protection.h"
#include "automation/xls/BiffRecordStream.h"

namespace gm::xls {

// Protection as a workbook stream stores it. Workbook: WINDOWPROTECT, PROTECT and PASSWORD in
// the globals. Worksheet: PROTECT, SCENPROTECT, OBJPROTECT and PASSWORD in the sheet's own
// substream (PASSWORD only when there is a password), plus the protection feature header
// (FEATHEADR) whose flags say which actions stay allowed. Passwords are stored as the 16-bit
// verifier. Missing records are inserted where Excel writes them; existing protection is
// replaced only when it has no password or the given one opens it, otherwise
// ProtectedWithOtherPassword is thrown before anything changes.
class ProtectionRecords
{
public:
    explicit ProtectionRecords(BiffRecordStream &stream);

    // Each returns whether a record changed.
    bool protectWorkbook(const ProtectionPassword &password, bool structure, bool windows);
    bool protectSheet(int sheetPosition, const ProtectionPassword &password, SheetPermissions allowed);

    // The FEATHEADR flags for a protected sheet allowing those actions (1 = allowed), with
    // the selection bits given.
    static quint32 enhancedProtectionFlags(SheetPermissions allowed, quint32 selection);

private:
    BiffRecordStream &m_stream;
};

} // namespace gm::xls
