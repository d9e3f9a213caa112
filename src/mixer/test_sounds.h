// Playing the calibration's test sounds: a wave file looping through
// PlaySound, and a MIDI file through the MCI sequencer.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include "kit/shared_string.h"

namespace kit {

// The test sound `name` beside the executable when it is there, else the bare
// name (then looked up relative to the current folder).
shared_string findTestSound(const char* name);

// Opens the sequencer on `file`, checks its output port and plays it with
// notification to `notifyWindow` (may be null). The device identifier, or 0
// when a command failed (the device is closed again then).
MCIDEVICEID playMidi(HWND notifyWindow, const char* file);
// Closes an MCI device; 0 is ignored.
void stopMci(MCIDEVICEID id);

// Starts a wave file looping (asynchronously); false when it could not start.
// A missing file plays the system's default sound instead.
bool playWaveLooping(const char* file);
void stopWave();

}  // namespace kit
