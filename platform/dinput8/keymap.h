// Physical key positions: SDL scancodes (USB HID usages) to DirectInput key codes.
#pragma once

#include "platform/windows.h"

namespace fw::dinput8 {

// The DIK code of an SDL scancode, or 0 for a key DirectInput has no code for.
BYTE DikFromScancode(int scancode);

// The SDL scancode that reports a DIK code, or 0 when none does.
int ScancodeFromDik(BYTE dik);

} // namespace fw::dinput8
