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

// The longest open password the RC4 encryption is written with: readers of the format refuse
// longer ones.
constexpr int kMaxOpenPasswordLength = 15;

// The FILEPASS body of RC4 1.1 for `password`, with the given 16-byte salt and verifier.
QByteArray rc4FilePass(const QString &password, const QByteArray &salt, const QByteArray &verifier);

// Encrypts (or, being a keystream, decrypts) a BIFF8 workbook stream with RC4 1.1 under the
// password of the FILEPASS record in its globals. The keystream runs over the whole stream by
// position, re-keyed every 1024 bytes; record headers, the bodies of BOF, FILEPASS,
// INTERFACEHDR and the revision records, and the sheet positions of BOUNDSHEET8 stay plain.
// Throws EngineError(Damaged) when the stream does not read as records or has no FILEPASS.
QByteArray rc4WorkbookStream(const QByteArray &stream, const QString &password);

} // namespace gm::xls
