// The replaced global allocation operators: every form routes to the tracker (zqmemory.h).
// This file is linked as an object into every binary that links `core` (see CMakeLists).
#include "core/zqmemory.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

void* AllocateOrNull(std::size_t size) noexcept {
    try {
        return TrackedAllocOrThrow(size, nullptr, 0);
    } catch (...) {
        return nullptr;
    }
}

// Tracked blocks are aligned to 16. A stricter alignment takes `alignment` bytes more and
// keeps the tracked block's address just before the aligned pointer; the language pairs
// these with the aligned deletes, which read it back.
constexpr std::size_t kTrackedAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    const auto alignment = static_cast<std::size_t>(align);
    if (alignment <= kTrackedAlignment)
        return TrackedAllocOrThrow(size, nullptr, 0);
    if (size > SIZE_MAX - alignment)
        throw std::bad_alloc();
    auto* block = static_cast<unsigned char*>(TrackedAllocOrThrow(size + alignment, nullptr, 0));
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    // At least 16 bytes in, as the block is 16-aligned: room for the stored address.
    auto* data = block + ((address + alignment) & ~(alignment - 1)) - address;
    std::memcpy(data - sizeof block, &block, sizeof block);
    return data;
}

void* AllocateAlignedOrNull(std::size_t size, std::align_val_t align) noexcept {
    try {
        return AllocateAligned(size, align);
    } catch (...) {
        return nullptr;
    }
}

void ReleaseAligned(void* data, std::align_val_t align) noexcept {
    if (!data || static_cast<std::size_t>(align) <= kTrackedAlignment) {
        TrackedFree(data, nullptr, 0);
        return;
    }
    void* block;
    std::memcpy(&block, static_cast<unsigned char*>(data) - sizeof block, sizeof block);
    TrackedFree(block, nullptr, 0);
}

} // namespace

void* operator new(std::size_t size) {
    return TrackedAllocOrThrow(size, nullptr, 0);
}
void* operator new[](std::size_t size) {
    return TrackedAllocOrThrow(size, nullptr, 0);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new(std::size_t size, const char* file, int line) {
    return TrackedAllocOrThrow(size, file, line);
}
void* operator new[](std::size_t size, const char* file, int line) {
    return TrackedAllocOrThrow(size, file, line);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return AllocateAlignedOrNull(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    return AllocateAlignedOrNull(size, align);
}

void operator delete(void* pointer) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete[](void* pointer) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete(void* pointer, std::size_t) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    TrackedFree(pointer, nullptr, 0);
}
void operator delete(void* pointer, const char* file, int line) noexcept {
    TrackedFree(pointer, file, line);
}
void operator delete[](void* pointer, const char* file, int line) noexcept {
    TrackedFree(pointer, file, line);
}
void operator delete(void* pointer, std::align_val_t align) noexcept {
    ReleaseAligned(pointer, align);
}
void operator delete[](void* pointer, std::align_val_t align) noexcept {
    ReleaseAligned(pointer, align);
}
void operator delete(void* pointer, std::align_val_t align, const std::nothrow_t&) noexcept {
    ReleaseAligned(pointer, align);
}
void operator delete[](void* pointer, std::align_val_t align, const std::nothrow_t&) noexcept {
    ReleaseAligned(pointer, align);
}
void operator delete(void* pointer, std::size_t, std::align_val_t align) noexcept {
    ReleaseAligned(pointer, align);
}
void operator delete[](void* pointer, std::size_t, std::align_val_t align) noexcept {
    ReleaseAligned(pointer, align);
}
