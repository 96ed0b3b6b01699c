#include "ui/panels/PrintPanel.h"

#include "app/AppState.h"
#include "automation/PrintQueue.h"
#include "doclist/DocumentListModel.h"
#include "operations/workbook/PrintOperation.h"
#include "operations/workbook/PrintSetupOperation.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/Icons.h"
#include "ui/KeystrokeFilter.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace gm {

using namespace controls;

namespace {

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *result = label(text, parent);
    QFont font = result->font();
    font.setBold(true);
    result->setFont(font);
    return result;
}

QLabel *picture(Icon shape, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setPixmap(programIcon(shape).pixmap(20, 20));
    return result;
}

} // namespace

PrintPanel::PrintPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraPrint"), QStringLiteral("打印及打印选项设置"), context, parent)
{
    auto *layout = grid(this);

    // Printing.
    m_printSheets = check(QStringLiteral("ChkPrintSheet"), QStringLiteral("只打印选定工作表："), this);
    m_sheetIndex = edit(QStringLiteral("txtSheetIndex"), this);
    m_sheetIndex->setEnabled(false);
    m_copies = edit(QStringLiteral("TxtCopy"), this, QStringLiteral("1"));
    m_copies->setMaxLength(2);
    m_copies->setMaximumWidth(40);
    m_print = button(QStringLiteral("BtnPrint"), QStringLiteral("打印(&P)"), this);
    auto *hint = label(QStringLiteral("（输入要打印的工作表顺序号，多个工作表以空格分隔。如：1 3 5）"), this);
    hint->setStyleSheet(QStringLiteral("color: #546e7a;"));

    layout->addWidget(heading(QStringLiteral("打印："), this), 0, 0);
    layout->addWidget(m_printSheets, 0, 1);
    layout->addWidget(m_sheetIndex, 0, 2);
    auto *copiesRow = row();
    copiesRow->addWidget(label(QStringLiteral("每个文档打印份数："), this));
    copiesRow->addWidget(m_copies);
    copiesRow->addStretch();
    layout->addLayout(copiesRow, 0, 3);
    layout->addWidget(hint, 1, 1, 1, 2);
    layout->addWidget(label(QStringLiteral("点击“确定”按钮开始发送打印作业。"), this), 1, 3);
    layout->addWidget(m_print, 1, 4, Qt::AlignRight);

    auto *line = new QFrame(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line, 2, 0, 1, 5);

    // Print area and orientation.
    m_area = check(QStringLiteral("ChkPrintArea"), QStringLiteral("打印区域设置："), this);
    m_topLeft = edit(QStringLiteral("txtPrintF"), this, QStringLiteral("A1"));
    m_bottomRight = edit(QStringLiteral("txtPrint2"), this);
    m_orientation = check(QStringLiteral("ChkPrintOrientation"), QStringLiteral("打印页面方向设置："), this);
    m_portrait = option(QStringLiteral("OptPortrait"), QStringLiteral("纵向"), this, true);
    m_landscape = option(QStringLiteral("OptLandscape"), QStringLiteral("横向"), this);
    auto *orientations = new QButtonGroup(this);
    orientations->addButton(m_portrait);
    orientations->addButton(m_landscape);
    m_setPage = button(QStringLiteral("CmdPrintArea"), QStringLiteral("设置"), this);
    for (QWidget *control : {static_cast<QWidget *>(m_topLeft), static_cast<QWidget *>(m_bottomRight),
             static_cast<QWidget *>(m_portrait), static_cast<QWidget *>(m_landscape)})
        control->setEnabled(false);
    m_topLeft->setMaximumWidth(70);
    m_bottomRight->setMaximumWidth(70);

    layout->addWidget(heading(QStringLiteral("打印区域设置："), this), 3, 0);
    layout->addWidget(m_area, 3, 1);
    auto *areaRow = row();
    areaRow->addWidget(label(QStringLiteral("输入打印区域开始单元格（左顶点），如“A1”："), this));
    areaRow->addWidget(m_topLeft);
    areaRow->addSpacing(12);
    areaRow->addWidget(label(QStringLiteral("输入打印区域开始单元格（右底点），如“E100”："), this));
    areaRow->addWidget(m_bottomRight);
    areaRow->addStretch();
    layout->addLayout(areaRow, 3, 2, 1, 3);
    layout->addWidget(m_orientation, 4, 1);
    auto *orientationRow = row();
    orientationRow->addWidget(picture(Icon::PagePortrait, this));
    orientationRow->addWidget(m_portrait);
    orientationRow->addSpacing(12);
    orientationRow->addWidget(picture(Icon::PageLandscape, this));
    orientationRow->addWidget(m_landscape);
    orientationRow->addStretch();
    layout->addLayout(orientationRow, 4, 2, 1, 2);
    layout->addWidget(m_setPage, 4, 4, Qt::AlignRight);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(5, 1);

    connect(m_printSheets, &QCheckBox::clicked, this, [this](bool checked) {
        m_sheetIndex->setEnabled(checked);
        if (checked)
            m_sheetIndex->setFocus();
    });
    KeystrokeFilter::installAllowed(m_sheetIndex, [](QChar c) { return (c >= u'0' && c <= u'9') || c == u' '; });
    connect(m_area, &QCheckBox::clicked, this, &PrintPanel::updatePageSetup);
    connect(m_orientation, &QCheckBox::clicked, this, &PrintPanel::updatePageSetup);
    connect(m_setPage, &QPushButton::clicked, this, &PrintPanel::setPageSetup);
    connect(m_print, &QPushButton::clicked, this, &PrintPanel::print);

    registerCommand(m_print, true);
    registerCommand(m_setPage, true, false);
}

void PrintPanel::updatePageSetup()
{
    m_topLeft->setEnabled(m_area->isChecked());
    m_bottomRight->setEnabled(m_area->isChecked());
    m_portrait->setEnabled(m_orientation->isChecked());
    m_landscape->setEnabled(m_orientation->isChecked());
    setCommandWanted(m_setPage, (m_area->isChecked() || m_orientation->isChecked()) && !m_running);
}

void PrintPanel::setPageSetup()
{
    PrintSetupInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.setArea = m_area->isChecked();
    inputs.topLeft = m_topLeft->text();
    inputs.bottomRight = m_bottomRight->text();
    inputs.setOrientation = m_orientation->isChecked();
    inputs.landscape = m_landscape->isChecked();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kPrintSetupEmptyList))
        return;
    if (const Validation failure = validatePrintSetup(inputs)) {
        showFailure(*failure);
        return;
    }

    m_running = true;
    updatePageSetup();
    const RunSettings settings = m_context.state.runSettings();
    auto finished = [this] {
        m_running = false;
        updatePageSetup();
    };
    if (!m_context.runner.start([inputs, settings](UserInterface &ui) { runPrintSetup(inputs, ui, settings); }, finished))
        finished();
}

void PrintPanel::print()
{
    PrintInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.printSheets = m_printSheets->isChecked();
    inputs.sheetIndex = m_sheetIndex->text();
    inputs.copies = m_copies->text();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kPrintEmptyList))
        return;
    const QString printer = resolvePrinter(QString());
    if (printer.isEmpty()) {
        inform(kPrintNoPrinter);
        return;
    }
    if (const Validation failure = validatePrint(inputs)) {
        if (failure->control != m_copies->objectName()) {
            showFailure(*failure);
            return;
        }
        m_context.dialogs.message(window(),
            {QMessageBox::Critical, kAppTitle + kPrintCopiesCaptionSuffix, failure->message, QMessageBox::Ok, QMessageBox::Ok});
        m_copies->setFocus(Qt::OtherFocusReason);
        m_copies->setSelection(0, 2);
        return;
    }
    if (*readShortInteger(inputs.copies) < 1)
        return; // no copies wanted: nothing to do, nothing to say

    setCommandWanted(m_print, false);
    const RunSettings settings = m_context.state.runSettings();
    auto finished = [this] { setCommandWanted(m_print, true); };
    if (!m_context.runner.start(
            [inputs, printer, settings](UserInterface &ui) { runPrint(inputs, printer, ui, settings); }, finished))
        finished();
}

} // namespace gm
