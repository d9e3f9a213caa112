#include "config/snt_config.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/oslib.h"
#include "kit/regkey.h"

namespace {

constexpr const char* kTraceSource = "config/snt_config";

void logEnv(int line, const char* name) {
    fw::setTraceOrigin(kTraceSource, line);
    fw::setEventLevel(fw::LEVEL_ENV);
    fw::logEvent(name, "%s", "");
}

bool readBool(const kit::RegKey& key, const char* name) { return key.readUnsigned(name) != 0; }
int32_t readInt(const kit::RegKey& key, const char* name) { return static_cast<int32_t>(key.readUnsigned(name)); }

}  // namespace

kit::shared_string defaultStorageFolder() {
    for (int csidl : {CSIDL_MYMUSIC, CSIDL_MYDOCUMENTS, CSIDL_PROFILE}) {
        try {
            return kit::getSpecialDirectory(csidl);
        } catch (kit::Exception&) {
        }
    }
    return "C:\\";
}

kit::shared_string autostartCommand(const char* programPath) {
    bool blank = std::strchr(programPath, ' ') != nullptr;
    return kit::shared_string::format(blank ? "\"%s\" --tray_run" : "%s --tray_run", programPath);
}

SntConfig::SntConfig()
    : line(0),
      lastFormat(1),
      lastBitrate(128),
      xPos(20),
      yPos(20),
      volumeLevel(32767),
      storageDir(defaultStorageFolder()),
      volumeCoeff(1.0),
      remind30min(false),
      remindOutOfSpace(false),
      startInTray(false),
      needCalibration(true),
      startUpDialog(true) {}

bool SntConfig::load() {
    logEnv(__LINE__, "SntConfig::load ()");
    fw::catchAndReport(
        kTraceSource, __LINE__,
        [this] {
            kit::RegKey key(HKEY_CURRENT_USER, kKeyPath, true);
            line = readInt(key, "Line");
            storageDir = key.readString("StorageDir");
            lastFormat = readInt(key, "LastFormat");
            remind30min = readBool(key, "Remind30min");
            lastBitrate = readInt(key, "lastBitrate");
            remindOutOfSpace = readBool(key, "RemindOutOfSpace");
            startInTray = readBool(key, "StartInTray");
            needCalibration = readBool(key, "needCalibration");
            xPos = readInt(key, "Xpos");
            yPos = readInt(key, "Ypos");
            startUpDialog = readBool(key, "startUpDialog");
            volumeLevel = readInt(key, "VolumeLevel");
            kit::shared_string coefficient = key.readString("VolumeCoeff");
            double value = 0;
            if (std::sscanf(coefficient.c_str(), "%lf", &value) == 1) volumeCoeff = value;
        },
        fw::LEVEL_WARN);
    if (fw::takeExceptionReported()) {
        logEnv(__LINE__, "Loading config from registry failed, saving default configuration.");
        save();
        return false;
    }
    logEnv(__LINE__, "Successfully loaded");
    return true;
}

bool SntConfig::save() {
    logEnv(__LINE__, "SntConfig::save ()");
    if (static_cast<uint32_t>(xPos) > static_cast<uint32_t>(::GetSystemMetrics(SM_CXSCREEN))) xPos = 10;
    if (static_cast<uint32_t>(yPos) > static_cast<uint32_t>(::GetSystemMetrics(SM_CYSCREEN))) yPos = 10;
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        kit::RegKey key(HKEY_CURRENT_USER, kKeyPath, true);
        key.writeString("StorageDir", storageDir.c_str());
        key.writeUnsigned("Line", static_cast<uint32_t>(line));
        key.writeUnsigned("Remind30min", remind30min ? 1 : 0);
        key.writeUnsigned("RemindOutOfSpace", remindOutOfSpace ? 1 : 0);
        key.writeUnsigned("lastBitrate", static_cast<uint32_t>(lastBitrate));
        key.writeUnsigned("LastFormat", static_cast<uint32_t>(lastFormat));
        key.writeUnsigned("StartInTray", startInTray ? 1 : 0);
        key.writeUnsigned("needCalibration", needCalibration ? 1 : 0);
        key.writeUnsigned("Xpos", static_cast<uint32_t>(xPos));
        key.writeUnsigned("Ypos", static_cast<uint32_t>(yPos));
        key.writeUnsigned("VolumeLevel", static_cast<uint32_t>(volumeLevel));
        key.writeUnsigned("startUpDialog", startUpDialog ? 1 : 0);
        char coefficient[256];
        std::snprintf(coefficient, sizeof coefficient, "%lf", volumeCoeff);
        key.writeString("VolumeCoeff", coefficient);
    });
    logEnv(__LINE__, "Successfully saved");
    return true;
}

void SntConfig::enableAutostart() {
    fw::catchAndReport(
        kTraceSource, __LINE__,
        [] {
            char path[1024] = {};
            ::GetModuleFileNameA(nullptr, path, sizeof path);
            kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, true);
            run.writeString(kRunValue, autostartCommand(path).c_str());
        },
        fw::LEVEL_WARN);
    fw::takeExceptionReported();
}

void SntConfig::disableAutostart() {
    fw::catchAndReport(
        kTraceSource, __LINE__,
        [] {
            kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, true);
            run.deleteValue(kRunValue);
        },
        fw::LEVEL_WARN);
    fw::takeExceptionReported();
}

bool SntConfig::isAutostartEnabled() {
    try {
        kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, false);
        run.readString(kRunValue);
        return true;
    } catch (...) {
        return false;
    }
}
