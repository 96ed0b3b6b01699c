#pragma once

// Filters the keys typed into a line edit (or an editable combo box's line edit): a rejected
// key is not inserted and may show a message; an accepted key may be inserted in another form
// (lower-case letters as capitals). Pasted text is not filtered.

#include "automation/KeyFilters.h"

#include <QObject>

#include <functional>

class QComboBox;
class QLineEdit;

namespace gm {

class UserDialogs;

class KeystrokeFilter : public QObject
{
    Q_OBJECT

public:
    using Decide = std::function<KeyDecision(QChar typed, const QString &currentText)>;

    // A filter of the notation fields. The column-letters filter also keeps the field upper
    // case and at most two characters long, with the caret at its end.
    static KeystrokeFilter *install(QLineEdit *edit, KeyFilter filter, UserDialogs &dialogs);
    static KeystrokeFilter *install(QComboBox *combo, KeyFilter filter, UserDialogs &dialogs);
    // A panel's own filter: the characters allowed pass, every other one is dropped silently.
    static KeystrokeFilter *installAllowed(QLineEdit *edit, std::function<bool(QChar)> allowed);
    static KeystrokeFilter *installAllowed(QComboBox *combo, std::function<bool(QChar)> allowed);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KeystrokeFilter(QLineEdit *edit, Decide decide, UserDialogs *dialogs);

    QLineEdit *m_edit;
    Decide m_decide;
    UserDialogs *m_dialogs;
};

} // namespace gm
