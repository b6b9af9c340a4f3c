#include "captured_trace.h"
#include "core/zqmemory_local.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/mman.h>

namespace {

TEST(MemorySummary, PrintsOnceAndOnlyAfterAnAllocation) {
    CapturedTrace trace;
    MemoryStats stats;
    MemorySummary(stats);
    EXPECT_TRUE(trace.All().empty());

    stats.PeakBytes = 1;
    MemorySummary(stats);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"", "Max memory used : 1 bytes(1 K)", ""}));
    EXPECT_EQ(stats.PeakBytes, 0u);
    trace.Clear();
    MemorySummary(stats);
    EXPECT_TRUE(trace.All().empty());
}

TEST(MemorySummary, RoundsKilobytesUp) {
    CapturedTrace trace;
    MemoryStats stats;
    for (uint32_t bytes : {1024u, 1025u}) {
        stats.PeakBytes = bytes;
        stats.LiveBytes = bytes;
        stats.LiveObjects = 2;
        MemorySummary(stats);
    }
    EXPECT_EQ(
        trace.Lines(),
        (std::vector<std::string>{
            "",
            "Memory leak : There have 2 objects and 1024 bytes(1 K) memory had not be delete!",
            "Max memory used : 1024 bytes(1 K)",
            "",
            "",
            "Memory leak : There have 2 objects and 1025 bytes(2 K) memory had not be delete!",
            "Max memory used : 1025 bytes(2 K)",
            "",
        }));
}

TEST(EndOfProcessReport, SummaryThenPooledThenLargeLeaks) {
    CapturedTrace trace;
    MemoryStats stats;
    {
        // Destroyed in reverse order, as the exit-time handlers run: pool first.
        LargeBlockList large(stats);
        PoolAllocator pool(stats);
        void* large1 = large.Allocate(300, nullptr, 0);        // ID 0
        pool.Allocate(10, "x.cpp", 4);                         // ID 1
        large.Allocate(600, "y.cpp", 9);                       // ID 2
        pool.Free(pool.Allocate(100, nullptr, 0), nullptr, 0); // ID 3
        large.Free(large1, nullptr, 0);
    }
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "",
                  "Memory leak : There have 2 objects and 610 bytes(1 K) memory had not be delete!",
                  "Max memory used : 1014 bytes(1 K)",
                  "",
                  "x.cpp(4) : Memory leak! There have 16 bytes memory had not be delete. Alloc ID "
                  ": 1",
                  "y.cpp(9) : Memory leak! There have 600 bytes(1 K) memory had not be delete. "
                  "Alloc ID : 2",
              }));
}

TEST(MemTrace, CutsLongMessagesToOneTerminatedLine) {
    CapturedTrace trace;
    const std::string path(3000, 'p');
    MemTrace("%s(%d) : done\n", path.c_str(), 1);
    ASSERT_EQ(trace.All().size(), 1023u);
    EXPECT_EQ(trace.All().back(), '\n');
    EXPECT_EQ(trace.Lines().size(), 1u);
}

TEST(GuardReport, UnreadableRecordedFileFallsBackToUnknownPosition) {
    CapturedTrace trace;
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    int data = 0;
    ReportGuardDamage(GuardSide::Rear, nullptr, 0, static_cast<const char*>(page), 3, &data, 5);
    ReportGuardDamage(GuardSide::Front, nullptr, 0, nullptr, 0, &data, 6);
    munmap(page, 4096);
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "Unkown position : Verify pointer(" + Hex(&data) + ") failed! Alloc ID : 5",
                  "Unkown position : Verify pointer(" + Hex(&data) + ") failed!!! Alloc ID : 6",
              }));
}

} // namespace
