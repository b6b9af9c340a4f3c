#include "platform/d3d9/device_core.h"

#include "platform/d3d9/formats.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/resources.h"
#include "platform/win32/host.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace fw::d3d9 {

void WarnOnce(const std::string& message) {
    static std::set<std::string> seen;
    if (seen.insert(message).second)
        OutputDebugStringA(("Direct3D9: " + message + "\n").c_str());
}

namespace {

DWORD FloatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

void SetRenderDefaults(std::array<DWORD, kRenderStates>& r, bool depthBuffer) {
    r.fill(0);
    r[D3DRS_ZENABLE] = depthBuffer ? D3DZB_TRUE : D3DZB_FALSE;
    r[D3DRS_FILLMODE] = D3DFILL_SOLID;
    r[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    r[D3DRS_ZWRITEENABLE] = TRUE;
    r[D3DRS_LASTPIXEL] = TRUE;
    r[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    r[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    r[D3DRS_CULLMODE] = D3DCULL_CCW;
    r[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    r[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    r[D3DRS_FOGSTART] = FloatBits(0.0f);
    r[D3DRS_FOGEND] = FloatBits(1.0f);
    r[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    r[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    r[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    r[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    r[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    r[D3DRS_STENCILMASK] = 0xffffffff;
    r[D3DRS_STENCILWRITEMASK] = 0xffffffff;
    r[D3DRS_TEXTUREFACTOR] = 0xffffffff;
    r[D3DRS_CLIPPING] = TRUE;
    r[D3DRS_LIGHTING] = TRUE;
    r[D3DRS_COLORVERTEX] = TRUE;
    r[D3DRS_LOCALVIEWER] = TRUE;
    r[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    r[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    r[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    r[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    r[D3DRS_POINTSIZE] = FloatBits(1.0f);
    r[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
    r[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
    r[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    r[D3DRS_MULTISAMPLEMASK] = 0xffffffff;
    r[D3DRS_POINTSIZE_MAX] = FloatBits(64.0f);
    r[D3DRS_COLORWRITEENABLE] = 0xf;
    r[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    r[D3DRS_POSITIONDEGREE] = 3; // cubic
    r[D3DRS_NORMALDEGREE] = 1;   // linear
    r[D3DRS_MINTESSELLATIONLEVEL] = FloatBits(1.0f);
    r[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.0f);
    r[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.0f);
    r[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    r[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    r[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    r[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    r[D3DRS_COLORWRITEENABLE1] = 0xf;
    r[D3DRS_COLORWRITEENABLE2] = 0xf;
    r[D3DRS_COLORWRITEENABLE3] = 0xf;
    r[D3DRS_BLENDFACTOR] = 0xffffffff;
    r[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    r[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    r[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
}

void SetStageDefaults(std::array<DWORD, kStageStates>& s, DWORD stage) {
    s.fill(0);
    s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    s[D3DTSS_TEXCOORDINDEX] = stage;
    s[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    s[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    s[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    s[D3DTSS_CONSTANT] = 0xffffffff;
}

void SetSamplerDefaults(std::array<DWORD, kSamplerStates>& s) {
    s.fill(0);
    s[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
    s[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
    s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    s[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
    s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    s[D3DSAMP_MAXANISOTROPY] = 1;
}

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

GLenum PrimitiveMode(D3DPRIMITIVETYPE type) {
    switch (type) {
    case D3DPT_POINTLIST:
        return GL_POINTS;
    case D3DPT_LINELIST:
        return GL_LINES;
    case D3DPT_LINESTRIP:
        return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST:
        return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP:
        return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN:
        return GL_TRIANGLE_FAN;
    default:
        return GL_INVALID_ENUM;
    }
}

// Vertices (or indices) that primitiveCount primitives of a type consume.
uint64_t ElementCount(D3DPRIMITIVETYPE type, UINT primitiveCount) {
    uint64_t n = primitiveCount;
    switch (type) {
    case D3DPT_POINTLIST:
        return n;
    case D3DPT_LINELIST:
        return n * 2;
    case D3DPT_LINESTRIP:
        return n + 1;
    case D3DPT_TRIANGLELIST:
        return n * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
        return n + 2;
    default:
        return 0;
    }
}

uint32_t MaxIndex(const BYTE* data, D3DFORMAT format, size_t first, size_t count) {
    uint32_t maximum = 0;
    if (format == D3DFMT_INDEX32) {
        for (size_t i = 0; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, data + (first + i) * 4, 4);
            maximum = std::max(maximum, v);
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            uint16_t v;
            std::memcpy(&v, data + (first + i) * 2, 2);
            maximum = std::max<uint32_t>(maximum, v);
        }
    }
    return maximum;
}

} // namespace

namespace {
DeviceCore* activeDevice = nullptr; // the device whose state GL holds now
void* staleContext = nullptr;       // a context whose last device is gone
} // namespace

DeviceCore::DeviceCore(IDirect3D9* d3d, HWND window, SDL_Window* sdlWindow, void* glContext,
                       const D3DPRESENT_PARAMETERS& params)
    : d3d(d3d), window(window), sdlWindow(sdlWindow), glContext(glContext), params(params) {
    d3d->AddRef();
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
    CreateBackBuffer();
    ResetState();
    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE ? 0 : 1);
}

DeviceCore::~DeviceCore() {
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
    d3d->Release();
}

void DeviceCore::ChooseDriverUse() {
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

bool DeviceCore::DrawsIntoWindow() {
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

void DeviceCore::CreateBackBuffer() {
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

void DeviceCore::DestroyBackBuffer() {
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

void DeviceCore::MakeCurrent() {
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

void DeviceCore::ForgetGlState() {
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

void DeviceCore::ResetState() {
    state = DeviceState{};
    SetRenderDefaults(state.render, params.EnableAutoDepthStencil);
    for (DWORD s = 0; s < kStages; ++s) {
        SetStageDefaults(state.stage[s], s);
        state.texture[s] = Identity();
    }
    for (auto& sampler : state.sampler)
        SetSamplerDefaults(sampler);
    state.viewport = {0, 0, params.BackBufferWidth, params.BackBufferHeight, 0.0f, 1.0f};
    dirty = kDirtyAll;
}

void ResolvePresentParameters(HWND window, D3DPRESENT_PARAMETERS& pp) {
    if (pp.BackBufferWidth == 0 || pp.BackBufferHeight == 0) {
        RECT client{};
        GetClientRect(window, &client);
        if (pp.BackBufferWidth == 0)
            pp.BackBufferWidth = UINT(std::max<LONG>(1, client.right - client.left));
        if (pp.BackBufferHeight == 0)
            pp.BackBufferHeight = UINT(std::max<LONG>(1, client.bottom - client.top));
    }
    if (pp.BackBufferFormat == D3DFMT_UNKNOWN)
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (pp.BackBufferCount == 0)
        pp.BackBufferCount = 1;
}

GLint DepthBits(D3DFORMAT format) {
    return format == D3DFMT_D16 || format == D3DFMT_D16_LOCKABLE || format == D3DFMT_D15S1 ? 16
                                                                                           : 24;
}

bool DeviceCore::HasStencil() const {
    D3DFORMAT f = params.AutoDepthStencilFormat;
    return params.EnableAutoDepthStencil &&
           (f == D3DFMT_D24S8 || f == D3DFMT_D15S1 || f == D3DFMT_D24X4S4 || f == D3DFMT_D24FS8);
}

void DeviceCore::Forget(IDirect3DResource9* resource) {
    for (auto& texture : state.textures)
        if (texture == resource)
            texture = nullptr;
    if (state.stream == resource)
        state.stream = nullptr;
    if (state.indices == resource)
        state.indices = nullptr;
}

void DeviceCore::DeleteGlBuffer(GLuint name) {
    if (!name)
        return;
    LibraryScope scope;
    MakeCurrent();
    Gl().DeleteBuffers(1, &name);
}

void DeviceCore::DeleteGlTexture(GLuint name) {
    if (!name)
        return;
    LibraryScope scope;
    MakeCurrent();
    glDeleteTextures(1, &name);
}

void DeviceCore::Trace(const char* name, std::string args) {
    trace.push_back({name, std::move(args)});
}

// ---- Draws ----

HRESULT DeviceCore::ValidateIndexedDraw(INT baseVertex, UINT firstIndex, UINT indexCount,
                                        UINT availableVertices) {
    auto& ib = state.indices->impl();
    if (!ib.maxIndexValid) {
        size_t count = ib.buffer.bytes.size() / (ib.format == D3DFMT_INDEX32 ? 4 : 2);
        ib.maxIndex = MaxIndex(ib.buffer.bytes.data(), ib.format, 0, count);
        ib.maxIndexValid = true;
    }
    int64_t limit = int64_t(availableVertices) - baseVertex;
    if (int64_t(ib.maxIndex) < limit)
        return D3D_OK;
    // The buffer holds larger indices elsewhere; check the range drawn.
    if (int64_t(MaxIndex(ib.buffer.bytes.data(), ib.format, firstIndex, indexCount)) < limit)
        return D3D_OK;
    WarnOnce("DrawIndexedPrimitive: an index points past the end of the vertex buffer");
    return D3DERR_INVALIDCALL;
}

HRESULT DeviceCore::Draw(D3DPRIMITIVETYPE type, INT baseVertex, UINT firstIndex,
                         UINT primitiveCount, bool indexed, UINT, UINT) {
    GLenum mode = PrimitiveMode(type);
    if (mode == GL_INVALID_ENUM)
        return D3DERR_INVALIDCALL;
    if (loss != LossState::Operational || primitiveCount == 0)
        return D3D_OK;
    VertexLayout layout = DecodeFvf(state.fvf);
    if (!layout.valid) {
        WarnOnce("draw with a vertex format that has no position: FVF " +
                 std::to_string(state.fvf));
        return D3DERR_INVALIDCALL;
    }
    if (!state.stream || (indexed && !state.indices))
        return D3DERR_INVALIDCALL;
    auto& vb = state.stream->impl();
    UINT stride = state.streamStride;
    if (stride < layout.stride) {
        WarnOnce("stream stride is smaller than the vertex format");
        return D3DERR_INVALIDCALL;
    }
    size_t size = vb.buffer.bytes.size();
    UINT available = state.streamOffset >= size ? 0 : UINT((size - state.streamOffset) / stride);
    uint64_t elements = ElementCount(type, primitiveCount);
    int64_t offset = int64_t(state.streamOffset);
    if (indexed) {
        auto& ib = state.indices->impl();
        UINT indexSize = ib.format == D3DFMT_INDEX32 ? 4 : 2;
        if (uint64_t(firstIndex) + elements > ib.buffer.bytes.size() / indexSize)
            return D3DERR_INVALIDCALL;
        offset += int64_t(baseVertex) * stride;
        if (offset < 0) {
            WarnOnce("a negative base vertex before the start of the stream is not supported");
            return D3DERR_INVALIDCALL;
        }
        if (FAILED(ValidateIndexedDraw(baseVertex, firstIndex, UINT(elements), available)))
            return D3DERR_INVALIDCALL;
    } else if (uint64_t(firstIndex) + elements > available) {
        return D3DERR_INVALIDCALL;
    }

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

HRESULT DeviceCore::DrawUser(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices,
                             UINT stride, const void* indices, D3DFORMAT indexFormat,
                             UINT numVertices) {
    GLenum mode = PrimitiveMode(type);
    VertexLayout layout = DecodeFvf(state.fvf);
    if (mode == GL_INVALID_ENUM || !vertices || !layout.valid || stride < layout.stride)
        return D3DERR_INVALIDCALL;
    // As D3D does, a user-pointer draw leaves no stream source (and no indices) bound.
    state.stream = nullptr;
    state.streamOffset = state.streamStride = 0;
    if (indices)
        state.indices = nullptr;
    if (loss != LossState::Operational || primitiveCount == 0)
        return D3D_OK;
    uint64_t elements = ElementCount(type, primitiveCount);
    if (indices) {
        uint32_t maximum = MaxIndex(static_cast<const BYTE*>(indices), indexFormat, 0, elements);
        if (maximum >= numVertices)
            return D3DERR_INVALIDCALL;
    }
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
    return D3D_OK;
}

HRESULT DeviceCore::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) {
    if ((count > 0 && !rects) || (flags & ~DWORD(7)) || flags == 0)
        return D3DERR_INVALIDCALL;
    if (((flags & D3DCLEAR_ZBUFFER) && !params.EnableAutoDepthStencil) ||
        ((flags & D3DCLEAR_STENCIL) && !HasStencil()))
        return D3DERR_INVALIDCALL;
    if (loss != LossState::Operational)
        return D3D_OK;
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
    return D3D_OK;
}

bool DeviceCore::ReadBackBuffer(std::vector<uint8_t>& rgba) {
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

HRESULT DeviceCore::Present() {
    if (loss != LossState::Operational)
        return D3DERR_DEVICELOST;
    ++presentCount;
    if (GetRunOptions().simulateDeviceLoss && presentCount % 300 == 0) {
        losePending = true;
        lostPolls = 3;
    }
    if (losePending) {
        // The frame is lost with the device.
        losePending = false;
        loss = LossState::Lost;
        return D3DERR_DEVICELOST;
    }
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
    return D3D_OK;
}

} // namespace fw::d3d9
