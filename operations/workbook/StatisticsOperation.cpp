#include "operations/workbook/StatisticsOperation.h"

#include "automation/EngineError.h"
#include "automation/Interruption.h"
#include "automation/RunLog.h"
#include "automation/UsedRange.h"
#include "automation/UserInterface.h"

#include <QElapsedTimer>
#include <QSaveFile>

namespace gm {

namespace {

const QString kProgress = QStringLiteral("正在处理：");
const std::array<QString, kStatisticItems> kUnits{
    QStringLiteral("工作表"), QStringLiteral("非空工作表"), QStringLiteral("行")};

QString itemsText(const std::array<qint64, kStatisticItems> &counts, const std::array<bool, kStatisticItems> &items)
{
    QString text;
    for (int i = 0; i < kStatisticItems; ++i) {
        if (items[size_t(i)])
            text += u'\t' + QString::number(counts[size_t(i)]) + kUnits[size_t(i)];
    }
    return text;
}

} // namespace

WorkbookStatistics countWorkbook(const QString &path)
{
    WorkbookStatistics result;
    for (const SheetUsage &sheet : worksheetUsage(path)) {
        result.counts[0] += 1;
        result.counts[1] += sheet.range.isNonEmpty() ? 1 : 0;
        result.counts[2] += sheet.range.rowCount();
    }
    return result;
}

QByteArray statisticsReport(const QStringList &entries, const std::vector<WorkbookStatistics> &counts,
    const std::array<bool, kStatisticItems> &items)
{
    QString text = QStringLiteral("统计结果：\r\n\r\n");
    std::array<qint64, kStatisticItems> totals{};
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const WorkbookStatistics workbook = size_t(i) < counts.size() ? counts[size_t(i)] : WorkbookStatistics{};
        for (int item = 0; item < kStatisticItems; ++item) {
            if (items[size_t(item)])
                totals[size_t(item)] += workbook.counts[size_t(item)];
        }
        text += entries.at(i) + itemsText(workbook.counts, items) + QStringLiteral("\r\n");
    }
    text += QStringLiteral("\r\n合计：") + itemsText(totals, items) + QStringLiteral("\r\n");
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

RunSummary countContents(const StatisticsInputs &inputs, UserInterface &ui, const RunSettings &settings, bool dryRun,
    std::vector<WorkbookStatistics> *countsOut)
{
    RunSummary summary;
    if (!BatchFrame::checkList(ui, inputs.entries, kStatisticsEmptyList)) {
        summary.stopped = true;
        return summary;
    }
    if (inputs.outputPath.trimmed().isEmpty()) {
        ui.inform(kStatisticsNoOutput);
        summary.stopped = true;
        return summary;
    }

    ui.setBusy(true);
    std::vector<WorkbookStatistics> counts;
    const int total = int(inputs.entries.size());
    for (int i = 0; i < total; ++i) {
        const QString &entry = inputs.entries.at(i);
        FileResult file;
        file.path = entry;
        WorkbookStatistics workbook;
        if (interruptRequested()) {
            // A stopped run counts no further workbook; each one left is reported.
            summary.interrupted = true;
            file = BatchFrame::cancelledEntry(entry);
        } else {
            ui.setStatus(kProgress + entry);
            ui.setProgress(i, total);
            QElapsedTimer clock;
            clock.start();
            try {
                workbook = countWorkbook(entry);
            } catch (const EngineError &error) {
                file.outcome = FileOutcome::Failed;
                file.errorNumber = error.number();
                file.errorDescription = error.description();
            }
            file.milliseconds = clock.elapsed();
        }
        if (file.outcome == FileOutcome::Failed && settings.isRecordError) {
            if (WriteError(settings.logFile, kStatisticsAction, entry, file.errorDescription, settings.createLogFolder))
                summary.logged = true;
            else
                summary.logFailed = true;
        }
        counts.push_back(workbook);
        summary.files.push_back(file);
    }
    ui.setProgress(total, total);
    ui.setStatus(QString());
    summary.cancelled = summary.interrupted && interruptSignal() == 0;
    if (summary.interrupted) {
        // A report that lacks workbooks would read as if they held nothing: none is written.
        ui.setBusy(false);
        if (summary.cancelled) {
            ui.inform(BatchFrame::cancelledMessage(summary));
            if (summary.logged && ui.askOkCancel(kOfferLogQuestion))
                ui.openInViewer(settings.logFile);
        }
        if (countsOut)
            *countsOut = std::move(counts);
        return summary;
    }

    bool written = dryRun;
    if (!dryRun) {
        // The whole report is replaced at once, so an existing file is never left half written.
        QSaveFile output(inputs.outputPath);
        written = output.open(QIODevice::WriteOnly)
                && output.write(statisticsReport(inputs.entries, counts, inputs.items)) >= 0 && output.commit();
    }
    ui.setBusy(false);
    if (!written) {
        ui.inform(kStatisticsOutputFailed + inputs.outputPath);
    } else {
        ui.inform(kStatisticsDone);
        if (!dryRun)
            ui.openInViewer(inputs.outputPath);
    }
    if (summary.logFailed)
        ui.inform(logUnwritableNotice(settings.logFile));
    if (summary.logged && ui.askOkCancel(kOfferLogQuestion))
        ui.openInViewer(settings.logFile);
    if (countsOut)
        *countsOut = std::move(counts);
    return summary;
}

} // namespace gm
