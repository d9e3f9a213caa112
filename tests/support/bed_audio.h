// Sound on the test bed: known signals, WAV files, playing them into the bed's
// null sink with the native paplay, and finding a played signal in a capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Interleaved stereo samples of a deterministic pseudo-random signal. Every
// stretch of a few samples is unique, so a capture can be located exactly.
std::vector<int16_t> pseudoRandomSignal(std::size_t frames, uint32_t seed, int amplitude = 12000);
// A sine tone on both channels.
std::vector<int16_t> toneSignal(double frequency, double seconds, int amplitude);
// Something like music, for the encoders' benchmarks: three tones whose
// levels drift, over a little noise.
std::vector<int16_t> musicLikeSignal(double seconds);

// Writes a PCM WAV file (16-bit).
void writeWav(const std::string& path, const std::vector<int16_t>& samples, int channels = kChannels, int rate = kRate);

// The data of a PCM WAV file with its header fields, for checks.
struct WavFile {
    bool valid = false;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
    uint32_t samplesPerSec = 0, avgBytesPerSec = 0;
    uint64_t fileSize = 0;
    std::vector<int16_t> samples;    // the data chunk, as far as the file holds it
    std::vector<int32_t> samples24;  // the same, of a 24-bit file
};
WavFile readWav(const std::string& path);

// The Unix path of a Windows path (for native programs).
std::string unixPath(const std::string& windowsPath);

// Starts a native program of the host (for example /usr/bin/paplay). Wine does
// not track native children: the program ends by itself.
bool startNative(const std::string& commandLine);

// Records `seconds` of 2 x 16 bit x 44100 Hz through the wave mapper in one
// block; empty when the device cannot be opened or delivers nothing in time.
std::vector<int16_t> captureSeconds(double seconds);

// Plays a WAV file into the bed's sink (paplay, in the background).
bool playIntoSink(const std::string& wavPath);

// Stops the bed's sound server (the recording device goes away, as an
// unplugged one does: Wine's capture stops and its calls fail) or starts it
// again, and waits until that is done. False when the bed runs no sound
// server of its own, or it did not happen in time.
bool setBedSoundServer(bool running, unsigned timeoutMs = 15000);

// Stops the bed's sound server for as long as it lives, then starts it again.
class SoundServerStopped {
public:
    SoundServerStopped() : stopped(setBedSoundServer(false)) {}
    ~SoundServerStopped() { setBedSoundServer(true); }
    SoundServerStopped(const SoundServerStopped&) = delete;
    SoundServerStopped& operator=(const SoundServerStopped&) = delete;
    bool ok() const { return stopped; }

private:
    bool stopped;
};

// Changes the bed's playback devices as plugging does (tools/bed-sound.sh:
// "line-silent", "unplug", "no-sink", "plug", "reset") and waits until the
// sound server has done it. False when the bed runs no sound server of its own.
bool changeBedSound(const std::string& change, unsigned timeoutMs = 15000);

// Where `needle` (interleaved frames) starts inside `haystack`, in frames, or -1.
long findSignal(const std::vector<int16_t>& haystack, const std::vector<int16_t>& needle, std::size_t probeFrames = 64);

// Comparing a capture with what was played: the capture is searched for the
// played signal; from there on every sample must match until either ends.
struct SignalMatch {
    long playedOffset = -1;    // frame of the played signal where the capture's copy begins
    long capturedOffset = -1;  // frame of the capture where it begins
    std::size_t matchedFrames = 0;
    std::size_t firstMismatch = 0;  // frames after the start; == matchedFrames when none
    bool exact = false;             // matched until the end of the capture or of the signal
};
SignalMatch matchCapture(const std::vector<int16_t>& captured, const std::vector<int16_t>& played);

// A capture that is the played signal with pieces left out: from its first
// matching frame on, each run is an exact copy of the signal, and each run
// begins later in the signal than the last one ended.
struct Skips {
    bool ok = false;                // everything after the first match is accounted for
    std::size_t runs = 0;           // exact copies, in order
    std::size_t skippedFrames = 0;  // frames of the signal between the runs
};
Skips skipsInCapture(const std::vector<int16_t>& captured, const std::vector<int16_t>& played);

// Root-mean-square level and the dominant frequency (zero crossings) of one channel.
double rmsLevel(const std::vector<int16_t>& samples, int channel = 0);
double zeroCrossingFrequency(const std::vector<int16_t>& samples, int channel = 0, int rate = kRate);

}  // namespace testsupport
