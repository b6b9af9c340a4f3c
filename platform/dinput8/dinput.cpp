// The DirectInput object, its identifiers and the standard data formats.
#include "platform/dinput8.h"

#include "platform/dinput8/testing.h"

#include <array>

const GUID IID_IDirectInput8A = {
    0xBF798030, 0x483A, 0x4DA2, {0xAA, 0x99, 0x5D, 0x64, 0xED, 0x36, 0x97, 0x00}};
const GUID IID_IDirectInputDevice8A = {
    0x54D41080, 0xDC15, 0x4833, {0xA4, 0x1B, 0x74, 0x8F, 0x73, 0xA3, 0x81, 0x79}};
const GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_XAxis = {
    0xA36D02E0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_YAxis = {
    0xA36D02E1, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_ZAxis = {
    0xA36D02E2, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Button = {
    0xA36D02F0, 0xC9F3, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID GUID_Key = {
    0x55728220, 0xD33C, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

constexpr DWORD kAnyAxis = DIDFT_AXIS | DIDFT_ANYINSTANCE;
constexpr DWORD kAnyButton = DIDFT_BUTTON | DIDFT_ANYINSTANCE;

std::array<DIOBJECTDATAFORMAT, 256> MakeKeyboardObjects() {
    std::array<DIOBJECTDATAFORMAT, 256> objects{};
    for (DWORD key = 0; key < objects.size(); ++key)
        objects[key] = {&GUID_Key, key, DIDFT_BUTTON | DIDFT_OPTIONAL | DIDFT_MAKEINSTANCE(key), 0};
    return objects;
}

std::array<DIOBJECTDATAFORMAT, 256> keyboardObjects = MakeKeyboardObjects();

DIOBJECTDATAFORMAT mouseObjects[] = {
    {&GUID_XAxis, DIMOFS_X, kAnyAxis, 0},
    {&GUID_YAxis, DIMOFS_Y, kAnyAxis, 0},
    {&GUID_ZAxis, DIMOFS_Z, kAnyAxis | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON0, kAnyButton, 0},
    {nullptr, DIMOFS_BUTTON1, kAnyButton, 0},
    {nullptr, DIMOFS_BUTTON2, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON3, kAnyButton | DIDFT_OPTIONAL, 0},
};

DIOBJECTDATAFORMAT mouse2Objects[] = {
    {&GUID_XAxis, DIMOFS_X, kAnyAxis, 0},
    {&GUID_YAxis, DIMOFS_Y, kAnyAxis, 0},
    {&GUID_ZAxis, DIMOFS_Z, kAnyAxis | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON0, kAnyButton, 0},
    {nullptr, DIMOFS_BUTTON1, kAnyButton, 0},
    {nullptr, DIMOFS_BUTTON2, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON3, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON4, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON5, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON6, kAnyButton | DIDFT_OPTIONAL, 0},
    {nullptr, DIMOFS_BUTTON7, kAnyButton | DIDFT_OPTIONAL, 0},
};

} // namespace

const DIDATAFORMAT c_dfDIKeyboard = {
    sizeof(DIDATAFORMAT),  sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS, 256, 256,
    keyboardObjects.data()};
const DIDATAFORMAT c_dfDIMouse = {sizeof(DIDATAFORMAT), sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS,
                                  sizeof(DIMOUSESTATE), std::size(mouseObjects),    mouseObjects};
const DIDATAFORMAT c_dfDIMouse2 = {
    sizeof(DIDATAFORMAT),  sizeof(DIOBJECTDATAFORMAT), DIDF_RELAXIS,
    sizeof(DIMOUSESTATE2), std::size(mouse2Objects),   mouse2Objects};

HRESULT WINAPI DirectInput8Create(HINSTANCE, DWORD dwVersion, REFIID riidltf, LPVOID* ppvOut,
                                  LPUNKNOWN punkOuter) {
    if (!ppvOut)
        return DIERR_INVALIDPARAM;
    *ppvOut = nullptr;
    if (HRESULT injected = fw::dinput8::InjectedFailure(fw::dinput8::SetupStep::CreateDirectInput))
        return injected;
    if (punkOuter)
        return DIERR_NOAGGREGATION;
    if (dwVersion < DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    if (dwVersion > DIRECTINPUT_VERSION)
        return DIERR_BETADIRECTINPUTVERSION;
    if (riidltf != IID_IDirectInput8A)
        return DIERR_NOINTERFACE;
    *ppvOut = new IDirectInput8A;
    return DI_OK;
}

ULONG IDirectInput8A::AddRef() {
    return ++refCount;
}

ULONG IDirectInput8A::Release() {
    ULONG remaining = --refCount;
    if (remaining == 0)
        delete this;
    return remaining;
}

HRESULT IDirectInput8A::CreateDevice(REFGUID rguid, LPDIRECTINPUTDEVICE8A* lplpDirectInputDevice,
                                     LPUNKNOWN pUnkOuter) {
    using fw::dinput8::InjectedFailure;
    using fw::dinput8::SetupStep;
    if (!lplpDirectInputDevice)
        return DIERR_INVALIDPARAM;
    *lplpDirectInputDevice = nullptr;
    if (pUnkOuter)
        return DIERR_NOAGGREGATION;

    IDirectInputDevice8A::Kind kind;
    if (rguid == GUID_SysKeyboard) {
        if (HRESULT injected = InjectedFailure(SetupStep::CreateKeyboard))
            return injected;
        kind = IDirectInputDevice8A::Kind::Keyboard;
    } else if (rguid == GUID_SysMouse) {
        if (HRESULT injected = InjectedFailure(SetupStep::CreateMouse))
            return injected;
        kind = IDirectInputDevice8A::Kind::Mouse;
    } else {
        return DIERR_DEVICENOTREG;
    }
    *lplpDirectInputDevice = new IDirectInputDevice8A(kind);
    return DI_OK;
}
