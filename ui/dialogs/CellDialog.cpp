#include "ui/dialogs/CellDialog.h"

#include "automation/Notation.h"
#include "ui/Controls.h"
#include "ui/KeystrokeFilter.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace gm {

using namespace controls;

CellDialog::CellDialog(UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmCell"));
    setWindowTitle(QStringLiteral("单元格内容设置"));
    setModal(true);

    m_cellName = edit(QStringLiteral("txtCellID"), this);
    m_row = edit(QStringLiteral("txtRow"), this);
    m_column = edit(QStringLiteral("txtCol"), this);
    m_content = edit(QStringLiteral("txtCell"), this);
    auto *ok = button(QStringLiteral("Command1"), QStringLiteral("确定"), this);
    auto *cancel = button(QStringLiteral("Command2"), QStringLiteral("取消"), this);
    ok->setDefault(true);

    auto *layout = grid(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setVerticalSpacing(8);
    layout->addWidget(label(QStringLiteral("单元格："), this), 0, 0);
    layout->addWidget(m_cellName, 0, 1);
    layout->addWidget(label(QStringLiteral("（单元格名称，如F5）"), this), 0, 2, 1, 3);
    layout->addWidget(label(QStringLiteral("行号："), this), 1, 0);
    layout->addWidget(m_row, 1, 1);
    layout->addWidget(label(QStringLiteral("列号："), this), 1, 2);
    layout->addWidget(m_column, 1, 3);
    layout->addWidget(label(QStringLiteral("（数字序号，如：5）"), this), 1, 4);
    layout->addWidget(label(QStringLiteral("单元格内容："), this), 2, 0);
    layout->addWidget(m_content, 2, 1, 1, 4);
    auto *buttons = controls::row();
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons, 3, 0, 1, 5);

    KeystrokeFilter::install(m_cellName, KeyFilter::CellName, dialogs);
    KeystrokeFilter::install(m_row, KeyFilter::DialogRow, dialogs);
    KeystrokeFilter::install(m_column, KeyFilter::DialogColumn, dialogs);
    for (QLineEdit *field : {m_cellName, m_row, m_column})
        field->installEventFilter(this);

    connect(m_cellName, &QLineEdit::textChanged, this, &CellDialog::cellNameChanged);
    connect(m_column, &QLineEdit::textChanged, this, &CellDialog::columnChanged);
    connect(m_row, &QLineEdit::textChanged, this, &CellDialog::rowChanged);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString CellDialog::row() const
{
    return m_row->text();
}

QString CellDialog::column() const
{
    return m_column->text();
}

QString CellDialog::content() const
{
    return m_content->text();
}

void CellDialog::clearFields()
{
    // Set as a whole: the fields must not drive one another here.
    const QSignalBlocker blockName(m_cellName);
    const QSignalBlocker blockRow(m_row);
    const QSignalBlocker blockColumn(m_column);
    m_cellName->clear();
    m_row->clear();
    m_column->clear();
    m_content->clear();
}

void CellDialog::setEntry(const QString &row, const QString &column, const QString &content)
{
    const QSignalBlocker blockName(m_cellName);
    const QSignalBlocker blockRow(m_row);
    const QSignalBlocker blockColumn(m_column);
    m_row->setText(row);
    m_column->setText(column);
    m_content->setText(content);
    m_cellName->setText(column.isEmpty() ? QString() : ColumnNumberToLetters(column) + row);
}

bool CellDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_cellName)
            m_lastFocused = Field::CellName;
        else if (watched == m_row)
            m_lastFocused = Field::Row;
        else if (watched == m_column)
            m_lastFocused = Field::Column;
    } else if (event->type() == QEvent::KeyPress && watched == m_row) {
        // Any key in the row field refreshes the cell name from the current fields.
        if (!m_row->text().isEmpty() && !m_column->text().isEmpty())
            rebuildCellName();
    }
    return QDialog::eventFilter(watched, event);
}

void CellDialog::cellNameChanged()
{
    if (m_lastFocused != Field::CellName)
        return;
    const CellNameParts parts = SplitCellName(m_cellName->text());
    m_column->setText(parts.column);
    m_row->setText(parts.row);
}

void CellDialog::columnChanged()
{
    if (m_lastFocused == Field::Column && !m_column->text().isEmpty())
        rebuildCellName();
}

void CellDialog::rowChanged()
{
    if (m_lastFocused == Field::Row && !m_column->text().isEmpty())
        rebuildCellName();
}

void CellDialog::rebuildCellName()
{
    m_cellName->setText(ColumnNumberToLetters(m_column->text()) + m_row->text());
}

} // namespace gm
