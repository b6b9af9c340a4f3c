// Texture loading with mip generation, and the cost of submitting a terrain-sized draw.
#include "platform/d3d9.h"
#include "platform/d3d9/formats.h"
#include "platform/d3d9/testing.h"
#include "platform/d3dx9tex.h"
#include "tests/kit/kit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

// One offscreen 800 x 600 device for every benchmark, as the program has.
IDirect3DDevice9* Device() {
    static const auto* const offscreen = new kit::OffscreenDevice("bench", 800, 600, D3DFMT_D16);
    if (!offscreen->device)
        std::abort();
    return offscreen->device;
}

std::string ScratchFile(const std::string& name) {
    return kit::ScratchPath(name).string();
}

std::vector<uint8_t> Noise(size_t count) {
    std::vector<uint8_t> out(count);
    uint32_t x = 12345;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return out;
}

void LoadFile(benchmark::State& state, const std::string& path) {
    IDirect3DDevice9* device = Device();
    for (auto _ : state) {
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(D3DXCreateTextureFromFileA(device, path.c_str(), &texture)))
            state.SkipWithError("load failed");
        else
            texture->Release();
    }
}

// The terrain's heightmap: a 1024 x 1024 grey PNG, full chain built by box filtering.
void BM_LoadGreyPng1024(benchmark::State& state) {
    static const std::string path = [] {
        std::string p = ScratchFile("grey.png");
        std::vector<uint8_t> grey = Noise(1024 * 1024);
        stbi_write_png(p.c_str(), 1024, 1024, 1, grey.data(), 1024);
        return p;
    }();
    LoadFile(state, path);
}
BENCHMARK(BM_LoadGreyPng1024)->Unit(benchmark::kMillisecond);

// A 1024 x 1024 DXT1 DDS with one level: eleven compressed levels are generated.
void BM_LoadDxt1Dds1024(benchmark::State& state) {
    static const std::string path = [] {
        std::vector<uint8_t> rgba = Noise(1024 * 1024 * 4);
        std::vector<uint8_t> file(128, 0), blocks(fw::d3d9::LevelBytes(D3DFMT_DXT1, 1024, 1024));
        fw::d3d9::EncodeFromRgba(D3DFMT_DXT1, rgba.data(), 1024, 1024, blocks.data());
        const uint32_t header[] = {0x20534444, 124, 0x1007, 1024, 1024, 0, 0, 1};
        std::memcpy(file.data(), header, sizeof header);
        const uint32_t pf[] = {32, 4, 0x31545844};
        std::memcpy(file.data() + 76, pf, sizeof pf);
        file.insert(file.end(), blocks.begin(), blocks.end());
        return kit::WriteScratchFile("one.dds", file.data(), file.size());
    }();
    LoadFile(state, path);
}
BENCHMARK(BM_LoadDxt1Dds1024)->Unit(benchmark::kMillisecond);

struct TerrainVertex {
    float x, y, z, u0, v0, u1, v1;
};

// The terrain's draw: a 63 x 63-cell grid (7938 triangles), colour and detail textures,
// the states it sets each frame, one indexed draw, then Present.
void BM_TerrainFrame(benchmark::State& state) {
    IDirect3DDevice9* device = Device();
    const UINT cells = 63, cellCount = cells * cells;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    device->CreateVertexBuffer(cellCount * 4 * sizeof(TerrainVertex), D3DUSAGE_WRITEONLY,
                               D3DFVF_XYZ | D3DFVF_TEX2, D3DPOOL_MANAGED, &vb, nullptr);
    device->CreateIndexBuffer(cellCount * 6 * 2, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16,
                              D3DPOOL_MANAGED, &ib, nullptr);
    TerrainVertex* v = nullptr;
    vb->Lock(0, 0, reinterpret_cast<void**>(&v), 0);
    uint16_t* index = nullptr;
    ib->Lock(0, 0, reinterpret_cast<void**>(&index), 0);
    for (UINT c = 0; c < cellCount; ++c) {
        float x = float(c % cells) / cells * 2 - 1, z = float(c / cells) / cells * 2 - 1;
        float d = 2.0f / cells;
        for (UINT k = 0; k < 4; ++k) {
            float cx = x + (k & 1) * d, cz = z + (k >> 1) * d;
            v[c * 4 + k] = {cx, cz, 0.5f, (cx + 1) / 2, (cz + 1) / 2, float(k & 1), float(k >> 1)};
        }
        const uint16_t order[6] = {0, 3, 1, 0, 2, 3};
        for (UINT k = 0; k < 6; ++k)
            index[c * 6 + k] = uint16_t(c * 4 + order[k]);
    }
    vb->Unlock();
    ib->Unlock();
    IDirect3DTexture9* textures[2] = {};
    for (auto& texture : textures) {
        device->CreateTexture(256, 256, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, &texture, nullptr);
        for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
            D3DLOCKED_RECT rect;
            D3DSURFACE_DESC desc;
            texture->GetLevelDesc(level, &desc);
            texture->LockRect(level, &rect, nullptr, 0);
            std::memset(rect.pBits, 0x5a,
                        fw::d3d9::LevelBytes(D3DFMT_DXT1, desc.Width, desc.Height));
            texture->UnlockRect(level);
        }
    }
    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1;
    D3DMATERIAL9 material{};
    material.Diffuse = material.Ambient = {1, 1, 1, 0};
    std::vector<uint8_t> pixels;
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xff000000, 1.0f, 0);
        device->BeginScene();
        device->SetMaterial(&material);
        device->LightEnable(0, TRUE);
        device->SetTransform(D3DTS_WORLD, &identity);
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_AMBIENT, 0xffffffff);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        for (DWORD s = 0; s < 2; ++s) {
            device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        }
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->SetStreamSource(0, vb, 0, sizeof(TerrainVertex));
        device->SetIndices(ib);
        device->SetTexture(0, textures[0]);
        device->SetTexture(1, textures[1]);
        device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX2);
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, cellCount * 4, 0, cellCount * 2);
        device->LightEnable(0, FALSE);
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device->EndScene();
        if (state.range(0)) {
            device->Present(nullptr, nullptr, nullptr, nullptr);
        } else {
            // Let GL finish drawing outside the timing, so frames do not pile up.
            state.PauseTiming();
            fw::d3d9test::ReadBackBuffer(device, nullptr, nullptr, &pixels);
            state.ResumeTiming();
        }
    }
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    for (auto* texture : textures)
        texture->Release();
    vb->Release();
    ib->Release();
}
// 0: the calls alone, GL's drawing excluded; 1: with Present, the whole frame drawn.
BENCHMARK(BM_TerrainFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
