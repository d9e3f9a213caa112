#include "backend/engine.h"

#include "backend/engine_state.h"
#include "backend/finalizer.h"
#include "backend/output_messages.h"
#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "encoding.common/rate_parts.h"
#include "encoding.flac/flac_encoding.h"
#include "encoding.wave/wave_encoding.h"
#include "kit/exceptions.h"
#include "sound.capture/wasapi_wave_in.h"

namespace backend {
namespace {

// The events file has always named this source so.
constexpr const char* kTraceSource = "backend/snt_dll";

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

kit::smartptr<kit::ISoundEncoder> makeEncoder(const char* path, int format, int bitrate,
                                              const kit::SoundFormat& recording) {
    if (!knownFormat(format)) return nullptr;
    return new kit::RatePartsEncoder(path, recording,
                                     [=](const std::string& first, uint32_t n, const kit::SoundFormat& f) {
                                         return makePart(first, n, format, bitrate, f);
                                     });
}

// An output that could not be attached: the watcher stops, and a file that
// this attempt created (an encoder that failed after opening it) goes away,
// so that no file exists where the user is told that nothing was saved.
void dropOutput(EngineState& e, kit::smartptr<kit::ISoundEncoder>& encoder, const char* path, bool existed) {
    fw::catchAndReport(kTraceSource, __LINE__, [&] {
        if (e.outOfSpaceReminder && e.outOfSpaceReminder->isRunning()) e.outOfSpaceReminder->stop();
    });
    if (e.encoder.get() != encoder.get()) encoder.reset();  // its file is closed with it
    if (!existed && !e.encoder && ::DeleteFileA(path)) FW_TRACE("Removed the unfinished file %s", path);
}

// The output stopped taking the recording (encoding thread): the recording
// is stopped through the user interface's forced stop, with the reason.
void outputStopped(const kit::OutputError& error) {
    std::string text = outputStoppedText(error.fault, error.code);
    if (kit::ForcedStopHandler stop = kit::forcedStopHandler.load()) stop(text.c_str());
}

constexpr const char* kNoDevice =
    "No recording device was found.\n\nConnect a microphone or another recording device, or enable one in the "
    "sound settings of Windows, then try again.";

// Runs `work`; a failure the user can act on leaves its words in the
// engine's problem before it goes on to the caller's handlers.
template <class Work>
void notingProblem(EngineState& e, Work&& work) {
    try {
        work();
    } catch (const kit::UserError& error) {
        e.problem = error.message().c_str();
        throw;
    } catch (const kit::MMError& error) {
        if (kit::isMissingDevice(error.resultCode())) e.problem = kNoDevice;
        throw;
    }
}

kit::WaveInDevice& captureDevice(EngineState& e) { return e.captureDevice ? *e.captureDevice : kit::systemWaveIn(); }

void setOutcome(EngineState& e, const RecordingOutcome& outcome) {
    std::lock_guard<std::mutex> g(e.outcomeLock);
    e.outcome = outcome;
}

// Ends the capture and the stream without saving and releases them with the
// encoder: a half-made recording after a failed start (quietly), or an
// aborted one (each step traced).
enum class DropTrace { quiet, steps };

void dropRecording(EngineState& e, DropTrace trace) {
    bool traced = trace == DropTrace::steps;
    if (e.recorder) {
        if (traced) FW_TRACE("recorder->finish (true)");
        e.recorder->finish(true);
    }
    e.recorder.reset();
    if (e.stream) {
        if (traced) FW_TRACE("stream->finish (true)");
        e.stream->finish(true);
    }
    e.stream.reset();
    e.encoder.reset();
}

// The capture the calibration chose: the loopback capture of the playback
// device, or the recording line, selected, unmuted and at its level. Where the
// loopback capture cannot open (the platform refuses it, or there is no
// playback device), the recording line records instead.
kit::smartptr<kit::SoundRecorder> makeRecorder(EngineState& e, const SntConfig& cfg) {
    if (cfg.captureSource == SntConfig::kSourceLoopback) {
        try {
            FW_TRACE("new SoundRecorder (loopback): stream = %p, volumeCoeff = %lf", static_cast<void*>(e.stream.get()),
                     cfg.volumeCoeff);
            // At the playback device's own rate where it tells one (see wasapi_wave_in.h).
            uint32_t rate = kit::wasapiLoopback().mixRate();
            kit::SoundFormat format{2, 16, rate ? static_cast<int32_t>(rate) : kCaptureFormat.samplesPerSec};
            FW_TRACE("loopback at %u Hz", static_cast<unsigned>(format.samplesPerSec));
            kit::smartptr<kit::SoundRecorder> recorder =
                new kit::SoundRecorder(e.stream, format, cfg.volumeCoeff, kBlockMs, kBacklogMs, kit::wasapiLoopback());
            e.format = format;
            return recorder;
        } catch (const kit::MMError& error) {
            FW_TRACE("loopback capture not available (%s): recording from the line", error.message().c_str());
        }
    }
    kit::VolumeRecord volume(static_cast<uint32_t>(cfg.volumeLevel));
    FW_TRACE("prepareLine: line = %d, vol = %d", cfg.line, cfg.volumeLevel);
    e.mixer->prepareLine(static_cast<uint32_t>(cfg.line), volume, false);
    FW_TRACE("new SoundRecorder: stream = %p, volumeCoeff = %lf, line = %d", static_cast<void*>(e.stream.get()),
             cfg.volumeCoeff, cfg.line);
    kit::smartptr<kit::SoundRecorder> recorder;
    notingProblem(e, [&] {
        recorder =
            new kit::SoundRecorder(e.stream, kCaptureFormat, cfg.volumeCoeff, kBlockMs, kBacklogMs, captureDevice(e));
        e.format = kCaptureFormat;
    });
    return recorder;
}

}  // namespace

namespace {

void destroyEngine(EngineState& e) {
    FW_TRACE("1");
    if (e.finalizer) {
        e.finalizer->waitFor(INFINITE);  // a finish still under way ends first
        delete e.finalizer;
        e.finalizer = nullptr;
    }
    FW_TRACE("2");
    if (e.periodicReminder) {
        if (e.periodicReminder->isRunning()) e.periodicReminder->stop();
        FW_TRACE("3");
        delete e.periodicReminder;
        e.periodicReminder = nullptr;
    }
    FW_TRACE("4");
    if (e.outOfSpaceReminder) {
        if (e.outOfSpaceReminder->isRunning()) e.outOfSpaceReminder->stop();
        FW_TRACE("5");
        delete e.outOfSpaceReminder;
        e.outOfSpaceReminder = nullptr;
    }
    FW_TRACE("6");
    delete e.mixer;
    e.mixer = nullptr;
    FW_TRACE("7");
    engineConfig().save();
}

}  // namespace

EngineState& engineState() {
    static EngineState state;
    return state;
}

SntConfig& engineConfig() {
    static SntConfig config;
    return config;
}

void init() {
    FW_TRACE("sntdll: init()");
    EngineState& e = engineState();
    fw::catchAndReport(kTraceSource, __LINE__, [&] {
        e.mixer = new kit::Mixer();
        e.finalizer = new Finalizer(e, nullptr);
        engineConfig().load();
        e.periodicReminder = new kit::PeriodicReminder(nullptr, 1800);
        e.outOfSpaceReminder = new kit::OutOfSpaceReminder(nullptr, engineConfig().storageDir.c_str());
        e.started = false;
        e.outputSelected = false;
    });
    FW_TRACE("init done");
}

void setCrashStopReminder(CrashStopProc proc) {
    kit::forcedStopHandler.store(proc);
    FW_TRACE("setCrashStopReminder = %p", reinterpret_cast<void*>(proc));
}

void setPeriodicReminderProc(PeriodicProc proc) {
    if (engineState().periodicReminder) engineState().periodicReminder->setProc(proc);
}

void setOutOfSpaceReminderProc(OutOfSpaceProc proc) {
    if (engineState().outOfSpaceReminder) engineState().outOfSpaceReminder->setProc(proc);
}

const SntConfig& currentSettings() { return engineConfig(); }

bool loadConfig(SntConfig& settings) {
    FW_TRACE("loadConfig(): cfg.load()");
    SntConfig& cfg = engineConfig();
    bool stored = cfg.load();
    settings = cfg;
    FW_TRACE("loadConfig: coef = %lf, level = %d", cfg.volumeCoeff, cfg.volumeLevel);
    FW_TRACE("loaded.");
    return stored;
}

void writeConfig(const SntConfig& settings) {
    FW_TRACE("writeConfig()");
    SntConfig& cfg = engineConfig();
    cfg = settings;
    if (cfg.startWithWindows)
        cfg.enableAutostart();
    else
        cfg.disableAutostart();
    cfg.startWithWindows = cfg.isAutostartEnabled();  // as it is, should the Run key refuse
    FW_TRACE("writeConfig: coef = %lf", cfg.volumeCoeff);
    cfg.save();
    FW_TRACE("written");
}

bool calibrate() {
    FW_TRACE("mixer->calibrateLines ()");
    EngineState& e = engineState();
    e.problem.clear();
    return !fw::catchAndReport(kTraceSource, __LINE__, [&] {
        kit::CalibrationResult result;
        notingProblem(e, [&] { result = e.mixer->calibrate(500); });
        SntConfig& cfg = engineConfig();
        cfg.captureSource = result.loopback ? SntConfig::kSourceLoopback : SntConfig::kSourceRecordingLine;
        if (result.lineChosen) {
            cfg.line = static_cast<int32_t>(result.line);
            cfg.volumeLevel = static_cast<int32_t>(result.level);
        }
        cfg.volumeCoeff = result.coefficient;
        cfg.needCalibration = false;
        cfg.save();
    });
}

int startRecording() {
    FW_TRACE("startRecording()");
    EngineState& e = engineState();
    if (e.started) {
        FW_TRACE("Already started. Returning SE_ALREADY_START.");
        return SE_ALREADY_START;
    }
    SntConfig& cfg = engineConfig();
    e.problem.clear();
    setOutcome(e, {});
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        e.stream = new kit::GenericSoundEncodingStream();
        e.recorder = makeRecorder(e, cfg);
        e.recorder->start();
        FW_TRACE("periodicReminder = %p", static_cast<void*>(e.periodicReminder));
        FW_TRACE("remind30min = %d", cfg.remind30min ? 1 : 0);
        if (e.periodicReminder) {
            FW_TRACE("periodicReminder->start ()");
            e.periodicReminder->start();
        }
        e.started = true;
        e.outputSelected = false;
    });
    if (failed) {
        // Nothing half made stays behind: no running capture, no open device.
        fw::catchAndReport(kTraceSource, __LINE__, [&] { dropRecording(e, DropTrace::quiet); });
        FW_TRACE("Returning SE_ERROR.");
        return SE_ERROR;
    }
    FW_TRACE("Successfully started.");
    return SE_NO_ERROR;
}

bool setOutputFile(const char* path, int format, int bitrate) {
    FW_TRACE("setOutputFile()");
    EngineState& e = engineState();
    e.outputFailure = outputFailedText(path ? path : "", kit::OutputFault::none, 0);
    if (e.outputSelected) {
        FW_TRACE("Output file is already selected. Returning 0.");
        return false;
    }
    if (!e.started) {  // no recording: no file either
        FW_TRACE("Not started. Returning 0.");
        return false;
    }
    if (!knownFormat(format)) {
        FW_TRACE("Unknown format. Returning 0.");
        return false;
    }
    bool existed = ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    kit::smartptr<kit::ISoundEncoder> encoder;
    bool refused = false;
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        e.outputPath = kit::shared_string(path);
        // Everything that can fail comes before the file is made.
        if (e.outOfSpaceReminder) {
            FW_TRACE("outOfSpaceReminder->setPath (), path = %s", path);
            e.outOfSpaceReminder->setPath(path);
            FW_TRACE("outOfSpaceReminder->start ()");
            e.outOfSpaceReminder->start();
        }
        try {
            encoder = makeEncoder(path, format, bitrate, e.format);
        } catch (const kit::OutputError& error) {
            // The user's choice, not a fault of the program: said in words, no problem report.
            FW_LOG(fw::LEVEL_WARN, "OutputNotMade", "%s (error %u): %s", error.message().c_str(), error.code, path);
            e.outputFailure = outputFailedText(path, error.fault, error.code);
            refused = true;
            return;
        }
        e.stream->setOutputFailureHandler(&outputStopped);
        e.stream->setEncoder(encoder);
        e.encoder = encoder;
        e.outputSelected = true;
    });
    if (failed || refused) {
        dropOutput(e, encoder, path, existed);
        return false;
    }
    engineConfig().lastFormat = format;
    engineConfig().save();
    return true;
}

std::string outputFailureText() { return engineState().outputFailure; }

uint32_t lastRecordingParts() { return engineState().lastParts.load(); }

int finishRecording(FinishNotifier notifier) {
    FW_TRACE("finishRecording()");
    EngineState& e = engineState();
    if (!e.started) {
        FW_TRACE("Not started. Returning FE_NOT_STARTED.");
        return FE_NOT_STARTED;
    }
    if (!e.finalizer) {
        FW_TRACE("Can't find finalized thread. fw_error().");
        FW_LOG(fw::LEVEL_ERR, "Can't find finalized thread", "%s", "");
        return FE_ERROR;
    }
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        FW_TRACE("finalizer->setNotifier (), notifier = %p", reinterpret_cast<void*>(notifier));
        FW_TRACE("finalizer->start ()");
        e.finalizer->begin(notifier, !e.outputSelected);
        e.started = false;
        e.outputSelected = false;
    });
    if (failed) return FE_ERROR;
    FW_TRACE("Returning FE_DELAYED.");
    return FE_DELAYED;
}

int abortRecording() {
    FW_TRACE("abortRecording()");
    EngineState& e = engineState();
    if (!e.started) return FE_NOT_STARTED;
    bool failed = fw::catchAndReport(kTraceSource, __LINE__, [&] {
        dropRecording(e, DropTrace::steps);
        if (e.periodicReminder) {
            FW_TRACE("periodicReminder->stop ()");
            e.periodicReminder->stop();
        }
        if (e.outOfSpaceReminder) {
            FW_TRACE("outOfSpaceReminder->stop ()");
            e.outOfSpaceReminder->stop();
        }
    });
    if (failed) return FE_ERROR;
    e.started = false;
    e.outputSelected = false;
    FW_TRACE("Aborted. Returning FE_NO_ERROR.");
    return FE_NO_ERROR;
}

bool isRecording() { return engineState().started; }

uint32_t recordingRate() {
    EngineState& e = engineState();
    return e.started ? static_cast<uint32_t>(e.format.samplesPerSec) : 0;
}

bool isCaptureDeviceLost() {
    EngineState& e = engineState();
    return e.started && e.recorder && e.recorder->deviceLost();
}

bool isCaptureSearching() {
    EngineState& e = engineState();
    return e.started && e.recorder && e.recorder->devicePresence().searching;
}

RecordingOutcome lastRecordingOutcome() {
    EngineState& e = engineState();
    std::lock_guard<std::mutex> g(e.outcomeLock);
    return e.outcome;
}

const char* lastProblem() { return engineState().problem.c_str(); }

void destroy() noexcept {
    FW_TRACE("destroy()");
    // A wait that fails here (or an object that cannot be stopped) leaves no
    // way to end cleanly: it is reported and the process ends with the fatal code.
    fw::catchAndReportFatal(kTraceSource, __LINE__, [] { destroyEngine(engineState()); });
}

}  // namespace backend
