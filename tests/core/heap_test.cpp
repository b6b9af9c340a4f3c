#include "platform/windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

TEST(ProcessHeap, GivesAlignedDistinctBlocksAndZeroesOnRequest) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    void* empty1 = HeapAlloc(heap, 0, 0);
    void* empty2 = HeapAlloc(heap, 0, 0);
    ASSERT_NE(empty1, nullptr);
    EXPECT_NE(empty1, empty2);
    auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, 0x00000008, 4096));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(zeroed) % 16, 0u);
    for (int k = 0; k < 4096; ++k)
        ASSERT_EQ(zeroed[k], 0);
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_TRUE(HeapFree(heap, 0, empty1));
    EXPECT_TRUE(HeapFree(heap, 0, empty2));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
}

TEST(IsBadReadPtr, TellsReadableFromUnmappedMemory) {
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    const char text[] = "terrain.cpp";

    EXPECT_FALSE(IsBadReadPtr(text, sizeof text));
    EXPECT_FALSE(IsBadReadPtr(pages, page));
    EXPECT_FALSE(IsBadReadPtr(pages + page - 4, 4));
    EXPECT_TRUE(IsBadReadPtr(pages + page - 4, 5)); // runs into the protected page
    EXPECT_TRUE(IsBadReadPtr(pages + page, 4));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 4));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));         // nothing to read
    EXPECT_TRUE(IsBadReadPtr(pages, ~UINT_PTR{0})); // wraps around the address space
    munmap(pages, 2 * page);
    EXPECT_TRUE(IsBadReadPtr(pages, 1));
}

} // namespace
