#pragma once

#include <QtGlobal>

namespace gm::xls {

// The bytes a BIFF8 formula token takes, its first byte included, read from `token` with
// `available` bytes left in the formula; -1 for a token not known here or one that runs past
// the end. Array values and memory-area sub-expressions follow separately and are not counted.
int formulaTokenSize(const char *token, qsizetype available);

} // namespace gm::xls
