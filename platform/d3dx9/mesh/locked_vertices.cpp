// Registry of locked mesh vertex arrays. A fixed table, so that it never allocates
// (nothing of it can show in the end-of-process memory report); when it is full a lock
// simply goes unregistered and skinning trusts the skin's own format.
#include "platform/d3dx9/mesh/locked_vertices.h"

#include <mutex>

namespace fw::d3dx9mesh {

namespace {

struct LockedVertices {
    const void* data = nullptr;
    DWORD fvf = 0;
    DWORD numVertices = 0;
};

constexpr int kMaxLocked = 64;
std::mutex registryMutex;
LockedVertices registry[kMaxLocked];

} // namespace

void RegisterLockedVertices(const void* data, DWORD fvf, DWORD numVertices) {
    std::lock_guard lock(registryMutex);
    for (auto& entry : registry) {
        if (!entry.data) {
            entry = {data, fvf, numVertices};
            return;
        }
    }
}

void UnregisterLockedVertices(const void* data) {
    std::lock_guard lock(registryMutex);
    for (auto& entry : registry) {
        if (entry.data == data) {
            entry = {};
            return;
        }
    }
}

bool FindLockedVertices(const void* data, DWORD* fvf, DWORD* numVertices) {
    std::lock_guard lock(registryMutex);
    for (const auto& entry : registry) {
        if (entry.data && entry.data == data) {
            *fvf = entry.fvf;
            *numVertices = entry.numVertices;
            return true;
        }
    }
    return false;
}

} // namespace fw::d3dx9mesh
