// Test services of the DirectInput layer: failing a set-up step on purpose, and
// input injected through SDL's event queue (the same path real input takes).
#pragma once

#include "platform/dinput8.h"

namespace fw::dinput8 {

// The set-up steps of a keyboard and mouse that a test can make fail.
enum class SetupStep {
    CreateDirectInput, // DirectInput8Create
    CreateKeyboard,    // CreateDevice(GUID_SysKeyboard)
    SetKeyboardFormat, // SetDataFormat on a keyboard
    CreateMouse,       // CreateDevice(GUID_SysMouse)
    SetMouseFormat,    // SetDataFormat on a mouse
};

// While alive, every call of the step fails with `result`. Not nestable for one step.
class ScopedSetupFailure {
public:
    explicit ScopedSetupFailure(SetupStep step, HRESULT result = DIERR_GENERIC);
    ~ScopedSetupFailure();
    ScopedSetupFailure(const ScopedSetupFailure&) = delete;
    ScopedSetupFailure& operator=(const ScopedSetupFailure&) = delete;

private:
    SetupStep step;
};

// The injected failure of a step, or DI_OK. Used by the layer itself.
HRESULT InjectedFailure(SetupStep step);

// Input as SDL would deliver it. SDL must be initialised (video or events).
void PushKey(BYTE dik, bool down);
void PushMouseMotion(int dx, int dy);
void PushMouseWheel(float notches);            // positive: away from the user
void PushMouseButton(int diButton, bool down); // 0 left, 1 right, 2 middle, 3, 4 side
// SDL's own focus flag does not follow pushed events, so the window given the focus
// here also counts as focused for devices that start cooperating with it later.
void PushFocus(HWND window, bool gained);

// The SDL id of the window that PushFocus last gave the focus, or 0. Used by the layer.
uint32_t PushedFocusWindow();

} // namespace fw::dinput8
