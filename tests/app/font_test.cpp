#include "platform/d3dx9.h"
#include "tests/kit/kit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class FontTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ASSERT_NE(offscreen.d3d, nullptr);
        ASSERT_EQ(offscreen.result, D3D_OK);
    }
    kit::OffscreenDevice offscreen{"font", 64, 64};
    HWND& window = offscreen.window;
    IDirect3DDevice9*& device = offscreen.device; // a test may release it and clear this
    D3DPRESENT_PARAMETERS& pp = offscreen.params;
};

TEST_F(FontTest, FontMustGiveUpItsDeviceResourcesBeforeTheDeviceCanReset) {
    ID3DXFont* font = nullptr;
    ASSERT_EQ(
        D3DXCreateFontA(device, 15, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET, 0, 0, 0, "Arial", &font),
        D3D_OK);
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
    font->OnLostDevice();
    font->OnLostDevice(); // twice is harmless
    EXPECT_EQ(device->Reset(&pp), D3D_OK);
    EXPECT_EQ(font->OnResetDevice(), D3D_OK);
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL); // holds them again
    font->OnLostDevice();
    font->Release();
}

TEST_F(FontTest, FontHoldsItsDeviceAndCountsReferences) {
    ID3DXFont* font = nullptr;
    ASSERT_EQ(D3DXCreateFontA(device, -12, 0, FW_NORMAL, D3DX_DEFAULT, TRUE, DEFAULT_CHARSET, 0, 0,
                              0, "Arial", &font),
              D3D_OK);
    IDirect3DDevice9* fromFont = nullptr;
    ASSERT_EQ(font->GetDevice(&fromFont), D3D_OK);
    EXPECT_EQ(fromFont, device);
    fromFont->Release();
    D3DXFONT_DESCA desc{};
    font->GetDescA(&desc);
    EXPECT_EQ(desc.Height, -12);
    EXPECT_TRUE(desc.Italic);
    EXPECT_EQ(desc.MipLevels, 1u);
    EXPECT_EQ(font->AddRef(), 2u);
    EXPECT_EQ(font->Release(), 1u);
    // The font keeps the device alive past the program's own release.
    device->Release();
    device = nullptr;
    EXPECT_EQ(font->Release(), 0u);
}

TEST_F(FontTest, BadArgumentsAreRefused) {
    ID3DXFont* font = reinterpret_cast<ID3DXFont*>(&pp);
    EXPECT_EQ(D3DXCreateFontA(nullptr, 15, 0, 0, 1, FALSE, 0, 0, 0, 0, "Arial", &font),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(font, nullptr);
    EXPECT_EQ(D3DXCreateFontA(device, 15, 0, 0, 1, FALSE, 0, 0, 0, 0, nullptr, &font),
              D3DERR_INVALIDCALL);
    std::string longName(40, 'x');
    EXPECT_EQ(D3DXCreateFontA(device, 15, 0, 0, 1, FALSE, 0, 0, 0, 0, longName.c_str(), &font),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateFontA(device, 15, 0, 0, 1, FALSE, 0, 0, 0, 0, "Arial", nullptr),
              D3DERR_INVALIDCALL);
    D3DXFONT_DESCA unterminated;
    std::memset(&unterminated, 'x', sizeof unterminated);
    EXPECT_EQ(D3DXCreateFontIndirectA(device, &unterminated, &font), D3DERR_INVALIDCALL);
}

TEST_F(FontTest, DrawingTextIsRefusedHonestly) {
    ID3DXFont* font = nullptr;
    ASSERT_EQ(D3DXCreateFontA(device, 15, 0, 0, 1, FALSE, 0, 0, 0, 0, "Arial", &font), D3D_OK);
    RECT rect{0, 0, 100, 20};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(font->DrawTextA(nullptr, "hi", -1, &rect, DT_LEFT, 0xFFFFFFFF), 0);
    EXPECT_EQ(font->DrawTextA(nullptr, "hi", -1, &rect, DT_LEFT, 0xFFFFFFFF), 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DrawTextA"), std::string::npos);
    EXPECT_EQ(err.find("DrawTextA"), err.rfind("DrawTextA")); // said once
    font->Release();
}

} // namespace
