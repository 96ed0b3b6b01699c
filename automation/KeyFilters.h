#pragma once

#include <QChar>
#include <QString>

namespace gm {

// Keystroke filters of the fields that take cell and range notation. They decide on one
// typed character given the field's current text; pasted text is not filtered, which is why
// the operations check their fields again when they run.
enum class KeyFilter {
    ColumnLetterOrNumber, // column limits of content replace: digits, letters (upper-cased)
    ColumnLetters, // column "from"/"to" of rows and columns: letters, at most 2
    RowNumber, // row "from"/"to" of rows and columns: digits
    Size, // row height and column width: digits and one "."
    CellName, // cell name of the cell dialog: letters (upper-cased), then digits
    DialogRow, // row of the cell dialog: digits
    DialogColumn, // column of the cell dialog: digits
};

// Backspace, which every filter lets through.
inline constexpr QChar kBackspace = QChar(8);

// Fields under the column-letters filter hold at most this many characters.
inline constexpr int kColumnLettersMaxLength = 2;

struct KeyDecision
{
    bool accept = false; // insert the key (or let Backspace act)
    QString replacement; // when accepted: the text to insert in place of the typed key
    QString message; // when not empty: shown as an information message (key dropped)
};

KeyDecision filterKey(KeyFilter filter, QChar typed, const QString &currentText);

// Text of a column-letters field after any change: upper case, at most two characters. The
// caret goes to its end.
QString normalizeColumnLettersField(const QString &text);

} // namespace gm
