// Content statistics on the shared corpus: the counts of every .xlsx compared with a test-side
// reading of the package (pugixml over whole parts), the boxes of Excel-made files compared
// with the dimension Excel stored, .xls ranges against the cells of the separate content
// reader, and the report file.

#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "automation/UsedRange.h"
#include "automation/xls/XlsContent.h"
#include "operations/workbook/StatisticsOperation.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <algorithm>
#include <climits>

using namespace gm;

namespace {

QStringList workbooksIn(const QString &folder, const QStringList &patterns)
{
    QStringList result;
    for (const QString &name : QDir(folder).entryList(patterns, QDir::Files, QDir::Name))
        result << folder + u'/' + name;
    return result;
}

pugi::xml_document parse(const QByteArray &bytes)
{
    pugi::xml_document document;
    document.load_buffer(bytes.constData(), size_t(bytes.size()));
    return document;
}

// "AB12" to 0-based (row, column); row -1 when it is none.
std::pair<int, int> cellOf(const char *ref)
{
    int column = 0;
    int i = 0;
    while (ref[i] >= 'A' && ref[i] <= 'Z')
        column = column * 26 + (ref[i++] - 'A' + 1);
    const int row = ref[i] ? atoi(ref + i) : 0;
    return {row - 1, column - 1};
}

QString resolve(const QString &base, const QString &target)
{
    if (target.startsWith(u'/'))
        return target.mid(1);
    if (!base.contains(u'/'))
        return QDir::cleanPath(target);
    return QDir::cleanPath(QFileInfo(base).path() + u'/' + target).remove(QRegularExpression(QStringLiteral("^\\./")));
}

QString relsOf(const QString &part)
{
    const QFileInfo info(part);
    if (part.isEmpty())
        return QStringLiteral("_rels/.rels");
    return (info.path() == QStringLiteral(".") ? QString() : info.path() + u'/') + QStringLiteral("_rels/")
            + info.fileName() + QStringLiteral(".rels");
}

struct Rel
{
    QString type;
    QString part;
};

std::map<QString, Rel> relationships(const QString &path, const QString &part)
{
    std::map<QString, Rel> result;
    const QByteArray bytes = test::zipEntry(path, relsOf(part));
    const pugi::xml_document document = parse(bytes);
    for (pugi::xml_node r : document.document_element().children("Relationship"))
        result[QString::fromUtf8(r.attribute("Id").value())] = {QString::fromUtf8(r.attribute("Type").value()),
            resolve(part, QString::fromUtf8(r.attribute("Target").value()))};
    return result;
}

struct Box
{
    int r0 = INT_MAX, r1 = -1, c0 = INT_MAX, c1 = -1;
    bool value = false;
    void cell(int r, int c) { row(r), column(c); }
    void row(int r) { r0 = std::min(r0, r), r1 = std::max(r1, r); }
    void column(int c) { c0 = std::min(c0, c), c1 = std::max(c1, c); }
};

bool on(const pugi::xml_node &node, const char *name)
{
    const QByteArray v = node.attribute(name).value();
    return v == "1" || v == "true";
}

bool nonZero(const pugi::xml_node &node, const char *name)
{
    const QByteArray v = node.attribute(name).value();
    return !v.isEmpty() && v != "0";
}

// One worksheet read whole with pugixml: (rows, non-empty) by the used-range rule.
std::pair<int, bool> sheetCounts(const QString &path, const QString &part)
{
    const pugi::xml_document document = parse(test::zipEntry(path, part));
    const pugi::xml_node sheet = document.document_element();
    Box box;
    int row = -1;
    for (pugi::xml_node r : sheet.child("sheetData").children("row")) {
        row = r.attribute("r") ? r.attribute("r").as_int() - 1 : row + 1;
        if (on(r, "customHeight") || on(r, "customFormat") || on(r, "hidden") || nonZero(r, "outlineLevel"))
            box.row(row);
        int column = -1;
        for (pugi::xml_node c : r.children("c")) {
            int cellRow = row;
            int cellColumn = column + 1;
            if (c.attribute("r"))
                std::tie(cellRow, cellColumn) = cellOf(c.attribute("r").value());
            column = cellColumn;
            const bool hasValue = c.child("v") || c.child("f") || c.child("is");
            box.value = box.value || hasValue;
            if (hasValue || nonZero(c, "s"))
                box.cell(cellRow, cellColumn);
        }
    }
    int styledColumn = -1;
    for (pugi::xml_node col : sheet.child("cols").children("col"))
        if (nonZero(col, "style") && !on(col, "collapsed"))
            styledColumn = std::max(styledColumn, std::min(col.attribute("max").as_int(), 16384) - 1);
    if (styledColumn >= 0)
        box.column(styledColumn);
    for (const auto &[id, rel] : relationships(path, part)) {
        if (!rel.type.endsWith(QStringLiteral("/comments")))
            continue;
        const pugi::xml_document comments = parse(test::zipEntry(path, rel.part));
        for (pugi::xml_node c : comments.document_element().child("commentList").children("comment")) {
            const auto [r, col] = cellOf(c.attribute("ref").value());
            box.cell(r, col);
        }
    }
    int r0 = box.r1 < 0 ? 0 : box.r0, r1 = box.r1 < 0 ? 0 : box.r1;
    int c0 = box.c1 < 0 ? 0 : box.c0, c1 = box.c1 < 0 ? 0 : box.c1;
    if (const char *ref = sheet.child("dimension").attribute("ref").value(); *ref) {
        const QByteArray text(ref);
        const QList<QByteArray> corners = text.split(':');
        const auto [dr0, dc0] = cellOf(corners.first().constData());
        const auto [dr1, dc1] = cellOf(corners.last().constData());
        if (dr0 <= r0 && dr1 >= r1 && dc0 <= c0 && dc1 >= c1 && dr0 >= 0)
            std::tie(r0, r1, c0, c1) = std::tie(dr0, dr1, dc0, dc1);
    }
    return {r1 - r0 + 1, r1 > r0 || c1 > c0 || box.value};
}

// Worksheets, non-empty worksheets and rows of an .xlsx, read independently.
WorkbookStatistics packageCounts(const QString &path)
{
    WorkbookStatistics result;
    QString workbookPart;
    for (const auto &[id, rel] : relationships(path, QString()))
        if (rel.type.endsWith(QStringLiteral("/officeDocument")))
            workbookPart = rel.part;
    const auto rels = relationships(path, workbookPart);
    const pugi::xml_document workbook = parse(test::zipEntry(path, workbookPart));
    for (pugi::xml_node sheet : workbook.document_element().child("sheets").children("sheet")) {
        const Rel &rel = rels.at(QString::fromUtf8(sheet.attribute("r:id").value()));
        if (!rel.type.endsWith(QStringLiteral("/worksheet")))
            continue;
        const auto [rows, nonEmpty] = sheetCounts(path, rel.part);
        result.counts[0] += 1;
        result.counts[1] += nonEmpty ? 1 : 0;
        result.counts[2] += rows;
    }
    return result;
}

} // namespace

TEST(Statistics, XlsxCountsMatchAnIndependentReadingOfTheWholeCorpus)
{
    GM_REQUIRE_CORPUS(folder, "xlsx");
    const QStringList files = workbooksIn(folder, {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")});
    ASSERT_GT(files.size(), 50);
    int compared = 0;
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const WorkbookStatistics expected = packageCounts(file);
        const WorkbookStatistics counted = countWorkbook(file);
        EXPECT_EQ(counted.counts, expected.counts);
        ++compared;
    }
    EXPECT_EQ(compared, files.size());
}

TEST(Statistics, BoxesOfExcelMadeFilesAreTheDimensionsExcelStored)
{
    GM_REQUIRE_CORPUS(folder, "xlsx");
    // XlsxWriter's comparison files were saved by Excel, which writes the used range it
    // computed as the dimension; the box computed without looking at it must be the same.
    int compared = 0;
    for (const QString &file : workbooksIn(folder, {QStringLiteral("*.xlsx")})) {
        if (QFileInfo(file).fileName().startsWith(QStringLiteral("poi-")))
            continue;
        const QList<SheetUsage> box = worksheetUsage(file, false);
        const QList<SheetUsage> stored = worksheetUsage(file, true);
        ASSERT_EQ(box.size(), stored.size());
        for (qsizetype i = 0; i < box.size(); ++i) {
            SCOPED_TRACE((QFileInfo(file).fileName() + u' ' + box[i].name).toStdString());
            EXPECT_EQ(box[i].range.firstRow, stored[i].range.firstRow);
            EXPECT_EQ(box[i].range.lastRow, stored[i].range.lastRow);
            EXPECT_EQ(box[i].range.lastColumn, stored[i].range.lastColumn);
            ++compared;
        }
    }
    EXPECT_GT(compared, 50);

    // Cases Excel settled: a note beside a value, a styled column beyond the data.
    const struct
    {
        const char *file;
        int rows;
        bool nonEmpty;
    } known[] = {{"comment01.xlsx", 2, true}, {"set_column03.xlsx", 6, true}};
    for (const auto &k : known) {
        SCOPED_TRACE(k.file);
        const QString file = folder + u'/' + QString::fromLatin1(k.file);
        const QList<SheetUsage> sheets = worksheetUsage(file, false);
        ASSERT_FALSE(sheets.isEmpty());
        EXPECT_EQ(sheets[0].range.rowCount(), k.rows);
        EXPECT_EQ(sheets[0].range.isNonEmpty(), k.nonEmpty);
    }
}

TEST(Statistics, XlsRangesHoldEveryCellOfTheContentReader)
{
    GM_REQUIRE_CORPUS(folder, "xls");
    int compared = 0;
    for (const QString &file : workbooksIn(folder, {QStringLiteral("*.xls")})) {
        SCOPED_TRACE(file.toStdString());
        xls::WorkbookContent content;
        try {
            content = xls::readXlsContent(file);
        } catch (const EngineError &) {
            EXPECT_THROW(countWorkbook(file), EngineError);
            continue;
        }
        const QList<SheetUsage> sheets = worksheetUsage(file);
        QList<const xls::SheetContent *> worksheets;
        for (const xls::SheetContent &sheet : content.sheets)
            if (sheet.type == 0)
                worksheets << &sheet;
        ASSERT_EQ(sheets.size(), worksheets.size());
        for (qsizetype i = 0; i < sheets.size(); ++i) {
            SCOPED_TRACE(sheets[i].name.toStdString());
            EXPECT_EQ(sheets[i].name, worksheets[i]->name);
            const UsedRange &range = sheets[i].range;
            bool anyValue = false;
            for (const auto &[key, cell] : worksheets[i]->cells) {
                const int row = int(key >> 16);
                const int column = int(key & 0xFFFF);
                EXPECT_TRUE(row >= range.firstRow && row <= range.lastRow && column >= range.firstColumn
                        && column <= range.lastColumn)
                        << xls::cellName(row, column).toStdString();
                anyValue = anyValue || cell.type != xls::CellContent::Type::Blank;
            }
            if (anyValue) {
                EXPECT_TRUE(range.isNonEmpty());
            }
            if (worksheets[i]->cells.empty()) {
                EXPECT_EQ(range.rowCount(), worksheetUsage(file, false)[i].range.rowCount());
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 40);
}

TEST(Statistics, ReportCarriesTheTickedItemsAndAFailingWorkbookCountsZero)
{
    GM_REQUIRE_CORPUS(xlsx, "xlsx/comment01.xlsx");
    GM_REQUIRE_CORPUS(xls, "xls/poi-chinese-provinces.xls");
    QTemporaryDir dir;
    const QString missing = dir.path() + QStringLiteral("/缺少.xlsx");
    StatisticsInputs inputs;
    inputs.entries = {xlsx, missing, xls};
    inputs.items = {true, false, true};
    inputs.outputPath = dir.path() + QStringLiteral("/统计.txt");
    RunSettings settings;
    settings.isRecordError = true;
    settings.logFile = dir.path() + QStringLiteral("/log.txt");
    test::ScriptedUi ui;
    ui.okCancelAnswers = {true};
    std::vector<WorkbookStatistics> counts;
    const RunSummary summary = countContents(inputs, ui, settings, false, &counts);

    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.failedCount(), 1);
    EXPECT_TRUE(summary.logged);
    EXPECT_EQ(ui.messages.value(0), kStatisticsDone);
    EXPECT_EQ(ui.opened, (QStringList{inputs.outputPath, settings.logFile}));
    const QByteArray report = test::readAll(inputs.outputPath);
    ASSERT_TRUE(report.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(report.mid(3)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 8); // title, empty, three workbooks, empty, totals, "" after the last CR LF
    EXPECT_EQ(lines[0], QStringLiteral("统计结果："));
    EXPECT_EQ(lines[1], QString());
    const auto line = [](const QString &entry, qint64 sheets, qint64 rows) {
        return entry + QStringLiteral("\t%1工作表\t%2行").arg(sheets).arg(rows);
    };
    EXPECT_EQ(lines[2], line(xlsx, counts[0].counts[0], counts[0].counts[2]));
    EXPECT_EQ(lines[3], line(missing, 0, 0));
    EXPECT_EQ(lines[4], line(xls, counts[2].counts[0], counts[2].counts[2]));
    EXPECT_EQ(lines[6], QStringLiteral("合计：\t%1工作表\t%2行")
                                .arg(counts[0].counts[0] + counts[2].counts[0])
                                .arg(counts[0].counts[2] + counts[2].counts[2]));
    EXPECT_EQ(counts[0].counts[2], 2);
    EXPECT_GT(counts[2].counts[0], 0);

    // A dry run writes nothing; an empty output path stops before counting.
    QFile::remove(inputs.outputPath);
    test::ScriptedUi dryUi;
    countContents(inputs, dryUi, RunSettings{}, true);
    EXPECT_FALSE(QFileInfo::exists(inputs.outputPath));
    inputs.outputPath = QStringLiteral("  ");
    test::ScriptedUi noOutput;
    EXPECT_TRUE(countContents(inputs, noOutput, RunSettings{}).stopped);
    EXPECT_EQ(noOutput.messages, QStringList{kStatisticsNoOutput});
}

TEST(Statistics, ACancelledRunCountsNoFurtherWorkbookAndWritesNoReport)
{
    QTemporaryDir dir;
    QStringList entries;
    for (const char *name : {"a.xlsx", "b.xlsx", "c.xlsx"})
        entries << test::copyInto(
            test::fixture(QStringLiteral("sheets_second_active.xlsx")), dir.path(), QString::fromLatin1(name));
    StatisticsInputs inputs;
    inputs.entries = entries;
    inputs.items = {true, true, true};
    inputs.outputPath = dir.path() + QStringLiteral("/统计.txt");
    RunSettings settings;
    settings.isRecordError = true;
    settings.logFile = dir.path() + QStringLiteral("/log.txt");
    test::ScriptedUi ui;
    // Cancelled while the second workbook is counted: that one ends, the third is not started.
    ui.onStatus = [](const QString &status) {
        if (status.endsWith(QStringLiteral("b.xlsx")))
            requestCancel();
    };
    std::vector<WorkbookStatistics> counts;
    const RunSummary summary = countContents(inputs, ui, settings, false, &counts);
    clearInterruptRequest();

    EXPECT_TRUE(summary.cancelled);
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_NE(summary.files[1].outcome, FileOutcome::Failed);
    EXPECT_GT(counts[1].counts[0], 0);
    EXPECT_EQ(summary.files[2].errorNumber, int(ErrorCode::Interrupted));
    EXPECT_FALSE(QFileInfo::exists(inputs.outputPath));
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("运行已取消：已处理 2 个文件，其余 1 个文件未处理。")});
    EXPECT_EQ(ui.questions, QStringList{kOfferLogQuestion});
    const QString logged = QString::fromUtf8(test::readAll(settings.logFile));
    EXPECT_EQ(logged.count(QStringLiteral("\r\n")), 1);
    EXPECT_TRUE(logged.contains(entries[2]));
}
