// The process heap and the readable-memory probe on Linux: the heap is the C library's,
// the probe asks the kernel to copy the bytes, which fails cleanly for unmapped memory.
#include "platform/windows.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

char processHeap; // the one heap; its handle is its address

// Some sandboxes forbid process_vm_readv; writing the byte into a pipe fails with EFAULT
// for unreadable memory just the same.
std::atomic<bool> useVmRead{true};

bool PipeCanRead(const void* address) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return true; // cannot tell; the callers only probe before reading a few bytes
    const bool readable = write(fds[1], address, 1) == 1;
    close(fds[0]);
    close(fds[1]);
    return readable;
}

bool CanReadByte(const void* address) {
    if (useVmRead.load(std::memory_order_relaxed)) {
        char byte;
        iovec local{&byte, 1};
        iovec remote{const_cast<void*>(address), 1};
        if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == 1)
            return true;
        if (errno == EFAULT)
            return false;
        useVmRead.store(false, std::memory_order_relaxed);
    }
    return PipeCanRead(address);
}

} // namespace

HANDLE WINAPI GetProcessHeap() {
    return &processHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (!hHeap)
        return nullptr;
    const SIZE_T bytes = dwBytes ? dwBytes : 1; // a zero-byte block is still a distinct block
    return (dwFlags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes) : std::malloc(bytes);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem) {
    if (!hHeap)
        return FALSE;
    std::free(lpMem);
    return TRUE;
}

// Readability is per page: one byte from each page of the range decides.
BOOL WINAPI IsBadReadPtr(const void* lp, UINT_PTR ucb) {
    if (ucb == 0)
        return FALSE;
    const auto first = reinterpret_cast<uintptr_t>(lp);
    if (!lp || first + (ucb - 1) < first)
        return TRUE;
    const uintptr_t last = first + (ucb - 1);
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (uintptr_t at = first;; at = (at | (pageSize - 1)) + 1) {
        if (!CanReadByte(reinterpret_cast<const void*>(at)))
            return TRUE;
        if ((at | (pageSize - 1)) >= last)
            return FALSE;
    }
}
