// D3DX 9 math from the system's SDK (see platform/sdk/platform/windows.h).
#pragma once

#include <d3dx9math.h>

// MinGW-w64's d3dx9math.h stops short of the SDK's aligned matrix (the SDK defines it beside
// D3DX_ALIGN16); this is its shape: a D3DXMATRIX on a 16-byte boundary, wherever it lives.
#ifndef D3DX_ALIGN16
#include "platform/d3dxmatrixa16.h"
#endif
