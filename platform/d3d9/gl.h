// The OpenGL entry points beyond GL 1.1 that the device uses, resolved through SDL once a
// context is current. Only platform/d3d9 includes this.
#pragma once

#include <GL/gl.h>
#include <GL/glext.h>

#include <optional>

namespace fw::d3d9 {

struct GlFunctions {
    PFNGLACTIVETEXTUREPROC ActiveTexture = nullptr;
    PFNGLCLIENTACTIVETEXTUREARBPROC ClientActiveTexture = nullptr;
    PFNGLMULTITEXCOORD4FARBPROC MultiTexCoord4f = nullptr;
    PFNGLCOMPRESSEDTEXIMAGE2DPROC CompressedTexImage2D = nullptr;
    PFNGLGENBUFFERSPROC GenBuffers = nullptr;
    PFNGLDELETEBUFFERSPROC DeleteBuffers = nullptr;
    PFNGLBINDBUFFERPROC BindBuffer = nullptr;
    PFNGLBUFFERDATAPROC BufferData = nullptr;
    PFNGLBUFFERSUBDATAPROC BufferSubData = nullptr;
    PFNGLBLENDEQUATIONPROC BlendEquation = nullptr;
    PFNGLBLENDEQUATIONSEPARATEPROC BlendEquationSeparate = nullptr;
    PFNGLBLENDFUNCSEPARATEPROC BlendFuncSeparate = nullptr;
    PFNGLBLENDCOLORPROC BlendColor = nullptr;
    PFNGLSECONDARYCOLORPOINTERPROC SecondaryColorPointer = nullptr;
    // Framebuffer objects (ARB_framebuffer_object): the back buffer, when available.
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
    PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
    PFNGLBLITFRAMEBUFFERPROC BlitFramebuffer = nullptr;
    bool framebuffers = false;
    bool s3tc = false;        // compressed DXT uploads
    bool anisotropy = false;  // EXT_texture_filter_anisotropic
    bool mirrorClamp = false; // D3DTADDRESS_MIRRORONCE
    unsigned units = 0;       // fixed-function texture units (some drivers have 4)
    bool complete = false;
};

// Resolves the entry points (first call with a current context); later calls return the same.
const GlFunctions& Gl();

// Whether the current context rasterises on the processor (llvmpipe, softpipe, swrast).
bool SoftwareRasteriser();
// An environment switch: true for "1", false for "0", none when unset or anything else.
std::optional<bool> EnvironmentSwitch(const char* name);

} // namespace fw::d3d9
