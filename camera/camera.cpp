#include "camera/camera.h"

#include <cmath>

namespace {

constexpr float kLowestPitch = -1.0471976f; // -pi/3
constexpr float kFieldOfView = 0.78539819f; // pi/4, vertical
constexpr float kNearPlane = 0.1f;
constexpr float kFarPlane = 10000.0f;
// The window's client size, for a device that cannot say how large its back buffer is.
constexpr float kFallbackWidth = 800.0f;
constexpr float kFallbackHeight = 600.0f;

} // namespace

Camera::Camera(HWND window, IDirect3DDevice9* device, const D3DXVECTOR3& eye)
    : device(device), window(window), eye(eye) {
    viewportWidth = kFallbackWidth;
    viewportHeight = kFallbackHeight;
    IDirect3DSurface9* pBackBuffer = nullptr;
    if (device && SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &pBackBuffer)) &&
        pBackBuffer) {
        D3DSURFACE_DESC m_d3dsdBackBuffer{};
        // A zero size would make the aspect ratio infinite or undefined; keep the fallback.
        if (SUCCEEDED(pBackBuffer->GetDesc(&m_d3dsdBackBuffer)) && m_d3dsdBackBuffer.Width > 0 &&
            m_d3dsdBackBuffer.Height > 0) {
            viewportWidth = static_cast<float>(m_d3dsdBackBuffer.Width);
            viewportHeight = static_cast<float>(m_d3dsdBackBuffer.Height);
        }
        pBackBuffer->Release();
    }
}

Camera::~Camera() = default;

D3DXVECTOR3 Camera::Direction() const {
    float cosPitch = std::cos(pitch);
    return {std::sin(yaw) * cosPitch, std::sin(pitch), std::cos(yaw) * cosPitch};
}

D3DXVECTOR3* Camera::ComputeLookAt(D3DXVECTOR3* out) const {
    out->x = std::sin(yaw) * (std::cos(pitch) * distance) + eye.x;
    out->y = std::sin(pitch) * distance + eye.y;
    out->z = std::cos(yaw) * (std::cos(pitch) * distance) + eye.z;
    return out;
}

void Camera::SetTarget(const D3DXVECTOR3* target) {
    eye.x = target->x - std::sin(yaw) * (std::cos(pitch) * distance);
    eye.y = target->y - std::sin(pitch) * distance;
    eye.z = target->z - std::cos(yaw) * (std::cos(pitch) * distance);
}

void Camera::Rotate(float yawDelta, float pitchDelta) {
    D3DXVECTOR3 vLookAt;
    ComputeLookAt(&vLookAt);
    yaw += yawDelta;
    float newPitch = pitch - pitchDelta;
    if (newPitch < 0.0f && newPitch > kLowestPitch)
        pitch = newPitch;
    SetTarget(&vLookAt);
}

void Camera::Zoom(float side, float forward) {
    D3DXVECTOR3 vDir = Direction();
    D3DXVECTOR3 vSide(vDir.z, 0.0f, -vDir.x); // up x vDir: the view's right
    if (distance + forward > 0.0f) {
        distance += forward;
        eye += vDir * forward + vSide * side;
    }
}

HRESULT Camera::Apply(float /*dt*/) {
    ComputeLookAt(&lookAt);
    if (!device)
        return D3DERR_INVALIDCALL;

    // At distance 0 the eye sits on the look-at point, which gives no direction to look
    // in; the heading and pitch still do.
    D3DXVECTOR3 vAt = lookAt != eye ? lookAt : eye + Direction();
    D3DXVECTOR3 vUp(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &vAt, &vUp);
    device->SetTransform(D3DTS_VIEW, &view);

    D3DXMATRIX matProjection;
    D3DXMatrixPerspectiveFovLH(&matProjection, kFieldOfView, viewportWidth / viewportHeight,
                               kNearPlane, kFarPlane);
    device->SetTransform(D3DTS_PROJECTION, &matProjection);
    return device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
}
