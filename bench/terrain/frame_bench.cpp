// One whole frame of the program, update and render, on the offscreen device at 800 x 600.
#include "app/gameapp.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

void BM_Frame(benchmark::State& state) {
    if (chdir(FERROWALK_SOURCE_DIR "/data") != 0) {
        state.SkipWithError("no data folder (make the assets first)");
        return;
    }
    HWND window = kit::CreateTestWindow("frame", 800, 600);
    auto* app = new GameApp;
    if (!window || !app->Init(GetModuleHandleA(nullptr), window)) {
        state.SkipWithError("the program does not start here");
        delete app;
        return;
    }
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    for (auto _ : state) {
        kit::PumpMessages();
        app->Update(0.016f);
        app->Render(0.016f);
    }
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    delete app;
    DestroyWindow(window);
}
BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace
