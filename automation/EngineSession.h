#pragma once

#include "automation/Engine.h"

#include <memory>
#include <mutex>

namespace gm {

// What an operation uses of its workbooks. The session opens each file with the lightest
// backend that offers those members for the file's kind; operations never know which.
enum class WorkbookUse {
    Engine, // anything: LibreOffice
    PackageMembers, // sheets, page setup, document properties: .xlsx by the package editor;
                    // sheets and page setup: .xls by the record editor
    DocumentProperties, // document properties only: .xlsx and .xls without the engine
    Protection, // workbook and sheet protection: .xlsx by the package editor, BIFF8 .xls by
                // the record editor; never the engine, whose save would lose content
    GuardedEngine, // cells, rows and inserted sheets: .xlsx by the package editor; .xls by the
                   // engine, whose save replaces the original only when the file's content
                   // check finds nothing changed that the operation did not declare
    CellValues, // reading and writing cell values: .xlsx by the package editor; BIFF8 .xls by the
                // record editor, and by the guarded engine when the change writes something
                // the record editor cannot store exactly (XlsCellsNeedEngine): the run then
                // does the file's change again from the start on the engine
    DocumentPasswords, // open and modify passwords: .xlsx by the package editor, BIFF8 .xls by
                       // the record editor; anything else fails (the engine cannot write them
                       // without damaging the file)
};

// The engines of one run. The LibreOffice instance is started on first use, replaced when
// it died or was killed by its watchdog, and quit at the end of the run. Which backend
// opens a file is decided here, by the file's content, so operations never know.
class EngineSession
{
public:
    explicit EngineSession(ApplicationFactory factory = {});
    ~EngineSession();
    EngineSession(const EngineSession &) = delete;
    EngineSession &operator=(const EngineSession &) = delete;

    // Opens a workbook with the backend chosen for `use` and the file's content. readOnly
    // opens a source that is only read (no lock, no in-use check, no save).
    std::unique_ptr<Workbook> open(const QString &path, WorkbookUse use = WorkbookUse::Engine, bool readOnly = false);
    std::unique_ptr<Workbook> add();

    // The LibreOffice application, started (or restarted) on demand.
    Application &libreOffice();
    bool libreOfficeStarted() const { return m_libreOffice != nullptr; }
    void quit();
    // Stops a running engine at once, from any thread (a run being interrupted).
    void abort();

    // Whether open() gives the file to LibreOffice for `use`, told by the file's first bytes
    // (a file that cannot be read counts as the engine's: its open reports why).
    static bool engineBound(const QString &path, WorkbookUse use);

    static ApplicationFactory defaultFactory();
    // Removes what engines of programs that died left: private folders, pipe sockets.
    static void removeDeadEngineLeftovers();

private:
    ApplicationFactory m_factory;
    std::unique_ptr<Application> m_libreOffice; // replaced under m_mutex, so that abort() may read it
    std::mutex m_mutex;
    int m_failedStarts = 0;
    QString m_startFailure;
};

} // namespace gm
