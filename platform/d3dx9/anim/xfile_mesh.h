// Turns a parsed Mesh object into the vertices, triangles, materials and bones of the
// mesh D3DX loads: vertices split where a position meets different normals, polygons
// fan-triangulated, skin influences following the split copies. No device needed.
#pragma once

#include "platform/d3dx9/anim/xfile.h"
#include "platform/d3dx9mesh.h"

#include <string>
#include <vector>

namespace fw::xfile {

struct MeshMaterial {
    D3DMATERIAL9 material{};
    std::string texture;
    bool hasTexture = false;
};

struct MeshBone {
    std::string name;
    std::vector<DWORD> vertices; // indices into the split vertex list
    std::vector<FLOAT> weights;
    D3DXMATRIX offset;
};

struct MeshData {
    std::string name;
    DWORD fvf = 0;
    std::vector<D3DXVECTOR3> positions; // split vertices: originals first, then copies
    std::vector<D3DXVECTOR3> normals;
    std::vector<DWORD> colors;
    std::vector<D3DXVECTOR2> uvs;
    std::vector<DWORD> sourceVertex; // file vertex each split vertex came from
    std::vector<DWORD> indices;      // three per triangle, file order
    std::vector<DWORD> attributes;   // material per triangle
    bool hasMaterialList = false;
    std::vector<MeshMaterial> materials;
    bool hasSkin = false;
    std::vector<MeshBone> bones;

    DWORD NumVertices() const { return DWORD(positions.size()); }
    DWORD NumFaces() const { return DWORD(attributes.size()); }
};

// Fails with a reason when the counts or indices do not fit the data.
bool BuildMeshData(const Object& mesh, MeshData& out, std::string& error);

} // namespace fw::xfile
