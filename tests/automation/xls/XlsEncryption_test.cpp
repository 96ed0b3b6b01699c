// The RC4 password check of .xls FILEPASS records and the RC4 encryption of workbook streams.

#include "BiffTestSupport.h"

#include "automation/xls/XlsDocument.h"
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

TEST(XlsEncryption, Rc4FilePassReproducesTheKnownVector)
{
    QByteArray salt, verifier;
    for (char i = 0; i < 16; ++i) {
        salt.append(i);
        verifier.append(char(0x10 + i));
    }
    EXPECT_EQ(gm::xls::rc4FilePass(QStringLiteral("密码"), salt, verifier).toHex(),
        QByteArray("010001000100"
                   "000102030405060708090a0b0c0d0e0f"
                   "411eeda4cd11c05566859c2dd9f0e257"
                   "546a9bcc09a60785c1796b6332bb924f"));
}

TEST(XlsEncryption, Rc4StreamDecryptsAnExcelWorkbook)
{
    // The keystream runs by stream position across 1024-byte blocks and skips the plain
    // bodies: decrypting Excel's own file must give records whose sheet positions, sheet
    // names and sheet BOFs read as plain data.
    GM_REQUIRE_CORPUS(path, "encrypted/poi-password.xls");
    const QByteArray encrypted = gm::xls::test::workbookStreamOf(path);
    ASSERT_GT(encrypted.size(), 3 * 1024);
    const QByteArray plain = gm::xls::rc4WorkbookStream(encrypted, QStringLiteral("password"));
    for (const bool hit : gm::xls::test::positionHits(plain))
        EXPECT_TRUE(hit);
    QStringList names;
    for (const gm::xls::test::RawRecord &record : gm::xls::test::rawRecords(plain)) {
        if (record.type == 0x0085)
            names << gm::xls::shortUnicodeString(record.data, 6);
        if (record.type == 0x00FC) { // SST: the string count is a small number, not noise
            EXPECT_LT(gm::xls::test::u32(record.data, 4), 100000u);
        }
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Лист1"), QStringLiteral("Лист2"), QStringLiteral("Лист3")}));
    // Applying the keystream twice gives the stream back, and a wrong password gives noise.
    EXPECT_EQ(gm::xls::rc4WorkbookStream(plain, QStringLiteral("password")), encrypted);
    EXPECT_NE(gm::xls::rc4WorkbookStream(encrypted, QStringLiteral("Password")), plain);
}
