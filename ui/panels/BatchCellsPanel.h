#pragma once

#include "operations/cells/CellListFile.h"
#include "ui/panels/FeaturePanel.h"

#include <QPointer>

class QButtonGroup;
class QLineEdit;
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

    using Entry = CellListEntry;
    QList<Entry> entries() const;
    // Replaces the whole list.
    void setEntries(const QList<Entry> &entries);

    void addEntry();
    void deleteEntry();
    void editEntry();
    // Saves the list to a cell list file chosen in the save dialog.
    void exportList();
    // Replaces the list with the entries of a cell list file chosen in the open dialog; a file
    // that cannot be read as one is refused with a message and the list stays as it was.
    void importList();
    // Checks the inputs and starts writing the list into the listed workbooks.
    void setCells();

private:
    // Shows the cell dialog; false when it was cancelled (the dialog is then discarded and
    // its fields read as empty).
    bool showCellDialog();

    QTreeWidget *m_list;
    QButtonGroup *m_sheets;
    QLineEdit *m_sheetName;
    QPointer<CellDialog> m_dialog;
};

} // namespace gm
