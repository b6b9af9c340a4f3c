// Keyboard and mouse devices on SDL2. Each device watches SDL's event stream, so it
// sees input whoever pumps the events, and keeps the state DirectInput would: keys
// and buttons as they are now, motion and wheel summed since the previous read.
#include "platform/dinput8.h"

#include "platform/dinput8/keymap.h"
#include "platform/dinput8/testing.h"
#include "platform/win32/host.h"

#include <SDL.h>

#include <cmath>
#include <cstring>

namespace fw::dinput8 {

struct EventSink {
    static int Watch(void* userdata, SDL_Event* event);
    static void Start(IDirectInputDevice8A& device);
    static void Stop(IDirectInputDevice8A& device);
    static void OnKey(IDirectInputDevice8A& device, const SDL_KeyboardEvent& key);
    static void OnButton(IDirectInputDevice8A& device, const SDL_MouseButtonEvent& button);
    static void OnWheel(IDirectInputDevice8A& device, const SDL_MouseWheelEvent& wheel);
    static void OnWindow(IDirectInputDevice8A& device, const SDL_WindowEvent& window);
};

namespace {

// DirectInput orders buttons left, right, middle, side 1, side 2; SDL left, middle, right.
int DiButtonFromSdl(Uint8 sdlButton) {
    switch (sdlButton) {
    case SDL_BUTTON_LEFT:
        return 0;
    case SDL_BUTTON_RIGHT:
        return 1;
    case SDL_BUTTON_MIDDLE:
        return 2;
    case SDL_BUTTON_X1:
        return 3;
    case SDL_BUTTON_X2:
        return 4;
    default:
        return -1;
    }
}

constexpr LONG kWheelDelta = 120; // per notch, as Windows reports wheels

bool SameObject(const DIOBJECTDATAFORMAT& a, const DIOBJECTDATAFORMAT& b) {
    bool sameGuid = (!a.pguid && !b.pguid) || (a.pguid && b.pguid && *a.pguid == *b.pguid);
    return sameGuid && a.dwOfs == b.dwOfs && a.dwType == b.dwType && a.dwFlags == b.dwFlags;
}

bool SameFormat(const DIDATAFORMAT& a, const DIDATAFORMAT& b) {
    if (&a == &b)
        return true;
    if (a.dwSize != b.dwSize || a.dwObjSize != b.dwObjSize || a.dwFlags != b.dwFlags ||
        a.dwDataSize != b.dwDataSize || a.dwNumObjs != b.dwNumObjs || !a.rgodf)
        return false;
    for (DWORD i = 0; i < a.dwNumObjs; ++i)
        if (!SameObject(a.rgodf[i], b.rgodf[i]))
            return false;
    return true;
}

} // namespace

int EventSink::Watch(void* userdata, SDL_Event* event) {
    auto& device = *static_cast<IDirectInputDevice8A*>(userdata);
    bool isMouse = device.kind == IDirectInputDevice8A::Kind::Mouse;
    switch (event->type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (!isMouse)
            OnKey(device, event->key);
        break;
    case SDL_MOUSEMOTION:
        if (isMouse && device.acquired) {
            device.motionX += event->motion.xrel;
            device.motionY += event->motion.yrel;
        }
        break;
    case SDL_MOUSEWHEEL:
        if (isMouse && device.acquired)
            OnWheel(device, event->wheel);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (isMouse)
            OnButton(device, event->button);
        break;
    case SDL_WINDOWEVENT:
        OnWindow(device, event->window);
        break;
    default:
        break;
    }
    return 0;
}

void EventSink::OnKey(IDirectInputDevice8A& device, const SDL_KeyboardEvent& key) {
    if (BYTE dik = DikFromScancode(key.keysym.scancode))
        device.keys[dik] = key.state == SDL_PRESSED ? 0x80 : 0;
}

void EventSink::OnButton(IDirectInputDevice8A& device, const SDL_MouseButtonEvent& button) {
    int index = DiButtonFromSdl(button.button);
    if (index >= 0)
        device.buttons[index] = button.state == SDL_PRESSED ? 0x80 : 0;
}

void EventSink::OnWheel(IDirectInputDevice8A& device, const SDL_MouseWheelEvent& wheel) {
    // preciseY carries the fractions of high-resolution wheels; events built by hand
    // may set only y.
    float notches = wheel.preciseY != 0.0f ? wheel.preciseY : static_cast<float>(wheel.y);
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
        notches = -notches;
    device.motionZ += static_cast<LONG>(std::lround(notches * kWheelDelta));
}

void EventSink::OnWindow(IDirectInputDevice8A& device, const SDL_WindowEvent& window) {
    if (device.windowId == 0 || window.windowID != device.windowId)
        return;
    if (window.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
        device.focused = true;
    } else if (window.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        device.focused = false;
        // A foreground device is taken away with the focus; the next read says so.
        if ((device.cooperation & DISCL_FOREGROUND) && device.acquired) {
            device.acquired = false;
            device.inputLost = true;
            if (device.relativeMode) {
                SDL_SetRelativeMouseMode(SDL_FALSE);
                device.relativeMode = false;
            }
        }
    }
}

// SDL drops its watches when it shuts down, so starting again is harmless and keeps
// a device alive across a restart of SDL.
void EventSink::Start(IDirectInputDevice8A& device) {
    LibraryScope scope;
    SDL_DelEventWatch(Watch, &device);
    SDL_AddEventWatch(Watch, &device);
}

void EventSink::Stop(IDirectInputDevice8A& device) {
    LibraryScope scope;
    SDL_DelEventWatch(Watch, &device);
}

} // namespace fw::dinput8

using fw::dinput8::EventSink;

IDirectInputDevice8A::IDirectInputDevice8A(Kind kind) : kind(kind) {
    fw::LibraryScope scope;
    // Keys and buttons already held count as held, as a real device would see them.
    if (kind == Kind::Keyboard) {
        int count = 0;
        const Uint8* sdlKeys = SDL_GetKeyboardState(&count);
        for (int scancode = 0; scancode < count; ++scancode)
            if (BYTE dik = fw::dinput8::DikFromScancode(scancode); dik && sdlKeys[scancode])
                keys[dik] = 0x80;
    } else {
        Uint32 mask = SDL_GetMouseState(nullptr, nullptr);
        for (Uint8 sdlButton = SDL_BUTTON_LEFT; sdlButton <= SDL_BUTTON_X2; ++sdlButton)
            if (mask & SDL_BUTTON(sdlButton))
                buttons[fw::dinput8::DiButtonFromSdl(sdlButton)] = 0x80;
    }
    EventSink::Start(*this);
}

IDirectInputDevice8A::~IDirectInputDevice8A() {
    Unacquire();
    EventSink::Stop(*this);
}

ULONG IDirectInputDevice8A::AddRef() {
    return ++refCount;
}

ULONG IDirectInputDevice8A::Release() {
    ULONG remaining = --refCount;
    if (remaining == 0)
        delete this;
    return remaining;
}

HRESULT IDirectInputDevice8A::SetDataFormat(LPCDIDATAFORMAT lpdf) {
    using fw::dinput8::InjectedFailure;
    using fw::dinput8::SetupStep;
    HRESULT injected = InjectedFailure(kind == Kind::Keyboard ? SetupStep::SetKeyboardFormat
                                                              : SetupStep::SetMouseFormat);
    if (injected != DI_OK)
        return injected;
    if (!lpdf)
        return DIERR_INVALIDPARAM;
    if (acquired)
        return DIERR_ACQUIRED;

    bool supported = kind == Kind::Keyboard ? fw::dinput8::SameFormat(*lpdf, c_dfDIKeyboard)
                                            : fw::dinput8::SameFormat(*lpdf, c_dfDIMouse) ||
                                                  fw::dinput8::SameFormat(*lpdf, c_dfDIMouse2);
    if (!supported) {
        static bool said = false;
        if (!said) {
            OutputDebugStringA("DirectInput: only the standard keyboard and mouse data formats "
                               "(c_dfDIKeyboard, c_dfDIMouse, c_dfDIMouse2) are supported\n");
            said = true;
        }
        return DIERR_INVALIDPARAM;
    }
    dataSize = lpdf->dwDataSize;
    return DI_OK;
}

HRESULT IDirectInputDevice8A::SetCooperativeLevel(HWND hwnd, DWORD dwFlags) {
    if (acquired)
        return DIERR_ACQUIRED;
    bool exclusive = dwFlags & DISCL_EXCLUSIVE;
    bool foreground = dwFlags & DISCL_FOREGROUND;
    if (exclusive == bool(dwFlags & DISCL_NONEXCLUSIVE) ||
        foreground == bool(dwFlags & DISCL_BACKGROUND))
        return DIERR_INVALIDPARAM;
    // DirectInput refuses exclusive background access to the system keyboard and mouse;
    // the device keeps its level (non-exclusive background unless set before).
    if (exclusive && !foreground)
        return DIERR_UNSUPPORTED;

    fw::LibraryScope scope;
    SDL_Window* sdlWindow = hwnd ? fw::GetSdlWindow(hwnd) : nullptr;
    if (!sdlWindow)
        return E_HANDLE;
    window = hwnd;
    windowId = SDL_GetWindowID(sdlWindow);
    focused = (SDL_GetWindowFlags(sdlWindow) & SDL_WINDOW_INPUT_FOCUS) != 0 ||
              fw::dinput8::PushedFocusWindow() == windowId;
    cooperation = dwFlags;
    return DI_OK;
}

bool IDirectInputDevice8A::LacksFocus() const {
    return (cooperation & DISCL_FOREGROUND) && !focused;
}

HRESULT IDirectInputDevice8A::Acquire() {
    if (dataSize == 0)
        return DIERR_INVALIDPARAM;
    if (acquired)
        return DI_NOEFFECT;
    if (LacksFocus())
        return DIERR_OTHERAPPHASPRIO;

    EventSink::Start(*this);
    acquired = true;
    inputLost = false;
    motionX = motionY = motionZ = 0;
    if (kind == Kind::Mouse && (cooperation & DISCL_EXCLUSIVE)) {
        // An exclusive mouse hides and confines the cursor and reports raw motion.
        fw::LibraryScope scope;
        relativeMode = SDL_SetRelativeMouseMode(SDL_TRUE) == 0;
    }
    return DI_OK;
}

HRESULT IDirectInputDevice8A::Unacquire() {
    inputLost = false;
    if (!acquired)
        return DI_NOEFFECT;
    acquired = false;
    if (relativeMode) {
        fw::LibraryScope scope;
        SDL_SetRelativeMouseMode(SDL_FALSE);
        relativeMode = false;
    }
    return DI_OK;
}

HRESULT IDirectInputDevice8A::GetDeviceState(DWORD cbData, LPVOID lpvData) {
    if (!lpvData)
        return DIERR_INVALIDPARAM;
    if (!acquired) {
        HRESULT reason = inputLost ? DIERR_INPUTLOST : DIERR_NOTACQUIRED;
        inputLost = false;
        return reason;
    }
    if (cbData != dataSize)
        return DIERR_INVALIDPARAM;

    if (kind == Kind::Keyboard) {
        std::memcpy(lpvData, keys, sizeof(keys));
        return DI_OK;
    }
    // DIMOUSESTATE and DIMOUSESTATE2 share their start; only the button count differs.
    DIMOUSESTATE2 state{};
    state.lX = motionX;
    state.lY = motionY;
    state.lZ = motionZ;
    std::memcpy(state.rgbButtons, buttons, sizeof(state.rgbButtons));
    std::memcpy(lpvData, &state, cbData);
    motionX = motionY = motionZ = 0;
    return DI_OK;
}
