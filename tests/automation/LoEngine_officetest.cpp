// The LibreOffice backend on real files: what it opens, what it refuses, how it saves, and
// how it survives a dead or hung engine.

#include "automation/EngineError.h"
#include "automation/EngineLocator.h"
#include "automation/EngineSession.h"
#include "automation/lo/EngineProcess.h"
#include "automation/lo/LoApplication.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

TEST_F(LoEngineTest, AnEngineThatDiesBetweenCallsFailsTheNextCallWithoutEndingTheProgram)
{
    // Requests go to the engine over a socket; writing one after the engine died must fail
    // the call, not end the program with SIGPIPE. The engine is killed right before calls
    // that write, several times, so that some writes meet the closed socket.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        lo::LoApplication app(libreOfficeProgramDir());
        auto book = app.open(fixture(QStringLiteral("sheets_second_active.xlsx")), true);
        ASSERT_EQ(book->worksheetCount(), 2);
        ::kill(app.enginePid(), SIGKILL);
        ErrorCode failure = ErrorCode::Unexpected;
        for (int call = 0; call < 1000 && failure == ErrorCode::Unexpected; ++call) {
            try {
                book->worksheetCount();
                std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
            } catch (const EngineError &e) {
                failure = e.code();
            }
        }
        EXPECT_NE(failure, ErrorCode::Unexpected) << "the dead engine kept answering";
    }
    // The same for any pipe this program writes to once it has started an engine.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    const char byte = 'x';
    EXPECT_EQ(::write(ends[1], &byte, 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(ends[1]);
}

TEST_F(LoEngineTest, AWorkbookOnAFullDiskFailsAsDiskFullAndStaysAsItWas)
{
    // The engine cannot write its lock file on a full disk and opens the workbook read-only,
    // as it does for a workbook another program holds; the user must be told the real cause.
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "no small file system could be mounted: " << std::strerror(errno);
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mountPoint)};
    const QString book = gm::test::copyInto(fixture(QStringLiteral("sheets_second_active.xls")), mountPoint);
    ASSERT_TRUE(QFile::setPermissions(book, QFile::ReadOwner | QFile::WriteOwner));
    const QByteArray before = gm::test::readAll(book);
    {
        QFile fill(QDir(mountPoint).filePath(QStringLiteral("fill")));
        ASSERT_TRUE(fill.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (fill.write(block) == block.size() && fill.flush()) { }
    }
    EngineSession session;
    for (const WorkbookUse use : {WorkbookUse::Engine, WorkbookUse::GuardedEngine}) {
        try {
            session.open(book, use, false);
            ADD_FAILURE() << "opened for writing on a full disk";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::DiskFull) << e.what();
        }
    }
    EXPECT_EQ(gm::test::readAll(book), before);
    // A workbook only read is opened as usual.
    EXPECT_EQ(session.open(book, WorkbookUse::Engine, true)->worksheetCount(), 2);
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

namespace {

// Sets environment variables for the lifetime of the object.
class EnvironmentGuard
{
public:
    EnvironmentGuard(const QList<const char *> &names, const QByteArray &value)
    {
        for (const char *name : names) {
            m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qputenv(name, value);
        }
    }
    ~EnvironmentGuard()
    {
        for (const Saved &s : std::as_const(m_saved)) {
            if (s.wasSet)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
    }

private:
    struct Saved
    {
        const char *name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A workbook big enough that the engine takes a while to save it.
QString bigWorkbook(const QString &folder)
{
    QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                       "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (int row = 1; row <= 40000; ++row) {
        sheet += "<row r=\"" + QByteArray::number(row) + "\">";
        for (int column = 0; column < 8; ++column)
            sheet += "<c><v>" + QByteArray::number(row * 10 + column) + ".25</v></c>";
        sheet += "</row>";
    }
    sheet += "</sheetData></worksheet>";
    const QString source = fixture(QStringLiteral("xls_edge.xlsx"));
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : gm::test::zipEntryNames(source))
        entries.append({name, name == QStringLiteral("xl/worksheets/sheet2.xml") ? sheet : gm::test::zipEntry(source, name)});
    const QString path = folder + QStringLiteral("/big.xlsx");
    gm::test::writeZip(path, entries);
    return path;
}

} // namespace

TEST_F(LoEngineTest, ExcelFormatRefusesDataBeyondItsLimitsAndWritesNothing)
{
    struct Case
    {
        const char *fixture;
        const char *beyond; // the sheet with data out of reach, or nullptr
    };
    const Case cases[] = {
        {"xls_edge.xlsx", nullptr},
        {"xls_too_many_rows.xlsx", "Rows"},
        {"xls_too_many_columns.xlsx", "Columns"},
    };
    lo::LoApplication app(libreOfficeProgramDir());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fixture);
        QTemporaryDir out;
        auto book = app.open(fixture(QString::fromLatin1(c.fixture)), true);
        const QString target = out.filePath(QStringLiteral("out.xls"));
        if (!c.beyond) {
            book->saveAs(target, FileFormat::Excel8);
            EXPECT_TRUE(gm::test::readAll(target).startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1")));
            continue;
        }
        try {
            book->saveAs(target, FileFormat::Excel8);
            ADD_FAILURE() << "written short as .xls";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::ExceedsXlsLimits);
            EXPECT_TRUE(e.detail().startsWith(QString::fromLatin1(c.beyond))) << e.detail().toStdString();
        }
        EXPECT_EQ(folderEntries(out.path()), QStringList());
        // The limits are the .xls format's: the same workbook saves as .xlsx.
        book->saveAs(out.filePath(QStringLiteral("out.xlsx")), FileFormat::OpenXmlWorkbook);
        EXPECT_EQ(folderEntries(out.path()), QStringList{QStringLiteral("out.xlsx")});
    }
}

TEST_F(LoEngineTest, DisplayedValuesFollowUsConventionsWhateverTheUsersLocale)
{
    // A German user: decimal comma, dot for thousands, day.month.year dates.
    const EnvironmentGuard german({"LC_ALL", "LANG", "LANGUAGE", "LC_NUMERIC", "LC_TIME"}, "de_DE.UTF-8");
    lo::LoApplication app(libreOfficeProgramDir());
    auto book = app.open(fixture(QStringLiteral("displayed_values.xlsx")), true);

    const QString csv = dir.filePath(QStringLiteral("values.csv"));
    book->saveAs(csv, FileFormat::Csv);
    EXPECT_EQ(QString::fromUtf8(gm::test::readAll(csv)), QStringLiteral("\"1,234.57\",2.5,3/5/2024,3/5/2024\r\n"));

    const QString text = dir.filePath(QStringLiteral("values.txt"));
    book->saveAs(text, FileFormat::Text);
    EXPECT_EQ(QString::fromUtf8(gm::test::readAll(text)), QStringLiteral("1,234.57\t2.5\t3/5/2024\t3/5/2024\r\n"));

    const QString html = dir.filePath(QStringLiteral("values.htm"));
    book->saveAs(html, FileFormat::Html);
    const QString page = QString::fromUtf8(gm::test::readAll(html));
    for (const char *shown : {">1,234.57<", ">2.5<", ">3/5/2024<"})
        EXPECT_TRUE(page.contains(QLatin1String(shown))) << shown;
    for (const char *german : {"1.234,57", "2,5", "05.03.", "3.5.2024"})
        EXPECT_FALSE(page.contains(QLatin1String(german))) << german;
}

TEST_F(LoEngineTest, AStartThatFailsIsTriedOnceMoreFromAFreshProfile)
{
    // Engine processes that die as they start, as they may on an overloaded machine: one such
    // death is survived, two fail the start with its own error.
    for (const int deaths : {1, 2}) {
        SCOPED_TRACE(deaths);
        std::atomic<bool> done = false;
        QList<int> killed;
        std::thread killer([&] {
            while (!done && killed.size() < deaths) {
                for (const int pid : gm::test::engineProcessIdsOfThisProcess()) {
                    if (!killed.contains(pid)) {
                        ::kill(pid, SIGKILL);
                        killed << pid;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        std::unique_ptr<lo::LoApplication> app;
        ErrorCode failure = ErrorCode::Unexpected;
        try {
            app = std::make_unique<lo::LoApplication>(libreOfficeProgramDir());
        } catch (const EngineError &e) {
            failure = e.code();
        }
        done = true;
        killer.join();
        ASSERT_EQ(killed.size(), deaths);
        if (deaths == 1) {
            ASSERT_TRUE(app);
            EXPECT_FALSE(killed.contains(app->enginePid()));
            EXPECT_EQ(app->open(fixture(QStringLiteral("sheets_second_active.xlsx")), true)->worksheetCount(), 2);
        } else {
            EXPECT_FALSE(app);
            EXPECT_EQ(failure, ErrorCode::EngineUnavailable);
        }
    }
}

TEST_F(LoEngineTest, EnginesStartedTogetherSetUpOneProfileAndStartOnCopiesOfIt)
{
    // Two engines started at once: at most the first sets a new profile up (when no engine of
    // this program did so before); the other waits for it and starts on a copy. Both work.
    // Each is used and ended on the thread that started it, as an engine ends with that thread.
    struct Started
    {
        bool fromCopy = false;
        int sheets = 0;
    };
    auto startAndOpen = [](Started &started) {
        try {
            lo::LoApplication app(libreOfficeProgramDir());
            started.fromCopy = app.startedFromFinishedProfile();
            auto book = app.open(fixture(QStringLiteral("sheets_second_active.xlsx")), true);
            started.sheets = book->worksheetCount();
            book->close(false);
        } catch (const EngineError &) { }
    };
    Started started[2];
    std::thread other([&] { startAndOpen(started[1]); });
    startAndOpen(started[0]);
    other.join();
    EXPECT_TRUE(started[0].fromCopy || started[1].fromCopy);
    EXPECT_EQ(started[0].sheets, 2);
    EXPECT_EQ(started[1].sheets, 2);
}

TEST_F(LoEngineTest, EnginesStartWithoutRunningTheirGraphicsSelfTests)
{
    // The engine writes this log into its profile whenever it runs its graphics self-tests,
    // which cost about a second of processor time on every start unless the profile records
    // the installed version as the one last run. Checked for an engine that sets its profile
    // up and for one that starts on the finished profile.
    QTemporaryDir cache;
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    for (const bool fromCopy : {false, true}) {
        SCOPED_TRACE(fromCopy);
        if (!fromCopy)
            lo::EngineProcess::forgetFinishedProfile();
        lo::LoApplication app(libreOfficeProgramDir());
        EXPECT_EQ(app.startedFromFinishedProfile(), fromCopy);
        const QStringList profiles
            = QDir::temp().entryList({QStringLiteral("gridmule-engine-%1-*").arg(::getpid())}, QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_EQ(profiles.size(), 1);
        const QString user = QDir::temp().filePath(profiles.first() + QStringLiteral("/profile/user"));
        EXPECT_TRUE(QFileInfo::exists(user + QStringLiteral("/registrymodifications.xcu")));
        EXPECT_FALSE(QFileInfo::exists(user + QStringLiteral("/GraphicsRenderTests.log")));
    }
    savedCache.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", savedCache);
    lo::EngineProcess::forgetFinishedProfile();
}

TEST_F(LoEngineTest, AFinishedProfileKeptOnDiskServesLaterRunsAndIsReplacedWhenDamaged)
{
    // The user's cache folder is a temporary one here. Each start first forgets the profile
    // this program holds, as a new run of the program starts without one.
    struct CacheHome
    {
        const QByteArray saved = qgetenv("XDG_CACHE_HOME");
        explicit CacheHome(const QString &path) { qputenv("XDG_CACHE_HOME", QFile::encodeName(path)); }
        ~CacheHome()
        {
            saved.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", saved);
            lo::EngineProcess::forgetFinishedProfile();
        }
    } cacheHome(dir.filePath(QStringLiteral("cache")));
    const QString folder = dir.filePath(QStringLiteral("cache/gridmule"));
    auto startAndOpen = [] {
        lo::EngineProcess::forgetFinishedProfile();
        lo::LoApplication app(libreOfficeProgramDir());
        auto book = app.open(fixture(QStringLiteral("sheets_second_active.xlsx")), true);
        EXPECT_EQ(book->worksheetCount(), 2);
        book->close(false);
        return app.startedFromFinishedProfile();
    };
    auto entries = [&] { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };

    // No image yet: the engine sets its profile up and leaves its image, and nothing beside it.
    EXPECT_FALSE(startAndOpen());
    const QStringList images = entries();
    ASSERT_EQ(images.size(), 1);
    const QString image = folder + QLatin1Char('/') + images.first();
    EXPECT_TRUE(startAndOpen()) << "the next run starts on the image";

    // A damaged image is ignored and replaced by a sound one that the run after starts on.
    const QByteArray sound = gm::test::readAll(image);
    QByteArray changed = sound;
    changed[sound.size() / 2] = static_cast<char>(changed[sound.size() / 2] ^ 0x20);
    const std::pair<const char *, QByteArray> damages[]
        = {{"one byte changed", changed}, {"cut short", sound.left(sound.size() / 2)}, {"not an image", QByteArray(4096, 'x')}};
    for (const auto &[damage, bytes] : damages) {
        SCOPED_TRACE(damage);
        gm::test::writeAll(image, bytes);
        EXPECT_FALSE(startAndOpen());
        EXPECT_EQ(entries(), images);
        EXPECT_TRUE(startAndOpen());
    }

    // A cache folder that cannot be made (a file stands in its place): engines start as they
    // would without one, and the file is left as it was.
    QDir(folder).removeRecursively();
    gm::test::writeAll(folder, "not a folder");
    EXPECT_FALSE(startAndOpen());
    EXPECT_EQ(gm::test::readAll(folder), QByteArray("not a folder"));
}

TEST_F(LoEngineTest, AnEngineKilledOrHungMidSaveLeavesNoLockTemporaryOrSocketFile)
{
    const QString big = bigWorkbook(dir.path());
    // The engine is killed, or stopped until its watchdog kills it, as soon as its temporary
    // file appears beside the target.
    struct Case
    {
        const char *name;
        int signal;
        ErrorCode expected;
    };
    for (const Case &c : {Case{"killed", SIGKILL, ErrorCode::EngineDied}, Case{"hung", SIGSTOP, ErrorCode::TimedOut}}) {
        SCOPED_TRACE(c.name);
        const QString out = dir.filePath(QString::fromLatin1(c.name));
        QDir().mkpath(out);
        lo::EngineLimits limits;
        limits.fileBase = std::chrono::milliseconds(8000);
        lo::LoApplication app(libreOfficeProgramDir(), limits);
        const QStringList sockets = app.engineSockets();
        QStringList present;
        for (const QString &socket : sockets)
            if (QFileInfo(socket).exists())
                present << QFileInfo(socket).fileName();
        // The pipe we connect to and the engine's single-instance pipe, both where we look.
        ASSERT_EQ(present.size(), 2) << sockets.join(QLatin1Char(' ')).toStdString();

        auto book = app.open(big, true);
        std::atomic<bool> done = false;
        QStringList seen;
        std::thread saboteur([&] {
            while (!done) {
                const QStringList entries = folderEntries(out);
                if (!entries.filter(QRegularExpression(QStringLiteral("^lu.*\\.tmp$"))).isEmpty()) {
                    seen = entries;
                    ::kill(app.enginePid(), c.signal);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        ErrorCode failure = ErrorCode::Unexpected;
        try {
            book->saveAs(out + QStringLiteral("/big.xlsx"), FileFormat::OpenXmlWorkbook);
        } catch (const EngineError &e) {
            failure = e.code();
        }
        done = true;
        saboteur.join();
        ASSERT_FALSE(seen.isEmpty()) << "the save ended before its temporary file was seen";
        EXPECT_EQ(failure, c.expected);
        EXPECT_EQ(folderEntries(out), QStringList()) << "seen mid-save: " << seen.join(QLatin1Char(' ')).toStdString();
        book.reset();
        for (const QString &socket : sockets)
            EXPECT_FALSE(QFileInfo(socket).exists() || QFileInfo(socket).isSymLink()) << socket.toStdString();
    }
}

TEST_F(LoEngineTest, LeftoversOfAKilledProgramAreRemovedByTheNextStart)
{
    // A program of ours that was killed: its process is gone, its engine's folder and pipe
    // sockets are not. A live program's socket stays.
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ASSERT_GT(dead, 0);
    ::waitpid(dead, nullptr, 0);
    const QString prefix = QStringLiteral("/tmp/OSL_PIPE_%1_").arg(::getuid());
    const QString id = QStringLiteral("%1-0badc0de").arg(dead);
    const QString folder = QDir::temp().filePath(QStringLiteral("gridmule-engine-") + id);
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/profile/user")));
    const QString url = QUrl::fromLocalFile(folder + QStringLiteral("/profile")).toString(QUrl::FullyEncoded);
    QString ipc;
    for (const char byte : QCryptographicHash::hash(
             QByteArrayView(reinterpret_cast<const char *>(url.utf16()), url.size() * 2), QCryptographicHash::Md5))
        ipc += QString::number(static_cast<uchar>(byte), 16);

    const QStringList stale = {prefix + QStringLiteral("gridmule-") + id, prefix + QStringLiteral("SingleOfficeIPC_") + ipc,
        prefix + QStringLiteral("gridmule-%1-0badf00d").arg(dead)};
    const QString live = prefix + QStringLiteral("gridmule-1-0badc0de"); // pid 1 never ends
    for (const QString &path : stale + QStringList{live}) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0) << path.toStdString();
        ::close(fd);
    }

    lo::LoApplication app(libreOfficeProgramDir());
    EXPECT_FALSE(QFileInfo::exists(folder));
    for (const QString &path : stale)
        EXPECT_FALSE(QFileInfo(path).exists()) << path.toStdString();
    EXPECT_TRUE(QFileInfo(live).exists());
    QFile::remove(live);
}
