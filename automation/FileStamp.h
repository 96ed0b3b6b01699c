#pragma once

#include <QString>

#include <optional>

namespace gm {

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
        return device == other.device && inode == other.inode && size == other.size && mtimeSeconds == other.mtimeSeconds
            && mtimeNanoseconds == other.mtimeNanoseconds;
    }
    // The stamp of the file (symbolic links followed); nullopt when it does not exist.
    static std::optional<FileStamp> of(const QString &path);
};

} // namespace gm
