#pragma once

#include "ui/panels/FeaturePanel.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gm {

class HyperLinkPanel;

// fraHeaderFooter: copies the headers and/or footers of a template workbook onto every
// worksheet of every listed workbook. It has no read-only options of its own: the pair on the
// hyperlink panel decides for it.
class HeaderFooterPanel : public FeaturePanel
{
    Q_OBJECT

public:
    HeaderFooterPanel(PanelContext &context, const HyperLinkPanel &readOnlyOptions, QWidget *parent = nullptr);

    // The open dialog of Command1; its answer (empty when cancelled) fills the template box.
    void chooseTemplate();

private:
    void setHeaderFooter();

    const HyperLinkPanel &m_readOnlyOptions;
    QLineEdit *m_template;
    QCheckBox *m_header;
    QCheckBox *m_footer;
    QPushButton *m_command;
};

} // namespace gm
