#include "platform/d3d9/translate.h"

#include <GL/glext.h>

#include <cstring>

namespace fw::d3d9 {

Matrix ToMatrix(const D3DMATRIX& m) {
    Matrix out;
    std::memcpy(out.data(), &m._11, sizeof(float) * 16);
    return out;
}

Matrix Identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a[r * 4 + k] * b[k * 4 + c];
            out[r * 4 + c] = sum;
        }
    return out;
}

namespace {
// Camera space to GL eye space: z mirrored.
const Matrix kMirrorZ = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
// D3D clip z in 0..w to GL's -w..w: z' = 2z - w.
const Matrix kDepthFix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};
} // namespace

Matrix GlView(const Matrix& view) {
    return Multiply(view, kMirrorZ);
}

Matrix GlModelView(const Matrix& world, const Matrix& view) {
    return Multiply(world, GlView(view));
}

Matrix GlProjection(const Matrix& projection) {
    return Multiply(Multiply(kMirrorZ, projection), kDepthFix);
}

GLenum DecodeBlend(DWORD blend) {
    switch (blend) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_ONE:
        return GL_ONE;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT:
        return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR:
        return GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR:
        return GL_ONE_MINUS_CONSTANT_COLOR;
    default:
        return GL_ONE;
    }
}

GLenum DecodeBlendOp(DWORD op) {
    switch (op) {
    case D3DBLENDOP_SUBTRACT:
        return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT:
        return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN:
        return GL_MIN;
    case D3DBLENDOP_MAX:
        return GL_MAX;
    default:
        return GL_FUNC_ADD;
    }
}

GLenum DecodeCompare(DWORD func) {
    switch (func) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_LESSEQUAL:
        return GL_LEQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    default:
        return GL_ALWAYS;
    }
}

GLenum DecodeStencilOp(DWORD op) {
    switch (op) {
    case D3DSTENCILOP_ZERO:
        return GL_ZERO;
    case D3DSTENCILOP_REPLACE:
        return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT:
        return GL_INCR;
    case D3DSTENCILOP_DECRSAT:
        return GL_DECR;
    case D3DSTENCILOP_INVERT:
        return GL_INVERT;
    case D3DSTENCILOP_INCR:
        return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR:
        return GL_DECR_WRAP;
    default:
        return GL_KEEP;
    }
}

GLint DecodeAddress(DWORD address) {
    switch (address) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
        return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE:
        return GL_MIRROR_CLAMP_TO_EDGE;
    default:
        return GL_REPEAT;
    }
}

GLint DecodeMagFilter(DWORD filter) {
    return filter == D3DTEXF_POINT ? GL_NEAREST : GL_LINEAR;
}

GLint DecodeMinFilter(DWORD minFilter, DWORD mipFilter) {
    // NONE as a minification filter samples like POINT; anything smoother is linear.
    bool linear = minFilter != D3DTEXF_NONE && minFilter != D3DTEXF_POINT;
    switch (mipFilter) {
    case D3DTEXF_NONE:
        return linear ? GL_LINEAR : GL_NEAREST;
    case D3DTEXF_POINT:
        return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    default:
        return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
}

GLenum DecodeFill(DWORD fill) {
    switch (fill) {
    case D3DFILL_POINT:
        return GL_POINT;
    case D3DFILL_WIREFRAME:
        return GL_LINE;
    default:
        return GL_FILL;
    }
}

CullSetup DecodeCull(DWORD cull) {
    switch (cull) {
    case D3DCULL_CW:
        return {true, GL_FRONT};
    case D3DCULL_CCW:
        return {true, GL_BACK};
    default:
        return {false, GL_BACK};
    }
}

VertexLayout DecodeFvf(DWORD fvf) {
    VertexLayout layout;
    UINT offset = 0;
    DWORD position = fvf & D3DFVF_POSITION_MASK;
    switch (position) {
    case D3DFVF_XYZ:
        offset = 12;
        break;
    case D3DFVF_XYZRHW:
        layout.transformed = true;
        layout.positionSize = 4;
        offset = 16;
        break;
    case D3DFVF_XYZW:
        layout.positionSize = 4;
        offset = 16;
        break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
        offset = 12 + 4 * ((position - D3DFVF_XYZRHW) / 2); // XYZB1 = 6: one weight
        break;
    default:
        return layout; // no position: nothing the fixed-function pipeline can draw
    }
    if (fvf & D3DFVF_NORMAL) {
        layout.normal = int(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE)
        offset += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        layout.diffuse = int(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.specular = int(offset);
        offset += 4;
    }
    layout.texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (layout.texCount > 8)
        return layout;
    for (UINT i = 0; i < layout.texCount; ++i) {
        static const UINT kSizes[4] = {2, 3, 4, 1}; // D3DFVF_TEXTUREFORMAT2, 3, 4, 1
        layout.texSize[i] = kSizes[(fvf >> (16 + 2 * i)) & 3];
        layout.texOffset[i] = offset;
        offset += 4 * layout.texSize[i];
    }
    layout.stride = offset;
    layout.valid = true;
    return layout;
}

namespace {

void DecodeArg(DWORD arg, bool alpha, GLenum& source, GLenum& operand, bool& exact) {
    switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
        source = GL_PRIMARY_COLOR;
        break;
    case D3DTA_TEXTURE:
        source = GL_TEXTURE;
        break;
    case D3DTA_TFACTOR:
    case D3DTA_CONSTANT:
        source = GL_CONSTANT;
        break;
    case D3DTA_CURRENT:
        source = GL_PREVIOUS;
        break;
    default: // SPECULAR and TEMP have no combiner source
        source = GL_PREVIOUS;
        exact = false;
        break;
    }
    bool useAlpha = alpha || (arg & D3DTA_ALPHAREPLICATE);
    bool complement = arg & D3DTA_COMPLEMENT;
    if (useAlpha)
        operand = complement ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
    else
        operand = complement ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR;
}

} // namespace

void DropWhitePrimary(CombineSetup& setup) {
    // At the first stage GL's previous colour is the primary one.
    auto white = [&](int i) {
        return (setup.source[i] == GL_PRIMARY_COLOR || setup.source[i] == GL_PREVIOUS) &&
               (setup.operand[i] == GL_SRC_COLOR || setup.operand[i] == GL_SRC_ALPHA);
    };
    if (setup.mode != GL_MODULATE || (!white(0) && !white(1)))
        return;
    if (white(0)) {
        setup.source[0] = setup.source[1];
        setup.operand[0] = setup.operand[1];
    }
    setup.mode = GL_REPLACE; // the scale of MODULATE2X and 4X still applies
}

CombineSetup DecodeStageOp(DWORD op, DWORD arg1, DWORD arg2, DWORD arg0, bool alpha) {
    CombineSetup setup;
    DWORD args[3] = {arg1, arg2, D3DTA_CURRENT};
    auto interpolate = [&](GLenum weightSource) {
        setup.mode = GL_INTERPOLATE;
        setup.source[2] = weightSource;
        setup.operand[2] = GL_SRC_ALPHA;
    };
    switch (op) {
    case D3DTOP_SELECTARG1:
        setup.mode = GL_REPLACE;
        break;
    case D3DTOP_SELECTARG2:
        setup.mode = GL_REPLACE;
        args[0] = arg2;
        break;
    case D3DTOP_MODULATE:
        setup.mode = GL_MODULATE;
        break;
    case D3DTOP_MODULATE2X:
        setup.mode = GL_MODULATE;
        setup.scale = 2;
        break;
    case D3DTOP_MODULATE4X:
        setup.mode = GL_MODULATE;
        setup.scale = 4;
        break;
    case D3DTOP_ADD:
        setup.mode = GL_ADD;
        break;
    case D3DTOP_ADDSIGNED:
        setup.mode = GL_ADD_SIGNED;
        break;
    case D3DTOP_ADDSIGNED2X:
        setup.mode = GL_ADD_SIGNED;
        setup.scale = 2;
        break;
    case D3DTOP_SUBTRACT:
        setup.mode = GL_SUBTRACT;
        break;
    case D3DTOP_BLENDDIFFUSEALPHA:
        interpolate(GL_PRIMARY_COLOR);
        break;
    case D3DTOP_BLENDTEXTUREALPHA:
        interpolate(GL_TEXTURE);
        break;
    case D3DTOP_BLENDFACTORALPHA:
        interpolate(GL_CONSTANT);
        break;
    case D3DTOP_BLENDCURRENTALPHA:
        interpolate(GL_PREVIOUS);
        break;
    case D3DTOP_DOTPRODUCT3:
        setup.mode = alpha ? GL_MODULATE : GL_DOT3_RGBA;
        setup.exact = !alpha;
        break;
    case D3DTOP_LERP:
        // arg0 weights arg1 against arg2
        setup.mode = GL_INTERPOLATE;
        args[2] = arg0;
        break;
    case D3DTOP_MULTIPLYADD:
    default:
        setup.mode = GL_MODULATE;
        setup.exact = false;
        break;
    }
    for (int i = 0; i < 3; ++i) {
        if (i == 2 && setup.mode == GL_INTERPOLATE && op != D3DTOP_LERP)
            break;
        DecodeArg(args[i], alpha, setup.source[i], setup.operand[i], setup.exact);
    }
    if (op == D3DTOP_LERP && !alpha) {
        // the weight is arg0 as a colour
        setup.operand[2] = (arg0 & D3DTA_COMPLEMENT) ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR;
        if (arg0 & D3DTA_ALPHAREPLICATE)
            setup.operand[2] = (arg0 & D3DTA_COMPLEMENT) ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
    }
    return setup;
}

Matrix GlTextureMatrix(const Matrix& m, DWORD flags, UINT inputSize) {
    UINT count = flags & 0xff;
    if (count == D3DTTFF_DISABLE)
        return Identity();
    // D3D pads the input after its last component with 1 (u, v, 1, 0); GL pads with
    // (r, q) = (0, 1). Move the row that multiplies D3D's 1 to GL's q row.
    Matrix gl = m;
    if (inputSize < 4) {
        for (int c = 0; c < 4; ++c) {
            gl[12 + c] = m[inputSize * 4 + c];
            for (UINT r = inputSize; r < 3; ++r)
                gl[r * 4 + c] = 0;
        }
    }
    // GL divides by the fourth output; D3D divides by the last counted one when projected,
    // and not at all otherwise.
    bool projected = (flags & D3DTTFF_PROJECTED) && count >= 2 && count <= 4;
    for (int r = 0; r < 4; ++r) {
        float q = projected ? gl[r * 4 + (count - 1)] : (r == 3 ? 1.0f : 0.0f);
        gl[r * 4 + 3] = q;
    }
    return gl;
}

std::array<float, 4> ColorToFloats(D3DCOLOR color) {
    return {float((color >> 16) & 0xff) / 255.0f, float((color >> 8) & 0xff) / 255.0f,
            float(color & 0xff) / 255.0f, float(color >> 24) / 255.0f};
}

} // namespace fw::d3d9
