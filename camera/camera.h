// Orbit camera: an eye, a heading (yaw), an elevation (pitch) and a distance to the
// point it looks at. Sets view, projection and culling on the device once per frame.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3dx9math.h"

class Camera {
public:
    // device is borrowed. The back buffer's size at this moment fixes the aspect ratio.
    Camera(HWND window, IDirect3DDevice9* device, const D3DXVECTOR3& eye);
    virtual ~Camera();

    const D3DXVECTOR3* GetEye() const { return &eye; }
    // eye + dir(yaw, pitch) x distance, written to out; returns out.
    D3DXVECTOR3* ComputeLookAt(D3DXVECTOR3* out) const;
    // Places the eye so that it looks at target from distance along yaw and pitch.
    void SetTarget(const D3DXVECTOR3* target);
    // Orbits about the look-at point. The heading turns freely; a pitch step that would
    // leave the open range (-pi/3, 0) is refused as a whole.
    void Rotate(float yawDelta, float pitchDelta);
    // Grows the distance by forward and moves the eye forward and sideways; refused
    // as a whole when the distance would not stay positive.
    void Zoom(float side, float forward);
    // View, projection and counter-clockwise culling for this frame; dt is not used.
    // The result of the last device call.
    HRESULT Apply(float dt);

    // The state, in this order. The per-frame update reads and writes distance directly.
    float yaw = 0.0f;   // radians; 0 looks along +z, growing turns towards +x
    float pitch = 0.0f; // radians; negative looks down
    float viewportWidth = 0.0f;
    float viewportHeight = 0.0f;
    IDirect3DDevice9* device = nullptr; // borrowed
    HWND window = nullptr;              // kept for the owner
    D3DXVECTOR3 eye;
    float distance = 300.0f;
    D3DXMATRIX view;    // of the last Apply
    D3DXVECTOR3 lookAt; // of the last Apply

private:
    D3DXVECTOR3 Direction() const;
};
