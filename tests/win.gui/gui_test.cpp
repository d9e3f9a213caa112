// The Gui in this test program's own process, with the real engine on the
// bed: what it shows at each step of a recording, the shutdown after a timed
// recording (observed through the program's shutdown call, which this
// process replaces), the worker threads' callbacks, the menu, the tray icon
// after a restart of the shell.
//
// This thread is the Gui's thread; a "user" thread drives the modal dialogs
// that the Gui shows on it.
#include <gmock/gmock.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "sound.capture/sound_recorder.h"
#include "config/settings.h"
#include "driver.h"
#include "kit/regkey.h"
#include "kit/text_code.h"
#include "program.h"
#include "resource.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "sound.capture/scripted_wave_in.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.gui/mailbox.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

// gtest's own regular expressions on this platform have no brackets.
bool matches(const std::string& text, const char* pattern) { return std::regex_match(text, std::regex(pattern)); }

const DWORD self = ::GetCurrentProcessId();

// What the program's outward calls would have done.
std::atomic<int> shutdowns{0};
std::atomic<bool> loggedBeforeShutdown{false};
std::vector<std::string> commands;  // written on this thread only, as UTF-8
std::vector<std::string> opened;    // as UTF-8

void recordShutdown() {
    ++shutdowns;
    loggedBeforeShutdown = readFile("log.txt").find("Recorded: ") != std::string::npos;
}
void recordCommand(const wchar_t* line, int) { commands.push_back(kit::narrow(line, CP_UTF8)); }

// The requests not to sleep, with the thread that made each.
std::vector<std::pair<EXECUTION_STATE, DWORD>> awakeCalls;
EXECUTION_STATE WINAPI recordExecutionState(EXECUTION_STATE state) {
    awakeCalls.emplace_back(state, ::GetCurrentThreadId());
    return ES_CONTINUOUS;
}
constexpr EXECUTION_STATE kAwake = ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
constexpr EXECUTION_STATE kReleased = ES_CONTINUOUS;

// The system was asked not to sleep from the start of the recording, on the
// Gui's thread, and the request was released at its end.
void expectAwakeThenReleased() {
    std::vector<EXECUTION_STATE> states;
    for (auto& call : awakeCalls) {
        states.push_back(call.first);
        EXPECT_EQ(call.second, ::GetCurrentThreadId()) << "the thread that owns the request";
    }
    EXPECT_EQ(states, (std::vector<EXECUTION_STATE>{kAwake, kReleased}));
}
void recordShellOpen(HWND, const wchar_t* target, int) { opened.push_back(kit::narrow(target, CP_UTF8)); }
std::vector<std::string> notices;  // the warnings after recordings
void recordNotice(HWND, const char* text) { notices.push_back(text); }

// A person at the keyboard, on a thread of its own.
class User {
public:
    explicit User(std::function<void()> steps)
        : thread([this, steps] {
              steps();
              done = true;
          }) {}
    ~User() {
        if (thread.joinable()) thread.join();
    }
    // Pumps this thread's messages until the user is done.
    bool finished(DWORD timeoutMs = 20000) {
        bool ok = waitUntil([this] { return done.load(); }, timeoutMs);
        if (ok) thread.join();
        return ok;
    }

private:
    std::atomic<bool> done{false};
    std::thread thread;
};

HWND waitDialog(const char* title, DWORD timeoutMs = 10000) {
    return driver::waitWindow(self, "#32770", title, timeoutMs);
}

std::string staticText(HWND dialog, int id) {
    char text[512] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        program::prepareSettings(dir.path(), engine::FORMAT_WAV);
        char cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, cwd);
        oldDirectory = cwd;
        ::SetCurrentDirectoryA(dir.path().c_str());  // log.txt goes there
        shutdowns = 0;
        loggedBeforeShutdown = false;
        commands.clear();
        opened.clear();
        gui_platform::testing::setShutdownCall(&recordShutdown);
        gui_platform::testing::setRunCommandCall(&recordCommand);
        gui_platform::testing::setShellOpenCall(&recordShellOpen);
        awakeCalls.clear();
        gui_platform::testing::setExecutionStateCall(&recordExecutionState);
        notices.clear();
        gui_platform::testing::setNoticeCall(&recordNotice);
    }

    void TearDown() override {
        if (gui && gui->engineForTests().isRecording()) gui->abortRecord();
        gui.reset();
        pumpFor(200);  // the quit message the main window's end posts is taken here
        ::SetCurrentDirectoryA(oldDirectory.c_str());
        gui_platform::testing::setShutdownCall(nullptr);
        gui_platform::testing::setRunCommandCall(nullptr);
        gui_platform::testing::setShellOpenCall(nullptr);
        gui_platform::testing::setExecutionStateCall(nullptr);
        gui_platform::testing::setNoticeCall(nullptr);
        program::removeRunEntry();
    }

    void startGui(const char* commandLine = "sonotape.exe") {
        gui = std::make_unique<Gui>(::GetModuleHandleA(nullptr), seams);
        gui->initialize(commandLine, SW_SHOWNORMAL);
    }

    std::string mainText() const { return gui->getMainWindow()->getText().c_str(); }

    // Clicks the record button and answers the recording options dialog with
    // `choose` (on the user's thread); returns when the dialog is gone.
    void record(const std::function<void(HWND)>& choose) {
        User user([&] {
            HWND options = waitDialog("File save...");
            if (options) choose(options);
        });
        gui->toggleRecording();
        ASSERT_TRUE(user.finished());
    }

    static void wavTo(HWND options, const std::string& path) {
        driver::typeInto(options, IDC_PATH, path);
        driver::clickItem(options, IDC_FORMAT_WAV);
    }

    bool waitForLogLine(DWORD timeoutMs = 15000) {
        return waitUntil([] { return readFile("log.txt").find("Recorded: ") != std::string::npos; }, timeoutMs);
    }

    bool calibrationGreyed() const {
        return (::GetMenuState(gui->getContextMenu(), IDM_CALIBRATE, MF_BYCOMMAND) & MF_GRAYED) != 0;
    }

    TempDir dir;
    std::string oldDirectory;
    engine::EngineSeams seams;  // before the Gui, which records through them
    std::unique_ptr<Gui> gui;
};

TEST_F(GuiTest, ARecordingShowsTheTimeTheWaitTextAndTheHintThatOpensTheFolder) {
    startGui();
    kit::PatternedWindow* main = gui->getMainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(::IsWindowVisible(main->getHandle()));
    EXPECT_FALSE(gui->getTrayIcon()->isShown()) << "window and icon are never shown together";
    EXPECT_TRUE(main->isOverlayVisible());
    EXPECT_FALSE(calibrationGreyed());

    std::string path = dir.file("take");
    std::atomic<bool> greyedWhileChoosing{false};
    record([&](HWND options) {
        greyedWhileChoosing = calibrationGreyed();
        wavTo(options, path);
        driver::clickItem(options, IDOK);
    });
    EXPECT_TRUE(greyedWhileChoosing);
    ASSERT_TRUE(gui->engineForTests().isRecording());
    EXPECT_EQ(awakeCalls.size(), 1u);
    EXPECT_TRUE(calibrationGreyed());
    EXPECT_FALSE(main->isOverlayVisible());
    EXPECT_TRUE(matches(mainText(), "00:00:0[0-9]")) << mainText();
    EXPECT_EQ(gui->getOpenFolderCommand(), "explorer " + dir.path() + "\\");
    pumpFor(2100);
    EXPECT_TRUE(matches(mainText(), "00:00:0[1-9]")) << mainText();

    gui->toggleRecording();
    EXPECT_EQ(mainText(), gui_rules::kEndingWait);
    EXPECT_TRUE(gui->isEndingRecord());
    EXPECT_FALSE(gui->getRecordButton()->isAlternate());
    EXPECT_EQ(readFile("log.txt"), kit::kUtf8Mark)
        << "the file is finished on the finalizer's thread, the line comes after";

    ASSERT_TRUE(waitForLogLine());
    std::string line = withUnixLineEnds(readFile("log.txt"));
    EXPECT_TRUE(matches(line, "\xEF\xBB\xBFRecorded: .*take\\.wav 00:00:0[2-4]\n")) << line;
    EXPECT_EQ(mainText(), gui_rules::kDoneHint);
    EXPECT_TRUE(gui->isLinkPending());
    EXPECT_FALSE(gui->isEndingRecord());
    EXPECT_FALSE(calibrationGreyed());
    EXPECT_EQ(gui->getSaveDialog(), nullptr);
    EXPECT_EQ(shutdowns.load(), 0);
    expectAwakeThenReleased();

    ::SendMessageA(main->getHandle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], "explorer " + dir.path() + "\\");
    EXPECT_FALSE(gui->isLinkPending());
    EXPECT_TRUE(main->isOverlayVisible());
    ::SendMessageA(main->getHandle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    EXPECT_EQ(commands.size(), 1u) << "the link is used once";
}

// A folder and a file named in other scripts (Cyrillic, Japanese, Polish
// letters and an emoji): the file has that name, log.txt (UTF-8) names it, and
// the folder link hands the shell exactly that folder.
TEST_F(GuiTest, TheFolderLinkOpensAFolderNamedInAnyScript) {
    const std::wstring folder = L"C:\\\u0417\u0430\u043f\u0438\u0441\u0438\\\u65e5\u672c\u8a9e";  // C:\Записи\日本語
    const std::wstring name = L"\u0142\u00f3d\u017a \U0001F3B5";                                  // łódź 🎵
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr), ERROR_SUCCESS);
    startGui();
    record([&](HWND options) {
        wavTo(options, kit::narrow(folder + L"\\" + name));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
    EXPECT_NE(::GetFileAttributesW((folder + L"\\" + name + L".wav").c_str()), INVALID_FILE_ATTRIBUTES);
    std::string log = readFile("log.txt");
    EXPECT_EQ(log.substr(0, 3), kit::kUtf8Mark);
    EXPECT_NE(log.find("Recorded: " + kit::narrow(folder + L"\\" + name + L".wav", CP_UTF8) + " 00:00:0"),
              std::string::npos)
        << log;
    ::SendMessageA(gui->getMainWindow()->getHandle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(kit::widen(commands[0], CP_UTF8), L"explorer " + folder + L"\\");
    ::DeleteFileW((folder + L"\\" + name + L".wav").c_str());
    ::RemoveDirectoryW(folder.c_str());
    ::RemoveDirectoryW(folder.substr(0, folder.rfind(L'\\')).c_str());
}

// Recording what plays with every playback device gone: the window says that
// nothing can be heard instead of the time, until a device is plugged in; the
// notice afterwards tells of the change.
TEST_F(GuiTest, WithNoPlaybackDeviceTheWindowSaysThatNothingCanBeHeard) {
    ASSERT_TRUE(changeBedSound("line-silent"));
    struct Reset {
        ~Reset() { changeBedSound("reset"); }
    } reset;
    startGui();
    gui->engineForTests().useSourceForTests(Settings::kSourceLoopback);
    record([&](HWND options) {
        wavTo(options, dir.file("unplugged"));
        driver::clickItem(options, IDOK);
    });
    ASSERT_TRUE(gui->engineForTests().isRecording());
    ASSERT_TRUE(changeBedSound("no-sink"));
    EXPECT_TRUE(waitUntil([&] { return mainText() == gui_rules::kNoPlaybackDevice; }, 5000)) << mainText();
    ASSERT_TRUE(changeBedSound("plug"));
    EXPECT_TRUE(waitUntil([&] { return matches(mainText(), "00:00:[0-9][0-9]"); }, 5000)) << mainText();
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
    ASSERT_TRUE(waitUntil([] { return !notices.empty(); }, 2000));
    // Every sink goes, one after the other: the capture may follow the first to the second.
    EXPECT_THAT(notices[0], HasSubstr("The playback device changed during the recording ("));
}

TEST_F(GuiTest, ADoubleClickWhileRecordingOpensNothing) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("quiet"));
        driver::clickItem(options, IDOK);
    });
    ::SendMessageA(gui->getMainWindow()->getHandle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    EXPECT_TRUE(commands.empty());
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
}

TEST_F(GuiTest, ATimedRecordingWithShutdownTickedShutsDownAfterTheLogLine) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("timed"));
        driver::clickItem(options, IDC_TIME_LIMIT);
        driver::clickItem(options, IDC_SHUTDOWN);
        driver::clickItem(options, IDOK);
    });
    ASSERT_TRUE(waitForLogLine(8000)) << "the limit of nothing ends the recording at the next tick";
    pumpFor(200);
    EXPECT_EQ(shutdowns.load(), 1);
    EXPECT_TRUE(loggedBeforeShutdown);
    expectAwakeThenReleased();
}

TEST_F(GuiTest, ShutdownTickedWithoutTheTimeLimitDoesNotShutDown) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("untimed"));
        driver::clickItem(options, IDC_TIME_LIMIT);
        driver::clickItem(options, IDC_SHUTDOWN);
        driver::clickItem(options, IDC_TIME_LIMIT);  // the limit is off again, the box stays ticked
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    ASSERT_TRUE(gui->engineForTests().isRecording()) << "no limit";
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
    pumpFor(200);
    EXPECT_EQ(shutdowns.load(), 0);
}

TEST_F(GuiTest, AForcedStopIsIgnoredWhileChoosingAndCarriedOutAtTheNextTickAfter) {
    startGui();
    record([&](HWND options) {
        std::thread([] { MailboxEngineEvents().mustStop("too slow while choosing"); }).join();
        ::Sleep(1300);  // the Gui takes it meanwhile, and ticks
        wavTo(options, dir.file("forced"));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    ASSERT_TRUE(gui->engineForTests().isRecording()) << "the stop asked for while the dialog was open is ignored";

    std::string shown;
    User user([&] {
        std::thread([] { MailboxEngineEvents().mustStop("The recording device is too slow."); }).join();
        HWND message = waitDialog("Sonotape");
        if (!message) return;
        shown = staticText(message, IDC_MESSAGE_TEXT);
        driver::clickItem(message, IDOK);
    });
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(shown, "The recording device is too slow.");
    ASSERT_TRUE(waitForLogLine());
    EXPECT_FALSE(gui->engineForTests().isRecording());
    expectAwakeThenReleased();
}

TEST_F(GuiTest, TheDiskSpaceWarningAndStopArriveFromAnotherThread) {
    {
        kit::RegKey key(HKEY_CURRENT_USER, Settings::kKeyPath, true);
        key.writeUnsigned("RemindOutOfSpace", 1);
    }
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("space"));
        driver::clickItem(options, IDOK);
    });
    kit::TransparentWindow* note = gui->getNotificationWindow();

    std::thread([] { MailboxEngineEvents().diskSpaceLow(false); }).join();
    int size = -1;
    note->getSizeAndMode(&size, nullptr);
    EXPECT_EQ(size, kit::TWS_SMALL) << "nothing happens on the watcher's thread";
    pumpFor(300);
    note->getSizeAndMode(&size, nullptr);
    EXPECT_EQ(size, kit::TWS_LARGE);
    EXPECT_STREQ(note->getText().c_str(), gui_rules::kLowSpace);
    EXPECT_TRUE(::IsWindowVisible(note->getHandle()));

    std::string shown;
    User user([&] {
        std::thread([] { MailboxEngineEvents().diskSpaceLow(true); }).join();
        HWND message = waitDialog("Sonotape");
        if (!message) return;
        shown = staticText(message, IDC_MESSAGE_TEXT);
        driver::clickItem(message, IDOK);
    });
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(shown, gui_rules::kNoSpace);
    ASSERT_TRUE(waitForLogLine());
    EXPECT_FALSE(::IsWindowVisible(gui->getMainWindow()->getHandle())) << "the window goes to the tray";
    EXPECT_TRUE(gui->getTrayIcon()->isShown());
    expectAwakeThenReleased();
}

// A small volume mounted inside drive C:, whose own free space is plenty,
// filled up by another program during the recording: the watcher asks about
// the output's folder, so the recording is stopped with the reason, and the
// file is a consistent WAV.
TEST_F(GuiTest, AFolderOnAVolumeInsideDriveCThatFillsUpStopsTheRecording) {
    std::string folder = dir.file("small");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    SmallDisk disk(folder, 24 << 20);
    ASSERT_TRUE(disk.mounted()) << "mounting a tmpfs needs root";
    startGui();
    record([&](HWND options) {
        wavTo(options, folder + "\\take");
        driver::clickItem(options, IDOK);
    });
    ASSERT_TRUE(gui->engineForTests().isRecording());
    std::string shown;
    User user([&] {
        NativeResult filled = runNative(folder, "head -c 19922944 /dev/zero > filler", 30000);
        if (!filled.finished) return;
        HWND message = waitDialog("Sonotape");
        if (!message) return;
        shown = staticText(message, IDC_MESSAGE_TEXT);
        driver::clickItem(message, IDOK);
    });
    ASSERT_TRUE(user.finished(40000));
    EXPECT_EQ(shown, gui_rules::kNoSpace);
    ASSERT_TRUE(waitForLogLine());
    EXPECT_FALSE(gui->engineForTests().isRecording());
    WavFile wav = readWav(folder + "\\take.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.fileSize, 44u + wav.dataSize);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    expectAwakeThenReleased();
}

TEST_F(GuiTest, TheThirtyMinuteReminderSaysTheRecordingGoesOn) {
    startGui();
    std::thread([] { MailboxEngineEvents().halfHourRecorded(); }).join();
    pumpFor(300);
    EXPECT_EQ(waitDialog("Sonotape", 0), nullptr) << "not while nothing records";
    record([&](HWND options) {
        wavTo(options, dir.file("long"));
        driver::clickItem(options, IDOK);
    });
    std::string shown;
    User user([&] {
        std::thread([] { MailboxEngineEvents().halfHourRecorded(); }).join();
        HWND message = waitDialog("Sonotape");
        if (!message) return;
        shown = staticText(message, IDC_MESSAGE_TEXT);
        driver::clickItem(message, IDOK);
    });
    ASSERT_TRUE(user.finished());
    EXPECT_EQ(shown, gui_rules::kStillRecording);
    EXPECT_TRUE(gui->engineForTests().isRecording());
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
}

// The recording device goes away while the user chooses the file: the dialog
// stays; after OK the recording ends at once with the file, the log line and
// a word about the device.
class GuiWithScriptedDevice : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        seams.captureDevice = &device;
    }
    void TearDown() override {
        GuiTest::TearDown();  // ends a recording still under way
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
    }
    testsupport::ScriptedWaveIn device;
};

TEST_F(GuiWithScriptedDevice, ADeviceLostWhileChoosingEndsTheRecordingAfterOkWithAWord) {
    device.setSource(std::vector<int16_t>(8820 * 8, 1000));
    startGui();
    record([&](HWND options) {
        for (int i = 0; i < 8; ++i) {
            device.waitQueued(kit::SoundRecorder::kDeviceBlocks);
            device.deliverFull();
        }
        device.goAway();
        waitUntil([&] { return gui->engineForTests().isCaptureDeviceLost(); }, 8000);
        ::Sleep(1200);  // a tick passes with the dialog open
        if (!::IsWindowVisible(options)) return;
        wavTo(options, dir.file("gone"));
        driver::clickItem(options, IDOK);
    });
    ASSERT_TRUE(waitForLogLine(5000)) << "ended at the next tick";
    EXPECT_FALSE(gui->engineForTests().isRecording());
    ASSERT_TRUE(waitUntil([] { return !notices.empty(); }, 2000));
    EXPECT_THAT(notices[0], HasSubstr("The recording device was lost"));
    EXPECT_THAT(notices[0], HasSubstr("0.8 seconds of sound are in"));
    testsupport::WavFile wav = testsupport::readWav(dir.file("gone.wav"));
    EXPECT_TRUE(wav.valid);
    EXPECT_EQ(wav.dataSize, 8u * 17640u);
}

TEST_F(GuiTest, CancelInTheOptionsDialogAbortsWithoutFileOrLine) {
    startGui();
    record([&](HWND options) { driver::clickItem(options, IDCANCEL); });
    EXPECT_FALSE(gui->engineForTests().isRecording());
    EXPECT_FALSE(gui->isEndingRecord());
    EXPECT_TRUE(gui->getMainWindow()->isOverlayVisible());
    EXPECT_FALSE(calibrationGreyed());
    pumpFor(1700);
    EXPECT_EQ(readFile("log.txt"), kit::kUtf8Mark) << "no line";
    EXPECT_EQ(gui->getSaveDialog(), nullptr);
    expectAwakeThenReleased();
}

TEST_F(GuiTest, ASecondClickWhileChoosingClosesTheDialogAndDropsTheRecording) {
    startGui();
    HWND button = gui->getRecordButton()->getHandle();
    record([&](HWND options) {
        driver::click(button);  // real mouse input, taken by the dialog's loop on the Gui's thread
        driver::waitGone(options, 5000);
    });
    EXPECT_FALSE(gui->engineForTests().isRecording());
    EXPECT_EQ(gui->getSaveDialog(), nullptr);
    EXPECT_TRUE(gui->getMainWindow()->isOverlayVisible());
    EXPECT_FALSE(calibrationGreyed());
    pumpFor(300);
    EXPECT_EQ(readFile("log.txt"), kit::kUtf8Mark) << "no line";
}

TEST_F(GuiTest, TheProgramEndingDuringARecordingReleasesTheAwakeRequest) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("ending"));
        driver::clickItem(options, IDOK);
    });
    ASSERT_TRUE(gui->engineForTests().isRecording());
    gui.reset();
    expectAwakeThenReleased();
    WavFile wav = readWav(dir.file("ending.wav"));
    EXPECT_TRUE(wav.valid) << "the file is completed";
}

// The console's close while the options dialog shows the name of an existing
// file: the recording goes into a new file beside it, complete with its log
// line before the handler returns; the existing file is kept, nothing asks.
TEST_F(GuiTest, TheConsolesCloseDuringTheOptionsDialogCompletesTheRecordingBeforeItReturns) {
    startGui();
    writeFile(dir.file("kept.wav"), "kept");
    std::atomic<BOOL> handled{FALSE};
    std::string logOnReturn;
    WavFile wavOnReturn;
    User user([&] {
        HWND options = waitDialog("File save...");
        if (!options) return;
        wavTo(options, dir.file("kept"));
        ::Sleep(1500);
        handled = endSessionOnConsoleEvent(CTRL_CLOSE_EVENT);
        logOnReturn = withUnixLineEnds(readFile("log.txt"));
        std::smatch m;
        if (std::regex_search(logOnReturn, m, std::regex("Recorded: (.+) \\d\\d:\\d\\d:\\d\\d\n")))
            wavOnReturn = readWav(m[1]);
    });
    gui->toggleRecording();
    ASSERT_TRUE(user.finished());
    EXPECT_TRUE(handled);
    EXPECT_TRUE(matches(logOnReturn, "\xEF\xBB\xBFRecorded: .*\\\\SNT_[0-9_-]+\\.wav 00:00:0[1-3]\n")) << logOnReturn;
    EXPECT_TRUE(wavOnReturn.valid);
    EXPECT_EQ(wavOnReturn.riffSize, wavOnReturn.dataSize + 36);
    EXPECT_GT(wavOnReturn.dataSize, 176400u) << "more than the second the dialog was open";
    EXPECT_EQ(readFile(dir.file("kept.wav")), "kept");
    EXPECT_FALSE(gui->engineForTests().isRecording());
    EXPECT_EQ(gui->recordingState(), RecordingState::Idle);
    EXPECT_EQ(driver::findWindow(self, "#32770", "Sonotape"), nullptr) << "no message box";
}

TEST_F(GuiTest, ExitWhileTheRecordingIsFinishingIsIgnored) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("finishing"));
        driver::clickItem(options, IDOK);
    });
    gui->toggleRecording();
    ASSERT_TRUE(gui->isEndingRecord());
    gui->menuCommand(IDM_EXIT);
    MSG msg;
    EXPECT_FALSE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "no quit";
    ASSERT_TRUE(waitForLogLine());
}

TEST_F(GuiTest, TheMenuFollowsTheWindowAndTheSettings) {
    {
        kit::RegKey key(HKEY_CURRENT_USER, Settings::kKeyPath, true);
        key.writeUnsigned("Remind30min", 1);
    }
    startGui("\"C:\\Program Files\\Sonotape\\sonotape.exe\" --tray_run");
    HMENU menu = gui->getContextMenu();
    auto checked = [&](UINT id) { return (::GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0; };
    EXPECT_TRUE(checked(IDM_REMIND_30MIN));
    EXPECT_FALSE(checked(IDM_OUT_OF_SPACE));
    EXPECT_FALSE(checked(IDM_START_WITH_WINDOWS));
    EXPECT_TRUE(gui->getTrayIcon()->isShown()) << "--tray_run starts in the tray";
    EXPECT_EQ(gui->getMainWindow(), nullptr) << "no window until one is needed";

    // The text of the tray item, read while the menu is open.
    auto trayItemWhileOpen = [&] {
        std::string text;
        User user([&] {
            HWND open = driver::waitMenu();
            if (!open) return;
            char buffer[64] = {};
            ::GetMenuStringA(menu, IDM_TRAY_OR_RESTORE, buffer, sizeof buffer, MF_BYCOMMAND);
            text = buffer;
            driver::pressKey(open, VK_ESCAPE);
        });
        gui->TrackPopup();
        EXPECT_TRUE(user.finished());
        return text;
    };
    EXPECT_EQ(trayItemWhileOpen(), "Restore size");
    gui->menuCommand(IDM_TRAY_OR_RESTORE);
    ASSERT_NE(gui->getMainWindow(), nullptr);
    EXPECT_TRUE(::IsWindowVisible(gui->getMainWindow()->getHandle()));
    EXPECT_FALSE(gui->getTrayIcon()->isShown());
    EXPECT_EQ(trayItemWhileOpen(), "Send to System Tray");

    gui->menuCommand(IDM_REMIND_30MIN);
    EXPECT_FALSE(checked(IDM_REMIND_30MIN));
    EXPECT_EQ(kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, false).readUnsigned("Remind30min"), 0u);
    gui->menuCommand(IDM_OUT_OF_SPACE);
    EXPECT_TRUE(checked(IDM_OUT_OF_SPACE));
    EXPECT_EQ(kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, false).readUnsigned("RemindOutOfSpace"), 1u);

    gui->menuCommand(IDM_START_WITH_WINDOWS);
    EXPECT_TRUE(checked(IDM_START_WITH_WINDOWS));
    EXPECT_TRUE(program::runEntryExists());
    gui->menuCommand(IDM_START_WITH_WINDOWS);
    EXPECT_FALSE(checked(IDM_START_WITH_WINDOWS));
    EXPECT_FALSE(program::runEntryExists());

    gui->menuCommand(IDM_OPEN_STORAGE);
    gui->menuCommand(IDM_HELP);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], dir.path());
    EXPECT_EQ(opened[1], gui_rules::kHelpPage);
}

TEST_F(GuiTest, TheTrayIconComesBackWhenTheShellRestarts) {
    startGui("sonotape.exe -t");
    kit::TrayIcon* tray = gui->getTrayIcon();
    ASSERT_TRUE(tray->isShown());
    auto shellKnows = [&] {
        NOTIFYICONDATAA probe = kit::trayNotifyRecord(tray->getWindow(), nullptr, "Sonotape");
        probe.uFlags = NIF_TIP;
        return ::Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
    };
    ASSERT_TRUE(shellKnows());
    // The shell forgets every icon when it restarts, then says so to every top-level window.
    NOTIFYICONDATAA gone = kit::trayNotifyRecord(tray->getWindow(), nullptr, "", true);
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &gone));
    ASSERT_FALSE(shellKnows());
    ::SendMessageA(tray->getWindow(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(shellKnows()) << "the icon is back";
    EXPECT_TRUE(tray->isShown());

    // With the window shown there is no icon to bring back.
    gui->showMainWindow(SW_SHOWNORMAL);
    ASSERT_FALSE(shellKnows());
    ::SendMessageA(tray->getWindow(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_FALSE(shellKnows());
}

// ---- settings that point nowhere ----------------------------------------------------------

kit::RegKey settingsKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true); }

TEST_F(GuiTest, AWindowStoredOffScreenComesOntoTheNearestWorkArea) {
    struct Stored {
        int x, y;
    };
    for (Stored stored : {Stored{100000, 100000}, Stored{-500, -500}, Stored{100000, -500}}) {
        program::prepareSettings(dir.path(), engine::FORMAT_WAV);
        settingsKey().writeUnsigned("Xpos", static_cast<uint32_t>(stored.x));
        settingsKey().writeUnsigned("Ypos", static_cast<uint32_t>(stored.y));
        startGui();
        HWND main = gui->getMainWindow()->getHandle();
        ASSERT_TRUE(::IsWindowVisible(main));
        RECT r{};
        ::GetWindowRect(main, &r);
        MONITORINFO info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(::GetMonitorInfoA(::MonitorFromWindow(main, MONITOR_DEFAULTTONEAREST), &info));
        const RECT& work = info.rcWork;
        EXPECT_TRUE(r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom)
            << "stored " << stored.x << ", " << stored.y << ": the window is at " << r.left << ", " << r.top;
        gui.reset();
        pumpFor(200);
    }
}

// A folder on a drive that is gone and a format code that names nothing: the
// music folder and the default format, WAV, are offered. Typed names are
// stored as their folder alone: slashes become backslashes, a name without a
// folder goes into the folder offered.
TEST_F(GuiTest, SettingsThatPointNowhereOfferTheMusicFolderAndTheFolderAloneIsStored) {
    char gone = 0;
    for (char c = 'z'; c > 'd' && !gone; --c)
        if (!(::GetLogicalDrives() & (1u << (c - 'a')))) gone = c;
    settingsKey().writeString("StorageDir", (std::string(1, gone) + ":\\recordings").c_str());
    settingsKey().writeUnsigned("LastFormat", 7);
    startGui();
    std::string music = defaultStorageFolder().str();
    std::string slashed = dir.path();
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::string offered;
    bool wavOffered = false;
    record([&](HWND options) {
        offered = driver::itemText(options, IDC_PATH);
        wavOffered = driver::isChecked(options, IDC_FORMAT_WAV);
        wavTo(options, slashed + "/fwd");
        driver::clickItem(options, IDOK);
    });
    EXPECT_THAT(offered, ::testing::StartsWith(music + "\\SNT_"));
    EXPECT_TRUE(wavOffered);
    ASSERT_TRUE(gui->engineForTests().isRecording());
    EXPECT_EQ(settingsKey().readString("StorageDir"), dir.path() + "\\");
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
    EXPECT_TRUE(fileExists(dir.file("fwd.wav")));

    record([&](HWND options) {
        offered = driver::itemText(options, IDC_PATH);
        wavTo(options, "rel");
        driver::clickItem(options, IDOK);
    });
    EXPECT_THAT(offered, ::testing::StartsWith(dir.path() + "\\SNT_"));
    EXPECT_EQ(settingsKey().readString("StorageDir"), dir.path() + "\\");
    gui->toggleRecording();
    ASSERT_TRUE(waitUntil([] { return readFile("log.txt").find("rel.wav") != std::string::npos; }, 15000));
    EXPECT_TRUE(fileExists(dir.file("rel.wav")));
}

// ---- the end of a recording ----------------------------------------------------------------

TEST_F(GuiTest, ClicksWhileARecordingIsCompletedAreNotActedOnLater) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("first"));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    std::atomic<bool> optionsShown{false};
    User user([&] {
        HWND options = waitDialog("File save...", 6000);
        if (!options) return;
        optionsShown = true;
        driver::clickItem(options, IDCANCEL);
    });
    gui->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return gui->recordingState() == RecordingState::Completed; }, 15000));
    // A second click, made while the program completes the recording: it is
    // taken at once (the pause holds nothing up) and ignored.
    driver::click(gui->getRecordButton()->getHandle());
    ASSERT_TRUE(waitForLogLine());
    ASSERT_TRUE(user.finished(10000));
    EXPECT_FALSE(optionsShown) << "the click was acted on after the completion";
    EXPECT_FALSE(gui->engineForTests().isRecording());
    EXPECT_EQ(gui->recordingState(), RecordingState::Idle);
}

TEST_F(GuiTest, ARecordingFinishedAtTheEndOfTheProgramIsLogged) {
    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("completing"));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    gui->toggleRecording();
    ASSERT_EQ(gui->recordingState(), RecordingState::Completing);
    gui.reset();  // what the end of the message loop does
    std::string log = withUnixLineEnds(readFile("log.txt"));
    EXPECT_TRUE(matches(log, "\xEF\xBB\xBFRecorded: .*completing\\.wav 00:00:0[1-3]\n")) << log;

    startGui();
    record([&](HWND options) {
        wavTo(options, dir.file("running"));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    gui.reset();  // still recording
    log = withUnixLineEnds(readFile("log.txt"));
    EXPECT_TRUE(matches(log, "\xEF\xBB\xBFRecorded: .*completing\\.wav .*\nRecorded: .*running\\.wav 00:00:0[1-3]\n"))
        << log;
}

TEST_F(GuiTest, InTheTrayTheLastRecordingsLinkGivesWayToTheNextRecording) {
    startGui("sonotape.exe -t");
    kit::TransparentWindow* note = gui->getNotificationWindow();
    record([&](HWND options) {
        wavTo(options, dir.file("one"));
        driver::clickItem(options, IDOK);
    });
    pumpFor(1200);
    gui->toggleRecording();
    ASSERT_TRUE(waitForLogLine());
    int mode = -1;
    note->getSizeAndMode(nullptr, &mode);
    ASSERT_EQ(mode, kit::kLinkMode);

    RECT whileChoosing{};
    record([&](HWND options) {
        ::GetWindowRect(note->getHandle(), &whileChoosing);
        wavTo(options, dir.file("two"));
        driver::clickItem(options, IDOK);
    });
    EXPECT_EQ(whileChoosing.right - whileChoosing.left, 130) << "the time, not the old link";
    note->getSizeAndMode(nullptr, &mode);
    EXPECT_EQ(mode, kit::kPlainMode);
    ::SendMessageA(note->getHandle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
    EXPECT_TRUE(commands.empty()) << "the old folder is not opened";
    EXPECT_TRUE(::IsWindowVisible(note->getHandle())) << "the time stays shown";
    gui->toggleRecording();
    ASSERT_TRUE(
        waitUntil([] { return withUnixLineEnds(readFile("log.txt")).find("two.wav") != std::string::npos; }, 15000));
}

TEST_F(GuiTest, TheEndWaitBoxNeverStaysAfterARecordingWithoutFile) {
    startGui("sonotape.exe -t");
    record([&](HWND options) {
        // a disk-space stop with no file to watch
        std::thread([] { MailboxEngineEvents().diskSpaceLow(true); }).join();
        ::Sleep(1500);
        HWND box = waitDialog("Sonotape", 0);
        if (box) driver::clickItem(box, IDOK);
        driver::clickItem(options, IDCANCEL);
    });
    pumpFor(1500);
    HWND wait = gui->getEndWait()->getHandle();
    EXPECT_FALSE(wait && ::IsWindowVisible(wait));
    EXPECT_FALSE(gui->engineForTests().isRecording());
    EXPECT_EQ(gui->recordingState(), RecordingState::Idle);
}

}  // namespace
