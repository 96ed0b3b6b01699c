#pragma once

#include "automation/BatchFrame.h"

#include <QString>
#include <QStringList>

#include <array>

namespace gm {

// Content statistics: for every listed workbook, its worksheets, its non-empty worksheets and
// the rows of its worksheets' used ranges, one line each in a text report, then a totals line.
// Workbooks are read from their own records and never changed.

constexpr int kStatisticItems = 3;

struct StatisticsInputs
{
    QStringList entries;
    std::array<bool, kStatisticItems> items{}; // worksheets, non-empty worksheets, rows
    QString outputPath; // as typed
};

struct WorkbookStatistics
{
    std::array<qint64, kStatisticItems> counts{};
};

inline const QString kStatisticsEmptyList = QStringLiteral("没有需要统计的文档！");
inline const QString kStatisticsNoOutput = QStringLiteral("请输入统计结果保存文件名称？");
inline const QString kStatisticsDone = QStringLiteral("统计完成！");
inline const QString kStatisticsAction = QStringLiteral("文档统计");
inline const QString kStatisticsOutputFailed = QStringLiteral("无法写入统计结果文件：");

// The three counts of one workbook. Throws EngineError when it cannot be read.
WorkbookStatistics countWorkbook(const QString &path);

// The report: a UTF-8 text with a byte-order mark and CR LF line ends.
QByteArray statisticsReport(const QStringList &entries, const std::vector<WorkbookStatistics> &counts,
    const std::array<bool, kStatisticItems> &items);

// The run: checks the list and the output path (the caller opens the save dialog after
// kStatisticsNoOutput), counts every entry (a failing one counts 0 and is logged), writes the
// report, says so and shows the report in the viewer. With dryRun the report is not written
// and not shown; the summary still tells each entry's outcome.
RunSummary countContents(const StatisticsInputs &inputs, UserInterface &ui, const RunSettings &settings,
    bool dryRun = false, std::vector<WorkbookStatistics> *counts = nullptr);

} // namespace gm
