#pragma once

#include <QString>

namespace gm {

// Path and file-format helpers. Paths use the platform separator ("/" here); positions
// and "last" refer to the rightmost occurrence.

// File name without folder and extension. Throws EngineError(NoBaseName) when the last "."
// does not lie in the file name.
QString GetBaseName(const QString &path);
// Text from the last "." to the end, "." included; the whole path when there is no ".".
QString GetExtension(const QString &path);
// Text up to and including the last separator; "" when there is none.
QString GetParentPath(const QString &path);
// Creates the folder (one level; a missing parent is not created), ignoring every failure,
// and returns it with exactly one trailing separator added when it has none.
QString EnsureFolder(const QString &folder);
// Extension written for a file-format code, "." included; "" for an unknown code.
QString FormatExtension(int code);
// False only when no file or folder of that name exists.
bool FileExists(const QString &path);

} // namespace gm
