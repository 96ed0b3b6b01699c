#include "ui/panels/UnitePanel.h"

#include "app/AppState.h"
#include "ui/Controls.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gm {

using namespace controls;

UnitePanel::UnitePanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("FraUnite"), QStringLiteral("工作表合并"), context, parent)
{
    auto *layout = grid(this);
    m_target = edit(QStringLiteral("txtUniteFile"), this);
    auto *targetButton = chooser(QStringLiteral("CmdUnitePath"), this);
    auto *bookName = check(QStringLiteral("ChkBookName"),
                           QStringLiteral("根据原文件名命名工作表（工作表名称长度不应超过31个字符）"), this);
    auto *skipBlank = check(QStringLiteral("ChkDelBlank"), QStringLiteral("不合并内容为空的工作表"), this);
    // Starts grayed, which counts as set; the first click makes it an ordinary check box.
    skipBlank->setTristate(true);
    skipBlank->setCheckState(Qt::PartiallyChecked);
    connect(skipBlank, &QCheckBox::clicked, skipBlank, [skipBlank] { skipBlank->setTristate(false); });

    layout->addWidget(label(QStringLiteral("将上述多个电子表格文件合并到新文件："), this), 0, 0, 1, 2);
    layout->addWidget(m_target, 1, 0);
    layout->addWidget(targetButton, 1, 1);
    layout->addWidget(bookName, 2, 0, 1, 2);
    layout->addWidget(skipBlank, 3, 0, 1, 2);
    auto *command = button(QStringLiteral("CmdUnite"), QStringLiteral("合并(&U)"), this);
    layout->addWidget(command, 4, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(4, 1);

    connect(targetButton, &QPushButton::clicked, this, &UnitePanel::chooseTarget);
    registerCommand(command, false);
}

void UnitePanel::chooseTarget()
{
    FileDialogRequest request;
    request.title = QStringLiteral("保存");
    request.filter = m_context.state.ExcelMajorVersion >= 12
            ? QStringLiteral("Microsft Excel文件(*.xlsx)|*.xlsx|Microsft Excel(97-2003)文件(*.xls)|*.xls")
            : QStringLiteral("Microsft Excel文件(*.xls)|*.xls");
    const QString chosen = m_context.dialogs.saveFileName(window(), request, false);
    if (!chosen.isEmpty())
        m_target->setText(chosen);
}

} // namespace gm
