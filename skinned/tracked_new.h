// Tracked allocations that answer a refusal with null. TRACKED_NEW throws std::bad_alloc
// when the heap refuses; the loader's callbacks and the bone binding must return
// E_OUTOFMEMORY instead, so that a failed load leaves nothing half built behind it.
#pragma once

#include "core/zqmemory.h"

#include <cstddef>
#include <new>

template <typename T> T* TryTrackedNew(const char* file, int line) noexcept {
    try {
        return new (file, line) T();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Elements are value-initialised (zero for the records and pointers used here).
template <typename T>
T* TryTrackedNewArray(std::size_t count, const char* file, int line) noexcept {
    try {
        return new (file, line) T[count]();
    } catch (const std::bad_alloc&) { // std::bad_array_new_length included
        return nullptr;
    }
}

#define TRY_TRACKED_NEW(T) TryTrackedNew<T>(__FILE__, __LINE__)
#define TRY_TRACKED_NEW_ARRAY(T, count) TryTrackedNewArray<T>((count), __FILE__, __LINE__)
