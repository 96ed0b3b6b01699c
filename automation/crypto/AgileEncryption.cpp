#include "automation/crypto/AgileEncryption.h"

#include "automation/EngineError.h"
#include "automation/crypto/PasswordHashes.h"
#include "automation/ole/CompoundFile.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <pugixml.hpp>

#include <memory>

namespace gm::crypto {

namespace {

constexpr int kSegment = 4096;
constexpr int kSpinCount = 100000;
constexpr int kKeyBytes = 32;

const QByteArray kVerifierInputBlock = QByteArray::fromHex("FEA7D2763B4B9E79");
const QByteArray kVerifierHashBlock = QByteArray::fromHex("D7AA0F6D3061344E");
const QByteArray kKeyValueBlock = QByteArray::fromHex("146E0BE7ABACD0D6");
const QByteArray kHmacKeyBlock = QByteArray::fromHex("5FB2AD010CB9E1F6");
const QByteArray kHmacValueBlock = QByteArray::fromHex("A0677F02B22C8433");

// The data-spaces streams every encrypted package carries: the version, the map from the
// EncryptedPackage stream to its data space, the data space and its one transform. They do
// not depend on the password or the package.
const QByteArray kDataSpacesVersion = QByteArray::fromHex(
    "3c0000004d006900630072006f0073006f00660074002e0043006f006e007400610069006e00650072002e00440061007400610053007000"
    "6100630065007300010000000100000001000000");
const QByteArray kDataSpaceMap = QByteArray::fromHex(
    "08000000010000006800000001000000000000002000000045006e0063007200790070007400650064005000610063006b00610067006500"
    "320000005300740072006f006e00670045006e006300720079007000740069006f006e004400610074006100530070006100630065000000");
const QByteArray kStrongEncryptionDataSpace = QByteArray::fromHex(
    "0800000001000000320000005300740072006f006e00670045006e006300720079007000740069006f006e005400720061006e0073006600"
    "6f0072006d000000");
const QByteArray kPrimaryTransform = QByteArray::fromHex(
    "58000000010000004c0000007b00460046003900410033004600300033002d0035003600450046002d0034003600310033002d0042004400"
    "440035002d003500410034003100430031004400300037003200340036007d004e0000004d006900630072006f0073006f00660074002e00"
    "43006f006e007400610069006e00650072002e0045006e006300720079007000740069006f006e005400720061006e00730066006f007200"
    "6d00000001000000010000000100000000000000000000000000000004000000");

const QByteArray kInfoHeader = QByteArray::fromHex("0400040040000000");
const char kEncryptionNamespace[] = "http://schemas.microsoft.com/office/2006/encryption";
const char kPasswordEncryptor[] = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

struct CipherContextDeleter
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

const EVP_CIPHER *aesCbc(int keyBytes)
{
    switch (keyBytes) {
    case 16:
        return EVP_aes_128_cbc();
    case 24:
        return EVP_aes_192_cbc();
    case 32:
        return EVP_aes_256_cbc();
    default:
        return nullptr;
    }
}

// AES-CBC without padding over whole 16-byte blocks; `data` is padded with zeros when short.
QByteArray aes(bool encrypt, const QByteArray &key, const QByteArray &iv, QByteArray data)
{
    if (data.size() % 16)
        data.append(QByteArray(16 - data.size() % 16, '\0'));
    const EVP_CIPHER *cipher = aesCbc(int(key.size()));
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    QByteArray out(data.size(), Qt::Uninitialized);
    int written = 0;
    int last = 0;
    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *ivBytes = reinterpret_cast<const unsigned char *>(iv.constData());
    auto *outBytes = reinterpret_cast<unsigned char *>(out.data());
    const auto *inBytes = reinterpret_cast<const unsigned char *>(data.constData());
    const bool ok = cipher && context && iv.size() >= 16
        && EVP_CipherInit_ex(context.get(), cipher, nullptr, keyBytes, ivBytes, encrypt ? 1 : 0)
        && EVP_CIPHER_CTX_set_padding(context.get(), 0)
        && EVP_CipherUpdate(context.get(), outBytes, &written, inBytes, int(data.size()))
        && EVP_CipherFinal_ex(context.get(), outBytes + written, &last);
    if (!ok)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("AES failed"));
    return out;
}

QByteArray hmacSha512(const QByteArray &key, const QByteArray &data)
{
    QByteArray out(64, Qt::Uninitialized);
    unsigned int size = 0;
    if (!HMAC(EVP_sha512(), key.constData(), int(key.size()), reinterpret_cast<const unsigned char *>(data.constData()),
            size_t(data.size()), reinterpret_cast<unsigned char *>(out.data()), &size))
        throw EngineError(ErrorCode::Unexpected, QStringLiteral("HMAC failed"));
    return out;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}

// A key for one purpose (block) from the derived password hash, cut or padded to the key size.
QByteArray blockKey(const QByteArray &hash, const QByteArray &block, int keyBytes)
{
    QByteArray key = sha512(hash + block).left(keyBytes);
    if (key.size() < keyBytes)
        key.append(QByteArray(keyBytes - key.size(), '\x36'));
    return key;
}

QByteArray blockIv(const QByteArray &salt, const QByteArray &block)
{
    return sha512(salt + block).left(16);
}

// Encrypts or decrypts the package body segment by segment, each with its own IV.
QByteArray cryptSegments(bool encrypt, const QByteArray &key, const QByteArray &salt, const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() + 16);
    for (qsizetype offset = 0, index = 0; offset < data.size(); offset += kSegment, ++index)
        out += aes(encrypt, key, blockIv(salt, le32(quint32(index))), data.mid(offset, kSegment));
    return out;
}

QByteArray b64(const QString &text)
{
    return QByteArray::fromBase64(text.toLatin1());
}

QString base64(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray encryptionInfo(const QByteArray &keyDataSalt, const QByteArray &encryptedHmacKey, const QByteArray &encryptedHmacValue,
    const QByteArray &passwordSalt, const QByteArray &verifierInput, const QByteArray &verifierHash, const QByteArray &keyValue)
{
    const QString common
        = QStringLiteral("saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
                         "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" saltValue=\"%1\"");
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                                       "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
                                       "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
                                       "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
                                       "<keyData %1/>"
                                       "<dataIntegrity encryptedHmacKey=\"%2\" encryptedHmacValue=\"%3\"/>"
                                       "<keyEncryptors><keyEncryptor uri=\"%4\">"
                                       "<p:encryptedKey spinCount=\"%5\" %6 encryptedVerifierHashInput=\"%7\" "
                                       "encryptedVerifierHashValue=\"%8\" encryptedKeyValue=\"%9\"/>"
                                       "</keyEncryptor></keyEncryptors></encryption>")
                            .arg(common.arg(base64(keyDataSalt)), base64(encryptedHmacKey), base64(encryptedHmacValue),
                                QLatin1String(kPasswordEncryptor), QString::number(kSpinCount), common.arg(base64(passwordSalt)),
                                base64(verifierInput), base64(verifierHash), base64(keyValue));
    return kInfoHeader + xml.toUtf8();
}

ole::CompoundEntry storage(const char *name)
{
    ole::CompoundEntry entry;
    entry.name = name;
    entry.isStorage = true;
    entry.classId = QByteArray(16, '\0');
    return entry;
}

ole::CompoundEntry stream(const char *name, QByteArray data)
{
    ole::CompoundEntry entry;
    entry.name = name;
    entry.data = std::move(data);
    return entry;
}

// What decryption needs of EncryptionInfo.
struct AgileInfo
{
    QByteArray keyDataSalt;
    int keyBytes = 0;
    QByteArray encryptedHmacKey;
    QByteArray encryptedHmacValue;
    int spinCount = 0;
    int passwordKeyBytes = 0;
    QByteArray passwordSalt;
    QByteArray verifierInput;
    QByteArray verifierHash;
    QByteArray keyValue;
};

struct Container
{
    AgileInfo info;
    QByteArray encryptedPackage;
};

Container readContainer(const QByteArray &bytes)
{
    if (!ole::CompoundFile::isCompoundFile(bytes))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no compound file"));
    const ole::CompoundEntry root = ole::CompoundFile::read(bytes);
    const ole::CompoundEntry *info = root.child("EncryptionInfo");
    const ole::CompoundEntry *package = root.child("EncryptedPackage");
    if (!info || !package || package->data.size() < 8)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("no encrypted package"));
    if (!info->data.startsWith(QByteArray::fromHex("04000400")))
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("not agile encryption"));

    pugi::xml_document document;
    const QByteArray xml = info->data.mid(8);
    if (!document.load_buffer(xml.constData(), size_t(xml.size())))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("EncryptionInfo does not parse"));
    const pugi::xml_node encryption = document.child("encryption");
    if (QLatin1String(encryption.attribute("xmlns").value()) != QLatin1String(kEncryptionNamespace))
        throw EngineError(ErrorCode::Damaged, QStringLiteral("EncryptionInfo is no encryption description"));
    Container result;
    AgileInfo &agile = result.info;
    const pugi::xml_node keyData = encryption.child("keyData");
    const pugi::xml_node integrity = encryption.child("dataIntegrity");
    pugi::xml_node encryptedKey;
    for (pugi::xml_node encryptor : encryption.child("keyEncryptors").children("keyEncryptor")) {
        if (QLatin1String(encryptor.attribute("uri").value()) == QLatin1String(kPasswordEncryptor))
            encryptedKey = encryptor.first_child();
    }
    if (!encryptedKey)
        throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("no password key encryptor"));
    for (const pugi::xml_node node : {keyData, encryptedKey}) {
        if (QLatin1String(node.attribute("cipherAlgorithm").value()) != QLatin1String("AES")
            || QLatin1String(node.attribute("hashAlgorithm").value()) != QLatin1String("SHA512"))
            throw EngineError(ErrorCode::UnsupportedFormat, QStringLiteral("cipher or hash other than AES and SHA-512"));
    }
    agile.keyDataSalt = b64(QString::fromUtf8(keyData.attribute("saltValue").value()));
    agile.keyBytes = keyData.attribute("keyBits").as_int() / 8;
    agile.encryptedHmacKey = b64(QString::fromUtf8(integrity.attribute("encryptedHmacKey").value()));
    agile.encryptedHmacValue = b64(QString::fromUtf8(integrity.attribute("encryptedHmacValue").value()));
    agile.spinCount = encryptedKey.attribute("spinCount").as_int();
    agile.passwordKeyBytes = encryptedKey.attribute("keyBits").as_int() / 8;
    agile.passwordSalt = b64(QString::fromUtf8(encryptedKey.attribute("saltValue").value()));
    agile.verifierInput = b64(QString::fromUtf8(encryptedKey.attribute("encryptedVerifierHashInput").value()));
    agile.verifierHash = b64(QString::fromUtf8(encryptedKey.attribute("encryptedVerifierHashValue").value()));
    agile.keyValue = b64(QString::fromUtf8(encryptedKey.attribute("encryptedKeyValue").value()));
    if (!aesCbc(agile.keyBytes) || !aesCbc(agile.passwordKeyBytes) || agile.keyDataSalt.size() < 16
        || agile.passwordSalt.size() < 16 || agile.spinCount < 0 || agile.spinCount > 10000000)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("EncryptionInfo holds impossible values"));
    result.encryptedPackage = package->data;
    return result;
}

QByteArray decryptContainer(const Container &container, const QByteArray &key)
{
    const AgileInfo &info = container.info;
    const QByteArray hmacKey = aes(false, key, blockIv(info.keyDataSalt, kHmacKeyBlock), info.encryptedHmacKey).left(64);
    const QByteArray expected = aes(false, key, blockIv(info.keyDataSalt, kHmacValueBlock), info.encryptedHmacValue).left(64);
    if (hmacSha512(hmacKey, container.encryptedPackage) != expected)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("the encrypted package fails its integrity check"));
    const QByteArray &stored = container.encryptedPackage;
    quint64 size = 0;
    for (int i = 7; i >= 0; --i)
        size = (size << 8) | quint8(stored[i]);
    const QByteArray body = stored.mid(8);
    if (size > quint64(body.size()) || body.size() % 16)
        throw EngineError(ErrorCode::Damaged, QStringLiteral("the encrypted package is cut short"));
    return cryptSegments(false, key, info.keyDataSalt, body).left(qsizetype(size));
}

} // namespace

EncryptedPackage encryptPackage(const QByteArray &package, const QString &password)
{
    if (password.isEmpty())
        throw EngineError(ErrorCode::InvalidArgument, QStringLiteral("empty open password"));
    const QByteArray keyDataSalt = randomBytes(16);
    const QByteArray passwordSalt = randomBytes(16);
    const QByteArray key = randomBytes(kKeyBytes);
    const QByteArray hmacKey = randomBytes(64);
    const QByteArray verifier = randomBytes(16);

    const QByteArray hash = iteratedPasswordHash(password, passwordSalt, kSpinCount, Counter::Before);
    const QByteArray verifierInput = aes(true, blockKey(hash, kVerifierInputBlock, kKeyBytes), passwordSalt, verifier);
    const QByteArray verifierHash = aes(true, blockKey(hash, kVerifierHashBlock, kKeyBytes), passwordSalt, sha512(verifier));
    const QByteArray keyValue = aes(true, blockKey(hash, kKeyValueBlock, kKeyBytes), passwordSalt, key);

    QByteArray encrypted = le32(quint32(package.size())) + le32(quint32(quint64(package.size()) >> 32));
    encrypted += cryptSegments(true, key, keyDataSalt, package);
    const QByteArray encryptedHmacKey = aes(true, key, blockIv(keyDataSalt, kHmacKeyBlock), hmacKey);
    const QByteArray encryptedHmacValue = aes(true, key, blockIv(keyDataSalt, kHmacValueBlock), hmacSha512(hmacKey, encrypted));

    ole::CompoundEntry root = storage("Root Entry");
    ole::CompoundEntry dataSpaces = storage("\x06"
                                            "DataSpaces");
    dataSpaces.children.push_back(stream("Version", kDataSpacesVersion));
    dataSpaces.children.push_back(stream("DataSpaceMap", kDataSpaceMap));
    ole::CompoundEntry info = storage("DataSpaceInfo");
    info.children.push_back(stream("StrongEncryptionDataSpace", kStrongEncryptionDataSpace));
    dataSpaces.children.push_back(std::move(info));
    ole::CompoundEntry transforms = storage("TransformInfo");
    ole::CompoundEntry transform = storage("StrongEncryptionTransform");
    transform.children.push_back(stream("\x06"
                                        "Primary",
        kPrimaryTransform));
    transforms.children.push_back(std::move(transform));
    dataSpaces.children.push_back(std::move(transforms));
    root.children.push_back(std::move(dataSpaces));
    root.children.push_back(stream("EncryptionInfo",
        encryptionInfo(keyDataSalt, encryptedHmacKey, encryptedHmacValue, passwordSalt, verifierInput, verifierHash, keyValue)));
    root.children.push_back(stream("EncryptedPackage", std::move(encrypted)));

    EncryptedPackage result;
    result.container = ole::CompoundFile::write(root);
    result.key = key;
    return result;
}

QByteArray decryptPackage(const QByteArray &container, const QString &password)
{
    const Container parsed = readContainer(container);
    const AgileInfo &info = parsed.info;
    const QByteArray hash = iteratedPasswordHash(password, info.passwordSalt, info.spinCount, Counter::Before);
    const int size = info.passwordKeyBytes;
    const QByteArray iv = info.passwordSalt.left(16);
    const QByteArray verifier = aes(false, blockKey(hash, kVerifierInputBlock, size), iv, info.verifierInput).left(16);
    const QByteArray verifierHash = aes(false, blockKey(hash, kVerifierHashBlock, size), iv, info.verifierHash);
    if (sha512(verifier) != verifierHash.left(64))
        throw EngineError(ErrorCode::PasswordRequired, QStringLiteral("wrong password"));
    const QByteArray key = aes(false, blockKey(hash, kKeyValueBlock, size), iv, info.keyValue).left(info.keyBytes);
    return decryptContainer(parsed, key);
}

QByteArray decryptPackageWithKey(const QByteArray &container, const QByteArray &key)
{
    return decryptContainer(readContainer(container), key);
}

} // namespace gm::crypto
