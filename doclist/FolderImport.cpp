#include "doclist/FolderImport.h"

#include "doclist/DocumentListModel.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace gm {

namespace {

// Every entry that is not a folder: normal, hidden, read-only and system files alike.
const QDir::Filters kFileFilter = QDir::Files | QDir::Hidden | QDir::System;
const QDir::Filters kFolderFilter = QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

void listFiles(const QString &folder, bool xlsxAvailable, const std::function<void(const QString &)> &found)
{
    QDirIterator it(folder, kFileFilter);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (isWorkbookFileName(name, xlsxAvailable))
            found(folder + name);
    }
}

void scan(const QString &folder, bool xlsxAvailable, const std::function<void(const QString &)> &found,
          QSet<QString> &visited)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || visited.contains(canonical))
        return;
    visited.insert(canonical);

    // The folder's own files first; its sub-folders only after the listing has ended.
    listFiles(folder, xlsxAvailable, found);
    QStringList subfolders;
    QDirIterator it(folder, kFolderFilter);
    while (it.hasNext()) {
        it.next();
        subfolders.append(folder + it.fileName() + u'/');
    }
    for (const QString &subfolder : std::as_const(subfolders))
        scan(subfolder, xlsxAvailable, found, visited);
}

} // namespace

QString withTrailingSeparator(const QString &folder)
{
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

void ScanFolder(const QString &folder, bool xlsxAvailable, const std::function<void(const QString &)> &found)
{
    QSet<QString> visited;
    scan(withTrailingSeparator(folder), xlsxAvailable, found, visited);
}

int importFolder(DocumentListModel &list, const QString &folder, bool includeSubfolders, bool xlsxAvailable,
                 const std::function<void()> &afterEach)
{
    int added = 0;
    auto add = [&](const QString &path) {
        if (list.appendUnique(path)) {
            ++added;
            if (afterEach)
                afterEach();
        }
    };
    if (includeSubfolders)
        ScanFolder(folder, xlsxAvailable, add);
    else
        listFiles(withTrailingSeparator(folder), xlsxAvailable, add);
    return added;
}

} // namespace gm
