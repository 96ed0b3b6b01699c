#include "automation/FileStamp.h"

#include <QFile>

#include <sys/stat.h>

namespace gm {

std::optional<FileStamp> FileStamp::of(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    FileStamp stamp;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.mtimeSeconds = qint64(st.st_mtim.tv_sec);
    stamp.mtimeNanoseconds = qint64(st.st_mtim.tv_nsec);
    stamp.mode = unsigned(st.st_mode & 07777);
    return stamp;
}

} // namespace gm
