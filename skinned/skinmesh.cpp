// The hero model: loading, bone binding, frame matrices and animation control.
#include "skinned/skinmesh.h"

#include "core/zqmemory.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr double kCrossFadeSeconds = 0.25;

void ReportLoadFailure(const char* strFileName, const char* strWhat, HRESULT hr) {
    char line[MAX_PATH + 128];
    std::snprintf(line, sizeof line, "SkinnedModel: \"%s\": %s (0x%08X)\n",
                  strFileName ? strFileName : "(null)", strWhat, static_cast<unsigned>(hr));
    OutputDebugStringA(line);
}

} // namespace

SkinnedModel::SkinnedModel()
    : pSkinningMatrices(nullptr), SkinningMatrixCount(0), pFrameRoot(nullptr),
      pAnimController(nullptr), Allocator(this), pDevice(nullptr), CurrentTrack(0), Time(0.0f),
      LoopCount(0), PeriodTime(0.0f), SetPeriod(0.0), MaxLoops(0) {}

SkinnedModel::~SkinnedModel() {
    Unload();
    delete[] pSkinningMatrices;
    pSkinningMatrices = nullptr;
}

// Frees the hierarchy and the controller and forgets the animation state, so that a
// model can be loaded again without leaking the previous one.
void SkinnedModel::Unload() {
    if (pFrameRoot) {
        D3DXFrameDestroy(pFrameRoot, &Allocator);
        pFrameRoot = nullptr;
    }
    if (pAnimController) {
        pAnimController->Release();
        pAnimController = nullptr;
    }
    CurrentTrack = 0;
    Time = 0.0f;
    LoopCount = 0;
    PeriodTime = 0.0f;
    SetPeriod = 0.0;
    MaxLoops = 0;
    CurrentSetName.clear();
}

HRESULT SkinnedModel::PrepareSkinnedMesh(IDirect3DDevice9* pd3dDevice,
                                         SkinMeshContainer* pContainer) {
    if (!pContainer->pSkinInfo)
        return S_OK;
    if (pContainer->MeshData.pMesh) {
        pContainer->MeshData.pMesh->Release();
        pContainer->MeshData.pMesh = nullptr;
    }

    ID3DXMesh* pBindPoseMesh = pContainer->pBindPoseMesh;
    const DWORD fvf = pBindPoseMesh->GetFVF();
    // 32-bit indices are kept: a mesh of more than 65536 vertices cannot clone without them.
    const DWORD options = D3DXMESH_MANAGED | (pBindPoseMesh->GetOptions() & D3DXMESH_32BIT);
    HRESULT hr = pBindPoseMesh->CloneMeshFVF(options, fvf, pd3dDevice, &pContainer->MeshData.pMesh);
    if (FAILED(hr))
        return hr;
    // The skin describes the vertices as the file gave them; when normals were added the
    // buffers it deforms have a wider layout.
    if (pContainer->pSkinInfo->GetFVF() != fvf) {
        hr = pContainer->pSkinInfo->SetFVF(fvf);
        if (FAILED(hr))
            return hr;
    }

    ID3DXMesh* pMesh = pContainer->MeshData.pMesh;
    DWORD numRanges = 0;
    hr = pMesh->GetAttributeTable(nullptr, &numRanges);
    if (FAILED(hr))
        return hr;
    // Without a table, each material's subset is drawn by its index, as for rigid meshes.
    const bool synthesize = numRanges == 0;
    if (synthesize)
        numRanges = pContainer->NumMaterials;

    delete[] pContainer->pAttributeRanges;
    pContainer->NumAttributeRanges = 0;
    pContainer->pAttributeRanges = TRY_TRACKED_NEW_ARRAY(D3DXATTRIBUTERANGE, numRanges);
    if (!pContainer->pAttributeRanges)
        return E_OUTOFMEMORY;
    pContainer->NumAttributeRanges = numRanges;
    if (synthesize) {
        for (DWORD i = 0; i < numRanges; ++i) {
            D3DXATTRIBUTERANGE& range = pContainer->pAttributeRanges[i];
            range.AttribId = i;
            range.FaceCount = pMesh->GetNumFaces();
            range.VertexCount = pMesh->GetNumVertices();
        }
    } else {
        hr = pMesh->GetAttributeTable(pContainer->pAttributeRanges, &numRanges);
        if (FAILED(hr))
            return hr;
    }

    // The shared array only grows; the count changes only together with the array.
    const DWORD numBones = pContainer->pSkinInfo->GetNumBones();
    if (SkinningMatrixCount < numBones) {
        D3DXMATRIX* pMatrices = TRY_TRACKED_NEW_ARRAY(D3DXMATRIX, numBones);
        if (!pMatrices)
            return E_OUTOFMEMORY;
        delete[] pSkinningMatrices;
        pSkinningMatrices = pMatrices;
        SkinningMatrixCount = numBones;
    }
    return S_OK;
}

HRESULT SkinnedModel::Load(const char* strFileName, IDirect3DDevice9* pd3dDevice) {
    Unload();
    pDevice = pd3dDevice;

    D3DXFRAME* pLoadedRoot = nullptr;
    ID3DXAnimationController* pLoadedController = nullptr;
    HRESULT hr = D3DXLoadMeshHierarchyFromXA(strFileName, D3DXMESH_MANAGED, pd3dDevice, &Allocator,
                                             nullptr, &pLoadedRoot, &pLoadedController);
    if (FAILED(hr)) {
        ReportLoadFailure(strFileName, "not loaded", hr);
        return hr;
    }
    pFrameRoot = pLoadedRoot;
    pAnimController = pLoadedController;

    hr = ReserveFrameWalk();
    if (FAILED(hr)) {
        ReportLoadFailure(strFileName, "no memory to walk the frames", hr);
        Unload();
        return hr;
    }
    hr = BindBoneMatrices(pFrameRoot);
    if (FAILED(hr))
        ReportLoadFailure(strFileName, "bones not bound, unbound skins are not drawn", hr);
    return hr;
}

namespace {

UINT CountFrames(const D3DXFRAME* pFrame) {
    UINT count = 0;
    for (; pFrame; pFrame = pFrame->pFrameSibling)
        count += 1 + CountFrames(pFrame->pFrameFirstChild); // recursion as deep as the nesting
    return count;
}

} // namespace

HRESULT SkinnedModel::ReserveFrameWalk() {
    try {
        PendingFrames.reserve(CountFrames(pFrameRoot));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT SkinnedModel::BindBoneMatrices(D3DXFRAME* pFrame) {
    HRESULT hr = S_OK;
    WalkFrames(pFrame, [&](D3DXFRAME* pVisited) {
        for (D3DXMESHCONTAINER* pMeshContainer = pVisited->pMeshContainer;
             pMeshContainer && SUCCEEDED(hr); pMeshContainer = pMeshContainer->pNextMeshContainer)
            hr = BindMeshBones(static_cast<SkinMeshContainer*>(pMeshContainer));
        return SUCCEEDED(hr);
    });
    return hr;
}

// The bone pointers are stored only when every bone has its frame: a container without
// them is never skinned or drawn.
HRESULT SkinnedModel::BindMeshBones(SkinMeshContainer* pContainer) {
    if (!pContainer->pSkinInfo)
        return S_OK;
    const DWORD numBones = pContainer->pSkinInfo->GetNumBones();
    D3DXMATRIX** ppMatrices = TRY_TRACKED_NEW_ARRAY(D3DXMATRIX*, numBones);
    if (!ppMatrices)
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < numBones; ++i) {
        const char* strBoneName = pContainer->pSkinInfo->GetBoneName(i);
        D3DXFRAME* pBoneFrame = strBoneName ? D3DXFrameFind(pFrameRoot, strBoneName) : nullptr;
        if (!pBoneFrame) {
            char line[MAX_PATH + 64];
            std::snprintf(line, sizeof line, "SkinnedModel: bone \"%s\" has no frame\n",
                          strBoneName ? strBoneName : "(null)");
            OutputDebugStringA(line);
            delete[] ppMatrices;
            return E_FAIL;
        }
        ppMatrices[i] = &static_cast<SkinFrame*>(pBoneFrame)->CombinedMatrix;
    }
    delete[] pContainer->ppBoneFrameMatrices;
    pContainer->ppBoneFrameMatrices = ppMatrices;
    return S_OK;
}

void SkinnedModel::Update(float elapsed, D3DXMATRIX matWorld) {
    if (!pFrameRoot)
        return;
    Time += elapsed;
    if (pAnimController) {
        if (MaxLoops == 0 || LoopCount < MaxLoops)
            pAnimController->AdvanceTime(elapsed, nullptr);
        PeriodTime += elapsed;
        if (static_cast<double>(PeriodTime) >= SetPeriod) {
            PeriodTime = 0.0f; // the overshoot is dropped
            ++LoopCount;
        }
    }
    ComputeCombinedMatrices(pFrameRoot, &matWorld);
}

// Siblings share the parent's matrix and the order of frames does not matter, so the
// sibling chain is a loop and only nesting recurses.
void SkinnedModel::ComputeCombinedMatrices(D3DXFRAME* pFrame, const D3DXMATRIX* pParentMatrix) {
    for (; pFrame; pFrame = pFrame->pFrameSibling) {
        SkinFrame* pSkinFrame = static_cast<SkinFrame*>(pFrame);
        D3DXMatrixMultiply(&pSkinFrame->CombinedMatrix, &pSkinFrame->AdjustMatrix,
                           &pSkinFrame->TransformationMatrix);
        if (pParentMatrix)
            D3DXMatrixMultiply(&pSkinFrame->CombinedMatrix, &pSkinFrame->CombinedMatrix,
                               pParentMatrix);
        if (pFrame->pFrameFirstChild)
            ComputeCombinedMatrices(pFrame->pFrameFirstChild, &pSkinFrame->CombinedMatrix);
    }
}

void SkinnedModel::SetAnimation(const char* strSetName, UINT maxLoops, bool smooth) {
    if (!pAnimController || !strSetName)
        return;
    if (CurrentSetName == strSetName)
        return;
    CurrentSetName = strSetName;
    LoopCount = 0;
    PeriodTime = 0.0f;
    MaxLoops = maxLoops;

    ID3DXAnimationSet* pAnimSet = nullptr;
    pAnimController->GetAnimationSetByName(strSetName, &pAnimSet);
    if (!pAnimSet)
        return;
    SetPeriod = pAnimSet->GetPeriod();
    if (smooth) {
        CrossFadeTo(pAnimSet);
    } else {
        pAnimController->SetTrackAnimationSet(0, pAnimSet);
        pAnimController->SetTrackEnable(0, TRUE);
    }
    pAnimSet->Release();
}

void SkinnedModel::CrossFadeTo(ID3DXAnimationSet* pAnimSet) {
    const UINT oldTrack = CurrentTrack;
    const UINT newTrack = oldTrack == 0 ? 1 : 0;
    // Keys run on the controller's clock. The model's Time runs ahead of it once a loop
    // limit has held the pose, and keys placed there would delay the fade by that long.
    const double start = pAnimController->GetTime();

    pAnimController->SetTrackAnimationSet(newTrack, pAnimSet);
    pAnimController->UnkeyAllTrackEvents(oldTrack);
    pAnimController->UnkeyAllTrackEvents(newTrack);
    pAnimController->KeyTrackEnable(oldTrack, FALSE, start + kCrossFadeSeconds);
    pAnimController->KeyTrackSpeed(oldTrack, 0.0f, start, kCrossFadeSeconds, D3DXTRANSITION_LINEAR);
    pAnimController->KeyTrackWeight(oldTrack, 0.0f, start, kCrossFadeSeconds,
                                    D3DXTRANSITION_LINEAR);
    pAnimController->SetTrackEnable(newTrack, TRUE);
    pAnimController->KeyTrackSpeed(newTrack, 1.0f, start, kCrossFadeSeconds, D3DXTRANSITION_LINEAR);
    pAnimController->KeyTrackWeight(newTrack, 1.0f, start, kCrossFadeSeconds,
                                    D3DXTRANSITION_LINEAR);
    CurrentTrack = newTrack;
}
