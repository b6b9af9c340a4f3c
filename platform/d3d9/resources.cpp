#include "platform/d3d9/resources.h"

#include "platform/d3d9/device_core.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/trace.h"

#include <algorithm>

using fw::d3d9::Trace;

void BufferData::MarkDirty(size_t begin, size_t end) {
    if (dirtyEnd <= dirtyBegin) {
        dirtyBegin = begin;
        dirtyEnd = end;
    } else {
        dirtyBegin = std::min(dirtyBegin, begin);
        dirtyEnd = std::max(dirtyEnd, end);
    }
}

// ---- IDirect3DResource9 ----

IDirect3DResource9::IDirect3DResource9(IDirect3DDevice9* device, D3DRESOURCETYPE type, D3DPOOL pool)
    : device(device), type(type), pool(pool) {
    device->AddRef();
    if (pool == D3DPOOL_DEFAULT)
        ++device->core().defaultPoolResources;
}

IDirect3DResource9::~IDirect3DResource9() {
    device->core().Forget(this);
    if (pool == D3DPOOL_DEFAULT)
        --device->core().defaultPoolResources;
    device->Release();
}

ULONG IDirect3DResource9::AddRef() {
    return ++refCount;
}

ULONG IDirect3DResource9::Release() {
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

HRESULT IDirect3DResource9::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device->AddRef();
    *ppDevice = device;
    return D3D_OK;
}

DWORD IDirect3DResource9::SetPriority(DWORD PriorityNew) {
    DWORD old = priority;
    if (pool == D3DPOOL_MANAGED)
        priority = PriorityNew;
    return old;
}

DWORD IDirect3DResource9::GetPriority() {
    return priority;
}
void IDirect3DResource9::PreLoad() {}
D3DRESOURCETYPE IDirect3DResource9::GetType() {
    return type;
}

// ---- Buffers ----

namespace {

HRESULT LockBuffer(BufferData& buffer, UINT offset, UINT size, void** data, DWORD flags) {
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    size_t length = buffer.bytes.size();
    if (offset > length || (size != 0 && size_t(offset) + size > length))
        return D3DERR_INVALIDCALL;
    size_t end = size == 0 ? length : size_t(offset) + size;
    if (!(flags & D3DLOCK_READONLY))
        buffer.MarkDirty(offset, end);
    ++buffer.lockCount;
    *data = buffer.bytes.data() + offset;
    return D3D_OK;
}

HRESULT UnlockBuffer(BufferData& buffer) {
    if (buffer.lockCount == 0)
        return D3DERR_INVALIDCALL;
    --buffer.lockCount;
    return D3D_OK;
}

} // namespace

IDirect3DVertexBuffer9::IDirect3DVertexBuffer9(IDirect3DDevice9* device, D3DPOOL pool,
                                               std::unique_ptr<Impl> impl)
    : IDirect3DResource9(device, D3DRTYPE_VERTEXBUFFER, pool), m_impl(std::move(impl)) {
    m_impl->buffer.traceId = device->core().NextTraceId();
}

IDirect3DVertexBuffer9::~IDirect3DVertexBuffer9() {
    device->core().DeleteGlBuffer(m_impl->buffer.glBuffer);
}

HRESULT IDirect3DVertexBuffer9::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData,
                                     DWORD Flags) {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("VertexBuffer::Lock", Trace::Args(this, OffsetToLock, SizeToLock, Flags));
    return LockBuffer(m_impl->buffer, OffsetToLock, SizeToLock, ppbData, Flags);
}

HRESULT IDirect3DVertexBuffer9::Unlock() {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("VertexBuffer::Unlock", Trace::Args(this));
    return UnlockBuffer(m_impl->buffer);
}

HRESULT IDirect3DVertexBuffer9::GetDesc(D3DVERTEXBUFFER_DESC* pDesc) {
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = {D3DFMT_VERTEXDATA,
              D3DRTYPE_VERTEXBUFFER,
              m_impl->buffer.usage,
              pool,
              UINT(m_impl->buffer.bytes.size()),
              m_impl->fvf};
    return D3D_OK;
}

IDirect3DIndexBuffer9::IDirect3DIndexBuffer9(IDirect3DDevice9* device, D3DPOOL pool,
                                             std::unique_ptr<Impl> impl)
    : IDirect3DResource9(device, D3DRTYPE_INDEXBUFFER, pool), m_impl(std::move(impl)) {
    m_impl->buffer.traceId = device->core().NextTraceId();
}

IDirect3DIndexBuffer9::~IDirect3DIndexBuffer9() {
    device->core().DeleteGlBuffer(m_impl->buffer.glBuffer);
}

HRESULT IDirect3DIndexBuffer9::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData,
                                    DWORD Flags) {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("IndexBuffer::Lock", Trace::Args(this, OffsetToLock, SizeToLock, Flags));
    HRESULT hr = LockBuffer(m_impl->buffer, OffsetToLock, SizeToLock, ppbData, Flags);
    if (SUCCEEDED(hr) && !(Flags & D3DLOCK_READONLY))
        m_impl->maxIndexValid = false;
    return hr;
}

HRESULT IDirect3DIndexBuffer9::Unlock() {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("IndexBuffer::Unlock", Trace::Args(this));
    return UnlockBuffer(m_impl->buffer);
}

HRESULT IDirect3DIndexBuffer9::GetDesc(D3DINDEXBUFFER_DESC* pDesc) {
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = {m_impl->format, D3DRTYPE_INDEXBUFFER, m_impl->buffer.usage, pool,
              UINT(m_impl->buffer.bytes.size())};
    return D3D_OK;
}

// ---- Textures ----

IDirect3DBaseTexture9::IDirect3DBaseTexture9(IDirect3DDevice9* device, D3DRESOURCETYPE type,
                                             D3DPOOL pool)
    : IDirect3DResource9(device, type, pool) {}

DWORD IDirect3DBaseTexture9::SetLOD(DWORD LODNew) {
    DWORD old = lod;
    if (pool == D3DPOOL_MANAGED)
        lod = std::min(LODNew, levelCount ? levelCount - 1 : 0);
    return old;
}

DWORD IDirect3DBaseTexture9::GetLOD() {
    return lod;
}
DWORD IDirect3DBaseTexture9::GetLevelCount() {
    return levelCount;
}

HRESULT IDirect3DBaseTexture9::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) {
    return D3DERR_INVALIDCALL; // no texture is created with D3DUSAGE_AUTOGENMIPMAP
}

D3DTEXTUREFILTERTYPE IDirect3DBaseTexture9::GetAutoGenFilterType() {
    return D3DTEXF_NONE;
}
void IDirect3DBaseTexture9::GenerateMipSubLevels() {}

IDirect3DTexture9::IDirect3DTexture9(IDirect3DDevice9* device, D3DPOOL pool,
                                     std::unique_ptr<Impl> impl)
    : IDirect3DBaseTexture9(device, D3DRTYPE_TEXTURE, pool), m_impl(std::move(impl)) {
    levelCount = DWORD(m_impl->levels.size());
    m_impl->traceId = device->core().NextTraceId();
}

IDirect3DTexture9::~IDirect3DTexture9() {
    device->core().DeleteGlTexture(m_impl->glTexture);
}

HRESULT IDirect3DTexture9::GetLevelDesc(UINT Level, D3DSURFACE_DESC* pDesc) {
    if (!pDesc || Level >= m_impl->levels.size())
        return D3DERR_INVALIDCALL;
    const TextureLevel& level = m_impl->levels[Level];
    *pDesc = {m_impl->format, D3DRTYPE_SURFACE, m_impl->usage, pool, D3DMULTISAMPLE_NONE, 0,
              level.width,    level.height};
    return D3D_OK;
}

HRESULT IDirect3DTexture9::GetSurfaceLevel(UINT Level, IDirect3DSurface9** ppSurfaceLevel) {
    if (!ppSurfaceLevel || Level >= m_impl->levels.size())
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<IDirect3DSurface9::Impl>();
    GetLevelDesc(Level, &impl->desc);
    impl->texture = this;
    impl->level = Level;
    AddRef();
    *ppSurfaceLevel = new IDirect3DSurface9(device, std::move(impl));
    return D3D_OK;
}

HRESULT IDirect3DTexture9::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect,
                                    DWORD Flags) {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("Texture::LockRect", Trace::Args(this, Level, pRect, Flags));
    if (!pLockedRect || Level >= m_impl->levels.size())
        return D3DERR_INVALIDCALL;
    TextureLevel& level = m_impl->levels[Level];
    if (level.locked)
        return D3DERR_INVALIDCALL;
    if (!fw::d3d9::MakePendingLevels(*m_impl, Level))
        return D3DERR_INVALIDCALL;
    if (pool == D3DPOOL_DEFAULT && !(m_impl->usage & D3DUSAGE_DYNAMIC))
        return D3DERR_INVALIDCALL; // video memory is only lockable for dynamic textures
    D3DFORMAT format = m_impl->format;
    bool compressed = fw::d3d9::DescribeFormat(format).compressed;
    UINT pitch = fw::d3d9::RowPitch(format, level.width);
    size_t offset = 0;
    if (pRect) {
        const RECT& r = *pRect;
        if (r.left < 0 || r.top < 0 || r.left >= r.right || r.top >= r.bottom ||
            UINT(r.right) > level.width || UINT(r.bottom) > level.height)
            return D3DERR_INVALIDCALL;
        if (compressed) {
            bool aligned = r.left % 4 == 0 && r.top % 4 == 0 &&
                           (r.right % 4 == 0 || UINT(r.right) == level.width) &&
                           (r.bottom % 4 == 0 || UINT(r.bottom) == level.height);
            if (!aligned)
                return D3DERR_INVALIDCALL;
            offset = size_t(r.top / 4) * pitch +
                     size_t(r.left / 4) * fw::d3d9::DescribeFormat(format).bytes;
        } else {
            offset =
                size_t(r.top) * pitch + size_t(r.left) * fw::d3d9::DescribeFormat(format).bytes;
        }
    }
    try {
        level.Bytes();
    } catch (const std::bad_alloc&) {
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    level.locked = true;
    if (!(Flags & D3DLOCK_READONLY)) {
        level.dirty = true;
        m_impl->anyDirty = true;
    }
    pLockedRect->Pitch = INT(pitch);
    pLockedRect->pBits = level.bytes.data() + offset;
    return D3D_OK;
}

HRESULT IDirect3DTexture9::UnlockRect(UINT Level) {
    auto& core = device->core();
    if (core.tracing)
        core.Trace("Texture::UnlockRect", Trace::Args(this, Level));
    if (Level >= m_impl->levels.size() || !m_impl->levels[Level].locked)
        return D3DERR_INVALIDCALL;
    m_impl->levels[Level].locked = false;
    return D3D_OK;
}

HRESULT IDirect3DTexture9::AddDirtyRect(const RECT*) {
    m_impl->levels[0].dirty = true;
    m_impl->anyDirty = true;
    return D3D_OK;
}

// ---- Surfaces ----

IDirect3DSurface9::IDirect3DSurface9(IDirect3DDevice9* device, std::unique_ptr<Impl> impl)
    : IDirect3DResource9(device, D3DRTYPE_SURFACE, impl->desc.Pool), m_impl(std::move(impl)) {}

IDirect3DSurface9::~IDirect3DSurface9() {
    if (m_impl->texture)
        m_impl->texture->Release();
}

HRESULT IDirect3DSurface9::GetDesc(D3DSURFACE_DESC* pDesc) {
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = m_impl->desc;
    return D3D_OK;
}

HRESULT IDirect3DSurface9::LockRect(D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    if (!m_impl->texture)
        return D3DERR_INVALIDCALL; // the back buffer is not lockable
    return m_impl->texture->LockRect(m_impl->level, pLockedRect, pRect, Flags);
}

HRESULT IDirect3DSurface9::UnlockRect() {
    if (!m_impl->texture)
        return D3DERR_INVALIDCALL;
    return m_impl->texture->UnlockRect(m_impl->level);
}

void fw::d3d9::DeferTextureLevels(IDirect3DTexture9* texture, UINT first, LevelMaker make) {
    auto& impl = texture->impl();
    if (first == 0 || first >= impl.levels.size())
        return;
    impl.firstPending = first;
    impl.makePending = std::move(make);
}

bool fw::d3d9::MakePendingLevels(IDirect3DTexture9::Impl& texture, UINT level) {
    while (texture.firstPending <= level && texture.firstPending < texture.levels.size()) {
        TextureLevel& made = texture.levels[texture.firstPending];
        std::vector<BYTE> bytes = texture.makePending(
            texture.firstPending, texture.levels[texture.firstPending - 1].Bytes());
        if (bytes.size() != made.size)
            return false;
        made.bytes.swap(bytes);
        made.dirty = true;
        texture.anyDirty = true;
        ++texture.firstPending;
    }
    if (texture.firstPending >= texture.levels.size())
        texture.makePending = nullptr; // whatever it holds is no longer needed
    return true;
}

bool fw::d3d9::UpdateTextureLevel(IDirect3DTexture9* texture, UINT index,
                                  std::vector<BYTE>&& packed) {
    auto& impl = texture->impl();
    if (index >= impl.levels.size() || impl.levels[index].size != packed.size())
        return false;
    TextureLevel& level = impl.levels[index];
    level.bytes.swap(packed);
    level.dirty = true;
    impl.anyDirty = true;
    return true;
}
