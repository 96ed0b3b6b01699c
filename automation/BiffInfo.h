#pragma once

#include <QString>

namespace gm {

// The 0-based position of the active sheet recorded in an .xls workbook (the WINDOW1
// record of its workbook stream), or -1 when it cannot be read.
int biffActiveSheet(const QString &path);

} // namespace gm
