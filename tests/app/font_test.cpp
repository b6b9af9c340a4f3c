#include "platform/d3dx9.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class FontTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXA wcex{};
        wcex.cbSize = sizeof(wcex);
        wcex.lpfnWndProc = DefWindowProcA;
        wcex.lpszClassName = "FontTest";
        RegisterClassExA(&wcex);
        window = CreateWindowExA(0, "FontTest", "font", 0, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                                 nullptr);
        ASSERT_NE(window, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        pp = D3DPRESENT_PARAMETERS{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
                  D3D_OK);
    }
    void TearDown() override {
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
        DestroyWindow(window);
    }
    HWND window = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS pp{};
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
