// One whole frame of the program at 800 x 600 on the offscreen device (update, terrain, both
// hero passes, Present), beside its floor: the same frame's GL work recorded once and sent
// again in one call, which is what the driver alone charges for those triangles, textures
// and states. Frame over floor is the platform layer's overhead. CPU time is the process's,
// rasteriser threads included.
#include "app/gameapp.h"
#include "platform/d3d9/testing.h"
#include "skinned/skinmesh.h"
#include "terrain/terrain.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace {

constexpr float kDt = 1.0f / 60.0f;

struct Program {
    HWND window = nullptr;
    GameApp* app = nullptr;
    bool ready = false;

    Program() {
        const std::filesystem::path dir = kit::GenerateDataSet(FERROWALK_ASSETGEN, "frame");
        if (dir.empty())
            return;
        std::filesystem::current_path(dir);
        window = kit::CreateTestWindow("frame", 800, 600);
        app = new GameApp;
        ready = window && app->Init(GetModuleHandleA(nullptr), window);
        if (!ready)
            return;
        ShowWindow(window, SW_SHOWDEFAULT);
        UpdateWindow(window);
        Frame(); // textures reach GL and shaders are built before anything is timed
    }
    ~Program() {
        delete app;
        if (window)
            DestroyWindow(window);
    }
    void Frame() {
        kit::PumpMessages();
        app->Update(kDt);
        app->Render(kDt);
    }
};

Program& TheProgram() {
    static Program program;
    return program;
}

void Report(benchmark::State& state) {
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Frame(benchmark::State& state) {
    Program& program = TheProgram();
    if (!program.ready) {
        state.SkipWithError("the program does not start here");
        return;
    }
    for (auto _ : state)
        program.Frame();
    Report(state);
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->MinTime(2.0);

void BM_FrameFloor(benchmark::State& state) {
    Program& program = TheProgram();
    if (!program.ready) {
        state.SkipWithError("the program does not start here");
        return;
    }
    IDirect3DDevice9* device = program.app->GetDevice();
    auto drawScene = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        program.app->GetTerrain()->Draw();
        program.app->GetHero()->Draw();
        device->EndScene();
    };
    program.app->Update(kDt);
    fw::d3d9test::RecordFrame(device, drawScene);
    // The floor must draw what the program draws, or it prices something else. (Mesa's
    // display lists keep BGRA vertex colours as RGBA: a few hero pixels change colour.)
    std::vector<uint8_t> drawn, replayed;
    drawScene();
    fw::d3d9test::ReadBackBuffer(device, nullptr, nullptr, &drawn);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    fw::d3d9test::ReplayFrame(device);
    fw::d3d9test::ReadBackBuffer(device, nullptr, nullptr, &replayed);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    size_t differing = 0;
    for (size_t i = 0; i + 3 < drawn.size() && drawn.size() == replayed.size(); i += 4)
        differing += !std::equal(&drawn[i], &drawn[i + 3], &replayed[i]);
    if (drawn.empty() || drawn.size() != replayed.size() || differing > drawn.size() / 4 / 100) {
        state.SkipWithError("the recorded frame does not draw the program's picture");
        return;
    }
    for (auto _ : state) {
        fw::d3d9test::ReplayFrame(device);
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    Report(state);
}
BENCHMARK(BM_FrameFloor)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->MinTime(2.0);

} // namespace
