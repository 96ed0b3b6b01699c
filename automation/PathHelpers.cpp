#include "automation/PathHelpers.h"

#include "automation/EngineError.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace gm {

namespace {

constexpr QChar kSeparator = u'/';
constexpr QChar kDot = u'.';

} // namespace

QString GetBaseName(const QString &path)
{
    const qsizetype separator = path.lastIndexOf(kSeparator); // -1 when there is none
    const qsizetype dot = path.lastIndexOf(kDot);
    if (dot <= separator)
        throw EngineError(ErrorCode::NoBaseName, path);
    return path.mid(separator + 1, dot - separator - 1);
}

QString GetExtension(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(kDot);
    if (dot < 0)
        return path;
    return path.mid(dot);
}

QString GetParentPath(const QString &path)
{
    const qsizetype separator = path.lastIndexOf(kSeparator);
    if (separator < 0)
        return QString();
    return path.left(separator + 1);
}

QString EnsureFolder(const QString &folder)
{
    // One level only: a folder whose parent is missing stays missing, and an existing
    // folder is not an error. The caller finds out when it writes into the folder.
    if (!folder.isEmpty())
        QDir().mkdir(folder);
    if (folder.endsWith(kSeparator))
        return folder;
    return folder + kSeparator;
}

QString FormatExtension(int code)
{
    switch (code) {
    case 44:
        return QStringLiteral(".htm"); // web page
    case 45:
        return QStringLiteral(".mht"); // single-file web page
    case 6:
        return QStringLiteral(".csv"); // comma-separated text
    case -4158:
        return QStringLiteral(".txt"); // tab-separated text
    case 51:
        return QStringLiteral(".xlsx"); // Excel 2007 workbook
    case -4143:
        return QStringLiteral(".xls"); // Excel 97-2003 workbook
    default:
        return QString();
    }
}

bool FileExists(const QString &path)
{
    // The answer is "no" only when the system says so: the entry is missing, or a folder on
    // the way to it is missing or is not a folder. When the entry's existence cannot be
    // determined (no permission to search a folder, a name too long, a loop of links) the
    // answer is "yes", so that a caller about to replace the file asks first and a caller
    // about to read it gets a clear error when it opens it. The entry itself is looked at,
    // not the target of a link: a dangling link is still a name that exists.
    if (path.isEmpty())
        return false;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(QFileInfo(path).filesystemFilePath(), error);
    // not_found covers both a missing entry and a missing (or non-folder) parent.
    return status.type() != std::filesystem::file_type::not_found;
}

} // namespace gm
