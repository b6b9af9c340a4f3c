#include "platform/dinput8.h"
#include "platform/dinput8/keymap.h"
#include "platform/dinput8/testing.h"
#include "platform/win32/host.h"
#include "tests/kit/environment.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <set>

using namespace fw::dinput8;

namespace {

const auto* const kSharedWindow = kit::AddShared(new kit::SharedWindowEnvironment("dinput8"));

HWND SharedWindow() {
    return kSharedWindow->window();
}

using kit::PumpMessages;

LPDIRECTINPUT8A CreateDirectInput() {
    LPDIRECTINPUT8A directInput = nullptr;
    EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A,
                                 reinterpret_cast<LPVOID*>(&directInput), nullptr),
              DI_OK);
    return directInput;
}

// A device set up as the program sets up its own, acquired.
struct Devices {
    LPDIRECTINPUT8A directInput = nullptr;
    LPDIRECTINPUTDEVICE8A keyboard = nullptr;
    LPDIRECTINPUTDEVICE8A mouse = nullptr;

    explicit Devices(HWND window) {
        directInput = CreateDirectInput();
        directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr);
        keyboard->SetDataFormat(&c_dfDIKeyboard);
        keyboard->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_BACKGROUND);
        keyboard->Acquire();
        directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr);
        mouse->SetDataFormat(&c_dfDIMouse);
        mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND);
    }
    ~Devices() {
        mouse->Release();
        keyboard->Release();
        directInput->Release();
    }
    DIMOUSESTATE ReadMouse() {
        DIMOUSESTATE state{};
        EXPECT_EQ(mouse->GetDeviceState(sizeof(state), &state), DI_OK);
        return state;
    }
};

class DirectInputDevices : public ::testing::Test {
protected:
    void SetUp() override {
        window = SharedWindow();
        ASSERT_NE(window, nullptr);
        PumpMessages();
    }
    void TearDown() override {
        PushFocus(window, false);
        PumpMessages();
    }
    HWND window = nullptr;
};

} // namespace

TEST(DirectInputKeyMap, KeysMapByPositionWithExtendedKeysAboveOx80) {
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_ESCAPE), DIK_ESCAPE);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_Q), DIK_Q);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_A), DIK_A);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_Z), DIK_Z);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_RETURN), DIK_RETURN);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_ENTER), DIK_NUMPADENTER);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_LCTRL), DIK_LCONTROL);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_RCTRL), DIK_RCONTROL);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_UP), DIK_UP);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_8), DIK_NUMPAD8);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_KP_DIVIDE), DIK_DIVIDE);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_NONUSBACKSLASH), DIK_OEM_102);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_F12), DIK_F12);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_F13), DIK_F13);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_UNKNOWN), 0);
    EXPECT_EQ(DikFromScancode(SDL_SCANCODE_F24), 0);
    EXPECT_EQ(DikFromScancode(-1), 0);
    EXPECT_EQ(DikFromScancode(SDL_NUM_SCANCODES), 0);
}

TEST(DirectInputKeyMap, CoversTheWholeKeyboardAndRoundTrips) {
    std::set<BYTE> codes;
    for (int scancode = 0; scancode < SDL_NUM_SCANCODES; ++scancode) {
        BYTE dik = DikFromScancode(scancode);
        if (dik == 0)
            continue;
        codes.insert(dik);
        EXPECT_EQ(DikFromScancode(ScancodeFromDik(dik)), dik) << "scancode " << scancode;
    }
    // Main block, function keys, keypad, arrows and editing keys: every letter and digit
    // and every key of a 105-key board has a code of its own.
    for (BYTE dik = DIK_ESCAPE; dik <= DIK_DECIMAL; ++dik)
        EXPECT_TRUE(codes.count(dik)) << "DIK code " << int(dik);
    EXPECT_GE(codes.size(), 130u);
    EXPECT_EQ(codes.count(0x54), 0u); // codes without a key stay unused
}

TEST(DirectInputCreation, RejectsWrongVersionInterfaceAndArguments) {
    LPVOID object = reinterpret_cast<LPVOID>(1);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &object, nullptr),
              DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0900, IID_IDirectInput8A, &object, nullptr),
              DIERR_BETADIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, GUID_SysMouse, &object, nullptr),
              DIERR_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, nullptr, nullptr),
        DIERR_INVALIDPARAM);

    LPDIRECTINPUT8A directInput = CreateDirectInput();
    ASSERT_NE(directInput, nullptr);
    LPDIRECTINPUTDEVICE8A device = reinterpret_cast<LPDIRECTINPUTDEVICE8A>(1);
    EXPECT_EQ(directInput->CreateDevice(GUID_XAxis, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(directInput->CreateDevice(GUID_SysMouse, nullptr, nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(directInput->Release(), 0u);
}

TEST(DirectInputCreation, EachInjectedFailureHitsOnlyItsStep) {
    {
        ScopedSetupFailure failure(SetupStep::CreateDirectInput, DIERR_OUTOFMEMORY);
        LPVOID object = nullptr;
        EXPECT_EQ(
            DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr),
            DIERR_OUTOFMEMORY);
        EXPECT_EQ(object, nullptr);
    }
    LPDIRECTINPUT8A directInput = CreateDirectInput();
    ASSERT_NE(directInput, nullptr);
    LPDIRECTINPUTDEVICE8A keyboard = nullptr;
    LPDIRECTINPUTDEVICE8A mouse = nullptr;
    {
        ScopedSetupFailure failure(SetupStep::CreateKeyboard);
        EXPECT_EQ(directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DIERR_GENERIC);
        EXPECT_EQ(keyboard, nullptr);
        EXPECT_EQ(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
        mouse->Release();
    }
    {
        ScopedSetupFailure failure(SetupStep::CreateMouse);
        EXPECT_EQ(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr), DIERR_GENERIC);
        EXPECT_EQ(mouse, nullptr);
    }
    ASSERT_EQ(directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
    ASSERT_EQ(directInput->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
    {
        ScopedSetupFailure failure(SetupStep::SetKeyboardFormat);
        EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DIERR_GENERIC);
        EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
    }
    {
        ScopedSetupFailure failure(SetupStep::SetMouseFormat);
        EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DIERR_GENERIC);
        EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);
    }
    EXPECT_EQ(mouse->SetDataFormat(&c_dfDIMouse), DI_OK);
    mouse->Release();
    keyboard->Release();
    directInput->Release();
}

TEST_F(DirectInputDevices, DataFormatsMustMatchTheDevice) {
    LPDIRECTINPUT8A directInput = CreateDirectInput();
    LPDIRECTINPUTDEVICE8A keyboard = nullptr;
    directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr);
    BYTE keys[256];
    EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM); // no format yet
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIMouse), DIERR_INVALIDPARAM);
    DIDATAFORMAT custom = c_dfDIKeyboard;
    custom.dwDataSize = 128;
    EXPECT_EQ(keyboard->SetDataFormat(&custom), DIERR_INVALIDPARAM);
    DIDATAFORMAT copy = c_dfDIKeyboard; // an equal table is the same format
    EXPECT_EQ(keyboard->SetDataFormat(&copy), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_NOEFFECT);
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
    EXPECT_EQ(keyboard->GetDeviceState(128, keys), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->GetDeviceState(sizeof(keys), nullptr), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->Unacquire(), DI_OK);
    EXPECT_EQ(keyboard->Unacquire(), DI_NOEFFECT);
    EXPECT_EQ(keyboard->GetDeviceState(sizeof(keys), keys), DIERR_NOTACQUIRED);
    keyboard->Release();
    directInput->Release();
}

TEST_F(DirectInputDevices, CooperativeLevelsFollowDirectInputRules) {
    LPDIRECTINPUT8A directInput = CreateDirectInput();
    LPDIRECTINPUTDEVICE8A keyboard = nullptr;
    directInput->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE |
                                                        DISCL_FOREGROUND),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window, DISCL_EXCLUSIVE | DISCL_BACKGROUND),
              DIERR_UNSUPPORTED);
    EXPECT_EQ(keyboard->SetCooperativeLevel(nullptr, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
              E_HANDLE);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
    keyboard->SetDataFormat(&c_dfDIKeyboard);
    // Background access acquires without the focus.
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
              DIERR_ACQUIRED);
    keyboard->Release();
    directInput->Release();
}

TEST_F(DirectInputDevices, KeyboardReportsKeysHeldByTheirCodes) {
    Devices devices(window);
    BYTE keys[256];
    ASSERT_EQ(devices.keyboard->GetDeviceState(sizeof(keys), keys), DI_OK);
    for (BYTE key : keys)
        EXPECT_EQ(key, 0);

    PushKey(DIK_W, true);
    PushKey(DIK_RCONTROL, true);
    PushKey(DIK_LEFT, true);
    PushKey(DIK_LEFT, false);
    PumpMessages();
    ASSERT_EQ(devices.keyboard->GetDeviceState(sizeof(keys), keys), DI_OK);
    EXPECT_EQ(keys[DIK_W], 0x80);
    EXPECT_EQ(keys[DIK_RCONTROL], 0x80);
    EXPECT_EQ(keys[DIK_LCONTROL], 0);
    EXPECT_EQ(keys[DIK_LEFT], 0);
    int held = 0;
    for (BYTE key : keys)
        held += key != 0;
    EXPECT_EQ(held, 2);

    // A held key stays held from read to read.
    ASSERT_EQ(devices.keyboard->GetDeviceState(sizeof(keys), keys), DI_OK);
    EXPECT_EQ(keys[DIK_W], 0x80);
    PushKey(DIK_W, false);
    PushKey(DIK_RCONTROL, false);
    PumpMessages();
    ASSERT_EQ(devices.keyboard->GetDeviceState(sizeof(keys), keys), DI_OK);
    EXPECT_EQ(keys[DIK_W], 0);
    EXPECT_EQ(keys[DIK_RCONTROL], 0);
}

TEST_F(DirectInputDevices, ForegroundMouseNeedsTheFocus) {
    Devices devices(window);
    DIMOUSESTATE state{};
    EXPECT_EQ(devices.mouse->Acquire(), DIERR_OTHERAPPHASPRIO);
    EXPECT_EQ(devices.mouse->GetDeviceState(sizeof(state), &state), DIERR_NOTACQUIRED);

    PushFocus(window, true);
    PumpMessages();
    ASSERT_EQ(devices.mouse->Acquire(), DI_OK);
    PushMouseMotion(5, 5);
    EXPECT_EQ(devices.ReadMouse().lX, 5);

    // Losing the focus takes the device away: the next read says the input was lost,
    // motion meanwhile is not kept, and acquiring fails until the focus returns.
    PushFocus(window, false);
    PushMouseMotion(7, 7);
    PumpMessages();
    EXPECT_EQ(devices.mouse->GetDeviceState(sizeof(state), &state), DIERR_INPUTLOST);
    EXPECT_EQ(devices.mouse->GetDeviceState(sizeof(state), &state), DIERR_NOTACQUIRED);
    EXPECT_EQ(devices.mouse->Acquire(), DIERR_OTHERAPPHASPRIO);
    PushFocus(window, true);
    PumpMessages();
    EXPECT_EQ(devices.mouse->Acquire(), DI_OK);
    EXPECT_EQ(devices.ReadMouse().lX, 0);
}

TEST_F(DirectInputDevices, MouseReportsMotionSinceThePreviousRead) {
    Devices devices(window);
    PushFocus(window, true);
    PumpMessages();
    ASSERT_EQ(devices.mouse->Acquire(), DI_OK);

    PushMouseMotion(3, -4);
    PushMouseMotion(10, 1);
    PushMouseWheel(1.0f);
    PushMouseWheel(1.0f);
    PushMouseWheel(-3.0f);
    PumpMessages();
    DIMOUSESTATE state = devices.ReadMouse();
    EXPECT_EQ(state.lX, 13);
    EXPECT_EQ(state.lY, -3);
    EXPECT_EQ(state.lZ, -120);

    state = devices.ReadMouse();
    EXPECT_EQ(state.lX, 0);
    EXPECT_EQ(state.lY, 0);
    EXPECT_EQ(state.lZ, 0);

    PushMouseWheel(0.25f); // a fine-grained wheel reports fractions of a notch
    EXPECT_EQ(devices.ReadMouse().lZ, 30);
}

TEST_F(DirectInputDevices, MouseButtonsInDirectInputOrder) {
    Devices devices(window);
    PushFocus(window, true);
    PumpMessages();
    ASSERT_EQ(devices.mouse->Acquire(), DI_OK);

    PushMouseButton(1, true); // right
    PumpMessages();
    DIMOUSESTATE state = devices.ReadMouse();
    EXPECT_EQ(state.rgbButtons[0], 0);
    EXPECT_EQ(state.rgbButtons[1], 0x80);
    EXPECT_EQ(state.rgbButtons[2], 0);

    PushMouseButton(2, true); // middle
    PushMouseButton(0, true); // left
    PushMouseButton(1, false);
    PumpMessages();
    state = devices.ReadMouse();
    EXPECT_EQ(state.rgbButtons[0], 0x80);
    EXPECT_EQ(state.rgbButtons[1], 0);
    EXPECT_EQ(state.rgbButtons[2], 0x80);

    // The extended state carries the side buttons too.
    devices.mouse->Unacquire();
    ASSERT_EQ(devices.mouse->SetDataFormat(&c_dfDIMouse2), DI_OK);
    ASSERT_EQ(devices.mouse->Acquire(), DI_OK);
    PushMouseButton(4, true);
    DIMOUSESTATE2 state2{};
    EXPECT_EQ(devices.mouse->GetDeviceState(sizeof(DIMOUSESTATE), &state2), DIERR_INVALIDPARAM);
    ASSERT_EQ(devices.mouse->GetDeviceState(sizeof(state2), &state2), DI_OK);
    EXPECT_EQ(state2.rgbButtons[0], 0x80);
    EXPECT_EQ(state2.rgbButtons[4], 0x80);

    PushMouseButton(0, false);
    PushMouseButton(2, false);
    PushMouseButton(4, false);
    PumpMessages();
}

TEST_F(DirectInputDevices, DevicesOutliveTheirDirectInputObject) {
    Devices devices(window);
    EXPECT_EQ(devices.directInput->AddRef(), 2u);
    EXPECT_EQ(devices.directInput->Release(), 1u);
    PushKey(DIK_SPACE, true);
    BYTE keys[256];
    ASSERT_EQ(devices.keyboard->GetDeviceState(sizeof(keys), keys), DI_OK);
    EXPECT_EQ(keys[DIK_SPACE], 0x80);
    PushKey(DIK_SPACE, false);
    PumpMessages();
}
