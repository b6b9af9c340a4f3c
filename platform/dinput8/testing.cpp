#include "platform/dinput8/testing.h"

#include "platform/dinput8/keymap.h"
#include "platform/win32/host.h"

#include <SDL.h>

#include <array>

namespace fw::dinput8 {

namespace {

constexpr size_t kStepCount = 5;
std::array<HRESULT, kStepCount> injectedFailures{}; // DI_OK: no failure
uint32_t pushedFocusWindow = 0;

void Push(SDL_Event& event) {
    LibraryScope scope;
    SDL_PushEvent(&event);
}

} // namespace

ScopedSetupFailure::ScopedSetupFailure(SetupStep step, HRESULT result) : step(step) {
    injectedFailures[static_cast<size_t>(step)] = result;
}

ScopedSetupFailure::~ScopedSetupFailure() {
    injectedFailures[static_cast<size_t>(step)] = DI_OK;
}

HRESULT InjectedFailure(SetupStep step) {
    return injectedFailures[static_cast<size_t>(step)];
}

void PushKey(BYTE dik, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = static_cast<SDL_Scancode>(ScancodeFromDik(dik));
    Push(event);
}

void PushMouseMotion(int dx, int dy) {
    SDL_Event event{};
    event.type = SDL_MOUSEMOTION;
    event.motion.xrel = dx;
    event.motion.yrel = dy;
    Push(event);
}

void PushMouseWheel(float notches) {
    SDL_Event event{};
    event.type = SDL_MOUSEWHEEL;
    event.wheel.y = static_cast<Sint32>(notches);
    event.wheel.preciseY = notches;
    event.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    Push(event);
}

void PushMouseButton(int diButton, bool down) {
    static constexpr Uint8 kSdlButtons[] = {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE,
                                            SDL_BUTTON_X1, SDL_BUTTON_X2};
    if (diButton < 0 || diButton >= static_cast<int>(std::size(kSdlButtons)))
        return;
    SDL_Event event{};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.button = kSdlButtons[diButton];
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    Push(event);
}

void PushFocus(HWND window, bool gained) {
    SDL_Window* sdlWindow = GetSdlWindow(window);
    if (!sdlWindow)
        return;
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    event.window.windowID = SDL_GetWindowID(sdlWindow);
    if (gained)
        pushedFocusWindow = event.window.windowID;
    else if (pushedFocusWindow == event.window.windowID)
        pushedFocusWindow = 0;
    Push(event);
}

uint32_t PushedFocusWindow() {
    return pushedFocusWindow;
}

} // namespace fw::dinput8
