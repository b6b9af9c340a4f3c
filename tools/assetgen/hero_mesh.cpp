// Skeleton and meshes of the hero: a robot about 50 units tall, feet at y = 0, facing -z.
// Bind frames carry translations only, so every bone's axes are the model's axes in the bind
// pose and its offset matrix is a plain translation.
#include "atlas.h"
#include "hero.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <tuple>

namespace assetgen {

int Model::findFrame(const std::string& name) const {
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].name == name)
            return int(i);
    return -1;
}

std::vector<Mat4> combineFrames(const Model& model, const std::vector<Mat4>& locals) {
    std::vector<Mat4> world(model.frames.size());
    for (size_t i = 0; i < model.frames.size(); ++i) {
        int parent = model.frames[i].parent;
        world[i] = parent < 0 ? locals[i] : locals[i] * world[size_t(parent)];
    }
    return world;
}

namespace {

constexpr float kArmSpread = 15.0f * kPi / 180.0f; // A-pose: arms this far from vertical
const Vec3 kFront{0, 0, -1};
const Vec3 kUp{0, 1, 0};

Vec3 armDirection(float side) {
    return {side * std::sin(kArmSpread), -std::cos(kArmSpread), 0};
}

struct JointDef {
    const char* name;
    const char* parent;
    Vec3 world;
};

void addSkeleton(Model& model) {
    const Vec3 dl = armDirection(1), dr = armDirection(-1);
    const Vec3 lUpperArm{8.3f, 41.0f, 0}, rUpperArm{-8.3f, 41.0f, 0};
    const Vec3 lLowerArm = lUpperArm + dl * 9.2f, rLowerArm = rUpperArm + dr * 9.2f;
    const Vec3 lHand = lLowerArm + dl * 8.6f, rHand = rLowerArm + dr * 8.6f;
    const Vec3 head{0, 44.8f, 0};
    const JointDef joints[] = {
        {"Root", nullptr, {0, 0, 0}},
        {"Hips", "Root", {0, 26.0f, 0}},
        {"Spine", "Hips", {0, 30.5f, 0}},
        {"Chest", "Spine", {0, 35.5f, 0}},
        {"Neck", "Chest", {0, 42.3f, 0}},
        {"Head", "Neck", head},
        {"Antenna", "Head", head + Vec3{2.0f, 6.0f, 0.8f}},
        {"L_Shoulder", "Chest", {2.2f, 41.2f, 0}},
        {"L_UpperArm", "L_Shoulder", lUpperArm},
        {"L_LowerArm", "L_UpperArm", lLowerArm},
        {"L_Hand", "L_LowerArm", lHand},
        {"R_Shoulder", "Chest", {-2.2f, 41.2f, 0}},
        {"R_UpperArm", "R_Shoulder", rUpperArm},
        {"R_LowerArm", "R_UpperArm", rLowerArm},
        {"R_Hand", "R_LowerArm", rHand},
        {"Weapon", "R_Hand", rHand + dr * 2.4f},
        {"L_UpperLeg", "Hips", {4.1f, 24.6f, 0}},
        {"L_LowerLeg", "L_UpperLeg", {4.1f, 13.8f, 0}},
        {"L_Foot", "L_LowerLeg", {4.1f, 3.6f, 0.2f}},
        {"L_Toe", "L_Foot", {4.1f, 1.0f, -3.6f}},
        {"R_UpperLeg", "Hips", {-4.1f, 24.6f, 0}},
        {"R_LowerLeg", "R_UpperLeg", {-4.1f, 13.8f, 0}},
        {"R_Foot", "R_LowerLeg", {-4.1f, 3.6f, 0.2f}},
        {"R_Toe", "R_Foot", {-4.1f, 1.0f, -3.6f}},
    };
    for (const JointDef& joint : joints) {
        Frame frame;
        frame.name = joint.name;
        frame.parent = joint.parent ? model.findFrame(joint.parent) : -1;
        frame.bindWorld = joint.world;
        Vec3 parentWorld = frame.parent < 0 ? Vec3{} : model.frames[size_t(frame.parent)].bindWorld;
        frame.local = matTranslation(joint.world - parentWorld);
        model.frames.push_back(frame);
    }
}

using Weights = std::vector<Influence>;
using WeightFn = std::function<Weights(Vec3)>;

// Accumulates one mesh: vertices carry a smoothing group so that normals are shared only
// between coincident vertices of the same surface, and every triangle is turned to face away
// from a point inside its part (front faces clockwise, as Direct3D expects).
class MeshBuilder {
public:
    explicit MeshBuilder(Mesh& mesh) : mesh_(mesh) {}

    WeightFn weights; // for skinned meshes: influences of a vertex at a model-space position
    Vec3 offset;      // subtracted from positions: the holding frame's bind origin
    int material = 0;

    uint32_t vertex(Vec3 p, float u, float v, int group) {
        mesh_.positions.push_back(p - offset);
        mesh_.uvs.push_back({u, v});
        groups_.push_back(group);
        if (weights)
            rawWeights_.push_back(weights(p));
        return uint32_t(mesh_.positions.size() - 1);
    }

    void triangle(uint32_t a, uint32_t b, uint32_t c, Vec3 inside) {
        const Vec3 &pa = mesh_.positions[a], &pb = mesh_.positions[b], &pc = mesh_.positions[c];
        Vec3 n = cross(pb - pa, pc - pa);
        if (dot(n, n) < 1e-12f)
            return; // collapsed at a pole
        Vec3 centre = (pa + pb + pc) * (1.0f / 3.0f);
        if (dot(n, centre - (inside - offset)) < 0)
            std::swap(b, c);
        mesh_.faces.push_back({a, b, c});
        faceMaterial_.push_back(uint32_t(material));
    }

    int newGroup() { return nextGroup_++; }

    // A grid of (columns + 1) x (rows + 1) vertices; quads become two triangles.
    void grid(int columns, int rows, const std::function<Vec3(int, int)>& position,
              const std::function<std::array<float, 2>(int, int)>& uv,
              const std::function<Vec3(Vec3)>& insideOf) {
        int group = newGroup();
        uint32_t first = uint32_t(mesh_.positions.size());
        for (int j = 0; j <= rows; ++j)
            for (int i = 0; i <= columns; ++i) {
                auto t = uv(i, j);
                vertex(position(i, j), t[0], t[1], group);
            }
        auto index = [&](int i, int j) { return first + uint32_t(j * (columns + 1) + i); };
        for (int j = 0; j < rows; ++j)
            for (int i = 0; i < columns; ++i) {
                uint32_t a = index(i, j), b = index(i + 1, j), c = index(i + 1, j + 1),
                         d = index(i, j + 1);
                Vec3 inside = insideOf(position(i, j) * 0.5f + position(i + 1, j + 1) * 0.5f);
                triangle(a, b, c, inside);
                triangle(a, c, d, inside);
            }
    }

    // A flat fan closing a ring of model-space points.
    void cap(const std::vector<Vec3>& ring, Vec3 inside, const AtlasRegion& region) {
        int group = newGroup();
        Vec3 centre;
        for (const Vec3& p : ring)
            centre = centre + p * (1.0f / float(ring.size()));
        uint32_t middle = vertex(centre, region.u(0.5f), region.v(0.5f), group);
        std::vector<uint32_t> rim;
        for (size_t i = 0; i < ring.size(); ++i) {
            float a = 2 * kPi * float(i) / float(ring.size());
            rim.push_back(vertex(ring[i], region.u(0.5f + 0.45f * std::cos(a)),
                                 region.v(0.5f + 0.45f * std::sin(a)), group));
        }
        for (size_t i = 0; i < rim.size(); ++i)
            triangle(middle, rim[i], rim[(i + 1) % rim.size()], inside);
    }

    // Normals, material indices and the four strongest influences, once all parts are in.
    void finish() {
        computeNormals();
        if (!mesh_.materials.empty())
            mesh_.faceMaterials = faceMaterial_;
        if (!rawWeights_.empty()) {
            mesh_.influences.resize(rawWeights_.size());
            for (size_t v = 0; v < rawWeights_.size(); ++v)
                mesh_.influences[v] = strongestFour(rawWeights_[v]);
        }
    }

private:
    void computeNormals() {
        std::vector<Vec3> sum(mesh_.positions.size());
        for (const auto& f : mesh_.faces) {
            Vec3 n = cross(mesh_.positions[f[1]] - mesh_.positions[f[0]],
                           mesh_.positions[f[2]] - mesh_.positions[f[0]]);
            for (uint32_t v : f)
                sum[v] = sum[v] + n;
        }
        // Coincident vertices of one surface (seams, poles) share one normal.
        std::map<std::tuple<int, float, float, float>, Vec3> shared;
        for (size_t v = 0; v < sum.size(); ++v) {
            const Vec3& p = mesh_.positions[v];
            Vec3& total = shared[{groups_[v], p.x, p.y, p.z}];
            total = total + sum[v];
        }
        mesh_.normals.resize(sum.size());
        for (size_t v = 0; v < sum.size(); ++v) {
            const Vec3& p = mesh_.positions[v];
            mesh_.normals[v] = normalize(shared[{groups_[v], p.x, p.y, p.z}]);
        }
    }

    static std::array<Influence, 4> strongestFour(Weights w) {
        // Merge duplicates, keep the four largest, renormalise.
        Weights merged;
        for (const Influence& i : w) {
            auto it = std::find_if(merged.begin(), merged.end(),
                                   [&](const Influence& m) { return m.bone == i.bone; });
            if (it != merged.end())
                it->weight += i.weight;
            else if (i.weight > 0)
                merged.push_back(i);
        }
        std::stable_sort(merged.begin(), merged.end(), [](const Influence& a, const Influence& b) {
            return a.weight > b.weight;
        });
        merged.erase(std::remove_if(merged.begin(), merged.end(),
                                    [](const Influence& i) { return i.weight < 0.01f; }),
                     merged.end());
        if (merged.size() > 4)
            merged.resize(4);
        float total = 0;
        for (const Influence& i : merged)
            total += i.weight;
        std::array<Influence, 4> out{};
        for (size_t k = 0; k < merged.size(); ++k)
            out[k] = {merged[k].bone, merged[k].weight / total};
        return out;
    }

    Mesh& mesh_;
    std::vector<int> groups_;
    std::vector<Weights> rawWeights_;
    std::vector<uint32_t> faceMaterial_;
    int nextGroup_ = 0;
};

// Signed power used by superellipses: keeps the sign, flattens the sides for exponents > 2.
float spow(float v, float e) {
    return std::copysign(std::pow(std::fabs(v), e), v);
}

// A tube along `axis` with a rounded-rectangle cross-section. Stations give the distance along
// the axis and the half extents towards `side` and towards the hero's front.
struct Station {
    float t, halfSide, halfFront;
};

struct Tube {
    Vec3 origin, axis, side, front;
    std::vector<Station> stations;
    float roundness = 3.0f; // 2 = ellipse; larger = squarer
    int segments = 16;
    AtlasRegion region;
    float vStart = 0, vEnd = 1; // station t mapped to texture v over this range
    bool capStart = true, capEnd = true;
};

Vec3 tubePoint(const Tube& tube, const Station& s, float angle) {
    float e = 2.0f / tube.roundness;
    float c = spow(std::cos(angle), e), sn = spow(std::sin(angle), e);
    return tube.origin + tube.axis * s.t + tube.side * (c * s.halfSide) +
           tube.front * (sn * s.halfFront);
}

// Ring angle for column i: the front of the hero at the middle of the texture, seam at the back.
float ringAngle(const Tube& tube, int i) {
    return kPi * 0.5f + 2 * kPi * (float(i) / float(tube.segments) - 0.5f);
}

void addTube(MeshBuilder& b, const Tube& tube) {
    auto axisPoint = [&](Vec3 p) {
        return tube.origin + tube.axis * dot(p - tube.origin, tube.axis);
    };
    auto position = [&](int i, int j) {
        // The seam column reuses column 0's angle exactly so its vertices coincide.
        int column = i == tube.segments ? 0 : i;
        return tubePoint(tube, tube.stations[size_t(j)], ringAngle(tube, column));
    };
    auto uv = [&](int i, int j) {
        float t = (tube.stations[size_t(j)].t - tube.vStart) / (tube.vEnd - tube.vStart);
        return std::array<float, 2>{tube.region.u(float(i) / float(tube.segments)),
                                    tube.region.v(std::clamp(t, 0.0f, 1.0f))};
    };
    b.grid(tube.segments, int(tube.stations.size()) - 1, position, uv, axisPoint);
    auto ring = [&](const Station& s) {
        std::vector<Vec3> points;
        for (int i = 0; i < tube.segments; ++i)
            points.push_back(tubePoint(tube, s, ringAngle(tube, i)));
        return points;
    };
    const Station &first = tube.stations.front(), &last = tube.stations.back();
    if (tube.capStart)
        b.cap(ring(first), tube.origin + tube.axis * (first.t + 0.5f), kTrimRegion);
    if (tube.capEnd)
        b.cap(ring(last), tube.origin + tube.axis * (last.t - 0.5f), kTrimRegion);
}

// A rounded box (superellipsoid) with u around `up` (front in the middle) and v from top to
// bottom. The angular ranges allow open patches such as the visor.
struct RoundBox {
    Vec3 centre, side{1, 0, 0}, up{0, 1, 0}, front{0, 0, -1};
    Vec3 half{1, 1, 1}; // along side, up, front
    float roundness = 3.0f;
    int columns = 16, rows = 10;
    AtlasRegion region;
    float uFrom = 0, uTo = 1, vFrom = 0, vTo = 1; // parameter range covered (0..1 each)
};

Vec3 roundBoxPoint(const RoundBox& box, float s, float t) {
    float e = 2.0f / box.roundness;
    float angle = kPi * 0.5f + 2 * kPi * (s - 0.5f);
    float lat = kPi * 0.5f - kPi * t; // +pi/2 at the top
    float cl = spow(std::cos(lat), e), sl = spow(std::sin(lat), e);
    if (t <= 0 || t >= 1)
        cl = 0; // exact poles
    float ca = spow(std::cos(angle), e), sa = spow(std::sin(angle), e);
    if (s <= 0 || s >= 1)
        sa = -1, ca = 0; // exact seam at the back
    return box.centre + box.side * (cl * ca * box.half.x) + box.front * (cl * sa * box.half.z) +
           box.up * (sl * box.half.y);
}

void addRoundBox(MeshBuilder& b, const RoundBox& box) {
    auto param = [&](int i, int j) {
        return std::array<float, 2>{box.uFrom +
                                        (box.uTo - box.uFrom) * float(i) / float(box.columns),
                                    box.vFrom + (box.vTo - box.vFrom) * float(j) / float(box.rows)};
    };
    auto position = [&](int i, int j) {
        auto p = param(i, j);
        return roundBoxPoint(box, p[0], p[1]);
    };
    auto uv = [&](int i, int j) {
        auto p = param(i, j);
        return std::array<float, 2>{box.region.u(p[0]), box.region.v(p[1])};
    };
    b.grid(box.columns, box.rows, position, uv, [&](Vec3) { return box.centre; });
}

// Per-vertex colour: the baked light times an albedo, always opaque.
Color4 shaded(Vec3 normal, Color4 albedo = {1, 1, 1, 1}) {
    float light = std::max(0.0f, dot(normal, kLightDirection));
    float sky = 0.5f + 0.5f * normal.y;
    float shade = std::min(1.0f, 0.34f + 0.62f * light + 0.14f * sky);
    return {albedo.r * shade, albedo.g * shade, albedo.b * shade, 1.0f};
}

void bakeColors(Mesh& mesh, const std::function<Color4(size_t face)>& albedoOfFace) {
    std::vector<Color4> albedo(mesh.positions.size(), Color4{});
    for (size_t f = 0; f < mesh.faces.size(); ++f)
        for (uint32_t v : mesh.faces[f])
            albedo[v] = albedoOfFace(f);
    mesh.colors.resize(mesh.positions.size());
    for (size_t v = 0; v < mesh.positions.size(); ++v)
        mesh.colors[v] = shaded(mesh.normals[v], albedo[v]);
}

Material texturedMaterial(const std::string& name, const char* texture) {
    Material m;
    m.name = name;
    m.diffuse = {1, 1, 1, 1};
    m.power = 24;
    m.specular = {0.35f, 0.35f, 0.35f};
    m.texture = texture;
    return m;
}

Material plainMaterial(const std::string& name, Color4 colour, Vec3 emissive = {}) {
    Material m;
    m.name = name;
    m.diffuse = colour;
    m.power = 40;
    m.specular = {0.6f, 0.6f, 0.6f};
    m.emissive = emissive;
    return m;
}

// ---- weights ---------------------------------------------------------------------------

struct Bones {
    int hips, spine, chest, neck, head;
    int shoulder[2], upperArm[2], lowerArm[2], hand[2];
    int upperLeg[2], lowerLeg[2], foot[2], toe[2];

    explicit Bones(const Model& m) {
        hips = m.findFrame("Hips");
        spine = m.findFrame("Spine");
        chest = m.findFrame("Chest");
        neck = m.findFrame("Neck");
        head = m.findFrame("Head");
        const char* prefix[2] = {"L_", "R_"};
        for (int s = 0; s < 2; ++s) {
            std::string p = prefix[s];
            shoulder[s] = m.findFrame(p + "Shoulder");
            upperArm[s] = m.findFrame(p + "UpperArm");
            lowerArm[s] = m.findFrame(p + "LowerArm");
            hand[s] = m.findFrame(p + "Hand");
            upperLeg[s] = m.findFrame(p + "UpperLeg");
            lowerLeg[s] = m.findFrame(p + "LowerLeg");
            foot[s] = m.findFrame(p + "Foot");
            toe[s] = m.findFrame(p + "Toe");
        }
    }
};

// Torso: hips, spine and chest blended over the waist; the shoulder tops follow the collar bones.
Weights torsoWeights(const Bones& bones, Vec3 p) {
    float toSpine = smoothstep(27.5f, 31.5f, p.y);
    float toChest = smoothstep(33.0f, 37.0f, p.y);
    Weights w;
    w.push_back({bones.hips, 1 - toSpine});
    w.push_back({bones.spine, toSpine * (1 - toChest)});
    float collar = smoothstep(4.0f, 7.5f, std::fabs(p.x)) * smoothstep(38.0f, 41.0f, p.y) * 0.5f;
    w.push_back({bones.chest, toSpine * toChest * (1 - collar)});
    w.push_back({bones.shoulder[p.x > 0 ? 0 : 1], toSpine * toChest * collar});
    float toNeck = smoothstep(42.0f, 43.5f, p.y);
    if (toNeck > 0) {
        for (Influence& i : w)
            i.weight *= 1 - toNeck;
        w.push_back({bones.neck, toNeck});
    }
    return w;
}

// ---- meshes -------------------------------------------------------------------------------

const Station kTorsoStations[] = {
    {22.2f, 3.2f, 2.4f}, {23.2f, 4.9f, 3.3f}, {25.0f, 5.9f, 3.8f}, {27.0f, 5.6f, 3.5f},
    {28.8f, 4.7f, 3.0f}, {30.4f, 4.8f, 3.1f}, {32.2f, 5.7f, 3.7f}, {34.5f, 6.9f, 4.3f},
    {37.0f, 7.6f, 4.6f}, {39.4f, 7.7f, 4.5f}, {41.2f, 7.0f, 4.0f}, {42.4f, 5.0f, 3.3f},
    {43.2f, 2.6f, 2.2f},
};

Tube torsoTube(float grow) {
    Tube tube;
    tube.origin = {0, 0, 0.3f};
    tube.axis = kUp;
    tube.side = {1, 0, 0};
    tube.front = kFront;
    for (const Station& s : kTorsoStations)
        tube.stations.push_back({s.t, s.halfSide + grow, s.halfFront + grow});
    tube.roundness = 3.2f;
    tube.segments = 20;
    tube.region = kTorsoRegion;
    // v runs from the top, so flip the mapping: station t maps to (top - t) / (top - bottom).
    tube.vStart = kTorsoTop;
    tube.vEnd = kTorsoBottom;
    return tube;
}

// Upper arm, elbow and forearm in one tube, the shoulder pad and the hand; s = 0 left, 1 right.
void addArm(MeshBuilder& b, const Model& model, const Bones& bones, int s) {
    const float sign = s == 0 ? 1.0f : -1.0f;
    const Vec3 dir = armDirection(sign);
    const Vec3 shoulderJoint = model.frames[size_t(bones.upperArm[s])].bindWorld;
    const Vec3 armSide = normalize(cross(kFront, dir)) * sign; // towards the body

    // Arm: upper arm, elbow, forearm; blended over the elbow and into the wrist.
    b.weights = [&, s, shoulderJoint, dir](Vec3 p) {
        float t = dot(p - shoulderJoint, dir);
        float toLower = smoothstep(7.6f, 10.6f, t);
        float toHand = 0.5f * smoothstep(16.2f, 17.8f, t);
        float collar = 0.35f * (1 - smoothstep(-0.8f, 1.5f, t));
        return Weights{{bones.shoulder[s], collar},
                       {bones.upperArm[s], (1 - collar) * (1 - toLower)},
                       {bones.lowerArm[s], (1 - collar) * toLower * (1 - toHand)},
                       {bones.hand[s], toHand}};
    };
    Tube arm;
    arm.origin = shoulderJoint;
    arm.axis = dir;
    arm.side = armSide;
    arm.front = kFront;
    arm.stations = {{-0.8f, 2.2f, 2.3f}, {1.5f, 2.3f, 2.4f},  {5.0f, 2.1f, 2.2f},
                    {7.6f, 1.8f, 1.9f},  {9.0f, 1.6f, 1.7f},  {10.4f, 2.1f, 2.2f},
                    {13.0f, 2.4f, 2.5f}, {16.2f, 2.0f, 2.1f}, {17.8f, 1.4f, 1.5f}};
    arm.roundness = 2.6f;
    arm.segments = 14;
    arm.region = kArmRegion;
    arm.vStart = kArmStart;
    arm.vEnd = kArmEnd;
    addTube(b, arm);

    // Shoulder pad riding on the upper arm.
    b.weights = [&, s](Vec3) { return Weights{{bones.upperArm[s], 1}}; };
    RoundBox pad;
    pad.centre = shoulderJoint + Vec3{sign * 0.6f, 0.9f, 0.3f};
    pad.half = {3.1f, 2.5f, 3.2f};
    pad.roundness = 2.6f;
    pad.columns = 14;
    pad.rows = 8;
    pad.region = kPadRegion;
    addRoundBox(b, pad);

    // Hand: a flat block with the palm towards the body.
    const Vec3 wrist = model.frames[size_t(bones.hand[s])].bindWorld;
    b.weights = [&, s, wrist, dir](Vec3 p) {
        float toHand = smoothstep(-0.6f, 0.8f, dot(p - wrist, dir));
        return Weights{{bones.lowerArm[s], 1 - toHand}, {bones.hand[s], toHand}};
    };
    RoundBox hand;
    hand.centre = wrist + dir * 2.2f;
    hand.side = armSide;
    hand.up = dir * -1.0f;
    hand.front = kFront;
    hand.half = {1.1f, 2.3f, 1.7f};
    hand.roundness = 2.8f;
    hand.columns = 12;
    hand.rows = 8;
    hand.region = kHandRegion;
    addRoundBox(b, hand);
}

// Thigh, knee and shin in one tube, the knee guard and the foot; s = 0 left, 1 right.
void addLeg(MeshBuilder& b, const Model& model, const Bones& bones, int s) {
    const float sign = s == 0 ? 1.0f : -1.0f;
    // Leg: thigh, knee, shin; blended into the hips at the top and the foot at the ankle.
    const Vec3 hipJoint = model.frames[size_t(bones.upperLeg[s])].bindWorld;
    b.weights = [&, s, hipJoint](Vec3 p) {
        float t = hipJoint.y - p.y;
        float hips = 0.45f * (1 - smoothstep(-1.5f, 1.5f, t));
        float toLower = smoothstep(9.6f, 12.0f, t);
        float toFoot = 0.6f * smoothstep(19.6f, 21.6f, t);
        return Weights{{bones.hips, hips},
                       {bones.upperLeg[s], (1 - hips) * (1 - toLower)},
                       {bones.lowerLeg[s], (1 - hips) * toLower * (1 - toFoot)},
                       {bones.foot[s], toFoot}};
    };
    Tube leg;
    leg.origin = hipJoint;
    leg.axis = {0, -1, 0};
    leg.side = {sign, 0, 0};
    leg.front = kFront;
    leg.stations = {{kLegStart, 2.9f, 3.0f}, {1.5f, 3.1f, 3.2f},  {5.5f, 2.8f, 3.0f},
                    {9.4f, 2.2f, 2.4f},      {10.8f, 2.0f, 2.2f}, {12.2f, 2.5f, 2.8f},
                    {15.0f, 2.6f, 2.9f},     {18.5f, 2.2f, 2.4f}, {kLegEnd, 1.7f, 1.8f}};
    leg.roundness = 2.6f;
    leg.segments = 14;
    leg.region = kLegRegion;
    leg.vStart = kLegStart;
    leg.vEnd = kLegEnd;
    addTube(b, leg);

    // Knee guard on the shin.
    b.weights = [&, s](Vec3) { return Weights{{bones.lowerLeg[s], 1}}; };
    RoundBox knee;
    knee.centre = hipJoint + Vec3{0, -11.0f, -2.0f};
    knee.half = {1.9f, 2.0f, 1.3f};
    knee.roundness = 2.4f;
    knee.columns = 10;
    knee.rows = 6;
    knee.region = kPadRegion;
    addRoundBox(b, knee);

    // Foot: heel and sole on the foot bone, the front third on the toe bone.
    const Vec3 ankle = model.frames[size_t(bones.foot[s])].bindWorld;
    b.weights = [&, s](Vec3 p) {
        float toToe = smoothstep(-2.6f, -3.8f, p.z);
        return Weights{{bones.foot[s], 1 - toToe}, {bones.toe[s], toToe}};
    };
    RoundBox foot;
    foot.centre = {ankle.x, 1.55f, -1.2f};
    foot.half = {2.1f, 1.55f, 4.0f};
    foot.roundness = 4.0f;
    foot.columns = 16;
    foot.rows = 8;
    foot.region = kFootRegion;
    addRoundBox(b, foot);
}

void addBodyParts(MeshBuilder& b, const Model& model, const Bones& bones) {
    // Torso.
    b.weights = [&](Vec3 p) { return torsoWeights(bones, p); };
    addTube(b, torsoTube(0));

    // Neck: chest, neck and head blended along its length.
    b.weights = [&](Vec3 p) {
        float toNeck = smoothstep(41.8f, 43.0f, p.y), toHead = smoothstep(44.2f, 45.4f, p.y);
        return Weights{{bones.chest, 1 - toNeck},
                       {bones.neck, toNeck * (1 - toHead)},
                       {bones.head, toNeck * toHead}};
    };
    Tube neck;
    neck.origin = {0, 0, 0.2f};
    neck.axis = kUp;
    neck.side = {1, 0, 0};
    neck.front = kFront;
    neck.stations = {
        {41.6f, 2.0f, 2.0f}, {43.0f, 1.8f, 1.8f}, {44.3f, 1.8f, 1.8f}, {46.0f, 2.0f, 2.0f}};
    neck.roundness = 2.0f;
    neck.segments = 12;
    neck.region = kNeckRegion;
    neck.vStart = 46.0f;
    neck.vEnd = 41.6f;
    addTube(b, neck);

    for (int s = 0; s < 2; ++s) {
        addArm(b, model, bones, s);
        addLeg(b, model, bones, s);
    }
}

Mesh makeBody(const Model& model) {
    Mesh mesh;
    mesh.name = "Body";
    mesh.frame = 0;
    mesh.materials.push_back(texturedMaterial("BodyArmour", kBodyTexture));
    MeshBuilder b(mesh);
    Bones bones(model);
    addBodyParts(b, model, bones);
    b.finish();
    bakeColors(mesh, [](size_t) { return Color4{}; });
    return mesh;
}

// Skinned highlight: a polished plate just above the chest, following the torso's weights.
Mesh makeChestPlate(const Model& model) {
    Mesh mesh;
    mesh.name = "ChestPlate";
    mesh.frame = 0;
    mesh.materials.push_back(texturedMaterial("ChestChrome", kHighlightTexture));
    MeshBuilder b(mesh);
    Bones bones(model);
    b.weights = [&](Vec3 p) { return torsoWeights(bones, p); };
    Tube torso = torsoTube(0.22f);
    const float yLow = 33.6f, yHigh = 40.4f;
    auto stationAt = [&](float y) {
        const auto& st = torso.stations;
        for (size_t k = 0; k + 1 < st.size(); ++k)
            if (y <= st[k + 1].t) {
                float f = (y - st[k].t) / (st[k + 1].t - st[k].t);
                return Station{y, mix(st[k].halfSide, st[k + 1].halfSide, f),
                               mix(st[k].halfFront, st[k + 1].halfFront, f)};
            }
        return st.back();
    };
    const int columns = 10, rows = 6;
    auto position = [&](int i, int j) {
        float y = mix(yHigh, yLow, float(j) / rows);
        // Narrower towards the waist: a shield shape.
        float spread = mix(0.95f, 0.55f, float(j) / rows);
        float angle = kPi * 0.5f + spread * (float(i) / columns - 0.5f) * 2.0f;
        return tubePoint(torso, stationAt(y), angle);
    };
    auto uv = [&](int i, int j) {
        return std::array<float, 2>{float(i) / columns, float(j) / rows};
    };
    b.grid(columns, rows, position, uv, [&](Vec3 p) { return Vec3{0, p.y, 0.3f}; });
    b.finish();
    return mesh;
}

// Rigid helmet on the head frame: armour material and a dark glass face (second material).
Mesh makeHead(const Model& model) {
    Mesh mesh;
    mesh.name = "HeadShell";
    mesh.frame = model.findFrame("Head");
    mesh.materials.push_back(texturedMaterial("HelmetArmour", kBodyTexture));
    mesh.materials.push_back(
        plainMaterial("FaceGlass", {0.14f, 0.24f, 0.42f, 1}, {0.02f, 0.05f, 0.1f}));
    MeshBuilder b(mesh);
    b.offset = model.frames[size_t(mesh.frame)].bindWorld;
    RoundBox head;
    head.centre = b.offset + Vec3{0, 3.1f, -0.2f};
    head.half = {3.3f, 3.4f, 3.7f};
    head.roundness = 3.2f;
    head.columns = 20;
    head.rows = 12;
    head.region = kHeadRegion;
    // The face band (front, middle rows) gets the glass material.
    const int faceColumns[2] = {7, 13}, faceRows[2] = {4, 7};
    auto position = [&](int i, int j) {
        return roundBoxPoint(head, float(i) / head.columns, float(j) / head.rows);
    };
    auto uv = [&](int i, int j) {
        return std::array<float, 2>{head.region.u(float(i) / head.columns),
                                    head.region.v(float(j) / head.rows)};
    };
    // Two passes over the same grid shape: armour everywhere except the face band, then the band.
    for (int pass = 0; pass < 2; ++pass) {
        b.material = pass;
        int group = b.newGroup();
        uint32_t first = uint32_t(mesh.positions.size());
        for (int j = 0; j <= head.rows; ++j)
            for (int i = 0; i <= head.columns; ++i) {
                auto t = uv(i, j);
                b.vertex(position(i, j), t[0], t[1], group);
            }
        auto index = [&](int i, int j) { return first + uint32_t(j * (head.columns + 1) + i); };
        for (int j = 0; j < head.rows; ++j)
            for (int i = 0; i < head.columns; ++i) {
                bool face = i >= faceColumns[0] && i < faceColumns[1] && j >= faceRows[0] &&
                            j < faceRows[1];
                if (face != (pass == 1))
                    continue;
                b.triangle(index(i, j), index(i + 1, j), index(i + 1, j + 1), head.centre);
                b.triangle(index(i, j), index(i + 1, j + 1), index(i, j + 1), head.centre);
            }
    }
    b.finish();
    // Drop vertices no face uses (each pass made a full grid).
    std::vector<int> remap(mesh.positions.size(), -1);
    Mesh compact = mesh;
    compact.positions.clear();
    compact.normals.clear();
    compact.uvs.clear();
    for (auto& f : compact.faces)
        for (uint32_t& v : f) {
            if (remap[v] < 0) {
                remap[v] = int(compact.positions.size());
                compact.positions.push_back(mesh.positions[v]);
                compact.normals.push_back(mesh.normals[v]);
                compact.uvs.push_back(mesh.uvs[v]);
            }
            v = uint32_t(remap[v]);
        }
    // Armour vertices carry the light only; the glass also carries its dark blue.
    bakeColors(compact, [&](size_t f) {
        return compact.faceMaterials[f] == 1 ? Color4{0.14f, 0.24f, 0.42f, 1} : Color4{};
    });
    return compact;
}

// Rigid highlight: a visor just in front of the face glass.
Mesh makeVisor(const Model& model) {
    Mesh mesh;
    mesh.name = "Visor";
    mesh.frame = model.findFrame("Head");
    mesh.materials.push_back(texturedMaterial("VisorShine", kHighlightTexture));
    MeshBuilder b(mesh);
    b.offset = model.frames[size_t(mesh.frame)].bindWorld;
    RoundBox visor;
    visor.centre = b.offset + Vec3{0, 3.1f, -0.2f};
    visor.half = {3.45f, 3.55f, 3.88f};
    visor.roundness = 3.2f;
    visor.columns = 8;
    visor.rows = 4;
    visor.uFrom = 6.6f / 20;
    visor.uTo = 13.4f / 20;
    visor.vFrom = 3.7f / 12;
    visor.vTo = 7.3f / 12;
    visor.region = {0, 0, kBodyTextureSize, kBodyTextureSize};
    addRoundBox(b, visor);
    b.finish();
    return mesh;
}

// The mesh without any material: an antenna on its own (matrix-animated) frame.
Mesh makeAntenna(const Model& model) {
    Mesh mesh;
    mesh.name = "AntennaRod";
    mesh.frame = model.findFrame("Antenna");
    MeshBuilder b(mesh);
    b.offset = model.frames[size_t(mesh.frame)].bindWorld;
    Tube rod;
    rod.origin = b.offset;
    rod.axis = kUp;
    rod.side = {1, 0, 0};
    rod.front = kFront;
    rod.stations = {{-1.0f, 0.45f, 0.45f}, {0.3f, 0.3f, 0.3f}, {4.6f, 0.18f, 0.18f}};
    rod.roundness = 2.0f;
    rod.segments = 8;
    rod.region = kTrimRegion;
    rod.capEnd = false;
    addTube(b, rod);
    const size_t rodFaces = mesh.faces.size();
    RoundBox tip; // a ball on top
    tip.centre = b.offset + Vec3{0, 4.9f, 0};
    tip.half = {0.55f, 0.55f, 0.55f};
    tip.roundness = 2.0f;
    tip.columns = 10;
    tip.rows = 6;
    tip.region = kTrimRegion;
    addRoundBox(b, tip);
    b.finish();
    bakeColors(mesh, [&](size_t f) {
        return f < rodFaces ? Color4{0.32f, 0.33f, 0.36f, 1} : Color4{1.0f, 0.25f, 0.12f, 1};
    });
    return mesh;
}

// Sword in the right hand: grip, guard and pommel in armour, an untextured glowing blade.
Mesh makeSword(const Model& model) {
    Mesh mesh;
    mesh.name = "Sword";
    mesh.frame = model.findFrame("Weapon");
    mesh.materials.push_back(texturedMaterial("SwordHilt", kBodyTexture));
    mesh.materials.push_back(
        plainMaterial("SwordBlade", {0.55f, 0.85f, 1.0f, 1}, {0.3f, 0.5f, 0.7f}));
    MeshBuilder b(mesh);
    const Vec3 origin = model.frames[size_t(mesh.frame)].bindWorld;
    b.offset = origin;
    const Vec3 along{0, 0, -1}; // the blade points ahead of the hero in the bind pose

    b.material = 0;
    Tube grip;
    grip.origin = origin;
    grip.axis = along;
    grip.side = {1, 0, 0};
    grip.front = {0, 1, 0};
    grip.stations = {{-2.6f, 0.75f, 0.75f}, {-2.0f, 0.55f, 0.55f}, {2.2f, 0.6f, 0.6f}};
    grip.roundness = 2.0f;
    grip.segments = 10;
    grip.region = kWeaponRegion;
    grip.vStart = -2.6f;
    grip.vEnd = 2.2f;
    addTube(b, grip);
    RoundBox guard;
    guard.centre = origin + along * 2.6f;
    guard.side = {1, 0, 0};
    guard.up = along;
    guard.front = {0, 1, 0};
    guard.half = {0.8f, 0.45f, 2.6f};
    guard.roundness = 3.0f;
    guard.columns = 12;
    guard.rows = 6;
    guard.region = kWeaponRegion;
    addRoundBox(b, guard);

    // The blade: a flat, tapering lozenge section.
    b.material = 1;
    Tube blade;
    blade.origin = origin;
    blade.axis = along;
    blade.side = {1, 0, 0};
    blade.front = {0, 1, 0};
    blade.stations = {{2.9f, 0.28f, 1.1f},
                      {12.0f, 0.26f, 1.0f},
                      {20.0f, 0.2f, 0.8f},
                      {23.5f, 0.1f, 0.4f},
                      {24.6f, 0.02f, 0.04f}};
    blade.roundness = 2.0f;
    blade.segments = 8;
    blade.region = kTrimRegion;
    blade.capEnd = false;
    addTube(b, blade);
    b.finish();
    bakeColors(mesh, [&](size_t f) {
        return mesh.faceMaterials[f] == 1 ? Color4{0.6f, 0.92f, 1.0f, 1} : Color4{};
    });
    // The blade glows: keep it bright whatever the baked light says.
    for (size_t f = 0; f < mesh.faces.size(); ++f)
        if (mesh.faceMaterials[f] == 1)
            for (uint32_t v : mesh.faces[f]) {
                Color4& c = mesh.colors[v];
                c = {std::max(c.r, 0.5f), std::max(c.g, 0.82f), std::max(c.b, 0.95f), 1};
            }
    return mesh;
}

// Bounding box of the whole figure; the program loads it but never draws it.
Mesh makeBoundBox() {
    Mesh mesh;
    mesh.name = "BoundingBox";
    mesh.frame = 0;
    Material m = texturedMaterial("BoundMarker", kBoundTexture);
    mesh.materials.push_back(m);
    MeshBuilder b(mesh);
    const Vec3 lo{-13.0f, 0.0f, -9.0f}, hi{13.0f, 52.0f, 9.0f};
    const Vec3 centre = (lo + hi) * 0.5f;
    // Six faces, four vertices each, so every face keeps its flat normal.
    const Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int axis = 0; axis < 3; ++axis)
        for (int sign = 0; sign < 2; ++sign) {
            Vec3 n = axes[axis] * (sign ? 1.0f : -1.0f);
            Vec3 u = axes[(axis + 1) % 3], v = axes[(axis + 2) % 3];
            Vec3 halfSize = (hi - lo) * 0.5f;
            auto extent = [&](Vec3 a) { return std::fabs(dot(a, halfSize)); };
            Vec3 c = centre + n * extent(n);
            int group = b.newGroup();
            uint32_t q[4];
            for (int k = 0; k < 4; ++k) {
                float su = (k == 1 || k == 2) ? 1.0f : -1.0f, sv = k >= 2 ? 1.0f : -1.0f;
                q[k] = b.vertex(c + u * (su * extent(u)) + v * (sv * extent(v)), (su + 1) * 0.5f,
                                (sv + 1) * 0.5f, group);
            }
            b.triangle(q[0], q[1], q[2], centre);
            b.triangle(q[0], q[2], q[3], centre);
        }
    b.finish();
    bakeColors(mesh, [](size_t) { return Color4{}; });
    return mesh;
}

} // namespace

Model buildHeroGeometry() {
    Model model;
    addSkeleton(model);
    model.meshes.push_back(makeBody(model));
    model.meshes.push_back(makeChestPlate(model));
    model.meshes.push_back(makeBoundBox());
    model.meshes.push_back(makeHead(model));
    model.meshes.push_back(makeVisor(model));
    model.meshes.push_back(makeAntenna(model));
    model.meshes.push_back(makeSword(model));
    return model;
}

Model buildHero() {
    Model model = buildHeroGeometry();
    addHeroAnimations(model);
    return model;
}

} // namespace assetgen
