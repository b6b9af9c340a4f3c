// Frame tree helpers.
#include "platform/d3dx9anim.h"

#include <cstring>
#include <vector>

LPD3DXFRAME WINAPI D3DXFrameFind(const D3DXFRAME* pFrameRoot, LPCSTR Name) {
    // Level by level: the root and its siblings, then all their children, and so on.
    std::vector<const D3DXFRAME*> level, next;
    for (const D3DXFRAME* f = pFrameRoot; f; f = f->pFrameSibling)
        level.push_back(f);
    while (!level.empty()) {
        for (const D3DXFRAME* frame : level) {
            const bool match =
                Name && frame->Name ? std::strcmp(frame->Name, Name) == 0 : Name == frame->Name;
            if (match)
                return const_cast<LPD3DXFRAME>(frame);
        }
        next.clear();
        for (const D3DXFRAME* frame : level)
            for (const D3DXFRAME* c = frame->pFrameFirstChild; c; c = c->pFrameSibling)
                next.push_back(c);
        level.swap(next);
    }
    return nullptr;
}

namespace {

// Children first, then the frame's containers in chain order, then the frame; stops at
// the first failing callback.
HRESULT DestroyOne(LPD3DXFRAME frame, LPD3DXALLOCATEHIERARCHY alloc) {
    while (LPD3DXFRAME child = frame->pFrameFirstChild) {
        frame->pFrameFirstChild = child->pFrameSibling;
        child->pFrameSibling = nullptr;
        const HRESULT hr = DestroyOne(child, alloc);
        if (FAILED(hr))
            return hr;
    }
    while (LPD3DXMESHCONTAINER container = frame->pMeshContainer) {
        frame->pMeshContainer = container->pNextMeshContainer;
        const HRESULT hr = alloc->DestroyMeshContainer(container);
        if (FAILED(hr))
            return hr;
    }
    return alloc->DestroyFrame(frame);
}

} // namespace

HRESULT WINAPI D3DXFrameDestroy(LPD3DXFRAME pFrameRoot, LPD3DXALLOCATEHIERARCHY pAlloc) {
    if (!pFrameRoot || !pAlloc)
        return D3DERR_INVALIDCALL;
    // Siblings are detached and destroyed one by one, the given frame last.
    while (LPD3DXFRAME sibling = pFrameRoot->pFrameSibling) {
        pFrameRoot->pFrameSibling = sibling->pFrameSibling;
        sibling->pFrameSibling = nullptr;
        const HRESULT hr = DestroyOne(sibling, pAlloc);
        if (FAILED(hr))
            return hr;
    }
    return DestroyOne(pFrameRoot, pAlloc);
}

namespace {

template <class Visit> void ForEachFrame(const D3DXFRAME* frame, Visit&& visit) {
    for (; frame; frame = frame->pFrameSibling) {
        visit(frame);
        ForEachFrame(frame->pFrameFirstChild, visit);
    }
}

bool IsNamed(const D3DXFRAME* frame) {
    return frame->Name && frame->Name[0] != '\0';
}

} // namespace

UINT WINAPI D3DXFrameNumNamedMatrices(const D3DXFRAME* pFrameRoot) {
    UINT count = 0;
    ForEachFrame(pFrameRoot, [&](const D3DXFRAME* f) { count += IsNamed(f) ? 1 : 0; });
    return count;
}

HRESULT WINAPI D3DXFrameRegisterNamedMatrices(LPD3DXFRAME pFrameRoot,
                                              LPD3DXANIMATIONCONTROLLER pAnimController) {
    if (!pFrameRoot || !pAnimController)
        return D3DERR_INVALIDCALL;
    HRESULT result = S_OK;
    ForEachFrame(pFrameRoot, [&](const D3DXFRAME* f) {
        if (!IsNamed(f) || FAILED(result))
            return;
        auto* frame = const_cast<LPD3DXFRAME>(f);
        result = pAnimController->RegisterAnimationOutput(frame->Name, &frame->TransformationMatrix,
                                                          nullptr, nullptr, nullptr);
    });
    return result;
}
