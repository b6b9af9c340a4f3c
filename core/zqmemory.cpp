#include "core/zqmemory_local.h"

#include "platform/windows.h"

#include <cassert>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

MemoryStats g_MemoryStats;

namespace {

MemTraceSink traceSink = nullptr;

uint32_t KiloBytes(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + 1023) / 1024);
}

// The recorded file may point into a library unloaded since; probe before printing it.
bool FileUsable(const char* file) {
    return file && !IsBadReadPtr(file, 4);
}

uint32_t ReadWord(const unsigned char* at) {
    uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

void WriteGuard(unsigned char* at) {
    std::memcpy(at, &kGuardWord, sizeof kGuardWord);
}

void CountIn(MemoryStats& stats, BlockOwner owner, uint32_t bytes) {
    if (owner == BlockOwner::Library) {
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
    if (allocId == kLibraryBlockId) {
        stats.LibraryObjects -= 1;
        stats.LibraryBytes -= bytes;
        return;
    }
    stats.LiveObjects -= 1;
    stats.LiveBytes -= bytes;
}

uint32_t TakeAllocId(MemoryStats& stats, BlockOwner owner) {
    return owner == BlockOwner::Library ? kLibraryBlockId : stats.NextAllocId++;
}

uintptr_t Address(const void* data) {
    return reinterpret_cast<uintptr_t>(data);
}

} // namespace

// ---- Output ----

void MemTrace(const char* format, ...) {
    char Tmp[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(Tmp, sizeof Tmp, format, args);
    va_end(args);
    if (length < 0)
        return;
    if (static_cast<size_t>(length) >= sizeof Tmp)
        Tmp[sizeof Tmp - 2] = '\n'; // cut, but still one line
    if (traceSink)
        traceSink(Tmp);
    else
        OutputDebugStringA(Tmp);
}

MemTraceSink SetMemTraceSink(MemTraceSink sink) {
    MemTraceSink previous = traceSink;
    traceSink = sink;
    return previous;
}

void* ProcessHeapAlloc(std::size_t bytes) {
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}
void ProcessHeapFree(void* block) {
    HeapFree(GetProcessHeap(), 0, block);
}

// ---- Reports ----

void ReportGuardDamage(GuardSide side, const char* releaseFile, int releaseLine, const char* file,
                       int line, const void* data, uint32_t allocId) {
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

void MemorySummary(MemoryStats& stats) {
    if (stats.PeakBytes == 0)
        return;
    MemTrace("\n");
    if (stats.LiveObjects != 0)
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

// ---- PoolAllocator ----

namespace {

unsigned char* SlotData(PoolBlockHeader* slot) {
    return reinterpret_cast<unsigned char*>(slot) + sizeof(PoolBlockHeader);
}

PoolBlockHeader* SlotAt(uintptr_t chunk, uint32_t classSize, uint32_t index) {
    return reinterpret_cast<PoolBlockHeader*>(chunk + PoolAllocator::kChunkLead +
                                              index * PoolAllocator::SlotStride(classSize));
}

PoolBlockHeader* NextFree(PoolBlockHeader* slot) {
    PoolBlockHeader* next;
    std::memcpy(&next, SlotData(slot), sizeof next);
    return next;
}

void SetNextFree(PoolBlockHeader* slot, PoolBlockHeader* next) {
    std::memcpy(SlotData(slot), &next, sizeof next);
}

} // namespace

void* PoolAllocator::Allocate(uint32_t size, const char* file, int line, BlockOwner owner) {
    assert(size <= __max_bytes);
    if (size == 0)
        size = 1;
    const uint32_t i = (size - 1) / 8;
    if (!freeLists[i])
        freeLists[i] = NewChunk(size);
    PoolBlockHeader* h = freeLists[i];
    if (!h)
        return nullptr;
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
    return data;
}

PoolBlockHeader* PoolAllocator::NewChunk(uint32_t size) {
    const uint32_t c = RoundUp8(size);
    const uint32_t stride = SlotStride(c);
    void* block = ProcessHeapAlloc(kChunkLead + kSlotsPerChunk * stride);
    if (!block)
        return nullptr;
    const uintptr_t chunk = reinterpret_cast<uintptr_t>(block);
    for (uint32_t k = 0; k < kSlotsPerChunk; ++k) {
        PoolBlockHeader* slot = SlotAt(chunk, c, k);
        *slot = PoolBlockHeader{nullptr, 0, kFreeSlotId, c, 0};
        SetNextFree(slot, k + 1 < kSlotsPerChunk ? SlotAt(chunk, c, k + 1) : nullptr);
    }
    if (!chunks.PushBack(chunk) || !chunkSizes.PushBack(c)) {
        if (chunks.Count() > chunkSizes.Count())
            chunks.PopBack(); // keeps the two arrays parallel
        ProcessHeapFree(block);
        return nullptr;
    }
    return SlotAt(chunk, c, 0);
}

void PoolAllocator::Free(void* data, const char* file, int line) {
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<PoolBlockHeader*>(bytes - sizeof(PoolBlockHeader));
    const uint32_t s = h->size;
    assert(s <= __max_bytes);
    // A size out of range or a slot already on its free list would corrupt the lists.
    if (s == 0 || s > __max_bytes || h->allocId == kFreeSlotId) {
        MemTrace("Release of pointer(0x%8.8" PRIxPTR ") refused: not a live block\n",
                 Address(data));
        return;
    }
    if (h->frontGuard != kGuardWord)
        ReportGuardDamage(GuardSide::Front, file, line, h->file, h->line, data, h->allocId);
    if (ReadWord(bytes + s) != kGuardWord)
        ReportGuardDamage(GuardSide::Rear, file, line, h->file, h->line, data, h->allocId);
    std::memset(bytes, kFillByte, s);
    CountOut(stats, h->allocId, s);
    const uint32_t i = (s - 1) / 8;
    SetNextFree(h, freeLists[i]);
    freeLists[i] = h;
    h->allocId = kFreeSlotId;
}

void PoolAllocator::ReportChunkLeaks(uintptr_t chunk, uint32_t leak_size) {
    assert(leak_size > 0);
    for (uint32_t k = 0; k < kSlotsPerChunk; ++k) {
        const PoolBlockHeader* slot = SlotAt(chunk, leak_size, k);
        if (slot->allocId == kFreeSlotId || slot->allocId == kLibraryBlockId)
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

bool PoolAllocator::ChunkHasLiveSlots(uintptr_t chunk, uint32_t classSize) const {
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
    for (uint32_t k = 0; k < chunks.Count(); ++k)
        ReportChunkLeaks(chunks[k], ChunkSize(k));
    // Blocks still live (leaks, libraries' blocks) may be released by static destructors
    // that run after this report, so their chunks stay; fresh chunks serve later requests.
    for (uint32_t k = 0; k < chunks.Count(); ++k)
        if (!ChunkHasLiveSlots(chunks[k], ChunkSize(k)))
            ProcessHeapFree(reinterpret_cast<void*>(chunks[k]));
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
    auto* bytes = static_cast<unsigned char*>(data);
    auto* h = reinterpret_cast<LargeBlockHeader*>(bytes - sizeof(LargeBlockHeader));
    if (h->frontGuard != kGuardWord) {
        ReportGuardDamage(GuardSide::Front, file, line, h->file, h->line, data, h->allocId);
        return;
    }
    if (ReadWord(bytes + h->size) != kGuardWord)
        ReportGuardDamage(GuardSide::Rear, file, line, h->file, h->line, data, h->allocId);
    std::memset(bytes, kFillByte, h->size);
    CountOut(stats, h->allocId, h->size);
    if (h->prev)
        h->prev->next = h->next;
    if (h->next)
        h->next->prev = h->prev;
    ProcessHeapFree(h);
}

void LargeBlockList::ReportLeaks() {
    for (LargeBlockHeader* h = root.next; h; h = h->next) {
        if (h->allocId == kLibraryBlockId)
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
    ReportLeaks();
}
