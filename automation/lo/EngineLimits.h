#pragma once

#include <chrono>

namespace gm::lo {

struct EngineLimits
{
    // Per-call limits; file-bound calls add perMegabyte for every MB of the file. start covers
    // the engine's start up to the first answer, and each of the calls that set it up.
    std::chrono::milliseconds start{30000};
    std::chrono::milliseconds call{20000};
    std::chrono::milliseconds fileBase{60000};
    std::chrono::milliseconds perMegabyte{3000};
    // Time the engine spent waiting for a CPU on a busy machine is added to a limit, so that
    // a slow machine does not fail files; but never beyond this multiple of the limit.
    int maxStretch = 10;
};

} // namespace gm::lo
