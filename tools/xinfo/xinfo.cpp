// xinfo FILE...: loads each .X file through D3DXLoadMeshHierarchyFromXA and prints what
// it holds: format, frame tree, mesh containers, bones and animation sets. Exit status 0
// when every file loaded, 1 otherwise (the reason goes to standard error).
#include "platform/d3dx9.h"

#include <cstdio>
#include <cstdlib>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstring>
#include <string>
#include <vector>

namespace {

// Keeps what the loader hands over for printing; owns copies, as an allocator must.
struct InfoAllocator : ID3DXAllocateHierarchy {
    struct Container : D3DXMESHCONTAINER {
        std::vector<std::string> textures;
    };

    static char* Copy(LPCSTR s) { return s ? strdup(s) : nullptr; }

    HRESULT CreateFrame(LPCSTR Name, LPD3DXFRAME* ppNewFrame) override {
        auto* frame = new D3DXFRAME{};
        frame->Name = Copy(Name);
        *ppNewFrame = frame;
        return S_OK;
    }
    HRESULT CreateMeshContainer(LPCSTR Name, const D3DXMESHDATA* pMeshData,
                                const D3DXMATERIAL* pMaterials, const D3DXEFFECTINSTANCE*,
                                DWORD NumMaterials, const DWORD*, LPD3DXSKININFO pSkinInfo,
                                LPD3DXMESHCONTAINER* ppNewMeshContainer) override {
        auto* c = new Container{};
        c->Name = Copy(Name);
        c->MeshData = *pMeshData;
        c->MeshData.pMesh->AddRef();
        c->NumMaterials = NumMaterials;
        for (DWORD i = 0; i < NumMaterials; ++i)
            if (pMaterials[i].pTextureFilename)
                c->textures.emplace_back(pMaterials[i].pTextureFilename);
        c->pSkinInfo = pSkinInfo;
        if (pSkinInfo)
            pSkinInfo->AddRef();
        *ppNewMeshContainer = c;
        return S_OK;
    }
    HRESULT DestroyFrame(LPD3DXFRAME pFrameToFree) override {
        free(pFrameToFree->Name);
        delete pFrameToFree;
        return S_OK;
    }
    HRESULT DestroyMeshContainer(LPD3DXMESHCONTAINER pMeshContainerToFree) override {
        auto* c = static_cast<Container*>(pMeshContainerToFree);
        free(c->Name);
        c->MeshData.pMesh->Release();
        if (c->pSkinInfo)
            c->pSkinInfo->Release();
        delete c;
        return S_OK;
    }
};

// A NULLREF device: meshes live in system memory and nothing is drawn, so no window, no
// window system and no GL driver are started to read a file.
IDirect3DDevice9* CreateFileDevice() {
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d)
        return nullptr;
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 1;
    pp.BackBufferHeight = 1;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.Windowed = TRUE;
    IDirect3DDevice9* device = nullptr;
    d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_NULLREF, nullptr,
                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device);
    d3d->Release();
    return device;
}

std::string Format(const char* path) {
    char header[16] = {};
    FILE* file = std::fopen(path, "rb");
    const size_t got = file ? std::fread(header, 1, sizeof header, file) : 0;
    if (file)
        std::fclose(file);
    if (got < 16)
        return "unknown";
    const std::string kind(header + 8, 4);
    const char* name = kind == "txt "   ? "text"
                       : kind == "bin " ? "binary"
                       : kind == "tzip" ? "compressed text"
                       : kind == "bzip" ? "compressed binary"
                                        : "unknown";
    return std::string(name) + ", version " +
           std::to_string(std::atoi(std::string(header + 4, 2).c_str())) + "." +
           std::to_string(std::atoi(std::string(header + 6, 2).c_str())) + ", " +
           (std::string(header + 12, 4) == "0064" ? "64" : "32") + "-bit floats";
}

std::string FvfText(DWORD fvf) {
    std::string s = "XYZ";
    if (fvf & D3DFVF_NORMAL)
        s += "|NORMAL";
    if (fvf & D3DFVF_DIFFUSE)
        s += "|DIFFUSE";
    if (fvf & D3DFVF_TEX1)
        s += "|TEX1";
    return s;
}

const char* NameOf(const char* name) {
    return name ? (*name ? name : "(unnamed)") : "(root)";
}

struct Totals {
    DWORD frames = 0, containers = 0, vertices = 0, faces = 0, bones = 0;
};

void PrintFrames(const D3DXFRAME* frame, int depth, Totals& totals) {
    for (; frame; frame = frame->pFrameSibling) {
        ++totals.frames;
        std::printf("    %*s%s\n", depth * 2, "", NameOf(frame->Name));
        PrintFrames(frame->pFrameFirstChild, depth + 1, totals);
    }
}

void PrintContainers(const D3DXFRAME* frame, Totals& totals) {
    for (; frame; frame = frame->pFrameSibling) {
        for (const D3DXMESHCONTAINER* c = frame->pMeshContainer; c; c = c->pNextMeshContainer) {
            const auto* info = static_cast<const InfoAllocator::Container*>(c);
            ID3DXMesh* mesh = c->MeshData.pMesh;
            const DWORD bones = c->pSkinInfo ? c->pSkinInfo->GetNumBones() : 0;
            ++totals.containers;
            totals.vertices += mesh->GetNumVertices();
            totals.faces += mesh->GetNumFaces();
            totals.bones += bones;
            std::printf(
                "    %s in frame %s: %lu vertices, %lu faces, %s, %lu materials, %lu bones\n",
                NameOf(c->Name), NameOf(frame->Name), (unsigned long)mesh->GetNumVertices(),
                (unsigned long)mesh->GetNumFaces(), FvfText(mesh->GetFVF()).c_str(),
                (unsigned long)c->NumMaterials, (unsigned long)bones);
            for (const std::string& texture : info->textures)
                std::printf("      texture %s\n", texture.c_str());
        }
        PrintContainers(frame->pFrameFirstChild, totals);
    }
}

void PrintAnimation(ID3DXAnimationController* controller) {
    if (!controller) {
        std::printf("  animation sets: 0\n");
        return;
    }
    const UINT count = controller->GetNumAnimationSets();
    std::printf("  animation sets: %u\n", count);
    for (UINT i = 0; i < count; ++i) {
        ID3DXAnimationSet* set = nullptr;
        controller->GetAnimationSet(i, &set);
        std::printf("    %s: period %.4g s, %u animated frames, %.6g ticks per second\n",
                    NameOf(set->GetName()), set->GetPeriod(), set->GetNumAnimations(),
                    set->GetSourceTicksPerSecond());
        set->Release();
    }
}

bool Describe(const char* path, IDirect3DDevice9* device) {
    InfoAllocator alloc;
    LPD3DXFRAME root = nullptr;
    LPD3DXANIMATIONCONTROLLER controller = nullptr;
    const HRESULT hr = D3DXLoadMeshHierarchyFromXA(path, D3DXMESH_SYSTEMMEM, device, &alloc,
                                                   nullptr, &root, &controller);
    if (FAILED(hr)) {
        std::fprintf(stderr, "xinfo: %s: cannot load (error 0x%08x)\n", path, unsigned(hr));
        return false;
    }
    Totals totals;
    std::printf("%s\n  format: %s\n  frames:\n", path, Format(path).c_str());
    PrintFrames(root, 0, totals);
    std::printf("  mesh containers:\n");
    PrintContainers(root, totals);
    PrintAnimation(controller);
    std::printf("  totals: %lu frames, %lu mesh containers, %lu vertices, %lu faces, %lu bones\n",
                (unsigned long)totals.frames, (unsigned long)totals.containers,
                (unsigned long)totals.vertices, (unsigned long)totals.faces,
                (unsigned long)totals.bones);
    D3DXFrameDestroy(root, &alloc);
    if (controller)
        controller->Release();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout,
                     "usage: xinfo FILE...\nPrints the frames, meshes, bones and animation sets "
                     "of DirectX .X files.\n");
        return argc < 2 ? 1 : 0;
    }
#ifdef __GLIBC__
    // Loading makes and drops blocks of hundreds of kilobytes; from the heap and kept, they
    // are reused, where mapped and unmapped each one would cost a page fault per 4 KB again.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    IDirect3DDevice9* device = CreateFileDevice();
    if (!device) {
        std::fprintf(stderr, "xinfo: cannot create a Direct3D device\n");
        return 1;
    }
    bool allLoaded = true;
    for (int i = 1; i < argc; ++i)
        allLoaded = Describe(argv[i], device) && allLoaded;
    device->Release();
    return allLoaded ? 0 : 1;
}
