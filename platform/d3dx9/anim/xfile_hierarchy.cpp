// D3DXLoadMeshHierarchyFromXA: frames and mesh containers through the application's
// allocator in file order, meshes on the device, and the animation controller.
#include "platform/d3dx9/anim/anim_internal.h"
#include "platform/d3dx9/anim/model_options.h"
#include "platform/d3dx9/anim/xfile.h"
#include "platform/d3dx9/anim/xfile_mesh.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

namespace {

using fw::xfile::Child;
using fw::xfile::Document;
using fw::xfile::MeshData;
using fw::xfile::Object;

constexpr UINT kLoadedTracks = 2;
constexpr UINT kLoadedEvents = 30;
constexpr DWORD k16BitVertexLimit = 65536;

void Report(const std::string& what) {
    OutputDebugStringA(("D3DXLoadMeshHierarchyFromX: " + what + "\n").c_str());
}

// Effect defaults D3DX derives from a material when the file names no effect.
struct EffectStore {
    std::vector<std::vector<D3DXEFFECTDEFAULT>> defaults;
    std::vector<D3DXEFFECTINSTANCE> instances;
    std::vector<std::vector<char>> names;

    void Build(std::vector<D3DXMATERIAL>& materials) {
        defaults.resize(materials.size());
        instances.resize(materials.size());
        for (size_t i = 0; i < materials.size(); ++i) {
            D3DMATERIAL9& m = materials[i].MatD3D;
            auto& list = defaults[i];
            Add(list, "Diffuse", D3DXEDT_FLOATS, &m.Diffuse, 16);
            Add(list, "Power", D3DXEDT_FLOATS, &m.Power, 4);
            Add(list, "Specular", D3DXEDT_FLOATS, &m.Specular, 16);
            Add(list, "Emissive", D3DXEDT_FLOATS, &m.Emissive, 16);
            Add(list, "Ambient", D3DXEDT_FLOATS, &m.Ambient, 16);
            if (LPSTR texture = materials[i].pTextureFilename)
                Add(list, "Texture0@Name", D3DXEDT_STRING, texture, DWORD(strlen(texture) + 1));
            instances[i] = {nullptr, DWORD(list.size()), list.data()};
        }
    }

private:
    void Add(std::vector<D3DXEFFECTDEFAULT>& list, const char* name, D3DXEFFECTDEFAULTTYPE type,
             void* value, DWORD bytes) {
        names.emplace_back(name, name + strlen(name) + 1);
        list.push_back({names.back().data(), type, bytes, value});
    }
};

class HierarchyLoader {
public:
    HierarchyLoader(const Document& doc, DWORD options, LPDIRECT3DDEVICE9 device,
                    LPD3DXALLOCATEHIERARCHY alloc)
        : m_doc(doc), m_options(options), m_device(device), m_alloc(alloc) {}

    HRESULT Load(LPD3DXFRAME* ppRoot, LPD3DXANIMATIONCONTROLLER* ppController) {
        LPD3DXFRAME* link = &m_first;
        for (const Object* object : m_doc.topLevel) {
            HRESULT hr = S_OK;
            if (object->Is("Frame"))
                hr = LoadFrame(*object, link);
            else if (object->Is("Mesh"))
                hr = LoadLooseMesh(*object, link);
            else
                continue;
            if (FAILED(hr))
                return Abandon(hr);
            link = &(*link)->pFrameSibling;
        }
        if (!m_first) {
            m_error = "the file holds no frame and no mesh";
            return E_FAIL;
        }
        if (m_first->pFrameSibling) {
            // Several top-level frames hang under one unnamed root.
            LPD3DXFRAME root = nullptr;
            const HRESULT hr = NewFrame(nullptr, &root);
            if (FAILED(hr))
                return Abandon(hr);
            root->pFrameFirstChild = m_first;
            m_first = root;
        }
        const HRESULT hr = LoadAnimation(ppController);
        if (FAILED(hr))
            return Abandon(hr);
        *ppRoot = m_first;
        return S_OK;
    }

    const std::string& Error() const { return m_error; }

private:
    HRESULT Abandon(HRESULT hr) {
        if (m_first)
            D3DXFrameDestroy(m_first, m_alloc);
        m_first = nullptr;
        return hr;
    }

    HRESULT Callback(HRESULT hr, const char* what, LPCSTR name) {
        if (FAILED(hr) && m_error.empty())
            m_error = std::string(what) + (name ? " '" + std::string(name) + "'" : "") + " failed";
        return hr;
    }

    HRESULT NewFrame(LPCSTR name, LPD3DXFRAME* out) {
        *out = nullptr;
        HRESULT hr = Callback(m_alloc->CreateFrame(name, out), "CreateFrame", name);
        if (SUCCEEDED(hr) && !*out)
            hr = Callback(E_FAIL, "CreateFrame", name);
        if (FAILED(hr))
            return hr;
        LPD3DXFRAME frame = *out;
        D3DXMatrixIdentity(&frame->TransformationMatrix);
        frame->pMeshContainer = nullptr;
        frame->pFrameSibling = nullptr;
        frame->pFrameFirstChild = nullptr;
        return S_OK;
    }

    // Builds the frame into *link at once, so a failure further down frees it too.
    HRESULT LoadFrame(const Object& object, LPD3DXFRAME* link) {
        HRESULT hr = NewFrame(object.name.c_str(), link);
        if (FAILED(hr))
            return hr;
        LPD3DXFRAME frame = *link;
        LPD3DXFRAME* childLink = &frame->pFrameFirstChild;
        for (const Child& child : object.children) {
            if (!child.object)
                continue;
            const Object& o = *child.object;
            if (o.Is("Mesh")) {
                hr = LoadMesh(o, frame);
            } else if (child.isReference) {
                continue; // only meshes are shared by reference
            } else if (o.Is("FrameTransformMatrix")) {
                hr = ReadMatrix(o, frame->TransformationMatrix);
            } else if (o.Is("Frame")) {
                hr = LoadFrame(o, childLink);
                if (SUCCEEDED(hr))
                    childLink = &(*childLink)->pFrameSibling;
            }
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    HRESULT LoadLooseMesh(const Object& object, LPD3DXFRAME* link) {
        const HRESULT hr = NewFrame(nullptr, link);
        return FAILED(hr) ? hr : LoadMesh(object, *link);
    }

    HRESULT ReadMatrix(const Object& o, D3DXMATRIX& out) {
        fw::xfile::Cursor c(o);
        D3DXMATRIX m;
        for (int i = 0; i < 16; ++i)
            m.m[i / 4][i % 4] = c.Float();
        if (!c.Ok()) {
            m_error = o.Where() + ": fewer than 16 values";
            return E_FAIL;
        }
        out = m; // the last matrix of a frame wins
        return S_OK;
    }

    HRESULT LoadMesh(const Object& object, LPD3DXFRAME frame) {
        MeshData data;
        if (!fw::xfile::BuildMeshData(object, data, m_error))
            return E_FAIL;
        if (data.NumVertices() == 0 || data.NumFaces() == 0)
            return S_OK; // nothing to draw: no container, as D3DX does
        SortFacesByAttribute(data);
        LPD3DXMESH mesh = nullptr;
        HRESULT hr = CreateMesh(data, &mesh);
        LPD3DXSKININFO skin = nullptr;
        if (SUCCEEDED(hr) && data.hasSkin)
            hr = CreateSkin(data, &skin);
        std::vector<DWORD> adjacency(size_t(data.NumFaces()) * 3);
        if (SUCCEEDED(hr))
            hr = mesh->GenerateAdjacency(0.0f, adjacency.data());
        if (FAILED(hr)) {
            if (m_error.empty())
                m_error = "cannot create mesh '" + object.name + "'";
        } else {
            hr = CreateContainer(object.name, data, mesh, skin, adjacency, frame);
        }
        if (skin)
            skin->Release();
        if (mesh)
            mesh->Release();
        return hr;
    }

    HRESULT CreateContainer(const std::string& name, MeshData& data, LPD3DXMESH mesh,
                            LPD3DXSKININFO skin, const std::vector<DWORD>& adjacency,
                            LPD3DXFRAME frame) {
        std::vector<D3DXMATERIAL> materials;
        for (auto& m : data.materials)
            materials.push_back({m.material, m.hasTexture ? m.texture.data() : nullptr});
        EffectStore effects;
        effects.Build(materials);
        D3DXMESHDATA meshData{};
        meshData.Type = D3DXMESHTYPE_MESH;
        meshData.pMesh = mesh;
        LPD3DXMESHCONTAINER container = nullptr;
        const HRESULT hr =
            Callback(m_alloc->CreateMeshContainer(
                         name.c_str(), &meshData, materials.empty() ? nullptr : materials.data(),
                         effects.instances.empty() ? nullptr : effects.instances.data(),
                         DWORD(materials.size()), adjacency.data(), skin, &container),
                     "CreateMeshContainer", name.c_str());
        if (FAILED(hr) || !container)
            return hr;
        container->pNextMeshContainer = nullptr;
        LPD3DXMESHCONTAINER* link = &frame->pMeshContainer;
        while (*link)
            link = &(*link)->pNextMeshContainer;
        *link = container;
        return S_OK;
    }

    // Faces sorted stably by material, as D3DX's attribute sort leaves them.
    static void SortFacesByAttribute(MeshData& data) {
        if (std::is_sorted(data.attributes.begin(), data.attributes.end()))
            return; // one material, or already in order: nothing moves
        std::vector<DWORD> order(data.NumFaces());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](DWORD a, DWORD b) { return data.attributes[a] < data.attributes[b]; });
        std::vector<DWORD> indices(data.indices.size()), attributes(data.attributes.size());
        for (size_t f = 0; f < order.size(); ++f) {
            attributes[f] = data.attributes[order[f]];
            std::copy_n(data.indices.begin() + std::ptrdiff_t(order[f]) * 3, 3,
                        indices.begin() + std::ptrdiff_t(f) * 3);
        }
        data.indices.swap(indices);
        data.attributes.swap(attributes);
    }

    static std::vector<D3DXATTRIBUTERANGE> AttributeTable(const MeshData& data) {
        std::vector<D3DXATTRIBUTERANGE> table;
        for (DWORD f = 0; f < data.NumFaces(); ++f) {
            if (table.empty() || table.back().AttribId != data.attributes[f])
                table.push_back({data.attributes[f], f, 0, ~0u, 0});
            D3DXATTRIBUTERANGE& range = table.back();
            ++range.FaceCount;
            for (int k = 0; k < 3; ++k) {
                const DWORD v = data.indices[size_t(f) * 3 + k];
                const DWORD end = std::max(
                    range.VertexStart == ~0u ? 0 : range.VertexStart + range.VertexCount, v + 1);
                range.VertexStart = std::min(range.VertexStart, v);
                range.VertexCount = end - range.VertexStart;
            }
        }
        return table;
    }

    HRESULT CreateMesh(const MeshData& data, LPD3DXMESH* out) {
        DWORD options = m_options;
        if (data.NumVertices() > k16BitVertexLimit)
            options |= D3DXMESH_32BIT;
        HRESULT hr = D3DXCreateMeshFVF(data.NumFaces(), data.NumVertices(), options, data.fvf,
                                       m_device, out);
        if (FAILED(hr))
            return hr;
        LPD3DXMESH mesh = *out;
        BYTE* vertices = nullptr;
        hr = mesh->LockVertexBuffer(0, reinterpret_cast<LPVOID*>(&vertices));
        if (FAILED(hr))
            return hr;
        const DWORD stride = mesh->GetNumBytesPerVertex();
        for (DWORD v = 0; v < data.NumVertices(); ++v) {
            BYTE* p = vertices + size_t(v) * stride;
            p = Put(p, data.positions[v]);
            if (data.fvf & D3DFVF_NORMAL)
                p = Put(p, data.normals[v]);
            if (data.fvf & D3DFVF_DIFFUSE)
                p = Put(p, data.colors[v]);
            if (data.fvf & D3DFVF_TEX1)
                p = Put(p, data.uvs[v]);
        }
        mesh->UnlockVertexBuffer();

        void* indices = nullptr;
        hr = mesh->LockIndexBuffer(0, &indices);
        if (FAILED(hr))
            return hr;
        if (options & D3DXMESH_32BIT)
            std::copy(data.indices.begin(), data.indices.end(), static_cast<DWORD*>(indices));
        else
            std::transform(data.indices.begin(), data.indices.end(), static_cast<WORD*>(indices),
                           [](DWORD i) { return WORD(i); });
        mesh->UnlockIndexBuffer();

        DWORD* attributes = nullptr;
        hr = mesh->LockAttributeBuffer(0, &attributes);
        if (FAILED(hr))
            return hr;
        std::copy(data.attributes.begin(), data.attributes.end(), attributes);
        mesh->UnlockAttributeBuffer();
        // Material-less meshes get a one-range table too, so DrawSubset(0) draws them.
        const auto table = AttributeTable(data);
        return mesh->SetAttributeTable(table.data(), DWORD(table.size()));
    }

    template <class T> static BYTE* Put(BYTE* p, const T& value) {
        std::memcpy(p, &value, sizeof value);
        return p + sizeof value;
    }

    HRESULT CreateSkin(const MeshData& data, LPD3DXSKININFO* out) {
        HRESULT hr =
            D3DXCreateSkinInfoFVF(data.NumVertices(), data.fvf, DWORD(data.bones.size()), out);
        for (DWORD b = 0; SUCCEEDED(hr) && b < data.bones.size(); ++b) {
            const auto& bone = data.bones[b];
            hr = (*out)->SetBoneName(b, bone.name.c_str());
            if (SUCCEEDED(hr))
                hr = (*out)->SetBoneOffsetMatrix(b, &bone.offset);
            if (SUCCEEDED(hr))
                hr = (*out)->SetBoneInfluence(b, DWORD(bone.vertices.size()), bone.vertices.data(),
                                              bone.weights.data());
        }
        return hr;
    }

    void CollectRestPoses(const D3DXFRAME* frame, std::map<std::string, fw::xanim::RestPose>& out) {
        for (; frame; frame = frame->pFrameSibling) {
            if (frame->Name && frame->Name[0])
                out.emplace(frame->Name, fw::xanim::DecomposeRest(frame->TransformationMatrix));
            CollectRestPoses(frame->pFrameFirstChild, out);
        }
    }

    HRESULT LoadAnimation(LPD3DXANIMATIONCONTROLLER* ppController) {
        const bool animated = std::any_of(m_doc.topLevel.begin(), m_doc.topLevel.end(),
                                          [](const Object* o) { return o->Is("AnimationSet"); });
        if (!animated || !ppController)
            return S_OK;
        std::map<std::string, fw::xanim::RestPose> rest;
        CollectRestPoses(m_first, rest);
        std::vector<ID3DXAnimationSet*> sets;
        if (!fw::xanim::BuildAnimationSets(m_doc, rest, sets, m_error))
            return E_FAIL;
        LPD3DXANIMATIONCONTROLLER controller = nullptr;
        HRESULT hr = D3DXCreateAnimationController(
            std::max<UINT>(1, D3DXFrameNumNamedMatrices(m_first)), UINT(sets.size()), kLoadedTracks,
            kLoadedEvents, &controller);
        if (SUCCEEDED(hr))
            hr = D3DXFrameRegisterNamedMatrices(m_first, controller);
        // Registered last set first, as D3DX does: index 0 is the file's last set, and
        // that is the one that plays on track 0 until the program picks another.
        for (auto set = sets.rbegin(); SUCCEEDED(hr) && set != sets.rend(); ++set)
            hr = controller->RegisterAnimationSet(*set);
        if (SUCCEEDED(hr) && !sets.empty()) {
            controller->SetTrackAnimationSet(0, sets.back());
            controller->SetTrackEnable(0, TRUE);
        }
        // The idle tracks wait at weight 0, so a first cross-fade into one rises from
        // nothing exactly as every later one does (a faded-out track ends at 0).
        for (UINT track = 1; SUCCEEDED(hr) && track < kLoadedTracks; ++track)
            controller->SetTrackWeight(track, 0.0f);
        for (ID3DXAnimationSet* set : sets)
            set->Release();
        if (FAILED(hr)) {
            if (controller)
                controller->Release();
            m_error = "cannot create the animation controller";
            return hr;
        }
        *ppController = controller;
        return S_OK;
    }

    const Document& m_doc;
    DWORD m_options;
    LPDIRECT3DDEVICE9 m_device;
    LPD3DXALLOCATEHIERARCHY m_alloc;
    LPD3DXFRAME m_first = nullptr;
    std::string m_error;
};

} // namespace

HRESULT WINAPI D3DXLoadMeshHierarchyFromXA(LPCSTR Filename, DWORD MeshOptions,
                                           LPDIRECT3DDEVICE9 pDevice,
                                           LPD3DXALLOCATEHIERARCHY pAlloc,
                                           LPD3DXLOADUSERDATA pUserDataLoader,
                                           LPD3DXFRAME* ppFrameHeirarchy,
                                           LPD3DXANIMATIONCONTROLLER* ppAnimController) {
    if (ppAnimController)
        *ppAnimController = nullptr;
    if (!Filename || !pDevice || !pAlloc || !ppFrameHeirarchy)
        return D3DERR_INVALIDCALL;
    *ppFrameHeirarchy = nullptr;
    static bool userDataNoted = false;
    if (pUserDataLoader && !userDataNoted) {
        userDataNoted = true;
        OutputDebugStringA("D3DXLoadMeshHierarchyFromX: custom data objects are not handed to "
                           "the user-data loader on this platform\n");
    }
    Filename = fw::xanim::ModelFile(Filename);
    Document doc;
    std::string error;
    if (!fw::xfile::LoadDocument(Filename, doc, error)) {
        Report(error);
        return fw::xanim::ApplyModelOptions(E_FAIL, error, pAlloc, ppFrameHeirarchy, nullptr);
    }
    HierarchyLoader loader(doc, MeshOptions, pDevice, pAlloc);
    HRESULT hr = loader.Load(ppFrameHeirarchy, ppAnimController);
    if (FAILED(hr))
        Report(std::string(Filename) + ": " + loader.Error());
    return fw::xanim::ApplyModelOptions(hr, loader.Error(), pAlloc, ppFrameHeirarchy,
                                        ppAnimController ? *ppAnimController : nullptr);
}
