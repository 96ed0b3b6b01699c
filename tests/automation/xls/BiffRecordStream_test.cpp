// The record list of real workbook streams: read and written back unchanged, and after records
// are inserted and removed every stream position still points where it did, checked by a walker
// of the raw bytes written here.

#include "support/TestSupport.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"

#include <QDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

QByteArray workbookStreamOf(const QString &path)
{
    const ole::CompoundEntry root = ole::CompoundFile::readFile(path);
    for (const char *wanted : {"workbook", "book"}) {
        for (const ole::CompoundEntry &child : root.children) {
            if (!child.isStorage && child.name.toLower() == wanted)
                return child.data;
        }
    }
    return {};
}

// Positions of record headers in a raw stream, with their types, up to the last EOF at the top.
struct RawRecord
{
    quint32 at;
    quint16 type;
    quint16 length;
};

QList<RawRecord> rawRecords(const QByteArray &bytes)
{
    QList<RawRecord> records;
    int depth = 0;
    for (qsizetype pos = 0; pos + 4 <= bytes.size();) {
        const quint16 type = u16(bytes, pos), length = u16(bytes, pos + 2);
        if (depth == 0 && type != 0x0809)
            break;
        records.append({quint32(pos), type, length});
        depth += type == 0x0809 ? 1 : type == 0x000A ? -1 : 0;
        pos += 4 + length;
    }
    return records;
}

// Every BOUNDSHEET8 at a BOF, every INDEX entry at a DBCELL, every EXTSST bucket inside SST:
// for each such field in stream order, whether it hits.
QList<bool> positionHits(const QByteArray &bytes)
{
    const QList<RawRecord> records = rawRecords(bytes);
    QHash<quint32, quint16> typeAt;
    for (const RawRecord &r : records)
        typeAt.insert(r.at, r.type);
    quint32 sstFirst = 0, sstLast = 0;
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].type == 0x00FC) {
            sstFirst = records[i].at;
            int j = i + 1;
            while (j < records.size() && records[j].type == 0x003C)
                ++j;
            sstLast = records[j - 1].at + 4 + records[j - 1].length;
        }
    }
    QList<bool> hits;
    for (const RawRecord &r : records) {
        if (r.type == 0x0085) {
            hits << (typeAt.value(u32(bytes, r.at + 4)) == 0x0809);
        } else if (r.type == 0x020B) {
            for (int off = 16; off + 4 <= r.length; off += 4) {
                hits << (typeAt.value(u32(bytes, r.at + 4 + off)) == 0x00D7);
            }
        } else if (r.type == 0x00FF) {
            for (int off = 2; off + 8 <= r.length; off += 8) {
                const quint32 ib = u32(bytes, r.at + 4 + off);
                hits << (ib > sstFirst && ib < sstLast);
            }
        }
    }
    return hits;
}

QStringList corpusWorkbooks()
{
    const QString folder = test::corpusFile(QStringLiteral("xls"));
    QStringList files;
    if (folder.isEmpty())
        return files;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.xls")}, QDir::Files, QDir::Name))
        files << folder + QLatin1Char('/') + name;
    return files;
}

TEST(BiffRecordStream, ReadsAndWritesEveryCorpusStreamUnchanged)
{
    const QStringList files = corpusWorkbooks();
    if (files.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray bytes = workbookStreamOf(file);
        ASSERT_FALSE(bytes.isEmpty());
        const BiffRecordStream stream = BiffRecordStream::parse(bytes);
        EXPECT_EQ(stream.serialize(), bytes);
        EXPECT_GE(stream.sheetRecords().size(), 1);
    }
}

TEST(BiffRecordStream, PositionsFollowRecordsThatMove)
{
    const QStringList files = corpusWorkbooks();
    if (files.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    int checked = 0;
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        BiffRecordStream stream = BiffRecordStream::parse(workbookStreamOf(file));
        if (stream.version() != 0x0600 || stream.isEncrypted())
            continue;
        const QByteArray original = stream.serialize();
        const QList<bool> before = positionHits(original);
        // Grow the globals (moves every sheet, SST and EXTSST) and the first sheet.
        auto &records = stream.records();
        records.insert(1, BiffRecord{0x00E1, QByteArray(37, 'x'), {}, 0});
        const BiffSubstream first = stream.sheetSubstream(0);
        ASSERT_GE(first.bof, 0);
        records.insert(first.bof + 1, BiffRecord{0x0081, QByteArray::fromHex("C104"), {}, 0});
        const QByteArray edited = stream.serialize();
        EXPECT_GE(edited.size(), original.size());
        const QList<bool> after = positionHits(edited);
        ASSERT_EQ(after.size(), before.size());
        for (qsizetype i = 0; i < before.size(); ++i) {
            if (before[i]) {
                EXPECT_TRUE(after[i]) << "position field " << i << " no longer hits";
                ++checked;
            }
        }
        // Reading the edited stream again finds the same sheets in the same places.
        const BiffRecordStream again = BiffRecordStream::parse(edited);
        EXPECT_EQ(again.sheetRecords().size(), stream.sheetRecords().size());
        EXPECT_EQ(again.sheetSubstream(0).bof, first.bof);
    }
    EXPECT_GT(checked, 1000);
}

TEST(BiffRecordStream, PaddingIsKeptAndRefilled)
{
    // BOF, EOF, padded with zeros to 64 bytes.
    QByteArray bytes = QByteArray::fromHex("0908040000061000") + QByteArray::fromHex("0a000000");
    bytes += QByteArray(64 - bytes.size(), '\0');
    BiffRecordStream stream = BiffRecordStream::parse(bytes);
    ASSERT_EQ(stream.records().size(), 2);
    EXPECT_EQ(stream.serialize(), bytes);
    stream.records().insert(1, BiffRecord{0x0081, QByteArray::fromHex("C104"), {}, 0});
    const QByteArray grown = stream.serialize();
    EXPECT_EQ(grown.size(), 64);
    EXPECT_EQ(grown.mid(8, 6), QByteArray::fromHex("81000200C104"));
}

TEST(BiffRecordStream, DamagedStreamsAreRefused)
{
    const struct
    {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"no BOF", QByteArray::fromHex("0a000000")},
        {"record past the end", QByteArray::fromHex("0908040000061000") + QByteArray::fromHex("14001000414243")},
        {"no EOF", QByteArray::fromHex("0908040000061000") + QByteArray::fromHex("81000200C104")},
        {"short BOF", QByteArray::fromHex("09080200000600")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            BiffRecordStream::parse(c.bytes);
            ADD_FAILURE() << "accepted";
        } catch (const EngineError &error) {
            EXPECT_EQ(error.code(), ErrorCode::Damaged);
        }
    }
}

} // namespace
} // namespace gm::xls
