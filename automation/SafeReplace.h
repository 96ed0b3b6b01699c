#pragma once

#include <QString>

namespace gm {

// A name for a temporary file beside `target` (same folder, so the final rename is atomic).
// The name starts with ".~gridmule" so that folder imports never list it.
QString temporarySiblingPath(const QString &target, const QString &extension);

// Replaces `target` by the complete file `temporary`: flushes it to disk, gives it the
// permission bits of the file it replaces (when there is one), renames it over the target
// and flushes the folder. On failure the temporary file is removed, the target is untouched
// and EngineError(WriteFailed) is thrown.
void replaceWithTemporary(const QString &temporary, const QString &target);

// The owner may write the file (the read-only attribute is not set).
bool isOwnerWritable(const QString &path);
// Adds the owner's write permission and changes nothing else.
bool makeOwnerWritable(const QString &path);

} // namespace gm
