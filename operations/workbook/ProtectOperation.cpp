#include "operations/workbook/ProtectOperation.h"

#include "operations/Checks.h"

namespace gm {

Validation validateProtect(const ProtectInputs &inputs)
{
    if (inputs.protectWorkbook && !inputs.structure && !inputs.windows)
        return ValidationFailure{kProtectNeedsMethod, QStringLiteral("ChkProtectS")};
    return std::nullopt;
}

RunSummary protectWorkbooks(const ProtectInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kProtectEmptyList, [&] { return validateProtect(inputs); }, failed))
        return stoppedRun();
    return runProtect(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runProtect(
    const ProtectInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    // The password's hash takes some 100,000 rounds: made once, used for every file.
    const ProtectionPassword password(inputs.password);

    Operation operation;
    operation.options.actionName = kProtectAction;
    operation.options.completionMessage = kProtectDone;
    operation.options.testExistence = true; // a missing file is skipped without a log line
    operation.options.use = WorkbookUse::Protection;
    operation.options.saveMode = SaveMode::CloseSaving;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        if (inputs.protectWorkbook) {
            workbook.protect(password, inputs.structure, inputs.windows);
            return;
        }
        const int count = workbook.worksheetCount();
        for (int position = 1; position <= count; ++position) {
            // A failure on one worksheet does not stop the others.
            try {
                workbook.worksheet(position)->protect(password, inputs.allowed);
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
