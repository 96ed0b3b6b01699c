#include "operations/sheets/SheetSelection.h"

#include <QStringList>

namespace gm {

bool MatchSheetName(NameMatchKind kind, const QString &sheetName, const QString &matchText)
{
    switch (kind) {
    case NameMatchKind::Equals:
        return sheetName.compare(matchText, Qt::CaseInsensitive) == 0;
    case NameMatchKind::Contains:
        return sheetName.contains(matchText, Qt::CaseInsensitive);
    case NameMatchKind::NotEquals:
        return sheetName.compare(matchText, Qt::CaseInsensitive) != 0;
    case NameMatchKind::NotContains:
        return !sheetName.contains(matchText, Qt::CaseInsensitive);
    }
    return false;
}

bool MatchSheetName(int kind, const QString &sheetName, const QString &matchText)
{
    if (kind < 0 || kind > 3)
        return false;
    return MatchSheetName(static_cast<NameMatchKind>(kind), sheetName, matchText);
}

std::optional<qint16> sheetPositionOf(const QString &text)
{
    bool ok = false;
    const short value = text.trimmed().toShort(&ok);
    if (!ok)
        return std::nullopt;
    return qint16(value);
}

} // namespace gm
