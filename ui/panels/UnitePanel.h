#pragma once

#include "ui/panels/FeaturePanel.h"

class QLineEdit;

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
    QLineEdit *m_target;
};

} // namespace gm
