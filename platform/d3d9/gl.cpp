#include "platform/d3d9/gl.h"

#include "platform/win32/host.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

namespace fw::d3d9 {

namespace {

template <typename T> void Resolve(T& slot, const char* name) {
    slot = reinterpret_cast<T>(SDL_GL_GetProcAddress(name));
}

GlFunctions Load() {
    LibraryScope scope;
    GlFunctions f;
    Resolve(f.ActiveTexture, "glActiveTexture");
    Resolve(f.ClientActiveTexture, "glClientActiveTexture");
    Resolve(f.MultiTexCoord4f, "glMultiTexCoord4f");
    Resolve(f.CompressedTexImage2D, "glCompressedTexImage2D");
    Resolve(f.GenBuffers, "glGenBuffers");
    Resolve(f.DeleteBuffers, "glDeleteBuffers");
    Resolve(f.BindBuffer, "glBindBuffer");
    Resolve(f.BufferData, "glBufferData");
    Resolve(f.BufferSubData, "glBufferSubData");
    Resolve(f.BlendEquation, "glBlendEquation");
    Resolve(f.BlendEquationSeparate, "glBlendEquationSeparate");
    Resolve(f.BlendFuncSeparate, "glBlendFuncSeparate");
    Resolve(f.BlendColor, "glBlendColor");
    Resolve(f.SecondaryColorPointer, "glSecondaryColorPointer");
    Resolve(f.GenFramebuffers, "glGenFramebuffers");
    Resolve(f.DeleteFramebuffers, "glDeleteFramebuffers");
    Resolve(f.BindFramebuffer, "glBindFramebuffer");
    Resolve(f.FramebufferRenderbuffer, "glFramebufferRenderbuffer");
    Resolve(f.CheckFramebufferStatus, "glCheckFramebufferStatus");
    Resolve(f.GenRenderbuffers, "glGenRenderbuffers");
    Resolve(f.DeleteRenderbuffers, "glDeleteRenderbuffers");
    Resolve(f.BindRenderbuffer, "glBindRenderbuffer");
    Resolve(f.RenderbufferStorage, "glRenderbufferStorage");
    Resolve(f.BlitFramebuffer, "glBlitFramebuffer");
    f.framebuffers = SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object") == SDL_TRUE &&
                     f.GenFramebuffers && f.DeleteFramebuffers && f.BindFramebuffer &&
                     f.FramebufferRenderbuffer && f.CheckFramebufferStatus && f.GenRenderbuffers &&
                     f.DeleteRenderbuffers && f.BindRenderbuffer && f.RenderbufferStorage &&
                     f.BlitFramebuffer;
    f.s3tc = f.CompressedTexImage2D &&
             SDL_GL_ExtensionSupported("GL_EXT_texture_compression_s3tc") == SDL_TRUE;
    f.anisotropy = SDL_GL_ExtensionSupported("GL_EXT_texture_filter_anisotropic") == SDL_TRUE;
    f.mirrorClamp = SDL_GL_ExtensionSupported("GL_ARB_texture_mirror_clamp_to_edge") == SDL_TRUE ||
                    SDL_GL_ExtensionSupported("GL_EXT_texture_mirror_clamp") == SDL_TRUE;
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
    f.units = unsigned(units > 0 ? units : 1);
    f.complete = f.ActiveTexture && f.ClientActiveTexture && f.MultiTexCoord4f && f.GenBuffers &&
                 f.DeleteBuffers && f.BindBuffer && f.BufferData && f.BufferSubData &&
                 f.BlendEquation && f.BlendFuncSeparate && f.BlendColor &&
                 f.BlendEquationSeparate && f.SecondaryColorPointer;
    return f;
}

} // namespace

const GlFunctions& Gl() {
    static const GlFunctions functions = Load();
    return functions;
}

bool SoftwareRasteriser() {
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (!renderer)
        return false;
    for (const char* name : {"llvmpipe", "softpipe", "swrast"})
        if (std::strstr(renderer, name))
            return true;
    return false;
}

std::optional<bool> EnvironmentSwitch(const char* name) {
    const char* value = std::getenv(name);
    if (value && std::strcmp(value, "1") == 0)
        return true;
    if (value && std::strcmp(value, "0") == 0)
        return false;
    return std::nullopt;
}

} // namespace fw::d3d9
