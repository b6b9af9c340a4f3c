#include "scene_kit.h"

#include "tests/kit/kit.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cstdlib>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace scenekit {

int Run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const fs::path& DefaultDataSet() {
    static const fs::path dir = []() -> fs::path {
#ifdef FERROWALK_ASSETGEN
        return kit::GenerateDataSet(FERROWALK_ASSETGEN, "default");
#else
        return fs::path();
#endif
    }();
    return dir;
}

fs::path DataSetWithHeightmap(const std::string& name,
                              const std::function<uint8_t(float x, float z)>& heightAt) {
    fs::path out = kit::ScratchPath(name);
    fs::remove_all(out);
    fs::copy(DefaultDataSet(), out, fs::copy_options::recursive);

    // Image row r holds the samples of z = r * spacing - 1500, as the terrain reads them.
    constexpr int kSide = 1024;
    constexpr float kSize = 3000.0f;
    std::vector<uint8_t> grey(kSide * kSide);
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c)
            grey[r * kSide + c] =
                heightAt(c * kSize / (kSide - 1) - kSize / 2, r * kSize / (kSide - 1) - kSize / 2);
    stbi_write_png((out / "terrain_heightmap.png").c_str(), kSide, kSide, 1, grey.data(), kSide);
    return out;
}

} // namespace scenekit
