// Gridmule: applies one chosen change to many spreadsheet workbooks in one run.

#include "app/SettingsStore.h"
#include "app/StartUp.h"
#include "automation/EngineLocator.h"
#include "automation/Interruption.h"
#include "ui/MainWindow.h"
#include "ui/QtTranslation.h"
#include "ui/UserDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(gm::kAppTitle);
    QApplication::setApplicationVersion(QStringLiteral(GRIDMULE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.gridmule.Gridmule"));

    // Workbooks named on the command line (as the file manager's "Open with" passes them) start
    // as the document list.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Gridmule: apply one change to many Excel workbooks."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Workbooks (.xls, .xlsx) to list."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);

    const QString programFolder = gm::programFolder();
    gm::installQtTranslation(app, gm::dataFolder(programFolder));

    gm::SettingsStore store;
    gm::DesktopDialogs dialogs;
    // Only a quick probe here: the engine itself starts when a run needs it.
    const gm::StartUpResult startUp = gm::startUp(store, gm::probeEngine, programFolder);
    if (!startUp.engineFound) {
        dialogs.message(nullptr, {QMessageBox::Information, gm::kAppTitle, gm::kNoEngineMessage, QMessageBox::Ok,
                                  QMessageBox::Ok});
        return 1;
    }

    gm::AppState state = startUp.state;
    gm::MainWindow window(state, store, dialogs, startUp.memory);
    window.openDocuments(parser.positionalArguments());
    window.show();
    // SIGINT and SIGTERM stop a run after cleaning up its file in progress (the run notices
    // them itself), then the program ends; the window waits for the run as it closes. A run
    // cancelled in the window stops the same way, but the program goes on.
    gm::installInterruptHandlers();
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &app, [] {
        if (gm::interruptSignal() != 0)
            QCoreApplication::quit();
    });
    stopWatch.start(200);
    return app.exec();
}
