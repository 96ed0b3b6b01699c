#include "ui/panels/ConvertPanel.h"

#include "app/AppState.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/ConvertOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace gm {

using namespace controls;

ConvertPanel::ConvertPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("FraConvert"), QStringLiteral("批量文件类型转换"), context, parent)
{
    auto *layout = grid(this);
    auto *typeLabel = label(QStringLiteral("将Excel文档转换为文件类型："), this);
    typeLabel->setObjectName(QStringLiteral("Label35"));
    m_types = new QListWidget(this);
    m_types->setObjectName(QStringLiteral("LstFileType"));
    m_types->setSelectionMode(QAbstractItemView::SingleSelection);
    auto *outLabel = label(QStringLiteral("请选择转换后的文件输出路径："), this);
    outLabel->setObjectName(QStringLiteral("Label11"));
    m_out = edit(QStringLiteral("txtOut"), this);
    auto *folderButton = chooser(QStringLiteral("Command2"), this);
    m_convert = button(QStringLiteral("BtnConvert"), QStringLiteral("转换(&R)"), this);

    layout->addWidget(typeLabel, 0, 0);
    layout->addWidget(m_types, 1, 0, 3, 1);
    layout->addWidget(outLabel, 0, 1, 1, 2);
    layout->addWidget(m_out, 1, 1);
    layout->addWidget(folderButton, 1, 2);
    layout->addWidget(m_convert, 3, 2, 1, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(0, 2);
    layout->setColumnStretch(1, 3);
    layout->setRowStretch(2, 1);

    connect(folderButton, &QPushButton::clicked, this, &ConvertPanel::chooseFolder);
    connect(m_convert, &QPushButton::clicked, this, &ConvertPanel::convert);
    registerCommand(m_convert, true);
    fillTargets(false);
}

void ConvertPanel::fillTargets(bool xlsxAvailable)
{
    m_types->clear();
    for (const ConvertTarget &target : convertTargets(xlsxAvailable)) {
        auto *item = new QListWidgetItem(target.label, m_types);
        item->setData(Qt::UserRole, target.code);
    }
    m_types->setCurrentRow(-1);
    m_types->clearSelection();
}

void ConvertPanel::chooseFolder()
{
    QString folder = m_context.dialogs.browseForFolder(window(), QStringLiteral("请选择一个文件夹"));
    if (folder.isEmpty())
        return;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    m_out->setText(folder);
}

void ConvertPanel::convert()
{
    ConvertInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.outputFolder = m_out->text();
    inputs.xlsxAvailable = m_context.state.XlsxAvailable;
    const QList<QListWidgetItem *> selected = m_types->selectedItems();
    inputs.targetIndex = selected.isEmpty() ? -1 : m_types->row(selected.constFirst());

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kConvertEmptyList))
        return;
    if (const Validation failure = validateConvert(inputs)) {
        showFailure(*failure);
        return;
    }
    if (inputs.targetIndex < 0 && m_types->count() > 0) {
        m_types->setCurrentRow(0);
        inputs.targetIndex = 0;
    }

    setCommandWanted(m_convert, false);
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { runConvert(inputs, ui, settings); },
                           [this] { setCommandWanted(m_convert, true); });
}

} // namespace gm
