#pragma once

#include "ui/panels/FeaturePanel.h"

class QLineEdit;
class QRadioButton;

namespace gm {

// fraLockDoc: sets one open or modify password on every listed workbook.
class LockDocPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit LockDocPanel(PanelContext &context, QWidget *parent = nullptr);

private:
    void lockDocuments();

    QRadioButton *m_modify;
    QLineEdit *m_password1;
    QLineEdit *m_password2;
    QRadioButton *m_makeWritable;
};

} // namespace gm
