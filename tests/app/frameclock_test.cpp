#include "app/frameclock.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<DWORD> readings;
size_t nextReading = 0;
DWORD ScriptedClock() {
    return readings.at(nextReading++);
}

void Script(std::vector<DWORD> values) {
    readings = std::move(values);
    nextReading = 0;
}

TEST(FrameClockTest, FirstFrameReadsTheClockTwiceAndMeasuresBetweenThem) {
    Script({1000, 1003, 1020});
    FrameClock clock;
    EXPECT_FLOAT_EQ(clock.Tick(ScriptedClock), 0.003f);
    EXPECT_EQ(nextReading, 2u);
    EXPECT_FLOAT_EQ(clock.Tick(ScriptedClock), 0.017f);
    EXPECT_EQ(nextReading, 3u);
}

TEST(FrameClockTest, ReadingsAreHeldAsFloatsSoDtMovesInTheirSpacing) {
    // Above 2^24 ms a float holds only even milliseconds: 16777217 reads as 16777216 and
    // 16777219 as 16777220. Integer differences would give 1 ms and 2 ms here.
    Script({16777216, 16777217, 16777219});
    FrameClock clock;
    EXPECT_EQ(clock.Tick(ScriptedClock), 0.0f);
    float dt = clock.Tick(ScriptedClock);
    EXPECT_EQ(dt, (16777220.0f - 16777216.0f) * 0.001f);
    EXPECT_FLOAT_EQ(dt, 0.004f);
}

TEST(FrameClockTest, LongPausesAreNeitherClampedNorSmoothed) {
    Script({0, 0, 5000, 5016});
    FrameClock clock;
    clock.Tick(ScriptedClock);
    EXPECT_FLOAT_EQ(clock.Tick(ScriptedClock), 5.0f);
    EXPECT_FLOAT_EQ(clock.Tick(ScriptedClock), 0.016f);
}

} // namespace
