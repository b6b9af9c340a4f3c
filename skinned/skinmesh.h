// The hero: a frame hierarchy with rigid and CPU-skinned meshes read from a .X file,
// its animation controller with cross-faded sets, and drawing with a highlight pass.
#pragma once

#include "platform/d3dx9.h"

#include <string>
#include <vector>

class SkinnedModel;

// A loaded frame with the world matrix that the per-frame update computes.
struct SkinFrame : public D3DXFRAME {
    D3DXMATRIXA16 CombinedMatrix; // world matrix; skinned containers point at it per bone
    D3DXMATRIX AdjustMatrix;      // applied before TransformationMatrix; identity
};

// A loaded mesh with its textures and, when skinned, the data of software skinning.
// Rigid: pSkinInfo null, MeshData.pMesh is drawn as loaded. Skinned: MeshData.pMesh is
// rewritten from pBindPoseMesh by every skinning step.
struct SkinMeshContainer : public D3DXMESHCONTAINER {
    IDirect3DTexture9** ppMaterialTextures; // NumMaterials entries, each owned or null
    char TextureName[MAX_PATH];             // texture file of the last textured material
    ID3DXMesh* pBindPoseMesh;               // skinning source, read only
    D3DXATTRIBUTERANGE* pAttributeRanges;   // attribute table of MeshData.pMesh
    DWORD NumAttributeRanges;
    D3DXMATRIX** ppBoneFrameMatrices; // per bone: borrowed CombinedMatrix of its frame
    D3DXMATRIX* pBoneOffsets;         // per bone: the skin's offset matrix
};

// The loader's callbacks: builds SkinFrame and SkinMeshContainer records and frees them.
class HierarchyAllocator : public ID3DXAllocateHierarchy {
public:
    explicit HierarchyAllocator(SkinnedModel* owner) : Owner(owner) {}

    HRESULT CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) override;
    HRESULT CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                const D3DXMATERIAL* pMaterials,
                                const D3DXEFFECTINSTANCE* pEffectInstances, DWORD NumMaterials,
                                const DWORD* pAdjacency, LPD3DXSKININFO pSkinInfo,
                                LPD3DXMESHCONTAINER* ppNewMeshContainer) override;
    HRESULT DestroyFrame(LPD3DXFRAME pFrameToFree) override;
    HRESULT DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) override;

private:
    static HRESULT CopyName(LPCSTR Name, LPSTR* ppCopy);
    static void CopyMaterials(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer,
                              const D3DXMATERIAL* pMaterials, DWORD NumMaterials);
    static HRESULT CopySkin(SkinMeshContainer* pContainer, LPD3DXSKININFO pSkinInfo);

    SkinnedModel* Owner; // the model that embeds this allocator (borrowed)
};

class SkinnedModel {
public:
    SkinnedModel();
    ~SkinnedModel();
    SkinnedModel(const SkinnedModel&) = delete;
    SkinnedModel& operator=(const SkinnedModel&) = delete;

    // Loads the hierarchy and animation from an .X file and binds every bone to its frame.
    // pd3dDevice is borrowed and must outlive the model. On a failed load the model stays
    // empty; on a failed bone binding the skins that are not fully bound are never drawn.
    HRESULT Load(const char* strFileName, IDirect3DDevice9* pd3dDevice);

    // Chooses the animation set by name: a new name resets the loop count, smooth
    // cross-fades over 0.25 s. maxLoops 0 plays without end. The current name is ignored.
    void SetAnimation(const char* strSetName, UINT maxLoops, bool smooth);

    // Advances the animation by elapsed seconds and recomputes every frame's world matrix.
    void Update(float elapsed, D3DXMATRIX matWorld);

    // Normal pass, then highlight pass; inside BeginScene/EndScene. Nothing before Load.
    void Draw();

    // Read-only views for callers that inspect the loaded model.
    const D3DXFRAME* GetFrameRoot() const { return pFrameRoot; }
    ID3DXAnimationController* GetAnimController() const { return pAnimController; } // borrowed
    UINT GetSkinningMatrixCount() const { return SkinningMatrixCount; }
    UINT GetCurrentTrack() const { return CurrentTrack; }
    UINT GetLoopCount() const { return LoopCount; }
    float GetPeriodTime() const { return PeriodTime; }
    float GetTime() const { return Time; }

private:
    friend class HierarchyAllocator;

    HRESULT PrepareSkinnedMesh(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer);
    void SkinContainer(SkinMeshContainer* pContainer);
    static bool BonesBound(const SkinMeshContainer* pContainer);

    void Unload();
    HRESULT ReserveFrameWalk();
    // Visits pFrame, then the walk of its sibling, then the walk of its first child, until
    // visit returns false. A stack instead of recursion: a file with a very long chain of
    // sibling frames cannot exhaust the call stack.
    template <typename Visit> bool WalkFrames(D3DXFRAME* pFrame, Visit visit);
    HRESULT BindBoneMatrices(D3DXFRAME* pFrame);
    HRESULT BindMeshBones(SkinMeshContainer* pContainer);
    void ComputeCombinedMatrices(D3DXFRAME* pFrame, const D3DXMATRIX* pParentMatrix);
    void CrossFadeTo(ID3DXAnimationSet* pAnimSet);

    void DrawFrameNormal(IDirect3DDevice9* pd3dDevice, D3DXFRAME* pFrame);
    void DrawFrameHighlight(IDirect3DDevice9* pd3dDevice, D3DXFRAME* pFrame);
    void DrawContainerNormal(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer,
                             SkinFrame* pFrame);
    void DrawContainerHighlight(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer,
                                SkinFrame* pFrame);

    D3DXMATRIX* pSkinningMatrices; // shared by every skinned container, owned
    UINT SkinningMatrixCount;      // largest bone count prepared so far
    D3DXFRAME* pFrameRoot;         // root SkinFrame, owned through D3DXFrameDestroy
    ID3DXAnimationController* pAnimController;
    HierarchyAllocator Allocator;
    IDirect3DDevice9* pDevice; // borrowed
    UINT CurrentTrack;         // track of the current set after a cross-fade
    float Time;                // sum of elapsed times while loaded
    UINT LoopCount;            // periods completed since the set was chosen
    float PeriodTime;          // time towards the next period
    double SetPeriod;          // period of the current set
    UINT MaxLoops;             // 0: no limit
    std::string CurrentSetName;
    std::vector<D3DXFRAME*> PendingFrames; // walk stack, reserved at load: walks allocate nothing
};

template <typename Visit> bool SkinnedModel::WalkFrames(D3DXFRAME* pFrame, Visit visit) {
    PendingFrames.clear();
    PendingFrames.push_back(pFrame);
    while (!PendingFrames.empty()) {
        D3DXFRAME* pVisited = PendingFrames.back();
        PendingFrames.pop_back();
        if (!visit(pVisited))
            return false;
        // Each frame is pushed once, so the stack never holds more than the whole tree.
        if (pVisited->pFrameFirstChild)
            PendingFrames.push_back(pVisited->pFrameFirstChild);
        if (pVisited->pFrameSibling)
            PendingFrames.push_back(pVisited->pFrameSibling);
    }
    return true;
}
