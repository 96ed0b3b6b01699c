#include "operations/sheets/SheetBackgroundOperation.h"

#include "operations/Checks.h"

#include <QFileInfo>

namespace gm {

Validation validateSheetBackground(const SheetBackgroundInputs &inputs)
{
    if (inputs.set && (inputs.picturePath.isEmpty() || !QFileInfo(inputs.picturePath).isFile()))
        return ValidationFailure{kChoosePicture, QStringLiteral("txtBackgroudPic")};
    return std::nullopt;
}

RunSummary applySheetBackground(const SheetBackgroundInputs &inputs, UserInterface &ui, const RunSettings &settings,
    ApplicationFactory engineFactory, Validation *failed)
{
    if (!passChecks(
            ui, inputs.entries, kBackgroundEmptyList, [&] { return validateSheetBackground(inputs); }, failed))
        return stoppedRun();
    return runSheetBackground(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runSheetBackground(
    const SheetBackgroundInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    operation.options.actionName = inputs.set ? kSetBackgroundAction : kRemoveBackgroundAction;
    operation.options.emptyListMessage = kBackgroundEmptyList;
    operation.options.completionMessage = kBackgroundDone;
    operation.options.testExistence = false; // a missing entry fails and is reported
    operation.options.showProgress = false;
    operation.options.use = WorkbookUse::PackageMembers;
    operation.options.saveMode = SaveMode::CloseSaving;
    const QString picture = inputs.set ? QFileInfo(inputs.picturePath).absoluteFilePath() : QString();
    operation.change = [picture](Workbook &workbook, FileContext &context) {
        const int count = workbook.sheetCount();
        for (int position = 1; position <= count; ++position) {
            try {
                auto sheet = workbook.sheet(position);
                if (!sheet->isChart())
                    sheet->setBackgroundPicture(picture);
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
