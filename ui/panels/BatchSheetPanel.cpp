#include "ui/panels/BatchSheetPanel.h"

#include "app/AppState.h"
#include "automation/BatchFrame.h"
#include "automation/EngineError.h"
#include "automation/PathHelpers.h"
#include "doclist/DocumentListModel.h"
#include "operations/sheets/PackageSource.h"
#include "operations/sheets/SheetBackgroundOperation.h"
#include "operations/sheets/SheetOperations.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"
#include "ui/KeystrokeFilter.h"
#include "ui/RunController.h"
#include "ui/UserDialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace gm {

using namespace controls;

namespace {

const QStringList &kNameKinds = kNameMatchKindItems;
const QStringList kPositions{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

QLabel *warning(const QString &text, QWidget *parent)
{
    auto *result = label(text, parent);
    result->setStyleSheet(QStringLiteral("color: #b71c1c;"));
    return result;
}

// A label with its field right beside it, however wide the panel grows.
QHBoxLayout *labelled(const QString &text, QWidget *field, QWidget *page)
{
    auto *result = row();
    result->addWidget(label(text, page));
    result->addWidget(field);
    result->addStretch();
    return result;
}

QString excelFilter(bool xlsxAvailable)
{
    return xlsxAvailable ? QStringLiteral("Microsft Excel文件(*.xls;*.xlsx)|*.xls;*.xlsx")
                         : QStringLiteral("Microsft Excel文件(*.xls)|*.xls");
}

} // namespace

BatchSheetPanel::BatchSheetPanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraBatchSheet"), QStringLiteral("批量工作表操作"), context, parent)
{
    auto *layout = grid(this);
    auto *choices = column();
    const std::array<std::pair<const char16_t *, const char16_t *>, 6> options{{
            {u"OptDelSheet", u"批量删除指定工作表"},
            {u"OptInsertSheet", u"批量插入指定工作表"},
            {u"OptSheetRename", u"批量修改工作表名称"},
            {u"OptSheetBackground", u"批量设置工作表背景"},
            {u"OptBatchHideSheet", u"批量隐藏指定工作表"},
            {u"OptSheetShow", u"批量取消工作表隐藏"},
    }};
    auto *operationGroup = new QButtonGroup(this);
    for (size_t i = 0; i < options.size(); ++i) {
        m_operations[i] = option(QString::fromUtf16(options[i].first), QString::fromUtf16(options[i].second), this);
        operationGroup->addButton(m_operations[i], int(i));
        choices->addWidget(m_operations[i]);
    }
    choices->addStretch();

    m_subPanels = new QStackedWidget(this);
    m_pages[size_t(SheetOperation::Delete)] = buildDelete();
    m_pages[size_t(SheetOperation::Insert)] = buildInsert();
    m_pages[size_t(SheetOperation::Rename)] = buildRename();
    m_pages[size_t(SheetOperation::Background)] = buildBackground();
    m_pages[size_t(SheetOperation::Hide)] = buildHide();
    m_pages[size_t(SheetOperation::Unhide)] = buildUnhide();
    for (QWidget *page : m_pages)
        m_subPanels->addWidget(page);

    layout->addLayout(choices, 0, 0);
    layout->addWidget(m_subPanels, 0, 1);
    layout->setColumnStretch(1, 1);

    connect(operationGroup, &QButtonGroup::idClicked, this,
            [this](int id) { selectOperation(static_cast<SheetOperation>(id)); });
    applyDefaults();
}

QWidget *BatchSheetPanel::buildDelete()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("fraBSheetDelete"));
    auto *layout = grid(page);
    m_deleteByName = option(QStringLiteral("OptDelSheetByName"), QStringLiteral("按工作表名字删除"), page, true);
    m_deleteKind = dropDown(QStringLiteral("CmbDelSheetByName"), kNameKinds, page);
    m_deleteText = edit(QStringLiteral("txtDelSheet"), page);
    auto *byOrder = option(QStringLiteral("OptDelSheetByOrder"), QStringLiteral("按工作表位置删除"), page);
    m_deletePosition = editableCombo(QStringLiteral("CmbDelsheetPosition"), kPositions, page);
    auto *group = new QButtonGroup(page);
    group->addButton(m_deleteByName);
    group->addButton(byOrder);
    auto *command = button(QStringLiteral("CmdDelSheet"), QStringLiteral("删除"), page);

    layout->addWidget(m_deleteByName, 0, 0);
    layout->addWidget(m_deleteKind, 0, 1);
    layout->addWidget(m_deleteText, 0, 2, 1, 2);
    layout->addWidget(byOrder, 1, 0);
    layout->addLayout(labelled(QStringLiteral("要删除的工作表在工作薄中的位置："), m_deletePosition, page), 1, 1, 1, 3);
    layout->addWidget(warning(QStringLiteral("注意：每个EXCEL工作薄中任何时候将包括至少一张工作表！"), page), 2, 0, 1, 4);
    layout->addWidget(command, 3, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(3, 1);

    connect(m_deleteByName, &QRadioButton::clicked, this, &BatchSheetPanel::applyDeleteChoice);
    connect(byOrder, &QRadioButton::clicked, this, &BatchSheetPanel::applyDeleteChoice);
    KeystrokeFilter::installAllowed(m_deletePosition, isDigit);
    m_deletePosition->setMinimumContentsLength(4);
    connect(command, &QPushButton::clicked, this, &BatchSheetPanel::runDelete);
    m_commands[0] = command;
    registerCommand(command, true);
    return page;
}

QWidget *BatchSheetPanel::buildInsert()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("FraInsSheet"));
    auto *layout = grid(page);
    m_source = edit(QStringLiteral("TxtSheetSource"), page);
    auto *sourceButton = chooser(QStringLiteral("CmdSheetSource"), page);
    m_sourceSheets = new QListWidget(page);
    m_sourceSheets->setObjectName(QStringLiteral("LstInsSheet"));
    m_sourceSheets->setSelectionMode(QAbstractItemView::SingleSelection);
    m_insert = button(QStringLiteral("CmdInsSheet"), QStringLiteral("处理"), page);

    layout->addWidget(label(QStringLiteral("工作表来源："), page), 0, 0);
    layout->addWidget(m_source, 0, 1);
    layout->addWidget(sourceButton, 0, 2);
    layout->addWidget(label(QStringLiteral("选择工作表："), page), 1, 0, Qt::AlignTop);
    layout->addWidget(m_sourceSheets, 1, 1, 2, 1);
    layout->addWidget(m_insert, 2, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    connect(sourceButton, &QPushButton::clicked, this, &BatchSheetPanel::chooseSource);
    connect(m_source, &QLineEdit::textChanged, this, &BatchSheetPanel::sourceChanged);
    connect(m_sourceSheets, &QListWidget::itemSelectionChanged, this, &BatchSheetPanel::applyRunning);
    connect(m_insert, &QPushButton::clicked, this, &BatchSheetPanel::runInsert);
    registerCommand(m_insert, true);
    return page;
}

QWidget *BatchSheetPanel::buildRename()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("fraRenameSheet"));
    auto *layout = grid(page);
    m_renameModes[0] = option(indexed(QStringLiteral("OptBatchRenameSheet"), 0),
                              QStringLiteral("将工作表名称中包括的："), page);
    m_renameModes[1] = option(indexed(QStringLiteral("OptBatchRenameSheet"), 1),
                              QStringLiteral("重命名活动工作表名称："), page, true);
    auto *group = new QButtonGroup(page);
    group->addButton(m_renameModes[0], 0);
    group->addButton(m_renameModes[1], 1);
    m_oldName = edit(QStringLiteral("txtSheetOldName"), page);
    m_newName = edit(QStringLiteral("txtSheetNewName"), page);
    m_activeName = edit(QStringLiteral("txtSheetName"), page);
    auto *command = button(QStringLiteral("CmdRenameSheet"), QStringLiteral("修改"), page);

    layout->addWidget(m_renameModes[0], 0, 0);
    layout->addWidget(m_oldName, 0, 1);
    layout->addWidget(label(QStringLiteral("替换为："), page), 0, 2);
    layout->addWidget(m_newName, 0, 3);
    layout->addWidget(m_renameModes[1], 1, 0);
    layout->addWidget(m_activeName, 1, 1);
    layout->addWidget(command, 2, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(3, 1);
    layout->setRowStretch(2, 1);

    connect(group, &QButtonGroup::idClicked, this, &BatchSheetPanel::applyRenameMode);
    connect(command, &QPushButton::clicked, this, &BatchSheetPanel::runRename);
    m_commands[3] = command;
    registerCommand(command, true);
    return page;
}

QWidget *BatchSheetPanel::buildBackground()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("fraSheetBackground"));
    auto *layout = grid(page);
    auto *set = m_setBackground = option(indexed(QStringLiteral("OptSheetBack"), 1), QStringLiteral("批量设置工作表背景："), page, true);
    auto *remove = option(indexed(QStringLiteral("OptSheetBack"), 0), QStringLiteral("批量删除工作表背景"), page);
    auto *group = new QButtonGroup(page);
    group->addButton(set, 1);
    group->addButton(remove, 0);
    m_picture = edit(QStringLiteral("txtBackgroudPic"), page);
    auto *pictureButton = button(QStringLiteral("CmdSheetBackgroudSelect"), QStringLiteral("选择背景图片"), page);
    auto *command = m_background = button(QStringLiteral("CmdSheetBackgroud"), QStringLiteral("设置"), page);

    layout->addWidget(set, 0, 0);
    layout->addWidget(m_picture, 0, 1);
    layout->addWidget(pictureButton, 0, 2);
    layout->addWidget(remove, 1, 0);
    layout->addWidget(command, 2, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    connect(pictureButton, &QPushButton::clicked, this, &BatchSheetPanel::choosePicture);
    connect(command, &QPushButton::clicked, this, &BatchSheetPanel::runBackground);
    registerCommand(command, true);
    return page;
}

QWidget *BatchSheetPanel::buildHide()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("fraBatchHideSheet"));
    auto *layout = grid(page);
    m_hideByName = option(QStringLiteral("OptHideSheetByName"), QStringLiteral("按工作表名字隐藏"), page, true);
    m_hideKind = dropDown(QStringLiteral("CmbHideSheetByName"), kNameKinds, page);
    m_hideText = edit(QStringLiteral("txtHideSheet"), page);
    auto *byIndex = option(QStringLiteral("OptHideSheetByIndex"), QStringLiteral("按工作表位置隐藏"), page);
    m_hidePosition = editableCombo(QStringLiteral("CmbHideSheetPosition"), kPositions, page);
    auto *group = new QButtonGroup(page);
    group->addButton(m_hideByName);
    group->addButton(byIndex);
    auto *command = button(QStringLiteral("CmdBatchHideSheet"), QStringLiteral("隐藏"), page);

    layout->addWidget(m_hideByName, 0, 0);
    layout->addWidget(m_hideKind, 0, 1);
    layout->addWidget(m_hideText, 0, 2, 1, 2);
    layout->addWidget(byIndex, 1, 0);
    layout->addLayout(labelled(QStringLiteral("要隐藏的工作表在工作薄中的位置："), m_hidePosition, page), 1, 1, 1, 3);
    layout->addWidget(warning(QStringLiteral("注意：每个EXCEL工作薄中任何时候将显示至少一张工作表！"), page), 2, 0, 1, 4);
    layout->addWidget(command, 3, 3, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(3, 1);

    connect(m_hideByName, &QRadioButton::clicked, this, &BatchSheetPanel::applyHideChoice);
    connect(byIndex, &QRadioButton::clicked, this, &BatchSheetPanel::applyHideChoice);
    KeystrokeFilter::installAllowed(m_hidePosition, isDigit);
    m_hidePosition->setMinimumContentsLength(4);
    connect(command, &QPushButton::clicked, this, &BatchSheetPanel::runHide);
    m_commands[1] = command;
    registerCommand(command, true);
    return page;
}

QWidget *BatchSheetPanel::buildUnhide()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("FraDisplaySheet"));
    auto *layout = grid(page);
    auto *all = option(QStringLiteral("OptDisplayAll"), QStringLiteral("显示所有隐藏的工作表"), page);
    m_unhideByName = option(QStringLiteral("OptDisplaySheetByName"), QStringLiteral("按工作表名字取消隐藏"), page, true);
    auto *group = new QButtonGroup(page);
    group->addButton(all);
    group->addButton(m_unhideByName);
    m_unhideKind = dropDown(QStringLiteral("CmbDisplaySheetByName"), kNameKinds, page);
    m_unhideText = edit(QStringLiteral("txtDisplaySheet"), page);
    auto *command = button(QStringLiteral("CmdDisplaySheet"), QStringLiteral("取消隐藏"), page);

    layout->addWidget(all, 0, 0);
    layout->addWidget(m_unhideByName, 1, 0);
    layout->addWidget(m_unhideKind, 1, 1);
    layout->addWidget(m_unhideText, 1, 2);
    layout->addWidget(command, 2, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(2, 1);

    connect(all, &QRadioButton::clicked, this, &BatchSheetPanel::applyUnhideChoice);
    connect(m_unhideByName, &QRadioButton::clicked, this, &BatchSheetPanel::applyUnhideChoice);
    connect(command, &QPushButton::clicked, this, &BatchSheetPanel::runUnhide);
    m_commands[2] = command;
    registerCommand(command, true);
    return page;
}

void BatchSheetPanel::selectOperation(SheetOperation operation)
{
    const auto index = size_t(operation);
    m_operations[index]->setChecked(true);
    m_subPanels->setCurrentWidget(m_pages[index]);
}

SheetOperation BatchSheetPanel::selectedOperation() const
{
    // The first selected option in the order delete, insert, rename, background, hide, unhide.
    for (size_t i = 0; i < m_operations.size(); ++i) {
        if (m_operations[i]->isChecked())
            return static_cast<SheetOperation>(i);
    }
    return SheetOperation::Delete;
}

void BatchSheetPanel::selectRenameMode(int mode)
{
    if (mode != 0 && mode != 1)
        return;
    m_renameModes[size_t(mode)]->setChecked(true);
    applyRenameMode(mode);
}

int BatchSheetPanel::renameMode() const
{
    return m_renameModes[1]->isChecked() ? 1 : 0;
}

void BatchSheetPanel::applyRenameMode(int mode)
{
    const bool replacing = mode == 0;
    m_activeName->setEnabled(!replacing);
    m_oldName->setEnabled(replacing);
    m_newName->setEnabled(replacing);
}

void BatchSheetPanel::applyDeleteChoice()
{
    const bool byName = m_deleteByName->isChecked();
    m_deleteKind->setEnabled(byName);
    m_deleteText->setEnabled(byName);
    m_deletePosition->setEnabled(!byName);
}

void BatchSheetPanel::applyHideChoice()
{
    const bool byName = m_hideByName->isChecked();
    m_hideKind->setEnabled(byName);
    m_hideText->setEnabled(byName);
    m_hidePosition->setEnabled(!byName);
}

void BatchSheetPanel::applyUnhideChoice()
{
    const bool byName = m_unhideByName->isChecked();
    m_unhideKind->setEnabled(byName);
    m_unhideText->setEnabled(byName);
}

void BatchSheetPanel::applyDefaults()
{
    selectOperation(SheetOperation::Delete);
    for (QComboBox *kind : {m_deleteKind, m_hideKind, m_unhideKind})
        kind->setCurrentIndex(0);
    m_deletePosition->setEnabled(false);
    m_hidePosition->setEnabled(false);
}

void BatchSheetPanel::restore(const PanelMemory &memory)
{
    m_activeName->setText(memory.activeSheetName);
    m_oldName->setText(memory.sheetOldName);
    m_newName->setText(memory.sheetNewName);
    selectOperation(memory.sheetOperation());
    selectRenameMode(memory.optBatchRenameSheet);
}

void BatchSheetPanel::collect(PanelMemory &memory) const
{
    memory.activeSheetName = m_activeName->text();
    memory.sheetOldName = m_oldName->text();
    memory.sheetNewName = m_newName->text();
    memory.opIndex = PanelMemory::opIndexOf(selectedOperation());
    memory.optBatchRenameSheet = renameMode();
}

void BatchSheetPanel::chooseSource()
{
    FileDialogRequest request;
    request.title = QStringLiteral("选择");
    request.filter = excelFilter(m_context.state.XlsxAvailable);
    request.defaultSuffix = QStringLiteral("xls");
    const QString chosen = m_context.dialogs.openFileName(window(), request);
    if (!chosen.isEmpty())
        m_source->setText(chosen);
}

void BatchSheetPanel::sourceChanged()
{
    // The worksheets of the source, chart sheets left out; without a source file there is
    // nothing to list and nothing to insert. A file that cannot be read as a workbook is
    // told with its reason and lists nothing.
    m_sourceSheets->clear();
    const QString source = m_source->text();
    if (!source.isEmpty() && FileExists(source)) {
        try {
            m_sourceSheets->addItems(worksheetNamesOf(source));
        } catch (const EngineError &e) {
            inform(e.description() + u'\n' + source);
        }
        if (m_sourceSheets->count() > 0)
            m_sourceSheets->setCurrentRow(0);
    }
    applyRunning();
}

void BatchSheetPanel::choosePicture()
{
    FileDialogRequest request;
    request.title = QStringLiteral("选择");
    request.filter = QStringLiteral("图片文件(*.bmp;*.jpg)|*.bmp;*.jpg");
    request.defaultSuffix = QStringLiteral("jpg");
    const QString chosen = m_context.dialogs.openFileName(window(), request);
    if (!chosen.isEmpty())
        m_picture->setText(chosen);
}

void BatchSheetPanel::applyRunning()
{
    for (QPushButton *command : m_commands)
        setCommandWanted(command, !m_running);
    setCommandWanted(m_insert, !m_running && !m_sourceSheets->selectedItems().isEmpty());
    setCommandWanted(m_background, !m_running);
}

void BatchSheetPanel::startRun(std::function<void(UserInterface &)> work)
{
    m_running = true;
    applyRunning();
    auto finished = [this] {
        m_running = false;
        applyRunning();
    };
    if (!m_context.runner.start(std::move(work), finished))
        finished();
}

void BatchSheetPanel::runDelete()
{
    SheetPickInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.byName = m_deleteByName->isChecked();
    inputs.kind = m_deleteKind->currentIndex();
    inputs.matchText = m_deleteText->text();
    inputs.positionText = m_deletePosition->currentText();
    // Deletion cannot be undone: the question comes first, even before the list check.
    MessageRequest question{QMessageBox::Information, QStringLiteral("注意！"), kConfirmDelete,
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel};
    if (m_context.dialogs.message(window(), question) != QMessageBox::Ok)
        return;
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kSheetsEmptyList))
        return;
    if (const Validation failure = validateDeleteSheets(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runDeleteSheets(inputs, ui, settings); });
}

void BatchSheetPanel::runHide()
{
    SheetPickInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.byName = m_hideByName->isChecked();
    inputs.kind = m_hideKind->currentIndex();
    inputs.matchText = m_hideText->text();
    inputs.positionText = m_hidePosition->currentText();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kSheetsEmptyList))
        return;
    if (const Validation failure = validateHideSheets(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runHideSheets(inputs, ui, settings); });
}

void BatchSheetPanel::runUnhide()
{
    UnhideInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.all = !m_unhideByName->isChecked();
    inputs.kind = m_unhideKind->currentIndex();
    inputs.matchText = m_unhideText->text();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kSheetsEmptyList))
        return;
    if (const Validation failure = validateUnhideSheets(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runUnhideSheets(inputs, ui, settings); });
}

void BatchSheetPanel::runInsert()
{
    InsertSheetInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.sourcePath = m_source->text();
    const QList<QListWidgetItem *> selected = m_sourceSheets->selectedItems();
    inputs.sheetName = selected.isEmpty() ? QString() : selected.front()->text();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kInsertEmptyList))
        return;
    if (const Validation failure = validateInsertSheet(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runInsertSheet(inputs, ui, settings); });
}

void BatchSheetPanel::runRename()
{
    RenameSheetInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.mode = renameMode();
    inputs.oldText = m_oldName->text();
    inputs.newText = m_newName->text();
    inputs.activeName = m_activeName->text();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kSheetsEmptyList))
        return;
    if (const Validation failure = validateRenameSheets(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runRenameSheets(inputs, ui, settings); });
}

void BatchSheetPanel::runBackground()
{
    SheetBackgroundInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.set = m_setBackground->isChecked();
    inputs.picturePath = m_picture->text();
    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kBackgroundEmptyList))
        return;
    if (const Validation failure = validateSheetBackground(inputs)) {
        showFailure(*failure);
        return;
    }
    const RunSettings settings = m_context.state.runSettings();
    startRun([inputs, settings](UserInterface &ui) { runSheetBackground(inputs, ui, settings); });
}

} // namespace gm
