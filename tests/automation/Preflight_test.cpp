// What is refused before any engine sees a file, and the lock files that mean "in use".

#include "automation/EngineError.h"
#include "automation/Preflight.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace gm;

namespace {

// What the code under test writes to standard error while `run` runs.
template<typename Run> QByteArray standardErrorOf(Run run)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "capture file not opened";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

TEST(Preflight, LockFilesMeanInUseUnlessOurOwnDeadEngineLeftThem)
{
    QTemporaryDir dir;
    const QString book = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path());
    const QString lock = dir.filePath(QStringLiteral(".~lock.sheets_second_active.xlsx#"));
    auto engineLock = [](qint64 pid, const QString &host = QSysInfo::machineHostName()) {
        return QStringLiteral(",root,%1,06.12.2026 22:46,file:///tmp/gridmule-engine-%2-d3369429/profile;").arg(host).arg(pid).toUtf8();
    };
    struct Case
    {
        QByteArray content;
        bool inUse;
    };
    const Case cases[] = {
        {",alice,desk,06.12.2026 09:00,file:///home/alice/.config/libreoffice/4;", true}, // another user's office
        {engineLock(::getpid()), true}, // a running engine
        {engineLock(999999999), false}, // our engine, dead
        {engineLock(999999999, QStringLiteral("elsewhere")), true}, // an engine on another machine
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        gm::test::writeAll(lock, c.content);
        EXPECT_EQ(workbookInUse(book), c.inUse);
        EXPECT_EQ(QFileInfo::exists(lock), c.inUse); // only a dead engine's lock is cleared
    }
    // A reader is not stopped by a dead engine's lock either: the engine would refuse the file.
    gm::test::writeAll(lock, engineLock(999999999));
    EXPECT_EQ(preflightWorkbook(book, /*forWriting=*/false), WorkbookKind::Xlsx);
    EXPECT_FALSE(QFileInfo::exists(lock));
    gm::test::writeAll(dir.filePath(QStringLiteral("~$sheets_second_active.xlsx")), "owner");
    try {
        preflightWorkbook(book);
        ADD_FAILURE() << "a workbook open in Excel was accepted for writing";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::InUse);
    }
    EXPECT_EQ(preflightWorkbook(book, /*forWriting=*/false), WorkbookKind::Xlsx);
}

TEST(Preflight, EncryptedAndDamagedXlsFailBeforeAnythingReadsThem)
{
    struct Case
    {
        const char *file;
        ErrorCode code;
    };
    const Case cases[] = {
        {"encrypted/poi-password.xls", ErrorCode::PasswordRequired}, // RC4
        {"encrypted/poi-xor-encryption-abc.xls", ErrorCode::PasswordRequired}, // XOR obfuscation
        {"bad/calamine-adhocallbabynames1996to2016.xls", ErrorCode::EmptyFile},
        {"bad/calamine-too_small.xls", ErrorCode::NotAWorkbook},
        {"bad/xlrd-biff4_no_format_no_window2.xls", ErrorCode::UnsupportedFormat},
        {"bad/calamine-OOM_alloc3.xls", ErrorCode::Damaged}, // unreadable container
        {"bad/xlrd-corrupted_error.xls", ErrorCode::Damaged}, // the workbook stream overlaps the mini stream
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        // The container library's complaints about a damaged file stay off the console.
        const QByteArray console = standardErrorOf([&] {
            for (bool forWriting : {false, true}) {
                for (bool verifyPackage : {false, true}) {
                    try {
                        preflightWorkbook(path, forWriting, verifyPackage);
                        ADD_FAILURE() << "accepted";
                    } catch (const EngineError &e) {
                        EXPECT_EQ(e.code(), c.code) << e.what();
                    }
                }
            }
        });
        EXPECT_EQ(console, QByteArray());
    }
    // Encrypted under the built-in read-only password: readers open it without asking, an
    // in-place change is refused with its own description.
    const QString readOnlyEncrypted = gm::test::corpusFile(QStringLiteral("xls/calamine-issue_385.xls"));
    EXPECT_EQ(preflightWorkbook(readOnlyEncrypted, /*forWriting=*/false), WorkbookKind::Xls);
    try {
        preflightWorkbook(readOnlyEncrypted, /*forWriting=*/true);
        ADD_FAILURE() << "accepted for writing";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::PasswordRequired);
        EXPECT_NE(e.description(), EngineError::describe(ErrorCode::PasswordRequired));
    }
    // Healthy BIFF8 and BIFF5 workbooks pass, whatever their stream is called.
    for (const char *file :
        {"xls/calamine-capitalized_wbook_stream.xls", "xls/calamine-biff5_write.xls", "xls/poi-WithChart.xls"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(preflightWorkbook(gm::test::corpusFile(QString::fromLatin1(file)), false), WorkbookKind::Xls);
    }
}
