// Loading speed of text .X files of about 5 MB, in MB/s of file: the reader alone, the
// reader plus mesh building, and the whole hierarchy load on an offscreen device; and the
// whole xinfo process against Assimp's on real files.
#include "platform/d3dx9.h"
#include "platform/d3dx9/anim/xfile.h"
#include "platform/d3dx9/anim/xfile_mesh.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Whole-process cost of reading a real file: xinfo against `assimp info FILE -r` (Debian's
// assimp-utils), on the largest text and the largest binary .X file of the shared test files,
// run in turn so that both see the same machine. The figure is each child's processor time
// (user + system, from wait4), startup included; "ratio" is xinfo's over Assimp's.
#ifdef FERROWALK_XINFO

extern char** environ;

namespace {

// Processor seconds the child spent, or a negative number when it did not run or failed.
double ChildCpuSeconds(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// The largest .X file under dir whose header names one of the formats ("txt ", "bin ", ...).
std::string LargestX(const std::filesystem::path& dir, std::initializer_list<const char*> formats) {
    std::string best;
    uintmax_t bestSize = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        char header[16] = {};
        std::ifstream(it->path(), std::ios::binary).read(header, sizeof header);
        if (std::string(header, 4) != "xof ")
            continue;
        bool wanted = false;
        for (const char* format : formats)
            wanted = wanted || std::string(header + 8, 4) == format;
        const uintmax_t size = it->file_size(error);
        if (wanted && size > bestSize) {
            best = it->path().string();
            bestSize = size;
        }
    }
    return best;
}

void WholeProcessCpu(benchmark::State& state, const std::string& file) {
    double xinfo = 0, assimp = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        // Alternate which runs first, so that neither always finds the file cache warmed.
        double a = -1, b = -1;
        if (runs % 2 == 0) {
            a = ChildCpuSeconds({FERROWALK_XINFO, file});
            b = ChildCpuSeconds({"assimp", "info", file, "-r"});
        } else {
            b = ChildCpuSeconds({"assimp", "info", file, "-r"});
            a = ChildCpuSeconds({FERROWALK_XINFO, file});
        }
        if (a < 0 || b < 0) {
            state.SkipWithError(("a child failed on " + file).c_str());
            return;
        }
        state.SetIterationTime(a);
        xinfo += a;
        assimp += b;
        ++runs;
    }
    state.counters["xinfo_ms"] = xinfo * 1e3 / double(runs);
    state.counters["assimp_ms"] = assimp * 1e3 / double(runs);
    state.counters["ratio"] = xinfo / assimp;
    state.SetLabel(std::filesystem::path(file).filename().string());
}

// Registered only where the files and Assimp are; otherwise one line says what is missing.
const bool kRegistered = [] {
    const std::filesystem::path dir = FERROWALK_SHARED_DIR "/testdata/xfiles";
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) {
        std::fprintf(stderr, "xfile_bench: no %s: the xinfo-against-Assimp runs are skipped\n",
                     dir.c_str());
        return false;
    }
    if (!OnPath("assimp")) {
        std::fprintf(stderr, "xfile_bench: no assimp on PATH (Debian: assimp-utils): the "
                             "xinfo-against-Assimp runs are skipped\n");
        return false;
    }
    const std::string text = LargestX(dir, {"txt ", "tzip"});
    const std::string binary = LargestX(dir, {"bin ", "bzip"});
    for (const auto& [name, file] : {std::pair{"BM_XinfoAgainstAssimp/text", text},
                                     std::pair{"BM_XinfoAgainstAssimp/binary", binary}})
        if (!file.empty())
            benchmark::RegisterBenchmark(name, WholeProcessCpu, file)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace

#endif
