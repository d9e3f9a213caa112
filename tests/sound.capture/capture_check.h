// Checks that a recording holds a played signal whole: every played sample
// that falls inside the recording is there, in order, bit for bit, with no
// gap and no duplicate; outside the signal the recording holds silence.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/bed_audio.h"

namespace testsupport {

struct Coverage {
    bool ok = false;
    std::string why;           // what is wrong, when not ok
    long capturedOffset = -1;  // frame of the recording where the signal's copy begins
    long playedOffset = -1;    // frame of the signal found there
    std::size_t matchedFrames = 0;
    bool signalStartInside = false;  // the recording holds the signal's first frame
    bool signalEndInside = false;    // ... and its last one
};

inline Coverage playedSignalInside(const std::vector<int16_t>& recorded, const std::vector<int16_t>& played) {
    Coverage c;
    SignalMatch m = matchCapture(recorded, played);
    c.capturedOffset = m.capturedOffset;
    c.playedOffset = m.playedOffset;
    c.matchedFrames = m.matchedFrames;
    std::size_t recFrames = recorded.size() / kChannels, playFrames = played.size() / kChannels;
    auto silentBetween = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from * kChannels; i < to * kChannels; ++i)
            if (recorded[i] != 0) return false;
        return true;
    };
    if (m.capturedOffset < 0) {
        c.why = "the played signal is not in the recording";
        return c;
    }
    std::size_t at = static_cast<std::size_t>(m.capturedOffset);
    std::size_t from = static_cast<std::size_t>(m.playedOffset);
    c.signalStartInside = from == 0;
    if (from != 0 && at != 0) {
        c.why = "frames missing: the recording's frame " + std::to_string(at) + " holds the signal's frame " +
                std::to_string(from) + " and what precedes it is not the signal";
        return c;
    }
    if (from == 0 && !silentBetween(0, at)) {
        c.why = "sound before the signal began (" + std::to_string(at) + " frames)";
        return c;
    }
    if (!m.exact) {
        c.why = "the recording departs from the signal after " + std::to_string(m.matchedFrames) + " frames";
        return c;
    }
    c.signalEndInside = from + m.matchedFrames == playFrames;
    if (c.signalEndInside && !silentBetween(at + m.matchedFrames, recFrames)) {
        c.why = "sound after the signal ended";
        return c;
    }
    c.ok = true;
    return c;
}

// What a coverage found, for a failure message.
inline std::string describe(const Coverage& c) {
    return c.why + " (recording frame " + std::to_string(c.capturedOffset) + ", signal frame " +
           std::to_string(c.playedOffset) + ", " + std::to_string(c.matchedFrames) + " frames matched)";
}

// Waits until a 100 ms capture of the bed's sink is silent (zeros only) or,
// with `sound`, holds sound. False when that does not happen within the time.
inline bool waitForSink(bool sound, DWORD timeoutMs) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = kChannels;
    f.wBitsPerSample = 16;
    f.nSamplesPerSec = kRate;
    f.nBlockAlign = 4;
    f.nAvgBytesPerSec = kRate * 4;
    HWAVEIN device = nullptr;
    if (::waveInOpen(&device, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
    std::vector<int16_t> samples(kRate / 10 * kChannels);
    WAVEHDR h{};
    h.lpData = reinterpret_cast<char*>(samples.data());
    h.dwBufferLength = static_cast<DWORD>(samples.size() * 2);
    ::waveInPrepareHeader(device, &h, sizeof h);
    ::waveInStart(device);
    bool reached = false;
    DWORD t0 = ::GetTickCount();
    while (!reached && ::GetTickCount() - t0 < timeoutMs) {
        h.dwFlags &= ~WHDR_DONE;
        ::waveInAddBuffer(device, &h, sizeof h);
        while (!(h.dwFlags & WHDR_DONE) && ::GetTickCount() - t0 < timeoutMs) ::Sleep(10);
        if (!(h.dwFlags & WHDR_DONE)) break;
        bool silent = h.dwBytesRecorded == h.dwBufferLength;
        for (int16_t v : samples) silent = silent && v == 0;
        reached = sound ? !silent : silent;
    }
    ::waveInReset(device);
    ::waveInUnprepareHeader(device, &h, sizeof h);
    ::waveInClose(device);
    return reached;
}

// So that what an earlier test left playing does not mix into the next signal.
inline bool waitForSilentSink(DWORD timeoutMs) { return waitForSink(false, timeoutMs); }
// So that a signal just started is under way before a recording begins.
inline bool waitForSoundInSink(DWORD timeoutMs) { return waitForSink(true, timeoutMs); }
// Until a signal of `lengthMs` played from `playStart` (a tick count) has
// ended, with a margin: the next test begins with a silent sink.
inline bool waitForSignalEnd(DWORD playStart, DWORD lengthMs) {
    DWORD gone = ::GetTickCount() - playStart;
    return waitForSilentSink((gone < lengthMs ? lengthMs - gone : 0) + 3000);
}

}  // namespace testsupport
