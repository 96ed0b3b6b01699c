#pragma once

#include "ui/FeaturePanel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gm {

// fraHeaderFooter: copies the headers and/or footers of a template workbook onto every
// worksheet of every listed workbook.
class HeaderFooterPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit HeaderFooterPanel(PanelContext &context, QWidget *parent = nullptr);

    // The open dialog of Command1; its answer (empty when cancelled) fills the template box.
    void chooseTemplate();

private:
    QLineEdit *m_template;
    QCheckBox *m_header;
    QCheckBox *m_footer;
    QPushButton *m_command;
};

} // namespace gm
