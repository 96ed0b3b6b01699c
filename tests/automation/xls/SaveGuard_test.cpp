// The comparison of a workbook with its saved copy, on corpus workbooks edited record by record:
// each edit stands for something an engine save is known to do to a file.

#include "support/TestSupport.h"

#include "automation/EngineError.h"
#include "automation/ole/CompoundFile.h"
#include "automation/xls/BiffRecordStream.h"
#include "automation/xls/SaveGuard.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace gm::xls {
namespace {

using StreamEdit = std::function<void(BiffRecordStream &)>;
using TreeEdit = std::function<void(ole::CompoundEntry &)>;

ole::CompoundEntry *workbookStream(ole::CompoundEntry &root)
{
    for (const char *wanted : {"workbook", "book"})
        for (ole::CompoundEntry &child : root.children)
            if (!child.isStorage && child.name.toLower() == wanted)
                return &child;
    return nullptr;
}

// The file with its workbook stream and compound-file tree edited, as a compound file.
QByteArray editedFile(const QString &path, const StreamEdit &edit, const TreeEdit &editTree = {})
{
    ole::CompoundEntry root = ole::CompoundFile::readFile(path);
    if (edit) {
        ole::CompoundEntry *stream = workbookStream(root);
        BiffRecordStream biff = BiffRecordStream::parse(stream->data);
        edit(biff);
        stream->data = biff.serialize();
    }
    if (editTree)
        editTree(root);
    return ole::CompoundFile::write(root);
}

// The position of a cell's record in a sheet's own substream.
int cellIndex(BiffRecordStream &biff, int sheet, int row, int column)
{
    static const QList<quint16> cellTypes = {0x0006, 0x00FD, 0x0201, 0x0203, 0x0204, 0x0205, 0x027E};
    const BiffSubstream substream = biff.sheetSubstream(sheet);
    for (int i = substream.bof; i < substream.eof; ++i) {
        const BiffRecord &r = biff.records()[i];
        if (cellTypes.contains(r.type) && readU16(r.data, 0) == row && readU16(r.data, 2) == column)
            return i;
    }
    throw EngineError(ErrorCode::Unexpected, QStringLiteral("no such cell record"));
}

BiffRecord &cellRecord(BiffRecordStream &biff, int sheet, int row, int column)
{
    return biff.records()[cellIndex(biff, sheet, row, column)];
}

void setResult(BiffRecord &formula, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint64>(bits, formula.data.data() + 6);
}

// A formula record with other tokens, result and calculation flags.
void setFormula(BiffRecord &formula, const QByteArray &tokens, double value, bool alwaysCalc)
{
    setResult(formula, value);
    writeU16(formula.data, 14, alwaysCalc ? 0x0001 : 0x0000);
    formula.data = formula.data.left(20);
    formula.data.resize(22);
    writeU16(formula.data, 20, quint16(tokens.size()));
    formula.data += tokens;
}

BiffRecord nameRecord(const QByteArray &name, int scope, bool hidden)
{
    const QByteArray tokens = QByteArray::fromHex("1e0100"); // the number 1
    BiffRecord record;
    record.type = kName;
    record.data = QByteArray(15, '\0');
    writeU16(record.data, 0, hidden ? 0x0001 : 0x0000);
    record.data[3] = char(name.size());
    writeU16(record.data, 4, quint16(tokens.size()));
    writeU16(record.data, 8, quint16(scope));
    record.data += name + tokens;
    return record;
}

// Appends a name after the last NAME of the globals (before their EOF when there is none).
void appendName(BiffRecordStream &biff, const BiffRecord &name)
{
    int at = biff.globalsEnd();
    for (int i = 0; i < biff.globalsEnd(); ++i)
        if (biff.records()[i].type == kName)
            at = i + 1;
    biff.records().insert(at, name);
}

void removeEntry(ole::CompoundEntry &root, const QByteArray &name)
{
    std::erase_if(root.children, [&](const ole::CompoundEntry &e) { return e.name == name; });
}

int sheetIndex(const QString &path, const QString &name)
{
    const WorkbookContent book = readXlsContent(path);
    for (int i = 0; i < book.sheets.size(); ++i)
        if (book.sheets[i].name == name)
            return i;
    return -1;
}

TEST(SaveGuard, RefusesWhatAnEngineSaveIsKnownToLose)
{
    struct Case
    {
        const char *name;
        const char *file;
        StreamEdit edit;
        TreeEdit editTree;
        QString expected; // the first difference
    };
    const QList<Case> cases = {
        {"empty-string cell dropped", "xls/calamine-empty-string.xls",
            [](BiffRecordStream &b) { b.records().removeAt(cellIndex(b, 0, 0, 0)); }, {},
            QStringLiteral("Sheet1!A1: \"\" \u2192 (blank)")},
        {"text result becomes 0", "xls/calamine-issue343.xls", [](BiffRecordStream &b) { setResult(cellRecord(b, 0, 0, 0), 0); },
            {}, QStringLiteral("Лист1!A1: =\"\" \u2192 =0")},
        {"external-reference result recalculated", "bad/calamine-OOM_alloc.xls",
            [](BiffRecordStream &b) {
                const int sheet = sheetIndex(
                    gm::test::corpusFile(QStringLiteral("bad/calamine-OOM_alloc.xls")), QStringLiteral("Weekly Report"));
                setResult(cellRecord(b, sheet, 11, 11), 0);
            },
            {}, QStringLiteral("Weekly Report!L12: =18521 \u2192 =0")},
        {"name added", "xls/calamine-empty-string.xls",
            [](BiffRecordStream &b) { appendName(b, nameRecord("Excel_BuiltIn_Print_Area", 1, false)); }, {},
            QStringLiteral("name added: Excel_BuiltIn_Print_Area (Sheet1)")},
        {"hidden name shown", "xls/calamine-optional_records.xls",
            [](BiffRecordStream &b) {
                for (BiffRecord &r : b.records())
                    if (r.type == kName && r.data[15] == 0x0D) // the built-in _FilterDatabase
                        writeU16(r.data, 0, readU16(r.data, 0) & ~0x0001);
            },
            {}, QStringLiteral("name changed: _FilterDatabase (Orig Sched), no longer hidden")},
        {"storage lost", "xls/calamine-gh548_incorrect_sst_unique_count.xls", {},
            [](ole::CompoundEntry &root) { removeEntry(root, "MsoDataStore"); }, QStringLiteral("storage lost: MsoDataStore")},
        {"stream lost", "xls/calamine-issue_271.xls", {}, [](ole::CompoundEntry &root) { removeEntry(root, "ETExtData"); },
            QStringLiteral("stream lost: ETExtData")},
        {"VBA project lost", "xls/poi-SimpleMacro.xls", {},
            [](ole::CompoundEntry &root) { removeEntry(root, "_VBA_PROJECT_CUR"); }, QStringLiteral("VBA project lost")},
        {"VBA project changed", "xls/poi-SimpleMacro.xls", {},
            [](ole::CompoundEntry &root) {
                ole::CompoundEntry *vba = root.child("_VBA_PROJECT_CUR");
                vba->child("PROJECT")->data.append(' ');
            },
            QStringLiteral("VBA project changed")},
        {"property stream changed", "xls/calamine-issue_271.xls", {},
            [](ole::CompoundEntry &root) { root.child("\005SummaryInformation")->data[48] ^= 1; },
            QStringLiteral("stream changed: \\005SummaryInformation")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = gm::test::corpusFile(QString::fromLatin1(c.file));
        if (path.isEmpty())
            GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
        const QStringList differences
            = contentDifferences(readXlsContent(path), readXlsContent(editedFile(path, c.edit, c.editTree)), ExpectedChanges());
        ASSERT_FALSE(differences.isEmpty());
        EXPECT_EQ(differences.first(), c.expected) << differences.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(differences.size(), 1) << differences.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(SaveGuard, AcceptsAnUnchangedCopyOfEveryReadableWorkbook)
{
    const QString folder = gm::test::corpusFile(QStringLiteral("xls"));
    if (folder.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    int compared = 0;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.xls")}, QDir::Files)) {
        SCOPED_TRACE(name.toStdString());
        const QString path = QDir(folder).filePath(name);
        WorkbookContent before;
        try {
            before = readXlsContent(path);
        } catch (const EngineError &) {
            continue; // encrypted and Excel 95 workbooks
        }
        // Written again record by record and container by container: nothing differs.
        const QByteArray copy = editedFile(path, [](BiffRecordStream &) {}, {});
        EXPECT_EQ(contentDifferences(before, readXlsContent(copy), ExpectedChanges()), QStringList());
        ++compared;
    }
    EXPECT_GE(compared, 45);
}

TEST(SaveGuard, VolatileFormulasMayGiveAnotherResult)
{
    GM_REQUIRE_CORPUS(path, "xls/calamine-empty-string.xls");
    struct Case
    {
        const char *name;
        QByteArray tokens;
        bool alwaysCalc;
        bool accepted;
    };
    const QList<Case> cases = {
        {"NOW()", QByteArray::fromHex("214a00"), false, true},
        {"TODAY()+1", QByteArray::fromHex("21dd001e010003"), false, true},
        {"RAND() as a variable-argument call", QByteArray::fromHex("22003f00"), false, true},
        {"OFFSET(A1,1,1)",
            QByteArray::fromHex("4400000000"
                                "1e0100"
                                "1e0100"
                                "42034e00"),
            false, true},
        {"INDIRECT(\"A1\")",
            QByteArray::fromHex("17020041"
                                "31"
                                "22019400"),
            false, true},
        {"marked always-calculate by its writer", QByteArray::fromHex("1e0100"), true, true},
        {"the number 1", QByteArray::fromHex("1e0100"), false, false},
        {"A1+1",
            QByteArray::fromHex("4400000000"
                                "1e0100"
                                "03"),
            false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto withResult = [&](double value) {
            return readXlsContent(editedFile(
                path, [&](BiffRecordStream &b) { setFormula(cellRecord(b, 0, 0, 1), c.tokens, value, c.alwaysCalc); }));
        };
        const QStringList differences = contentDifferences(withResult(45000.25), withResult(45001.5), ExpectedChanges());
        EXPECT_EQ(differences.isEmpty(), c.accepted) << differences.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(SaveGuard, DeclaredChangesAreNotFaults)
{
    GM_REQUIRE_CORPUS(path, "xls/calamine-empty-string.xls");
    const WorkbookContent before = readXlsContent(path);
    const WorkbookContent after = readXlsContent(editedFile(path, [](BiffRecordStream &b) {
        appendName(b, nameRecord("Extra", 0, false));
        BiffRecord &cell = cellRecord(b, 0, 0, 1);
        setResult(cell, 7);
        // The sheet is renamed and hidden: lbPlyPos, state, kind, then the name.
        for (BiffRecord &r : b.records())
            if (r.type == kBoundSheet)
                r.data = r.data.left(4) + QByteArray::fromHex("01") + r.data.mid(5, 1) + QByteArray::fromHex("0500") + "Other";
    }));

    ExpectedChanges expected;
    EXPECT_EQ(contentDifferences(before, after, expected),
        QStringList({QStringLiteral("sheet renamed: Sheet1 \u2192 Other"), QStringLiteral("sheet Sheet1: visible \u2192 hidden"),
            QStringLiteral("Sheet1!B1: =FALSE \u2192 =7"), QStringLiteral("name added: Extra (workbook)")}));

    expected.addName(QStringLiteral("EXTRA"), 0); // names compare without regard to case
    expected.sheetNames.insert(1, QStringLiteral("Other"));
    expected.sheetStates.insert(1, 1);
    expected.cells << ExpectedChanges::Cells{1, 0, 0, 1, 3};
    EXPECT_EQ(contentDifferences(before, after, expected), QStringList());

    // A declaration for another sheet or scope does not cover these.
    expected = {};
    expected.addName(QStringLiteral("Extra"), 1);
    expected.cells << ExpectedChanges::Cells{2, 0, 0, 1, 3};
    expected.sheetNames.insert(1, QStringLiteral("Third"));
    expected.sheetStates.insert(1, 2);
    EXPECT_EQ(contentDifferences(before, after, expected).size(), 4);
}

TEST(SaveGuard, LeavesBothFilesAsTheyAreAndTellsWhatWouldChange)
{
    GM_REQUIRE_CORPUS(source, "xls/calamine-empty-string.xls");
    QTemporaryDir dir;
    const QString original = gm::test::copyInto(source, dir.path());
    const QString written = dir.filePath(QStringLiteral("written.xls"));
    const QByteArray edited = editedFile(original, [](BiffRecordStream &b) { b.records().removeAt(cellIndex(b, 0, 0, 0)); });
    gm::test::writeAll(written, edited);
    const QByteArray originalBytes = gm::test::readAll(original);
    try {
        checkSaveKeepsContent(original, written, ExpectedChanges());
        ADD_FAILURE() << "accepted";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::WouldLoseContent);
        EXPECT_EQ(e.description(), QStringLiteral("保存会丢失原文件中的内容，已保留原文件。"));
        EXPECT_EQ(e.detail(), QStringLiteral("Sheet1!A1: \"\" \u2192 (blank)"));
    }
    EXPECT_EQ(gm::test::readAll(original), originalBytes);
    EXPECT_EQ(gm::test::readAll(written), edited);

    // A copy that cannot be read is no proof that nothing was lost.
    gm::test::writeAll(written, "truncated");
    EXPECT_THROW(checkSaveKeepsContent(original, written, ExpectedChanges()), EngineError);
    EXPECT_NO_THROW(checkSaveKeepsContent(original, original, ExpectedChanges()));

    QStringList many;
    for (int i = 0; i < 9; ++i)
        many << QStringLiteral("line %1").arg(i);
    EXPECT_EQ(describeDifferences(many, 2), QStringLiteral("line 0; line 1; 7 more"));
}

} // namespace
} // namespace gm::xls
