#pragma once

// The part of start-up that needs no window: the engine presence check, the settings and
// the version gates. The window applies the result to its controls.

#include "app/AppState.h"
#include "app/PanelMemory.h"
#include "automation/Engine.h"

#include <QString>

#include <functional>
#include <optional>

namespace gm {

class SettingsStore;

inline const QString kNoEngineMessage = QStringLiteral("本软件只能在安装了LibreOffice的电脑中使用。")
        + u'\n' + QStringLiteral("系统检测未发现安装了LibreOffice软件！");
inline const QString kHelpFileName = QStringLiteral("Gridmule.html");

using EngineProbe = std::function<std::optional<EngineInfo>()>;

struct StartUpResult
{
    bool engineFound = false; // false: show kNoEngineMessage and end the program
    AppState state;
    PanelMemory memory;
};

// Probes the engine (without starting it), then reads the settings in start-up order and
// derives the version gates. programFolder holds the help file (and held the old default log).
StartUpResult startUp(const SettingsStore &store, const EngineProbe &probe, const QString &programFolder);

// The program's folder with a trailing separator, for the help file.
QString programFolder();

// The folder of the help page and our translations for a program in programFolder: the
// program's own folder in a build tree (the help page sits beside it), else the installed
// share/gridmule beside its bin folder.
QString dataFolder(const QString &programFolder);

} // namespace gm
