// The hero as built in memory: skeleton, meshes, skins and animation sets.
#include "hero.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace assetgen;

namespace {

const Model& hero() {
    static const Model model = buildHero();
    return model;
}

const Mesh* meshNamed(const std::string& name) {
    for (const Mesh& m : hero().meshes)
        if (m.name == name)
            return &m;
    return nullptr;
}

std::string lastTexture(const Mesh& mesh) {
    std::string name;
    for (const Material& m : mesh.materials)
        if (!m.texture.empty())
            name = m.texture;
    return name;
}

// Model-space positions of a mesh for the given frame world matrices.
std::vector<Vec3> posed(const Mesh& mesh, const std::vector<Mat4>& world) {
    std::vector<Vec3> out;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        if (!mesh.skinned()) {
            out.push_back(transformPoint(mesh.positions[v], world[size_t(mesh.frame)]));
            continue;
        }
        Vec3 p;
        for (const Influence& i : mesh.influences[v])
            if (i.bone >= 0) {
                Mat4 offset = matTranslation(hero().frames[size_t(i.bone)].bindWorld * -1.0f);
                p = p +
                    transformPoint(mesh.positions[v], offset * world[size_t(i.bone)]) * i.weight;
            }
        out.push_back(p);
    }
    return out;
}

// Local matrices of every frame at one key index of a set (keys shared in time).
std::vector<Mat4> poseAtKey(const AnimationSet& set, uint32_t tick) {
    std::vector<Mat4> locals;
    for (const Frame& f : hero().frames)
        locals.push_back(f.local);
    auto at = [&](const auto& keys) {
        size_t k = 0;
        while (k + 1 < keys.size() && keys[k + 1].time <= tick)
            ++k;
        return keys[k].value;
    };
    for (const BoneKeys& track : set.tracks)
        locals[size_t(track.frame)] =
            track.matrices.empty()
                ? matSRT(at(track.scales), at(track.rotations), at(track.positions))
                : at(track.matrices);
    return combineFrames(hero(), locals);
}

} // namespace

TEST(HeroSkeleton, HasAboutTwentyUniquelyNamedBonesInParentOrder) {
    const Model& m = hero();
    std::set<std::string> names;
    for (size_t i = 0; i < m.frames.size(); ++i) {
        EXPECT_TRUE(names.insert(m.frames[i].name).second) << m.frames[i].name;
        EXPECT_LT(m.frames[i].parent, int(i)) << "parent must precede " << m.frames[i].name;
    }
    EXPECT_EQ(m.frames[0].parent, -1);
    const Mesh* body = meshNamed("Body");
    ASSERT_NE(body, nullptr);
    std::set<int> bones;
    for (const auto& slots : body->influences)
        for (const Influence& i : slots)
            if (i.bone >= 0)
                bones.insert(i.bone);
    EXPECT_GE(bones.size(), 18u);
    EXPECT_LE(bones.size(), 24u);
    for (const char* name : {"Hips", "Spine", "Chest", "Neck", "Head", "L_UpperArm", "R_LowerArm",
                             "L_Hand", "R_UpperLeg", "L_LowerLeg", "R_Foot"})
        EXPECT_TRUE(bones.count(m.findFrame(name))) << name << " should deform the body";
}

TEST(HeroMeshes, CarryTheRolesTheProgramLooksFor) {
    int skinnedHighlights = 0, rigidHighlights = 0, bounds = 0, noMaterial = 0,
        twoMaterialRigid = 0;
    for (const Mesh& mesh : hero().meshes) {
        std::string marker = lastTexture(mesh);
        skinnedHighlights += mesh.skinned() && marker == kHighlightTexture;
        rigidHighlights += !mesh.skinned() && marker == kHighlightTexture;
        bounds += marker == kBoundTexture;
        noMaterial += mesh.materials.empty();
        twoMaterialRigid += !mesh.skinned() && mesh.materials.size() == 2;
    }
    EXPECT_EQ(skinnedHighlights, 1);
    EXPECT_EQ(rigidHighlights, 1);
    EXPECT_EQ(bounds, 1);
    EXPECT_EQ(noMaterial, 1);
    EXPECT_GE(twoMaterialRigid, 1);
    // The body is an ordinary textured mesh, drawn in the normal pass.
    EXPECT_EQ(lastTexture(*meshNamed("Body")), kBodyTexture);
}

TEST(HeroMeshes, AreWellFormedWithUnitNormalsAndNormalisedWeights) {
    for (const Mesh& mesh : hero().meshes) {
        SCOPED_TRACE(mesh.name);
        const size_t n = mesh.positions.size();
        ASSERT_GT(n, 0u);
        EXPECT_EQ(mesh.normals.size(), n);
        EXPECT_EQ(mesh.uvs.size(), n);
        EXPECT_TRUE(mesh.colors.empty() || mesh.colors.size() == n);
        for (const Color4& c : mesh.colors)
            EXPECT_EQ(c.a, 1.0f) << "blending uses the alpha, so colours must be opaque";
        if (!mesh.materials.empty()) {
            EXPECT_EQ(mesh.faceMaterials.size(), mesh.faces.size());
        }
        for (size_t f = 0; f < mesh.faces.size(); ++f) {
            for (uint32_t v : mesh.faces[f])
                ASSERT_LT(v, n);
            if (!mesh.materials.empty()) {
                ASSERT_LT(mesh.faceMaterials[f], mesh.materials.size());
            }
        }
        for (const Vec3& normal : mesh.normals)
            EXPECT_NEAR(length(normal), 1.0f, 1e-4f);
        for (const auto& slots : mesh.influences) {
            float total = 0;
            int used = 0;
            for (const Influence& i : slots)
                if (i.bone >= 0) {
                    total += i.weight;
                    ++used;
                }
            EXPECT_GE(used, 1);
            EXPECT_NEAR(total, 1.0f, 1e-4f);
        }
    }
}

TEST(HeroMeshes, ClosedPartsWindClockwiseSeenFromOutside) {
    // Direct3D's front faces are clockwise; with cross(b - a, c - a) pointing outwards the
    // signed volume of a closed surface is positive, and each vertex normal agrees with its faces.
    for (const char* name : {"Body", "BoundingBox", "HeadShell", "Sword"}) {
        const Mesh* mesh = meshNamed(name);
        ASSERT_NE(mesh, nullptr) << name;
        double volume = 0;
        int disagreeing = 0;
        for (const auto& f : mesh->faces) {
            Vec3 a = mesh->positions[f[0]], b = mesh->positions[f[1]], c = mesh->positions[f[2]];
            volume += dot(a, cross(b, c)) / 6.0;
            Vec3 faceNormal = cross(b - a, c - a);
            for (uint32_t v : f)
                disagreeing += dot(faceNormal, mesh->normals[v]) < 0;
        }
        EXPECT_GT(volume, 0) << name;
        EXPECT_LE(disagreeing, int(mesh->faces.size() / 50)) << name;
    }
}

TEST(HeroMeshes, FigureIsFiftyUnitsTallStandingOnTheOriginAndFacingMinusZ) {
    const Model& m = hero();
    std::vector<Mat4> locals;
    for (const Frame& f : m.frames)
        locals.push_back(f.local);
    std::vector<Mat4> world = combineFrames(m, locals);
    Vec3 lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
    for (const char* name : {"Body", "HeadShell"})
        for (Vec3 p : posed(*meshNamed(name), world)) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
    EXPECT_NEAR(lo.y, 0.0f, 0.05f);
    EXPECT_GT(hi.y, 45.0f);
    EXPECT_LT(hi.y, 56.0f);
    EXPECT_NEAR((lo.x + hi.x) * 0.5f, 0.0f, 0.5f);
    // The visor sits on the -z side of the head, and the sword points that way too.
    Vec3 visorCentre;
    for (Vec3 p : posed(*meshNamed("Visor"), world))
        visorCentre = visorCentre + p * (1.0f / float(meshNamed("Visor")->positions.size()));
    EXPECT_LT(visorCentre.z, world[size_t(m.findFrame("Head"))].m[3][2] - 3.0f);
    float swordTip = 0;
    for (Vec3 p : posed(*meshNamed("Sword"), world))
        swordTip = std::min(swordTip, p.z);
    EXPECT_LT(swordTip, -20.0f);
}

TEST(HeroAnimations, FiveLoopingSetsOfOneToThreeSeconds) {
    const Model& m = hero();
    std::vector<std::string> names;
    std::set<int> framesOfFirst;
    bool rotation = false, scale = false, position = false, matrix = false;
    for (const AnimationSet& set : m.animations) {
        SCOPED_TRACE(set.name);
        names.push_back(set.name);
        double seconds = double(set.periodTicks) / m.ticksPerSecond;
        EXPECT_GE(seconds, 1.0);
        EXPECT_LE(seconds, 3.0);
        std::set<int> frames;
        for (const BoneKeys& track : set.tracks) {
            frames.insert(track.frame);
            auto checkLoop = [&](const auto& keys, auto same) {
                if (keys.empty())
                    return;
                EXPECT_EQ(keys.front().time, 0u);
                EXPECT_EQ(keys.back().time, set.periodTicks) << m.frames[size_t(track.frame)].name;
                for (size_t k = 1; k < keys.size(); ++k)
                    EXPECT_LT(keys[k - 1].time, keys[k].time);
                EXPECT_TRUE(same(keys.front().value, keys.back().value))
                    << m.frames[size_t(track.frame)].name << " does not loop";
            };
            checkLoop(track.rotations, [](Quat a, Quat b) {
                // q and -q are the same rotation.
                return std::fabs(std::fabs(a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w) - 1) <
                       1e-5f;
            });
            checkLoop(track.positions, [](Vec3 a, Vec3 b) { return length(a - b) < 1e-4f; });
            checkLoop(track.scales, [](Vec3 a, Vec3 b) { return length(a - b) < 1e-4f; });
            checkLoop(track.matrices, [](const Mat4& a, const Mat4& b) {
                for (int i = 0; i < 16; ++i)
                    if (std::fabs(a.m[i / 4][i % 4] - b.m[i / 4][i % 4]) > 1e-5f)
                        return false;
                return true;
            });
            for (const auto& k : track.rotations)
                EXPECT_NEAR(k.value.x * k.value.x + k.value.y * k.value.y + k.value.z * k.value.z +
                                k.value.w * k.value.w,
                            1.0f, 1e-4f);
            rotation |= track.rotations.size() > 2;
            scale |= track.scales.size() > 2;
            position |= track.positions.size() > 2;
            matrix |= !track.matrices.empty();
        }
        if (framesOfFirst.empty())
            framesOfFirst = frames;
        EXPECT_EQ(frames, framesOfFirst) << "every set animates the same frames";
        EXPECT_FALSE(frames.count(0)) << "the root holds the skinned meshes and stays put";
    }
    EXPECT_EQ(names, (std::vector<std::string>{"idle", "walk", "run", "skill1", "skill2"}));
    EXPECT_TRUE(rotation && scale && position && matrix);
}

TEST(HeroAnimations, FeetStayOnTheGroundAndTheHeroNearTheOrigin) {
    const Mesh& body = *meshNamed("Body");
    for (const AnimationSet& set : hero().animations)
        for (uint32_t tick = 0; tick < set.periodTicks; tick += 160) {
            std::vector<Vec3> points = posed(body, poseAtKey(set, tick));
            float lowest = 1e9f, highest = -1e9f, farthest = 0;
            for (Vec3 p : points) {
                lowest = std::min(lowest, p.y);
                highest = std::max(highest, p.y);
                farthest = std::max(farthest, std::hypot(p.x, p.z));
            }
            SCOPED_TRACE(set.name + " at tick " + std::to_string(tick));
            EXPECT_GT(lowest, -0.6f) << "a foot sinks into the ground";
            EXPECT_LT(lowest, 4.5f) << "both feet far off the ground";
            EXPECT_GT(highest, 35.0f);
            EXPECT_LT(farthest, 35.0f) << "the hero wanders off";
        }
}
