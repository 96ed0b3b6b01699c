#pragma once

// Small makers for the panels' controls: each control gets its name (objectName) and caption.

#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QVBoxLayout;
class QWidget;

namespace gm::controls {

QLabel *label(const QString &text, QWidget *parent = nullptr);
QLineEdit *edit(const QString &name, QWidget *parent = nullptr, const QString &text = {});
QCheckBox *check(const QString &name, const QString &caption, QWidget *parent = nullptr, bool checked = false);
QRadioButton *option(const QString &name, const QString &caption, QWidget *parent = nullptr, bool checked = false);
QPushButton *button(const QString &name, const QString &caption, QWidget *parent = nullptr);
// A small "..." button that opens a chooser.
QPushButton *chooser(const QString &name, QWidget *parent = nullptr);
// A drop-down list (no typing) or an editable combo box starting with an empty text.
QComboBox *dropDown(const QString &name, const QStringList &items, QWidget *parent = nullptr);
QComboBox *editableCombo(const QString &name, const QStringList &items, QWidget *parent = nullptr);

// Compact layouts for the fixed-height panel area.
QGridLayout *grid(QWidget *owner);
QHBoxLayout *row(QWidget *owner = nullptr);
QVBoxLayout *column(QWidget *owner = nullptr);
// Name of an element of a control array, such as ChkProperty(3).
QString indexed(const QString &name, int index);

} // namespace gm::controls
