// The engine watchdog's limit on a busy machine, with simulated scheduling figures.

#include "automation/lo/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace gm;

TEST(EngineWatchdog, TimeTheEngineWaitedForACpuIsAddedToTheLimitUpToItsStretch)
{
    // The engine's scheduling figures are simulated: a hung engine never waits for a CPU; a
    // starved one waits all the time. The limit is 1.2 s, stretched at most three times.
    using namespace std::chrono;
    struct Case
    {
        const char *name;
        bool starved;
    };
    for (const Case &c : {Case{"hung", false}, Case{"starved", true}}) {
        SCOPED_TRACE(c.name);
        std::atomic<int> expired = 0;
        const auto armedAt = steady_clock::now();
        lo::Watchdog watchdog([&] { ++expired; },
            [&] {
                const qint64 waited = c.starved ? duration_cast<nanoseconds>(steady_clock::now() - armedAt).count() : 0;
                return QHash<int, qint64>{{1, waited}};
            },
            3);
        watchdog.arm(milliseconds(1200));
        while (expired == 0 && steady_clock::now() - armedAt < seconds(20))
            std::this_thread::sleep_for(milliseconds(10));
        const auto firedAfter = steady_clock::now() - armedAt;
        EXPECT_EQ(expired, 1);
        EXPECT_TRUE(watchdog.fired());
        EXPECT_GE(firedAfter, milliseconds(c.starved ? 3600 : 1200));
    }
}
