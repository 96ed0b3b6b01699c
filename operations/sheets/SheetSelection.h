#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace gm {

// How a worksheet's name is compared with a typed text: the index of the item in the name
// list boxes of the sheet panel.
enum class NameMatchKind { Equals = 0, Contains = 1, NotEquals = 2, NotContains = 3 };

inline const QStringList kNameMatchKindItems{QStringLiteral("工作表名称等于"), QStringLiteral("工作表名称包含"),
    QStringLiteral("工作表名称不等于"), QStringLiteral("工作表名称不包含")};

// The name rule: letters compare without regard to case, nothing is trimmed, and a "contains"
// search starts at the first character. An index outside the four kinds matches nothing.
bool MatchSheetName(int kind, const QString &sheetName, const QString &matchText);
bool MatchSheetName(NameMatchKind kind, const QString &sheetName, const QString &matchText);

// A position box's text as the signed 16-bit whole number it holds; nothing when the text is
// not such a number. Blanks around the digits are allowed, as in a typed number.
std::optional<qint16> sheetPositionOf(const QString &text);

} // namespace gm
