#include "automation/xlsx/AtomicFile.h"

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

namespace gm::xlsx {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

ErrorCode codeForCreateError(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorCode::PermissionDenied;
    case ENOENT:
    case ENOTDIR:
        return ErrorCode::PathNotFound;
    default:
        return ErrorCode::WriteFailed;
    }
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile
{
public:
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
    }
    int create(const QByteArray &folder, const QByteArray &fileName, mode_t mode)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray suffix = QByteArray::number(QRandomGenerator::global()->generate(), 36);
            const QByteArray path = folder + "/." + fileName + ".gm" + suffix + ".tmp";
            m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (m_fd >= 0) {
                m_path = path;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }
    int fd() const { return m_fd; }
    const QByteArray &path() const { return m_path; }
    int closeFile()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }
    void release() { m_path.clear(); }

private:
    int m_fd = -1;
    QByteArray m_path;
};

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

} // namespace

FileStamp AtomicFile::replace(const QString &target, const QByteArray &bytes, const std::function<void(const QString &)> &verify,
    const std::optional<FileStamp> &expected)
{
    // Follow a symbolic link, so that the link survives and the file it names is replaced.
    QFileInfo info(target);
    QString realTarget = info.absoluteFilePath();
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        realTarget = resolved.isEmpty() ? QFileInfo(info.symLinkTarget()).absoluteFilePath() : resolved;
    }
    const QFileInfo realInfo(realTarget);
    const QByteArray folder = QFile::encodeName(realInfo.absolutePath());
    const QByteArray fileName = QFile::encodeName(realInfo.fileName());
    const QByteArray targetPath = QFile::encodeName(realTarget);

    struct stat original;
    const bool exists = ::stat(targetPath.constData(), &original) == 0;
    if (exists && !S_ISREG(original.st_mode))
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("%1 is not a regular file").arg(realTarget));
    if (exists && !(original.st_mode & S_IWUSR))
        throw EngineError(ErrorCode::ReadOnlyFile, realTarget);
    auto checkUnchanged = [&] {
        const std::optional<FileStamp> now = expected ? FileStamp::of(realTarget) : std::nullopt;
        if (expected && (!now || !now->isSameVersion(*expected)))
            throw EngineError(ErrorCode::InUse, QStringLiteral("%1 changed since it was opened").arg(realTarget));
    };
    checkUnchanged();

    // A new file gets the usual mode less the umask; an existing one keeps its own bits.
    TemporaryFile temporary;
    if (const int error = temporary.create(folder, fileName, exists ? S_IRUSR | S_IWUSR : 0666); error != 0)
        throw EngineError(codeForCreateError(error), systemError(error));
    if (const int error = writeAll(temporary.fd(), bytes); error != 0)
        throw EngineError(ErrorCode::WriteFailed, systemError(error));
    if (exists) {
        if (::fchmod(temporary.fd(), original.st_mode & 07777) != 0)
            throw EngineError(ErrorCode::WriteFailed, QStringLiteral("chmod: ") + systemError(errno));
        // Keep the owner and group where the system allows it; failing that, the new file
        // belongs to the writer, as any program's save would leave it.
        if (::fchown(temporary.fd(), original.st_uid, original.st_gid) != 0)
            (void)::fchown(temporary.fd(), uid_t(-1), original.st_gid);
    }
    if (!flushFile(temporary.fd()))
        throw EngineError(ErrorCode::WriteFailed, QStringLiteral("fsync: ") + systemError(errno));
    if (const int error = temporary.closeFile(); error != 0)
        throw EngineError(ErrorCode::WriteFailed, systemError(error));

    try {
        verify(QFile::decodeName(temporary.path()));
    } catch (const EngineError &error) {
        throw EngineError(ErrorCode::SaveFailed, error.detail());
    }

    checkUnchanged();
    if (::rename(temporary.path().constData(), targetPath.constData()) != 0) {
        const int error = errno;
        throw EngineError(
            error == EACCES || error == EPERM ? ErrorCode::PermissionDenied : ErrorCode::WriteFailed, systemError(error));
    }
    temporary.release();
    flushFolder(QFile::decodeName(folder));

    const std::optional<FileStamp> written = FileStamp::of(realTarget);
    if (!written)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("%1 vanished after saving").arg(realTarget));
    return *written;
}

} // namespace gm::xlsx
