#include "mixer/scripted_mixer.h"

#include <algorithm>
#include <cstring>

namespace testmixer {
namespace {

class ScriptedDevice final : public kit::IMixerDevice {
public:
    explicit ScriptedDevice(ScriptedCard& card) : card(card) {}
    ~ScriptedDevice() override { card.closed(); }
    MMRESULT getLineInfo(MIXERLINEA& line, DWORD flags) override { return card.getLineInfo(line, flags); }
    MMRESULT getLineControls(MIXERLINECONTROLSA& controls, DWORD flags) override {
        return card.getLineControls(controls, flags);
    }
    MMRESULT getControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) override {
        if (flags & ~MIXER_GETCONTROLDETAILSF_QUERYMASK) return MMSYSERR_INVALFLAG;
        return card.getControlDetails(details, flags, false);
    }
    MMRESULT setControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) override {
        if (flags != MIXER_SETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALFLAG;
        return card.getControlDetails(details, flags, true);
    }

private:
    ScriptedCard& card;
};

void copyName(char* out, std::size_t size, const char* text) {
    std::size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

DWORD ScriptedCard::addDestination(DWORD componentType, const char* lineName, DWORD channels) {
    Destination d;
    d.line.info.cbStruct = sizeof(MIXERLINEA);
    d.line.info.dwLineID = 0xFFFF0000 + static_cast<DWORD>(destinations.size());
    d.line.info.dwComponentType = componentType;
    d.line.info.cChannels = channels;
    d.line.info.fdwLine = MIXERLINE_LINEF_ACTIVE;
    copyName(d.line.info.szShortName, sizeof d.line.info.szShortName, lineName);
    copyName(d.line.info.szName, sizeof d.line.info.szName, lineName);
    copyName(d.line.info.Target.szPname, sizeof d.line.info.Target.szPname, name.c_str());
    d.line.info.Target.dwType = componentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN ? MIXERLINE_TARGETTYPE_WAVEIN
                                                                                    : MIXERLINE_TARGETTYPE_WAVEOUT;
    destinations.push_back(d);
    return d.line.info.dwLineID;
}

void ScriptedCard::addSource(DWORD destinationLine, DWORD lineId, DWORD componentType, const char* lineName,
                             DWORD channels) {
    Line s;
    s.info.cbStruct = sizeof(MIXERLINEA);
    s.info.dwLineID = lineId;
    s.info.dwComponentType = componentType;
    s.info.cChannels = channels;
    s.info.fdwLine = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
    copyName(s.info.szShortName, sizeof s.info.szShortName, lineName);
    copyName(s.info.szName, sizeof s.info.szName, lineName);
    destinations.at(destinationLine - 0xFFFF0000).sources.push_back(s);
}

DWORD ScriptedCard::addVolume(DWORD lineId, std::vector<DWORD> values, bool uniform, DWORD minimum, DWORD maximum) {
    Control c;
    c.info.cbStruct = sizeof(MIXERCONTROLA);
    c.info.dwControlID = nextControlId++;
    c.info.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    c.info.fdwControl = uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
    c.info.Bounds.dwMinimum = minimum;
    c.info.Bounds.dwMaximum = maximum;
    c.info.Metrics.cSteps = 65535;
    copyName(c.info.szShortName, sizeof c.info.szShortName, "Volume");
    copyName(c.info.szName, sizeof c.info.szName, "Volume");
    c.values = std::move(values);
    findLine(lineId)->controls.push_back(c);
    return c.info.dwControlID;
}

DWORD ScriptedCard::addMute(DWORD lineId, bool muted, bool uniform) {
    Line* line = findLine(lineId);
    Control c;
    c.info.cbStruct = sizeof(MIXERCONTROLA);
    c.info.dwControlID = nextControlId++;
    c.info.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
    c.info.fdwControl = uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
    c.info.Bounds.dwMaximum = 1;
    copyName(c.info.szShortName, sizeof c.info.szShortName, "Mute");
    copyName(c.info.szName, sizeof c.info.szName, "Mute");
    c.values.assign(uniform ? 1 : line->info.cChannels, muted ? 1 : 0);
    line->controls.push_back(c);
    return c.info.dwControlID;
}

DWORD ScriptedCard::addList(DWORD destinationLine, DWORD controlType, const std::vector<DWORD>& lines,
                            const std::vector<bool>& selected) {
    Line* line = findLine(destinationLine);
    Control c;
    c.info.cbStruct = sizeof(MIXERCONTROLA);
    c.info.dwControlID = nextControlId++;
    c.info.dwControlType = controlType;
    c.info.fdwControl = MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE;
    c.info.cMultipleItems = static_cast<DWORD>(lines.size());
    c.info.Bounds.dwMaximum = static_cast<DWORD>(lines.size()) - 1;
    c.info.Metrics.cSteps = static_cast<DWORD>(lines.size());
    const char* title = controlType == MIXERCONTROL_CONTROLTYPE_MUX ? "Recording Source" : "Recording Mixer";
    copyName(c.info.szShortName, sizeof c.info.szShortName, title);
    copyName(c.info.szName, sizeof c.info.szName, title);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        MIXERCONTROLDETAILS_LISTTEXTA t{};
        t.dwParam1 = lines[i];
        const Line* source = findLine(lines[i]);
        t.dwParam2 = source ? source->info.dwComponentType : 0;
        copyName(t.szName, sizeof t.szName, source ? source->info.szName : "?");
        c.texts.push_back(t);
        c.values.push_back(selected.at(i) ? 1 : 0);
    }
    line->controls.push_back(c);
    return c.info.dwControlID;
}

std::vector<DWORD> ScriptedCard::values(DWORD lineId, DWORD controlType) const {
    const Line* line = findLine(lineId);
    if (!line) return {};
    for (const Control& c : line->controls) {
        if (c.info.dwControlType == controlType) return c.values;
    }
    return {};
}

bool ScriptedCard::muted(DWORD lineId) const {
    std::vector<DWORD> v = values(lineId, MIXERCONTROL_CONTROLTYPE_MUTE);
    return !v.empty() && v[0] != 0;
}

std::vector<DWORD> ScriptedCard::selectedLines(DWORD destinationLine) const {
    std::vector<DWORD> result;
    const Line* line = findLine(destinationLine);
    if (!line) return result;
    for (const Control& c : line->controls) {
        if ((c.info.dwControlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_LIST) continue;
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            if (c.values[i]) result.push_back(c.texts[i].dwParam1);
        }
        break;
    }
    return result;
}

bool ScriptedCard::hasList(DWORD destinationLine) const {
    const Line* line = findLine(destinationLine);
    if (!line) return false;
    return std::any_of(line->controls.begin(), line->controls.end(), [](const Control& c) {
        return (c.info.dwControlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
    });
}

std::unique_ptr<kit::IMixerDevice> ScriptedCard::open() {
    ++openCount;
    return std::make_unique<ScriptedDevice>(*this);
}

ScriptedCard::Line* ScriptedCard::findLine(DWORD lineId) {
    return const_cast<Line*>(static_cast<const ScriptedCard*>(this)->findLine(lineId));
}

const ScriptedCard::Line* ScriptedCard::findLine(DWORD lineId) const {
    for (const Destination& d : destinations) {
        if (d.line.info.dwLineID == lineId) return &d.line;
        for (const Line& s : d.sources) {
            if (s.info.dwLineID == lineId) return &s;
        }
    }
    return nullptr;
}

ScriptedCard::Control* ScriptedCard::findControl(DWORD controlId, Line** owner) {
    for (Destination& d : destinations) {
        std::vector<Line*> lines{&d.line};
        for (Line& s : d.sources) lines.push_back(&s);
        for (Line* line : lines) {
            for (Control& c : line->controls) {
                if (c.info.dwControlID != controlId) continue;
                *owner = line;
                return &c;
            }
        }
    }
    return nullptr;
}

void ScriptedCard::describe(MIXERLINEA& out, const Line& line, DWORD destination, DWORD source,
                            DWORD connections) const {
    out = line.info;
    out.cbStruct = sizeof(MIXERLINEA);
    out.dwDestination = destination;
    out.dwSource = source;
    out.cConnections = connections;
    out.cControls = static_cast<DWORD>(line.controls.size());
}

DWORD ScriptedCard::channelsOf(const Control& c, const Line& line) {
    return (c.info.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.info.cChannels;
}

MMRESULT ScriptedCard::getLineInfo(MIXERLINEA& line, DWORD flags) {
    if (line.cbStruct != sizeof(MIXERLINEA)) return MMSYSERR_INVALPARAM;
    if (flags & ~MIXER_GETLINEINFOF_QUERYMASK) return MMSYSERR_INVALFLAG;
    switch (flags) {
    case MIXER_GETLINEINFOF_DESTINATION:
        if (line.dwDestination >= destinations.size()) return MMSYSERR_INVALPARAM;
        describe(line, destinations[line.dwDestination].line, line.dwDestination, 0,
                 static_cast<DWORD>(destinations[line.dwDestination].sources.size()));
        return MMSYSERR_NOERROR;
    case MIXER_GETLINEINFOF_SOURCE: {
        if (line.dwDestination >= destinations.size()) return MMSYSERR_INVALPARAM;
        const Destination& d = destinations[line.dwDestination];
        if (line.dwSource >= d.sources.size()) return MIXERR_INVALLINE;
        describe(line, d.sources[line.dwSource], line.dwDestination, line.dwSource, 0);
        return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINEINFOF_LINEID:
        for (DWORD di = 0; di < destinations.size(); ++di) {
            const Destination& d = destinations[di];
            if (d.line.info.dwLineID == line.dwLineID) {
                describe(line, d.line, di, 0, static_cast<DWORD>(d.sources.size()));
                return MMSYSERR_NOERROR;
            }
            for (DWORD si = 0; si < d.sources.size(); ++si) {
                if (d.sources[si].info.dwLineID == line.dwLineID) {
                    describe(line, d.sources[si], di, si, 0);
                    return MMSYSERR_NOERROR;
                }
            }
        }
        return MIXERR_INVALLINE;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
        for (DWORD di = 0; di < destinations.size(); ++di) {
            const Destination& d = destinations[di];
            if (d.line.info.dwComponentType == line.dwComponentType) {
                describe(line, d.line, di, 0, static_cast<DWORD>(d.sources.size()));
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALLINE;
    default: return MMSYSERR_INVALFLAG;
    }
}

MMRESULT ScriptedCard::getLineControls(MIXERLINECONTROLSA& controls, DWORD flags) {
    if (controls.cbStruct != sizeof(MIXERLINECONTROLSA) || controls.cbmxctrl != sizeof(MIXERCONTROLA) ||
        !controls.pamxctrl)
        return MMSYSERR_INVALPARAM;
    switch (flags) {
    case MIXER_GETLINECONTROLSF_ALL: {
        const Line* line = findLine(controls.dwLineID);
        if (!line) return MIXERR_INVALLINE;
        if (controls.cControls != line->controls.size() || controls.cControls == 0) return MMSYSERR_INVALPARAM;
        for (std::size_t i = 0; i < line->controls.size(); ++i) controls.pamxctrl[i] = line->controls[i].info;
        return MMSYSERR_NOERROR;
    }
    case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
        const Line* line = findLine(controls.dwLineID);
        if (!line) return MIXERR_INVALLINE;
        for (const Control& c : line->controls) {
            if (c.info.dwControlType == controls.dwControlType) {
                *controls.pamxctrl = c.info;
                return MMSYSERR_NOERROR;
            }
        }
        return MIXERR_INVALCONTROL;
    }
    case MIXER_GETLINECONTROLSF_ONEBYID: {
        Line* owner = nullptr;
        Control* c = findControl(controls.dwControlID, &owner);
        if (!c) return MIXERR_INVALCONTROL;
        controls.dwLineID = owner->info.dwLineID;
        *controls.pamxctrl = c->info;
        return MMSYSERR_NOERROR;
    }
    default: return MMSYSERR_INVALFLAG;
    }
}

MMRESULT ScriptedCard::getControlDetails(MIXERCONTROLDETAILS& details, DWORD flags, bool write) {
    if (details.cbStruct != sizeof(MIXERCONTROLDETAILS) || !details.paDetails) return MMSYSERR_INVALPARAM;
    Line* owner = nullptr;
    Control* c = findControl(details.dwControlID, &owner);
    if (!c) return MIXERR_INVALCONTROL;
    bool multiple = (c->info.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
    DWORD channels = channelsOf(*c, *owner);
    DWORD items = multiple ? c->info.cMultipleItems : 0;
    if (details.cChannels != channels || details.cMultipleItems != items) return MMSYSERR_INVALPARAM;
    std::size_t count = std::size_t{channels} * std::max<DWORD>(1, items);
    if (!write && flags == MIXER_GETCONTROLDETAILSF_LISTTEXT) {
        if (!multiple || details.cbDetails != sizeof(MIXERCONTROLDETAILS_LISTTEXTA)) return MMSYSERR_INVALPARAM;
        std::memcpy(details.paDetails, c->texts.data(), count * sizeof(MIXERCONTROLDETAILS_LISTTEXTA));
        return MMSYSERR_NOERROR;
    }
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE) return MMSYSERR_INVALFLAG;  // same value as SETCONTROLDETAILSF_VALUE
    if (details.cbDetails != sizeof(DWORD)) return MMSYSERR_INVALPARAM;
    auto* records = static_cast<DWORD*>(details.paDetails);
    if (!write) {
        std::copy(c->values.begin(), c->values.end(), records);
        return MMSYSERR_NOERROR;
    }
    std::vector<DWORD> incoming(records, records + count);
    if (c->info.dwControlType == MIXERCONTROL_CONTROLTYPE_MUX &&
        std::count_if(incoming.begin(), incoming.end(), [](DWORD v) { return v != 0; }) != 1)
        return MMSYSERR_INVALPARAM;  // a MUX records from exactly one line
    if ((c->info.dwControlType & MIXERCONTROL_CT_UNITS_MASK) == MIXERCONTROL_CT_UNITS_UNSIGNED) {
        for (DWORD& v : incoming) v = std::clamp(v, c->info.Bounds.dwMinimum, c->info.Bounds.dwMaximum);
    } else {
        for (DWORD& v : incoming) v = v ? 1 : 0;
    }
    c->values = incoming;
    sets.push_back({c->info.dwControlID, incoming});
    return MMSYSERR_NOERROR;
}

std::unique_ptr<kit::IMixerDevice> ScriptedMixers::open(unsigned id) {
    if (id >= cards.size() || !cards[id]) return nullptr;
    return cards[id]->open();
}

void buildWinePlaybackCard(ScriptedCard& card) {
    DWORD dest = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Master Volume", 2);
    card.addVolume(dest, {65535}, true);
    card.addMute(dest, false);
    card.addSource(dest, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Master Volume", 1);
    card.addVolume(0, {0}, true);
    card.addMute(0, false);
}

void buildWineRecordingCard(ScriptedCard& card) {
    DWORD dest = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Master Volume", 2);
    card.addVolume(dest, {65535}, true);
    card.addMute(dest, false);
    card.addSource(dest, 0, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Master Volume", 1);
    card.addVolume(0, {0}, true);
    card.addMute(0, false);
}

void buildClassicCard(ScriptedCard& card, DWORD listType) {
    DWORD speakers = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, "Volume Control", 2);
    card.addVolume(speakers, {50000, 50000});
    card.addMute(speakers, false);
    DWORD wavein = card.addDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, "Recording Control", 2);
    card.addSource(wavein, kStereoMix, MIXERLINE_COMPONENTTYPE_SRC_ANALOG, "Stereo Mix", 2);
    card.addVolume(kStereoMix, {40000, 41000});
    card.addMute(kStereoMix, true);
    card.addSource(wavein, kMic, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Microphone", 1);
    card.addVolume(kMic, {20000}, true);
    card.addMute(kMic, false);
    card.addSource(wavein, kLineIn, MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line In", 2);
    card.addVolume(kLineIn, {10000, 12000});
    card.addMute(kLineIn, false);
    card.addSource(wavein, kCd, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD Audio", 2);
    card.addVolume(kCd, {30000, 30000});
    card.addMute(kCd, false);
    card.addSource(wavein, kAux, MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY, "Aux", 2);
    card.addList(wavein, listType, {kStereoMix, kMic, kLineIn, kCd, kAux}, {false, true, false, false, false});
}

std::vector<DWORD> ScriptedProbe::heardLines() const {
    std::vector<DWORD> heard;
    for (DWORD line : card.selectedLines(destination)) {
        if (!card.muted(line)) heard.push_back(line);
    }
    return heard;
}

int16_t ScriptedProbe::measureAverage() {
    ++averageCalls;
    mixerOpenWhileMeasuring += card.openNow();
    std::vector<DWORD> heard = heardLines();
    Seen s{heard, heard.empty() ? std::vector<DWORD>{} : card.volume(heard[0]),
           heard.empty() ? false : card.muted(heard[0])};
    seen.push_back(s);
    if (!averageSequence.empty()) return averageSequence[sequenceAt++ % averageSequence.size()];
    if (!card.hasList(destination)) return wavePlaying ? defaultAverage : 0;
    int sum = 0;
    for (DWORD line : heard) {
        const auto& levels = wavePlaying ? waveAverage : midiAverage;
        if (!wavePlaying && !midiPlaying) continue;
        auto it = levels.find(line);
        if (it != levels.end()) sum += it->second;
    }
    return static_cast<int16_t>(std::min(sum, 32767));
}

int16_t ScriptedProbe::measurePeak() {
    ++peakCalls;
    mixerOpenWhileMeasuring += card.openNow();
    if (!wavePlaying) return 0;
    if (!card.hasList(destination)) return defaultWave;
    std::vector<DWORD> heard = heardLines();
    if (heard.empty()) return 0;
    std::vector<DWORD> volume = card.volume(heard[0]);
    if (volume.empty()) return peakOtherwise;
    auto it = peakAtVolume.find(volume[0]);
    return it != peakAtVolume.end() ? it->second : peakOtherwise;
}

}  // namespace testmixer
