#pragma once

#include <QString>

#include <optional>

namespace gm {

// The first failing input check of an operation: the message to show and the objectName of
// the control that gets the focus (empty when no control is concerned).
struct ValidationFailure
{
    QString message;
    QString control;
};

using Validation = std::optional<ValidationFailure>;

} // namespace gm
