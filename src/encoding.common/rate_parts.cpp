#include "encoding.common/rate_parts.h"

#include <windows.h>

#include <utility>

#include "diagnostics/eventlog.h"

namespace kit {
namespace {
constexpr const char* kTraceSource = "encoding.common/rate_parts";
constexpr uint32_t kNamesTried = 1000;
}  // namespace

std::string partFileName(const std::string& firstPath, uint32_t n) {
    std::size_t nameAt = firstPath.find_last_of("\\/:");
    nameAt = nameAt == std::string::npos ? 0 : nameAt + 1;
    std::size_t dot = firstPath.rfind('.');
    std::string number = " (" + std::to_string(n) + ")";
    if (dot == std::string::npos || dot <= nameAt) return firstPath + number;
    return firstPath.substr(0, dot) + number + firstPath.substr(dot);
}

RatePartsEncoder::RatePartsEncoder(std::string firstPath, const SoundFormat& format, Factory factory,
                                   SilenceRules silenceRules)
    : first(std::move(firstPath)), fmt(format), make(std::move(factory)), rules(std::move(silenceRules)) {
    current = make(first, 1, fmt);
    written.push_back({first, 0, fmt.samplesPerSec});
    silenceRulesOn = rules.startOnSound || rules.splitMs != 0 || rules.stopMs != 0;
    limits.startOnSound = rules.startOnSound;
    silence = firstSilenceState(limits);
    restartBlocks();
}

// Block, limits and threshold follow the format (a change of rate restarts the block).
void RatePartsEncoder::restartBlocks() {
    limits.splitFrames = framesIn(rules.splitMs, fmt.samplesPerSec);
    limits.stopFrames = framesIn(rules.stopMs, fmt.samplesPerSec);
    level = thresholdPeak(rules.thresholdDbfs, fmt.bitsPerSample);
    uint64_t frames = framesIn(kSilenceBlockMs, fmt.samplesPerSec);
    blockFrames = frames == 0 ? 1 : static_cast<uint32_t>(frames);
    framesInBlock = 0;
    peak = 0;
    preRoll.clear();
}

// Into the file written now; a long WAV that went on in its own next file
// inside these bytes starts a new entry with what that file holds.
void RatePartsEncoder::pass(const uint8_t* data, uint32_t length, void* cookie) {
    if (length == 0) return;
    uint32_t numberBefore = current->lastPartNumber();
    current->encodeChunk(Chunk{data, length, cookie});
    uint32_t align = blockAlign(fmt) ? blockAlign(fmt) : 1u;
    uint32_t number = current->lastPartNumber();
    if (number == numberBefore) {
        written.back().frames += length / align;
        return;
    }
    uint64_t inNew = current->bytesInLastPart();
    written.back().frames += (length - inNew) / align;
    written.push_back({partFileName(first, number), inNew / align, fmt.samplesPerSec});
}

// While waiting for sound: keeps the latest frames, at most the pre-roll and a block.
void RatePartsEncoder::hold(const uint8_t* data, uint32_t length) {
    preRoll.insert(preRoll.end(), data, data + length);
    uint64_t keep = (framesIn(kPreRollMs, fmt.samplesPerSec) + blockFrames) * blockAlign(fmt);
    if (preRoll.size() > keep) preRoll.erase(preRoll.begin(), preRoll.end() - static_cast<std::ptrdiff_t>(keep));
}

void RatePartsEncoder::encodeChunk(const Chunk& chunk) {
    if (!silenceRulesOn) {
        pass(chunk.data, chunk.length, chunk.cookie);
        return;
    }
    uint32_t align = blockAlign(fmt) ? blockAlign(fmt) : 1u;
    const uint8_t* at = chunk.data;
    const uint8_t* end = chunk.data + chunk.length / align * align;
    const uint8_t* unwritten = at;
    while (at < end) {
        uint32_t frames = static_cast<uint32_t>(end - at) / align;
        if (frames > blockFrames - framesInBlock) frames = blockFrames - framesInBlock;
        uint32_t p = blockPeak(at, frames, fmt);
        if (p > peak) peak = p;
        at += static_cast<std::size_t>(frames) * align;
        framesInBlock += frames;
        if (framesInBlock == blockFrames) judgeBlock(at, unwritten, chunk.cookie);
    }
    if (silence.phase == SilencePhase::waiting)
        hold(unwritten, static_cast<uint32_t>(end - unwritten));
    else
        pass(unwritten, static_cast<uint32_t>(end - unwritten), chunk.cookie);
}

// The block that ends at `at` is complete: what it asks happens at `at`.
void RatePartsEncoder::judgeBlock(const uint8_t* at, const uint8_t*& unwritten, void* cookie) {
    bool waiting = silence.phase == SilencePhase::waiting;
    SilenceStep step = nextSilenceStep(silence, peak >= level, blockFrames, limits);
    silence = step.state;
    framesInBlock = 0;
    peak = 0;
    if (waiting) {
        hold(unwritten, static_cast<uint32_t>(at - unwritten));
        unwritten = at;
    }
    switch (step.action) {
    case SilenceAction::begin:
        FW_LOG(fw::LEVEL_VERBOSE, "SoundBegins", "%u bytes before it kept", static_cast<unsigned>(preRoll.size()));
        pass(preRoll.data(), static_cast<uint32_t>(preRoll.size()), cookie);
        preRoll.clear();
        break;
    case SilenceAction::cut:
        pass(unwritten, static_cast<uint32_t>(at - unwritten), cookie);
        unwritten = at;
        goOn(fmt, "SilencePart");
        break;
    case SilenceAction::stop:
        if (!stopTold && rules.onLongSilence) rules.onLongSilence();
        stopTold = true;
        break;
    case SilenceAction::none: break;
    }
}

void RatePartsEncoder::goOn(const SoundFormat& next, const char* why) {
    uint32_t n = current->lastPartNumber() + 1;
    for (uint32_t tried = 0;
         tried < kNamesTried && ::GetFileAttributesA(partFileName(first, n).c_str()) != INVALID_FILE_ATTRIBUTES;
         ++tried)
        ++n;
    smartptr<ISoundEncoder> following = make(first, n, next);
    current->close();
    earlierParts += current->fileParts();
    current = std::move(following);
    written.push_back({partFileName(first, n), 0, next.samplesPerSec});
    FW_LOG(fw::LEVEL_VERBOSE, why, "part %u at %u Hz: %s", static_cast<unsigned>(n),
           static_cast<unsigned>(next.samplesPerSec), partFileName(first, n).c_str());
    fmt = next;
}

void RatePartsEncoder::changeRate(uint32_t samplesPerSec) {
    if (static_cast<int32_t>(samplesPerSec) == fmt.samplesPerSec) return;
    SoundFormat next = fmt;
    next.samplesPerSec = static_cast<int32_t>(samplesPerSec);
    goOn(next, "RatePart");
    restartBlocks();
}

}  // namespace kit
