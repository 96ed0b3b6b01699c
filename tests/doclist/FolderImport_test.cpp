#include "doclist/DocumentListModel.h"
#include "doclist/FolderImport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm {
namespace {

class FolderImportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        m_root = m_temp.path() + u'/';
        for (const char *file : {"a.xls", "b.XLSX", "c.xlsm", ".hidden.xls", "readonly.xls", "notes.txt",
                                 "sub/d.xls", "sub/deeper/e.xlsx", "x.xls/inside.xls",
                                 // Left by a run or by an open spreadsheet: never listed.
                                 ".~gridmule-4711-9f3c.xlsx", ".~gridmule-4711-0a1b.xls", "~$a.xls", "~$b.XLSX",
                                 ".~lock.a.xls#", "sub/~$d.xls", "sub/.~gridmule-1-2.xls"})
            touch(QString::fromLatin1(file));
        QFile::setPermissions(m_root + QStringLiteral("readonly.xls"), QFile::ReadOwner | QFile::ReadUser);
    }
    void touch(const QString &relative)
    {
        const QString path = m_root + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QStringList relative(const QStringList &paths) const
    {
        QStringList result;
        for (const QString &path : paths)
            result.append(path.mid(m_root.size()));
        return result;
    }

    QTemporaryDir m_temp;
    QString m_root;
};

TEST_F(FolderImportTest, OneFolder)
{
    DocumentListModel list;
    EXPECT_EQ(importFolder(list, m_temp.path(), false, true), 4);
    QStringList found = relative(list.entries());
    found.sort();
    EXPECT_EQ(found, (QStringList{QStringLiteral(".hidden.xls"), QStringLiteral("a.xls"), QStringLiteral("b.XLSX"),
                                  QStringLiteral("readonly.xls")}));
}

TEST_F(FolderImportTest, WithoutXlsxSupport)
{
    DocumentListModel list;
    importFolder(list, m_root, true, false);
    for (const QString &entry : list.entries())
        EXPECT_TRUE(entry.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive)) << entry.toStdString();
    EXPECT_FALSE(ListHasItem(list.entries(), m_root + QStringLiteral("b.XLSX")));
}

TEST_F(FolderImportTest, SubfoldersComeAfterTheFolderOwnFiles)
{
    DocumentListModel list;
    EXPECT_EQ(importFolder(list, m_root, true, true), 7);
    const QStringList found = relative(list.entries());
    const auto position = [&](const char *name) { return found.indexOf(QString::fromLatin1(name)); };
    for (const char *top : {"a.xls", "b.XLSX", ".hidden.xls", "readonly.xls"}) {
        SCOPED_TRACE(top);
        ASSERT_GE(position(top), 0);
        EXPECT_LT(position(top), position("sub/d.xls"));
        EXPECT_LT(position(top), position("x.xls/inside.xls"));
    }
    EXPECT_LT(position("sub/d.xls"), position("sub/deeper/e.xlsx"));
    // A folder whose name looks like a workbook is searched, never listed.
    EXPECT_EQ(position("x.xls"), -1);
    EXPECT_EQ(position("x.xls/"), -1);
}

TEST_F(FolderImportTest, SecondImportAddsNothing)
{
    DocumentListModel list;
    importFolder(list, m_temp.path(), true, true);
    const QStringList first = list.entries();
    // With or without the trailing separator the paths are the same.
    EXPECT_EQ(importFolder(list, m_root, true, true), 0);
    EXPECT_EQ(importFolder(list, m_temp.path(), false, true), 0);
    EXPECT_EQ(list.entries(), first);
}

TEST_F(FolderImportTest, MissingFolderAddsNothing)
{
    DocumentListModel list;
    EXPECT_EQ(importFolder(list, m_root + QStringLiteral("missing"), true, true), 0);
    EXPECT_EQ(list.count(), 0);
}

TEST_F(FolderImportTest, LinkedFolderLoopsEnd)
{
    ASSERT_TRUE(QFile::link(m_root + QStringLiteral("sub"), m_root + QStringLiteral("sub/deeper/back")));
    DocumentListModel list;
    importFolder(list, m_root, true, true);
    EXPECT_EQ(list.entries().count(m_root + QStringLiteral("sub/d.xls")), 1);
    EXPECT_LT(list.count(), 20);
}

} // namespace
} // namespace gm
