#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

namespace gm {

class EngineError;

// The file a path names, as an absolute path: a symbolic link (or a chain of them) is
// followed, so that a change lands in the file it points to and the link itself stays.
QString resolveLinkTarget(const QString &path);

// A name for a temporary file (or folder) beside `target` (same folder as the file a link
// points to, so that the final rename is atomic):
// ".~gridmule-<process id>-<machine tag>-<random><extension>". The name starts with
// ".~gridmule" so that folder imports never list it, and names its owner (process and
// machine, as folders may be shared) so that a later run can tell and remove what a dead run
// left. The name is remembered until replaceWithTemporary uses it or
// removeOutstandingTemporaries removes it.
QString temporarySiblingPath(const QString &target, const QString &extension);
// The start of the names of the temporary files of process `pid` on this machine.
QString temporaryPrefixFor(qint64 pid);
// The same name in a given folder, not remembered (for writers that remove their own file).
QString temporaryPathIn(const QString &folder, const QString &extension);
// A QTemporaryDir template for a scratch folder of this process in the system's temporary
// folder, named like the temporaries above so that a later run removes it when this process
// dies before it can ("purpose" tells the folders apart when one is looked at by hand).
QString scratchFolderTemplate(const QString &purpose);

// Replaces `target` by the complete file `temporary`: flushes it to disk, gives it the
// permission bits of the file it replaces (when there is one), renames it over the target
// (the file a link points to) and flushes the folder. On failure the temporary file is
// removed, the target is untouched and EngineError is thrown with the cause (read-only disk,
// no permission on the folder, full disk, else WriteFailed).
void replaceWithTemporary(const QString &temporary, const QString &target);

// Writes a whole new file; on failure the partial file is removed and the cause thrown.
void writeNewFile(const QString &path, const QByteArray &bytes);
// Copies the content of `source` into the new file `destination`. A failure to read the
// source is told apart from a failure to write; a partial destination is removed.
void copyToNewFile(const QString &source, const QString &destination);

// Throws the cause when new files cannot be made in the folder: ReadOnlyFileSystem,
// FolderNotWritable, PathNotFound.
void requireWritableFolder(const QString &folder);

// A write or save that failed in a folder that takes no new files is reported with that
// cause, and in a folder whose disk has less room left than `needed` bytes (at least 1 MiB)
// as a full disk, whatever the writer said; any other error is returned as it is. Writers
// that do not pass the system's error on (the engine) need this.
EngineError explainWriteFailure(const EngineError &error, const QString &folder, qint64 needed);

// Removes the temporary files and folders named by temporarySiblingPath in this thread that
// were not renamed into place, with any lock file an engine left for them. Called when a
// file's processing ends, however it ended.
void removeOutstandingTemporaries();

// Removes what runs of this program that are no longer running left in a folder: temporary
// files and folders whose owner process is dead, and the lock files beside them; where such a
// lock file was found, also the engine's own temporaries ("lu*.tmp") that no process holds
// open, which a killed engine leaves while storing. Returns the number of entries removed.
int sweepLeftovers(const QString &folder);

// The files among `paths` (as canonical paths) that some process holds open. Several engines
// may store into one folder at once, and a "lu*.tmp" that another engine is still writing must
// not be taken away.
QSet<QString> heldOpen(const QStringList &paths);

// The whole content of a file. Throws EngineError: FileNotFound or PathNotFound, NotAWorkbook
// (not a regular file), PermissionDenied (cannot be opened or read).
QByteArray readWholeFile(const QString &path);

// The owner may write the file (the read-only attribute is not set).
bool isOwnerWritable(const QString &path);
// Adds the owner's write permission and changes nothing else.
bool makeOwnerWritable(const QString &path);

} // namespace gm
