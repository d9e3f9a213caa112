// A timed recording started by a second process through the command pipe,
// with the Gui in this process on a clock the test moves on: a minute's
// limit ends the recording in seconds.
#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "engine/engine.h"
#include <commctrl.h>

#include "config/settings.h"
#include "driver.h"
#include "kit/regkey.h"
#include "kit/singleappinst.h"
#include "resource.h"
#include "program.h"
#include "support/bed_audio.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

std::atomic<uint32_t> clockAhead{0};
uint32_t testClock() { return ::GetTickCount() + clockAhead.load(); }

TEST(GuiCommandTest, ARecordOfAMinuteFromASecondProcessEndsWhenTheClockHasRunAMinute) {
    TempDir dir;
    program::prepareSettings(dir.path(), engine::FORMAT_MP3_128);
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    ::SetCurrentDirectoryA(dir.path().c_str());  // log.txt goes there
    clockAhead = 0;
    gui_platform::testing::setRecordingClock(&testClock);
    {
        // This process is the running copy: the second one sends its command.
        kit::SingleInstanceChecker checker("KorvelImageDockMutex");
        kit::smartptr<kit::SingleInstanceCookie> cookie = checker.startSingle();
        ASSERT_TRUE(cookie);
        auto gui = std::make_unique<Gui>();
        gui->initialize("sonotape.exe", SW_SHOWNORMAL);

        const std::string path = dir.file("minute.wav");
        program::Answer answer;
        std::atomic<bool> answered{false};
        std::thread second([&] {
            answer = program::runCommand("--record minute.wav --for 0:01", dir.path());
            answered = true;
        });
        EXPECT_TRUE(waitUntil([&] { return answered.load(); }, 20000));
        second.join();
        EXPECT_EQ(answer.code, 0u) << answer.output;
        EXPECT_THAT(answer.output, HasSubstr("Recording to " + path + " for 0:01"));
        EXPECT_EQ(gui->recordingState(), RecordingState::Recording);

        pumpFor(2500);
        EXPECT_EQ(gui->recordingState(), RecordingState::Recording) << "a minute has not passed";
        clockAhead = 60000;
        EXPECT_TRUE(waitUntil([&] { return gui->recordingState() == RecordingState::Idle; }, 15000))
            << "the minute is over";
        EXPECT_THAT(readFile(dir.file("log.txt")), HasSubstr("Recorded: " + path + " 00:01:0"));
        WavFile wav = readWav(path);
        EXPECT_TRUE(wav.valid);
        EXPECT_GT(wav.dataSize, 0u);
        gui.reset();
    }
    pumpFor(200);
    gui_platform::testing::setRecordingClock(nullptr);
    ::SetCurrentDirectoryA(cwd);
}

TEST(GuiCommandTest, TheHotkeyDialogSaysWhenAnotherProgramHoldsTheKeyAndStoresTheOneTaken) {
    TempDir dir;
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    auto gui = std::make_unique<Gui>();
    gui->initialize("sonotape.exe", SW_SHOWNORMAL);
    const DWORD self = ::GetCurrentProcessId();
    std::string said;
    std::atomic<bool> done{false};
    std::thread user([&] {
        // Another program's hotkey, as far as the Gui's thread can tell.
        bool held = ::RegisterHotKey(nullptr, 9, MOD_CONTROL | MOD_ALT, 'Q');
        for (WORD key :
             {MAKEWORD('Q', HOTKEYF_CONTROL | HOTKEYF_ALT), MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_SHIFT)}) {
            HWND dialog = driver::waitWindow(self, "#32770", "Recording hotkey", 10000);
            if (!dialog) break;
            ::SendDlgItemMessageA(dialog, IDC_HOTKEY, HKM_SETHOTKEY, key, 0);
            if (LOBYTE(key) == VK_F9) {
                ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
                screenshotWindow(dialog, "hotkey-dialog");
            }
            driver::clickItem(dialog, IDOK);
            if (LOBYTE(key) != 'Q' || !held) continue;
            HWND box = driver::waitWindow(self, "#32770", "Sonotape", 10000);
            if (!box) break;
            said = driver::messageBoxText(box);
            driver::clickItem(box, IDOK);
        }
        if (held) ::UnregisterHotKey(nullptr, 9);
        done = true;
    });
    gui->menuCommand(IDM_HOTKEY);
    EXPECT_TRUE(waitUntil([&] { return done.load(); }, 20000));
    user.join();
    EXPECT_THAT(said, HasSubstr("Another program holds the hotkey Ctrl+Alt+Q"));
    EXPECT_EQ(gui->currentSettings().hotkey, (MOD_CONTROL | MOD_SHIFT) * 256 + VK_F9);
    kit::RegKey key(HKEY_CURRENT_USER, Settings::kKeyPath, true);
    EXPECT_EQ(key.readUnsigned("Hotkey"), static_cast<uint32_t>((MOD_CONTROL | MOD_SHIFT) * 256 + VK_F9));
    gui.reset();
    pumpFor(200);
}

}  // namespace
