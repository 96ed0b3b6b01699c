#include "automation/EngineError.h"
#include "automation/WebArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Two small but valid PNG files (1x1 red, 2x1 blue); both hold CR LF and NUL bytes.
const QByteArray kRedPng = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de0000000c4944415478da63f8"
    "cfc0000003010100f70341430000000049454e44ae426082");
const QByteArray kBluePng = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d49484452000000020000000108020000007b40e8dd0000000d4944415478da6360"
    "60f80f4400050201ff1e75848f0000000049454e44ae426082");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct MimePart
{
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
};

struct Archive
{
    QByteArray boundary;
    QByteArray topHeaders;
    QList<MimePart> parts;
};

// Reads the archive back with nothing but the MIME rules.
Archive parseArchive(const QByteArray &mht)
{
    Archive archive;
    archive.topHeaders = mht.left(mht.indexOf("\r\n\r\n"));
    archive.boundary = QRegularExpression(QStringLiteral("boundary=\"([^\"]+)\""))
                           .match(QString::fromLatin1(archive.topHeaders)).captured(1).toLatin1();
    const QByteArray delimiter = "\r\n--" + archive.boundary;
    qsizetype pos = mht.indexOf(delimiter);
    while (pos >= 0) {
        const qsizetype start = pos + delimiter.size();
        if (mht.mid(start, 2) == "--")
            break;
        const qsizetype next = mht.indexOf(delimiter, start);
        const QByteArray segment = mht.mid(start + 2, next < 0 ? -1 : next - start - 2);
        const qsizetype split = segment.indexOf("\r\n\r\n");
        MimePart part;
        for (const QByteArray &line : segment.left(split).split('\n')) {
            const qsizetype colon = line.indexOf(':');
            part.headers[line.left(colon).toLower()] = line.mid(colon + 1).trimmed();
        }
        part.body = segment.mid(split + 4);
        archive.parts.append(part);
        pos = next;
    }
    return archive;
}

QByteArray decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '=') {
            out += text.at(i);
        } else if (text.mid(i + 1, 2) == "\r\n") {
            i += 2;
        } else {
            out += QByteArray::fromHex(text.mid(i + 1, 2));
            i += 2;
        }
    }
    return out;
}

// Line ends are CR LF everywhere, and encoded lines fit in 76 characters.
void expectWellFormedLines(const QByteArray &mht)
{
    for (qsizetype i = 0; i < mht.size(); ++i) {
        if (mht.at(i) == '\n') {
            ASSERT_TRUE(i > 0 && mht.at(i - 1) == '\r') << "bare LF at " << i;
        } else if (mht.at(i) == '\r') {
            ASSERT_TRUE(i + 1 < mht.size() && mht.at(i + 1) == '\n') << "bare CR at " << i;
        }
    }
}

void expectEncodedBody(const MimePart &part, const QByteArray &boundary)
{
    EXPECT_FALSE(part.body.contains(boundary));
    for (const QByteArray &line : part.body.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        EXPECT_LE(text.size(), 76) << text.constData();
        EXPECT_FALSE(text.endsWith(' ') || text.endsWith('\t')) << text.constData();
    }
}

TEST(WebArchive, EmbedsLocalPicturesAndLeavesOtherReferencesAlone)
{
    QTemporaryDir temp;
    const QString out = temp.path() + QStringLiteral("/out/");
    // The picture names and the percent-encoded src are what the HTML export writes.
    writeFile(out + QStringLiteral("报表 1_html_a1.png"), kRedPng);
    writeFile(out + QStringLiteral("pics/blue.png"), kBluePng);
    writeFile(temp.path() + QStringLiteral("/outside.png"), kRedPng);
    const QByteArray redSrc = "%E6%8A%A5%E8%A1%A8%201_html_a1.png";
    const QByteArray html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head>\n<body>\n"
                            "<h1>概述 = 总表</h1>  \n<a href=\"#table0\">第一页</a>\r\n"
                            "<img src=\"" + redSrc + "\" width=32 alt=\"a > b\">\n"
                            "<img src=\"" + redSrc + "\">\n"
                            "<td style=\"background: url(&quot;pics/blue.png&quot;)\">\t\n"
                            "<img src=\"gone.png\"><img src=\"http://example.com/x.png\">"
                            "<img src=\"data:image/png;base64,iVBORw0KGgo=\"><img src=\"../outside.png\">\n"
                            + QByteArray(200, 'x') + "中文 end\n";
    const QString htmlPath = out + QStringLiteral("报表 1.htm");
    writeFile(htmlPath, html);

    const QString mhtPath = temp.path() + QStringLiteral("/报表 1.mht");
    gm::buildWebArchive(htmlPath, mhtPath);
    const QByteArray mht = readFile(mhtPath);
    expectWellFormedLines(mht);
    const Archive archive = parseArchive(mht);
    EXPECT_TRUE(archive.topHeaders.startsWith("MIME-Version: 1.0\r\n"));
    EXPECT_TRUE(archive.topHeaders.contains("Content-Type: multipart/related; boundary=\""));
    EXPECT_TRUE(archive.topHeaders.contains("type=\"text/html\""));
    ASSERT_FALSE(archive.boundary.isEmpty());
    ASSERT_EQ(archive.parts.size(), 3);

    const MimePart &page = archive.parts.at(0);
    EXPECT_EQ(page.headers.value("content-type"), "text/html; charset=\"utf-8\"");
    EXPECT_EQ(page.headers.value("content-transfer-encoding"), "quoted-printable");
    EXPECT_EQ(page.headers.value("content-location"), "file:///%E6%8A%A5%E8%A1%A8%201.htm");
    EXPECT_EQ(decodeQuotedPrintable(page.body), html);
    expectEncodedBody(page, archive.boundary);

    // A browser resolves each src against the page's location; the parts must sit there.
    const QList<std::pair<QByteArray, QByteArray>> pictures = {{redSrc, kRedPng}, {"pics/blue.png", kBluePng}};
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(pictures.at(i).first.constData());
        const MimePart &part = archive.parts.at(i + 1);
        EXPECT_EQ(part.headers.value("content-location"), "file:///" + pictures.at(i).first);
        EXPECT_EQ(part.headers.value("content-type"), "image/png");
        EXPECT_EQ(part.headers.value("content-transfer-encoding"), "base64");
        EXPECT_EQ(QByteArray::fromBase64(QByteArray(part.body).replace("\r\n", "")), pictures.at(i).second);
        expectEncodedBody(part, archive.boundary);
    }

    const QStringList expected = {QFileInfo(out + QStringLiteral("报表 1_html_a1.png")).canonicalFilePath(),
                                  QFileInfo(out + QStringLiteral("pics/blue.png")).canonicalFilePath()};
    EXPECT_EQ(gm::webArchiveResources(htmlPath), expected);
}

TEST(WebArchive, QuotedPrintableKeepsExactBytes)
{
    QByteArray everyByte;
    for (int c = 0; c < 256; ++c)
        everyByte += char(c);
    const QList<std::pair<const char *, QByteArray>> cases = {
        {"empty", QByteArray()},
        {"lone LF", "\n"},
        {"lone CR", "a\rb\r"},
        {"trailing space and tab", "a \r\nb\t\r\nc "},
        {"75, 76 and 77 characters", QByteArray(75, 'a') + "\r\n" + QByteArray(76, 'b') + "\r\n" + QByteArray(77, 'c')},
        {"escape at the line limit", QByteArray(73, 'a') + "=====\r\n" + QByteArray(74, 'b') + "中"},
        {"dash lines", "--\r\n----=_\r\n--"},
        {"every byte", everyByte + everyByte},
    };
    QTemporaryDir temp;
    for (const auto &[name, html] : cases) {
        SCOPED_TRACE(name);
        writeFile(temp.filePath(QStringLiteral("page.htm")), html);
        gm::buildWebArchive(temp.filePath(QStringLiteral("page.htm")), temp.filePath(QStringLiteral("page.mht")));
        const QByteArray mht = readFile(temp.filePath(QStringLiteral("page.mht")));
        expectWellFormedLines(mht);
        const Archive archive = parseArchive(mht);
        ASSERT_EQ(archive.parts.size(), 1);
        EXPECT_EQ(decodeQuotedPrintable(archive.parts.at(0).body), html);
        expectEncodedBody(archive.parts.at(0), archive.boundary);
    }
}

TEST(WebArchive, FailuresThrowAndWriteNothing)
{
    QTemporaryDir temp;
    const QString mhtPath = temp.filePath(QStringLiteral("page.mht"));
    try {
        gm::buildWebArchive(temp.filePath(QStringLiteral("missing.htm")), mhtPath);
        FAIL() << "no exception";
    } catch (const gm::EngineError &e) {
        EXPECT_EQ(e.code(), gm::ErrorCode::FileNotFound);
    }
    EXPECT_THROW(gm::webArchiveResources(temp.filePath(QStringLiteral("missing.htm"))), gm::EngineError);
    EXPECT_FALSE(QFileInfo::exists(mhtPath));

    writeFile(temp.filePath(QStringLiteral("page.htm")), "<p>x</p>");
    try {
        gm::buildWebArchive(temp.filePath(QStringLiteral("page.htm")), temp.filePath(QStringLiteral("no/such/page.mht")));
        FAIL() << "no exception";
    } catch (const gm::EngineError &e) {
        EXPECT_EQ(e.code(), gm::ErrorCode::WriteFailed);
    }
    EXPECT_EQ(QDir(temp.path()).entryList(QDir::Files), QStringList{QStringLiteral("page.htm")});
}

} // namespace
