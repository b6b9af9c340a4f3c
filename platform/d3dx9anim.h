// D3DX 9 frame hierarchies and animation, as the SDK's d3dx9anim.h: the .X hierarchy
// loader, frame helpers, keyframed animation sets and the animation controller.
//
// Interfaces are concrete classes with intrusive reference counts, as everywhere in
// platform/; ID3DXAllocateHierarchy is abstract because the program implements it.
// Every Get* that hands out an interface adds a reference; the caller releases it.
// Times are seconds unless a name says ticks; matrices are row-vector D3DX matrices.
#pragma once

#include "platform/windows.h"
#include "platform/d3dx9math.h"
#include "platform/d3dx9mesh.h"

typedef double DOUBLE; // winnt.h's; repeating the same typedef elsewhere is harmless

namespace fw::xanim {
struct AnimationSetData;
struct ControllerState;
} // namespace fw::xanim

// ---------------------------------------------------------------------------
// Frames and mesh containers

typedef enum _D3DXMESHDATATYPE {
    D3DXMESHTYPE_MESH = 0x001,
    D3DXMESHTYPE_PMESH = 0x002,
    D3DXMESHTYPE_PATCHMESH = 0x003,
    D3DXMESHTYPE_FORCE_DWORD = 0x7fffffff
} D3DXMESHDATATYPE;

typedef struct _D3DXMESHDATA {
    D3DXMESHDATATYPE Type;
    // The SDK's union also holds progressive and patch meshes; .X loading makes only
    // plain meshes, and every member of the union is one pointer.
    union {
        LPD3DXMESH pMesh;
    };
} D3DXMESHDATA, *LPD3DXMESHDATA;

typedef struct _D3DXMESHCONTAINER {
    LPSTR Name;
    D3DXMESHDATA MeshData;
    LPD3DXMATERIAL pMaterials;
    LPD3DXEFFECTINSTANCE pEffects;
    DWORD NumMaterials;
    DWORD* pAdjacency;
    LPD3DXSKININFO pSkinInfo;
    struct _D3DXMESHCONTAINER* pNextMeshContainer;
} D3DXMESHCONTAINER, *LPD3DXMESHCONTAINER;

typedef struct _D3DXFRAME {
    LPSTR Name;
    D3DXMATRIX TransformationMatrix;
    LPD3DXMESHCONTAINER pMeshContainer;
    struct _D3DXFRAME* pFrameSibling;
    struct _D3DXFRAME* pFrameFirstChild;
} D3DXFRAME, *LPD3DXFRAME;

// Implemented by the application: the loader builds every frame and mesh container
// through it, and D3DXFrameDestroy frees them through it. Names and arrays passed in
// belong to the loader and are valid only during the call: copy what you keep, and
// AddRef the mesh and skin info if you keep them.
class ID3DXAllocateHierarchy {
public:
    virtual HRESULT CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) = 0;
    virtual HRESULT CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                        const D3DXMATERIAL* pMaterials,
                                        const D3DXEFFECTINSTANCE* pEffectInstances,
                                        DWORD NumMaterials, const DWORD* pAdjacency,
                                        LPD3DXSKININFO pSkinInfo,
                                        LPD3DXMESHCONTAINER* ppNewMeshContainer) = 0;
    virtual HRESULT DestroyFrame(LPD3DXFRAME pFrameToFree) = 0;
    virtual HRESULT DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) = 0;

protected:
    // Not part of the interface's slots; implementations are never deleted through it.
    ~ID3DXAllocateHierarchy() = default;
};
typedef ID3DXAllocateHierarchy* LPD3DXALLOCATEHIERARCHY;

// Custom-data callbacks of the loader. Raw .X data objects are not exposed on this
// platform, so a user-data loader passed to the loader is never called.
class ID3DXLoadUserData;
typedef ID3DXLoadUserData* LPD3DXLOADUSERDATA;

// ---------------------------------------------------------------------------
// Animation types

typedef enum _D3DXPLAYBACK_TYPE {
    D3DXPLAY_LOOP = 0,
    D3DXPLAY_ONCE = 1,
    D3DXPLAY_PINGPONG = 2,
    D3DXPLAY_FORCE_DWORD = 0x7fffffff
} D3DXPLAYBACK_TYPE;

typedef enum _D3DXPRIORITY_TYPE {
    D3DXPRIORITY_LOW = 0,
    D3DXPRIORITY_HIGH = 1,
    D3DXPRIORITY_FORCE_DWORD = 0x7fffffff
} D3DXPRIORITY_TYPE;

typedef enum _D3DXEVENT_TYPE {
    D3DXEVENT_TRACKSPEED = 0,
    D3DXEVENT_TRACKWEIGHT = 1,
    D3DXEVENT_TRACKPOSITION = 2,
    D3DXEVENT_TRACKENABLE = 3,
    D3DXEVENT_PRIORITYBLEND = 4,
    D3DXEVENT_FORCE_DWORD = 0x7fffffff
} D3DXEVENT_TYPE;

typedef enum _D3DXTRANSITION_TYPE {
    D3DXTRANSITION_LINEAR = 0x000,
    D3DXTRANSITION_EASEINEASEOUT = 0x001,
    D3DXTRANSITION_FORCE_DWORD = 0x7fffffff
} D3DXTRANSITION_TYPE;

typedef struct _D3DXTRACK_DESC {
    D3DXPRIORITY_TYPE Priority;
    FLOAT Weight;
    FLOAT Speed;
    DOUBLE Position; // local time of the track's set, never folded into its period
    BOOL Enable;
} D3DXTRACK_DESC, *LPD3DXTRACK_DESC;

typedef struct _D3DXEVENT_DESC {
    D3DXEVENT_TYPE Type;
    UINT Track;
    DOUBLE StartTime; // global time
    DOUBLE Duration;
    D3DXTRANSITION_TYPE Transition;
    union {
        FLOAT Weight;
        FLOAT Speed;
        DOUBLE Position;
        BOOL Enable;
    };
} D3DXEVENT_DESC, *LPD3DXEVENT_DESC;

typedef DWORD D3DXEVENTHANDLE;
typedef D3DXEVENTHANDLE* LPD3DXEVENTHANDLE;

typedef struct _D3DXKEY_VECTOR3 {
    FLOAT Time; // ticks
    D3DXVECTOR3 Value;
} D3DXKEY_VECTOR3, *LPD3DXKEY_VECTOR3;

typedef struct _D3DXKEY_QUATERNION {
    FLOAT Time; // ticks
    D3DXQUATERNION Value;
} D3DXKEY_QUATERNION, *LPD3DXKEY_QUATERNION;

// Receives the callback keys of animation sets during AdvanceTime (sets read from .X
// files carry none).
class ID3DXAnimationCallbackHandler {
public:
    virtual HRESULT HandleCallback(UINT Track, LPVOID pCallbackData) = 0;

protected:
    ~ID3DXAnimationCallbackHandler() = default;
};
typedef ID3DXAnimationCallbackHandler* LPD3DXANIMATIONCALLBACKHANDLER;

// ---------------------------------------------------------------------------
// Animation sets: keyframed scale, rotation and translation per named output.

class ID3DXAnimationSet {
public:
    ULONG AddRef();
    ULONG Release();

    LPCSTR GetName();
    DOUBLE GetPeriod();                          // seconds: the latest key time of any animation
    DOUBLE GetPeriodicPosition(DOUBLE Position); // local time folded by the playback type
    UINT GetNumAnimations();
    HRESULT GetAnimationNameByIndex(UINT Index, LPCSTR* ppName);
    HRESULT GetAnimationIndexByName(LPCSTR pName, UINT* pIndex);
    // The pose of one animation at a periodic position (seconds); any pointer may be null.
    HRESULT GetSRT(DOUBLE PeriodicPosition, UINT Animation, D3DXVECTOR3* pScale,
                   D3DXQUATERNION* pRotation, D3DXVECTOR3* pTranslation);

    // Keyframed-set queries.
    D3DXPLAYBACK_TYPE GetPlaybackType();
    DOUBLE GetSourceTicksPerSecond();

    // Platform-internal: the loader creates sets from parsed data; takes ownership.
    explicit ID3DXAnimationSet(fw::xanim::AnimationSetData* data);

    ID3DXAnimationSet(const ID3DXAnimationSet&) = delete;
    ID3DXAnimationSet& operator=(const ID3DXAnimationSet&) = delete;

private:
    ~ID3DXAnimationSet();
    ULONG m_refCount = 1;
    fw::xanim::AnimationSetData* m_data;
};
typedef ID3DXAnimationSet* LPD3DXANIMATIONSET;

// ---------------------------------------------------------------------------
// The animation controller: tracks that play sets, keyed track events on the global
// clock, and the blended pose written into the registered frame matrices.

class ID3DXAnimationController {
public:
    ULONG AddRef();
    ULONG Release();

    UINT GetMaxNumAnimationOutputs();
    UINT GetMaxNumAnimationSets();
    UINT GetMaxNumTracks();
    UINT GetMaxNumEvents();

    // Binds an output name to where its pose goes; any pointer may be null.
    HRESULT RegisterAnimationOutput(LPCSTR pName, D3DXMATRIX* pMatrix, D3DXVECTOR3* pScale,
                                    D3DXQUATERNION* pRotation, D3DXVECTOR3* pTranslation);
    HRESULT RegisterAnimationSet(LPD3DXANIMATIONSET pAnimSet);
    HRESULT UnregisterAnimationSet(LPD3DXANIMATIONSET pAnimSet);
    UINT GetNumAnimationSets();
    HRESULT GetAnimationSet(UINT Index, LPD3DXANIMATIONSET* ppAnimationSet);
    HRESULT GetAnimationSetByName(LPCSTR szName, LPD3DXANIMATIONSET* ppAnimationSet);

    // Advances global time, runs due events, moves enabled tracks and writes the pose.
    HRESULT AdvanceTime(DOUBLE TimeDelta, LPD3DXANIMATIONCALLBACKHANDLER pCallbackHandler);
    HRESULT ResetTime(); // global time to 0; pending events keep their delays
    DOUBLE GetTime();

    HRESULT SetTrackAnimationSet(UINT Track, LPD3DXANIMATIONSET pAnimSet);
    HRESULT GetTrackAnimationSet(UINT Track, LPD3DXANIMATIONSET* ppAnimSet);
    HRESULT SetTrackPriority(UINT Track, D3DXPRIORITY_TYPE Priority);
    HRESULT SetTrackSpeed(UINT Track, FLOAT Speed);
    HRESULT SetTrackWeight(UINT Track, FLOAT Weight);
    HRESULT SetTrackPosition(UINT Track, DOUBLE Position);
    HRESULT SetTrackEnable(UINT Track, BOOL Enable);
    HRESULT SetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc);
    HRESULT GetTrackDesc(UINT Track, LPD3DXTRACK_DESC pDesc);
    HRESULT SetPriorityBlend(FLOAT BlendWeight);
    FLOAT GetPriorityBlend();

    // Events: start times and durations are global times; 0 means "not keyed".
    D3DXEVENTHANDLE KeyTrackSpeed(UINT Track, FLOAT NewSpeed, DOUBLE StartTime, DOUBLE Duration,
                                  D3DXTRANSITION_TYPE Transition);
    D3DXEVENTHANDLE KeyTrackWeight(UINT Track, FLOAT NewWeight, DOUBLE StartTime, DOUBLE Duration,
                                   D3DXTRANSITION_TYPE Transition);
    D3DXEVENTHANDLE KeyTrackPosition(UINT Track, DOUBLE NewPosition, DOUBLE StartTime);
    D3DXEVENTHANDLE KeyTrackEnable(UINT Track, BOOL NewEnable, DOUBLE StartTime);
    D3DXEVENTHANDLE KeyPriorityBlend(FLOAT NewBlendWeight, DOUBLE StartTime, DOUBLE Duration,
                                     D3DXTRANSITION_TYPE Transition);
    HRESULT UnkeyEvent(D3DXEVENTHANDLE hEvent);
    HRESULT UnkeyAllTrackEvents(UINT Track);
    HRESULT UnkeyAllPriorityBlends();
    D3DXEVENTHANDLE GetCurrentTrackEvent(UINT Track, D3DXEVENT_TYPE EventType);
    D3DXEVENTHANDLE GetCurrentPriorityBlend();
    HRESULT ValidateEvent(D3DXEVENTHANDLE hEvent);
    HRESULT GetEventDesc(D3DXEVENTHANDLE hEvent, LPD3DXEVENT_DESC pDesc);

    // A copy with new maxima (e.g. more tracks); sets are shared, outputs and tracks copied.
    HRESULT CloneAnimationController(UINT MaxNumAnimationOutputs, UINT MaxNumAnimationSets,
                                     UINT MaxNumTracks, UINT MaxNumEvents,
                                     ID3DXAnimationController** ppAnimController);

    // Platform-internal: use D3DXCreateAnimationController.
    explicit ID3DXAnimationController(fw::xanim::ControllerState* state);
    ID3DXAnimationController(const ID3DXAnimationController&) = delete;
    ID3DXAnimationController& operator=(const ID3DXAnimationController&) = delete;

private:
    ~ID3DXAnimationController();
    ULONG m_refCount = 1;
    fw::xanim::ControllerState* m_state;
};
typedef ID3DXAnimationController* LPD3DXANIMATIONCONTROLLER;

// ---------------------------------------------------------------------------
// Functions

HRESULT WINAPI D3DXCreateAnimationController(UINT MaxNumAnimationOutputs, UINT MaxNumAnimationSets,
                                             UINT MaxNumTracks, UINT MaxNumEvents,
                                             LPD3DXANIMATIONCONTROLLER* ppAnimController);

// Loads frames, meshes and animation from a .X file (text, binary or compressed).
// Frames and containers come from pAlloc in file order; without an AnimationSet in
// the file *ppAnimController is null. On failure everything built is freed again.
HRESULT WINAPI D3DXLoadMeshHierarchyFromXA(LPCSTR Filename, DWORD MeshOptions,
                                           LPDIRECT3DDEVICE9 pDevice,
                                           LPD3DXALLOCATEHIERARCHY pAlloc,
                                           LPD3DXLOADUSERDATA pUserDataLoader,
                                           LPD3DXFRAME* ppFrameHeirarchy,
                                           LPD3DXANIMATIONCONTROLLER* ppAnimController);
#define D3DXLoadMeshHierarchyFromX D3DXLoadMeshHierarchyFromXA

// Destroys the frame, its siblings and all descendants with their mesh containers.
HRESULT WINAPI D3DXFrameDestroy(LPD3DXFRAME pFrameRoot, LPD3DXALLOCATEHIERARCHY pAlloc);

// Breadth-first search by exact name over the root, its siblings and descendants.
LPD3DXFRAME WINAPI D3DXFrameFind(const D3DXFRAME* pFrameRoot, LPCSTR Name);

// Registers every named frame's TransformationMatrix as an output of the controller.
HRESULT WINAPI D3DXFrameRegisterNamedMatrices(LPD3DXFRAME pFrameRoot,
                                              LPD3DXANIMATIONCONTROLLER pAnimController);

// Number of named frames in the tree (root, siblings and descendants).
UINT WINAPI D3DXFrameNumNamedMatrices(const D3DXFRAME* pFrameRoot);
