// The loader's allocation callbacks: frames and mesh containers of the hero.
#include "skinned/skinmesh.h"

#include "core/zqmemory.h"

#include <cstdio>
#include <cstring>

HRESULT HierarchyAllocator::CopyName(LPCSTR Name, LPSTR* ppCopy) {
    *ppCopy = nullptr;
    if (!Name)
        return S_OK;
    const size_t length = std::strlen(Name);
    LPSTR pCopy = TRY_TRACKED_NEW_ARRAY(char, length + 1);
    if (!pCopy)
        return E_OUTOFMEMORY;
    std::memcpy(pCopy, Name, length + 1);
    *ppCopy = pCopy;
    return S_OK;
}

HRESULT HierarchyAllocator::CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) {
    *ppNewFrame = nullptr;
    SkinFrame* pFrame = TRY_TRACKED_NEW(SkinFrame);
    if (!pFrame)
        return E_OUTOFMEMORY;
    HRESULT hr = CopyName(Name, &pFrame->Name);
    if (FAILED(hr)) {
        delete pFrame;
        return hr;
    }
    D3DXMatrixIdentity(&pFrame->TransformationMatrix);
    D3DXMatrixIdentity(&pFrame->CombinedMatrix);
    D3DXMatrixIdentity(&pFrame->AdjustMatrix);
    pFrame->pMeshContainer = nullptr;
    pFrame->pFrameSibling = nullptr;
    pFrame->pFrameFirstChild = nullptr;
    *ppNewFrame = pFrame;
    return S_OK;
}

// Loads each named texture and records the last name; the loader's strings are not kept.
void HierarchyAllocator::CopyMaterials(IDirect3DDevice9* pd3dDevice, SkinMeshContainer* pContainer,
                                       const D3DXMATERIAL* pMaterials, DWORD NumMaterials) {
    for (DWORD i = 0; i < NumMaterials; ++i) {
        D3DXMATERIAL& material = pContainer->pMaterials[i];
        material = pMaterials[i];
        if (!material.pTextureFilename)
            continue;
        // The loader's string lives until the callback returns; no copy is needed.
        const char* const strTexName = material.pTextureFilename;
        material.pTextureFilename = nullptr;

        IDirect3DTexture9** ppTexture = &pContainer->ppMaterialTextures[i];
        if (FAILED(D3DXCreateTextureFromFileA(pd3dDevice, strTexName, ppTexture)) &&
            FAILED(D3DXCreateTextureFromFileA(pd3dDevice, strTexName, ppTexture))) {
            *ppTexture = nullptr;
            char line[MAX_PATH + 64];
            std::snprintf(line, sizeof line, "SkinnedModel: texture \"%s\" not loaded\n",
                          strTexName);
            OutputDebugStringA(line);
        }

        // A name too long for the field is cut; a cut name never equals a marker name.
        const size_t length = strnlen(strTexName, MAX_PATH - 1);
        std::memcpy(pContainer->TextureName, strTexName, length);
        pContainer->TextureName[length] = '\0';
    }
}

HRESULT HierarchyAllocator::CopySkin(SkinMeshContainer* pContainer, LPD3DXSKININFO pSkinInfo) {
    pContainer->pSkinInfo = pSkinInfo;
    pSkinInfo->AddRef();
    pContainer->pBindPoseMesh = pContainer->MeshData.pMesh;
    pContainer->pBindPoseMesh->AddRef();

    const DWORD numBones = pSkinInfo->GetNumBones();
    pContainer->pBoneOffsets = TRY_TRACKED_NEW_ARRAY(D3DXMATRIX, numBones);
    if (!pContainer->pBoneOffsets)
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < numBones; ++i) {
        const D3DXMATRIX* pOffset = pSkinInfo->GetBoneOffsetMatrix(i);
        if (pOffset)
            pContainer->pBoneOffsets[i] = *pOffset;
        else
            D3DXMatrixIdentity(&pContainer->pBoneOffsets[i]);
    }
    return S_OK;
}

HRESULT HierarchyAllocator::CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                                const D3DXMATERIAL* pMaterials,
                                                const D3DXEFFECTINSTANCE* /*pEffectInstances*/,
                                                DWORD NumMaterials, const DWORD* pAdjacency,
                                                LPD3DXSKININFO pSkinInfo,
                                                LPD3DXMESHCONTAINER* ppNewMeshContainer) {
    *ppNewMeshContainer = nullptr;
    if (!pMeshData || pMeshData->Type != D3DXMESHTYPE_MESH || !pMeshData->pMesh)
        return E_FAIL;
    ID3DXMesh* pMesh = pMeshData->pMesh;
    const DWORD fvf = pMesh->GetFVF();
    if (fvf == 0)
        return E_FAIL;

    SkinMeshContainer* pContainer = TRY_TRACKED_NEW(SkinMeshContainer);
    if (!pContainer)
        return E_OUTOFMEMORY;

    IDirect3DDevice9* pd3dDevice = nullptr;
    HRESULT hr = CopyName(Name, &pContainer->Name);
    if (SUCCEEDED(hr))
        hr = pMesh->GetDevice(&pd3dDevice);
    const DWORD numFaces = pMesh->GetNumFaces();

    if (SUCCEEDED(hr)) {
        pContainer->MeshData.Type = D3DXMESHTYPE_MESH;
        if (!(fvf & D3DFVF_NORMAL)) {
            hr = pMesh->CloneMeshFVF(pMesh->GetOptions(), fvf | D3DFVF_NORMAL, pd3dDevice,
                                     &pContainer->MeshData.pMesh);
            if (SUCCEEDED(hr))
                D3DXComputeNormals(pContainer->MeshData.pMesh, nullptr);
        } else {
            pContainer->MeshData.pMesh = pMesh;
            pMesh->AddRef();
        }
    }

    if (SUCCEEDED(hr)) {
        pContainer->NumMaterials = NumMaterials > 1 ? NumMaterials : 1;
        pContainer->pMaterials = TRY_TRACKED_NEW_ARRAY(D3DXMATERIAL, pContainer->NumMaterials);
        pContainer->ppMaterialTextures =
            TRY_TRACKED_NEW_ARRAY(IDirect3DTexture9*, pContainer->NumMaterials);
        pContainer->pAdjacency = TRY_TRACKED_NEW_ARRAY(DWORD, size_t(numFaces) * 3);
        if (!pContainer->pMaterials || !pContainer->ppMaterialTextures || !pContainer->pAdjacency)
            hr = E_OUTOFMEMORY;
    }

    if (SUCCEEDED(hr)) {
        if (pAdjacency)
            std::memcpy(pContainer->pAdjacency, pAdjacency, size_t(numFaces) * 3 * sizeof(DWORD));
        else
            std::memset(pContainer->pAdjacency, 0xFF, size_t(numFaces) * 3 * sizeof(DWORD));

        if (NumMaterials > 0 && pMaterials) {
            CopyMaterials(pd3dDevice, pContainer, pMaterials, NumMaterials);
        } else {
            // Grey default so that a mesh without materials still shows.
            D3DMATERIAL9& matDefault = pContainer->pMaterials[0].MatD3D;
            matDefault.Diffuse.r = matDefault.Diffuse.g = matDefault.Diffuse.b = 0.5f;
            matDefault.Specular = matDefault.Diffuse;
        }
    }

    // A skin without bones deforms nothing and would collapse every vertex to the
    // origin: such a mesh is kept rigid.
    if (SUCCEEDED(hr) && pSkinInfo && pSkinInfo->GetNumBones() > 0) {
        hr = CopySkin(pContainer, pSkinInfo);
        if (SUCCEEDED(hr))
            hr = Owner->PrepareSkinnedMesh(pd3dDevice, pContainer);
    }

    if (pd3dDevice)
        pd3dDevice->Release();
    if (FAILED(hr)) {
        DestroyMeshContainer(pContainer);
        return hr;
    }
    *ppNewMeshContainer = pContainer;
    return S_OK;
}

HRESULT HierarchyAllocator::DestroyFrame(LPD3DXFRAME pFrameToFree) {
    SkinFrame* pFrame = static_cast<SkinFrame*>(pFrameToFree);
    if (!pFrame)
        return S_OK;
    delete[] pFrame->Name;
    pFrame->Name = nullptr;
    delete pFrame;
    return S_OK;
}

template <typename T> static void ReleaseAndNull(T*& pInterface) {
    if (pInterface) {
        pInterface->Release();
        pInterface = nullptr;
    }
}

template <typename T> static void FreeArray(T*& pArray) {
    delete[] pArray;
    pArray = nullptr;
}

HRESULT HierarchyAllocator::DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) {
    SkinMeshContainer* pContainer = static_cast<SkinMeshContainer*>(pMeshContainerToFree);
    if (!pContainer)
        return S_OK;
    FreeArray(pContainer->Name);
    FreeArray(pContainer->pAdjacency);
    FreeArray(pContainer->pMaterials);
    FreeArray(pContainer->pBoneOffsets);
    if (pContainer->ppMaterialTextures) {
        for (DWORD i = 0; i < pContainer->NumMaterials; ++i)
            ReleaseAndNull(pContainer->ppMaterialTextures[i]);
        FreeArray(pContainer->ppMaterialTextures);
    }
    FreeArray(pContainer->ppBoneFrameMatrices);
    ReleaseAndNull(pContainer->MeshData.pMesh);
    ReleaseAndNull(pContainer->pSkinInfo);
    ReleaseAndNull(pContainer->pBindPoseMesh);
    FreeArray(pContainer->pAttributeRanges);
    delete pContainer;
    return S_OK;
}
