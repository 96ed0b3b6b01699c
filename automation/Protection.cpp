#include "automation/Protection.h"

#include "automation/crypto/PasswordHashes.h"
#include "automation/ole/CodePageCodec.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStringView>
#include <QtEndian>

#include <optional>

namespace gm {

namespace {

constexpr quint16 kGbk = 936;
// The largest spin count the formats allow; a larger stored one is not worked through.
constexpr quint32 kMaxSpinCount = 10'000'000;

std::optional<QCryptographicHash::Algorithm> algorithmNamed(const QString &name)
{
    const QString upper = name.trimmed().toUpper();
    if (upper == QLatin1String("SHA-512"))
        return QCryptographicHash::Sha512;
    if (upper == QLatin1String("SHA-384"))
        return QCryptographicHash::Sha384;
    if (upper == QLatin1String("SHA-256"))
        return QCryptographicHash::Sha256;
    if (upper == QLatin1String("SHA-1"))
        return QCryptographicHash::Sha1;
    if (upper == QLatin1String("MD5"))
        return QCryptographicHash::Md5;
    return std::nullopt;
}

} // namespace

QByteArray isoPasswordHash(const QString &algorithmName, const QString &password, const QByteArray &salt, quint32 spinCount)
{
    const std::optional<QCryptographicHash::Algorithm> algorithm = algorithmNamed(algorithmName);
    if (!algorithm || spinCount > kMaxSpinCount)
        return {};
    QString text = password;
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QCryptographicHash hash(*algorithm);
    hash.addData(salt);
    hash.addData(crypto::utf16le(text));
    QByteArray value = hash.result();
    char counter[4];
    for (quint32 i = 0; i < spinCount; ++i) {
        qToLittleEndian<quint32>(i, counter);
        hash.reset();
        hash.addData(value);
        hash.addData(QByteArrayView(counter, 4));
        value = hash.result();
    }
    return value;
}

quint16 legacyPasswordVerifier(const QByteArray &bytes, bool signExtended)
{
    if (bytes.isEmpty())
        return 0;
    auto rotate = [](quint16 v) { return quint16(((v >> 14) & 0x1) | ((v << 1) & 0x7FFF)); };
    quint16 v = 0;
    for (qsizetype i = bytes.size() - 1; i >= 0; --i) {
        v = rotate(v);
        v ^= signExtended ? quint16(qint16(qint8(bytes[i]))) : quint16(uchar(bytes[i]));
    }
    v = rotate(v);
    v ^= quint16(bytes.size());
    v ^= 0xCE4B;
    return v;
}

QByteArray legacyPasswordBytes(const QString &password)
{
    const ole::CodePageCodec gbk(kGbk);
    QByteArray bytes;
    for (qsizetype i = 0; i < password.size(); ++i) {
        const QChar c = password[i];
        if (c.unicode() < 0x80) {
            bytes.append(char(c.unicode()));
            continue;
        }
        const qsizetype length = c.isHighSurrogate() && i + 1 < password.size() ? 2 : 1;
        const std::optional<QByteArray> encoded = gbk.encode(password.mid(i, length));
        bytes.append(encoded && !encoded->isEmpty() ? *encoded : QByteArray("?"));
        i += length - 1;
    }
    return bytes;
}

ProtectionPassword::ProtectionPassword(const QString &text) : m_text(text)
{
    if (m_text.isEmpty())
        return;
    m_legacy = legacyPasswordVerifier(legacyPasswordBytes(m_text));
    m_salt.resize(16);
    QRandomGenerator::system()->generate(m_salt.begin(), m_salt.end());
    m_hash = isoPasswordHash(QStringLiteral("SHA-512"), m_text, m_salt, kSpinCount);
}

bool ProtectionPassword::matchesIso(
    const QString &algorithmName, const QString &saltBase64, const QString &hashBase64, const QString &spinCount) const
{
    bool ok = false;
    const quint32 spins = spinCount.trimmed().isEmpty() ? 0 : spinCount.trimmed().toUInt(&ok);
    if (!ok && !spinCount.trimmed().isEmpty())
        return false;
    const QByteArray salt = QByteArray::fromBase64(saltBase64.toLatin1());
    const QByteArray stored = QByteArray::fromBase64(hashBase64.toLatin1());
    if (stored.isEmpty())
        return false;
    if (salt == m_salt && algorithmName.trimmed().compare(QLatin1String("SHA-512"), Qt::CaseInsensitive) == 0
        && spins == kSpinCount)
        return stored == m_hash;
    return isoPasswordHash(algorithmName, m_text, salt, spins) == stored;
}

bool ProtectionPassword::matchesLegacy(quint16 verifier) const
{
    if (verifier == m_legacy)
        return true;
    const QByteArray gbk = legacyPasswordBytes(m_text), utf8 = m_text.toUtf8();
    return verifier == legacyPasswordVerifier(gbk, true) || verifier == legacyPasswordVerifier(utf8)
        || verifier == legacyPasswordVerifier(utf8, true);
}

} // namespace gm
