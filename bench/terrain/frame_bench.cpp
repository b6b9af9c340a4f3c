// One whole frame of the program, update and render, on the offscreen device at 800 x 600.
#include "app/gameapp.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void BM_Frame(benchmark::State& state) {
    if (chdir(FERROWALK_SOURCE_DIR "/data") != 0) {
        state.SkipWithError("no data folder (make the assets first)");
        return;
    }
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = WndProc;
    cls.lpszClassName = "FrameBench";
    RegisterClassExA(&cls);
    HWND window = CreateWindowExA(0, "FrameBench", "frame", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                  nullptr, nullptr, nullptr, nullptr);
    auto* app = new GameApp;
    if (!window || !app->Init(GetModuleHandleA(nullptr), window)) {
        state.SkipWithError("the program does not start here");
        delete app;
        return;
    }
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    for (auto _ : state) {
        // Window messages, as the loop takes them between frames.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
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
