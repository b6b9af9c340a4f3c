#include "app/gameapp.h"

namespace {

// While the device is lost each frame waits this long, so the loop does not spin.
constexpr DWORD kLostDeviceWaitMs = 100;

} // namespace

GameApp::GameApp()
    : d3d(nullptr), device(nullptr), presentParams(), font(nullptr), deviceLost(false),
      camera(nullptr), hero(nullptr), terrain(nullptr), input(nullptr), desiredDistance(300),
      animState(0) {}

GameApp::~GameApp() {
    // The Direct3D object goes before the device, and the device before the objects that
    // hold its resources; reference counts keep each alive until its last user lets go.
    if (d3d) {
        d3d->Release();
        d3d = nullptr;
    }
    if (device) {
        device->Release();
        device = nullptr;
    }
    if (font) {
        font->Release();
        font = nullptr;
    }
    DeleteScene();
}

bool GameApp::Init(HINSTANCE instance, HWND window) {
    CoInitialize(nullptr);
    if (FAILED(InitDevice(window)))
        return false;
    D3DXCreateFontA(device, 15, 0, FW_BOLD, 1, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial", &font);
    CreateScene(instance, window);
    return true;
}

HRESULT GameApp::InitDevice(HWND window) {
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d)
        return E_FAIL;

    D3DDISPLAYMODE d3ddm;
    if (FAILED(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &d3ddm)))
        return E_FAIL;

    RECT rect;
    GetClientRect(window, &rect);

    ZeroMemory(&presentParams, sizeof(presentParams));
    presentParams.BackBufferWidth = rect.right - rect.left;
    presentParams.BackBufferHeight = rect.bottom - rect.top;
    presentParams.BackBufferFormat = d3ddm.Format;
    presentParams.BackBufferCount = 1;
    presentParams.MultiSampleType = D3DMULTISAMPLE_NONE;
    presentParams.MultiSampleQuality = 0;
    presentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParams.hDeviceWindow = window;
    presentParams.Windowed = TRUE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D16;
    presentParams.Flags = 0;
    presentParams.FullScreen_RefreshRateInHz = 0;
    presentParams.PresentationInterval = D3DPRESENT_INTERVAL_ONE;

    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParams, &device)))
        return E_FAIL;
    return S_OK;
}

void GameApp::Update([[maybe_unused]] float dt) {
    // The per-frame scene update (input, camera, hero placement and animation) goes here.
}

void GameApp::Render([[maybe_unused]] float dt) {
    if (deviceLost) {
        Sleep(kLostDeviceWaitMs);
        HRESULT hr = device->TestCooperativeLevel();
        if (FAILED(hr)) {
            if (hr == D3DERR_DEVICELOST)
                return;
            if (hr == D3DERR_DEVICENOTRESET) {
                OnDeviceLost();
                if (FAILED(device->Reset(&presentParams)))
                    return;
                OnDeviceReset();
                return;
            }
            // Any other failure: render as if the device were fine.
        }
        deviceLost = false;
    }

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    DrawScene();
    device->EndScene();
    if (device->Present(nullptr, nullptr, nullptr, nullptr) == D3DERR_DEVICELOST)
        deviceLost = true;
}

void GameApp::HandleMessage(HWND, UINT, WPARAM, LPARAM) {
    // The scene reads its input through the input device, not through window messages.
}

void GameApp::OnDeviceLost() {
    if (font)
        font->OnLostDevice();
}

void GameApp::OnDeviceReset() {
    if (font)
        font->OnResetDevice();
}

void GameApp::CreateScene(HINSTANCE, HWND) {
    // Scene assembly (camera, terrain, hero, input, in that order) goes here.
}

void GameApp::DrawScene() {
    // The terrain, then the hero, go here.
}

void GameApp::DeleteScene() {
    // Deletion of camera, terrain, hero and input, in that order, goes here; each pointer
    // is tested for null first and set to null afterwards.
}
