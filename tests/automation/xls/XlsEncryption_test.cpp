// The RC4 password check of .xls FILEPASS records.

#include "automation/xls/XlsEncryption.h"

#include <gtest/gtest.h>

using gm::xls::rc4PasswordMatches;
using gm::xls::usesBuiltInPassword;

TEST(XlsEncryption, Rc4VerifierAcceptsOnlyItsPassword)
{
    // FILEPASS of an Excel 2007 workbook whose open password is "password".
    const QByteArray excel = QByteArray::fromHex("010001000100"
                                                 "68A75DAB8DFF01C4FA376368E65EFC5F"
                                                 "DAA7A36E2421FBA36AB4EC92FA2AA09A"
                                                 "F7896935E1C3ADB71628EDB7543C09FA");
    EXPECT_TRUE(rc4PasswordMatches(excel, QStringLiteral("password")));
    EXPECT_FALSE(rc4PasswordMatches(excel, QStringLiteral("Password")));
    EXPECT_FALSE(usesBuiltInPassword(excel));

    // A non-Latin password, salt 00..0F, verifier 10..1F.
    const QByteArray own = QByteArray::fromHex("010001000100"
                                               "000102030405060708090a0b0c0d0e0f"
                                               "411eeda4cd11c05566859c2dd9f0e257"
                                               "546a9bcc09a60785c1796b6332bb924f");
    EXPECT_TRUE(rc4PasswordMatches(own, QStringLiteral("密码")));
    EXPECT_FALSE(rc4PasswordMatches(own, QStringLiteral("密")));

    // XOR obfuscation, CryptoAPI and truncated bodies are never taken for the built-in password.
    EXPECT_FALSE(usesBuiltInPassword(QByteArray::fromHex("00004A511ACC")));
    EXPECT_FALSE(usesBuiltInPassword(QByteArray::fromHex("010002000200") + QByteArray(100, '\0')));
    EXPECT_FALSE(usesBuiltInPassword(excel.left(40)));
}
