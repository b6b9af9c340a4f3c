// The run options that concern the program's model: --model, --animation and --fit.
#pragma once

#include "platform/d3dx9anim.h"

#include <string>

namespace fw::xanim {

// The file a hierarchy is loaded from: --model's in place of the one the program asks for.
const char* ModelFile(const char* asked);

// After the model has loaded or failed: a model named by --model that does not load, or a set
// named by --animation that it lacks, ends the run with 2 and a line saying why (the sets it
// has listed); --animation list prints the sets and ends the run; --fit puts the model under a
// root frame that scales it to the default hero's size. Returns loaded, or a failure of --fit.
HRESULT ApplyModelOptions(HRESULT loaded, const std::string& error, ID3DXAllocateHierarchy* alloc,
                          LPD3DXFRAME* root, ID3DXAnimationController* controller);

// The name to look up when the program asks for a set by name: --animation's, else the first
// set of a --model file, else the name asked for.
std::string PlayedSetName(ID3DXAnimationController* controller, const char* asked);

} // namespace fw::xanim
