// The data behind each resource interface (platform/d3d9 only).
#pragma once

#include "platform/d3d9.h"

#include <GL/gl.h>

#include <vector>

// A vertex or index buffer: the CPU copy is the truth; the GL buffer follows it before a draw.
struct BufferData {
    std::vector<BYTE> bytes;
    DWORD usage = 0;
    GLuint glBuffer = 0;
    size_t dirtyBegin = 0; // bytes not yet in the GL buffer: [dirtyBegin, dirtyEnd)
    size_t dirtyEnd = 0;
    bool glAllocated = false;
    int lockCount = 0;
    int traceId = 0;
    unsigned drawnInFrame = 0; // the device's Present count at the last draw that read it

    void MarkDirty(size_t begin, size_t end);
};

struct IDirect3DVertexBuffer9::Impl {
    BufferData buffer;
    DWORD fvf = 0;
};

struct IDirect3DIndexBuffer9::Impl {
    BufferData buffer;
    D3DFORMAT format = D3DFMT_INDEX16;
    // The largest index in the buffer, recomputed after a change (bounds checks on draws).
    uint32_t maxIndex = 0;
    bool maxIndexValid = false;
};

// Sampler parameters last set on a GL texture object (GL keeps them per texture).
struct GlSamplerParams {
    GLint minFilter = -1;
    GLint magFilter = -1;
    GLint wrapS = -1;
    GLint wrapT = -1;
    DWORD border = 0;
    GLint baseLevel = -1;
    float lodBias = 0;
    float anisotropy = 1;
    bool valid = false;
};

struct TextureLevel {
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> bytes; // packed rows
    bool dirty = true;
    bool locked = false;
};

struct IDirect3DTexture9::Impl {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    DWORD usage = 0;
    std::vector<TextureLevel> levels;
    GLuint glTexture = 0;
    bool anyDirty = true;
    GlSamplerParams applied;
    int traceId = 0;
};

struct IDirect3DSurface9::Impl {
    D3DSURFACE_DESC desc{};
    IDirect3DTexture9* texture = nullptr; // a texture level (owns one reference); null: back buffer
    UINT level = 0;
};

namespace fw::d3d9 {
// Fills a level from packed rows whatever the texture's pool, as D3DX fills default-pool
// textures through a system-memory copy; the rows are taken over, not copied. False when the
// level or the size does not match.
bool UpdateTextureLevel(IDirect3DTexture9* texture, UINT level, std::vector<BYTE>&& packed);
} // namespace fw::d3d9
