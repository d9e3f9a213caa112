// The recording engine: the one doorway between the user interface and the
// recording machinery. Free functions over one process-wide engine state, all
// called on the user-interface thread. Worker threads call back into the user
// interface only through the handlers installed here.
#pragma once

#include <cstdint>
#include <string>

#include "config/snt_config.h"

namespace backend {

// startRecording
constexpr int SE_NO_ERROR = 0;
constexpr int SE_ALREADY_START = 1;
constexpr int SE_ERROR = 2;  // the start failed (reported); nothing is recording

// finishRecording and abortRecording
constexpr int FE_NO_ERROR = 0;     // aborted; everything is closed
constexpr int FE_NOT_STARTED = 1;  // no recording was under way; nothing done
constexpr int FE_DELAYED = 2;      // the finalizer goes on and calls the notifier
constexpr int FE_ERROR = 3;        // a failure was caught and reported

// A recording starts before its file is chosen: until setOutputFile, what is
// recorded waits in memory. The user interface closes its recording options
// dialog (as Cancel) once it has been open kOutputChoiceMs; the capture keeps
// everything recorded in that time, with a margin for a late close.
constexpr unsigned kOutputChoiceMs = 60000;
constexpr unsigned kBacklogMs = kOutputChoiceMs + 15000;

// What became of the last recording that was finished (not aborted).
struct RecordingOutcome {
    bool saved = false;          // a file was written
    uint64_t recordedMs = 0;     // sound in the file
    uint64_t lostMs = 0;         // sound lost on the way: dropped, or never returned by the device
    bool deviceLost = false;     // the recording device failed or went away; the recording ended there
    uint32_t deviceChanges = 0;  // the capture moved on to another device (a playback device went away)
    uint32_t rateChanges = 0;    // the device's rate changed: the recording went on in another file
};

// Output formats of setOutputFile (also stored as LastFormat).
constexpr int FORMAT_MP3_128 = 1;
constexpr int FORMAT_MP3_96 = 2;
constexpr int FORMAT_WAV = 3;
constexpr int FORMAT_MP3_BITRATE = 4;  // MP3 at the bitrate given to setOutputFile
constexpr int FORMAT_FLAC = 5;         // FLAC, compression level 5

using CrashStopProc = void (*)(const char* message);   // capture thread: the output is too slow
using PeriodicProc = void (*)(int);                    // reminder thread, every 30 minutes
using OutOfSpaceProc = void (*)(uint64_t* freeBytes);  // watcher thread: count = must stop, null = warning
using FinishNotifier = void (*)(void*);                // finalizer thread, once the file is complete

void init();
// Ends the engine. Never throws: a failure is reported and ends the process
// with the fatal exit code.
void destroy() noexcept;

void setCrashStopReminder(CrashStopProc proc);
void setPeriodicReminderProc(PeriodicProc proc);
void setOutOfSpaceReminderProc(OutOfSpaceProc proc);

// The settings: the engine's one record of them, read from the registry by
// init and loadConfig, replaced by writeConfig, and changed by calibrate (what
// the calibration found) and setOutputFile (the format). Asking for it reads
// no registry. The reference stays valid for the life of the process.
const SntConfig& currentSettings();
// Reads the registry again into the engine's record and gives a copy. False
// when nothing was stored: the first run, whose defaults are stored now and
// given.
bool loadConfig(SntConfig& settings);
// The settings become the engine's record and are stored; the Run key's entry
// is set or removed as startWithWindows says.
void writeConfig(const SntConfig& settings);

// True when the calibration succeeded; a failure has been reported (lastProblem).
bool calibrate();

int startRecording();
// True when the encoder for the file is attached. On false no file is left
// behind that this call created.
bool setOutputFile(const char* path, int format, int bitrate);
// What to tell the user when the last setOutputFile answered false: the
// actual reason (missing folder, access denied, ..., MP3 library missing).
std::string outputFailureText();
int finishRecording(FinishNotifier notifier);
int abortRecording();
bool isRecording();
// The rate the recording under way began at (the playback device's for
// loopback); 0 when none is under way.
uint32_t recordingRate();
// Files the last finished recording wrote (a long WAV goes on in continuation
// files "take (2).wav", ...); 0 when it wrote none.
uint32_t lastRecordingParts();
// The recording device of the current recording has failed or gone away: the
// recording holds what came before and should be finished.
bool isCaptureDeviceLost();
// The capture of the current recording has no device to record from (every
// playback device is gone): it records silence until one is there.
bool isCaptureSearching();
// The last recording finished with finishRecording (valid once its notifier
// has been called).
RecordingOutcome lastRecordingOutcome();
// Why the last startRecording or calibrate failed, in words for the user, or
// "" when there are none beyond the problem report. Valid until the next call
// of either.
const char* lastProblem();

// A new character array of 255 bytes holding the proposed file name of a
// recording: the current local time as "SNT_%d_%m_%y__%H-%M-%S". The caller
// deletes it (delete[]).
char* makeFileName();

}  // namespace backend
