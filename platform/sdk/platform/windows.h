// On Windows the program includes the system's own headers (MinGW-w64's SDK): platform/sdk
// comes first on the include path there, so these names lead to the SDK, not to the Linux
// layer beside it.
#pragma once

#include <windows.h>
