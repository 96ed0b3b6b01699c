#include "app/StartUp.h"

#include "app/EngineJobsOption.h"
#include "app/LogOptions.h"
#include "app/SettingsStore.h"
#include "automation/EngineLocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace gm {

QString programFolder()
{
    QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QString dataFolder(const QString &programFolder)
{
    const QDir program(programFolder);
    if (program.exists(kHelpFileName))
        return QDir::cleanPath(program.absolutePath()) + u'/';
    const QString installed = QDir::cleanPath(program.absoluteFilePath(QStringLiteral("../share/gridmule")));
    if (QFileInfo::exists(installed + u'/' + kHelpFileName))
        return installed + u'/';
    return QDir::cleanPath(program.absolutePath()) + u'/';
}

StartUpResult startUp(const SettingsStore &store, const EngineProbe &probe, const QString &programFolder)
{
    StartUpResult result;
    const std::optional<EngineInfo> engine = probe ? probe() : std::nullopt;
    if (!engine)
        return result;
    result.engineFound = true;

    QString folder = programFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';

    result.memory.readPage(store);
    readLogOptions(store, result.state, defaultLogFile(), legacyLogFile(folder));
    readEngineJobs(store, result.state);

    result.state.ExcelMajorVersion = excelMajorVersionFor(*engine);
    result.state.XlsxAvailable = xlsxAvailableFor(*engine);
    result.state.helpFile = dataFolder(folder) + kHelpFileName;

    result.memory.readInputs(store);
    return result;
}

} // namespace gm
