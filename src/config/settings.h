// The program's persistent settings in the current user's registry key
// "Software\Korvel\Sonotape", and its entry in the Run key.
#pragma once

#include <cstdint>

#include "kit/shared_string.h"

class Settings {
public:
    static constexpr const char* kKeyPath = "Software\\Korvel\\Sonotape";
    static constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr const char* kRunValue = "Sonotape";
    // What recordings capture ("CaptureSource"): the recording line the
    // mixer selects, or the loopback capture of the playback device. A key
    // written before the value existed records from the line, as it did.
    static constexpr int32_t kSourceRecordingLine = 0;
    static constexpr int32_t kSourceLoopback = 1;

    static constexpr int32_t kDefaultHotkey = (0x0001 | 0x0002) * 256 + 'R';  // MOD_ALT | MOD_CONTROL, R

    Settings();  // the defaults

    // Reads every value on its own. A value that is missing, of the wrong
    // type or unusable (a format that does not exist, an absurd level
    // coefficient, a folder that is no absolute path) takes its own default
    // alone, with a WARN that says what was found, and is written back; the
    // other values keep what was stored. When a calibration value is lost,
    // needCalibration is set so that the user is asked again.
    // False when nothing was stored (the first run: the defaults are written)
    // or the key cannot be read.
    // Also reads startWithWindows from the Run key.
    bool load();
    // Writes every value of the table (not the Run key); a failure ends the process (the settings must not
    // be half written without anybody knowing).
    bool save();

    void enableAutostart();
    void disableAutostart();
    bool isAutostartEnabled();

    // Every stored value is one line of the table in settings.cpp (name,
    // member, default, accepted range): a new setting is a member here and a
    // line there.
    int32_t line;
    int32_t lastFormat;
    int32_t lastBitrate;
    int32_t xPos;
    int32_t yPos;
    int32_t volumeLevel;
    kit::shared_string storageDir;
    double volumeCoeff;
    bool remind30min;
    bool remindOutOfSpace;
    bool startInTray;
    bool needCalibration;
    bool startUpDialog;
    int32_t captureSource;
    // Silence: start writing at the first sound; stop after silenceStopMinutes
    // of silence; go on in the next file at each silence of
    // silenceSplitSeconds. Sound is what reaches silenceThresholdDbfs.
    bool silenceStart;
    bool silenceStop;
    int32_t silenceStopMinutes;
    bool silenceSplit;
    int32_t silenceSplitSeconds;
    int32_t silenceThresholdDbfs;
    int32_t hotkey;
    int32_t lastBits;  // of a WAV or FLAC file: 16 or 24
    // Whether the Run key holds the program's entry: read by load, not a
    // value of the program's key, so not in the table and not written by save
    // (enableAutostart and disableAutostart set the entry).
    bool startWithWindows = false;
};

// The folder recordings go to when nothing usable is stored: the user's music
// folder, else the documents folder, else the profile folder.
kit::shared_string defaultStorageFolder();

// Text that can be stored as the storage folder: an absolute path ("X:\..."
// or "\\server\share...") short enough to leave room for a file name in it
// (counted in characters, as MAX_PATH counts them, whatever their script),
// without "?" (what an earlier version stored for characters its code page
// could not hold). Whether the folder exists now is not asked (a removable
// drive may be away).
bool isStorableFolder(const char* text) noexcept;

// The Run key's command: the program's path (quoted when it holds a blank,
// so that no other program can be started in its place) and " --tray_run".
kit::shared_string autostartCommand(const char* programPath);
