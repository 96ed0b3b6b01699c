#include "ui/KeystrokeFilter.h"

#include "ui/UserDialogs.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace gm {

KeystrokeFilter::KeystrokeFilter(QLineEdit *edit, Decide decide, UserDialogs *dialogs)
    : QObject(edit)
    , m_edit(edit)
    , m_decide(std::move(decide))
    , m_dialogs(dialogs)
{
    // Typed characters arrive one by one as key presses; an input method would bypass them.
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    edit->installEventFilter(this);
}

KeystrokeFilter *KeystrokeFilter::install(QLineEdit *edit, KeyFilter filter, UserDialogs &dialogs)
{
    auto *result = new KeystrokeFilter(
            edit, [filter](QChar typed, const QString &text) { return filterKey(filter, typed, text); }, &dialogs);
    if (filter == KeyFilter::ColumnLetters) {
        edit->setMaxLength(kColumnLettersMaxLength);
        QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString &text) {
            const QString normalized = normalizeColumnLettersField(text);
            if (normalized != text)
                edit->setText(normalized);
            edit->setCursorPosition(int(edit->text().size()));
        });
    }
    return result;
}

KeystrokeFilter *KeystrokeFilter::install(QComboBox *combo, KeyFilter filter, UserDialogs &dialogs)
{
    return combo->lineEdit() ? install(combo->lineEdit(), filter, dialogs) : nullptr;
}

KeystrokeFilter *KeystrokeFilter::installAllowed(QLineEdit *edit, std::function<bool(QChar)> allowed)
{
    return new KeystrokeFilter(
            edit,
            [allowed = std::move(allowed)](QChar typed, const QString &) {
                KeyDecision decision;
                decision.accept = typed == kBackspace || allowed(typed);
                if (decision.accept)
                    decision.replacement = QString(typed);
                return decision;
            },
            nullptr);
}

KeystrokeFilter *KeystrokeFilter::installAllowed(QComboBox *combo, std::function<bool(QChar)> allowed)
{
    return combo->lineEdit() ? installAllowed(combo->lineEdit(), std::move(allowed)) : nullptr;
}

bool KeystrokeFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_edit || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const QString typed = key->text();
    // Keys that type nothing (arrows, Delete, shortcuts) are not the filter's business.
    if (typed.isEmpty() || key->key() == Qt::Key_Backspace)
        return false;
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    for (QChar c : typed) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }

    for (QChar c : typed) {
        const KeyDecision decision = m_decide(c, m_edit->text());
        if (decision.accept) {
            m_edit->insert(decision.replacement);
        } else if (!decision.message.isEmpty() && m_dialogs) {
            m_dialogs->inform(m_edit->window(), decision.message);
            m_edit->setFocus();
            break;
        }
    }
    return true;
}

} // namespace gm
