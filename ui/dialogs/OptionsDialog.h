#pragma once

// frmOption: whether failures of a run are written to the run log, and where; how many
// engines a run may use at once.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace gm {

struct AppState;
class SettingsStore;
class UserDialogs;

class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(AppState &state, SettingsStore &store, UserDialogs &dialogs, QWidget *parent = nullptr);

    // Command3: the file dialog for the log; a cancelled dialog keeps the typed path.
    void chooseLogFile();
    void confirm();

private:
    AppState &m_state;
    SettingsStore &m_store;
    UserDialogs &m_dialogs;
    QCheckBox *m_log;
    QLineEdit *m_logFile;
    QSpinBox *m_jobs;
};

} // namespace gm
