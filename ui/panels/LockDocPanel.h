#pragma once

#include "ui/panels/FeaturePanel.h"

namespace gm {

// fraLockDoc: sets one open or modify password on every listed workbook.
class LockDocPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit LockDocPanel(PanelContext &context, QWidget *parent = nullptr);
};

} // namespace gm
