#include "ui/panels/BatchRenamePanel.h"

#include "doclist/DocumentListModel.h"
#include "operations/files/BatchRename.h"
#include "ui/Controls.h"
#include "ui/GuiUserInterface.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace gm {

using namespace controls;

namespace {
const QString kCaseUnchanged = QStringLiteral("大小写不变");
}

BatchRenamePanel::BatchRenamePanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("FraBatchRename"), QStringLiteral("文档批量改名"), context, parent)
{
    auto *layout = grid(this);

    auto *kinds = new QGroupBox(QStringLiteral("  改名类型  "), this);
    kinds->setObjectName(QStringLiteral("Frame2"));
    auto *kindsLayout = column(nullptr);
    kinds->setLayout(kindsLayout);
    kindsLayout->setContentsMargins(6, 2, 6, 2);
    m_replace = option(QStringLiteral("Option1"), QStringLiteral("替代字符"), kinds, true);
    m_insertDelete = option(QStringLiteral("Option3"), QStringLiteral("插入删除"), kinds);
    m_case = option(QStringLiteral("Option2"), QStringLiteral("大小写改写"), kinds);
    kindsLayout->addWidget(m_replace);
    kindsLayout->addWidget(m_insertDelete);
    kindsLayout->addWidget(m_case);
    auto *kindGroup = new QButtonGroup(this);
    for (QRadioButton *kind : {m_replace, m_insertDelete, m_case})
        kindGroup->addButton(kind);

    m_boxes = new QStackedWidget(this);

    auto *replaceBox = new QWidget;
    replaceBox->setObjectName(indexed(QStringLiteral("Picture1"), 0));
    auto *replaceLayout = grid(replaceBox);
    replaceLayout->addWidget(label(QStringLiteral("把主文件名中的"), replaceBox), 0, 0);
    m_search = edit(QStringLiteral("txtSChar"), replaceBox);
    m_replacement = edit(QStringLiteral("txtRChar"), replaceBox);
    m_replaceAll = check(QStringLiteral("ChkReplaceAll"), QStringLiteral("替代所有子串"), replaceBox);
    replaceLayout->addWidget(m_search, 0, 1);
    replaceLayout->addWidget(label(QStringLiteral("替代为"), replaceBox), 0, 2);
    replaceLayout->addWidget(m_replacement, 0, 3);
    replaceLayout->addWidget(m_replaceAll, 1, 0, 1, 2);
    replaceLayout->setRowStretch(2, 1);

    auto *insertBox = new QWidget;
    insertBox->setObjectName(indexed(QStringLiteral("Picture1"), 1));
    auto *insertLayout = grid(insertBox);
    m_insert = option(QStringLiteral("OptInsert"), QStringLiteral("主文件名插入位置"), insertBox, true);
    m_insertPos = edit(QStringLiteral("txtInsertPos"), insertBox, QStringLiteral("1"));
    m_insertText = edit(QStringLiteral("TxtInsert"), insertBox);
    m_insertText->setMaxLength(10);
    m_delete = option(QStringLiteral("OptDelete"), QStringLiteral("主文件删除位置"), insertBox);
    m_deletePos = edit(QStringLiteral("TxtDeletePos"), insertBox, QStringLiteral("1"));
    m_deleteCount = edit(QStringLiteral("TxtDelete"), insertBox, QStringLiteral("0"));
    for (QLineEdit *number : {m_insertPos, m_deletePos, m_deleteCount})
        number->setMaximumWidth(60);
    auto *insertGroup = new QButtonGroup(this);
    insertGroup->addButton(m_insert);
    insertGroup->addButton(m_delete);
    insertLayout->addWidget(m_insert, 0, 0);
    insertLayout->addWidget(m_insertPos, 0, 1);
    insertLayout->addWidget(label(QStringLiteral("插入字符"), insertBox), 0, 2);
    insertLayout->addWidget(m_insertText, 0, 3);
    insertLayout->addWidget(m_delete, 1, 0);
    insertLayout->addWidget(m_deletePos, 1, 1);
    insertLayout->addWidget(label(QStringLiteral("删除字符数"), insertBox), 1, 2);
    insertLayout->addWidget(m_deleteCount, 1, 3);
    insertLayout->setRowStretch(2, 1);

    auto *caseBox = new QWidget;
    caseBox->setObjectName(indexed(QStringLiteral("Picture1"), 2));
    auto *caseLayout = grid(caseBox);
    const QStringList caseItems{kCaseUnchanged, QStringLiteral("全部大写"), QStringLiteral("全部小写")};
    m_prefix = dropDown(QStringLiteral("CmbPrefix"), caseItems, caseBox);
    m_suffix = dropDown(QStringLiteral("CmbSuffix"), caseItems, caseBox);
    m_prefix->setCurrentIndex(-1);
    m_suffix->setCurrentIndex(-1);
    caseLayout->addWidget(label(QStringLiteral("主文件名部分："), caseBox), 0, 0);
    caseLayout->addWidget(m_prefix, 0, 1);
    caseLayout->addWidget(label(QStringLiteral("后缀名部分："), caseBox), 1, 0);
    caseLayout->addWidget(m_suffix, 1, 1);
    caseLayout->setColumnStretch(2, 1);
    caseLayout->setRowStretch(2, 1);

    m_boxes->addWidget(replaceBox);
    m_boxes->addWidget(insertBox);
    m_boxes->addWidget(caseBox);

    m_rename = button(QStringLiteral("CmdRename"), QStringLiteral("改名(&R)"), this);
    layout->addWidget(kinds, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(m_boxes, 0, 1);
    layout->addWidget(m_rename, 1, 1, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(0, 1);

    connect(m_replace, &QRadioButton::clicked, this, &BatchRenamePanel::chooseReplace);
    connect(m_insertDelete, &QRadioButton::clicked, this, &BatchRenamePanel::chooseInsertDelete);
    connect(m_case, &QRadioButton::clicked, this, &BatchRenamePanel::chooseCase);
    connect(m_insert, &QRadioButton::clicked, this, &BatchRenamePanel::applyInsertOrDelete);
    connect(m_delete, &QRadioButton::clicked, this, &BatchRenamePanel::applyInsertOrDelete);
    connect(m_prefix, &QComboBox::activated, this, &BatchRenamePanel::updateCaseCommand);
    connect(m_suffix, &QComboBox::activated, this, &BatchRenamePanel::updateCaseCommand);
    connect(m_rename, &QPushButton::clicked, this, &BatchRenamePanel::renameDocuments);

    registerCommand(m_rename, true);
    showFirstBox();
}

void BatchRenamePanel::showFirstBox()
{
    m_boxes->setCurrentIndex(0);
}

void BatchRenamePanel::chooseReplace()
{
    m_boxes->setCurrentIndex(0);
    setCommandWanted(m_rename, true);
}

void BatchRenamePanel::chooseInsertDelete()
{
    m_boxes->setCurrentIndex(1);
    setCommandWanted(m_rename, true);
    applyInsertOrDelete();
}

void BatchRenamePanel::applyInsertOrDelete()
{
    const bool inserting = m_insert->isChecked();
    m_insertPos->setEnabled(inserting);
    m_insertText->setEnabled(inserting);
    m_deletePos->setEnabled(!inserting);
    m_deleteCount->setEnabled(!inserting);
}

void BatchRenamePanel::chooseCase()
{
    m_boxes->setCurrentIndex(2);
    updateCaseCommand();
}

void BatchRenamePanel::updateCaseCommand()
{
    const bool nothingToChange = m_case->isChecked() && m_prefix->currentText() == kCaseUnchanged
            && m_suffix->currentText() == kCaseUnchanged;
    setCommandWanted(m_rename, !nothingToChange);
}

namespace {

CaseChange caseChoice(const QComboBox *list)
{
    switch (list->currentIndex()) {
    case 1:
        return CaseChange::Upper;
    case 2:
        return CaseChange::Lower;
    default:
        return CaseChange::Unchanged;
    }
}

} // namespace

void BatchRenamePanel::renameDocuments()
{
    RenameInputs inputs;
    inputs.entries = m_context.documents.entries();
    if (m_replace->isChecked()) {
        inputs.kind = RenameKind::Replace;
    } else if (m_insertDelete->isChecked()) {
        inputs.kind = m_insert->isChecked() ? RenameKind::Insert : RenameKind::Delete;
    } else {
        inputs.kind = RenameKind::Case;
    }
    inputs.search = m_search->text();
    inputs.replacement = m_replacement->text();
    inputs.replaceAll = m_replaceAll->isChecked();
    inputs.insertPosition = m_insertPos->text();
    inputs.insertText = m_insertText->text();
    inputs.deletePosition = m_deletePos->text();
    inputs.deleteCount = m_deleteCount->text();
    inputs.mainNameCase = caseChoice(m_prefix);
    inputs.extensionCase = caseChoice(m_suffix);

    // File-system renames only: quick enough for the GUI thread, and each clash message
    // is shown while the run waits.
    const RenameRun run = gm::renameDocuments(inputs, m_context.ui);
    for (const RenameResult &file : run.files) {
        if (file.outcome == RenameOutcome::Renamed)
            m_context.documents.setEntry(file.row, file.newPath);
    }
    if (run.searchTextMissing)
        m_search->setFocus();
}

} // namespace gm
