#pragma once

#include <QByteArray>
#include <QString>

namespace gm::crypto {

// The open password of an Office Open XML package: the whole package, byte for byte, encrypted
// with AES-256-CBC in 4096-byte segments under a random key, that key wrapped by one derived
// from the password (SHA-512, 100,000 rounds), an HMAC-SHA-512 over the encrypted stream, all
// in a compound file with the data-spaces description readers require. This is the form
// spreadsheet programs since 2013 write and every reader of encrypted packages understands.

struct EncryptedPackage
{
    QByteArray container; // the compound file to store
    QByteArray key; // the random package key, to check the container without the slow derivation
};

// Throws EngineError(InvalidArgument) for an empty password, WriteFailed when the container
// cannot be built.
EncryptedPackage encryptPackage(const QByteArray &package, const QString &password);

// The package inside a container written with this encryption, checked against its HMAC.
// Throws EngineError: PasswordRequired (a wrong password), UnsupportedFormat (another kind of
// encryption), Damaged (a container that does not read, or whose HMAC does not match).
QByteArray decryptPackage(const QByteArray &container, const QString &password);
QByteArray decryptPackageWithKey(const QByteArray &container, const QByteArray &key);

} // namespace gm::crypto
