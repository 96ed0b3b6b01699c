#pragma once

// The application state set at start-up and read by every part of the program.

#include "app/LogOptions.h"
#include "automation/BatchFrame.h"

#include <QString>

namespace gm {

inline const QString kAppTitle = QStringLiteral("Gridmule");
inline const QString kWindowTitle = QStringLiteral("Gridmule - Excel文档批处理工具");
inline const QString kAboutVersion = QStringLiteral("4.4");

struct AppState
{
    bool XlsxAvailable = false;  // .xlsx files can be opened and written
    int ExcelMajorVersion = 0;   // the engine's capabilities as a whole version number
    bool isRecordError = false;  // write per-file failures to the run log
    QString LogFile;             // full path of the run log
    QString helpFile;            // the HTML help page beside the program
    int jobs = defaultEngineJobs(); // engines a run may use at once

    // Passwords and worksheet protection need version 10 or later.
    bool passwordsAvailable() const { return ExcelMajorVersion >= 10; }
    // The default log's folder in the user's state folder is made when the first line is written.
    RunSettings runSettings() const
    {
        RunSettings settings{isRecordError, LogFile, LogFile == defaultLogFile()};
        settings.jobs = jobs;
        return settings;
    }
};

} // namespace gm
