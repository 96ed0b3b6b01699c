// Hyperlink removal, sharing and sheet backgrounds on real workbooks of both formats, done by
// the package and record editors (no engine is ever started). Results are read back with
// independent readers (openpyxl, xlrd, olefile through a test-side script) and by the bytes
// of the files: every entry or stream the change does not concern stays byte-identical.

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "operations/sheets/SheetBackgroundOperation.h"
#include "operations/workbook/HyperLinkOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace gm;
using gm::test::readAll;
using gm::test::zipEntry;
using gm::test::zipEntryNames;

namespace {

const QString python
    = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");

// The test-side reader; nullopt when it (or the reader it needs) cannot run here.
std::optional<QJsonDocument> inspect(const QString &mode, const QString &path)
{
    QProcess process;
    process.start(python, {QStringLiteral(GRIDMULE_TEST_DATA "/../support/inspect_workbook.py"), mode, path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return std::nullopt;
    return QJsonDocument::fromJson(process.readAllStandardOutput());
}

bool readersAvailable()
{
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QStringLiteral("import openpyxl, xlrd, olefile")});
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

#define GM_REQUIRE_READERS()                                                                                                     \
    if (!readersAvailable()) {                                                                                                   \
        GTEST_SKIP() << "python3 with openpyxl, xlrd and olefile is needed (python3-openpyxl python3-xlrd python3-olefile)";     \
    }

// Every zip entry's content, by name.
QMap<QString, QByteArray> entries(const QString &path)
{
    QMap<QString, QByteArray> result;
    for (const QString &name : zipEntryNames(path))
        result.insert(name, zipEntry(path, name));
    return result;
}

// The entries of `after` that differ from (or are missing in) `before`, and those removed.
QStringList changedEntries(const QMap<QString, QByteArray> &before, const QMap<QString, QByteArray> &after)
{
    QStringList changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.value(it.key()) != it.value())
            changed << it.key();
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key()))
            changed << QStringLiteral("-") + it.key();
    }
    changed.sort();
    return changed;
}

// Every stream of a compound file but the workbook stream, by path.
QMap<QByteArray, QByteArray> otherStreams(const QString &path)
{
    QMap<QByteArray, QByteArray> result;
    auto walk = [&](const ole::CompoundEntry &entry, const QByteArray &prefix, auto &&self) -> void {
        for (const ole::CompoundEntry &child : entry.children) {
            if (child.isStorage)
                self(child, prefix + child.name + '/', self);
            else if (!(prefix.isEmpty() && (child.name.compare("Workbook", Qt::CaseInsensitive) == 0)))
                result.insert(prefix + child.name, child.data);
        }
    };
    walk(ole::CompoundFile::readFile(path), {}, walk);
    return result;
}

// A 3 x 2 picture with distinct pixel colours, as a 24-bit BMP (written by hand: the test
// does not rely on the image code it checks).
QByteArray bmpPicture()
{
    const int width = 3, height = 2, row = 12;
    QByteArray pixels;
    for (int y = height - 1; y >= 0; --y) { // bottom row first
        for (int x = 0; x < width; ++x) { // B, G, R
            pixels += char(10 * x);
            pixels += char(100 + y);
            pixels += char(200);
        }
        pixels += QByteArray(row - 3 * width, '\0');
    }
    QByteArray file("BM");
    auto u16 = [&](quint16 v) {
        file += char(v & 0xFF);
        file += char(v >> 8);
    };
    auto u32 = [&](quint32 v) {
        u16(quint16(v & 0xFFFF));
        u16(quint16(v >> 16));
    };
    u32(54 + pixels.size());
    u32(0);
    u32(54);
    u32(40);
    u32(width);
    u32(height);
    u16(1);
    u16(24);
    u32(0);
    u32(pixels.size());
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    return file + pixels;
}

class LinksBackgroundTest : public ::testing::Test
{
protected:
    ApplicationFactory noEngine()
    {
        return [this]() -> std::unique_ptr<Application> {
            ++engineStarts;
            throw EngineError(ErrorCode::EngineUnavailable);
        };
    }
    QString copyCorpus(const char *relative, const QString &name = {})
    {
        const QString source = gm::test::corpusFile(QString::fromLatin1(relative));
        return source.isEmpty() ? QString() : gm::test::copyInto(source, dir.path(), name);
    }
    QString copyFixture(const char *name) { return gm::test::copyInto(gm::test::fixture(QString::fromLatin1(name)), dir.path()); }
    QString picture(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        gm::test::writeAll(path, bytes);
        return path;
    }
    RunSummary links(const QStringList &files, LinkAction action, bool skipReadOnly = true)
    {
        return applyHyperLinks({files, action, skipReadOnly}, ui, settings, noEngine());
    }
    RunSummary background(const QStringList &files, const QString &path)
    {
        return applySheetBackground({files, !path.isEmpty(), path}, ui, settings, noEngine());
    }

    QTemporaryDir dir;
    RunSettings settings{false, QString()};
    gm::test::ScriptedUi ui;
    int engineStarts = 0;
};

TEST_F(LinksBackgroundTest, HyperlinksGoFromPackagesAndNothingElseChanges)
{
    GM_REQUIRE_READERS()
    const QString mixed = copyFixture("links_and_pictures.xlsx");
    const QString excel = copyCorpus("xlsx/hyperlink02.xlsx");
    QStringList files{mixed};
    if (!excel.isEmpty())
        files << excel;
    QList<QMap<QString, QByteArray>> before;
    for (const QString &file : files) {
        before << entries(file);
        int count = 0;
        for (const QJsonValue &sheet : inspect(QStringLiteral("links"), file)->object())
            count += sheet.toInt();
        ASSERT_GT(count, 0) << file.toStdString();
    }
    const auto valuesBefore = inspect(QStringLiteral("values"), mixed);

    const RunSummary run = links(files, LinkAction::RemoveHyperlinks);
    ASSERT_EQ(run.failedCount(), 0) << run.files[0].errorDescription.toStdString();
    EXPECT_EQ(ui.messages.last(), kRemoveHyperlinksDone);
    EXPECT_EQ(engineStarts, 0);

    for (qsizetype i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].toStdString());
        const QJsonObject counts = inspect(QStringLiteral("links"), files[i])->object();
        for (const QString &sheet : counts.keys())
            EXPECT_EQ(counts.value(sheet).toInt(), 0) << sheet.toStdString();
        const auto after = entries(files[i]);
        for (const QString &name : after.keys()) {
            if (name.endsWith(QLatin1String(".rels"))) {
                EXPECT_FALSE(after[name].contains("relationships/hyperlink\"") && name.contains(QLatin1String("worksheets")))
                    << name.toStdString();
            }
            if (name.startsWith(QLatin1String("xl/worksheets/sheet"))) {
                EXPECT_FALSE(after[name].contains("<hyperlink")) << name.toStdString();
            }
        }
    }

    // The fixture: only the two sheets and their relationships changed; the second sheet's
    // relationships held nothing but its hyperlink and are gone.
    const auto after = entries(mixed);
    EXPECT_EQ(changedEntries(before[0], after),
        QStringList(
            {QStringLiteral("-xl/worksheets/_rels/sheet2.xml.rels"), QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"),
                QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/worksheets/sheet2.xml")}));
    const QByteArray rels = after[QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels")];
    EXPECT_TRUE(rels.contains("Id=\"rId2\"") && rels.contains("printerSettings1.bin"));
    EXPECT_TRUE(rels.contains("Id=\"rId4\"") && rels.contains("drawing1.xml"));
    const QByteArray sheet = after[QStringLiteral("xl/worksheets/sheet1.xml")];
    EXPECT_TRUE(sheet.contains("<c r=\"A1\" s=\"1\" t=\"s\">")); // the cell keeps its style
    EXPECT_TRUE(sheet.contains("HYPERLINK(&quot;http://example.com/formula&quot;")
        || sheet.contains("HYPERLINK(\"http://example.com/formula\""));
    EXPECT_TRUE(sheet.contains("<pageSetup paperSize=\"9\" orientation=\"portrait\" r:id=\"rId2\"/><drawing r:id=\"rId4\"/>"));
    EXPECT_EQ(inspect(QStringLiteral("values"), mixed), valuesBefore);

    // A second run finds nothing to remove and writes nothing.
    const QByteArray once = readAll(mixed);
    ASSERT_EQ(links({mixed}, LinkAction::RemoveHyperlinks).failedCount(), 0);
    EXPECT_EQ(readAll(mixed), once);
}

TEST_F(LinksBackgroundTest, HyperlinkRecordsGoFromXlsAndOtherStreamsStay)
{
    GM_REQUIRE_READERS()
    const QString book = copyCorpus("xls/poi-HyperlinksOnManySheets.xls");
    if (book.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const auto streams = otherStreams(book);
    const auto values = inspect(QStringLiteral("values"), book);
    const RunSummary run = links({book}, LinkAction::RemoveHyperlinks);
    ASSERT_EQ(run.failedCount(), 0) << run.files[0].errorDescription.toStdString();
    EXPECT_EQ(engineStarts, 0);
    const QJsonObject counts = inspect(QStringLiteral("links"), book)->object();
    EXPECT_EQ(counts.size(), 3);
    for (const QString &sheet : counts.keys())
        EXPECT_EQ(counts.value(sheet).toInt(), 0) << sheet.toStdString();
    for (const QJsonValue &sheet : inspect(QStringLiteral("records"), book)->array()) {
        EXPECT_EQ(sheet[QStringLiteral("hlink")].toInt(), 0);
        EXPECT_EQ(sheet[QStringLiteral("tooltip")].toInt(), 0);
    }
    EXPECT_EQ(inspect(QStringLiteral("values"), book), values);
    EXPECT_EQ(otherStreams(book), streams);
}

TEST_F(LinksBackgroundTest, SharingAddsTheUserListAndUnsharingRestoresThePackage)
{
    GM_REQUIRE_READERS()
    const QString book = copyFixture("links_and_pictures.xlsx");
    const auto original = entries(book);
    ASSERT_EQ(links({book}, LinkAction::Share).failedCount(), 0);
    EXPECT_EQ(ui.messages.last(), kShareDone);
    const auto shared = entries(book);
    EXPECT_EQ(changedEntries(original, shared),
        QStringList({QStringLiteral("[Content_Types].xml"), QStringLiteral("xl/_rels/workbook.xml.rels"),
            QStringLiteral("xl/revisions/_rels/revisionHeaders.xml.rels"), QStringLiteral("xl/revisions/revisionHeaders.xml"),
            QStringLiteral("xl/revisions/revisionLog1.xml"), QStringLiteral("xl/revisions/userNames.xml")}));
    const QByteArray headers = shared[QStringLiteral("xl/revisions/revisionHeaders.xml")];
    // One header naming both sheets by id (1 and 3), the next free id, and an empty log.
    EXPECT_TRUE(headers.contains("maxSheetId=\"4\"")) << headers.constData();
    EXPECT_TRUE(headers.contains("<sheetIdMap count=\"2\"><sheetId val=\"1\"/><sheetId val=\"3\"/></sheetIdMap>"));
    const QRegularExpression guids(QStringLiteral("guid=\"(\\{[0-9A-F-]{36}\\})\".*guid=\"(\\{[0-9A-F-]{36}\\})\""));
    const auto match = guids.match(QString::fromUtf8(headers));
    ASSERT_TRUE(match.hasMatch());
    EXPECT_EQ(match.captured(1), match.captured(2));
    EXPECT_TRUE(shared[QStringLiteral("[Content_Types].xml")].contains("spreadsheetml.userNames+xml"));
    EXPECT_TRUE(shared[QStringLiteral("xl/_rels/workbook.xml.rels")].contains("relationships/usernames"));
    EXPECT_TRUE(inspect(QStringLiteral("values"), book).has_value()); // still opens

    // Already shared: left as it is.
    const QByteArray sharedBytes = readAll(book);
    ASSERT_EQ(links({book}, LinkAction::Share).failedCount(), 0);
    EXPECT_EQ(readAll(book), sharedBytes);

    ASSERT_EQ(links({book}, LinkAction::Unshare).failedCount(), 0);
    EXPECT_EQ(ui.messages.last(), kUnshareDone);
    const auto unshared = entries(book);
    EXPECT_EQ(unshared.keys(), original.keys());
    for (const QString &name : original.keys()) {
        if (!name.endsWith(QLatin1String(".rels")) && !name.startsWith(QLatin1Char('['))) {
            EXPECT_EQ(unshared[name], original[name]) << name.toStdString();
        }
    }
    EXPECT_FALSE(unshared[QStringLiteral("[Content_Types].xml")].contains("revision"));
    EXPECT_FALSE(unshared[QStringLiteral("xl/_rels/workbook.xml.rels")].contains("revision"));

    // Not shared: left as it is.
    const QByteArray plain = readAll(book);
    ASSERT_EQ(links({book}, LinkAction::Unshare).failedCount(), 0);
    EXPECT_EQ(readAll(book), plain);
}

TEST_F(LinksBackgroundTest, SharingRefusalsLeaveFilesUntouched)
{
    const QString tables = copyCorpus("xlsx/table01.xlsx");
    const QString excelShared = copyCorpus("xlsx/poi-workbookProtection_workbook_revision_protected.xlsx");
    const QString xls = copyCorpus("xls/poi-SimpleMacro.xls");
    if (tables.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    struct Case
    {
        QString file;
        LinkAction action;
        ErrorCode error;
    };
    const Case cases[] = {
        {tables, LinkAction::Share, ErrorCode::CannotShare},
        {excelShared, LinkAction::Unshare, ErrorCode::SharingProtected}, // shared and protected for sharing
        {xls, LinkAction::Share, ErrorCode::XlsSharingUnsupported},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QByteArray bytes = readAll(c.file);
        const RunSummary run = links({c.file}, c.action);
        ASSERT_EQ(run.files.size(), 1u);
        EXPECT_EQ(run.files[0].outcome, FileOutcome::Failed);
        EXPECT_EQ(run.files[0].errorNumber, int(c.error));
        EXPECT_EQ(run.files[0].errorDescription, EngineError::describe(c.error));
        EXPECT_EQ(readAll(c.file), bytes);
    }
}

TEST_F(LinksBackgroundTest, AnExcelSharedWorkbookLosesItsHistoryOnceUnprotected)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xlsx/poi-workbookProtection_workbook_revision_protected.xlsx"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    // The same workbook with its sharing protection switched off.
    QList<std::pair<QString, QByteArray>> parts;
    for (const QString &name : zipEntryNames(source)) {
        QByteArray bytes = zipEntry(source, name);
        if (name == QStringLiteral("xl/workbook.xml"))
            bytes.replace("lockRevision=\"1\"", "lockRevision=\"0\"");
        parts.append({name, bytes});
    }
    const QString book = dir.filePath(QStringLiteral("shared.xlsx"));
    gm::test::writeZip(book, parts);
    const auto before = entries(book);
    ASSERT_TRUE(before.contains(QStringLiteral("xl/revisions/userNames.xml")));

    const RunSummary run = links({book}, LinkAction::Unshare);
    ASSERT_EQ(run.failedCount(), 0) << run.files[0].errorDescription.toStdString();
    const auto after = entries(book);
    for (const QString &name : after.keys())
        EXPECT_FALSE(name.startsWith(QLatin1String("xl/revisions/"))) << name.toStdString();
    EXPECT_FALSE(after[QStringLiteral("[Content_Types].xml")].contains("revision"));
    EXPECT_FALSE(after[QStringLiteral("[Content_Types].xml")].contains("userNames"));
    EXPECT_FALSE(after[QStringLiteral("xl/_rels/workbook.xml.rels")].contains("revisions/"));
    for (const QString &name : before.keys()) {
        if (!name.startsWith(QLatin1String("xl/revisions/")) && !name.endsWith(QLatin1String(".rels"))
            && !name.startsWith(QLatin1Char('['))) {
            EXPECT_EQ(after.value(name), before[name]) << name.toStdString();
        }
    }
}

TEST_F(LinksBackgroundTest, XlsUnsharingDropsTheUserNamesAndTheLog)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xls/poi-SimpleMacro.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    ole::CompoundEntry root = ole::CompoundFile::readFile(source);
    const auto original = otherStreams(source);
    ole::CompoundEntry users{"User Names", false, {}, QByteArray::fromHex("9101000000"), {}};
    ole::CompoundEntry log{"Revision Log", false, {}, QByteArray::fromHex("96010000"), {}};
    root.children.push_back(users);
    root.children.push_back(log);
    const QString book = dir.filePath(QStringLiteral("shared.xls"));
    gm::test::writeAll(book, ole::CompoundFile::write(root));
    const QByteArray workbook = ole::CompoundFile::readFile(book).child("Workbook")->data;

    const RunSummary run = links({book}, LinkAction::Unshare);
    ASSERT_EQ(run.failedCount(), 0) << run.files[0].errorDescription.toStdString();
    const ole::CompoundEntry after = ole::CompoundFile::readFile(book);
    EXPECT_EQ(after.child("User Names"), nullptr);
    EXPECT_EQ(after.child("Revision Log"), nullptr);
    EXPECT_EQ(after.child("Workbook")->data, workbook);
    EXPECT_EQ(otherStreams(book), original);
}

TEST_F(LinksBackgroundTest, BackgroundsAreSetInTheirFormatAndRemovedWithTheirMedia)
{
    GM_REQUIRE_READERS()
    const QString book = copyFixture("links_and_pictures.xlsx");
    const QString excel = copyCorpus("xlsx/background02.xlsx"); // already has a JPEG background
    QStringList files{book};
    if (!excel.isEmpty())
        files << excel;
    const QByteArray bmp = bmpPicture();
    const QString bmpFile = picture(QStringLiteral("back.bmp"), bmp);
    const auto original = entries(book);

    const RunSummary set = background(files, bmpFile);
    ASSERT_EQ(set.failedCount(), 0) << set.files[0].errorDescription.toStdString();
    EXPECT_EQ(ui.messages.last(), kBackgroundDone);
    EXPECT_EQ(engineStarts, 0);
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const auto after = entries(file);
        // One media part, in the picture's own format, shared by every worksheet.
        QStringList bmps;
        for (const QString &name : after.keys()) {
            if (name.startsWith(QLatin1String("xl/media/")) && after[name] == bmp)
                bmps << name;
        }
        ASSERT_EQ(bmps.size(), 1);
        EXPECT_TRUE(bmps[0].endsWith(QLatin1String(".bmp")));
        EXPECT_TRUE(after[QStringLiteral("[Content_Types].xml")].contains("Extension=\"bmp\" ContentType=\"image/bmp\""));
        EXPECT_FALSE(after.contains(QStringLiteral("xl/media/image1.jpeg"))); // the replaced one, used nowhere else
        for (const QString &name : after.keys()) {
            if (!name.startsWith(QLatin1String("xl/worksheets/sheet")))
                continue;
            const QByteArray sheet = after[name];
            const QRegularExpression element(QStringLiteral("<picture xmlns:r=\"[^\"]+\" r:id=\"(rId\\d+)\"/>"));
            const auto match = element.match(QString::fromUtf8(sheet));
            ASSERT_TRUE(match.hasMatch()) << name.toStdString();
            const QString rels = QStringLiteral("xl/worksheets/_rels/") + name.mid(14) + QStringLiteral(".rels");
            EXPECT_TRUE(after[rels].contains(
                QStringLiteral("Id=\"%1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
                               "Target=\"../media/%2\"")
                    .arg(match.captured(1), bmps[0].mid(9))
                    .toUtf8()))
                << after[rels].constData();
        }
        EXPECT_TRUE(inspect(QStringLiteral("values"), file).has_value());
    }
    // The fixture keeps its drawing's picture and every other part.
    EXPECT_EQ(changedEntries(original, entries(book)),
        QStringList({QStringLiteral("[Content_Types].xml"), QStringLiteral("xl/media/image2.bmp"),
            QStringLiteral("xl/worksheets/_rels/sheet1.xml.rels"), QStringLiteral("xl/worksheets/_rels/sheet2.xml.rels"),
            QStringLiteral("xl/worksheets/sheet1.xml"), QStringLiteral("xl/worksheets/sheet2.xml")}));

    // The same picture again writes nothing.
    const QByteArray once = readAll(book);
    ASSERT_EQ(background({book}, bmpFile).failedCount(), 0);
    EXPECT_EQ(readAll(book), once);

    const RunSummary removed = background(files, QString());
    ASSERT_EQ(removed.failedCount(), 0);
    const auto after = entries(book);
    EXPECT_EQ(changedEntries(original, after), QStringList({QStringLiteral("[Content_Types].xml")})); // the bmp default stays
    EXPECT_TRUE(after.contains(QStringLiteral("xl/media/image1.png"))); // the drawing's
    if (!excel.isEmpty()) {
        const auto excelAfter = entries(excel);
        for (const QString &name : excelAfter.keys())
            EXPECT_FALSE(name.startsWith(QLatin1String("xl/media/")) || name.contains(QLatin1String("_rels/sheet")))
                << name.toStdString();
        EXPECT_FALSE(excelAfter[QStringLiteral("xl/worksheets/sheet1.xml")].contains("<picture"));
    }
}

TEST_F(LinksBackgroundTest, XlsBackgroundIsA24BitBitmapRecordInEveryWorksheet)
{
    GM_REQUIRE_READERS()
    const QString book = copyCorpus("xls/poi-TwoSheetsOneHidden.xls");
    if (book.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const auto streams = otherStreams(book);
    const auto values = inspect(QStringLiteral("values"), book);
    const QString bmpFile = picture(QStringLiteral("back.bmp"), bmpPicture());

    ASSERT_EQ(background({book}, bmpFile).failedCount(), 0);
    const QJsonArray sheets = inspect(QStringLiteral("records"), book)->array();
    ASSERT_EQ(sheets.size(), 2);
    for (const QJsonValue &sheet : sheets) {
        const QJsonObject bitmap = sheet[QStringLiteral("background")].toObject();
        ASSERT_FALSE(bitmap.isEmpty());
        // 8 header bytes, a 12-byte core header, two rows of 3 pixels padded to 12 bytes.
        EXPECT_EQ(bitmap[QStringLiteral("size")].toInt(), 8 + 12 + 24);
        // cf 9, environment 1, 36 bytes follow; core header 12, 3 x 2 pixels, 1 plane, 24 bits.
        EXPECT_EQ(bitmap[QStringLiteral("head")].toString(), QStringLiteral("09000100240000000c0000000300020001001800"));
    }
    EXPECT_EQ(inspect(QStringLiteral("values"), book), values);
    EXPECT_EQ(otherStreams(book), streams);

    ASSERT_EQ(background({book}, QString()).failedCount(), 0);
    for (const QJsonValue &sheet : inspect(QStringLiteral("records"), book)->array())
        EXPECT_TRUE(sheet[QStringLiteral("background")].isNull());
    EXPECT_EQ(inspect(QStringLiteral("values"), book), values);
}

TEST_F(LinksBackgroundTest, BadInputsFailOnTheirOwnAndLoseNothing)
{
    const QString good = copyFixture("links_and_pictures.xlsx");
    const QString encrypted = copyCorpus("encrypted/poi-protected_sha512.xlsx");
    const QString encryptedXls = copyCorpus("encrypted/poi-password.xls");
    const QString notAWorkbook = picture(QStringLiteral("notes.xlsx"), "just some text");
    const QString fakePicture = picture(QStringLiteral("fake.jpg"), "not a picture at all");
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));
    QStringList files{notAWorkbook, good, missing};
    if (!encrypted.isEmpty())
        files << encrypted << encryptedXls;
    QMap<QString, QByteArray> bytes;
    for (const QString &file : files)
        bytes.insert(file, QFile::exists(file) ? readAll(file) : QByteArray());

    // A picture that is no picture: every workbook fails, none changes.
    const RunSummary unreadable = background(files, fakePicture);
    ASSERT_EQ(unreadable.files.size(), size_t(files.size()));
    EXPECT_EQ(ui.messages.last(), kBackgroundDone);
    for (const FileResult &file : unreadable.files) {
        SCOPED_TRACE(file.path.toStdString());
        EXPECT_EQ(file.outcome, FileOutcome::Failed);
        if (file.path == good) {
            EXPECT_EQ(file.errorNumber, int(ErrorCode::PictureUnreadable));
        }
    }
    for (const QString &file : files)
        EXPECT_EQ(QFile::exists(file) ? readAll(file) : QByteArray(), bytes[file]) << file.toStdString();

    // The other workbooks' failures do not stop the good one.
    const RunSummary removal = links(files, LinkAction::RemoveHyperlinks);
    for (const FileResult &file : removal.files) {
        SCOPED_TRACE(file.path.toStdString());
        if (file.path == good) {
            EXPECT_EQ(file.outcome, FileOutcome::Processed);
        } else if (file.path == missing) {
            EXPECT_EQ(file.outcome, FileOutcome::Skipped);
        } else {
            EXPECT_EQ(file.outcome, FileOutcome::Failed);
            EXPECT_EQ(readAll(file.path), bytes[file.path]);
        }
        if (file.path == encrypted || file.path == encryptedXls) {
            EXPECT_EQ(file.errorNumber, int(ErrorCode::PasswordRequired));
        }
    }

    // Set mode with no picture: the message, and no run.
    ui.messages.clear();
    EXPECT_TRUE(background({good}, QString()).files.size() == 1); // remove mode needs none
    Validation failed;
    const RunSummary stopped
        = applySheetBackground({{good}, true, dir.filePath(QStringLiteral("nothing.jpg"))}, ui, settings, noEngine(), &failed);
    EXPECT_TRUE(stopped.stopped);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->message, kChoosePicture);
    EXPECT_EQ(failed->control, QStringLiteral("txtBackgroudPic"));
}

TEST_F(LinksBackgroundTest, ReadOnlyWorkbooksAreSkippedOrMadeWritable)
{
    const QString book = copyFixture("links_and_pictures.xlsx");
    ASSERT_TRUE(QFile::setPermissions(book, QFile::ReadOwner | QFile::ReadGroup));
    const QByteArray bytes = readAll(book);
    const RunSummary skipped = links({book}, LinkAction::RemoveHyperlinks, true);
    EXPECT_EQ(skipped.files[0].outcome, FileOutcome::Skipped);
    EXPECT_EQ(readAll(book), bytes);

    const RunSummary written = links({book}, LinkAction::RemoveHyperlinks, false);
    EXPECT_EQ(written.files[0].outcome, FileOutcome::Processed);
    EXPECT_FALSE(zipEntry(book, QStringLiteral("xl/worksheets/sheet1.xml")).contains("<hyperlink"));
    EXPECT_TRUE(QFileInfo(book).isWritable());

    // The background has no read-only step: a read-only workbook fails and stays as it is.
    ASSERT_TRUE(QFile::setPermissions(book, QFile::ReadOwner | QFile::ReadGroup));
    const QByteArray readOnly = readAll(book);
    const RunSummary refused = background({book}, picture(QStringLiteral("b.bmp"), bmpPicture()));
    EXPECT_EQ(refused.files[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(readAll(book), readOnly);
}

} // namespace
