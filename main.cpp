// Gridmule: applies one chosen change to many spreadsheet workbooks in one run.

#include "app/SettingsStore.h"
#include "app/StartUp.h"
#include "automation/EngineLocator.h"
#include "ui/MainWindow.h"
#include "ui/QtTranslation.h"
#include "ui/UserDialogs.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(gm::kAppTitle);
    gm::installQtTranslation(app);

    gm::SettingsStore store;
    gm::DesktopDialogs dialogs;
    // Only a quick probe here: the engine itself starts when a run needs it.
    const gm::StartUpResult startUp = gm::startUp(store, gm::probeEngine, gm::programFolder());
    if (!startUp.engineFound) {
        dialogs.message(nullptr, {QMessageBox::Information, gm::kAppTitle, gm::kNoEngineMessage, QMessageBox::Ok,
                                  QMessageBox::Ok});
        return 1;
    }

    gm::AppState state = startUp.state;
    gm::MainWindow window(state, store, dialogs, startUp.memory);
    window.show();
    return app.exec();
}
