// MSZIP: after the header, a DWORD with the inflated file size (header included), then
// blocks of { WORD inflated size, WORD packed size including "CK", "CK", raw deflate }.
// Each block may copy from the previous block's output, so the inflater is reset per
// block with that output installed as its dictionary.
#include "platform/d3dx9/anim/xfile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace fw::xfile {

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kMaxBlock = 32768;
constexpr uint32_t kMaxInflated = 256u << 20; // no model comes near; guards absurd claims

uint32_t ReadLe16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
uint32_t ReadLe32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit2(&stream, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready)
            inflateEnd(&stream);
    }
};

} // namespace

bool InflateMsZip(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
    out.clear();
    if (size < 4) {
        error = "compressed file ends before its size field";
        return false;
    }
    const uint32_t total = ReadLe32(data);
    if (total < kHeaderSize || total - kHeaderSize > kMaxInflated) {
        error = "compressed file declares an impossible size (" + std::to_string(total) + ")";
        return false;
    }
    const size_t expected = total - kHeaderSize;
    out.reserve(std::min<size_t>(expected, size_t(64) << 20));

    Inflater inflater;
    if (!inflater.ready) {
        error = "cannot start the inflater";
        return false;
    }
    size_t pos = 4;
    size_t block = 0;
    while (pos < size) {
        if (size - pos < 6) {
            error = "compressed block " + std::to_string(block) + " is truncated";
            return false;
        }
        const uint32_t rawSize = ReadLe16(data + pos);
        const uint32_t packedSize = ReadLe16(data + pos + 2);
        if (packedSize < 2 || data[pos + 4] != 'C' || data[pos + 5] != 'K') {
            error = "compressed block " + std::to_string(block) + " lacks its CK signature";
            return false;
        }
        if (packedSize > size - pos - 4) {
            error = "compressed block " + std::to_string(block) + " is truncated";
            return false;
        }
        if (rawSize > kMaxBlock || out.size() + rawSize > expected) {
            error =
                "compressed block " + std::to_string(block) + " inflates past the declared size";
            return false;
        }
        z_stream& zs = inflater.stream;
        inflateReset(&zs);
        const size_t history = std::min<size_t>(out.size(), kMaxBlock);
        if (history > 0)
            inflateSetDictionary(&zs, out.data() + out.size() - history, uInt(history));
        const size_t start = out.size();
        out.resize(start + rawSize);
        zs.next_in = const_cast<Bytef*>(data + pos + 6);
        zs.avail_in = packedSize - 2;
        zs.next_out = out.data() + start;
        zs.avail_out = rawSize;
        const int rc = inflate(&zs, Z_FINISH);
        if (rc != Z_STREAM_END || zs.avail_out != 0) {
            error = "compressed block " + std::to_string(block) + " is corrupt";
            return false;
        }
        pos += 4 + packedSize;
        ++block;
    }
    if (out.size() != expected) {
        error = "compressed data holds " + std::to_string(out.size()) + " bytes, not the " +
                std::to_string(expected) + " its size field declares";
        return false;
    }
    return true;
}

} // namespace fw::xfile
