// Text .X serialisation of a Model.
#pragma once

#include "hero.h"

#include <string>

namespace assetgen {

// The whole file: header, template declarations, the frame tree with its meshes, the tick
// rate and the animation sets. Rotation keys are written as the conjugate (w, -x, -y, -z) of
// the frame's rotation, because D3DX-style readers apply the conjugate of the stored key.
std::string writeXFile(const Model& model);

} // namespace assetgen
