// Terrain building from the default data set and height queries.
#include "terrain/terrain.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <unistd.h>

namespace {

// One offscreen window and device for the whole run, in the data folder.
IDirect3DDevice9* SharedDevice() {
    static IDirect3DDevice9* device = []() -> IDirect3DDevice9* {
        if (chdir(FERROWALK_SOURCE_DIR "/data") != 0)
            return nullptr;
        return (new kit::OffscreenDevice("bench", 800, 600, D3DFMT_D24S8))->device;
    }();
    return device;
}

bool BuildDefault(Terrain& terrain, IDirect3DDevice9* device) {
    return terrain.Build(3000.0f, 4, 200.0f, "terrain_texture.dds", "terrain_heightmap.png",
                         "terrain_detail.dds", 2, device);
}

// The whole Build with the program's arguments: three image loads with their mip chains,
// the heights of level 4 and both buffers.
void BM_TerrainBuild(benchmark::State& state) {
    IDirect3DDevice9* device = SharedDevice();
    if (!device) {
        state.SkipWithError("no device or no data set (make the assets first)");
        return;
    }
    Terrain terrain;
    for (auto _ : state) {
        if (!BuildDefault(terrain, device)) {
            state.SkipWithError("the default terrain does not build");
            return;
        }
    }
}
BENCHMARK(BM_TerrainBuild)->Unit(benchmark::kMillisecond);

void BM_TerrainGetHeight(benchmark::State& state) {
    IDirect3DDevice9* device = SharedDevice();
    Terrain terrain;
    if (!device || !BuildDefault(terrain, device)) {
        state.SkipWithError("no device or no data set (make the assets first)");
        return;
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-1600.0f, 1600.0f); // a few outside
    std::vector<std::pair<float, float>> points(4096);
    for (auto& point : points)
        point = {coordinate(random), coordinate(random)};
    size_t next = 0;
    for (auto _ : state) {
        const auto& [x, z] = points[next++ & 4095];
        benchmark::DoNotOptimize(terrain.GetHeight(x, z));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TerrainGetHeight);

} // namespace
