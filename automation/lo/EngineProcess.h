#pragma once

#include <QString>

#include <sys/types.h>

namespace gm::lo {

// One headless soffice process with its own temporary folder (profile, font configuration,
// temporary files) and its own pipe name. The process runs in its own process group and is
// killed with the whole group when this object ends or when the program dies (parent-death
// signal), and its folder is removed. Nothing here knows UNO.
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

    // Removes engine folders left by earlier program instances that died without cleaning up.
    static void removeStaleFolders();

private:
    void prepareFolder();
    void spawn();
    void writeFontConfig() const;
    void reap(bool block);

    QString m_programDir;
    QString m_root; // private folder: profile/, tmp/, fonts.conf
    QString m_pipeName;
    pid_t m_pid = -1;
    int m_exitCode = -1;
    bool m_prepared = false;
};

} // namespace gm::lo
