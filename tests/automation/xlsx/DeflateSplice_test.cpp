// A sheet entry written back by ending the deflate block that holds the first change early:
// the stored bytes before the change are kept, whatever the block layout the writer chose, and
// the entry inflates with plain zlib to exactly the text a whole recompression gives. And the
// check of a saved file that entries copied through are byte for byte the ones read.

#include "PackageInspection.h"

#include "automation/EngineError.h"
#include "automation/Protection.h"
#include "automation/xlsx/DeflateBlocks.h"
#include "automation/xlsx/OpcPackage.h"
#include "automation/xlsx/PackageWorkbook.h"
#include "automation/xlsx/SchemaOrder.h"
#include "automation/xlsx/SplicedXmlPart.h"
#include "automation/xlsx/WorkbookModel.h"
#include "support/WorkbookReader.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <zip.h>
#include <zlib.h>

namespace gm::xlsx {
namespace {

const QString entry = QStringLiteral("s.xml");

// `text` compressed after `before` (its last 32 KiB as the window), the block starting at bit
// `skipBits` of the first byte, whose lower bits are the end of an earlier block.
QByteArray deflatedAfter(const QByteArray &before, const QByteArray &text, int skipBits, int level, int strategy)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    const QByteArray window = before.right(32 * 1024);
    if (!window.isEmpty()) {
        EXPECT_EQ(deflateSetDictionary(&stream, reinterpret_cast<const Bytef *>(window.constData()), uInt(window.size())), Z_OK);
    }
    if (skipBits > 0) {
        EXPECT_EQ(deflatePrime(&stream, skipBits, 0x55), Z_OK);
    }
    QByteArray out(qsizetype(deflateBound(&stream, uLong(text.size()))) + 16, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// `text` compressed on its own as raw deflate data.
QByteArray rawDeflate(const QByteArray &text, int level, int strategy)
{
    return deflatedAfter({}, text, 0, level, strategy);
}

// Plain zlib over the entry's stored bytes. Fails the test for a stream that does not end
// exactly at the end of the entry.
QByteArray inflateEntry(const ZipArchive &archive, const QString &name)
{
    QByteArray stored;
    archive.readStored(name, [&](const char *data, qsizetype size) { stored.append(data, size); });
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
    stream.next_in = reinterpret_cast<Bytef *>(stored.data());
    stream.avail_in = uInt(stored.size());
    QByteArray text;
    int result = Z_OK;
    while (result == Z_OK) {
        char buffer[65536];
        stream.next_out = reinterpret_cast<Bytef *>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        text.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
    }
    EXPECT_EQ(result, Z_STREAM_END) << (stream.msg ? stream.msg : "");
    EXPECT_EQ(stream.avail_in, 0u);
    inflateEnd(&stream);
    return text;
}

// An archive whose one entry holds `text` compressed by zlib with these settings.
ZipArchive archiveOf(const QByteArray &text, int level, int strategy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.zip"));
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_file_add(za, "s.xml", zip_source_buffer(za, "<old/>", 6, 0), 0);
    EXPECT_EQ(zip_close(za), 0);
    const ZipArchive empty = ZipArchive::fromBytes(gm::test::readAll(path));
    ZipArchive::Deflated deflated{0, rawDeflate(text, level, strategy),
        quint32(crc32(0, reinterpret_cast<const Bytef *>(text.constData()), uInt(text.size()))), text.size(), -1};
    return ZipArchive::fromBytes(empty.rebuilt({ZipArchive::Change{entry, {}, std::move(deflated)}}));
}

QByteArray cellRows(int count, bool varied)
{
    QByteArray data;
    QRandomGenerator random(11);
    for (int r = 1; r <= count; ++r) {
        const QByteArray n = QByteArray::number(r);
        data += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + QByteArray::number(varied ? random.bounded(100000) : r % 7)
            + "</v></c><c r=\"B" + n + "\"><v>" + QByteArray::number(r % 3) + "</v></c></row>";
    }
    return data;
}

QByteArray hyperlinks(int count)
{
    QByteArray links = "<hyperlinks>";
    for (int r = 1; r <= count; ++r)
        links += "<hyperlink ref=\"A" + QByteArray::number(r) + "\" r:id=\"rId" + QByteArray::number(r) + "\"/>";
    return links + "</hyperlinks>";
}

// One edit after the cell data, made through the part and, independently, on the text.
struct Edit
{
    const char *name;
    std::function<void(SplicedXmlPart &)> apply;
    QByteArray before; // the edit inserts `insert` before the last occurrence of this
    QByteArray insert;
    QByteArray replaced = {}; // or replaces `before` by `insert` when set
};

std::vector<Edit> editsAfterCellData()
{
    const QByteArray protection = "<sheetProtection sheet=\"1\" objects=\"1\"/>";
    const QByteArray setup = "<pageSetup orientation=\"landscape\"/>";
    const QByteArray lastExt = "<ext uri=\"last\"/>";
    return {
        {"right after the cell data", [=](SplicedXmlPart &p) { p.setElement("sheetProtection", protection, order::worksheet); },
            "<hyperlinks>", protection},
        {"after a long run of hyperlinks", [=](SplicedXmlPart &p) { p.setElement("pageSetup", setup, order::worksheet); },
            "<extLst>", setup},
        {"a few bytes before the end",
            [=](SplicedXmlPart &p) {
                QByteArray ext = p.element("extLst");
                ext.replace(lastExt, "<ext uri=\"changed\"/>");
                p.setElement("extLst", ext, order::worksheet);
            },
            lastExt, "<ext uri=\"changed\"/>", lastExt},
    };
}

TEST(DeflateSplice, TheBlockHoldingTheChangeIsEndedEarlyWhateverTheWriterChose)
{
    struct Compression
    {
        const char *name;
        QByteArray cells;
        int level;
        int strategy;
    };
    const Compression compressions[] = {
        // Repetitive cells: a few blocks of hundreds of KiB each, the last one holding the change.
        {"repetitive, level 9", cellRows(20000, false), 9, Z_DEFAULT_STRATEGY},
        {"varied, level 1", cellRows(20000, true), 1, Z_DEFAULT_STRATEGY},
        {"fixed codes", cellRows(5000, true), 6, Z_FIXED},
        {"literals only", cellRows(3000, true), 6, Z_HUFFMAN_ONLY},
        // One block, the last one, holding everything: its last-block flag must go.
        {"one small block", cellRows(20, true), 6, Z_DEFAULT_STRATEGY},
    };
    QByteArray extensions = "<extLst>";
    for (int i = 0; i < 200; ++i)
        extensions += "<ext uri=\"u" + QByteArray::number(i) + "\"/>";
    extensions += "<ext uri=\"last\"/></extLst>";
    for (const Compression &compression : compressions) {
        const QByteArray text = "<worksheet xmlns=\"main\" xmlns:r=\"rel\"><sheetData>" + compression.cells + "</sheetData>"
            + hyperlinks(300) + "<pageMargins/>" + extensions + "</worksheet>";
        const ZipArchive archive = archiveOf(text, compression.level, compression.strategy);
        // The same entry checked and held when the archive was opened gives the same result.
        const ZipArchive held = ZipArchive::fromBytes(archive.rebuilt({}));
        held.verifyEntries({entry});
        EXPECT_EQ(held.read(entry), text);
        for (const Edit &edit : editsAfterCellData()) {
            SCOPED_TRACE(std::string(compression.name) + " / " + edit.name);
            QByteArray expected = text;
            const qsizetype at = expected.lastIndexOf(edit.before);
            if (edit.replaced.isEmpty())
                expected.insert(at, edit.insert);
            else
                expected.replace(at, edit.replaced.size(), edit.insert);

            SplicedXmlPart part(archive, entry, "sheetData");
            edit.apply(part);
            const ZipArchive::Change change = part.change(archive);
            ASSERT_TRUE(change.deflated.has_value());
            EXPECT_TRUE(change.deflated->proven);
            SplicedXmlPart heldPart(held, entry, "sheetData");
            edit.apply(heldPart);
            const ZipArchive::Change heldChange = heldPart.change(held);
            ASSERT_TRUE(heldChange.deflated.has_value());
            EXPECT_EQ(heldChange.deflated->keptBytes, change.deflated->keptBytes);
            EXPECT_TRUE(heldChange.deflated->appended == change.deflated->appended);
            const ZipArchive rebuilt = ZipArchive::fromBytes(archive.rebuilt({change}));
            const QByteArray inflated = inflateEntry(rebuilt, entry);
            ASSERT_EQ(inflated.size(), expected.size());
            EXPECT_TRUE(inflated == expected);
            EXPECT_EQ(rebuilt.read(entry), expected); // libzip checks the CRC and the size

            // Only the text from just before the change is compressed again: what is appended
            // is no larger than that text compressed on its own, give or take a block header.
            const QByteArray rest = expected.mid(at - 258);
            EXPECT_LE(change.deflated->appended.size(), rawDeflate(rest, 9, Z_DEFAULT_STRATEGY).size() * 2 + 400);
            EXPECT_GT(change.deflated->keptBytes, 0);
        }
    }
}

TEST(DeflateSplice, StoredBlocksAreKeptUpToTheirStartAndDamagedBlocksAreNotCut)
{
    // Level 0 writes stored blocks: nothing inside them is cut, but the text is right.
    const QByteArray text = "<worksheet xmlns=\"main\" xmlns:r=\"rel\"><sheetData>" + cellRows(2000, true) + "</sheetData>"
        + hyperlinks(50) + "</worksheet>";
    const ZipArchive archive = archiveOf(text, 0, Z_DEFAULT_STRATEGY);
    SplicedXmlPart part(archive, entry, "sheetData");
    const QByteArray protection = "<sheetProtection sheet=\"1\"/>";
    part.setElement("sheetProtection", protection, order::worksheet);
    const ZipArchive::Change change = part.change(archive);
    QByteArray expected = text;
    expected.insert(expected.indexOf("<hyperlinks>"), protection);
    EXPECT_EQ(inflateEntry(ZipArchive::fromBytes(archive.rebuilt({change})), entry), expected);

    // The block reader refuses what it cannot follow rather than guessing a place to cut.
    const QByteArray compressed = rawDeflate(text, 6, Z_DEFAULT_STRATEGY);
    EXPECT_FALSE(cutDeflateBlock(rawDeflate(text, 0, Z_DEFAULT_STRATEGY), 0, 0, 1000).has_value()); // stored
    EXPECT_FALSE(cutDeflateBlock(compressed.left(40), 0, 0, text.size()).has_value()); // ends early
    EXPECT_FALSE(cutDeflateBlock(QByteArray(64, '\xff'), 0, 0, 1000).has_value()); // block type 3
    const std::optional<BlockCut> cut = cutDeflateBlock(compressed, 0, 0, 1000);
    ASSERT_TRUE(cut.has_value());
    EXPECT_LE(cut->offset, 1000);
    EXPECT_GT(cut->offset, 1000 - 258);
}


TEST(DeflateSplice, TheProofFromABlockBoundaryHoldsAtEveryBitOffsetAndCatchesAnyDifference)
{
    const QByteArray cells = cellRows(3000, true);
    const QByteArray tail = cellRows(400, true) + hyperlinks(200);
    // No window, a short one, and more than a window: matches reach back into the text before.
    for (const qsizetype windowSize : {qsizetype(0), qsizetype(700), cells.size()}) {
        const QByteArray before = cells.right(windowSize);
        for (int skipBits = 0; skipBits < 8; ++skipBits) {
            SCOPED_TRACE("window " + std::to_string(windowSize) + ", bit " + std::to_string(skipBits));
            const QByteArray data = deflatedAfter(before, tail, skipBits, 6, Z_DEFAULT_STRATEGY);
            EXPECT_TRUE(inflatesFromBoundary(data, skipBits, before, tail));

            QByteArray changed = tail;
            changed[tail.size() / 2] = 'x';
            EXPECT_FALSE(inflatesFromBoundary(data, skipBits, before, changed));
            EXPECT_FALSE(inflatesFromBoundary(data, skipBits, before, tail.chopped(1)));
            EXPECT_FALSE(inflatesFromBoundary(data, skipBits, before, tail + ' '));
            EXPECT_FALSE(inflatesFromBoundary(data.chopped(1), skipBits, before, tail));
            EXPECT_FALSE(inflatesFromBoundary(data + QByteArray(2, '\0'), skipBits, before, tail));
            EXPECT_FALSE(inflatesFromBoundary(data, (skipBits + 1) % 8, before, tail));
            if (windowSize > 0) {
                // A match into the window reads the window given, not the one compressed against.
                QByteArray otherWindow = before;
                std::reverse(otherWindow.begin(), otherWindow.end());
                EXPECT_FALSE(inflatesFromBoundary(data, skipBits, otherWindow, tail));
            }
        }
    }
}

TEST(DeflateSplice, EveryCorpusSheetInflatesToTheTextOfAWholeRecompression)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xlsx"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    // A rewrite that changes nothing: it sends the part down the whole-recompression path.
    struct Unchanged : SplicedXmlPart::Rewrite
    {
        void feed(const char *data, qsizetype size, QByteArray &out) override { out.append(data, size); }
        void finish(QByteArray &) override { }
    };
    const std::vector<std::function<void(SplicedXmlPart &)>> edits = {
        [](SplicedXmlPart &p) { p.setElement("sheetProtection", "<sheetProtection sheet=\"1\"/>", order::worksheet); },
        [](SplicedXmlPart &p) {
            p.setElement("headerFooter", "<headerFooter><oddFooter>x</oddFooter></headerFooter>", order::worksheet);
        },
        [](SplicedXmlPart &p) { p.setElement("ignoredLast", "<ignoredLast/>", {}); }, // at the end of the root
    };
    int sheets = 0;
    int cut = 0;
    for (const QString &file : QDir(folder).entryList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files)) {
        const QByteArray bytes = gm::test::readAll(QDir(folder).filePath(file));
        std::optional<ZipArchive> archive;
        QStringList parts;
        try {
            archive.emplace(ZipArchive::fromBytes(bytes));
            OpcPackage package(ZipArchive::fromBytes(bytes));
            const WorkbookModel model(package);
            for (const SheetEntry &sheet : model.sheets()) {
                if (sheet.kind == SheetKind::Worksheet)
                    parts.append(sheet.partName);
            }
        } catch (const EngineError &) {
            continue; // not a readable package: covered elsewhere
        }
        for (const QString &name : parts) {
            SCOPED_TRACE((file + u' ' + name).toStdString());
            if (archive->info(name).method != 8)
                continue;
            ++sheets;
            for (size_t e = 0; e < edits.size(); ++e) {
                SCOPED_TRACE(e);
                SplicedXmlPart spliced(*archive, name, "sheetData");
                SplicedXmlPart whole(*archive, name, "sheetData");
                edits[e](spliced);
                edits[e](whole);
                whole.addRewrite([] { return std::make_unique<Unchanged>(); });
                const ZipArchive::Change splicedChange = spliced.change(*archive);
                const ZipArchive::Change wholeChange = whole.change(*archive);
                ASSERT_TRUE(splicedChange.deflated && wholeChange.deflated);
                EXPECT_EQ(wholeChange.deflated->keptBytes, 0);
                cut += splicedChange.deflated->keptBytes > 0 ? 1 : 0;
                const QByteArray expected = inflateEntry(ZipArchive::fromBytes(archive->rebuilt({wholeChange})), name);
                const ZipArchive result = ZipArchive::fromBytes(archive->rebuilt({splicedChange}));
                const QByteArray text = inflateEntry(result, name);
                EXPECT_TRUE(text == expected);
                EXPECT_EQ(splicedChange.deflated->crc, wholeChange.deflated->crc);
                EXPECT_EQ(result.read(name).size(), expected.size());
            }
        }
    }
    EXPECT_GT(sheets, 100);
    EXPECT_GT(cut, sheets * 2); // most changes keep the cell data's compressed bytes
}

// Python's zip reader and openpyxl read a protected workbook whose one large block was ended
// early, with the same cells as before.
TEST(DeflateSplice, IndependentReadersReadTheResult)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.xlsx"));
    {
        // A workbook with one repetitive sheet, compressed at level 9 (few long blocks).
        const QString source = gm::test::corpusFile(QStringLiteral("xlsx/poi-sheetProtection_not_protected.xlsx"));
        if (source.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const ZipArchive original = ZipArchive::fromBytes(gm::test::readAll(source));
        OpcPackage package(ZipArchive::fromBytes(gm::test::readAll(source)));
        const QString sheet = WorkbookModel(package).sheets().front().partName;
        QByteArray text = original.read(sheet);
        const qsizetype data = text.indexOf("<sheetData");
        const qsizetype end = text.indexOf("</sheetData>") + 12;
        ASSERT_GT(data, 0);
        text.replace(data, end - data, "<sheetData>" + cellRows(20000, false) + "</sheetData>");
        ZipArchive::Deflated deflated{0, rawDeflate(text, 9, Z_DEFAULT_STRATEGY),
            quint32(crc32(0, reinterpret_cast<const Bytef *>(text.constData()), uInt(text.size()))), text.size(), -1};
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(original.rebuilt({ZipArchive::Change{sheet, {}, std::move(deflated)}}));
    }
    const gm::test::ReaderResult before = gm::test::readWithOpenpyxl(path);
    if (!before.available)
        GTEST_SKIP() << "no Python with openpyxl";
    {
        PackageWorkbook workbook(path);
        workbook.sheet(1)->protect(ProtectionPassword(QString()), SheetPermissions());
        workbook.close(true);
    }
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-c"), QStringLiteral("import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).testzip())"), path});
    ASSERT_TRUE(python.waitForFinished(60000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), QByteArray("None")) << python.readAllStandardError().toStdString();
    const gm::test::ReaderResult after = gm::test::readWithOpenpyxl(path);
    ASSERT_TRUE(after.error.isEmpty()) << after.error.toStdString();
    ASSERT_EQ(after.sheets.size(), before.sheets.size());
    EXPECT_EQ(after.sheets.front().cells, before.sheets.front().cells);
    EXPECT_EQ(after.sheets.front().cells.value(QStringLiteral("A19999")).toString(), QString::number(19999 % 7));
}

TEST(SaveCheck, CopiedEntriesMustHoldTheStoredBytesThatWereRead)
{
    const QByteArray text = "<worksheet xmlns=\"main\"><sheetData>" + cellRows(500, true) + "</sheetData></worksheet>";
    const ZipArchive original = archiveOf(text, 6, Z_DEFAULT_STRATEGY);
    const QByteArray bytes = original.rebuilt({});
    original.expectSameStored(ZipArchive::fromBytes(bytes), entry);

    // One stored bit changed, headers left alone: caught without inflating.
    QByteArray flipped = bytes;
    ASSERT_TRUE(flipped.startsWith("PK\x03\x04"));
    const auto *header = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype data = 30 + (header[26] | header[27] << 8) + (header[28] | header[29] << 8);
    flipped[data + 100] = char(flipped.at(data + 100) ^ 0x10);
    EXPECT_THROW(original.expectSameStored(ZipArchive::fromBytes(flipped), entry), EngineError);
    // The same text compressed otherwise is not the entry that was read.
    EXPECT_THROW(original.expectSameStored(archiveOf(text, 1, Z_DEFAULT_STRATEGY), entry), EngineError);
    EXPECT_THROW(original.expectSameStored(archiveOf(text + " ", 6, Z_DEFAULT_STRATEGY), entry), EngineError);

    // A spliced entry must hold the kept bytes, then the appended ones: a bit changed in
    // either is caught without inflating.
    const QByteArray sheet = "<worksheet xmlns=\"main\"><sheetData>" + cellRows(3000, true) + "</sheetData>" + hyperlinks(50)
        + "</worksheet>";
    const ZipArchive before = archiveOf(sheet, 6, Z_DEFAULT_STRATEGY);
    SplicedXmlPart part(before, entry, "sheetData");
    part.setElement("sheetProtection", "<sheetProtection sheet=\"1\"/>", order::worksheet);
    const ZipArchive::Change change = part.change(before);
    ASSERT_TRUE(change.deflated && change.deflated->proven && change.deflated->keptBytes > 0);
    const QByteArray spliced = before.rebuilt({change});
    ZipArchive::fromBytes(spliced).expectDeflated(before, entry, *change.deflated);
    const auto *splicedHeader = reinterpret_cast<const uchar *>(spliced.constData());
    const qsizetype splicedData = 30 + (splicedHeader[26] | splicedHeader[27] << 8) + (splicedHeader[28] | splicedHeader[29] << 8);
    for (const qint64 at : {change.deflated->keptBytes / 2, change.deflated->keptBytes + change.deflated->appended.size() / 2}) {
        QByteArray changed = spliced;
        changed[splicedData + at] = char(changed.at(splicedData + at) ^ 0x10);
        EXPECT_THROW(ZipArchive::fromBytes(changed).expectDeflated(before, entry, *change.deflated), EngineError) << at;
    }
}

// A part whose cell data is rewritten is compressed whole, inflated back and compared with its
// text, and scanned, as it is built: what the check after writing then need not do again. A
// rewrite that breaks the XML fails the save there.
TEST(SaveCheck, RewrittenPartsAreProvenAndScannedWhenBuilt)
{
    struct Doubling : SplicedXmlPart::Rewrite
    {
        void feed(const char *data, qsizetype size, QByteArray &out) override
        {
            QByteArray text(data, size);
            out.append(text.replace("<v>", "<v>1"));
        }
        void finish(QByteArray &) override { }
    };
    struct Truncating : SplicedXmlPart::Rewrite
    {
        void feed(const char *data, qsizetype size, QByteArray &out) override
        {
            QByteArray text(data, size);
            out.append(text.replace("</sheetData>", ""));
        }
        void finish(QByteArray &) override { }
    };
    const QByteArray data = cellRows(3000, true);
    const QByteArray sheet = "<worksheet xmlns=\"main\"><sheetData>" + data + "</sheetData>" + hyperlinks(5) + "</worksheet>";
    const ZipArchive before = archiveOf(sheet, 6, Z_DEFAULT_STRATEGY);

    SplicedXmlPart part(before, entry, "sheetData");
    part.addRewrite([] { return std::make_unique<Doubling>(); });
    const ZipArchive::Change change = part.change(before);
    ASSERT_TRUE(change.deflated && change.deflated->proven);
    EXPECT_EQ(change.deflated->keptBytes, 0);
    QByteArray expected = sheet;
    expected.replace("<v>", "<v>1");
    const ZipArchive result = ZipArchive::fromBytes(before.rebuilt({change}));
    result.expectDeflated(before, entry, *change.deflated);
    EXPECT_TRUE(inflateEntry(result, entry) == expected);
    EXPECT_EQ(result.read(entry), expected);

    SplicedXmlPart broken(before, entry, "sheetData");
    broken.addRewrite([] { return std::make_unique<Truncating>(); });
    try {
        broken.change(before);
        ADD_FAILURE() << "a part that is not well-formed was built";
    } catch (const EngineError &error) {
        EXPECT_EQ(error.code(), ErrorCode::SaveFailed);
    }
}

// Content past what is compressed whole streams through zlib, including what was held before
// the limit was crossed, and reads back; it is not reported as inflated back.
TEST(SaveCheck, EntriesLargerThanTheWholeBufferLimitStreamAndReadBack)
{
    const QByteArray rows = cellRows(20000, false);
    QByteArray large = "<worksheet xmlns=\"main\"><sheetData>";
    while (large.size() <= RawDeflater::kWholeBytes)
        large += rows;
    large += "</sheetData></worksheet>";

    RawDeflater small;
    small.add(rows.constData(), rows.size());
    const QByteArray smallDeflated = small.finish(true);
    EXPECT_TRUE(small.inflatedBack());
    EXPECT_LT(smallDeflated.size(), rows.size() / 5);

    RawDeflater streamed;
    for (qsizetype at = 0; at < large.size(); at += rows.size())
        streamed.add(large.constData() + at, std::min(rows.size(), large.size() - at));
    ZipArchive::Deflated deflated{0, streamed.finish(true),
        quint32(crc32(0, reinterpret_cast<const Bytef *>(large.constData()), uInt(large.size()))), large.size(), -1};
    EXPECT_FALSE(streamed.inflatedBack());
    const ZipArchive original = archiveOf("<worksheet/>", 6, Z_DEFAULT_STRATEGY);
    const ZipArchive result = ZipArchive::fromBytes(original.rebuilt({ZipArchive::Change{entry, {}, std::move(deflated)}}));
    EXPECT_TRUE(inflateEntry(result, entry) == large);

    // Given as data, the same content goes the same way when the archive is rebuilt.
    const ZipArchive rebuilt = ZipArchive::fromBytes(original.rebuilt({ZipArchive::Change{entry, large, std::nullopt}}));
    EXPECT_EQ(rebuilt.info(entry).size, large.size());
    EXPECT_TRUE(rebuilt.read(entry) == large);
}

} // namespace
} // namespace gm::xlsx
