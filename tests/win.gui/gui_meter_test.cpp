// The Gui in this test program's own process: the level meter of the main
// window and the notification window, the warning after two minutes of
// silence, and the words for what is recorded (tray tip, menu, and the
// window's text when loopback gives way to the line). A scripted device
// delivers silence as fast as the recorder takes it (the silence is counted
// in the sound's own time); the tone is played into the bed's sink and
// recorded through the real loopback capture.
#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "diagnostics/eventlog.h"
#include "driver.h"
#include "engine/engine.h"
#include "kit/sound_level.h"
#include "program.h"
#include "resource.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "support/bed_audio.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.gui/gui.h"
#include "win.gui/platform_calls.h"
#include "win.gui/rules.h"

namespace {

using namespace testsupport;
using ::testing::HasSubstr;

constexpr std::size_t kBlockBytes = 17640;  // 100 ms of 2 x 16 bit x 44100 Hz

void ignoreNotice(HWND, const char*) {}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string menuItemText(HMENU menu, UINT id) {
    char text[256] = {};
    ::GetMenuStringA(menu, id, text, sizeof text, MF_BYCOMMAND);
    return text;
}

class GuiMeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        program::prepareSettings(dir.path(), engine::FORMAT_WAV);
        char cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, cwd);
        oldDirectory = cwd;
        ::SetCurrentDirectoryA(dir.path().c_str());
        gui_platform::testing::setNoticeCall(&ignoreNotice);
        seams.captureDevice = &line;
    }
    void TearDown() override {
        if (gui && gui->engineForTests().isRecording()) gui->abortRecord();
        gui.reset();
        pumpFor(200);
        ::SetCurrentDirectoryA(oldDirectory.c_str());
        gui_platform::testing::setNoticeCall(nullptr);
        EXPECT_THAT(line.violations(), ::testing::IsEmpty());
    }

    void startGui(int32_t source) {
        Settings stored;
        stored.load();
        stored.captureSource = source;
        stored.save();
        gui = std::make_unique<Gui>(::GetModuleHandleA(nullptr), seams);
        gui->initialize("sonotape.exe", SW_SHOWNORMAL);
    }

    // Starts a recording into a WAV file (the options dialog answered on a
    // thread of its own) and returns once the dialog is gone.
    void record(const std::string& name) {
        std::atomic<bool> done{false};
        std::thread user([&] {
            HWND options = driver::waitWindow(::GetCurrentProcessId(), "#32770", "File save...", 10000);
            if (options) {
                driver::typeInto(options, IDC_PATH, dir.file(name));
                driver::clickItem(options, IDC_FORMAT_WAV);
                driver::clickItem(options, IDOK);
            }
            done = true;
        });
        gui->toggleRecording();
        waitUntil([&] { return done.load(); }, 20000);
        user.join();
    }

    std::string mainText() const { return gui->getMainWindow()->getText().c_str(); }
    const kit::MeterLevels& shown() const { return gui->getMainWindow()->meterLevels(); }

    TempDir dir;
    std::string oldDirectory;
    ScriptedWaveIn line;
    engine::EngineSeams seams;
    std::unique_ptr<Gui> gui;
};

// Two minutes of silent frames bring the warning in place of the time, once;
// sound takes it away, and a new silence brings it back. The events file
// notes each silence.
TEST_F(GuiMeterTest, TwoMinutesOfSilenceAreSaidOnceAndAgainAfterSoundAndNewSilence) {
    const std::string events = fw::eventsFilePath();
    fw::testing::flushNow();
    const std::size_t before = countOf(readFile(events), "NothingHeard");
    startGui(Settings::kSourceRecordingLine);
    record("quiet");
    ASSERT_TRUE(gui->engineForTests().hasOutput());
    const std::vector<int16_t> loud(kBlockBytes / 2, 3000);
    std::atomic<int> stage{0};  // 1: the first silence is delivered, 2: sound, 3: the second silence
    std::atomic<bool> failed{false};
    std::thread device([&] {
        auto deliverSilence = [&](int blocks) {
            for (int i = 0; i < blocks && !failed; ++i)
                if (!line.deliverFull()) failed = true;  // past its source the device records zeros
        };
        deliverSilence(1200);
        stage = 1;
        if (!waitUntil([&] { return stage != 1 || failed; }, 60000)) failed = true;
        if (!line.deliverData(loud.data(), kBlockBytes)) failed = true;
        deliverSilence(1199);
        stage = 3;
        if (!waitUntil([&] { return stage != 3 || failed; }, 60000)) failed = true;
        deliverSilence(1);
        stage = 5;
    });
    struct Join {
        std::thread& t;
        std::atomic<bool>& failed;
        ~Join() {
            if (t.joinable()) {
                failed = true;
                t.join();
            }
        }
    } join{device, failed};
    ASSERT_TRUE(waitUntil([&] { return stage == 1 || failed; }, 60000));
    ASSERT_FALSE(failed);
    EXPECT_TRUE(waitUntil([&] { return mainText() == gui_rules::nothingHeardText(); }, 3000)) << mainText();
    pumpFor(300);  // painted
    screenshotWindow(gui->getMainWindow()->getHandle(), "main-window-nothing-heard");
    stage = 2;
    ASSERT_TRUE(waitUntil([&] { return stage == 3 || failed; }, 60000));
    EXPECT_NE(mainText(), gui_rules::nothingHeardText()) << "sound came back; 119.9 s of silence since";
    EXPECT_EQ(gui->engineForTests().captureLevels().silences, 1u);
    gui->hideMainWindow();  // in the tray, the notification window says it
    stage = 4;
    ASSERT_TRUE(waitUntil([&] { return stage == 5 || failed; }, 10000));
    kit::TransparentWindow* note = gui->getNotificationWindow();
    EXPECT_TRUE(waitUntil([&] { return note->getText().view() == gui_rules::nothingHeardText(); }, 3000))
        << note->getText().c_str();
    EXPECT_TRUE(::IsWindowVisible(note->getHandle()));
    EXPECT_TRUE(waitUntil([&] { return mainText() == gui_rules::nothingHeardText(); }, 3000)) << mainText();
    EXPECT_EQ(gui->engineForTests().captureLevels().silences, 2u);
    fw::testing::flushNow();
    EXPECT_EQ(countOf(readFile(events), "NothingHeard") - before, 2u);
    EXPECT_GE(countOf(readFile(events), "SoundHeardAgain"), 1u);
}

// Loopback that cannot be opened gives way to the line, and the user is told:
// the window's text at the start, the tray tip and the menu.
TEST_F(GuiMeterTest, LoopbackThatCannotOpenGivesWayToTheLineAndTheWindowSaysSo) {
    ScriptedWaveIn refusing;
    refusing.failNext(ScriptedWaveIn::Call::open, MMSYSERR_NODRIVER);
    seams.loopbackDevice = &refusing;
    line.setSource(std::vector<int16_t>(kBlockBytes / 2, 1000));
    startGui(Settings::kSourceLoopback);
    EXPECT_EQ(gui->getTrayIcon()->getTip().view(), "Sonotape: Loopback of the playback device");
    record("line");
    ASSERT_TRUE(gui->engineForTests().isRecording());
    EXPECT_TRUE(gui->engineForTests().captureSource().fellBack);
    EXPECT_EQ(mainText(), gui_rules::kLoopbackRefused);
    EXPECT_EQ(gui->getTrayIcon()->getTip().view(), "Sonotape: Recording line (loopback not available)");
    EXPECT_EQ(menuItemText(gui->getContextMenu(), Gui::kSourceItem),
              "Records: Recording line (loopback not available)");
    EXPECT_TRUE(waitUntil([&] { return mainText() != gui_rules::kLoopbackRefused; }, 8000)) << "said for a few seconds";
    EXPECT_THAT(line.violations(), ::testing::IsEmpty());
    EXPECT_THAT(refusing.violations(), ::testing::IsEmpty());
}

// On the bed: a tone played into the sink is recorded through loopback, and
// the main window's meter follows its level.
TEST_F(GuiMeterTest, TheMeterFollowsThePlayedTonesLevel) {
    constexpr int kAmplitude = 8231;  // -12 dBFS
    const std::string wav = dir.file("played.wav");
    writeWav(wav, toneSignal(1000.0, 6.0, kAmplitude));
    startGui(Settings::kSourceLoopback);
    record("tone");
    ASSERT_TRUE(gui->engineForTests().isRecording());
    const engine::CaptureSource source = gui->engineForTests().captureSource();
    ASSERT_TRUE(source.loopback && !source.fellBack);
    EXPECT_FALSE(source.device.empty()) << "the playback device is named";
    EXPECT_EQ(gui->getTrayIcon()->getTip().view(), "Sonotape: Loopback of " + source.device);
    EXPECT_TRUE(waitUntil([&] { return shown().channels[0].peak <= 32; }, 5000)) << "nothing plays yet";
    ASSERT_TRUE(playIntoSink(wav));
    const double expected = kit::peakDbfs(kAmplitude);
    auto atToneLevel = [&](int peak) { return std::fabs(kit::peakDbfs(peak) - expected) <= 1.0; };
    EXPECT_TRUE(
        waitUntil([&] { return atToneLevel(shown().channels[0].peak) && atToneLevel(shown().channels[1].peak); }, 5000))
        << kit::peakDbfs(shown().channels[0].peak) << " dBFS, " << kit::peakDbfs(shown().channels[1].peak)
        << " dBFS shown for " << expected;
    EXPECT_TRUE(atToneLevel(shown().channels[0].hold.peak)) << "held";
    EXPECT_FALSE(kit::isClipPeak(shown().channels[0].hold.peak));
    EXPECT_TRUE(gui->getMainWindow()->isMeterVisible());
    EXPECT_TRUE(waitUntil([&] { return mainText() >= "00:00:02"; }, 4000)) << mainText();
    screenshotWindow(gui->getMainWindow()->getHandle(), "main-window-meter");
    gui->hideMainWindow();  // to the tray: the notification window shows the time and the meter
    EXPECT_TRUE(waitUntil([&] { return ::IsWindowVisible(gui->getNotificationWindow()->getHandle()) != FALSE; }, 3000));
    EXPECT_TRUE(gui->getNotificationWindow()->isMeterShown());
    EXPECT_TRUE(
        waitUntil([&] { return atToneLevel(gui->getNotificationWindow()->meterLevels().channels[1].peak); }, 3000));
    pumpFor(200);
    screenshotWindow(gui->getNotificationWindow()->getHandle(), "notification-meter");
    EXPECT_TRUE(waitUntil([&] { return shown().channels[0].peak <= 32 && shown().channels[1].peak <= 32; }, 12000))
        << "the tone has ended";
}

}  // namespace
