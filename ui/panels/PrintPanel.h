#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace gm {

// fraPrint: batch printing above the line, print area and page orientation below it.
class PrintPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit PrintPanel(PanelContext &context, QWidget *parent = nullptr);

private:
    void updatePageSetup();
    void setPageSetup();
    void print();

    QCheckBox *m_printSheets;
    QLineEdit *m_sheetIndex;
    QLineEdit *m_copies;
    QPushButton *m_print;
    QCheckBox *m_area;
    QLineEdit *m_topLeft;
    QLineEdit *m_bottomRight;
    QCheckBox *m_orientation;
    QRadioButton *m_portrait;
    QRadioButton *m_landscape;
    QPushButton *m_setPage;
    bool m_running = false; // CmdPrintArea stays disabled while its run lasts
};

} // namespace gm
