// Per-frame CPU cost of the default hero: animation update, skinning and both draw walks
// with their GL submission. Rasterisation is left out (Present runs untimed).
#include "skinned/skinmesh.h"

#include "platform/d3d9/testing.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

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
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 eye(0.0f, 40.0f, -300.0f), at(0.0f, 15.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415927f / 4.0f, 800.0f / 600.0f, 1.0f, 5000.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        hero.SetAnimation("skill1", 0, true);
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

// The same frame on a lost device, which discards draws: the model's own work (update,
// skinning, state and subset calls) without the GL driver. Runs last: the loss stays.
void BM_HeroUpdateAndDrawWithoutGl(benchmark::State& state) {
    Scene& scene = TheScene();
    if (!scene.ready) {
        state.SkipWithError("no device or no default hero");
        return;
    }
    fw::d3d9test::LoseDevice(scene.device, 1 << 30);
    scene.device->Present(nullptr, nullptr, nullptr, nullptr);
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (auto _ : state) {
        scene.hero.Update(1.0f / 60.0f, world);
        scene.device->BeginScene();
        scene.hero.Draw();
        scene.device->EndScene();
    }
}
BENCHMARK(BM_HeroUpdateAndDrawWithoutGl)->Unit(benchmark::kMicrosecond);

} // namespace
