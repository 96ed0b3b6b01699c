#include "operations/Checks.h"

namespace gm {

bool passChecks(UserInterface &ui, const QStringList &entries, const QString &emptyListMessage,
    const std::function<Validation()> &validate, Validation *failed)
{
    if (!BatchFrame::checkList(ui, entries, emptyListMessage))
        return false;
    if (!validate)
        return true;
    if (Validation invalid = validate()) {
        ui.inform(invalid->message);
        if (failed)
            *failed = invalid;
        return false;
    }
    return true;
}

RunSummary stoppedRun()
{
    RunSummary summary;
    summary.stopped = true;
    return summary;
}

} // namespace gm
