// Tracked allocation: every block of the program carries its allocation site, an ID and
// guard words; damage is reported on release and leaks at the end of the process.
#pragma once

#include <cstddef>

// Allocation with the source position of the site; released with plain delete / delete[].
void* operator new(std::size_t size, const char* file, int line);
void* operator new[](std::size_t size, const char* file, int line);
// Called by the language only when a constructor throws inside a positional new.
void operator delete(void* pointer, const char* file, int line) noexcept;
void operator delete[](void* pointer, const char* file, int line) noexcept;

// Use as `TRACKED_NEW GameApp()` or `TRACKED_NEW char[n]`.
#define TRACKED_NEW new (__FILE__, __LINE__)
