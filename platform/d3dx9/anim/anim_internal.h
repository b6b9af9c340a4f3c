// State behind ID3DXAnimationSet and ID3DXAnimationController, and the step that
// turns a parsed file's AnimationSet objects into sets.
#pragma once

#include "platform/d3dx9anim.h"
#include "platform/d3dx9/anim/xfile.h"

#include <map>
#include <string>
#include <vector>

namespace fw::xanim {

// The keys of one animated output (a frame, by name). An output without keys of some
// kind holds that part of its rest pose (the frame's own matrix, decomposed).
struct Animation {
    std::string name;
    std::vector<D3DXKEY_VECTOR3> scaleKeys;
    std::vector<D3DXKEY_QUATERNION> rotationKeys; // D3DX convention (file keys conjugated)
    std::vector<D3DXKEY_VECTOR3> translationKeys;
    D3DXVECTOR3 restScale{1.0f, 1.0f, 1.0f};
    D3DXQUATERNION restRotation{0.0f, 0.0f, 0.0f, 1.0f};
    D3DXVECTOR3 restTranslation;
};

struct AnimationSetData {
    std::string name;
    double ticksPerSecond = 4800.0;
    D3DXPLAYBACK_TYPE playback = D3DXPLAY_LOOP;
    double periodTicks = 0.0; // latest key time of any animation
    std::vector<Animation> animations;
};

struct Output {
    std::string name;
    D3DXMATRIX* matrix = nullptr;
    D3DXVECTOR3* scale = nullptr;
    D3DXQUATERNION* rotation = nullptr;
    D3DXVECTOR3* translation = nullptr;
};

struct Track {
    ID3DXAnimationSet* set = nullptr; // one reference
    D3DXTRACK_DESC desc{D3DXPRIORITY_LOW, 1.0f, 1.0f, 0.0, FALSE};
    std::vector<int> animationOfOutput; // cached: output index -> animation index or -1
};

struct Event {
    D3DXEVENTHANDLE handle = 0;
    D3DXEVENT_DESC desc{};
    bool running = false;
    double from = 0.0; // value when a ramp started
};

struct ControllerState {
    UINT maxOutputs = 0;
    UINT maxSets = 0;
    UINT maxEvents = 0;
    double time = 0.0;
    float priorityBlend = 0.5f;
    std::vector<Output> outputs;
    std::vector<ID3DXAnimationSet*> sets; // one reference each
    std::vector<Track> tracks;
    std::vector<Event> events; // pending and running, in keying order
    D3DXEVENTHANDLE nextHandle = 1;
};

// Rest pose of a frame's matrix for outputs that lack some key kind.
struct RestPose {
    D3DXVECTOR3 scale{1.0f, 1.0f, 1.0f};
    D3DXQUATERNION rotation{0.0f, 0.0f, 0.0f, 1.0f};
    D3DXVECTOR3 translation;
};
RestPose DecomposeRest(const D3DXMATRIX& matrix);

// Builds one set per AnimationSet object of the document, in file order. restPoses maps
// frame names to their rest pose. Fails with a reason on malformed keys.
bool BuildAnimationSets(const xfile::Document& doc,
                        const std::map<std::string, RestPose>& restPoses,
                        std::vector<ID3DXAnimationSet*>& sets, std::string& error);

// Evaluates one animation at a time in seconds (keys interpolated, clamped at the ends).
void SampleAnimation(const Animation& animation, double ticks, D3DXVECTOR3& scale,
                     D3DXQUATERNION& rotation, D3DXVECTOR3& translation);

} // namespace fw::xanim
