#include "ui/panels/AbstractPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/PropertiesOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

namespace gm {

using namespace controls;

AbstractPanel::AbstractPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraAbstract"), QStringLiteral("批量设置“属性：摘要”"), context, parent)
{
    auto *layout = grid(this);
    const std::array<const char16_t *, kPropertyCount> captions{
        u"标题：", u"主题：", u"作者：", u"类别：", u"关键字：", u"备注：", u"经理/主管：", u"单位：", u"超链接基础："};
    for (int i = 0; i < kPropertyCount; ++i) {
        m_checks[i] = check(indexed(QStringLiteral("ChkProperty"), i), QString::fromUtf16(captions[i]), this);
        m_texts[i] = edit(indexed(QStringLiteral("txtProperty"), i), this);
        const int gridRow = i / 3;
        const int gridColumn = (i % 3) * 2;
        layout->addWidget(m_checks[i], gridRow, gridColumn);
        layout->addWidget(m_texts[i], gridRow, gridColumn + 1);
        layout->setColumnStretch(gridColumn + 1, 1);
        connect(m_checks[i], &QCheckBox::toggled, this, &AbstractPanel::updateCommand);
    }
    m_command = button(QStringLiteral("CmdSetAbstract"), QStringLiteral("设置"), this);
    layout->addWidget(m_command, 3, 5, Qt::AlignRight | Qt::AlignBottom);
    layout->setRowStretch(3, 1);
    connect(m_command, &QPushButton::clicked, this, &AbstractPanel::setAbstract);
    registerCommand(m_command, true, false);
}

void AbstractPanel::updateCommand()
{
    bool any = false;
    for (QCheckBox *box : m_checks)
        any = any || box->isChecked();
    setCommandWanted(m_command, any && !m_running);
}

void AbstractPanel::setAbstract()
{
    PropertiesInputs inputs;
    inputs.entries = m_context.documents.entries();
    for (int i = 0; i < kPropertyCount; ++i) {
        inputs.checked[size_t(i)] = m_checks[i]->isChecked();
        inputs.values[size_t(i)] = m_texts[i]->text();
    }
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kPropertiesEmptyList))
        return;

    m_running = true;
    updateCommand();
    const RunSettings settings = m_context.state.runSettings();
    // Afterwards the command is enabled again only while a box is still ticked.
    auto finished = [this] {
        m_running = false;
        updateCommand();
    };
    if (!m_context.runner.start([inputs, settings](UserInterface &ui) { runProperties(inputs, ui, settings); }, finished))
        finished();
}

void AbstractPanel::restore(const PanelMemory &memory)
{
    for (int i = 0; i < kPropertyCount; ++i)
        m_texts[i]->setText(memory.properties[size_t(i)]);
    if (memory.abstractMask == 0) {
        setCommandWanted(m_command, false);
        return;
    }
    for (int i = 0; i < kPropertyCount; ++i)
        m_checks[i]->setChecked(memory.propertyChecked(i));
    updateCommand();
}

void AbstractPanel::collect(PanelMemory &memory) const
{
    std::array<bool, kPropertyCount> checked{};
    for (int i = 0; i < kPropertyCount; ++i) {
        memory.properties[size_t(i)] = m_texts[i]->text();
        checked[size_t(i)] = m_checks[i]->isChecked();
    }
    memory.abstractMask = propertyMask(checked);
}

} // namespace gm
