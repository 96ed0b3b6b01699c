// Password hashes of protection, against values stored by Excel in real files.

#include "automation/Protection.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

namespace gm {
namespace {

TEST(ProtectionHash, LegacyVerifierMatchesExcel)
{
    // Verifiers Excel stored for these passwords (workbookPassword, sheet password, XOR FILEPASS).
    const std::pair<const char *, quint16> cases[]
        = {{"test", 0xCBEB}, {"password", 0x83AF}, {"foobar", 0xDAC5}, {"abc", 0xCC1A}, {"secret", 0xDAA7}};
    for (const auto &[password, verifier] : cases) {
        SCOPED_TRACE(password);
        const QString text = QString::fromLatin1(password);
        EXPECT_EQ(legacyPasswordBytes(text), QByteArray(password));
        EXPECT_EQ(legacyPasswordVerifier(legacyPasswordBytes(text)), verifier);
        EXPECT_TRUE(ProtectionPassword(text).matchesLegacy(verifier));
    }
    EXPECT_EQ(legacyPasswordVerifier({}), 0);
}

TEST(ProtectionHash, NonAsciiLegacyPasswordsAreHashedInGbk)
{
    // "密码" in the code page of a Simplified-Chinese system, and its verifier over unsigned bytes.
    EXPECT_EQ(legacyPasswordBytes(QStringLiteral("密码")).toHex(), QByteArray("c3dcc2eb"));
    EXPECT_EQ(legacyPasswordVerifier(QByteArray::fromHex("c3dcc2eb")), 0xC419);
    // A character GBK lacks becomes "?", as the system's conversion makes it.
    EXPECT_EQ(legacyPasswordBytes(QStringLiteral("a\u0E01b")), QByteArray("a?b"));
    EXPECT_EQ(legacyPasswordBytes(QStringLiteral("x\U0001F600")), QByteArray("x?"));
    // Protection another program stored over UTF-8 bytes is still recognised.
    const ProtectionPassword password(QStringLiteral("密码"));
    EXPECT_EQ(password.legacyVerifier(), 0xC419);
    // The other forms of the same password's verifier: GBK and UTF-8 bytes, unsigned and
    // sign-extended (UTF-8 sign-extended is what some writers store).
    for (const quint16 other : {0xCE13, 0xF33B, 0xD911})
        EXPECT_TRUE(password.matchesLegacy(other)) << other;
    EXPECT_EQ(legacyPasswordVerifier(QByteArray::fromHex("e5af86e7a081"), true), 0xD911);
    EXPECT_EQ(legacyPasswordVerifier(QString::fromUtf8("pässword").toUtf8(), true), 0xD59B);
    EXPECT_FALSE(password.matchesLegacy(0xCBEB));
}

TEST(ProtectionHash, IsoHashMatchesExcel)
{
    struct Case
    {
        const char *password;
        const char *salt;
        const char *hash;
    };
    // Excel 2013 workbookProtection and sheetProtection of two Apache POI test files.
    const Case cases[] = {
        {"test", "Wq5e2oy8ZLa/369T8z/Jaw==",
            "hBZdAINPpoA+8nBASfoa7mLOowkmljnvmY5sAOt6nY7wp+OXyq6jhmkmos6b6EcAd60kZXMvRbeTfI+rfSsTDg=="},
        {"pwd", "R040EdN/Ec7il6MJ8JrRLQ==",
            "5MANCkOK6IY02H1LhiJ+ucR5ZHvoV7BwbINSx52iIhe4Xfg986k2l32ONsYpt8JPiy8U8kqPRKXIr7G8hfMWOw=="},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.password);
        const QString password = QString::fromLatin1(c.password);
        const QByteArray salt = QByteArray::fromBase64(c.salt);
        EXPECT_EQ(isoPasswordHash(QStringLiteral("SHA-512"), password, salt, 100000).toBase64(), QByteArray(c.hash));
        const ProtectionPassword prepared(password);
        EXPECT_TRUE(prepared.matchesIso(
            QStringLiteral("SHA-512"), QString::fromLatin1(c.salt), QString::fromLatin1(c.hash), QStringLiteral("100000")));
        EXPECT_FALSE(ProtectionPassword(password + u'x')
                         .matchesIso(QStringLiteral("SHA-512"), QString::fromLatin1(c.salt), QString::fromLatin1(c.hash),
                             QStringLiteral("100000")));
    }
    // Non-ASCII text is hashed as UTF-16LE (value from an independent implementation).
    EXPECT_EQ(isoPasswordHash(
                  QStringLiteral("SHA-512"), QStringLiteral("密码"), QByteArray::fromBase64("Wq5e2oy8ZLa/369T8z/Jaw=="), 100000)
                  .toBase64(),
        QByteArray("7uRW61DNbMVCP2pAPAksQRZGvOtW/Ji+trs/FOz75SRx2ACcpbEStQWBo4Xp1luDaF1w8ps0brjZ0R69QPJU0w=="));
    // No rounds: one hash of the salt and the UTF-16LE text, the counter never involved.
    const QByteArray salt("0123456789abcdef");
    EXPECT_EQ(isoPasswordHash(QStringLiteral("sha-512"), QStringLiteral("ab"), salt, 0),
        QCryptographicHash::hash(salt + QByteArray("a\0b\0", 4), QCryptographicHash::Sha512));
    // An unknown algorithm or an absurd spin count verifies nothing.
    EXPECT_TRUE(isoPasswordHash(QStringLiteral("WHIRLPOOL"), QStringLiteral("ab"), salt, 1).isEmpty());
    EXPECT_FALSE(ProtectionPassword(QStringLiteral("ab"))
                     .matchesIso(QStringLiteral("SHA-512"), QString::fromLatin1(salt.toBase64()), QStringLiteral("AAAA"),
                         QStringLiteral("99999999")));
}

TEST(ProtectionHash, PreparedPasswordCarriesItsOwnSaltedHash)
{
    const ProtectionPassword password(QStringLiteral("密码"));
    EXPECT_EQ(password.salt().size(), 16);
    EXPECT_EQ(password.hash(), isoPasswordHash(QStringLiteral("SHA-512"), QStringLiteral("密码"), password.salt(), 100000));
    EXPECT_NE(password.salt(), ProtectionPassword(QStringLiteral("密码")).salt());
    EXPECT_TRUE(ProtectionPassword().isEmpty());
    EXPECT_EQ(ProtectionPassword().legacyVerifier(), 0);
    EXPECT_TRUE(ProtectionPassword().hash().isEmpty());
}

} // namespace
} // namespace gm
