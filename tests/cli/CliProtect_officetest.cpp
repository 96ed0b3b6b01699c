// gridmule-cli protect as a user runs it: the password from a file or the environment, never
// an argument; the allowed actions by name; bad combinations refused before anything changes.

#include "support/TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QStringList args(std::initializer_list<const char *> texts)
{
    QStringList result;
    for (const char *text : texts)
        result << QString::fromUtf8(text);
    return result;
}

} // namespace

TEST(CliProtect, ProtectsWithThePasswordFromAFileAndRefusesBadOptions)
{
    QTemporaryDir dir;
    const QString book = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QByteArray original = gm::test::readAll(book);
    const QString passwordFile = dir.filePath(QStringLiteral("password.txt"));
    gm::test::writeAll(passwordFile, "secret\n");
    auto run = [](const QStringList &arguments) { return gm::test::runCli(QStringList{QStringLiteral("protect")} + arguments); };

    const QStringList refused[] = {
        args({"--no-password"}), // neither --workbook nor --sheets
        args({"--workbook", "--sheets", "--no-password"}),
        args({"--sheets", "--allow", "sort,juggle", "--no-password"}),
        args({"--sheets", "--structure", "--no-password"}),
        args({"--workbook", "--allow", "sort", "--no-password"}),
        args({"--workbook", "--no-password"}), // neither --structure nor --windows
        args({"--sheets", "--password-file"}) + QStringList{dir.filePath(QStringLiteral("none.txt"))},
    };
    for (const QStringList &arguments : refused) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        EXPECT_EQ(run(arguments + QStringList{book}).exitCode, 2);
        EXPECT_EQ(gm::test::readAll(book), original);
    }
    const gm::test::CliRun noMethod = run(args({"--workbook", "--no-password"}) + QStringList{book});
    EXPECT_TRUE(noMethod.err.contains(QStringLiteral("设置工作薄保护时至少选择“结构”或“窗口”一种保护方法！")));

    gm::test::CliRun result
        = run(args({"--sheets", "--allow", "sort, autofilter", "--password-file"}) + QStringList{passwordFile, book});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, book + QStringLiteral("\tchanged\t\n"));
    EXPECT_FALSE(result.out.contains(QStringLiteral("secret")));
    for (int sheet = 1; sheet <= 2; ++sheet) {
        const QByteArray xml = gm::test::zipEntry(book, QStringLiteral("xl/worksheets/sheet%1.xml").arg(sheet));
        EXPECT_TRUE(xml.contains("spinCount=\"100000\" sheet=\"1\" objects=\"1\" scenarios=\"1\" sort=\"0\" autoFilter=\"0\"/>"))
            << xml.toStdString();
    }

    // The password from the environment: another one than the sheets have, so they are
    // refused and the workbook fails unchanged.
    const QByteArray protectedBytes = gm::test::readAll(book);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GRIDMULE_PASSWORD"), QStringLiteral("other"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(GRIDMULE_CLI), args({"protect", "--sheets"}) + QStringList{book});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains(QStringLiteral("已用其他密码保护")));
    EXPECT_EQ(gm::test::readAll(book), protectedBytes);

    // The workbook's structure, the password typed at standard input.
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    process.start(QStringLiteral(GRIDMULE_CLI), args({"protect", "--workbook", "--structure"}) + QStringList{book});
    process.write("secret\n");
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QByteArray workbook = gm::test::zipEntry(book, QStringLiteral("xl/workbook.xml"));
    EXPECT_TRUE(workbook.contains("workbookSpinCount=\"100000\" lockStructure=\"1\"/>")) << workbook.toStdString();
}
