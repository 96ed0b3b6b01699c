#include "automation/xlsx/AtomicFile.h"

#include "automation/Durability.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gm::xlsx {

namespace {

EngineError writeError(int error, const QString &what, const QString &path)
{
    return EngineError::fromSystemError(error, ErrorCode::WriteFailed, what, path);
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
    int create(const QString &folder, const QString &extension, mode_t mode)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray path = QFile::encodeName(temporaryPathIn(folder, extension));
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
    const QString realTarget = resolveLinkTarget(target);
    const QFileInfo realInfo(realTarget);
    const QString folder = realInfo.absolutePath();
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
    const QString extension = QLatin1Char('.') + realInfo.suffix();
    if (const int error = temporary.create(folder, extension, exists ? S_IRUSR | S_IWUSR : 0666); error != 0)
        throw writeError(error, QStringLiteral("create"), folder);
    if (const int error = writeAll(temporary.fd(), bytes); error != 0)
        throw writeError(error, QStringLiteral("write"), realTarget);
    if (exists) {
        if (::fchmod(temporary.fd(), original.st_mode & 07777) != 0)
            throw writeError(errno, QStringLiteral("chmod"), realTarget);
        // Keep the owner and group where the system allows it; failing that, the new file
        // belongs to the writer, as any program's save would leave it.
        if (::fchown(temporary.fd(), original.st_uid, original.st_gid) != 0)
            (void)::fchown(temporary.fd(), uid_t(-1), original.st_gid);
    }
    if (!flushFile(temporary.fd()))
        throw writeError(errno, QStringLiteral("fsync"), realTarget);
    if (const int error = temporary.closeFile(); error != 0)
        throw writeError(error, QStringLiteral("close"), realTarget);

    try {
        verify(QFile::decodeName(temporary.path()));
    } catch (const EngineError &error) {
        throw EngineError(ErrorCode::SaveFailed, error.detail());
    }

    checkUnchanged();
    if (::rename(temporary.path().constData(), targetPath.constData()) != 0)
        throw writeError(errno, QStringLiteral("rename"), realTarget);
    temporary.release();
    flushFolder(folder);

    const std::optional<FileStamp> written = FileStamp::of(realTarget);
    if (!written)
        throw EngineError(ErrorCode::SaveFailed, QStringLiteral("%1 vanished after saving").arg(realTarget));
    return *written;
}

} // namespace gm::xlsx
