#include "automation/RunLog.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm {
namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

class RunLogTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    QString logPath() const { return m_temp.path() + QStringLiteral("/Gridmule.log"); }

    QTemporaryDir m_temp;
};

TEST_F(RunLogTest, LineFormat)
{
    const QDate before = QDate::currentDate();
    ASSERT_TRUE(
        WriteError(logPath(), QStringLiteral("类型转换"), QStringLiteral("/data/a b.xls"), QStringLiteral("文件未找到。")));
    const QDate after = QDate::currentDate();

    const QByteArray bytes = readAll(logPath());
    ASSERT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count('\n'), 1);
    EXPECT_EQ(bytes.count('\r'), 1);

    const QString line = QString::fromUtf8(bytes);
    EXPECT_EQ(line.toUtf8(), bytes); // valid UTF-8
    const QStringList fields = line.chopped(2).split(u'\t');
    ASSERT_EQ(fields.size(), 4);
    EXPECT_EQ(fields[1], QStringLiteral("类型转换"));
    EXPECT_EQ(fields[2], QStringLiteral("处理/data/a b.xls处错："));
    EXPECT_EQ(fields[3], QStringLiteral("文件未找到。"));

    // Short date, a blank, then the time.
    const QLocale locale = QLocale::system();
    const QString stamp = fields[0];
    EXPECT_TRUE(stamp.startsWith(locale.toString(before, QLocale::ShortFormat) + u' ')
        || stamp.startsWith(locale.toString(after, QLocale::ShortFormat) + u' '))
        << stamp.toStdString();
    EXPECT_TRUE(stamp.contains(QRegularExpression(QStringLiteral("\\d{1,2}:\\d{2}:\\d{2}")))) << stamp.toStdString();
}

TEST_F(RunLogTest, AppendsAcrossCallsAndRuns)
{
    QFile existing(logPath());
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("earlier run\r\n");
    existing.close();

    ASSERT_TRUE(WriteError(logPath(), QStringLiteral("内容替换"), QStringLiteral("/a.xls"), QStringLiteral("one")));
    ASSERT_TRUE(WriteError(logPath(), QStringLiteral("内容替换"), QStringLiteral("/b.xls"), QStringLiteral("two")));

    const QList<QByteArray> lines = readAll(logPath()).split('\n');
    ASSERT_EQ(lines.size(), 4); // three lines and the empty rest after the last line end
    EXPECT_EQ(lines[0], "earlier run\r");
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("处理/a.xls处错：\tone\r").toUtf8()));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("处理/b.xls处错：\ttwo\r").toUtf8()));
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST_F(RunLogTest, UnwritableTargetsLoseTheLineQuietly)
{
    const QString missingFolder = m_temp.path() + QStringLiteral("/missing/Gridmule.log");
    EXPECT_FALSE(WriteError(missingFolder, QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e")));
    EXPECT_FALSE(QFile::exists(m_temp.path() + QStringLiteral("/missing")));

    // The log path names a folder.
    EXPECT_FALSE(WriteError(m_temp.path(), QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e")));
    EXPECT_FALSE(WriteError(QString(), QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e")));
}

TEST_F(RunLogTest, OnlyTheDefaultLogGetsItsFolderMade)
{
    const QString nested = m_temp.path() + QStringLiteral("/state/gridmule/Gridmule.log");
    EXPECT_FALSE(WriteError(nested, QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e"), false));
    EXPECT_FALSE(QFileInfo::exists(m_temp.path() + QStringLiteral("/state")));

    ASSERT_TRUE(WriteError(nested, QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e"), true));
    ASSERT_TRUE(WriteError(nested, QStringLiteral("a"), QStringLiteral("g"), QStringLiteral("e"), true));
    EXPECT_EQ(readAll(nested).count("\r\n"), 2);
    EXPECT_EQ(QFileInfo(QFileInfo(nested).absolutePath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    // A folder that cannot be made (its parent is a file) loses the line.
    const QString underFile = logPath() + QStringLiteral("/sub/Gridmule.log");
    ASSERT_TRUE(WriteError(logPath(), QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e")));
    EXPECT_FALSE(WriteError(underFile, QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("e"), true));
}

} // namespace
} // namespace gm
