// The DDS reader on its own: header fields as writers really fill them.
#include "image_files.h"

#include "platform/d3dx9/tex/dds.h"

#include <gtest/gtest.h>

#include <cstring>

namespace textest {
namespace {

using fw::d3dx9::DdsImage;
using fw::d3dx9::ParseDds;

TEST(DdsReaderTest, MipCountIsReadWhateverTheFlagsSay) {
    std::vector<std::vector<uint8_t>> levels = {Noise(64, 1), Noise(16, 2), Noise(4, 3)};
    // Count without DDSD_MIPMAPCOUNT in the flags, as some writers leave it.
    std::vector<uint8_t> bytes = DdsBytes({D3DFMT_L8, 8, 8, 3}, levels);
    uint32_t flags = 0x1007;
    std::memcpy(bytes.data() + 8, &flags, 4);
    DdsImage image;
    std::string error;
    ASSERT_TRUE(ParseDds(bytes.data(), bytes.size(), image, error)) << error;
    ASSERT_EQ(image.levels.size(), 3u);
    EXPECT_EQ(image.levels[2], levels[2]);

    // A count of 0 means one level; a count beyond the full chain stops at 1 x 1.
    bytes = DdsBytes({D3DFMT_L8, 4, 2, 0}, {Noise(8, 1)});
    ASSERT_TRUE(ParseDds(bytes.data(), bytes.size(), image, error)) << error;
    EXPECT_EQ(image.levels.size(), 1u);
    bytes = DdsBytes({D3DFMT_L8, 4, 2, 9}, {Noise(8, 1), Noise(2, 2), Noise(1, 3)});
    ASSERT_TRUE(ParseDds(bytes.data(), bytes.size(), image, error)) << error;
    EXPECT_EQ(image.levels.size(), 3u);
}

TEST(DdsReaderTest, BlockLevelsSmallerThanABlockStillTakeOneBlock) {
    // DXT1 4 x 4 down to 1 x 1: three levels of one 8-byte block each.
    std::vector<uint8_t> bytes =
        DdsBytes({D3DFMT_DXT1, 4, 4, 3}, {Noise(8, 1), Noise(8, 2), Noise(8, 3)});
    DdsImage image;
    std::string error;
    ASSERT_TRUE(ParseDds(bytes.data(), bytes.size(), image, error)) << error;
    EXPECT_EQ(image.format, D3DFMT_DXT1);
    ASSERT_EQ(image.levels.size(), 3u);
    EXPECT_EQ(image.levels[2].size(), 8u);
    bytes.pop_back();
    EXPECT_FALSE(ParseDds(bytes.data(), bytes.size(), image, error));
    EXPECT_NE(error.find("level 2"), std::string::npos) << error;
}

TEST(DdsReaderTest, HeaderChecksNameTheReason) {
    DdsImage image;
    std::string error;
    std::vector<uint8_t> bytes = DdsBytes({D3DFMT_A8R8G8B8, 1, 1, 1}, {Noise(4, 1)});
    std::vector<uint8_t> wrongSize = bytes;
    wrongSize[4] = 100;
    EXPECT_FALSE(ParseDds(wrongSize.data(), wrongSize.size(), image, error));
    EXPECT_NE(error.find("corrupt"), std::string::npos) << error;
    std::vector<uint8_t> zeroWidth = bytes;
    std::memset(zeroWidth.data() + 16, 0, 4);
    EXPECT_FALSE(ParseDds(zeroWidth.data(), zeroWidth.size(), image, error));
    EXPECT_NE(error.find("size"), std::string::npos) << error;
    std::vector<uint8_t> dx10 = DdsBytes({D3DFMT_DXT1, 4, 4, 1}, {Noise(8, 1)});
    std::memcpy(dx10.data() + 84, "DX10", 4);
    EXPECT_FALSE(ParseDds(dx10.data(), dx10.size(), image, error));
    EXPECT_NE(error.find("DX10"), std::string::npos) << error;
    EXPECT_FALSE(ParseDds(bytes.data(), 3, image, error));
}

} // namespace
} // namespace textest
