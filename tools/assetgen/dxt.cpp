#include "dxt.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

struct Colorf {
    float r = 0, g = 0, b = 0;
};

Colorf operator+(Colorf a, Colorf b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Colorf operator-(Colorf a, Colorf b) {
    return {a.r - b.r, a.g - b.g, a.b - b.b};
}
Colorf operator*(Colorf a, float s) {
    return {a.r * s, a.g * s, a.b * s};
}
float dot(Colorf a, Colorf b) {
    return a.r * b.r + a.g * b.g + a.b * b.b;
}

int quantize(float v, int maxValue) {
    int q = static_cast<int>(std::lround(v * maxValue / 255.0f));
    return q < 0 ? 0 : (q > maxValue ? maxValue : q);
}

uint16_t pack565(Colorf c) {
    return uint16_t((quantize(c.r, 31) << 11) | (quantize(c.g, 63) << 5) | quantize(c.b, 31));
}

Rgb unpack565(uint16_t c) {
    int r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return {uint8_t((r << 3) | (r >> 2)), uint8_t((g << 2) | (g >> 4)),
            uint8_t((b << 3) | (b >> 2))};
}

std::array<Rgb, 4> palette(uint16_t c0, uint16_t c1) {
    Rgb a = unpack565(c0), b = unpack565(c1);
    auto third = [](int x, int y) { return uint8_t((2 * x + y + 1) / 3); };
    std::array<Rgb, 4> p{a, b, {}, {}};
    if (c0 > c1) {
        p[2] = {third(a.r, b.r), third(a.g, b.g), third(a.b, b.b)};
        p[3] = {third(b.r, a.r), third(b.g, a.g), third(b.b, a.b)};
    } else {
        p[2] = {uint8_t((a.r + b.r) / 2), uint8_t((a.g + b.g) / 2), uint8_t((a.b + b.b) / 2)};
        p[3] = {0, 0, 0};
    }
    return p;
}

int distance2(Rgb a, Rgb b) {
    int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

struct Encoding {
    uint16_t c0 = 0, c1 = 0;
    uint32_t indices = 0;
    long error = 0;
};

// Best indices for the two endpoints, which must satisfy c0 > c1.
Encoding assignIndices(const ColorBlock& block, uint16_t c0, uint16_t c1) {
    Encoding e{c0, c1, 0, 0};
    auto p = palette(c0, c1);
    for (int i = 0; i < 16; ++i) {
        int best = 0, bestDistance = distance2(block[i], p[0]);
        for (int k = 1; k < 4; ++k) {
            int d = distance2(block[i], p[k]);
            if (d < bestDistance) {
                best = k;
                bestDistance = d;
            }
        }
        e.indices |= uint32_t(best) << (2 * i);
        e.error += bestDistance;
    }
    return e;
}

// Orders the endpoints for four-colour mode; equal endpoints are split by one step so the
// block stays opaque and still decodes to the colour exactly.
Encoding encodeEndpoints(const ColorBlock& block, Colorf a, Colorf b) {
    uint16_t c0 = pack565(a), c1 = pack565(b);
    if (c0 < c1)
        std::swap(c0, c1);
    if (c0 == c1) {
        if (c0 == 0)
            c0 = 1;
        else
            c1 = uint16_t(c0 - 1);
    }
    return assignIndices(block, c0, c1);
}

Colorf toColorf(Rgb c) {
    return {float(c.r), float(c.g), float(c.b)};
}

// Least-squares endpoints for fixed indices; false when the indices do not pin them down.
bool fitEndpoints(const ColorBlock& block, uint32_t indices, Colorf& e0, Colorf& e1) {
    static const float weight0[4] = {1.0f, 0.0f, 2.0f / 3.0f, 1.0f / 3.0f};
    float aa = 0, ab = 0, bb = 0;
    Colorf ax, bx;
    for (int i = 0; i < 16; ++i) {
        int k = (indices >> (2 * i)) & 3;
        float a = weight0[k], b = 1.0f - a;
        Colorf x = toColorf(block[i]);
        aa += a * a;
        ab += a * b;
        bb += b * b;
        ax = ax + x * a;
        bx = bx + x * b;
    }
    float det = aa * bb - ab * ab;
    if (std::fabs(det) < 1e-6f)
        return false;
    float inv = 1.0f / det;
    e0 = (ax * bb - bx * ab) * inv;
    e1 = (bx * aa - ax * ab) * inv;
    return true;
}

} // namespace

std::array<uint8_t, 8> encodeDxt1Block(const ColorBlock& block) {
    Colorf mean;
    for (const Rgb& c : block)
        mean = mean + toColorf(c);
    mean = mean * (1.0f / 16.0f);

    float cov[6] = {}; // rr rg rb gg gb bb
    for (const Rgb& c : block) {
        Colorf d = toColorf(c) - mean;
        cov[0] += d.r * d.r;
        cov[1] += d.r * d.g;
        cov[2] += d.r * d.b;
        cov[3] += d.g * d.g;
        cov[4] += d.g * d.b;
        cov[5] += d.b * d.b;
    }
    // Power iteration from the covariance column of the widest channel: a fixed start such as
    // (1, 1, 1) is orthogonal to the axis of blocks where one channel falls as another rises.
    Colorf columns[3] = {
        {cov[0], cov[1], cov[2]}, {cov[1], cov[3], cov[4]}, {cov[2], cov[4], cov[5]}};
    int widest = cov[0] >= cov[3] ? (cov[0] >= cov[5] ? 0 : 2) : (cov[3] >= cov[5] ? 1 : 2);
    Colorf axis = columns[widest];
    float startLength = std::sqrt(dot(axis, axis));
    axis = startLength > 1e-6f ? axis * (1.0f / startLength) : Colorf{0.577f, 0.577f, 0.577f};
    for (int i = 0; i < 8; ++i) {
        Colorf next{cov[0] * axis.r + cov[1] * axis.g + cov[2] * axis.b,
                    cov[1] * axis.r + cov[3] * axis.g + cov[4] * axis.b,
                    cov[2] * axis.r + cov[4] * axis.g + cov[5] * axis.b};
        float len = std::sqrt(dot(next, next));
        if (len < 1e-6f)
            break;
        axis = next * (1.0f / len);
    }
    float lo = 0, hi = 0;
    for (const Rgb& c : block) {
        float t = dot(toColorf(c) - mean, axis);
        lo = t < lo ? t : lo;
        hi = t > hi ? t : hi;
    }
    Encoding best = encodeEndpoints(block, mean + axis * hi, mean + axis * lo);
    for (int pass = 0; pass < 2 && best.error > 0; ++pass) {
        Colorf e0, e1;
        if (!fitEndpoints(block, best.indices, e0, e1))
            break;
        Encoding refined = encodeEndpoints(block, e0, e1);
        if (refined.error >= best.error)
            break;
        best = refined;
    }
    return {uint8_t(best.c0),
            uint8_t(best.c0 >> 8),
            uint8_t(best.c1),
            uint8_t(best.c1 >> 8),
            uint8_t(best.indices),
            uint8_t(best.indices >> 8),
            uint8_t(best.indices >> 16),
            uint8_t(best.indices >> 24)};
}

ColorBlock decodeDxt1Block(const uint8_t* bytes) {
    uint16_t c0 = uint16_t(bytes[0] | (bytes[1] << 8));
    uint16_t c1 = uint16_t(bytes[2] | (bytes[3] << 8));
    uint32_t indices = uint32_t(bytes[4]) | (uint32_t(bytes[5]) << 8) | (uint32_t(bytes[6]) << 16) |
                       (uint32_t(bytes[7]) << 24);
    auto p = palette(c0, c1);
    ColorBlock block;
    for (int i = 0; i < 16; ++i)
        block[i] = p[(indices >> (2 * i)) & 3];
    return block;
}

RgbImage halveImage(const RgbImage& image) {
    int w = image.width > 1 ? image.width / 2 : 1;
    int h = image.height > 1 ? image.height / 2 : 1;
    RgbImage out(w, h);
    for (int y = 0; y < h; ++y) {
        int y0 = std::min(2 * y, image.height - 1), y1 = std::min(2 * y + 1, image.height - 1);
        for (int x = 0; x < w; ++x) {
            int x0 = std::min(2 * x, image.width - 1), x1 = std::min(2 * x + 1, image.width - 1);
            const Rgb &a = image.at(x0, y0), &b = image.at(x1, y0);
            const Rgb &c = image.at(x0, y1), &d = image.at(x1, y1);
            out.at(x, y) = {uint8_t((a.r + b.r + c.r + d.r + 2) / 4),
                            uint8_t((a.g + b.g + c.g + d.g + 2) / 4),
                            uint8_t((a.b + b.b + c.b + d.b + 2) / 4)};
        }
    }
    return out;
}

static void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

static void appendLevel(std::vector<uint8_t>& out, const RgbImage& level) {
    for (int by = 0; by < (level.height + 3) / 4; ++by)
        for (int bx = 0; bx < (level.width + 3) / 4; ++bx) {
            ColorBlock block;
            // Levels under 4 texels repeat their edge so the padding does not skew the fit.
            for (int i = 0; i < 16; ++i)
                block[i] = level.at(std::min(bx * 4 + i % 4, level.width - 1),
                                    std::min(by * 4 + i / 4, level.height - 1));
            auto bytes = encodeDxt1Block(block);
            out.insert(out.end(), bytes.begin(), bytes.end());
        }
}

std::vector<uint8_t> encodeDdsDxt1(const RgbImage& image) {
    uint32_t levels = 1;
    for (int size = std::max(image.width, image.height); size > 1; size /= 2)
        ++levels;
    const uint32_t topSize = uint32_t((image.width + 3) / 4) * uint32_t((image.height + 3) / 4) * 8;

    std::vector<uint8_t> out;
    put32(out, 0x20534444); // "DDS "
    put32(out, 124);
    put32(out, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 | 0x80000); // caps height width pf mips size
    put32(out, uint32_t(image.height));
    put32(out, uint32_t(image.width));
    put32(out, topSize);
    put32(out, 0); // depth
    put32(out, levels);
    for (int i = 0; i < 11; ++i)
        put32(out, 0);
    put32(out, 32);         // pixel format size
    put32(out, 0x4);        // DDPF_FOURCC
    put32(out, 0x31545844); // "DXT1"
    for (int i = 0; i < 5; ++i)
        put32(out, 0);
    put32(out, 0x1000 | 0x8 | 0x400000); // texture, complex, mipmap
    for (int i = 0; i < 4; ++i)
        put32(out, 0);

    RgbImage level = image;
    for (uint32_t i = 0; i < levels; ++i) {
        appendLevel(out, level);
        if (i + 1 < levels)
            level = halveImage(level);
    }
    return out;
}

} // namespace assetgen
