// D3DX 9 from the system's SDK (see platform/sdk/platform/windows.h).
#pragma once

#include "platform/d3dx9math.h"

#include <d3dx9.h>
