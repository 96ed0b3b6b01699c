#include "automation/Preflight.h"

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/ole/CompoundFile.h"
#include "automation/ole/GsfDiagnostics.h"
#include "automation/xls/XlsDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace gm {

namespace {

const QByteArray kOleMagic = QByteArray::fromHex("D0CF11E0A1B11AE1");
const QByteArray kZipMagic = QByteArrayLiteral("PK\x03\x04");

struct GObjectDeleter
{
    void operator()(void *object) const
    {
        if (object)
            g_object_unref(object);
    }
};

// Stream names at the root of a compound file.
bool oleHasStream(const QString &path, const char *name)
{
    // What libgsf says about a damaged file is not for the console; the checks after this one
    // report the file.
    const ole::GsfDiagnostics quiet;
    std::unique_ptr<GsfInput, GObjectDeleter> input(gsf_input_stdio_new(QFile::encodeName(path).constData(), nullptr));
    if (!input)
        return false;
    std::unique_ptr<GsfInfile, GObjectDeleter> ole(gsf_infile_msole_new(input.get(), nullptr));
    if (!ole)
        return false;
    std::unique_ptr<GsfInput, GObjectDeleter> child(gsf_infile_child_by_name(ole.get(), name));
    return child != nullptr;
}

bool isLegacyBiff(const QByteArray &head)
{
    // BOF records of BIFF2, BIFF3, BIFF4 worksheets and BIFF4 workbooks.
    if (head.size() < 4)
        return false;
    const auto b0 = static_cast<unsigned char>(head[0]);
    const auto b1 = static_cast<unsigned char>(head[1]);
    return b0 == 0x09 && (b1 == 0x00 || b1 == 0x02 || b1 == 0x04);
}

} // namespace


QString lockFilePath(const QString &workbook)
{
    const QFileInfo info(workbook);
    return info.absolutePath() + QStringLiteral("/.~lock.") + info.fileName() + QLatin1Char('#');
}

bool isStaleEngineLock(const QString &lockPath)
{
    QFile lock(lockPath);
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    // ",user,host,date,profile;": written on this machine by an engine of ours whose process
    // is gone.
    const QStringList fields = QString::fromUtf8(lock.read(4096)).split(QLatin1Char(','));
    if (fields.size() < 5 || fields.at(2).section(QLatin1Char('.'), 0, 0) != QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0))
        return false;
    static const QRegularExpression own(QStringLiteral("/gridmule-engine-(\\d+)-[0-9a-f]+/profile"));
    const auto match = own.match(fields.at(4));
    if (!match.hasMatch())
        return false;
    const pid_t owner = static_cast<pid_t>(match.captured(1).toLong());
    return owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH;
}

bool workbookInUse(const QString &path)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath() + QLatin1Char('/');
    const QString name = info.fileName();
    if (QFileInfo::exists(dir + QStringLiteral("~$") + name))
        return true;
    const QString lock = lockFilePath(path);
    if (!QFileInfo::exists(lock))
        return false;
    return !(isStaleEngineLock(lock) && QFile::remove(lock));
}

void verifyZipPackage(const QString &path)
{
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("zip_open error %1").arg(error));
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    QString failure;
    for (zip_int64_t i = 0; i < count && failure.isEmpty(); ++i) {
        zip_file_t *file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        if (!file) {
            failure = QString::fromUtf8(zip_strerror(archive));
            break;
        }
        zip_int64_t n = 0;
        while ((n = zip_fread(file, buffer.data(), static_cast<zip_uint64_t>(buffer.size()))) > 0) { }
        if (n < 0)
            failure = QStringLiteral("%1: %2").arg(QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0)),
                QString::fromUtf8(zip_file_strerror(file)));
        zip_fclose(file);
    }
    zip_discard(archive);
    if (!failure.isEmpty())
        throw EngineError(ErrorCode::Damaged, failure);
}

WorkbookKind preflightWorkbook(const QString &path, bool forWriting, bool verifyPackage)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw EngineError(QFileInfo::exists(info.absolutePath()) ? ErrorCode::FileNotFound : ErrorCode::PathNotFound, path);
    if (!info.isFile())
        throw EngineError(ErrorCode::NotAWorkbook, path);
    if (info.size() == 0)
        throw EngineError(ErrorCode::EmptyFile, path);

    QByteArray head(8, '\0');
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw EngineError::fromReadError(errno, QStringLiteral("open"), path);
        const ssize_t n = ::read(fd, head.data(), static_cast<size_t>(head.size()));
        const int error = errno;
        ::close(fd);
        if (n < 0)
            throw EngineError::fromReadError(error, QStringLiteral("read"), path);
        head.truncate(n);
    }

    const QString suffix = info.suffix().toLower();
    WorkbookKind kind;
    if (head.startsWith(kZipMagic)) {
        if (suffix == QStringLiteral("xls"))
            throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("zip package named .xls"));
        kind = WorkbookKind::Xlsx;
    } else if (head == kOleMagic) {
        if (verifyPackage) {
            // The whole container must read: a truncated or cut-short file fails here.
            const ole::CompoundEntry root = ole::CompoundFile::readFile(path);
            if (root.child("EncryptedPackage"))
                throw EngineError(ErrorCode::PasswordRequired, path);
            const bool hasWorkbook = std::any_of(root.children.begin(), root.children.end(), [](const ole::CompoundEntry &e) {
                return !e.isStorage
                    && (qstricmp(e.name.constData(), "Workbook") == 0 || qstricmp(e.name.constData(), "Book") == 0);
            });
            if (!hasWorkbook && suffix == QStringLiteral("xls"))
                throw EngineError(ErrorCode::Damaged, QStringLiteral("no workbook stream"));
        } else if (oleHasStream(path, "EncryptedPackage")) {
            throw EngineError(ErrorCode::PasswordRequired, path);
        }
        if (suffix == QStringLiteral("xlsx") || suffix == QStringLiteral("xlsm"))
            throw EngineError(ErrorCode::NotAWorkbook, QStringLiteral("compound file named .xlsx"));
        kind = WorkbookKind::Xls;
    } else if (isLegacyBiff(head)) {
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("BIFF2-4"));
    } else {
        throw EngineError(ErrorCode::NotAWorkbook, path);
    }

    if (forWriting) {
        if (workbookInUse(path))
            throw EngineError(ErrorCode::InUse, path);
        // A change is saved as a new file beside the workbook that replaces it, so a read-only
        // disk or a folder without write permission fails here, before anything is opened.
        requireWritableFolder(QFileInfo(resolveLinkTarget(path)).absolutePath());
    } else {
        // A reader is refused by a lock that a dead engine of ours left, as a writer is.
        const QString lock = lockFilePath(path);
        if (QFileInfo::exists(lock) && isStaleEngineLock(lock))
            QFile::remove(lock);
    }
    if (kind == WorkbookKind::Xlsx && verifyPackage)
        verifyZipPackage(path);
    // A walk over the records of the workbook stream (no cell is decoded): an encrypted or
    // damaged .xls fails here, whatever is to be done with it.
    if (kind == WorkbookKind::Xls)
        xls::checkWorkbookStream(path, forWriting);
    return kind;
}

} // namespace gm
