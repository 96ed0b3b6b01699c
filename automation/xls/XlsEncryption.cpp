#include "automation/xls/XlsEncryption.h"

#include "automation/EngineError.h"
#include "automation/crypto/PasswordHashes.h"
#include "automation/xls/BiffRecordStream.h"

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

// The password part of the key: MD5 of the salted password hash.
QByteArray rc4BaseKey(const QString &password, const QByteArray &salt)
{
    const QByteArray h0 = md5(crypto::utf16le(password));
    QByteArray repeated;
    for (int i = 0; i < 16; ++i)
        repeated += h0.left(5) + salt;
    return md5(repeated);
}

QByteArray rc4BlockKey(const QByteArray &baseKey, quint32 block)
{
    const char counter[4] = {char(block), char(block >> 8), char(block >> 16), char(block >> 24)};
    return md5(baseKey.left(5) + QByteArray(counter, 4));
}

// Bodies the encryption leaves plain: BOF, FILEPASS, INTERFACEHDR and the revision records.
bool plainBody(quint16 type)
{
    switch (type) {
    case kBof:
    case kFilePass:
    case 0x00E1: // INTERFACEHDR
    case 0x0194: // UsrExcl
    case 0x0195: // FileLock
    case 0x0196: // RRDInfo
    case 0x0138: // RRDHead
        return true;
    default:
        return false;
    }
}

} // namespace

QByteArray rc4FilePass(const QString &password, const QByteArray &salt, const QByteArray &verifier)
{
    const QByteArray key = rc4BlockKey(rc4BaseKey(password, salt), 0);
    return QByteArray::fromHex("010001000100") + salt + rc4(key, verifier + md5(verifier));
}

QByteArray rc4WorkbookStream(const QByteArray &stream, const QString &password)
{
    // First the byte ranges to encrypt, and the salt from FILEPASS.
    QList<std::pair<qsizetype, qsizetype>> ranges;
    QByteArray salt;
    qsizetype pos = 0;
    while (pos + 4 <= stream.size()) {
        const quint16 type = readU16(stream, pos);
        const qsizetype length = readU16(stream, pos + 2);
        const qsizetype body = pos + 4;
        if (body + length > stream.size())
            throw EngineError(ErrorCode::Damaged, QStringLiteral("record cut short at %1").arg(pos));
        if (type == kFilePass && salt.isEmpty()) {
            if (length < 54 || !stream.mid(body, 6).startsWith(QByteArray::fromHex("010001000100")))
                throw EngineError(ErrorCode::Damaged, QStringLiteral("FILEPASS is not RC4"));
            salt = stream.mid(body + 6, 16);
        }
        if (type == kBoundSheet)
            ranges.append({body + 4, length - 4});
        else if (!plainBody(type))
            ranges.append({body, length});
        pos = body + length;
    }
    if (salt.isEmpty())
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no FILEPASS record"));

    const QByteArray baseKey = rc4BaseKey(password, salt);
    QByteArray out = stream;
    qsizetype keyBlock = -1;
    QByteArray keystream;
    for (const auto &[start, length] : ranges) {
        for (qsizetype p = start; p < start + length; ++p) {
            if (p / 1024 != keyBlock) {
                keyBlock = p / 1024;
                keystream = rc4(rc4BlockKey(baseKey, quint32(keyBlock)), QByteArray(1024, '\0'));
            }
            out[p] = char(out[p] ^ keystream[p % 1024]);
        }
    }
    return out;
}

bool rc4PasswordMatches(const QByteArray &filePass, const QString &password)
{
    // wEncryptionType 1 (RC4), version 1.1, salt, encrypted verifier, encrypted verifier hash.
    if (filePass.size() < 54 || !filePass.startsWith(QByteArray::fromHex("010001000100")))
        return false;
    const QByteArray key = rc4BlockKey(rc4BaseKey(password, filePass.mid(6, 16)), 0);
    const QByteArray plain = rc4(key, filePass.mid(22, 32));
    return md5(plain.left(16)) == plain.mid(16, 16);
}

bool usesBuiltInPassword(const QByteArray &filePass)
{
    return rc4PasswordMatches(filePass, QStringLiteral("VelvetSweatshop"));
}

} // namespace gm::xls
