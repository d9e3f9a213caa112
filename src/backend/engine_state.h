// The engine's process-wide state, shared by the engine operations and the
// finalizer thread that ends a recording in the background.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "config/snt_config.h"
#include "encoding.common/encoding_stream.h"
#include "encoding.common/sound_format.h"
#include "encoding.mp3/mp3_encoding.h"
#include "kit/refcounted.h"
#include "kit/shared_string.h"
#include "mixer/kit_mixer.h"
#include "backend/engine.h"
#include "reminders/reminders.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/wave_in_device.h"

namespace backend {

class Finalizer;

struct EngineState {
    std::atomic<bool> started{false};
    std::atomic<bool> outputSelected{false};
    kit::smartptr<kit::SoundRecorder> recorder;
    kit::smartptr<kit::GenericSoundEncodingStream> stream;
    kit::smartptr<kit::ISoundEncoder> encoder;
    kit::shared_string outputPath;
    kit::Mixer* mixer = nullptr;
    kit::PeriodicReminder* periodicReminder = nullptr;
    kit::OutOfSpaceReminder* outOfSpaceReminder = nullptr;
    Finalizer* finalizer = nullptr;
    std::string outputFailure;           // what to tell about the last failed setOutputFile
    std::atomic<uint32_t> lastParts{0};  // files of the last finished recording
    // The running recording's format (engine calls only): the line's is
    // kCaptureFormat, loopback's has the playback device's rate.
    kit::SoundFormat format{};

    // The capture device; tests put a scripted one here (null: the platform's).
    kit::WaveInDevice* captureDevice = nullptr;
    std::string problem;  // lastProblem()
    std::mutex outcomeLock;
    RecordingOutcome outcome;  // written by the finalizer thread
};

EngineState& engineState();
SntConfig& engineConfig();

// The recording line's format, and loopback's where the device tells no rate.
constexpr kit::SoundFormat kCaptureFormat{2, 16, 44100};
constexpr unsigned kBlockMs = 100;

}  // namespace backend
