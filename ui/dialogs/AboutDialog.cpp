#include "ui/dialogs/AboutDialog.h"

#include "app/AppState.h"
#include "ui/Controls.h"
#include "ui/Icons.h"
#include "ui/UserDialogs.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace gm {

using namespace controls;

AboutDialog::AboutDialog(UserDialogs &dialogs, const QString &helpFile, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(kWindowTitle);
    setModal(true);

    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(programIcon(Icon::Application).pixmap(64, 64));

    auto *version = label(kWindowTitle + kAboutVersion, this);
    version->setObjectName(QStringLiteral("lblVersion"));
    QFont font = version->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    version->setFont(font);

    auto *title = label(QStringLiteral("对列表中的多个Excel工作簿一次完成同一项修改：类型转换、打印、口令、保护、"
                                       "属性、页眉页脚、合并、统计、工作表、单元格与行列操作、文件改名。"),
                        this);
    title->setObjectName(QStringLiteral("lblTitle"));
    title->setWordWrap(true);

    auto *page = label(QStringLiteral("<a href=\"help\">使用说明</a>"), this);
    page->setObjectName(QStringLiteral("lblPage"));
    page->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(page, &QLabel::linkActivated, this, [this, &dialogs, helpFile] { dialogs.openUrl(this, helpFile); });

    auto *ok = button(QStringLiteral("CmdOK"), QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = grid(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(10);
    layout->addWidget(image, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(version, 0, 1);
    layout->addWidget(title, 1, 1);
    layout->addWidget(page, 2, 1);
    auto *buttons = row();
    buttons->addStretch();
    buttons->addWidget(ok);
    layout->addLayout(buttons, 3, 0, 1, 2);
    setMinimumWidth(440);
}

} // namespace gm
