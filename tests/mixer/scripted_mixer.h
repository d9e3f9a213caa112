// A scripted sound card behind the mixer device seam: destinations with their
// source lines, volume, mute and list controls, all answered through the
// platform's own records. It checks what the seam's header asks it to check
// (record sizes, flags, existing lines and controls, channel and item counts)
// and keeps its values between opens, like a real card.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mixer/mixer_device.h"
#include "mixer/sound_probe.h"

namespace testmixer {

class ScriptedCard {
public:
    // A set operation the card accepted.
    struct SetCall {
        DWORD controlId;
        std::vector<DWORD> values;
    };

    explicit ScriptedCard(std::string name = "Scripted") : name(std::move(name)) {}

    // Building. Destination lines get the identifiers 0xFFFF0000 + index.
    DWORD addDestination(DWORD componentType, const char* lineName, DWORD channels);
    void addSource(DWORD destinationLine, DWORD lineId, DWORD componentType, const char* lineName, DWORD channels);
    // `values`: one per channel the control has (one when uniform).
    DWORD addVolume(DWORD lineId, std::vector<DWORD> values, bool uniform = false, DWORD minimum = 0,
                    DWORD maximum = 65535);
    DWORD addMute(DWORD lineId, bool muted, bool uniform = true);
    // A uniform list control on a destination, one item per listed line.
    DWORD addList(DWORD destinationLine, DWORD controlType, const std::vector<DWORD>& lines,
                  const std::vector<bool>& selected);

    // Reading the card's state.
    std::vector<DWORD> values(DWORD lineId, DWORD controlType) const;
    std::vector<DWORD> volume(DWORD lineId) const { return values(lineId, MIXERCONTROL_CONTROLTYPE_VOLUME); }
    bool muted(DWORD lineId) const;
    // The lines selected in the first list control of the destination.
    std::vector<DWORD> selectedLines(DWORD destinationLine) const;
    // Whether the destination has a list control at all.
    bool hasList(DWORD destinationLine) const;
    const std::vector<SetCall>& setCalls() const { return sets; }
    int opens() const { return openCount; }
    int openNow() const { return openCount - closeCount; }

    std::unique_ptr<kit::IMixerDevice> open();

    // The device's calls.
    MMRESULT getLineInfo(MIXERLINEA& line, DWORD flags);
    MMRESULT getLineControls(MIXERLINECONTROLSA& controls, DWORD flags);
    MMRESULT getControlDetails(MIXERCONTROLDETAILS& details, DWORD flags, bool write);
    void closed() { ++closeCount; }

private:
    struct Control {
        MIXERCONTROLA info{};
        std::vector<DWORD> values;                         // channels x items
        std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts;  // items, for list controls
    };
    struct Line {
        MIXERLINEA info{};
        std::vector<Control> controls;
    };
    struct Destination {
        Line line;
        std::vector<Line> sources;
    };

    Line* findLine(DWORD lineId);
    const Line* findLine(DWORD lineId) const;
    Control* findControl(DWORD controlId, Line** owner);
    void describe(MIXERLINEA& out, const Line& line, DWORD destination, DWORD source, DWORD connections) const;
    static DWORD channelsOf(const Control& c, const Line& line);

    std::string name;
    std::vector<Destination> destinations;
    DWORD nextControlId = 0;
    int openCount = 0;
    int closeCount = 0;
    std::vector<SetCall> sets;
};

// The machine's mixers: scripted cards in order; a null entry cannot be opened.
class ScriptedMixers : public kit::IMixerSystem {
public:
    explicit ScriptedMixers(std::vector<ScriptedCard*> cards) : cards(std::move(cards)) {}
    unsigned deviceCount() override { return static_cast<unsigned>(cards.size()); }
    std::unique_ptr<kit::IMixerDevice> open(unsigned id) override;

private:
    std::vector<ScriptedCard*> cards;
};

// Cards modelled on what the platform reports.
// Wine with PulseAudio: a playback mixer (speakers destination, one mono wave-out source).
void buildWinePlaybackCard(ScriptedCard& card);
// Wine with PulseAudio: a recording mixer (wave-in destination, one mono line source, id 0).
void buildWineRecordingCard(ScriptedCard& card);

// A classic card: a speakers destination and a wave-in destination whose
// list control (MUX or mixer type) offers these sources:
constexpr DWORD kStereoMix = 0x10001;  // stereo, volume non-uniform, mute
constexpr DWORD kMic = 0x10002;        // mono, volume, mute
constexpr DWORD kLineIn = 0x10003;     // stereo, volume, mute
constexpr DWORD kCd = 0x10004;         // stereo, volume, mute
constexpr DWORD kAux = 0x10005;        // stereo, neither volume nor mute
constexpr DWORD kWaveInLine = 0xFFFF0001;
void buildClassicCard(ScriptedCard& card, DWORD listType = MIXERCONTROL_CONTROLTYPE_MUX);

// A probe whose levels follow the scripted card: the heard lines are the
// unmuted lines selected in the wave-in destination's list; with no list
// control the default recording device hears `defaultWave` / `defaultMidi`.
class ScriptedProbe : public kit::ISoundProbe {
public:
    ScriptedProbe(ScriptedCard& card, DWORD destinationLine) : card(card), destination(destinationLine) {}

    int16_t measureAverage() override;
    int16_t measurePeak() override;
    void startWave() override {
        wavePlaying = true;
        ++waveStarts;
    }
    void stopWave() override { wavePlaying = false; }
    uint32_t startMidi() override {
        midiPlaying = midiAvailable;
        return midiAvailable ? 7 : 0;
    }
    void stopMidi(uint32_t id) override {
        if (id == 7) midiPlaying = false;
    }

    // Average level per line while each sound plays.
    std::map<DWORD, int16_t> waveAverage, midiAverage;
    // Peak of the wave sound by the left volume of the heard line.
    std::map<DWORD, int16_t> peakAtVolume;
    int16_t peakOtherwise = 0;
    // What the device hears when the card has no list control.
    int16_t defaultWave = 0, defaultAverage = 0;
    bool midiAvailable = true;
    // Averages handed out in turn, when set (overrides waveAverage).
    std::vector<int16_t> averageSequence;

    // Observations.
    bool wavePlaying = false, midiPlaying = false;
    int waveStarts = 0;
    int averageCalls = 0, peakCalls = 0;
    int mixerOpenWhileMeasuring = 0;
    struct Seen {
        std::vector<DWORD> heard;
        std::vector<DWORD> volume;  // of the first heard line
        bool muted;
    };
    std::vector<Seen> seen;  // per measureAverage

private:
    std::vector<DWORD> heardLines() const;
    ScriptedCard& card;
    DWORD destination;
    std::size_t sequenceAt = 0;
};

}  // namespace testmixer
