// Memory of a run: blocks freed by one file are reused by the next instead of being mapped
// afresh from the system.

#include "automation/RunMemory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace gm {
namespace {

TEST(RunMemory, LargeBlocksComeFromTheHeapAndStayThereWhenFreed)
{
#if !defined(__GLIBC__)
    GTEST_SKIP() << "only the GNU C library is tuned";
#else
    keepFreedMemoryForReuse();
    keepFreedMemoryForReuse(); // a second run changes nothing
    for (const size_t size : {size_t(512) << 10, size_t(8) << 20, size_t(30) << 20}) {
        SCOPED_TRACE(size);
        const struct mallinfo2 before = mallinfo2();
        void *block = std::malloc(size);
        ASSERT_NE(block, nullptr);
        std::memset(block, 1, size);
        // Not a mapping of its own (those are counted in hblks) ...
        EXPECT_EQ(mallinfo2().hblks, before.hblks);
        std::free(block);
        // ... and still the process's after it is freed: the heap did not shrink below it.
        EXPECT_GE(mallinfo2().arena, size);
    }
#endif
}

} // namespace
} // namespace gm
