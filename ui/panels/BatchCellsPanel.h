#pragma once

#include "ui/panels/FeaturePanel.h"

#include <QPointer>

class QTreeWidget;

namespace gm {

class CellDialog;

// fraBatchCells: a list of cells (row, column, content) written into the chosen worksheets of
// every listed workbook. Entries are added, edited and deleted through the cell dialog.
class BatchCellsPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit BatchCellsPanel(PanelContext &context, QWidget *parent = nullptr);

    struct Entry
    {
        QString row;
        QString column;
        QString content;
    };
    QList<Entry> entries() const;

    void addEntry();
    void deleteEntry();
    void editEntry();

private:
    // Shows the cell dialog; false when it was cancelled (the dialog is then discarded and
    // its fields read as empty).
    bool showCellDialog();

    QTreeWidget *m_list;
    QPointer<CellDialog> m_dialog;
};

} // namespace gm
