#include "platform/win32/host.h"

namespace fw {

namespace {
RunOptions& Options() {
    static RunOptions options;
    return options;
}
} // namespace

const RunOptions& GetRunOptions() {
    return Options();
}
void SetRunOptions(const RunOptions& options) {
    Options() = options;
}

namespace {
bool programRunning = false;
} // namespace

bool ProgramRunning() {
    return programRunning;
}
void SetProgramRunning(bool running) {
    programRunning = running;
}

} // namespace fw
