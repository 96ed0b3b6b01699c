#include "ui/panels/LockDocPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/PasswordOperation.h"
#include "ui/AsteriskPasswordStyle.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace gm {

using namespace controls;

LockDocPanel::LockDocPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraLockDoc"), QStringLiteral("文档批量设置口令"), context, parent)
{
    auto *layout = grid(this);
    auto *openPassword = option(QStringLiteral("OptPassword"), QStringLiteral("设置访问口令"), this, true);
    auto *writePassword = option(QStringLiteral("OptWritePassowrd"), QStringLiteral("设置修改口令"), this);
    auto *kind = new QButtonGroup(this);
    kind->addButton(openPassword);
    kind->addButton(writePassword);

    m_modify = writePassword;
    auto *password1 = edit(QStringLiteral("txtPassword1"), this);
    auto *password2 = edit(QStringLiteral("txtPassword2"), this);
    m_password1 = password1;
    m_password2 = password2;
    AsteriskPasswordStyle::apply(password1);
    AsteriskPasswordStyle::apply(password2);

    auto *skip = option(QStringLiteral("OptCLockSkip"), QStringLiteral("跳过"), this, true);
    auto *makeWritable = option(QStringLiteral("OptCLockWrite"), QStringLiteral("改为可写处理"), this);
    m_makeWritable = makeWritable;
    auto *readOnly = new QButtonGroup(this);
    readOnly->addButton(skip);
    readOnly->addButton(makeWritable);

    auto *kindRow = row();
    kindRow->addWidget(openPassword);
    kindRow->addSpacing(16);
    kindRow->addWidget(writePassword);
    kindRow->addStretch();
    layout->addLayout(kindRow, 0, 0, 1, 4);
    layout->addWidget(label(QStringLiteral("口令："), this), 1, 0);
    layout->addWidget(password1, 1, 1);
    layout->addWidget(label(QStringLiteral("确认口令："), this), 2, 0);
    layout->addWidget(password2, 2, 1);
    auto *readOnlyRow = row();
    readOnlyRow->addWidget(label(QStringLiteral("对只读文档："), this));
    readOnlyRow->addWidget(skip);
    readOnlyRow->addWidget(makeWritable);
    readOnlyRow->addStretch();
    layout->addLayout(readOnlyRow, 3, 0, 1, 3);

    auto *command = button(QStringLiteral("CmdLockDoc"), QStringLiteral("处理(&S)"), this);
    layout->addWidget(command, 4, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);
    connect(command, &QPushButton::clicked, this, &LockDocPanel::lockDocuments);
    // The button stays enabled during a run; the window takes no other command meanwhile.
    registerCommand(command, true);
}

void LockDocPanel::lockDocuments()
{
    PasswordInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.kind = m_modify->isChecked() ? PasswordKind::Modify : PasswordKind::Open;
    inputs.password = m_password1->text();
    inputs.confirmation = m_password2->text();
    inputs.makeWritable = m_makeWritable->isChecked();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kPasswordEmptyList))
        return;
    if (const Validation failure = validatePasswords(inputs)) {
        showFailure(*failure);
        m_password1->clear();
        m_password2->clear();
        m_password1->setFocus();
        return;
    }
    if (!passwordWanted(inputs))
        return;
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { runPasswords(inputs, ui, settings); }, [] {});
}

} // namespace gm
