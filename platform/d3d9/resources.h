// The data behind each resource interface (platform/d3d9 only).
#pragma once

#include "platform/d3d9.h"

#include <GL/gl.h>

#include <functional>
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
    size_t size = 0;         // bytes of packed rows
    std::vector<BYTE> bytes; // packed rows; empty until first needed (reads as zeros)
    bool dirty = true;
    bool locked = false;

    // The rows, zeroed on first need: a level that a loader fills is never zeroed first.
    std::vector<BYTE>& Bytes() {
        if (bytes.size() != size)
            bytes.assign(size, 0);
        return bytes;
    }
};

// Makes the packed rows of one level from those of the level above (empty when it cannot).
using LevelMaker = std::function<std::vector<BYTE>(UINT level, const std::vector<BYTE>& above)>;

struct IDirect3DTexture9::Impl {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    DWORD usage = 0;
    std::vector<TextureLevel> levels;
    // Levels from firstPending on are made, in order, when something first reads or writes
    // them (D3DX's generated mip levels): no work for levels nothing uses.
    UINT firstPending = UINT(-1);
    LevelMaker makePending;
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
// Leaves the levels from first (at least 1) on to make, called in order when they are first
// used.
void DeferTextureLevels(IDirect3DTexture9* texture, UINT first, LevelMaker make);
// Makes the pending levels up to and including level; false when one cannot be made.
bool MakePendingLevels(IDirect3DTexture9::Impl& texture, UINT level);
} // namespace fw::d3d9
