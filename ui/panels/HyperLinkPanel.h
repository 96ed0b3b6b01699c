#pragma once

#include "ui/panels/FeaturePanel.h"

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
    QRadioButton *m_skip;
};

} // namespace gm
