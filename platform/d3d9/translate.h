// Direct3D 9 values and conventions in GL terms: small pure functions, one per kind of value.
//
// Conventions fixed here and nowhere else:
// - D3D matrices are row-vector; the same 16 floats load unchanged into GL (column-major).
// - GL eye space is D3D's camera space with z mirrored (right-handed, -z forward), so GL's
//   sphere map, fog distance and local viewer behave as D3D's; the projection undoes the
//   mirror and maps D3D's clip depth 0..w to GL's -w..w.
// - D3D's front faces are clockwise on screen: GL front face is GL_CW.
#pragma once

#include "platform/d3d9.h"

#include <GL/gl.h>

#include <array>

namespace fw::d3d9 {

using Matrix = std::array<float, 16>; // D3D order: _11, _12, ... _44

Matrix ToMatrix(const D3DMATRIX& m);
Matrix Identity();
Matrix Multiply(const Matrix& a, const Matrix& b); // a x b applies a first
// The GL modelview for D3D world and view; the GL projection for a D3D projection.
Matrix GlModelView(const Matrix& world, const Matrix& view);
Matrix GlProjection(const Matrix& projection);
// The GL view matrix alone (lights are placed under it).
Matrix GlView(const Matrix& view);

GLenum DecodeBlend(DWORD blend);
GLenum DecodeBlendOp(DWORD op);
GLenum DecodeCompare(DWORD func);
GLenum DecodeStencilOp(DWORD op);
GLint DecodeAddress(DWORD address);
GLint DecodeMagFilter(DWORD filter);
GLint DecodeMinFilter(DWORD minFilter, DWORD mipFilter);
GLenum DecodeFill(DWORD fill);

struct CullSetup {
    bool enable = false;
    GLenum face = GL_BACK; // with glFrontFace(GL_CW)
};
CullSetup DecodeCull(DWORD cull);

// Where each element of a flexible-vertex-format vertex lies.
struct VertexLayout {
    bool valid = false;
    UINT stride = 0;
    bool transformed = false; // XYZRHW: screen pixels
    UINT positionSize = 3;
    int normal = -1; // byte offsets, -1: absent
    int diffuse = -1;
    int specular = -1;
    UINT texCount = 0;
    UINT texOffset[8] = {};
    UINT texSize[8] = {}; // floats per set: 1..4
};
VertexLayout DecodeFvf(DWORD fvf);

// One half (colour or alpha) of a texture stage on GL_COMBINE.
struct CombineSetup {
    GLenum mode = GL_MODULATE;
    GLenum source[3] = {GL_TEXTURE, GL_PREVIOUS, GL_CONSTANT};
    GLenum operand[3] = {GL_SRC_COLOR, GL_SRC_COLOR, GL_SRC_ALPHA};
    float scale = 1.0f;
    bool exact = true; // false: an approximation of an operation GL cannot express
};
// args: ARG1, ARG2, ARG0 (D3DTA_* with modifiers).
CombineSetup DecodeStageOp(DWORD op, DWORD arg1, DWORD arg2, DWORD arg0, bool alpha);
// For the first stage when the primary colour is opaque white (unlit, no vertex colours): a
// product with it selects the other argument, the same result without reading the colour.
void DropWhitePrimary(CombineSetup& setup);

// The GL texture matrix that gives what D3D computes for one stage: m is D3DTS_TEXTUREn,
// flags D3DTSS_TEXTURETRANSFORMFLAGS, inputSize the components D3D feeds (vertex set size;
// 2 for a sphere map; 3 for camera-space generation).
Matrix GlTextureMatrix(const Matrix& m, DWORD flags, UINT inputSize);

// D3DCOLOR to floats r, g, b, a.
std::array<float, 4> ColorToFloats(D3DCOLOR color);

} // namespace fw::d3d9
