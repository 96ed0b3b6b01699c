#include "automation/SafeReplace.h"

#include "automation/Durability.h"
#include "automation/EngineError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gm {

namespace {

bool flushPath(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = flushFile(fd);
    ::close(fd);
    return ok;
}

} // namespace

QString temporarySiblingPath(const QString &target, const QString &extension)
{
    const QFileInfo info(target);
    return info.absolutePath()
        + QStringLiteral("/.~gridmule-%1%2")
              .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
              .arg(extension);
}

void replaceWithTemporary(const QString &temporary, const QString &target)
{
    const QByteArray tmp = QFile::encodeName(temporary);
    const QByteArray dst = QFile::encodeName(target);
    auto fail = [&](const QString &what) {
        const int err = errno;
        ::unlink(tmp.constData());
        throw EngineError(ErrorCode::WriteFailed, what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)));
    };
    if (!flushPath(tmp))
        fail(QStringLiteral("fsync"));
    struct stat original
    {
    };
    if (::stat(dst.constData(), &original) == 0) {
        if (::chmod(tmp.constData(), original.st_mode & 07777) != 0)
            fail(QStringLiteral("chmod"));
        // Keep the owner when we may (running as root on a user's file).
        if (::geteuid() == 0) [[maybe_unused]]
            int ignored = ::chown(tmp.constData(), original.st_uid, original.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(tmp.constData(), 0666 & ~mask);
    }
    if (::rename(tmp.constData(), dst.constData()) != 0)
        fail(QStringLiteral("rename"));
    flushFolder(QFileInfo(target).absolutePath());
}

bool isOwnerWritable(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & S_IWUSR) != 0;
}

bool makeOwnerWritable(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0)
        return false;
    return ::chmod(name.constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

} // namespace gm
