// gridmule-cli password, run as a user would run it: the password from a file, the workbooks
// encrypted or reserved in place, and the refusals of bad arguments.

#include "automation/EngineError.h"
#include "automation/crypto/AgileEncryption.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(CliPassword, SetsPasswordsFromAFileAndRefusesBadArguments)
{
    QTemporaryDir dir;
    const QString xlsx = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString xls = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QString package = QString::fromLatin1(gm::test::readAll(xlsx).toBase64());
    const QString passwordFile = dir.filePath(QStringLiteral("password.txt"));
    gm::test::writeAll(passwordFile, QByteArray("口令 42\nnot this line\n"));
    const QString empty = dir.filePath(QStringLiteral("empty.txt"));
    gm::test::writeAll(empty, QByteArray("\n"));

    // Bad arguments change nothing and exit 2.
    const QStringList refused[] = {
        {QStringLiteral("--password-file"), passwordFile, xlsx},
        {QStringLiteral("--open"), QStringLiteral("--modify"), QStringLiteral("--password-file"), passwordFile, xlsx},
        {QStringLiteral("--open"), QStringLiteral("--password-file"), empty, xlsx},
        {QStringLiteral("--open"), QStringLiteral("--password-file"), dir.filePath(QStringLiteral("missing.txt")), xlsx},
    };
    for (const QStringList &arguments : refused) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const gm::test::CliRun run = gm::test::runCli(QStringList{QStringLiteral("password")} + arguments);
        EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
        EXPECT_EQ(QString::fromLatin1(gm::test::readAll(xlsx).toBase64()), package);
    }

    gm::test::CliRun run = gm::test::runCli(
        {QStringLiteral("password"), QStringLiteral("--modify"), QStringLiteral("--password-file"), passwordFile, xls});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("\tchanged\t")));

    run = gm::test::runCli(
        {QStringLiteral("password"), QStringLiteral("--open"), QStringLiteral("--password-file"), passwordFile, xlsx, xls});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    // The password is the file's first line, and the package inside is the original.
    EXPECT_EQ(
        QString::fromLatin1(gm::crypto::decryptPackage(gm::test::readAll(xlsx), QStringLiteral("口令 42")).toBase64()), package);

    // A workbook that already has an open password fails and stays as it is.
    const QByteArray encrypted = gm::test::readAll(xlsx);
    run = gm::test::runCli(
        {QStringLiteral("password"), QStringLiteral("--modify"), QStringLiteral("--password-file"), passwordFile, xlsx});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.contains(gm::EngineError::describe(gm::ErrorCode::PasswordRequired)));
    EXPECT_EQ(gm::test::readAll(xlsx), encrypted);
}
