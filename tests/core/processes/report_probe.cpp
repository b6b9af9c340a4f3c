// A small process whose end-of-process memory report the tests read: each mode leaves the
// tracker in a known state and exits through the C runtime.
#include "core/zqmemory.h"
#include "core/zqmemory_local.h"
#include "platform/win32/host.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Registered with the C runtime before the first allocation, so it runs after the report.
struct LateRelease {
    char* block = nullptr;
    char* largeBlock = nullptr;
    ~LateRelease() {
        delete[] block;
        delete[] largeBlock;
        char* late = TRACKED_NEW char[40];
        late[0] = 1;
        delete[] late;
        std::fputs("late release done\n", stderr);
    }
};

int LeakKnownBlocks() {
    const int line = __LINE__ + 1;
    char* pooled = TRACKED_NEW char[10];
    char* large = new char[300];
    std::fprintf(stderr, "line=%d large=%p\n", line, static_cast<void*>(large));
    pooled[0] = large[0] = 0;
    return 0;
}

int ReleaseEverything() {
    std::vector<int> numbers(1000, 7);
    std::string text(500, 'x');
    delete TRACKED_NEW std::string("released");
    return numbers[3] == 7 && text.size() == 500 ? 0 : 1;
}

int LibraryBlocks() {
    // Blocks from another thread and inside a library scope belong to libraries.
    char* fromThread = nullptr;
    std::thread([&] { fromThread = new char[64]; }).join();
    fw::LibraryScope scope;
    static std::vector<char>* held = new std::vector<char>(5000);
    return fromThread && held ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "leak")
        return LeakKnownBlocks();
    if (mode == "clean")
        return ReleaseEverything();
    if (mode == "library")
        return LibraryBlocks();
    if (mode == "late") {
        static LateRelease late; // its destructor is registered before the first allocation
        const int line = __LINE__ + 1;
        late.block = TRACKED_NEW char[24];
        late.largeBlock = TRACKED_NEW char[2000];
        std::fprintf(stderr, "line=%d\n", line);
        return 0;
    }
    if (mode == "none")
        return 0;
    std::fprintf(stderr, "usage: %s leak|clean|library|late|none\n", argv[0]);
    return 2;
}
