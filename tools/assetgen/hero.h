// The hero robot as plain data: frames, meshes with skins, materials and animation sets.
// buildHero() makes it; writeXFile() (xfile.h) turns it into a text .X file.
#pragma once

#include "xmath.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

// Texture names the materials give; the program opens them relative to its working directory,
// and the two marker names must carry no folder.
inline constexpr const char* kBodyTexture = "model/hero_body.bmp";
inline constexpr const char* kHighlightTexture = "RobotHighLight.bmp";
inline constexpr const char* kBoundTexture = "boundMesh.bmp";

// Baked light: the program draws the hero unlit, so shading lives in the vertex colours. The
// terrain's hill shading uses the same direction.
inline const Vec3 kLightDirection = normalize({-0.35f, 0.8f, -0.5f});

struct Color4 {
    float r = 1, g = 1, b = 1, a = 1;
};

struct Material {
    std::string name;
    Color4 diffuse;
    float power = 0;
    Vec3 specular, emissive;
    std::string texture; // empty: untextured
};

struct Influence {
    int bone = -1; // index into the model's frames; -1 marks an unused slot
    float weight = 0;
};

struct Mesh {
    std::string name;
    int frame = 0; // frame that holds the mesh
    std::vector<Vec3> positions, normals;
    std::vector<std::array<float, 2>> uvs;
    std::vector<Color4> colors; // one per vertex when not empty
    std::vector<std::array<uint32_t, 3>> faces;
    std::vector<uint32_t> faceMaterials;              // one per face when materials exist
    std::vector<Material> materials;                  // none: the mesh has no material list at all
    std::vector<std::array<Influence, 4>> influences; // one per vertex when skinned

    bool skinned() const { return !influences.empty(); }
};

struct Frame {
    std::string name;
    int parent = -1;
    Mat4 local;     // bind pose, relative to the parent
    Vec3 bindWorld; // bind-pose origin in model space (bind frames carry no rotation)
};

template <typename T> struct Key {
    uint32_t time = 0; // ticks
    T value{};
};

// Keys of one frame in one set. A track holds either rotation, scale and position keys (local
// matrix = S R T) or matrix keys alone.
struct BoneKeys {
    int frame = 0;
    std::vector<Key<Quat>> rotations;
    std::vector<Key<Vec3>> scales, positions;
    std::vector<Key<Mat4>> matrices;
};

struct AnimationSet {
    std::string name;
    uint32_t periodTicks = 0;
    std::vector<BoneKeys> tracks;
};

struct Model {
    uint32_t ticksPerSecond = 4800;
    std::vector<Frame> frames; // parents before children; frame 0 is the root
    std::vector<Mesh> meshes;
    std::vector<AnimationSet> animations;

    int findFrame(const std::string& name) const;
};

Model buildHero();

// Skeleton and meshes only (no animation); used by buildHero and by the animation code.
Model buildHeroGeometry();
void addHeroAnimations(Model& model);

// Frame world matrices for a local matrix per frame (row vectors: local x parent).
std::vector<Mat4> combineFrames(const Model& model, const std::vector<Mat4>& locals);

} // namespace assetgen
