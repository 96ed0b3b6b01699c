#pragma once

#include "ui/panels/FeaturePanel.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace gm {

// FraConvert: converts every listed workbook to the chosen format into one output folder.
class ConvertPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit ConvertPanel(PanelContext &context, QWidget *parent = nullptr);

    // Fills LstFileType; the two workbook formats are listed only when .xlsx is available.
    void fillTargets(bool xlsxAvailable);

private:
    void chooseFolder();
    void convert();

    QListWidget *m_types;
    QLineEdit *m_out;
    QPushButton *m_convert;
};

} // namespace gm
