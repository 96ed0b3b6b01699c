#pragma once

#include "automation/Engine.h"

#include <memory>

namespace gm {

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

    // Opens a workbook; with packageEditorAllowed an .xlsx package is opened by the
    // package editor, everything else by LibreOffice.
    // readOnly opens a source that is only read (no lock, no in-use check, no save).
    std::unique_ptr<Workbook> open(const QString &path, bool packageEditorAllowed = false, bool readOnly = false);
    std::unique_ptr<Workbook> add();

    // The LibreOffice application, started (or restarted) on demand.
    Application &libreOffice();
    bool libreOfficeStarted() const { return m_libreOffice != nullptr; }
    void quit();

    static ApplicationFactory defaultFactory();

private:
    ApplicationFactory m_factory;
    std::unique_ptr<Application> m_libreOffice;
    int m_failedStarts = 0;
    QString m_startFailure;
};

} // namespace gm
