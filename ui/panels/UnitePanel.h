#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gm {

// FraUnite: copies every worksheet of every listed workbook into one new workbook.
class UnitePanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit UnitePanel(PanelContext &context, QWidget *parent = nullptr);

    // The save dialog of CmdUnitePath; its answer (empty when cancelled) fills txtUniteFile.
    void chooseTarget();

private:
    void runMerge();

    QLineEdit *m_target;
    QCheckBox *m_bookName;
    QCheckBox *m_skipBlank;
    QPushButton *m_command;
};

} // namespace gm
