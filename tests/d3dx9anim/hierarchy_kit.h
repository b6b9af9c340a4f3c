// Shared by the loader tests: an offscreen device, and an allocator that copies what it
// is given (as an application's must) and records every call.
#pragma once

#include "platform/d3dx9.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xtest {

IDirect3DDevice9* SharedDevice();

struct RecordingAllocator : ID3DXAllocateHierarchy {
    struct Container : D3DXMESHCONTAINER {
        std::vector<D3DXMATERIAL> materials;
        std::vector<std::string> textures; // "" where a material has none
        std::vector<DWORD> adjacency;
        std::vector<std::string> effects; // per material: "name=value" of every default
    };

    std::vector<std::string> calls;
    int live = 0;
    int failFrameAt = -1;     // index of the CreateFrame call that fails
    int failContainerAt = -1; // index of the CreateMeshContainer call that fails
    int framesCreated = 0;
    int containersCreated = 0;

    HRESULT CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) override;
    HRESULT CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                const D3DXMATERIAL* pMaterials,
                                const D3DXEFFECTINSTANCE* pEffectInstances, DWORD NumMaterials,
                                const DWORD* pAdjacency, LPD3DXSKININFO pSkinInfo,
                                LPD3DXMESHCONTAINER* ppNewMeshContainer) override;
    HRESULT DestroyFrame(LPD3DXFRAME pFrameToFree) override;
    HRESULT DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) override;
};

// Loads a file; the frame tree and controller are released by the destructor.
struct Loaded {
    RecordingAllocator alloc;
    LPD3DXFRAME root = nullptr;
    LPD3DXANIMATIONCONTROLLER controller = nullptr;
    HRESULT hr = E_FAIL;

    explicit Loaded(const std::string& path, DWORD options = D3DXMESH_MANAGED);
    ~Loaded();
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;
};

// Every frame in depth-first order (frame, children, siblings).
std::vector<const D3DXFRAME*> AllFrames(const D3DXFRAME* root);
std::vector<const D3DXMESHCONTAINER*> AllContainers(const D3DXFRAME* root);

} // namespace xtest
