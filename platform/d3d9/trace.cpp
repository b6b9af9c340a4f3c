#include "platform/d3d9/trace.h"

#include "platform/d3d9/resources.h"

#include <cstdio>

namespace fw::d3d9 {

namespace {

std::string Floats(const float* values, int count) {
    std::string out = "{";
    for (int i = 0; i < count; ++i) {
        if (i)
            out += " ";
        out += Trace::Format(values[i]);
    }
    return out + "}";
}

} // namespace

int TraceIdOf(const IDirect3DResource9* resource) {
    auto* r = const_cast<IDirect3DResource9*>(resource);
    if (!r)
        return 0;
    switch (r->GetType()) {
    case D3DRTYPE_TEXTURE:
        return static_cast<IDirect3DTexture9*>(r)->impl().traceId;
    case D3DRTYPE_VERTEXBUFFER:
        return static_cast<IDirect3DVertexBuffer9*>(r)->impl().buffer.traceId;
    case D3DRTYPE_INDEXBUFFER:
        return static_cast<IDirect3DIndexBuffer9*>(r)->impl().buffer.traceId;
    default:
        return 0;
    }
}

std::string Trace::Format(const IDirect3DResource9* resource) {
    return resource ? "res#" + std::to_string(TraceIdOf(resource)) : "null";
}

std::string Trace::Format(const D3DMATRIX* m) {
    return m ? Floats(&m->_11, 16) : "null";
}

std::string Trace::Format(const D3DMATERIAL9* m) {
    return m ? Floats(&m->Diffuse.r, 17) : "null";
}

std::string Trace::Format(const D3DLIGHT9* l) {
    if (!l)
        return "null";
    return "{" + std::to_string(l->Type) + " " + Floats(&l->Diffuse.r, 25).substr(1);
}

std::string Trace::Format(const D3DVIEWPORT9* v) {
    if (!v)
        return "null";
    return "{" + Args(v->X, v->Y, v->Width, v->Height, v->MinZ, v->MaxZ) + "}";
}

std::string Trace::Format(const RECT* r) {
    return r ? "{" + Args(r->left, r->top, r->right, r->bottom) + "}" : "null";
}

std::string Trace::Format(const D3DRECT* r) {
    return r ? "{" + Args(r->x1, r->y1, r->x2, r->y2) + "}" : "null";
}

std::string Trace::Format(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(value));
    return text;
}

std::string Trace::Format(const void* pointer) {
    return pointer ? "ptr" : "null";
}

} // namespace fw::d3d9
