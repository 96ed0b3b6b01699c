#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace gm {

// FraBatchRename: renames the listed files on disk by replacing, inserting or deleting
// characters, or by changing letter case. One of three boxes shows the chosen kind's fields.
class BatchRenamePanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit BatchRenamePanel(PanelContext &context, QWidget *parent = nullptr);

    // Shows only the replace box, as at start.
    void showFirstBox();

private:
    void chooseReplace();
    void chooseInsertDelete();
    void chooseCase();
    void applyInsertOrDelete();
    void updateCaseCommand();
    void renameDocuments();

    QStackedWidget *m_boxes;
    QRadioButton *m_replace;
    QRadioButton *m_insertDelete;
    QRadioButton *m_case;
    QLineEdit *m_search;
    QLineEdit *m_replacement;
    QCheckBox *m_replaceAll;
    QRadioButton *m_insert;
    QRadioButton *m_delete;
    QLineEdit *m_insertPos;
    QLineEdit *m_insertText;
    QLineEdit *m_deletePos;
    QLineEdit *m_deleteCount;
    QComboBox *m_prefix;
    QComboBox *m_suffix;
    QPushButton *m_rename;
};

} // namespace gm
