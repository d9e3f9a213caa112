// The program's persistent settings in the current user's registry key
// "Software\Korvel\Sonotape", and its entry in the Run key.
#pragma once

#include <cstdint>

#include "kit/shared_string.h"

class SntConfig {
public:
    static constexpr const char* kKeyPath = "Software\\Korvel\\Sonotape";
    static constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    static constexpr const char* kRunValue = "Sonotape";

    SntConfig();  // the defaults

    // Reads every value. On any failure (first run, a missing or mistyped
    // value) the whole configuration is written back, with what was read so
    // far and the defaults for the rest, and the answer is false.
    bool load();
    // Writes every value; a failure ends the process (the settings must not
    // be half written without anybody knowing).
    bool save();

    void enableAutostart();
    void disableAutostart();
    bool isAutostartEnabled();

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
};

// The folder recordings go to when nothing is stored: the user's music
// folder, else the documents folder, else the profile folder.
kit::shared_string defaultStorageFolder();

// The Run key's command: the program's path (quoted when it holds a blank,
// so that no other program can be started in its place) and " --tray_run".
kit::shared_string autostartCommand(const char* programPath);
