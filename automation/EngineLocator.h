#pragma once

#include "automation/Engine.h"

#include <QString>

#include <optional>

namespace gm {

// Where the LibreOffice program folder is: $GRIDMULE_LIBREOFFICE_DIR when set (for an engine
// installed elsewhere; tests point it at an empty folder to simulate a missing engine),
// otherwise the folder the program was built against.
QString libreOfficeProgramDir();

// A cheap presence and version probe that starts no engine: runs `soffice --version`.
// Empty when the engine is missing or does not answer.
std::optional<EngineInfo> probeEngine();

// The version gates derived from what the engine can do: an engine that reads and writes
// .xlsx and holds 1,048,576 rows counts as major version 12 or later.
int excelMajorVersionFor(const EngineInfo &info);
bool xlsxAvailableFor(const EngineInfo &info);

} // namespace gm
