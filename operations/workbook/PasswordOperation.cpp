#include "operations/workbook/PasswordOperation.h"

#include "operations/Checks.h"

namespace gm {

Validation validatePasswords(const PasswordInputs &inputs)
{
    if (inputs.password != inputs.confirmation)
        return ValidationFailure{kPasswordMismatch, QStringLiteral("txtPassword1")};
    return std::nullopt;
}

bool passwordWanted(const PasswordInputs &inputs)
{
    return !inputs.password.isEmpty();
}

RunSummary setPasswords(const PasswordInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kPasswordEmptyList, [&] { return validatePasswords(inputs); }, failed))
        return stoppedRun();
    if (!passwordWanted(inputs))
        return stoppedRun();
    return runPasswords(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runPasswords(
    const PasswordInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    operation.options.actionName = kPasswordAction;
    operation.options.emptyListMessage = kPasswordEmptyList;
    operation.options.completionMessage = inputs.kind == PasswordKind::Open ? kOpenPasswordDone : kModifyPasswordDone;
    operation.options.testExistence = false; // a missing file fails at opening and is logged
    operation.options.readOnly = inputs.makeWritable ? ReadOnlyPolicy::MakeWritable : ReadOnlyPolicy::Skip;
    operation.options.use = WorkbookUse::DocumentPasswords;
    // Each workbook is saved and closed at once: the file on disk is then encrypted, and a run
    // over hundreds of workbooks holds only one of them in memory.
    operation.options.saveMode = SaveMode::SaveThenClose;
    operation.change = [&](Workbook &workbook, FileContext &) {
        if (inputs.kind == PasswordKind::Open)
            workbook.setPassword(inputs.password);
        else
            workbook.setWritePassword(inputs.password);
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
