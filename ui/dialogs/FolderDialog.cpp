#include "ui/dialogs/FolderDialog.h"

#include "ui/Controls.h"
#include "ui/Icons.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace gm {

using namespace controls;

FolderDialog::FolderDialog(UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("FrmPath"));
    setWindowTitle(QStringLiteral("选择目录："));
    setModal(true);

    auto *caption = label(QStringLiteral("添加文档的目录："), this);
    caption->setObjectName(QStringLiteral("Label1"));
    m_folder = edit(QStringLiteral("txtFolder"), this);
    m_folder->setMinimumWidth(320);
    auto *browseButton = button(QStringLiteral("CmdFolder"), QString(), this);
    browseButton->setIcon(programIcon(Icon::Folder));
    browseButton->setToolTip(QStringLiteral("请选择一个文件夹"));
    m_subfolders = check(QStringLiteral("ChkSubdir"), QStringLiteral("包括该目录子目录中的文档"), this);
    auto *ok = button(QStringLiteral("CmdOK"), QStringLiteral("确定"), this);
    auto *cancel = button(QStringLiteral("CmdCancel"), QStringLiteral("取消"), this);
    ok->setDefault(true);

    auto *layout = grid(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setVerticalSpacing(8);
    layout->addWidget(caption, 0, 0, 1, 2);
    layout->addWidget(m_folder, 1, 0);
    layout->addWidget(browseButton, 1, 1);
    layout->addWidget(m_subfolders, 2, 0, 1, 2);
    auto *buttons = row();
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 3, 0, 1, 2);

    connect(browseButton, &QPushButton::clicked, this, &FolderDialog::browse);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString FolderDialog::folder() const
{
    return m_folder->text();
}

bool FolderDialog::includeSubfolders() const
{
    return m_subfolders->isChecked();
}

FolderDialog::Choice FolderDialog::choice() const
{
    if (result() != QDialog::Accepted)
        return {};
    return {folder(), includeSubfolders()};
}

void FolderDialog::browse()
{
    // A cancelled browser leaves the folder box as it was.
    const QString chosen = m_dialogs.browseForFolder(this, QStringLiteral("请选择一个文件夹"));
    if (!chosen.isEmpty())
        m_folder->setText(chosen);
}

} // namespace gm
