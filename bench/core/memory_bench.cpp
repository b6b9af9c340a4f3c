// Tracked allocation against the C library's malloc/free, measured side by side in one run.
// Each benchmark times both paths over the same batches and reports their ratio
// (tracked time / malloc time: below 1 means the tracked path is faster).
#include "core/zqmemory.h"
#include "core/zqmemory_local.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBatch = 64;

std::vector<std::size_t> BatchSizes(std::size_t smallest, std::size_t largest, std::size_t step) {
    std::vector<std::size_t> sizes;
    for (std::size_t size = smallest; sizes.size() < kBatch; size += step)
        sizes.push_back(smallest + (size - smallest) % (largest - smallest + 1));
    // One size: the same block over and over would measure a cache line, not an allocator.
    return sizes;
}

template <typename Allocate, typename Release>
double TimeBatch(const std::vector<std::size_t>& sizes, Allocate allocate, Release release) {
    void* blocks[kBatch];
    const auto start = Clock::now();
    for (int k = 0; k < kBatch; ++k)
        blocks[k] = allocate(sizes[k]);
    benchmark::DoNotOptimize(blocks);
    for (int k = 0; k < kBatch; ++k)
        release(blocks[k]);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

void CompareWithMalloc(benchmark::State& state, const std::vector<std::size_t>& sizes) {
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        tracked += TimeBatch(
            sizes, [](std::size_t size) { return ::operator new(size); },
            [](void* block) { ::operator delete(block); });
        plain += TimeBatch(sizes, std::malloc, std::free);
    }
    const double pairs = static_cast<double>(state.iterations()) * kBatch;
    state.counters["tracked_ns"] = tracked / pairs;
    state.counters["malloc_ns"] = plain / pairs;
    state.counters["ratio"] = tracked / plain;
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
void PoolAlone(benchmark::State& state) {
    static MemoryStats stats;
    static PoolAllocator pool(stats);
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    double tracked = 0, plain = 0;
    for (auto _ : state) {
        tracked += TimeBatch(
            sizes,
            [](std::size_t size) { return pool.Allocate(static_cast<uint32_t>(size), nullptr, 0); },
            [](void* block) { pool.Free(block, nullptr, 0); });
        plain += TimeBatch(sizes, std::malloc, std::free);
    }
    const double pairs = static_cast<double>(state.iterations()) * kBatch;
    state.counters["pool_ns"] = tracked / pairs;
    state.counters["malloc_ns"] = plain / pairs;
    state.counters["ratio"] = tracked / plain;
}
BENCHMARK(PoolAlone);

// Blocks of 1 to 64 KB: one heap block each, filled on release.
void LargeBlocks(benchmark::State& state) {
    CompareWithMalloc(state, BatchSizes(1024, 65536, 9 * 1024 + 13));
}
BENCHMARK(LargeBlocks);

// Many threads at once (the GL driver's threads): every call takes the tracker's guard.
void ThreadsAtOnce(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    for (auto _ : state)
        TimeBatch(
            sizes, [](std::size_t size) { return ::operator new(size); },
            [](void* block) { ::operator delete(block); });
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(ThreadsAtOnce)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();

void ThreadsAtOnceMalloc(benchmark::State& state) {
    const std::vector<std::size_t> sizes = BatchSizes(8, 256, 40);
    for (auto _ : state)
        TimeBatch(sizes, std::malloc, std::free);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(ThreadsAtOnceMalloc)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();

} // namespace
