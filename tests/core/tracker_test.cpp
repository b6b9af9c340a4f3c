#include "captured_trace.h"
#include "core/zqmemory.h"
#include "core/zqmemory_local.h"
#include "platform/win32/host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <csignal>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <vector>

#if defined(FW_POISON_POOL)
// Leaks are the tracker's subject here; the sanitizer's own leak check would only repeat them.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif

namespace {

FW_POOL_INTERNAL uint32_t SizeWord(const void* data) {
    uint32_t size;
    std::memcpy(&size, static_cast<const char*>(data) - 8, sizeof size);
    return size;
}

TEST(TrackedAlloc, RoutesBySizeAndDrawsOneIdSequence) {
    const MemoryStats before = g_MemoryStats;
    void* empty = TrackedAlloc(0, nullptr, 0);
    void* pooled = TrackedAlloc(256, nullptr, 0);
    void* large = TrackedAlloc(257, nullptr, 0);
    EXPECT_EQ(SizeWord(empty), 1u);
    EXPECT_EQ(SizeWord(pooled), 256u);
    EXPECT_EQ(SizeWord(large), 264u);
    EXPECT_EQ(g_MemoryStats.NextAllocId - before.NextAllocId, 3u);
    EXPECT_EQ(g_MemoryStats.LiveBytes - before.LiveBytes, 1u + 256 + 264);
    EXPECT_EQ(g_MemoryStats.LiveObjects - before.LiveObjects, 3);
    TrackedFree(large, nullptr, 0);
    TrackedFree(pooled, nullptr, 0);
    TrackedFree(empty, nullptr, 0);
    TrackedFree(nullptr, "x.cpp", 1);
    EXPECT_EQ(g_MemoryStats.LiveBytes, before.LiveBytes);
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
}

TEST(TrackedAlloc, PositionalNewRecordsTheSite) {
    const int line = __LINE__ + 1;
    int* value = TRACKED_NEW int(5);
    const PoolBlockHeader header = PoolHeaderOf(value);
    EXPECT_STREQ(header.file, __FILE__);
    EXPECT_EQ(header.line, line);
    delete value;
    char* text = TRACKED_NEW char[1000];
    auto* large = reinterpret_cast<const LargeBlockHeader*>(text - 48);
    EXPECT_STREQ(large->file, __FILE__);
    delete[] text;
}

struct alignas(64) Wide {
    char bytes[64];
};
struct alignas(256) Wider {
    char bytes[300];
};

TEST(GlobalOperators, EveryFormServesAndReleasesConsistently) {
    const MemoryStats before = g_MemoryStats;
    auto* wide = new Wide;
    auto* wides = new Wide[3];
    auto* wider = new Wider;
    auto* quiet = new (std::nothrow) Wider[2];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wide) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wides) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(wider) % 256, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(quiet) % 256, 0u);
    std::memset(wides, 1, sizeof(Wide) * 3);
    std::memset(quiet, 2, sizeof(Wider) * 2);
    delete wide;
    delete[] wides;
    delete wider;
    delete[] quiet;
    void* small = ::operator new(24, std::nothrow);
    void* aligned = ::operator new (100, std::align_val_t{128}, std::nothrow);
#if defined(__cpp_sized_deallocation) // Clang declares the sized forms only on request
    ::operator delete(small, 24);
    ::operator delete (aligned, 100, std::align_val_t{128});
#else
    ::operator delete(small, std::nothrow);
    ::operator delete (aligned, std::align_val_t{128}, std::nothrow);
#endif
    std::vector<std::string> strings(100, std::string(40, 's'));
    strings.clear();
    strings.shrink_to_fit();
    EXPECT_EQ(g_MemoryStats.LiveBytes, before.LiveBytes);
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
}

TEST(GlobalOperators, AbsurdSizesFailCleanly) {
    CapturedTrace trace;
    const MemoryStats before = g_MemoryStats;
    volatile std::size_t huge = std::size_t{1} << 40; // kept from the compiler's size checks
    volatile std::size_t nearMax = SIZE_MAX - 8;
    const std::size_t absurd = huge;
    EXPECT_EQ(TrackedAlloc(absurd, nullptr, 0), nullptr);
    EXPECT_THROW(static_cast<void>(::operator new(absurd)), std::bad_alloc);
    EXPECT_EQ(::operator new[](absurd, std::nothrow), nullptr);
    EXPECT_EQ(::operator new (nearMax, std::align_val_t{64}, std::nothrow), nullptr);
    EXPECT_EQ(g_MemoryStats.NextAllocId, before.NextAllocId);
    EXPECT_NE(trace.All().find("Allocation of 1099511627776 bytes refused"), std::string::npos);
}

TEST(BlockOwnership, OtherThreadsAndLibraryScopesAllocateForLibraries) {
    const MemoryStats before = g_MemoryStats;
    const MemoryStats threadsBefore = ThreadSetStats();
    void* fromThread = nullptr;
    std::thread thread([&] { fromThread = TrackedAlloc(100, nullptr, 0); });
    thread.join();
    void* inScope;
    {
        fw::LibraryScope scope;
        inScope = TrackedAlloc(1000, nullptr, 0);
    }
    const MemoryStats after = g_MemoryStats;
    const MemoryStats threadsAfter = ThreadSetStats();
    TrackedFree(fromThread, nullptr, 0); // released by the program's thread: still a library's
    std::thread([&] { TrackedFree(inScope, nullptr, 0); }).join();
    TrackedFree(TrackedAlloc(1, nullptr, 0), nullptr, 0); // finishes the queued release

    EXPECT_EQ(threadsAfter.LibraryObjects - threadsBefore.LibraryObjects, 1);
    EXPECT_EQ(threadsAfter.LibraryBytes - threadsBefore.LibraryBytes, 100u);
    EXPECT_EQ(after.LibraryObjects - before.LibraryObjects, 1);
    EXPECT_EQ(after.LibraryBytes - before.LibraryBytes, 1000u);
    EXPECT_EQ(after.NextAllocId, before.NextAllocId + 1); // the std::thread's own state
    EXPECT_EQ(ThreadSetStats().LibraryObjects, threadsBefore.LibraryObjects);
    EXPECT_EQ(g_MemoryStats.LibraryObjects, before.LibraryObjects);
    EXPECT_EQ(g_MemoryStats.LibraryBytes, before.LibraryBytes);
}

TEST(BlockOwnership, ProgramBlocksReleasedOnAnotherThreadAreCountedOut) {
    CapturedTrace trace;
    const MemoryStats before = g_MemoryStats;
    const std::size_t sizes[] = {1, 7, 100, 256, 257, 5000};
    char* blocks[6];
    for (int k = 0; k < 6; ++k)
        blocks[k] = static_cast<char*>(TrackedAlloc(sizes[k], nullptr, 0));
    PokeByte(blocks[1] + 7, 0); // the rear guard is checked on the releasing thread
    const std::string address = Hex(blocks[1]);
    std::thread([&] {
        for (char* block : blocks)
            TrackedFree(block, nullptr, 0);
    }).join();
    EXPECT_EQ(trace.Lines().size(), 1u);
    EXPECT_NE(trace.All().find("Verify pointer(" + address + ") failed!"), std::string::npos);
    TrackedFree(TrackedAlloc(8, nullptr, 0), nullptr, 0); // finishes the queued releases
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
    EXPECT_EQ(g_MemoryStats.LiveBytes, before.LiveBytes);
}

TEST(BlockOwnership, ManyThreadsAllocatingAtOnceKeepEveryBlockIntact) {
    const MemoryStats before = ThreadSetStats();
    constexpr int kThreads = 6;
    constexpr int kRounds = 3000;
    std::atomic<int> damaged{0};
    std::atomic<void*> handOver[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            struct Block {
                unsigned char* bytes;
                std::size_t size;
            };
            std::vector<Block> mine;
            for (int round = 0; round < kRounds; ++round) {
                const std::size_t size = 1 + (round * 37 + t * 11) % 2000;
                auto* bytes = static_cast<unsigned char*>(TrackedAlloc(size, nullptr, 0));
                std::memset(bytes, t + 1, size);
                mine.push_back({bytes, size});
                if (mine.size() <= 20)
                    continue;
                Block old = mine.front();
                mine.erase(mine.begin());
                for (std::size_t k = 0; k < old.size; ++k)
                    if (old.bytes[k] != t + 1)
                        damaged.fetch_add(1);
                // Every third block is released on a neighbouring thread.
                if (round % 3 == 0)
                    old.bytes = static_cast<unsigned char*>(
                        handOver[(t + 1) % kThreads].exchange(old.bytes));
                TrackedFree(old.bytes, nullptr, 0);
            }
            for (Block block : mine)
                TrackedFree(block.bytes, nullptr, 0);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (auto& slot : handOver)
        TrackedFree(slot.load(), nullptr, 0);
    EXPECT_EQ(damaged.load(), 0);
    EXPECT_EQ(ThreadSetStats().LibraryObjects, before.LibraryObjects);
    EXPECT_EQ(ThreadSetStats().LibraryBytes, before.LibraryBytes);
}

TEST(GuardReport, GlobalReleaseReportsThroughASinkThatAllocates) {
    CapturedTrace trace; // appends to a std::string: allocates under the tracker's lock
    char* text = TRACKED_NEW char[16];
    const int line = __LINE__ - 1;
    const int id = static_cast<int>(PoolHeaderOf(text).allocId);
    PokeByte(text + 16, 'x');
    const std::string address = Hex(text);
    delete[] text;
    EXPECT_EQ(trace.Lines(),
              std::vector<std::string>{std::string(__FILE__) + "(" + std::to_string(line) +
                                       ") : Verify pointer(" + address +
                                       ") failed! Alloc ID : " + std::to_string(id)});
}

TEST(TrackedFree, DamagedAndRepeatedReleasesOfSmallBlocksAreReportedAndKeepTheListSound) {
    CapturedTrace trace;
    const MemoryStats before = g_MemoryStats;
    auto* front = static_cast<char*>(TrackedAlloc(40, nullptr, 0));
    const int id = static_cast<int>(PoolHeaderOf(front).allocId);
    PokeByte(front - 2, 0);
    const std::string address = Hex(front);
    TrackedFree(front, nullptr, 0);
    TrackedFree(front, nullptr, 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                 "Unkown position : Verify pointer(" + address +
                                     ") failed!!! Alloc ID : " + std::to_string(id),
                                 "Release of pointer(" + address + ") refused: not a live block"}));
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
    EXPECT_EQ(g_MemoryStats.LiveBytes, before.LiveBytes);
    void* first = TrackedAlloc(40, nullptr, 0);
    void* second = TrackedAlloc(40, nullptr, 0);
    EXPECT_EQ(first, front); // last released, first reused, and only once
    EXPECT_NE(second, front);
    TrackedFree(second, nullptr, 0);
    TrackedFree(first, nullptr, 0);
}

// What a second release of a large block points to may be gone: a block of a megabyte is
// unmapped by the C heap, a smaller one goes back to its free lists. Both are refused like
// pointers that never were blocks, and nothing is counted out. In a child: a crash must fail
// this test, not end the suite.
TEST(TrackedFree, RepeatedReleasesOfLargeBlocksAndPointersIntoBlocksAreRefused) {
    const pid_t child = fork();
    if (child == 0) {
        CapturedTrace trace;
        auto* mapped = static_cast<char*>(TrackedAlloc(1 << 20, nullptr, 0));
        auto* heap = static_cast<char*>(TrackedAlloc(5000, nullptr, 0));
        auto* pooled = static_cast<char*>(TrackedAlloc(64, nullptr, 0));
        alignas(16) char onStack[64] = {};
        TrackedFree(mapped, nullptr, 0);
        TrackedFree(heap, nullptr, 0);
        const MemoryStats before = g_MemoryStats;
        for (char* stale : {mapped, heap, pooled + 32, onStack + 32, heap + 16})
            TrackedFree(stale, nullptr, 0);
        TrackedFree(pooled, nullptr, 0);
        const bool counted = g_MemoryStats.LiveObjects == before.LiveObjects - 1 &&
                             g_MemoryStats.LiveBytes == before.LiveBytes - 64;
        std::vector<std::string> expected;
        for (char* stale : {mapped, heap, pooled + 32, onStack + 32, heap + 16})
            expected.push_back("Release of pointer(" + Hex(stale) + ") refused: not a live block");
        const bool sound = counted && trace.Lines() == expected;
        if (!sound)
            std::fprintf(stderr, "%s", trace.All().c_str());
        _exit(sound ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// Sanitizer builds poison the pool's guards, slack and free slots: a write into them is
// stopped where it happens, not found later at the release.
TEST(PoolPoisoning, WritesIntoGuardsAndReleasedSlotsAreCaughtWhereTheyHappen) {
#if !defined(FW_POISON_POOL)
    GTEST_SKIP() << "needs a sanitizer build (-DFERROWALK_ASAN=ON)";
#else
    auto* block = static_cast<volatile char*>(TrackedAlloc(10, nullptr, 0));
    block[9] = 1; // the caller's last byte
    EXPECT_DEATH(block[10] = 1, "use-after-poison");
    EXPECT_DEATH(block[-1] = 1, "use-after-poison");
    EXPECT_DEATH( // in one statement: the slot would serve the test framework's next block
        {
            TrackedFree(const_cast<char*>(block), nullptr, 0);
            block[0] = 1;
        },
        "use-after-poison");
    TrackedFree(const_cast<char*>(block), nullptr, 0);
#endif
}

TEST(BlockOwnership, SmallBlocksInALibraryScopeStayOutOfTheProgramsFigures) {
    const MemoryStats before = g_MemoryStats;
    void* inScope;
    {
        fw::LibraryScope outer;
        fw::LibraryScope inner; // scopes nest
        inScope = TrackedAlloc(24, nullptr, 0);
    }
    EXPECT_EQ(PoolHeaderOf(inScope).allocId, kLibraryBlockId);
    EXPECT_EQ(g_MemoryStats.NextAllocId, before.NextAllocId);
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
    EXPECT_EQ(g_MemoryStats.LibraryObjects - before.LibraryObjects, 1);
    EXPECT_EQ(g_MemoryStats.LibraryBytes - before.LibraryBytes, 24u);
    void* outside = TrackedAlloc(24, nullptr, 0); // the scope is closed again
    EXPECT_EQ(g_MemoryStats.NextAllocId, before.NextAllocId + 1);
    TrackedFree(inScope, nullptr, 0);
    TrackedFree(outside, nullptr, 0);
    EXPECT_EQ(g_MemoryStats.LibraryObjects, before.LibraryObjects);
    EXPECT_EQ(g_MemoryStats.LibraryBytes, before.LibraryBytes);
    EXPECT_EQ(g_MemoryStats.LiveObjects, before.LiveObjects);
}

int handlerCalls = 0;

TEST(GlobalOperators, FailedNewAsksTheNewHandlerUntilItGivesUp) {
    CapturedTrace trace;
    volatile std::size_t huge = std::size_t{1} << 40;
    const std::size_t absurd = huge;
    handlerCalls = 0;
    std::set_new_handler([] {
        if (++handlerCalls == 3)
            std::set_new_handler(nullptr);
    });
    EXPECT_THROW(static_cast<void>(::operator new(absurd)), std::bad_alloc);
    EXPECT_EQ(handlerCalls, 3);
    handlerCalls = 0;
    std::set_new_handler([] {
        ++handlerCalls;
        throw std::bad_alloc();
    });
    EXPECT_EQ(::operator new[](absurd, std::nothrow), nullptr);
    EXPECT_EQ(handlerCalls, 1);
    std::set_new_handler(nullptr);
}

TEST(BreakAllocId, NamesTheAllocationWhenNoDebuggerIsAttached) {
    CapturedTrace trace;
    char expected[96];
    std::snprintf(expected, sizeof expected, "Alloc ID : %u reached (FERROWALK_BREAK_ALLOC)",
                  g_MemoryStats.NextAllocId);
    BreakAllocId = g_MemoryStats.NextAllocId;
    void* data = TrackedAlloc(8, nullptr, 0);
    BreakAllocId = -1;
    TrackedFree(data, nullptr, 0);
    EXPECT_EQ(trace.All().rfind(expected, 0), 0u) << trace.All();
}

// With a debugger attached (here the parent, tracing the child) the allocation stops in it
// with SIGTRAP, and the run goes on once the debugger continues it.
TEST(BreakAllocId, StopsInAnAttachedDebugger) {
    const pid_t child = fork();
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0)
            _exit(3);
        raise(SIGSTOP); // the parent now traces this process
        BreakAllocId = g_MemoryStats.NextAllocId;
        void* data = TrackedAlloc(8, nullptr, 0);
        _exit(data ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "this machine does not allow tracing";
    ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGSTOP) << status;
    ptrace(PTRACE_CONT, child, nullptr, nullptr);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP) << status;
    ptrace(PTRACE_CONT, child, nullptr, nullptr); // without the signal: the run goes on
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace

namespace {

char* inUseAtExit[2]; // a child's blocks, still referenced when it exits

// A program ended from inside (a library calling exit() while WinMain runs) was still using
// its blocks: one line says so, and none is listed as a leak.
TEST(EndOfProcessReport, AnExitDuringTheRunSumsUpTheBlocksInUseInOneLine) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        fw::SetProgramRunning(true);
        inUseAtExit[0] = new char[100];
        inUseAtExit[1] = new char[5000];
        std::exit(0);
    }
    close(pipeEnds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, size_t(got));
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(report.find("Memory leak"), std::string::npos) << report;
    const size_t line = report.find("The program did not finish");
    ASSERT_NE(line, std::string::npos) << report;
    EXPECT_EQ(report.find("The program did not finish", line + 1), std::string::npos) << report;
    EXPECT_NE(report.find("Max memory used"), std::string::npos) << report;
}

TEST(BlockOwnership, ForkWhileOtherThreadsAllocateLeavesTheChildWorking) {
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        for (unsigned n = 1; !stop.load(); ++n) {
            TrackedFree(TrackedAlloc(64, nullptr, 0), nullptr, 0);
            // Now and then between holds, so that schedulers which run one thread at a time
            // (valgrind) still let the forking thread in.
            if (n % 256 == 0)
                std::this_thread::yield();
        }
    });
    // Several forks: each lands inside the busy thread's hold of the lock now and then.
    bool childrenWorked = true;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const pid_t child = fork();
        if (child == 0) {
            alarm(5); // a lock left held would hang here: fail instead
            void* fromThread = nullptr;
            std::thread([&] { fromThread = TrackedAlloc(64, nullptr, 0); }).join();
            TrackedFree(fromThread, nullptr, 0);
            _exit(fromThread ? 0 : 1);
        }
        int status = 0;
        childrenWorked = childrenWorked && child > 0 && waitpid(child, &status, 0) == child &&
                         WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    stop.store(true);
    busy.join();
    EXPECT_TRUE(childrenWorked);
}

} // namespace
