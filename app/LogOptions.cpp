#include "app/LogOptions.h"

#include "app/AppState.h"
#include "app/SettingsStore.h"

#include <QDir>
#include <QFileInfo>

namespace gm {

namespace {
const QString kOption = QStringLiteral("Option");
}

QString defaultLogFile()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/gridmule/Gridmule.log"));
}

QString legacyLogFile(const QString &programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/Gridmule.log"));
}

QString usableLogFile(const QString &stored, const QString &defaultPath)
{
    if (stored.trimmed().isEmpty() || !QFileInfo::exists(stored))
        return defaultPath;
    return stored;
}

void readLogOptions(const SettingsStore &store, AppState &state, const QString &defaultLogPath, const QString &legacyLogPath)
{
    store.readBool(kOption, QStringLiteral("isRecordError"), false, state.isRecordError);
    QString stored = store.read(kOption, QStringLiteral("LogFile"), defaultLogPath);
    if (!legacyLogPath.isEmpty() && !stored.trimmed().isEmpty() && QDir::cleanPath(stored) == QDir::cleanPath(legacyLogPath))
        stored = defaultLogPath;
    state.LogFile = usableLogFile(stored, defaultLogPath);
}

void confirmLogOptions(SettingsStore &store, AppState &state, bool recordErrors, const QString &logText)
{
    state.isRecordError = recordErrors;
    if (!logText.trimmed().isEmpty())
        state.LogFile = logText;
    store.writeBool(kOption, QStringLiteral("isRecordError"), state.isRecordError);
    store.write(kOption, QStringLiteral("LogFile"), state.LogFile);
    store.sync();
}

} // namespace gm
