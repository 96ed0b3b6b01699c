#pragma once

// FrmPath: the folder whose workbook files are added to the list, and whether its
// sub-folders are searched too.

#include <QDialog>

class QCheckBox;
class QLineEdit;

namespace gm {

class UserDialogs;

class FolderDialog : public QDialog
{
    Q_OBJECT

public:
    FolderDialog(UserDialogs &dialogs, QWidget *parent = nullptr);

    QString folder() const;
    bool includeSubfolders() const;

    // The choice of a confirmed dialog; an empty folder when it was cancelled or closed.
    struct Choice
    {
        QString folder;
        bool includeSubfolders = false;
    };
    Choice choice() const;

private:
    void browse();

    UserDialogs &m_dialogs;
    QLineEdit *m_folder;
    QCheckBox *m_subfolders;
};

} // namespace gm
