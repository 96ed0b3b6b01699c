#include "operations/cells/CellListFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;

namespace {

QString writeFile(const QTemporaryDir &folder, const QByteArray &bytes)
{
    const QString path = folder.filePath(QStringLiteral("list.xml"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    return path;
}

CellListEntry entry(const char *row, const char *column, const char *content)
{
    return {QString::fromUtf8(row), QString::fromUtf8(column), QString::fromUtf8(content)};
}

} // namespace

TEST(CellListFile, WritesTheExactShape)
{
    EXPECT_EQ(cellListXml({entry("5", "6", "100"), entry("1", "1", "")}),
        QByteArray("<Cells><Cell><Row>5</Row><Col>6</Col><Text>100</Text></Cell>"
                   "<Cell><Row>1</Row><Col>1</Col><Text/></Cell></Cells>"));
    EXPECT_EQ(cellListXml({}), QByteArray("<Cells/>"));
    EXPECT_EQ(cellListXml({entry("2", "3", "a<b & \"c\" 中文")}),
        QByteArray("<Cells><Cell><Row>2</Row><Col>3</Col><Text>a&lt;b &amp; \"c\" \xe4\xb8\xad\xe6\x96\x87</Text>"
                   "</Cell></Cells>"));
}

TEST(CellListFile, RoundTrips)
{
    QTemporaryDir folder;
    const QList<QList<CellListEntry>> lists{
        {},
        {entry("5", "6", "100"), entry("1", "1", ""), entry("1", "1", "dup")},
        {entry("1048576", "16384", "  edge blanks  "), entry("3", "0", "=SUM(A1:A3)&\"<>\"")},
    };
    for (const auto &list : lists) {
        SCOPED_TRACE(list.size());
        const QString path = folder.filePath(QStringLiteral("out.xml"));
        ASSERT_EQ(writeCellListFile(path, list), QString());
        const CellListRead read = readCellListFile(path);
        ASSERT_TRUE(read.entries) << read.message.toStdString();
        EXPECT_EQ(*read.entries, list);
    }
}

TEST(CellListFile, ReadsByPositionAndRefusesBadFiles)
{
    QTemporaryDir folder;
    struct Case
    {
        const char *name;
        QByteArray bytes;
        std::optional<QList<CellListEntry>> expected;
        QString refusal;
    };
    const QList<Case> cases{
        {"names below the root are not checked", "<?xml version=\"1.0\"?>\n<Cells>\n  <X><A>4</A><B>2</B><C>x</C></X>\n</Cells>",
            QList<CellListEntry>{entry("4", "2", "x")}, {}},
        {"short children and comments skipped",
            "<Cells><!-- c --><Cell><Row>1</Row></Cell><Cell><Row>2</Row><Col>3</Col><Text>t</Text><More/></Cell></Cells>",
            QList<CellListEntry>{entry("2", "3", "t")}, {}},
        {"not xml", "Row,Col,Text\n1,1,x", std::nullopt, kCellListNotXml},
        {"unclosed", "<Cells><Cell><Row>1</Row>", std::nullopt, kCellListNotXml},
        {"empty file", "", std::nullopt, kCellListNotXml},
        {"wrong root", "<Rows><Cell><Row>1</Row><Col>1</Col><Text>x</Text></Cell></Rows>", std::nullopt, kCellListWrongRoot},
        {"row not a number", "<Cells><Cell><Row>x1</Row><Col>1</Col><Text/></Cell></Cells>", std::nullopt, kCellListBadNumber},
        {"negative column", "<Cells><Cell><Row>1</Row><Col>-1</Col><Text/></Cell></Cells>", std::nullopt, kCellListBadNumber},
        {"row past the sheet", "<Cells><Cell><Row>1048577</Row><Col>1</Col><Text/></Cell></Cells>", std::nullopt,
            kCellListBadNumber},
        {"column past the sheet", "<Cells><Cell><Row>1</Row><Col>16385</Col><Text/></Cell></Cells>", std::nullopt,
            kCellListBadNumber},
        {"empty row", "<Cells><Cell><Row/><Col>1</Col><Text/></Cell></Cells>", std::nullopt, kCellListBadNumber},
        {"huge file", "<Cells>" + QByteArray(kCellListMaxBytes, ' ') + "</Cells>", std::nullopt, kCellListTooLarge},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(folder, c.bytes);
        const CellListRead read = readCellListFile(path);
        EXPECT_EQ(read.entries, c.expected);
        if (!c.expected) {
            EXPECT_EQ(read.message, c.refusal + path);
        }
    }
    const CellListRead missing = readCellListFile(folder.filePath(QStringLiteral("missing.xml")));
    EXPECT_FALSE(missing.entries);
    EXPECT_EQ(missing.message, kCellListUnreadable + folder.filePath(QStringLiteral("missing.xml")));
}
