#include "ui/panels/ProtectPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/ProtectOperation.h"
#include "ui/AsteriskPasswordStyle.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>

namespace gm {

using namespace controls;

namespace {

// A click anywhere on a checkable item flips its check box, not only a click on the box.
class CheckOnClickDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override
    {
        const bool release = event->type() == QEvent::MouseButtonRelease;
        if (release || event->type() == QEvent::MouseButtonDblClick) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            const Qt::ItemFlags flags = index.flags();
            if (mouse->button() == Qt::LeftButton && option.rect.contains(mouse->position().toPoint())
                && flags.testFlag(Qt::ItemIsUserCheckable) && flags.testFlag(Qt::ItemIsEnabled)) {
                if (!release)
                    return true; // the second click of a double click flips it on its release
                const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
                return model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            }
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
};

} // namespace

ProtectPanel::ProtectPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraProtect"), QStringLiteral("文档保护"), context, parent)
{
    auto *layout = grid(this);
    auto *book = m_book = option(QStringLiteral("OptProtectBook"), QStringLiteral("保护工作薄"), this, true);
    auto *structure = m_structure = check(QStringLiteral("ChkProtectS"), QStringLiteral("结构"), this);
    auto *windows = m_windows = check(QStringLiteral("ChkProtectW"), QStringLiteral("窗口"), this);
    auto *sheets = option(QStringLiteral("OptProtectSheet"), QStringLiteral("保护工作表"), this);
    auto *kind = new QButtonGroup(this);
    kind->addButton(book);
    kind->addButton(sheets);

    auto *allowed = m_allowed = new QListWidget(this);
    allowed->setObjectName(QStringLiteral("List1"));
    // Each permission is marked with its own check box.
    allowed->setSelectionMode(QAbstractItemView::NoSelection);
    allowed->setItemDelegate(new CheckOnClickDelegate(allowed));
    allowed->addItems({QStringLiteral("设置单元格格式"), QStringLiteral("设置列格式"), QStringLiteral("设置行格式"),
                       QStringLiteral("插入列"), QStringLiteral("插入行"), QStringLiteral("插入超链接"),
                       QStringLiteral("删除列"), QStringLiteral("删除行"), QStringLiteral("排序"),
                       QStringLiteral("使用自动筛选"), QStringLiteral("使用数据透视表")});
    for (int i = 0; i < allowed->count(); ++i) {
        QListWidgetItem *item = allowed->item(i);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    // Two columns of permissions, so that all eleven are seen at once.
    allowed->setFlow(QListView::TopToBottom);
    allowed->setWrapping(true);
    allowed->setResizeMode(QListView::Adjust);
    allowed->setUniformItemSizes(true);
    allowed->setGridSize(QSize(allowed->fontMetrics().horizontalAdvance(QStringLiteral("使用数据透视表")) + 40,
                               allowed->fontMetrics().height() + 6));

    auto *password = m_password = edit(QStringLiteral("txtProtect"), this);
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
    auto *command = m_command = button(QStringLiteral("CmdProtect"), QStringLiteral("处理"), this);
    layout->addWidget(command, 4, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);
    registerCommand(command, true);
    connect(command, &QPushButton::clicked, this, &ProtectPanel::protect);
}

void ProtectPanel::protect()
{
    ProtectInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.protectWorkbook = m_book->isChecked();
    inputs.structure = m_structure->isChecked();
    inputs.windows = m_windows->isChecked();
    for (int i = 0; i < m_allowed->count() && i < kSheetPermissionCount; ++i)
        inputs.allowed.allow(SheetPermission(i), m_allowed->item(i)->checkState() == Qt::Checked);
    inputs.password = m_password->text();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kProtectEmptyList))
        return;
    if (const Validation failure = validateProtect(inputs)) {
        showFailure(*failure);
        return;
    }

    // CmdProtect stays disabled while its run lasts.
    setCommandWanted(m_command, false);
    const RunSettings settings = m_context.state.runSettings();
    auto finished = [this] { setCommandWanted(m_command, true); };
    if (!m_context.runner.start([inputs, settings](UserInterface &ui) { runProtect(inputs, ui, settings); }, finished))
        finished();
}

void ProtectPanel::applyVersionGate(bool passwordsAvailable)
{
    if (passwordsAvailable)
        return;
    findChild<QRadioButton *>(QStringLiteral("OptProtectSheet"))->setEnabled(false);
    findChild<QListWidget *>(QStringLiteral("List1"))->setEnabled(false);
}

} // namespace gm
