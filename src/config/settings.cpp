#include "config/settings.h"

#include <windows.h>
#include <shlobj.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"
#include "kit/exceptions.h"
#include "kit/level_coefficient.h"
#include "kit/oslib.h"
#include "kit/regkey.h"
#include "kit/text_code.h"

namespace {

constexpr const char* kTraceSource = "config/snt_config";

// Room a storage folder leaves in a path for a recording's name
// ("SNT_dd_mm_yy__hh-mm-ss.mp3" and a little more).
constexpr std::size_t kFileNameRoom = 40;

void logEnv(int line, const char* name) {
    fw::setTraceOrigin(kTraceSource, line);
    fw::setEventLevel(fw::LEVEL_ENV);
    fw::logEvent(name, "%s", "");
}

template <class... Fs>
struct overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
overloaded(Fs...) -> overloaded<Fs...>;

using Member = std::variant<int32_t Settings::*, bool Settings::*, kit::shared_string Settings::*, double Settings::*>;

// One stored value: its registry name, the member it fills, the default of a
// number or flag (the folder and the coefficient have their own), the numbers
// it accepts, and whether the calibration found it.
struct StoredValue {
    const char* name;
    Member member;
    int32_t fallback = 0;
    int32_t low = INT32_MIN;
    int32_t high = INT32_MAX;
    int32_t step = 1;  // the numbers accepted are low, low + step, ... up to high
    bool calibration = false;
};

// In the order of reading and writing.
const StoredValue kValues[] = {
    {.name = "Line", .member = &Settings::line, .calibration = true},
    {.name = "StorageDir", .member = &Settings::storageDir},
    // WAV (engine::FORMAT_WAV); 0, which older versions stored, shows WAV too;
    // 5 is FLAC (engine::FORMAT_FLAC).
    {.name = "LastFormat", .member = &Settings::lastFormat, .fallback = 3, .low = 0, .high = 5},
    {.name = "Remind30min", .member = &Settings::remind30min},
    {.name = "lastBitrate", .member = &Settings::lastBitrate, .fallback = 128, .low = 8, .high = 320},
    {.name = "RemindOutOfSpace", .member = &Settings::remindOutOfSpace},
    {.name = "StartInTray", .member = &Settings::startInTray},
    {.name = "needCalibration", .member = &Settings::needCalibration, .fallback = 1},
    {.name = "Xpos", .member = &Settings::xPos, .fallback = 10},
    {.name = "Ypos", .member = &Settings::yPos, .fallback = 10},
    {.name = "startUpDialog", .member = &Settings::startUpDialog, .fallback = 1},
    {.name = "VolumeLevel",
     .member = &Settings::volumeLevel,
     .fallback = 32767,
     .low = 0,
     .high = 65535,
     .calibration = true},
    {.name = "VolumeCoeff", .member = &Settings::volumeCoeff, .calibration = true},
    // The bits of a WAV or FLAC file: 16 or 24.
    {.name = "LastBits", .member = &Settings::lastBits, .fallback = 16, .low = 16, .high = 24, .step = 8},
    {.name = "CaptureSource",
     .member = &Settings::captureSource,
     .fallback = Settings::kSourceRecordingLine,
     .low = Settings::kSourceRecordingLine,
     .high = Settings::kSourceLoopback},
    // Silence: each rule off until chosen in the menu; the lengths and the
    // threshold (dBFS, stored as a signed number) only through the registry.
    {.name = "SilenceStart", .member = &Settings::silenceStart},
    {.name = "SilenceStop", .member = &Settings::silenceStop},
    {.name = "SilenceStopMinutes", .member = &Settings::silenceStopMinutes, .fallback = 5, .low = 1, .high = 1440},
    {.name = "SilenceSplit", .member = &Settings::silenceSplit},
    {.name = "SilenceSplitSeconds", .member = &Settings::silenceSplitSeconds, .fallback = 2, .low = 1, .high = 3600},
    {.name = "SilenceThresholdDbfs",
     .member = &Settings::silenceThresholdDbfs,
     .fallback = -50,
     .low = -96,
     .high = -1},
    // The recording hotkey: MOD_* * 256 + virtual key (Ctrl+Alt+R); 0: none.
    {.name = "Hotkey", .member = &Settings::hotkey, .fallback = Settings::kDefaultHotkey, .low = 0, .high = 0xFFF},
};

// The default of a number in the table.
int32_t defaultOf(int32_t Settings::*member) {
    for (const StoredValue& v : kValues)
        if (const auto* m = std::get_if<int32_t Settings::*>(&v.member); m && *m == member) return v.fallback;
    return 0;
}

void setDefault(Settings& config, const StoredValue& v) {
    std::visit(overloaded{[&](int32_t Settings::*m) { config.*m = v.fallback; },
                          [&](bool Settings::*m) { config.*m = v.fallback != 0; },
                          [&](kit::shared_string Settings::*m) { config.*m = defaultStorageFolder(); },
                          [&](double Settings::*m) { config.*m = 1.0; }},
               v.member);
}

std::string coefficientText(double coefficient) {
    char text[256];
    std::snprintf(text, sizeof text, "%lf", coefficient);
    return text;
}

// The member's value as it is written to the registry.
std::string describe(const Settings& config, const StoredValue& v) {
    return std::visit(overloaded{[&](int32_t Settings::*m) { return std::to_string(config.*m); },
                                 [&](bool Settings::*m) { return std::string(config.*m ? "1" : "0"); },
                                 [&](kit::shared_string Settings::*m) { return "\"" + (config.*m).str() + "\""; },
                                 [&](double Settings::*m) { return coefficientText(config.*m); }},
                      v.member);
}

// Only the whole text as one number counts (blanks around it aside).
std::optional<double> parseCoefficient(const char* text) {
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text) return std::nullopt;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end != '\0' || !kit::isSaneLevelCoefficient(value)) return std::nullopt;
    return value;
}

std::string storedKind(const kit::RegKey& key, const char* name) {
    DWORD type = REG_NONE;
    ::RegQueryValueExA(key.handle(), name, nullptr, &type, nullptr, nullptr);
    switch (type) {
    case REG_BINARY: return "binary data";
    case REG_DWORD: return "a number";
    case REG_SZ:
    case REG_EXPAND_SZ: return "text";
    case REG_MULTI_SZ: return "a list of texts";
    case REG_QWORD: return "a 64-bit number";
    default: return "data of registry type " + std::to_string(type);
    }
}

// What reading one value found: taken into its member, missing, or
// something that cannot be used (and what it was).
struct Reading {
    enum Outcome { Taken, Missing, Unusable } outcome;
    std::string found;
};

Reading taken() { return {Reading::Taken, {}}; }
Reading unusable(std::string found) { return {Reading::Unusable, std::move(found)}; }

Reading readValue(const kit::RegKey& key, const StoredValue& v, Settings& config) {
    try {
        return std::visit(overloaded{[&](int32_t Settings::*m) {
                                         auto number = static_cast<int32_t>(key.readUnsigned(v.name));
                                         if (number < v.low || number > v.high || (number - v.low) % v.step != 0)
                                             return unusable(std::to_string(number));
                                         config.*m = number;
                                         return taken();
                                     },
                                     [&](bool Settings::*m) {
                                         config.*m = key.readUnsigned(v.name) != 0;
                                         return taken();
                                     },
                                     [&](kit::shared_string Settings::*m) {
                                         kit::shared_string text = key.readString(v.name);
                                         // An earlier version's folder name that its code page
                                         // could not hold came back with "?" in place of the
                                         // characters: the folder is not known.
                                         if (std::strchr(text.c_str(), '?')) return Reading{Reading::Missing, {}};
                                         if (!isStorableFolder(text.c_str())) return unusable("\"" + text.str() + "\"");
                                         config.*m = text;
                                         return taken();
                                     },
                                     [&](double Settings::*m) {
                                         kit::shared_string text = key.readString(v.name);
                                         std::optional<double> coefficient = parseCoefficient(text.c_str());
                                         if (!coefficient) return unusable("\"" + text.str() + "\"");
                                         config.*m = *coefficient;
                                         return taken();
                                     }},
                          v.member);
    } catch (const kit::RegNoValueError&) {
        return {Reading::Missing, {}};
    } catch (const kit::Exception&) {
        return unusable(storedKind(key, v.name));
    }
}

void warnReplaced(const Settings& config, const StoredValue& v, const Reading& r) {
    std::string fallback = describe(config, v);
    if (r.outcome == Reading::Missing)
        FW_LOG(fw::LEVEL_WARN, "SettingMissing", "\"%s\" is missing; its default %s is used", v.name, fallback.c_str());
    else
        FW_LOG(fw::LEVEL_WARN, "SettingUnusable", "\"%s\" holds %s, which cannot be used; its default %s is used",
               v.name, r.found.c_str(), fallback.c_str());
}

}  // namespace

kit::shared_string defaultStorageFolder() {
    for (int csidl : {CSIDL_MYMUSIC, CSIDL_MYDOCUMENTS, CSIDL_PROFILE}) {
        try {
            return kit::getSpecialDirectory(csidl);
        } catch (kit::Exception&) {}
    }
    return "C:\\";
}

bool isStorableFolder(const char* text) noexcept {
    if (!text) return false;
    std::size_t length = std::strlen(text);
    if (length < 3 || kit::platformLength(text) + kFileNameRoom >= MAX_PATH) return false;  // characters, not bytes
    // No name holds a "?".
    if (std::strchr(text, '?')) return false;
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    bool onDrive = std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' && separator(text[2]);
    bool onShare = separator(text[0]) && separator(text[1]) && !separator(text[2]);
    return onDrive || onShare;
}

kit::shared_string autostartCommand(const char* programPath) {
    bool blank = std::strchr(programPath, ' ') != nullptr;
    return kit::shared_string::format(blank ? "\"%s\" --tray_run" : "%s --tray_run", programPath);
}

Settings::Settings() {
    for (const StoredValue& v : kValues) setDefault(*this, v);
}

bool Settings::load() {
    logEnv(__LINE__, "SntConfig::load ()");  // the events file has always said so
    startWithWindows = isAutostartEnabled();
    std::optional<kit::RegKey> key;
    bool unreadable = fw::catchAndReport(
        kTraceSource, __LINE__, [&] { key.emplace(HKEY_CURRENT_USER, kKeyPath, true); }, fw::LEVEL_WARN);

    std::vector<std::pair<const StoredValue*, Reading>> replaced;
    bool anythingStored = false;
    for (const StoredValue& v : kValues) {
        Reading r = unreadable ? Reading{Reading::Missing, {}} : readValue(*key, v, *this);
        anythingStored |= r.outcome != Reading::Missing;
        if (r.outcome != Reading::Taken) replaced.emplace_back(&v, std::move(r));
    }
    if (!anythingStored) {  // the first run, or a key that cannot be read
        for (const auto& entry : replaced) setDefault(*this, *entry.first);
        logEnv(__LINE__, "Loading config from registry failed, saving default configuration.");
        save();
        return false;
    }
    if (!replaced.empty()) {
        bool calibrationLost = false;
        for (const auto& [v, r] : replaced) {
            setDefault(*this, *v);
            warnReplaced(*this, *v, r);
            calibrationLost |= v->calibration;
        }
        if (calibrationLost && !needCalibration) {
            needCalibration = true;
            FW_LOG(fw::LEVEL_WARN, "CalibrationLost", "%s",
                   "a calibration value was replaced: the recording levels are to be calibrated again");
        }
        save();
    }
    logEnv(__LINE__, "Successfully loaded");
    return true;
}

bool Settings::save() {
    logEnv(__LINE__, "SntConfig::save ()");  // the events file has always said so
    // A window off the screen goes back to where it first stood.
    if (static_cast<uint32_t>(xPos) > static_cast<uint32_t>(::GetSystemMetrics(SM_CXSCREEN)))
        xPos = defaultOf(&Settings::xPos);
    if (static_cast<uint32_t>(yPos) > static_cast<uint32_t>(::GetSystemMetrics(SM_CYSCREEN)))
        yPos = defaultOf(&Settings::yPos);
    fw::catchAndReportFatal(kTraceSource, __LINE__, [this] {
        kit::RegKey key(HKEY_CURRENT_USER, kKeyPath, true);
        for (const StoredValue& v : kValues) {
            std::visit(
                overloaded{[&](int32_t Settings::*m) { key.writeUnsigned(v.name, static_cast<uint32_t>(this->*m)); },
                           [&](bool Settings::*m) { key.writeUnsigned(v.name, this->*m ? 1 : 0); },
                           [&](kit::shared_string Settings::*m) { key.writeString(v.name, (this->*m).c_str()); },
                           [&](double Settings::*m) { key.writeString(v.name, coefficientText(this->*m).c_str()); }},
                v.member);
        }
    });
    logEnv(__LINE__, "Successfully saved");
    return true;
}

void Settings::enableAutostart() {
    fw::catchAndReport(
        kTraceSource, __LINE__,
        [] {
            char path[1024] = {};
            ::GetModuleFileNameA(nullptr, path, sizeof path);
            kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, true);
            run.writeString(kRunValue, autostartCommand(path).c_str());
        },
        fw::LEVEL_WARN);
}

void Settings::disableAutostart() {
    fw::catchAndReport(
        kTraceSource, __LINE__,
        [] {
            kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, true);
            run.deleteValue(kRunValue);
        },
        fw::LEVEL_WARN);
}

bool Settings::isAutostartEnabled() {
    try {
        kit::RegKey run(HKEY_CURRENT_USER, kRunKeyPath, false);
        run.readString(kRunValue);
        return true;
    } catch (...) {
        return false;
    }
}
