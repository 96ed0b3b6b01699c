#pragma once

#include "automation/KeyFilters.h"
#include "operations/cells/RowsColumnsOperation.h"
#include "ui/panels/FeaturePanel.h"

#include <array>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace gm {

// fraBatchColsAndRows: hides, deletes or resizes runs of rows and columns in the chosen
// worksheets. Each of the three modes brings its own group of fields into view.
class ColsRowsPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit ColsRowsPanel(PanelContext &context, QWidget *parent = nullptr);

    // The selected mode, or -1 while none is chosen.
    int mode() const;
    // What the controls hold, as a run takes it.
    RowsColumnsInputs inputs() const;

private:
    QWidget *buildGroup(int mode);
    void addRun(QGridLayout *layout, int gridRow, QCheckBox *check, const QString &fromName,
                const QString &toName, KeyFilter filter, const QString &hint, QWidget *owner);
    void updateCommand();
    void run();

    QButtonGroup *m_sheets;
    QComboBox *m_sheetName;
    QButtonGroup *m_modes;
    QLineEdit *m_height = nullptr;
    QLineEdit *m_width = nullptr;
    bool m_running = false;
    QStackedWidget *m_groups;
    std::array<std::array<QCheckBox *, 2>, 3> m_checks{};
    QPushButton *m_command;
};

} // namespace gm
