#pragma once

#include <QString>

namespace gm::ole {

// Puts the document-property streams of `from` into the compound file `to`, replacing the
// ones `to` has: the engine's .xls export drops properties it cannot carry (category,
// manager, company, hyperlink base and others), so a save through it takes the original's
// streams back. Throws EngineError(Damaged, WriteFailed).
void copyPropertyStreams(const QString &from, const QString &to);

} // namespace gm::ole
