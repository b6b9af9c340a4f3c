// Software skinning throughput: UpdateSkinnedMesh against a straightforward bone-major
// loop over the same influences, and a plain copy of the same vertex bytes as the
// memory-bandwidth yardstick.
#include "platform/d3dx9mesh.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

struct Vertex {
    D3DXVECTOR3 position;
    D3DXVECTOR3 normal;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
constexpr DWORD kBones = 50;
constexpr int kInfluencesPerVertex = 4;

struct Scene {
    std::vector<Vertex> source, skinned;
    std::vector<D3DXMATRIX> bones;
    ID3DXSkinInfo* skin = nullptr;

    explicit Scene(DWORD numVertices) : source(numVertices), skinned(numVertices), bones(kBones) {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (auto& v : source) {
            v.position = D3DXVECTOR3(unit(random), unit(random), unit(random)) * 50.0f;
            v.normal = D3DXVECTOR3(unit(random) - 0.5f, unit(random) - 0.5f, 0.5f);
            D3DXVec3Normalize(&v.normal, &v.normal);
        }
        for (DWORD b = 0; b < kBones; ++b) {
            D3DXMATRIX rotation, translation;
            D3DXMatrixRotationYawPitchRoll(&rotation, 0.1f * b, 0.05f * b, 0.02f * b);
            D3DXMatrixTranslation(&translation, float(b), 0.0f, -float(b));
            bones[b] = rotation * translation;
        }
        // Each vertex is bound to four neighbouring bones, as limbs are.
        std::vector<std::vector<DWORD>> vertices(kBones);
        std::vector<std::vector<FLOAT>> weights(kBones);
        for (DWORD v = 0; v < numVertices; ++v) {
            const DWORD first = DWORD(uint64_t(v) * (kBones - kInfluencesPerVertex) / numVertices);
            float w[kInfluencesPerVertex], sum = 0.0f;
            for (float& x : w)
                sum += x = 0.1f + unit(random);
            for (int i = 0; i < kInfluencesPerVertex; ++i) {
                vertices[first + i].push_back(v);
                weights[first + i].push_back(w[i] / sum);
            }
        }
        D3DXCreateSkinInfoFVF(numVertices, kFvf, kBones, &skin);
        for (DWORD b = 0; b < kBones; ++b)
            skin->SetBoneInfluence(b, DWORD(vertices[b].size()), vertices[b].data(),
                                   weights[b].data());
        skin->UpdateSkinnedMesh(bones.data(), nullptr, source.data(), skinned.data());
    }
    ~Scene() { skin->Release(); }
};

// Bytes one skinning pass moves: source and destination vertices and the influences.
int64_t BytesPerPass(DWORD numVertices) {
    return int64_t(numVertices) * (2 * sizeof(Vertex) + kInfluencesPerVertex * 8 + sizeof(DWORD));
}

void BM_UpdateSkinnedMesh(benchmark::State& state) {
    Scene scene(DWORD(state.range(0)));
    for (auto _ : state) {
        scene.skin->UpdateSkinnedMesh(scene.bones.data(), nullptr, scene.source.data(),
                                      scene.skinned.data());
        benchmark::DoNotOptimize(scene.skinned.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * BytesPerPass(DWORD(state.range(0))));
}

// The obvious implementation: clear, then every bone adds its weighted transform of
// the vertices it moves, then normalise.
void BM_BoneMajorLoop(benchmark::State& state) {
    Scene scene(DWORD(state.range(0)));
    std::vector<std::vector<DWORD>> vertices(kBones);
    std::vector<std::vector<FLOAT>> weights(kBones);
    for (DWORD b = 0; b < kBones; ++b) {
        vertices[b].resize(scene.skin->GetNumBoneInfluences(b));
        weights[b].resize(vertices[b].size());
        scene.skin->GetBoneInfluence(b, vertices[b].data(), weights[b].data());
    }
    for (auto _ : state) {
        for (size_t v = 0; v < scene.source.size(); ++v) {
            scene.skinned[v] = scene.source[v];
            scene.skinned[v].position = scene.skinned[v].normal = D3DXVECTOR3(0, 0, 0);
        }
        for (DWORD b = 0; b < kBones; ++b) {
            for (size_t i = 0; i < vertices[b].size(); ++i) {
                const Vertex& in = scene.source[vertices[b][i]];
                Vertex& out = scene.skinned[vertices[b][i]];
                D3DXVECTOR3 t;
                out.position +=
                    *D3DXVec3TransformCoord(&t, &in.position, &scene.bones[b]) * weights[b][i];
                out.normal +=
                    *D3DXVec3TransformNormal(&t, &in.normal, &scene.bones[b]) * weights[b][i];
            }
        }
        for (auto& v : scene.skinned)
            D3DXVec3Normalize(&v.normal, &v.normal);
        benchmark::DoNotOptimize(scene.skinned.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * BytesPerPass(DWORD(state.range(0))));
}

// Reading and writing the same number of bytes without any arithmetic.
void BM_CopyBandwidth(benchmark::State& state) {
    const size_t bytes = size_t(BytesPerPass(DWORD(state.range(0)))) / 2;
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * int64_t(bytes) * 2);
}

BENCHMARK(BM_UpdateSkinnedMesh)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BoneMajorLoop)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyBandwidth)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

} // namespace
