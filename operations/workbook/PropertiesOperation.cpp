#include "operations/workbook/PropertiesOperation.h"

#include "operations/Checks.h"

namespace gm {

DocumentProperty propertyOfPair(int index)
{
    static constexpr DocumentProperty order[kPropertyCount] = {
        DocumentProperty::Title,
        DocumentProperty::Subject,
        DocumentProperty::Author,
        DocumentProperty::Category,
        DocumentProperty::Keywords,
        DocumentProperty::Comments,
        DocumentProperty::Manager,
        DocumentProperty::Company,
        DocumentProperty::HyperlinkBase,
    };
    return order[index];
}

int propertyMask(const std::array<bool, kPropertyCount> &checked)
{
    int mask = 0;
    for (int i = 0; i < kPropertyCount; ++i)
        mask |= checked[static_cast<size_t>(i)] ? 1 << i : 0;
    return mask;
}

std::array<bool, kPropertyCount> propertyChecks(int mask)
{
    std::array<bool, kPropertyCount> checked{};
    for (int i = 0; i < kPropertyCount; ++i)
        checked[static_cast<size_t>(i)] = (mask >> i) & 1;
    return checked;
}

RunSummary setProperties(
    const PropertiesInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    if (!passChecks(ui, inputs.entries, kPropertiesEmptyList))
        return stoppedRun();
    return runProperties(inputs, ui, settings, std::move(engineFactory));
}

RunSummary runProperties(
    const PropertiesInputs &inputs, UserInterface &ui, const RunSettings &settings, ApplicationFactory engineFactory)
{
    Operation operation;
    operation.options.actionName = kPropertiesAction;
    operation.options.completionMessage = kPropertiesDone;
    operation.options.testExistence = false; // a missing file fails and is logged
    operation.options.use = WorkbookUse::DocumentProperties;
    operation.options.saveMode = SaveMode::SaveThenClose;
    operation.change = [&](Workbook &workbook, FileContext &context) {
        // A property that fails does not stop the others.
        for (int i = 0; i < kPropertyCount; ++i) {
            if (!inputs.checked[static_cast<size_t>(i)])
                continue;
            try {
                workbook.setBuiltinProperty(propertyOfPair(i), inputs.values[static_cast<size_t>(i)]);
            } catch (const EngineError &e) {
                context.recordFailure(e);
            }
        }
    };
    BatchFrame frame(ui, settings, std::move(engineFactory));
    return frame.run(inputs.entries, operation);
}

} // namespace gm
