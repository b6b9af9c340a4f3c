#include "testkit.h"

#include "tests/kit/kit.h"

#include "platform/d3d9/testing.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace skintest {

XFrame::XFrame() {
    D3DXMatrixIdentity(&matrix);
}
XFrame::XFrame(std::string frameName) : name(std::move(frameName)) {
    D3DXMatrixIdentity(&matrix);
}

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    return m;
}

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    return m;
}

XFile FileOf(XFrame root) {
    XFile file;
    file.frames.push_back(std::move(root));
    return file;
}

XMesh Quad(const std::string& name, float cx, float cy, float halfSize) {
    XMesh mesh;
    mesh.name = name;
    mesh.positions = {{cx - halfSize, cy - halfSize, 0.0f},
                      {cx - halfSize, cy + halfSize, 0.0f},
                      {cx + halfSize, cy + halfSize, 0.0f},
                      {cx + halfSize, cy - halfSize, 0.0f}};
    mesh.indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

XBone WholeMeshBone(const XMesh& mesh, const std::string& boneName, const D3DXMATRIX& offset) {
    XBone bone;
    bone.name = boneName;
    bone.offset = offset;
    for (DWORD v = 0; v < mesh.positions.size(); ++v) {
        bone.vertices.push_back(v);
        bone.weights.push_back(1.0f);
    }
    return bone;
}

namespace {

void WriteMatrix(std::ostream& out, const D3DXMATRIX& m) {
    for (int i = 0; i < 16; ++i)
        out << (&m._11)[i] << (i == 15 ? ";;" : ",");
    out << "\n";
}

template <typename T, typename Fn>
void WriteList(std::ostream& out, const std::vector<T>& items, Fn writeItem, const char* last) {
    for (size_t i = 0; i < items.size(); ++i) {
        writeItem(items[i]);
        out << (i + 1 == items.size() ? last : ",") << "\n";
    }
}

void WriteFaces(std::ostream& out, const XMesh& mesh) {
    const size_t numFaces = mesh.indices.size() / 3;
    out << numFaces << ";\n";
    for (size_t f = 0; f < numFaces; ++f)
        out << "3;" << mesh.indices[3 * f] << "," << mesh.indices[3 * f + 1] << ","
            << mesh.indices[3 * f + 2] << (f + 1 == numFaces ? ";;" : ";,") << "\n";
}

void WriteMaterials(std::ostream& out, const XMesh& mesh) {
    const size_t numFaces = mesh.indices.size() / 3;
    out << "MeshMaterialList {\n" << mesh.materials.size() << ";\n" << numFaces << ";\n";
    for (size_t f = 0; f < numFaces; ++f)
        out << (mesh.faceMaterials.empty() ? 0 : mesh.faceMaterials[f])
            << (f + 1 == numFaces ? ";" : ",") << "\n";
    for (const XMaterial& material : mesh.materials) {
        out << "Material {\n"
            << material.r << ";" << material.g << ";" << material.b << ";" << material.a
            << ";;\n0.0;\n0.0;0.0;0.0;;\n0.0;0.0;0.0;;\n";
        if (!material.texture.empty())
            out << "TextureFilename { \"" << material.texture << "\"; }\n";
        out << "}\n";
    }
    out << "}\n";
}

void WriteSkin(std::ostream& out, const XMesh& mesh) {
    out << "XSkinMeshHeader {\n1;\n1;\n" << mesh.bones.size() << ";\n}\n";
    for (const XBone& bone : mesh.bones) {
        out << "SkinWeights {\n\"" << bone.name << "\";\n" << bone.vertices.size() << ";\n";
        for (size_t i = 0; i < bone.vertices.size(); ++i)
            out << bone.vertices[i] << (i + 1 == bone.vertices.size() ? ";" : ",");
        out << "\n";
        for (size_t i = 0; i < bone.weights.size(); ++i)
            out << bone.weights[i] << (i + 1 == bone.weights.size() ? ";" : ",");
        out << "\n";
        WriteMatrix(out, bone.offset);
        out << "}\n";
    }
}

void WriteMesh(std::ostream& out, const XMesh& mesh) {
    out << "Mesh " << mesh.name << " {\n" << mesh.positions.size() << ";\n";
    WriteList(
        out, mesh.positions,
        [&](const D3DXVECTOR3& p) { out << p.x << ";" << p.y << ";" << p.z << ";"; }, ";");
    WriteFaces(out, mesh);
    if (mesh.normals) {
        out << "MeshNormals {\n" << mesh.positions.size() << ";\n";
        WriteList(
            out, mesh.positions, [&](const D3DXVECTOR3&) { out << "0.0;0.0;-1.0;"; }, ";");
        WriteFaces(out, mesh);
        out << "}\n";
    }
    if (mesh.texcoords) {
        out << "MeshTextureCoords {\n" << mesh.positions.size() << ";\n";
        WriteList(
            out, mesh.positions, [&](const D3DXVECTOR3& p) { out << p.x << ";" << p.y << ";"; },
            ";");
        out << "}\n";
    }
    if (!mesh.materials.empty())
        WriteMaterials(out, mesh);
    if (!mesh.bones.empty() || mesh.skinHeader)
        WriteSkin(out, mesh);
    out << "}\n";
}

void WriteFrame(std::ostream& out, const XFrame& frame) {
    out << "Frame " << frame.name << " {\nFrameTransformMatrix {\n";
    WriteMatrix(out, frame.matrix);
    out << "}\n";
    for (const XMesh& mesh : frame.meshes)
        WriteMesh(out, mesh);
    for (const XFrame& child : frame.children)
        WriteFrame(out, child);
    out << "}\n";
}

void WriteAnimationSet(std::ostream& out, const XAnimationSet& set) {
    out << "AnimationSet " << set.name << " {\n";
    for (const XAnimation& animation : set.animations) {
        out << "Animation {\n{ " << animation.frame << " }\nAnimationKey {\n2;\n"
            << animation.positionKeys.size() << ";\n";
        WriteList(
            out, animation.positionKeys,
            [&](const std::pair<DWORD, D3DXVECTOR3>& key) {
                out << key.first << ";3;" << key.second.x << "," << key.second.y << ","
                    << key.second.z << ";;";
            },
            ";");
        out << "}\n}\n";
    }
    out << "}\n";
}

} // namespace

std::string ToText(const XFile& file) {
    std::ostringstream out;
    out.precision(9);
    out << std::fixed;
    out << "xof 0303txt 0032\n";
    for (const XFrame& frame : file.frames)
        WriteFrame(out, frame);
    for (const XMesh& mesh : file.looseMeshes)
        WriteMesh(out, mesh);
    if (!file.sets.empty())
        out << "AnimTicksPerSecond {\n" << file.ticksPerSecond << ";\n}\n";
    for (const XAnimationSet& set : file.sets)
        WriteAnimationSet(out, set);
    return out.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void WriteBmp(const std::filesystem::path& path, int width, int height, uint8_t r, uint8_t g,
              uint8_t b) {
    const int rowBytes = (width * 3 + 3) & ~3;
    const uint32_t imageBytes = rowBytes * height;
    std::vector<uint8_t> bytes(54 + imageBytes, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    put16(26, 1);
    put16(28, 24);
    put32(34, imageBytes);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &bytes[54 + y * rowBytes + x * 3];
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
        }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<SkinMeshContainer*> AllContainers(const D3DXFRAME* pRoot) {
    std::vector<SkinMeshContainer*> containers;
    if (!pRoot)
        return containers;
    for (D3DXMESHCONTAINER* p = pRoot->pMeshContainer; p; p = p->pNextMeshContainer)
        containers.push_back(static_cast<SkinMeshContainer*>(p));
    for (const D3DXFRAME* pNext : {pRoot->pFrameSibling, pRoot->pFrameFirstChild}) {
        std::vector<SkinMeshContainer*> more = AllContainers(pNext);
        containers.insert(containers.end(), more.begin(), more.end());
    }
    return containers;
}

SkinMeshContainer* FindContainer(const D3DXFRAME* pRoot, const std::string& name) {
    for (SkinMeshContainer* pContainer : AllContainers(pRoot))
        if (pContainer->Name && name == pContainer->Name)
            return pContainer;
    return nullptr;
}

SkinFrame* FindFrame(const D3DXFRAME* pRoot, const std::string& name) {
    return static_cast<SkinFrame*>(D3DXFrameFind(pRoot, name.c_str()));
}

D3DXVECTOR3 VertexPosition(ID3DXMesh* pMesh, DWORD vertex) {
    void* pData = nullptr;
    D3DXVECTOR3 position(0.0f, 0.0f, 0.0f);
    if (SUCCEEDED(pMesh->LockVertexBuffer(D3DLOCK_READONLY, &pData))) {
        std::memcpy(&position,
                    static_cast<const uint8_t*>(pData) + vertex * pMesh->GetNumBytesPerVertex(),
                    sizeof position);
        pMesh->UnlockVertexBuffer();
    }
    return position;
}

IDirect3DDevice9* SharedDevice() {
    static kit::OffscreenDevice shared("tests", ModelTest::kWidth, ModelTest::kHeight,
                                       D3DFMT_D24S8);
    return shared.device;
}

void ModelTest::SetUp() {
    device = SharedDevice();
    ASSERT_NE(device, nullptr) << "no Direct3D device";
    D3DPRESENT_PARAMETERS pp = kit::WindowedParams(kWidth, kHeight, D3DFMT_D24S8);
    ASSERT_EQ(device->Reset(&pp), D3D_OK);

    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch =
        std::filesystem::temp_directory_path() / ("skinned-" + std::to_string(getpid()) + "-" +
                                                  std::to_string(counter++) + "-" + info->name());
    std::filesystem::create_directories(scratch);
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(scratch);
}

void ModelTest::TearDown() {
    fw::d3d9test::EnableCallTrace(device, false);
    if (!previousDir.empty())
        std::filesystem::current_path(previousDir);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

HRESULT ModelTest::LoadX(SkinnedModel& model, const XFile& file, const std::string& name) {
    const std::string fileName = name + ".X";
    WriteText(scratch / fileName, ToText(file));
    return model.Load(fileName.c_str(), device);
}

void ModelTest::SetOrthoCamera() {
    D3DXMATRIX view, projection;
    const D3DXVECTOR3 eye(0.0f, 0.0f, -10.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixOrthoLH(&projection, 4.0f, 4.0f, 1.0f, 100.0f);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    // What the terrain leaves for the hero each frame.
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
}

std::vector<uint8_t> ModelTest::Render(SkinnedModel& model, D3DCOLOR clearColor) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    device->BeginScene();
    model.Draw();
    device->EndScene();
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    fw::d3d9test::ReadBackBuffer(device, &width, &height, &rgba);
    return rgba;
}

std::vector<std::string> ModelTest::Trace() const {
    return fw::d3d9test::CallTraceTexts(device);
}

} // namespace skintest
