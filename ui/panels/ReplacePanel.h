#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace gm {

// fraReplace: finds cells that equal or contain a text and writes a replacement into them.
class ReplacePanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit ReplacePanel(PanelContext &context, QWidget *parent = nullptr);

    // The column limits offer A to Z, and the "to" field also AA to AZ.
    void fillColumnLists();
    // Checks the inputs and starts the replacement over the listed workbooks.
    void replace();

private:
    QLineEdit *m_find;
    QLineEdit *m_newText;
    QRadioButton *m_include;
    QCheckBox *m_matchCase;
    QCheckBox *m_ignoreReturn;
    QCheckBox *m_rowScope;
    QCheckBox *m_columnScope;
    QLineEdit *m_row1;
    QLineEdit *m_row2;
    QComboBox *m_column1;
    QComboBox *m_column2;
};

} // namespace gm
