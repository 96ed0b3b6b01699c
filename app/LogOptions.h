#pragma once

// The run-log options: whether failures are logged and where. Read at start-up, changed and
// saved by the options dialog.

#include <QString>

namespace gm {

struct AppState;
class SettingsStore;

// The stored log path, unless it is blank or names nothing on disk (neither a file nor a
// folder): then the default path.
QString usableLogFile(const QString &stored, const QString &defaultPath);

// Reads "isRecordError" and "LogFile" of section "Option" into the state.
void readLogOptions(const SettingsStore &store, AppState &state, const QString &defaultLogPath);

// The options dialog's confirmation: logging follows the check box; a log path that is blank
// after trimming keeps the previous one, any other is taken as typed. Both are saved.
void confirmLogOptions(SettingsStore &store, AppState &state, bool recordErrors, const QString &logText);

} // namespace gm
