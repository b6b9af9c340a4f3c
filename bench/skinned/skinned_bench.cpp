// Per-frame CPU cost of the default hero: animation update, skinning and both draw walks
// with their GL submission. Rasterisation is left out (Present runs untimed). A companion
// benchmark prices the same number of triangles drawn plainly: the driver's own floor.
#include "skinned/skinmesh.h"

#include "platform/d3d9/testing.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// The generated data set in a scratch folder that becomes the working directory.
bool PrepareData() {
    const std::filesystem::path dir = kit::GenerateDataSet(FERROWALK_ASSETGEN, "data");
    if (dir.empty())
        return false;
    std::filesystem::current_path(dir);
    return true;
}

struct Scene {
    kit::OffscreenDevice offscreen{"bench", kWidth, kHeight, D3DFMT_D24S8};
    IDirect3DDevice9* device = offscreen.device;
    SkinnedModel hero;
    bool ready = false;

    Scene() {
        ready = device && PrepareData() && SUCCEEDED(hero.Load("model/hero.X", device));
        if (!ready)
            return;
        SetView();
        hero.SetAnimation("skill1", 0, true);
    }
    void SetView() {
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 eye(0.0f, 40.0f, -300.0f), at(0.0f, 15.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415927f / 4.0f, 800.0f / 600.0f, 1.0f, 5000.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_HeroUpdate(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no device or no default hero");
        return;
    }
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (auto _ : state)
        scene.hero.Update(1.0f / 60.0f, world);
}
BENCHMARK(BM_HeroUpdate);

void BM_HeroUpdateAndDraw(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no device or no default hero");
        return;
    }
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (auto _ : state) {
        scene.hero.Update(1.0f / 60.0f, world);
        scene.device->BeginScene();
        scene.hero.Draw();
        scene.device->EndScene();
        state.PauseTiming();
        scene.device->Present(nullptr, nullptr, nullptr, nullptr);
        scene.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_HeroUpdateAndDraw)->Unit(benchmark::kMillisecond);

// Triangles the hero submits in one frame, both walks, read from the device's call trace.
UINT HeroTrianglesPerFrame(Scene& scene) {
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    scene.hero.Update(1.0f / 60.0f, world);
    fw::d3d9test::EnableCallTrace(scene.device, true);
    scene.device->BeginScene();
    scene.hero.Draw();
    scene.device->EndScene();
    UINT triangles = 0;
    for (const fw::d3d9test::TracedCall& call : fw::d3d9test::GetCallTrace(scene.device)) {
        if (call.name != "DrawIndexedPrimitive")
            continue;
        // The primitive count is the last argument.
        triangles +=
            UINT(std::strtoul(call.args.substr(call.args.rfind(',') + 1).c_str(), nullptr, 10));
    }
    fw::d3d9test::EnableCallTrace(scene.device, false);
    scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    return triangles;
}

// The driver's own price for that many triangles: one draw of a plain screen-space grid of
// small triangles, untextured, with no state changes. No way of drawing the hero can cost
// less than this on the same driver (on Mesa llvmpipe, triangle setup and binning run on
// the calling thread).
void BM_HeroTrianglesAlone(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no device or no default hero");
        return;
    }
    const UINT triangles = HeroTrianglesPerFrame(scene);
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    const UINT cells = 64; // 8192 triangles at most, 4 pixels a cell
    std::vector<Vertex> vertices;
    for (UINT j = 0; j <= cells; ++j)
        for (UINT i = 0; i <= cells; ++i)
            vertices.push_back({272.0f + 4.0f * i, 172.0f + 4.0f * j, 0.5f, 1.0f, 0xffc0c0c0});
    std::vector<uint16_t> indices;
    for (UINT j = 0; j < cells; ++j)
        for (UINT i = 0; i < cells; ++i) {
            const uint16_t a = uint16_t(j * (cells + 1) + i), b = uint16_t(a + cells + 1);
            indices.insert(indices.end(),
                           {a, uint16_t(a + 1), b, uint16_t(a + 1), uint16_t(b + 1), b});
        }
    if (triangles == 0 || triangles > indices.size() / 3) {
        state.SkipWithError("the hero's triangle count does not fit the grid");
        return;
    }
    IDirect3DDevice9* device = scene.device;
    const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
    IDirect3DVertexBuffer9* rawVb = nullptr;
    IDirect3DIndexBuffer9* rawIb = nullptr;
    device->CreateVertexBuffer(UINT(vertices.size() * sizeof(Vertex)), D3DUSAGE_WRITEONLY, fvf,
                               D3DPOOL_MANAGED, &rawVb, nullptr);
    device->CreateIndexBuffer(UINT(indices.size() * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                              D3DPOOL_MANAGED, &rawIb, nullptr);
    kit::Ref<IDirect3DVertexBuffer9> vb(rawVb);
    kit::Ref<IDirect3DIndexBuffer9> ib(rawIb);
    if (!vb || !ib) {
        state.SkipWithError("no buffers");
        return;
    }
    void* data = nullptr;
    vb->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(Vertex));
    vb->Unlock();
    ib->Lock(0, 0, &data, 0);
    std::memcpy(data, indices.data(), indices.size() * 2);
    ib->Unlock();
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetFVF(fvf);
    device->SetStreamSource(0, vb.get(), 0, sizeof(Vertex));
    device->SetIndices(ib.get());
    for (auto _ : state) {
        device->BeginScene();
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(vertices.size()), 0, triangles);
        device->EndScene();
        state.PauseTiming();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        state.ResumeTiming();
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    state.counters["triangles"] = triangles;
    state.counters["per_triangle"] =
        benchmark::Counter(double(triangles) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HeroTrianglesAlone)->Unit(benchmark::kMillisecond);

// The same frame on a lost device, which discards draws: the model's own work (update,
// skinning, state and subset calls) without the GL driver. The device is reset afterwards,
// so the benchmarks give the same answers in any order.
void BM_HeroUpdateAndDrawWithoutGl(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no device or no default hero");
        return;
    }
    fw::d3d9test::LoseDevice(scene.device, 0);
    scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (auto _ : state) {
        scene.hero.Update(1.0f / 60.0f, world);
        scene.device->BeginScene();
        scene.hero.Draw();
        scene.device->EndScene();
    }
    if (scene.device->TestCooperativeLevel() != D3DERR_DEVICENOTRESET ||
        FAILED(scene.device->Reset(&scene.offscreen.params)))
        state.SkipWithError("the device did not come back");
    // Reset returns every state to its default: the scene's view and lighting again.
    scene.SetView();
}
BENCHMARK(BM_HeroUpdateAndDrawWithoutGl)->Unit(benchmark::kMicrosecond);

} // namespace
