#include "ui/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace gm::controls {

namespace {
constexpr int kSpacing = 4;
}

QLabel *label(const QString &text, QWidget *parent)
{
    return new QLabel(text, parent);
}

QLineEdit *edit(const QString &name, QWidget *parent, const QString &text)
{
    auto *result = new QLineEdit(text, parent);
    result->setObjectName(name);
    return result;
}

QCheckBox *check(const QString &name, const QString &caption, QWidget *parent, bool checked)
{
    auto *result = new QCheckBox(caption, parent);
    result->setObjectName(name);
    result->setChecked(checked);
    return result;
}

QRadioButton *option(const QString &name, const QString &caption, QWidget *parent, bool checked)
{
    auto *result = new QRadioButton(caption, parent);
    result->setObjectName(name);
    result->setChecked(checked);
    return result;
}

QPushButton *button(const QString &name, const QString &caption, QWidget *parent)
{
    auto *result = new QPushButton(caption, parent);
    result->setObjectName(name);
    result->setAutoDefault(false);
    return result;
}

QPushButton *chooser(const QString &name, QWidget *parent)
{
    auto *result = button(name, QStringLiteral("..."), parent);
    result->setFixedWidth(result->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    return result;
}

QComboBox *dropDown(const QString &name, const QStringList &items, QWidget *parent)
{
    auto *result = new QComboBox(parent);
    result->setObjectName(name);
    result->addItems(items);
    return result;
}

QComboBox *editableCombo(const QString &name, const QStringList &items, QWidget *parent)
{
    auto *result = dropDown(name, items, parent);
    result->setEditable(true);
    result->setInsertPolicy(QComboBox::NoInsert);
    result->setCurrentIndex(-1);
    result->clearEditText();
    return result;
}

QGridLayout *grid(QWidget *owner)
{
    auto *result = new QGridLayout(owner);
    result->setContentsMargins(6, 4, 6, 4);
    result->setHorizontalSpacing(6);
    result->setVerticalSpacing(kSpacing);
    return result;
}

QHBoxLayout *row(QWidget *owner)
{
    auto *result = new QHBoxLayout(owner);
    if (owner)
        result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(kSpacing);
    return result;
}

QVBoxLayout *column(QWidget *owner)
{
    auto *result = new QVBoxLayout(owner);
    if (owner)
        result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(kSpacing);
    return result;
}

QString indexed(const QString &name, int index)
{
    return name + u'(' + QString::number(index) + u')';
}

} // namespace gm::controls
