// D3DX 9 as the program sees it: one include for every part, as the SDK's d3dx9.h.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3dx9err.h"
#include "platform/d3dx9math.h"
#include "platform/d3dx9core.h"
#include "platform/d3dx9mesh.h"
#include "platform/d3dx9tex.h"
#include "platform/d3dx9anim.h"
