#pragma once

#include <QDialog>

namespace gm {

class UserDialogs;

// frmAbout: the program's title and version.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    AboutDialog(UserDialogs &dialogs, const QString &helpFile, QWidget *parent = nullptr);
};

} // namespace gm
