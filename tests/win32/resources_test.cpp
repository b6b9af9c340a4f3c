#include "platform/win32/host.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

TEST(ResourcesTest, StringsLoadIntoTheBufferAndAreTruncatedSafely) {
    char buffer[100];
    EXPECT_EQ(LoadStringA(Instance(), 103, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "Ferrowalk");
    EXPECT_EQ(LoadStringA(Instance(), 109, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "FERROWALK");

    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(LoadStringA(Instance(), 103, small, sizeof small), 3);
    EXPECT_STREQ(small, "Fer");

    EXPECT_EQ(LoadStringA(Instance(), 104, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(Instance(), 103, nullptr, 10), 0);
    EXPECT_EQ(LoadStringA(Instance(), 103, buffer, 0), 0);
}

TEST(ResourcesTest, BothIconGroupsHoldTheEightImages) {
    for (int id : {107, 108}) {
        HICON icon = LoadIconA(Instance(), MAKEINTRESOURCEA(id));
        ASSERT_NE(icon, nullptr) << id;
        std::vector<std::pair<int, int>> found;
        for (const fw::IconImageInfo& image : fw::DescribeIcon(icon)) {
            EXPECT_EQ(image.width, image.height);
            found.push_back({image.width, image.bitsPerPixel});
        }
        std::vector<std::pair<int, int>> expected = {{32, 4}, {16, 4},  {48, 8},  {32, 8},
                                                     {16, 8}, {48, 32}, {32, 32}, {16, 32}};
        std::sort(found.begin(), found.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected) << id;
    }
    EXPECT_NE(LoadIconA(Instance(), MAKEINTRESOURCEA(107)),
              LoadIconA(Instance(), MAKEINTRESOURCEA(108)));
}

TEST(ResourcesTest, UnknownResourcesAreNull) {
    EXPECT_EQ(LoadIconA(Instance(), MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_EQ(LoadIconA(Instance(), "named"), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32513)), nullptr);
    EXPECT_TRUE(fw::DescribeIcon(nullptr).empty());
}

} // namespace
