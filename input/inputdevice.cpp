#include "input/inputdevice.h"

#include <cstring>

namespace {

constexpr DWORD kKeyboardCooperation = DISCL_EXCLUSIVE | DISCL_BACKGROUND;
constexpr DWORD kMouseCooperation = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;
constexpr unsigned kFirstMouseButton = 256;
constexpr unsigned kMouseButtonCount = 4;

void ShowError(HWND window, const char* text) {
    MessageBoxA(window, text, "ERROR", MB_ICONERROR);
}

} // namespace

InputDevice::InputDevice(HINSTANCE instance, HWND window) {
    if (DirectInput8Create(instance, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                           reinterpret_cast<LPVOID*>(&directInput), nullptr) != DI_OK) {
        ShowError(window, "创建DirectInput 对象失败!");
        directInput = nullptr;
    }

    // Without the DirectInput object there is nothing to create devices with.
    if (directInput) {
        if (directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr) != DI_OK) {
            ShowError(window, "创建键盘设备失败!");
            keyboard = nullptr;
        }
        if (keyboard) {
            if (keyboard->SetDataFormat(&c_dfDIKeyboard) != DI_OK)
                ShowError(window, "设置键盘数据格式失败!");
            keyboard->SetCooperativeLevel(window, kKeyboardCooperation);
            keyboard->Acquire();
        }

        if (directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr) != DI_OK) {
            ShowError(window, "创建鼠标设备失败!");
            mouse = nullptr;
        }
        if (mouse) {
            if (mouse->SetDataFormat(&c_dfDIMouse) != DI_OK)
                ShowError(window, "设置鼠标数据格式失败!");
            mouse->SetCooperativeLevel(window, kMouseCooperation);
            mouse->Acquire();
        }
    }

    std::memset(keys, 0, sizeof(keys));
    std::memset(prevKeys, 0, sizeof(prevKeys));
    std::memset(&mouseState, 0, sizeof(mouseState));
    std::memset(&prevMouseState, 0, sizeof(prevMouseState));
}

InputDevice::~InputDevice() {
    if (mouse)
        mouse->Unacquire();
    if (keyboard)
        keyboard->Unacquire();
    if (mouse) {
        mouse->Release();
        mouse = nullptr;
    }
    if (keyboard) {
        keyboard->Release();
        keyboard = nullptr;
    }
    if (directInput) {
        directInput->Release();
        directInput = nullptr;
    }
}

int InputDevice::Poll() {
    std::memcpy(prevKeys, keys, sizeof(keys));
    prevMouseState = mouseState;

    if (!keyboard || keyboard->GetDeviceState(sizeof(keys), keys) != DI_OK) {
        std::memset(keys, 0, sizeof(keys));
        if (keyboard)
            keyboard->Acquire();
    }
    if (!mouse || mouse->GetDeviceState(sizeof(mouseState), &mouseState) != DI_OK) {
        std::memset(&mouseState, 0, sizeof(mouseState));
        if (mouse)
            mouse->Acquire();
    }
    return 0;
}

int InputDevice::IsPressed(unsigned code) const {
    if (code < kFirstMouseButton)
        return keys[code] & 0x80;
    if (code < kFirstMouseButton + kMouseButtonCount)
        return mouseState.rgbButtons[code - kFirstMouseButton] & 0x80;
    return 0;
}

int InputDevice::GetMouseDX() const {
    return mouseState.lX;
}
int InputDevice::GetMouseDY() const {
    return mouseState.lY;
}
int InputDevice::GetMouseDZ() const {
    return mouseState.lZ;
}
