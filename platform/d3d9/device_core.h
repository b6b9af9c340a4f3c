// The device's state in D3D9 terms and its GL side (platform/d3d9 only). IDirect3DDevice9
// validates and records calls; DeviceCore keeps the state and applies what changed when
// something is drawn.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3d9/testing.h"
#include "platform/d3d9/translate.h"

#include <GL/gl.h>

struct SDL_Window;
struct BufferData;

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fw::d3d9 {

constexpr DWORD kStages = 8;    // texture stages the fixed-function pipeline uses
constexpr DWORD kSamplers = 16; // samplers D3D9 accepts state for
constexpr DWORD kRenderStates = 256;
constexpr DWORD kStageStates = 33;
constexpr DWORD kSamplerStates = 14;
constexpr DWORD kGlLights = 8;

struct DeviceState {
    std::array<DWORD, kRenderStates> render{};
    std::array<std::array<DWORD, kStageStates>, kStages> stage{};
    std::array<std::array<DWORD, kSamplerStates>, kSamplers> sampler{};
    Matrix world = Identity();
    Matrix view = Identity();
    Matrix projection = Identity();
    std::array<Matrix, kStages> texture{};
    D3DVIEWPORT9 viewport{};
    D3DMATERIAL9 material{};
    std::map<DWORD, std::pair<D3DLIGHT9, bool>> lights; // light, enabled
    // Bindings are borrowed: a resource unbinds itself when it is destroyed.
    std::array<IDirect3DBaseTexture9*, kStages> textures{};
    DWORD fvf = 0;
    IDirect3DVertexBuffer9* stream = nullptr;
    UINT streamOffset = 0;
    UINT streamStride = 0;
    IDirect3DIndexBuffer9* indices = nullptr;
};

// Groups of state applied together.
enum DirtyBit : uint32_t {
    kDirtyDepth = 1u << 0,
    kDirtyBlend = 1u << 1,
    kDirtyAlphaTest = 1u << 2,
    kDirtyRaster = 1u << 3, // cull, fill, shade, dither
    kDirtyFog = 1u << 4,
    kDirtyLighting = 1u << 5, // lighting switches, ambient, material, lights
    kDirtyTransforms = 1u << 6,
    kDirtyViewport = 1u << 7,
    kDirtyStencil = 1u << 8,
    kDirtyColorWrite = 1u << 9,
    kDirtyStages = 1u << 10, // combiners, coordinate sources, texture matrices
    kDirtyAll = 0xffffffffu
};

enum class LossState { Operational, Lost, NotReset };

class DeviceCore {
public:
    DeviceCore(IDirect3D9* d3d, HWND window, SDL_Window* sdlWindow, void* glContext,
               const D3DPRESENT_PARAMETERS& params);
    ~DeviceCore();

    // Makes this device's context current (inside a LibraryScope of the caller).
    void MakeCurrent();
    // Forgets what it knew of GL's state: everything is set again at the next draw.
    void ForgetGlState();
    void ResetState();

    // Draws: apply changed state, set the vertex arrays, draw.
    HRESULT Draw(D3DPRIMITIVETYPE type, INT baseVertex, UINT firstIndex, UINT primitiveCount,
                 bool indexed, UINT minIndex, UINT numVertices);
    HRESULT DrawUser(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride,
                     const void* indices, D3DFORMAT indexFormat, UINT numVertices);
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil);
    HRESULT Present();
    // (Re)creates the back buffer for params: the window's own framebuffer where that shows
    // the same picture, otherwise an offscreen one that keeps its size whatever the window
    // does and that Present stretches to the window, as D3D does.
    void CreateBackBuffer();
    bool ReadBackBuffer(std::vector<uint8_t>& rgba); // rows top first
    bool HasStencil() const;                         // the device's depth format has a stencil

    // Resources tell the device when they go.
    void Forget(IDirect3DResource9* resource);
    void DeleteGlBuffer(GLuint name);
    void DeleteGlTexture(GLuint name);
    int NextTraceId() { return ++lastTraceId; }

    void Trace(const char* name, std::string args);

    IDirect3D9* d3d; // owns one reference
    HWND window;
    SDL_Window* sdlWindow;
    void* glContext; // retained from the window
    D3DPRESENT_PARAMETERS params{};
    DeviceState state;
    uint32_t dirty = kDirtyAll;
    bool inScene = false;
    int defaultPoolResources = 0;

    LossState loss = LossState::Operational;
    bool losePending = false;
    int lostPolls = 0;
    unsigned presentCount = 0;

    // How this device drives GL, chosen for the driver at creation (the environment variables
    // FERROWALK_GL_COMPRESSED_TEXTURES and FERROWALK_GL_WINDOW_BACK_BUFFER, 0 or 1, force it).
    bool compressedTextures = true; // DXT blocks stay compressed in GL; else stored decoded
    bool windowBackBuffer = true;   // the window's framebuffer may serve as the back buffer
    bool copyToWindow = true;       // Present copies an offscreen back buffer to the window

    GLuint recordedFrame = 0; // a display list of one frame's GL work (benchmarks' floor)

    bool tracing = false;
    std::vector<fw::d3d9test::TracedCall> trace;

private:
    void ApplyState(const VertexLayout& layout);
    void ApplyDepthStencil();
    void ApplyBlend();
    void ApplyRaster();
    void ApplyFog();
    void ApplyLighting(bool transformed);
    void ApplyTransforms(bool transformed);
    void ApplyViewport();
    void ApplyStages(bool transformed);
    void ApplyStage(DWORD stage, bool transformed);
    void BindTextures();
    bool PrepareTexture(IDirect3DTexture9* texture, DWORD sampler);
    void UploadLevels(IDirect3DTexture9::Impl& t, size_t first, size_t end);
    void SetArrays(const VertexLayout& layout, const BYTE* base);
    void SetColorMaterial(GLenum mode);
    void SendMaterial();
    HRESULT ValidateIndexedDraw(INT baseVertex, UINT firstIndex, UINT indexCount,
                                UINT availableVertices);

    void ChooseDriverUse();
    void DestroyBackBuffer();
    bool DrawsIntoWindow();

    GLuint framebuffer = 0; // 0: drawing straight into the window
    GLuint colorBuffer = 0;
    GLuint depthBuffer = 0;
    bool offscreenFailed = false; // the driver refused an offscreen back buffer
    GLint windowAlphaBits = 0;
    GLint windowDepthBits = 0;
    GLint windowStencilBits = 0;
    GLenum colorMaterial = 0; // 0: off
    std::array<bool, kStages> unitEnabled{};
    std::array<bool, kStages> unitConfigured{};
    GLuint whiteTexture = 0;

    int lastTraceId = 0;
    bool lastTransformed = false;
    bool whitePrimary = false; // the last draw's primary colour was opaque white
};

// Fills what D3D derives: zero sizes take the window's client size, an unknown format
// X8R8G8B8, a zero back-buffer count one.
void ResolvePresentParameters(HWND window, D3DPRESENT_PARAMETERS& pp);

// Bits of depth in a depth-stencil format.
GLint DepthBits(D3DFORMAT format);

// One line on the debug stream the first time a given message is seen.
void WarnOnce(const std::string& message);

} // namespace fw::d3d9
