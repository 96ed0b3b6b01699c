// Workbook and sheet protection written by the record editor into every BIFF8 workbook of the
// corpus, checked by a raw record walk of the test's own: the protection records hold what
// was asked, every other record, stream and storage is as it was, and xlrd reads the same cells.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/EngineSession.h"
#include "automation/Protection.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/XlsWorkbook.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

constexpr quint16 kProtect = 0x0012, kPassword = 0x0013, kWindowProtect = 0x0019, kScenProtect = 0x00DD, kObjProtect = 0x0063,
                  kFeatHeader = 0x0867;

// The records protection writes; WSBOOL too, which the editor puts first in a sheet whose
// protection block would otherwise directly follow its BOF.
bool isProtectionRecord(quint16 type)
{
    return type == kProtect || type == kPassword || type == kWindowProtect || type == kScenProtect || type == kObjProtect
        || type == kFeatHeader || type == 0x0081;
}

struct RawSheet
{
    quint8 kind = 0; // BOUNDSHEET8 dt: 0 worksheet, 2 chart
    QList<RawRecord> own; // the records of its substream at its own level, BOF and EOF excluded
};

QList<RawRecord> globalsOf(const QList<RawRecord> &records)
{
    QList<RawRecord> globals;
    for (qsizetype i = 1; i < records.size() && records[i].type != 0x000A; ++i)
        globals.append(records[i]);
    return globals;
}

QList<RawSheet> sheetsOf(const QList<RawRecord> &records)
{
    QList<RawSheet> sheets;
    for (const RawRecord &bound : globalsOf(records)) {
        if (bound.type != 0x0085)
            continue;
        RawSheet sheet;
        sheet.kind = quint8(bound.data[5]);
        qsizetype i = 0;
        while (i < records.size() && records[i].at != u32(bound.data, 0))
            ++i;
        int depth = 0;
        for (++i; i < records.size(); ++i) {
            if (records[i].type == 0x0809)
                ++depth;
            else if (records[i].type == 0x000A && depth-- == 0)
                break;
            else if (depth == 0)
                sheet.own.append(records[i]);
        }
        sheets.append(sheet);
    }
    return sheets;
}

// The value of the first record of that type, -1 when there is none.
int valueOf(const QList<RawRecord> &records, quint16 type)
{
    for (const RawRecord &record : records) {
        if (record.type == type)
            return record.data.size() >= 2 ? u16(record.data, 0) : 0;
    }
    return -1;
}

qsizetype indexOfType(const QList<RawRecord> &records, quint16 type)
{
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records[i].type == type)
            return i;
    }
    return -1;
}

// Every cell's value as xlrd reads it, one line per file (a digest of its sheets and
// cells); "-" for a file xlrd cannot read. One interpreter for the whole list.
QStringList xlrdCells(const QStringList &paths)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral("-c"),
            QStringLiteral(
                "import hashlib, sys, xlrd\n"
                "for p in sys.argv[1:]:\n"
                "    try:\n"
                "        b = xlrd.open_workbook(p)\n"
                "        t = repr([(s.name, [[repr(c.value) for c in s.row(r)] for r in range(s.nrows)]) for s in b.sheets()])\n"
                "        print(hashlib.sha1(t.encode()).hexdigest())\n"
                "    except Exception:\n"
                "        print('-')\n")}
            + paths);
    python.waitForFinished(300000);
    return QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

class ProtectionRecordsTest : public ::testing::Test
{
protected:
    // Protects a copy of every BIFF8 corpus workbook and checks it: the records outside the
    // protection block are unchanged (positions set aside), the other streams byte-identical,
    // every position still hits, xlrd reads the same cells; then `check` on the records.
    void overCorpus(const std::function<void(Workbook &)> &protect,
        const std::function<void(const QList<RawRecord> &before, const QList<RawRecord> &after)> &check)
    {
        int edited = 0;
        QStringList pairs; // original, result
        for (const QString &source : corpusXlsFiles()) {
            SCOPED_TRACE(source.toStdString());
            const QString copy
                = gm::test::copyInto(source, dir.path(), QStringLiteral("%1-").arg(m_round) + QFileInfo(source).fileName());
            std::unique_ptr<Workbook> book;
            try {
                book = openXlsRecords(copy);
            } catch (const EngineError &) {
                continue; // Excel 5.0/95 and encrypted workbooks: refused, see below
            }
            protect(*book);
            book->close(true);
            ++edited;

            const ole::CompoundEntry before = ole::CompoundFile::readFile(source);
            ole::CompoundEntry after = ole::CompoundFile::readFile(copy);
            const QByteArray name = workbookStreamName(before);
            const QByteArray oldStream = before.child(name)->data;
            const QByteArray newStream = after.child(name)->data;
            after.child(name)->data = oldStream;
            EXPECT_EQ(ole::CompoundFile::difference(before, after), QString());

            const QList<RawRecord> oldRecords = rawRecords(oldStream), newRecords = rawRecords(newStream);
            QList<RawRecord> oldKept, newKept;
            for (const RawRecord &r : oldRecords)
                if (!isProtectionRecord(r.type))
                    oldKept.append(withoutPositions(r));
            for (const RawRecord &r : newRecords)
                if (!isProtectionRecord(r.type))
                    newKept.append(withoutPositions(r));
            ASSERT_EQ(newKept.size(), oldKept.size());
            for (qsizetype i = 0; i < oldKept.size(); ++i)
                ASSERT_TRUE(oldKept[i].type == newKept[i].type && oldKept[i].data == newKept[i].data) << "record " << i;
            const QList<bool> oldHits = positionHits(oldStream), newHits = positionHits(newStream);
            ASSERT_EQ(newHits.size(), oldHits.size());
            for (qsizetype i = 0; i < oldHits.size(); ++i)
                EXPECT_TRUE(!oldHits[i] || newHits[i]) << "position " << i;
            check(oldRecords, newRecords);
            pairs << source << copy;
        }
        EXPECT_GE(edited, 50);
        ++m_round;
        // xlrd reads the same cells from each result as from its original.
        const QStringList digests = xlrdCells(pairs);
        ASSERT_EQ(digests.size(), pairs.size());
        for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
            EXPECT_EQ(digests[i + 1], digests[i]) << pairs[i].toStdString();
    }

    QTemporaryDir dir;
    int m_round = 0;
};

TEST_F(ProtectionRecordsTest, WorkbookProtectionInTheGlobals)
{
    const ProtectionPassword password(QStringLiteral("密码"));
    overCorpus([&](Workbook &book) { book.protect(password, false, true); },
        [&](const QList<RawRecord> &, const QList<RawRecord> &after) {
            const QList<RawRecord> globals = globalsOf(after);
            EXPECT_EQ(valueOf(globals, kWindowProtect), 1);
            EXPECT_EQ(valueOf(globals, kProtect), 0);
            EXPECT_EQ(valueOf(globals, kPassword), 0xC419);
            // In Excel's order, before the first WINDOW1.
            const qsizetype windowProtect = indexOfType(globals, kWindowProtect);
            EXPECT_LT(windowProtect, indexOfType(globals, kProtect));
            EXPECT_LT(indexOfType(globals, kProtect), indexOfType(globals, kPassword));
            if (indexOfType(globals, 0x003D) >= 0) {
                EXPECT_LT(indexOfType(globals, kPassword), indexOfType(globals, 0x003D));
            }
        });
}

TEST_F(ProtectionRecordsTest, EveryWorksheetWithTheAllowedActions)
{
    struct Case
    {
        SheetPermissions allowed;
        QString password;
        quint32 flags;
    };
    SheetPermissions sortAndFilter;
    sortAndFilter.allow(SheetPermission::Sort);
    sortAndFilter.allow(SheetPermission::AutoFilter);
    const Case cases[] = {{{}, QString(), 0x4400}, {sortAndFilter, QStringLiteral("secret"), 0x5C00}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        const ProtectionPassword password(c.password);
        overCorpus(
            [&](Workbook &book) {
                for (int i = 1; i <= book.worksheetCount(); ++i)
                    book.worksheet(i)->protect(password, c.allowed);
            },
            [&](const QList<RawRecord> &before, const QList<RawRecord> &after) {
                const QList<RawSheet> oldSheets = sheetsOf(before), newSheets = sheetsOf(after);
                ASSERT_EQ(newSheets.size(), oldSheets.size());
                for (qsizetype s = 0; s < newSheets.size(); ++s) {
                    SCOPED_TRACE(s);
                    const QList<RawRecord> &own = newSheets[s].own;
                    if (newSheets[s].kind != 0) {
                        // Chart and macro sheets are left alone.
                        EXPECT_EQ(own.size(), oldSheets[s].own.size());
                        EXPECT_EQ(valueOf(own, kProtect), valueOf(oldSheets[s].own, kProtect));
                        continue;
                    }
                    EXPECT_EQ(valueOf(own, kProtect), 1);
                    EXPECT_EQ(valueOf(own, kScenProtect), 1);
                    EXPECT_EQ(valueOf(own, kObjProtect), 1);
                    EXPECT_EQ(valueOf(own, kPassword), c.password.isEmpty() ? -1 : 0xDAA7);
                    EXPECT_LT(indexOfType(own, kProtect), indexOfType(own, kScenProtect));
                    EXPECT_LT(indexOfType(own, kScenProtect), indexOfType(own, kObjProtect));
                    if (indexOfType(own, 0x0055) >= 0) {
                        EXPECT_LT(indexOfType(own, kObjProtect), indexOfType(own, 0x0055));
                    }
                    const qsizetype header = indexOfType(own, kFeatHeader);
                    ASSERT_GE(header, 0);
                    EXPECT_EQ(own[header].data.size(), 23);
                    EXPECT_EQ(u16(own[header].data, 12), 2);
                    EXPECT_EQ(u32(own[header].data, 19), c.flags);
                }
            });
    }
}

TEST_F(ProtectionRecordsTest, ExistingPasswordsRefusalsAndFilesTheEditorCannotTake)
{
    GM_REQUIRE_CORPUS(source, "xls/poi-TwoSheetsOneHidden.xls");
    const QString path = gm::test::copyInto(source, dir.path());
    auto protect = [&](const QString &password, bool sheets) {
        auto book = openXlsRecords(path);
        if (sheets)
            book->worksheet(2)->protect(ProtectionPassword(password), {});
        else
            book->protect(ProtectionPassword(password), true, false);
        book->close(true);
    };
    for (const bool sheets : {false, true}) {
        SCOPED_TRACE(sheets);
        protect(QStringLiteral("abc"), sheets);
        const QByteArray protectedOnce = gm::test::readAll(path);
        for (const char *wrong : {"", "abd"}) {
            try {
                protect(QString::fromLatin1(wrong), sheets);
                ADD_FAILURE() << "replaced protection set with another password";
            } catch (const EngineError &e) {
                EXPECT_EQ(e.code(), ErrorCode::ProtectedWithOtherPassword);
            }
            EXPECT_EQ(gm::test::readAll(path), protectedOnce);
        }
        // The password it was set with lets new protection replace it.
        EXPECT_NO_THROW(protect(QStringLiteral("abc"), sheets));
    }

    // Excel 5.0/95 and encrypted workbooks fail with their own errors and stay as they were.
    const std::pair<const char *, ErrorCode> refused[] = {
        {"xls/calamine-biff5_write.xls", ErrorCode::ProtectionNeedsBiff8},
        {"encrypted/poi-password.xls", ErrorCode::PasswordRequired},
    };
    EngineSession session([]() -> std::unique_ptr<Application> { throw EngineError(ErrorCode::EngineUnavailable); });
    for (const auto &[file, code] : refused) {
        SCOPED_TRACE(file);
        const QString other = gm::test::corpusFile(QString::fromLatin1(file));
        if (other.isEmpty())
            GTEST_SKIP() << "shared corpus not found";
        const QString copy = gm::test::copyInto(other, dir.path());
        try {
            session.open(copy, WorkbookUse::Protection);
            ADD_FAILURE() << "opened for protection";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), code) << e.what();
        }
        EXPECT_EQ(gm::test::readAll(copy), gm::test::readAll(other));
    }
}

} // namespace
} // namespace gm::xls
