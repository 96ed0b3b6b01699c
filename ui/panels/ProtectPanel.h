#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace gm {

// fraProtect: protects every listed workbook's structure or windows, or all its worksheets
// with the chosen permissions.
class ProtectPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit ProtectPanel(PanelContext &context, QWidget *parent = nullptr);

    // Worksheet protection needs version 10 or later; otherwise its option and list are off.
    void applyVersionGate(bool passwordsAvailable);

private:
    void protect();

    QRadioButton *m_book;
    QCheckBox *m_structure;
    QCheckBox *m_windows;
    QListWidget *m_allowed;
    QLineEdit *m_password;
    QPushButton *m_command;
};

} // namespace gm
