#include "support/PrivateCups.h"

#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gm::test {

namespace {

QString runClient(const QString &program, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

EnvironmentGuard::~EnvironmentGuard()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second.isNull())
            qunsetenv(it->first);
        else
            qputenv(it->first, it->second);
    }
}

void EnvironmentGuard::set(const char *name, const QByteArray &value)
{
    remember(name);
    qputenv(name, value);
}

void EnvironmentGuard::unset(const char *name)
{
    remember(name);
    qunsetenv(name);
}

void EnvironmentGuard::remember(const char *name)
{
    m_saved.emplace_back(name, qgetenv(name));
}

bool PrivateCups::start(QString *why)
{
    const QStringList system = {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")};
    const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), system);
    if (cupsd.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("lpadmin"), system).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("lpstat")).isEmpty()) {
        *why = QStringLiteral("CUPS is not installed (Debian packages cups, cups-client)");
        return false;
    }
    if (geteuid() != 0) {
        *why = QStringLiteral("a private cupsd with the cups-pdf backend needs root");
        return false;
    }
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    // Filters run as the service's own user, which must reach the spool.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    for (const char *sub : {"etc/ppd", "spool/tmp", "cache", "state", "log"})
        QDir().mkpath(m_dir.filePath(QString::fromLatin1(sub)));
    ::chmod(QFile::encodeName(m_dir.filePath(QStringLiteral("spool/tmp"))).constData(), 01777);
    m_socket = m_dir.filePath(QStringLiteral("cups.sock"));
    writeAll(m_dir.filePath(QStringLiteral("etc/cupsd.conf")),
        QStringLiteral("Listen %1\nLogLevel warn\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n")
            .arg(m_socket)
            .toUtf8());
    writeAll(m_dir.filePath(QStringLiteral("etc/cups-files.conf")),
        QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\nCacheDir %1/cache\n"
                       "StateDir %1/state\nErrorLog %1/log/error_log\nAccessLog %1/log/access_log\n"
                       "PageLog %1/log/page_log\n")
            .arg(m_dir.path())
            .toUtf8());
    m_cupsd.start(cupsd,
        {QStringLiteral("-f"), QStringLiteral("-c"), m_dir.filePath(QStringLiteral("etc/cupsd.conf")), QStringLiteral("-s"),
            m_dir.filePath(QStringLiteral("etc/cups-files.conf"))});
    if (!m_cupsd.waitForStarted(10000)) {
        *why = QStringLiteral("cupsd did not start: ") + m_cupsd.errorString();
        return false;
    }
    m_environment.set("CUPS_SERVER", m_socket.toLocal8Bit());
    m_environment.unset("LPDEST");
    m_environment.unset("PRINTER");
    // Ready when its socket answers.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_cupsd.state() != QProcess::Running) {
            *why = QStringLiteral("cupsd ended at once: ") + QString::fromUtf8(m_cupsd.readAllStandardError());
            return false;
        }
        if (QFile::exists(m_socket)
            && runClient(QStringLiteral("lpstat"), {QStringLiteral("-r")}).contains(QStringLiteral("is running")))
            return true;
        QThread::msleep(100);
    }
    *why = QStringLiteral("cupsd did not answer on its socket");
    return false;
}

bool PrivateCups::addPdfPrinter(const QString &name, QString *why)
{
    const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
    if (!QFile::exists(ppd) || !QFile::exists(QStringLiteral("/usr/lib/cups/backend/cups-pdf"))) {
        *why = QStringLiteral("the PDF printer is not installed (Debian package printer-driver-cups-pdf)");
        return false;
    }
    runClient(QStringLiteral("lpadmin"),
        {QStringLiteral("-p"), name, QStringLiteral("-v"), QStringLiteral("cups-pdf:/"), QStringLiteral("-E"),
            QStringLiteral("-P"), ppd});
    runClient(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name});
    if (!runClient(QStringLiteral("lpstat"), {QStringLiteral("-e")}).split(u'\n').contains(name)) {
        *why = QStringLiteral("lpadmin could not add the printer");
        return false;
    }
    return true;
}

bool PrivateCups::waitForIdle()
{
    const QDeadlineTimer deadline(180000);
    while (!deadline.hasExpired()) {
        if (runClient(QStringLiteral("lpstat"), {QStringLiteral("-o")}).trimmed().isEmpty())
            return true;
        QThread::msleep(200);
    }
    return false;
}

QMap<int, int> PrivateCups::pagesByJob() const
{
    // Lines such as "Office root 12 [07/Dec/2026:11:40:47 +0000] total 4 - localhost title - -".
    QMap<int, int> pages;
    const QString log = QString::fromUtf8(readAll(m_dir.filePath(QStringLiteral("log/page_log"))));
    for (const QString &line : log.split(u'\n')) {
        const QStringList fields = line.split(u' ');
        const qsizetype total = fields.indexOf(QStringLiteral("total"));
        if (fields.size() > 2 && total > 0 && total + 1 < fields.size())
            pages[fields[2].toInt()] = fields[total + 1].toInt();
    }
    return pages;
}

PrivateCups::~PrivateCups()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return;
    m_cupsd.terminate();
    if (!m_cupsd.waitForFinished(10000)) {
        m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

QString PrivateCups::outputFolder()
{
    const passwd *user = getpwuid(geteuid());
    return QString::fromLocal8Bit(user ? user->pw_dir : "/root") + QStringLiteral("/PDF");
}

QStringList PrivateCups::outputFiles()
{
    return QDir(outputFolder()).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
}

int pdfinfoPages(const QString &path)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty())
        return -1;
    QProcess process;
    process.start(QStringLiteral("pdfinfo"), {path});
    process.waitForFinished(30000);
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return 0;
}

} // namespace gm::test
