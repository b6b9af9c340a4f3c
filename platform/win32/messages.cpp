// The thread's message queue: posted messages plus SDL events translated to window messages.
#include "platform/win32/host.h"
#include "platform/win32/window_impl.h"

#include <SDL.h>

#include <algorithm>
#include <deque>

namespace {

std::deque<MSG>& Queue() {
    static std::deque<MSG> queue;
    return queue;
}

// PostQuitMessage does not queue: WM_QUIT comes only when nothing else waits, as on Windows.
bool quitPosted = false;
int quitCode = 0;

LPARAM PackPoint(int x, int y) {
    return (LPARAM)(uint32_t)((x & 0xffff) | ((y & 0xffff) << 16));
}

DWORD MessageTime() {
    return SDL_GetTicks();
}

// The cursor in screen coordinates, from SDL's cached state (no round trip to the display).
POINT CursorPosition() {
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return POINT{0, 0};
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    int left = 0, top = 0;
    if (SDL_Window* focus = SDL_GetMouseFocus())
        SDL_GetWindowPosition(focus, &left, &top);
    return POINT{left + x, top + y};
}

void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Queue().push_back(MSG{hwnd, message, wParam, lParam, MessageTime(), CursorPosition()});
}

WPARAM MouseKeyFlags(Uint32 buttons) {
    WPARAM flags = 0;
    if (buttons & SDL_BUTTON_LMASK)
        flags |= MK_LBUTTON;
    if (buttons & SDL_BUTTON_RMASK)
        flags |= MK_RBUTTON;
    if (buttons & SDL_BUTTON_MMASK)
        flags |= MK_MBUTTON;
    SDL_Keymod mods = SDL_GetModState();
    if (mods & KMOD_SHIFT)
        flags |= MK_SHIFT;
    if (mods & KMOD_CTRL)
        flags |= MK_CONTROL;
    return flags;
}

// Virtual-key code of a key position (US layout, as DirectInput and most games assume).
WPARAM VirtualKey(SDL_Scancode code) {
    if (code >= SDL_SCANCODE_A && code <= SDL_SCANCODE_Z)
        return 'A' + (code - SDL_SCANCODE_A);
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9)
        return '1' + (code - SDL_SCANCODE_1);
    if (code >= SDL_SCANCODE_F1 && code <= SDL_SCANCODE_F12)
        return VK_F1 + (code - SDL_SCANCODE_F1);
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9)
        return VK_NUMPAD0 + 1 + (code - SDL_SCANCODE_KP_1);
    switch (code) {
    case SDL_SCANCODE_0:
        return '0';
    case SDL_SCANCODE_KP_0:
        return VK_NUMPAD0;
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER:
        return VK_RETURN;
    case SDL_SCANCODE_ESCAPE:
        return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE:
        return VK_BACK;
    case SDL_SCANCODE_TAB:
        return VK_TAB;
    case SDL_SCANCODE_SPACE:
        return VK_SPACE;
    case SDL_SCANCODE_MINUS:
        return VK_OEM_MINUS;
    case SDL_SCANCODE_EQUALS:
        return VK_OEM_PLUS;
    case SDL_SCANCODE_LEFTBRACKET:
        return VK_OEM_4;
    case SDL_SCANCODE_RIGHTBRACKET:
        return VK_OEM_6;
    case SDL_SCANCODE_BACKSLASH:
        return VK_OEM_5;
    case SDL_SCANCODE_SEMICOLON:
        return VK_OEM_1;
    case SDL_SCANCODE_APOSTROPHE:
        return VK_OEM_7;
    case SDL_SCANCODE_GRAVE:
        return VK_OEM_3;
    case SDL_SCANCODE_COMMA:
        return VK_OEM_COMMA;
    case SDL_SCANCODE_PERIOD:
        return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH:
        return VK_OEM_2;
    case SDL_SCANCODE_CAPSLOCK:
        return VK_CAPITAL;
    case SDL_SCANCODE_PAUSE:
        return VK_PAUSE;
    case SDL_SCANCODE_INSERT:
        return VK_INSERT;
    case SDL_SCANCODE_HOME:
        return VK_HOME;
    case SDL_SCANCODE_PAGEUP:
        return VK_PRIOR;
    case SDL_SCANCODE_DELETE:
        return VK_DELETE;
    case SDL_SCANCODE_END:
        return VK_END;
    case SDL_SCANCODE_PAGEDOWN:
        return VK_NEXT;
    case SDL_SCANCODE_RIGHT:
        return VK_RIGHT;
    case SDL_SCANCODE_LEFT:
        return VK_LEFT;
    case SDL_SCANCODE_DOWN:
        return VK_DOWN;
    case SDL_SCANCODE_UP:
        return VK_UP;
    case SDL_SCANCODE_NUMLOCKCLEAR:
        return VK_NUMLOCK;
    case SDL_SCANCODE_SCROLLLOCK:
        return VK_SCROLL;
    case SDL_SCANCODE_KP_DIVIDE:
        return VK_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY:
        return VK_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS:
        return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PLUS:
        return VK_ADD;
    case SDL_SCANCODE_KP_PERIOD:
        return VK_DECIMAL;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
        return VK_SHIFT;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
        return VK_CONTROL;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT:
        return VK_MENU;
    default:
        return 0;
    }
}

void TranslateKey(HWND hwnd, const SDL_KeyboardEvent& key) {
    WPARAM vk = VirtualKey(key.keysym.scancode);
    if (vk == 0)
        return;
    bool down = key.type == SDL_KEYDOWN;
    bool alt = (key.keysym.mod & KMOD_ALT) != 0;
    // Repeat count 1, the key's position in bits 16..23, context, previous state, transition.
    uint32_t bits = 1u | ((uint32_t)(key.keysym.scancode & 0xff) << 16);
    if (alt)
        bits |= 1u << 29;
    if (!down || key.repeat)
        bits |= 1u << 30;
    if (!down)
        bits |= 1u << 31;
    UINT message = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
    Post(hwnd, message, vk, (LPARAM)bits);
}

void TranslateWindowEvent(HWND hwnd, const SDL_WindowEvent& event) {
    switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE:
        Post(hwnd, WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        hwnd->clientWidth = std::max(0, event.data1);
        hwnd->clientHeight = std::max(0, event.data2);
        Post(hwnd, WM_SIZE, SIZE_RESTORED, PackPoint(event.data1, event.data2));
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        Post(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
        break;
    case SDL_WINDOWEVENT_RESTORED:
        Post(hwnd, WM_SIZE, SIZE_RESTORED, PackPoint(hwnd->clientWidth, hwnd->clientHeight));
        break;
    case SDL_WINDOWEVENT_MOVED:
        Post(hwnd, WM_MOVE, 0, PackPoint(event.data1, event.data2));
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        Post(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
        Post(hwnd, WM_SETFOCUS, 0, 0);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        Post(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
        Post(hwnd, WM_KILLFOCUS, 0, 0);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        hwnd->paintPending = true;
        break;
    default:
        break;
    }
}

UINT ButtonMessage(Uint8 button, bool down) {
    switch (button) {
    case SDL_BUTTON_LEFT:
        return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case SDL_BUTTON_RIGHT:
        return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    case SDL_BUTTON_MIDDLE:
        return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    default:
        return 0;
    }
}

void TranslateEvent(const SDL_Event& event) {
    using fw::win32::FindWindowBySdlId;
    switch (event.type) {
    case SDL_QUIT: // Ctrl+C in the terminal, or the session ending: close as the user would
        if (HWND hwnd = fw::win32::FirstWindow())
            Post(hwnd, WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT:
        if (HWND hwnd = FindWindowBySdlId(event.window.windowID))
            TranslateWindowEvent(hwnd, event.window);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (HWND hwnd = FindWindowBySdlId(event.key.windowID))
            TranslateKey(hwnd, event.key);
        break;
    case SDL_TEXTINPUT:
        if (HWND hwnd = FindWindowBySdlId(event.text.windowID))
            for (const char* c = event.text.text; *c; ++c)
                Post(hwnd, WM_CHAR, (WPARAM)(unsigned char)*c, 1);
        break;
    case SDL_MOUSEMOTION:
        if (HWND hwnd = FindWindowBySdlId(event.motion.windowID))
            Post(hwnd, WM_MOUSEMOVE, MouseKeyFlags(event.motion.state),
                 PackPoint(event.motion.x, event.motion.y));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (HWND hwnd = FindWindowBySdlId(event.button.windowID)) {
            UINT message = ButtonMessage(event.button.button, event.type == SDL_MOUSEBUTTONDOWN);
            if (message)
                Post(hwnd, message, MouseKeyFlags(SDL_GetMouseState(nullptr, nullptr)),
                     PackPoint(event.button.x, event.button.y));
        }
        break;
    case SDL_MOUSEWHEEL:
        if (HWND hwnd = FindWindowBySdlId(event.wheel.windowID)) {
            int delta = event.wheel.y * WHEEL_DELTA;
            if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
                delta = -delta;
            POINT cursor = CursorPosition();
            WPARAM wParam = (MouseKeyFlags(SDL_GetMouseState(nullptr, nullptr)) & 0xffff) |
                            ((WPARAM)(uint16_t)(int16_t)delta << 16);
            Post(hwnd, WM_MOUSEWHEEL, wParam, PackPoint(cursor.x, cursor.y));
        }
        break;
    default:
        break;
    }
}

// Moves every SDL event into the queue. Other readers of SDL state (keyboard and mouse
// devices) see the same pump through SDL's own state and event watches.
void PumpSdlEvents() {
    if (!SDL_WasInit(SDL_INIT_EVENTS))
        return;
    fw::LibraryScope scope;
    SDL_Event event;
    while (SDL_PollEvent(&event))
        TranslateEvent(event);
}

bool Matches(const MSG& msg, HWND filter, UINT minMessage, UINT maxMessage) {
    if (filter && msg.hwnd != filter)
        return false;
    if (minMessage == 0 && maxMessage == 0)
        return true;
    return msg.message >= minMessage && msg.message <= maxMessage;
}

bool TakePaint(LPMSG msg, HWND filter, UINT minMessage, UINT maxMessage, bool remove) {
    for (HWND hwnd : fw::win32::Windows()) {
        if (!hwnd->paintPending || !hwnd->visible)
            continue;
        MSG paint{hwnd, WM_PAINT, 0, 0, MessageTime(), POINT{0, 0}};
        if (!Matches(paint, filter, minMessage, maxMessage))
            continue;
        // Handed out once per exposure so a procedure that never validates cannot starve
        // the frame loop.
        if (remove)
            hwnd->paintPending = false;
        *msg = paint;
        return true;
    }
    return false;
}

} // namespace

namespace fw::win32 {

void ForgetQueuedMessages(HWND hwnd) {
    auto& queue = Queue();
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [hwnd](const MSG& msg) { return msg.hwnd == hwnd; }),
                queue.end());
}

} // namespace fw::win32

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    if (!lpMsg)
        return FALSE;
    PumpSdlEvents();
    bool remove = (wRemoveMsg & PM_REMOVE) != 0;
    auto& queue = Queue();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax))
            continue;
        *lpMsg = *it;
        if (remove)
            queue.erase(it);
        return TRUE;
    }
    bool quitWanted = !hWnd && ((wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                                (WM_QUIT >= wMsgFilterMin && WM_QUIT <= wMsgFilterMax));
    if (quitPosted && quitWanted) {
        *lpMsg = MSG{nullptr, WM_QUIT, (WPARAM)quitCode, 0, MessageTime(), POINT{0, 0}};
        if (remove)
            quitPosted = false;
        return TRUE;
    }
    return TakePaint(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, remove) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    // Characters arrive from the text input of the window system as WM_CHAR already.
    if (!lpMsg)
        return FALSE;
    UINT m = lpMsg->message;
    return (m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP) ? TRUE
                                                                                        : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd)
        return 0;
    return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!IsWindow(hWnd))
        return 0;
    return hWnd->proc(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd && !IsWindow(hWnd))
        return FALSE;
    Post(hWnd, Msg, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    quitPosted = true;
    quitCode = nExitCode;
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM) {
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_PAINT:
        if (IsWindow(hWnd))
            hWnd->paintPending = false;
        return 0;
    default:
        return 0;
    }
}
