// The default hero from the generated data set: loads whole, plays "skill1" and shows.
#include "testkit.h"

#include "tests/kit/kit.h"

using namespace skintest;

namespace {

class HeroTest : public ModelTest {
protected:
    // The data set is generated once for all tests of the suite.
    static void SetUpTestSuite() {
#ifdef FERROWALK_ASSETGEN
        dataDir = kit::GenerateDataSet(FERROWALK_ASSETGEN, "hero");
        generated = !dataDir.empty();
#endif
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!dataDir.empty())
            std::filesystem::remove_all(dataDir, ignored);
    }

    void SetUp() override {
        ModelTest::SetUp();
#ifndef FERROWALK_ASSETGEN
        GTEST_SKIP() << "assetgen is not part of this build";
#else
        ASSERT_TRUE(generated) << "assetgen failed";
        std::filesystem::current_path(dataDir);
        ASSERT_EQ(model.Load("model/hero.X", device), S_OK);
#endif
    }

    // The hero (about 50 units tall, feet at y = 0) seen from the front, filling most of
    // the image height; lighting off as the terrain leaves it.
    void SetFrontCamera() {
        D3DXMATRIX view, projection;
        const D3DXVECTOR3 eye(0.0f, 25.0f, -110.0f), at(0.0f, 25.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415927f / 4.0f, 1.0f, 1.0f, 1000.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    }

    SkinnedModel model;
    static inline std::filesystem::path dataDir;
    [[maybe_unused]] static inline bool generated = false;
};

bool IsLit(const std::vector<uint8_t>& rgba, size_t pixel) {
    return rgba[pixel * 4] + rgba[pixel * 4 + 1] + rgba[pixel * 4 + 2] > 24;
}

} // namespace

TEST_F(HeroTest, LoadsWithEveryBoneBoundAndItsMarkedMeshes) {
    bool skinned = false, highlight = false, bounds = false;
    for (SkinMeshContainer* pContainer : AllContainers(model.GetFrameRoot())) {
        if (pContainer->pSkinInfo) {
            skinned = true;
            EXPECT_NE(pContainer->ppBoneFrameMatrices, nullptr) << pContainer->Name;
            EXPECT_GE(model.GetSkinningMatrixCount(), pContainer->pSkinInfo->GetNumBones());
        }
        highlight |= std::string(pContainer->TextureName) == "RobotHighLight.bmp";
        bounds |= std::string(pContainer->TextureName) == "boundMesh.bmp";
    }
    EXPECT_TRUE(skinned);
    EXPECT_TRUE(highlight);
    EXPECT_TRUE(bounds);

    ID3DXAnimationController* pController = model.GetAnimController();
    ASSERT_NE(pController, nullptr);
    for (const char* name : {"idle", "walk", "run", "skill1", "skill2"}) {
        ID3DXAnimationSet* pSet = nullptr;
        pController->GetAnimationSetByName(name, &pSet);
        ASSERT_NE(pSet, nullptr) << name;
        EXPECT_GT(pSet->GetPeriod(), 0.0) << name;
        pSet->Release();
    }
}

TEST_F(HeroTest, PlaysSkill1InTheMiddleOfTheImageAndMoves) {
    SetFrontCamera();
    model.SetAnimation("skill1", 0, true);
    ID3DXAnimationSet* pSet = nullptr;
    model.GetAnimController()->GetTrackAnimationSet(model.GetCurrentTrack(), &pSet);
    ASSERT_NE(pSet, nullptr);
    EXPECT_STREQ(pSet->GetName(), "skill1");
    const double period = pSet->GetPeriod();
    pSet->Release();

    model.Update(0.5f, Identity());
    const std::vector<uint8_t> first = Render(model);
    model.Update(float(period * 0.3), Identity());
    const std::vector<uint8_t> second = Render(model);

    size_t lit = 0, changed = 0;
    double sumX = 0, sumY = 0;
    for (size_t pixel = 0; pixel < size_t(kWidth * kHeight); ++pixel) {
        if (IsLit(first, pixel)) {
            ++lit;
            sumX += double(pixel % kWidth);
            sumY += double(pixel / kWidth);
        }
        changed += IsLit(first, pixel) != IsLit(second, pixel) ||
                   std::abs(first[pixel * 4] - second[pixel * 4]) > 16;
    }
    ASSERT_GT(lit, size_t(kWidth * kHeight / 20)) << "the hero covers too little of the image";
    EXPECT_LT(lit, size_t(kWidth * kHeight / 2));
    EXPECT_NEAR(sumX / double(lit), kWidth / 2.0, kWidth / 8.0);
    EXPECT_NEAR(sumY / double(lit), kHeight / 2.0, kHeight / 6.0);
    EXPECT_GT(changed, size_t(kWidth * kHeight / 200)) << "the pose did not change";
}
