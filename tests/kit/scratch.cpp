// Kept apart from the window and device helpers so that programs which only write scratch
// files link none of the platform's graphics code.
#include "kit.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kit {

namespace {

// Computed from the current process id on every call rather than cached, so that nothing
// stays allocated for the memory report and a forked child never removes its parent's folder.
fs::path ScratchDir() {
    return fs::temp_directory_path() / ("ferrowalk-" + std::to_string(getpid()));
}

struct RemoveScratchAtExit {
    ~RemoveScratchAtExit() {
        std::error_code ignored;
        fs::remove_all(ScratchDir(), ignored);
    }
};

} // namespace

fs::path ScratchPath(const std::string& name) {
    static RemoveScratchAtExit remover;
    const fs::path dir = ScratchDir();
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    return dir / name;
}

std::string WriteScratchFile(const std::string& name, const void* data, size_t size) {
    const std::string path = ScratchPath(name).string();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return {};
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written ? path : std::string();
}

fs::path GenerateDataSet(const char* assetgen, const std::string& name) {
    const fs::path dir = ScratchPath(name);
    const std::string command =
        std::string("\"") + assetgen + "\" \"" + dir.string() + "\" > /dev/null";
    return std::system(command.c_str()) == 0 ? dir : fs::path();
}

} // namespace kit
