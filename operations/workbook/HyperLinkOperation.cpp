#include "operations/workbook/HyperLinkOperation.h"

#include "operations/Checks.h"

namespace gm {

RunSummary applyHyperLinks(
    const HyperLinkInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    if (!passChecks(ui, inputs.entries, kHyperLinkEmptyList))
        return stoppedRun();
    return runHyperLinks(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runHyperLinks(
    const HyperLinkInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    switch (inputs.action) {
    case LinkAction::RemoveHyperlinks:
        operation.options.actionName = kRemoveHyperlinksAction;
        operation.options.completionMessage = kRemoveHyperlinksDone;
        break;
    case LinkAction::Share:
        operation.options.actionName = kShareAction;
        operation.options.completionMessage = kShareDone;
        break;
    case LinkAction::Unshare:
        operation.options.actionName = kUnshareAction;
        operation.options.completionMessage = kUnshareDone;
        break;
    }
    operation.options.emptyListMessage = kHyperLinkEmptyList;
    operation.options.testExistence = true; // a missing file is skipped without a log line
    operation.options.readOnly = inputs.skipReadOnly ? ReadOnlyPolicy::Skip : ReadOnlyPolicy::MakeWritable;
    operation.options.use = WorkbookUse::PackageMembers;
    operation.options.saveMode = SaveMode::CloseSaving;
    const LinkAction action = inputs.action;
    operation.change = [action](Workbook &workbook, FileContext &context) {
        switch (action) {
        case LinkAction::RemoveHyperlinks: {
            const int count = workbook.worksheetCount();
            for (int position = 1; position <= count; ++position) {
                // A failure on one worksheet does not stop the others.
                try {
                    workbook.worksheet(position)->deleteHyperlinks();
                } catch (const EngineError &e) {
                    context.recordFailure(e);
                }
            }
            break;
        }
        case LinkAction::Share:
            if (!workbook.multiUserEditing())
                workbook.share();
            break;
        case LinkAction::Unshare:
            if (workbook.multiUserEditing())
                workbook.exclusiveAccess();
            break;
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
