#pragma once

// A print service of the test's own, for printing tests: cupsd on a private socket with its
// configuration, spool and logs in a temporary folder, reached through CUPS_SERVER (set for
// the test process and every program it starts); the system's service is left alone. Its PDF
// printer (cups-pdf) writes every job as a PDF file into the user's ~/PDF folder.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace gm::test {

// Sets environment variables for one test and puts the old values back.
class EnvironmentGuard
{
public:
    EnvironmentGuard() = default;
    EnvironmentGuard(const EnvironmentGuard &) = delete;
    EnvironmentGuard &operator=(const EnvironmentGuard &) = delete;
    ~EnvironmentGuard();
    void set(const char *name, const QByteArray &value);
    void unset(const char *name);

private:
    void remember(const char *name);
    std::vector<std::pair<const char *, QByteArray>> m_saved;
};

class PrivateCups
{
public:
    PrivateCups() = default;
    PrivateCups(const PrivateCups &) = delete;
    PrivateCups &operator=(const PrivateCups &) = delete;
    ~PrivateCups();

    // Starts the service, with no printer; false with the reason when this machine cannot
    // run one (CUPS not installed, not root).
    bool start(QString *why);
    // Adds a cups-pdf printer and makes it the service's default.
    bool addPdfPrinter(const QString &name, QString *why);
    // Waits until every queued job has been printed.
    bool waitForIdle();
    // The pages the service counted for each job, copies included, by job number.
    QMap<int, int> pagesByJob() const;

    // Where the PDF printer writes, and the files there now.
    static QString outputFolder();
    static QStringList outputFiles();

private:
    QTemporaryDir m_dir;
    QString m_socket;
    QProcess m_cupsd;
    EnvironmentGuard m_environment;
};

// Pages of a PDF file as poppler's pdfinfo counts them, independently of the program's own
// reader; -1 when pdfinfo is not installed.
int pdfinfoPages(const QString &path);

} // namespace gm::test

#define GM_REQUIRE_PRINT_SERVICE(cups)                                                                                           \
    gm::test::PrivateCups cups;                                                                                                  \
    if (QString why; !cups.start(&why))                                                                                          \
    GTEST_SKIP() << "no private print service: " << why.toStdString()
