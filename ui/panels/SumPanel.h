#pragma once

#include "ui/panels/FeaturePanel.h"

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gm {

// fraSum: counts worksheets, non-empty worksheets and rows of every listed workbook into a
// text report.
class SumPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit SumPanel(PanelContext &context, QWidget *parent = nullptr);

    // The save dialog of CmdCountOutFile; its answer (empty when cancelled) fills txtCount.
    void chooseOutput();

private:
    void updateCommand();
    void count();

    std::array<QCheckBox *, 3> m_items{};
    QLineEdit *m_output;
    QPushButton *m_command;
};

} // namespace gm
