#pragma once

#include <chrono>

namespace gm::lo {

struct EngineLimits
{
    // Per-call limits; file-bound calls add perMegabyte for every MB of the file.
    std::chrono::milliseconds start{30000};
    std::chrono::milliseconds call{20000};
    std::chrono::milliseconds fileBase{60000};
    std::chrono::milliseconds perMegabyte{3000};
};

} // namespace gm::lo
