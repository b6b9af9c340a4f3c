// Direct3D 9 from the system's SDK (see platform/sdk/platform/windows.h).
#pragma once

#include <d3d9.h>
