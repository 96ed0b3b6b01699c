// Constants typed into the cells of .xls workbooks by the record editor, over every corpus
// workbook: xlrd (an independent reader) and our own reader see exactly the intended values and
// number formats, only the cell table, the shared strings and the format records differ, every
// stream position still hits its record; entries the records cannot hold exactly are left to
// the engine before anything changes.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/SheetCellRecords.h"
#include "automation/xls/XlsCellTexts.h"
#include "automation/xls/XlsContent.h"
#include "automation/xls/XlsWorkbook.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

enum : quint16 {
    kXfType = 0x00E0,
    kLabelSstType = 0x00FD,
    kBoolErrType = 0x0205,
    kNumberType = 0x0203,
    kRkType = 0x027E,
    kSstType = 0x00FC,
    kExtSstType = 0x00FF,
    kContinueType = 0x003C,
    kXfCrcType = 0x087C,
    kXfExtType = 0x087D,
};

// By path: every cell of every worksheet as [sheet, row, column, type, value, number format id],
// or an empty array for a file xlrd cannot read. Nothing when xlrd is missing.
std::optional<QJsonObject> readByXlrd(const QStringList &paths)
{
    const QString script = QStringLiteral(
        "import json, os, sys\n"
        "import xlrd\n"
        "quiet = open(os.devnull, 'w')\n"
        "result = {}\n"
        "for path in sys.argv[1:]:\n"
        "    try:\n"
        "        book = xlrd.open_workbook(path, formatting_info=True, logfile=quiet)\n"
        "    except Exception:\n"
        "        result[path] = []; continue\n"
        "    out = []\n"
        "    for n, s in enumerate(book.sheets()):\n"
        "        for r in range(s.nrows):\n"
        "            for c in range(s.ncols):\n"
        "                t = s.cell_type(r, c)\n"
        "                if t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK): continue\n"
        "                fmt = book.xf_list[s.cell_xf_index(r, c)].format_key\n"
        "                out.append([n, r, c, t, repr(s.cell_value(r, c)), fmt])\n"
        "    result[path] = out\n"
        "print(json.dumps(result))\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + paths);
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        if (python.readAllStandardError().contains("No module named 'xlrd'") || python.error() == QProcess::FailedToStart)
            return std::nullopt;
        ADD_FAILURE() << "xlrd failed";
        return QJsonObject();
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

bool isCellTableType(quint16 type)
{
    switch (type) {
    case 0x0208: // ROW
    case 0x00D7: // DBCELL
    case 0x020B: // INDEX
    case 0x0200: // DIMENSIONS
    case 0x00BD: // MULRK
    case 0x00BE: // MULBLANK
    case 0x0201: // BLANK
    case kLabelSstType:
    case kNumberType:
    case kBoolErrType:
    case kRkType:
        return true;
    default:
        return false;
    }
}

// The records that must come out as they were, in order: all but the cell table, the shared
// strings with their index and continuations, and the format records, which may gain some at
// their end, with the checksum over them and their extensions (compared apart).
QList<QPair<quint16, QByteArray>> untouchedRecords(const QByteArray &stream)
{
    QList<QPair<quint16, QByteArray>> kept;
    bool inSst = false;
    for (const RawRecord &record : rawRecords(stream)) {
        if (record.type != kContinueType)
            inSst = record.type == kSstType;
        if (isCellTableType(record.type) || record.type == kSstType || record.type == kExtSstType || record.type == kXfType
            || record.type == kXfCrcType || record.type == kXfExtType || (record.type == kContinueType && inSst))
            continue;
        kept.append({record.type, withoutPositions(record).data});
    }
    return kept;
}

QList<QByteArray> formatRecords(const QByteArray &stream, quint16 type = kXfType)
{
    QList<QByteArray> xfs;
    for (const RawRecord &record : rawRecords(stream)) {
        if (record.type == type)
            xfs << record.data;
    }
    return xfs;
}

// The XFCRC record's count and checksum, when the stream has one.
std::optional<std::pair<int, quint32>> storedXfChecksum(const QByteArray &stream)
{
    const QList<QByteArray> found = formatRecords(stream, kXfCrcType);
    if (found.isEmpty() || found.front().size() < 20)
        return std::nullopt;
    return std::pair<int, quint32>{u16(found.front(), 14), u32(found.front(), 16)};
}

// Whether the checksum is the one over the format records as they are.
bool xfChecksumHolds(const QByteArray &stream)
{
    const auto stored = storedXfChecksum(stream);
    const QList<QByteArray> xfs = formatRecords(stream);
    return stored && stored->first == xfs.size() && stored->second == xfChecksum(xfs);
}

// EXTSST entries whose position, less their offset, is not the start of the SST record or one
// of its continuations.
int strayStringIndexEntries(const QByteArray &stream)
{
    const QList<RawRecord> records = rawRecords(stream);
    QSet<quint32> sstParts;
    bool inSst = false;
    for (const RawRecord &r : records) {
        if (r.type != kContinueType)
            inSst = r.type == kSstType;
        if (inSst)
            sstParts.insert(r.at);
    }
    int stray = 0;
    for (const RawRecord &r : records) {
        if (r.type != kExtSstType)
            continue;
        for (qsizetype off = 2; off + 8 <= r.data.size(); off += 8)
            stray += sstParts.contains(u32(r.data, off) - u16(r.data, off + 4)) ? 0 : 1;
    }
    return stray;
}

// The record holding a cell in the stream of one sheet (0-based position among all sheets).
std::optional<RawRecord> cellRecord(const QByteArray &stream, int sheet, int row, int column)
{
    int depth = 0, substream = -1;
    for (const RawRecord &r : rawRecords(stream)) {
        if (r.type == 0x0809 && depth++ == 0)
            ++substream;
        else if (r.type == 0x000A)
            --depth;
        else if (depth == 1 && substream == sheet + 1 && r.data.size() >= 6 && u16(r.data, 0) == row
            && u16(r.data, 2) == column && isCellTableType(r.type) && r.type != 0x0208 && r.type != 0x0200)
            return r;
    }
    return std::nullopt;
}

const QString kLong = QString(5000, u'é') + QStringLiteral("末") + QString(5000, u'x'); // past one record, mixed widths

// What the test writes into each worksheet: new cells below and right of everything, and the
// first few constant cells the sheet has (a number, a text, whatever comes first).
struct Write
{
    int row;
    int column;
    QString text;
    CellContent::Type type;
    QString display; // CellContent::display() afterwards
    int format; // the number format id afterwards, -1 for the cell's own
};

std::vector<Write> writesFor(const SheetContent &sheet, bool withFormats, bool date1904)
{
    std::vector<Write> writes{
        {300, 1, kLong, CellContent::Type::Text, kLong, -1},
        {300, 4, QStringLiteral("TRUE"), CellContent::Type::Boolean, QStringLiteral("TRUE"), -1},
        {301, 4, QStringLiteral("#N/A"), CellContent::Type::Error, QStringLiteral("#N/A"), -1},
        {302, 0, QStringLiteral("0.1"), CellContent::Type::Number, QStringLiteral("0.1"), -1},
        {302, 200, QStringLiteral("123456789.123"), CellContent::Type::Number, QStringLiteral("123456789.123"), -1},
    };
    if (withFormats) {
        writes.push_back({300, 2, QStringLiteral("5%"), CellContent::Type::Number, QStringLiteral("0.05"), 9});
        writes.push_back({300, 3, QStringLiteral("1/2/2020"), CellContent::Type::Number,
            date1904 ? QStringLiteral("42370") : QStringLiteral("43832"), 14});
        writes.push_back({301, 5, QStringLiteral("'001"), CellContent::Type::Text, QStringLiteral("001"), -1});
    }
    const QString existing[] = {QStringLiteral("FALSE"), QStringLiteral("7"), QStringLiteral("new text"), QStringLiteral("#DIV/0!")};
    const QString shown[] = {QStringLiteral("FALSE"), QStringLiteral("7"), QStringLiteral("new text"), QStringLiteral("#DIV/0!")};
    const CellContent::Type types[] = {
        CellContent::Type::Boolean, CellContent::Type::Number, CellContent::Type::Text, CellContent::Type::Error};
    int k = 0;
    for (const auto &[key, cell] : sheet.cells) {
        if (k == 4 || int(key >> 16) >= 300)
            break;
        if (cell.formula)
            continue;
        writes.push_back({int(key >> 16), int(key & 0xFFFF), existing[k], types[k], shown[k], -1});
        ++k;
    }
    return writes;
}

// The checksum is proven by the corpus: it gives the value Excel stored in every workbook whose
// count still matches its format records (another writer added or dropped some in the others,
// which the record then reports to readers).
TEST(XlsCells, FormatChecksumIsTheOneExcelStores)
{
    const QStringList sources = corpusXlsFiles();
    if (sources.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    int matched = 0, stale = 0;
    for (const QString &source : sources) {
        SCOPED_TRACE(QFileInfo(source).fileName().toStdString());
        const QByteArray stream = workbookStreamOf(source);
        const auto stored = storedXfChecksum(stream);
        if (!stored || !formatRecords(stream, 0x002F).isEmpty()) // none, or encrypted payloads
            continue;
        if (stored->first != formatRecords(stream).size()) {
            ++stale;
            continue;
        }
        EXPECT_EQ(xfChecksum(formatRecords(stream)), stored->second);
        EXPECT_NE(xfChecksum(formatRecords(stream).mid(1)), stored->second);
        ++matched;
    }
    EXPECT_GE(matched, 22);
    EXPECT_LE(stale, 2);
}

TEST(XlsCells, EveryCorpusWorkbookTakesTypedConstantsInItsRecords)
{
    const QStringList sources = corpusXlsFiles();
    if (sources.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    QList<QPair<QString, QString>> results; // source, result
    QHash<QString, QList<std::pair<int, std::vector<Write>>>> written; // result -> sheet, writes
    int needEngine = 0;
    QSet<QString> formatKept; // "sheet:row:column" of written cells whose own format stayed
    int checksums = 0; // workbooks whose format records gained some under a checksum
    for (const QString &source : sources) {
        const QString base = QFileInfo(source).completeBaseName();
        SCOPED_TRACE(base.toStdString());
        const QString path = gm::test::copyInto(source, dir.path(), base + QStringLiteral(".xls"));
        WorkbookContent before;
        try {
            before = readXlsContent(source);
        } catch (const EngineError &e) {
            EXPECT_FALSE(e.description().isEmpty()); // Excel 5.0/95 and encrypted workbooks
            continue;
        }
        // Typed formats need format records of their own; a workbook the editor cannot give
        // them to takes only the plain constants.
        bool withFormats = true;
        bool toEngine = false;
        std::unique_ptr<Workbook> book;
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                book = openXlsRecords(path);
            } catch (const EngineError &e) {
                EXPECT_FALSE(e.description().isEmpty()); // Excel 5.0/95 and encrypted workbooks
                break;
            }
            written.remove(path);
            toEngine = false;
            for (int n = 1; n <= book->worksheetCount() && !toEngine; ++n) {
                std::unique_ptr<Worksheet> sheet = book->worksheet(n);
                const int position = sheet->sheetIndex() - 1;
                const std::vector<Write> writes = writesFor(before.sheets[position], withFormats, before.date1904);
                std::vector<Worksheet::CellWrite> cells;
                for (const Write &w : writes)
                    cells.push_back({w.row + 1, w.column + 1, w.text});
                try {
                    sheet->setCellValues(cells);
                    written[path].append({position, writes});
                } catch (const EngineError &e) {
                    ASSERT_EQ(e.code(), ErrorCode::XlsCellsNeedEngine) << e.detail().toStdString();
                    toEngine = true;
                }
            }
            if (!toEngine || !withFormats)
                break;
            // Nothing was written: the file is as it was.
            book->close(false);
            EXPECT_TRUE(gm::test::readAll(path) == gm::test::readAll(source));
            withFormats = false;
        }
        if (!book)
            continue;
        if (toEngine) {
            // Left to the engine: the file is not touched.
            book->close(false);
            EXPECT_TRUE(gm::test::readAll(path) == gm::test::readAll(source));
            ++needEngine;
            continue;
        }
        ASSERT_NO_THROW(book->close(true));
        results.append({source, path});

        const QByteArray original = workbookStreamOf(source);
        const QByteArray result = workbookStreamOf(path);
        EXPECT_TRUE(untouchedRecords(result) == untouchedRecords(original)) << "a record outside the cells changed";
        EXPECT_EQ(formatRecords(result).mid(0, formatRecords(original).size()), formatRecords(original));
        EXPECT_LE(formatRecords(result).size(), formatRecords(original).size() + 3 * written[path].size()); // prefix, percent, date per sheet
        // A checksum that held still holds, over the records added too, and the extensions
        // of the original records stay, any new ones for the added records only; one that
        // did not hold is left as it was.
        const QList<QByteArray> extensionsBefore = formatRecords(original, kXfExtType);
        const QList<QByteArray> extensionsAfter = formatRecords(result, kXfExtType);
        EXPECT_EQ(extensionsAfter.mid(0, extensionsBefore.size()), extensionsBefore);
        for (const QByteArray &extension : extensionsAfter.mid(extensionsBefore.size()))
            EXPECT_TRUE(
                u16(extension, 14) >= formatRecords(original).size() && u16(extension, 14) < formatRecords(result).size());
        if (xfChecksumHolds(original)) {
            EXPECT_TRUE(xfChecksumHolds(result));
            checksums += formatRecords(result).size() > formatRecords(original).size() ? 1 : 0;
        } else {
            EXPECT_EQ(storedXfChecksum(result), storedXfChecksum(original));
            EXPECT_EQ(extensionsAfter, extensionsBefore);
        }
        EXPECT_LE(positionHits(result).count(false), positionHits(original).count(false));
        EXPECT_EQ(strayStringIndexEntries(result), 0);

        // Our reader: the written values and formats, every other cell as it was.
        const WorkbookContent after = readXlsContent(path);
        ExpectedChanges expected;
        for (const auto &[position, writes] : written[path]) {
            for (const Write &w : writes) {
                SCOPED_TRACE(cellName(w.row, w.column).toStdString());
                expected.addCell(position + 1, w.row, w.column);
                const auto cell = after.sheets[position].cells.find(cellKey(w.row, w.column));
                ASSERT_NE(cell, after.sheets[position].cells.end());
                EXPECT_EQ(cell->second.type, w.type);
                EXPECT_EQ(w.type == CellContent::Type::Text ? cell->second.text : cell->second.display(), w.display);
                // Typing sets the format only on a cell formatted General (a column may give
                // new cells a format of their own, which they keep).
                const int format = after.xfNumberFormats.value(cell->second.xf);
                if (w.format >= 0 && format != w.format) {
                    EXPECT_NE(format, 0);
                    formatKept.insert(QStringLiteral("%1:%2:%3").arg(position).arg(w.row).arg(w.column));
                }
            }
            // Stored as the spreadsheet program stores them.
            if (const auto prefixed = cellRecord(result, position, 301, 5); withFormats) {
                ASSERT_TRUE(prefixed);
                EXPECT_EQ(prefixed->type, kLabelSstType);
                EXPECT_TRUE(formatRecords(result)[u16(prefixed->data, 4)][4] & 0x08) << "quote prefix";
            }
            EXPECT_EQ(cellRecord(result, position, 301, 4)->type, kBoolErrType);
            EXPECT_EQ(cellRecord(result, position, 302, 0)->type, kRkType);
            EXPECT_EQ(cellRecord(result, position, 302, 200)->type, kNumberType);
        }
        EXPECT_EQ(contentDifferences(before, after, expected), QStringList());
    }
    EXPECT_GE(results.size(), 45);
    EXPECT_GE(checksums, 20);
    EXPECT_LE(needEngine, 3);

    QStringList sourcePaths, resultPaths;
    for (const auto &[source, path] : results) {
        sourcePaths << source;
        resultPaths << path;
    }
    const std::optional<QJsonObject> before = readByXlrd(sourcePaths);
    if (!before)
        GTEST_SKIP() << "xlrd not installed: only our own reader checked the cells";
    const QJsonObject after = readByXlrd(resultPaths).value_or(QJsonObject());
    int checked = 0;
    for (const auto &[source, path] : results) {
        SCOPED_TRACE(QFileInfo(source).fileName().toStdString());
        const QJsonArray cellsBefore = (*before)[source].toArray();
        if (cellsBefore.isEmpty())
            continue; // xlrd cannot read the original either
        // xlrd numbers worksheets among themselves; cells by (sheet name order, row, column).
        QHash<QString, QJsonArray> byCell;
        for (const QJsonValue &cell : after[path].toArray()) {
            const QJsonArray c = cell.toArray();
            byCell.insert(QStringLiteral("%1:%2:%3").arg(c[0].toInt()).arg(c[1].toInt()).arg(c[2].toInt()), c);
        }
        QSet<QString> writtenCells;
        int worksheet = 0;
        for (const auto &[position, writes] : written[path]) {
            for (const Write &w : writes) {
                const QString key = QStringLiteral("%1:%2:%3").arg(worksheet).arg(w.row).arg(w.column);
                SCOPED_TRACE(key.toStdString());
                writtenCells.insert(key);
                ASSERT_TRUE(byCell.contains(key));
                const QJsonArray c = byCell[key];
                const int type = c[3].toInt(); // xlrd: 1 text, 2 number, 3 date, 4 boolean, 5 error
                switch (w.type) {
                case CellContent::Type::Text:
                    EXPECT_EQ(type, 1);
                    EXPECT_EQ(c[4].toString(), QStringLiteral("'%1'").arg(w.display));
                    break;
                case CellContent::Type::Number:
                    EXPECT_TRUE(type == 2 || type == 3);
                    EXPECT_DOUBLE_EQ(c[4].toString().toDouble(), w.display.toDouble());
                    break;
                case CellContent::Type::Boolean:
                    EXPECT_EQ(type, 4);
                    EXPECT_EQ(c[4].toString(), w.display == QLatin1String("TRUE") ? QStringLiteral("1") : QStringLiteral("0"));
                    break;
                case CellContent::Type::Error:
                    EXPECT_EQ(type, 5);
                    break;
                default:
                    break;
                }
                if (w.format >= 0 && !formatKept.contains(QStringLiteral("%1:%2:%3").arg(position).arg(w.row).arg(w.column))) {
                    EXPECT_EQ(c[5].toInt(), w.format);
                }
            }
            ++worksheet;
        }
        // Every other cell as xlrd read it before.
        int unchanged = 0;
        for (const QJsonValue &cell : cellsBefore) {
            const QJsonArray c = cell.toArray();
            const QString key = QStringLiteral("%1:%2:%3").arg(c[0].toInt()).arg(c[1].toInt()).arg(c[2].toInt());
            if (writtenCells.contains(key))
                continue;
            EXPECT_TRUE(byCell.value(key) == c) << key.toStdString();
            ++unchanged;
        }
        EXPECT_EQ(after[path].toArray().size(), unchanged + writtenCells.size());
        ++checked;
    }
    EXPECT_GE(checked, 35);
}

} // namespace
} // namespace gm::xls
