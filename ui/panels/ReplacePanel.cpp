#include "ui/panels/ReplacePanel.h"

#include "app/AppState.h"
#include "automation/BatchFrame.h"
#include "doclist/DocumentListModel.h"
#include "operations/cells/ReplaceOperation.h"
#include "ui/GuiUserInterface.h"
#include "ui/RunController.h"
#include "ui/Controls.h"
#include "ui/KeystrokeFilter.h"
#include "ui/panels/PanelContext.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace gm {

using namespace controls;

ReplacePanel::ReplacePanel(PanelContext &context, QWidget *parent)
    : FeaturePanel(QStringLiteral("fraReplace"), QStringLiteral("批量内容替换"), context, parent)
{
    auto *layout = grid(this);

    auto *findText = edit(QStringLiteral("txtStr1"), this);
    auto *equal = option(QStringLiteral("OptEqual"), QStringLiteral("单元格等于"), this, true);
    auto *include = option(QStringLiteral("OptInclude"), QStringLiteral("单元格包含"), this);
    auto *modes = new QButtonGroup(this);
    modes->addButton(equal);
    modes->addButton(include);
    auto *matchCase = check(QStringLiteral("ChkCase"), QStringLiteral("区分大小写"), this);
    auto *ignoreReturn = check(QStringLiteral("ChkIgnoreReturn"), QStringLiteral("忽略单元格中回车折行"), this, true);
    auto *newText = edit(QStringLiteral("txtNewCell"), this);
    m_find = findText;
    m_newText = newText;
    m_include = include;
    m_matchCase = matchCase;
    m_ignoreReturn = ignoreReturn;

    layout->addWidget(label(QStringLiteral("查找内容："), this), 0, 0);
    layout->addWidget(findText, 0, 1);
    auto *modeRow = row();
    modeRow->addWidget(label(QStringLiteral("查找方式："), this));
    modeRow->addWidget(equal);
    modeRow->addWidget(include);
    modeRow->addStretch();
    layout->addLayout(modeRow, 0, 2);
    layout->addWidget(label(QStringLiteral("替换为："), this), 1, 0);
    layout->addWidget(newText, 1, 1);
    auto *optionRow = row();
    optionRow->addWidget(matchCase);
    optionRow->addWidget(ignoreReturn);
    optionRow->addStretch();
    layout->addLayout(optionRow, 1, 2);

    auto *scope = new QFrame(this);
    scope->setObjectName(QStringLiteral("FraReplaceScope"));
    scope->setFrameShape(QFrame::StyledPanel);
    auto *scopeLayout = grid(scope);
    m_rowScope = check(QStringLiteral("ChkReplaceScopeR"), QStringLiteral("限定行范围："), scope);
    m_row1 = edit(QStringLiteral("txtReplaceScopeR1"), scope);
    m_row2 = edit(QStringLiteral("txtReplaceScopeR2"), scope);
    m_columnScope = check(QStringLiteral("ChkReplaceScopeC"), QStringLiteral("限定列范围："), scope);
    m_column1 = editableCombo(QStringLiteral("cmbReplaceScopeC1"), {}, scope);
    m_column2 = editableCombo(QStringLiteral("cmbReplaceScopeC2"), {}, scope);
    for (QWidget *field : {static_cast<QWidget *>(m_row1), static_cast<QWidget *>(m_row2),
                           static_cast<QWidget *>(m_column1), static_cast<QWidget *>(m_column2)}) {
        field->setEnabled(false);
        field->setMinimumWidth(70);
        field->setMaximumWidth(90);
    }
    scopeLayout->addWidget(m_rowScope, 0, 0);
    scopeLayout->addWidget(m_row1, 0, 1);
    scopeLayout->addWidget(label(QStringLiteral("-"), scope), 0, 2);
    scopeLayout->addWidget(m_row2, 0, 3);
    scopeLayout->addWidget(m_columnScope, 0, 5);
    scopeLayout->addWidget(m_column1, 0, 6);
    scopeLayout->addWidget(label(QStringLiteral("-"), scope), 0, 7);
    scopeLayout->addWidget(m_column2, 0, 8);
    scopeLayout->setColumnMinimumWidth(4, 24);
    scopeLayout->setColumnStretch(9, 1);
    layout->addWidget(scope, 2, 0, 1, 3);

    auto *replace = button(QStringLiteral("CmdReplace"), QStringLiteral("替换(&R)"), this);
    layout->addWidget(replace, 3, 2, Qt::AlignRight | Qt::AlignBottom);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(3, 1);

    connect(m_rowScope, &QCheckBox::toggled, this, [this](bool on) {
        m_row1->setEnabled(on);
        m_row2->setEnabled(on);
        if (on)
            m_row1->setFocus();
    });
    connect(m_columnScope, &QCheckBox::toggled, this, [this](bool on) {
        m_column1->setEnabled(on);
        m_column2->setEnabled(on);
        if (on)
            m_column1->setFocus();
    });
    KeystrokeFilter::install(m_column1, KeyFilter::ColumnLetterOrNumber, context.dialogs);
    KeystrokeFilter::install(m_column2, KeyFilter::ColumnLetterOrNumber, context.dialogs);

    connect(replace, &QPushButton::clicked, this, &ReplacePanel::replace);
    registerCommand(replace, true);
    fillColumnLists();
}

void ReplacePanel::fillColumnLists()
{
    m_column1->clear();
    m_column2->clear();
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        m_column1->addItem(QString(QChar(letter)));
        m_column2->addItem(QString(QChar(letter)));
    }
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter)
        m_column2->addItem(QStringLiteral("A") + QChar(letter));
    for (QComboBox *combo : {m_column1, m_column2}) {
        combo->setCurrentIndex(-1);
        combo->clearEditText();
    }
}

void ReplacePanel::replace()
{
    ReplaceInputs inputs;
    inputs.entries = m_context.documents.entries();
    inputs.find = m_find->text();
    inputs.replacement = m_newText->text();
    inputs.contains = m_include->isChecked();
    inputs.matchCase = m_matchCase->isChecked();
    inputs.ignoreLineBreaks = m_ignoreReturn->isChecked();
    inputs.limitRows = m_rowScope->isChecked();
    inputs.rowFrom = m_row1->text();
    inputs.rowTo = m_row2->text();
    inputs.limitColumns = m_columnScope->isChecked();
    inputs.columnFrom = m_column1->currentText();
    inputs.columnTo = m_column2->currentText();

    if (!BatchFrame::checkList(m_context.ui, inputs.entries, kReplaceEmptyList))
        return;
    if (const Validation failure = validateReplace(inputs)) {
        showFailure(*failure);
        return;
    }
    // The runner keeps the window from taking commands until the run has ended.
    const RunSettings settings = m_context.state.runSettings();
    m_context.runner.start([inputs, settings](UserInterface &ui) { runReplaceContent(inputs, ui, settings); });
}

} // namespace gm
