#pragma once

#include "ui/panels/FeaturePanel.h"

class QPushButton;
class QRadioButton;

namespace gm {

// fraHyperLink: removes all hyperlinks, or switches workbook sharing on or off. Its read-only
// pair also decides for the header and footer operation.
class HyperLinkPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit HyperLinkPanel(PanelContext &context, QWidget *parent = nullptr);

    bool skipReadOnly() const;

private:
    // CmdHyperLink: the chosen action over the document list; the command stays disabled
    // until the run ended.
    void process();

    QRadioButton *m_kill;
    QRadioButton *m_share;
    QRadioButton *m_skip;
    QPushButton *m_command;
};

} // namespace gm
