#pragma once

// Base of the fourteen operation panels: a captioned frame in the panel area with one or
// more command buttons. A button whose operation is not available yet stays disabled and
// says so in its tooltip; otherwise it follows the panel's own enabling rules.

#include "operations/Validation.h"
#include "ui/panels/PanelContext.h"

#include <QGroupBox>
#include <QHash>

class QPushButton;

namespace gm {

inline const QString kNotAvailableYet = QStringLiteral("该功能尚未提供。");

class FeaturePanel : public QGroupBox
{
    Q_OBJECT

public:
    FeaturePanel(const QString &name, const QString &caption, PanelContext &context, QWidget *parent = nullptr);

    // Whether the panel's own rules enable the named command button (its operation's
    // availability aside).
    bool commandWanted(const QString &buttonName) const;
    bool commandAvailable(const QString &buttonName) const;

protected:
    void registerCommand(QPushButton *button, bool available, bool wanted = true);
    void setCommandWanted(QPushButton *button, bool wanted);

    // A validation failure: its message, then the focus on its control.
    void showFailure(const ValidationFailure &failure);
    void inform(const QString &text);

    PanelContext &m_context;

private:
    struct CommandState
    {
        bool available = false;
        bool wanted = true;
    };
    void apply(QPushButton *button);
    QPushButton *findCommand(const QString &buttonName) const;

    QHash<QPushButton *, CommandState> m_commands;
};

} // namespace gm
