#include "operations/workbook/PrintSetupOperation.h"

#include "operations/Checks.h"

#include "automation/Notation.h"

namespace gm {

Validation validatePrintSetup(const PrintSetupInputs &inputs)
{
    if (!inputs.setArea)
        return std::nullopt;
    if (!IsValidCell(inputs.topLeft))
        return ValidationFailure{QStringLiteral("请输入合法的Excel单元格地址格式，如 A1 "), QStringLiteral("txtPrintF")};
    if (!IsValidCell(inputs.bottomRight))
        return ValidationFailure{QStringLiteral("请输入合法的Excel单元格地址格式，如 G100 "), QStringLiteral("txtPrint2")};
    return std::nullopt;
}

RunSummary setPrintSetup(const PrintSetupInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kPrintSetupEmptyList, [&] { return validatePrintSetup(inputs); }, failed))
        return stoppedRun();
    return runPrintSetup(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runPrintSetup(
    const PrintSetupInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    operation.options.actionName = kPrintSetupAction;
    operation.options.completionMessage = kPrintSetupDone;
    operation.options.testExistence = true; // a missing file is skipped without a log line
    operation.options.use = WorkbookUse::PackageMembers;
    operation.options.saveMode = SaveMode::CloseSaving;
    const QString area = inputs.topLeft + QLatin1Char(':') + inputs.bottomRight;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            // A failure on one worksheet does not stop the others.
            try {
                auto sheet = workbook.worksheet(position);
                if (inputs.setArea) {
                    try {
                        sheet->setPrintArea(area);
                    } catch (const EngineError &e) {
                        context.recordFailure(e);
                    }
                }
                if (inputs.setOrientation)
                    sheet->setOrientation(inputs.landscape ? Orientation::Landscape : Orientation::Portrait);
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
