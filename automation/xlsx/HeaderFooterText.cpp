#include "automation/xlsx/HeaderFooterText.h"

namespace gm::xlsx {

HeaderFooterText HeaderFooterText::parse(const QString &code)
{
    HeaderFooterText text;
    QString *section = &text.center;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c != u'&' || i + 1 >= code.size()) {
            *section += c;
            continue;
        }
        const QChar next = code[i + 1];
        switch (next.toUpper().unicode()) {
        case u'L':
            section = &text.left;
            ++i;
            break;
        case u'C':
            section = &text.center;
            ++i;
            break;
        case u'R':
            section = &text.right;
            ++i;
            break;
        case u'"': {
            // A font name may hold anything up to its closing quote, "&L" included.
            const qsizetype close = code.indexOf(u'"', i + 2);
            const qsizetype end = close < 0 ? code.size() : close + 1;
            *section += code.mid(i, end - i);
            i = end - 1;
            break;
        }
        default:
            // "&&" and every other code stay in the current section.
            *section += c;
            *section += next;
            ++i;
            break;
        }
    }
    return text;
}

QString HeaderFooterText::compose() const
{
    QString code;
    if (!left.isEmpty())
        code += QStringLiteral("&L") + left;
    if (!center.isEmpty())
        code += QStringLiteral("&C") + center;
    if (!right.isEmpty())
        code += QStringLiteral("&R") + right;
    return code;
}

} // namespace gm::xlsx
