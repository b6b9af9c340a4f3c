// ID3DXBuffer: a reference-counted block of bytes.
#include "platform/d3dx9mesh.h"

#include <cstring>
#include <new>

ID3DXBuffer::ID3DXBuffer(DWORD size) : size(size), data(new (std::nothrow) BYTE[size ? size : 1]) {
    if (data)
        std::memset(data, 0, size);
}

ID3DXBuffer::~ID3DXBuffer() {
    delete[] data;
}

ULONG ID3DXBuffer::AddRef() {
    return ++refCount;
}

ULONG ID3DXBuffer::Release() {
    const ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

LPVOID ID3DXBuffer::GetBufferPointer() {
    return data;
}

DWORD ID3DXBuffer::GetBufferSize() {
    return size;
}

HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer) {
    if (!ppBuffer)
        return D3DERR_INVALIDCALL;
    auto* buffer = new (std::nothrow) ID3DXBuffer(NumBytes);
    if (!buffer || !buffer->GetBufferPointer()) {
        OutputDebugStringA("D3DXCreateBuffer: out of memory\n");
        delete buffer;
        return E_OUTOFMEMORY;
    }
    *ppBuffer = buffer;
    return D3D_OK;
}
