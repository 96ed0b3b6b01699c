#include "automation/lo/EngineProcess.h"

#include "automation/EngineError.h"
#include "automation/Interruption.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace gm::lo {

namespace {

const QString kFolderPrefix = QStringLiteral("gridmule-engine-");

// Windows fonts that workbooks name, mapped to installed fonts with the same metrics or
// script coverage, so that font names survive a save and output renders with real glyphs.
struct FontAlias
{
    const char *family;
    const char *substitutes;
};
const FontAlias kFontAliases[] = {
    {"宋体", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"SimSun", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"新宋体", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"NSimSun", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"等线", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"DengXian", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"微软雅黑", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"Microsoft YaHei", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"黑体", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"SimHei", "Noto Sans CJK SC;WenQuanYi Micro Hei"},
    {"楷体", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"KaiTi", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"楷体_GB2312", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"仿宋", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"FangSong", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"仿宋_GB2312", "Noto Serif CJK SC;WenQuanYi Micro Hei"},
    {"Calibri", "Carlito;Noto Sans CJK SC"},
    {"Cambria", "Caladea;Noto Serif CJK SC"},
    {"Arial", "Liberation Sans;Noto Sans CJK SC"},
    {"Times New Roman", "Liberation Serif;Noto Serif CJK SC"},
    {"Courier New", "Liberation Mono"},
};

bool processAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// soffice puts its pipe sockets into the first writable one of these folders.
const char *const kSocketFolders[] = {"/tmp", "/var/tmp"};

QString socketPrefix()
{
    return QStringLiteral("OSL_PIPE_%1_").arg(::getuid());
}

const char *const kImageTag = "gridmule engine profile 1\n";

// The folders and files under a folder, read into memory.
struct FolderImage
{
    QStringList folders; // relative paths, parents first
    QList<std::pair<QString, QByteArray>> files;

    bool read(const QString &root)
    {
        const QDir base(root);
        QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry = it.nextFileInfo();
            const QString relative = base.relativeFilePath(entry.filePath());
            if (entry.isDir() && !entry.isSymLink()) {
                folders << relative;
                continue;
            }
            QFile file(entry.filePath());
            if (!entry.isFile() || !file.open(QIODevice::ReadOnly))
                return false;
            files.append({relative, file.readAll()});
        }
        std::sort(folders.begin(), folders.end());
        return true;
    }

    // The image as bytes: a format tag, the folders, the files, and a SHA-256 of all that.
    QByteArray serialize() const
    {
        QByteArray bytes;
        {
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_6_0);
            out.writeRawData(kImageTag, int(qstrlen(kImageTag)));
            out << folders << qint64(files.size());
            for (const auto &[relative, content] : files)
                out << relative << content;
        }
        return bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    }

    // Reads what serialize() wrote; false for anything else (cut short, changed, or paths that
    // would lead out of the profile folder).
    bool deserialize(const QByteArray &bytes)
    {
        constexpr int digestSize = 32;
        const qsizetype tagSize = qstrlen(kImageTag);
        if (bytes.size() < tagSize + digestSize || !bytes.startsWith(kImageTag))
            return false;
        const QByteArray body = bytes.first(bytes.size() - digestSize);
        if (QCryptographicHash::hash(body, QCryptographicHash::Sha256) != bytes.last(digestSize))
            return false;
        QDataStream in(body);
        in.setVersion(QDataStream::Qt_6_0);
        in.skipRawData(int(tagSize));
        qint64 count = 0;
        in >> folders >> count;
        if (in.status() != QDataStream::Ok || count < 0 || count > body.size())
            return false;
        for (qint64 i = 0; i < count; ++i) {
            QString relative;
            QByteArray content;
            in >> relative >> content;
            if (in.status() != QDataStream::Ok)
                return false;
            files.append({relative, content});
        }
        auto inside = [](const QString &relative) {
            return !relative.isEmpty() && QDir::isRelativePath(relative)
                && !relative.split(QLatin1Char('/')).contains(QStringLiteral(".."));
        };
        return in.atEnd() && std::all_of(folders.cbegin(), folders.cend(), inside)
            && std::all_of(files.cbegin(), files.cend(), [&](const auto &file) { return inside(file.first); });
    }

    bool write(const QString &root) const
    {
        for (const QString &folder : folders)
            if (!QDir().mkpath(root + QLatin1Char('/') + folder))
                return false;
        for (const auto &[relative, bytes] : files) {
            QFile file(root + QLatin1Char('/') + relative);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return false;
        }
        return true;
    }
};

// An engine on a new profile sets it up, ends asking to be started again, and only then
// starts for good: about a second and a start's processor time more for every engine. The
// first engine of this program that does so leaves an image of its profile (under half a
// megabyte) as it was at that moment, and every later engine starts on a copy of it, which
// needs no setting up. Engines that start while the first one sets its profile up wait for
// the image rather than set up their own beside it on the same processors. The image is kept
// on disk too, so that later runs of the program (each command-line run is one) start on it
// at once; an image on disk that is damaged or cannot be read is ignored and replaced.
class FinishedProfile
{
public:
    // Fills the empty folder `profile` with the finished profile, waiting while another
    // engine finishes one. False when there is none: `who` is then the one to finish it,
    // unless it is known that new profiles need no finishing. Throws EngineError(Interrupted)
    // when the run is stopped while waiting.
    bool copyTo(const QString &profile, const void *who)
    {
        std::unique_lock lock(m_mutex);
        // A start that does not get on within the start limit goes on without the copy.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_state == State::Preparing && std::chrono::steady_clock::now() < deadline) {
            if (interruptRequested())
                throw EngineError(ErrorCode::Interrupted);
            m_changed.wait_for(lock, std::chrono::milliseconds(100));
        }
        if (m_state == State::None && !m_diskTried) {
            // A finished profile an earlier run left on disk spares this run setting one up.
            m_diskTried = true;
            FolderImage image;
            QFile file(m_diskPath);
            if (!m_diskPath.isEmpty() && file.open(QIODevice::ReadOnly) && file.size() <= kMaxImageBytes
                && image.deserialize(file.readAll())) {
                m_image = std::make_shared<const FolderImage>(std::move(image));
                m_state = State::Ready;
            }
        }
        if (m_state == State::None) {
            m_state = State::Preparing;
            m_preparer = who;
            return false;
        }
        if (m_state != State::Ready)
            return false;
        const std::shared_ptr<const FolderImage> image = m_image; // never changed, only replaced
        lock.unlock();
        if (image->write(profile))
            return true;
        QDir(profile).removeRecursively();
        QDir().mkpath(profile);
        return false;
    }

    // The engine `who` ended asking to be started again: its profile is finished.
    void publish(const QString &profile, const void *who)
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Preparing || m_preparer != who)
            return;
        FolderImage image;
        const bool read = image.read(profile);
        if (read) {
            m_image = std::make_shared<const FolderImage>(std::move(image));
            store();
        }
        m_state = read ? State::Ready : State::None;
        m_preparer = nullptr;
        m_changed.notify_all();
    }

    // The engine `who` leaves its profile unfinished: it failed, or it started without having
    // to start again (`unneeded`: then no engine waits for a finished profile any more).
    void release(const void *who, bool unneeded)
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Preparing || m_preparer != who)
            return;
        m_state = unneeded ? State::Unneeded : State::None;
        m_preparer = nullptr;
        m_changed.notify_all();
    }

    // An engine failed to start on a copy of the finished profile: it is not used again, here
    // or by later runs, and the next engine to start sets a new one up.
    void discard()
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Ready)
            return;
        m_state = State::None;
        m_image.reset();
        if (!m_diskPath.isEmpty())
            QFile::remove(m_diskPath);
    }

    // Where finished profiles are kept between runs (empty: nowhere). A new place is looked
    // at by the next engine that starts.
    void setDiskPath(const QString &path)
    {
        std::lock_guard lock(m_mutex);
        if (m_diskPath != path) {
            m_diskPath = path;
            forgetLocked();
        }
    }

    // Drops the image held in memory (not one being made), so that the next engine looks
    // for one on disk again.
    void forget()
    {
        std::lock_guard lock(m_mutex);
        forgetLocked();
    }

private:
    static constexpr qint64 kMaxImageBytes = 64 * 1024 * 1024;

    void forgetLocked()
    {
        m_diskTried = false;
        if (m_state == State::Ready || m_state == State::Unneeded) {
            m_state = State::None;
            m_image.reset();
        }
    }

    // Writes the image beside its final place and renames it there, so that another program
    // reads either the old image or the new one whole. A folder that cannot take it (read-only,
    // full) only means the next run sets its profile up again.
    void store() const
    {
        if (m_diskPath.isEmpty() || !QDir().mkpath(QFileInfo(m_diskPath).absolutePath()))
            return;
        const QByteArray bytes = m_image->serialize();
        QSaveFile file(m_diskPath);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            file.commit();
    }

    enum class State { None, Preparing, Ready, Unneeded };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::None;
    const void *m_preparer = nullptr;
    std::shared_ptr<const FolderImage> m_image;
    QString m_diskPath;
    bool m_diskTried = false;
};

FinishedProfile &finishedProfile()
{
    static FinishedProfile instance;
    return instance;
}

// The engine's version as its installation states it ("7.4"), read once per program folder;
// empty when the installation does not say.
QByteArray installedVersion(const QString &programDir)
{
    static std::mutex mutex;
    static QHash<QString, QByteArray> versions;
    std::lock_guard lock(mutex);
    auto found = versions.constFind(programDir);
    if (found != versions.cend())
        return *found;
    QByteArray version;
    QFile xcd(programDir + QStringLiteral("/../share/registry/main.xcd"));
    if (xcd.open(QIODevice::ReadOnly)) {
        static const QRegularExpression pattern(
            QStringLiteral("<prop oor:name=\"ooSetupVersion\">\\s*<value>(\\d+\\.\\d+)</value>"));
        const QByteArray text = xcd.readAll();
        const qsizetype at = text.indexOf("<prop oor:name=\"ooSetupVersion\">");
        const QRegularExpressionMatch match = pattern.match(at < 0 ? QString() : QString::fromUtf8(text.mid(at, 200)));
        if (match.hasMatch())
            version = match.captured(1).toLatin1();
    }
    versions.insert(programDir, version);
    return version;
}

// Where a finished profile for the engine in `programDir` is kept between runs: in the user's
// cache folder, named after what the profile depends on (the engine's installation, its
// version and how we seed the profile), so that another engine never starts on it. Empty
// when there is no cache folder.
QString profileImagePath(const QString &programDir)
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    static std::mutex mutex;
    static QHash<QString, QString> names;
    std::lock_guard lock(mutex);
    auto name = names.find(programDir);
    if (name == names.end()) {
        const QFileInfo binary(programDir + QStringLiteral("/soffice.bin"));
        QCryptographicHash key(QCryptographicHash::Sha256);
        key.addData(QFile::encodeName(binary.canonicalFilePath()));
        key.addData(QByteArray::number(binary.size()) + ' ' + QByteArray::number(binary.lastModified().toMSecsSinceEpoch()));
        key.addData(installedVersion(programDir));
        key.addData(QByteArrayView(kImageTag));
        name = names.insert(programDir,
            QStringLiteral("engine-profile-") + QString::fromLatin1(key.result().toHex().left(16)) + QStringLiteral(".img"));
    }
    return cache + QStringLiteral("/gridmule/") + *name;
}

} // namespace

EngineProcess::EngineProcess(const QString &programDir) : m_programDir(programDir)
{
    // The pipe and the folder share "<pid>-<nonce>", so that either tells its owner.
    const quint32 nonce = QRandomGenerator::global()->generate();
    const QString id = QStringLiteral("%1-%2").arg(::getpid()).arg(nonce, 8, 16, QLatin1Char('0'));
    m_pipeName = QStringLiteral("gridmule-") + id;
    m_root = QDir::temp().filePath(kFolderPrefix + id);
}

EngineProcess::~EngineProcess()
{
    finishedProfile().release(this, false);
    if (m_pid > 0) {
        kill();
        reap(true);
    }
    if (!m_root.isEmpty())
        QDir(m_root).removeRecursively();
    removeSockets();
}

QByteArray EngineProcess::profileUrl(const QString &root)
{
    return QUrl::fromLocalFile(root + QStringLiteral("/profile")).toEncoded();
}

QStringList EngineProcess::socketPathsFor(const QString &root, const QString &pipeName)
{
    // The single-instance pipe is named after the profile: "SingleOfficeIPC_" and the MD5 of
    // the profile URL's UTF-16 text, each byte in hexadecimal without a leading zero.
    const QString url = QString::fromUtf8(profileUrl(root));
    const QByteArray digest = QCryptographicHash::hash(
        QByteArrayView(reinterpret_cast<const char *>(url.utf16()), url.size() * 2), QCryptographicHash::Md5);
    QString ipc = QStringLiteral("SingleOfficeIPC_");
    for (const char byte : digest)
        ipc += QString::number(static_cast<uchar>(byte), 16);
    QStringList paths;
    for (const char *folder : kSocketFolders)
        for (const QString &name : {pipeName, ipc})
            paths << QString::fromLatin1(folder) + QLatin1Char('/') + socketPrefix() + name;
    return paths;
}

void EngineProcess::removeSockets() const
{
    // An engine that was killed cannot remove its pipe sockets itself.
    for (const QString &path : socketPaths())
        QFile::remove(path);
}

void EngineProcess::removeStaleFolders()
{
    auto ownerOf = [](const QString &id) {
        bool ok = false;
        const pid_t owner = static_cast<pid_t>(id.section(QLatin1Char('-'), 0, 0).toLong(&ok));
        return ok && owner > 0 ? owner : pid_t(0);
    };
    auto deadOwner = [](pid_t owner) { return owner > 0 && owner != ::getpid() && !processAlive(owner); };

    const QDir temp = QDir::temp();
    const QStringList entries
        = temp.entryList({kFolderPrefix + QStringLiteral("*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : entries) {
        const QString id = name.mid(kFolderPrefix.size());
        if (!deadOwner(ownerOf(id)))
            continue;
        for (const QString &socket : socketPathsFor(temp.filePath(name), QStringLiteral("gridmule-") + id))
            QFile::remove(socket);
        QDir(temp.filePath(name)).removeRecursively();
    }
    // Pipe sockets whose folder is already gone.
    const QString pipePrefix = socketPrefix() + QStringLiteral("gridmule-");
    for (const char *folder : kSocketFolders) {
        const QDir dir(QString::fromLatin1(folder));
        const QStringList sockets = dir.entryList({pipePrefix + QStringLiteral("*")}, QDir::System | QDir::Hidden);
        for (const QString &socket : sockets)
            if (deadOwner(ownerOf(socket.mid(pipePrefix.size()))))
                QFile::remove(dir.filePath(socket));
    }
}

void EngineProcess::writeFontConfig() const
{
    QString xml = QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                                 "  <include ignore_missing=\"yes\">/etc/fonts/fonts.conf</include>\n");
    for (const FontAlias &alias : kFontAliases) {
        xml += QStringLiteral("  <alias binding=\"same\">\n    <family>%1</family>\n    <prefer>\n")
                   .arg(QString::fromUtf8(alias.family));
        for (const QString &sub : QString::fromUtf8(alias.substitutes).split(QLatin1Char(';')))
            xml += QStringLiteral("      <family>%1</family>\n").arg(sub);
        xml += QStringLiteral("    </prefer>\n  </alias>\n");
    }
    xml += QStringLiteral("</fontconfig>\n");
    QFile file(m_root + QStringLiteral("/fonts.conf"));
    if (file.open(QIODevice::WriteOnly))
        file.write(xml.toUtf8());
}

void EngineProcess::start()
{
    if (m_exitCode == kRestartRequested)
        finishedProfile().publish(m_root + QStringLiteral("/profile"), this);
    m_exitCode = -1;
    if (!m_prepared) {
        removeStaleFolders();
        prepareFolder();
        finishedProfile().setDiskPath(profileImagePath(m_programDir));
        m_fromCopy = !m_fromScratch && finishedProfile().copyTo(m_root + QStringLiteral("/profile"), this);
        m_fromScratch = false;
        seedProfile();
        m_prepared = true;
    }
    spawn();
}

void EngineProcess::forgetFinishedProfile()
{
    finishedProfile().forget();
}

void EngineProcess::started()
{
    finishedProfile().release(this, true);
}

void EngineProcess::resetProfile()
{
    if (m_pid > 0)
        return;
    finishedProfile().release(this, false);
    if (m_fromCopy)
        finishedProfile().discard();
    m_fromScratch = true;
    removeSockets();
    QDir(m_root + QStringLiteral("/profile")).removeRecursively();
    QDir(m_root + QStringLiteral("/tmp")).removeRecursively();
    m_prepared = false;
}

void EngineProcess::seedProfile()
{
    // The engine runs a second of graphics self-tests whenever it takes itself to be newer
    // than the version the profile last ran, and headless it never records that version, so
    // it would run them on every start. The profile states the installed version as its last.
    const QByteArray version = installedVersion(m_programDir);
    if (version.isEmpty())
        return;
    const QString user = m_root + QStringLiteral("/profile/user");
    QFile file(user + QStringLiteral("/registrymodifications.xcu"));
    QByteArray xcu;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return;
        xcu = file.readAll();
        file.close();
        if (xcu.contains("\"ooSetupLastVersion\""))
            return;
    } else {
        xcu = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
              "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n</oor:items>\n";
    }
    const qsizetype end = xcu.lastIndexOf("</oor:items>");
    if (end < 0 || !QDir().mkpath(user))
        return; // a file the engine wrote differently is left as it is
    xcu.insert(end,
        "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" + version
            + "</value></prop></item>\n");
    QSaveFile out(file.fileName());
    if (out.open(QIODevice::WriteOnly) && out.write(xcu) == xcu.size())
        out.commit();
}

void EngineProcess::prepareFolder()
{
    if (!QDir().mkpath(m_root + QStringLiteral("/profile")) || !QDir().mkpath(m_root + QStringLiteral("/tmp")))
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("cannot create ") + m_root);
    writeFontConfig();
}

void EngineProcess::spawn()
{
    const QString binary = m_programDir + QStringLiteral("/soffice.bin");
    if (::access(QFile::encodeName(binary).constData(), X_OK) != 0)
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("not found: ") + binary);

    std::vector<QByteArray> args = {
        QFile::encodeName(binary),
        "--headless",
        "--invisible",
        "--nologo",
        "--norestore",
        "--nolockcheck",
        "--nodefault",
        "--nofirststartwizard",
        "-env:UserInstallation=" + profileUrl(m_root),
        "--accept=pipe,name=" + m_pipeName.toUtf8() + ";urp;StarOffice.ComponentContext",
    };
    // The child's environment: ours, with its own font configuration and temporary folder,
    // and a locale that the engine takes as English (United States), so that numbers and
    // dates are formatted and parsed alike for every user; UTF-8 as our file names are.
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (entry.startsWith("FONTCONFIG_FILE=") || entry.startsWith("TMPDIR=") || entry.startsWith("SAL_USE_VCLPLUGIN=")
            || entry.startsWith("LANG=") || entry.startsWith("LANGUAGE=") || entry.startsWith("LC_"))
            continue;
        env.push_back(entry);
    }
    env.push_back("FONTCONFIG_FILE=" + QFile::encodeName(m_root + QStringLiteral("/fonts.conf")));
    env.push_back("TMPDIR=" + QFile::encodeName(m_root + QStringLiteral("/tmp")));
    env.push_back("SAL_USE_VCLPLUGIN=svp");
    env.push_back("LC_ALL=C.UTF-8");

    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // The engine is spoken to over a socket. A request written just after the engine died
    // must fail with EPIPE, so that the call fails and the engine is replaced, instead of
    // SIGPIPE ending this program in the middle of a run. A handler the program set is kept.
    static std::once_flag ignorePipeSignal;
    std::call_once(ignorePipeSignal, [] {
        struct sigaction current = {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("fork failed"));
    if (pid == 0) {
        // Own process group, so that the whole engine can be killed at once; die with us.
        ::setsid();
        ::signal(SIGPIPE, SIG_DFL);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        const int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, STDIN_FILENO);
            ::dup2(devnull, STDOUT_FILENO);
            ::dup2(devnull, STDERR_FILENO);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    m_pid = pid;
}

bool EngineProcess::isRunning()
{
    if (m_pid <= 0)
        return false;
    reap(false);
    return m_pid > 0;
}

void EngineProcess::kill()
{
    const pid_t pid = m_pid;
    if (pid > 0) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
}

void EngineProcess::reap(bool block)
{
    if (m_pid <= 0)
        return;
    const pid_t pid = m_pid;
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {
        m_exitCode = (r == pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        // The group may still hold helpers the engine started; end them too.
        ::kill(-pid, SIGKILL);
        m_pid = -1;
        removeSockets();
    }
}

QHash<int, qint64> EngineProcess::runQueueWaits() const
{
    // /proc/<pid>/task/<tid>/schedstat: "<ns on a CPU> <ns waiting for a CPU> <slices>".
    QHash<int, qint64> waits;
    const pid_t pid = m_pid;
    if (pid <= 0)
        return waits;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : threads) {
        QFile stat(tasks + QLatin1Char('/') + tid + QStringLiteral("/schedstat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().simplified().split(' ');
        if (fields.size() >= 2)
            waits.insert(tid.toInt(), fields[1].toLongLong());
    }
    return waits;
}

qint64 EngineProcess::longestWaitSince(const QHash<int, qint64> &now, const QHash<int, qint64> &before)
{
    qint64 longest = 0;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        longest = std::max(longest, it.value() - before.value(it.key(), 0));
    return longest;
}

void EngineProcess::waitOrKill(int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs && isRunning(); waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (m_pid > 0) {
        kill();
        reap(true);
    }
}

} // namespace gm::lo
