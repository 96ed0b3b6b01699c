#include "ui/panels/HeaderFooterPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/HeaderFooterOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"
#include "ui/panels/HyperLinkPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gm {

using namespace controls;

HeaderFooterPanel::HeaderFooterPanel(PanelContext &context, const HyperLinkPanel &readOnlyOptions, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraHeaderFooter"), QStringLiteral("批量自定义页眉页脚"), context, parent),
      m_readOnlyOptions(readOnlyOptions)
{
    auto *layout = grid(this);
    m_template = edit(QStringLiteral("txtHeaderFooterTemplate"), this);
    auto *templateButton = chooser(QStringLiteral("Command1"), this);
    m_header = check(QStringLiteral("ChkHeader"), QStringLiteral("根据模板批量自定义页眉"), this, true);
    m_footer = check(QStringLiteral("ChkFooter"), QStringLiteral("根据模板批量自定义页脚"), this, true);
    m_command = button(QStringLiteral("CmdHeaderFooter"), QStringLiteral("设置"), this);
    auto *note = label(QStringLiteral("注意：本软件暂不能支持批量设置图像类页眉、页脚功能。"), this);
    note->setStyleSheet(QStringLiteral("color: #b71c1c;"));

    layout->addWidget(label(QStringLiteral("根据下面的Excel文件批量自定义页眉页脚："), this), 0, 0, 1, 2);
    layout->addWidget(m_template, 1, 0);
    layout->addWidget(templateButton, 1, 1);
    layout->addWidget(m_header, 2, 0);
    layout->addWidget(m_footer, 3, 0);
    layout->addWidget(note, 4, 0);
    layout->addWidget(m_command, 4, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(4, 1);

    auto update = [this] { setCommandWanted(m_command, m_header->isChecked() || m_footer->isChecked()); };
    connect(m_header, &QCheckBox::toggled, this, update);
    connect(m_footer, &QCheckBox::toggled, this, update);
    connect(templateButton, &QPushButton::clicked, this, &HeaderFooterPanel::chooseTemplate);
    connect(m_command, &QPushButton::clicked, this, &HeaderFooterPanel::setHeaderFooter);
    registerCommand(m_command, true);
}

void HeaderFooterPanel::chooseTemplate()
{
    FileDialogRequest request;
    request.title = QStringLiteral("选择设置好页眉页脚的模板");
    request.filter = m_context.state.XlsxAvailable ? QStringLiteral("Microsft Excel文件(*.xls;*.xlsx)|*.xls;*.xlsx")
                                                : QStringLiteral("Microsft Excel文件(*.xls)|*.xls");
    const QString chosen = m_context.dialogs.openFileName(window(), request);
    if (!chosen.isEmpty())
        m_template->setText(chosen);
}

void HeaderFooterPanel::setHeaderFooter()
{
    HeaderFooterInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.templatePath = m_template->text();
    inputs.header = m_header->isChecked();
    inputs.footer = m_footer->isChecked();
    inputs.makeWritable = !m_readOnlyOptions.skipReadOnly();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kHeaderFooterEmptyList))
        return;
    if (const Validation failure = validateHeaderFooter(inputs)) {
        showFailure(*failure);
        return;
    }
    // The command itself stays enabled during the run; the runner keeps the window from
    // taking commands until it has ended.
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { runHeaderFooter(inputs, ui, settings); });
}

} // namespace gm
