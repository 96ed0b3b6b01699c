#include "automation/xlsx/PrintAreaText.h"

#include "automation/EngineError.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace gm::xlsx {

namespace {

constexpr int maxColumn = 16384;
constexpr int maxRow = 1048576;

struct Cell
{
    int column = 0;
    int row = 0;
};

// Parses "A1", "$A$1", "a$1" ...; false when the text is no cell inside the grid.
bool parseCell(const QString &text, Cell &cell)
{
    static const QRegularExpression pattern(QStringLiteral("^\\$?([A-Za-z]{1,3})\\$?([0-9]{1,7})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    int column = 0;
    for (const QChar c : match.captured(1))
        column = column * 26 + (c.toUpper().unicode() - u'A' + 1);
    const int row = match.captured(2).toInt();
    if (column > maxColumn || row < 1 || row > maxRow)
        return false;
    cell = {column, row};
    return true;
}

QString columnLetters(int column)
{
    QString letters;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        letters.prepend(QChar(u'A' + digit));
        column = (column - 1) / 26;
    }
    return letters;
}

QString absoluteCell(const Cell &cell)
{
    return QStringLiteral("$%1$%2").arg(columnLetters(cell.column)).arg(cell.row);
}

// Splits at commas that are not inside a quoted sheet name.
QStringList splitAreas(const QString &formula)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    for (const QChar c : formula) {
        if (c == u'\'')
            quoted = !quoted;
        if (c == u',' && !quoted) {
            parts.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.append(current);
    return parts;
}

} // namespace

QString normalisePrintArea(const QString &text)
{
    QStringList areas;
    for (const QString &area : text.split(QLatin1Char(','))) {
        const QStringList corners = area.split(QLatin1Char(':'));
        Cell first;
        Cell second;
        if (corners.size() > 2 || !parseCell(corners.first(), first)
            || (corners.size() == 2 && !parseCell(corners.last(), second)))
            throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("print area \"%1\"").arg(text));
        if (corners.size() == 1)
            second = first;
        const Cell topLeft{std::min(first.column, second.column), std::min(first.row, second.row)};
        const Cell bottomRight{std::max(first.column, second.column), std::max(first.row, second.row)};
        if (topLeft.column == bottomRight.column && topLeft.row == bottomRight.row)
            areas.append(absoluteCell(topLeft));
        else
            areas.append(absoluteCell(topLeft) + QLatin1Char(':') + absoluteCell(bottomRight));
    }
    return areas.join(QLatin1Char(','));
}

QString quoteSheetName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.]+$"));
    static const QRegularExpression leading(QStringLiteral("^[0-9.]"));
    static const QRegularExpression r1c1(QStringLiteral("^(?:[RrCc][0-9]|[Rr][Cc]|[RrCc]$)"));
    Cell cell;
    const bool needsQuotes = !plain.match(name).hasMatch() || leading.match(name).hasMatch()
        || parseCell(name, cell) || r1c1.match(name).hasMatch();
    if (!needsQuotes)
        return name;
    QString escaped = name;
    escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString printAreaFormula(const QString &sheetName, const QString &normalisedArea)
{
    const QString prefix = quoteSheetName(sheetName) + QLatin1Char('!');
    QStringList parts;
    for (const QString &area : normalisedArea.split(QLatin1Char(',')))
        parts.append(prefix + area);
    return parts.join(QLatin1Char(','));
}

QString areaWithoutSheet(const QString &formula)
{
    QStringList parts;
    for (const QString &part : splitAreas(formula)) {
        // The last "!" outside quotes ends the sheet prefix.
        qsizetype bang = -1;
        bool quoted = false;
        for (qsizetype i = 0; i < part.size(); ++i) {
            if (part[i] == u'\'')
                quoted = !quoted;
            else if (part[i] == u'!' && !quoted)
                bang = i;
        }
        parts.append(part.mid(bang + 1));
    }
    return parts.join(QLatin1Char(','));
}

} // namespace gm::xlsx
