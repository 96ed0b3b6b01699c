#pragma once

#include <QByteArray>

namespace gm {

// The number of pages of a PDF file's content: its page objects ("/Type /Page"), which the
// engine's export writes as plain dictionaries. 0 for what holds none.
int pdfPageCount(const QByteArray &pdf);

} // namespace gm
