#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace gm::xlsx {

// What identifies one version of a file on disk: a writer that replaces or rewrites it
// changes at least one of these.
struct FileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeSeconds = 0;
    qint64 mtimeNanoseconds = 0;
    unsigned mode = 0; // permission bits

    // Same file, same content version; permission changes do not count.
    bool isSameVersion(const FileStamp &other) const
    {
        return device == other.device && inode == other.inode && size == other.size
            && mtimeSeconds == other.mtimeSeconds && mtimeNanoseconds == other.mtimeNanoseconds;
    }
    // The stamp of the file (symbolic links followed); nullopt when it does not exist.
    static std::optional<FileStamp> of(const QString &path);
};

// Replaces a file by a complete, checked new version. The bytes go to a temporary file in
// the target's own folder (a symbolic link is followed, so the link stays and its target is
// replaced), which is flushed to disk, given the original's permission bits, checked by the
// caller, and only then renamed over the target. On any failure the temporary file is
// removed and the target is left as it was.
class AtomicFile
{
public:
    // Throws EngineError: ReadOnlyFile when the owner may not write the existing target,
    // PermissionDenied or PathNotFound when the folder refuses the temporary file,
    // WriteFailed when writing fails, InUse when the target no longer matches `expected`
    // (another program changed it), and SaveFailed when `verify` throws. Returns the stamp
    // of the new file.
    static FileStamp replace(const QString &target, const QByteArray &bytes,
                             const std::function<void(const QString &temporaryPath)> &verify,
                             const std::optional<FileStamp> &expected);
};

} // namespace gm::xlsx
