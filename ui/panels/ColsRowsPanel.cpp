#include "ui/panels/ColsRowsPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/KeystrokeFilter.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

namespace gm {

using namespace controls;

namespace {
const QString kColumnHint = QStringLiteral("[列序号，如C-E列]");
const QString kRowHint = QStringLiteral("[行序号，如3-7列]");
} // namespace

ColsRowsPanel::ColsRowsPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraBatchColsAndRows"), QStringLiteral("批量行、列操作"), context, parent)
{
    auto *layout = grid(this);

    auto *sheetRow = row();
    auto *named = option(indexed(QStringLiteral("OptBatchColRowSheetName"), 0), QStringLiteral("指定名称："), this);
    auto *active = option(indexed(QStringLiteral("OptBatchColRowSheetName"), 1), QStringLiteral("活动工作表"), this,
                          true);
    auto *all = option(indexed(QStringLiteral("OptBatchColRowSheetName"), 2), QStringLiteral("所有工作表"), this);
    m_sheets = new QButtonGroup(this);
    m_sheets->addButton(named, 0);
    m_sheets->addButton(active, 1);
    m_sheets->addButton(all, 2);
    auto *sheetName = editableCombo(QStringLiteral("CmbSheetName"),
                                    {QStringLiteral("Sheet1"), QStringLiteral("Sheet2"), QStringLiteral("Sheet3")}, this);
    sheetName->setMinimumWidth(100);
    m_sheetName = sheetName;
    sheetRow->addWidget(label(QStringLiteral("要处理的工作表："), this));
    sheetRow->addWidget(named);
    sheetRow->addWidget(sheetName);
    sheetRow->addSpacing(12);
    sheetRow->addWidget(active);
    sheetRow->addWidget(all);
    sheetRow->addStretch();
    layout->addLayout(sheetRow, 0, 0, 1, 2);

    auto *modeRow = row();
    m_modes = new QButtonGroup(this);
    const QStringList captions{QStringLiteral("批量隐藏指定行、列"), QStringLiteral("批量删除指定行、列"),
                               QStringLiteral("批量设置行高、列宽")};
    for (int i = 0; i < captions.size(); ++i) {
        auto *mode = option(indexed(QStringLiteral("OpBatchColRow"), i), captions.at(i), this);
        m_modes->addButton(mode, i);
        modeRow->addWidget(mode);
        modeRow->addSpacing(12);
    }
    modeRow->addStretch();
    layout->addLayout(modeRow, 1, 0, 1, 2);

    // The groups lie on one another; before a mode is chosen an empty page is shown.
    m_groups = new QStackedWidget(this);
    m_groups->addWidget(new QWidget);
    for (int i = 0; i < 3; ++i)
        m_groups->addWidget(buildGroup(i));
    layout->addWidget(m_groups, 2, 0);

    m_command = button(QStringLiteral("CmdBatchColsAndRows"), QStringLiteral("处理"), this);
    layout->addWidget(m_command, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(2, 1);

    connect(m_modes, &QButtonGroup::idClicked, this, [this](int id) {
        m_groups->setCurrentIndex(id + 1);
        updateCommand();
    });
    connect(m_command, &QPushButton::clicked, this, &ColsRowsPanel::run);
    registerCommand(m_command, true, false);
}

void ColsRowsPanel::addRun(QGridLayout *layout, int gridRow, QCheckBox *check, const QString &fromName,
                           const QString &toName, KeyFilter filter, const QString &hint, QWidget *owner)
{
    auto *from = edit(fromName, owner);
    auto *to = edit(toName, owner);
    for (QLineEdit *field : {from, to}) {
        field->setMaximumWidth(60);
        KeystrokeFilter::install(field, filter, m_context.dialogs);
    }
    int column = 0;
    if (check)
        layout->addWidget(check, gridRow, column);
    layout->addWidget(from, gridRow, ++column);
    layout->addWidget(label(QStringLiteral("-"), owner), gridRow, ++column);
    layout->addWidget(to, gridRow, ++column);
    layout->addWidget(label(hint, owner), gridRow, ++column);
}

QWidget *ColsRowsPanel::buildGroup(int mode)
{
    auto *group = new QWidget;
    group->setObjectName(indexed(QStringLiteral("PicBatchColRow"), mode));
    auto *layout = grid(group);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString columnFrom = QStringLiteral("txtCol1");
    const QString columnTo = QStringLiteral("txtCol2");
    const QString rowFrom = QStringLiteral("txtRow1");
    const QString rowTo = QStringLiteral("txtRow2");

    if (mode == 0) {
        m_checks[0] = {check(QStringLiteral("ChkHideCols"), QStringLiteral("批量隐藏列："), group),
                       check(QStringLiteral("ChkHideRows"), QStringLiteral("批量隐藏行："), group)};
        addRun(layout, 0, m_checks[0][0], indexed(columnFrom, 0), indexed(columnTo, 0), KeyFilter::ColumnLetters,
               kColumnHint, group);
        addRun(layout, 1, m_checks[0][1], indexed(rowFrom, 1), indexed(rowTo, 1), KeyFilter::RowNumber, kRowHint, group);
    } else if (mode == 1) {
        m_checks[1] = {check(QStringLiteral("ChkDelCols"), QStringLiteral("批量删除列："), group),
                       check(QStringLiteral("ChkDelRows"), QStringLiteral("批量删除行："), group)};
        addRun(layout, 0, m_checks[1][0], indexed(columnFrom, 1), indexed(columnTo, 1), KeyFilter::ColumnLetters,
               kColumnHint, group);
        addRun(layout, 1, m_checks[1][1], indexed(rowFrom, 0), indexed(rowTo, 0), KeyFilter::RowNumber, kRowHint, group);
    } else {
        m_checks[2] = {check(QStringLiteral("ChkRowHeight"), QStringLiteral("批量设置行高："), group),
                       check(QStringLiteral("ChkColWidth"), QStringLiteral("批量设置列宽："), group)};
        auto *height = edit(QStringLiteral("txtRowHeight"), group);
        auto *width = edit(QStringLiteral("txtColWidth"), group);
        m_height = height;
        m_width = width;
        for (QLineEdit *size : {height, width}) {
            size->setMaximumWidth(60);
            KeystrokeFilter::install(size, KeyFilter::Size, m_context.dialogs);
        }
        layout->addWidget(m_checks[2][0], 0, 0);
        layout->addWidget(height, 0, 1, 1, 3);
        auto *rowRange = row();
        rowRange->addWidget(label(QStringLiteral("行范围："), group));
        layout->addLayout(rowRange, 0, 5);
        auto *rowFields = new QGridLayout;
        rowFields->setSpacing(4);
        addRun(rowFields, 0, nullptr, indexed(rowFrom, 2), indexed(rowTo, 2), KeyFilter::RowNumber, kRowHint, group);
        layout->addLayout(rowFields, 0, 6);
        layout->addWidget(m_checks[2][1], 1, 0);
        layout->addWidget(width, 1, 1, 1, 3);
        layout->addWidget(label(QStringLiteral("列范围："), group), 1, 5);
        auto *columnFields = new QGridLayout;
        columnFields->setSpacing(4);
        addRun(columnFields, 0, nullptr, indexed(columnFrom, 2), indexed(columnTo, 2), KeyFilter::ColumnLetters,
               kColumnHint, group);
        layout->addLayout(columnFields, 1, 6);
        layout->setColumnMinimumWidth(4, 16);
    }
    layout->setColumnStretch(9, 1);
    layout->setRowStretch(2, 1);
    for (QCheckBox *box : m_checks[size_t(mode)])
        connect(box, &QCheckBox::toggled, this, &ColsRowsPanel::updateCommand);
    return group;
}

int ColsRowsPanel::mode() const
{
    return m_modes->checkedId();
}

void ColsRowsPanel::updateCommand()
{
    const int selected = mode();
    bool wanted = false;
    if (selected >= 0 && selected < 3)
        wanted = m_checks[size_t(selected)][0]->isChecked() || m_checks[size_t(selected)][1]->isChecked();
    setCommandWanted(m_command, wanted && !m_running);
}

RowsColumnsInputs ColsRowsPanel::inputs() const
{
    RowsColumnsInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.sheets = RowsColumnsSheets(m_sheets->checkedId());
    inputs.sheetName = m_sheetName->currentText();
    const int selected = mode();
    inputs.mode = RowsColumnsMode(selected);
    if (selected < 0 || selected > 2)
        return inputs;
    // The size group's check boxes come rows first.
    const auto &checks = m_checks[size_t(selected)];
    inputs.columns = (selected == 2 ? checks[1] : checks[0])->isChecked();
    inputs.rows = (selected == 2 ? checks[0] : checks[1])->isChecked();
    const RowsColumnsFields fields = rowsColumnsFields(inputs.mode);
    auto text = [this](const QString &name) {
        const auto *field = findChild<QLineEdit *>(name);
        return field ? field->text() : QString();
    };
    inputs.columnFrom = text(fields.columnFrom);
    inputs.columnTo = text(fields.columnTo);
    inputs.rowFrom = text(fields.rowFrom);
    inputs.rowTo = text(fields.rowTo);
    inputs.height = m_height->text();
    inputs.width = m_width->text();
    return inputs;
}

void ColsRowsPanel::run()
{
    const RowsColumnsInputs taken = inputs();
    if (!BatchFrame::checkList(m_context.ui, taken.entries, kRowsColumnsEmptyList))
        return;
    if (const Validation failure = validateRowsColumnsSheets(taken)) {
        showFailure(*failure);
        return;
    }
    if (rowsColumnsDeletes(taken)) {
        const MessageRequest question{QMessageBox::Information, kRowsColumnsConfirmCaption, kRowsColumnsConfirmDelete,
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel};
        if (m_context.dialogs.message(window(), question) != QMessageBox::Ok)
            return;
    }
    if (const Validation failure = validateRowsColumns(taken)) {
        showFailure(*failure);
        return;
    }
    m_running = true;
    updateCommand();
    const RunSettings settings = m_context.state.runSettings();
    auto finished = [this] {
        m_running = false;
        updateCommand();
    };
    if (!m_context.runner.start([taken, settings](UserInterface &ui) { runRowsColumns(taken, ui, settings); }, finished))
        finished();
}

} // namespace gm
