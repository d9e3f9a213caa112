#include "mixer/kit_mixer.h"

#include <algorithm>

#include "diagnostics/eventlog.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "mixer/kit_mixer";

// The recording mixer, opened, with its wave-input destination.
struct Destination {
    std::unique_ptr<IMixerDevice> device;
    MIXERLINEA line{};
};

bool findWaveInDestination(IMixerDevice& device, MIXERLINEA& destination) {
    destination = MIXERLINEA{};
    destination.cbStruct = sizeof destination;
    destination.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    return device.getLineInfo(destination, MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR;
}

bool sourceAt(IMixerDevice& device, const MIXERLINEA& destination, DWORD index, MIXERLINEA& source) {
    source = MIXERLINEA{};
    source.cbStruct = sizeof source;
    source.dwDestination = destination.dwDestination;
    source.dwSource = index;
    return device.getLineInfo(source, MIXER_GETLINEINFOF_SOURCE) == MMSYSERR_NOERROR;
}

bool findSource(IMixerDevice& device, const MIXERLINEA& destination, uint32_t line, MIXERLINEA& source) {
    for (DWORD s = 0; s < destination.cConnections; ++s) {
        if (sourceAt(device, destination, s, source) && source.dwLineID == line) return true;
    }
    FW_TRACE("line %u is not a source of the recording destination", line);
    return false;
}

bool controlOfType(IMixerDevice& device, DWORD line, DWORD type, MIXERCONTROLA& control) {
    control = MIXERCONTROLA{};
    control.cbStruct = sizeof control;
    MIXERLINECONTROLSA controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line;
    controls.dwControlType = type;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof(MIXERCONTROLA);
    controls.pamxctrl = &control;
    return device.getLineControls(controls, MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR;
}

// Channels the control's values are given for: one for a uniform control.
DWORD channelsOf(const MIXERCONTROLA& control, const MIXERLINEA& line) {
    if (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) return 1;
    return std::max<DWORD>(1, line.cChannels);
}

MIXERCONTROLDETAILS detailsFor(const MIXERCONTROLA& control, DWORD channels, DWORD items, DWORD recordSize,
                               void* records) {
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = control.dwControlID;
    d.cChannels = channels;
    d.cMultipleItems = items;
    d.cbDetails = recordSize;
    d.paDetails = records;
    return d;
}

bool isListControl(DWORD type) { return (type & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST; }

bool isSingleSelect(DWORD type) {
    return type >= MIXERCONTROL_CONTROLTYPE_SINGLESELECT && type <= MIXERCONTROL_CONTROLTYPE_MUX;
}

}  // namespace

Mixer::Mixer(IMixerSystem& mixers_, ISoundProbe& probe_, ISoundProbe* loopbackProbe_)
    : mixers(mixers_), probe(probe_), loopbackProbe(loopbackProbe_) {}

Mixer::~Mixer() = default;

std::unique_ptr<IMixerDevice> Mixer::openRecordingMixer() {
    unsigned count = mixers.deviceCount();
    for (unsigned id = 0; id < count; ++id) {
        std::unique_ptr<IMixerDevice> device = mixers.open(id);
        MIXERLINEA destination;
        if (device && findWaveInDestination(*device, destination)) {
            if (lastMixerId != static_cast<int>(id)) FW_TRACE("recording mixer: %u of %u", id, count);
            lastMixerId = static_cast<int>(id);
            return device;
        }
    }
    if (lastMixerId != -1) FW_TRACE("no mixer has a wave-input destination (%u mixers)", count);
    lastMixerId = -1;
    return nullptr;
}

namespace {

bool openDestination(Mixer& mixer, Destination& d) {
    d.device = mixer.openRecordingMixer();
    return d.device && findWaveInDestination(*d.device, d.line);
}

}  // namespace

void Mixer::selectSource(uint32_t line) {
    FW_TRACE("selectSource: line = %u", line);
    Destination d;
    MIXERLINEA source;
    if (!openDestination(*this, d) || !findSource(*d.device, d.line, line, source)) return;
    if (d.line.cControls == 0) return;

    std::vector<MIXERCONTROLA> controls(d.line.cControls);
    for (auto& c : controls) c.cbStruct = sizeof c;
    MIXERLINECONTROLSA all{};
    all.cbStruct = sizeof all;
    all.dwLineID = d.line.dwLineID;
    all.cControls = d.line.cControls;
    all.cbmxctrl = sizeof(MIXERCONTROLA);
    all.pamxctrl = controls.data();
    if (d.device->getLineControls(all, MIXER_GETLINECONTROLSF_ALL) != MMSYSERR_NOERROR) return;
    auto list = std::find_if(controls.begin(), controls.end(),
                             [](const MIXERCONTROLA& c) { return isListControl(c.dwControlType); });
    if (list == controls.end()) return;  // the card records from every line at once

    bool single = isSingleSelect(list->dwControlType);
    DWORD channels = channelsOf(*list, d.line);
    DWORD items = (list->fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? list->cMultipleItems : 0;
    if (items == 0) return;
    std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(std::size_t{channels} * items);
    std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(std::size_t{channels} * items);
    MIXERCONTROLDETAILS textDetails = detailsFor(*list, channels, items, sizeof texts[0], texts.data());
    MIXERCONTROLDETAILS valueDetails = detailsFor(*list, channels, items, sizeof values[0], values.data());
    if (d.device->getControlDetails(textDetails, MIXER_GETCONTROLDETAILSF_LISTTEXT) != MMSYSERR_NOERROR ||
        d.device->getControlDetails(valueDetails, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
        return;

    bool listed = false;
    for (DWORD i = 0; i < items; i += channels) listed = listed || texts[i].dwParam1 == line;
    if (!listed) {
        // Choosing a line the list does not offer would leave a single-select
        // control with nothing selected.
        FW_TRACE("selectSource: line %u is not in the list \"%s\"", line, list->szName);
        return;
    }
    for (DWORD i = 0; i < items; i += channels) {
        if (texts[i].dwParam1 == line) {
            values[i].fValue = values[i + channels - 1].fValue = 1;
        } else if (single) {
            values[i].fValue = values[i + channels - 1].fValue = 0;
        }
    }
    d.device->setControlDetails(valueDetails, MIXER_SETCONTROLDETAILSF_VALUE);
}

bool Mixer::setMute(uint32_t line, bool mute) {
    FW_TRACE("setMute: line = %u, mute = %d", line, mute ? 1 : 0);
    Destination d;
    MIXERLINEA source;
    MIXERCONTROLA control;
    if (!openDestination(*this, d) || !findSource(*d.device, d.line, line, source) ||
        !controlOfType(*d.device, source.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, control))
        return false;
    DWORD channels = channelsOf(control, source);
    std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(channels);
    MIXERCONTROLDETAILS details = detailsFor(control, channels, 0, sizeof values[0], values.data());
    if (d.device->getControlDetails(details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return false;
    bool wasMuted = values[0].fValue != 0;
    values[0].fValue = values[channels - 1].fValue = mute ? 1 : 0;
    d.device->setControlDetails(details, MIXER_SETCONTROLDETAILSF_VALUE);
    return wasMuted;
}

VolumeRecord Mixer::setVolume(uint32_t line, const std::optional<VolumeRecord>& volume, bool readOnly) {
    VolumeRecord before;
    Destination d;
    MIXERLINEA source;
    MIXERCONTROLA control;
    if (!openDestination(*this, d) || !findSource(*d.device, d.line, line, source) ||
        !controlOfType(*d.device, source.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control))
        return before;
    DWORD channels = channelsOf(control, source);
    std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels);
    MIXERCONTROLDETAILS details = detailsFor(control, channels, 0, sizeof values[0], values.data());
    if (d.device->getControlDetails(details, MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR) return before;
    before = VolumeRecord(values[0].dwValue, values[channels - 1].dwValue);
    if (!readOnly) {
        if (volume) {
            values[0].dwValue = volume->left;
            values[channels - 1].dwValue = volume->right;
        } else {
            auto middle =
                static_cast<DWORD>((uint64_t{control.Bounds.dwMinimum} + uint64_t{control.Bounds.dwMaximum}) / 2);
            values[0].dwValue = values[channels - 1].dwValue = middle;
        }
    }
    d.device->setControlDetails(details, MIXER_SETCONTROLDETAILSF_VALUE);
    FW_TRACE("setVolume: line = %u, was %u/%u, now %u/%u", line, before.left, before.right,
             static_cast<unsigned>(values[0].dwValue), static_cast<unsigned>(values[channels - 1].dwValue));
    return before;
}

void Mixer::prepareLine(uint32_t line, const std::optional<VolumeRecord>& volume, bool keepVolume) {
    selectSource(line);
    setMute(line, false);
    if (!keepVolume) setVolume(line, volume, false);
}

int16_t Mixer::measureAverage() { return probe.measureAverage(); }

int16_t Mixer::measurePeak() { return probe.measurePeak(); }

MeasurementList Mixer::measureLines() {
    std::vector<uint32_t> candidates;
    {
        Destination d;
        if (openDestination(*this, d)) {
            for (DWORD s = 0; s < d.line.cConnections; ++s) {
                MIXERLINEA source;
                if (!sourceAt(*d.device, d.line, s, source)) continue;
                FW_TRACE("%d: %s -- %d channels", static_cast<int>(source.dwLineID), source.szName,
                         static_cast<int>(source.cChannels));
                if (source.cChannels > 1) {
                    candidates.push_back(source.dwLineID);
                } else {
                    FW_TRACE("mono, ignored");
                }
            }
        }
    }  // the mixer is closed before measuring

    MeasurementList measured;
    for (uint32_t line : candidates) {
        FW_TRACE("Trying line: %d", static_cast<int>(line));
        selectSource(line);
        bool wasMuted = setMute(line, false);
        VolumeRecord saved = setVolume(line, std::nullopt, false);
        int16_t volume = 0;
        try {
            for (int i = 0; i < 3; ++i) volume = measureAverage();
        } catch (...) {
            setMute(line, wasMuted);
            setVolume(line, saved, false);
            throw;
        }
        FW_TRACE("Volume: %d", volume);
        measured.emplace_back(line, static_cast<uint32_t>(std::max<int16_t>(volume, 0)));
        setMute(line, wasMuted);
        setVolume(line, saved, false);
    }
    return measured;
}

}  // namespace kit
