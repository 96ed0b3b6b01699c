#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

namespace gm {

// Loads Qt's Simplified Chinese translation (standard buttons, file dialogs) and installs it.
// The copy in our own data folder comes first, so an installed program does not depend on the
// system's Qt translations; Qt's own folder is the fallback. Returns the translator, or nullptr
// when neither holds one.
QTranslator *installQtTranslation(QCoreApplication &app, const QString &dataFolder);

} // namespace gm
