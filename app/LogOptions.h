#pragma once

// The run-log options: whether failures are logged and where. Read at start-up, changed and
// saved by the options dialog.

#include <QString>

namespace gm {

struct AppState;
class SettingsStore;

// The default run-log path: the user's state folder ($XDG_STATE_HOME, or ~/.local/state when
// that is unset or not absolute) + "gridmule/Gridmule.log". The folder is made when the first
// line is written.
QString defaultLogFile();

// The log path that earlier versions used as their default: the program's folder +
// "Gridmule.log". An installed program cannot write there.
QString legacyLogFile(const QString &programFolder);

// The stored log path, unless it is blank or names nothing on disk (neither a file nor a
// folder): then the default path.
QString usableLogFile(const QString &stored, const QString &defaultPath);

// Reads "isRecordError" and "LogFile" of section "Option" into the state. A stored path equal
// to the old default (legacyLogPath) is taken as the default, not as the user's choice.
void readLogOptions(
    const SettingsStore &store, AppState &state, const QString &defaultLogPath, const QString &legacyLogPath = {});

// The options dialog's confirmation: logging follows the check box; a log path that is blank
// after trimming keeps the previous one, any other is taken as typed. Both are saved.
void confirmLogOptions(SettingsStore &store, AppState &state, bool recordErrors, const QString &logText);

} // namespace gm
