#include "automation/lo/EngineProcess.h"

#include "automation/EngineError.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
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

} // namespace

EngineProcess::EngineProcess(const QString &programDir) : m_programDir(programDir)
{
    const quint32 nonce = QRandomGenerator::global()->generate();
    m_pipeName = QStringLiteral("gridmule-%1-%2").arg(::getpid()).arg(nonce, 8, 16, QLatin1Char('0'));
    m_root = QDir::temp().filePath(kFolderPrefix + QStringLiteral("%1-%2").arg(::getpid()).arg(nonce, 8, 16, QLatin1Char('0')));
}

EngineProcess::~EngineProcess()
{
    if (m_pid > 0) {
        kill();
        reap(true);
    }
    if (!m_root.isEmpty())
        QDir(m_root).removeRecursively();
    // A killed engine cannot remove the socket of its pipe.
    const QString socket = QStringLiteral("OSL_PIPE_%1_%2").arg(::getuid()).arg(m_pipeName);
    QFile::remove(QStringLiteral("/tmp/") + socket);
    QFile::remove(QDir::temp().filePath(socket));
}

void EngineProcess::removeStaleFolders()
{
    const QDir temp = QDir::temp();
    const QStringList entries
        = temp.entryList({kFolderPrefix + QStringLiteral("*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : entries) {
        bool ok = false;
        const pid_t owner = static_cast<pid_t>(name.mid(kFolderPrefix.size()).section(QLatin1Char('-'), 0, 0).toLong(&ok));
        if (ok && owner > 0 && owner != ::getpid() && !processAlive(owner))
            QDir(temp.filePath(name)).removeRecursively();
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
    m_exitCode = -1;
    if (!m_prepared) {
        removeStaleFolders();
        prepareFolder();
        m_prepared = true;
    }
    spawn();
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

    const QByteArray profileUrl = QUrl::fromLocalFile(m_root + QStringLiteral("/profile")).toEncoded();
    std::vector<QByteArray> args = {
        QFile::encodeName(binary),
        "--headless",
        "--invisible",
        "--nologo",
        "--norestore",
        "--nolockcheck",
        "--nodefault",
        "--nofirststartwizard",
        "-env:UserInstallation=" + profileUrl,
        "--accept=pipe,name=" + m_pipeName.toUtf8() + ";urp;StarOffice.ComponentContext",
    };
    // The child's environment: ours, with its own font configuration and temporary folder.
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (entry.startsWith("FONTCONFIG_FILE=") || entry.startsWith("TMPDIR=") || entry.startsWith("SAL_USE_VCLPLUGIN="))
            continue;
        env.push_back(entry);
    }
    env.push_back("FONTCONFIG_FILE=" + QFile::encodeName(m_root + QStringLiteral("/fonts.conf")));
    env.push_back("TMPDIR=" + QFile::encodeName(m_root + QStringLiteral("/tmp")));
    env.push_back("SAL_USE_VCLPLUGIN=svp");

    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw EngineError(ErrorCode::EngineUnavailable, QStringLiteral("fork failed"));
    if (pid == 0) {
        // Own process group, so that the whole engine can be killed at once; die with us.
        ::setsid();
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
    if (m_pid > 0) {
        ::kill(-m_pid, SIGKILL);
        ::kill(m_pid, SIGKILL);
    }
}

void EngineProcess::reap(bool block)
{
    if (m_pid <= 0)
        return;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_exitCode = (r == m_pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        // The group may still hold helpers the engine started; end them too.
        ::kill(-m_pid, SIGKILL);
        m_pid = -1;
    }
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
