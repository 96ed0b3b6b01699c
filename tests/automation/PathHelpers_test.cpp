#include "automation/EngineError.h"
#include "automation/PathHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace gm {
namespace {

struct PathCase
{
    const char16_t *path;
    const char16_t *expected;
};

TEST(PathHelpers, GetBaseName)
{
    const PathCase cases[] = {
        {u"/data/report.2020.xls", u"report.2020"},
        {u"book.xls", u"book"},
        {u"/data/sub.dir/Book1.XLSX", u"Book1"},
        {u"/data/.xls", u""},
        {u"relative/path/x.y", u"x"},
    };
    for (const PathCase &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.path).toStdString());
        EXPECT_EQ(GetBaseName(QString::fromUtf16(c.path)), QString::fromUtf16(c.expected));
    }
}

TEST(PathHelpers, GetBaseNameFailsWithoutDotInFileName)
{
    for (const char16_t *path : {u"/data/noext", u"/data.d/noext", u"", u"/data/"}) {
        SCOPED_TRACE(QString::fromUtf16(path).toStdString());
        try {
            GetBaseName(QString::fromUtf16(path));
            ADD_FAILURE() << "no error";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), ErrorCode::NoBaseName);
        }
    }
}

TEST(PathHelpers, GetExtensionAndParentPath)
{
    const PathCase extensions[] = {
        {u"/data/Book1.XLSX", u".XLSX"},
        {u"/data/a.b.xls", u".xls"},
        {u"/data/noext", u"/data/noext"},
        {u"/data.d/noext", u".d/noext"},
        {u"book.", u"."},
        {u"", u""},
    };
    for (const PathCase &c : extensions) {
        SCOPED_TRACE(QString::fromUtf16(c.path).toStdString());
        EXPECT_EQ(GetExtension(QString::fromUtf16(c.path)), QString::fromUtf16(c.expected));
    }
    const PathCase parents[] = {
        {u"/data/a.xls", u"/data/"},
        {u"/data/sub/", u"/data/sub/"},
        {u"/a.xls", u"/"},
        {u"a.xls", u""},
    };
    for (const PathCase &c : parents) {
        SCOPED_TRACE(QString::fromUtf16(c.path).toStdString());
        EXPECT_EQ(GetParentPath(QString::fromUtf16(c.path)), QString::fromUtf16(c.expected));
    }
}

TEST(PathHelpers, EnsureFolderCreatesOneLevel)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString root = temp.path();

    EXPECT_EQ(EnsureFolder(root + QStringLiteral("/out")), root + QStringLiteral("/out/"));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/out")).isDir());

    // Already there, with or without the separator: same text back, no complaint.
    EXPECT_EQ(EnsureFolder(root + QStringLiteral("/out/")), root + QStringLiteral("/out/"));
    EXPECT_EQ(EnsureFolder(root + QStringLiteral("/out")), root + QStringLiteral("/out/"));

    // A missing parent is not created.
    EXPECT_EQ(EnsureFolder(root + QStringLiteral("/missing/child")), root + QStringLiteral("/missing/child/"));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/missing")));

    // A file in the way is left alone.
    QFile file(root + QStringLiteral("/file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(EnsureFolder(root + QStringLiteral("/file")), root + QStringLiteral("/file/"));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/file")).isFile());
}

class FileExistsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        QFile file(path(u"a.xls"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(QDir(m_temp.path()).mkdir(QStringLiteral("sub")));
    }
    QString path(QStringView name) const { return m_temp.path() + u'/' + name.toString(); }

    QTemporaryDir m_temp;
};

TEST_F(FileExistsTest, AnswersByWhatIsOnDisk)
{
    const std::pair<QString, bool> cases[] = {
        {path(u"a.xls"), true},
        {path(u"sub"), true},
        {path(u"sub/"), true},
        {path(u"b.xls"), false},
        {path(u"missing/b.xls"), false},   // missing folder
        {path(u"a.xls/b.xls"), false},     // a file where a folder should be
        {QString(), false},
    };
    for (const auto &[p, expected] : cases) {
        SCOPED_TRACE(p.toStdString());
        EXPECT_EQ(FileExists(p), expected);
    }
}

TEST_F(FileExistsTest, TrueWhenExistenceCannotBeDetermined)
{
    // A name longer than the system allows and a loop of links cannot be looked up.
    EXPECT_TRUE(FileExists(path(QString(300, u'x'))));
    ASSERT_TRUE(QFile::link(path(u"loop1"), path(u"loop2")));
    ASSERT_TRUE(QFile::link(path(u"loop2"), path(u"loop1")));
    EXPECT_TRUE(FileExists(path(u"loop1/b.xls")));
    // The link itself is an entry of that name, even though it leads nowhere.
    ASSERT_TRUE(QFile::link(path(u"nowhere"), path(u"dangling")));
    EXPECT_TRUE(FileExists(path(u"dangling")));
}

TEST_F(FileExistsTest, TrueInAFolderThatCannotBeSearched)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not apply to the superuser";
    const QString locked = path(u"sub");
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner));
    const bool exists = FileExists(locked + QStringLiteral("/b.xls"));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(exists);
}

} // namespace
} // namespace gm
