// Heightmap terrain: a square grid of textured triangles centred on the world origin,
// built from one mip level of an 8-bit heightmap, and the ground height under any point.
#pragma once

#include "platform/d3d9.h"

// One vertex of the grid: position, colour-texture and detail-texture coordinates.
struct TerrainVertex {
    float x, y, z;
    float tu0, tv0;
    float tu1, tv1;
};

class Terrain {
public:
    Terrain();
    ~Terrain();
    Terrain(const Terrain&) = delete;
    Terrain& operator=(const Terrain&) = delete;

    // Builds (or rebuilds) the terrain: size world units along x, the grid from mip level
    // `level` of heightmapFile (texel 255 lies heightScale above texel 0), textureFile
    // stretched over the whole terrain, detailFile repeated every detailRepeat cells.
    // device is borrowed. False, with nothing to draw, when an image cannot be loaded or
    // the level cannot make a grid (smaller than 2 x 2, over 16384 cells, not 8 bits per
    // texel), detailRepeat is 0, or the device refuses the buffers.
    bool Build(float size, UINT level, float heightScale, const char* textureFile,
               const char* heightmapFile, const char* detailFile, UINT detailRepeat,
               IDirect3DDevice9* device);

    // The whole grid in one draw call; nothing, and no device call, unless built.
    void Draw();

    // The ground height under (x, z), or 9999.0 outside the terrain (or before a
    // successful Build). Each cell is split along its (x + 1, z)-(x, z + 1) diagonal.
    float GetHeight(float x, float z) const;

private:
    void ReleaseAll();
    bool CopyHeights(UINT level);
    bool FillVertices(UINT detailRepeat);
    bool FillIndices();
    float Sample(UINT i, UINT j) const { return heights[j * heightmapDesc.Width + i]; }

    D3DMATERIAL9 material;
    IDirect3DDevice9* device;             // borrowed
    IDirect3DVertexBuffer9* vertexBuffer; // 4 vertices per cell, not shared
    IDirect3DIndexBuffer9* indexBuffer;   // 6 16-bit indices per cell
    IDirect3DTexture9* heightmapTexture;
    IDirect3DTexture9* baseTexture;   // stage 0
    IDirect3DTexture9* detailTexture; // stage 1
    BYTE* heights;                    // Width x Height samples, row after row
    D3DSURFACE_DESC heightmapDesc;    // of the level used
    float size;
    float heightScale;
    float cellSpacing;
    UINT cellsX;
    UINT cellsZ;
    UINT cellCount;
    UINT vertexCount;
    UINT indexCount;
};
