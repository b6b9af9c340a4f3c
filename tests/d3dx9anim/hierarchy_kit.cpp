#include "hierarchy_kit.h"

#include "tests/kit/kit.h"

#include <cstdlib>
#include <cstring>

namespace xtest {

IDirect3DDevice9* SharedDevice() {
    // Made on first use and kept to the end: the loader tests only need one to belong to.
    static const auto* const offscreen = new kit::OffscreenDevice("tests", 64, 64);
    return offscreen->device;
}

namespace {
char* Copy(LPCSTR s) {
    return s ? strdup(s) : nullptr;
}
} // namespace

HRESULT RecordingAllocator::CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) {
    calls.push_back(Name ? "frame '" + std::string(Name) + "'" : "frame null");
    if (framesCreated++ == failFrameAt)
        return E_OUTOFMEMORY;
    auto* frame = new D3DXFRAME{};
    frame->Name = Copy(Name);
    *ppNewFrame = frame;
    ++live;
    return S_OK;
}

HRESULT RecordingAllocator::CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                                const D3DXMATERIAL* pMaterials,
                                                const D3DXEFFECTINSTANCE* pEffectInstances,
                                                DWORD NumMaterials, const DWORD* pAdjacency,
                                                LPD3DXSKININFO pSkinInfo,
                                                LPD3DXMESHCONTAINER* ppNewMeshContainer) {
    calls.push_back("container '" + std::string(Name ? Name : "(null)") + "'");
    if (containersCreated++ == failContainerAt)
        return E_FAIL;
    auto* c = new Container{};
    c->Name = Copy(Name);
    c->MeshData = *pMeshData;
    c->MeshData.pMesh->AddRef();
    for (DWORD i = 0; i < NumMaterials; ++i) {
        c->materials.push_back(pMaterials[i]);
        c->textures.push_back(pMaterials[i].pTextureFilename ? pMaterials[i].pTextureFilename : "");
        c->materials.back().pTextureFilename = nullptr;
    }
    for (DWORD i = 0; pEffectInstances && i < NumMaterials; ++i) {
        std::string text;
        const D3DXEFFECTINSTANCE& effect = pEffectInstances[i];
        for (DWORD d = 0; d < effect.NumDefaults; ++d) {
            const D3DXEFFECTDEFAULT& def = effect.pDefaults[d];
            text += std::string(def.pParamName) + "=";
            if (def.Type == D3DXEDT_STRING)
                text += static_cast<const char*>(def.pValue);
            else
                text += std::to_string(static_cast<const float*>(def.pValue)[0]) + "/" +
                        std::to_string(def.NumBytes);
            text += " ";
        }
        c->effects.push_back(text);
    }
    c->NumMaterials = NumMaterials;
    c->pMaterials = NumMaterials ? c->materials.data() : nullptr;
    c->adjacency.assign(pAdjacency, pAdjacency + 3 * pMeshData->pMesh->GetNumFaces());
    c->pAdjacency = c->adjacency.data();
    c->pSkinInfo = pSkinInfo;
    if (pSkinInfo)
        pSkinInfo->AddRef();
    *ppNewMeshContainer = c;
    ++live;
    return S_OK;
}

HRESULT RecordingAllocator::DestroyFrame(LPD3DXFRAME pFrameToFree) {
    free(pFrameToFree->Name);
    delete pFrameToFree;
    --live;
    return S_OK;
}

HRESULT RecordingAllocator::DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) {
    auto* c = static_cast<Container*>(pMeshContainerToFree);
    free(c->Name);
    c->MeshData.pMesh->Release();
    if (c->pSkinInfo)
        c->pSkinInfo->Release();
    delete c;
    --live;
    return S_OK;
}

Loaded::Loaded(const std::string& path, DWORD options) {
    hr = D3DXLoadMeshHierarchyFromXA(path.c_str(), options, SharedDevice(), &alloc, nullptr, &root,
                                     &controller);
}

Loaded::~Loaded() {
    if (root)
        D3DXFrameDestroy(root, &alloc);
    if (controller)
        controller->Release();
    EXPECT_EQ(alloc.live, 0);
}

std::vector<const D3DXFRAME*> AllFrames(const D3DXFRAME* root) {
    std::vector<const D3DXFRAME*> out;
    for (const D3DXFRAME* f = root; f; f = f->pFrameSibling) {
        out.push_back(f);
        for (const D3DXFRAME* c : AllFrames(f->pFrameFirstChild))
            out.push_back(c);
    }
    return out;
}

std::vector<const D3DXMESHCONTAINER*> AllContainers(const D3DXFRAME* root) {
    std::vector<const D3DXMESHCONTAINER*> out;
    for (const D3DXFRAME* f : AllFrames(root))
        for (const D3DXMESHCONTAINER* c = f->pMeshContainer; c; c = c->pNextMeshContainer)
            out.push_back(c);
    return out;
}

} // namespace xtest
