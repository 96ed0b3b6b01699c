#include "automation/xls/XlsEncryption.h"

#include <QCryptographicHash>
#include <QString>

#include <array>

namespace gm::xls {

namespace {

QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

// A plain RC4 keystream applied to `data`.
QByteArray rc4(const QByteArray &key, const QByteArray &data)
{
    std::array<quint8, 256> s{};
    for (int i = 0; i < 256; ++i)
        s[size_t(i)] = quint8(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[size_t(i)] + quint8(key[i % key.size()])) & 0xFF;
        std::swap(s[size_t(i)], s[size_t(j)]);
    }
    QByteArray out(data.size(), Qt::Uninitialized);
    for (qsizetype n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[size_t(i)]) & 0xFF;
        std::swap(s[size_t(i)], s[size_t(j)]);
        out[n] = char(quint8(data[n]) ^ s[size_t((s[size_t(i)] + s[size_t(j)]) & 0xFF)]);
    }
    return out;
}

} // namespace

bool rc4PasswordMatches(const QByteArray &filePass, const QString &password)
{
    // wEncryptionType 1 (RC4), version 1.1, salt, encrypted verifier, encrypted verifier hash.
    if (filePass.size() < 54 || !filePass.startsWith(QByteArray::fromHex("010001000100")))
        return false;
    const QByteArray salt = filePass.mid(6, 16);
    QByteArray utf16;
    for (const QChar c : password) {
        utf16.append(char(c.unicode() & 0xFF));
        utf16.append(char(c.unicode() >> 8));
    }
    const QByteArray h0 = md5(utf16);
    QByteArray repeated;
    for (int i = 0; i < 16; ++i)
        repeated += h0.left(5) + salt;
    const QByteArray h1 = md5(repeated);
    const QByteArray key = md5(h1.left(5) + QByteArray("\0\0\0\0", 4)); // block 0
    const QByteArray plain = rc4(key, filePass.mid(22, 32));
    return md5(plain.left(16)) == plain.mid(16, 16);
}

bool usesBuiltInPassword(const QByteArray &filePass)
{
    return rc4PasswordMatches(filePass, QStringLiteral("VelvetSweatshop"));
}

} // namespace gm::xls
