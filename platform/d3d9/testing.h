// Test hooks of the Direct3D 9 layer: forced failures, simulated device loss, a record of
// the calls a device receives, and a back-buffer read-back. Used by tests and the
// --simulate-device-loss option; the program itself never calls these.
#pragma once

#include "platform/d3d9.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw::d3d9test {

// While set, Direct3DCreate9 returns null / IDirect3D9::CreateDevice fails with
// D3DERR_NOTAVAILABLE.
void FailDirect3DCreate(bool fail);
void FailCreateDevice(bool fail);

// The next Present returns D3DERR_DEVICELOST; TestCooperativeLevel then reports
// D3DERR_DEVICELOST lostPolls times, then D3DERR_DEVICENOTRESET until a Reset succeeds.
// While lost, Present keeps returning D3DERR_DEVICELOST and draws are discarded.
void LoseDevice(IDirect3DDevice9* device, int lostPolls);

// Call trace. While enabled, the device appends one entry per call it receives, in order:
// the IDirect3DDevice9 methods that change state, draw or present (not the Get* queries),
// and "VertexBuffer::Lock"/"Unlock", "IndexBuffer::Lock"/"Unlock",
// "Texture::LockRect"/"UnlockRect" of its resources (first argument: the resource).
// name is the method name ("SetRenderState"); args are its arguments, comma-separated, in
// the SDK's order: integers and enum values in decimal, floats with %g, colours and flags
// in decimal too, pointers to resources as "null" or "res#N" (N numbers each resource of
// the device from 1 in order of creation), records (matrices, materials, lights,
// viewports) as their fields in braces, output pointers omitted.
// Example: "SetRenderState(22, 3)", "SetTexture(0, res#2)", "SetTexture(1, null)".
struct TracedCall {
    std::string name;
    std::string args;
    std::string Text() const { return name + "(" + args + ")"; }
};
void EnableCallTrace(IDirect3DDevice9* device, bool enable); // enabling clears the list
std::vector<TracedCall> GetCallTrace(IDirect3DDevice9* device);
void ClearCallTrace(IDirect3DDevice9* device);
// The trace's entries as Text(), for comparisons with an expected list.
std::vector<std::string> CallTraceTexts(IDirect3DDevice9* device);
// The number res#N of a resource in this device's trace (0 for null).
int TraceId(IDirect3DResource9* resource);

// The first OpenGL error raised since the last call (0: none); clears the rest. Tests call
// it after drawing: any error means a D3D state was translated into an invalid GL call.
unsigned TakeGlError(IDirect3DDevice9* device);

// One frame's GL work without this layer, the floor against which its overhead is priced:
// RecordFrame compiles what draw() sends to GL into a display list (the driver keeps the
// vertices, states and texture bindings; draw every texture once before), and ReplayFrame
// sends it again with one call. Present as usual after either.
void RecordFrame(IDirect3DDevice9* device, const std::function<void()>& draw);
void ReplayFrame(IDirect3DDevice9* device);
// On a NULLREF device, which never touches GL, TakeGlError reports none, RecordFrame only
// calls draw and ReplayFrame does nothing.

// The back buffer as it is now (call before Present): RGBA8, rows top first. False on a
// NULLREF device, which draws nothing.
bool ReadBackBuffer(IDirect3DDevice9* device, int* width, int* height, std::vector<uint8_t>* rgba);

} // namespace fw::d3d9test
