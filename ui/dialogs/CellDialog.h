#pragma once

// frmCell: one entry of the cell list. The cell name (such as F5) is kept in step with the
// separate row and column numbers; which field drives the others is the one that last had
// the focus, so the updates never set each other off.

#include <QDialog>

class QLineEdit;

namespace gm {

class UserDialogs;

class CellDialog : public QDialog
{
    Q_OBJECT

public:
    enum class Field { CellName, Row, Column };

    CellDialog(UserDialogs &dialogs, QWidget *parent = nullptr);

    QString row() const;
    QString column() const;
    QString content() const;
    void clearFields();
    // Fills the fields from an entry; the cell name is built from the column and row.
    void setEntry(const QString &row, const QString &column, const QString &content);

    Field lastFocused() const { return m_lastFocused; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cellNameChanged();
    void columnChanged();
    void rowChanged();
    void rebuildCellName();

    QLineEdit *m_cellName;
    QLineEdit *m_row;
    QLineEdit *m_column;
    QLineEdit *m_content;
    Field m_lastFocused = Field::CellName;
};

} // namespace gm
