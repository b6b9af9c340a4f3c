// Keyboard and mouse through DirectInput 8: both devices' immediate state, read once
// per frame by Poll.
#pragma once

#include "platform/dinput8.h"
#include "platform/windows.h"

class InputDevice {
public:
    // Creates and acquires the system keyboard and mouse for window. A set-up step that
    // fails shows its message box (owned by window) and construction goes on without it.
    InputDevice(HINSTANCE instance, HWND window);
    ~InputDevice();
    InputDevice(const InputDevice&) = delete;
    InputDevice& operator=(const InputDevice&) = delete;

    // Reads both devices; a device that cannot deliver reads as all up and no motion
    // and is acquired again. Always 0.
    int Poll();
    // 0x80 when down at the last poll, else 0. Codes 0 to 255 are DIK key codes, 256 to
    // 259 mouse buttons 0 to 3 (256 left, 257 right); any other code reads as up.
    int IsPressed(unsigned code) const;
    // Mouse motion of the last poll along x, y and the wheel (120 per notch).
    int GetMouseDX() const;
    int GetMouseDY() const;
    int GetMouseDZ() const;

private:
    IDirectInput8A* directInput = nullptr;
    IDirectInputDevice8A* keyboard = nullptr;
    IDirectInputDevice8A* mouse = nullptr;
    BYTE keys[256] = {};
    DIMOUSESTATE mouseState = {};
    BYTE prevKeys[256] = {};
    DIMOUSESTATE prevMouseState = {};
};
