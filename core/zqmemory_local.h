// Internals of the tracked allocator: the two block managers, their shared statistics and
// reports. The program goes through zqmemory.h; tests build local managers from this.
//
// Layouts on 64-bit Linux. The `size` field lies 8 bytes before the caller's bytes in both
// headers (at most 256 means pooled), the front guard directly before the caller's bytes, and
// the caller's bytes are aligned to 16. A release finds its manager from addresses alone (the
// pools' chunk map, the large blocks' set) before it reads a header: the memory behind a
// pointer released twice may have been reused or unmapped by the C heap.
//
// Pooled slot, class size c (8, 16, ..., 256):
//   [file 8][line 4][allocId 4][size 4][frontGuard 4][data: size bytes][rear guard 4][slack]
//   stride = RoundUp16(c + 28): 48 bytes for classes 8 and 16, 64 for 24 and 32, 288 for 256.
//   A chunk is 8 + 128 * stride bytes (6152 for class 8); the slots start 8 bytes in, so a
//   16-aligned heap block puts every slot's data on a multiple of 16.
// Large block, r = RoundUp8(size) > 256, one heap block of r + 56 bytes:
//   [prev 8][next 8][file 8][line 4][allocId 4][reserved 8][size 4][frontGuard 4][data r]
//   [rear guard 4][reserved 4]
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Sanitizer builds: the pool poisons what the caller may not touch (headers, guard words,
// slack, free slots), so an overrun into them is reported at the write. The pool's own code
// that reads and writes those parts is left uninstrumented.
#if defined(__SANITIZE_ADDRESS__)
#define FW_POISON_POOL 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FW_POISON_POOL 1
#endif
#endif
#if defined(FW_POISON_POOL)
#define FW_POOL_INTERNAL __attribute__((no_sanitize("address")))
#else
#define FW_POOL_INTERNAL
#endif

constexpr uint32_t kGuardWord = 0xCCCCCCCCu;
constexpr unsigned char kFillByte = 0xCC;
constexpr uint32_t kFreeSlotId = 0xFFFFFFFFu;
// Blocks that libraries (the GL driver, SDL) allocate carry one of these IDs instead of a
// serial one: they are counted apart and never listed as the program's leaks. The second
// marks blocks allocated on threads other than the program's, which live in managers of
// their own (see zqmemory.cpp). Serial IDs wrap to 0 before reaching these.
constexpr uint32_t kLibraryBlockId = 0xFFFFFFFEu;
constexpr uint32_t kLibraryThreadBlockId = 0xFFFFFFFDu;
constexpr bool IsLibraryBlockId(uint32_t id) {
    return id == kLibraryBlockId || id == kLibraryThreadBlockId;
}

constexpr uint32_t RoundUp8(uint32_t n) {
    return (n + 7) & ~7u;
}

enum class BlockOwner { Program, Library, LibraryThread };
enum class GuardSide { Front, Rear };

// Module-wide statistics; the program's blocks only, libraries' blocks in the last two.
struct MemoryStats {
    uint32_t NextAllocId = 0;
    int32_t LiveObjects = 0;
    uint32_t LiveBytes = 0;
    uint32_t PeakBytes = 0;
    int32_t LibraryObjects = 0;
    uint64_t LibraryBytes = 0;
};
extern MemoryStats g_MemoryStats;

// printf-style output through a 1024-byte buffer to the sink (OutputDebugStringA unless a
// test captured it). A longer message is cut and still ends with a newline.
// MinGW-w64 names the flavour its C library's printf follows (ISO with its own stdio).
#if defined(__MINGW_PRINTF_FORMAT)
#define ZQ_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define ZQ_PRINTF_FORMAT printf
#endif
void MemTrace(const char* format, ...) __attribute__((format(ZQ_PRINTF_FORMAT, 1, 2)));
using MemTraceSink = void (*)(const char* text);
MemTraceSink SetMemTraceSink(MemTraceSink sink); // null restores; returns the previous sink

void* ProcessHeapAlloc(std::size_t bytes);
void ProcessHeapFree(void* block);

// The line for a release of something that is not a live block (released already, never
// allocated, or not the start of a block); nothing else happens.
void ReportRefusedRelease(const void* data);
// Prints the guard-damage lines of one block; releaseFile null for a plain release.
void ReportGuardDamage(GuardSide side, const char* releaseFile, int releaseLine, const char* file,
                       int line, const void* data, uint32_t allocId);
// Leak count and peak lines; prints once (clears PeakBytes), nothing if nothing was allocated.
void MemorySummary(MemoryStats& stats);
inline void MemorySummary() {
    MemorySummary(g_MemoryStats);
}
// One line for what libraries still hold, when they hold anything.
void ReportLibraryBlocks(const MemoryStats& stats);

// A set of addresses on the process heap (not tracked itself): open addressing with linear
// probing, at most half full, so a look-up reads one or two neighbouring entries.
class AddressSet {
public:
    AddressSet() = default;
    AddressSet(const AddressSet&) = delete;
    AddressSet& operator=(const AddressSet&) = delete;
    ~AddressSet() { Release(); }

    bool Insert(uintptr_t value); // value non-zero; false when the heap refuses to grow it
    void Erase(uintptr_t value);
    bool Contains(uintptr_t value) const;
    void Release();
    uint32_t Count() const { return count; }

private:
    uint32_t Home(uintptr_t value) const;

    uintptr_t* slots = nullptr; // 0 marks an empty slot
    uint32_t mask = 0;          // capacity - 1, capacity a power of two
    uint32_t count = 0;
};

// A growable array of addresses on the process heap (not tracked itself).
class HeapArray {
public:
    HeapArray() = default;
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    ~HeapArray() { Release(); }

    bool PushBack(uintptr_t value); // false when the heap refuses to grow it
    void PopBack() { --count; }
    void Release();
    uint32_t Count() const { return count; }
    uintptr_t operator[](uint32_t index) const { return data[index]; }

private:
    uintptr_t* data = nullptr;
    uint32_t capacity = 0;
    uint32_t count = 0;
};

struct PoolBlockHeader {
    const char* file;
    int32_t line;
    uint32_t allocId;
    uint32_t size;
    uint32_t frontGuard;
};
static_assert(sizeof(PoolBlockHeader) == 24);

// Blocks of up to 256 bytes in 32 size classes, from chunks of 128 slots that live until
// the end of the process; free slots are reused last released, first out.
class PoolAllocator {
public:
    static constexpr uint32_t __max_bytes = 256;
    static constexpr uint32_t kClassCount = 32;
    static constexpr uint32_t kSlotsPerChunk = 128;
    static constexpr uint32_t kChunkLead = 8;

    static uint32_t SlotStride(uint32_t classSize) { return (classSize + 28 + 15) & ~15u; }
    static uint32_t ClassIndex(uint32_t size) { return (size - 1) / 8; } // size 1..256

    // poisonsSlots: in sanitizer builds, keep what the caller may not touch poisoned (the
    // process-wide pools do; tests that read slot headers use pools that do not).
    explicit PoolAllocator(MemoryStats& stats = g_MemoryStats, bool poisonsSlots = false)
        : stats(stats), poisonsSlots(poisonsSlots) {}
    PoolAllocator(const PoolAllocator&) = delete;
    PoolAllocator& operator=(const PoolAllocator&) = delete;
    ~PoolAllocator() { Close(); }

    // size <= 256; returns the caller's bytes, or null when the heap refuses a chunk.
    void* Allocate(uint32_t size, const char* file, int line,
                   BlockOwner owner = BlockOwner::Program);
    // The tracker's common cases, which need no heap call and no report: a program block of
    // 1 to 256 bytes from a class with a free slot (null when it has none), and the test for
    // a live program block with both guards intact, which Release may take without checks.
    void* TakeFreeSlot(uint32_t size, const char* file, int line);
    FW_POOL_INTERNAL static bool IsIntactProgramBlock(const void* data) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        const auto* h = reinterpret_cast<const PoolBlockHeader*>(bytes - sizeof(PoolBlockHeader));
        const uint32_t s = h->size;
        // Serial IDs stay below the marks of free slots and of libraries' blocks.
        if (s - 1 >= __max_bytes || h->allocId >= kLibraryThreadBlockId)
            return false;
        uint32_t rearGuard;
        std::memcpy(&rearGuard, bytes + s, sizeof rearGuard);
        return h->frontGuard == kGuardWord && rearGuard == kGuardWord;
    }
    // Whether data is where a slot's caller bytes lie, in a chunk of any pool of the process
    // (live or free): decided from an address map, without reading the address itself.
    static bool HoldsSlot(const void* data);
    // data as returned by Allocate; file/line name the release site (null, 0: plain). A
    // pointer that is not a slot's is refused with a report.
    void Free(void* data, const char* file, int line);
    // Free in two steps, for a block released on another thread: the checks and their
    // reports (false: the block must not be released), then the release itself.
    static bool CheckRelease(void* data, const char* file, int line);
    void Release(void* data);
    // The end-of-process report: summary, one line per live program block; then the chunks
    // without live blocks go back to the heap. Later calls keep working on fresh chunks.
    void Close();

    uint32_t ChunkCount() const { return chunks.Count(); }
    uintptr_t Chunk(uint32_t index) const { return chunks[index]; }
    uint32_t ChunkSize(uint32_t index) const { return static_cast<uint32_t>(chunkSizes[index]); }

private:
    void* TakeHead(uint32_t i, uint32_t size, const char* file, int line, BlockOwner owner);
    PoolBlockHeader* NewChunk(uint32_t size);
    void ReportChunkLeaks(uintptr_t chunk, uint32_t leak_size);
    bool ChunkHasLiveSlots(uintptr_t chunk, uint32_t classSize) const;

    MemoryStats& stats;
    PoolBlockHeader* freeLists[kClassCount] = {};
    HeapArray chunks;
    HeapArray chunkSizes;
    bool closed = false;
    bool poisonsSlots;
};

struct LargeBlockHeader {
    LargeBlockHeader* prev;
    LargeBlockHeader* next;
    const char* file;
    int32_t line;
    uint32_t allocId;
    uint64_t reserved;
    uint32_t size;
    uint32_t frontGuard;
};
static_assert(sizeof(LargeBlockHeader) == 48);
static_assert(sizeof(LargeBlockHeader) - offsetof(LargeBlockHeader, size) ==
              sizeof(PoolBlockHeader) - offsetof(PoolBlockHeader, size));

// Blocks of more than 256 bytes, each one heap block, on a doubly linked list newest first.
class LargeBlockList {
public:
    static constexpr uint32_t kLargestSize = 0xFFFFFFF8u; // the header records 32 bits

    explicit LargeBlockList(MemoryStats& stats = g_MemoryStats) : stats(stats) {}
    LargeBlockList(const LargeBlockList&) = delete;
    LargeBlockList& operator=(const LargeBlockList&) = delete;
    ~LargeBlockList() { Close(); }

    // 256 < size <= kLargestSize; null when the heap refuses.
    void* Allocate(uint32_t size, const char* file, int line,
                   BlockOwner owner = BlockOwner::Program);
    // Whether data is a live block of this list; the only test that reads no header, so
    // the one to make before any other on a pointer that may have been released already.
    bool Holds(const void* data) const { return live.Contains(reinterpret_cast<uintptr_t>(data)); }
    // A damaged front guard is reported and keeps the block live (its header is suspect). A
    // pointer that is not a live block of this list is refused with a report.
    void Free(void* data, const char* file, int line);
    static bool CheckRelease(void* data, const char* file, int line);
    void Release(void* data);
    // One line per live program block, newest first, with its guard lines. Blocks stay.
    void ReportLeaks();
    // The end-of-process report (summary, then leaks), once.
    void Close();

    const LargeBlockHeader* Newest() const { return root.next; }

private:
    MemoryStats& stats;
    LargeBlockHeader root = {};
    AddressSet live; // the caller's bytes of every block on the list
    bool closed = false;
};

// Creates the two process-wide managers on the first allocation and registers their
// end-of-process reports with the C runtime (pool first, then large blocks and the
// libraries' line). Both stay usable after their reports, for late static destructors.
class MemoryTracker {
public:
    MemoryTracker();
    static PoolAllocator* Pool();
    static LargeBlockList* LargeBlocks();
};

// Who owns a block allocated now on this thread: the program's thread is the process's
// main thread; blocks from other threads or inside an SDL/GL call belong to libraries.
BlockOwner CurrentBlockOwner();
// The figures of the blocks that other threads than the program's hold (libraries' only).
const MemoryStats& ThreadSetStats();
