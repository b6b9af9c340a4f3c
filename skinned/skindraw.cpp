// The hero on screen: CPU skinning, the normal pass and the sphere-mapped highlight pass.
#include "skinned/skinmesh.h"

#include <cstring>

namespace {

// Texture names that give a mesh a role of its own; compared exactly.
constexpr char kHighlightTexture[] = "RobotHighLight.bmp";
constexpr char kBoundingTexture[] = "boundMesh.bmp";

bool IsHighlight(const SkinMeshContainer* pContainer) {
    return std::strcmp(pContainer->TextureName, kHighlightTexture) == 0;
}

bool IsMarked(const SkinMeshContainer* pContainer) {
    return IsHighlight(pContainer) || std::strcmp(pContainer->TextureName, kBoundingTexture) == 0;
}

D3DXMATRIX IdentityMatrix() {
    D3DXMATRIX matIdentity;
    D3DXMatrixIdentity(&matIdentity);
    return matIdentity;
}

void DrawMaterialSubset(IDirect3DDevice9* pd3dDevice, const SkinMeshContainer* pContainer,
                        DWORD material, DWORD subset) {
    pd3dDevice->SetMaterial(&pContainer->pMaterials[material].MatD3D);
    pd3dDevice->SetTexture(0, pContainer->ppMaterialTextures[material]);
    pContainer->MeshData.pMesh->DrawSubset(subset);
}

} // namespace

// A skin whose bones did not all bind (or whose matrices are missing) is left alone.
bool SkinnedModel::BonesBound(const SkinMeshContainer* pContainer) {
    return pContainer->ppBoneFrameMatrices != nullptr;
}

void SkinnedModel::SkinContainer(SkinMeshContainer* pContainer) {
    const DWORD numBones = pContainer->pSkinInfo->GetNumBones();
    if (!pSkinningMatrices || numBones > SkinningMatrixCount)
        return;
    for (DWORD i = 0; i < numBones; ++i)
        D3DXMatrixMultiply(&pSkinningMatrices[i], &pContainer->pBoneOffsets[i],
                           pContainer->ppBoneFrameMatrices[i]);

    void* pbVerticesSrc = nullptr;
    void* pbVerticesDest = nullptr;
    if (FAILED(pContainer->pBindPoseMesh->LockVertexBuffer(D3DLOCK_READONLY, &pbVerticesSrc)))
        return;
    if (SUCCEEDED(pContainer->MeshData.pMesh->LockVertexBuffer(0, &pbVerticesDest))) {
        pContainer->pSkinInfo->UpdateSkinnedMesh(pSkinningMatrices, nullptr, pbVerticesSrc,
                                                 pbVerticesDest);
        pContainer->pBindPoseMesh->UnlockVertexBuffer();
        pContainer->MeshData.pMesh->UnlockVertexBuffer();
    } else {
        pContainer->pBindPoseMesh->UnlockVertexBuffer();
    }
}

void SkinnedModel::Draw() {
    if (!pFrameRoot)
        return;
    pDevice->SetRenderState(D3DRS_ZENABLE, 1);
    pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    pDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    pDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    DrawFrameNormal(pDevice, pFrameRoot);
    DrawFrameHighlight(pDevice, pFrameRoot);
}

void SkinnedModel::DrawFrameNormal(IDirect3DDevice9* pd3dDevice, D3DXFRAME* pFrame) {
    WalkFrames(pFrame, [&](D3DXFRAME* pVisited) {
        for (D3DXMESHCONTAINER* pMeshContainer = pVisited->pMeshContainer; pMeshContainer;
             pMeshContainer = pMeshContainer->pNextMeshContainer)
            DrawContainerNormal(pd3dDevice, static_cast<SkinMeshContainer*>(pMeshContainer),
                                static_cast<SkinFrame*>(pVisited));
        return true;
    });
}

void SkinnedModel::DrawFrameHighlight(IDirect3DDevice9* pd3dDevice, D3DXFRAME* pFrame) {
    WalkFrames(pFrame, [&](D3DXFRAME* pVisited) {
        for (D3DXMESHCONTAINER* pMeshContainer = pVisited->pMeshContainer; pMeshContainer;
             pMeshContainer = pMeshContainer->pNextMeshContainer)
            DrawContainerHighlight(pd3dDevice, static_cast<SkinMeshContainer*>(pMeshContainer),
                                   static_cast<SkinFrame*>(pVisited));
        return true;
    });
}

void SkinnedModel::DrawContainerNormal(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer,
                                       SkinFrame* pFrame) {
    const bool marked = IsMarked(pContainer);
    if (pContainer->pSkinInfo) {
        if (!BonesBound(pContainer))
            return;
        SkinContainer(pContainer);
        const D3DXMATRIX matWorld = IdentityMatrix();
        pd3dDevice->SetTransform(D3DTS_WORLD, &matWorld);
        if (marked)
            return;
        for (DWORD i = 0; i < pContainer->NumAttributeRanges; ++i) {
            const DWORD attribId = pContainer->pAttributeRanges[i].AttribId;
            if (attribId < pContainer->NumMaterials)
                DrawMaterialSubset(pd3dDevice, pContainer, attribId, attribId);
        }
    } else {
        pd3dDevice->SetTransform(D3DTS_WORLD, &pFrame->CombinedMatrix);
        pd3dDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        pd3dDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
        if (marked)
            return;
        for (DWORD i = 0; i < pContainer->NumMaterials; ++i)
            DrawMaterialSubset(pd3dDevice, pContainer, i, i);
    }
}

void SkinnedModel::DrawContainerHighlight(IDirect3DDevice9* pd3dDevice,
                                          SkinMeshContainer* pContainer, SkinFrame* pFrame) {
    const bool skinned = pContainer->pSkinInfo != nullptr;
    if (skinned) {
        if (!BonesBound(pContainer))
            return;
        SkinContainer(pContainer);
        const D3DXMATRIX matWorld = IdentityMatrix();
        pd3dDevice->SetTransform(D3DTS_WORLD, &matWorld);
    } else {
        pd3dDevice->SetTransform(D3DTS_WORLD, &pFrame->CombinedMatrix);
    }
    if (!IsHighlight(pContainer))
        return;

    for (DWORD j = 0; j < pContainer->NumMaterials; ++j) {
        pd3dDevice->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_SPHEREMAP);
        pd3dDevice->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS,
                                         D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
        pd3dDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        // Skinned highlights replace what is below; rigid ones modulate it by 2 x colour.
        pd3dDevice->SetRenderState(D3DRS_SRCBLEND, skinned ? D3DBLEND_ONE : D3DBLEND_DESTCOLOR);
        pd3dDevice->SetRenderState(D3DRS_DESTBLEND, skinned ? D3DBLEND_ZERO : D3DBLEND_SRCCOLOR);
        DrawMaterialSubset(pd3dDevice, pContainer, j, j);
        pd3dDevice->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_PASSTHRU);
        pd3dDevice->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        pd3dDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
}
