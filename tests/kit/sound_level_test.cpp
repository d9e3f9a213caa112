// The meter's arithmetic: dBFS of a peak, silence and clipping, the meter's
// scale and the peak hold, as tables.
#include <gmock/gmock.h>

#include <cmath>

#include "kit/sound_level.h"

namespace {

struct Dbfs {
    int peak;
    double dbfs;
};

TEST(SoundLevel, APeakInDbfsIsTwentyTimesTheLogOfItsShareOfFullScale) {
    const Dbfs table[] = {
        {32768, 0.0},    {32767, -0.000265}, {16384, -6.0206}, {3277, -19.9995},
        {328, -39.9915}, {33, -59.9387},     {32, -60.2060},   {1, -90.3090},
    };
    for (const Dbfs& row : table) EXPECT_NEAR(kit::peakDbfs(row.peak), row.dbfs, 0.0001) << row.peak;
    EXPECT_EQ(kit::peakDbfs(0), kit::kNoSoundDbfs) << "no sound is not minus infinity";
    EXPECT_EQ(kit::peakDbfs(-5), kit::kNoSoundDbfs);
}

TEST(SoundLevel, SilenceIsBelowMinusSixtyAndClippingIsFullScale) {
    struct Row {
        int peak;
        bool silent;
        bool clip;
    };
    const Row table[] = {{0, true, false},     {32, true, false},     {33, false, false},
                         {1000, false, false}, {32766, false, false}, {32767, false, true}};
    for (const Row& row : table) {
        EXPECT_EQ(kit::isSilentPeak(row.peak), row.silent) << row.peak;
        EXPECT_EQ(kit::isClipPeak(row.peak), row.clip) << row.peak;
    }
}

TEST(SoundLevel, TheMeterIsLinearInDecibelsFromMinusSixtyToFullScale) {
    struct Row {
        int peak;
        int width;
        int pixels;
    };
    const Row table[] = {
        {0, 200, 0},       {32, 200, 0},      {33, 200, 0},       // -59.94 dB: 0.2 pixels
        {328, 200, 67},    {3277, 200, 133},  {16384, 200, 180},  // -40, -20, -6 dB
        {32767, 200, 200}, {32768, 200, 200}, {16384, 100, 90},  {16384, 0, 0}, {16384, -4, 0},
    };
    for (const Row& row : table) EXPECT_EQ(kit::meterPixels(row.peak, row.width), row.pixels) << row.peak;
}

TEST(SoundLevel, APeakIsHeldUntilItIsOlderThanTheHoldTimeOrBeaten) {
    using kit::PeakHold;
    constexpr uint32_t hold = kit::kPeakHoldMs;
    struct Row {
        PeakHold held;
        int peak;
        uint32_t now;
        PeakHold after;
    };
    const Row table[] = {
        {{0, 0}, 500, 10, {500, 10}},                       // anything beats nothing
        {{500, 10}, 400, 10 + hold, {500, 10}},             // lower, still held at the limit
        {{500, 10}, 400, 11 + hold, {400, 11 + hold}},      // lower, the hold has run out
        {{500, 10}, 500, 20, {500, 20}},                    // as high: held anew
        {{500, 10}, 600, 20, {600, 20}},                    // higher
        {{500, 0xFFFFFF00u}, 10, 100, {500, 0xFFFFFF00u}},  // the tick count wrapped: 356 ms later
    };
    for (const Row& row : table) EXPECT_EQ(kit::holdPeak(row.held, row.peak, row.now), row.after) << row.now;
}

}  // namespace
