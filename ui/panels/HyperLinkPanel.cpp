#include "ui/panels/HyperLinkPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/HyperLinkOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace gm {

using namespace controls;

HyperLinkPanel::HyperLinkPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraHyperLink"), QStringLiteral("批量取消超链接 批量设置或取消工作簿共享"), context,
                   parent)
{
    auto *layout = grid(this);
    auto *kill = m_kill = option(QStringLiteral("OptKillHyperlink"), QStringLiteral("批量取消文档中所有超链接"), this, true);
    auto *share = m_share = option(QStringLiteral("OptShared"),
                         QStringLiteral("批量允许多用户同时编辑工作簿（同时允许工作簿合并）"), this);
    auto *exclusive = option(QStringLiteral("OptExclusiveAccess"), QStringLiteral("批量取消工作簿多用户共享"), this);
    auto *actions = new QButtonGroup(this);
    for (QRadioButton *action : {kill, share, exclusive})
        actions->addButton(action);

    auto *readOnly = new QFrame(this);
    readOnly->setObjectName(QStringLiteral("FraReadOnly"));
    readOnly->setFrameShape(QFrame::StyledPanel);
    auto *readOnlyRow = row(readOnly);
    readOnlyRow->setContentsMargins(6, 2, 6, 2);
    m_skip = option(QStringLiteral("OptRSkip"), QStringLiteral("跳过"), readOnly, true);
    auto *makeWritable = option(QStringLiteral("OptRWrite"), QStringLiteral("改为可写文件处理"), readOnly);
    auto *policy = new QButtonGroup(this);
    policy->addButton(m_skip);
    policy->addButton(makeWritable);
    readOnlyRow->addWidget(label(QStringLiteral("对只读文件："), readOnly));
    readOnlyRow->addWidget(m_skip);
    readOnlyRow->addWidget(makeWritable);
    readOnlyRow->addStretch();

    layout->addWidget(kill, 0, 0);
    layout->addWidget(share, 1, 0);
    layout->addWidget(exclusive, 2, 0);
    layout->addWidget(readOnly, 3, 0);
    m_command = button(QStringLiteral("CmdHyperLink"), QStringLiteral("处理"), this);
    layout->addWidget(m_command, 4, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(4, 1);
    connect(m_command, &QPushButton::clicked, this, &HyperLinkPanel::process);
    registerCommand(m_command, true);
}

void HyperLinkPanel::process()
{
    HyperLinkInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.action = m_kill->isChecked() ? LinkAction::RemoveHyperlinks
        : m_share->isChecked()          ? LinkAction::Share
                                        : LinkAction::Unshare;
    inputs.skipReadOnly = skipReadOnly();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kHyperLinkEmptyList))
        return;
    setCommandWanted(m_command, false);
    const RunSettings settings = m_context.state.runSettings();
    auto finished = [this] { setCommandWanted(m_command, true); };
    if (!m_context.runner.start([inputs, settings](UserInterface &ui) { runHyperLinks(inputs, ui, settings); }, finished))
        finished();
}

bool HyperLinkPanel::skipReadOnly() const
{
    return m_skip->isChecked();
}

} // namespace gm
