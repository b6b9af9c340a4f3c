// GlDevice: the device on a window's OpenGL context; state goes to GL when something is
// drawn (apply_state.cpp).
#include "platform/d3d9/device_core.h"

#include "platform/d3d9/formats.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/resources.h"
#include "platform/win32/host.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>

namespace fw::d3d9 {

namespace {

// Uploads the changed bytes of a buffer; false when GL cannot hold it. A buffer that draws of
// this frame or the last may still read is given new storage with all its bytes rather than
// changed in place, which a driver that queues draws would have to wait for.
bool UploadBuffer(BufferData& buffer, GLenum target, unsigned frame) {
    const GlFunctions& gl = Gl();
    if (!buffer.glBuffer)
        gl.GenBuffers(1, &buffer.glBuffer);
    gl.BindBuffer(target, buffer.glBuffer);
    bool changed = buffer.dirtyEnd > buffer.dirtyBegin;
    bool inFlight = buffer.drawnInFrame + 1 >= frame && buffer.glAllocated;
    bool whole = buffer.dirtyBegin == 0 && buffer.dirtyEnd == buffer.bytes.size();
    if (!buffer.glAllocated || (changed && (inFlight || whole))) {
        GLenum hint = (buffer.usage & D3DUSAGE_DYNAMIC) ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW;
        gl.BufferData(target, GLsizeiptr(buffer.bytes.size()), buffer.bytes.data(), hint);
        if (glGetError() == GL_OUT_OF_MEMORY)
            return false;
        buffer.glAllocated = true;
    } else if (changed) {
        gl.BufferSubData(target, GLintptr(buffer.dirtyBegin),
                         GLsizeiptr(buffer.dirtyEnd - buffer.dirtyBegin),
                         buffer.bytes.data() + buffer.dirtyBegin);
    }
    buffer.dirtyBegin = buffer.dirtyEnd = 0;
    buffer.drawnInFrame = frame;
    return true;
}

GlDevice* activeDevice = nullptr; // the device whose state GL holds now
void* staleContext = nullptr;     // a context whose last device is gone

} // namespace

HRESULT CreateGlDevice(IDirect3D9* d3d, HWND window, D3DPRESENT_PARAMETERS& params,
                       std::unique_ptr<DeviceCore>& device) {
    SDL_Window* sdlWindow = fw::GetSdlWindow(window);
    void* context = sdlWindow ? fw::RetainGlContext(window) : nullptr;
    if (!context) {
        OutputDebugStringA("Direct3D9: CreateDevice needs a window made by CreateWindowExA\n");
        return D3DERR_INVALIDCALL;
    }
    if (!params.Windowed)
        WarnOnce("full-screen presentation is shown in a window");
    {
        fw::LibraryScope scope;
        SDL_GL_MakeCurrent(sdlWindow, context);
        if (!Gl().complete) {
            OutputDebugStringA("Direct3D9: the OpenGL driver lacks multitexture or buffer "
                               "objects; no device\n");
            fw::ReleaseGlContext(context);
            return D3DERR_NOTAVAILABLE;
        }
    }
    params.hDeviceWindow = window;
    RECT client{};
    GetClientRect(window, &client);
    ResolvePresentParameters(UINT(std::max<LONG>(0, client.right - client.left)),
                             UINT(std::max<LONG>(0, client.bottom - client.top)), params);
    device = std::make_unique<GlDevice>(d3d, window, sdlWindow, context, params);
    return D3D_OK;
}

GlDevice::GlDevice(IDirect3D9* d3d, HWND window, SDL_Window* sdlWindow, void* glContext,
                   const D3DPRESENT_PARAMETERS& params)
    : DeviceCore(d3d, window, params), sdlWindow(sdlWindow), glContext(glContext) {
    LibraryScope scope;
    MakeCurrent();
    Gl();
    glFrontFace(GL_CW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    // A white texel for stages that combine without reading a texture.
    const BYTE white[4] = {255, 255, 255, 255};
    glGenTextures(1, &whiteTexture);
    glBindTexture(GL_TEXTURE_2D, whiteTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    glBindTexture(GL_TEXTURE_2D, 0);
    ChooseDriverUse();
    ChooseDriverUse();
    CreateBackBuffer();
    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
}

GlDevice::~GlDevice() {
    {
        LibraryScope scope;
        MakeCurrent();
        glDeleteTextures(1, &whiteTexture);
        if (recordedFrame)
            glDeleteLists(recordedFrame, 1);
        DestroyBackBuffer();
    }
    if (activeDevice == this) {
        activeDevice = nullptr;
        staleContext = glContext; // another device may take this context over
    }
    ReleaseGlContext(glContext);
}

void GlDevice::ChooseDriverUse() {
    // A software rasteriser decodes a compressed block at every texel fetch.
    compressedTextures =
        EnvironmentSwitch("FERROWALK_GL_COMPRESSED_TEXTURES").value_or(!SoftwareRasteriser());
    // Where nothing shows the window (SDL's offscreen driver), the back buffer is an offscreen
    // one that Present never copies. Forced either way, the window's framebuffer or an
    // offscreen one copied to it at Present, as on a display.
    const char* driver = SDL_GetCurrentVideoDriver();
    bool screenless =
        driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
    std::optional<bool> forced = EnvironmentSwitch("FERROWALK_GL_WINDOW_BACK_BUFFER");
    windowBackBuffer = forced.value_or(!screenless);
    copyToWindow = forced.has_value() || !screenless;
    if (Gl().framebuffers)
        Gl().BindFramebuffer(GL_FRAMEBUFFER, 0);
    glGetIntegerv(GL_ALPHA_BITS, &windowAlphaBits);
    glGetIntegerv(GL_DEPTH_BITS, &windowDepthBits);
    glGetIntegerv(GL_STENCIL_BITS, &windowStencilBits);
}

bool GlDevice::DrawsIntoWindow() {
    // Only where it shows what the offscreen one would: a window of the same size, nothing
    // kept between frames, no alpha channel that X8R8G8B8 lacks, the same depth precision
    // and a stencil where the device has one.
    const D3DPRESENT_PARAMETERS& p = params;
    if (!windowBackBuffer || !p.Windowed || p.SwapEffect != D3DSWAPEFFECT_DISCARD ||
        p.BackBufferFormat != D3DFMT_X8R8G8B8 || windowAlphaBits != 0)
        return false;
    if (p.EnableAutoDepthStencil && (windowDepthBits != DepthBits(p.AutoDepthStencilFormat) ||
                                     (HasStencil() && windowStencilBits < 8)))
        return false;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(sdlWindow, &w, &h);
    return UINT(w) == p.BackBufferWidth && UINT(h) == p.BackBufferHeight;
}

void GlDevice::CreateBackBuffer() {
    const GlFunctions& gl = Gl();
    LibraryScope scope;
    MakeCurrent();
    DestroyBackBuffer();
    if (DrawsIntoWindow())
        return;
    if (!gl.framebuffers) {
        WarnOnce("no framebuffer objects: the back buffer is the window's own");
        return;
    }
    GLsizei w = GLsizei(params.BackBufferWidth), h = GLsizei(params.BackBufferHeight);
    gl.GenRenderbuffers(1, &colorBuffer);
    gl.BindRenderbuffer(GL_RENDERBUFFER, colorBuffer);
    // X8R8G8B8 has no alpha: DESTALPHA must read 1.
    bool alpha = params.BackBufferFormat == D3DFMT_A8R8G8B8;
    gl.RenderbufferStorage(GL_RENDERBUFFER, alpha ? GL_RGBA8 : GL_RGB8, w, h);
    gl.GenFramebuffers(1, &framebuffer);
    gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer);
    if (params.EnableAutoDepthStencil) {
        D3DFORMAT format = params.AutoDepthStencilFormat;
        bool stencil = format == D3DFMT_D24S8;
        GLenum internal = stencil                  ? GL_DEPTH24_STENCIL8
                          : DepthBits(format) < 24 ? GL_DEPTH_COMPONENT16
                                                   : GL_DEPTH_COMPONENT24;
        gl.GenRenderbuffers(1, &depthBuffer);
        gl.BindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
        gl.RenderbufferStorage(GL_RENDERBUFFER, internal, w, h);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER,
                                   stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                   GL_RENDERBUFFER, depthBuffer);
    }
    gl.BindRenderbuffer(GL_RENDERBUFFER, 0);
    if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        WarnOnce("the offscreen back buffer is incomplete: drawing into the window instead");
        DestroyBackBuffer();
        offscreenFailed = true; // not tried again at every Present
    }
}

void GlDevice::DestroyBackBuffer() {
    const GlFunctions& gl = Gl();
    if (!gl.framebuffers)
        return;
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    if (framebuffer)
        gl.DeleteFramebuffers(1, &framebuffer);
    if (colorBuffer)
        gl.DeleteRenderbuffers(1, &colorBuffer);
    if (depthBuffer)
        gl.DeleteRenderbuffers(1, &depthBuffer);
    framebuffer = colorBuffer = depthBuffer = 0;
}

void GlDevice::MakeCurrent() {
    if (SDL_GL_GetCurrentContext() != glContext)
        SDL_GL_MakeCurrent(sdlWindow, glContext);
    if (activeDevice == this)
        return;
    bool shared = activeDevice && activeDevice->glContext == glContext;
    if (shared || staleContext == glContext) {
        // Devices on one window share its context: forget what another one set.
        if (Gl().framebuffers)
            Gl().BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        ForgetGlState();
        if (staleContext == glContext)
            staleContext = nullptr;
    }
    activeDevice = this;
}

void GlDevice::ForgetGlState() {
    const GlFunctions& gl = Gl();
    for (DWORD s = 0; s < std::min<DWORD>(kStages, gl.units); ++s) {
        gl.ActiveTexture(GL_TEXTURE0 + s);
        glDisable(GL_TEXTURE_2D);
    }
    unitEnabled.fill(false);
    unitConfigured.fill(false);
    glDisable(GL_COLOR_MATERIAL);
    colorMaterial = 0;
    dirty = kDirtyAll;
}

void GlDevice::ResolveParams(D3DPRESENT_PARAMETERS& pp) {
    RECT client{};
    GetClientRect(window, &client);
    ResolvePresentParameters(UINT(std::max<LONG>(0, client.right - client.left)),
                             UINT(std::max<LONG>(0, client.bottom - client.top)), pp);
}

void GlDevice::ApplyParams(bool resized) {
    if (resized)
        CreateBackBuffer();
    fw::LibraryScope scope;
    MakeCurrent();
    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
}

void GlDevice::DeleteGlBuffer(GLuint name) {
    if (!name)
        return;
    LibraryScope scope;
    MakeCurrent();
    Gl().DeleteBuffers(1, &name);
}

void GlDevice::DeleteGlTexture(GLuint name) {
    if (!name)
        return;
    LibraryScope scope;
    MakeCurrent();
    glDeleteTextures(1, &name);
}

// ---- Draws, checked by DeviceCore ----

HRESULT GlDevice::RenderDraw(GLenum mode, const VertexLayout& layout, int64_t offset,
                             uint64_t elements, bool indexed, UINT firstIndex) {
    auto& vb = state.stream->impl();
    LibraryScope scope;
    MakeCurrent();
    ApplyState(layout);
    const GlFunctions& gl = Gl();
    if (!UploadBuffer(vb.buffer, GL_ARRAY_BUFFER, presentCount))
        return D3DERR_OUTOFVIDEOMEMORY;
    SetArrays(layout, reinterpret_cast<const BYTE*>(uintptr_t(offset)));
    if (indexed) {
        auto& ib = state.indices->impl();
        if (!UploadBuffer(ib.buffer, GL_ELEMENT_ARRAY_BUFFER, presentCount))
            return D3DERR_OUTOFVIDEOMEMORY;
        bool wide = ib.format == D3DFMT_INDEX32;
        glDrawElements(mode, GLsizei(elements), wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                       reinterpret_cast<const void*>(uintptr_t(firstIndex) * (wide ? 4 : 2)));
    } else {
        glDrawArrays(mode, GLint(firstIndex), GLsizei(elements));
    }
    gl.BindBuffer(GL_ARRAY_BUFFER, 0);
    return D3D_OK;
}

void GlDevice::RenderUser(GLenum mode, const VertexLayout& layout, uint64_t elements,
                          const void* vertices, UINT stride, const void* indices,
                          D3DFORMAT indexFormat) {
    LibraryScope scope;
    MakeCurrent();
    ApplyState(layout);
    const GlFunctions& gl = Gl();
    gl.BindBuffer(GL_ARRAY_BUFFER, 0);
    gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    UINT savedStride = state.streamStride;
    state.streamStride = stride;
    SetArrays(layout, static_cast<const BYTE*>(vertices));
    state.streamStride = savedStride;
    if (indices) {
        bool wide = indexFormat == D3DFMT_INDEX32;
        glDrawElements(mode, GLsizei(elements), wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                       indices);
    } else {
        glDrawArrays(mode, 0, GLsizei(elements));
    }
}

void GlDevice::RenderClear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                           DWORD stencil) {
    LibraryScope scope;
    MakeCurrent();
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        auto c = ColorToFloats(color);
        glClearColor(c[0], c[1], c[2], c[3]);
        glColorMask(1, 1, 1, 1); // Clear ignores COLORWRITEENABLE
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glClearDepth(std::clamp(z, 0.0f, 1.0f));
        glDepthMask(GL_TRUE);
        mask |= GL_DEPTH_BUFFER_BIT;
        if (!HasStencil()) {
            // A stencil the device lacks (the window's own) is cleared along with depth:
            // nothing reads it, and a packed buffer clears whole instead of masked.
            glClearStencil(0);
            glStencilMask(0xffffffff);
            mask |= GL_STENCIL_BUFFER_BIT;
        }
    }
    if (flags & D3DCLEAR_STENCIL) {
        glClearStencil(GLint(stencil));
        glStencilMask(0xffffffff);
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    // D3D clears the viewport (and the rectangles within it); GL clears the scissor box.
    const D3DVIEWPORT9& v = state.viewport;
    LONG H = LONG(params.BackBufferHeight);
    auto clearRect = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max<LONG>(x1, LONG(v.X));
        y1 = std::max<LONG>(y1, LONG(v.Y));
        x2 = std::min<LONG>(x2, LONG(v.X + v.Width));
        y2 = std::min<LONG>(y2, LONG(v.Y + v.Height));
        if (x2 <= x1 || y2 <= y1)
            return;
        glScissor(x1, H - y2, x2 - x1, y2 - y1);
        glClear(mask);
    };
    glEnable(GL_SCISSOR_TEST);
    if (count == 0)
        clearRect(LONG(v.X), LONG(v.Y), LONG(v.X + v.Width), LONG(v.Y + v.Height));
    for (DWORD i = 0; i < count; ++i)
        clearRect(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    glDisable(GL_SCISSOR_TEST);
    dirty |= kDirtyColorWrite | kDirtyDepth | kDirtyStencil;
}

bool GlDevice::ReadBackBuffer(std::vector<uint8_t>& rgba) {
    // The pixels belong to the caller: allocated before the library scope.
    int w = int(params.BackBufferWidth), h = int(params.BackBufferHeight);
    std::vector<uint8_t> bottomUp(size_t(w) * h * 4);
    rgba.resize(bottomUp.size());
    LibraryScope scope;
    MakeCurrent();
    if (framebuffer) {
        Gl().BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0);
    } else {
        glReadBuffer(GL_BACK);
    }
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    size_t row = size_t(w) * 4;
    for (int y = 0; y < h; ++y)
        std::memcpy(rgba.data() + size_t(y) * row, bottomUp.data() + size_t(h - 1 - y) * row, row);
    return glGetError() == GL_NO_ERROR;
}

void GlDevice::RenderPresent() {
    fw::OnFramePresented(window, int(params.BackBufferWidth), int(params.BackBufferHeight),
                         [this](std::vector<uint8_t>& rgba) { ReadBackBuffer(rgba); });
    LibraryScope scope;
    MakeCurrent();
    if (!framebuffer) {
        SDL_GL_SwapWindow(sdlWindow);
    } else if (!copyToWindow) {
        glFlush(); // nothing shows the window: no copy, but the driver must not pile up frames
    } else {
        // The back buffer keeps its size; the window shows it stretched, as D3D does.
        const GlFunctions& gl = Gl();
        int drawableW = 0, drawableH = 0;
        SDL_GL_GetDrawableSize(sdlWindow, &drawableW, &drawableH);
        GLint w = GLint(params.BackBufferWidth), h = GLint(params.BackBufferHeight);
        gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glColorMask(1, 1, 1, 1);
        gl.BlitFramebuffer(0, 0, w, h, 0, 0, drawableW, drawableH, GL_COLOR_BUFFER_BIT,
                           drawableW == w && drawableH == h ? GL_NEAREST : GL_LINEAR);
        SDL_GL_SwapWindow(sdlWindow);
        gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        dirty |= kDirtyColorWrite;
    }
    // A resized window moves the back buffer into or out of the window's framebuffer.
    if (Gl().framebuffers && !offscreenFailed && DrawsIntoWindow() != (framebuffer == 0))
        CreateBackBuffer();
}

} // namespace fw::d3d9
