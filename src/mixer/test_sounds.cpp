#include "mixer/test_sounds.h"

#include <cstring>
#include <string>

#include "diagnostics/eventlog.h"
#include "kit/oslib.h"
#include "kit/text_code.h"

namespace kit {
namespace {

constexpr const char* kTraceSource = "mixer/kit_mixer";

}  // namespace

shared_string findTestSound(const char* name) {
    wchar_t wide[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, wide, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::string path = kit::narrow(std::wstring_view(wide, n));
        std::size_t slash = path.rfind('\\');
        if (slash != std::string::npos) {
            std::string beside = path.substr(0, slash + 1) + name;
            if (fileExists(beside.c_str())) return shared_string(beside);
        }
    }
    return shared_string(name);
}

MCIDEVICEID playMidi(HWND notifyWindow, const char* file) {
    MCI_OPEN_PARMSA open{};
    open.lpstrDeviceType = "sequencer";
    open.lpstrElementName = file;
    MCIERROR err = ::mciSendCommandA(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT, reinterpret_cast<DWORD_PTR>(&open));
    if (err != 0) {
        FW_TRACE("playMidi: cannot open the sequencer on %s, error %lu", file, static_cast<unsigned long>(err));
        return 0;
    }
    MCIDEVICEID id = open.wDeviceID;
    MCI_STATUS_PARMS status{};
    status.dwItem = MCI_SEQ_STATUS_PORT;
    err = ::mciSendCommandA(id, MCI_STATUS, MCI_STATUS_ITEM, reinterpret_cast<DWORD_PTR>(&status));
    if (err == 0) {
        MCI_PLAY_PARMS play{};
        play.dwCallback = reinterpret_cast<DWORD_PTR>(notifyWindow);
        err = ::mciSendCommandA(id, MCI_PLAY, MCI_NOTIFY, reinterpret_cast<DWORD_PTR>(&play));
    }
    if (err != 0) {
        FW_TRACE("playMidi: the sequencer cannot play %s, error %lu", file, static_cast<unsigned long>(err));
        stopMci(id);
        return 0;
    }
    return id;
}

void stopMci(MCIDEVICEID id) {
    if (id != 0) ::mciSendCommandA(id, MCI_CLOSE, 0, 0);
}

bool playWaveLooping(const char* file) {
    return ::PlaySoundA(file, nullptr, SND_FILENAME | SND_ASYNC | SND_LOOP) != FALSE;
}

void stopWave() { ::PlaySoundA(nullptr, nullptr, 0); }

}  // namespace kit
