// DirectInput 8 from the system's SDK, which declares it in dinput.h (see
// platform/sdk/platform/windows.h).
#pragma once

#ifndef DIRECTINPUT_VERSION
#define DIRECTINPUT_VERSION 0x0800
#endif
#include <dinput.h>
