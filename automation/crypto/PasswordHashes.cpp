#include "automation/crypto/PasswordHashes.h"

#include "automation/EngineError.h"
#include "automation/Protection.h"
#include "automation/ole/CodePageCodec.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace gm::crypto {

namespace {

constexpr quint16 kGbkCodePage = 936;

struct DigestContextDeleter
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

struct DigestDeleter
{
    void operator()(EVP_MD *md) const { EVP_MD_free(md); }
};

} // namespace

QByteArray sha512(const QByteArray &data)
{
    QByteArray digest(64, Qt::Uninitialized);
    unsigned int size = 0;
    if (!EVP_Digest(data.constData(), size_t(data.size()), reinterpret_cast<unsigned char *>(digest.data()), &size, EVP_sha512(),
            nullptr))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("SHA-512 failed"));
    return digest;
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("no random source"));
    return bytes;
}

QByteArray utf16le(const QString &password)
{
    QByteArray bytes;
    bytes.reserve(password.size() * 2);
    for (const QChar c : password) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

quint16 legacyPasswordVerifier(const QByteArray &bytes)
{
    return gm::legacyPasswordVerifier(bytes, false);
}

std::optional<quint16> legacyPasswordVerifier(const QString &password)
{
    const std::optional<QByteArray> bytes = ole::CodePageCodec(kGbkCodePage).encode(password);
    if (!bytes)
        return std::nullopt;
    return legacyPasswordVerifier(*bytes);
}

QByteArray iteratedPasswordHash(const QString &password, const QByteArray &salt, int spinCount, Counter counter)
{
    // The digest is fetched once: an implicit fetch in every round would cost more than the
    // hashing itself.
    std::unique_ptr<EVP_MD, DigestDeleter> md(EVP_MD_fetch(nullptr, "SHA512", nullptr));
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    unsigned char hash[64];
    unsigned int size = 0;
    const QByteArray text = utf16le(password);
    bool ok = md && context && EVP_DigestInit_ex(context.get(), md.get(), nullptr)
        && EVP_DigestUpdate(context.get(), salt.constData(), size_t(salt.size()))
        && EVP_DigestUpdate(context.get(), text.constData(), size_t(text.size()))
        && EVP_DigestFinal_ex(context.get(), hash, &size);
    for (int i = 0; ok && i < spinCount; ++i) {
        const unsigned char round[4] = {quint8(i), quint8(i >> 8), quint8(i >> 16), quint8(i >> 24)};
        ok = EVP_DigestInit_ex(context.get(), md.get(), nullptr);
        if (counter == Counter::Before)
            ok = ok && EVP_DigestUpdate(context.get(), round, 4) && EVP_DigestUpdate(context.get(), hash, 64);
        else
            ok = ok && EVP_DigestUpdate(context.get(), hash, 64) && EVP_DigestUpdate(context.get(), round, 4);
        ok = ok && EVP_DigestFinal_ex(context.get(), hash, &size);
    }
    if (!ok)
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("SHA-512 failed"));
    return QByteArray(reinterpret_cast<const char *>(hash), 64);
}

IteratedHash makeIteratedHash(const QString &password, int spinCount)
{
    const QByteArray salt = randomBytes(16);
    IteratedHash result;
    result.spinCount = spinCount;
    result.saltValue = QString::fromLatin1(salt.toBase64());
    result.hashValue = QString::fromLatin1(iteratedPasswordHash(password, salt, spinCount).toBase64());
    return result;
}

QString reservationUserName()
{
    for (const char *variable : {"USER", "USERNAME", "LOGNAME"}) {
        const QString name = qEnvironmentVariable(variable).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("Gridmule");
}

} // namespace gm::crypto
