// libFuzzer target: any bytes through the .X reader, and whatever parses through mesh
// building and animation set building (everything the loader does short of a device).
#include "platform/d3dx9/anim/anim_internal.h"
#include "platform/d3dx9/anim/xfile.h"
#include "platform/d3dx9/anim/xfile_mesh.h"

#include <cstddef>
#include <cstdint>

namespace {

void BuildMeshes(const fw::xfile::Object& object, int depth) {
    if (depth > 8)
        return;
    if (object.Is("Mesh")) {
        fw::xfile::MeshData mesh;
        std::string error;
        fw::xfile::BuildMeshData(object, mesh, error);
    }
    for (const fw::xfile::Child& child : object.children)
        if (child.object && !child.isReference)
            BuildMeshes(*child.object, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fw::xfile::Document doc;
    std::string error;
    if (!fw::xfile::ParseDocument(data, size, "fuzz.x", doc, error))
        return 0;
    for (const fw::xfile::Object* object : doc.topLevel)
        BuildMeshes(*object, 0);
    std::vector<ID3DXAnimationSet*> sets;
    if (fw::xanim::BuildAnimationSets(doc, {}, sets, error)) {
        for (ID3DXAnimationSet* set : sets) {
            for (UINT i = 0; i < set->GetNumAnimations(); ++i) {
                D3DXVECTOR3 s, t;
                D3DXQUATERNION r;
                set->GetSRT(set->GetPeriodicPosition(0.37), i, &s, &r, &t);
            }
            set->Release();
        }
    }
    return 0;
}
