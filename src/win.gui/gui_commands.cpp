// The commands of the command line and of the command pipe: a recording
// started without the options dialog (into a given file or folder, or the
// last folder under a fresh name), its end, and what is under way.
#include <cstdio>
#include <utility>

#include "diagnostics/eventlog.h"
#include "engine/engine.h"
#include "win.dialogs/file_save_logic.h"
#include "win.dialogs/hotkey_dialog.h"
#include "win.gui/gui.h"

namespace {

constexpr const char* kTraceSource = "win.gui/gui_commands";

using command::Reply;

bool isFolder(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The engine's format code of the command: the one asked for, else the
// file's extension, else the last one used.
int formatCode(const command::Command& order, const std::string& name, int lastFormat) {
    const bool lastIsMp3 = lastFormat == engine::FORMAT_MP3_128 || lastFormat == engine::FORMAT_MP3_96 ||
                           lastFormat == engine::FORMAT_MP3_BITRATE;
    switch (order.format) {
    case command::Format::Wav: return engine::FORMAT_WAV;
    case command::Format::Flac: return engine::FORMAT_FLAC;
    case command::Format::Mp3:
        return order.bitrate > 0 ? engine::FORMAT_MP3_BITRATE : lastIsMp3 ? lastFormat : engine::FORMAT_MP3_128;
    case command::Format::Last: break;
    }
    std::size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (char& c : extension) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    if (extension == ".wav") return engine::FORMAT_WAV;
    if (extension == ".flac") return engine::FORMAT_FLAC;
    if (extension == ".mp3" && !lastIsMp3) return engine::FORMAT_MP3_128;
    return lastFormat;
}

// A name not yet taken in `folder`: the proposed one, else with " (2)", " (3)" ...
std::string freshPath(const std::string& folder, const char* extension) {
    std::string base = folder + engine::proposedFileName();
    std::string path = base + extension;
    for (int n = 2; exists(path) && n < 1000; ++n) path = base + " (" + std::to_string(n) + ")" + extension;
    return path;
}

std::string limitText(int minutes) {
    char text[32];
    std::snprintf(text, sizeof text, " for %d:%02d", minutes / 60, minutes % 60);
    return text;
}

}  // namespace

Reply Gui::runCommand(const command::Command& order) {
    FW_TRACE("Command %d while the recording is %s", static_cast<int>(order.verb), recordingStateName(state));
    if (closing || sessionEnding) return Reply{command::kRefused, "Sonotape is closing"};
    switch (order.verb) {
    case command::Verb::Record: return commandRecord(order);
    case command::Verb::Stop: return commandStop();
    case command::Verb::Status: return commandStatus();
    case command::Verb::None: break;
    }
    return Reply{command::kRefused, "no command"};
}

Reply Gui::commandRecord(const command::Command& order) {
    if (state == RecordingState::Completed) completeRecording();  // the last file is complete: the pause ends
    switch (state) {
    case RecordingState::Idle: break;
    case RecordingState::Choosing:
        return Reply{command::kRefused, "Sonotape is already recording; its options dialog is open"};
    case RecordingState::Recording:
        return Reply{command::kRefused, "Sonotape is already recording to " + saveDialog->getPath()};
    case RecordingState::Completing:
    case RecordingState::Completed:
        return Reply{command::kRefused, "Sonotape is completing a recording; try again in a moment"};
    }
    const Settings& settings = currentSettings();
    std::string folder;
    std::string name;
    if (order.path.empty() || isFolder(order.path)) {
        folder = order.path.empty() ? std::string(settings.storageDir.c_str()) : order.path;
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    } else {
        filesave::PathParts parts = filesave::splitPath(filesave::resolvePath(order.path, {}));
        folder = parts.folder;
        name = parts.name;
    }
    if (!filesave::isAbsolutePath(folder) || !isFolder(folder))
        return Reply{command::kRefused, "the folder " + folder + " does not exist"};
    const int format = formatCode(order, name, settings.lastFormat);
    const int index = filesave::indexFromCode(format);
    std::string path =
        name.empty() ? freshPath(folder, filesave::extensionFor(index)) : folder + filesave::withExtension(name, index);
    if (auto reserved = filesave::reservedComponent(path))
        return Reply{command::kRefused, "\"" + *reserved + "\" is a name Windows keeps for a device"};
    if (exists(path)) return Reply{command::kRefused, path + " exists already; it is not replaced"};
    const int bitrate = order.bitrate > 0 ? order.bitrate : settings.lastBitrate;

    if (!startCapture(false)) {
        std::string problem = recordingEngine->lastProblem();
        return Reply{command::kRefused, problem.empty() ? "the recording could not start" : problem};
    }
    saveDialog->setFormat(format);
    saveDialog->setBitrate(bitrate);
    saveDialog->presetChoice(path, order.limitMinutes);
    std::string failure;
    if (!adoptOutput(*saveDialog, &failure)) return Reply{command::kRefused, failure};
    FW_TRACE("Recording by command to %s", path.c_str());
    return Reply{command::kDone,
                 "Recording to " + path + (order.limitMinutes > 0 ? limitText(order.limitMinutes) : std::string())};
}

Reply Gui::commandStop() {
    switch (state) {
    case RecordingState::Idle: return Reply{command::kRefused, "Sonotape is not recording"};
    case RecordingState::Choosing:
        return Reply{command::kRefused, "the recording options dialog is open; the recording has no file yet"};
    case RecordingState::Recording: break;
    case RecordingState::Completing: return Reply{command::kRefused, "Sonotape is completing the recording already"};
    case RecordingState::Completed: return Reply{command::kRefused, "Sonotape is not recording"};
    }
    std::string path = saveDialog->getPath();
    endRecord();
    // The answer waits until the file is complete, so that a script may take it at once.
    while (state == RecordingState::Completing) {
        mailbox->deliver();
        if (state == RecordingState::Completing) mailbox->waitForLetter(1000);
    }
    return Reply{command::kDone, "Stopped: " + path + " is complete"};
}

Reply Gui::commandStatus() {
    switch (state) {
    case RecordingState::Idle: break;
    case RecordingState::Choosing:
        return Reply{command::kDone, "Recording; the options dialog is open (no file yet), " +
                                         std::string(stopwatch->toString().c_str())};
    case RecordingState::Recording:
        return Reply{command::kDone,
                     "Recording to " + saveDialog->getPath() + ", " + std::string(stopwatch->toString().c_str())};
    case RecordingState::Completing: return Reply{command::kDone, "Completing " + saveDialog->getPath()};
    case RecordingState::Completed:
        return Reply{command::kDone, "Not recording; " + saveDialog->getPath() + " is complete"};
    }
    return Reply{command::kDone, "Not recording"};
}

// The pipe is made once; a name another process holds is said (logged by the channel).
void Gui::openCommandChannel() {
    if (commandServer) return;
    kit::smartptr<command::Server> server(
        new command::Server([this](const command::Command& order) { return runCommand(order); }));
    command::Server::Opened opened = server->open();
    if (opened == command::Server::Opened::Yes) {
        commandServer = server;
        return;
    }
    const char* text = opened == command::Server::Opened::Taken
                           ? "Another program holds the name of Sonotape's command pipe: commands from the command "
                             "line (--record, --stop, --status) do not reach this copy."
                           : "Sonotape's command pipe could not be made: commands from the command line do not reach "
                             "this copy.";
    FW_TRACE("%s", text);
    if (!quietStart) ::MessageBoxA(nullptr, text, "Sonotape", MB_OK | MB_ICONWARNING);
}

// ---- the recording hotkey ------------------------------------------------------------------------

void Gui::hotkeyPressed() {
    FW_TRACE("The recording hotkey, while the recording is %s", recordingStateName(state));
    if (state == RecordingState::Recording) {
        endRecord();
    } else if (state == RecordingState::Idle) {
        command::Command order;
        order.verb = command::Verb::Record;
        Reply reply = commandRecord(order);
        if (reply.code != command::kDone) showProblem(reply.text.c_str());
    }
}

bool Gui::registerHotkey(int32_t code) {
    constexpr UINT kNoRepeat = 0x4000;  // MOD_NOREPEAT: a key held down is one press
    if (hotkeyHeld) ::UnregisterHotKey(nullptr, kHotkeyId);
    const int32_t previous = std::exchange(hotkeyHeld, 0);
    if (code == 0) return true;
    if (::RegisterHotKey(nullptr, kHotkeyId, static_cast<UINT>(code / 256) | kNoRepeat,
                         static_cast<UINT>(code & 0xFF))) {
        hotkeyHeld = code;
        FW_TRACE("The recording hotkey is %s", hotkeyText(code).c_str());
        return true;
    }
    FW_LOG(fw::LEVEL_WARN, "HotkeyTaken", "another program holds %s (error %lu)", hotkeyText(code).c_str(),
           ::GetLastError());
    if (previous && ::RegisterHotKey(nullptr, kHotkeyId, static_cast<UINT>(previous / 256) | kNoRepeat,
                                     static_cast<UINT>(previous & 0xFF)))
        hotkeyHeld = previous;
    return false;
}

// The dialog stays until a hotkey nobody else holds is chosen, or Cancel.
void Gui::chooseHotkey() {
    int32_t shown = currentSettings().hotkey;
    for (;;) {
        kit::smartptr<HotkeyDialog> dialog(new HotkeyDialog(programInstance, shown));
        if (dialog->ShowDialog() != IDOK) return;
        shown = dialog->getCode();
        if (shown == hotkeyHeld || registerHotkey(shown)) break;
        ::MessageBoxA(mainWindowHandle(), hotkeyTakenMessage(shown).c_str(), "Sonotape", MB_OK | MB_ICONWARNING);
    }
    Settings copy = currentSettings();
    copy.hotkey = shown;
    storeSettings(copy);
}
