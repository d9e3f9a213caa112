// The production probe: the program's test sounds played through the
// platform, loudness measured by short recordings into a volume meter.
#include "mixer/recording_sound_probe.h"

#include <string>
#include <utility>

#include "diagnostics/eventlog.h"
#include "encoding.common/encoding_stream.h"
#include "encoding.common/sound_format.h"
#include "kit/exceptions.h"
#include "kit/oslib.h"
#include "mixer/kit_mixer.h"
#include "mixer/test_sounds.h"
#include "sound.capture/sound_recorder.h"
#include "sound.capture/volume_meter.h"
#include "sound.capture/wasapi_wave_in.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "mixer/kit_mixer";

int16_t asVolume(int value) { return static_cast<int16_t>(value > 32767 ? 32767 : value); }

}  // namespace

RecordingSoundProbe::RecordingSoundProbe(WaveInDevice& device_, DWORD timeLimitMs_, DeviceRate deviceRate_)
    : device(device_), timeLimitMs(timeLimitMs_), deviceRate(std::move(deviceRate_)) {}

template <class Meter>
int16_t RecordingSoundProbe::measure() {
    smartptr<Meter> meter = makeCounted<Meter>();
    smartptr<GenericSoundEncodingStream> stream =
        makeCounted<GenericSoundEncodingStream>(smartptr<ISoundEncoder>(meter));
    // The loopback capture measures at the playback device's rate, as it records.
    SoundFormat format = kRecordingFormat;
    if (uint32_t rate = deviceRate ? deviceRate() : 0) format.samplesPerSec = static_cast<int32_t>(rate);
    smartptr<SoundRecorder> recorder = makeCounted<SoundRecorder>(stream, format, 1.0, 100, timeLimitMs, device);
    bool ready = false;
    try {
        recorder->start();
        DWORD began = ::GetTickCount();
        while (!(ready = meter->isReady()) && ::GetTickCount() - began < timeLimitMs) ::Sleep(20);
    } catch (...) {
        recorder->finish(true);
        stream->finish(true);
        throw;
    }
    recorder->finish();
    stream->finish();
    recorder.reset();
    stream.reset();
    if (!ready) {
        FW_TRACE("measuring: %u blocks in %lu ms", static_cast<unsigned>(meter->count()),
                 static_cast<unsigned long>(timeLimitMs));
        setOrigin(kTraceSource, __LINE__, "kit::RecordingSoundProbe::measure");
        throw ARuntimeError("The recording device delivers no sound: no level could be measured.");
    }
    return asVolume(meter->takeResult());
}

void RecordingSoundProbe::checkSounds() {
    for (const char* name : {"sound.wav", "sound.mid"}) {
        if (fileExists(findTestSound(name).c_str())) continue;
        setOrigin(kTraceSource, __LINE__, "kit::RecordingSoundProbe::checkSounds");
        throw UserError(shared_string(std::string("The test sound ") + name +
                                      " is missing beside the program, so the recording levels cannot be "
                                      "calibrated. Installing the program again brings it back."));
    }
}

int16_t RecordingSoundProbe::measureAverage() { return measure<VolumeMeter>(); }

int16_t RecordingSoundProbe::measurePeak() { return measure<VolumeMeter2>(); }

void RecordingSoundProbe::startWave() {
    shared_string file = findTestSound("sound.wav");
    if (!playWaveLooping(file.c_str())) FW_TRACE("PlaySound cannot play %s", file.c_str());
}

void RecordingSoundProbe::stopWave() { kit::stopWave(); }

uint32_t RecordingSoundProbe::startMidi() { return playMidi(nullptr, findTestSound("sound.mid").c_str()); }

void RecordingSoundProbe::stopMidi(uint32_t id) { stopMci(static_cast<MCIDEVICEID>(id)); }

std::unique_ptr<ISoundProbe> makeSystemSoundProbe() { return std::make_unique<RecordingSoundProbe>(); }

Mixer::Mixer()
    : ownedProbe(makeSystemSoundProbe()),
      ownedLoopbackProbe(
          std::make_unique<RecordingSoundProbe>(wasapiLoopback(), 5000, [] { return wasapiLoopback().mixRate(); })),
      mixers(systemMixers()),
      probe(*ownedProbe),
      loopbackProbe(ownedLoopbackProbe.get()) {}

}  // namespace kit
