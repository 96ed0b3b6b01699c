#pragma once

#include "app/PanelMemory.h"
#include "ui/panels/FeaturePanel.h"

#include <array>
#include <functional>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace gm {

class UserInterface;

// fraBatchSheet: six option buttons choose one of six sub-panels (delete, insert, rename,
// background, hide, unhide sheets). The chosen one, the rename mode and its texts are kept
// from one start of the program to the next.
class BatchSheetPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit BatchSheetPanel(PanelContext &context, QWidget *parent = nullptr);

    // Selects an operation as a click on its option button would.
    void selectOperation(SheetOperation operation);
    SheetOperation selectedOperation() const;
    // Selects and applies a rename mode (0: replace text in names, 1: name the active sheet).
    void selectRenameMode(int mode);
    int renameMode() const;

    // The start-up defaults, then the remembered inputs.
    void applyDefaults();
    void restore(const PanelMemory &memory);
    void collect(PanelMemory &memory) const;

private:
    QWidget *buildDelete();
    QWidget *buildInsert();
    QWidget *buildRename();
    QWidget *buildBackground();
    QWidget *buildHide();
    QWidget *buildUnhide();
    void applyDeleteChoice();
    void applyHideChoice();
    void applyUnhideChoice();
    void applyRenameMode(int mode);
    void chooseSource();
    void sourceChanged();
    void choosePicture();
    void runDelete();
    void runHide();
    void runUnhide();
    void runInsert();
    void runRename();
    void runBackground();
    // Runs work on the worker; the four command buttons stay disabled until it ended.
    void startRun(std::function<void(UserInterface &)> work);
    void applyRunning();

    QStackedWidget *m_subPanels;
    std::array<QPushButton *, 4> m_commands{}; // delete, hide, unhide, rename
    bool m_running = false;
    std::array<QRadioButton *, 6> m_operations{};
    std::array<QWidget *, 6> m_pages{};

    QRadioButton *m_deleteByName;
    QComboBox *m_deleteKind;
    QLineEdit *m_deleteText;
    QComboBox *m_deletePosition;

    QLineEdit *m_source;
    QListWidget *m_sourceSheets;
    QPushButton *m_insert;

    std::array<QRadioButton *, 2> m_renameModes{};
    QLineEdit *m_oldName;
    QLineEdit *m_newName;
    QLineEdit *m_activeName;

    QLineEdit *m_picture;
    QRadioButton *m_setBackground;
    QPushButton *m_background;

    QRadioButton *m_hideByName;
    QComboBox *m_hideKind;
    QLineEdit *m_hideText;
    QComboBox *m_hidePosition;

    QRadioButton *m_unhideByName;
    QComboBox *m_unhideKind;
    QLineEdit *m_unhideText;
};

} // namespace gm
