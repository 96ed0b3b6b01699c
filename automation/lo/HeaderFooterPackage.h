#pragma once

#include <QList>
#include <QString>

#include <array>

namespace gm::lo {

// Header and footer code strings of one sheet, left/centre/right header then footer.
using HeaderFooterCodes = std::array<QString, 6>;

// Writes a minimal .xlsx package with one worksheet per entry, each carrying those header and
// footer codes. The engine's own import turns such codes (fields, fonts, sizes, colours) into
// its header contents, which are then copied onto the real sheets. The package's default font
// is the target workbook's, so that text without a font code keeps the target's default font.
void writeHeaderFooterPackage(
    const QString &path, const QList<HeaderFooterCodes> &sheets, const QString &fontName, double fontSize);

} // namespace gm::lo
