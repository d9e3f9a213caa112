// The arithmetic of the silence a capture owes to the clock, as tables. At a
// rate of 1000 frames per second a frame is a millisecond.
#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "sound.capture/silence_fill.h"

namespace {

using kit::SilenceFill;

enum class Op { start, packet, quiet, stop, newStream, replacement };

struct Step {
    Op op;
    uint32_t tick = 0;
    uint64_t position = 0;
    uint32_t frames = 0;
    bool discontinuity = false;
    uint64_t silence = 0;  // expected answer of packet, quiet or stop
    uint64_t room = 0;     // of quiet: what the waiting blocks can take
};

constexpr uint64_t kAmple = 1000000;

Step start(uint32_t tick) { return {Op::start, tick}; }
Step packet(uint32_t tick, uint64_t position, uint32_t frames, bool flag, uint64_t silence) {
    return {Op::packet, tick, position, frames, flag, silence};
}
Step quiet(uint32_t tick, uint64_t silence, uint64_t room = kAmple) {
    return {Op::quiet, tick, 0, 0, false, silence, room};
}
Step stop(uint32_t tick, uint64_t silence) { return {Op::stop, tick, 0, 0, false, silence}; }
Step replacement() { return {Op::replacement}; }
Step newStream() { return {Op::newStream}; }

struct Case {
    const char* name;
    std::vector<Step> steps;
    uint64_t recorded;
    uint64_t withdrawn;
};

// clang-format off
const Case kCases[] = {
    {"packets that keep pace owe nothing",
     {start(0), packet(10, 0, 10, false, 0), packet(20, 10, 10, false, 0), quiet(40, 0), packet(50, 20, 30, false, 0)},
     50, 0},
    {"a stall longer than the slack is withdrawn when the device catches up",
     {start(0), packet(10, 0, 10, false, 0), quiet(300, 0), quiet(600, 0), packet(610, 10, 600, false, 0)},
     610, 490},
    {"the packet after a quiet ends it: the silence up to the clock minus the slack",
     {start(0), packet(10, 0, 10, false, 0), quiet(1000, 0), packet(1010, 10, 10, true, 900)}, 920, 0},
    {"a jump of the position longer than that is silence in full",
     {start(0), packet(10, 0, 10, false, 0), quiet(1000, 0), packet(1010, 1000, 10, true, 990)}, 1010, 0},
    {"a jump without the flag is a gap too",
     {start(0), packet(10, 0, 10, false, 0), packet(500, 400, 10, false, 390)}, 410, 0},
    {"a jump counts the silence already handed on",
     {start(0), packet(10, 0, 10, false, 0), quiet(5000, 2890), packet(5010, 5000, 10, true, 2100)}, 5010, 0},
    {"a position far beyond the clock gives no more silence than the clock",
     {start(0), packet(10, 0, 10, false, 0), packet(1010, 1000000000, 10, true, 1000)}, 1020, 0},
    {"a long quiet is handed on while it lasts, two seconds late, and a stop ends it at the clock",
     {start(0), packet(10, 0, 10, false, 0), quiet(5000, 2890), quiet(6000, 1000), stop(7000, 3100)}, 7000, 0},
    {"the waiting blocks bound what stays provisional",
     {start(0), packet(10, 0, 10, false, 0), quiet(1000, 690, 300), packet(1010, 10, 10, false, 0)}, 710, 200},
    {"the start of a recording gives the device a second, whatever the blocks take",
     {start(0), quiet(900, 0, 300), packet(910, 0, 10, false, 0)}, 10, 800},
    {"after a pause the clock goes on from what was recorded",
     {start(0), packet(10, 0, 10, false, 0), stop(1000, 990), start(50000), quiet(50500, 0),
      packet(50510, 10, 10, true, 410)},
     1420, 0},
    {"a device that starts late: what it missed is silence, and its jitter counts from its first packet",
     {start(0), quiet(1500, 1200, 300), packet(1510, 0, 10, false, 0), packet(1600, 10, 90, false, 0),
      quiet(1790, 0, 300)},
     1300, 200},
    {"the first packet's flag alone is no gap: the start's latency is withdrawn",
     {start(0), quiet(500, 0), packet(510, 0, 10, true, 0)}, 10, 400},
    {"the first packet of a stream that replaces a lost one ends a gap",
     {start(0), packet(10, 0, 10, false, 0), replacement(), quiet(800, 0), packet(810, 0, 10, false, 700)}, 720, 0},
    {"after a reset the positions start again without a gap",
     {start(0), packet(10, 0, 10, false, 0), stop(20, 0), newStream(), start(100), packet(110, 0, 10, false, 0)},
     20, 0},
    {"a wrapping tick counter",
     {start(0xFFFFFF00u), quiet(0x00000F00u, 1996), stop(0x00000F00u, 2100)}, 4096, 0},
};
// clang-format on

class SilenceFillTable : public ::testing::TestWithParam<Case> {};

TEST_P(SilenceFillTable, Steps) {
    const Case& c = GetParam();
    SilenceFill fill(SilenceFill::Settings{1000, 100, 2000});
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& s = c.steps[i];
        switch (s.op) {
        case Op::start: fill.start(s.tick); break;
        case Op::newStream: fill.newStream(false); break;
        case Op::replacement: fill.newStream(true); break;
        case Op::packet:
            EXPECT_EQ(fill.packet(s.tick, s.position, s.frames, s.discontinuity), s.silence) << "step " << i;
            break;
        case Op::quiet: EXPECT_EQ(fill.quiet(s.tick, s.room), s.silence) << "step " << i; break;
        case Op::stop: EXPECT_EQ(fill.stop(s.tick), s.silence) << "step " << i; break;
        }
    }
    EXPECT_EQ(fill.recorded(), c.recorded);
    EXPECT_EQ(fill.withdrawn(), c.withdrawn);
}

INSTANTIATE_TEST_SUITE_P(Cases, SilenceFillTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

// Loopback hears nothing before its first packet: the recording keeps the
// clock from the start, where the recording line's latency is withdrawn.
TEST(SilenceFill, BeforeLoopbacksFirstPacketEverythingIsSilence) {
    for (bool loopback : {false, true}) {
        SilenceFill fill(SilenceFill::Settings{1000, 100, 2000, 1000, loopback});
        fill.start(0);
        EXPECT_EQ(fill.quiet(1500, 300), 1200u);
        EXPECT_EQ(fill.packet(1510, 0, 10, false), loopback ? 210u : 0u) << "up to the clock less the slack";
        EXPECT_EQ(fill.stop(2000), loopback ? 580u : 590u) << "a quiet up to the clock";
        EXPECT_EQ(fill.recorded(), loopback ? 2000u : 1800u);
    }
    // A first packet that hands on what the stream buffered before it begins
    // that much earlier: the recording is not longer than it lasted.
    SilenceFill fill(SilenceFill::Settings{1000, 100, 2000, 1000, true});
    fill.start(0);
    EXPECT_EQ(fill.quiet(500, 300), 0u);
    EXPECT_EQ(fill.packet(1500, 0, 1400, false), 100u);
    EXPECT_EQ(fill.packet(1600, 1400, 100, false), 0u);
    EXPECT_EQ(fill.recorded(), 1600u);
}

// Without a device nothing can come late: the recording keeps up with the
// clock, and the replacing device's first packet follows without more silence.
TEST(SilenceFill, WithoutADeviceSilenceKeepsUpWithTheClock) {
    SilenceFill fill(SilenceFill::Settings{1000, 100, 2000, 1000, true});
    fill.start(0);
    EXPECT_EQ(fill.packet(10, 0, 10, false), 0u);
    fill.newStream(true);
    EXPECT_EQ(fill.absent(500), 490u);
    EXPECT_EQ(fill.absent(800), 300u);
    EXPECT_EQ(fill.packet(810, 0, 10, false), 0u);
    EXPECT_EQ(fill.recorded(), 810u);
    EXPECT_EQ(fill.withdrawn(), 0u);
}

TEST(SilenceFill, FramesOfMilliseconds) {
    EXPECT_EQ(SilenceFill::framesIn(100, 44100), 4410u);
    EXPECT_EQ(SilenceFill::framesIn(1, 44100), 44u);
    EXPECT_EQ(SilenceFill::framesIn(3600000, 44100), 158760000u);
}

}  // namespace
