// Layout of the hero's body texture: where each part's texture coordinates land. The meshes
// map into these rectangles and the texture painter decorates them, so both read this table.
#pragma once

namespace assetgen {

inline constexpr int kBodyTextureSize = 512;

struct AtlasRegion {
    int x, y, w, h; // pixels, top-left origin (texture v grows downwards)

    float u(float s) const { return (x + s * w) / kBodyTextureSize; }
    float v(float t) const { return (y + t * h) / kBodyTextureSize; }
};

// Tubes run u around the part (front of the hero at the middle, seam at the back) and v along
// it (top or root end first). Rounded boxes run u around and v from top to bottom.
inline constexpr AtlasRegion kTorsoRegion{0, 0, 256, 256};
inline constexpr AtlasRegion kArmRegion{256, 0, 128, 256};
inline constexpr AtlasRegion kLegRegion{384, 0, 128, 256};
inline constexpr AtlasRegion kNeckRegion{0, 256, 64, 64};
inline constexpr AtlasRegion kHandRegion{64, 256, 64, 64};
inline constexpr AtlasRegion kPadRegion{128, 256, 128, 128};
inline constexpr AtlasRegion kFootRegion{256, 256, 128, 128};
inline constexpr AtlasRegion kHeadRegion{384, 256, 128, 128};
inline constexpr AtlasRegion kWeaponRegion{0, 384, 128, 128};
inline constexpr AtlasRegion kTrimRegion{0, 320, 128, 64};

// Torso texture v runs from this height (top) to the bottom one.
inline constexpr float kTorsoTop = 43.2f;
inline constexpr float kTorsoBottom = 22.0f;
// Arm texture v runs along the arm from the shoulder joint, leg texture v from the hip joint.
inline constexpr float kArmStart = -0.8f, kArmEnd = 17.8f;
inline constexpr float kLegStart = -1.5f, kLegEnd = 21.6f;

} // namespace assetgen
