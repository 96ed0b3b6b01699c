// The LibreOffice backend on real files: what it opens, what it refuses, how it saves, and
// how it survives a dead or hung engine.

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/EngineSession.h"
#include "automation/lo/LoApplication.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace gm;
using gm::test::fixture;

namespace {

class LoEngineTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        // Whatever a test did, no engine process of ours may outlive it.
        EXPECT_EQ(gm::test::engineProcessesOfThisProcess(), 0);
        EXPECT_EQ(gm::test::engineLeftoversOfThisProcess(), QStringList());
    }
    QTemporaryDir dir;
};

ErrorCode openFailure(Application &app, const QString &path)
{
    try {
        app.open(path);
    } catch (const EngineError &e) {
        return e.code();
    }
    return ErrorCode::Unexpected;
}

} // namespace

TEST_F(LoEngineTest, RefusesBadInputWithItsOwnErrorAndLeavesItUntouched)
{
    // Damaged package: a byte flipped inside the compressed data of a worksheet part.
    QByteArray package = gm::test::readAll(fixture(QStringLiteral("sheets_second_active.xlsx")));
    const qsizetype at = package.indexOf("xl/worksheets/sheet2.xml");
    ASSERT_GT(at, 0);
    package[at + 40] = static_cast<char>(package[at + 40] ^ 0x5A);
    gm::test::writeAll(dir.filePath(QStringLiteral("damaged.xlsx")), package);
    gm::test::writeAll(dir.filePath(QStringLiteral("empty.xlsx")), {});
    gm::test::writeAll(dir.filePath(QStringLiteral("text.xls")), "a\tb\r\n1\t2\r\n");
    gm::test::writeAll(dir.filePath(QStringLiteral("page.xls")), "<html><body><table><tr><td>1</td></tr></table></body></html>");
    gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), dir.path(), QStringLiteral("realxls.xlsx"));
    gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path(), QStringLiteral("held.xlsx"));
    gm::test::writeAll(dir.filePath(QStringLiteral("~$held.xlsx")), "owner");

    struct Case
    {
        QString path;
        ErrorCode expected;
    };
    QList<Case> cases = {
        {dir.filePath(QStringLiteral("damaged.xlsx")), ErrorCode::Damaged},
        {dir.filePath(QStringLiteral("empty.xlsx")), ErrorCode::EmptyFile},
        {dir.filePath(QStringLiteral("text.xls")), ErrorCode::NotAWorkbook},
        {dir.filePath(QStringLiteral("page.xls")), ErrorCode::NotAWorkbook},
        {dir.filePath(QStringLiteral("realxls.xlsx")), ErrorCode::NotAWorkbook},
        {dir.filePath(QStringLiteral("held.xlsx")), ErrorCode::InUse},
        {dir.filePath(QStringLiteral("missing.xlsx")), ErrorCode::FileNotFound},
        {dir.filePath(QStringLiteral("nofolder/missing.xlsx")), ErrorCode::PathNotFound},
    };
    for (const char *encrypted : {"encrypted/poi-password.xls", "encrypted/poi-protected_passtika.xlsx"}) {
        const QString source = gm::test::corpusFile(QString::fromLatin1(encrypted));
        if (!source.isEmpty())
            cases.append({gm::test::copyInto(source, dir.path()), ErrorCode::PasswordRequired});
    }
    const QString biff4 = gm::test::corpusFile(QStringLiteral("bad/xlrd-biff4_no_format_no_window2.xls"));
    if (!biff4.isEmpty())
        cases.append({gm::test::copyInto(biff4, dir.path()), ErrorCode::UnsupportedFormat});

    QMap<QString, QByteArray> before;
    for (const Case &c : cases)
        before[c.path] = gm::test::readAll(c.path);

    lo::LoApplication app(libreOfficeProgramDir());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(openFailure(app, c.path), c.expected);
        EXPECT_EQ(gm::test::readAll(c.path), before[c.path]);
    }
    // The refusals left the engine working.
    EXPECT_NO_THROW(app.open(fixture(QStringLiteral("sheets_second_active.xlsx")), true));
}

TEST_F(LoEngineTest, ReadsSheetsAndTheActiveSheetOfBothFormats)
{
    lo::LoApplication app(libreOfficeProgramDir());
    EXPECT_FALSE(app.info().version.isEmpty());
    for (const char *name : {"sheets_second_active.xls", "sheets_second_active.xlsx"}) {
        SCOPED_TRACE(name);
        auto book = app.open(fixture(QString::fromLatin1(name)), true);
        EXPECT_EQ(book->name(), QString::fromLatin1(name));
        EXPECT_EQ(book->fullName(), fixture(QString::fromLatin1(name)));
        ASSERT_EQ(book->worksheetCount(), 2);
        EXPECT_EQ(book->worksheet(1)->name(), QStringLiteral("First"));
        EXPECT_EQ(book->worksheet(QStringLiteral("first"))->sheetIndex(), 1);
        EXPECT_EQ(book->activeSheet()->name(), QStringLiteral("第二"));
        try {
            book->worksheet(3);
            ADD_FAILURE() << "position 3 of 2 sheets";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::SheetNotFound);
        }
        book->close(false);
    }
}

TEST_F(LoEngineTest, SavesInPlaceThroughACheckedTemporaryFileKeepingPermissions)
{
    const QString xls = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    QFile::setPermissions(xls, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    const QString readOnly = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    const QByteArray readOnlyBefore = gm::test::readAll(readOnly);

    lo::LoApplication app(libreOfficeProgramDir());
    auto book = app.open(xls);
    book->save();
    book->close(false);
    EXPECT_EQ(QFileInfo(xls).permissions() & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_TRUE(gm::test::readAll(xls).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
    EXPECT_EQ(app.open(xls, true)->worksheetCount(), 2);

    // A file without the owner's write permission is never written, even by root.
    auto locked = app.open(readOnly);
    try {
        locked->save();
        ADD_FAILURE() << "saved a read-only file";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::ReadOnlyFile);
    }
    locked.reset();
    EXPECT_EQ(gm::test::readAll(readOnly), readOnlyBefore);

    // Nothing but the two workbooks is left in the folder: no temporary or lock file.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(LoEngineTest, AHungEngineIsKilledByTheWatchdogAndReplaced)
{
    lo::EngineLimits limits;
    limits.call = std::chrono::milliseconds(1500);
    limits.fileBase = std::chrono::milliseconds(1500);
    pid_t pid = 0;
    EngineSession session([&] {
        auto app = std::make_unique<lo::LoApplication>(libreOfficeProgramDir(), limits);
        pid = app->enginePid();
        return app;
    });
    session.libreOffice();
    const pid_t first = pid;
    ::kill(first, SIGSTOP);
    try {
        session.open(fixture(QStringLiteral("sheets_second_active.xls")), WorkbookUse::Engine, true);
        ADD_FAILURE() << "a stopped engine answered";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::TimedOut);
    }
    EXPECT_FALSE(session.libreOffice().info().version.isEmpty());
    EXPECT_NE(pid, first);
    EXPECT_EQ(session.open(fixture(QStringLiteral("sheets_second_active.xls")), WorkbookUse::Engine, true)->worksheetCount(), 2);
}

TEST_F(LoEngineTest, NewWorkbookIsSavedAsTheChosenFormat)
{
    lo::LoApplication app(libreOfficeProgramDir());
    auto book = app.add();
    EXPECT_EQ(book->worksheetCount(), 1);
    const QString target = dir.filePath(QStringLiteral("new.xlsx"));
    book->saveAs(target, FileFormat::OpenXmlWorkbook);
    EXPECT_EQ(book->fullName(), target);
    EXPECT_EQ(book->name(), QStringLiteral("new.xlsx"));
    book->close(true);
    EXPECT_TRUE(gm::test::zipEntryNames(target).contains(QStringLiteral("xl/workbook.xml")));
}
