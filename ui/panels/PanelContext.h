#pragma once

namespace gm {

struct AppState;
class DocumentListModel;
class GuiUserInterface;
class RunController;
class UserDialogs;

// What the panels share with the main window: the application state, the document list,
// the dialogs, the run's user interface and the runner that keeps runs off the GUI thread.
struct PanelContext
{
    AppState &state;
    DocumentListModel &documents;
    UserDialogs &dialogs;
    GuiUserInterface &ui;
    RunController &runner;
};

} // namespace gm
