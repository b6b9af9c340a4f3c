// Keyframed animation sets and how a .X file's AnimationSet objects become them.
#include "platform/d3dx9/anim/anim_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using fw::xanim::AnimationSetData;

// ---------------------------------------------------------------------------
// ID3DXAnimationSet

ID3DXAnimationSet::ID3DXAnimationSet(AnimationSetData* data) : m_data(data) {}
ID3DXAnimationSet::~ID3DXAnimationSet() {
    delete m_data;
}

ULONG ID3DXAnimationSet::AddRef() {
    return ++m_refCount;
}

ULONG ID3DXAnimationSet::Release() {
    const ULONG left = --m_refCount;
    if (left == 0)
        delete this;
    return left;
}

LPCSTR ID3DXAnimationSet::GetName() {
    return m_data->name.c_str();
}

DOUBLE ID3DXAnimationSet::GetPeriod() {
    return m_data->periodTicks / m_data->ticksPerSecond;
}

DOUBLE ID3DXAnimationSet::GetPeriodicPosition(DOUBLE Position) {
    const double period = GetPeriod();
    if (!(period > 0.0) || !std::isfinite(Position))
        return 0.0;
    switch (m_data->playback) {
    case D3DXPLAY_ONCE:
        return std::clamp(Position, 0.0, period);
    case D3DXPLAY_PINGPONG: {
        const double u = Position - 2.0 * period * std::floor(Position / (2.0 * period));
        return u <= period ? u : 2.0 * period - u;
    }
    default: {
        const double p = Position - period * std::floor(Position / period);
        return p < period ? p : 0.0; // rounding can land exactly on the period
    }
    }
}

UINT ID3DXAnimationSet::GetNumAnimations() {
    return UINT(m_data->animations.size());
}

HRESULT ID3DXAnimationSet::GetAnimationNameByIndex(UINT Index, LPCSTR* ppName) {
    if (!ppName || Index >= m_data->animations.size())
        return D3DERR_INVALIDCALL;
    *ppName = m_data->animations[Index].name.c_str();
    return S_OK;
}

HRESULT ID3DXAnimationSet::GetAnimationIndexByName(LPCSTR pName, UINT* pIndex) {
    if (!pName || !pIndex)
        return D3DERR_INVALIDCALL;
    const auto& animations = m_data->animations;
    for (size_t i = 0; i < animations.size(); ++i)
        if (animations[i].name == pName) {
            *pIndex = UINT(i);
            return S_OK;
        }
    return E_FAIL;
}

HRESULT ID3DXAnimationSet::GetSRT(DOUBLE PeriodicPosition, UINT Animation, D3DXVECTOR3* pScale,
                                  D3DXQUATERNION* pRotation, D3DXVECTOR3* pTranslation) {
    if (Animation >= m_data->animations.size())
        return D3DERR_INVALIDCALL;
    D3DXVECTOR3 s, t;
    D3DXQUATERNION r;
    fw::xanim::SampleAnimation(m_data->animations[Animation],
                               PeriodicPosition * m_data->ticksPerSecond, s, r, t);
    if (pScale)
        *pScale = s;
    if (pRotation)
        *pRotation = r;
    if (pTranslation)
        *pTranslation = t;
    return S_OK;
}

D3DXPLAYBACK_TYPE ID3DXAnimationSet::GetPlaybackType() {
    return m_data->playback;
}

DOUBLE ID3DXAnimationSet::GetSourceTicksPerSecond() {
    return m_data->ticksPerSecond;
}

namespace fw::xanim {

namespace {

// Index of the last key at or before ticks (keys sorted by time); ticks before the first
// key give 0.
template <class Key> size_t KeyBefore(const std::vector<Key>& keys, double ticks) {
    const auto after = std::upper_bound(keys.begin(), keys.end(), ticks,
                                        [](double t, const Key& k) { return t < k.Time; });
    return after == keys.begin() ? 0 : size_t(after - keys.begin()) - 1;
}

// Fraction of the way from key i to key i + 1; 0 when clamped at either end.
template <class Key> float Between(const std::vector<Key>& keys, size_t i, double ticks) {
    if (i + 1 >= keys.size() || ticks <= keys[i].Time)
        return 0.0f;
    const double span = keys[i + 1].Time - keys[i].Time;
    return span > 0.0 ? float((ticks - keys[i].Time) / span) : 0.0f;
}

D3DXVECTOR3 SampleVector(const std::vector<D3DXKEY_VECTOR3>& keys, double ticks,
                         const D3DXVECTOR3& rest) {
    if (keys.empty())
        return rest;
    const size_t i = KeyBefore(keys, ticks);
    const float s = Between(keys, i, ticks);
    if (s == 0.0f)
        return keys[i].Value;
    D3DXVECTOR3 out;
    D3DXVec3Lerp(&out, &keys[i].Value, &keys[i + 1].Value, s);
    return out;
}

D3DXQUATERNION SampleRotation(const std::vector<D3DXKEY_QUATERNION>& keys, double ticks,
                              const D3DXQUATERNION& rest) {
    if (keys.empty())
        return rest;
    const size_t i = KeyBefore(keys, ticks);
    const float s = Between(keys, i, ticks);
    if (s == 0.0f)
        return keys[i].Value;
    D3DXQUATERNION out;
    D3DXQuaternionSlerp(&out, &keys[i].Value, &keys[i + 1].Value, s);
    return out;
}

class SetBuilder {
public:
    SetBuilder(const std::map<std::string, RestPose>& rest, std::string& error)
        : m_rest(rest), m_error(error) {}

    AnimationSetData* Build(const xfile::Object& setObject, double ticksPerSecond) {
        auto data = std::make_unique<AnimationSetData>();
        data->name = setObject.name;
        data->ticksPerSecond = ticksPerSecond;
        for (const xfile::Child& child : setObject.children)
            if (child.object && !child.isReference && child.object->Is("Animation"))
                if (!AddAnimation(*child.object, *data))
                    return nullptr;
        return data.release();
    }

private:
    bool Fail(const xfile::Object& o, const std::string& what) {
        m_error = o.Where() + ": " + what;
        return false;
    }

    static std::string TargetName(const xfile::Object& animation) {
        for (const xfile::Child& child : animation.children)
            if (child.isReference)
                return child.object ? child.object->name : child.referenceName;
        // A few exporters nest the frame itself instead of referring to it.
        for (const xfile::Child& child : animation.children)
            if (child.object && child.object->Is("Frame"))
                return child.object->name;
        return {};
    }

    bool AddAnimation(const xfile::Object& object, AnimationSetData& set) {
        const std::string target = TargetName(object);
        if (target.empty())
            return true; // nothing to animate
        auto found = std::find_if(set.animations.begin(), set.animations.end(),
                                  [&](const Animation& a) { return a.name == target; });
        if (found == set.animations.end()) {
            Animation animation;
            animation.name = target;
            const auto rest = m_rest.find(target);
            if (rest != m_rest.end()) {
                animation.restScale = rest->second.scale;
                animation.restRotation = rest->second.rotation;
                animation.restTranslation = rest->second.translation;
            }
            set.animations.push_back(std::move(animation));
            found = set.animations.end() - 1;
        }
        for (const xfile::Child& child : object.children)
            if (child.object && !child.isReference && child.object->Is("AnimationKey"))
                if (!AddKeys(*child.object, *found, set))
                    return false;
        SortKeys(*found);
        return true;
    }

    bool AddKeys(const xfile::Object& o, Animation& animation, AnimationSetData& set) {
        xfile::Cursor c(o);
        const uint32_t type = c.Dword();
        uint32_t count = 0;
        if (!c.Count(count, 2))
            return Fail(o, "data shorter than its counts");
        const uint32_t expected = type == 0 ? 4 : type == 1 || type == 2 ? 3 : 16;
        if (type > 4)
            return Fail(o, "unknown key type " + std::to_string(type));
        for (uint32_t k = 0; k < count; ++k) {
            const float time = float(c.Dword());
            const uint32_t n = c.Dword();
            if (!c.Ok() || n != expected || c.Remaining() < n)
                return Fail(o, "key " + std::to_string(k) + " holds " + std::to_string(n) +
                                   " values, not " + std::to_string(expected));
            float v[16];
            for (uint32_t i = 0; i < n; ++i)
                v[i] = c.Float();
            set.periodTicks = std::max(set.periodTicks, double(time));
            AddKey(type, time, v, animation);
        }
        return c.Ok() || Fail(o, "data shorter than its counts");
    }

    static void AddKey(uint32_t type, float time, const float* v, Animation& animation) {
        switch (type) {
        case 0:
            // Files store w, x, y, z of the inverse rotation; D3DX quaternions are
            // x, y, z, w of the rotation itself, hence the conjugate.
            animation.rotationKeys.push_back({time, D3DXQUATERNION(-v[1], -v[2], -v[3], v[0])});
            break;
        case 1:
            animation.scaleKeys.push_back({time, D3DXVECTOR3(v[0], v[1], v[2])});
            break;
        case 2:
            animation.translationKeys.push_back({time, D3DXVECTOR3(v[0], v[1], v[2])});
            break;
        default: { // 3 or 4: a whole matrix, kept as its scale, rotation and translation
            const RestPose pose = DecomposeRest(D3DXMATRIX(v));
            animation.scaleKeys.push_back({time, pose.scale});
            animation.rotationKeys.push_back({time, pose.rotation});
            animation.translationKeys.push_back({time, pose.translation});
            break;
        }
        }
    }

    static void SortKeys(Animation& a) {
        const auto byTime = [](const auto& x, const auto& y) { return x.Time < y.Time; };
        std::stable_sort(a.scaleKeys.begin(), a.scaleKeys.end(), byTime);
        std::stable_sort(a.rotationKeys.begin(), a.rotationKeys.end(), byTime);
        std::stable_sort(a.translationKeys.begin(), a.translationKeys.end(), byTime);
    }

    const std::map<std::string, RestPose>& m_rest;
    std::string& m_error;
};

} // namespace

RestPose DecomposeRest(const D3DXMATRIX& matrix) {
    RestPose pose;
    if (FAILED(D3DXMatrixDecompose(&pose.scale, &pose.rotation, &pose.translation, &matrix))) {
        // A degenerate matrix has no rotation to speak of; keep its translation.
        pose = RestPose{};
        pose.translation = D3DXVECTOR3(matrix._41, matrix._42, matrix._43);
    }
    return pose;
}

void SampleAnimation(const Animation& animation, double ticks, D3DXVECTOR3& scale,
                     D3DXQUATERNION& rotation, D3DXVECTOR3& translation) {
    scale = SampleVector(animation.scaleKeys, ticks, animation.restScale);
    rotation = SampleRotation(animation.rotationKeys, ticks, animation.restRotation);
    translation = SampleVector(animation.translationKeys, ticks, animation.restTranslation);
}

bool BuildAnimationSets(const xfile::Document& doc, const std::map<std::string, RestPose>& rest,
                        std::vector<ID3DXAnimationSet*>& sets, std::string& error) {
    double ticksPerSecond = 4800.0;
    for (const xfile::Object* object : doc.topLevel)
        if (object->Is("AnimTicksPerSecond")) {
            xfile::Cursor c(*object);
            const uint32_t ticks = c.Dword();
            if (c.Ok() && ticks > 0)
                ticksPerSecond = ticks;
        }
    SetBuilder builder(rest, error);
    for (const xfile::Object* object : doc.topLevel) {
        if (!object->Is("AnimationSet"))
            continue;
        AnimationSetData* data = builder.Build(*object, ticksPerSecond);
        if (!data) {
            for (ID3DXAnimationSet* set : sets)
                set->Release();
            sets.clear();
            return false;
        }
        sets.push_back(new ID3DXAnimationSet(data));
    }
    return true;
}

} // namespace fw::xanim
