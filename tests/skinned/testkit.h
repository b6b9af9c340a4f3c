// Helpers of the model tests: small .X files written from a description, solid BMP
// textures, a scratch folder as working directory, and one offscreen device.
#pragma once

#include "platform/d3dx9.h"
#include "skinned/skinmesh.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skintest {

struct XMaterial {
    float r = 1.0f, g = 1.0f, b = 1.0f, a = 1.0f;
    std::string texture; // empty: no TextureFilename
};

struct XBone {
    std::string name;
    D3DXMATRIX offset;
    std::vector<DWORD> vertices;
    std::vector<float> weights;
};

struct XMesh {
    std::string name;
    std::vector<D3DXVECTOR3> positions;
    std::vector<DWORD> indices; // three per triangle
    bool normals = true;        // MeshNormals, (0, 0, -1) for every vertex
    bool texcoords = true;
    std::vector<XMaterial> materials; // empty: no MeshMaterialList
    std::vector<DWORD> faceMaterials; // empty: every face uses material 0
    std::vector<XBone> bones;         // empty: no skin
    bool skinHeader = false;          // XSkinMeshHeader even without bones
};

struct XFrame {
    std::string name;
    D3DXMATRIX matrix; // relative to the parent
    std::vector<XMesh> meshes;
    std::vector<XFrame> children;
    XFrame();
    explicit XFrame(std::string frameName);
};

// Position keys of one frame in ticks.
struct XAnimation {
    std::string frame;
    std::vector<std::pair<DWORD, D3DXVECTOR3>> positionKeys;
};

struct XAnimationSet {
    std::string name;
    std::vector<XAnimation> animations;
};

struct XFile {
    std::vector<XFrame> frames;
    std::vector<XMesh> looseMeshes; // top-level meshes without a frame
    std::vector<XAnimationSet> sets;
    DWORD ticksPerSecond = 100;
};

// A file of one top-level frame and no animation.
XFile FileOf(XFrame root);

// A quad of two triangles in the z = 0 plane, centred at (cx, cy), facing -z.
XMesh Quad(const std::string& name, float cx, float cy, float halfSize);
// Every vertex of the mesh bound with weight 1 to one bone.
XBone WholeMeshBone(const XMesh& mesh, const std::string& boneName, const D3DXMATRIX& offset);

std::string ToText(const XFile& file);
void WriteText(const std::filesystem::path& path, const std::string& text);
// A 24-bit BMP of one colour.
void WriteBmp(const std::filesystem::path& path, int width, int height, uint8_t r, uint8_t g,
              uint8_t b);

D3DXMATRIX Identity();
D3DXMATRIX Translation(float x, float y, float z);

// Finds a container or frame of a loaded model by name (null when absent).
SkinMeshContainer* FindContainer(const D3DXFRAME* pRoot, const std::string& name);
SkinFrame* FindFrame(const D3DXFRAME* pRoot, const std::string& name);
std::vector<SkinMeshContainer*> AllContainers(const D3DXFRAME* pRoot);

// Reads one vertex position (first element) of a mesh.
D3DXVECTOR3 VertexPosition(ID3DXMesh* pMesh, DWORD vertex);
// Current reference count of an interface, without changing it.
template <typename T> ULONG RefCount(T* p) {
    p->AddRef();
    return p->Release();
}

// Every test runs in its own scratch folder (the working directory) with a device whose
// state has just been reset; the back buffer is kWidth x kHeight.
class ModelTest : public ::testing::Test {
public:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 64;

protected:
    void SetUp() override;
    void TearDown() override;

    // Writes name.X into the scratch folder and loads it into model.
    HRESULT LoadX(SkinnedModel& model, const XFile& file, const std::string& name = "model");
    // View looking along +z at the origin from z = -10, orthographic 4 x 4 units.
    void SetOrthoCamera();
    // Clears, draws the model in a scene and reads back the RGBA pixels.
    std::vector<uint8_t> Render(SkinnedModel& model, D3DCOLOR clearColor = 0xFF000000);
    std::vector<std::string> Trace() const;

    IDirect3DDevice9* device = nullptr;
    std::filesystem::path scratch;

private:
    std::filesystem::path previousDir;
};

IDirect3DDevice9* SharedDevice();

} // namespace skintest
