// The mixer device seam: one open mixer, queried and set through the
// platform's own records (MIXERLINEA, MIXERLINECONTROLSA, MIXERCONTROLA,
// MIXERCONTROLDETAILS with its list texts and values). Production goes straight
// to mixerGetLineInfoA, mixerGetLineControlsA, mixerGetControlDetailsA and
// mixerSetControlDetails; tests script a sound card behind the same calls.
//
// The caller guarantees:
//   - every cbStruct holds the size of its record, cbmxctrl is
//     sizeof(MIXERCONTROLA) and cbDetails the size of one detail record
//     (4 for values, sizeof(MIXERCONTROLDETAILS_LISTTEXTA) for list texts);
//   - a details array holds cChannels x cMultipleItems records (cChannels for
//     a control without items), and a controls array cControls records;
//   - flags hold only the query kind (MIXER_GETLINEINFOF_*,
//     MIXER_GETLINECONTROLSF_*, MIXER_GETCONTROLDETAILSF_*,
//     MIXER_SETCONTROLDETAILSF_*), never a MIXER_OBJECTF_* kind.
// An implementation must check:
//   - the sizes above, answering MMSYSERR_INVALPARAM when they are wrong;
//   - that the line, control or destination asked for exists, answering
//     MIXERR_INVALLINE or MIXERR_INVALCONTROL otherwise, and leave the records
//     it was given as they were on any failure.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <memory>

#include "kit/scoped.h"

namespace kit {

using ScopedMixer = Scoped<SimpleTraits<HMIXER, &::mixerClose>>;

class IMixerDevice {
public:
    virtual ~IMixerDevice() = default;  // closes the mixer
    virtual MMRESULT getLineInfo(MIXERLINEA& line, DWORD flags) = 0;
    virtual MMRESULT getLineControls(MIXERLINECONTROLSA& controls, DWORD flags) = 0;
    virtual MMRESULT getControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) = 0;
    virtual MMRESULT setControlDetails(MIXERCONTROLDETAILS& details, DWORD flags) = 0;
};

// The machine's mixers, numbered from 0.
class IMixerSystem {
public:
    virtual ~IMixerSystem() = default;
    virtual unsigned deviceCount() = 0;
    // The opened mixer, or null when it cannot be opened.
    virtual std::unique_ptr<IMixerDevice> open(unsigned id) = 0;
};

// The platform's mixers (mixerGetNumDevs, mixerOpen without callback).
IMixerSystem& systemMixers();

}  // namespace kit
