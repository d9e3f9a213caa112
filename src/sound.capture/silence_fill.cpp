#include "sound.capture/silence_fill.h"

#include <algorithm>

namespace kit {

void SilenceFill::start(uint32_t tick) noexcept {
    base = committed;
    startLag = 0;
    elapsedMs = 0;
    lastTick = tick;
    running = true;
}

void SilenceFill::newStream(bool replacement) noexcept {
    firstPacket = true;
    replacementStream = replacement;
    expectedPosition = 0;
}

void SilenceFill::advance(uint32_t tick) noexcept {
    if (!running) return;
    elapsedMs += static_cast<uint32_t>(tick - lastTick);
    lastTick = tick;
}

void SilenceFill::growProvisional() noexcept {
    uint64_t slack = framesIn(s.slackMs, s.rate);
    uint64_t clock = due();
    if (clock <= slack) return;
    uint64_t target = clock - slack;
    if (committed + provisional < target) provisional = target - committed;
}

uint64_t SilenceFill::commit(uint64_t frames) noexcept {
    frames = std::min(frames, provisional);
    provisional -= frames;
    committed += frames;
    silenceFrames += frames;
    quietSilence += frames;
    return frames;
}

uint64_t SilenceFill::quiet(uint32_t tick, uint64_t room) noexcept {
    advance(tick);
    growProvisional();
    uint64_t slack = framesIn(s.slackMs, s.rate);
    bool starting = !heardAny && elapsedMs < s.startMs;
    uint64_t limit =
        starting ? framesIn(s.startMs, s.rate) : std::min(framesIn(s.holdMs, s.rate), room > slack ? room - slack : 0);
    return provisional > limit ? commit(provisional - limit) : 0;
}

uint64_t SilenceFill::absent(uint32_t tick) noexcept {
    advance(tick);
    uint64_t clock = due();
    if (committed + provisional < clock) provisional = clock - committed;
    return commit(provisional);
}

uint64_t SilenceFill::packet(uint32_t tick, uint64_t position, uint32_t frames, bool discontinuity) noexcept {
    advance(tick);
    // The first packet after a start carries the flag on some systems; there
    // only the position (or a replaced device) tells of a gap.
    bool gap = firstPacket
                   ? (replacementStream || position != expectedPosition || (!heardAny && s.silentBeforeFirstPacket))
                   : (discontinuity || position != expectedPosition);
    uint64_t before = 0;
    if (gap) {
        growProvisional();
        // The jump of the position counts the silence already handed on.
        uint64_t jump = position > expectedPosition ? position - expectedPosition : 0;
        uint64_t owed = jump > quietSilence ? jump - quietSilence : 0;
        uint64_t clock = due();
        uint64_t room = clock > committed ? clock - committed : 0;
        provisional = std::max(provisional, std::min(owed, room));
        if (!heardAny && s.silentBeforeFirstPacket) {
            // What loopback hears ends about now, and the stream may hand on
            // at once what it buffered before: the silence never reaches
            // beyond where the packet begins.
            provisional = std::min(provisional, room > frames ? room - frames : 0);
        }
        before = commit(provisional);
    } else if (!heardAny) {
        // The recording's first packet: the device has only just started.
        startLag += provisional;
        withdrawnFrames += provisional;
        provisional = 0;
    } else {
        withdrawnFrames += provisional;
        stalledFrames += quietSilence;
        provisional = 0;
    }
    committed += frames;
    quietSilence = 0;
    expectedPosition = position + frames;
    firstPacket = false;
    heardAny = true;
    replacementStream = false;
    return before;
}

uint64_t SilenceFill::changeRate(uint32_t tick, uint32_t rate) noexcept {
    advance(tick);
    uint64_t clock = due();
    uint64_t owed = 0;
    if (clock > committed) {
        provisional = clock - committed;
        owed = commit(provisional);
    }
    s.rate = rate;
    base = 0;
    committed = 0;
    provisional = 0;
    quietSilence = 0;
    startLag = 0;
    elapsedMs = 0;
    lastTick = tick;
    return owed;
}

uint64_t SilenceFill::stop(uint32_t tick) noexcept {
    advance(tick);
    growProvisional();
    if (provisional > 0) provisional = due() - committed;  // a quiet: up to the clock
    running = false;
    return commit(provisional);
}

}  // namespace kit
