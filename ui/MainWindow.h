#pragma once

// The main window: toolbar, document list, the panel area with its fourteen operation panels,
// status bar and menus. It applies the start-up state to its controls and stores the page and
// panel inputs when it closes.

#include "app/AppState.h"
#include "app/PanelMemory.h"
#include "ui/panels/PanelContext.h"

#include <QHash>
#include <QMainWindow>

#include <memory>

class QAction;
class QActionGroup;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolBar;

namespace gm {

class AbstractPanel;
class BatchRenamePanel;
class BatchSheetPanel;
class ConvertPanel;
class DocumentListModel;
class DocumentListView;
class FeaturePanel;
class GuiUserInterface;
class ProtectPanel;
class RecentDocuments;
class RunController;
class SettingsStore;
class UserDialogs;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(AppState &state, SettingsStore &store, UserDialogs &dialogs, const PanelMemory &memory,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    DocumentListModel &documents() { return *m_documents; }
    RunController &runner() { return *m_runner; }

    // Lists the workbooks among `paths` (relative ones taken from the current folder) as a drop
    // would: other files, missing files, folders and paths already listed are passed over.
    void openDocuments(const QStringList &paths);

    // Document list commands of the toolbar.
    void AddDocuments();
    void AddFolderDocuments();
    void RemoveDocument();
    void RemoveAllDocuments();
    void ArrangeItem(int direction);
    void ShowDocumentCount();
    void ImportDocuments2Recent();
    void clearRecentDocuments();

    // Brings one panel into view and moves the others out of it.
    void fraPosition(QWidget *panel);
    QWidget *currentPanel() const;
    // Presses the toolbar button of that index (1-based) as a click would; only feature
    // buttons (8 to 22) bring a panel into view.
    void pressToolbarButton(int index);
    // Index of the pressed feature button, 0 when none is pressed.
    int pressedFeatureIndex() const;

    void setButtonLabels(bool on);
    // The toolbar button of an action, whichever row it sits in.
    QWidget *toolButton(QAction *action) const;
    void showOptions();
    void showAbout();
    void showHelp();

    PanelMemory collectMemory() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class ToolStyle { Plain, Group, DropDown, Separator, Hidden };
    struct ToolEntry;

    void buildToolbar();
    void buildMenus();
    void buildPanels(const PanelMemory &memory);
    void runToolKey(const QString &key);
    void showPanelForKey(const QString &key);
    void setHint(const QString &hint);
    void unifyCommandSizes();
    void arrangeToolbarRows();

    AppState &m_state;
    SettingsStore &m_store;
    UserDialogs &m_dialogs;
    std::unique_ptr<DocumentListModel> m_documents;
    std::unique_ptr<RecentDocuments> m_recent;

    // The toolbar is one row while its buttons fit the window's width, otherwise two: the
    // second starts at the sheet operations.
    QToolBar *m_toolbar = nullptr;
    QToolBar *m_toolbarRow2 = nullptr;
    QActionGroup *m_features = nullptr;
    QList<QAction *> m_toolActions; // by toolbar index - 1; null for separators
    QHash<QAction *, QString> m_hints;
    QAction *m_buttonLabels = nullptr;
    DocumentListView *m_list = nullptr;
    QStackedWidget *m_panelArea = nullptr;
    QLabel *m_statusPanel1 = nullptr;
    QLabel *m_statusPanel2 = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancelRun = nullptr; // shown while a run lasts

    GuiUserInterface *m_ui = nullptr;
    RunController *m_runner = nullptr;
    std::unique_ptr<PanelContext> m_context;
    QHash<QString, FeaturePanel *> m_panelsByKey;
    BatchSheetPanel *m_sheetPanel = nullptr;
    AbstractPanel *m_abstractPanel = nullptr;
    BatchRenamePanel *m_renamePanel = nullptr;
    ConvertPanel *m_convertPanel = nullptr;
    ProtectPanel *m_protectPanel = nullptr;
};

} // namespace gm
