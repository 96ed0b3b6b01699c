#include "ui/AsteriskPasswordStyle.h"

#include <QApplication>
#include <QLineEdit>

namespace gm {

int AsteriskPasswordStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                                     QStyleHintReturn *returnData) const
{
    if (hint == SH_LineEdit_PasswordCharacter)
        return u'*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void AsteriskPasswordStyle::apply(QLineEdit *edit)
{
    // One style object for all password fields, living as long as the application.
    static AsteriskPasswordStyle *style = [] {
        auto *created = new AsteriskPasswordStyle;
        created->setParent(qApp);
        return created;
    }();
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyle(style);
}

} // namespace gm
