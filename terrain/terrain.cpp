#include "terrain/terrain.h"

#include "core/zqmemory.h"
#include "platform/d3dx9math.h"
#include "platform/d3dx9tex.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kTerrainFvf = D3DFVF_XYZ | D3DFVF_TEX2;
constexpr UINT kVertexStride = sizeof(TerrainVertex);
constexpr uint64_t kMaxCells = 16384;       // 65536 vertices: what 16-bit indices reach
constexpr float kByteToUnit = 0.003921569f; // 1/255
constexpr float kOutside = 9999.0f;

static_assert(sizeof(TerrainVertex) == 28, "the vertex format 0x202 is 28 bytes");

template <typename T> void ReleaseAndClear(T*& resource) {
    if (resource) {
        resource->Release();
        resource = nullptr;
    }
}

bool OneBytePerTexel(D3DFORMAT format) {
    return format == D3DFMT_L8 || format == D3DFMT_A8;
}

void Complain(const char* file, const std::string& what) {
    OutputDebugStringA(
        ("Terrain: " + std::string(file ? file : "(no file)") + ": " + what + "\n").c_str());
}

} // namespace

Terrain::Terrain()
    : device(nullptr), vertexBuffer(nullptr), indexBuffer(nullptr), heightmapTexture(nullptr),
      baseTexture(nullptr), detailTexture(nullptr), heights(nullptr) {
    // Left unset until Build in the original design; zero here so nothing reads garbage.
    std::memset(&material, 0, sizeof(material));
    std::memset(&heightmapDesc, 0, sizeof(heightmapDesc));
    size = heightScale = cellSpacing = 0.0f;
    cellsX = cellsZ = cellCount = vertexCount = indexCount = 0;
}

Terrain::~Terrain() {
    ReleaseAll();
}

void Terrain::ReleaseAll() {
    ReleaseAndClear(vertexBuffer);
    ReleaseAndClear(indexBuffer);
    ReleaseAndClear(baseTexture);
    ReleaseAndClear(heightmapTexture);
    ReleaseAndClear(detailTexture);
    delete[] heights;
    heights = nullptr;
}

bool Terrain::Build(float size, UINT level, float heightScale, const char* textureFile,
                    const char* heightmapFile, const char* detailFile, UINT detailRepeat,
                    IDirect3DDevice9* device) {
    this->device = device;
    this->size = size;
    this->heightScale = heightScale;
    ReleaseAll();

    if (FAILED(D3DXCreateTextureFromFileA(device, textureFile, &baseTexture)))
        return false;
    if (FAILED(D3DXCreateTextureFromFileA(device, heightmapFile, &heightmapTexture)))
        return false;
    if (FAILED(D3DXCreateTextureFromFileA(device, detailFile, &detailTexture)))
        return false;

    if (FAILED(heightmapTexture->GetLevelDesc(level, &heightmapDesc))) {
        Complain(heightmapFile, "has no mip level " + std::to_string(level));
        return false;
    }
    uint64_t width = heightmapDesc.Width;
    uint64_t height = heightmapDesc.Height;
    if (width < 2 || height < 2 || (width - 1) * (height - 1) > kMaxCells) {
        Complain(heightmapFile, "level " + std::to_string(level) + " is " + std::to_string(width) +
                                    " x " + std::to_string(height) +
                                    "; a grid needs 2 x 2 to 16384 cells");
        return false;
    }
    if (!(size > 0.0f) || !std::isfinite(size)) {
        Complain(heightmapFile,
                 "a terrain " + std::to_string(size) + " units across is no terrain");
        return false;
    }
    if (detailRepeat == 0) {
        Complain(detailFile, "cannot repeat every 0 cells");
        return false;
    }
    cellsX = heightmapDesc.Width - 1;
    cellsZ = heightmapDesc.Height - 1;
    cellCount = cellsX * cellsZ;
    vertexCount = 4 * cellCount;
    indexCount = 6 * cellCount;
    cellSpacing = size / static_cast<float>(cellsX);

    bool built = CopyHeights(level) &&
                 SUCCEEDED(device->CreateVertexBuffer(vertexCount * kVertexStride,
                                                      D3DUSAGE_WRITEONLY, kTerrainFvf,
                                                      D3DPOOL_MANAGED, &vertexBuffer, nullptr)) &&
                 SUCCEEDED(device->CreateIndexBuffer(indexCount * sizeof(WORD), D3DUSAGE_WRITEONLY,
                                                     D3DFMT_INDEX16, D3DPOOL_MANAGED, &indexBuffer,
                                                     nullptr)) &&
                 FillVertices(detailRepeat) && FillIndices();
    if (!built) {
        // Leave nothing half made: no buffers to draw, no samples to answer from.
        Complain(heightmapFile, "the terrain could not be built");
        ReleaseAndClear(vertexBuffer);
        ReleaseAndClear(indexBuffer);
        delete[] heights;
        heights = nullptr;
        return false;
    }

    std::memset(&material, 0, sizeof(material));
    material.Diffuse.r = material.Diffuse.g = material.Diffuse.b = 1.0f;
    material.Ambient.r = material.Ambient.g = material.Ambient.b = 1.0f;
    return true;
}

// Copies the level's texels row by row, honouring the row pitch the lock reports.
bool Terrain::CopyHeights(UINT level) {
    if (!OneBytePerTexel(heightmapDesc.Format)) {
        OutputDebugStringA(("Terrain: the heightmap level has format " +
                            std::to_string(heightmapDesc.Format) +
                            "; heights need one byte per texel (L8 or A8)\n")
                               .c_str());
        return false;
    }
    UINT width = heightmapDesc.Width;
    UINT height = heightmapDesc.Height;
    D3DLOCKED_RECT rect{};
    if (FAILED(heightmapTexture->LockRect(level, &rect, nullptr, 0)))
        return false;
    bool readable = rect.pBits && rect.Pitch >= static_cast<INT>(width);
    if (readable) {
        heights = TRACKED_NEW BYTE[static_cast<size_t>(width) * height];
        const BYTE* row = static_cast<const BYTE*>(rect.pBits);
        for (UINT j = 0; j < height; ++j, row += rect.Pitch)
            std::memcpy(heights + static_cast<size_t>(j) * width, row, width);
    }
    heightmapTexture->UnlockRect(level);
    return readable;
}

bool Terrain::FillVertices(UINT detailRepeat) {
    void* pData = nullptr;
    if (FAILED(vertexBuffer->Lock(0, vertexCount * kVertexStride, &pData, 0)) || !pData)
        return false;
    auto* pTerrainVertices = static_cast<TerrainVertex*>(pData);
    const float half = size * 0.5f;
    const float k = kByteToUnit * heightScale;
    const float detailStep = 1.0f / static_cast<float>(detailRepeat);
    for (UINT z = 0; z < cellsZ; ++z) {
        for (UINT x = 0; x < cellsX; ++x) {
            for (UINT corner = 0; corner < 4; ++corner) {
                UINT di = corner & 1;
                UINT dj = corner >> 1;
                UINT i = x + di;
                UINT j = z + dj;
                TerrainVertex& v = *pTerrainVertices++;
                v.x = static_cast<float>(i) * cellSpacing - half;
                v.y = Sample(i, j) * k;
                v.z = static_cast<float>(j) * cellSpacing - half;
                v.tu0 = static_cast<float>(i) / static_cast<float>(cellsX);
                v.tv0 = static_cast<float>(j) / static_cast<float>(cellsZ);
                v.tu1 = static_cast<float>(x % detailRepeat + di) * detailStep;
                v.tv1 = static_cast<float>(z % detailRepeat + dj) * detailStep;
            }
        }
    }
    vertexBuffer->Unlock();
    return true;
}

bool Terrain::FillIndices() {
    void* pData = nullptr;
    if (FAILED(indexBuffer->Lock(0, indexCount * sizeof(WORD), &pData, 0)) || !pData)
        return false;
    auto* pIndices = static_cast<WORD*>(pData);
    // Both triangles clockwise seen from above, split along (x, z)-(x + 1, z + 1).
    for (UINT c = 0; c < cellCount; ++c) {
        WORD first = static_cast<WORD>(4 * c);
        const WORD cell[6] = {first, static_cast<WORD>(first + 3), static_cast<WORD>(first + 1),
                              first, static_cast<WORD>(first + 2), static_cast<WORD>(first + 3)};
        std::memcpy(pIndices + 6 * c, cell, sizeof(cell));
    }
    indexBuffer->Unlock();
    return true;
}

void Terrain::Draw() {
    if (!vertexBuffer || !indexBuffer)
        return;
    D3DXMATRIX matWorld;
    D3DXMatrixIdentity(&matWorld);

    device->SetMaterial(&material);
    device->LightEnable(0, TRUE);
    device->SetTransform(D3DTS_WORLD, &matWorld);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetStreamSource(0, vertexBuffer, 0, kVertexStride);
    device->SetIndices(indexBuffer);
    device->SetTexture(0, baseTexture);
    device->SetTexture(1, detailTexture);
    device->SetFVF(kTerrainFvf);
    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, 2 * cellCount);
    device->LightEnable(0, FALSE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
}

float Terrain::GetHeight(float x, float z) const {
    if (!heights)
        return kOutside;
    const float half = size * 0.5f;
    // Written so that a NaN coordinate counts as outside too.
    if (!(x >= -half && x <= half && z >= -half && z <= half))
        return kOutside;
    const float k = kByteToUnit * heightScale;

    float gx = (x + half) / cellSpacing;
    float gz = (z + half) / cellSpacing;
    // Converted only below the grid's end, so no value out of UINT's range is converted.
    UINT col = gx < static_cast<float>(cellsX) ? static_cast<UINT>(gx) : cellsX;
    UINT row = gz < static_cast<float>(cellsZ) ? static_cast<UINT>(gz) : cellsZ;
    float dx = gx - static_cast<float>(col);
    float dz = gz - static_cast<float>(row);
    // The far edges belong to the last cell. Rows a non-square level lacks are outside;
    // a hair of rounding past the last row of a square one is not.
    if (col >= cellsX) {
        col = cellsX - 1;
        dx = 1.0f;
    }
    if (row >= cellsZ) {
        if (cellsZ != cellsX && gz > static_cast<float>(cellsZ) * 1.000001f)
            return kOutside;
        row = cellsZ - 1;
        dz = 1.0f;
    }

    float A = Sample(col, row) * k;
    float B = Sample(col + 1, row) * k;
    float C = Sample(col, row + 1) * k;
    float D = Sample(col + 1, row + 1) * k;
    float mid = (C + B) / 2.0f;
    if (dx + dz <= 1.0f)
        D = (mid - A) + mid;
    else
        A = (mid - D) + mid;
    return (1.0f - dz) * ((1.0f - dx) * A + dx * B) + dz * ((1.0f - dx) * C + dx * D);
}
