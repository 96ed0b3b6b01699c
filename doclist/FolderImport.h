#pragma once

// Adding every workbook file of a folder, and optionally of all its sub-folders, to the
// document list. Hidden and read-only files are found like any other.

#include <QString>

#include <functional>

namespace gm {

class DocumentListModel;

// The folder with one trailing separator.
QString withTrailingSeparator(const QString &folder);

// Calls found with the path of every workbook file of folder, in directory order, then
// descends into its sub-folders in the order they were met. Unreadable folders contribute
// nothing; a folder reached twice through links is scanned once.
void ScanFolder(const QString &folder, bool xlsxAvailable, const std::function<void(const QString &)> &found);

// Appends the workbook files of folder (and of its sub-folders when asked) that are not
// listed yet. afterEach runs after every appended entry, so the list can be repainted as it
// grows. Returns the number of entries appended.
int importFolder(DocumentListModel &list, const QString &folder, bool includeSubfolders, bool xlsxAvailable,
                 const std::function<void()> &afterEach = {});

} // namespace gm
