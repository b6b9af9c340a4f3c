// Tracked allocation against the C library's malloc/free, measured side by side in one run.
// Each benchmark times both paths over the same batches and reports their ratio
// (tracked time / malloc time: below 1 means the tracked path is faster).
#include "core/zqmemory.h"
#include "core/zqmemory_local.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr int kBatch = 64;

std::vector<std::size_t> BatchSizes(std::size_t smallest, std::size_t largest, std::size_t step) {
    std::vector<std::size_t> sizes;
    for (std::size_t size = smallest; sizes.size() < kBatch; size += step)
        sizes.push_back(smallest + (size - smallest) % (largest - smallest + 1));
    // One size: the same block over and over would measure a cache line, not an allocator.
    return sizes;
}

// The thread's processor time: the machine may be shared, and only this thread's work counts.
double ThreadNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Allocates a batch and releases it, kRounds times over; returns the processor time taken.
constexpr int kRounds = 32;

template <typename Allocate, typename Release>
double TimeBatches(const std::vector<std::size_t>& sizes, Allocate allocate, Release release) {
    void* blocks[kBatch];
    const double start = ThreadNanoseconds();
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < kBatch; ++k)
            blocks[k] = allocate(sizes[k]);
        benchmark::DoNotOptimize(blocks);
        for (int k = 0; k < kBatch; ++k)
            release(blocks[k]);
    }
    return ThreadNanoseconds() - start;
}

void* TrackedNew(std::size_t size) {
    return ::operator new(size);
}
void TrackedDelete(void* block) {
    ::operator delete(block);
}

void ReportRatio(benchmark::State& state, double tracked, double plain) {
    const double pairs = static_cast<double>(state.iterations()) * kRounds * kBatch;
    state.counters["tracked_ns"] = tracked / pairs;
    state.counters["malloc_ns"] = plain / pairs;
    state.counters["ratio"] = tracked / plain;
}

void CompareWithMalloc(benchmark::State& state, const std::vector<std::size_t>& sizes) {
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        tracked += TimeBatches(sizes, TrackedNew, TrackedDelete);
        plain += TimeBatches(sizes, std::malloc, std::free);
    }
    ReportRatio(state, tracked, plain);
}

// Blocks of 8 to 256 bytes: the pooled path.
void SmallBlocks(benchmark::State& state) {
    CompareWithMalloc(state, BatchSizes(8, 256, 40));
}
BENCHMARK(SmallBlocks);

void SmallBlocksOfOneSize(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    CompareWithMalloc(state, BatchSizes(size, size, 0));
}
BENCHMARK(SmallBlocksOfOneSize)->Arg(8)->Arg(24)->Arg(64)->Arg(256);

// The pool alone, without the global operators, the ownership test and the guard.
MemoryStats poolStats;
PoolAllocator pool(poolStats);
void* PoolNew(std::size_t size) {
    return pool.Allocate(static_cast<uint32_t>(size), nullptr, 0);
}
void PoolDelete(void* block) {
    pool.Free(block, nullptr, 0);
}

void PoolAlone(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        tracked += TimeBatches(sizes, PoolNew, PoolDelete);
        plain += TimeBatches(sizes, std::malloc, std::free);
    }
    state.counters["pool_ns"] =
        tracked / static_cast<double>(state.iterations() * kRounds * kBatch);
    state.counters["ratio"] = tracked / plain;
}
BENCHMARK(PoolAlone);

// Blocks of 1 to 64 KB: one heap block each, filled on release.
void LargeBlocks(benchmark::State& state) {
    CompareWithMalloc(state, BatchSizes(1024, 65536, 9 * 1024 + 13));
}
BENCHMARK(LargeBlocks);

// A program writes what it allocates: with the pages in use, what is left is the tracker's
// own work (header, guards and the 0xCC fill on release).
template <void* (*allocate)(std::size_t)> void* AllocateAndWrite(std::size_t size) {
    void* block = allocate(size);
    std::memset(block, 1, size);
    return block;
}

void LargeBlocksWritten(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(1024, 65536, 9 * 1024 + 13);
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        tracked += TimeBatches(sizes, AllocateAndWrite<TrackedNew>, TrackedDelete);
        plain += TimeBatches(sizes, AllocateAndWrite<std::malloc>, std::free);
    }
    ReportRatio(state, tracked, plain);
}
BENCHMARK(LargeBlocksWritten);

// The small batches on a thread other than the program's: every call takes the guard of
// the shared managers (uncontended here). The difference to SmallBlocks is its cost.
void SmallBlocksOnOtherThread(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        std::thread([&] {
            tracked += TimeBatches(sizes, TrackedNew, TrackedDelete);
            plain += TimeBatches(sizes, std::malloc, std::free);
        }).join();
    }
    ReportRatio(state, tracked, plain);
}
BENCHMARK(SmallBlocksOnOtherThread);

// Many threads at once (the GL driver's threads): every call takes the tracker's guard.
void ThreadsAtOnce(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    for (auto _ : state)
        TimeBatches(sizes, TrackedNew, TrackedDelete);
    state.SetItemsProcessed(state.iterations() * kRounds * kBatch);
}
BENCHMARK(ThreadsAtOnce)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();

void ThreadsAtOnceMalloc(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    for (auto _ : state)
        TimeBatches(sizes, std::malloc, std::free);
    state.SetItemsProcessed(state.iterations() * kRounds * kBatch);
}
BENCHMARK(ThreadsAtOnceMalloc)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();

} // namespace
