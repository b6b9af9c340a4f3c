// Formatting of call arguments for the device's call trace (see platform/d3d9/testing.h).
#pragma once

#include "platform/d3d9.h"

#include <string>
#include <type_traits>

namespace fw::d3d9 {

struct Trace {
    static std::string Format(const IDirect3DResource9* resource);
    static std::string Format(const D3DMATRIX* matrix);
    static std::string Format(const D3DMATERIAL9* material);
    static std::string Format(const D3DLIGHT9* light);
    static std::string Format(const D3DVIEWPORT9* viewport);
    static std::string Format(const RECT* rect);
    static std::string Format(const D3DRECT* rect);
    static std::string Format(float value);
    static std::string Format(const void* pointer); // any other pointer: null or "ptr"
    template <typename T>
    requires std::is_integral_v<T>
    static std::string Format(T value) {
        if constexpr (std::is_signed_v<T>)
            return std::to_string(static_cast<long long>(value));
        else
            return std::to_string(static_cast<unsigned long long>(value));
    }
    template <typename T>
    requires std::is_enum_v<T>
    static std::string Format(T value) {
        return Format(static_cast<std::underlying_type_t<T>>(value));
    }

    template <typename... T> static std::string Args(const T&... values) {
        std::string out;
        ((out += (out.empty() ? "" : ", ") + Format(values)), ...);
        return out;
    }
};

// The number of a resource in its device's trace (0 for null and for surfaces).
int TraceIdOf(const IDirect3DResource9* resource);

} // namespace fw::d3d9
