// The record list of real workbook streams: read and written back unchanged, and after records
// are inserted and removed every stream position still points where it did, checked by a walker
// of the raw bytes written here.

#include "support/TestSupport.h"

#include "BiffTestSupport.h"
#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"

#include <QDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

TEST(BiffRecordStream, ReadsAndWritesEveryCorpusStreamUnchanged)
{
    const QStringList files = corpusXlsFiles();
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
    const QStringList files = corpusXlsFiles();
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
