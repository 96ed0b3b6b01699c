#include "ui/panels/FeaturePanel.h"

#include "ui/UserDialogs.h"

#include <QPushButton>

namespace gm {

FeaturePanel::FeaturePanel(const QString &name, const QString &caption, PanelContext &context, QWidget *parent)
    : QGroupBox(caption, parent)
    , m_context(context)
{
    setObjectName(name);
}

QPushButton *FeaturePanel::findCommand(const QString &buttonName) const
{
    for (auto it = m_commands.cbegin(); it != m_commands.cend(); ++it) {
        if (it.key()->objectName() == buttonName)
            return it.key();
    }
    return nullptr;
}

bool FeaturePanel::commandWanted(const QString &buttonName) const
{
    QPushButton *button = findCommand(buttonName);
    return button && m_commands.value(button).wanted;
}

bool FeaturePanel::commandAvailable(const QString &buttonName) const
{
    QPushButton *button = findCommand(buttonName);
    return button && m_commands.value(button).available;
}

void FeaturePanel::registerCommand(QPushButton *button, bool available, bool wanted)
{
    m_commands.insert(button, CommandState{available, wanted});
    if (!available)
        button->setToolTip(kNotAvailableYet);
    apply(button);
}

void FeaturePanel::setCommandWanted(QPushButton *button, bool wanted)
{
    auto it = m_commands.find(button);
    if (it == m_commands.end())
        return;
    it->wanted = wanted;
    apply(button);
}

void FeaturePanel::apply(QPushButton *button)
{
    const CommandState state = m_commands.value(button);
    button->setEnabled(state.available && state.wanted);
}

void FeaturePanel::showFailure(const ValidationFailure &failure)
{
    inform(failure.message);
    if (failure.control.isEmpty())
        return;
    if (auto *control = findChild<QWidget *>(failure.control)) {
        control->setFocus(Qt::OtherFocusReason);
    }
}

void FeaturePanel::inform(const QString &text)
{
    m_context.dialogs.inform(window(), text);
}

} // namespace gm
