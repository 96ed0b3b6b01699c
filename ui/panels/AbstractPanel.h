#pragma once

#include "app/PanelMemory.h"
#include "ui/panels/FeaturePanel.h"

#include <array>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace gm {

// fraAbstract: nine summary properties, each ticked to be written with its text. The texts
// and ticks are kept from one start of the program to the next.
class AbstractPanel : public FeaturePanel
{
    Q_OBJECT

public:
    explicit AbstractPanel(PanelContext &context, QWidget *parent = nullptr);

    void restore(const PanelMemory &memory);
    void collect(PanelMemory &memory) const;

private:
    void updateCommand();
    void setAbstract();

    std::array<QCheckBox *, kPropertyCount> m_checks{};
    std::array<QLineEdit *, kPropertyCount> m_texts{};
    QPushButton *m_command;
    bool m_running = false; // CmdSetAbstract stays disabled while its run lasts
};

} // namespace gm
