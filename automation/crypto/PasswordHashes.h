#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace gm::crypto {

// SHA-512 of `data`.
QByteArray sha512(const QByteArray &data);
// `count` bytes from the system's cryptographic random source; throws EngineError(Unexpected)
// when it has none.
QByteArray randomBytes(int count);
// The password as UTF-16LE code units, without a terminator.
QByteArray utf16le(const QString &password);

// The 16-bit password verifier of the binary formats and the legacy hex attributes, over the
// bytes of the password in the ANSI code page a Chinese system uses (GBK): Excel converts a
// password to that code page before hashing. nullopt for a password GBK cannot represent; 0
// for an empty password, which has no verifier.
std::optional<quint16> legacyPasswordVerifier(const QString &password);
// The same over given bytes.
quint16 legacyPasswordVerifier(const QByteArray &bytes);

// Where each round of the iterated hash puts its counter.
enum class Counter { After, Before };

// The iterated SHA-512 password hash of the XML protection and file-sharing elements:
// H = SHA-512(salt, UTF-16LE password), then `spinCount` times H = SHA-512(H, LE32(i)). The key
// derivation of encrypted packages puts the counter first: H = SHA-512(LE32(i), H).
QByteArray iteratedPasswordHash(const QString &password, const QByteArray &salt, int spinCount, Counter counter = Counter::After);

// The four attributes of that hash as written in a package (base64 values).
struct IteratedHash
{
    QString algorithmName = QStringLiteral("SHA-512");
    QString hashValue;
    QString saltValue;
    int spinCount = 100000;
};
// A fresh random salt and the hash of `password` with it.
IteratedHash makeIteratedHash(const QString &password, int spinCount = 100000);

// The name a modify password reserves the workbook for, shown in the password prompt: the
// user's login name, else the program's name.
QString reservationUserName();

} // namespace gm::crypto
