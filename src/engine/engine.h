// The recording engine: the one doorway between the user interface and the
// recording machinery. One object, owned by the user interface and called on
// its thread only; the worker threads report through the EngineEvents given
// at its construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "encoding.common/rate_parts.h"
#include "encoding.common/sound_format.h"

namespace kit {
class Mixer;
class SoundRecorder;
class WaveInDevice;
class PeriodicReminder;
class OutOfSpaceReminder;
}  // namespace kit

namespace engine {

// A recording starts before its file is chosen: until setOutputFile, what is
// recorded waits in memory. The user interface closes its recording options
// dialog (as Cancel) once it has been open kOutputChoiceMs; the capture keeps
// everything recorded in that time, with a margin for a late close.
constexpr unsigned kOutputChoiceMs = 60000;
constexpr unsigned kBacklogMs = kOutputChoiceMs + 15000;

// Output formats of setOutputFile (also stored as LastFormat).
constexpr int FORMAT_MP3_128 = 1;
constexpr int FORMAT_MP3_96 = 2;
constexpr int FORMAT_WAV = 3;
constexpr int FORMAT_MP3_BITRATE = 4;  // MP3 at the bitrate given to setOutputFile
constexpr int FORMAT_FLAC = 5;         // FLAC, compression level 5

// What became of the last recording that was finished (not aborted).
struct RecordingOutcome {
    bool saved = false;                  // a file was written
    uint64_t recordedMs = 0;             // sound in the file
    uint64_t lostMs = 0;                 // sound lost on the way: dropped, or never returned by the device
    bool deviceLost = false;             // the recording device failed or went away; the recording ended there
    uint32_t deviceChanges = 0;          // the capture moved on to another device (a playback device went away)
    uint32_t rateChanges = 0;            // the device's rate changed: the recording went on in another file
    uint32_t parts = 0;                  // files written (a long WAV goes on in "take (2).wav", ...)
    std::vector<kit::FilePart> files{};  // each file written, in order, with its length
    int bits = 16;                       // bits of the files' samples (24: a WAV or FLAC chosen so)
};

// What a recording records from.
struct CaptureSource {
    bool loopback = false;  // what the playback device plays; else the recording line
    std::string device;     // the playback device's name with loopback ("" when unknown)
    bool fellBack = false;  // loopback was chosen but could not be opened: the line records
};

// What the capture of the recording under way hears (see kit::LevelMeter).
struct CaptureLevels {
    int left = 0;  // peaks of the latest block, 0..32767
    int right = 0;
    uint32_t silences = 0;  // stretches of two minutes of silence so far
    bool silent = false;    // the current stretch of silence has lasted two minutes
    uint32_t blocks = 0;    // blocks measured
};

enum class StartResult { started, alreadyRecording, failed };
// finish: `finishing` (the file is completed in the background and
// recordingFinished follows), or nothing was under way, or it failed (reported).
// abort: `ended` (everything is closed), notRecording or failed.
enum class EndResult { ended, finishing, notRecording, failed };

// What the engine's worker threads report. Each call comes on a worker
// thread and must return quickly (the user interface posts a letter).
class EngineEvents {
public:
    virtual ~EngineEvents() = default;
    // The recording must stop: the output or the device is too slow, or the
    // output failed (a full disk, ...). `reason` is for the user.
    virtual void mustStop(const std::string& reason) = 0;
    // Every 30 minutes of a recording, while the reminder is on.
    virtual void halfHourRecorded() = 0;
    // The disk of the output is nearly full: `mustStop` below 10 MiB, a
    // warning below 20 MiB.
    virtual void diskSpaceLow(bool mustStop) = 0;
    // A finish is done: the file is complete (see lastRecordingOutcome).
    virtual void recordingFinished() = 0;
};

// What tests put in place of the platform's (null: the platform's).
struct EngineSeams {
    kit::WaveInDevice* captureDevice = nullptr;
    kit::Mixer* mixer = nullptr;
    kit::WaveInDevice* loopbackDevice = nullptr;  // in place of the WASAPI loopback capture
};

class Finalizer;
struct Recording;

class Engine {
public:
    // Reads the settings (on a first run, the defaults are stored). Failures
    // are reported; the engine is usable all the same.
    explicit Engine(EngineEvents& events, EngineSeams seams = {});
    // Waits for a finish under way. Never throws: a failure is reported and
    // ends the process with the fatal exit code.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The settings: the engine's one record of them, read at the construction,
    // replaced by storeSettings, and changed by calibrate (what the
    // calibration found) and setOutputFile (the format). Reads no registry.
    const Settings& settings() const noexcept { return settings_; }
    // Whether the settings came from the store (false on a first run).
    bool settingsWereStored() const noexcept { return settingsStored_; }
    // The settings become the engine's record and are stored; the Run key's
    // entry is set or removed as startWithWindows says.
    void storeSettings(const Settings& changed);
    // The half-hour reminder of a recording on or off (the setting itself is
    // stored with storeSettings).
    void setHalfHourReminder(bool on) noexcept { halfHourReminder_ = on; }

    // True when the calibration succeeded; a failure has been reported (lastProblem).
    bool calibrate();

    StartResult start();
    // True when the encoder for the file is attached. On false no file is
    // left behind that this call created, and outputFailureText says why.
    // `bits` (16 or 24) is the depth of a WAV or FLAC file of a recording
    // that offersDeepFiles; any other file is 16-bit. The choice for WAV and
    // FLAC where it was offered is stored as LastBits.
    bool setOutputFile(const std::string& path, int format, int bitrate, int bits = 16);
    const std::string& outputFailureText() const noexcept { return outputFailure_; }
    EndResult finish();
    EndResult abort();

    bool isRecording() const noexcept { return recording_ != nullptr; }
    bool hasOutput() const noexcept;
    // The recording device of the current recording has failed or gone away:
    // the recording holds what came before and should be finished.
    bool isCaptureDeviceLost() const;
    // The capture of the current recording has no device to record from
    // (every playback device is gone): it records silence until one is there.
    bool isCaptureSearching() const;
    // The current recording's format (the line's, or loopback's at the
    // playback device's rate).
    kit::SoundFormat recordingFormat() const;
    // Whether the recording under way can go into a 24-bit WAV or FLAC (the
    // loopback capture keeps that depth; the recording line is 16-bit).
    bool offersDeepFiles() const noexcept;
    // The rate the recording under way began at (the playback device's for
    // loopback); 0 when none is under way.
    uint32_t recordingRate() const noexcept;
    // The source of the recording under way; when none is, the one the next
    // start tries first (the playback device's name is asked for).
    CaptureSource captureSource() const;
    // What the capture of the recording under way hears (zeros when none is).
    CaptureLevels captureLevels() const noexcept;
    // The last recording finished with finish (valid once recordingFinished
    // has been called; any thread).
    RecordingOutcome lastRecordingOutcome() const;
    // Why the last start or calibrate failed, in words for the user, or ""
    // when there are none beyond the problem report.
    const std::string& lastProblem() const noexcept { return problem_; }

    // For tests: the current recording's capture (null when none).
    const kit::SoundRecorder* recorderForTests() const;
    // For tests: the capture source of the next start, not stored.
    void useSourceForTests(int32_t captureSource) noexcept { settings_.captureSource = captureSource; }
    Finalizer& finalizerForTests() noexcept { return *finalizer_; }

private:
    void makeRecorder(Recording& recording);
    void dropOutput(bool existed, const std::string& path);
    void stopReminders();
    void finished(const RecordingOutcome& outcome);

    EngineEvents& events_;
    kit::WaveInDevice* captureDevice_;
    kit::WaveInDevice* loopbackDevice_;
    CaptureSource source_;  // of the recording under way
    std::unique_ptr<kit::Mixer> ownMixer_;
    kit::Mixer* mixer_;
    Settings settings_;
    bool settingsStored_ = false;
    std::atomic<bool> halfHourReminder_{false};
    std::unique_ptr<kit::PeriodicReminder> periodicReminder_;
    std::unique_ptr<kit::OutOfSpaceReminder> spaceReminder_;
    std::unique_ptr<Finalizer> finalizer_;
    std::unique_ptr<Recording> recording_;  // the current recording; a finish hands it to the finalizer
    std::string problem_;
    std::string outputFailure_;
    mutable std::mutex outcomeLock_;
    RecordingOutcome outcome_;  // written by the finalizer's thread
};

// The proposed file name of a recording: the current local time as
// "SNT_%d_%m_%y__%H-%M-%S".
std::string proposedFileName();

}  // namespace engine
