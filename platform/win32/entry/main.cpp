// The process entry point: reads the Linux options, then runs the program's WinMain.
// Kept alone in its file so test programs can link the rest of platform/win32.
#include "platform/win32/host.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: ferrowalk [options]\n"
    "  --frames N           close the window after N frames\n"
    "  --fixed-dt SECONDS   advance the clock by exactly SECONDS per frame\n"
    "  --screenshot FILE    save the last frame as a PNG\n"
    "  --capture DIR        save every frame as DIR/frame_00001.png, ...\n"
    "  --headless           render offscreen, no display needed\n"
    "  --data DIR           run in DIR (where model/ and the terrain images are)\n"
    "  --simulate-device-loss  lose the device now and then to exercise recovery\n"
    "  --model FILE         show FILE (.X) instead of model/hero.X\n"
    "  --animation NAME     play the animation set NAME ('list' prints the sets and exits)\n"
    "  --fit                scale the model to the default hero's size\n"
    "  --help               show this text\n";

bool ParseCount(const std::string& text, int& value) {
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed <= 0 || parsed > 100000000)
        return false;
    value = (int)parsed;
    return true;
}

bool ParseSeconds(const std::string& text, double& value) {
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(parsed >= 0.0) || parsed > 3600.0)
        return false;
    value = parsed;
    return true;
}

enum class Parse { Run, Help, Error };

// The options that take a word: where it goes, and what to say when it is missing.
struct TextOption {
    const char* name;
    std::string fw::RunOptions::*field;
    const char* needs;
};
constexpr TextOption kTextOptions[] = {
    {"--screenshot", &fw::RunOptions::screenshot, "a file name"},
    {"--capture", &fw::RunOptions::captureDir, "a folder"},
    {"--data", &fw::RunOptions::dataDir, "a folder"},
    {"--model", &fw::RunOptions::model, "a .X file"},
    {"--animation", &fw::RunOptions::animation, "a set name or 'list'"},
};

const TextOption* FindTextOption(const std::string& option) {
    for (const TextOption& known : kTextOptions)
        if (option == known.name)
            return &known;
    return nullptr;
}

Parse ParseOptions(int argc, char** argv, fw::RunOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return !out.empty();
        };
        std::string text;
        if (option == "--help" || option == "-h")
            return Parse::Help;
        if (option == "--headless")
            options.headless = true;
        else if (option == "--simulate-device-loss")
            options.simulateDeviceLoss = true;
        else if (option == "--fit")
            options.fit = true;
        else if (const TextOption* known = FindTextOption(option)) {
            if (!value(options.*known->field)) {
                std::fprintf(stderr, "ferrowalk: %s needs %s\n", known->name, known->needs);
                return Parse::Error;
            }
        } else if (option == "--frames") {
            if (!value(text) || !ParseCount(text, options.frames)) {
                std::fprintf(stderr, "ferrowalk: --frames needs a whole number above 0\n");
                return Parse::Error;
            }
        } else if (option == "--fixed-dt") {
            if (!value(text) || !ParseSeconds(text, options.fixedDt)) {
                std::fprintf(stderr, "ferrowalk: --fixed-dt needs seconds from 0 to 3600\n");
                return Parse::Error;
            }
        } else {
            std::fprintf(stderr, "ferrowalk: unknown option '%s'\n", option.c_str());
            return Parse::Error;
        }
    }
    return Parse::Run;
}

// Output paths are taken relative to where the user started the program, before --data
// moves the working directory.
std::string Absolute(const std::string& path) {
    if (path.empty())
        return path;
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

bool PrepareOutputs(fw::RunOptions& options) {
    options.screenshot = Absolute(options.screenshot);
    options.captureDir = Absolute(options.captureDir);
    options.model = Absolute(options.model);
    if (options.animation == "list")
        options.headless = true; // nothing to show: the sets are printed and the run ends
    if (!options.screenshot.empty()) {
        auto folder = std::filesystem::path(options.screenshot).parent_path();
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) {
            std::fprintf(stderr, "ferrowalk: no folder %s for the screenshot\n", folder.c_str());
            return false;
        }
    }
    if (!options.captureDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.captureDir, error);
        if (error) {
            std::fprintf(stderr, "ferrowalk: cannot create %s: %s\n", options.captureDir.c_str(),
                         error.message().c_str());
            return false;
        }
    }
    if (!options.dataDir.empty() && chdir(options.dataDir.c_str()) != 0) {
        std::fprintf(stderr, "ferrowalk: cannot enter data folder %s\n", options.dataDir.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    fw::RunOptions options;
    switch (ParseOptions(argc, argv, options)) {
    case Parse::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Parse::Error:
        std::fputs(kUsage, stderr);
        return 2;
    case Parse::Run:
        break;
    }
    if (!PrepareOutputs(options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    fw::SetRunOptions(options);

    fw::SetProgramRunning(true);
    int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, (LPSTR) "", SW_SHOWDEFAULT);
    fw::SetProgramRunning(false);
    exitCode = std::max(exitCode, fw::RunExitCode());

    if (!options.screenshot.empty()) {
        if (fw::PresentedFrameCount() == 0) {
            std::fprintf(stderr, "No frame was presented; no screenshot saved\n");
        } else if (fw::FlushScreenshot()) {
            std::fprintf(stderr, "Screenshot saved to %s\n", options.screenshot.c_str());
        } else if (exitCode == 0) {
            exitCode = 1; // the run asked for a file it did not get
        }
    }
    fw::ReleaseAllWindows();
    {
        fw::LibraryScope scope;
        SDL_Quit();
    }
    return exitCode;
}
