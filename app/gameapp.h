// The one application object: owns the Direct3D object and device, the font and the scene,
// renders one frame per call and recovers the device after a loss.
#pragma once

#include "platform/d3dx9.h"
#include "platform/windows.h"

class Camera;
class SkinnedModel;
class Terrain;
class InputDevice;

class GameApp {
public:
    GameApp();
    ~GameApp();
    GameApp(const GameApp&) = delete;
    GameApp& operator=(const GameApp&) = delete;

    // Start-up: COM, the device, the font, then the scene. False only when the device
    // cannot be created; nothing else is created then.
    bool Init(HINSTANCE instance, HWND window);
    // Direct3D object and device for the window's client area. S_OK or E_FAIL.
    HRESULT InitDevice(HWND window);
    // Per-frame update of the scene; dt in seconds.
    void Update(float dt);
    // Renders one frame, first recovering a lost device (dt is not used).
    void Render(float dt);
    // Offered every window message once the object exists; takes no action.
    void HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Tell the device-dependent objects that the device is about to be reset / was reset.
    void OnDeviceLost();
    void OnDeviceReset();

    // Borrowed views for checks; the object keeps ownership.
    IDirect3DDevice9* GetDevice() const { return device; }
    ID3DXFont* GetFont() const { return font; }
    const D3DPRESENT_PARAMETERS& GetPresentParams() const { return presentParams; }
    bool IsDeviceLost() const { return deviceLost; }
    Camera* GetCamera() const { return camera; }
    SkinnedModel* GetHero() const { return hero; }
    Terrain* GetTerrain() const { return terrain; }
    int GetDesiredDistance() const { return desiredDistance; }

private:
    void CreateScene(HINSTANCE instance, HWND window);
    void KeepCameraAboveGround(const D3DXVECTOR3& target);
    void ZoomWithWheel();
    void DrawScene();
    void DeleteScene();

    IDirect3D9* d3d;
    IDirect3DDevice9* device;
    D3DPRESENT_PARAMETERS presentParams; // filled by InitDevice, reused for every Reset
    ID3DXFont* font;                     // takes part only in device-loss recovery
    bool deviceLost;

    // The scene; all owned. Marked until the scene code uses them.
    Camera* camera;
    SkinnedModel* hero;
    Terrain* terrain;
    InputDevice* input;
    int desiredDistance; // camera distance asked for with the mouse wheel
    int animState;       // index into the hero's animation table
};
