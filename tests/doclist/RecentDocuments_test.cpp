#include "doclist/RecentDocuments.h"

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace gm {
namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The attributes of this program's application entry in the bookmark of href.
QXmlStreamAttributes ourApplication(const QString &xbel, const QString &href)
{
    QXmlStreamReader in(readAll(xbel));
    QString current;
    while (!in.atEnd()) {
        in.readNext();
        if (!in.isStartElement())
            continue;
        if (in.name() == QStringLiteral("bookmark"))
            current = in.attributes().value(QStringLiteral("href")).toString();
        if (current == href && in.name() == QStringLiteral("application")
            && in.namespaceUri() == QStringLiteral("http://www.freedesktop.org/standards/desktop-bookmarks")
            && in.attributes().value(QStringLiteral("name")) == QStringLiteral("Gridmule"))
            return in.attributes();
    }
    return {};
}

const char kOtherProgram[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel version="1.0"
      xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks"
      xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info">
  <bookmark href="file:///home/u/letter.odt" added="2023-01-01T10:00:00Z" modified="2023-01-01T10:00:00Z" visited="2023-01-01T10:00:00Z">
    <info>
      <metadata owner="http://freedesktop.org">
        <mime:mime-type type="application/vnd.oasis.opendocument.text"/>
        <bookmark:applications>
          <bookmark:application name="Writer" exec="&apos;writer %u&apos;" modified="2023-01-01T10:00:00Z" count="3"/>
        </bookmark:applications>
      </metadata>
    </info>
  </bookmark>
</xbel>
)";

class RecentDocumentsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    QString xbel() const { return m_temp.filePath(QStringLiteral("share/recently-used.xbel")); }
    QTemporaryDir m_temp;
};

TEST_F(RecentDocumentsTest, AddsToANewList)
{
    RecentDocuments recent(xbel());
    ASSERT_TRUE(recent.add({QStringLiteral("/data/报表 1.xls"), QStringLiteral("   "), QStringLiteral("/data/b.xlsx")}));
    EXPECT_EQ(recent.files(), (QStringList{QStringLiteral("/data/报表 1.xls"), QStringLiteral("/data/b.xlsx")}));
    const QByteArray text = readAll(xbel());
    EXPECT_TRUE(text.contains("application/vnd.ms-excel"));
    EXPECT_TRUE(text.contains("bookmark:applications"));
    EXPECT_EQ(ourApplication(xbel(), QStringLiteral("file:///data/b.xlsx")).value(QStringLiteral("count")),
              QStringLiteral("1"));
}

TEST_F(RecentDocumentsTest, KeepsOtherProgramsEntriesAndCountsUse)
{
    RecentDocuments recent(xbel());
    ASSERT_TRUE(recent.clear()); // makes the folder
    {
        QFile file(xbel());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kOtherProgram);
    }
    ASSERT_TRUE(recent.add({QStringLiteral("/data/a.xls")}));
    ASSERT_TRUE(recent.add({QStringLiteral("/data/a.xls"), QStringLiteral("/data/c.xls")}));
    EXPECT_EQ(recent.files(), (QStringList{QStringLiteral("/home/u/letter.odt"), QStringLiteral("/data/a.xls"),
                                           QStringLiteral("/data/c.xls")}));
    const QByteArray text = readAll(xbel());
    EXPECT_TRUE(text.contains("name=\"Writer\""));
    EXPECT_TRUE(text.contains("count=\"3\""));
    EXPECT_EQ(ourApplication(xbel(), QStringLiteral("file:///data/a.xls")).value(QStringLiteral("count")),
              QStringLiteral("2"));
    EXPECT_EQ(ourApplication(xbel(), QStringLiteral("file:///data/c.xls")).value(QStringLiteral("count")),
              QStringLiteral("1"));
}

TEST_F(RecentDocumentsTest, ClearEmptiesTheList)
{
    RecentDocuments recent(xbel());
    ASSERT_TRUE(recent.add({QStringLiteral("/data/a.xls")}));
    ASSERT_TRUE(recent.clear());
    EXPECT_TRUE(recent.files().isEmpty());
    EXPECT_TRUE(readAll(xbel()).contains("<xbel"));
}

TEST_F(RecentDocumentsTest, UnreadableListIsReplaced)
{
    RecentDocuments recent(xbel());
    ASSERT_TRUE(recent.clear());
    {
        QFile file(xbel());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<xbel><bookmark href=");
    }
    ASSERT_TRUE(recent.add({QStringLiteral("/data/a.xls")}));
    EXPECT_EQ(recent.files(), QStringList{QStringLiteral("/data/a.xls")});
}

} // namespace
} // namespace gm
