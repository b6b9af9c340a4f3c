// Kernel and COM services (message boxes: message_box.cpp; the clock: clock.cpp).
#include "platform/win32/host.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (!lpOutputString)
        return;
    std::fputs(lpOutputString, stderr);
    std::fflush(stderr);
}

namespace {
std::atomic<uint64_t> sleptMilliseconds{0};
} // namespace

uint64_t fw::SleptMilliseconds() {
    return sleptMilliseconds.load(std::memory_order_relaxed);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    sleptMilliseconds.fetch_add(dwMilliseconds, std::memory_order_relaxed);
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

HRESULT WINAPI CoInitialize(LPVOID) {
    // Nothing here needs COM; the results follow Windows: S_OK once, then S_FALSE.
    static bool initialised = false;
    if (initialised)
        return S_FALSE;
    initialised = true;
    return S_OK;
}
