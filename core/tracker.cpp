#include "core/zqmemory.h"
#include "core/zqmemory_local.h"

// The library-scope marker of the platform layer is the one host service used here.
#include "platform/win32/host.h"

#include <atomic>
#include <cinttypes>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <unistd.h>

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
                sched_yield(); // more threads than cores: let the holder run
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

TrackerLock trackerLock;
bool trackerConstructed = false;
PoolAllocator* publishedPool = nullptr;
LargeBlockList* publishedLarge = nullptr;

struct LockHold {
    LockHold() { trackerLock.lock(); }
    ~LockHold() { trackerLock.unlock(); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;
};

// The managers live in static storage that is never destroyed: the reports run from
// exit-time handlers, and blocks released after them still find working managers.
alignas(PoolAllocator) unsigned char poolStorage[sizeof(PoolAllocator)];
alignas(LargeBlockList) unsigned char largeStorage[sizeof(LargeBlockList)];

void ClosePool() {
    LockHold hold;
    publishedPool->Close();
}

void CloseLargeBlocks() {
    LockHold hold;
    publishedLarge->Close();
    ReportLibraryBlocks(g_MemoryStats);
}

LargeBlockList* ConstructLargeBlocks() {
    static LargeBlockList* large = [] {
        auto* list = new (largeStorage) LargeBlockList(g_MemoryStats);
        std::atexit(CloseLargeBlocks);
        return list;
    }();
    return large;
}

PoolAllocator* ConstructPool() {
    static PoolAllocator* pool = [] {
        auto* allocator = new (poolStorage) PoolAllocator(g_MemoryStats);
        std::atexit(ClosePool);
        return allocator;
    }();
    return pool;
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

// Reads TracerPid from /proc without the heap: a stop for a debugger that is not there
// would kill the process with SIGTRAP.
bool DebuggerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char status[4096];
    const ssize_t length = read(fd, status, sizeof status - 1);
    close(fd);
    if (length <= 0)
        return false;
    status[length] = '\0';
    const char* tracer = std::strstr(status, "TracerPid:");
    return tracer && std::strtol(tracer + 10, nullptr, 10) != 0;
}

void BreakAtAllocation(uint32_t allocId) {
    if (DebuggerAttached()) {
        std::raise(SIGTRAP);
        return;
    }
    MemTrace("Alloc ID : %d reached (FERROWALK_BREAK_ALLOC), no debugger attached\n",
             static_cast<int>(allocId));
}

} // namespace

MemoryTracker::MemoryTracker() {
    ReadBreakAllocId();
    LargeBlockList* large = ConstructLargeBlocks();
    PoolAllocator* pool = ConstructPool();
    if (!publishedPool) {
        publishedPool = pool;
        publishedLarge = large;
    }
}

PoolAllocator* MemoryTracker::Pool() {
    return publishedPool;
}
LargeBlockList* MemoryTracker::LargeBlocks() {
    return publishedLarge;
}

BlockOwner CurrentBlockOwner() {
    // Cached per thread: -1 unknown, 1 the main thread, 0 any other.
    static thread_local signed char mainThread = -1;
    if (mainThread < 0)
        mainThread = gettid() == getpid() ? 1 : 0;
    return mainThread && !fw::InLibraryScope() ? BlockOwner::Program : BlockOwner::Library;
}

void* TrackedAlloc(std::size_t size, const char* file, int line) {
    const BlockOwner owner = CurrentBlockOwner();
    LockHold hold;
    if (!trackerConstructed) {
        trackerConstructed = true;
        static MemoryTracker tracker;
    }
    if (size > LargeBlockList::kLargestSize) {
        MemTrace("Allocation of %zu bytes refused: too large to track\n", size);
        return nullptr;
    }
    const uint32_t bytes = static_cast<uint32_t>(size);
    if (owner == BlockOwner::Program &&
        static_cast<int64_t>(g_MemoryStats.NextAllocId) == BreakAllocId)
        BreakAtAllocation(g_MemoryStats.NextAllocId);
    void* data = bytes <= PoolAllocator::__max_bytes
                     ? MemoryTracker::Pool()->Allocate(bytes, file, line, owner)
                     : MemoryTracker::LargeBlocks()->Allocate(bytes, file, line, owner);
    if (!data)
        MemTrace("Allocation of %zu bytes failed: out of memory\n", size);
    return data;
}

void TrackedFree(void* pointer, const char* file, int line) {
    if (!pointer)
        return;
    LockHold hold;
    if (!MemoryTracker::Pool())
        return; // nothing was ever allocated here: not one of ours
    uint32_t size;
    std::memcpy(&size, static_cast<unsigned char*>(pointer) - 8, sizeof size);
    if (size <= PoolAllocator::__max_bytes)
        MemoryTracker::Pool()->Free(pointer, file, line);
    else
        MemoryTracker::LargeBlocks()->Free(pointer, file, line);
}
