// What --model, --animation and --fit ask of the one model the program loads: another
// file, another animation set, another scale. Without them nothing here changes a thing.
#include "platform/d3dx9/anim/model_options.h"

#include "platform/d3dx9math.h"
#include "platform/d3dx9mesh.h"
#include "platform/win32/host.h"

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string>

namespace fw::xanim {

namespace {

// Half the diagonal of the box around the default hero in its bind pose, as Fit measures it.
constexpr float kDefaultHeroRadius = 35.94f;

// "walk (1.00 s), run (0.67 s)": the controller's sets in file order.
std::string ListSets(ID3DXAnimationController* controller, const char* separator) {
    std::string list;
    const UINT count = controller ? controller->GetNumAnimationSets() : 0;
    for (UINT i = count; i-- > 0;) { // index 0 is the file's last set
        ID3DXAnimationSet* set = nullptr;
        if (FAILED(controller->GetAnimationSet(i, &set)))
            continue;
        char line[160];
        std::snprintf(line, sizeof line, "%s%s (%.2f s)", list.empty() ? "" : separator,
                      set->GetName() ? set->GetName() : "", set->GetPeriod());
        list += line;
        set->Release();
    }
    return list.empty() ? "no animation sets" : list;
}

bool HasSet(ID3DXAnimationController* controller, const std::string& name) {
    bool found = false;
    for (UINT i = 0; controller && i < controller->GetNumAnimationSets() && !found; ++i) {
        ID3DXAnimationSet* set = nullptr;
        if (FAILED(controller->GetAnimationSet(i, &set)))
            continue;
        found = set->GetName() && name == set->GetName();
        set->Release();
    }
    return found;
}

// The box around every mesh vertex in the bind pose (frames' own matrices).
void Extend(const D3DXFRAME* frame, const D3DXMATRIX& parent, D3DXVECTOR3& low, D3DXVECTOR3& high) {
    for (; frame; frame = frame->pFrameSibling) {
        D3DXMATRIX combined;
        D3DXMatrixMultiply(&combined, &frame->TransformationMatrix, &parent);
        for (const D3DXMESHCONTAINER* c = frame->pMeshContainer; c; c = c->pNextMeshContainer) {
            ID3DXMesh* mesh = c->MeshData.pMesh;
            void* bytes = nullptr;
            if (!mesh || FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &bytes)))
                continue;
            const DWORD stride = mesh->GetNumBytesPerVertex();
            for (DWORD v = 0; v < mesh->GetNumVertices(); ++v) {
                D3DXVECTOR3 p, q;
                std::memcpy(&p, static_cast<const BYTE*>(bytes) + size_t(v) * stride, sizeof p);
                D3DXVec3TransformCoord(&q, &p, &combined);
                low = {std::min(low.x, q.x), std::min(low.y, q.y), std::min(low.z, q.z)};
                high = {std::max(high.x, q.x), std::max(high.y, q.y), std::max(high.z, q.z)};
            }
            mesh->UnlockVertexBuffer();
        }
        Extend(frame->pFrameFirstChild, combined, low, high);
    }
}

// Puts the model under a new root frame that scales it to the default hero's size.
HRESULT Fit(ID3DXAllocateHierarchy* alloc, LPD3DXFRAME* root) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    D3DXVECTOR3 low(FLT_MAX, FLT_MAX, FLT_MAX), high(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    Extend(*root, identity, low, high);
    const D3DXVECTOR3 size = high - low;
    const float radius = 0.5f * D3DXVec3Length(&size);
    if (!(radius > 0.0f) || radius == FLT_MAX) {
        OutputDebugStringA("ferrowalk: --fit: the model has no vertices to measure\n");
        return S_OK;
    }
    LPD3DXFRAME scaled = nullptr;
    HRESULT hr = alloc->CreateFrame("", &scaled);
    if (FAILED(hr) || !scaled)
        return FAILED(hr) ? hr : E_OUTOFMEMORY;
    const float scale = kDefaultHeroRadius / radius;
    D3DXMatrixScaling(&scaled->TransformationMatrix, scale, scale, scale);
    scaled->pFrameFirstChild = *root;
    *root = scaled;
    char line[120];
    std::snprintf(line, sizeof line, "ferrowalk: --fit scales the model by %g\n", scale);
    OutputDebugStringA(line);
    return S_OK;
}

} // namespace

const char* ModelFile(const char* asked) {
    const std::string& model = GetRunOptions().model;
    return model.empty() ? asked : model.c_str();
}

HRESULT ApplyModelOptions(HRESULT loaded, const std::string& error, ID3DXAllocateHierarchy* alloc,
                          LPD3DXFRAME* root, ID3DXAnimationController* controller) {
    const RunOptions& run = GetRunOptions();
    if (FAILED(loaded)) {
        if (!run.model.empty()) {
            OutputDebugStringA(
                ("ferrowalk: the model " + run.model + " does not load: " + error + "\n").c_str());
            EndRun(2);
        }
        return loaded;
    }
    if (run.animation == "list") {
        std::printf("%s\n", ListSets(controller, "\n").c_str());
        std::fflush(stdout);
        EndRun(0);
    } else if (!run.animation.empty() && !HasSet(controller, run.animation)) {
        OutputDebugStringA(("ferrowalk: no animation set \"" + run.animation + "\" in " +
                            ModelFile("the model") + "; its sets: " + ListSets(controller, ", ") +
                            "\n")
                               .c_str());
        EndRun(2);
    }
    return run.fit ? Fit(alloc, root) : S_OK;
}

std::string PlayedSetName(ID3DXAnimationController* controller, const char* asked) {
    const RunOptions& run = GetRunOptions();
    if (!run.animation.empty() && run.animation != "list")
        return run.animation;
    // A model of the user's own plays its first set, whatever the program's names are.
    const UINT count = controller->GetNumAnimationSets();
    ID3DXAnimationSet* first = nullptr;
    if (!run.model.empty() && count > 0 &&
        SUCCEEDED(controller->GetAnimationSet(count - 1, &first))) {
        std::string name = first->GetName() ? first->GetName() : "";
        first->Release();
        return name;
    }
    return asked;
}

} // namespace fw::xanim
