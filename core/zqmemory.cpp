#include "core/zqmemory.h"
#include "core/zqmemory_local.h"

#include "core/zqhost.h"
#include "platform/windows.h"

#include <atomic>
#include <cassert>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(FW_POISON_POOL)
#include <sanitizer/asan_interface.h>
#endif

MemoryStats g_MemoryStats;

namespace {

std::atomic<MemTraceSink> traceSink{nullptr}; // read by every thread that reports

uint32_t KiloBytes(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + 1023) / 1024);
}

// The recorded file may point into a library unloaded since; probe before printing it.
bool FileUsable(const char* file) {
    return file && !IsBadReadPtr(file, 4);
}

FW_POOL_INTERNAL uint32_t ReadWord(const unsigned char* at) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

FW_POOL_INTERNAL void WriteGuard(unsigned char* at) {
    std::memcpy(at, &kGuardWord, sizeof kGuardWord);
}

void CountIn(MemoryStats& stats, BlockOwner owner, uint32_t bytes) {
    if (owner != BlockOwner::Program) {
        stats.LibraryObjects += 1;
        stats.LibraryBytes += bytes;
        return;
    }
    stats.LiveBytes += bytes;
    stats.LiveObjects += 1;
    if (stats.PeakBytes < stats.LiveBytes)
        stats.PeakBytes = stats.LiveBytes;
}

void CountOut(MemoryStats& stats, uint32_t allocId, uint32_t bytes) {
    if (IsLibraryBlockId(allocId)) {
        stats.LibraryObjects -= 1;
        stats.LibraryBytes -= bytes;
        return;
    }
    stats.LiveObjects -= 1;
    stats.LiveBytes -= bytes;
}

uint32_t TakeAllocId(MemoryStats& stats, BlockOwner owner) {
    switch (owner) {
    case BlockOwner::Library:
        return kLibraryBlockId;
    case BlockOwner::LibraryThread:
        return kLibraryThreadBlockId;
    default:
        break;
    }
    const uint32_t id = stats.NextAllocId++;
    // The top three values mark library and free blocks: a long run wraps before them.
    if (stats.NextAllocId == kLibraryThreadBlockId)
        stats.NextAllocId = 0;
    return id;
}

uintptr_t Address(const void* data) {
    return reinterpret_cast<uintptr_t>(data);
}

} // namespace

// ---- Output ----

[[gnu::cold, gnu::noinline]] void MemTrace(const char* format, ...) {
    char Tmp[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(Tmp, sizeof Tmp, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) >= sizeof Tmp)
        Tmp[sizeof Tmp - 2] = '\n'; // cut, but still one line
    if (MemTraceSink sink = traceSink.load(std::memory_order_acquire))
        sink(Tmp);
    else
        OutputDebugStringA(Tmp);
}

MemTraceSink SetMemTraceSink(MemTraceSink sink) {
    MemTraceSink previous = traceSink.exchange(sink, std::memory_order_acq_rel);
    return previous;
}

void* ProcessHeapAlloc(std::size_t bytes) {
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}
void ProcessHeapFree(void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

// ---- Reports ----

[[gnu::cold, gnu::noinline]] void ReportGuardDamage(GuardSide side, const char* releaseFile,
                                                    int releaseLine, const char* file, int line,
                                                    const void* data, uint32_t allocId) {
    const bool front = side == GuardSide::Front;
    const char* marks = front ? "!!!" : "!";
    const int id = static_cast<int>(allocId);
    if (releaseFile)
        MemTrace("%s(%d) : Verify pointer(0x%8.8" PRIxPTR ") failed%s\n", releaseFile, releaseLine,
                 Address(data), marks);
    if (FileUsable(file))
        MemTrace("%s(%d) : Verify pointer(0x%8.8" PRIxPTR ") failed%s Alloc ID : %d\n", file, line,
                 Address(data), marks, id);
    else
        MemTrace("Unkown position : Verify pointer(0x%8.8" PRIxPTR ") failed%s Alloc ID : %d\n",
                 Address(data), marks, id);
}

[[gnu::cold, gnu::noinline]] void ReportRefusedRelease(const void* data) {
    MemTrace("Release of pointer(0x%8.8" PRIxPTR ") refused: not a live block\n", Address(data));
}

void MemorySummary(MemoryStats& stats) {
    if (stats.PeakBytes == 0)
        return;
    MemTrace("\n");
    if (stats.LiveObjects != 0 && zqhost::ProgramRunning())
        MemTrace("The program did not finish (it was ended from inside): %d objects and %d "
                 "bytes(%d K) were still in use, not leaked\n",
                 stats.LiveObjects, static_cast<int>(stats.LiveBytes),
                 static_cast<int>(KiloBytes(stats.LiveBytes)));
    else if (stats.LiveObjects != 0)
        MemTrace(
            "Memory leak : There have %d objects and %d bytes(%d K) memory had not be delete!\n",
            stats.LiveObjects, static_cast<int>(stats.LiveBytes),
            static_cast<int>(KiloBytes(stats.LiveBytes)));
    MemTrace("Max memory used : %u bytes(%d K)\n", stats.PeakBytes,
             static_cast<int>(KiloBytes(stats.PeakBytes)));
    stats.PeakBytes = 0;
    MemTrace("\n");
}

void ReportLibraryBlocks(const MemoryStats& stats) {
    if (stats.LibraryObjects == 0)
        return;
    MemTrace("Held by libraries at exit, not the program's : %d blocks and %" PRIu64
             " bytes(%u K)\n",
             stats.LibraryObjects, stats.LibraryBytes, KiloBytes(stats.LibraryBytes));
}

// ---- HeapArray ----

bool HeapArray::PushBack(uintptr_t value) {
    if (count >= capacity) {
        const uint32_t grown = capacity + 128;
        auto* buffer = static_cast<uintptr_t*>(ProcessHeapAlloc(grown * sizeof(uintptr_t)));
        if (!buffer)
            return false;
        if (count)
            std::memcpy(buffer, data, count * sizeof(uintptr_t));
        ProcessHeapFree(data);
        data = buffer;
        capacity = grown;
    }
    data[count++] = value;
    return true;
}

void HeapArray::Release() {
    count = 0;
    capacity = 0;
    ProcessHeapFree(data);
    data = nullptr;
}

// ---- AddressSet ----

uint32_t AddressSet::Home(uintptr_t value) const {
    // Blocks are 16-aligned: the low bits carry nothing; the multiply spreads the rest.
    return static_cast<uint32_t>(((value >> 4) * 0x9E3779B97F4A7C15u) >> 32) & mask;
}

bool AddressSet::Contains(uintptr_t value) const {
    if (!slots)
        return false;
    for (uint32_t at = Home(value);; at = (at + 1) & mask) {
        if (slots[at] == value)
            return true;
        if (slots[at] == 0)
            return false;
    }
}

bool AddressSet::Insert(uintptr_t value) {
    if (2 * (count + 1) > mask + 1) {
        const uint32_t capacity = slots ? 2 * (mask + 1) : 64;
        auto* grown = static_cast<uintptr_t*>(ProcessHeapAlloc(capacity * sizeof(uintptr_t)));
        if (!grown)
            return false;
        std::memset(grown, 0, capacity * sizeof(uintptr_t));
        uintptr_t* old = slots;
        const uint32_t oldCapacity = slots ? mask + 1 : 0;
        slots = grown;
        mask = capacity - 1;
        count = 0;
        for (uint32_t k = 0; k < oldCapacity; ++k)
            if (old[k])
                Insert(old[k]);
        ProcessHeapFree(old);
    }
    uint32_t at = Home(value);
    while (slots[at] != 0 && slots[at] != value)
        at = (at + 1) & mask;
    if (slots[at] == 0)
        ++count;
    slots[at] = value;
    return true;
}

// Deletion without markers: later entries of the run move back into the gap when the gap
// lies on their way from their home slot, so every look-up still stops at the first empty.
void AddressSet::Erase(uintptr_t value) {
    if (!slots)
        return;
    uint32_t gap = Home(value);
    while (slots[gap] != value) {
        if (slots[gap] == 0)
            return;
        gap = (gap + 1) & mask;
    }
    --count;
    for (uint32_t at = (gap + 1) & mask; slots[at] != 0; at = (at + 1) & mask) {
        const uint32_t home = Home(slots[at]);
        if (((at - home) & mask) >= ((at - gap) & mask)) {
            slots[gap] = slots[at];
            gap = at;
        }
    }
    slots[gap] = 0;
}

void AddressSet::Release() {
    ProcessHeapFree(slots);
    slots = nullptr;
    mask = 0;
    count = 0;
}

// ---- PoolAllocator ----

namespace {

#if defined(FW_POISON_POOL)
void PoisonBytes(const void* at, std::size_t bytes) {
    ASAN_POISON_MEMORY_REGION(at, bytes);
}
void UnpoisonBytes(const void* at, std::size_t bytes) {
    ASAN_UNPOISON_MEMORY_REGION(at, bytes);
}
constexpr bool kPoisonPools = true;
#else
void PoisonBytes(const void*, std::size_t) {}
void UnpoisonBytes(const void*, std::size_t) {}
constexpr bool kPoisonPools = false;
#endif

unsigned char* SlotData(PoolBlockHeader* slot) {
    return reinterpret_cast<unsigned char*>(slot) + sizeof(PoolBlockHeader);
}

PoolBlockHeader* SlotAt(uintptr_t chunk, uint32_t classSize, uint32_t index) {
    return reinterpret_cast<PoolBlockHeader*>(chunk + PoolAllocator::kChunkLead +
                                              index * PoolAllocator::SlotStride(classSize));
}

// Fills exactly `size` bytes; the caller then writes the free-list link over the first 8, so
// smaller blocks need nothing. Overlapping stores from both ends, in runs of a length known
// at compile time, cover any size without a loop whose trip count the processor must guess.
FW_POOL_INTERNAL void FillReleased(unsigned char* data, uint32_t size) {
    if (size <= 8)
        return;
#if defined(__SSE2__)
    if (size < 16) {
        const uint64_t fill = 0x0101010101010101u * kFillByte;
        std::memcpy(data + size - 8, &fill, sizeof fill);
        return;
    }
    const __m128i fill = _mm_set1_epi8(static_cast<char>(kFillByte));
    auto fillRun = [&](uint32_t lines) {
        for (uint32_t k = 0; k < lines; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(data + 16 * k), fill);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(data + size - 16 * (k + 1)), fill);
        }
    };
    if (size <= 32)
        fillRun(1);
    else if (size <= 64)
        fillRun(2);
    else if (size <= 128)
        fillRun(4);
    else
        fillRun(8);
#else
    std::memset(data, kFillByte, size);
#endif
}

// Where the caller's bytes of every pool slot lie, as one bit per 16 bytes of address space,
// so that a release can tell a slot's address from any other before it reads memory that
// may be gone. Two levels over the 47-bit user address space: leaves of 1 GiB (8 MiB of bits),
// made zeroed on first use and kept; their pages cost memory only where chunks lie (32 bytes
// per 4 KiB of chunks). Bits change with atomic operations: the pools of the program's thread
// and of other threads may carve chunks that share a page.
class SlotMap {
public:
    bool Add(uintptr_t chunk, uint32_t classSize) {
        if (!ForEachSlot(chunk, classSize, [](std::atomic_ref<uint64_t> word, uint64_t bit) {
                word.fetch_or(bit, std::memory_order_relaxed);
            })) {
            Remove(chunk, classSize);
            return false;
        }
        return true;
    }

    void Remove(uintptr_t chunk, uint32_t classSize) {
        ForEachSlot(chunk, classSize, [](std::atomic_ref<uint64_t> word, uint64_t bit) {
            word.fetch_and(~bit, std::memory_order_relaxed);
        });
    }

    bool HoldsSlot(uintptr_t data) {
        if ((data & 15) != 0 || (data >> kAddressBits) != 0)
            return false;
        Leaf* leaf = leaves[data >> kLeafSpanBits].load(std::memory_order_acquire);
        if (!leaf)
            return false;
        const uint64_t word = std::atomic_ref(WordOf(*leaf, data)).load(std::memory_order_relaxed);
        return (word >> BitOf(data)) & 1;
    }

private:
    static constexpr unsigned kGrainBits = 4; // 16 bytes: the alignment of every block
    static constexpr unsigned kLeafSpanBits = 30;
    static constexpr unsigned kAddressBits = 47;
    struct Leaf {
        uint64_t words[(uintptr_t{1} << (kLeafSpanBits - kGrainBits)) / 64];
    };

    static uint64_t& WordOf(Leaf& leaf, uintptr_t data) {
        const uintptr_t grain = (data & ((uintptr_t{1} << kLeafSpanBits) - 1)) >> kGrainBits;
        return leaf.words[grain / 64];
    }
    static unsigned BitOf(uintptr_t data) { return (data >> kGrainBits) & 63; }

    // Calls visit(word, bit) for each slot's caller bytes; false when a leaf cannot be made.
    template <typename Visit> bool ForEachSlot(uintptr_t chunk, uint32_t classSize, Visit visit) {
        const uint32_t stride = PoolAllocator::SlotStride(classSize);
        for (uint32_t k = 0; k < PoolAllocator::kSlotsPerChunk; ++k) {
            const uintptr_t data =
                chunk + PoolAllocator::kChunkLead + sizeof(PoolBlockHeader) + uintptr_t{k} * stride;
            if (data >> kAddressBits)
                return false; // outside the map: such a chunk cannot be told from other memory
            Leaf* leaf = MakeLeaf(data >> kLeafSpanBits);
            if (!leaf)
                return false;
            visit(std::atomic_ref(WordOf(*leaf, data)), uint64_t{1} << BitOf(data));
        }
        return true;
    }

    Leaf* MakeLeaf(uintptr_t index) {
        Leaf* leaf = leaves[index].load(std::memory_order_acquire);
        if (leaf)
            return leaf;
        auto* made =
            static_cast<Leaf*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Leaf)));
        if (!made)
            return nullptr;
        if (leaves[index].compare_exchange_strong(leaf, made, std::memory_order_acq_rel))
            return made;
        ProcessHeapFree(made); // another thread's leaf came first
        return leaf;
    }

    std::atomic<Leaf*> leaves[uintptr_t{1} << (kAddressBits - kLeafSpanBits)] = {};
};

constinit SlotMap slotMap;

FW_POOL_INTERNAL PoolBlockHeader* NextFree(PoolBlockHeader* slot) {
    PoolBlockHeader* next;
    std::memcpy(&next, SlotData(slot), sizeof next);
    return next;
}

FW_POOL_INTERNAL void SetNextFree(PoolBlockHeader* slot, PoolBlockHeader* next) {
    std::memcpy(SlotData(slot), &next, sizeof next);
}

} // namespace

// The head slot of class i becomes a live block; the class has a free slot.
FW_POOL_INTERNAL void* PoolAllocator::TakeHead(uint32_t i, uint32_t size, const char* file,
                                               int line, BlockOwner owner) {
    PoolBlockHeader* h = freeLists[i];
    h->file = file;
    h->line = line;
    h->size = size;
    h->allocId = TakeAllocId(stats, owner);
    h->frontGuard = kGuardWord;
    CountIn(stats, owner, size);
    // The link is read before the rear guard goes in: for sizes below 8 they overlap.
    freeLists[i] = NextFree(h);
    unsigned char* data = SlotData(h);
    WriteGuard(data + size);
    UnpoisonBytes(data, size);
    return data;
}

void* PoolAllocator::Allocate(uint32_t size, const char* file, int line, BlockOwner owner) {
    assert(size <= __max_bytes);
    if (size > __max_bytes) // the index below would leave the list heads
        return nullptr;
    if (size == 0)
        size = 1;
    const uint32_t i = ClassIndex(size);
    if (!freeLists[i])
        freeLists[i] = NewChunk(size);
    if (!freeLists[i])
        return nullptr;
    return TakeHead(i, size, file, line, owner);
}

void* PoolAllocator::TakeFreeSlot(uint32_t size, const char* file, int line) {
    const uint32_t i = ClassIndex(size);
    return freeLists[i] ? TakeHead(i, size, file, line, BlockOwner::Program) : nullptr;
}

[[gnu::cold, gnu::noinline]] FW_POOL_INTERNAL PoolBlockHeader*
PoolAllocator::NewChunk(uint32_t size) {
    const uint32_t c = RoundUp8(size);
    const uint32_t stride = SlotStride(c);
    void* block = ProcessHeapAlloc(kChunkLead + kSlotsPerChunk * stride);
    if (!block)
        return nullptr;
    const uintptr_t chunk = reinterpret_cast<uintptr_t>(block);
    if (!slotMap.Add(chunk, c)) {
        ProcessHeapFree(block);
        return nullptr;
    }
    for (uint32_t k = 0; k < kSlotsPerChunk; ++k) {
        PoolBlockHeader* slot = SlotAt(chunk, c, k);
        *slot = PoolBlockHeader{nullptr, 0, kFreeSlotId, c, 0};
        SetNextFree(slot, k + 1 < kSlotsPerChunk ? SlotAt(chunk, c, k + 1) : nullptr);
    }
    if (poisonsSlots)
        PoisonBytes(block, kChunkLead + kSlotsPerChunk * stride);
    if (!chunks.PushBack(chunk) || !chunkSizes.PushBack(c)) {
        if (chunks.Count() > chunkSizes.Count())
            chunks.PopBack(); // keeps the two arrays parallel
        slotMap.Remove(chunk, c);
        ProcessHeapFree(block);
        return nullptr;
    }
    return SlotAt(chunk, c, 0);
}

bool PoolAllocator::HoldsSlot(const void* data) {
    return slotMap.HoldsSlot(Address(data));
}

void PoolAllocator::Free(void* data, const char* file, int line) {
    if (!HoldsSlot(data))
        ReportRefusedRelease(data);
    else if (CheckRelease(data, file, line))
        Release(data);
}

FW_POOL_INTERNAL bool PoolAllocator::CheckRelease(void* data, const char* file, int line) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<PoolBlockHeader*>(bytes - sizeof(PoolBlockHeader));
    const uint32_t s = h->size;
    assert(s <= __max_bytes);
    // A size out of range or a slot already on its free list would corrupt the lists.
    if (s == 0 || s > __max_bytes || h->allocId == kFreeSlotId) {
        ReportRefusedRelease(data);
        return false;
    }
    if (h->frontGuard != kGuardWord)
        ReportGuardDamage(GuardSide::Front, file, line, h->file, h->line, data, h->allocId);
    if (ReadWord(bytes + s) != kGuardWord)
        ReportGuardDamage(GuardSide::Rear, file, line, h->file, h->line, data, h->allocId);
    return true;
}

FW_POOL_INTERNAL void PoolAllocator::Release(void* data) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<PoolBlockHeader*>(bytes - sizeof(PoolBlockHeader));
    const uint32_t s = h->size;
    CountOut(stats, h->allocId, s);
    FillReleased(bytes, s);
    const uint32_t i = ClassIndex(s);
    SetNextFree(h, freeLists[i]);
    freeLists[i] = h;
    h->allocId = kFreeSlotId;
    if (poisonsSlots)
        PoisonBytes(bytes, s);
}

FW_POOL_INTERNAL void PoolAllocator::ReportChunkLeaks(uintptr_t chunk, uint32_t leak_size) {
    assert(leak_size > 0);
    for (uint32_t k = 0; k < kSlotsPerChunk; ++k) {
        const PoolBlockHeader* slot = SlotAt(chunk, leak_size, k);
        if (slot->allocId == kFreeSlotId || IsLibraryBlockId(slot->allocId))
            continue;
        if (FileUsable(slot->file))
            MemTrace("%s(%d) : Memory leak! There have %d bytes memory had not be delete. Alloc "
                     "ID : %d\n",
                     slot->file, slot->line, static_cast<int>(leak_size),
                     static_cast<int>(slot->allocId));
        else
            MemTrace("Unkown position : Memory leak! There have %d bytes memory had not be "
                     "delete. Alloc ID : %d\n",
                     static_cast<int>(leak_size), static_cast<int>(slot->allocId));
    }
}

FW_POOL_INTERNAL bool PoolAllocator::ChunkHasLiveSlots(uintptr_t chunk, uint32_t classSize) const {
    for (uint32_t k = 0; k < kSlotsPerChunk; ++k)
        if (SlotAt(chunk, classSize, k)->allocId != kFreeSlotId)
            return true;
    return false;
}

void PoolAllocator::Close() {
    if (closed)
        return;
    closed = true;
    MemorySummary(stats);
    // Blocks of a program ended from inside are in use, not leaked: the summary says so.
    for (uint32_t k = 0; k < chunks.Count() && !zqhost::ProgramRunning(); ++k)
        ReportChunkLeaks(chunks[k], ChunkSize(k));
    // Blocks still live (leaks, libraries' blocks) may be released by static destructors
    // that run after this report, so their chunks stay; fresh chunks serve later requests.
    for (uint32_t k = 0; k < chunks.Count(); ++k)
        if (!ChunkHasLiveSlots(chunks[k], ChunkSize(k))) {
            slotMap.Remove(chunks[k], ChunkSize(k));
            UnpoisonBytes(reinterpret_cast<void*>(chunks[k]),
                          kChunkLead + kSlotsPerChunk * SlotStride(ChunkSize(k)));
            ProcessHeapFree(reinterpret_cast<void*>(chunks[k]));
        }
    chunkSizes.Release();
    chunks.Release();
    for (PoolBlockHeader*& head : freeLists)
        head = nullptr;
}

// ---- LargeBlockList ----

namespace {

unsigned char* LargeData(LargeBlockHeader* h) {
    return reinterpret_cast<unsigned char*>(h) + sizeof(LargeBlockHeader);
}

} // namespace

void* LargeBlockList::Allocate(uint32_t size, const char* file, int line, BlockOwner owner) {
    if (size > kLargestSize)
        return nullptr;
    const uint32_t r = RoundUp8(size);
    auto* h = static_cast<LargeBlockHeader*>(
        ProcessHeapAlloc(std::size_t{r} + sizeof(LargeBlockHeader) + 8));
    if (!h)
        return nullptr;
    if (!live.Insert(Address(LargeData(h)))) {
        ProcessHeapFree(h);
        return nullptr;
    }
    WriteGuard(LargeData(h) + r);
    h->frontGuard = kGuardWord;
    h->next = root.next;
    h->prev = &root;
    if (root.next)
        root.next->prev = h;
    root.next = h;
    h->file = file;
    h->line = line;
    h->size = r;
    h->allocId = TakeAllocId(stats, owner);
    CountIn(stats, owner, r);
    return LargeData(h);
}

void LargeBlockList::Free(void* data, const char* file, int line) {
    if (!Holds(data))
        ReportRefusedRelease(data);
    else if (CheckRelease(data, file, line))
        Release(data);
}

bool LargeBlockList::CheckRelease(void* data, const char* file, int line) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<LargeBlockHeader*>(bytes - sizeof(LargeBlockHeader));
    if (h->frontGuard != kGuardWord) {
        ReportGuardDamage(GuardSide::Front, file, line, h->file, h->line, data, h->allocId);
        return false;
    }
    if (ReadWord(bytes + h->size) != kGuardWord)
        ReportGuardDamage(GuardSide::Rear, file, line, h->file, h->line, data, h->allocId);
    return true;
}

void LargeBlockList::Release(void* data) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<LargeBlockHeader*>(bytes - sizeof(LargeBlockHeader));
    std::memset(bytes, kFillByte, h->size);
    CountOut(stats, h->allocId, h->size);
    live.Erase(Address(data));
    if (h->prev)
        h->prev->next = h->next;
    if (h->next)
        h->next->prev = h->prev;
    ProcessHeapFree(h);
}

void LargeBlockList::ReportLeaks() {
    for (LargeBlockHeader* h = root.next; h; h = h->next) {
        if (IsLibraryBlockId(h->allocId))
            continue;
        unsigned char* data = LargeData(h);
        const int bytes = static_cast<int>(h->size);
        const int kilo = static_cast<int>(KiloBytes(h->size));
        const int id = static_cast<int>(h->allocId);
        // An unreadable file pointer (its library unloaded) falls back to the address form.
        if (FileUsable(h->file))
            MemTrace("%s(%d) : Memory leak! There have %d bytes(%d K) memory had not be delete. "
                     "Alloc ID : %d\n",
                     h->file, h->line, bytes, kilo, id);
        else
            MemTrace("Unkown position(0x%8.8" PRIxPTR ") : Memory leak! There have %d bytes(%d K) "
                     "memory had not be delete. Alloc ID : %d\n",
                     Address(data), bytes, kilo, id);
        if (h->frontGuard != kGuardWord)
            ReportGuardDamage(GuardSide::Front, nullptr, 0, h->file, h->line, data, h->allocId);
        if (ReadWord(data + h->size) != kGuardWord)
            ReportGuardDamage(GuardSide::Rear, nullptr, 0, h->file, h->line, data, h->allocId);
    }
}

void LargeBlockList::Close() {
    if (closed)
        return;
    closed = true;
    MemorySummary(stats);
    if (!zqhost::ProgramRunning())
        ReportLeaks();
}

// ---- The process-wide tracker ----

int64_t BreakAllocId = -1;

namespace {

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// A spin lock that the holding thread may take again: a report printed under the lock can
// reach a sink that allocates. Uncontended it costs one atomic exchange.
class TrackerLock {
public:
    void lock() {
        const void* self = &threadToken;
        if (owner.load(std::memory_order_relaxed) == self) {
            ++depth;
            return;
        }
        for (int spins = 0;; ++spins) {
            const void* expected = nullptr;
            if (owner.compare_exchange_weak(expected, self, std::memory_order_acquire,
                                            std::memory_order_relaxed))
                break;
            if (spins < 64)
                CpuRelax();
            else
                zqhost::YieldThread(); // more threads than cores: let the holder run
        }
        depth = 1;
    }
    void unlock() {
        if (--depth == 0)
            owner.store(nullptr, std::memory_order_release);
    }

private:
    static thread_local char threadToken;
    std::atomic<const void*> owner{nullptr};
    int depth = 0;
};
thread_local char TrackerLock::threadToken;

// Two sets of managers. The program's thread (the process's main thread, where the program
// runs; other threads belong to the GL driver and SDL) owns the main set and uses it without
// any atomic operation: its blocks are the program's, or libraries' inside a library scope.
// Other threads share a second set under a lock; all of its blocks are libraries'. A block of
// the main set released on another thread is checked there and queued; the main thread
// finishes the release at its next call (or at the report).
struct ManagerSet {
    PoolAllocator* pool = nullptr;
    LargeBlockList* large = nullptr;
};
ManagerSet mainSet;
ManagerSet threadSet;
MemoryStats g_ThreadSetStats;
TrackerLock threadSetLock;
// Guards the sets of live blocks of both large-block lists: a release on any thread looks
// them up. Taken after threadSetLock when both are held.
TrackerLock largeBlockLock;
std::atomic<bool> trackerReady{false};

// Blocks of the main set released on other threads, linked through their first data word.
std::atomic<void*> remoteReleases{nullptr};

struct LockHold {
    explicit LockHold(TrackerLock& lock) : lock(lock) { lock.lock(); }
    ~LockHold() { lock.unlock(); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;
    TrackerLock& lock;
};

// The managers live in static storage that is never destroyed: the reports run from
// exit-time handlers, and blocks released after them still find working managers.
alignas(PoolAllocator) unsigned char poolStorage[2][sizeof(PoolAllocator)];
alignas(LargeBlockList) unsigned char largeStorage[2][sizeof(LargeBlockList)];

bool IsMainSetBlock(uint32_t allocId) {
    return allocId != kLibraryThreadBlockId;
}

FW_POOL_INTERNAL uint32_t SizeField(const void* data) {
    uint32_t size;
    std::memcpy(&size, static_cast<const unsigned char*>(data) - 8, sizeof size);
    return size;
}

// data is a live block of the set.
void Release(const ManagerSet& set, void* data) {
    if (SizeField(data) <= PoolAllocator::__max_bytes) {
        set.pool->Release(data);
    } else {
        LockHold hold(largeBlockLock);
        set.large->Release(data);
    }
}

[[gnu::noinline]] FW_POOL_INTERNAL void QueueRemoteRelease(void* data) {
    void* head = remoteReleases.load(std::memory_order_relaxed);
    do
        std::memcpy(data, &head, sizeof head);
    while (!remoteReleases.compare_exchange_weak(head, data, std::memory_order_release,
                                                 std::memory_order_relaxed));
}

// Main thread only.
[[gnu::noinline]] FW_POOL_INTERNAL void FinishRemoteReleases() {
    void* data = remoteReleases.exchange(nullptr, std::memory_order_acquire);
    while (data) {
        void* next;
        std::memcpy(&next, data, sizeof next);
        Release(mainSet, data);
        data = next;
    }
}

// Cached per thread: -1 unknown, 1 the main thread, 0 any other.
constinit thread_local signed char mainThread = -1;

bool OnMainThread() {
    if (mainThread < 0) [[unlikely]]
        mainThread = zqhost::OnProcessMainThread() ? 1 : 0;
    return mainThread > 0;
}

void ClosePool() {
    FinishRemoteReleases();
    mainSet.pool->Close();
}

void CloseLargeBlocks() {
    FinishRemoteReleases();
    mainSet.large->Close();
    MemoryStats libraries = g_MemoryStats;
    {
        LockHold hold(threadSetLock);
        libraries.LibraryObjects += g_ThreadSetStats.LibraryObjects;
        libraries.LibraryBytes += g_ThreadSetStats.LibraryBytes;
    }
    ReportLibraryBlocks(libraries);
}

ManagerSet ConstructSet(int index, MemoryStats& stats, bool registerReports) {
    ManagerSet set;
    set.large = new (largeStorage[index]) LargeBlockList(stats);
    if (registerReports)
        std::atexit(CloseLargeBlocks);
    set.pool = new (poolStorage[index]) PoolAllocator(stats, kPoisonPools);
    if (registerReports)
        std::atexit(ClosePool);
    return set;
}

void ReadBreakAllocId() {
    const char* text = std::getenv("FERROWALK_BREAK_ALLOC");
    if (!text || !*text)
        return;
    char* end = nullptr;
    const long long id = std::strtoll(text, &end, 10);
    if (*end != '\0' || id < 0 || id > 0xFFFFFFFFLL) {
        MemTrace("FERROWALK_BREAK_ALLOC=%s ignored: not an allocation ID\n", text);
        return;
    }
    BreakAllocId = id;
}

[[gnu::cold, gnu::noinline]] void BreakAtAllocation(uint32_t allocId) {
    if (zqhost::BreakIntoDebugger())
        return;
    MemTrace("Alloc ID : %d reached (FERROWALK_BREAK_ALLOC), no debugger attached\n",
             static_cast<int>(allocId));
}

} // namespace

MemoryTracker::MemoryTracker() {
    ReadBreakAllocId();
    mainSet = ConstructSet(0, g_MemoryStats, true);
    threadSet = ConstructSet(1, g_ThreadSetStats, false);
}

PoolAllocator* MemoryTracker::Pool() {
    return mainSet.pool;
}
LargeBlockList* MemoryTracker::LargeBlocks() {
    return mainSet.large;
}

const MemoryStats& ThreadSetStats() {
    return g_ThreadSetStats;
}

BlockOwner CurrentBlockOwner() {
    if (!OnMainThread())
        return BlockOwner::LibraryThread;
    return zqhost::InLibraryScope() ? BlockOwner::Library : BlockOwner::Program;
}

namespace {

[[gnu::cold, gnu::noinline]] void ConstructTracker() {
    LockHold hold(threadSetLock);
    if (!trackerReady.load(std::memory_order_relaxed)) {
        static MemoryTracker tracker;
        // A fork while another thread holds the lock would leave the child's copy held.
        zqhost::GuardAcrossFork([] { threadSetLock.lock(); }, [] { threadSetLock.unlock(); });
        trackerReady.store(true, std::memory_order_release);
    }
}

void EnsureTracker() {
    if (!trackerReady.load(std::memory_order_acquire))
        ConstructTracker();
}

void* Allocate(const ManagerSet& set, uint32_t size, const char* file, int line, BlockOwner owner) {
    if (size <= PoolAllocator::__max_bytes)
        return set.pool->Allocate(size, file, line, owner);
    LockHold hold(largeBlockLock);
    return set.large->Allocate(size, file, line, owner);
}

} // namespace

namespace {

[[gnu::noinline]] void* TrackedAllocSlow(std::size_t size, const char* file, int line) {
    EnsureTracker();
    if (size > LargeBlockList::kLargestSize) {
        MemTrace("Allocation of %zu bytes refused: too large to track\n", size);
        return nullptr;
    }
    const uint32_t bytes = static_cast<uint32_t>(size);
    const BlockOwner owner = CurrentBlockOwner();
    void* data;
    if (owner == BlockOwner::LibraryThread) {
        LockHold hold(threadSetLock);
        data = Allocate(threadSet, bytes, file, line, owner);
    } else {
        if (remoteReleases.load(std::memory_order_relaxed))
            FinishRemoteReleases();
        if (owner == BlockOwner::Program &&
            static_cast<int64_t>(g_MemoryStats.NextAllocId) == BreakAllocId)
            BreakAtAllocation(g_MemoryStats.NextAllocId);
        data = Allocate(mainSet, bytes, file, line, owner);
    }
    if (!data)
        MemTrace("Allocation of %zu bytes failed: out of memory\n", size);
    return data;
}

// The standard's loop for a failed operator new: ask the new-handler for memory until it
// gives up by throwing.
[[gnu::cold, gnu::noinline]] void* TrackedAllocSlowOrThrow(std::size_t size, const char* file,
                                                           int line) {
    for (;;) {
        if (void* data = TrackedAllocSlow(size, file, line))
            return data;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

// The steady state of the program's thread, in which a block belongs to the program and
// needs only its manager: the tracker is built, no release from another thread waits (and,
// for an allocation, no library scope is open and the break ID is not next).
bool OnProgramThreadAtRest() {
    return trackerReady.load(std::memory_order_acquire) && mainThread > 0 &&
           !remoteReleases.load(std::memory_order_relaxed);
}

// Nearly every call is a small block of the program: that path takes no lock and makes no
// call. Null sends everything else, and a class without a free slot, the general way.
inline void* AllocateAtRest(std::size_t size, const char* file, int line) {
    if (size - 1 < PoolAllocator::__max_bytes && OnProgramThreadAtRest() &&
        !zqhost::InLibraryScope() &&
        static_cast<int64_t>(g_MemoryStats.NextAllocId) != BreakAllocId)
        return mainSet.pool->TakeFreeSlot(static_cast<uint32_t>(size), file, line);
    return nullptr;
}

} // namespace

void* TrackedAlloc(std::size_t size, const char* file, int line) {
    if (void* data = AllocateAtRest(size, file, line))
        return data;
    return TrackedAllocSlow(size, file, line);
}

void* TrackedAllocOrThrow(std::size_t size, const char* file, int line) {
    if (void* data = AllocateAtRest(size, file, line))
        return data;
    return TrackedAllocSlowOrThrow(size, file, line);
}

namespace {

// The release path of one kind of block (pooled or large) that lies where a block of that
// kind can be, routed by the ID in its header.
template <typename Manager, typename Header>
FW_POOL_INTERNAL void ReleaseBlock(void* pointer, const char* file, int line) {
    const auto* header =
        reinterpret_cast<const Header*>(static_cast<unsigned char*>(pointer) - sizeof(Header));
    if (!IsMainSetBlock(header->allocId)) {
        LockHold hold(threadSetLock);
        if (Manager::CheckRelease(pointer, file, line))
            Release(threadSet, pointer);
    } else if (OnMainThread()) {
        if (remoteReleases.load(std::memory_order_relaxed))
            FinishRemoteReleases();
        if (Manager::CheckRelease(pointer, file, line))
            Release(mainSet, pointer);
    } else if (Manager::CheckRelease(pointer, file, line)) {
        QueueRemoteRelease(pointer);
    }
}

bool IsLiveLargeBlock(const void* pointer) {
    LockHold hold(largeBlockLock);
    return mainSet.large->Holds(pointer) || threadSet.large->Holds(pointer);
}

[[gnu::noinline]] void TrackedFreeSlow(void* pointer, const char* file, int line) {
    if (!trackerReady.load(std::memory_order_acquire))
        return; // nothing was ever allocated here: not one of ours
    // Where the pointer lies decides, before its header is read: a block released already
    // may be memory the C heap has since reused or unmapped.
    if (PoolAllocator::HoldsSlot(pointer))
        ReleaseBlock<PoolAllocator, PoolBlockHeader>(pointer, file, line);
    else if (IsLiveLargeBlock(pointer))
        ReleaseBlock<LargeBlockList, LargeBlockHeader>(pointer, file, line);
    else
        ReportRefusedRelease(pointer);
}

} // namespace

// The program's own pooled blocks with intact guards, released on its thread: no lock, no
// call. Everything else, damage reports included, goes the general way.
[[gnu::flatten]] FW_POOL_INTERNAL void TrackedFree(void* pointer, const char* file, int line) {
    if (!pointer)
        return;
    if (OnProgramThreadAtRest() && PoolAllocator::HoldsSlot(pointer) &&
        PoolAllocator::IsIntactProgramBlock(pointer))
        mainSet.pool->Release(pointer);
    else
        TrackedFreeSlow(pointer, file, line);
}
