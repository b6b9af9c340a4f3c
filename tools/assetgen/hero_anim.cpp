// The hero's five animation sets. Each set is a pose function of time (angles per frame, a hips
// offset and a weapon scale) sampled at 30 keys per second. Every set animates the same frames
// and ends on its first pose, so it loops cleanly and a cross-fade never meets a frame that one
// set leaves alone.
#include "hero.h"

#include <cmath>
#include <functional>

namespace assetgen {

namespace {

constexpr uint32_t kTicksPerSecond = 4800;
constexpr uint32_t kTicksPerKey = 160; // 30 keys per second
constexpr float kTwoPi = 2 * kPi;

struct Pose {
    std::vector<Vec3> angles; // per frame: rotation about x, then y, then z (radians)
    Vec3 hipsOffset;          // added to the hips' bind translation
    float weaponScale = 1;
    Vec3 antenna; // antenna sway angles (x, z used)
};

class Rig {
public:
    explicit Rig(const Model& model) : model_(model) {}

    Pose blank() const {
        Pose p;
        p.angles.resize(model_.frames.size());
        return p;
    }

    Vec3& at(Pose& pose, const char* frame) const {
        return pose.angles[size_t(model_.findFrame(frame))];
    }

    // Adds to the left and right bones of a part. The right side's y and z rotations are
    // mirrored, so equal values move both sides symmetrically (+z raises either arm sideways).
    void sides(Pose& pose, const char* part, Vec3 left, Vec3 right) const {
        std::string l = std::string("L_") + part, r = std::string("R_") + part;
        Vec3& a = pose.angles[size_t(model_.findFrame(l))];
        Vec3& b = pose.angles[size_t(model_.findFrame(r))];
        a = a + left;
        b = b + Vec3{right.x, -right.y, -right.z};
    }

private:
    const Model& model_;
};

// A relaxed guard: knees soft, elbows bent, the sword tilted up in front.
Pose stance(const Rig& rig) {
    Pose p = rig.blank();
    p.hipsOffset = {0, -0.1f, 0};
    rig.sides(p, "UpperLeg", {0.1f, 0, 0.02f}, {0.1f, 0, 0.02f});
    rig.sides(p, "LowerLeg", {-0.2f, 0, 0}, {-0.2f, 0, 0});
    rig.sides(p, "Foot", {0.1f, 0, -0.02f}, {0.1f, 0, -0.02f});
    rig.sides(p, "UpperArm", {0.12f, 0, 0.05f}, {0.15f, 0, 0.05f});
    rig.sides(p, "LowerArm", {0.35f, 0, 0}, {0.55f, 0, 0});
    return p;
}

Pose add(Pose a, const Pose& b) {
    for (size_t i = 0; i < a.angles.size(); ++i)
        a.angles[i] = a.angles[i] + b.angles[i];
    a.hipsOffset = a.hipsOffset + b.hipsOffset;
    a.weaponScale *= b.weaponScale;
    a.antenna = a.antenna + b.antenna;
    return a;
}

// Periodic Catmull-Rom through key poses: smooth through every key and across the loop.
struct PoseKey {
    float time;
    Pose pose;
};

Vec3 catmull(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, float t) {
    float t2 = t * t, t3 = t2 * t;
    return (p1 * 2.0f + (p2 - p0) * t + (p0 * 2.0f - p1 * 5.0f + p2 * 4.0f - p3) * t2 +
            (p1 * 3.0f - p0 - p2 * 3.0f + p3) * t3) *
           0.5f;
}

float catmull(float a, float b, float c, float d, float t) {
    return catmull(Vec3{a, 0, 0}, Vec3{b, 0, 0}, Vec3{c, 0, 0}, Vec3{d, 0, 0}, t).x;
}

Pose interpolate(const std::vector<PoseKey>& keys, float period, float time) {
    const size_t n = keys.size();
    size_t k = 0;
    while (k + 1 < n && keys[k + 1].time <= time)
        ++k;
    const PoseKey& p1 = keys[k];
    const PoseKey& p2 = keys[(k + 1) % n];
    const PoseKey& p0 = keys[(k + n - 1) % n];
    const PoseKey& p3 = keys[(k + 2) % n];
    float end = k + 1 < n ? p2.time : period;
    float t = (time - p1.time) / (end - p1.time);
    Pose out = p1.pose;
    for (size_t i = 0; i < out.angles.size(); ++i)
        out.angles[i] =
            catmull(p0.pose.angles[i], p1.pose.angles[i], p2.pose.angles[i], p3.pose.angles[i], t);
    out.hipsOffset =
        catmull(p0.pose.hipsOffset, p1.pose.hipsOffset, p2.pose.hipsOffset, p3.pose.hipsOffset, t);
    out.weaponScale = catmull(p0.pose.weaponScale, p1.pose.weaponScale, p2.pose.weaponScale,
                              p3.pose.weaponScale, t);
    out.antenna = catmull(p0.pose.antenna, p1.pose.antenna, p2.pose.antenna, p3.pose.antenna, t);
    return out;
}

float smoother(float x) {
    x = clamp01(x);
    return x * x * x * (x * (x * 6 - 15) + 10);
}

// ---- the sets ------------------------------------------------------------------------------

Pose idle(const Rig& rig, float t, float period) {
    const float q = kTwoPi * t / period;
    Pose p = stance(rig);
    rig.at(p, "Chest") = rig.at(p, "Chest") + Vec3{-0.03f + 0.03f * std::sin(q), 0, 0};
    rig.sides(p, "Shoulder", {0, 0, 0.03f * std::sin(q)}, {0, 0, 0.03f * std::sin(q)});
    rig.sides(p, "UpperArm", {0.04f * std::sin(q), 0, -0.02f * std::sin(q)},
              {0.04f * std::sin(q), 0, -0.02f * std::sin(q)});
    rig.at(p, "Head") = Vec3{0.06f * std::sin(2 * q), 0.3f * std::sin(q), 0};
    rig.at(p, "Neck") = Vec3{0, 0.08f * std::sin(q), 0};
    p.hipsOffset = p.hipsOffset + Vec3{0.3f * std::sin(q), -0.1f * std::cos(2 * q), 0};
    rig.at(p, "Hips") = Vec3{0, 0, -0.015f * std::sin(q)};
    rig.sides(p, "UpperLeg", {0, 0, -0.015f * std::sin(q)}, {0, 0, 0.015f * std::sin(q)});
    rig.sides(p, "Foot", {0, 0, 0.015f * std::sin(q)}, {0, 0, -0.015f * std::sin(q)});
    p.antenna = {0.05f * std::sin(2 * q), 0, 0.06f * std::sin(q)};
    return p;
}

// One stride cycle of a gait at phase (radians); `amount` 0 walks, 1 runs.
Pose gait(const Rig& rig, float phase, float amount) {
    Pose p = stance(rig);
    const float swing = mix(0.5f, 0.85f, amount), kneeFlex = mix(0.8f, 1.5f, amount);
    for (int s = 0; s < 2; ++s) {
        float ph = phase + (s ? kPi : 0.0f);
        float thigh = swing * std::sin(ph);
        float lift = std::max(0.0f, std::cos(ph));
        float knee = -(0.12f + kneeFlex * lift * lift);
        float foot = -0.5f * (thigh + knee) + 0.25f * std::max(0.0f, -std::sin(ph + 0.6f));
        float arm = -mix(0.35f, 0.65f, amount) * std::sin(ph);
        float elbow = mix(0.35f, 1.25f, amount) + 0.15f * std::sin(ph);
        Vec3 legs{thigh, 0, 0}, shins{knee, 0, 0}, feet{foot, 0, 0};
        Vec3 arms{arm, 0, mix(0.02f, 0.12f, amount)}, elbows{elbow, 0, 0};
        if (s == 0) {
            rig.sides(p, "UpperLeg", legs, {});
            rig.sides(p, "LowerLeg", shins, {});
            rig.sides(p, "Foot", feet, {});
            rig.sides(p, "UpperArm", arms, {});
            rig.sides(p, "LowerArm", elbows, {});
        } else {
            rig.sides(p, "UpperLeg", {}, legs);
            rig.sides(p, "LowerLeg", {}, shins);
            rig.sides(p, "Foot", {}, feet);
            rig.sides(p, "UpperArm", {}, arms);
            rig.sides(p, "LowerArm", {}, elbows);
        }
    }
    const float bob = mix(0.45f, 1.1f, amount);
    p.hipsOffset = p.hipsOffset + Vec3{0, -0.17f - bob + bob * std::cos(2 * phase), 0};
    rig.at(p, "Hips") = Vec3{mix(0.02f, 0.1f, amount), 0.12f * std::sin(phase), 0};
    rig.at(p, "Spine") = Vec3{mix(0.03f, 0.14f, amount), -0.16f * std::sin(phase), 0};
    rig.at(p, "Chest") = Vec3{0.02f, -0.06f * std::sin(phase), 0};
    rig.at(p, "Head") = Vec3{-mix(0.04f, 0.2f, amount), 0.1f * std::sin(phase), 0};
    p.antenna = {-0.12f * std::cos(2 * phase) * (0.5f + amount), 0, 0.08f * std::sin(phase)};
    return p;
}

// The signature attack: wind up with the sword over the shoulder while lifting the front foot,
// step in with a downward diagonal slash, hold the follow-through, recover.
std::vector<PoseKey> skill1Keys(const Rig& rig) {
    const Pose base = stance(rig);
    std::vector<PoseKey> keys;
    keys.push_back({0.0f, base});

    Pose windUp = rig.blank();
    windUp.hipsOffset = {0.4f, -0.9f, 1.2f};
    rig.at(windUp, "Hips") = {-0.05f, 0.25f, 0};
    rig.at(windUp, "Spine") = {-0.12f, 0.2f, 0};
    rig.at(windUp, "Chest") = {-0.06f, 0.25f, 0.05f};
    rig.at(windUp, "Head") = {0.05f, -0.4f, 0};
    // Sword raised high, the blade reaching back over the head.
    rig.sides(windUp, "UpperArm", {0.8f, 0, 0.5f}, {2.4f, 0, 0.25f});
    rig.sides(windUp, "LowerArm", {0.6f, 0, 0}, {0.15f, 0, 0});
    rig.sides(windUp, "Hand", {0, 0, 0}, {-0.8f, 0, 0});
    rig.sides(windUp, "UpperLeg", {0.95f, 0, 0.05f}, {0.1f, 0, 0});
    rig.sides(windUp, "LowerLeg", {-1.2f, 0, 0}, {-0.3f, 0, 0});
    rig.sides(windUp, "Foot", {0.3f, 0, 0}, {0.2f, 0, 0});
    windUp.antenna = {0.15f, 0, -0.1f};
    keys.push_back({0.5f, add(base, windUp)});

    Pose strike = rig.blank();
    strike.hipsOffset = {-0.6f, -2.35f, -4.2f};
    rig.at(strike, "Hips") = {0.12f, -0.3f, 0};
    rig.at(strike, "Spine") = {0.28f, -0.25f, 0};
    rig.at(strike, "Chest") = {0.12f, -0.25f, -0.05f};
    rig.at(strike, "Head") = {-0.25f, 0.45f, 0};
    // Chopped down across the body: the blade ends pointing ahead and a little down.
    rig.sides(strike, "UpperArm", {-0.7f, 0, 0.55f}, {0.25f, 0, -0.45f});
    rig.sides(strike, "LowerArm", {0.5f, 0, 0}, {-0.45f, 0, 0});
    rig.sides(strike, "Hand", {0, 0, 0}, {-1.3f, 0, 0});
    rig.sides(strike, "UpperLeg", {0.95f, 0.1f, 0.05f}, {-0.55f, 0, 0.05f});
    rig.sides(strike, "LowerLeg", {-0.75f, 0, 0}, {-0.45f, 0, 0});
    rig.sides(strike, "Foot", {-0.15f, 0, 0}, {0.6f, 0, 0});
    strike.antenna = {-0.35f, 0, 0.2f};
    keys.push_back({0.82f, add(base, strike)});

    Pose follow = strike;
    follow.hipsOffset = {-0.5f, -2.4f, -4.0f};
    rig.at(follow, "Chest") = {0.1f, -0.45f, -0.05f};
    rig.sides(follow, "UpperArm", {0, 0, 0}, {-0.25f, 0, -0.45f});
    rig.sides(follow, "LowerArm", {0, 0, 0}, {0.2f, 0, 0});
    follow.antenna = {0.25f, 0, -0.15f};
    keys.push_back({1.12f, add(base, follow)});

    Pose hold = follow;
    hold.hipsOffset = {-0.4f, -2.1f, -3.6f};
    hold.antenna = {-0.1f, 0, 0.05f};
    keys.push_back({1.55f, add(base, hold)});

    Pose recover = rig.blank();
    recover.hipsOffset = {0, -0.5f, -0.6f};
    rig.sides(recover, "UpperLeg", {0.3f, 0, 0}, {-0.1f, 0, 0});
    rig.sides(recover, "LowerLeg", {-0.4f, 0, 0}, {-0.1f, 0, 0});
    rig.sides(recover, "Foot", {0.1f, 0, 0}, {0.2f, 0, 0});
    rig.sides(recover, "UpperArm", {0, 0, 0}, {0.3f, 0, 0});
    keys.push_back({2.0f, add(base, recover)});
    return keys;
}

// A crouching spin with the arms thrown out and the blade surging longer mid-turn.
std::vector<PoseKey> skill2Keys(const Rig& rig) {
    const Pose base = stance(rig);
    std::vector<PoseKey> keys;
    keys.push_back({0.0f, base});

    Pose crouch = rig.blank();
    crouch.hipsOffset = {0, -2.8f, 0};
    rig.at(crouch, "Spine") = {0.2f, 0, 0};
    rig.sides(crouch, "UpperLeg", {0.75f, 0, 0.12f}, {0.75f, 0, 0.12f});
    rig.sides(crouch, "LowerLeg", {-1.3f, 0, 0}, {-1.3f, 0, 0});
    rig.sides(crouch, "Foot", {0.55f, 0, 0}, {0.55f, 0, 0});
    rig.sides(crouch, "UpperArm", {0.3f, 0, 0.6f}, {0.5f, 0, 0.5f});
    rig.sides(crouch, "LowerArm", {0.8f, 0, 0}, {0.6f, 0, 0});
    keys.push_back({0.4f, add(base, crouch)});

    Pose spread = rig.blank();
    spread.hipsOffset = {0, -1.6f, 0};
    rig.at(spread, "Spine") = {0.05f, 0, 0};
    rig.sides(spread, "UpperLeg", {0.35f, 0, 0.15f}, {0.35f, 0, 0.15f});
    rig.sides(spread, "LowerLeg", {-0.6f, 0, 0}, {-0.6f, 0, 0});
    rig.sides(spread, "Foot", {0.25f, 0, 0}, {0.25f, 0, 0});
    rig.sides(spread, "UpperArm", {0.1f, 0, 1.35f}, {0.1f, 0, 1.4f});
    rig.sides(spread, "LowerArm", {-0.3f, 0, 0}, {-0.45f, 0, 0});
    spread.weaponScale = 1.4f;
    spread.antenna = {0, 0, 0.4f};
    keys.push_back({0.9f, add(base, spread)});

    Pose land = crouch;
    land.hipsOffset = {0, -2.3f, 0};
    land.weaponScale = 1.0f;
    land.antenna = {0.2f, 0, -0.3f};
    keys.push_back({1.45f, add(base, land)});
    return keys;
}

Pose skill2(const Rig& rig, const std::vector<PoseKey>& keys, float t, float period) {
    Pose p = interpolate(keys, period, t);
    // A whole turn, kept out of the key poses so the loop closes on an equal rotation.
    rig.at(p, "Hips").y += kTwoPi * smoother((t - 0.45f) / 0.9f);
    return p;
}

// ---- sampling into keys -------------------------------------------------------------------

bool nearlyEqual(const Quat& a, const Quat& b) {
    return std::fabs(a.x - b.x) < 1e-6f && std::fabs(a.y - b.y) < 1e-6f &&
           std::fabs(a.z - b.z) < 1e-6f && std::fabs(a.w - b.w) < 1e-6f;
}

bool nearlyEqual(const Vec3& a, const Vec3& b) {
    return length(a - b) < 1e-6f;
}

// A track whose samples never change is written as its first and last key only.
template <typename T> void compactKeys(std::vector<Key<T>>& keys) {
    for (const Key<T>& k : keys)
        if (!nearlyEqual(k.value, keys.front().value))
            return;
    keys = {keys.front(), keys.back()};
}

AnimationSet sample(const Model& model, const char* name, float seconds,
                    const std::function<Pose(float)>& poseAt) {
    AnimationSet set;
    set.name = name;
    set.periodTicks = uint32_t(std::lround(seconds * kTicksPerSecond));
    const int hips = model.findFrame("Hips"), weapon = model.findFrame("Weapon");
    const int antenna = model.findFrame("Antenna");
    for (size_t f = 1; f < model.frames.size(); ++f) {
        BoneKeys track;
        track.frame = int(f);
        set.tracks.push_back(track);
    }
    for (uint32_t tick = 0; tick <= set.periodTicks; tick += kTicksPerKey) {
        // The last key repeats the first pose exactly so the loop is seamless.
        float t = tick == set.periodTicks ? 0.0f : float(tick) / kTicksPerSecond;
        Pose pose = poseAt(t);
        for (BoneKeys& track : set.tracks) {
            const Frame& frame = model.frames[size_t(track.frame)];
            Vec3 bind{frame.local.m[3][0], frame.local.m[3][1], frame.local.m[3][2]};
            if (track.frame == antenna) {
                Quat sway = quatEuler(pose.antenna.x, 0, pose.antenna.z);
                track.matrices.push_back({tick, matRotation(sway) * matTranslation(bind)});
                continue;
            }
            const Vec3& a = pose.angles[size_t(track.frame)];
            Quat q = quatEuler(a.x, a.y, a.z);
            // Neighbouring keys on the same hemisphere, for readers that blend without
            // choosing the shorter arc.
            if (!track.rotations.empty()) {
                const Quat& prev = track.rotations.back().value;
                if (prev.x * q.x + prev.y * q.y + prev.z * q.z + prev.w * q.w < 0)
                    q = {-q.x, -q.y, -q.z, -q.w};
            }
            track.rotations.push_back({tick, q});
            float s = track.frame == weapon ? pose.weaponScale : 1.0f;
            track.scales.push_back({tick, {s, s, s}});
            track.positions.push_back({tick, track.frame == hips ? bind + pose.hipsOffset : bind});
        }
    }
    for (BoneKeys& track : set.tracks) {
        if (!track.rotations.empty())
            compactKeys(track.rotations);
        if (!track.scales.empty())
            compactKeys(track.scales);
        if (!track.positions.empty())
            compactKeys(track.positions);
    }
    return set;
}

} // namespace

void addHeroAnimations(Model& model) {
    model.ticksPerSecond = kTicksPerSecond;
    const Rig rig(model);
    model.animations.push_back(
        sample(model, "idle", 3.0f, [&](float t) { return idle(rig, t, 3.0f); }));
    model.animations.push_back(
        sample(model, "walk", 1.2f, [&](float t) { return gait(rig, kTwoPi * t / 1.2f, 0.0f); }));
    model.animations.push_back(sample(
        model, "run", 1.6f, [&](float t) { return gait(rig, 2 * kTwoPi * t / 1.6f, 1.0f); }));
    const auto attack = skill1Keys(rig);
    model.animations.push_back(
        sample(model, "skill1", 2.4f, [&](float t) { return interpolate(attack, 2.4f, t); }));
    const auto spin = skill2Keys(rig);
    model.animations.push_back(
        sample(model, "skill2", 2.0f, [&](float t) { return skill2(rig, spin, t, 2.0f); }));
}

} // namespace assetgen
