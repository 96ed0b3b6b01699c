#include "ui/panels/BatchCellsPanel.h"

#include "ui/Controls.h"
#include "app/AppState.h"
#include "automation/BatchFrame.h"
#include "doclist/DocumentListModel.h"
#include "operations/cells/SetCellsOperation.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"
#include "ui/dialogs/CellDialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace gm {

using namespace controls;

BatchCellsPanel::BatchCellsPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraBatchCells"), QStringLiteral("批量设置单元格内容"), context, parent)
{
    auto *layout = grid(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setHeaderLabels({QStringLiteral("行号"), QStringLiteral("列号"), QStringLiteral("内容")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setAllColumnsShowFocus(true);
    m_list->header()->resizeSection(0, 60);
    m_list->header()->resizeSection(1, 60);

    const QStringList captions{QStringLiteral("添加"), QStringLiteral("删除"), QStringLiteral("编辑"),
                               QStringLiteral("导出"), QStringLiteral("导入")};
    auto *buttons = column();
    QList<QPushButton *> listButtons;
    for (int i = 0; i < captions.size(); ++i) {
        auto *listButton = button(indexed(QStringLiteral("CmdRepListView"), i), captions.at(i), this);
        buttons->addWidget(listButton);
        listButtons.append(listButton);
    }
    buttons->addStretch();

    auto *activeSheet = option(indexed(QStringLiteral("OptBatchCells"), 0), QStringLiteral("设置文档活动工作表"), this,
                               true);
    auto *allSheets = option(indexed(QStringLiteral("OptBatchCells"), 1), QStringLiteral("设置文档所有工作表"), this);
    auto *namedSheets = option(indexed(QStringLiteral("OptBatchCells"), 2), QStringLiteral("设置名称为"), this);
    auto *sheets = new QButtonGroup(this);
    sheets->addButton(activeSheet, 0);
    sheets->addButton(allSheets, 1);
    sheets->addButton(namedSheets, 2);
    m_sheets = sheets;
    auto *sheetName = edit(QStringLiteral("txtBatchCellsSheet"), this);
    m_sheetName = sheetName;
    auto *command = button(QStringLiteral("CmdBatchCells"), QStringLiteral("设置"), this);

    auto *sheetChoice = column();
    sheetChoice->addWidget(activeSheet);
    sheetChoice->addWidget(allSheets);
    auto *namedRow = row();
    namedRow->addWidget(namedSheets);
    namedRow->addWidget(sheetName, 1);
    namedRow->addWidget(label(QStringLiteral("的工作表"), this));
    sheetChoice->addLayout(namedRow);
    sheetChoice->addStretch();

    layout->addWidget(label(QStringLiteral("单元格内容："), this), 0, 0);
    layout->addWidget(m_list, 1, 0, 2, 1);
    layout->addLayout(buttons, 1, 1, 2, 1);
    layout->addLayout(sheetChoice, 1, 2);
    layout->addWidget(command, 2, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(2, 2);
    layout->setRowStretch(1, 1);

    connect(listButtons.at(0), &QPushButton::clicked, this, &BatchCellsPanel::addEntry);
    connect(listButtons.at(1), &QPushButton::clicked, this, &BatchCellsPanel::deleteEntry);
    connect(listButtons.at(2), &QPushButton::clicked, this, &BatchCellsPanel::editEntry);
    connect(listButtons.at(3), &QPushButton::clicked, this, &BatchCellsPanel::exportList);
    connect(listButtons.at(4), &QPushButton::clicked, this, &BatchCellsPanel::importList);
    connect(command, &QPushButton::clicked, this, &BatchCellsPanel::setCells);
    registerCommand(command, true);
}

QList<BatchCellsPanel::Entry> BatchCellsPanel::entries() const
{
    QList<Entry> result;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_list->topLevelItem(i);
        result.append({item->text(0), item->text(1), item->text(2)});
    }
    return result;
}

void BatchCellsPanel::setEntries(const QList<Entry> &entries)
{
    m_list->clear();
    for (const Entry &entry : entries) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, entry.row);
        item->setText(1, entry.column);
        item->setText(2, entry.content);
    }
}

void BatchCellsPanel::exportList()
{
    FileDialogRequest request;
    request.filter = kCellListFilter;
    request.defaultSuffix = QStringLiteral("xml");
    const QString chosen = m_context.dialogs.saveFileName(window(), request, true);
    if (chosen.trimmed().isEmpty())
        return;
    const QString failure = writeCellListFile(chosen, entries());
    if (!failure.isEmpty())
        inform(failure);
}

void BatchCellsPanel::importList()
{
    FileDialogRequest request;
    request.filter = kCellListFilter;
    request.defaultSuffix = QStringLiteral("xml");
    const QString chosen = m_context.dialogs.openFileName(window(), request);
    if (chosen.trimmed().isEmpty())
        return;
    const CellListRead read = readCellListFile(chosen);
    if (!read.entries) {
        inform(read.message);
        return;
    }
    setEntries(*read.entries);
}

void BatchCellsPanel::setCells()
{
    SetCellsInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.cells = entries();
    inputs.sheets = CellSheets(std::max(m_sheets->checkedId(), 0));
    inputs.sheetName = m_sheetName->text();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kSetCellsEmptyList))
        return;
    if (const Validation failure = validateSetCells(inputs)) {
        showFailure(*failure);
        return;
    }
    // The runner keeps the window from taking commands until the run has ended.
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { runSetCells(inputs, ui, settings); });
}

bool BatchCellsPanel::showCellDialog()
{
    if (m_dialog->exec() == QDialog::Accepted)
        return true;
    m_dialog->deleteLater();
    m_dialog.clear();
    return false;
}

void BatchCellsPanel::addEntry()
{
    if (!m_dialog)
        m_dialog = new CellDialog(m_context.dialogs, window());
    m_dialog->clearFields();
    if (!showCellDialog())
        return;
    if (m_dialog->row().isEmpty() || m_dialog->column().isEmpty())
        return;
    auto *item = new QTreeWidgetItem(m_list);
    item->setText(0, m_dialog->row());
    item->setText(1, m_dialog->column());
    item->setText(2, m_dialog->content());
}

void BatchCellsPanel::deleteEntry()
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    delete selected.constFirst();
}

void BatchCellsPanel::editEntry()
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem *item = selected.constFirst();
    if (!m_dialog)
        m_dialog = new CellDialog(m_context.dialogs, window());
    m_dialog->setEntry(item->text(0), item->text(1), item->text(2));
    if (!showCellDialog())
        return;
    if (m_dialog->row().isEmpty() || m_dialog->column().isEmpty())
        return;
    item->setText(0, m_dialog->row());
    item->setText(1, m_dialog->column());
    item->setText(2, m_dialog->content());
}

} // namespace gm
