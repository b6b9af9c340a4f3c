// The text .X writer on a tiny hand-made model, where the expected text can be spelt out.
#include "xfile.h"

#include <cctype>

#include <gtest/gtest.h>

#include <regex>

using namespace assetgen;

namespace {

Model tinyModel() {
    Model m;
    Frame root;
    root.name = "Root";
    m.frames.push_back(root);
    Frame arm;
    arm.name = "Arm";
    arm.parent = 0;
    arm.bindWorld = {0, 2, 0};
    arm.local = matTranslation({0, 2, 0});
    m.frames.push_back(arm);

    Mesh mesh;
    mesh.name = "Tri";
    mesh.frame = 0;
    mesh.positions = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};
    mesh.normals = {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}};
    mesh.uvs = {{0, 0}, {0, 1}, {1, 0}};
    mesh.colors = {{1, 0.5f, 0.25f, 1}, {1, 1, 1, 1}, {0, 0, 0, 1}};
    mesh.faces = {{0, 1, 2}};
    Material mat;
    mat.name = "Paint";
    mat.texture = "RobotHighLight.bmp";
    mesh.materials = {mat};
    mesh.faceMaterials = {0};
    mesh.influences.resize(3);
    for (auto& slots : mesh.influences)
        slots[0] = {1, 1.0f};
    m.meshes.push_back(mesh);

    AnimationSet set;
    set.name = "wave";
    set.periodTicks = 4800;
    BoneKeys keys;
    keys.frame = 1;
    // A quarter turn about x: (sin 45, 0, 0, cos 45).
    keys.rotations = {{0, {0, 0, 0, 1}}, {4800, quatAxisAngle({1, 0, 0}, kPi / 2)}};
    keys.positions = {{0, {0, 2, 0}}, {4800, {0, 2, 0}}};
    set.tracks.push_back(keys);
    BoneKeys matrixKeys;
    matrixKeys.frame = 1;
    matrixKeys.matrices = {{0, matTranslation({0, 2, 0})}};
    set.tracks.push_back(matrixKeys);
    m.animations.push_back(set);
    return m;
}

} // namespace

TEST(XFileWriter, WritesHeaderTemplatesAndNestedFrames) {
    std::string text = writeXFile(tinyModel());
    EXPECT_EQ(text.rfind("xof 0303txt 0032\n", 0), 0u);
    for (const char* name :
         {"template Mesh {", "template SkinWeights {", "template XSkinMeshHeader {",
          "template AnimTicksPerSecond {", "template MeshVertexColors {"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
    // The child frame is written inside its parent, after the parent's mesh.
    size_t root = text.find("Frame Root {"), mesh = text.find("Mesh Tri {"),
           arm = text.find("Frame Arm {");
    ASSERT_NE(root, std::string::npos);
    EXPECT_LT(root, mesh);
    EXPECT_LT(mesh, arm);
    EXPECT_NE(text.find("0.000000,2.000000,0.000000,1.000000;;"), std::string::npos)
        << "frame matrix rows with the translation last";
}

TEST(XFileWriter, MeshDataUsesTheSeparatorsStrictReadersDemand) {
    std::string text = writeXFile(tinyModel());
    EXPECT_NE(text.find(" 3;\n  0.000000;0.000000;0.000000;,\n  0.000000;1.000000;0.000000;,\n"
                        "  1.000000;0.000000;0.000000;;\n"),
              std::string::npos);
    EXPECT_NE(text.find("  1;\n  3;0,1,2;;\n"), std::string::npos);
    EXPECT_NE(text.find("0;1.000000;0.500000;0.250000;1.000000;;,"), std::string::npos);
    EXPECT_NE(text.find("TextureFilename { \"RobotHighLight.bmp\"; }"), std::string::npos);
    EXPECT_NE(text.find("XSkinMeshHeader {\n   1;\n   1;\n   1;\n"), std::string::npos);
    EXPECT_NE(text.find("\"Arm\";\n   3;\n   0,\n   1,\n   2;\n"), std::string::npos);
    // Offset matrix: model space to the bone's space.
    EXPECT_NE(text.find("0.000000,-2.000000,0.000000,1.000000;;"), std::string::npos);
    // No exponents (rejected by strict readers), no negative zero, no doubled commas.
    EXPECT_FALSE(std::regex_search(text, std::regex("\\.[0-9]+[eE]")));
    EXPECT_EQ(text.find("-0.000000"), std::string::npos);
    EXPECT_EQ(text.find(",,"), std::string::npos);
    EXPECT_EQ(text.find(",;"), std::string::npos);
}

TEST(XFileWriter, RotationKeysAreStoredAsTheConjugateInWxyzOrder) {
    std::string text = writeXFile(tinyModel());
    EXPECT_NE(text.find("AnimTicksPerSecond {\n 4800;\n}"), std::string::npos);
    EXPECT_NE(text.find("AnimationSet wave {"), std::string::npos);
    EXPECT_NE(text.find("{ Arm }"), std::string::npos);
    // Identity, then the quarter turn about +x written as (w, -x, -y, -z).
    EXPECT_NE(text.find("0;\n   2;\n   0;4;1.000000,0.000000,0.000000,0.000000;;,\n"
                        "   4800;4;0.707107,-0.707107,0.000000,0.000000;;;\n"),
              std::string::npos);
    EXPECT_NE(text.find("2;\n   2;\n   0;3;0.000000,2.000000,0.000000;;,"), std::string::npos);
    EXPECT_NE(text.find("4;\n   1;\n   0;16;1.000000,"), std::string::npos);
}

// The separator rule of the strictest readers: every number or string is followed by ';' or
// ','; a run of ';' may be followed by at most one ','. Checked over the hero's data objects.
TEST(XFileWriter, HeroFileFollowsTheStrictSeparatorRule) {
    const std::string text = writeXFile(buildHero());
    size_t pos = text.find("\nAnimTicksPerSecond {"); // the data after the templates
    ASSERT_NE(pos, std::string::npos);
    enum class Kind { Scalar, Semicolon, Comma, Other };
    Kind previous = Kind::Other;
    int scalars = 0;
    while (pos < text.size()) {
        char c = text[pos];
        Kind kind = Kind::Other;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++pos;
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
            while (pos < text.size() && (std::isdigit(static_cast<unsigned char>(text[pos])) ||
                                         text[pos] == '-' || text[pos] == '.'))
                ++pos;
            kind = Kind::Scalar;
        } else if (c == '"') {
            pos = text.find('"', pos + 1) + 1;
            kind = Kind::Scalar;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            while (pos < text.size() &&
                   (std::isalnum(static_cast<unsigned char>(text[pos])) || text[pos] == '_'))
                ++pos;
        } else {
            kind = c == ';' ? Kind::Semicolon : (c == ',' ? Kind::Comma : Kind::Other);
            ++pos;
        }
        if (previous == Kind::Scalar) {
            ASSERT_TRUE(kind == Kind::Semicolon || kind == Kind::Comma)
                << "scalar without separator before offset " << pos;
        }
        if (previous == Kind::Comma) {
            ASSERT_TRUE(kind != Kind::Comma && kind != Kind::Semicolon)
                << "separator after a comma at offset " << pos;
        }
        scalars += kind == Kind::Scalar;
        previous = kind;
    }
    EXPECT_GT(scalars, 10000);
}
