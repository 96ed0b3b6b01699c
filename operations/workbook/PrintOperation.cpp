#include "operations/workbook/PrintOperation.h"

#include "automation/EngineError.h"
#include "automation/PrintQueue.h"
#include "automation/SafeReplace.h"
#include "operations/Checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

namespace gm {

namespace {

// The text without leading and trailing blanks (only the blank: tabs and other spaces stay).
QString withoutOuterBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.mid(first, last - first);
}

// Removes a file when it goes out of scope, whatever way the job ended.
class RemovedAtEnd
{
public:
    explicit RemovedAtEnd(QString path) : m_path(std::move(path)) { }
    ~RemovedAtEnd() { QFile::remove(m_path); }
    RemovedAtEnd(const RemovedAtEnd &) = delete;
    RemovedAtEnd &operator=(const RemovedAtEnd &) = delete;

private:
    QString m_path;
};

} // namespace

QStringList sheetPositionTokens(const QString &text)
{
    const QString trimmed = withoutOuterBlanks(text);
    if (trimmed.isEmpty())
        return {};
    return trimmed.split(QLatin1Char(' '), Qt::KeepEmptyParts);
}

std::optional<int> readShortInteger(const QString &text)
{
    const QString number = text.trimmed();
    if (number.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // half to even, the default rounding mode
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<int>(rounded);
}

Validation validatePrint(const PrintInputs &inputs)
{
    if (inputs.printSheets && withoutOuterBlanks(inputs.sheetIndex).isEmpty())
        return ValidationFailure{kPrintNoSheets, QStringLiteral("txtSheetIndex")};
    if (!readShortInteger(inputs.copies))
        return ValidationFailure{kPrintBadCopies, QStringLiteral("TxtCopy")};
    return std::nullopt;
}

RunSummary printWorkbooks(const PrintInputs &inputs, UserInterface &ui, const RunSettings &settings, const PrintOptions &options,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!BatchFrame::checkList(ui, inputs.entries, kPrintEmptyList))
        return stoppedRun();
    // A dry run queues nothing, so it needs no printer: it lays out the pages all the same.
    const QString printer = resolvePrinter(inputs.printer);
    if (printer.isEmpty() && !options.dryRun) {
        ui.inform(kPrintNoPrinter);
        return stoppedRun();
    }
    if (Validation invalid = validatePrint(inputs)) {
        ui.inform(invalid->message);
        if (failed)
            *failed = invalid;
        return stoppedRun();
    }
    if (*readShortInteger(inputs.copies) < 1)
        return stoppedRun();
    return runPrint(inputs, printer, ui, settings, options, std::move(engineFactory));
}

RunSummary runPrint(const PrintInputs &inputs, const QString &printer, UserInterface &ui, const RunSettings &settings,
    const PrintOptions &options, ApplicationFactory engineFactory)
{
    // Read once, before the engine starts: the same for every workbook.
    const int copies = readShortInteger(inputs.copies).value_or(1);
    const QStringList tokens = inputs.printSheets ? sheetPositionTokens(inputs.sheetIndex) : QStringList();
    // The pages of each job exist only between rendering and queuing.
    const QTemporaryDir scratch(scratchFolderTemplate(QStringLiteral("print")));
    int jobNumber = 0;

    Operation operation;
    operation.options.actionName = kPrintAction;
    operation.options.emptyListMessage = kPrintEmptyList;
    // A dry run sends nothing, so it does not say that it did.
    operation.options.completionMessage = options.dryRun ? QString() : kPrintDone;
    operation.options.testExistence = true; // a missing file is skipped without a log line
    operation.options.use = WorkbookUse::Engine;
    operation.process = [&](FileContext &context) {
        context.ui().setStatus(kPrintProgress + context.path());
        if (!scratch.isValid())
            throw EngineError(ErrorCode::PrintOutputFailed, QStringLiteral("no temporary folder: ") + scratch.errorString());
        // Printing only reads the workbook: a read-only file, or one another program has
        // open, prints as it is.
        std::unique_ptr<Workbook> workbook = context.engines().open(context.path(), WorkbookUse::Engine, true);
        const QString title = QFileInfo(context.path()).fileName();

        // Renders one job's pages and queues them; a sheet or workbook with nothing on it
        // makes no job.
        auto print = [&](const auto &render, const QString &sheetName) {
            const QString pdf = scratch.filePath(QStringLiteral("job%1.pdf").arg(++jobNumber));
            const RemovedAtEnd removed(pdf);
            PrintJob job{context.index(), sheetName, render(pdf), {}};
            if (job.pages == 0)
                return;
            if (!options.dryRun)
                job.jobId = submitPrintJob(
                    pdf, copies, printer, sheetName.isEmpty() ? title : title + QStringLiteral(" - ") + sheetName);
            if (options.jobs)
                options.jobs->push_back(job);
        };

        if (!inputs.printSheets) {
            try {
                print([&](const QString &pdf) { return workbook->exportPdf(pdf); }, QString());
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        } else {
            int count = 0;
            try {
                count = workbook->worksheetCount();
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
            // Each token is one job, in the order typed; a failed one does not stop the rest.
            for (const QString &token : tokens) {
                if (token.isEmpty())
                    continue;
                const std::optional<int> position = readShortInteger(token);
                if (!position) {
                    context.recordFailure(EngineError(ErrorCode::InvalidArgument, QStringLiteral("sheet position ") + token));
                    continue;
                }
                if (*position < 1 || *position > count)
                    continue;
                try {
                    const std::unique_ptr<Worksheet> sheet = workbook->worksheet(*position);
                    print([&](const QString &pdf) { return sheet->exportPdf(pdf); }, sheet->name());
                } catch (const EngineError &e) {
                    context.recordFailure(e);
                }
            }
        }
        workbook->close(false);
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
