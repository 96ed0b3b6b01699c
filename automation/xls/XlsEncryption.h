#pragma once

#include <QByteArray>
#include <QString>

namespace gm::xls {

// True when a FILEPASS record body is RC4 encryption (version 1.1) under the built-in password
// that spreadsheet programs use for workbooks encrypted only to be opened read-only: readers
// open such a file without asking, but it cannot be changed in place.
bool usesBuiltInPassword(const QByteArray &filePass);

// RC4 1.1: whether `password` opens a workbook with this FILEPASS body.
bool rc4PasswordMatches(const QByteArray &filePass, const QString &password);

} // namespace gm::xls
