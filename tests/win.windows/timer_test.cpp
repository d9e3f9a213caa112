#include <gmock/gmock.h>

#include "win.windows/timer.h"

namespace {

uint32_t now = 0;
uint32_t scriptedTicks() { return now; }

struct ElapsedCase {
    uint32_t seconds;
    const char* shown;
};

class ElapsedFormat : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(ElapsedFormat, ShowsHoursMinutesSecondsWithoutWrappingHours) {
    EXPECT_EQ(kit::formatElapsed(GetParam().seconds), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Stopwatch, ElapsedFormat,
                         ::testing::Values(ElapsedCase{0, "00:00:00"}, ElapsedCase{59, "00:00:59"},
                                           ElapsedCase{60, "00:01:00"}, ElapsedCase{3599, "00:59:59"},
                                           ElapsedCase{3725, "01:02:05"}, ElapsedCase{86399, "23:59:59"},
                                           ElapsedCase{90000, "25:00:00"}, ElapsedCase{360000, "100:00:00"}));

TEST(Stopwatch, SplitsElapsedSecondsIntoHoursMinutesSeconds) {
    kit::ElapsedTime t = kit::splitSeconds(100 * 3600 + 59 * 60 + 7);
    EXPECT_EQ(t.hours, 100);
    EXPECT_EQ(t.minutes, 59);
    EXPECT_EQ(t.seconds, 7);
}

TEST(Stopwatch, ShowsTheTimeSinceStartWhileRunning) {
    now = 5000;
    kit::Timer timer(scriptedTicks);
    EXPECT_EQ(timer.toString(), "00:00:00");
    timer.start();
    now += 3725 * 1000 + 999;  // part seconds are cut off
    EXPECT_EQ(timer.toString(), "01:02:05");
    int32_t h = -1, m = -1, s = -1;
    timer.elapsedTime(h, m, s);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(s, 5);

    now = 5000 + 100u * 3600 * 1000;
    EXPECT_EQ(timer.toString(), "100:00:00");
}

TEST(Stopwatch, StopFreezesTheTimeAndResetClearsIt) {
    now = 1000;
    kit::Timer timer(scriptedTicks);
    timer.start();
    now += 7000;
    timer.stop();
    EXPECT_FALSE(timer.isRunning());
    now += 60000;
    EXPECT_EQ(timer.elapsedSeconds(), 7u);
    EXPECT_EQ(timer.toString(), "00:00:07");
    timer.reset();
    EXPECT_EQ(timer.toString(), "00:00:00");
    now += 5000;
    EXPECT_EQ(timer.elapsedSeconds(), 0u);  // not running after reset
}

TEST(Stopwatch, SurvivesTheWrapOfTheTickCount) {
    now = 0xFFFFFFFFu - 1500;
    kit::Timer timer(scriptedTicks);
    timer.start();
    now += 4000;  // wraps past zero
    EXPECT_EQ(timer.toString(), "00:00:04");
}

}  // namespace
