// The vertex arrays that meshes have handed out through LockVertexBuffer and not yet
// taken back, so that skinning can check a raw vertex pointer against its mesh's real
// format and size.
#pragma once

#include "platform/windows.h"

namespace fw::d3dx9mesh {

void RegisterLockedVertices(const void* data, DWORD fvf, DWORD numVertices);
void UnregisterLockedVertices(const void* data);
// True when data is the start of a locked mesh vertex array.
bool FindLockedVertices(const void* data, DWORD* fvf, DWORD* numVertices);

} // namespace fw::d3dx9mesh
