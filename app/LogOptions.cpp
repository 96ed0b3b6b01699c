#include "app/LogOptions.h"

#include "app/AppState.h"
#include "app/SettingsStore.h"

#include <QFileInfo>

namespace gm {

namespace {
const QString kOption = QStringLiteral("Option");
}

QString usableLogFile(const QString &stored, const QString &defaultPath)
{
    if (stored.trimmed().isEmpty() || !QFileInfo::exists(stored))
        return defaultPath;
    return stored;
}

void readLogOptions(const SettingsStore &store, AppState &state, const QString &defaultLogPath)
{
    store.readBool(kOption, QStringLiteral("isRecordError"), false, state.isRecordError);
    state.LogFile = usableLogFile(store.read(kOption, QStringLiteral("LogFile"), defaultLogPath), defaultLogPath);
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
