// IDirect3DDevice9: validates each call, records it for the trace, and keeps the state in
// D3D9 terms; DeviceCore applies it to GL when something is drawn.
#include "platform/d3d9/device_core.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/trace.h"
#include "platform/win32/host.h"

#include <algorithm>
#include <new>

using fw::d3d9::DeviceCore;
using fw::d3d9::Trace;
namespace d3d9 = fw::d3d9;

#define FW_TRACE(name, ...)                                                                        \
    do {                                                                                           \
        if (m_core->tracing)                                                                       \
            m_core->Trace(name, Trace::Args(__VA_ARGS__));                                         \
    } while (0)

namespace {

// Which group of GL state a render state belongs to.
uint32_t RenderStateGroup(D3DRENDERSTATETYPE state) {
    switch (state) {
    case D3DRS_ZENABLE:
    case D3DRS_ZWRITEENABLE:
    case D3DRS_ZFUNC:
        return d3d9::kDirtyDepth;
    case D3DRS_STENCILENABLE:
    case D3DRS_STENCILFAIL:
    case D3DRS_STENCILZFAIL:
    case D3DRS_STENCILPASS:
    case D3DRS_STENCILFUNC:
    case D3DRS_STENCILREF:
    case D3DRS_STENCILMASK:
    case D3DRS_STENCILWRITEMASK:
        return d3d9::kDirtyStencil;
    case D3DRS_ALPHABLENDENABLE:
    case D3DRS_SRCBLEND:
    case D3DRS_DESTBLEND:
    case D3DRS_BLENDOP:
    case D3DRS_BLENDFACTOR:
    case D3DRS_SEPARATEALPHABLENDENABLE:
    case D3DRS_SRCBLENDALPHA:
    case D3DRS_DESTBLENDALPHA:
    case D3DRS_BLENDOPALPHA:
        return d3d9::kDirtyBlend;
    case D3DRS_ALPHATESTENABLE:
    case D3DRS_ALPHAREF:
    case D3DRS_ALPHAFUNC:
        return d3d9::kDirtyAlphaTest;
    case D3DRS_CULLMODE:
    case D3DRS_FILLMODE:
    case D3DRS_SHADEMODE:
    case D3DRS_DITHERENABLE:
        return d3d9::kDirtyRaster;
    case D3DRS_FOGENABLE:
    case D3DRS_FOGCOLOR:
    case D3DRS_FOGTABLEMODE:
    case D3DRS_FOGVERTEXMODE:
    case D3DRS_FOGSTART:
    case D3DRS_FOGEND:
    case D3DRS_FOGDENSITY:
        return d3d9::kDirtyFog;
    case D3DRS_LIGHTING:
    case D3DRS_AMBIENT:
    case D3DRS_COLORVERTEX:
    case D3DRS_LOCALVIEWER:
    case D3DRS_NORMALIZENORMALS:
    case D3DRS_DIFFUSEMATERIALSOURCE:
    case D3DRS_SPECULARMATERIALSOURCE:
    case D3DRS_AMBIENTMATERIALSOURCE:
    case D3DRS_EMISSIVEMATERIALSOURCE:
    case D3DRS_SPECULARENABLE:
        return d3d9::kDirtyLighting;
    case D3DRS_COLORWRITEENABLE:
        return d3d9::kDirtyColorWrite;
    case D3DRS_TEXTUREFACTOR:
        return d3d9::kDirtyStages;
    default:
        return 0; // no GL counterpart in this pipeline; kept for GetRenderState
    }
}

template <typename T> HRESULT Hand(T* object, T** out) {
    if (!out)
        return D3DERR_INVALIDCALL;
    if (object)
        object->AddRef();
    *out = object;
    return D3D_OK;
}

} // namespace

IDirect3DDevice9::IDirect3DDevice9(std::unique_ptr<DeviceCore> core) : m_core(std::move(core)) {}
IDirect3DDevice9::~IDirect3DDevice9() = default;

ULONG IDirect3DDevice9::AddRef() {
    return ++refCount;
}

ULONG IDirect3DDevice9::Release() {
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

// ---- Frame and device loss ----

HRESULT IDirect3DDevice9::TestCooperativeLevel() {
    FW_TRACE("TestCooperativeLevel");
    switch (m_core->loss) {
    case d3d9::LossState::Operational:
        return D3D_OK;
    case d3d9::LossState::Lost:
        if (m_core->lostPolls > 0) {
            --m_core->lostPolls;
            return D3DERR_DEVICELOST;
        }
        m_core->loss = d3d9::LossState::NotReset;
        return D3DERR_DEVICENOTRESET;
    default:
        return D3DERR_DEVICENOTRESET;
    }
}

HRESULT IDirect3DDevice9::Reset(D3DPRESENT_PARAMETERS* pPresentationParameters) {
    FW_TRACE("Reset");
    if (!pPresentationParameters)
        return D3DERR_INVALIDCALL;
    if (m_core->loss == d3d9::LossState::Lost && m_core->lostPolls > 0)
        return D3DERR_DEVICELOST;
    if (m_core->defaultPoolResources > 0) {
        d3d9::WarnOnce("Reset refused: " + std::to_string(m_core->defaultPoolResources) +
                       " D3DPOOL_DEFAULT resource(s) still alive");
        m_core->loss = d3d9::LossState::NotReset;
        return D3DERR_INVALIDCALL;
    }
    D3DPRESENT_PARAMETERS params = *pPresentationParameters;
    m_core->ResolveParams(params);
    *pPresentationParameters = params;
    bool resized = params.BackBufferWidth != m_core->params.BackBufferWidth ||
                   params.BackBufferHeight != m_core->params.BackBufferHeight ||
                   params.BackBufferFormat != m_core->params.BackBufferFormat ||
                   params.EnableAutoDepthStencil != m_core->params.EnableAutoDepthStencil ||
                   params.AutoDepthStencilFormat != m_core->params.AutoDepthStencilFormat;
    m_core->params = params;
    m_core->ApplyParams(resized);
    m_core->ResetState();
    m_core->inScene = false;
    m_core->loss = d3d9::LossState::Operational;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::Present(const RECT* pSourceRect, const RECT* pDestRect,
                                  HWND hDestWindowOverride, const RGNDATA* pDirtyRegion) {
    FW_TRACE("Present", pSourceRect, pDestRect, static_cast<const void*>(hDestWindowOverride),
             static_cast<const void*>(pDirtyRegion));
    if (pSourceRect || pDestRect || hDestWindowOverride || pDirtyRegion)
        d3d9::WarnOnce("Present: source/destination rectangles and window overrides are ignored");
    return m_core->Present();
}

HRESULT IDirect3DDevice9::BeginScene() {
    FW_TRACE("BeginScene");
    if (m_core->inScene)
        return D3DERR_INVALIDCALL;
    m_core->inScene = true;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::EndScene() {
    FW_TRACE("EndScene");
    if (!m_core->inScene)
        return D3DERR_INVALIDCALL;
    m_core->inScene = false;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color,
                                float Z, DWORD Stencil) {
    FW_TRACE("Clear", Count, pRects, Flags, Color, Z, Stencil);
    return m_core->Clear(Count, pRects, Flags, Color, Z, Stencil);
}

HRESULT IDirect3DDevice9::GetBackBuffer(UINT iSwapChain, UINT iBackBuffer, D3DBACKBUFFER_TYPE Type,
                                        IDirect3DSurface9** ppBackBuffer) {
    FW_TRACE("GetBackBuffer", iSwapChain, iBackBuffer, Type);
    if (!ppBackBuffer)
        return D3DERR_INVALIDCALL;
    *ppBackBuffer = nullptr;
    const D3DPRESENT_PARAMETERS& p = m_core->params;
    if (iSwapChain != 0 || iBackBuffer >= p.BackBufferCount || Type != D3DBACKBUFFER_TYPE_MONO)
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<IDirect3DSurface9::Impl>();
    impl->desc = {p.BackBufferFormat, D3DRTYPE_SURFACE,  D3DUSAGE_RENDERTARGET,
                  D3DPOOL_DEFAULT,    p.MultiSampleType, p.MultiSampleQuality,
                  p.BackBufferWidth,  p.BackBufferHeight};
    *ppBackBuffer = new IDirect3DSurface9(this, std::move(impl));
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetDirect3D(IDirect3D9** ppD3D9) {
    return Hand(m_core->d3d, ppD3D9);
}

UINT IDirect3DDevice9::GetAvailableTextureMem() {
    return 512u << 20;
}

HRESULT IDirect3DDevice9::EvictManagedResources() {
    return D3D_OK;
}

// ---- Resources ----

HRESULT IDirect3DDevice9::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage,
                                        D3DFORMAT Format, D3DPOOL Pool,
                                        IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) {
    FW_TRACE("CreateTexture", Width, Height, Levels, Usage, Format, Pool);
    constexpr UINT kMaxSide = 8192;
    if (!ppTexture)
        return D3DERR_INVALIDCALL;
    *ppTexture = nullptr;
    d3d9::FormatInfo info = d3d9::DescribeFormat(Format);
    UINT fullChain = d3d9::FullChainLength(Width, Height);
    if (pSharedHandle || !info.known || Width == 0 || Height == 0 || Width > kMaxSide ||
        Height > kMaxSide || Levels > fullChain || Pool > D3DPOOL_SCRATCH ||
        (Usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL | D3DUSAGE_AUTOGENMIPMAP)))
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<IDirect3DTexture9::Impl>();
    impl->format = Format;
    impl->usage = Usage;
    try {
        UINT count = Levels == 0 ? fullChain : Levels;
        impl->levels.resize(count);
        for (UINT i = 0; i < count; ++i) {
            TextureLevel& level = impl->levels[i];
            level.width = std::max(1u, Width >> i);
            level.height = std::max(1u, Height >> i);
            level.size = d3d9::LevelBytes(Format, level.width, level.height);
        }
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *ppTexture = new IDirect3DTexture9(this, Pool, std::move(impl));
    return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                             IDirect3DVertexBuffer9** ppVertexBuffer,
                                             HANDLE* pSharedHandle) {
    FW_TRACE("CreateVertexBuffer", Length, Usage, FVF, Pool);
    if (!ppVertexBuffer)
        return D3DERR_INVALIDCALL;
    *ppVertexBuffer = nullptr;
    d3d9::VertexLayout layout = d3d9::DecodeFvf(FVF);
    if (pSharedHandle || Length == 0 || Pool > D3DPOOL_SCRATCH ||
        (FVF != 0 && (!layout.valid || Length < layout.stride)))
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<IDirect3DVertexBuffer9::Impl>();
    impl->fvf = FVF;
    impl->buffer.usage = Usage;
    try {
        impl->buffer.bytes.assign(Length, 0);
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *ppVertexBuffer = new IDirect3DVertexBuffer9(this, Pool, std::move(impl));
    return D3D_OK;
}

HRESULT IDirect3DDevice9::CreateIndexBuffer(UINT Length, DWORD Usage, D3DFORMAT Format,
                                            D3DPOOL Pool, IDirect3DIndexBuffer9** ppIndexBuffer,
                                            HANDLE* pSharedHandle) {
    FW_TRACE("CreateIndexBuffer", Length, Usage, Format, Pool);
    if (!ppIndexBuffer)
        return D3DERR_INVALIDCALL;
    *ppIndexBuffer = nullptr;
    if (pSharedHandle || Length == 0 || Pool > D3DPOOL_SCRATCH ||
        (Format != D3DFMT_INDEX16 && Format != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<IDirect3DIndexBuffer9::Impl>();
    impl->format = Format;
    impl->buffer.usage = Usage;
    try {
        impl->buffer.bytes.assign(Length, 0);
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *ppIndexBuffer = new IDirect3DIndexBuffer9(this, Pool, std::move(impl));
    return D3D_OK;
}

// ---- Fixed-function state ----

namespace {

d3d9::Matrix* TransformSlot(d3d9::DeviceState& state, D3DTRANSFORMSTATETYPE type, uint32_t& group) {
    if (type == D3DTS_VIEW) {
        group = d3d9::kDirtyTransforms | d3d9::kDirtyLighting;
        return &state.view;
    }
    if (type == D3DTS_PROJECTION) {
        group = d3d9::kDirtyTransforms;
        return &state.projection;
    }
    if (type >= D3DTS_TEXTURE0 && type <= D3DTS_TEXTURE7) {
        group = d3d9::kDirtyStages;
        return &state.texture[type - D3DTS_TEXTURE0];
    }
    if (type == D3DTS_WORLD) {
        group = d3d9::kDirtyTransforms;
        return &state.world;
    }
    return nullptr;
}

} // namespace

HRESULT IDirect3DDevice9::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    FW_TRACE("SetTransform", State, pMatrix);
    uint32_t group = 0;
    d3d9::Matrix* slot = TransformSlot(m_core->state, State, group);
    if (!pMatrix)
        return D3DERR_INVALIDCALL;
    if (!slot) {
        // Further world matrices only serve vertex blending, which this pipeline lacks.
        if (State > D3DTS_WORLD && State <= D3DTS_WORLDMATRIX(255))
            return D3D_OK;
        return D3DERR_INVALIDCALL;
    }
    *slot = d3d9::ToMatrix(*pMatrix);
    m_core->dirty |= group;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetTransform(D3DTRANSFORMSTATETYPE State, D3DMATRIX* pMatrix) {
    uint32_t group = 0;
    d3d9::Matrix* slot = TransformSlot(m_core->state, State, group);
    if (!pMatrix || !slot)
        return D3DERR_INVALIDCALL;
    std::copy(slot->begin(), slot->end(), &pMatrix->_11);
    return D3D_OK;
}

HRESULT IDirect3DDevice9::MultiplyTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    FW_TRACE("MultiplyTransform", State, pMatrix);
    uint32_t group = 0;
    d3d9::Matrix* slot = TransformSlot(m_core->state, State, group);
    if (!pMatrix || !slot)
        return D3DERR_INVALIDCALL;
    *slot = d3d9::Multiply(d3d9::ToMatrix(*pMatrix), *slot);
    m_core->dirty |= group;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetViewport(const D3DVIEWPORT9* pViewport) {
    FW_TRACE("SetViewport", pViewport);
    const D3DPRESENT_PARAMETERS& p = m_core->params;
    if (!pViewport || pViewport->Width == 0 || pViewport->Height == 0 ||
        uint64_t(pViewport->X) + pViewport->Width > p.BackBufferWidth ||
        uint64_t(pViewport->Y) + pViewport->Height > p.BackBufferHeight ||
        !(pViewport->MinZ >= 0.0f && pViewport->MaxZ <= 1.0f && pViewport->MinZ <= pViewport->MaxZ))
        return D3DERR_INVALIDCALL;
    m_core->state.viewport = *pViewport;
    m_core->dirty |= d3d9::kDirtyViewport;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetViewport(D3DVIEWPORT9* pViewport) {
    if (!pViewport)
        return D3DERR_INVALIDCALL;
    *pViewport = m_core->state.viewport;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetMaterial(const D3DMATERIAL9* pMaterial) {
    FW_TRACE("SetMaterial", pMaterial);
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    m_core->state.material = *pMaterial;
    m_core->dirty |= d3d9::kDirtyLighting;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetMaterial(D3DMATERIAL9* pMaterial) {
    if (!pMaterial)
        return D3DERR_INVALIDCALL;
    *pMaterial = m_core->state.material;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetLight(DWORD Index, const D3DLIGHT9* pLight) {
    FW_TRACE("SetLight", Index, pLight);
    if (!pLight || pLight->Type < D3DLIGHT_POINT || pLight->Type > D3DLIGHT_DIRECTIONAL)
        return D3DERR_INVALIDCALL;
    auto& slot = m_core->state.lights[Index];
    slot.first = *pLight;
    m_core->dirty |= d3d9::kDirtyLighting;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetLight(DWORD Index, D3DLIGHT9* pLight) {
    auto it = m_core->state.lights.find(Index);
    if (!pLight || it == m_core->state.lights.end())
        return D3DERR_INVALIDCALL;
    *pLight = it->second.first;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::LightEnable(DWORD Index, BOOL Enable) {
    FW_TRACE("LightEnable", Index, Enable);
    auto& lights = m_core->state.lights;
    auto it = lights.find(Index);
    if (it == lights.end()) {
        // Enabling a light never set gives D3D's default: white, directional, along +z.
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1, 1, 1, 0};
        light.Direction = {0, 0, 1};
        it = lights.emplace(Index, std::pair{light, false}).first;
    }
    it->second.second = Enable != FALSE;
    m_core->dirty |= d3d9::kDirtyLighting;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetLightEnable(DWORD Index, BOOL* pEnable) {
    auto it = m_core->state.lights.find(Index);
    if (!pEnable || it == m_core->state.lights.end())
        return D3DERR_INVALIDCALL;
    *pEnable = it->second.second ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    FW_TRACE("SetRenderState", State, Value);
    if (State >= d3d9::kRenderStates)
        return D3DERR_INVALIDCALL;
    DWORD& slot = m_core->state.render[State];
    if (slot != Value) {
        slot = Value;
        m_core->dirty |= RenderStateGroup(State);
    }
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetRenderState(D3DRENDERSTATETYPE State, DWORD* pValue) {
    if (!pValue || State >= d3d9::kRenderStates)
        return D3DERR_INVALIDCALL;
    *pValue = m_core->state.render[State];
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) {
    FW_TRACE("SetTexture", Stage, pTexture);
    if (Stage >= d3d9::kStages) {
        // Higher samplers exist in D3D9 but the fixed-function stages cannot read them.
        return Stage < d3d9::kSamplers || (Stage >= 256 && Stage <= 260) ? D3D_OK
                                                                         : D3DERR_INVALIDCALL;
    }
    if (pTexture && pTexture->GetType() != D3DRTYPE_TEXTURE)
        return D3DERR_INVALIDCALL;
    m_core->state.textures[Stage] = pTexture;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetTexture(DWORD Stage, IDirect3DBaseTexture9** ppTexture) {
    if (Stage >= d3d9::kStages)
        return D3DERR_INVALIDCALL;
    return Hand(m_core->state.textures[Stage], ppTexture);
}

HRESULT IDirect3DDevice9::SetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                               DWORD Value) {
    FW_TRACE("SetTextureStageState", Stage, Type, Value);
    if (Stage >= d3d9::kStages || Type >= d3d9::kStageStates)
        return D3DERR_INVALIDCALL;
    DWORD& slot = m_core->state.stage[Stage][Type];
    if (slot != Value) {
        slot = Value;
        m_core->dirty |= d3d9::kDirtyStages;
    }
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetTextureStageState(DWORD Stage, D3DTEXTURESTAGESTATETYPE Type,
                                               DWORD* pValue) {
    if (!pValue || Stage >= d3d9::kStages || Type >= d3d9::kStageStates)
        return D3DERR_INVALIDCALL;
    *pValue = m_core->state.stage[Stage][Type];
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) {
    FW_TRACE("SetSamplerState", Sampler, Type, Value);
    if (Type >= d3d9::kSamplerStates)
        return D3DERR_INVALIDCALL;
    if (Sampler >= d3d9::kSamplers)
        return Sampler >= 256 && Sampler <= 260 ? D3D_OK : D3DERR_INVALIDCALL;
    m_core->state.sampler[Sampler][Type] = Value; // compared with each texture's GL state
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD* pValue) {
    if (!pValue || Sampler >= d3d9::kSamplers || Type >= d3d9::kSamplerStates)
        return D3DERR_INVALIDCALL;
    *pValue = m_core->state.sampler[Sampler][Type];
    return D3D_OK;
}

// ---- Geometry ----

HRESULT IDirect3DDevice9::SetFVF(DWORD FVF) {
    FW_TRACE("SetFVF", FVF);
    if (m_core->state.fvf != FVF) {
        m_core->state.fvf = FVF;
        m_core->dirty |= d3d9::kDirtyStages; // texture coordinate sizes feed the texture matrices
    }
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetFVF(DWORD* pFVF) {
    if (!pFVF)
        return D3DERR_INVALIDCALL;
    *pFVF = m_core->state.fvf;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData,
                                          UINT OffsetInBytes, UINT Stride) {
    FW_TRACE("SetStreamSource", StreamNumber, pStreamData, OffsetInBytes, Stride);
    if (StreamNumber >= 16)
        return D3DERR_INVALIDCALL;
    if (StreamNumber > 0) {
        d3d9::WarnOnce("streams other than 0 are not used by flexible-vertex-format draws");
        return D3D_OK;
    }
    m_core->state.stream = pStreamData;
    m_core->state.streamOffset = pStreamData ? OffsetInBytes : 0;
    m_core->state.streamStride = pStreamData ? Stride : 0;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9** ppStreamData,
                                          UINT* pOffsetInBytes, UINT* pStride) {
    if (StreamNumber != 0 || !pOffsetInBytes || !pStride)
        return D3DERR_INVALIDCALL;
    *pOffsetInBytes = m_core->state.streamOffset;
    *pStride = m_core->state.streamStride;
    return Hand(m_core->state.stream, ppStreamData);
}

HRESULT IDirect3DDevice9::SetIndices(IDirect3DIndexBuffer9* pIndexData) {
    FW_TRACE("SetIndices", pIndexData);
    m_core->state.indices = pIndexData;
    return D3D_OK;
}

HRESULT IDirect3DDevice9::GetIndices(IDirect3DIndexBuffer9** ppIndexData) {
    return Hand(m_core->state.indices, ppIndexData);
}

HRESULT IDirect3DDevice9::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex,
                                        UINT PrimitiveCount) {
    FW_TRACE("DrawPrimitive", PrimitiveType, StartVertex, PrimitiveCount);
    return m_core->Draw(PrimitiveType, 0, StartVertex, PrimitiveCount, false, 0, 0);
}

HRESULT IDirect3DDevice9::DrawIndexedPrimitive(D3DPRIMITIVETYPE PrimitiveType, INT BaseVertexIndex,
                                               UINT MinVertexIndex, UINT NumVertices,
                                               UINT startIndex, UINT primCount) {
    FW_TRACE("DrawIndexedPrimitive", PrimitiveType, BaseVertexIndex, MinVertexIndex, NumVertices,
             startIndex, primCount);
    return m_core->Draw(PrimitiveType, BaseVertexIndex, startIndex, primCount, true, MinVertexIndex,
                        NumVertices);
}

HRESULT IDirect3DDevice9::DrawPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType, UINT PrimitiveCount,
                                          const void* pVertexStreamZeroData,
                                          UINT VertexStreamZeroStride) {
    FW_TRACE("DrawPrimitiveUP", PrimitiveType, PrimitiveCount, pVertexStreamZeroData,
             VertexStreamZeroStride);
    return m_core->DrawUser(PrimitiveType, PrimitiveCount, pVertexStreamZeroData,
                            VertexStreamZeroStride, nullptr, D3DFMT_UNKNOWN, 0);
}

HRESULT IDirect3DDevice9::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE PrimitiveType,
                                                 UINT MinVertexIndex, UINT NumVertices,
                                                 UINT PrimitiveCount, const void* pIndexData,
                                                 D3DFORMAT IndexDataFormat,
                                                 const void* pVertexStreamZeroData,
                                                 UINT VertexStreamZeroStride) {
    FW_TRACE("DrawIndexedPrimitiveUP", PrimitiveType, MinVertexIndex, NumVertices, PrimitiveCount,
             pIndexData, IndexDataFormat, pVertexStreamZeroData, VertexStreamZeroStride);
    if (!pIndexData || (IndexDataFormat != D3DFMT_INDEX16 && IndexDataFormat != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    return m_core->DrawUser(PrimitiveType, PrimitiveCount, pVertexStreamZeroData,
                            VertexStreamZeroStride, pIndexData, IndexDataFormat,
                            MinVertexIndex + NumVertices);
}
