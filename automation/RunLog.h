#pragma once

#include <QString>

namespace gm {

// Appends one line to the run log: local date and time, TAB, action, TAB,
// "处理" + file + "处错：", TAB, description, CR LF. The file is opened and closed on every
// call. createFolder makes a missing folder of the log first (the default log in the user's
// state folder); a log the user chose is never given a folder. Returns false when the line
// could not be written.
bool WriteError(
    const QString &logFile, const QString &action, const QString &file, const QString &error, bool createFolder = false);

// The one notice of a run whose failures could not be written to its log.
QString logUnwritableNotice(const QString &logFile);

} // namespace gm
