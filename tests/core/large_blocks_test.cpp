#include "captured_trace.h"
#include "core/zqmemory_local.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const LargeBlockHeader* HeaderOf(const void* data) {
    return reinterpret_cast<const LargeBlockHeader*>(static_cast<const char*>(data) -
                                                     sizeof(LargeBlockHeader));
}

const void* DataOf(const LargeBlockHeader* h) {
    return h + 1;
}

struct LargeBlocksTest : ::testing::Test {
    CapturedTrace trace;
    MemoryStats stats;
    LargeBlockList list{stats};
};

TEST_F(LargeBlocksTest, SizesAreRoundedAndCountedWithAlignedData) {
    void* data = list.Allocate(257, "a.cpp", 3);
    EXPECT_EQ(HeaderOf(data)->size, 264u);
    EXPECT_EQ(stats.LiveBytes, 264u);
    EXPECT_EQ(stats.LiveObjects, 1);
    EXPECT_EQ(HeaderOf(data)->allocId, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
    uint32_t sizeWord;
    std::memcpy(&sizeWord, static_cast<char*>(data) - 8, 4); // where the release path reads
    EXPECT_EQ(sizeWord, 264u);
    list.Free(data, nullptr, 0);
    EXPECT_EQ(stats.LiveBytes, 0u);
    EXPECT_EQ(stats.LiveObjects, 0);
    EXPECT_EQ(stats.PeakBytes, 264u);
    EXPECT_TRUE(trace.All().empty());
}

TEST_F(LargeBlocksTest, ListRunsNewestFirstAndSurvivesReleasesAtEitherEnd) {
    void* oldest = list.Allocate(300, nullptr, 0);
    void* middle = list.Allocate(400, nullptr, 0);
    void* newest = list.Allocate(500, nullptr, 0);
    EXPECT_EQ(DataOf(list.Newest()), newest);
    list.Free(newest, nullptr, 0);
    EXPECT_EQ(DataOf(list.Newest()), middle);
    list.Free(oldest, nullptr, 0);
    ASSERT_EQ(DataOf(list.Newest()), middle);
    EXPECT_EQ(list.Newest()->next, nullptr);
    void* again = list.Allocate(600, nullptr, 0);
    EXPECT_EQ(DataOf(list.Newest()), again);
    EXPECT_EQ(DataOf(list.Newest()->next), middle);
    EXPECT_EQ(list.Newest()->next->prev, list.Newest());
    list.Free(middle, nullptr, 0);
    list.Free(again, nullptr, 0);
    EXPECT_EQ(list.Newest(), nullptr);
    EXPECT_EQ(stats.LiveObjects, 0);
}

TEST_F(LargeBlocksTest, RearGuardStandsBehindTheRoundedSize) {
    auto* withinSlack = static_cast<char*>(list.Allocate(257, nullptr, 0));
    std::memset(withinSlack + 257, 0, 7);
    list.Free(withinSlack, nullptr, 0);
    EXPECT_TRUE(trace.All().empty());

    auto* intoGuard = static_cast<char*>(list.Allocate(257, "b.cpp", 8));
    const int id = static_cast<int>(HeaderOf(intoGuard)->allocId);
    intoGuard[264] = 0;
    list.Free(intoGuard, nullptr, 0);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::string>{"b.cpp(8) : Verify pointer(" + Hex(intoGuard) +
                                       ") failed! Alloc ID : " + std::to_string(id)});
    EXPECT_EQ(stats.LiveObjects, 0);
}

TEST_F(LargeBlocksTest, DamagedFrontGuardKeepsTheBlockAndListsItAgainAtTheEnd) {
    auto* data = static_cast<char*>(list.Allocate(1000, "c.cpp", 5));
    data[-1] = 0;
    list.Free(data, nullptr, 0);
    const std::string guardLine =
        "c.cpp(5) : Verify pointer(" + Hex(data) + ") failed!!! Alloc ID : 0";
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{guardLine});
    EXPECT_EQ(stats.LiveObjects, 1);
    EXPECT_EQ(stats.LiveBytes, 1000u);
    EXPECT_EQ(DataOf(list.Newest()), data);

    trace.Clear();
    list.Close();
    EXPECT_EQ(
        trace.Lines(),
        (std::vector<std::string>{
            "",
            "Memory leak : There have 1 objects and 1000 bytes(1 K) memory had not be delete!",
            "Max memory used : 1000 bytes(1 K)",
            "",
            "c.cpp(5) : Memory leak! There have 1000 bytes(1 K) memory had not be delete. "
            "Alloc ID : 0",
            guardLine,
        }));
}

TEST_F(LargeBlocksTest, LeakLinesNameThePositionOrTheAddress) {
    void* positioned = list.Allocate(2048, "d.cpp", 77);
    void* unknown = list.Allocate(300, nullptr, 0);
    static_cast<char*>(unknown)[304] = 0; // rear guard
    list.Allocate(5000, nullptr, 0, BlockOwner::Library);
    trace.Clear();
    list.ReportLeaks();
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "Unkown position(" + Hex(unknown) +
                      ") : Memory leak! There have 304 bytes(1 K) memory had not be delete. "
                      "Alloc ID : 1",
                  "Unkown position : Verify pointer(" + Hex(unknown) + ") failed! Alloc ID : 1",
                  "d.cpp(77) : Memory leak! There have 2048 bytes(2 K) memory had not be delete. "
                  "Alloc ID : 0",
              }));
    (void)positioned;
}

TEST_F(LargeBlocksTest, RefusesSizesTheHeaderCannotRecord) {
    EXPECT_EQ(list.Allocate(0xFFFFFFFFu, nullptr, 0), nullptr);
    EXPECT_EQ(stats.NextAllocId, 0u);
    EXPECT_EQ(stats.LiveObjects, 0);
}

} // namespace

// The set behind the large blocks' release check: inserted and erased in scrambled orders
// of scattered addresses (so runs of colliding entries close their gaps in every pattern),
// through several growths, it finds exactly what remains: the multiples of 3 are erased
// (1009 is prime to 3000).
TEST(AddressSet, FindsExactlyWhatRemainsAfterErasesInAnyOrder) {
    AddressSet set;
    constexpr uintptr_t kCount = 3000;
    auto value = [](uint64_t i) -> uintptr_t { // scattered and non-zero, as heap addresses are
        ++i;
        i = (i ^ (i >> 30)) * 0xBF58476D1CE4E5B9u;
        i = (i ^ (i >> 27)) * 0x94D049BB133111EBu;
        return ((i ^ (i >> 31)) >> 24) << 4;
    };
    for (uintptr_t k = 0; k < kCount; ++k)
        ASSERT_TRUE(set.Insert(value(k * 7919 % kCount)));
    for (uintptr_t k = 0; k < kCount; k += 3)
        set.Erase(value(k * 1009 % kCount));
    set.Erase(value(kCount)); // never inserted
    EXPECT_EQ(set.Count(), 2000u);
    for (uintptr_t i = 0; i <= kCount; ++i)
        ASSERT_EQ(set.Contains(value(i)), i % 3 != 0 && i < kCount) << i;
}
