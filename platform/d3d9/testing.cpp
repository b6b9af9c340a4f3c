#include "platform/d3d9/testing.h"

#include "platform/d3d9/device_core.h"
#include "platform/d3d9/trace.h"
#include "platform/win32/host.h"

#include <GL/gl.h>

namespace fw::d3d9 {
extern bool failDirect3DCreate;
extern bool failCreateDevice;
} // namespace fw::d3d9

namespace fw::d3d9test {
namespace d3d9 = fw::d3d9;

void FailDirect3DCreate(bool fail) {
    d3d9::failDirect3DCreate = fail;
}
void FailCreateDevice(bool fail) {
    d3d9::failCreateDevice = fail;
}

void LoseDevice(IDirect3DDevice9* device, int lostPolls) {
    auto& core = device->core();
    core.losePending = true;
    core.lostPolls = lostPolls < 0 ? 0 : lostPolls;
}

void EnableCallTrace(IDirect3DDevice9* device, bool enable) {
    device->core().tracing = enable;
    if (enable)
        device->core().trace.clear();
}

std::vector<TracedCall> GetCallTrace(IDirect3DDevice9* device) {
    return device->core().trace;
}

void ClearCallTrace(IDirect3DDevice9* device) {
    device->core().trace.clear();
}

std::vector<std::string> CallTraceTexts(IDirect3DDevice9* device) {
    std::vector<std::string> texts;
    for (const TracedCall& call : device->core().trace)
        texts.push_back(call.Text());
    return texts;
}

int TraceId(IDirect3DResource9* resource) {
    return d3d9::TraceIdOf(resource);
}

namespace {
// The GL side of a device; null for a NULLREF device, which never touches GL.
d3d9::GlDevice* GlOf(IDirect3DDevice9* device) {
    return dynamic_cast<d3d9::GlDevice*>(&device->core());
}
} // namespace

unsigned TakeGlError(IDirect3DDevice9* device) {
    d3d9::GlDevice* core = GlOf(device);
    if (!core)
        return 0;
    fw::LibraryScope scope;
    core->MakeCurrent();
    GLenum first = glGetError();
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

void RecordFrame(IDirect3DDevice9* device, const std::function<void()>& draw) {
    d3d9::GlDevice* core = GlOf(device);
    if (!core) {
        draw();
        return;
    }
    {
        fw::LibraryScope scope;
        core->MakeCurrent();
        if (!core->recordedFrame)
            core->recordedFrame = glGenLists(1);
        core->ForgetGlState(); // the list sets every state it relies on
        glNewList(core->recordedFrame, GL_COMPILE);
    }
    draw();
    fw::LibraryScope scope;
    core->MakeCurrent();
    glEndList();
    core->ForgetGlState();
}

void ReplayFrame(IDirect3DDevice9* device) {
    d3d9::GlDevice* core = GlOf(device);
    if (!core)
        return;
    fw::LibraryScope scope;
    core->MakeCurrent();
    glCallList(core->recordedFrame);
    core->ForgetGlState();
}

bool ReadBackBuffer(IDirect3DDevice9* device, int* width, int* height, std::vector<uint8_t>* rgba) {
    if (!device || !rgba)
        return false;
    auto& core = device->core();
    if (width)
        *width = int(core.params.BackBufferWidth);
    if (height)
        *height = int(core.params.BackBufferHeight);
    return core.ReadBackBuffer(*rgba);
}

} // namespace fw::d3d9test
