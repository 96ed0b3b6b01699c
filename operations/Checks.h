#pragma once

#include "automation/BatchFrame.h"
#include "operations/Validation.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace gm {

// The checks before a run: Check list, then the operation's own validation (only when the
// list is not empty). The first failure is shown through ui and, for a validation failure,
// handed back in `failed` so that a window can focus its control. False stops the command.
bool passChecks(UserInterface &ui, const QStringList &entries, const QString &emptyListMessage,
    const std::function<Validation()> &validate = {}, Validation *failed = nullptr);

// The summary of a command that stopped at its checks.
RunSummary stoppedRun();

} // namespace gm
