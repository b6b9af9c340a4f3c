#include "app/gameapp.h"

#include "camera/camera.h"
#include "input/inputdevice.h"
#include "skinned/skinmesh.h"
#include "terrain/terrain.h"

namespace {

// While the device is lost each frame waits this long, so the loop does not spin.
constexpr DWORD kLostDeviceWaitMs = 100;

constexpr float kPi = 3.1415927f;
constexpr float kTurnPerCount = 0.2f;  // degrees of orbit per mouse count
constexpr unsigned kOrbitButton = 257; // the right mouse button
constexpr float kTargetAboveGround = 15.0f;
constexpr float kEyeClearance = 5.0f;
constexpr float kDistanceStep = 1.0f;
constexpr float kWheelCountsPerUnit = 10.0f;
constexpr int kLargestDesiredDistance = 400;

// The hero's animation sets, by animation state.
constexpr const char* kAnimationSets[] = {"idle", "walk", "run", "skill1", "skill2"};
constexpr int kPlayedAnimationState = 3;

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

void GameApp::Update(float dt) {
    input->Poll();
    float yawDelta = input->GetMouseDX() * kTurnPerCount * kPi / 180.0f;
    float pitchDelta = input->GetMouseDY() * kTurnPerCount * kPi / 180.0f;
    if (input->IsPressed(kOrbitButton))
        camera->Rotate(yawDelta, pitchDelta);

    float groundHeight = terrain->GetHeight(0.0f, 0.0f);
    D3DXVECTOR3 target(0.0f, groundHeight + kTargetAboveGround, 0.0f);
    KeepCameraAboveGround(target);
    ZoomWithWheel();
    if ((float)desiredDistance > camera->distance)
        camera->distance += kDistanceStep;
    camera->Apply(dt);

    D3DXMATRIX matWorld;
    D3DXMatrixTranslation(&matWorld, 0.0f, groundHeight, 0.0f);
    animState = kPlayedAnimationState;
    hero->SetAnimation(kAnimationSets[animState], 0, true);
    hero->Update(dt, matWorld);
}

// Aims the camera at target and pulls it in, a unit at a time, until the eye clears the
// ground beneath it. At distance 0 the eye sits on the target, which always clears it;
// the distance test only guards against a camera whose state is not a number.
void GameApp::KeepCameraAboveGround(const D3DXVECTOR3& target) {
    camera->SetTarget(&target);
    for (;;) {
        const D3DXVECTOR3* eye = camera->GetEye();
        if (!(terrain->GetHeight(eye->x, eye->z) + kEyeClearance > eye->y))
            break;
        if (!(camera->distance > 0.0f))
            break;
        camera->distance -= kDistanceStep;
        camera->SetTarget(&target);
    }
}

// The wheel asks for a new distance; the camera follows unless it would pass the cap.
void GameApp::ZoomWithWheel() {
    int wheel = (int)(input->GetMouseDZ() / kWheelCountsPerUnit);
    desiredDistance += wheel;
    if (desiredDistance < kLargestDesiredDistance)
        camera->Zoom(0.0f, (float)wheel);
    else
        desiredDistance = kLargestDesiredDistance;
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

void GameApp::CreateScene(HINSTANCE instance, HWND window) {
    camera = new Camera(window, device, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    terrain = new Terrain;
    terrain->Build(3000.0f, 4, 200.0f, "terrain_texture.dds", "terrain_heightmap.png",
                   "terrain_detail.dds", 2, device);
    hero = new SkinnedModel;
    hero->Load("model/hero.X", device);
    input = new InputDevice(instance, window);
}

void GameApp::DrawScene() {
    terrain->Draw();
    hero->Draw();
}

void GameApp::DeleteScene() {
    if (camera) {
        delete camera;
        camera = nullptr;
    }
    if (terrain) {
        delete terrain;
        terrain = nullptr;
    }
    if (hero) {
        delete hero;
        hero = nullptr;
    }
    if (input) {
        delete input;
        input = nullptr;
    }
}
