// Loading speed of text .X files of about 5 MB, in MB/s of file: the reader alone, the
// reader plus mesh building, and the whole hierarchy load on an offscreen device.
#include "platform/d3dx9.h"
#include "platform/d3dx9/anim/xfile.h"
#include "platform/d3dx9/anim/xfile_mesh.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A skinned grid mesh with normals, texture coordinates, two bones and an animation,
// written the way exporters write it (six decimals, ";," separators).
std::string MakeModel(int side) {
    std::string s = "xof 0303txt 0032\nFrame Root {\n FrameTransformMatrix { 1.000000,0.000000,"
                    "0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,"
                    "1.000000,0.000000,0.000000,0.000000,0.000000,1.000000;; }\n Mesh Grid {\n";
    char line[160];
    const int n = side * side;
    s += "  " + std::to_string(n) + ";\n";
    for (int i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "  %.6f;%.6f;%.6f;%s\n", i % side * 0.5,
                      std::sin(i * 0.01), i / side * 0.5, i + 1 < n ? "," : ";");
        s += line;
    }
    const int quads = (side - 1) * (side - 1);
    s += "  " + std::to_string(quads) + ";\n";
    std::string faces;
    for (int y = 0; y + 1 < side; ++y)
        for (int x = 0; x + 1 < side; ++x) {
            const int v = y * side + x;
            std::snprintf(line, sizeof line, "  4;%d,%d,%d,%d;%s\n", v, v + side, v + side + 1,
                          v + 1, (y + 2 == side && x + 2 == side) ? ";" : ",");
            faces += line;
        }
    s += faces;
    s += "  MeshNormals {\n  " + std::to_string(n) + ";\n";
    for (int i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "  %.6f;%.6f;%.6f;%s\n", 0.0, 1.0, 0.0,
                      i + 1 < n ? "," : ";");
        s += line;
    }
    s += "  " + std::to_string(quads) + ";\n" + faces + "  }\n";
    s += "  MeshTextureCoords {\n  " + std::to_string(n) + ";\n";
    for (int i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "  %.6f;%.6f;%s\n", (i % side) / double(side),
                      (i / side) / double(side), i + 1 < n ? "," : ";");
        s += line;
    }
    s += "  }\n  XSkinMeshHeader { 1; 1; 1; }\n  SkinWeights { \"Root\";\n  " + std::to_string(n) +
         ";\n";
    for (int i = 0; i < n; ++i)
        s += "  " + std::to_string(i) + (i + 1 < n ? ",\n" : ";\n");
    for (int i = 0; i < n; ++i)
        s += i + 1 < n ? "  1.000000,\n" : "  1.000000;\n";
    s += "  1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,0.000000,"
         "0.000000,1.000000,0.000000,0.000000,0.000000,0.000000,1.000000;;\n  }\n }\n}\n";
    s += "AnimationSet Wave {\n Animation {\n  {Root}\n  AnimationKey {\n   0;\n   200;\n";
    for (int k = 0; k < 200; ++k) {
        std::snprintf(line, sizeof line, "   %d;4;%.6f,%.6f,%.6f,%.6f;;%s\n", k * 160,
                      std::cos(k * 0.01), 0.0, std::sin(k * 0.01), 0.0, k + 1 < 200 ? "," : ";");
        s += line;
    }
    s += "  }\n }\n}\n";
    return s;
}

const std::string& Model() {
    static const std::string model = MakeModel(190); // about 5 MB
    return model;
}

void BM_ReadText(benchmark::State& state) {
    const std::string& model = Model();
    for (auto _ : state) {
        fw::xfile::Document doc;
        std::string error;
        if (!fw::xfile::ParseDocument(reinterpret_cast<const uint8_t*>(model.data()), model.size(),
                                      "bench.x", doc, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(doc.objects.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(model.size()));
    state.counters["MB"] = double(model.size()) / 1e6;
}
BENCHMARK(BM_ReadText)->Unit(benchmark::kMillisecond);

void BM_ReadTextAndBuildMesh(benchmark::State& state) {
    const std::string& model = Model();
    for (auto _ : state) {
        fw::xfile::Document doc;
        std::string error;
        fw::xfile::ParseDocument(reinterpret_cast<const uint8_t*>(model.data()), model.size(),
                                 "bench.x", doc, error);
        fw::xfile::MeshData mesh;
        if (!fw::xfile::BuildMeshData(*doc.topLevel[0]->children[1].object, mesh, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(mesh.indices.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(model.size()));
}
BENCHMARK(BM_ReadTextAndBuildMesh)->Unit(benchmark::kMillisecond);

struct KeepNothing : ID3DXAllocateHierarchy {
    HRESULT CreateFrame(LPCSTR, LPD3DXFRAME* ppNewFrame) override {
        *ppNewFrame = new D3DXFRAME{};
        return S_OK;
    }
    HRESULT CreateMeshContainer(LPCSTR, const D3DXMESHDATA*, const D3DXMATERIAL*,
                                const D3DXEFFECTINSTANCE*, DWORD, const DWORD*, LPD3DXSKININFO,
                                LPD3DXMESHCONTAINER* ppNewMeshContainer) override {
        *ppNewMeshContainer = nullptr;
        return S_OK;
    }
    HRESULT DestroyFrame(LPD3DXFRAME pFrameToFree) override {
        delete pFrameToFree;
        return S_OK;
    }
    HRESULT DestroyMeshContainer(LPD3DXMESHCONTAINER) override { return S_OK; }
};

void BM_LoadHierarchy(benchmark::State& state) {
    static IDirect3DDevice9* device = (new kit::OffscreenDevice("bench", 16, 16))->device;
    if (!device) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    const std::string path = kit::WriteScratchFile("model.x", Model().data(), Model().size());
    for (auto _ : state) {
        KeepNothing alloc;
        LPD3DXFRAME root = nullptr;
        LPD3DXANIMATIONCONTROLLER controller = nullptr;
        if (FAILED(D3DXLoadMeshHierarchyFromXA(path.c_str(), D3DXMESH_MANAGED, device, &alloc,
                                               nullptr, &root, &controller)))
            state.SkipWithError("load failed");
        D3DXFrameDestroy(root, &alloc);
        if (controller)
            controller->Release();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Model().size()));
}
BENCHMARK(BM_LoadHierarchy)->Unit(benchmark::kMillisecond);

} // namespace
