#include "device.h"

#include "platform/d3dx9/mesh/skin_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Vertex {
    D3DXVECTOR3 position;
    D3DXVECTOR3 normal;
    DWORD color;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(Vertex) == 36);

using SkinPtr = kit::Ref<ID3DXSkinInfo>;

SkinPtr MakeSkin(DWORD vertices, DWORD bones, DWORD fvf = kFvf) {
    ID3DXSkinInfo* skin = nullptr;
    EXPECT_EQ(D3D_OK, D3DXCreateSkinInfoFVF(vertices, fvf, bones, &skin));
    return SkinPtr(skin);
}

void ExpectVectorNear(const D3DXVECTOR3& expected, const D3DXVECTOR3& actual,
                      float tolerance = 1e-5f) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

std::vector<Vertex> SampleVertices(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    std::vector<Vertex> vertices(count);
    for (size_t i = 0; i < count; ++i) {
        auto& v = vertices[i];
        v.position = D3DXVECTOR3(coordinate(random), coordinate(random), coordinate(random));
        v.normal = D3DXVECTOR3(coordinate(random), coordinate(random), coordinate(random));
        D3DXVec3Normalize(&v.normal, &v.normal);
        v.color = 0xFF000000u | DWORD(i);
        v.u = float(i);
        v.v = -float(i);
    }
    return vertices;
}

D3DXMATRIX BoneMatrix(int i) {
    D3DXMATRIX scale, rotation, translation;
    D3DXMatrixScaling(&scale, 1.0f + 0.1f * i, 1.0f, 0.5f + 0.2f * i);
    D3DXMatrixRotationYawPitchRoll(&rotation, 0.3f * i, -0.2f * i, 0.1f + 0.05f * i);
    D3DXMatrixTranslation(&translation, float(i), -2.0f * i, 0.5f);
    return scale * rotation * translation;
}

TEST(SkinInfo, BonesKeepNamesOffsetsAndInfluences) {
    SkinPtr skin = MakeSkin(10, 3);
    EXPECT_EQ(3u, skin->GetNumBones());
    EXPECT_EQ(kFvf, skin->GetFVF());
    EXPECT_EQ(nullptr, skin->GetBoneName(0)); // unnamed
    EXPECT_EQ(D3D_OK, skin->SetBoneName(1, "Arm"));
    EXPECT_STREQ("Arm", skin->GetBoneName(1));
    EXPECT_EQ(nullptr, skin->GetBoneName(3));
    EXPECT_EQ(D3DERR_INVALIDCALL, skin->SetBoneName(3, "Beyond"));

    D3DXMATRIX offset = BoneMatrix(2);
    EXPECT_EQ(D3D_OK, skin->SetBoneOffsetMatrix(2, &offset));
    ASSERT_NE(nullptr, skin->GetBoneOffsetMatrix(2));
    EXPECT_EQ(offset, *skin->GetBoneOffsetMatrix(2));
    EXPECT_EQ(nullptr, skin->GetBoneOffsetMatrix(3));
    EXPECT_EQ(nullptr, skin->GetBoneOffsetMatrix(DWORD(-1)));

    const DWORD vertices[] = {0, 4, 9};
    const FLOAT weights[] = {1.0f, 0.5f, 0.25f};
    EXPECT_EQ(D3D_OK, skin->SetBoneInfluence(0, 3, vertices, weights));
    EXPECT_EQ(D3D_OK, skin->SetBoneInfluence(1, 1, &vertices[1], &weights[1]));
    EXPECT_EQ(3u, skin->GetNumBoneInfluences(0));
    DWORD readVertices[3];
    FLOAT readWeights[3];
    EXPECT_EQ(D3D_OK, skin->GetBoneInfluence(0, readVertices, readWeights));
    EXPECT_EQ(9u, readVertices[2]);
    EXPECT_EQ(0.25f, readWeights[2]);
    DWORD most = 0;
    EXPECT_EQ(D3D_OK, skin->GetMaxVertexInfluences(&most));
    EXPECT_EQ(2u, most); // vertex 4

    // A vertex index past the skin's vertices would be written out of bounds later.
    const DWORD outside[] = {10};
    EXPECT_EQ(D3DERR_INVALIDCALL, skin->SetBoneInfluence(2, 1, outside, weights));
    EXPECT_EQ(0u, skin->GetNumBoneInfluences(2));
}

TEST(SkinInfo, BindPoseReproducesTheSourceMesh) {
    constexpr int kBones = 4;
    std::vector<Vertex> source = SampleVertices(50, 1);
    SkinPtr skin = MakeSkin(DWORD(source.size()), kBones);
    // Every vertex is shared between two bones.
    for (int b = 0; b < kBones; ++b) {
        std::vector<DWORD> vertices;
        std::vector<FLOAT> weights;
        for (DWORD v = 0; v < source.size(); ++v) {
            if (v % kBones == DWORD(b) || (v + 1) % kBones == DWORD(b)) {
                vertices.push_back(v);
                weights.push_back(v % kBones == DWORD(b) ? 0.25f : 0.75f);
            }
        }
        ASSERT_EQ(D3D_OK, skin->SetBoneInfluence(b, DWORD(vertices.size()), vertices.data(),
                                                 weights.data()));
    }
    // offset x inverse(offset), as a model in its bind pose produces.
    std::vector<D3DXMATRIX> matrices(kBones);
    for (int b = 0; b < kBones; ++b) {
        D3DXMATRIX offset = BoneMatrix(b), inverse;
        ASSERT_NE(nullptr, D3DXMatrixInverse(&inverse, nullptr, &offset));
        matrices[b] = offset * inverse;
    }
    std::vector<Vertex> skinned(source.size());
    ASSERT_EQ(D3D_OK,
              skin->UpdateSkinnedMesh(matrices.data(), nullptr, source.data(), skinned.data()));
    for (size_t v = 0; v < source.size(); ++v) {
        ExpectVectorNear(source[v].position, skinned[v].position, 1e-4f);
        ExpectVectorNear(source[v].normal, skinned[v].normal, 1e-5f);
        EXPECT_EQ(source[v].color, skinned[v].color);
        EXPECT_EQ(source[v].u, skinned[v].u);
    }

    // With exact identities the positions come back bit for bit (normals are renormalised).
    for (auto& m : matrices)
        D3DXMatrixIdentity(&m);
    skin->UpdateSkinnedMesh(matrices.data(), nullptr, source.data(), skinned.data());
    for (size_t v = 0; v < source.size(); ++v) {
        EXPECT_EQ(source[v].position, skinned[v].position);
        ExpectVectorNear(source[v].normal, skinned[v].normal, 1e-6f);
    }
}

TEST(SkinInfo, WeightsBlendTheBoneTransforms) {
    SkinPtr skin = MakeSkin(3, 2);
    const DWORD bone0[] = {0, 1}, bone1[] = {0, 2};
    const FLOAT weights0[] = {0.25f, 1.0f}, weights1[] = {0.75f, 1.0f};
    skin->SetBoneInfluence(0, 2, bone0, weights0);
    skin->SetBoneInfluence(1, 2, bone1, weights1);
    D3DXMATRIX matrices[2];
    D3DXMatrixTranslation(&matrices[0], 4, 0, 0);
    D3DXMatrixTranslation(&matrices[1], 0, 8, 0);

    std::vector<Vertex> source(3), skinned(3);
    for (auto& v : source) {
        v.position = D3DXVECTOR3(1, 1, 1);
        v.normal = D3DXVECTOR3(0, 0, 1);
    }
    ASSERT_EQ(D3D_OK, skin->UpdateSkinnedMesh(matrices, nullptr, source.data(), skinned.data()));
    ExpectVectorNear(D3DXVECTOR3(2, 7, 1), skinned[0].position); // 0.25 (5,1,1) + 0.75 (1,9,1)
    ExpectVectorNear(D3DXVECTOR3(5, 1, 1), skinned[1].position);
    ExpectVectorNear(D3DXVECTOR3(1, 9, 1), skinned[2].position);
    ExpectVectorNear(D3DXVECTOR3(0, 0, 1), skinned[0].normal);

    // Replacing a bone's influences takes effect at the next update.
    const DWORD moved[] = {2};
    const FLOAT full[] = {1.0f};
    skin->SetBoneInfluence(0, 1, moved, full);
    skin->UpdateSkinnedMesh(matrices, nullptr, source.data(), skinned.data());
    ExpectVectorNear(D3DXVECTOR3(0.75f, 6.75f, 0.75f), skinned[0].position);
    ExpectVectorNear(D3DXVECTOR3(0, 0, 0), skinned[1].position);  // no influence left
    ExpectVectorNear(D3DXVECTOR3(6, 10, 2), skinned[2].position); // both bones at full weight
}

TEST(SkinInfo, NormalsComeOutUnitLength) {
    constexpr int kBones = 3;
    std::vector<Vertex> source = SampleVertices(40, 2);
    SkinPtr skin = MakeSkin(DWORD(source.size()), kBones);
    for (int b = 0; b < kBones; ++b) {
        std::vector<DWORD> vertices;
        std::vector<FLOAT> weights;
        for (DWORD v = 0; v < source.size(); ++v) {
            vertices.push_back(v);
            weights.push_back(b == 0 ? 0.5f : 0.25f);
        }
        skin->SetBoneInfluence(b, DWORD(vertices.size()), vertices.data(), weights.data());
    }
    D3DXMATRIX matrices[kBones], inverseTransposes[kBones];
    for (int b = 0; b < kBones; ++b) {
        matrices[b] = BoneMatrix(b + 1); // non-uniform scales
        D3DXMatrixInverse(&inverseTransposes[b], nullptr, &matrices[b]);
        D3DXMatrixTranspose(&inverseTransposes[b], &inverseTransposes[b]);
    }
    std::vector<Vertex> skinned(source.size());
    const D3DXMATRIX* normalChoices[] = {nullptr, inverseTransposes};
    for (const D3DXMATRIX* normalMatrices : normalChoices) {
        skin->UpdateSkinnedMesh(matrices, normalMatrices, source.data(), skinned.data());
        for (const auto& v : skinned)
            EXPECT_NEAR(1.0f, D3DXVec3Length(&v.normal), 1e-5f);
    }
    // With the inverse transposes given, a normal stays perpendicular to a skinned surface
    // direction under a single bone.
    SkinPtr single = MakeSkin(1, 1);
    const DWORD only[] = {0};
    const FLOAT one[] = {1.0f};
    single->SetBoneInfluence(0, 1, only, one);
    Vertex v{D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(1, 1, 0), 0, 0, 0}, out{};
    D3DXVec3Normalize(&v.normal, &v.normal);
    D3DXMATRIX squash, squashInverseTranspose;
    D3DXMatrixScaling(&squash, 1, 4, 1);
    D3DXMatrixScaling(&squashInverseTranspose, 1, 0.25f, 1);
    single->UpdateSkinnedMesh(&squash, &squashInverseTranspose, &v, &out);
    D3DXVECTOR3 tangent(1, -1, 0), skinnedTangent; // perpendicular to the normal
    D3DXVec3TransformNormal(&skinnedTangent, &tangent, &squash);
    EXPECT_NEAR(0.0f, D3DXVec3Dot(&out.normal, &skinnedTangent), 1e-5f);
}

TEST(SkinInfo, VertexWithoutInfluenceGetsZeroPositionAndKeepsOtherFields) {
    SkinPtr skin = MakeSkin(3, 1);
    const DWORD vertices[] = {1};
    const FLOAT weights[] = {1.0f};
    skin->SetBoneInfluence(0, 1, vertices, weights);
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, 1, 2, 3);
    std::vector<Vertex> source = SampleVertices(3, 3), skinned(3);
    skin->UpdateSkinnedMesh(&m, nullptr, source.data(), skinned.data());
    for (int v : {0, 2}) { // before and after the influenced vertex
        EXPECT_EQ(D3DXVECTOR3(0, 0, 0), skinned[v].position);
        EXPECT_EQ(D3DXVECTOR3(0, 0, 0), skinned[v].normal);
        EXPECT_EQ(source[v].color, skinned[v].color);
        EXPECT_EQ(source[v].v, skinned[v].v);
    }
    ExpectVectorNear(source[1].position + D3DXVECTOR3(1, 2, 3), skinned[1].position);
}

TEST(SkinInfo, AbsurdCountsAreRefusedOrCostNothing) {
    ID3DXSkinInfo* skin = nullptr;
    EXPECT_EQ(D3DERR_INVALIDCALL, D3DXCreateSkinInfoFVF(3, kFvf, 0xFFFFFFFF, &skin));
    EXPECT_EQ(nullptr, skin);
    EXPECT_EQ(D3DERR_INVALIDCALL, D3DXCreateSkinInfoFVF(3, 0x2001, 1, &skin));
    // A vast declared vertex count allocates nothing until influences reach that far.
    ASSERT_EQ(D3D_OK, D3DXCreateSkinInfoFVF(0xFFFFFFF0, kFvf, 2, &skin));
    SkinPtr owner(skin);
    const DWORD vertices[] = {5};
    const FLOAT weights[] = {1.0f};
    EXPECT_EQ(D3D_OK, skin->SetBoneInfluence(1, 1, vertices, weights));
    DWORD most = 0;
    EXPECT_EQ(D3D_OK, skin->GetMaxVertexInfluences(&most));
    EXPECT_EQ(1u, most);
}

// The per-bone D3DX formula, for comparison with the single-pass skinning.
std::vector<Vertex> ReferenceSkinning(const std::vector<Vertex>& source, ID3DXSkinInfo* skin,
                                      const D3DXMATRIX* matrices,
                                      const D3DXMATRIX* normalMatrices) {
    std::vector<Vertex> out = source;
    for (auto& v : out)
        v.position = v.normal = D3DXVECTOR3(0, 0, 0);
    for (DWORD b = 0; b < skin->GetNumBones(); ++b) {
        std::vector<DWORD> vertices(skin->GetNumBoneInfluences(b));
        std::vector<FLOAT> weights(vertices.size());
        skin->GetBoneInfluence(b, vertices.data(), weights.data());
        for (size_t i = 0; i < vertices.size(); ++i) {
            D3DXVECTOR3 t;
            out[vertices[i]].position +=
                *D3DXVec3TransformCoord(&t, &source[vertices[i]].position, &matrices[b]) *
                weights[i];
            out[vertices[i]].normal +=
                *D3DXVec3TransformNormal(&t, &source[vertices[i]].normal,
                                         normalMatrices ? &normalMatrices[b] : &matrices[b]) *
                weights[i];
        }
    }
    for (auto& v : out)
        D3DXVec3Normalize(&v.normal, &v.normal);
    return out;
}

TEST(SkinInfo, MatchesThePerBoneFormulaForAffineAndProjectiveBones) {
    constexpr int kBones = 6;
    std::vector<Vertex> source = SampleVertices(300, 4);
    SkinPtr skin = MakeSkin(DWORD(source.size()), kBones);
    std::mt19937 random(5);
    for (int b = 0; b < kBones; ++b) {
        std::vector<DWORD> vertices;
        std::vector<FLOAT> weights;
        for (DWORD v = 0; v < source.size(); ++v) {
            if (random() % 3 != 0) {
                vertices.push_back(v);
                weights.push_back(float(random() % 100) / 100.0f);
            }
        }
        skin->SetBoneInfluence(b, DWORD(vertices.size()), vertices.data(), weights.data());
    }
    std::vector<D3DXMATRIX> matrices(kBones);
    for (int b = 0; b < kBones; ++b)
        matrices[b] = BoneMatrix(b);
    std::vector<D3DXMATRIX> inverseTransposes(kBones);
    for (int b = 0; b < kBones; ++b) {
        D3DXMatrixInverse(&inverseTransposes[b], nullptr, &matrices[b]);
        D3DXMatrixTranspose(&inverseTransposes[b], &inverseTransposes[b]);
    }
    for (bool projective : {false, true}) {
        if (projective)
            matrices[3]._34 = 0.01f;
        for (const D3DXMATRIX* normalMatrices :
             {(const D3DXMATRIX*)nullptr, (const D3DXMATRIX*)inverseTransposes.data()}) {
            std::vector<Vertex> expected =
                ReferenceSkinning(source, skin.get(), matrices.data(), normalMatrices);
            for (bool portable : {false, true}) { // the processor-specific loop and the plain one
                fw::d3dx9mesh::UsePortableSkinning(portable);
                std::vector<Vertex> skinned(source.size());
                skin->UpdateSkinnedMesh(matrices.data(), normalMatrices, source.data(),
                                        skinned.data());
                fw::d3dx9mesh::UsePortableSkinning(false);
                for (size_t v = 0; v < source.size(); ++v) {
                    ExpectVectorNear(expected[v].position, skinned[v].position, 1e-3f);
                    ExpectVectorNear(expected[v].normal, skinned[v].normal, 1e-4f);
                    EXPECT_EQ(expected[v].color, skinned[v].color);
                }
            }
        }
    }
}

TEST(SkinInfo, SkinningInPlaceAndWithoutNormals) {
    SkinPtr skin = MakeSkin(2, 1, D3DFVF_XYZ | D3DFVF_TEX1);
    const DWORD vertices[] = {0, 1};
    const FLOAT weights[] = {1.0f, 1.0f};
    skin->SetBoneInfluence(0, 2, vertices, weights);
    struct Plain {
        float x, y, z, u, v;
    } data[2] = {{1, 2, 3, 0.5f, 0.25f}, {4, 5, 6, 0.75f, 1.0f}};
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, 2, 2, 2);
    ASSERT_EQ(D3D_OK, skin->UpdateSkinnedMesh(&m, nullptr, data, data));
    EXPECT_EQ(8.0f, data[1].x);
    EXPECT_EQ(12.0f, data[1].z);
    EXPECT_EQ(0.75f, data[1].u);
    EXPECT_EQ(1.0f, data[1].v);

    EXPECT_EQ(D3DERR_INVALIDCALL, skin->UpdateSkinnedMesh(&m, nullptr, nullptr, data));
    EXPECT_EQ(D3DERR_INVALIDCALL, skin->UpdateSkinnedMesh(nullptr, nullptr, data, data));
}

TEST(SkinInfo, RemapAndCloneCarryInfluences) {
    SkinPtr skin = MakeSkin(3, 2);
    skin->SetBoneName(0, "Root");
    const DWORD bone0[] = {0, 2}, bone1[] = {1};
    const FLOAT weights0[] = {1.0f, 0.5f}, weights1[] = {0.75f};
    skin->SetBoneInfluence(0, 2, bone0, weights0);
    skin->SetBoneInfluence(1, 1, bone1, weights1);

    ID3DXSkinInfo* cloneRaw = nullptr;
    ASSERT_EQ(D3D_OK, skin->Clone(&cloneRaw));
    SkinPtr clone(cloneRaw);

    // New order: old 2, old 0, old 1, and a second copy of old 2.
    DWORD remap[] = {2, 0, 1, 2};
    ASSERT_EQ(D3D_OK, skin->Remap(4, remap));
    DWORD vertices[3];
    FLOAT weights[3];
    ASSERT_EQ(3u, skin->GetNumBoneInfluences(0));
    skin->GetBoneInfluence(0, vertices, weights);
    EXPECT_EQ((std::vector<DWORD>{0, 1, 3}), std::vector<DWORD>(vertices, vertices + 3));
    EXPECT_EQ((std::vector<FLOAT>{0.5f, 1.0f, 0.5f}), std::vector<FLOAT>(weights, weights + 3));
    ASSERT_EQ(1u, skin->GetNumBoneInfluences(1));
    skin->GetBoneInfluence(1, vertices, weights);
    EXPECT_EQ(2u, vertices[0]);
    EXPECT_STREQ("Root", skin->GetBoneName(0));

    // The clone is independent of the original.
    EXPECT_EQ(2u, clone->GetNumBoneInfluences(0));
    EXPECT_STREQ("Root", clone->GetBoneName(0));
}

} // namespace

namespace {

TEST(SkinnedMesh, LockedMeshBuffersUseTheMeshFormatWhenNormalsWereAdded) {
    REQUIRE_DEVICE();
    // The skin describes the mesh as loaded (no normals); the drawn meshes gained normals
    // through a clone, as a loader's client does for meshes without them.
    struct Loaded {
        float x, y, z, u, v;
    };
    const Loaded loaded[3] = {{0, 0, 0, 0.1f, 0.2f}, {1, 0, 0, 0.3f, 0.4f}, {0, 1, 0, 0.5f, 0.6f}};
    meshtest::MeshPtr original = meshtest::MakeMesh(D3DFVF_XYZ | D3DFVF_TEX1, loaded, 3, {0, 1, 2});
    ID3DXMesh *bindPose = nullptr, *drawn = nullptr;
    ASSERT_EQ(D3D_OK,
              original->CloneMeshFVF(D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1,
                                     meshtest::Device(), &bindPose));
    meshtest::MeshPtr bindPoseOwner(bindPose);
    ASSERT_EQ(D3D_OK, D3DXComputeNormals(bindPose, nullptr));
    ASSERT_EQ(D3D_OK, bindPose->CloneMeshFVF(D3DXMESH_MANAGED, bindPose->GetFVF(),
                                             meshtest::Device(), &drawn));
    meshtest::MeshPtr drawnOwner(drawn);

    // More skin vertices than the meshes hold: the extra influence must not be written.
    SkinPtr skin = MakeSkin(5, 1, D3DFVF_XYZ | D3DFVF_TEX1);
    const DWORD vertices[] = {0, 1, 2, 4};
    const FLOAT weights[] = {1, 1, 1, 1};
    ASSERT_EQ(D3D_OK, skin->SetBoneInfluence(0, 4, vertices, weights));
    D3DXMATRIX move;
    D3DXMatrixTranslation(&move, 10, 0, 0);

    void *src = nullptr, *dst = nullptr;
    ASSERT_EQ(D3D_OK, bindPose->LockVertexBuffer(D3DLOCK_READONLY, &src));
    ASSERT_EQ(D3D_OK, drawn->LockVertexBuffer(0, &dst));
    EXPECT_EQ(D3D_OK, skin->UpdateSkinnedMesh(&move, nullptr, src, dst));
    bindPose->UnlockVertexBuffer();
    drawn->UnlockVertexBuffer();

    struct WithNormal {
        D3DXVECTOR3 position, normal;
        float u, v;
    };
    WithNormal* result = nullptr;
    drawn->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&result));
    for (int i = 0; i < 3; ++i) {
        ExpectVectorNear(D3DXVECTOR3(loaded[i].x + 10, loaded[i].y, 0), result[i].position);
        ExpectVectorNear(D3DXVECTOR3(0, 0, 1), result[i].normal);
        EXPECT_EQ(loaded[i].v, result[i].v);
    }
    drawn->UnlockVertexBuffer();
}

} // namespace
