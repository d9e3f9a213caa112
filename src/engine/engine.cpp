#include "engine/engine.h"

#include "engine/depth_encoder.h"
#include "engine/finalizer.h"
#include "engine/recording.h"
#include "engine/output_messages.h"
#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "encoding.common/rate_parts.h"
#include "encoding.flac/flac_encoding.h"
#include "encoding.mp3/mp3_encoding.h"
#include "encoding.wave/wave_encoding.h"
#include "kit/exceptions.h"
#include "mixer/kit_mixer.h"
#include "reminders/reminders.h"
#include "sound.capture/wasapi_wave_in.h"

namespace engine {
namespace {

// The events file has always named this source so.
constexpr const char* kTraceSource = "backend/snt_dll";

// The recording line's format, and loopback's where the device tells no rate.
constexpr kit::SoundFormat kCaptureFormat{2, 16, 44100};
constexpr unsigned kBlockMs = 100;

// An MP3 encoder that owns the format it was made for (any bitrate, the
// recording's rate), so the format lives exactly as long as the encoder that
// points at it.
struct OwnedMp3Format {
    kit::Mp3Format ownedFormat;
};
class Mp3EncoderWithFormat : private OwnedMp3Format, public kit::Mp3SoundEncoder {
public:
    // cppcheck-suppress uninitDerivedMemberVar ; OwnedMp3Format{...} initialises ownedFormat
    Mp3EncoderWithFormat(const char* path, int bitrate, int32_t rate)
        : OwnedMp3Format{{bitrate, rate, false}}, Mp3SoundEncoder(path, &ownedFormat) {}
};

bool knownFormat(int format) { return format >= FORMAT_MP3_128 && format <= FORMAT_FLAC; }

// The file takes the recording's format: its rate is the capture's. Part
// `number` of the recording (1: the path itself) at `recording`'s rate; a
// change of rate goes on in the next part (RatePartsEncoder).
kit::smartptr<kit::ISoundEncoder> makePart(const std::string& path, uint32_t number, int format, int bitrate,
                                           const kit::SoundFormat& recording) {
    std::string file = number > 1 ? kit::partFileName(path, number) : path;
    switch (format) {
    case FORMAT_MP3_128: return new Mp3EncoderWithFormat(file.c_str(), 128, recording.samplesPerSec);
    case FORMAT_MP3_96: return new Mp3EncoderWithFormat(file.c_str(), 96, recording.samplesPerSec);
    case FORMAT_WAV: return new kit::WaveSoundEncoder(path.c_str(), &recording, 0, number);
    case FORMAT_MP3_BITRATE: return new Mp3EncoderWithFormat(file.c_str(), bitrate, recording.samplesPerSec);
    case FORMAT_FLAC: return new kit::FlacSoundEncoder(file.c_str(), &recording);
    default: return nullptr;
    }
}

// The file's bits: 24 where WAV or FLAC was asked for it and the recording
// keeps that depth (loopback's 32-bit blocks), else 16.
int fileBits(int format, int bits, const kit::SoundFormat& recording) {
    bool deep = (format == FORMAT_WAV || format == FORMAT_FLAC) && recording.bitsPerSample == 32;
    return deep && bits == 24 ? 24 : 16;
}

// The files of a recording, in the file's format (`file`: 16 or 24 bits).
kit::smartptr<kit::RatePartsEncoder> makeParts(const char* path, int format, int bitrate, const kit::SoundFormat& file,
                                               kit::SilenceRules rules) {
    if (!knownFormat(format)) return nullptr;
    return new kit::RatePartsEncoder(
        path, file,
        [=](const std::string& first, uint32_t n, const kit::SoundFormat& f) {
            return makePart(first, n, format, bitrate, f);
        },
        std::move(rules));
}

// The silence rules the settings ask for; a long silence asks the user
// interface to end the recording, saying why.
kit::SilenceRules silenceRules(const Settings& settings, EngineEvents& events) {
    kit::SilenceRules rules;
    rules.startOnSound = settings.silenceStart;
    rules.splitMs = settings.silenceSplit ? static_cast<uint32_t>(settings.silenceSplitSeconds) * 1000u : 0u;
    rules.stopMs = settings.silenceStop ? static_cast<uint32_t>(settings.silenceStopMinutes) * 60000u : 0u;
    rules.thresholdDbfs = settings.silenceThresholdDbfs;
    rules.onLongSilence = [&events, minutes = settings.silenceStopMinutes] {
        events.mustStop(silenceStoppedText(static_cast<uint32_t>(minutes)));
    };
    return rules;
}

constexpr const char* kNoDevice =
    "No recording device was found.\n\nConnect a microphone or another recording device, or enable one in the "
    "sound settings of Windows, then try again.";

// Runs `work`; a failure the user can act on leaves its words in `problem`
// before it goes on to the caller's handlers.
template <class Work>
void notingProblem(std::string& problem, Work&& work) {
    try {
        work();
    } catch (const kit::UserError& error) {
        problem = error.message().c_str();
        throw;
    } catch (const kit::MMError& error) {
        if (kit::isMissingDevice(error.resultCode())) problem = kNoDevice;
        throw;
    }
}

// Ends the capture and the stream without saving and releases them with the
// encoder: a half-made recording after a failed start (quietly), or an
// aborted one (each step traced).
enum class DropTrace { quiet, steps };

void dropRecording(std::unique_ptr<Recording>& recording, DropTrace trace) {
    if (!recording) return;
    bool traced = trace == DropTrace::steps;
    if (recording->recorder) {
        if (traced) FW_TRACE("recorder->finish (true)");
        recording->recorder->finish(true);
    }
    recording->recorder.reset();
    if (recording->stream) {
        if (traced) FW_TRACE("stream->finish (true)");
        recording->stream->finish(true);
    }
    recording.reset();
}

}  // namespace

Engine::Engine(EngineEvents& events, EngineSeams seams)
    : events_(events), captureDevice_(seams.captureDevice), loopbackDevice_(seams.loopbackDevice), mixer_(seams.mixer) {
    FW_TRACE("sntdll: init()");
    fw::catchAndReport(kTraceSource, __LINE__, [&] {
        if (!mixer_) {
            ownMixer_ = std::make_unique<kit::Mixer>();
            mixer_ = ownMixer_.get();
        }
        finalizer_ = std::make_unique<Finalizer>([this](const RecordingOutcome& outcome) { finished(outcome); });
        settingsStored_ = settings_.load();
        periodicReminder_ = std::make_unique<kit::PeriodicReminder>(
            [this](int) {
                if (halfHourReminder_) events_.halfHourRecorded();
            },
            1800);
        spaceReminder_ = std::make_unique<kit::OutOfSpaceReminder>(
            [this](uint64_t* freeBytes) { events_.diskSpaceLow(freeBytes != nullptr); }, settings_.storageDir.c_str());
    });
    halfHourReminder_ = settings_.remind30min;
    FW_TRACE("init done");
}

Engine::~Engine() {
    FW_TRACE("destroy()");
    // A wait that fails here (or an object that cannot be stopped) leaves no
    // way to end cleanly: it is reported and the process ends with the fatal code.
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        if (recording_) dropRecording(recording_, DropTrace::steps);
        if (finalizer_) finalizer_->waitFor(INFINITE);  // a finish still under way ends first
        stopReminders();
        settings_.save();
    });
}

void Engine::storeSettings(const Settings& changed) {
    FW_TRACE("writeConfig()");
    settings_ = changed;
    if (settings_.startWithWindows)
        settings_.enableAutostart();
    else
        settings_.disableAutostart();
    settings_.startWithWindows = settings_.isAutostartEnabled();  // as it is, should the Run key refuse
    settings_.save();
}

bool Engine::calibrate() {
    FW_TRACE("mixer->calibrateLines ()");
    problem_.clear();
    return !fw::catchAndReport(kTraceSource, __LINE__, [&] {
        kit::CalibrationResult result;
        notingProblem(problem_, [&] { result = mixer_->calibrate(500); });
        settings_.captureSource = result.loopback ? Settings::kSourceLoopback : Settings::kSourceRecordingLine;
        if (result.lineChosen) {
            settings_.line = static_cast<int32_t>(result.line);
            settings_.volumeLevel = static_cast<int32_t>(result.level);
        }
        settings_.volumeCoeff = result.coefficient;
        settings_.needCalibration = false;
        settings_.save();
    });
}

// The capture the calibration chose: the loopback capture of the playback
// device, or the recording line, selected, unmuted and at its level. Where the
// loopback capture cannot open (the platform refuses it, or there is no
// playback device), the recording line records instead.
void Engine::makeRecorder(Recording& r) {
    const Settings& cfg = settings_;
    source_ = {};
    if (cfg.captureSource == Settings::kSourceLoopback) {
        try {
            FW_TRACE("new SoundRecorder (loopback): stream = %p, volumeCoeff = %lf", static_cast<void*>(r.stream.get()),
                     cfg.volumeCoeff);
            // At the playback device's own rate where it tells one (see wasapi_wave_in.h).
            uint32_t rate = loopbackDevice_ ? 0 : kit::wasapiLoopback().mixRate();
            // 32-bit samples: the file takes 16 or 24 bits of them (depth_encoder.h).
            kit::SoundFormat format{2, 32, rate ? static_cast<int32_t>(rate) : kCaptureFormat.samplesPerSec};
            FW_TRACE("loopback at %u Hz", static_cast<unsigned>(format.samplesPerSec));
            kit::WaveInDevice* device = loopbackDevice_;
            if (!device) device = &kit::wasapiLoopback();
            r.recorder = new kit::SoundRecorder(r.stream, format, cfg.volumeCoeff, kBlockMs, kBacklogMs, *device);
            r.format = format;
            source_ = {true, loopbackDevice_ ? std::string() : kit::wasapiLoopback().deviceName(), false};
            return;
        } catch (const kit::MMError& error) {
            FW_LOG(fw::LEVEL_WARN, "LoopbackRefused", "loopback capture not available (%s): recording from the line",
                   error.message().c_str());
            source_.fellBack = true;
        }
    }
    kit::VolumeRecord volume(static_cast<uint32_t>(cfg.volumeLevel));
    FW_TRACE("prepareLine: line = %d, vol = %d", cfg.line, cfg.volumeLevel);
    mixer_->prepareLine(static_cast<uint32_t>(cfg.line), volume, false);
    FW_TRACE("new SoundRecorder: stream = %p, volumeCoeff = %lf, line = %d", static_cast<void*>(r.stream.get()),
             cfg.volumeCoeff, cfg.line);
    notingProblem(problem_, [&] {
        kit::WaveInDevice& device = captureDevice_ ? *captureDevice_ : kit::systemWaveIn();
        r.recorder = new kit::SoundRecorder(r.stream, kCaptureFormat, cfg.volumeCoeff, kBlockMs, kBacklogMs, device);
        r.format = kCaptureFormat;
    });
}

StartResult Engine::start() {
    FW_TRACE("startRecording()");
    if (recording_) {
        FW_TRACE("Already started. Returning SE_ALREADY_START.");
        return StartResult::alreadyRecording;
    }
    problem_.clear();
    {
        std::lock_guard<std::mutex> g(outcomeLock_);
        outcome_ = {};
    }
    auto recording = std::make_unique<Recording>();
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        recording->stream = new kit::GenericSoundEncodingStream();
        makeRecorder(*recording);
        recording->recorder->setTooSlowHandler([this](const char* message) { events_.mustStop(message); });
        recording->recorder->start();
        FW_TRACE("remind30min = %d", halfHourReminder_ ? 1 : 0);
        if (periodicReminder_) periodicReminder_->start();
    });
    if (failed) {
        // Nothing half made stays behind: no running capture, no open device.
        fw::catchAndReport(kTraceSource, __LINE__, [&] {
            dropRecording(recording, DropTrace::quiet);
            if (periodicReminder_) periodicReminder_->stop();
        });
        FW_TRACE("Returning SE_ERROR.");
        return StartResult::failed;
    }
    recording_ = std::move(recording);
    FW_TRACE("Successfully started.");
    return StartResult::started;
}

// An output that could not be attached: the watcher stops, and a file that
// this attempt created (an encoder that failed after opening it) goes away,
// so that no file exists where the user is told that nothing was saved.
void Engine::dropOutput(bool existed, const std::string& path) {
    fw::catchAndReport(kTraceSource, __LINE__, [&] {
        if (spaceReminder_ && spaceReminder_->isRunning()) spaceReminder_->stop();
    });
    if (!existed && ::DeleteFileA(path.c_str())) FW_TRACE("Removed the unfinished file %s", path.c_str());
}

bool Engine::setOutputFile(const std::string& path, int format, int bitrate, int bits) {
    FW_TRACE("setOutputFile()");
    outputFailure_ = outputFailedText(path, kit::OutputFault::none, 0);
    if (!recording_) {  // no recording: no file either
        FW_TRACE("Not started. Returning 0.");
        return false;
    }
    if (recording_->encoder) {
        FW_TRACE("Output file is already selected. Returning 0.");
        return false;
    }
    if (!knownFormat(format)) {
        FW_TRACE("Unknown format. Returning 0.");
        return false;
    }
    bool existed = ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool refused = false;
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        // Everything that can fail comes before the file is made.
        if (spaceReminder_) {
            FW_TRACE("outOfSpaceReminder->setPath (), path = %s", path.c_str());
            spaceReminder_->setPath(path.c_str());
            spaceReminder_->start();
        }
        kit::SoundFormat file = recording_->format;
        file.bitsPerSample = fileBits(format, bits, recording_->format);
        kit::smartptr<kit::RatePartsEncoder> parts;
        try {
            parts = makeParts(path.c_str(), format, bitrate, file, silenceRules(settings_, events_));
        } catch (const kit::OutputError& error) {
            // The user's choice, not a fault of the program: said in words, no problem report.
            FW_LOG(fw::LEVEL_WARN, "OutputNotMade", "%s (error %u): %s", error.message().c_str(), error.code,
                   path.c_str());
            outputFailure_ = outputFailedText(path, error.fault, error.code);
            refused = true;
            return;
        }
        recording_->stream->setOutputFailureHandler(
            [this](const kit::OutputError& error) { events_.mustStop(outputStoppedText(error.fault, error.code)); });
        // 32-bit blocks are narrowed to the file's bits before the files' encoder.
        kit::smartptr<kit::ISoundEncoder> encoder(parts);
        if (recording_->format.bitsPerSample == 32) encoder = new DepthEncoder(parts, file.bitsPerSample);
        recording_->stream->setEncoder(encoder);  // (an encoder that fails here closes its file as it goes)
        recording_->encoder = encoder;
        recording_->parts = parts;
    });
    if (failed || refused) {
        dropOutput(existed, path);
        return false;
    }
    settings_.lastFormat = format;
    bool deep = recording_->format.bitsPerSample == 32;  // the choice was offered
    if (deep && (format == FORMAT_WAV || format == FORMAT_FLAC)) settings_.lastBits = bits == 24 ? 24 : 16;
    recording_->fileBits = fileBits(format, bits, recording_->format);
    settings_.save();
    return true;
}

bool Engine::hasOutput() const noexcept { return recording_ && recording_->encoder; }

void Engine::stopReminders() {
    if (periodicReminder_ && periodicReminder_->isRunning()) periodicReminder_->stop();
    if (spaceReminder_ && spaceReminder_->isRunning()) spaceReminder_->stop();
}

EndResult Engine::finish() {
    FW_TRACE("finishRecording()");
    if (!recording_) {
        FW_TRACE("Not started. Returning FE_NOT_STARTED.");
        return EndResult::notRecording;
    }
    bool abandon = !recording_->encoder;
    // The capture is told first; the reminders' threads (which take up to a
    // sleep step to end) are stopped while the finalizer finishes.
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        finalizer_->begin(std::move(recording_), abandon);
        stopReminders();
    });
    if (failed) {
        fw::catchAndReport(kTraceSource, __LINE__, [&] { dropRecording(recording_, DropTrace::steps); });
        return EndResult::failed;
    }
    FW_TRACE("Returning FE_DELAYED.");
    return EndResult::finishing;
}

void Engine::finished(const RecordingOutcome& outcome) {
    {
        std::lock_guard<std::mutex> g(outcomeLock_);
        outcome_ = outcome;
    }
    events_.recordingFinished();
}

EndResult Engine::abort() {
    FW_TRACE("abortRecording()");
    if (!recording_) return EndResult::notRecording;
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        dropRecording(recording_, DropTrace::steps);
        stopReminders();
    });
    recording_.reset();
    if (failed) return EndResult::failed;
    FW_TRACE("Aborted. Returning FE_NO_ERROR.");
    return EndResult::ended;
}

bool Engine::isCaptureDeviceLost() const { return recording_ && recording_->recorder->deviceLost(); }

bool Engine::isCaptureSearching() const { return recording_ && recording_->recorder->devicePresence().searching; }

bool Engine::offersDeepFiles() const noexcept { return recording_ && recording_->format.bitsPerSample == 32; }

uint32_t Engine::recordingRate() const noexcept {
    return recording_ ? static_cast<uint32_t>(recording_->format.samplesPerSec) : 0;
}

kit::SoundFormat Engine::recordingFormat() const { return recording_ ? recording_->format : kit::SoundFormat{}; }

CaptureSource Engine::captureSource() const {
    if (recording_) return source_;
    CaptureSource next;
    next.loopback = settings_.captureSource == Settings::kSourceLoopback;
    if (next.loopback && !loopbackDevice_) next.device = kit::wasapiLoopback().deviceName();
    return next;
}

CaptureLevels Engine::captureLevels() const noexcept {
    if (!recording_ || !recording_->recorder) return {};
    const kit::LevelMeter& meter = recording_->recorder->levels();
    kit::LevelMeter::Peaks peaks = meter.peaks();
    return {peaks.left, peaks.right, meter.silences(), meter.silentNow(), meter.blocks()};
}

RecordingOutcome Engine::lastRecordingOutcome() const {
    std::lock_guard<std::mutex> g(outcomeLock_);
    return outcome_;
}

const kit::SoundRecorder* Engine::recorderForTests() const { return recording_ ? recording_->recorder.get() : nullptr; }

}  // namespace engine
