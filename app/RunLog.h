#pragma once

#include <QString>

namespace gm {

// Appends one line to the run log: local date and time, TAB, action, TAB,
// "处理" + file + "处错：", TAB, description, CR LF. The file is opened and closed on every
// call. Returns false when the line could not be written; callers ignore that.
bool WriteError(const QString &logFile, const QString &action, const QString &file, const QString &error);

// The default run-log path: the program's folder + "Gridmule.log".
QString defaultLogFile();

} // namespace gm
