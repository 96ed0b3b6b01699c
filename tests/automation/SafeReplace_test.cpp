// In-place saves and copies on real workbooks under faults: links, a full disk, a read-only
// disk, a folder without write permission, and the leftovers of runs that died.

#include "automation/EngineError.h"
#include "automation/SafeReplace.h"
#include "automation/ole/XlsPropertyWorkbook.h"
#include "operations/workbook/ConvertOperation.h"
#include "operations/workbook/PropertiesOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QMap>
#include <QSysInfo>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace gm;
using gm::test::readAll;

namespace {

// A process id that belonged to a process that has ended.
pid_t deadProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// Our temporary and lock files in a folder.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".~gridmule*"), QStringLiteral(".~lock.*")},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// A file system mounted for one test, detached at the end.
class Mount
{
public:
    bool tmpfs(const QString &dir, const char *options)
    {
        m_dir = QFile::encodeName(dir);
        m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, options) == 0;
        return m_mounted;
    }
    bool readOnlyBind(const QString &source, const QString &dir)
    {
        m_dir = QFile::encodeName(dir);
        m_mounted = ::mount(QFile::encodeName(source).constData(), m_dir.constData(), nullptr, MS_BIND, nullptr) == 0;
        if (m_mounted && ::mount(nullptr, m_dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            ::umount2(m_dir.constData(), MNT_DETACH);
            m_mounted = false;
        }
        return m_mounted;
    }
    ~Mount()
    {
        if (m_mounted)
            ::umount2(m_dir.constData(), MNT_DETACH);
    }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};

// Fills a file system until one page is left, so that the next write stops part-way.
void fillLeavingOnePage(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder + QStringLiteral("/filler")).constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray chunk(4096, 'x');
    off_t size = 0;
    while (::write(fd, chunk.constData(), chunk.size()) == chunk.size())
        size += chunk.size();
    ASSERT_EQ(errno, ENOSPC);
    ASSERT_EQ(::ftruncate(fd, size - 4096), 0);
    ::close(fd);
}

struct Outcome
{
    FileOutcome outcome = FileOutcome::Processed;
    int number = 0;
};

Outcome setTitle(const QString &path, const QString &title = QStringLiteral("季度报表"))
{
    PropertiesInputs inputs;
    inputs.entries = {path};
    inputs.checked[0] = true;
    inputs.values[0] = title;
    gm::test::ScriptedUi ui;
    const RunSummary summary = setProperties(
        inputs, ui, {}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    if (summary.files.size() != 1)
        return {FileOutcome::Skipped, -1};
    return {summary.files[0].outcome, summary.files[0].errorNumber};
}

// Converts to Excel 97-2003 (an .xls source is copied) or to CSV (index 1, which would need
// the engine: none can start here).
Outcome copyAsXls(const QString &source, const QString &outputFolder, int targetIndex = 5)
{
    ConvertInputs inputs;
    inputs.entries = {source};
    inputs.targetIndex = targetIndex;
    inputs.outputFolder = outputFolder;
    gm::test::ScriptedUi ui;
    const RunSummary summary = convertWorkbooks(
        inputs, ui, {}, []() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    if (summary.files.size() != 1)
        return {FileOutcome::Skipped, -1};
    return {summary.files[0].outcome, summary.files[0].errorNumber};
}

QString title(const QString &path)
{
    auto book = ole::openXlsProperties(path);
    return book->builtinProperty(DocumentProperty::Title);
}

class SafeReplaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // Readable by another user, for the permission case.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    }
    QString folder(const QString &name) const
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    QString workbook(const QString &kind, const QString &into) const
    {
        return gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.") + kind), into);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SafeReplaceTest, ChangesThroughALinkLandInItsTargetAndTheLinkStays)
{
    const QString real = folder(QStringLiteral("real"));
    const QString links = folder(QStringLiteral("links"));
    for (const QString &kind : {QStringLiteral("xlsx"), QStringLiteral("xls")}) {
        SCOPED_TRACE(kind.toStdString());
        const QString target = workbook(kind, real);
        const QString link = links + QStringLiteral("/t.") + kind;
        ASSERT_TRUE(QFile::link(QStringLiteral("../real/") + QFileInfo(target).fileName(), link));

        const Outcome result = setTitle(link);
        EXPECT_EQ(result.outcome, FileOutcome::Processed) << result.number;
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
        if (kind == QStringLiteral("xlsx"))
            EXPECT_TRUE(gm::test::zipEntry(target, QStringLiteral("docProps/core.xml")).contains("季度报表"));
        else
            EXPECT_EQ(title(target), QStringLiteral("季度报表"));
        EXPECT_EQ(leftovers(real), QStringList());
        EXPECT_EQ(leftovers(links), QStringList());
    }
}

TEST_F(SafeReplaceTest, TheNextRunRemovesOnlyWhatDeadRunsLeft)
{
    const QString out = folder(QStringLiteral("out"));
    const QString dead = temporaryPrefixFor(deadProcessId());
    const QString alive = temporaryPrefixFor(::getpid());
    const QString otherMachine = QStringLiteral(".~gridmule-%1-00000000-").arg(deadProcessId());
    QStringList gone = {
        dead + QStringLiteral("00ab.csv"), QStringLiteral(".~lock.") + dead + QStringLiteral("00ab.csv#"),
        QStringLiteral(".~lock.") + dead + QStringLiteral("77cd.xlsx#"), // its temporary already gone
        dead + QStringLiteral("11ef"), // a scratch folder, with a page inside
        QStringLiteral("lu4711abc.tmp"), // the dead run's engine was storing here
    };
    QStringList kept = {
        alive + QStringLiteral("22aa.xlsx"), // a running program's
        otherMachine + QStringLiteral("33bb.xlsx"), // written by another machine into a shared folder
        QStringLiteral(".~lock.sheets_second_active.xls#"), // not ours
        QStringLiteral(".~gridmule-0123456789abcdef.xlsx"), // no owner named
        QStringLiteral("report.csv"),
        QStringLiteral("lu4712def.tmp"), // another engine is still writing it
    };
    // Locks of workbooks: an engine of a dead run's, a running engine's, another machine's.
    auto engineLock = [](qint64 pid, const QString &host) {
        return QStringLiteral(",user,%1,08.12.2026 03:48,file:///tmp/gridmule-engine-%2-1c5f8e71/profile;").arg(host).arg(pid).toUtf8();
    };
    const QMap<QString, QByteArray> locks = {
        {QStringLiteral(".~lock.book.xls#"), engineLock(deadProcessId(), QSysInfo::machineHostName())},
        {QStringLiteral(".~lock.open.xls#"), engineLock(::getpid(), QSysInfo::machineHostName())},
        {QStringLiteral(".~lock.shared.xls#"), engineLock(deadProcessId(), QStringLiteral("elsewhere"))},
    };
    gone << QStringLiteral(".~lock.book.xls#");
    kept << QStringLiteral(".~lock.open.xls#") << QStringLiteral(".~lock.shared.xls#");
    for (const QString &name : gone + kept) {
        if (name.endsWith(QStringLiteral("11ef"))) {
            QDir().mkpath(out + QLatin1Char('/') + name);
            gm::test::writeAll(out + QLatin1Char('/') + name + QStringLiteral("/page.htm"), "<html>");
        } else {
            gm::test::writeAll(out + QLatin1Char('/') + name, locks.value(name, "x"));
        }
    }
    QFile beingWritten(out + QStringLiteral("/lu4712def.tmp"));
    ASSERT_TRUE(beingWritten.open(QIODevice::Append));
    const QString source = workbook(QStringLiteral("xls"), folder(QStringLiteral("src")));
    // A merge's scratch folder in the system's temporary folder, left by a killed program; and
    // this process's own, which must stay.
    QTemporaryDir deadScratch(QDir::tempPath() + QLatin1Char('/') + dead + QStringLiteral("merge-XXXXXX"));
    QTemporaryDir ownScratch(scratchFolderTemplate(QStringLiteral("merge")));
    ASSERT_TRUE(deadScratch.isValid() && ownScratch.isValid());
    gm::test::writeAll(deadScratch.filePath(QStringLiteral("source.xlsx")), "x");

    // Any run sweeps its output folder first; this one copies a workbook there.
    EXPECT_EQ(copyAsXls(source, out).outcome, FileOutcome::Copied);
    EXPECT_FALSE(QFileInfo::exists(deadScratch.path()));
    EXPECT_TRUE(QFileInfo::exists(ownScratch.path()));
    QStringList expected = kept;
    expected << QStringLiteral("sheets_second_active.xls");
    expected.sort();
    EXPECT_EQ(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), expected);
    // A temporary name carries its owner.
    EXPECT_TRUE(QFileInfo(temporarySiblingPath(source, QStringLiteral(".xls"))).fileName().startsWith(alive));
    removeOutstandingTemporaries();
}

TEST_F(SafeReplaceTest, AFullDiskFailsClearlyAndLeavesNoPartialFile)
{
    const QString disk = folder(QStringLiteral("disk"));
    Mount mount;
    if (!mount.tmpfs(disk, "size=200k"))
        GTEST_SKIP() << "mounting a small tmpfs is not permitted here";
    const QString sources = folder(QStringLiteral("sources"));
    struct Case
    {
        const char *name;
        std::function<Outcome(const QString &book)> run;
        QString kind;
    };
    const Case cases[] = {
        {"xlsx properties", [](const QString &book) { return setTitle(book); }, QStringLiteral("xlsx")},
        {"xls properties", [](const QString &book) { return setTitle(book, QString(3000, QLatin1Char('x'))); },
            QStringLiteral("xls")},
        {"copy into the disk", [&](const QString &) { return copyAsXls(workbook(QStringLiteral("xls"), sources), disk); },
            QStringLiteral("xls")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString book = workbook(c.kind, disk);
        const QByteArray before = readAll(book);
        fillLeavingOnePage(disk);
        const Outcome result = c.run(book);
        EXPECT_EQ(result.outcome, FileOutcome::Failed);
        EXPECT_EQ(result.number, static_cast<int>(ErrorCode::DiskFull));
        EXPECT_EQ(readAll(book), before);
        EXPECT_EQ(leftovers(disk), QStringList());
        QFile::remove(disk + QStringLiteral("/filler"));
        QFile::remove(book);
    }
    EXPECT_EQ(EngineError::describe(ErrorCode::DiskFull), QStringLiteral("磁盘空间不足"));
}

TEST_F(SafeReplaceTest, AReadOnlyDiskIsNamedAsSuchAndNothingChanges)
{
    const QString files = folder(QStringLiteral("files"));
    const QString xlsx = workbook(QStringLiteral("xlsx"), files);
    const QString xls = workbook(QStringLiteral("xls"), files);
    const QString mounted = folder(QStringLiteral("ro"));
    Mount mount;
    if (!mount.readOnlyBind(files, mounted))
        GTEST_SKIP() << "a read-only bind mount is not permitted here";
    const QString sources = folder(QStringLiteral("sources"));
    const QString other = workbook(QStringLiteral("xls"), sources);
    QFile::rename(other, sources + QStringLiteral("/other.xls"));

    const QList<std::pair<const char *, std::function<Outcome()>>> cases = {
        {"xlsx properties", [&] { return setTitle(mounted + QStringLiteral("/sheets_second_active.xlsx")); }},
        {"xls properties", [&] { return setTitle(mounted + QStringLiteral("/sheets_second_active.xls")); }},
        {"copy into the disk", [&] { return copyAsXls(sources + QStringLiteral("/other.xls"), mounted); }},
        {"conversion into the disk", [&] { return copyAsXls(sources + QStringLiteral("/other.xls"), mounted, 1); }},
    };
    const QByteArray xlsxBefore = readAll(xlsx);
    const QByteArray xlsBefore = readAll(xls);
    for (const auto &[name, run] : cases) {
        SCOPED_TRACE(name);
        const Outcome result = run();
        EXPECT_EQ(result.outcome, FileOutcome::Failed);
        EXPECT_EQ(result.number, static_cast<int>(ErrorCode::ReadOnlyFileSystem));
    }
    EXPECT_EQ(readAll(xlsx), xlsxBefore);
    EXPECT_EQ(readAll(xls), xlsBefore);
    EXPECT_EQ(QDir(files).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(SafeReplaceTest, AFolderWithoutWritePermissionIsNamedAsSuch)
{
    // Permissions bind only a user other than root: the run is made by "nobody" in a child.
    const QString locked = folder(QStringLiteral("locked"));
    const QString xlsx = workbook(QStringLiteral("xlsx"), locked);
    const QString xls = workbook(QStringLiteral("xls"), locked);
    for (const QString &file : {xlsx, xls})
        ::chmod(QFile::encodeName(file).constData(), 0666);
    ::chmod(QFile::encodeName(locked).constData(), 0555);
    const QByteArray before = readAll(xlsx);

    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int numbers[2] = {setTitle(xlsx).number, setTitle(xls).number};
        ::_exit(::write(channel[1], numbers, sizeof numbers) == sizeof numbers ? 0 : 4);
    }
    ::close(channel[1]);
    int numbers[2] = {0, 0};
    const ssize_t got = ::read(channel[0], numbers, sizeof numbers);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (::getuid() != 0 || (WIFEXITED(status) && WEXITSTATUS(status) == 3))
        GTEST_SKIP() << "cannot run as another user here";
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof numbers));
    EXPECT_EQ(numbers[0], static_cast<int>(ErrorCode::FolderNotWritable));
    EXPECT_EQ(numbers[1], static_cast<int>(ErrorCode::FolderNotWritable));
    EXPECT_EQ(readAll(xlsx), before);
    EXPECT_EQ(EngineError::describe(ErrorCode::FolderNotWritable), QStringLiteral("没有写入该文件夹的权限"));
    ::chmod(QFile::encodeName(locked).constData(), 0755);
}
