#pragma once

#include "automation/xlsx/WorkbookModel.h"

#include <QString>

namespace gm {
class BackgroundPicture;
}

namespace gm::xlsx {

class PackageDocument;

// Hyperlinks and the background picture of one sheet of a package. The sheet part is edited
// through its streamed splice, so its cell data is never parsed.

// Removes the sheet's <hyperlinks> and exactly the relationships their r:ids name (a rels
// part left empty goes too); cell text, styles, HYPERLINK() formulas and drawing links stay.
// Returns the number of hyperlinks removed.
int removeHyperlinks(PackageDocument &document, const SheetEntry &sheet);

// Sets the sheet's <picture>: the picture is stored once per package as a media part in its
// own format, with a relationship from the sheet and a content type for its extension. A
// previous background of the sheet is replaced.
void setBackground(PackageDocument &document, const SheetEntry &sheet, const BackgroundPicture &picture);
// Removes the sheet's <picture>, its relationship and the media part when nothing else in
// the package refers to it. Returns false when the sheet had no background.
bool removeBackground(PackageDocument &document, const SheetEntry &sheet);

} // namespace gm::xlsx
