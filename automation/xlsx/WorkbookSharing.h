#pragma once

#include <QDateTime>
#include <QString>

namespace gm::xlsx {

class PackageDocument;

// Legacy workbook sharing of a package. A workbook is shared exactly when its workbook part
// has a relationship to a user-names part; the change history (revision headers and logs)
// goes with it.

bool isShared(PackageDocument &document);

// Adds the structure of a freshly shared workbook without changes: user names (empty),
// revision headers with one header that names every sheet and points to an empty revision
// log, their relationships and content types. Refuses with CannotShare a workbook holding
// tables or XML maps, which cannot be shared. Returns false when it already is shared.
bool share(PackageDocument &document, const QString &userName, const QDateTime &when);

// Removes the user names, the revision headers and every revision log with their
// relationships and content types. Refuses with SharingProtected a workbook whose sharing is
// protected (lockRevision). Returns false when it was not shared.
bool unshare(PackageDocument &document);

} // namespace gm::xlsx
