#pragma once

// Qt's own texts (file dialogs, the context menus of text fields, standard buttons) in
// Simplified Chinese, the language of the rest of the window.

class QCoreApplication;
class QTranslator;

namespace gm {

// Loads Qt's Simplified Chinese translation from Qt's translations folder and installs it
// into app, which owns it. Returns null when the translation is not installed: Qt's texts
// then stay English.
QTranslator *installQtTranslation(QCoreApplication &app);

} // namespace gm
