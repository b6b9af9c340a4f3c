// Tracked allocation: every block of the program carries its allocation site, an ID and
// guard words; damage is reported on release and leaks at the end of the process, on the
// debugger's output stream. Linking `core` replaces the global allocation operators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

// Allocation with the source position of the site; released with plain delete / delete[].
void* operator new(std::size_t size, const char* file, int line);
void* operator new[](std::size_t size, const char* file, int line);
// Called by the language only when a constructor throws inside a positional new.
void operator delete(void* pointer, const char* file, int line) noexcept;
void operator delete[](void* pointer, const char* file, int line) noexcept;

// Use as `TRACKED_NEW GameApp()` or `TRACKED_NEW char[n]`.
#define TRACKED_NEW new (__FILE__, __LINE__)

// The same forms for code that answers a refusal with an error code instead of an exception
// (a loader callback returning E_OUTOFMEMORY): null when the heap refuses. Objects and array
// elements are value-initialised.
#define TRY_TRACKED_NEW(T) TryTrackedNew<T>(__FILE__, __LINE__)
#define TRY_TRACKED_NEW_ARRAY(T, count) TryTrackedNewArray<T>((count), __FILE__, __LINE__)

template <typename T> T* TryTrackedNew(const char* file, int line) noexcept {
    try {
        return new (file, line) T();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename T>
T* TryTrackedNewArray(std::size_t count, const char* file, int line) noexcept {
    try {
        return new (file, line) T[count]();
    } catch (const std::bad_alloc&) { // std::bad_array_new_length included
        return nullptr;
    }
}

// The entry points behind every form of the global operators. TrackedAlloc returns null
// (after one diagnostic line) when the heap refuses or the size cannot be recorded.
// file/line name the site (null and 0 when it gave none); a null pointer may be freed.
void* TrackedAlloc(std::size_t size, const char* file, int line);
// TrackedAlloc as operator new needs it: a failure asks the new-handler for memory and tries
// again, until the handler gives up; std::bad_alloc when there is none.
void* TrackedAllocOrThrow(std::size_t size, const char* file, int line);
void TrackedFree(void* pointer, const char* file, int line);

// The allocation ID at which TrackedAlloc stops in an attached debugger (SIGTRAP); -1
// matches none. Also read once from the environment variable FERROWALK_BREAK_ALLOC.
extern int64_t BreakAllocId;
