#include "core/zqmemory.h"

#include <new>

void* operator new(std::size_t size, const char*, int) {
    return ::operator new(size);
}
void* operator new[](std::size_t size, const char*, int) {
    return ::operator new[](size);
}
void operator delete(void* pointer, const char*, int) noexcept {
    ::operator delete(pointer);
}
void operator delete[](void* pointer, const char*, int) noexcept {
    ::operator delete[](pointer);
}
