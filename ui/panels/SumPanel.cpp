#include "ui/panels/SumPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/StatisticsOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gm {

using namespace controls;

SumPanel::SumPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraSum"), QStringLiteral("内容统计"), context, parent)
{
    auto *layout = grid(this);
    const QStringList captions{QStringLiteral("工作表数"), QStringLiteral("非空工作表数"), QStringLiteral("行数")};
    auto *itemRow = row();
    itemRow->addWidget(label(QStringLiteral("统计项："), this));
    for (int i = 0; i < 3; ++i) {
        m_items[size_t(i)] = check(indexed(QStringLiteral("ChkCount"), i), captions.at(i), this);
        itemRow->addWidget(m_items[size_t(i)]);
        itemRow->addSpacing(8);
        connect(m_items[size_t(i)], &QCheckBox::toggled, this, &SumPanel::updateCommand);
    }
    itemRow->addStretch();
    m_output = edit(QStringLiteral("txtCount"), this);
    auto *outputButton = chooser(QStringLiteral("CmdCountOutFile"), this);
    m_command = button(QStringLiteral("CmdSum"), QStringLiteral("统计"), this);

    layout->addLayout(itemRow, 0, 0, 1, 2);
    layout->addWidget(label(QStringLiteral("统计结果保存到文件："), this), 1, 0, 1, 2);
    layout->addWidget(m_output, 2, 0);
    layout->addWidget(outputButton, 2, 1);
    layout->addWidget(m_command, 3, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(3, 1);

    connect(outputButton, &QPushButton::clicked, this, &SumPanel::chooseOutput);
    connect(m_command, &QPushButton::clicked, this, &SumPanel::count);
    registerCommand(m_command, true, false);
}

void SumPanel::updateCommand()
{
    bool any = false;
    for (QCheckBox *item : m_items)
        any = any || item->isChecked();
    setCommandWanted(m_command, any);
}

void SumPanel::chooseOutput()
{
    FileDialogRequest request;
    request.title = QStringLiteral("保存");
    request.filter = QStringLiteral("文本文件(*.txt)|*.txt|文件(*.*)|*.*");
    const QString chosen = m_context.dialogs.saveFileName(window(), request, false);
    if (!chosen.isEmpty())
        m_output->setText(chosen);
}

void SumPanel::count()
{
    StatisticsInputs inputs;
    inputs.entries = m_context.documents.entries();
    for (int i = 0; i < kStatisticItems; ++i)
        inputs.items[size_t(i)] = m_items[size_t(i)]->isChecked();
    inputs.outputPath = m_output->text();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kStatisticsEmptyList))
        return;
    if (inputs.outputPath.trimmed().isEmpty()) {
        m_context.ui.inform(kStatisticsNoOutput);
        chooseOutput();
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { countContents(inputs, ui, settings); });
}

} // namespace gm
