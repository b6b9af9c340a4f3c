// The state every device keeps and the checks of its calls; no GL or SDL call here.
#include "platform/d3d9/device_core.h"

#include "platform/d3d9/resources.h"
#include "platform/win32/host.h"

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

DeviceCore::DeviceCore(IDirect3D9* d3d, HWND window, const D3DPRESENT_PARAMETERS& params)
    : d3d(d3d), window(window), params(params) {
    d3d->AddRef();
    ResetState();
}

DeviceCore::~DeviceCore() {
    d3d->Release();
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

void ResolvePresentParameters(UINT clientWidth, UINT clientHeight, D3DPRESENT_PARAMETERS& pp) {
    if (pp.BackBufferWidth == 0)
        pp.BackBufferWidth = std::max(1u, clientWidth);
    if (pp.BackBufferHeight == 0)
        pp.BackBufferHeight = std::max(1u, clientHeight);
    if (pp.BackBufferFormat == D3DFMT_UNKNOWN)
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    if (pp.BackBufferCount == 0)
        pp.BackBufferCount = 1;
}

void DeviceCore::ResolveParams(D3DPRESENT_PARAMETERS& pp) {
    // No window is asked: a NULLREF device may have none, and draws no picture.
    ResolvePresentParameters(1, 1, pp);
}

bool DeviceCore::ReadBackBuffer(std::vector<uint8_t>&) {
    return false; // nothing was drawn
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
    return RenderDraw(mode, layout, offset, elements, indexed, firstIndex);
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
    RenderUser(mode, layout, elements, vertices, stride, indices, indexFormat);
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
    RenderClear(count, rects, flags, color, z, stencil);
    return D3D_OK;
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
    RenderPresent();
    return D3D_OK;
}

} // namespace fw::d3d9
