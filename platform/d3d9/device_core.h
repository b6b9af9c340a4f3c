// The device's state in D3D9 terms and its GL side (platform/d3d9 only). IDirect3DDevice9
// validates and records calls; DeviceCore keeps the state and checks draws; GlDevice applies
// what changed to GL when something is drawn (device_core.cpp holds no GL or SDL call, so
// that a program with only NULLREF devices links neither).
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
#include <memory>
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

// A device's state and the checks of its calls. By itself it is the D3DDEVTYPE_NULLREF
// device: resources, locks, state and meshes work on the processor; draws, Clear and
// Present are checked as on any device, then succeed without drawing (there is nothing to
// show), and the back buffer cannot be read. GlDevice draws with OpenGL.
class DeviceCore {
public:
    DeviceCore(IDirect3D9* d3d, HWND window, const D3DPRESENT_PARAMETERS& params);
    virtual ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    void ResetState();

    // Draws: check the call and the bound resources, then hand it to the Render* hooks.
    HRESULT Draw(D3DPRIMITIVETYPE type, INT baseVertex, UINT firstIndex, UINT primitiveCount,
                 bool indexed, UINT minIndex, UINT numVertices);
    HRESULT DrawUser(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride,
                     const void* indices, D3DFORMAT indexFormat, UINT numVertices);
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil);
    HRESULT Present();
    bool HasStencil() const; // the device's depth format has a stencil

    // Fills what D3D derives from the window for new presentation parameters.
    virtual void ResolveParams(D3DPRESENT_PARAMETERS& pp);
    // Takes params (already stored) after a Reset; resized: the back buffer changed.
    virtual void ApplyParams(bool resized) { (void)resized; }
    virtual bool ReadBackBuffer(std::vector<uint8_t>& rgba); // rows top first

    // Resources tell the device when they go.
    void Forget(IDirect3DResource9* resource);
    virtual void DeleteGlBuffer(GLuint name) { (void)name; }
    virtual void DeleteGlTexture(GLuint name) { (void)name; }
    int NextTraceId() { return ++lastTraceId; }

    void Trace(const char* name, std::string args);

    IDirect3D9* d3d; // owns one reference
    HWND window;     // may be null on a NULLREF device
    D3DPRESENT_PARAMETERS params{};
    DeviceState state;
    uint32_t dirty = kDirtyAll;
    bool inScene = false;
    int defaultPoolResources = 0;

    LossState loss = LossState::Operational;
    bool losePending = false;
    int lostPolls = 0;
    unsigned presentCount = 0;

    bool tracing = false;
    std::vector<fw::d3d9test::TracedCall> trace;

protected:
    // What a device that draws does with a checked call; nothing here.
    virtual HRESULT RenderDraw(GLenum mode, const VertexLayout& layout, int64_t offset,
                               uint64_t elements, bool indexed, UINT firstIndex) {
        (void)mode, (void)layout, (void)offset, (void)elements, (void)indexed, (void)firstIndex;
        return D3D_OK;
    }
    virtual void RenderUser(GLenum mode, const VertexLayout& layout, uint64_t elements,
                            const void* vertices, UINT stride, const void* indices,
                            D3DFORMAT indexFormat) {
        (void)mode, (void)layout, (void)elements, (void)vertices, (void)stride, (void)indices,
            (void)indexFormat;
    }
    virtual void RenderClear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color,
                             float z, DWORD stencil) {
        (void)count, (void)rects, (void)flags, (void)color, (void)z, (void)stencil;
    }
    virtual void RenderPresent() {}

private:
    HRESULT ValidateIndexedDraw(INT baseVertex, UINT firstIndex, UINT indexCount,
                                UINT availableVertices);

    int lastTraceId = 0;
};

// The device on a window's OpenGL context (D3DDEVTYPE_HAL, REF and SW alike).
class GlDevice final : public DeviceCore {
public:
    GlDevice(IDirect3D9* d3d, HWND window, SDL_Window* sdlWindow, void* glContext,
             const D3DPRESENT_PARAMETERS& params);
    ~GlDevice() override;

    // Makes this device's context current (inside a LibraryScope of the caller).
    void MakeCurrent();
    // Forgets what it knew of GL's state: everything is set again at the next draw.
    void ForgetGlState();
    // (Re)creates the back buffer for params: the window's own framebuffer where that shows
    // the same picture, otherwise an offscreen one that keeps its size whatever the window
    // does and that Present stretches to the window, as D3D does.
    void CreateBackBuffer();

    void ResolveParams(D3DPRESENT_PARAMETERS& pp) override;
    void ApplyParams(bool resized) override;
    bool ReadBackBuffer(std::vector<uint8_t>& rgba) override;
    void DeleteGlBuffer(GLuint name) override;
    void DeleteGlTexture(GLuint name) override;

    SDL_Window* sdlWindow;
    void* glContext; // retained from the window

    // How this device drives GL, chosen for the driver at creation (the environment variables
    // FERROWALK_GL_COMPRESSED_TEXTURES and FERROWALK_GL_WINDOW_BACK_BUFFER, 0 or 1, force it).
    bool compressedTextures = true; // DXT blocks stay compressed in GL; else stored decoded
    bool windowBackBuffer = true;   // the window's framebuffer may serve as the back buffer
    bool copyToWindow = true;       // Present copies an offscreen back buffer to the window

    GLuint recordedFrame = 0; // a display list of one frame's GL work (benchmarks' floor)

protected:
    HRESULT RenderDraw(GLenum mode, const VertexLayout& layout, int64_t offset, uint64_t elements,
                       bool indexed, UINT firstIndex) override;
    void RenderUser(GLenum mode, const VertexLayout& layout, uint64_t elements,
                    const void* vertices, UINT stride, const void* indices,
                    D3DFORMAT indexFormat) override;
    void RenderClear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                     DWORD stencil) override;
    void RenderPresent() override;

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

    bool lastTransformed = false;
    bool whitePrimary = false; // the last draw's primary colour was opaque white
};

// Makes the device that draws with OpenGL on window's context, filling what D3D derives in
// params. Defined with GlDevice; programs that only read files link platform_d3d9_nogl
// instead, whose version says there is none, so that they load neither SDL nor OpenGL.
HRESULT CreateGlDevice(IDirect3D9* d3d, HWND window, D3DPRESENT_PARAMETERS& params,
                       std::unique_ptr<DeviceCore>& device);

// Fills what D3D derives: zero sizes take the client size given (at least 1), an unknown
// format X8R8G8B8, a zero back-buffer count one.
void ResolvePresentParameters(UINT clientWidth, UINT clientHeight, D3DPRESENT_PARAMETERS& pp);

// Bits of depth in a depth-stencil format.
GLint DepthBits(D3DFORMAT format);

// One line on the debug stream the first time a given message is seen.
void WarnOnce(const std::string& message);

} // namespace fw::d3d9
