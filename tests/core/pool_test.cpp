#include "captured_trace.h"
#include "core/zqmemory_local.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

const PoolBlockHeader* HeaderOf(const void* data) {
    return reinterpret_cast<const PoolBlockHeader*>(static_cast<const char*>(data) -
                                                    sizeof(PoolBlockHeader));
}

uint32_t WordAt(const void* at) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

struct PoolTest : ::testing::Test {
    CapturedTrace trace; // declared first: outlives the pool's closing report
    MemoryStats stats;
    PoolAllocator pool{stats};
};

TEST_F(PoolTest, SizesMapToTheirClassesWithAlignedData) {
    void* zero = pool.Allocate(0, nullptr, 0);
    EXPECT_EQ(HeaderOf(zero)->size, 1u);
    EXPECT_EQ(stats.LiveBytes, 1u);
    EXPECT_EQ(WordAt(static_cast<char*>(zero) + 1), kGuardWord);
    EXPECT_EQ(HeaderOf(zero)->frontGuard, kGuardWord);

    void* eight = pool.Allocate(8, nullptr, 0);
    void* nine = pool.Allocate(9, nullptr, 0);
    void* most = pool.Allocate(256, nullptr, 0);
    ASSERT_EQ(pool.ChunkCount(), 3u); // 0 and 8 share class 8
    EXPECT_EQ(pool.ChunkSize(0), 8u);
    EXPECT_EQ(pool.ChunkSize(1), 16u);
    EXPECT_EQ(pool.ChunkSize(2), 256u);
    for (void* data : {zero, eight, nine, most})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
    EXPECT_EQ(stats.LiveObjects, 4);
    EXPECT_EQ(stats.LiveBytes, 1u + 8 + 9 + 256);
    EXPECT_EQ(stats.NextAllocId, 4u);
    for (void* data : {zero, eight, nine, most})
        pool.Free(data, nullptr, 0);
    EXPECT_EQ(stats.LiveObjects, 0);
    EXPECT_EQ(stats.LiveBytes, 0u);
    EXPECT_EQ(stats.PeakBytes, 274u);
}

TEST_F(PoolTest, SlotStridesKeepDataAlignedAndGuardsInside) {
    EXPECT_EQ(PoolAllocator::SlotStride(8), 48u);
    EXPECT_EQ(PoolAllocator::SlotStride(16), 48u);
    EXPECT_EQ(PoolAllocator::SlotStride(24), 64u);
    EXPECT_EQ(PoolAllocator::SlotStride(256), 288u);
    for (uint32_t c = 8; c <= 256; c += 8) {
        EXPECT_EQ(PoolAllocator::SlotStride(c) % 16, 0u);
        EXPECT_GE(PoolAllocator::SlotStride(c), c + 28);
    }
}

TEST_F(PoolTest, FreshChunkHandsOutSlotsInAddressOrder) {
    auto* first = static_cast<char*>(pool.Allocate(20, nullptr, 0));
    EXPECT_EQ(first, reinterpret_cast<char*>(pool.Chunk(0)) + 8 + 24);
    const uint32_t stride = PoolAllocator::SlotStride(24);
    for (int k = 1; k < 5; ++k)
        EXPECT_EQ(static_cast<char*>(pool.Allocate(17 + k, nullptr, 0)), first + k * stride);
}

TEST_F(PoolTest, LastReleasedSlotIsReusedFirst) {
    void* a = pool.Allocate(32, nullptr, 0);
    void* b = pool.Allocate(30, nullptr, 0);
    pool.Free(a, nullptr, 0);
    pool.Free(b, nullptr, 0);
    EXPECT_EQ(pool.Allocate(25, nullptr, 0), b);
    EXPECT_EQ(pool.Allocate(32, nullptr, 0), a);
    EXPECT_EQ(pool.ChunkCount(), 1u);
}

TEST_F(PoolTest, The129thLiveBlockOfAClassCarvesASecondChunk) {
    std::set<void*> blocks;
    for (int k = 0; k < 128; ++k)
        blocks.insert(pool.Allocate(100, nullptr, 0));
    EXPECT_EQ(pool.ChunkCount(), 1u);
    blocks.insert(pool.Allocate(100, nullptr, 0));
    EXPECT_EQ(blocks.size(), 129u);
    ASSERT_EQ(pool.ChunkCount(), 2u);
    EXPECT_EQ(pool.ChunkSize(0), 104u);
    EXPECT_EQ(pool.ChunkSize(1), 104u);
    for (void* data : blocks)
        pool.Free(data, nullptr, 0);
    EXPECT_EQ(stats.LiveObjects, 0);
}

TEST_F(PoolTest, ReleasedBytesAreFilledExceptTheFreeListLink) {
    auto* data = static_cast<unsigned char*>(pool.Allocate(40, nullptr, 0));
    std::memset(data, 0x11, 40);
    pool.Free(data, nullptr, 0);
    EXPECT_EQ(HeaderOf(data)->allocId, kFreeSlotId);
    EXPECT_EQ(HeaderOf(data)->size, 40u);
    void* link;
    std::memcpy(&link, data, sizeof link);
    EXPECT_EQ(link, reinterpret_cast<const char*>(HeaderOf(data)) + PoolAllocator::SlotStride(40));
    for (int k = 8; k < 40; ++k)
        EXPECT_EQ(data[k], kFillByte) << k;
    EXPECT_TRUE(trace.All().empty());
}

TEST_F(PoolTest, ReleaseFillsEveryRequestedByteAndNothingBehindTheGuard) {
    constexpr unsigned char kSlack = 0x5A;
    for (uint32_t size = 1; size <= PoolAllocator::__max_bytes; ++size) {
        auto* data = static_cast<unsigned char*>(pool.Allocate(size, nullptr, 0));
        const uint32_t stride = PoolAllocator::SlotStride(RoundUp8(size));
        unsigned char* slotEnd = data - sizeof(PoolBlockHeader) + stride;
        std::memset(data, 0x11, size);
        std::memset(data + size + 4, kSlack, slotEnd - (data + size + 4));
        pool.Free(data, nullptr, 0);
        // The first 8 bytes hold the free-list link, which may reach over a tiny block's guard.
        for (uint32_t k = 8; k < size; ++k)
            ASSERT_EQ(data[k], kFillByte) << "size " << size << ", byte " << k;
        for (unsigned char* at = data + std::max(size + 4, 8u); at < slotEnd; ++at)
            ASSERT_EQ(*at, kSlack) << "size " << size << ", byte " << at - data;
        pool.Allocate(size, nullptr, 0); // keeps the next size off this slot
    }
    EXPECT_TRUE(trace.All().empty());
}

TEST_F(PoolTest, QuickPathsLeaveEveryUnusualBlockToTheFullOnes) {
    EXPECT_EQ(pool.TakeFreeSlot(40, nullptr, 0), nullptr); // no chunk yet: none carved
    EXPECT_EQ(pool.ChunkCount(), 0u);

    auto* intact = static_cast<char*>(pool.Allocate(40, nullptr, 0));
    auto* rear = static_cast<char*>(pool.Allocate(40, nullptr, 0));
    auto* front = static_cast<char*>(pool.Allocate(40, nullptr, 0));
    auto* library = static_cast<char*>(pool.Allocate(40, nullptr, 0, BlockOwner::Library));
    rear[40] = 0;
    front[-1] = 0;
    for (char* data : {rear, front, library})
        EXPECT_FALSE(PoolAllocator::IsIntactProgramBlock(data));
    EXPECT_TRUE(PoolAllocator::IsIntactProgramBlock(intact));
    pool.Release(intact);
    EXPECT_FALSE(PoolAllocator::IsIntactProgramBlock(intact)); // free: left to the refusal
    EXPECT_EQ(stats.LiveObjects, 2);
    EXPECT_EQ(stats.LiveBytes, 80u);
    EXPECT_EQ(stats.LibraryObjects, 1);
    EXPECT_EQ(pool.TakeFreeSlot(33, "a.cpp", 3), intact);
    EXPECT_EQ(HeaderOf(intact)->size, 33u);
    EXPECT_EQ(HeaderOf(intact)->line, 3);
    EXPECT_EQ(WordAt(intact + 33), kGuardWord);
    EXPECT_EQ(stats.LiveObjects, 3);
    EXPECT_TRUE(trace.All().empty());
    for (char* data : {intact, rear, front, library})
        pool.Free(data, nullptr, 0);
}

TEST_F(PoolTest, TinyBlocksKeepTheFreeListIntact) {
    // The rear guard of a block under 8 bytes overlaps the word that held the link.
    void* blocks[3];
    for (void*& data : blocks)
        data = pool.Allocate(1, nullptr, 0);
    for (void* data : blocks)
        pool.Free(data, nullptr, 0);
    EXPECT_EQ(pool.Allocate(3, nullptr, 0), blocks[2]);
    EXPECT_EQ(pool.Allocate(3, nullptr, 0), blocks[1]);
    EXPECT_EQ(pool.Allocate(3, nullptr, 0), blocks[0]);
    EXPECT_TRUE(trace.All().empty());
}

TEST_F(PoolTest, GuardDamageIsReportedAndTheBlockStillReleased) {
    const char* file = "hero.cpp";
    auto* rearOnly = static_cast<char*>(pool.Allocate(12, file, 42));
    const int rearId = static_cast<int>(HeaderOf(rearOnly)->allocId);
    rearOnly[12] = 0;
    pool.Free(rearOnly, nullptr, 0);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::string>{"hero.cpp(42) : Verify pointer(" + Hex(rearOnly) +
                                       ") failed! Alloc ID : " + std::to_string(rearId)});

    trace.Clear();
    auto* unknown = static_cast<char*>(pool.Allocate(12, nullptr, 0));
    unknown[12] = 0;
    pool.Free(unknown, nullptr, 0);
    EXPECT_EQ(trace.Lines(),
              std::vector<std::string>{"Unkown position : Verify pointer(" + Hex(unknown) +
                                       ") failed! Alloc ID : " + std::to_string(rearId + 1)});

    trace.Clear();
    auto* both = static_cast<char*>(pool.Allocate(12, file, 7));
    std::memset(both - 4, 0, 4);
    both[12] = 0;
    pool.Free(both, "release.cpp", 99);
    const std::string id = std::to_string(rearId + 2);
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "release.cpp(99) : Verify pointer(" + Hex(both) + ") failed!!!",
                  "hero.cpp(7) : Verify pointer(" + Hex(both) + ") failed!!! Alloc ID : " + id,
                  "release.cpp(99) : Verify pointer(" + Hex(both) + ") failed!",
                  "hero.cpp(7) : Verify pointer(" + Hex(both) + ") failed! Alloc ID : " + id,
              }));
    EXPECT_EQ(stats.LiveObjects, 0);
    EXPECT_EQ(stats.LiveBytes, 0u);
}

TEST_F(PoolTest, ReleasingABlockTwiceIsRefusedAndKeepsTheListSound) {
    void* data = pool.Allocate(16, nullptr, 0);
    pool.Free(data, nullptr, 0);
    pool.Free(data, nullptr, 0);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"Release of pointer(" + Hex(data) +
                                                      ") refused: not a live block"});
    EXPECT_EQ(stats.LiveObjects, 0);
    void* first = pool.Allocate(16, nullptr, 0);
    void* second = pool.Allocate(16, nullptr, 0);
    EXPECT_NE(first, second);
}

TEST_F(PoolTest, LeaksAreListedWithTheClassSizeInChunkAndSlotOrder) {
    for (int k = 0; k < 7; ++k)
        pool.Free(pool.Allocate(10, nullptr, 0), nullptr, 0);
    pool.Allocate(10, "F.cpp", 12);    // ID 7, class 16
    pool.Allocate(200, nullptr, 0);    // ID 8, second chunk
    pool.Allocate(12, "first.cpp", 1); // ID 9, first chunk, next slot
    pool.Allocate(100, nullptr, 0, BlockOwner::Library);
    pool.Close();
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{
                  "",
                  "Memory leak : There have 3 objects and 222 bytes(1 K) memory had not be delete!",
                  "Max memory used : 222 bytes(1 K)",
                  "",
                  "F.cpp(12) : Memory leak! There have 16 bytes memory had not be delete. Alloc "
                  "ID : 7",
                  "first.cpp(1) : Memory leak! There have 16 bytes memory had not be delete. "
                  "Alloc ID : 9",
                  "Unkown position : Memory leak! There have 200 bytes memory had not be delete. "
                  "Alloc ID : 8",
              }));
}

TEST_F(PoolTest, LibraryBlocksDrawNoIdAndStayOutOfTheProgramsFigures) {
    void* library = pool.Allocate(50, nullptr, 0, BlockOwner::Library);
    EXPECT_EQ(stats.NextAllocId, 0u);
    EXPECT_EQ(stats.LiveObjects, 0);
    EXPECT_EQ(stats.PeakBytes, 0u);
    EXPECT_EQ(stats.LibraryObjects, 1);
    EXPECT_EQ(stats.LibraryBytes, 50u);
    void* program = pool.Allocate(50, nullptr, 0);
    EXPECT_EQ(HeaderOf(program)->allocId, 0u);
    pool.Free(library, nullptr, 0);
    EXPECT_EQ(stats.LibraryObjects, 0);
    EXPECT_EQ(stats.LibraryBytes, 0u);
    EXPECT_EQ(stats.LiveObjects, 1);
    pool.Free(program, nullptr, 0);
}

TEST_F(PoolTest, SerialIdsWrapBeforeTheValuesThatMarkFreeAndLibraryBlocks) {
    stats.NextAllocId = 0xFFFFFFFCu;
    void* last = pool.Allocate(16, nullptr, 0);
    void* wrapped = pool.Allocate(16, nullptr, 0);
    EXPECT_EQ(HeaderOf(last)->allocId, 0xFFFFFFFCu);
    EXPECT_EQ(HeaderOf(wrapped)->allocId, 0u);
    pool.Free(last, nullptr, 0);
    pool.Free(wrapped, nullptr, 0);
    EXPECT_EQ(stats.LiveObjects, 0);
    EXPECT_TRUE(trace.All().empty());
}

TEST_F(PoolTest, BlocksStayUsableAfterTheClosingReport) {
    auto* leaked = static_cast<char*>(pool.Allocate(64, nullptr, 0));
    pool.Allocate(8, nullptr, 0, BlockOwner::Library);
    pool.Free(pool.Allocate(128, nullptr, 0), nullptr, 0); // its chunk goes back to the heap
    pool.Close();
    trace.Clear();
    std::memset(leaked, 1, 64);
    pool.Free(leaked, nullptr, 0);
    void* late = pool.Allocate(128, nullptr, 0);
    std::memset(late, 2, 128);
    pool.Free(late, nullptr, 0);
    pool.Close();
    EXPECT_TRUE(trace.All().empty()) << trace.All();
}

} // namespace
