// Applying the recorded D3D9 state to GL before a draw: only the groups that changed,
// then the per-draw texture bindings and vertex arrays.
#include "platform/d3d9/device_core.h"

#include "platform/d3d9/formats.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/resources.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace fw::d3d9 {

namespace {

float BitsFloat(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

void LoadMatrix(GLenum mode, const Matrix& m) {
    glMatrixMode(mode);
    glLoadMatrixf(m.data());
}

bool UsesTexture(DWORD op, DWORD arg1, DWORD arg2, DWORD arg0) {
    auto isTexture = [](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; };
    switch (op) {
    case D3DTOP_DISABLE:
        return false;
    case D3DTOP_SELECTARG1:
        return isTexture(arg1);
    case D3DTOP_SELECTARG2:
        return isTexture(arg2);
    case D3DTOP_BLENDTEXTUREALPHA:
    case D3DTOP_BLENDTEXTUREALPHAPM:
        return true;
    case D3DTOP_LERP:
    case D3DTOP_MULTIPLYADD:
        return isTexture(arg1) || isTexture(arg2) || isTexture(arg0);
    default:
        return isTexture(arg1) || isTexture(arg2);
    }
}

} // namespace

void GlDevice::ApplyState(const VertexLayout& layout) {
    const bool transformed = layout.transformed;
    if (transformed != lastTransformed) {
        dirty |= kDirtyTransforms | kDirtyLighting | kDirtyStages;
        lastTransformed = transformed;
    }
    bool white = (transformed || !state.render[D3DRS_LIGHTING]) && layout.diffuse < 0;
    if (white != whitePrimary) {
        dirty |= kDirtyStages; // the first stage's combination depends on it
        whitePrimary = white;
    }
    if (dirty & (kDirtyDepth | kDirtyStencil))
        ApplyDepthStencil();
    if (dirty & kDirtyBlend)
        ApplyBlend();
    if (dirty & kDirtyAlphaTest) {
        const auto& r = state.render;
        if (r[D3DRS_ALPHATESTENABLE]) {
            glEnable(GL_ALPHA_TEST);
            glAlphaFunc(DecodeCompare(r[D3DRS_ALPHAFUNC]),
                        float(r[D3DRS_ALPHAREF] & 0xff) / 255.0f);
        } else {
            glDisable(GL_ALPHA_TEST);
        }
    }
    if (dirty & kDirtyRaster)
        ApplyRaster();
    if (dirty & kDirtyFog)
        ApplyFog();
    if (dirty & kDirtyColorWrite) {
        DWORD mask = state.render[D3DRS_COLORWRITEENABLE];
        glColorMask(mask & 1, (mask >> 1) & 1, (mask >> 2) & 1, (mask >> 3) & 1);
    }
    if (dirty & kDirtyViewport)
        ApplyViewport();
    if (dirty & kDirtyLighting)
        ApplyLighting(transformed); // places lights under the view: before the transforms
    if (dirty & kDirtyTransforms)
        ApplyTransforms(transformed);
    ApplyStages(transformed);
    dirty = 0;
}

void GlDevice::ApplyDepthStencil() {
    const auto& r = state.render;
    if (r[D3DRS_ZENABLE] != D3DZB_FALSE && params.EnableAutoDepthStencil)
        glEnable(GL_DEPTH_TEST);
    else
        glDisable(GL_DEPTH_TEST);
    glDepthMask(r[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    glDepthFunc(DecodeCompare(r[D3DRS_ZFUNC]));
    // Without a stencil in the device's format the test passes, whatever GL's buffer holds.
    if (r[D3DRS_STENCILENABLE] && HasStencil())
        glEnable(GL_STENCIL_TEST);
    else
        glDisable(GL_STENCIL_TEST);
    glStencilFunc(DecodeCompare(r[D3DRS_STENCILFUNC]), GLint(r[D3DRS_STENCILREF]),
                  r[D3DRS_STENCILMASK]);
    glStencilOp(DecodeStencilOp(r[D3DRS_STENCILFAIL]), DecodeStencilOp(r[D3DRS_STENCILZFAIL]),
                DecodeStencilOp(r[D3DRS_STENCILPASS]));
    glStencilMask(r[D3DRS_STENCILWRITEMASK]);
}

void GlDevice::ApplyBlend() {
    const auto& r = state.render;
    const GlFunctions& gl = Gl();
    if (!r[D3DRS_ALPHABLENDENABLE]) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    auto factors = [](DWORD src, DWORD dst) {
        // The obsolete BOTH* values set both factors from the source one.
        if (src == D3DBLEND_BOTHSRCALPHA)
            return std::pair{GLenum(GL_SRC_ALPHA), GLenum(GL_ONE_MINUS_SRC_ALPHA)};
        if (src == D3DBLEND_BOTHINVSRCALPHA)
            return std::pair{GLenum(GL_ONE_MINUS_SRC_ALPHA), GLenum(GL_SRC_ALPHA)};
        return std::pair{DecodeBlend(src), DecodeBlend(dst)};
    };
    auto colour = factors(r[D3DRS_SRCBLEND], r[D3DRS_DESTBLEND]);
    if (r[D3DRS_SEPARATEALPHABLENDENABLE]) {
        auto alpha = factors(r[D3DRS_SRCBLENDALPHA], r[D3DRS_DESTBLENDALPHA]);
        gl.BlendFuncSeparate(colour.first, colour.second, alpha.first, alpha.second);
        gl.BlendEquationSeparate(DecodeBlendOp(r[D3DRS_BLENDOP]),
                                 DecodeBlendOp(r[D3DRS_BLENDOPALPHA]));
    } else {
        glBlendFunc(colour.first, colour.second);
        gl.BlendEquation(DecodeBlendOp(r[D3DRS_BLENDOP]));
    }
    auto factor = ColorToFloats(r[D3DRS_BLENDFACTOR]);
    gl.BlendColor(factor[0], factor[1], factor[2], factor[3]);
}

void GlDevice::ApplyRaster() {
    const auto& r = state.render;
    CullSetup cull = DecodeCull(r[D3DRS_CULLMODE]);
    if (cull.enable) {
        glEnable(GL_CULL_FACE);
        glCullFace(cull.face);
    } else {
        glDisable(GL_CULL_FACE);
    }
    glPolygonMode(GL_FRONT_AND_BACK, DecodeFill(r[D3DRS_FILLMODE]));
    glShadeModel(r[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? GL_FLAT : GL_SMOOTH);
    if (r[D3DRS_DITHERENABLE])
        glEnable(GL_DITHER);
    else
        glDisable(GL_DITHER);
}

void GlDevice::ApplyFog() {
    const auto& r = state.render;
    DWORD mode =
        r[D3DRS_FOGTABLEMODE] != D3DFOG_NONE ? r[D3DRS_FOGTABLEMODE] : r[D3DRS_FOGVERTEXMODE];
    if (!r[D3DRS_FOGENABLE] || mode == D3DFOG_NONE) {
        if (r[D3DRS_FOGENABLE])
            WarnOnce("fog from vertex specular alpha is not supported; drawing without fog");
        glDisable(GL_FOG);
        return;
    }
    glEnable(GL_FOG);
    glFogi(GL_FOG_MODE, mode == D3DFOG_EXP ? GL_EXP : mode == D3DFOG_EXP2 ? GL_EXP2 : GL_LINEAR);
    glFogf(GL_FOG_START, BitsFloat(r[D3DRS_FOGSTART]));
    glFogf(GL_FOG_END, BitsFloat(r[D3DRS_FOGEND]));
    glFogf(GL_FOG_DENSITY, BitsFloat(r[D3DRS_FOGDENSITY]));
    auto colour = ColorToFloats(r[D3DRS_FOGCOLOR]);
    glFogfv(GL_FOG_COLOR, colour.data());
}

void GlDevice::SendMaterial() {
    const D3DMATERIAL9& m = state.material;
    const float zero[4] = {0, 0, 0, 0};
    bool specular = state.render[D3DRS_SPECULARENABLE];
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, &m.Diffuse.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, &m.Ambient.r);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular ? &m.Specular.r : zero);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, &m.Emissive.r);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::clamp(m.Power, 0.0f, 128.0f));
}

void GlDevice::ApplyLighting(bool transformed) {
    const auto& r = state.render;
    if (!r[D3DRS_LIGHTING] || transformed) {
        glDisable(GL_LIGHTING);
        if (colorMaterial) {
            // Colour tracking would keep rewriting the material from unlit vertex colours.
            glDisable(GL_COLOR_MATERIAL);
            colorMaterial = 0;
        }
        return;
    }
    glEnable(GL_LIGHTING);
    auto ambient = ColorToFloats(r[D3DRS_AMBIENT]);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient.data());
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, r[D3DRS_LOCALVIEWER] ? 1 : 0);
    if (r[D3DRS_NORMALIZENORMALS])
        glEnable(GL_NORMALIZE);
    else
        glDisable(GL_NORMALIZE);

    glDisable(GL_COLOR_MATERIAL);
    colorMaterial = 0;
    SendMaterial();

    // Lights live in world space: place them under the view alone.
    LoadMatrix(GL_MODELVIEW, GlView(state.view));
    DWORD slot = 0;
    for (const auto& [index, entry] : state.lights) {
        if (!entry.second)
            continue;
        if (slot == kGlLights) {
            WarnOnce("more than 8 lights enabled; the extra ones are ignored");
            break;
        }
        const D3DLIGHT9& l = entry.first;
        GLenum light = GL_LIGHT0 + slot++;
        glEnable(light);
        glLightfv(light, GL_DIFFUSE, &l.Diffuse.r);
        glLightfv(light, GL_SPECULAR, &l.Specular.r);
        glLightfv(light, GL_AMBIENT, &l.Ambient.r);
        if (l.Type == D3DLIGHT_DIRECTIONAL) {
            const float towards[4] = {-l.Direction.x, -l.Direction.y, -l.Direction.z, 0};
            glLightfv(light, GL_POSITION, towards);
            glLightf(light, GL_SPOT_CUTOFF, 180.0f);
            glLightf(light, GL_CONSTANT_ATTENUATION, 1.0f);
            glLightf(light, GL_LINEAR_ATTENUATION, 0.0f);
            glLightf(light, GL_QUADRATIC_ATTENUATION, 0.0f);
            continue;
        }
        const float position[4] = {l.Position.x, l.Position.y, l.Position.z, 1};
        glLightfv(light, GL_POSITION, position);
        glLightf(light, GL_CONSTANT_ATTENUATION, l.Attenuation0);
        glLightf(light, GL_LINEAR_ATTENUATION, l.Attenuation1);
        glLightf(light, GL_QUADRATIC_ATTENUATION, l.Attenuation2);
        if (l.Type == D3DLIGHT_SPOT) {
            const float direction[3] = {l.Direction.x, l.Direction.y, l.Direction.z};
            glLightfv(light, GL_SPOT_DIRECTION, direction);
            glLightf(light, GL_SPOT_CUTOFF, std::clamp(l.Phi * 0.5f * 57.29578f, 0.0f, 90.0f));
            glLightf(light, GL_SPOT_EXPONENT, std::clamp(l.Falloff, 0.0f, 128.0f));
        } else {
            glLightf(light, GL_SPOT_CUTOFF, 180.0f);
        }
    }
    for (; slot < kGlLights; ++slot)
        glDisable(GL_LIGHT0 + slot);
    dirty |= kDirtyTransforms;
}

void GlDevice::ApplyTransforms(bool transformed) {
    if (transformed) {
        // Screen-space vertices: pixel centres on integers, z 0..1 as D3D depth.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(-0.5, double(params.BackBufferWidth) - 0.5, double(params.BackBufferHeight) - 0.5,
                -0.5, 0.0, -1.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        return;
    }
    LoadMatrix(GL_PROJECTION, GlProjection(state.projection));
    LoadMatrix(GL_MODELVIEW, GlModelView(state.world, state.view));
}

void GlDevice::ApplyViewport() {
    const D3DVIEWPORT9& v = state.viewport;
    GLint y = GLint(params.BackBufferHeight) - GLint(v.Y + v.Height);
    glViewport(GLint(v.X), y, GLsizei(v.Width), GLsizei(v.Height));
    glDepthRange(v.MinZ, v.MaxZ);
}

void GlDevice::UploadLevels(IDirect3DTexture9::Impl& t, size_t first, size_t end) {
    const GlFunctions& gl = Gl();
    FormatInfo info = DescribeFormat(t.format);
    MakePendingLevels(t, UINT(end - 1));
    std::unique_ptr<uint8_t[]> decoded; // one buffer for every level, never zeroed
    bool dirtyLeft = false;
    for (size_t i = 0; i < t.levels.size(); ++i) {
        TextureLevel& level = t.levels[i];
        if (!level.dirty || i < first || i >= end) {
            dirtyLeft = dirtyLeft || level.dirty;
            continue;
        }
        GLsizei w = GLsizei(level.width), h = GLsizei(level.height);
        const std::vector<BYTE>& bytes = level.Bytes();
        if (info.compressed && gl.s3tc && compressedTextures) {
            gl.CompressedTexImage2D(GL_TEXTURE_2D, GLint(i), info.glInternal, w, h, 0,
                                    GLsizei(bytes.size()), bytes.data());
        } else if (info.compressed) {
            if (!decoded)
                decoded = std::make_unique_for_overwrite<uint8_t[]>(size_t(w) * h * 4);
            DecodeToRgba(t.format, bytes.data(), RowPitch(t.format, level.width), level.width,
                         level.height, decoded.get());
            glTexImage2D(GL_TEXTURE_2D, GLint(i), GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                         decoded.get());
        } else {
            glTexImage2D(GL_TEXTURE_2D, GLint(i), GLint(info.glInternal), w, h, 0, info.glFormat,
                         info.glType, bytes.data());
        }
        level.dirty = false;
    }
    t.anyDirty = dirtyLeft;
}

bool GlDevice::PrepareTexture(IDirect3DTexture9* texture, DWORD sampler) {
    auto& t = texture->impl();
    const GlFunctions& gl = Gl();
    if (!t.glTexture) {
        glGenTextures(1, &t.glTexture);
        glBindTexture(GL_TEXTURE_2D, t.glTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, GLint(t.levels.size()) - 1);
        t.applied = {};
    } else {
        glBindTexture(GL_TEXTURE_2D, t.glTexture);
    }
    const auto& s = state.sampler[sampler];
    GlSamplerParams want;
    want.minFilter = DecodeMinFilter(s[D3DSAMP_MINFILTER], s[D3DSAMP_MIPFILTER]);
    want.magFilter = DecodeMagFilter(s[D3DSAMP_MAGFILTER]);
    want.wrapS = DecodeAddress(s[D3DSAMP_ADDRESSU]);
    want.wrapT = DecodeAddress(s[D3DSAMP_ADDRESSV]);
    want.border = s[D3DSAMP_BORDERCOLOR];
    want.baseLevel = GLint(std::min<DWORD>(s[D3DSAMP_MAXMIPLEVEL], DWORD(t.levels.size() - 1)));
    want.lodBias = BitsFloat(s[D3DSAMP_MIPMAPLODBIAS]);
    bool anisotropic =
        s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || s[D3DSAMP_MAGFILTER] == D3DTEXF_ANISOTROPIC;
    want.anisotropy = anisotropic ? float(std::max<DWORD>(1, s[D3DSAMP_MAXANISOTROPY])) : 1.0f;
    if (!gl.mirrorClamp) {
        // Mirrored once, then clamped: mirrored repeat is the nearest GL has.
        for (GLint* wrap : {&want.wrapS, &want.wrapT})
            if (*wrap == GL_MIRROR_CLAMP_TO_EDGE)
                *wrap = GL_MIRRORED_REPEAT;
    }
    if (!gl.anisotropy)
        want.anisotropy = 1.0f;
    // Levels a filter never reads are not uploaded until one does.
    bool mipmapped = want.minFilter != GL_NEAREST && want.minFilter != GL_LINEAR;
    try {
        if (t.anyDirty)
            UploadLevels(t, size_t(want.baseLevel),
                         mipmapped ? t.levels.size() : want.baseLevel + 1);
    } catch (const std::bad_alloc&) {
        WarnOnce("out of memory for a texture's levels: drawn without them");
    }
    GlSamplerParams& have = t.applied;
    if (!have.valid || have.minFilter != want.minFilter)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, want.minFilter);
    if (!have.valid || have.magFilter != want.magFilter)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, want.magFilter);
    if (!have.valid || have.wrapS != want.wrapS)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, want.wrapS);
    if (!have.valid || have.wrapT != want.wrapT)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, want.wrapT);
    if (!have.valid || have.border != want.border) {
        auto border = ColorToFloats(want.border);
        glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border.data());
    }
    if (!have.valid || have.baseLevel != want.baseLevel)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, want.baseLevel);
    if (!have.valid || have.lodBias != want.lodBias)
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, want.lodBias);
    if (gl.anisotropy && (!have.valid || have.anisotropy != want.anisotropy))
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, want.anisotropy);
    want.valid = true;
    have = want;
    return true;
}

void GlDevice::ApplyStages(bool transformed) {
    const GlFunctions& gl = Gl();
    if (dirty & kDirtyStages)
        unitConfigured.fill(false);
    bool disabledBelow = false;
    const DWORD units = std::min<DWORD>(kStages, gl.units);
    for (DWORD s = 0; s < kStages; ++s) {
        if (s >= units) {
            if (state.stage[s][D3DTSS_COLOROP] != D3DTOP_DISABLE && !disabledBelow)
                WarnOnce("the GL driver has " + std::to_string(units) +
                         " texture units; higher stages are skipped");
            break;
        }
        const auto& st = state.stage[s];
        gl.ActiveTexture(GL_TEXTURE0 + s);
        IDirect3DBaseTexture9* base = state.textures[s];
        bool active = !disabledBelow && st[D3DTSS_COLOROP] != D3DTOP_DISABLE;
        if (!active) {
            disabledBelow = true;
            if (unitEnabled[s]) {
                glDisable(GL_TEXTURE_2D);
                unitEnabled[s] = false;
            }
            continue;
        }
        bool readsTexture = UsesTexture(st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1],
                                        st[D3DTSS_COLORARG2], st[D3DTSS_COLORARG0]) ||
                            UsesTexture(st[D3DTSS_ALPHAOP], st[D3DTSS_ALPHAARG1],
                                        st[D3DTSS_ALPHAARG2], st[D3DTSS_ALPHAARG0]);
        bool textured = base && base->GetType() == D3DRTYPE_TEXTURE;
        // A stage that reads a missing texture draws untextured: it passes its input on.
        bool run = textured || !readsTexture;
        if (run != unitEnabled[s]) {
            if (run)
                glEnable(GL_TEXTURE_2D);
            else
                glDisable(GL_TEXTURE_2D);
            unitEnabled[s] = run;
        }
        if (!run)
            continue;
        if (textured)
            PrepareTexture(static_cast<IDirect3DTexture9*>(base), s);
        else
            glBindTexture(GL_TEXTURE_2D, whiteTexture);
        if (!unitConfigured[s]) {
            ApplyStage(s, transformed);
            unitConfigured[s] = true;
        }
    }
}

void GlDevice::ApplyStage(DWORD s, bool transformed) {
    const auto& st = state.stage[s];
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    CombineSetup colour = DecodeStageOp(st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1],
                                        st[D3DTSS_COLORARG2], st[D3DTSS_COLORARG0], false);
    DWORD alphaOp = st[D3DTSS_ALPHAOP];
    CombineSetup alpha = alphaOp == D3DTOP_DISABLE
                             ? DecodeStageOp(D3DTOP_SELECTARG1, D3DTA_CURRENT, 0, 0, true)
                             : DecodeStageOp(alphaOp, st[D3DTSS_ALPHAARG1], st[D3DTSS_ALPHAARG2],
                                             st[D3DTSS_ALPHAARG0], true);
    if (s == 0 && whitePrimary) {
        DropWhitePrimary(colour);
        DropWhitePrimary(alpha);
    }
    if (!colour.exact || !alpha.exact)
        WarnOnce("texture stage operation " + std::to_string(st[D3DTSS_COLOROP]) + "/" +
                 std::to_string(alphaOp) + " is approximated");
    static const GLenum kRgbSource[3] = {GL_SOURCE0_RGB, GL_SOURCE1_RGB, GL_SOURCE2_RGB};
    static const GLenum kRgbOperand[3] = {GL_OPERAND0_RGB, GL_OPERAND1_RGB, GL_OPERAND2_RGB};
    static const GLenum kAlphaSource[3] = {GL_SOURCE0_ALPHA, GL_SOURCE1_ALPHA, GL_SOURCE2_ALPHA};
    static const GLenum kAlphaOperand[3] = {GL_OPERAND0_ALPHA, GL_OPERAND1_ALPHA,
                                            GL_OPERAND2_ALPHA};
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GLint(colour.mode));
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GLint(alpha.mode));
    for (int i = 0; i < 3; ++i) {
        glTexEnvi(GL_TEXTURE_ENV, kRgbSource[i], GLint(colour.source[i]));
        glTexEnvi(GL_TEXTURE_ENV, kRgbOperand[i], GLint(colour.operand[i]));
        glTexEnvi(GL_TEXTURE_ENV, kAlphaSource[i], GLint(alpha.source[i]));
        glTexEnvi(GL_TEXTURE_ENV, kAlphaOperand[i], GLint(alpha.operand[i]));
    }
    glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, colour.scale);
    glTexEnvf(GL_TEXTURE_ENV, GL_ALPHA_SCALE, alpha.scale);
    auto usesConstant = [&](DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_CONSTANT; };
    bool perStage = usesConstant(st[D3DTSS_COLORARG1]) || usesConstant(st[D3DTSS_COLORARG2]) ||
                    usesConstant(st[D3DTSS_ALPHAARG1]) || usesConstant(st[D3DTSS_ALPHAARG2]);
    auto factor = ColorToFloats(perStage ? st[D3DTSS_CONSTANT] : state.render[D3DRS_TEXTUREFACTOR]);
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, factor.data());

    // Coordinate generation and the texture transform.
    DWORD generation = st[D3DTSS_TEXCOORDINDEX] & 0xffff0000;
    UINT inputSize = 2;
    bool mirror = false;
    auto texgen = [](GLenum mode, bool s, bool t, bool r, bool q) {
        if (mode) {
            glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GLint(mode));
            glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GLint(mode));
            if (r)
                glTexGeni(GL_R, GL_TEXTURE_GEN_MODE, GLint(mode));
            if (q)
                glTexGeni(GL_Q, GL_TEXTURE_GEN_MODE, GLint(mode));
        }
        s ? glEnable(GL_TEXTURE_GEN_S) : glDisable(GL_TEXTURE_GEN_S);
        t ? glEnable(GL_TEXTURE_GEN_T) : glDisable(GL_TEXTURE_GEN_T);
        r ? glEnable(GL_TEXTURE_GEN_R) : glDisable(GL_TEXTURE_GEN_R);
        q ? glEnable(GL_TEXTURE_GEN_Q) : glDisable(GL_TEXTURE_GEN_Q);
    };
    switch (transformed ? D3DTSS_TCI_PASSTHRU : generation) {
    case D3DTSS_TCI_SPHEREMAP:
        texgen(GL_SPHERE_MAP, true, true, false, false);
        break;
    case D3DTSS_TCI_CAMERASPACENORMAL:
        texgen(GL_NORMAL_MAP, true, true, true, false);
        inputSize = 3;
        mirror = true;
        break;
    case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR:
        texgen(GL_REFLECTION_MAP, true, true, true, false);
        inputSize = 3;
        mirror = true;
        break;
    case D3DTSS_TCI_CAMERASPACEPOSITION: {
        // Eye planes are transformed by the modelview current when they are set.
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        const float planes[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
        glTexGenfv(GL_S, GL_EYE_PLANE, planes[0]);
        glTexGenfv(GL_T, GL_EYE_PLANE, planes[1]);
        glTexGenfv(GL_R, GL_EYE_PLANE, planes[2]);
        glTexGenfv(GL_Q, GL_EYE_PLANE, planes[3]);
        glPopMatrix();
        texgen(GL_EYE_LINEAR, true, true, true, true);
        inputSize = 3;
        mirror = true;
        break;
    }
    default: {
        texgen(0, false, false, false, false);
        VertexLayout layout = DecodeFvf(state.fvf);
        DWORD set = st[D3DTSS_TEXCOORDINDEX] & 0xffff;
        inputSize = set < layout.texCount ? layout.texSize[set] : 2;
        break;
    }
    }
    Matrix m = state.texture[s];
    if (mirror) // generated camera-space vectors come in GL's mirrored eye space
        m = Multiply({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}, m);
    LoadMatrix(GL_TEXTURE, GlTextureMatrix(m, st[D3DTSS_TEXTURETRANSFORMFLAGS], inputSize));
    glMatrixMode(GL_MODELVIEW);
}

void GlDevice::SetColorMaterial(GLenum mode) {
    if (mode == colorMaterial)
        return;
    if (mode) {
        glColorMaterial(GL_FRONT_AND_BACK, mode);
        glEnable(GL_COLOR_MATERIAL);
    } else {
        glDisable(GL_COLOR_MATERIAL);
        SendMaterial(); // tracking overwrote the material
    }
    colorMaterial = mode;
}

void GlDevice::SetArrays(const VertexLayout& layout, const BYTE* base) {
    const GlFunctions& gl = Gl();
    const auto& r = state.render;
    bool lighting = r[D3DRS_LIGHTING] && !layout.transformed;
    GLsizei stride = GLsizei(state.streamStride ? state.streamStride : layout.stride);

    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(layout.transformed ? 3 : GLint(layout.positionSize), GL_FLOAT, stride, base);

    if (layout.normal >= 0) {
        glEnableClientState(GL_NORMAL_ARRAY);
        glNormalPointer(GL_FLOAT, stride, base + layout.normal);
    } else {
        glDisableClientState(GL_NORMAL_ARRAY);
        glNormal3f(0, 0, 0); // no normal: lighting adds no diffuse or specular term
    }

    GLenum tracking = 0;
    if (layout.diffuse >= 0) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, stride, base + layout.diffuse);
        if (lighting && r[D3DRS_COLORVERTEX]) {
            bool diffuse = r[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
            bool ambient = r[D3DRS_AMBIENTMATERIALSOURCE] == D3DMCS_COLOR1;
            tracking = diffuse && ambient ? GL_AMBIENT_AND_DIFFUSE
                       : diffuse          ? GL_DIFFUSE
                       : ambient          ? GL_AMBIENT
                                          : 0;
        }
    } else {
        glDisableClientState(GL_COLOR_ARRAY);
        glColor4f(1, 1, 1, 1); // unlit vertices without a colour are opaque white
    }
    if (lighting)
        SetColorMaterial(tracking);

    bool sum = layout.specular >= 0 && r[D3DRS_SPECULARENABLE] && !lighting;
    if (sum) {
        glEnable(GL_COLOR_SUM);
        glEnableClientState(GL_SECONDARY_COLOR_ARRAY);
        gl.SecondaryColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, stride, base + layout.specular);
    } else {
        glDisable(GL_COLOR_SUM);
        glDisableClientState(GL_SECONDARY_COLOR_ARRAY);
    }

    for (DWORD s = 0; s < std::min<DWORD>(kStages, gl.units); ++s) {
        gl.ClientActiveTexture(GL_TEXTURE0 + s);
        DWORD index = state.stage[s][D3DTSS_TEXCOORDINDEX];
        DWORD set = index & 0xffff;
        bool fromVertex = unitEnabled[s] && ((index & 0xffff0000) == 0 || layout.transformed);
        if (fromVertex && set < layout.texCount) {
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(GLint(layout.texSize[set]), GL_FLOAT, stride,
                              base + layout.texOffset[set]);
        } else {
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
            gl.MultiTexCoord4f(GL_TEXTURE0 + s, 0, 0, 0, 1);
        }
    }
}

} // namespace fw::d3d9
