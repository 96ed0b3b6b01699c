#include "automation/EngineError.h"
#include "automation/crypto/AgileEncryption.h"
#include "automation/crypto/PasswordHashes.h"
#include "automation/ole/CompoundFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace gm {
namespace {

TEST(PasswordHashes, LegacyVerifierMatchesExcelAndChineseCodePage)
{
    // Values found in Excel-made files, and the GBK bytes of a Chinese password.
    const struct
    {
        const char16_t *password;
        quint16 expected;
    } cases[] = {
        {u"test", 0xCBEB},
        {u"password", 0x83AF},
        {u"foobar", 0xDAC5},
        {u"abc", 0xCC1A},
        {u"secret", 0xDAA7},
        {u"密码", 0xC419},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.password).toStdString());
        EXPECT_EQ(crypto::legacyPasswordVerifier(QString::fromUtf16(c.password)), c.expected);
    }
    EXPECT_EQ(crypto::legacyPasswordVerifier(QString()), 0);
    // A character outside GBK has no verifier rather than a "?" in its place.
    EXPECT_FALSE(crypto::legacyPasswordVerifier(QStringLiteral("key\U0001F511")).has_value());
}

TEST(PasswordHashes, IteratedHashMatchesExcelProtectionHashes)
{
    const struct
    {
        const char16_t *password;
        const char *salt;
        const char *hashStart;
    } cases[] = {
        {u"test", "Wq5e2oy8ZLa/369T8z/Jaw==", "hBZdAINPpoA+8nBASfoa"},
        {u"pwd", "R040EdN/Ec7il6MJ8JrRLQ==", "5MANCkOK6IY02H1LhiJ+"},
        {u"密码", "Wq5e2oy8ZLa/369T8z/Jaw==",
            "7uRW61DNbMVCP2pAPAksQRZGvOtW/Ji+trs/FOz75SRx2ACcpbEStQWBo4Xp1luDaF1w8ps0brjZ0R69QPJU0w=="},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.salt);
        const QByteArray hash
            = crypto::iteratedPasswordHash(QString::fromUtf16(c.password), QByteArray::fromBase64(c.salt), 100000);
        EXPECT_TRUE(hash.toBase64().startsWith(c.hashStart)) << hash.toBase64().constData();
    }
    // No rounds: the plain salted hash.
    const QByteArray salt = QByteArray::fromHex("00112233");
    EXPECT_EQ(crypto::iteratedPasswordHash(QStringLiteral("a"), salt, 0), crypto::sha512(salt + QByteArray("a\0", 2)));
}

TEST(AgileEncryption, DecryptsAnExcelEncryptedPackage)
{
    GM_REQUIRE_CORPUS(path, "encrypted/poi-protected_sha512.xlsx");
    const QByteArray container = test::readAll(path);
    const QByteArray package = crypto::decryptPackage(container, QStringLiteral("this is a test"));
    EXPECT_EQ(package.size(), 8078);
    EXPECT_TRUE(package.startsWith("PK\x03\x04"));
    try {
        crypto::decryptPackage(container, QStringLiteral("this is a tesT"));
        FAIL() << "a wrong password was accepted";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::PasswordRequired);
    }
}

TEST(AgileEncryption, RoundTripsPackagesOfEverySize)
{
    // Below the mini-stream cutoff, several segments with a short last one, and beyond the
    // size where the container needs extra allocation-table sectors.
    for (const qsizetype size : {qsizetype(1), qsizetype(1500), qsizetype(3 * 4096 + 17), qsizetype(7 * 1024 * 1024 + 5)}) {
        SCOPED_TRACE(size);
        QByteArray package(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            package[i] = char((i * 7919) >> 3);
        const crypto::EncryptedPackage encrypted = crypto::encryptPackage(package, QStringLiteral("密码 🔑"));
        EXPECT_TRUE(ole::CompoundFile::isCompoundFile(encrypted.container));
        EXPECT_EQ(crypto::decryptPackageWithKey(encrypted.container, encrypted.key), package);
        if (size < 5000) {
            EXPECT_EQ(crypto::decryptPackage(encrypted.container, QStringLiteral("密码 🔑")), package);
        }

        // Every stream the readers require, with the data spaces as the format fixes them.
        const ole::CompoundEntry root = ole::CompoundFile::read(encrypted.container);
        const ole::CompoundEntry *spaces = root.child("\x06"
                                                      "DataSpaces");
        ASSERT_TRUE(spaces);
        EXPECT_EQ(spaces->child("Version")->data.size(), 76);
        EXPECT_EQ(spaces->child("DataSpaceMap")->data.size(), 112);
        EXPECT_EQ(spaces->child("DataSpaceInfo")->child("StrongEncryptionDataSpace")->data.size(), 64);
        EXPECT_EQ(spaces->child("TransformInfo")
                      ->child("StrongEncryptionTransform")
                      ->child("\x06"
                              "Primary")
                      ->data.size(),
            200);
        EXPECT_TRUE(root.child("EncryptionInfo")->data.startsWith(QByteArray::fromHex("0400040040000000")));
        EXPECT_EQ(root.child("EncryptedPackage")->data.size(), 8 + (size + 15) / 16 * 16);
    }
}

TEST(AgileEncryption, TamperedPackageFailsItsIntegrityCheck)
{
    const QByteArray package(10000, 'x');
    const crypto::EncryptedPackage encrypted = crypto::encryptPackage(package, QStringLiteral("pw"));
    ole::CompoundEntry root = ole::CompoundFile::read(encrypted.container);
    QByteArray &data = root.child("EncryptedPackage")->data;
    data[5000] = char(data[5000] ^ 1);
    try {
        crypto::decryptPackageWithKey(ole::CompoundFile::write(root), encrypted.key);
        FAIL() << "a changed byte went unnoticed";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::Damaged);
    }
}

} // namespace
} // namespace gm
