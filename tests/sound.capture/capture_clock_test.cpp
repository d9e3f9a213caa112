// Sound lost below the program, found from the ticks at which blocks come
// back: tables of return patterns, each with the loss it must show.
#include <gmock/gmock.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sound.capture/capture_clock.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlockMs = 100;
constexpr uint32_t kBlockFrames = kRate * kBlockMs / 1000;

// One returned block: at `at` ms, holding `frames`; `last` for the reset's block.
struct Return {
    uint32_t at;
    uint32_t frames = kBlockFrames;
    bool last = false;
};

// Blocks returned at the device's pace from `from` on: `count` blocks, each
// `blockMs` after the one before, plus a jitter pattern.
void steady(std::vector<Return>& r, uint32_t from, int count, const std::vector<int>& jitter = {0}) {
    for (int i = 0; i < count; ++i)
        r.push_back({from + kBlockMs * static_cast<uint32_t>(i) + static_cast<uint32_t>(jitter[i % jitter.size()])});
}

struct LossCase {
    std::string name;
    std::vector<Return> returns;
    uint32_t lostMs;  // expected
    uint32_t toleranceMs;
};

uint64_t run(const std::vector<Return>& returns, uint32_t base = 5000) {
    kit::CaptureClock clock(kRate, kBlockMs);
    for (const Return& r : returns) {
        if (r.last)
            clock.lastBlockReturned(base + r.at, r.frames);
        else
            clock.blockReturned(base + r.at, r.frames);
    }
    return clock.lostFrames();
}

std::vector<LossCase> cases() {
    std::vector<LossCase> all;
    {
        LossCase c{"steady with jitter", {}, 0, 0};
        steady(c.returns, 0, 300, {0, 12, 3, 25, 7, 0, 30, 1});
        all.push_back(c);
    }
    {
        // The device held up for 500 ms, then its five full blocks at once: nothing lost.
        LossCase c{"held up 500 ms, then a burst", {}, 0, 0};
        steady(c.returns, 0, 50);
        for (int i = 0; i < 5; ++i) c.returns.push_back({5450 + static_cast<uint32_t>(i)});
        steady(c.returns, 5500, 60);
        all.push_back(c);
    }
    {
        // A stall longer than the window, nothing lost: the burst that ends it holds it all.
        LossCase c{"held up 4 s, then a burst", {}, 0, 0};
        steady(c.returns, 0, 50);
        for (int i = 0; i < 40; ++i) c.returns.push_back({8950 + static_cast<uint32_t>(i)});
        steady(c.returns, 9000, 60);
        all.push_back(c);
    }
    {
        // 700 ms of sound never returned: every later block is 700 ms late.
        LossCase c{"700 ms skipped", {}, 700, 5};
        steady(c.returns, 0, 50);
        steady(c.returns, 5000 + 700, 60);
        all.push_back(c);
    }
    {
        // Held up 1.5 s with 1 s of blocks: a burst of ten, 500 ms lost.
        LossCase c{"held up 1.5 s, 500 ms lost", {}, 500, 5};
        steady(c.returns, 0, 50);
        for (int i = 0; i < 10; ++i) c.returns.push_back({4900 + 1500 + static_cast<uint32_t>(i)});
        steady(c.returns, 6500, 60);
        all.push_back(c);
    }
    {
        // Two losses, each counted once.
        LossCase c{"two losses", {}, 300 + 200, 10};
        steady(c.returns, 0, 40);
        steady(c.returns, 4000 + 300, 40);
        steady(c.returns, 8300 + 200, 40);
        all.push_back(c);
    }
    {
        // The device's clock 0.1 % slower than the tick clock for an hour: drift, not loss.
        LossCase c{"slow device clock for an hour", {}, 0, 0};
        for (uint32_t i = 0; i < 36000; ++i) c.returns.push_back({static_cast<uint32_t>(i * 100.1)});
        all.push_back(c);
    }
    {
        // A loss in the last second shows on the reset's block.
        LossCase c{"lost just before the end", {}, 400, 5};
        steady(c.returns, 0, 50);
        steady(c.returns, 5000 + 400, 5);
        c.returns.push_back({5800 + 30, kBlockFrames * 30 / 100, true});
        all.push_back(c);
    }
    {
        // Blocks come as unevenly as 60 ms, and the reset's block late by as
        // much: the device's unevenness, not loss.
        LossCase c{"uneven, and a late last block", {}, 0, 0};
        steady(c.returns, 0, 60, {0, 60, 10, 45, 0, 20});
        c.returns.push_back({5900 + 60 + 30, kBlockFrames * 30 / 100, true});
        all.push_back(c);
    }
    {
        // The reset's partly filled block on time: nothing.
        LossCase c{"a partial last block on time", {}, 0, 0};
        steady(c.returns, 0, 50);
        c.returns.push_back({4900 + 55, kBlockFrames * 55 / 100, true});
        all.push_back(c);
    }
    {
        // The tick count wraps during the recording.
        LossCase c{"across the wrap of the tick count", {}, 600, 5};
        steady(c.returns, 0, 50);
        steady(c.returns, 5600, 50);
        all.push_back(c);
    }
    return all;
}

TEST(CaptureClock, FindsTheSoundTheDeviceNeverReturned) {
    for (const LossCase& c : cases()) {
        uint32_t base = c.name == "across the wrap of the tick count" ? 0xFFFFFFFFu - 5200 : 5000;
        uint64_t lostMs = run(c.returns, base) * 1000 / kRate;
        EXPECT_NEAR(static_cast<double>(lostMs), c.lostMs, c.toleranceMs) << c.name;
    }
}

TEST(CaptureClock, EmptyBlocksSayNothingAndARestartForgetsThePause) {
    kit::CaptureClock clock(kRate, kBlockMs);
    for (uint32_t i = 0; i < 40; ++i) clock.blockReturned(1000 + i * 100, kBlockFrames);
    for (uint32_t i = 0; i < 40; ++i) clock.blockReturned(5000 + i * 100, 0);  // empty: no sound, no time
    clock.restart();  // paused for ten seconds, then started again
    for (uint32_t i = 0; i < 60; ++i) clock.blockReturned(15000 + i * 100, kBlockFrames);
    clock.lastBlockReturned(20950, kBlockFrames / 2);
    EXPECT_EQ(clock.lostFrames(), 0u);
}

}  // namespace
