#include "ui/ProtectPanel.h"

#include "ui/AsteriskPasswordStyle.h"
#include "ui/Controls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

namespace gm {

using namespace controls;

ProtectPanel::ProtectPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraProtect"), QStringLiteral("文档保护"), context, parent)
{
    auto *layout = grid(this);
    auto *book = option(QStringLiteral("OptProtectBook"), QStringLiteral("保护工作薄"), this, true);
    auto *structure = check(QStringLiteral("ChkProtectS"), QStringLiteral("结构"), this);
    auto *windows = check(QStringLiteral("ChkProtectW"), QStringLiteral("窗口"), this);
    auto *sheets = option(QStringLiteral("OptProtectSheet"), QStringLiteral("保护工作表"), this);
    auto *kind = new QButtonGroup(this);
    kind->addButton(book);
    kind->addButton(sheets);

    auto *allowed = new QListWidget(this);
    allowed->setObjectName(QStringLiteral("List1"));
    allowed->setSelectionMode(QAbstractItemView::MultiSelection);
    allowed->addItems({QStringLiteral("设置单元格格式"), QStringLiteral("设置列格式"), QStringLiteral("设置行格式"),
                       QStringLiteral("插入列"), QStringLiteral("插入行"), QStringLiteral("插入超链接"),
                       QStringLiteral("删除列"), QStringLiteral("删除行"), QStringLiteral("排序"),
                       QStringLiteral("使用自动筛选"), QStringLiteral("使用数据透视表")});
    // Two columns of permissions, so that all eleven are seen at once.
    allowed->setFlow(QListView::TopToBottom);
    allowed->setWrapping(true);
    allowed->setResizeMode(QListView::Adjust);
    allowed->setUniformItemSizes(true);
    allowed->setGridSize(QSize(allowed->fontMetrics().horizontalAdvance(QStringLiteral("使用数据透视表")) + 40,
                               allowed->fontMetrics().height() + 6));

    auto *password = edit(QStringLiteral("txtProtect"), this);
    AsteriskPasswordStyle::apply(password);

    layout->addWidget(book, 0, 0);
    auto *bookRow = row();
    bookRow->addSpacing(20);
    bookRow->addWidget(structure);
    bookRow->addWidget(windows);
    bookRow->addStretch();
    layout->addLayout(bookRow, 1, 0);
    layout->addWidget(sheets, 2, 0);
    auto *passwordRow = row();
    passwordRow->addWidget(label(QStringLiteral("密码（可选）："), this));
    passwordRow->addWidget(password);
    layout->addLayout(passwordRow, 3, 0);

    layout->addWidget(label(QStringLiteral("允许："), this), 0, 1, Qt::AlignTop);
    layout->addWidget(allowed, 0, 2, 5, 1);
    auto *command = button(QStringLiteral("CmdProtect"), QStringLiteral("处理"), this);
    layout->addWidget(command, 4, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);
    registerCommand(command, false);
}

void ProtectPanel::applyVersionGate(bool passwordsAvailable)
{
    if (passwordsAvailable)
        return;
    findChild<QRadioButton *>(QStringLiteral("OptProtectSheet"))->setEnabled(false);
    findChild<QListWidget *>(QStringLiteral("List1"))->setEnabled(false);
}

} // namespace gm
