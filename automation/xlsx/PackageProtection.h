#pragma once

#include "automation/Protection.h"

namespace gm::xlsx {

class PackageDocument;
class SplicedXmlPart;

// Protection as a package stores it: <workbookProtection> in the workbook part and
// <sheetProtection> in a worksheet part, each with the password in the SHA-512 form. The
// flags of the sheet element say what is locked, so an allowed action is written "0".
// Existing protection is replaced only when it has no password or the given one opens it;
// otherwise ProtectedWithOtherPassword is thrown and nothing changes.

// Returns whether the workbook part changed. Protection of a shared workbook's change
// history (lockRevision and its password) is kept as it is.
bool protectWorkbook(PackageDocument &document, const ProtectionPassword &password, bool structure, bool windows);

// Returns whether the sheet part changed. The sheet's cell selection rules are kept.
bool protectSheet(SplicedXmlPart &sheet, const ProtectionPassword &password, SheetPermissions allowed);


} // namespace gm::xlsx
