// Runs a small process and reads the report it prints when it exits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct ProcessRun {
    int exitCode = -1;
    std::vector<std::string> lines; // standard error, line by line
};

ProcessRun RunProbe(const std::string& mode, const std::string& environment = "") {
    // The probe's leaks are on purpose: in sanitizer builds the leak checker keeps quiet.
    const std::string command = "ASAN_OPTIONS=detect_leaks=0 " + environment + " " +
                                MEMORY_REPORT_PROBE + " " + mode + " 2>&1 >/dev/null";
    ProcessRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::string text;
    char buffer[4096];
    while (size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, count);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        run.lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size())
        run.lines.push_back(text.substr(start));
    return run;
}

// The probe first prints what it knows, as "line=31 large=0x...".
std::string ValueOf(const std::string& line, const std::string& name) {
    const auto at = line.find(name + "=");
    return line.substr(at + name.size() + 1, line.find(' ', at) - at - name.size() - 1);
}

std::string PaddedHex(const std::string& printed) {
    const unsigned long long value = std::strtoull(printed.c_str(), nullptr, 16);
    char text[32];
    std::snprintf(text, sizeof text, "0x%8.8llx", value);
    return text;
}

const std::string kProbeSource =
    std::string(FERROWALK_SOURCE_DIR) + "/tests/core/processes/report_probe.cpp";

TEST(EndOfProcessReport, LeakingProcessListsItsBlocksInOrder) {
    const ProcessRun run = RunProbe("leak");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 7u);
    const std::string large = PaddedHex(ValueOf(run.lines[0], "large"));
    const std::string line = ValueOf(run.lines[0], "line");
    const std::vector<std::string> report(run.lines.begin() + 1, run.lines.end());
    EXPECT_EQ(report,
              (std::vector<std::string>{
                  "",
                  "Memory leak : There have 2 objects and 314 bytes(1 K) memory had not be delete!",
                  "Max memory used : 314 bytes(1 K)",
                  "",
                  kProbeSource + "(" + line +
                      ") : Memory leak! There have 16 bytes memory had not be delete. Alloc ID "
                      ": 0",
                  "Unkown position(" + large +
                      ") : Memory leak! There have 304 bytes(1 K) memory had not be delete. Alloc "
                      "ID : 1",
              }));
}

TEST(EndOfProcessReport, ProcessThatReleasesEverythingPrintsTheSummaryAlone) {
    const ProcessRun run = RunProbe("clean");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 3u);
    EXPECT_EQ(run.lines[0], "");
    EXPECT_EQ(run.lines[1].rfind("Max memory used : ", 0), 0u) << run.lines[1];
    EXPECT_EQ(run.lines[2], "");

    EXPECT_TRUE(RunProbe("none").lines.empty());
}

TEST(EndOfProcessReport, LibrariesBlocksGetOneLineOfTheirOwn) {
    const ProcessRun run = RunProbe("library");
    EXPECT_EQ(run.exitCode, 0);
    for (const std::string& line : run.lines)
        EXPECT_EQ(line.find("Memory leak"), std::string::npos) << line;
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back(), "Held by libraries at exit, not the program's : 3 blocks and 5088 "
                                "bytes(5 K)");
}

TEST(EndOfProcessReport, ReleasesAfterTheReportAreSafeAndSilent) {
    const ProcessRun run = RunProbe("late");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 8u);
    const int line = std::stoi(ValueOf(run.lines[0], "line"));
    EXPECT_EQ(run.lines[2],
              "Memory leak : There have 2 objects and 2024 bytes(2 K) memory had not be delete!");
    EXPECT_EQ(run.lines[5], kProbeSource + "(" + std::to_string(line) +
                                ") : Memory leak! There have 24 bytes memory had not be delete. "
                                "Alloc ID : 0");
    EXPECT_EQ(run.lines[6], kProbeSource + "(" + std::to_string(line + 1) +
                                ") : Memory leak! There have 2000 bytes(2 K) memory had not be "
                                "delete. Alloc ID : 1");
    EXPECT_EQ(run.lines[7], "late release done");
}

TEST(EndOfProcessReport, BreakAllocIdFromTheEnvironment) {
    const ProcessRun run = RunProbe("leak", "FERROWALK_BREAK_ALLOC=1");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines[0], "Alloc ID : 1 reached (FERROWALK_BREAK_ALLOC), no debugger attached");

    const ProcessRun bad = RunProbe("none", "FERROWALK_BREAK_ALLOC=soon");
    EXPECT_TRUE(bad.lines.empty()); // nothing allocated, nothing read
}

} // namespace
