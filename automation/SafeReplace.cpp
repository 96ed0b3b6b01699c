#include "automation/SafeReplace.h"

#include "automation/Durability.h"
#include "automation/EngineError.h"
#include "automation/Preflight.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace gm {

namespace {

const QString kTemporaryPrefix = QStringLiteral(".~gridmule-");

// Temporaries named by this thread and not yet renamed into place. Kept per thread, so that
// a run's worker that ends a file removes its own and never one another worker is writing.
thread_local QStringList t_outstanding;

void forget(const QString &temporary)
{
    t_outstanding.removeAll(temporary);
}

bool flushPath(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = flushFile(fd);
    ::close(fd);
    return ok;
}

int writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= n;
    }
    return 0;
}

// Removes a temporary entry (a file, or a folder with its content) and the lock file an
// engine may have written for it.
void removeTemporaryEntry(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
    QFile::remove(lockFilePath(path));
}

// Tells this machine's temporary files from those of another machine writing to the same
// shared folder, whose processes cannot be looked up from here.
const QString &machineTag()
{
    static const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(QSysInfo::machineHostName().toUtf8() + QSysInfo::machineUniqueId(), QCryptographicHash::Sha1)
            .toHex()
            .left(8));
    return tag;
}

bool processIsGone(qint64 pid)
{
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

QString resolveLinkTarget(const QString &path)
{
    QFileInfo info(path);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // A link to a file that does not exist yet: follow it one link at a time.
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info = QFileInfo(info.symLinkTarget());
    return info.absoluteFilePath();
}

QString temporaryPrefixFor(qint64 pid)
{
    return kTemporaryPrefix + QStringLiteral("%1-%2-").arg(pid).arg(machineTag());
}

QString temporaryPathIn(const QString &folder, const QString &extension)
{
    return folder + QLatin1Char('/') + temporaryPrefixFor(::getpid())
        + QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')) + extension;
}

QString scratchFolderTemplate(const QString &purpose)
{
    return QDir::tempPath() + QLatin1Char('/') + temporaryPrefixFor(::getpid()) + purpose + QStringLiteral("-XXXXXX");
}

QString temporarySiblingPath(const QString &target, const QString &extension)
{
    const QString temporary = temporaryPathIn(QFileInfo(resolveLinkTarget(target)).absolutePath(), extension);
    t_outstanding.append(temporary);
    return temporary;
}

void replaceWithTemporary(const QString &temporary, const QString &target)
{
    const QString realTarget = resolveLinkTarget(target);
    const QByteArray tmp = QFile::encodeName(temporary);
    const QByteArray dst = QFile::encodeName(realTarget);
    forget(temporary);
    auto fail = [&](const QString &what) {
        const int error = errno;
        ::unlink(tmp.constData());
        QFile::remove(lockFilePath(temporary));
        throw EngineError::fromSystemError(error, ErrorCode::WriteFailed, what, realTarget);
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
    QFile::remove(lockFilePath(temporary));
    flushFolder(QFileInfo(realTarget).absolutePath());
}

void writeNewFile(const QString &path, const QByteArray &bytes)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw EngineError::fromSystemError(errno, ErrorCode::WriteFailed, QStringLiteral("create"), path);
    int error = writeAll(fd, bytes.constData(), bytes.size());
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(name.constData());
        throw EngineError::fromSystemError(error, ErrorCode::WriteFailed, QStringLiteral("write"), path);
    }
}

void copyToNewFile(const QString &source, const QString &destination)
{
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw EngineError::fromReadError(errno, QStringLiteral("open"), source);
    const QByteArray name = QFile::encodeName(destination);
    const int out = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        throw EngineError::fromSystemError(error, ErrorCode::WriteFailed, QStringLiteral("create"), destination);
    }
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    int readError = 0;
    int writeError = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        if (n <= 0)
            break;
        if ((writeError = writeAll(out, buffer.constData(), n)) != 0)
            break;
    }
    ::close(in);
    if (::close(out) != 0 && writeError == 0)
        writeError = errno;
    if (readError == 0 && writeError == 0)
        return;
    ::unlink(name.constData());
    if (readError != 0)
        throw EngineError::fromReadError(readError, QStringLiteral("read"), source);
    throw EngineError::fromSystemError(writeError, ErrorCode::WriteFailed, QStringLiteral("write"), destination);
}

void requireWritableFolder(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        throw EngineError::fromSystemError(errno, ErrorCode::WriteFailed, QStringLiteral("access"), folder);
}

EngineError explainWriteFailure(const EngineError &error, const QString &folder, qint64 needed)
{
    if (error.code() != ErrorCode::WriteFailed && error.code() != ErrorCode::SaveFailed)
        return error;
    try {
        requireWritableFolder(folder);
    } catch (const EngineError &cause) {
        return EngineError(cause.code(), error.detail());
    }
    struct statvfs disk
    {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &disk) != 0)
        return error;
    const qint64 available = static_cast<qint64>(disk.f_bavail) * static_cast<qint64>(disk.f_frsize);
    if (available < std::max<qint64>(needed, 1024 * 1024))
        return EngineError(ErrorCode::DiskFull, error.detail());
    return error;
}

void removeOutstandingTemporaries()
{
    QStringList outstanding;
    outstanding.swap(t_outstanding);
    for (const QString &path : std::as_const(outstanding))
        removeTemporaryEntry(path);
}

int sweepLeftovers(const QString &folder)
{
    static const QRegularExpression temporary(QStringLiteral("^\\.~gridmule-(\\d+)-([0-9a-f]{8})-"));
    static const QRegularExpression lock(QStringLiteral("^\\.~lock\\.\\.~gridmule-(\\d+)-([0-9a-f]{8})-.*#$"));
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return 0;
    int removed = 0;
    bool staleLock = false;
    const QStringList names = dir.entryList({kTemporaryPrefix + QLatin1Char('*'), QStringLiteral(".~lock.*#")},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        auto match = temporary.match(name);
        if (!match.hasMatch())
            match = lock.match(name);
        // An engine of ours that lost its program leaves the lock of a workbook it had open.
        if (!match.hasMatch() && name.startsWith(QStringLiteral(".~lock.")) && isStaleEngineLock(dir.filePath(name))) {
            if (QFile::remove(dir.filePath(name)))
                ++removed;
            staleLock = true;
            continue;
        }
        if (!match.hasMatch() || match.captured(2) != machineTag() || !processIsGone(match.captured(1).toLongLong()))
            continue;
        const QString path = dir.filePath(name);
        if (name.startsWith(kTemporaryPrefix))
            removeTemporaryEntry(path);
        else
            QFile::remove(path);
        ++removed;
        staleLock = staleLock || !name.startsWith(kTemporaryPrefix);
    }
    if (staleLock) {
        QStringList engineTemporaries;
        for (const QString &name : dir.entryList({QStringLiteral("lu*.tmp")}, QDir::Files | QDir::Hidden))
            engineTemporaries << dir.filePath(name);
        const QSet<QString> inUse = heldOpen(engineTemporaries);
        for (const QString &path : std::as_const(engineTemporaries)) {
            if (!inUse.contains(QFileInfo(path).canonicalFilePath()) && QFile::remove(path))
                ++removed;
        }
    }
    return removed;
}

QSet<QString> heldOpen(const QStringList &paths)
{
    QSet<QString> held;
    if (paths.isEmpty())
        return held;
    QSet<QString> wanted;
    for (const QString &path : paths)
        wanted.insert(QFileInfo(path).canonicalFilePath());
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        if (pid.isEmpty() || !pid.front().isDigit())
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QFileInfo &fd : QDir(fds).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget();
            if (wanted.contains(target))
                held.insert(target);
        }
    }
    return held;
}

QByteArray readWholeFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw EngineError(QFileInfo::exists(info.absolutePath()) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound, path);
    if (!info.isFile())
        throw EngineError(ErrorCode::NotAWorkbook, path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(ErrorCode::PermissionDenied, path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EngineError(ErrorCode::PermissionDenied, path + QStringLiteral(": ") + file.errorString());
    return bytes;
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
