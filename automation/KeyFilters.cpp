#include "automation/KeyFilters.h"

namespace gm {

namespace {

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isUpperLetter(QChar c)
{
    return c >= u'A' && c <= u'Z';
}

bool isLowerLetter(QChar c)
{
    return c >= u'a' && c <= u'z';
}

QChar toUpperLetter(QChar c)
{
    return isLowerLetter(c) ? QChar(static_cast<char16_t>(c.unicode() - u'a' + u'A')) : c;
}

KeyDecision accept(QChar c)
{
    return {true, QString(c), QString()};
}

KeyDecision dropSilently()
{
    return {false, QString(), QString()};
}

KeyDecision dropWithMessage(const QString &message)
{
    return {false, QString(), message};
}

} // namespace

KeyDecision filterKey(KeyFilter filter, QChar typed, const QString &currentText)
{
    if (typed == kBackspace)
        return accept(typed);

    switch (filter) {
    case KeyFilter::ColumnLetterOrNumber:
        if (isDigit(typed) || isUpperLetter(typed) || isLowerLetter(typed))
            return accept(toUpperLetter(typed));
        return dropSilently();

    case KeyFilter::ColumnLetters:
        if (isUpperLetter(typed) || isLowerLetter(typed))
            return accept(toUpperLetter(typed));
        return dropWithMessage(QStringLiteral("输入不合法，Excel文件的列以大写英文字母标识！"));

    case KeyFilter::RowNumber:
        if (isDigit(typed))
            return accept(typed);
        return dropWithMessage(QStringLiteral("输入不合法，Excel文件的行以整数标识！"));

    case KeyFilter::Size:
        if (isDigit(typed) || (typed == u'.' && !currentText.contains(u'.')))
            return accept(typed);
        return dropSilently();

    case KeyFilter::CellName:
        // A cell name starts with its column letters, so a digit cannot come first.
        if (isUpperLetter(typed) || isLowerLetter(typed) || (isDigit(typed) && !currentText.isEmpty()))
            return accept(toUpperLetter(typed));
        return dropSilently();

    case KeyFilter::DialogRow:
        if (isDigit(typed))
            return accept(typed);
        return dropWithMessage(QStringLiteral("输入不合法，请输入整数行号！"));

    case KeyFilter::DialogColumn:
        if (isDigit(typed))
            return accept(typed);
        return dropWithMessage(QStringLiteral("输入不合法，请输入整数列序号！"));
    }
    return dropSilently();
}

QString normalizeColumnLettersField(const QString &text)
{
    return text.toUpper().left(kColumnLettersMaxLength);
}

} // namespace gm
