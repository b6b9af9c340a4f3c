// The animation controller: global clock, tracks, keyed track events and the blend of
// every enabled track's set into the registered outputs.
#include "platform/d3dx9/anim/anim_internal.h"
#include "platform/d3dx9/anim/model_options.h"

#include <algorithm>
#include <cmath>

using fw::xanim::ControllerState;
using fw::xanim::Event;
using fw::xanim::Output;
using fw::xanim::Track;

namespace {

constexpr float kPriorityBlendDefault = 0.5f;

double Curve(D3DXTRANSITION_TYPE transition, double s) {
    return transition == D3DXTRANSITION_EASEINEASEOUT ? s * s * (3.0 - 2.0 * s) : s;
}

// Maps each output to the animation of the track's set that drives it.
void BindTrack(Track& track, const std::vector<Output>& outputs) {
    track.animationOfOutput.assign(outputs.size(), -1);
    if (!track.set)
        return;
    for (size_t o = 0; o < outputs.size(); ++o) {
        UINT index = 0;
        if (SUCCEEDED(track.set->GetAnimationIndexByName(outputs[o].name.c_str(), &index)))
            track.animationOfOutput[o] = int(index);
    }
}

// Weighted pose accumulation of one priority group.
struct Blend {
    float weight = 0.0f;
    D3DXVECTOR3 scale, translation;
    D3DXQUATERNION rotation;

    void Add(float w, const D3DXVECTOR3& s, const D3DXQUATERNION& r, const D3DXVECTOR3& t) {
        if (!(w > 0.0f))
            return;
        weight += w;
        scale += s * w;
        translation += t * w;
        if (weight == w)
            rotation = r;
        else
            D3DXQuaternionSlerp(&rotation, &rotation, &r, w / weight);
    }
    void Finish() {
        if (weight > 0.0f) {
            scale /= weight;
            translation /= weight;
        }
    }
};

void WriteOutput(const Output& output, const D3DXVECTOR3& s, D3DXQUATERNION r,
                 const D3DXVECTOR3& t) {
    D3DXQuaternionNormalize(&r, &r);
    if (output.matrix) {
        // Scale, then rotate, then translate (row vectors).
        D3DXMATRIX& m = *output.matrix;
        D3DXMatrixRotationQuaternion(&m, &r);
        for (int c = 0; c < 3; ++c) {
            m.m[0][c] *= s.x;
            m.m[1][c] *= s.y;
            m.m[2][c] *= s.z;
        }
        m._41 = t.x, m._42 = t.y, m._43 = t.z;
    }
    if (output.scale)
        *output.scale = s;
    if (output.rotation)
        *output.rotation = r;
    if (output.translation)
        *output.translation = t;
}

} // namespace

ID3DXAnimationController::ID3DXAnimationController(ControllerState* state) : m_state(state) {}

ID3DXAnimationController::~ID3DXAnimationController() {
    for (Track& track : m_state->tracks)
        if (track.set)
            track.set->Release();
    for (ID3DXAnimationSet* set : m_state->sets)
        set->Release();
    delete m_state;
}

ULONG ID3DXAnimationController::AddRef() {
    return ++m_refCount;
}

ULONG ID3DXAnimationController::Release() {
    const ULONG left = --m_refCount;
    if (left == 0)
        delete this;
    return left;
}

UINT ID3DXAnimationController::GetMaxNumAnimationOutputs() {
    return m_state->maxOutputs;
}
UINT ID3DXAnimationController::GetMaxNumAnimationSets() {
    return m_state->maxSets;
}
UINT ID3DXAnimationController::GetMaxNumTracks() {
    return UINT(m_state->tracks.size());
}
UINT ID3DXAnimationController::GetMaxNumEvents() {
    return m_state->maxEvents;
}

HRESULT ID3DXAnimationController::RegisterAnimationOutput(LPCSTR pName, D3DXMATRIX* pMatrix,
                                                          D3DXVECTOR3* pScale,
                                                          D3DXQUATERNION* pRotation,
                                                          D3DXVECTOR3* pTranslation) {
    if (!pName)
        return D3DERR_INVALIDCALL;
    auto& outputs = m_state->outputs;
    auto found = std::find_if(outputs.begin(), outputs.end(),
                              [&](const Output& o) { return o.name == pName; });
    if (found == outputs.end()) {
        if (outputs.size() >= m_state->maxOutputs)
            return E_OUTOFMEMORY;
        outputs.push_back(Output{pName});
        found = outputs.end() - 1;
    }
    found->matrix = pMatrix;
    found->scale = pScale;
    found->rotation = pRotation;
    found->translation = pTranslation;
    for (Track& track : m_state->tracks)
        BindTrack(track, outputs);
    return S_OK;
}

HRESULT ID3DXAnimationController::RegisterAnimationSet(LPD3DXANIMATIONSET pAnimSet) {
    auto& sets = m_state->sets;
    if (!pAnimSet || std::find(sets.begin(), sets.end(), pAnimSet) != sets.end())
        return D3DERR_INVALIDCALL;
    if (sets.size() >= m_state->maxSets)
        return E_OUTOFMEMORY;
    pAnimSet->AddRef();
    sets.push_back(pAnimSet);
    return S_OK;
}

HRESULT ID3DXAnimationController::UnregisterAnimationSet(LPD3DXANIMATIONSET pAnimSet) {
    auto& sets = m_state->sets;
    const auto found = std::find(sets.begin(), sets.end(), pAnimSet);
    if (!pAnimSet || found == sets.end())
        return D3DERR_INVALIDCALL;
    for (UINT t = 0; t < m_state->tracks.size(); ++t)
        if (m_state->tracks[t].set == pAnimSet)
            SetTrackAnimationSet(t, nullptr);
    sets.erase(found);
    pAnimSet->Release();
    return S_OK;
}

UINT ID3DXAnimationController::GetNumAnimationSets() {
    return UINT(m_state->sets.size());
}

HRESULT ID3DXAnimationController::GetAnimationSet(UINT Index, LPD3DXANIMATIONSET* ppAnimationSet) {
    if (!ppAnimationSet)
        return D3DERR_INVALIDCALL;
    *ppAnimationSet = nullptr;
    if (Index >= m_state->sets.size())
        return D3DERR_INVALIDCALL;
    *ppAnimationSet = m_state->sets[Index];
    (*ppAnimationSet)->AddRef();
    return S_OK;
}

HRESULT ID3DXAnimationController::GetAnimationSetByName(LPCSTR szName,
                                                        LPD3DXANIMATIONSET* ppAnimationSet) {
    if (!szName || !ppAnimationSet)
        return D3DERR_INVALIDCALL;
    *ppAnimationSet = nullptr;
    const std::string name = fw::xanim::PlayedSetName(this, szName);
    for (ID3DXAnimationSet* set : m_state->sets)
        if (std::string_view(set->GetName()) == name) {
            set->AddRef();
            *ppAnimationSet = set;
            return S_OK;
        }
    return E_FAIL;
}

HRESULT ID3DXAnimationController::AdvanceTime(DOUBLE TimeDelta,
                                              LPD3DXANIMATIONCALLBACKHANDLER /*pCallbackHandler*/) {
    // Sets built from .X files carry no callback keys, so the handler has nothing to get.
    if (!(TimeDelta >= 0.0))
        return D3DERR_INVALIDCALL;
    ControllerState& s = *m_state;
    s.time += TimeDelta;

    // Events due by the new time, in the order they were keyed.
    std::vector<Event>& events = s.events;
    for (size_t i = 0; i < events.size();) {
        Event& e = events[i];
        D3DXEVENT_DESC& d = e.desc;
        if (d.StartTime > s.time) {
            ++i;
            continue;
        }
        float* rampTarget = nullptr;
        bool finished = true;
        if (d.Type == D3DXEVENT_PRIORITYBLEND)
            rampTarget = &s.priorityBlend;
        else if (d.Type == D3DXEVENT_TRACKSPEED)
            rampTarget = &s.tracks[d.Track].desc.Speed;
        else if (d.Type == D3DXEVENT_TRACKWEIGHT)
            rampTarget = &s.tracks[d.Track].desc.Weight;
        else if (d.Type == D3DXEVENT_TRACKENABLE)
            s.tracks[d.Track].desc.Enable = d.Enable;
        else if (d.Type == D3DXEVENT_TRACKPOSITION)
            s.tracks[d.Track].desc.Position = d.Position;
        if (rampTarget) {
            if (!e.running) {
                e.running = true;
                e.from = *rampTarget;
                // A ramp that starts takes over from an earlier one of its kind.
                for (size_t k = 0; k < i; ++k)
                    if (events[k].running && events[k].desc.Type == d.Type &&
                        events[k].desc.Track == d.Track)
                        events[k].desc.Duration = -1.0; // retired below on its next visit
            }
            const double to = d.Type == D3DXEVENT_TRACKSPEED ? d.Speed : d.Weight;
            const double elapsed = s.time - d.StartTime;
            const double t = d.Duration > 0.0 ? std::min(1.0, elapsed / d.Duration) : 1.0;
            *rampTarget = float(e.from + (to - e.from) * Curve(d.Transition, t));
            finished = t >= 1.0;
        }
        if (finished)
            events.erase(events.begin() + std::ptrdiff_t(i));
        else
            ++i;
    }
    // Retire ramps that a later one took over (their Duration was marked negative).
    std::erase_if(events, [](const Event& e) { return e.running && e.desc.Duration < 0.0; });

    for (Track& track : s.tracks)
        if (track.desc.Enable && track.set)
            track.desc.Position += TimeDelta * track.desc.Speed;

    for (Track& track : s.tracks)
        if (track.animationOfOutput.size() != s.outputs.size())
            BindTrack(track, s.outputs);
    for (size_t o = 0; o < s.outputs.size(); ++o) {
        Blend groups[2];
        for (Track& track : s.tracks) {
            const int animation = track.animationOfOutput[o];
            if (!track.desc.Enable || !track.set || animation < 0)
                continue;
            D3DXVECTOR3 scale, translation;
            D3DXQUATERNION rotation;
            const double position = track.set->GetPeriodicPosition(track.desc.Position);
            track.set->GetSRT(position, UINT(animation), &scale, &rotation, &translation);
            groups[track.desc.Priority == D3DXPRIORITY_HIGH ? 1 : 0].Add(track.desc.Weight, scale,
                                                                         rotation, translation);
        }
        groups[0].Finish();
        groups[1].Finish();
        if (groups[0].weight > 0.0f && groups[1].weight > 0.0f) {
            // Both priorities present: the blend factor is the high group's share.
            const float b = std::clamp(s.priorityBlend, 0.0f, 1.0f);
            Blend mixed;
            D3DXVec3Lerp(&mixed.scale, &groups[0].scale, &groups[1].scale, b);
            D3DXVec3Lerp(&mixed.translation, &groups[0].translation, &groups[1].translation, b);
            D3DXQuaternionSlerp(&mixed.rotation, &groups[0].rotation, &groups[1].rotation, b);
            WriteOutput(s.outputs[o], mixed.scale, mixed.rotation, mixed.translation);
        } else if (groups[0].weight > 0.0f || groups[1].weight > 0.0f) {
            const Blend& only = groups[0].weight > 0.0f ? groups[0] : groups[1];
            WriteOutput(s.outputs[o], only.scale, only.rotation, only.translation);
        }
        // No contributor: the output keeps whatever it holds.
    }
    return S_OK;
}

HRESULT ID3DXAnimationController::ResetTime() {
    for (Event& e : m_state->events)
        e.desc.StartTime -= m_state->time;
    m_state->time = 0.0;
    return S_OK;
}

DOUBLE ID3DXAnimationController::GetTime() {
    return m_state->time;
}

HRESULT ID3DXAnimationController::SetTrackAnimationSet(UINT Track, LPD3DXANIMATIONSET pAnimSet) {
    if (Track >= m_state->tracks.size())
        return D3DERR_INVALIDCALL;
    auto& track = m_state->tracks[Track];
    if (pAnimSet)
        pAnimSet->AddRef();
    if (track.set)
        track.set->Release();
    track.set = pAnimSet;
    BindTrack(track, m_state->outputs);
    return S_OK;
}

HRESULT ID3DXAnimationController::GetTrackAnimationSet(UINT Track, LPD3DXANIMATIONSET* ppAnimSet) {
    if (!ppAnimSet || Track >= m_state->tracks.size())
        return D3DERR_INVALIDCALL;
    *ppAnimSet = m_state->tracks[Track].set;
    if (*ppAnimSet)
        (*ppAnimSet)->AddRef();
    return S_OK;
}

#define FW_TRACK_SETTER(Method, Type, Field)                                                       \
    HRESULT ID3DXAnimationController::Method(UINT Track, Type Value) {                             \
        if (Track >= m_state->tracks.size())                                                       \
            return D3DERR_INVALIDCALL;                                                             \
        m_state->tracks[Track].desc.Field = Value;                                                 \
        return S_OK;                                                                               \
    }
FW_TRACK_SETTER(SetTrackPriority, D3DXPRIORITY_TYPE, Priority)
FW_TRACK_SETTER(SetTrackSpeed, FLOAT, Speed)
FW_TRACK_SETTER(SetTrackWeight, FLOAT, Weight)
FW_TRACK_SETTER(SetTrackPosition, DOUBLE, Position)
FW_TRACK_SETTER(SetTrackEnable, BOOL, Enable)
#undef FW_TRACK_SETTER

HRESULT ID3DXAnimationController::SetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc) {
    if (!pDesc || Track >= m_state->tracks.size())
        return D3DERR_INVALIDCALL;
    m_state->tracks[Track].desc = *pDesc;
    return S_OK;
}

HRESULT ID3DXAnimationController::GetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc) {
    if (!pDesc || Track >= m_state->tracks.size())
        return D3DERR_INVALIDCALL;
    *pDesc = m_state->tracks[Track].desc;
    return S_OK;
}

HRESULT ID3DXAnimationController::SetPriorityBlend(FLOAT BlendWeight) {
    m_state->priorityBlend = BlendWeight;
    return S_OK;
}

FLOAT ID3DXAnimationController::GetPriorityBlend() {
    return m_state->priorityBlend;
}

namespace {

D3DXEVENTHANDLE AddEvent(ControllerState& s, const D3DXEVENT_DESC& desc) {
    if (s.events.size() >= s.maxEvents || !std::isfinite(desc.StartTime))
        return 0;
    Event e;
    e.handle = s.nextHandle++;
    if (s.nextHandle == 0)
        s.nextHandle = 1;
    e.desc = desc;
    s.events.push_back(e);
    return e.handle;
}

D3DXEVENT_DESC RampDesc(D3DXEVENT_TYPE type, UINT track, DOUBLE start, DOUBLE duration,
                        D3DXTRANSITION_TYPE transition) {
    D3DXEVENT_DESC d{};
    d.Type = type;
    d.Track = track;
    d.StartTime = start;
    d.Duration = duration;
    d.Transition = transition;
    return d;
}

} // namespace

D3DXEVENTHANDLE ID3DXAnimationController::KeyTrackSpeed(UINT Track, FLOAT NewSpeed,
                                                        DOUBLE StartTime, DOUBLE Duration,
                                                        D3DXTRANSITION_TYPE Transition) {
    if (Track >= m_state->tracks.size())
        return 0;
    D3DXEVENT_DESC d = RampDesc(D3DXEVENT_TRACKSPEED, Track, StartTime, Duration, Transition);
    d.Speed = NewSpeed;
    return AddEvent(*m_state, d);
}

D3DXEVENTHANDLE ID3DXAnimationController::KeyTrackWeight(UINT Track, FLOAT NewWeight,
                                                         DOUBLE StartTime, DOUBLE Duration,
                                                         D3DXTRANSITION_TYPE Transition) {
    if (Track >= m_state->tracks.size())
        return 0;
    D3DXEVENT_DESC d = RampDesc(D3DXEVENT_TRACKWEIGHT, Track, StartTime, Duration, Transition);
    d.Weight = NewWeight;
    return AddEvent(*m_state, d);
}

D3DXEVENTHANDLE ID3DXAnimationController::KeyTrackPosition(UINT Track, DOUBLE NewPosition,
                                                           DOUBLE StartTime) {
    if (Track >= m_state->tracks.size())
        return 0;
    D3DXEVENT_DESC d =
        RampDesc(D3DXEVENT_TRACKPOSITION, Track, StartTime, 0.0, D3DXTRANSITION_LINEAR);
    d.Position = NewPosition;
    return AddEvent(*m_state, d);
}

D3DXEVENTHANDLE ID3DXAnimationController::KeyTrackEnable(UINT Track, BOOL NewEnable,
                                                         DOUBLE StartTime) {
    if (Track >= m_state->tracks.size())
        return 0;
    D3DXEVENT_DESC d =
        RampDesc(D3DXEVENT_TRACKENABLE, Track, StartTime, 0.0, D3DXTRANSITION_LINEAR);
    d.Enable = NewEnable;
    return AddEvent(*m_state, d);
}

D3DXEVENTHANDLE ID3DXAnimationController::KeyPriorityBlend(FLOAT NewBlendWeight, DOUBLE StartTime,
                                                           DOUBLE Duration,
                                                           D3DXTRANSITION_TYPE Transition) {
    D3DXEVENT_DESC d = RampDesc(D3DXEVENT_PRIORITYBLEND, 0, StartTime, Duration, Transition);
    d.Weight = NewBlendWeight;
    return AddEvent(*m_state, d);
}

HRESULT ID3DXAnimationController::UnkeyEvent(D3DXEVENTHANDLE hEvent) {
    const auto removed =
        std::erase_if(m_state->events, [&](const Event& e) { return e.handle == hEvent; });
    return removed ? S_OK : D3DERR_INVALIDCALL;
}

HRESULT ID3DXAnimationController::UnkeyAllTrackEvents(UINT Track) {
    if (Track >= m_state->tracks.size())
        return D3DERR_INVALIDCALL;
    std::erase_if(m_state->events, [&](const Event& e) {
        return e.desc.Type != D3DXEVENT_PRIORITYBLEND && e.desc.Track == Track;
    });
    return S_OK;
}

HRESULT ID3DXAnimationController::UnkeyAllPriorityBlends() {
    std::erase_if(m_state->events,
                  [](const Event& e) { return e.desc.Type == D3DXEVENT_PRIORITYBLEND; });
    return S_OK;
}

D3DXEVENTHANDLE ID3DXAnimationController::GetCurrentTrackEvent(UINT Track,
                                                               D3DXEVENT_TYPE EventType) {
    for (const Event& e : m_state->events)
        if (e.running && e.desc.Type == EventType && e.desc.Track == Track &&
            EventType != D3DXEVENT_PRIORITYBLEND)
            return e.handle;
    return 0;
}

D3DXEVENTHANDLE ID3DXAnimationController::GetCurrentPriorityBlend() {
    for (const Event& e : m_state->events)
        if (e.running && e.desc.Type == D3DXEVENT_PRIORITYBLEND)
            return e.handle;
    return 0;
}

HRESULT ID3DXAnimationController::ValidateEvent(D3DXEVENTHANDLE hEvent) {
    for (const Event& e : m_state->events)
        if (e.handle == hEvent)
            return S_OK;
    return E_FAIL;
}

HRESULT ID3DXAnimationController::GetEventDesc(D3DXEVENTHANDLE hEvent, LPD3DXEVENT_DESC pDesc) {
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    for (const Event& e : m_state->events)
        if (e.handle == hEvent) {
            *pDesc = e.desc;
            return S_OK;
        }
    return D3DERR_INVALIDCALL;
}

HRESULT ID3DXAnimationController::CloneAnimationController(UINT MaxNumAnimationOutputs,
                                                           UINT MaxNumAnimationSets,
                                                           UINT MaxNumTracks, UINT MaxNumEvents,
                                                           ID3DXAnimationController** ppClone) {
    if (!ppClone)
        return D3DERR_INVALIDCALL;
    *ppClone = nullptr;
    const ControllerState& s = *m_state;
    if (MaxNumTracks == 0 || MaxNumAnimationOutputs < s.outputs.size() ||
        MaxNumAnimationSets < s.sets.size() || MaxNumEvents < s.events.size())
        return D3DERR_INVALIDCALL;
    auto* state = new ControllerState;
    state->maxOutputs = MaxNumAnimationOutputs;
    state->maxSets = MaxNumAnimationSets;
    state->maxEvents = MaxNumEvents;
    state->time = s.time;
    state->priorityBlend = s.priorityBlend;
    state->outputs = s.outputs;
    state->events = s.events;
    state->nextHandle = s.nextHandle;
    state->sets = s.sets;
    for (ID3DXAnimationSet* set : state->sets)
        set->AddRef();
    state->tracks.resize(MaxNumTracks);
    for (size_t t = 0; t < state->tracks.size() && t < s.tracks.size(); ++t) {
        state->tracks[t] = s.tracks[t];
        if (state->tracks[t].set)
            state->tracks[t].set->AddRef();
    }
    // Events of tracks the clone does not have are dropped.
    std::erase_if(state->events, [&](const Event& e) {
        return e.desc.Type != D3DXEVENT_PRIORITYBLEND && e.desc.Track >= MaxNumTracks;
    });
    *ppClone = new ID3DXAnimationController(state);
    return S_OK;
}

HRESULT WINAPI D3DXCreateAnimationController(UINT MaxNumAnimationOutputs, UINT MaxNumAnimationSets,
                                             UINT MaxNumTracks, UINT MaxNumEvents,
                                             LPD3DXANIMATIONCONTROLLER* ppAnimController) {
    if (!ppAnimController)
        return D3DERR_INVALIDCALL;
    *ppAnimController = nullptr;
    if (MaxNumTracks == 0)
        return D3DERR_INVALIDCALL;
    auto* state = new ControllerState;
    state->maxOutputs = MaxNumAnimationOutputs;
    state->maxSets = MaxNumAnimationSets;
    state->maxEvents = MaxNumEvents;
    state->priorityBlend = kPriorityBlendDefault;
    state->tracks.resize(MaxNumTracks);
    *ppAnimController = new ID3DXAnimationController(state);
    return S_OK;
}
