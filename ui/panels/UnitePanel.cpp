#include "ui/panels/UnitePanel.h"

#include "app/AppState.h"
#include "automation/BatchFrame.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/MergeOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
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
    m_bookName
        = check(QStringLiteral("ChkBookName"), QStringLiteral("根据原文件名命名工作表（工作表名称长度不应超过31个字符）"), this);
    m_skipBlank = check(QStringLiteral("ChkDelBlank"), QStringLiteral("不合并内容为空的工作表"), this);
    // Starts grayed, which counts as set; the first click makes it an ordinary check box.
    m_skipBlank->setTristate(true);
    m_skipBlank->setCheckState(Qt::PartiallyChecked);
    connect(m_skipBlank, &QCheckBox::clicked, m_skipBlank, [box = m_skipBlank] { box->setTristate(false); });

    layout->addWidget(label(QStringLiteral("将上述多个电子表格文件合并到新文件："), this), 0, 0, 1, 2);
    layout->addWidget(m_target, 1, 0);
    layout->addWidget(targetButton, 1, 1);
    layout->addWidget(m_bookName, 2, 0, 1, 2);
    layout->addWidget(m_skipBlank, 3, 0, 1, 2);
    m_command = button(QStringLiteral("CmdUnite"), QStringLiteral("合并(&U)"), this);
    layout->addWidget(m_command, 4, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 1);
    layout->setRowStretch(4, 1);

    connect(targetButton, &QPushButton::clicked, this, &UnitePanel::chooseTarget);
    connect(m_command, &QPushButton::clicked, this, &UnitePanel::runMerge);
    registerCommand(m_command, true);
}

void UnitePanel::runMerge()
{
    MergeInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.targetPath = m_target->text();
    inputs.nameByBook = m_bookName->checkState() == Qt::Checked;
    inputs.skipEmpty = m_skipBlank->checkState() != Qt::Unchecked;
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kMergeEmptyList))
        return;
    if (const Validation failure = validateMerge(inputs)) {
        inform(failure->message);
        chooseTarget();
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    auto result = std::make_shared<MergeResult>();
    setCommandWanted(m_command, false);
    auto finished = [this, result, typed = inputs.targetPath] {
        // A bare file name was made into a path: the box shows where the file went.
        if (!typed.contains(u'/') && !result->targetPath.isEmpty())
            m_target->setText(result->targetPath);
        setCommandWanted(m_command, true);
    };
    if (!m_context.runner.start(
            [inputs, settings, result](UserInterface &ui) { mergeWorkbooks(inputs, ui, settings, false, result.get()); },
            finished))
        finished();
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
