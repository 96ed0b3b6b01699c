// Workbook merge into an .xlsx, built by the package editor from real workbooks: the sheets
// arrive in list order under the names the spreadsheet program gives them, each with the
// cells, merged ranges and column widths its source has (read back by openpyxl), empty
// sheets follow the merge's rules, and a failing source is logged while the rest goes on.

#include "automation/BatchFrame.h"
#include "automation/FormulaReferences.h"
#include "operations/workbook/MergeOperation.h"
#include "support/TestSupport.h"
#include "support/WorkbookReader.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace gm {
namespace {

TEST(Merge, BaseNameDropsTheFirstExcelExtensions)
{
    const std::pair<const char *, const char *> cases[] = {{"Sales.xlsx", "Sales"}, {"Old.XLS", "Old"}, {"Q1.xlsm", "Q1m"},
        {"a.xls.xlsx", "a"}, {"report.xlsx.xlsx", "reportx"}, {"无扩展名", "无扩展名"}, {"x.XlSx", "x"}};
    for (const auto &[file, base] : cases) {
        SCOPED_TRACE(file);
        EXPECT_EQ(mergeBaseName(QString::fromUtf8(file)), QString::fromUtf8(base));
    }
}

class MergeTest : public ::testing::Test
{
protected:
    QString corpus(const char *name)
    {
        const QString path = test::corpusFile(QStringLiteral("xlsx/") + QString::fromUtf8(name));
        return path.isEmpty() ? QString() : test::copyInto(path, m_dir.path());
    }
    RunSettings logging()
    {
        RunSettings settings;
        settings.isRecordError = true;
        settings.logFile = m_dir.filePath(QStringLiteral("run.log"));
        return settings;
    }
    QStringList namesOf(const test::ReaderResult &result)
    {
        QStringList names;
        for (const test::ReaderSheet &sheet : result.sheets)
            names.append(sheet.name);
        return names;
    }
    // The merged sheet holds what its source sheet holds, as openpyxl reads both.
    void expectSameContent(const test::ReaderResult &merged, const QString &name, const QString &source, const QString &sheet)
    {
        SCOPED_TRACE((name + QStringLiteral(" <- ") + sheet).toStdString());
        const test::ReaderResult original = test::readWithOpenpyxl(source);
        const test::ReaderSheet *expected = original.sheet(sheet);
        const test::ReaderSheet *got = merged.sheet(name);
        ASSERT_NE(expected, nullptr);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->cells, expected->cells);
        EXPECT_EQ(got->merged, expected->merged);
        EXPECT_EQ(got->widths, expected->widths);
        EXPECT_EQ(got->charts, expected->charts);
        EXPECT_EQ(got->images, expected->images);
    }

    QTemporaryDir m_dir;
};

TEST_F(MergeTest, SheetsArriveInListOrderWithTheirContentAndAFailingSourceIsLogged)
{
    const QString format = corpus("format01.xlsx"); // Sheet1, an empty "Data Sheet", Sheet3
    const QString merged = corpus("merge_range02.xlsx");
    const QString tables = corpus("table02.xlsx"); // Sheet1, Sheet2, with tables
    const QString chart = corpus("chart_bar01.xlsx");
    const QString picture = corpus("image01.xlsx"); // a picture on a sheet without cells: empty
    if (format.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString cjk = test::copyInto(test::fixture(QStringLiteral("sheets_second_active.xlsx")), m_dir.path(),
        QStringLiteral("各部门销售汇总.xlsx")); // First, 第二
    const QString missing = m_dir.filePath(QStringLiteral("missing.xlsx"));

    MergeInputs inputs;
    inputs.entries = {format, merged, cjk, tables, missing, chart, picture};
    inputs.targetPath = m_dir.filePath(QStringLiteral("合并.xlsx"));
    test::ScriptedUi ui;
    MergeResult result;
    const RunSummary summary = mergeWorkbooks(inputs, ui, logging(), false, &result);

    ASSERT_EQ(summary.files.size(), 7u);
    for (size_t i = 0; i < summary.files.size(); ++i) {
        SCOPED_TRACE(summary.files[i].path.toStdString());
        EXPECT_EQ(summary.files[i].path, inputs.entries[qsizetype(i)]);
        EXPECT_EQ(summary.files[i].outcome, summary.files[i].path == missing ? FileOutcome::Failed : FileOutcome::Processed);
    }
    EXPECT_TRUE(summary.logged);
    const QString log = QString::fromUtf8(test::readAll(m_dir.filePath(QStringLiteral("run.log"))));
    EXPECT_TRUE(log.contains(kMergeAction) && log.contains(missing)) << log.toStdString();
    EXPECT_EQ(ui.messages.value(0), kMergeDone);
    EXPECT_TRUE(result.written);

    // Documents are taken from the last to the first and each copy goes in front, so a
    // taken name goes to the copy that comes earlier. The picture sheet is empty and left
    // out; the new workbook's own empty sheet stays, being the last one when the last
    // document brought nothing.
    const QStringList expected{QStringLiteral("Sheet1 (5)"), QStringLiteral("Sheet3"), QStringLiteral("Sheet1 (4)"),
        QStringLiteral("First"), QStringLiteral("第二"), QStringLiteral("Sheet1 (3)"), QStringLiteral("Sheet2"),
        QStringLiteral("Sheet1 (2)"), QStringLiteral("Sheet1")};
    EXPECT_EQ(result.sheetNames, expected);
    const test::ReaderResult read = test::readWithOpenpyxl(inputs.targetPath);
    if (!read.available)
        GTEST_SKIP() << "Python with openpyxl not available";
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_EQ(namesOf(read), expected);
    expectSameContent(read, QStringLiteral("Sheet1 (5)"), format, QStringLiteral("Sheet1"));
    expectSameContent(read, QStringLiteral("Sheet3"), format, QStringLiteral("Sheet3"));
    expectSameContent(read, QStringLiteral("Sheet1 (4)"), merged, QStringLiteral("Sheet1"));
    expectSameContent(read, QStringLiteral("第二"), cjk, QStringLiteral("第二"));
    expectSameContent(read, QStringLiteral("Sheet1 (3)"), tables, QStringLiteral("Sheet1"));
    expectSameContent(read, QStringLiteral("Sheet2"), tables, QStringLiteral("Sheet2"));
    expectSameContent(read, QStringLiteral("Sheet1 (2)"), chart, QStringLiteral("Sheet1"));
    EXPECT_TRUE(read.sheet(QStringLiteral("Sheet1"))->cells.isEmpty());
}

TEST_F(MergeTest, BookNamesPrefixTheCopiesAndTooLongNamesAreLoggedWhileEmptySheetsFollowTheRules)
{
    const QString simple = corpus("simple02.xlsx"); // Sheet1, an empty "Data Sheet", Sheet3
    if (simple.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    // With this base name "-第二" makes 29 characters and keeps the prefix; "-First" makes
    // 32, so that copy keeps its own name and the document gets a log line.
    const QString longName = test::copyInto(test::fixture(QStringLiteral("sheets_second_active.xlsx")), m_dir.path(),
        QStringLiteral("二〇二六年第一季度各部门销售汇总与分析报告（最终版）.xlsx"));
    const QString emptyFirst = corpus("defined_name01.xlsx"); // Sheet1, then two empty sheets

    MergeInputs inputs;
    inputs.entries = {emptyFirst, longName, simple};
    inputs.targetPath = m_dir.filePath(QStringLiteral("out.xlsx"));
    inputs.nameByBook = true;
    inputs.skipEmpty = false;
    test::ScriptedUi ui;
    MergeResult result;
    const RunSummary summary = mergeWorkbooks(inputs, ui, logging(), false, &result);

    // The last document's empty sheet goes with the new workbook's own; the first
    // document's empty sheets are merged, as empty sheets are kept.
    EXPECT_EQ(result.sheetNames,
        QStringList({QStringLiteral("defined_name01-Sheet1"), QStringLiteral("defined_name01-Sheet2"),
            QStringLiteral("defined_name01-Sheet 3"), QStringLiteral("First"),
            QStringLiteral("二〇二六年第一季度各部门销售汇总与分析报告（最终版）-第二"), QStringLiteral("simple02-Sheet1 (2)"),
            QStringLiteral("simple02-Sheet3")}));
    ASSERT_EQ(summary.files.size(), 3u);
    EXPECT_EQ(summary.files[0].outcome, FileOutcome::Processed);
    EXPECT_EQ(summary.files[1].outcome, FileOutcome::Failed);
    EXPECT_EQ(summary.files[2].outcome, FileOutcome::Processed);
    const test::ReaderResult read = test::readWithOpenpyxl(inputs.targetPath);
    if (!read.available)
        GTEST_SKIP() << "Python with openpyxl not available";
    EXPECT_EQ(namesOf(read), result.sheetNames);
    expectSameContent(read, QStringLiteral("defined_name01-Sheet1"), emptyFirst, QStringLiteral("Sheet1"));
    expectSameContent(read, QStringLiteral("simple02-Sheet3"), simple, QStringLiteral("Sheet3"));
}

TEST_F(MergeTest, AnExistingTargetIsKeptUnlessReplacingIsConfirmedAndADryRunWritesNothing)
{
    const QString source = test::copyInto(test::fixture(QStringLiteral("sheets_second_active.xlsx")), m_dir.path());
    MergeInputs inputs;
    inputs.entries = {source};
    inputs.targetPath = m_dir.filePath(QStringLiteral("existing.xlsx"));
    test::writeAll(inputs.targetPath, "keep me");

    test::ScriptedUi refusing;
    refusing.yesNoAnswers = {false};
    EXPECT_TRUE(mergeWorkbooks(inputs, refusing, {}).stopped);
    EXPECT_EQ(refusing.questions, QStringList{kMergeOverwrite});
    EXPECT_EQ(test::readAll(inputs.targetPath), QByteArray("keep me"));

    test::ScriptedUi dry;
    MergeResult planned;
    mergeWorkbooks(inputs, dry, {}, /*dryRun=*/true, &planned);
    EXPECT_EQ(planned.sheetNames, QStringList({QStringLiteral("First"), QStringLiteral("第二")}));
    EXPECT_FALSE(planned.written);
    EXPECT_EQ(test::readAll(inputs.targetPath), QByteArray("keep me"));

    test::ScriptedUi confirming;
    confirming.yesNoAnswers = {true};
    MergeResult done;
    mergeWorkbooks(inputs, confirming, {}, false, &done);
    EXPECT_TRUE(done.written);
    EXPECT_TRUE(test::zipEntryNames(inputs.targetPath).contains(QStringLiteral("xl/workbook.xml")));

    // No target: the message, nothing written.
    test::ScriptedUi noTarget;
    inputs.targetPath = QStringLiteral("  ");
    EXPECT_TRUE(mergeWorkbooks(inputs, noTarget, {}).stopped);
    EXPECT_EQ(noTarget.messages, QStringList{kMergeNoTarget});
}

TEST_F(MergeTest, SheetsReadingEachOtherStayTogetherAndTheMergedWorkbookTakesTheFirstTheme)
{
    const QString themed = corpus("theme01.xlsx"); // Sheet1 with a chart, and a theme
    if (themed.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    const QString linked = test::copyInto(test::fixture(QStringLiteral("linked_sheets.xlsx")), m_dir.path());

    struct Case
    {
        bool nameByBook;
        const char *data;
        const char *other;
        const char *calc;
    };
    const Case cases[] = {{false, "Data", "Other Sheet", "Calc"},
        {true, "linked_sheets-Data", "linked_sheets-Other Sheet", "linked_sheets-Calc"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nameByBook);
        MergeInputs inputs;
        inputs.entries = {themed, linked};
        inputs.nameByBook = c.nameByBook;
        inputs.targetPath = m_dir.filePath(QStringLiteral("merged-%1.xlsx").arg(c.nameByBook));
        test::ScriptedUi ui;
        MergeResult result;
        const RunSummary summary = mergeWorkbooks(inputs, ui, logging(), false, &result);
        ASSERT_EQ(summary.failedCount(), 0);
        const QString data = QString::fromUtf8(c.data);
        const QString other = QString::fromUtf8(c.other);
        const QString calc = QString::fromUtf8(c.calc);
        EXPECT_EQ(result.sheetNames.mid(1), QStringList({data, other, calc}));

        // The formulas of Calc read the merged copies; nothing leads outside the workbook.
        const QByteArray workbook = test::zipEntry(inputs.targetPath, QStringLiteral("xl/workbook.xml"));
        EXPECT_FALSE(workbook.contains("externalReference"));
        const test::ReaderResult read = test::readWithOpenpyxl(inputs.targetPath);
        if (!read.available)
            GTEST_SKIP() << "Python with openpyxl not available";
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        const test::ReaderSheet *copy = read.sheet(calc);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->cells.value(QStringLiteral("A1")).toString(), u'=' + formula::qualifier(data) + QStringLiteral("A1*2"));
        EXPECT_EQ(copy->cells.value(QStringLiteral("A2")).toString(),
            u'=' + formula::qualifier(other) + QStringLiteral("A1+") + formula::qualifier(calc) + QStringLiteral("A1"));

        // The theme is the first document's, with its relationship and content type.
        EXPECT_EQ(test::zipEntry(inputs.targetPath, QStringLiteral("xl/theme/theme1.xml")),
            test::zipEntry(themed, QStringLiteral("xl/theme/theme1.xml")));
        EXPECT_TRUE(test::zipEntry(inputs.targetPath, QStringLiteral("xl/_rels/workbook.xml.rels"))
                        .contains("/relationships/theme\" Target=\"theme/theme1.xml\""));
        EXPECT_TRUE(test::zipEntry(inputs.targetPath, QStringLiteral("[Content_Types].xml"))
                        .contains("PartName=\"/xl/theme/theme1.xml\" "
                                  "ContentType=\"application/vnd.openxmlformats-officedocument.theme+xml\""));
    }
}

// A copy of the workbook `base` whose theme fills its first background with the picture
// `picture`, stored as `picturePart` (a name the workbook may already use for another picture).
QString withThemePicture(const QString &base, const QString &path, const QByteArray &picture, const QString &picturePart)
{
    QList<std::pair<QString, QByteArray>> entries;
    for (const QString &name : test::zipEntryNames(base)) {
        QByteArray bytes = test::zipEntry(base, name);
        if (name == QStringLiteral("xl/theme/theme1.xml")) {
            const qsizetype list = bytes.indexOf("<a:bgFillStyleLst>") + qsizetype(qstrlen("<a:bgFillStyleLst>"));
            const qsizetype end = bytes.indexOf("</a:solidFill>", list) + qsizetype(qstrlen("</a:solidFill>"));
            bytes.replace(list, end - list,
                "<a:blipFill><a:blip xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                "r:embed=\"rIdFill\"/><a:stretch><a:fillRect/></a:stretch></a:blipFill>");
        } else if (name == QStringLiteral("[Content_Types].xml") && !bytes.contains("Extension=\"png\"")) {
            bytes.replace("<Default ", "<Default Extension=\"png\" ContentType=\"image/png\"/><Default ");
        }
        entries.append({name, bytes});
    }
    entries.append({QStringLiteral("xl/theme/_rels/theme1.xml.rels"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rIdFill\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
        "Target=\"../media/"
            + picturePart.section(u'/', -1).toUtf8() + "\"/></Relationships>"});
    entries.append({picturePart, picture});
    test::writeZip(path, entries);
    return path;
}

TEST_F(MergeTest, TheAdoptedThemeBringsItsPicturesAndTheReplacedOneLeavesNone)
{
    const QString firstTheme = corpus("theme01.xlsx");
    const QString lastTheme = corpus("theme02.xlsx");
    const QString firstPicture = corpus("image01.xlsx");
    const QString lastPicture = corpus("image02.xlsx");
    if (firstTheme.isEmpty() || lastTheme.isEmpty() || firstPicture.isEmpty() || lastPicture.isEmpty())
        GTEST_SKIP() << "shared corpus not found (expected beside the project as ../shared/corpus)";
    // Links holds a sheet picture at xl/media/image1.png.
    const QString pictures = test::copyInto(test::fixture(QStringLiteral("links_and_pictures.xlsx")), m_dir.path());
    const QByteArray sheetPicture = test::zipEntry(pictures, QStringLiteral("xl/media/image1.png"));
    const QByteArray firstFill = test::zipEntry(firstPicture, QStringLiteral("xl/media/image1.png"));
    const QByteArray lastFill = test::zipEntry(lastPicture, QStringLiteral("xl/media/image1.png"));
    ASSERT_EQ(QSet<QByteArray>({sheetPicture, firstFill, lastFill}).size(), 3);

    // The first document's theme fills with a picture named as the sheet picture; the last
    // one's theme, adopted first and then replaced, has a picture of its own.
    MergeInputs inputs;
    inputs.entries = {withThemePicture(firstTheme, m_dir.filePath(QStringLiteral("first.xlsx")), firstFill,
                          QStringLiteral("xl/media/image1.png")),
        pictures,
        withThemePicture(
            lastTheme, m_dir.filePath(QStringLiteral("last.xlsx")), lastFill, QStringLiteral("xl/media/image7.png"))};
    inputs.targetPath = m_dir.filePath(QStringLiteral("merged.xlsx"));
    test::ScriptedUi ui;
    MergeResult result;
    ASSERT_EQ(mergeWorkbooks(inputs, ui, logging(), false, &result).failedCount(), 0);

    const QString &merged = inputs.targetPath;
    EXPECT_EQ(test::zipEntry(merged, QStringLiteral("xl/theme/theme1.xml")),
        test::zipEntry(inputs.entries[0], QStringLiteral("xl/theme/theme1.xml")));
    const QByteArray themeRels = test::zipEntry(merged, QStringLiteral("xl/theme/_rels/theme1.xml.rels"));
    EXPECT_TRUE(themeRels.contains("Id=\"rIdFill\"")) << themeRels.toStdString();
    const qsizetype target = themeRels.indexOf("Target=\"../") + 11;
    const QString fill
        = QStringLiteral("xl/") + QString::fromUtf8(themeRels.mid(target, themeRels.indexOf('"', target) - target));
    EXPECT_EQ(test::zipEntry(merged, fill), firstFill) << fill.toStdString();

    // The sheet picture is there once; the replaced theme's picture is gone; pictures have
    // their content type.
    int sheetPictures = 0;
    for (const QString &name : test::zipEntryNames(merged)) {
        const QByteArray bytes = test::zipEntry(merged, name);
        sheetPictures += bytes == sheetPicture;
        EXPECT_NE(bytes, lastFill) << name.toStdString();
    }
    EXPECT_EQ(sheetPictures, 1);
    EXPECT_TRUE(test::zipEntry(merged, QStringLiteral("[Content_Types].xml")).contains("Extension=\"png\""));

    const test::ReaderResult read = test::readWithOpenpyxl(merged);
    if (!read.available)
        GTEST_SKIP() << "Python with openpyxl not available";
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    expectSameContent(read, QStringLiteral("Links"), pictures, QStringLiteral("Links"));
}

} // namespace
} // namespace gm
