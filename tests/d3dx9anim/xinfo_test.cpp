#ifdef FERROWALK_XINFO

#include "xfile_writers.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
    std::string out;
    int status = -1;
};

Outcome Xinfo(const std::string& args) {
    Outcome run;
    // No display and a video driver that does not exist: xinfo must need neither a window
    // system nor a GL driver to read files.
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=none-such " +
                                std::string(FERROWALK_XINFO) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

const char* kModel = R"(xof 0303txt 0032
Frame Root { Frame Arm {
  Mesh Stick { 4; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 1.0;1.0;0.0;, 0.0;1.0;0.0;; 1; 4;0,1,2,3;;
    MeshMaterialList { 1; 1; 0;; Material { 1.0;1.0;1.0;1.0;; 0.0; 0.0;0.0;0.0;; 0.0;0.0;0.0;;
      TextureFilename { "stick.png"; } } }
    XSkinMeshHeader { 1; 1; 1; }
    SkinWeights { "Arm"; 1; 0; 1.0; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,0.0,0.0,1.0;; }
  } } }
AnimationSet Swing { Animation { {Arm} AnimationKey { 2; 2; 0;3;0.0,0.0,0.0;;, 2400;3;1.0,0.0,0.0;;; } } }
)";

} // namespace

TEST(Xinfo, SummarisesEveryFileAndFailsWhenOneDoesNotLoad) {
    const std::string good = xtest::WriteTempFile("xinfo.x", xtest::Bytes(kModel));
    const Outcome ok = Xinfo(good);
    EXPECT_EQ(ok.status, 0) << ok.out;
    const std::string expected = good + R"(
  format: text, version 3.3, 32-bit floats
  frames:
    Root
      Arm
  mesh containers:
    Stick in frame Arm: 4 vertices, 2 faces, XYZ, 1 materials, 1 bones
      texture stick.png
  animation sets: 1
    Swing: period 0.5 s, 1 animated frames, 4800 ticks per second
  totals: 2 frames, 1 mesh containers, 4 vertices, 2 faces, 1 bones
)";
    EXPECT_EQ(ok.out, expected);

    const std::string bad = xtest::WriteTempFile("xinfo-bad.x", xtest::Bytes("xof 0302txt 0032"));
    const Outcome failed = Xinfo(good + " " + bad);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, expected); // the good file is still described
    EXPECT_EQ(Xinfo("").status, 1);

    // A binary file from another exporter, when the shared test files are there.
    const std::string binary = FERROWALK_SHARED_DIR "/testdata/xfiles/assimp/fromtruespace_bin32.x";
    if (FILE* file = std::fopen(binary.c_str(), "rb")) {
        std::fclose(file);
        const Outcome read = Xinfo(binary);
        EXPECT_EQ(read.status, 0);
        EXPECT_NE(read.out.find("  format: binary, version 3.2, 32-bit floats\n"),
                  std::string::npos)
            << read.out;
        EXPECT_NE(read.out.find("  totals: 1 frames, 1 mesh containers, 4132 vertices, 6656 faces, "
                                "0 bones\n"),
                  std::string::npos)
            << read.out;
    }
}

#endif
