#pragma once

#include "automation/FileStamp.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace gm::xlsx {

using gm::FileStamp;

// Replaces a file by a complete, checked new version. The bytes go to a temporary file in
// the target's own folder (a symbolic link is followed, so the link stays and its target is
// replaced), which is flushed to disk, given the original's permission bits, checked by the
// caller, and only then renamed over the target. On any failure the temporary file is
// removed and the target is left as it was.
class AtomicFile
{
public:
    // Throws EngineError: ReadOnlyFile when the owner may not write the existing target;
    // ReadOnlyFileSystem, FolderNotWritable, DiskFull or PathNotFound when the folder refuses
    // or cannot hold the temporary file; WriteFailed when writing fails otherwise; InUse
    // when the target no longer matches `expected` (another program changed it); SaveFailed
    // when `verify` throws. Returns the stamp of the new file.
    static FileStamp replace(const QString &target, const QByteArray &bytes,
        const std::function<void(const QString &temporaryPath)> &verify, const std::optional<FileStamp> &expected);
};

} // namespace gm::xlsx
