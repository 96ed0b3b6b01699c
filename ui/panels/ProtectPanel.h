#pragma once

#include "ui/panels/FeaturePanel.h"

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
};

} // namespace gm
