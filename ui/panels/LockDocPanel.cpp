#include "ui/panels/LockDocPanel.h"

#include "ui/AsteriskPasswordStyle.h"
#include "ui/Controls.h"

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

    auto *password1 = edit(QStringLiteral("txtPassword1"), this);
    auto *password2 = edit(QStringLiteral("txtPassword2"), this);
    AsteriskPasswordStyle::apply(password1);
    AsteriskPasswordStyle::apply(password2);

    auto *skip = option(QStringLiteral("OptCLockSkip"), QStringLiteral("跳过"), this, true);
    auto *makeWritable = option(QStringLiteral("OptCLockWrite"), QStringLiteral("改为可写处理"), this);
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
    registerCommand(command, false);
}

} // namespace gm
