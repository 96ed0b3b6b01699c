#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <atomic>

namespace gm::lo {

// One headless soffice process with its own temporary folder (profile, font configuration,
// temporary files) and its own pipe name. The process runs in its own process group and is
// killed with the whole group when this object ends or when the program dies (parent-death
// signal), and its folder and pipe sockets are removed. It works in English (United States)
// conventions whatever the user's locale. Nothing here knows UNO.
class EngineProcess
{
public:
    explicit EngineProcess(const QString &programDir);
    ~EngineProcess();
    EngineProcess(const EngineProcess &) = delete;
    EngineProcess &operator=(const EngineProcess &) = delete;

    // Starts soffice.bin; throws EngineError(EngineUnavailable) when it cannot be started.
    void start();
    // Exit code of the process once it ended (-1 while running or when killed). The engine
    // ends with 81 after creating a fresh profile, asking to be started again.
    int exitCode() const { return m_exitCode; }
    static constexpr int kRestartRequested = 81;
    const QString &pipeName() const { return m_pipeName; }
    pid_t pid() const { return m_pid; }
    bool isRunning();
    // Kills the whole process group at once (used by the watchdog and on a dead bridge).
    void kill();
    // Waits up to timeoutMs for the process to end by itself, then kills it.
    void waitOrKill(int timeoutMs);
    // Replaces the profile and temporary files with empty folders, for a start from scratch
    // (not from the program's finished profile, in case that is what failed). Only while the
    // process is not running.
    void resetProfile();
    // The engine answered: a profile it started on without having to start again needs no
    // copy for the engines after it.
    void started();
    // Whether the current profile was copied from the program's finished profile.
    bool startedFromCopy() const { return m_fromCopy; }

    // Time each thread of the running engine has spent ready to run but waiting for a CPU,
    // in nanoseconds, by thread id. On a busy machine this is time the engine could not use.
    QHash<int, qint64> runQueueWaits() const;
    // The longest wait of one thread between two samples of runQueueWaits().
    static qint64 longestWaitSince(const QHash<int, qint64> &now, const QHash<int, qint64> &before);

    // The pipe sockets the engine creates: the one we connect to and its single-instance one.
    // They live in a fixed folder (/tmp, else /var/tmp) whatever TMPDIR says.
    QStringList socketPaths() const { return socketPathsFor(m_root, m_pipeName); }

    // Forgets the finished profile this program holds, so that the next engine starts on the
    // one kept in the user's cache folder, or sets one up when there is none that is sound.
    static void forgetFinishedProfile();

    // Removes engine folders and pipe sockets left by earlier program instances that died
    // without cleaning up.
    static void removeStaleFolders();

private:
    static QStringList socketPathsFor(const QString &root, const QString &pipeName);
    static QByteArray profileUrl(const QString &root);
    void removeSockets() const;
    void prepareFolder();
    void spawn();
    void writeFontConfig() const;
    void reap(bool block);
    void seedProfile();

    QString m_programDir;
    QString m_root; // private folder: profile/, tmp/, fonts.conf
    QString m_pipeName;
    std::atomic<pid_t> m_pid = -1; // read by the watchdog's thread too
    int m_exitCode = -1;
    bool m_prepared = false;
    bool m_fromScratch = false; // the next profile is made by the engine, not copied
    bool m_fromCopy = false;
};

} // namespace gm::lo
