// Hidden rows and row heights written into .xls workbooks by the record editor, over every
// corpus workbook: only the row records, the row blocks' DBCELL and INDEX records and the
// default row differ afterwards, every other record is the same, every stream position still
// hits its record, and xlrd (an independent reader) and the value-level guard see the same
// cells with the rows hidden and sized as asked.

#include "BiffTestSupport.h"

#include "automation/EngineError.h"
#include "automation/xls/SaveGuard.h"
#include "automation/xls/XlsDocument.h"
#include "automation/xls/XlsWorkbook.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <optional>

namespace gm::xls {
namespace {

using namespace gm::xls::test;

const QList<int> probedRows{1, 2, 3, 4, 5, 7, 8, 33, 40, 45, 46, 100, 65536};

// By path, per worksheet: every cell (row, column, type, value) and [height in twips, hidden]
// of the probed rows, a row without a record taking the default row; an empty array for a
// file xlrd cannot read. Nothing when xlrd is missing.
std::optional<QJsonObject> readByXlrd(const QStringList &paths)
{
    const QString script
        = QStringLiteral("import json, sys\n"
                         "import xlrd\n"
                         "probe = [int(x) for x in sys.argv[1].split(',')]\n"
                         "result = {}\n"
                         "for path in sys.argv[2:]:\n"
                         "    try:\n"
                         "        book = xlrd.open_workbook(path, formatting_info=True)\n"
                         "    except Exception:\n"
                         "        result[path] = []; continue\n"
                         "    out = []\n"
                         "    for s in book.sheets():\n"
                         "        cells = [[r, c, s.cell_type(r, c), repr(s.cell_value(r, c))] for r in range(s.nrows)\n"
                         "                 for c in range(s.ncols) if s.cell_type(r, c) != xlrd.XL_CELL_EMPTY]\n"
                         "        rows = {}\n"
                         "        for n in probe:\n"
                         "            info = s.rowinfo_map.get(n - 1)\n"
                         "            rows[str(n)] = [info.height, int(info.hidden)] if info else \\\n"
                         "                [s.default_row_height, int(bool(s.default_row_hidden))]\n"
                         "        out.append({'name': s.name, 'cells': cells, 'rows': rows})\n"
                         "    result[path] = out\n"
                         "print(json.dumps(result))\n");
    QStringList probe;
    for (int row : probedRows)
        probe << QString::number(row);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script, probe.join(u',')} + paths);
    if (!python.waitForFinished(600000) || python.exitCode() != 0) {
        if (python.readAllStandardError().contains("No module named 'xlrd'") || python.error() == QProcess::FailedToStart)
            return std::nullopt;
        ADD_FAILURE() << "xlrd failed";
        return QJsonObject();
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// The records that must come out as they were, in order, stream positions blanked.
QList<QPair<quint16, QByteArray>> untouchedRecords(const QByteArray &stream)
{
    QList<QPair<quint16, QByteArray>> kept;
    for (const RawRecord &record : rawRecords(stream)) {
        if (record.type != 0x0208 && record.type != 0x00D7 && record.type != 0x020B && record.type != 0x0225)
            kept.append({record.type, withoutPositions(record).data});
    }
    return kept;
}

// Positions that do not hit their record, DBCELLs whose dbRtrw does not lead back to a ROW
// included.
int unresolvedPositions(const QByteArray &stream)
{
    const QList<bool> hits = positionHits(stream);
    int misses = int(hits.count(false));
    const QList<RawRecord> records = rawRecords(stream);
    QHash<quint32, quint16> typeAt;
    for (const RawRecord &r : records)
        typeAt.insert(r.at, r.type);
    for (const RawRecord &r : records) {
        if (r.type == 0x00D7 && r.data.size() > 4 && typeAt.value(r.at - u32(r.data, 0)) != 0x0208)
            ++misses;
    }
    return misses;
}

struct Scenario
{
    const char *what;
    std::function<void(Worksheet &, int position)> edit;
    // [height, hidden] a probed row must read after the edit, from what it read before.
    std::function<QJsonArray(int position, int row, const QJsonArray &before)> expected;
};

std::string text(const QJsonArray &array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

// A hidden row keeps its height; where the sheet states no default row, a new record has the
// standard 12.75 points.
QJsonArray hidden(const QJsonArray &before)
{
    return QJsonArray{before[0].isNull() ? QJsonValue(255) : before[0], 1};
}

const Scenario scenarios[] = {
    {"runs in the middle",
        [](Worksheet &sheet, int) {
            sheet.setRowsHidden(QStringLiteral("7:3"));
            sheet.setRowHeight(QStringLiteral("2"), 20.1); // snapped to 27 pixels, 20.25 points
            sheet.setRowHeight(QStringLiteral("40:45"), 0);
            sheet.setRowHeight(QStringLiteral("100"), 409.5);
        },
        [](int, int row, const QJsonArray &before) {
            if (row >= 3 && row <= 7)
                return hidden(before);
            if (row >= 40 && row <= 45)
                return hidden(before);
            if (row == 2)
                return QJsonArray{405, 0};
            if (row == 100)
                return QJsonArray{8190, 0};
            return before;
        }},
    {"runs over most of the sheet",
        [](Worksheet &sheet, int position) {
            if (position == 1)
                sheet.setRowsHidden(QStringLiteral("1:65536"));
            else
                sheet.setRowHeight(QStringLiteral("5:65536"), 15);
        },
        [](int position, int row, const QJsonArray &before) {
            if (position == 1)
                return hidden(before);
            return row >= 5 ? QJsonArray{300, 0} : before;
        }},
};

TEST(XlsRows, EveryCorpusWorkbookTakesHiddenRowsAndHeightsAndKeepsEverythingElse)
{
    const QStringList sources = corpusXlsFiles();
    if (sources.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    int edited = 0;
    QList<QPair<QString, QString>> results[std::size(scenarios)]; // source, result
    for (const QString &source : sources) {
        const QString base = QFileInfo(source).completeBaseName();
        SCOPED_TRACE(base.toStdString());
        for (size_t k = 0; k < std::size(scenarios); ++k) {
            const Scenario &scenario = scenarios[k];
            SCOPED_TRACE(scenario.what);
            const QString path = gm::test::copyInto(source, dir.path(), QStringLiteral("%1-%2.xls").arg(base).arg(k));
            std::unique_ptr<Workbook> book;
            try {
                book = openXlsRecords(path);
            } catch (const EngineError &e) {
                // Excel 5.0/95 and encrypted workbooks: refused with a message, untouched.
                EXPECT_FALSE(e.description().isEmpty());
                EXPECT_TRUE(gm::test::readAll(path) == gm::test::readAll(source));
                continue;
            }
            for (int n = 1; n <= book->worksheetCount(); ++n)
                scenario.edit(*book->worksheet(n), n);
            book->close(true);
            ++edited;
            results[k].append({source, path});

            const QByteArray original = workbookStreamOf(source);
            const QByteArray result = workbookStreamOf(path);
            EXPECT_TRUE(untouchedRecords(result) == untouchedRecords(original)) << "a record other than the rows' changed";
            EXPECT_LE(unresolvedPositions(result), unresolvedPositions(original));
            EXPECT_NO_THROW(checkSaveKeepsContent(source, path, {}));
        }
    }

    EXPECT_GE(edited, 100);

    const std::optional<QJsonObject> before = readByXlrd(sources);
    if (!before)
        GTEST_SKIP() << "xlrd not installed: only the records and the guard were checked";
    int checkedByXlrd = 0;
    for (size_t k = 0; k < std::size(scenarios); ++k) {
        const Scenario &scenario = scenarios[k];
        SCOPED_TRACE(scenario.what);
        QStringList paths;
        for (const auto &[source, path] : results[k])
            paths << path;
        const QJsonObject after = readByXlrd(paths).value_or(QJsonObject());
        for (const auto &[source, path] : results[k]) {
            SCOPED_TRACE(QFileInfo(source).fileName().toStdString());
            const QJsonArray sheetsBefore = (*before)[source].toArray();
            if (sheetsBefore.isEmpty())
                continue; // xlrd cannot read the original either
            const QJsonArray sheetsAfter = after[path].toArray();
            ASSERT_EQ(sheetsAfter.size(), sheetsBefore.size());
            ++checkedByXlrd;
            // xlrd lists worksheets only, in the order the record editor counts them.
            for (int s = 0; s < sheetsBefore.size(); ++s) {
                SCOPED_TRACE(sheetsBefore[s][QStringLiteral("name")].toString().toStdString());
                EXPECT_TRUE(sheetsAfter[s][QStringLiteral("cells")] == sheetsBefore[s][QStringLiteral("cells")]);
                const QJsonObject rowsBefore = sheetsBefore[s][QStringLiteral("rows")].toObject();
                const QJsonObject rowsAfter = sheetsAfter[s][QStringLiteral("rows")].toObject();
                for (int row : probedRows) {
                    SCOPED_TRACE(row);
                    const QString key = QString::number(row);
                    EXPECT_EQ(text(rowsAfter[key].toArray()), text(scenario.expected(s + 1, row, rowsBefore[key].toArray())));
                }
            }
        }
    }
    EXPECT_GE(checkedByXlrd, 90);
}

TEST(XlsRows, AWholeSheetRunChangesTheDefaultRowInsteadOfWritingEveryRow)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xls/poi-45538_classic_Header.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(source, dir.path());
    auto rowRecords = [](const QByteArray &stream) {
        const QList<RawRecord> records = rawRecords(stream);
        return std::count_if(records.cbegin(), records.cend(), [](const RawRecord &r) { return r.type == 0x0208; });
    };
    const auto rowsBefore = rowRecords(workbookStreamOf(path));
    {
        auto book = openXlsRecords(path);
        book->worksheet(1)->setRowsHidden(QStringLiteral("1:65536"));
        book->worksheet(2)->setRowHeight(QStringLiteral("3:65536"), 30);
        book->close(true);
    }
    // New records only for the first sheet's used rows that had none (it uses 54) and the
    // second sheet's rows 1 and 2: nowhere near one per row of the sheet.
    EXPECT_LE(rowRecords(workbookStreamOf(path)), rowsBefore + 54 + 2);
    int defaults = 0;
    for (const RawRecord &r : rawRecords(workbookStreamOf(path))) {
        if (r.type != 0x0225)
            continue;
        ++defaults;
        if (defaults == 1) {
            EXPECT_EQ(u16(r.data, 0) & 0x2, 0x2) << "hidden by default";
        } else if (defaults == 2) {
            EXPECT_EQ(u16(r.data, 0) & 0x3, 0x1) << "a height set by hand, shown";
            EXPECT_EQ(u16(r.data, 2), 600);
        }
    }
    EXPECT_GE(defaults, 2);
}

TEST(XlsRows, RefusalsLeaveTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(gm::test::fixture(QStringLiteral("sheets_second_active.xls")), dir.path());
    const QByteArray original = gm::test::readAll(path);
    auto workbook = openXlsRecords(path);
    auto sheet = workbook->worksheet(1);
    struct Case
    {
        const char *what;
        std::function<void()> change;
        ErrorCode code;
    };
    const Case cases[] = {
        {"beyond row 65536", [&] { sheet->setRowsHidden(QStringLiteral("3:65537")); }, ErrorCode::LineRunInvalid},
        {"not rows", [&] { sheet->setRowHeight(QStringLiteral("B:C"), 12); }, ErrorCode::LineRunInvalid},
        {"height above the limit", [&] { sheet->setRowHeight(QStringLiteral("2"), 409.6); }, ErrorCode::LineSizeOutOfRange},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.change();
            ADD_FAILURE() << "not refused";
        } catch (const EngineError &e) {
            EXPECT_EQ(e.code(), c.code);
        }
    }
    workbook->close(true);
    EXPECT_TRUE(gm::test::readAll(path) == original);
}

TEST(XlsRows, ACellTableWithForeignRecordsFailsTheFileUnchanged)
{
    const QString source = gm::test::corpusFile(QStringLiteral("xls/calamine-issues.xls"));
    if (source.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    QTemporaryDir dir;
    const QString path = gm::test::copyInto(source, dir.path());
    {
        // A record no writer puts among the cells: a second DIMENSIONS after the first ROW.
        XlsDocument document(path, false);
        QList<BiffRecord> &records = document.stream().records();
        const BiffSubstream sheet = document.stream().sheetSubstream(0);
        int firstRow = -1, dimensions = -1;
        for (int i = sheet.bof; i < sheet.eof && firstRow < 0; ++i) {
            if (records[i].type == kDimensions)
                dimensions = i;
            if (records[i].type == kRow)
                firstRow = i;
        }
        ASSERT_GE(firstRow, 0);
        ASSERT_GE(dimensions, 0);
        BiffRecord copy = records[dimensions];
        copy.id = 0;
        records.insert(firstRow + 1, copy);
        document.markModified();
        document.save();
    }
    const QByteArray before = gm::test::readAll(path);
    auto workbook = openXlsRecords(path);
    // Rows that have records change in place; a row without one would need the table.
    EXPECT_NO_THROW(workbook->worksheet(1)->setRowsHidden(QStringLiteral("1")));
    try {
        workbook->worksheet(1)->setRowHeight(QStringLiteral("30:31"), 20);
        ADD_FAILURE() << "not refused";
    } catch (const EngineError &e) {
        EXPECT_EQ(e.code(), ErrorCode::XlsCellTableUnsupported);
        EXPECT_FALSE(e.description().isEmpty());
    }
    EXPECT_THROW(workbook->close(true), EngineError);
    EXPECT_TRUE(gm::test::readAll(path) == before);
}

} // namespace
} // namespace gm::xls
