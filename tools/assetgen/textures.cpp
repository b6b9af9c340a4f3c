#include "textures.h"

#include "atlas.h"
#include "noise.h"
#include "xmath.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

const Rgb kWhite{214, 218, 222};
const Rgb kGrey{150, 155, 162};
const Rgb kDark{60, 62, 68};
const Rgb kDarker{38, 40, 44};
const Rgb kOrange{232, 116, 28};
const Rgb kSeam{34, 36, 40};

class Painter {
public:
    explicit Painter(RgbImage& image) : image_(image) {}

    void rect(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = std::max(0, y0); y < std::min(image_.height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(image_.width, x1); ++x)
                image_.at(x, y) = c;
    }

    // A panel line: a dark groove with a lit lip under it.
    void seamH(int x0, int x1, int y) {
        rect(x0, y, x1, y + 2, kSeam);
        rect(x0, y + 2, x1, y + 3, lighter(x0, y + 3, 30));
    }

    void seamV(int x, int y0, int y1) {
        rect(x, y0, x + 2, y1, kSeam);
        rect(x + 2, y0, x + 3, y1, lighter(x + 3, y0, 30));
    }

    void disc(float cx, float cy, float radius, Rgb c) {
        for (int y = int(cy - radius) - 1; y <= int(cy + radius) + 1; ++y)
            for (int x = int(cx - radius) - 1; x <= int(cx + radius) + 1; ++x) {
                if (x < 0 || y < 0 || x >= image_.width || y >= image_.height)
                    continue;
                float d = std::hypot(x + 0.5f - cx, y + 0.5f - cy);
                float cover = clamp01(radius + 0.5f - d);
                if (cover > 0)
                    image_.at(x, y) = blend(image_.at(x, y), c, cover);
            }
    }

    void rivet(float x, float y) {
        disc(x, y, 2.2f, kDarker);
        disc(x - 0.5f, y - 0.5f, 1.1f, {235, 238, 240});
    }

    void rivetRow(int x0, int x1, int y, int step) {
        for (int x = x0; x <= x1; x += step)
            rivet(float(x), float(y));
    }

    // Horizontal ribs for flexible joints.
    void ribs(int x0, int y0, int x1, int y1, int period) {
        for (int y = y0; y < y1; ++y) {
            int phase = (y - y0) % period;
            Rgb c = phase < period / 2 ? kDark : (phase == period / 2 ? kGrey : kDarker);
            rect(x0, y, x1, y + 1, c);
        }
    }

    void hazard(int x0, int y0, int x1, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                image_.at(x, y) = ((x + y) / 6) % 2 ? kDarker : Rgb{240, 190, 30};
    }

    static Rgb blend(Rgb a, Rgb b, float t) {
        return {uint8_t(std::lround(a.r + (b.r - a.r) * t)),
                uint8_t(std::lround(a.g + (b.g - a.g) * t)),
                uint8_t(std::lround(a.b + (b.b - a.b) * t))};
    }

private:
    Rgb lighter(int x, int y, int amount) const {
        Rgb c = image_.at(std::clamp(x, 0, image_.width - 1), std::clamp(y, 0, image_.height - 1));
        return {uint8_t(std::min(255, c.r + amount)), uint8_t(std::min(255, c.g + amount)),
                uint8_t(std::min(255, c.b + amount))};
    }

    RgbImage& image_;
};

int px(const AtlasRegion& r, float s) {
    return r.x + int(std::lround(s * r.w));
}
int py(const AtlasRegion& r, float t) {
    return r.y + int(std::lround(t * r.h));
}

void paintTorso(Painter& p) {
    const AtlasRegion& r = kTorsoRegion;
    auto rowAt = [&](float y) { return py(r, (kTorsoTop - y) / (kTorsoTop - kTorsoBottom)); };
    p.rect(r.x, r.y, r.x + r.w, r.y + r.h, kWhite);
    p.rect(r.x, r.y, r.x + r.w, rowAt(42.4f), kDark);                       // collar
    p.ribs(r.x, rowAt(31.4f), r.x + r.w, rowAt(28.2f), 6);                  // waist
    p.rect(r.x, rowAt(28.2f), r.x + r.w, r.y + r.h, kGrey);                 // pelvis
    p.rect(r.x, rowAt(27.6f), r.x + r.w, rowAt(26.4f), kOrange);            // belt
    p.rect(px(r, 0.44f), rowAt(26.4f), px(r, 0.56f), rowAt(23.2f), kWhite); // groin plate
    // Chest: a central orange keel and two side panels.
    p.rect(px(r, 0.46f), rowAt(42.0f), px(r, 0.54f), rowAt(31.6f), kOrange);
    p.seamV(px(r, 0.3f), rowAt(42.4f), rowAt(31.4f));
    p.seamV(px(r, 0.7f), rowAt(42.4f), rowAt(31.4f));
    p.seamH(r.x, r.x + r.w, rowAt(38.8f));
    p.seamH(r.x, r.x + r.w, rowAt(33.0f));
    p.rivetRow(px(r, 0.33f), px(r, 0.67f), rowAt(33.6f), 12);
    // Emblem on the left breast (texture u 0.37 faces the hero's left front).
    float ex = float(px(r, 0.37f)), ey = float(rowAt(36.6f));
    p.disc(ex, ey, 10.0f, kDarker);
    p.disc(ex, ey, 8.0f, kOrange);
    p.disc(ex, ey, 3.5f, kWhite);
    // Back: cooling vents between the shoulder blades.
    for (int k = 0; k < 5; ++k) {
        int y = rowAt(41.0f) + k * 9;
        p.rect(px(r, 0.9f), y, r.x + r.w, y + 4, kDarker);
        p.rect(r.x, y, px(r, 0.1f), y + 4, kDarker);
    }
    p.hazard(px(r, 0.36f), rowAt(31.2f) + 2, px(r, 0.64f), rowAt(31.2f) + 10);
}

void paintArm(Painter& p) {
    const AtlasRegion& r = kArmRegion;
    auto rowAt = [&](float t) { return py(r, (t - kArmStart) / (kArmEnd - kArmStart)); };
    p.rect(r.x, r.y, r.x + r.w, r.y + r.h, kWhite);
    p.seamH(r.x, r.x + r.w, rowAt(2.4f));
    p.rect(r.x, rowAt(5.6f), r.x + r.w, rowAt(6.6f), kOrange);
    p.ribs(r.x, rowAt(7.6f), r.x + r.w, rowAt(10.4f), 5);        // elbow
    p.rect(r.x, rowAt(10.4f), r.x + r.w, rowAt(16.2f), kOrange); // gauntlet
    p.rect(px(r, 0.42f), rowAt(11.0f), px(r, 0.58f), rowAt(15.6f), kWhite);
    p.seamH(r.x, r.x + r.w, rowAt(13.2f));
    p.rivetRow(px(r, 0.1f), px(r, 0.9f), rowAt(11.0f), 14);
    p.rect(r.x, rowAt(16.2f), r.x + r.w, r.y + r.h, kDark); // wrist
}

void paintLeg(Painter& p) {
    const AtlasRegion& r = kLegRegion;
    auto rowAt = [&](float t) { return py(r, (t - kLegStart) / (kLegEnd - kLegStart)); };
    p.rect(r.x, r.y, r.x + r.w, r.y + r.h, kWhite);
    p.rect(px(r, 0.2f), rowAt(0.5f), px(r, 0.3f), rowAt(8.6f), kOrange); // outer stripe
    p.seamV(px(r, 0.5f), rowAt(0.5f), rowAt(8.6f));
    p.seamH(r.x, r.x + r.w, rowAt(3.0f));
    p.ribs(r.x, rowAt(9.4f), r.x + r.w, rowAt(12.2f), 5);                    // knee
    p.rect(px(r, 0.38f), rowAt(12.8f), px(r, 0.62f), rowAt(19.0f), kOrange); // shin guard
    p.seamH(r.x, r.x + r.w, rowAt(16.0f));
    p.rivetRow(px(r, 0.4f), px(r, 0.6f), rowAt(13.6f), 10);
    p.rect(r.x, rowAt(19.8f), r.x + r.w, r.y + r.h, kDark); // ankle
}

void paintSmallParts(Painter& p) {
    const AtlasRegion& n = kNeckRegion;
    p.ribs(n.x, n.y, n.x + n.w, n.y + n.h, 6);

    const AtlasRegion& h = kHandRegion;
    p.rect(h.x, h.y, h.x + h.w, h.y + h.h, kDark);
    for (int k = 1; k < 8; ++k)
        p.rect(h.x, h.y + k * h.h / 8, h.x + h.w, h.y + k * h.h / 8 + 1, kDarker);
    p.rect(h.x, h.y, h.x + h.w, h.y + h.h / 5, kGrey); // knuckle guard

    const AtlasRegion& pad = kPadRegion;
    p.rect(pad.x, pad.y, pad.x + pad.w, pad.y + pad.h, kWhite);
    p.rect(pad.x, pad.y, pad.x + pad.w, pad.y + pad.h * 11 / 20, kOrange);
    p.seamH(pad.x, pad.x + pad.w, pad.y + pad.h * 11 / 20);
    p.rivetRow(pad.x + 8, pad.x + pad.w - 8, pad.y + pad.h * 13 / 20, 16);
    p.rect(pad.x, pad.y + pad.h * 17 / 20, pad.x + pad.w, pad.y + pad.h, kDark);

    const AtlasRegion& f = kFootRegion;
    p.rect(f.x, f.y, f.x + f.w, f.y + f.h, kDark);
    p.rect(f.x + f.w * 2 / 5, f.y + f.h / 6, f.x + f.w * 3 / 5, f.y + f.h * 3 / 5, kOrange);
    p.rect(f.x, f.y + f.h * 3 / 4, f.x + f.w, f.y + f.h, kDarker); // sole
    p.seamH(f.x, f.x + f.w, f.y + f.h * 3 / 4 - 3);

    const AtlasRegion& head = kHeadRegion;
    p.rect(head.x, head.y, head.x + head.w, head.y + head.h, kWhite);
    p.rect(head.x + head.w * 9 / 20, head.y, head.x + head.w * 11 / 20, head.y + head.h * 7 / 20,
           kOrange);                                                                  // crest
    p.rect(head.x, head.y + head.h * 4 / 5, head.x + head.w, head.y + head.h, kGrey); // jaw
    for (float s : {0.25f, 0.75f}) {                                                  // ear discs
        float cx = float(px(head, s)), cy = float(py(head, 0.45f));
        p.disc(cx, cy, 12.0f, kDarker);
        p.disc(cx, cy, 9.0f, kGrey);
        p.disc(cx, cy, 4.0f, kOrange);
    }
    p.seamH(head.x, head.x + head.w, head.y + head.h * 7 / 10);

    const AtlasRegion& w = kWeaponRegion;
    for (int y = w.y; y < w.y + w.h; ++y)
        for (int x = w.x; x < w.x + w.w; ++x)
            p.rect(x, y, x + 1, y + 1, ((x + 2 * y) / 8) % 2 ? kDarker : Rgb{96, 70, 50});

    const AtlasRegion& t = kTrimRegion;
    p.rect(t.x, t.y, t.x + t.w, t.y + t.h, kGrey);
}

} // namespace

RgbImage makeBodyTexture() {
    RgbImage image(kBodyTextureSize, kBodyTextureSize, kGrey);
    Painter painter(image);
    paintTorso(painter);
    paintArm(painter);
    paintLeg(painter);
    paintSmallParts(painter);
    // Light wear: low-frequency mottling and fine speckle, so flat panels are not flat colour.
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            float n = 0.94f + 0.05f * fbm(x / 24.0f, y / 24.0f, 7, 4) +
                      0.025f * (hashUnit(x, y, 8) - 0.5f);
            Rgb& c = image.at(x, y);
            c = rgbFromFloats(c.r / 255.0f * n, c.g / 255.0f * n, c.b / 255.0f * n);
        }
    return image;
}

RgbImage makeHighlightTexture() {
    const int size = 128;
    RgbImage image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            float nx = (x + 0.5f) / (size * 0.5f) - 1, ny = (y + 0.5f) / (size * 0.5f) - 1;
            float r2 = nx * nx + ny * ny;
            float value = 0.42f + 0.16f * (1 - std::min(r2, 1.0f));
            float sx = nx + 0.34f, sy = ny + 0.38f;
            value += 0.55f * std::exp(-(sx * sx + sy * sy) / (2 * 0.16f * 0.16f));
            float bx = nx - 0.3f, by = ny - 0.42f;
            value += 0.1f * std::exp(-(bx * bx + by * by) / (2 * 0.3f * 0.3f));
            value *= 1 - 0.4f * smoothstep(0.75f, 1.05f, std::sqrt(r2));
            image.at(x, y) = rgbFromFloats(value * 0.96f, value * 0.99f, value * 1.06f);
        }
    return image;
}

RgbImage makeBoundTexture() {
    const int size = 64;
    RgbImage image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            bool check = ((x / 8) + (y / 8)) % 2 == 0;
            bool diagonal = std::abs(x - y) < 2 || std::abs(x + y - size + 1) < 2;
            image.at(x, y) =
                diagonal ? Rgb{0, 0, 0} : (check ? Rgb{255, 0, 255} : Rgb{255, 255, 0});
        }
    return image;
}

} // namespace assetgen
