// The real sonotape.exe under Wine on the bed: the main window's level meter,
// read from the screen, follows the level of what plays.
#include <gmock/gmock.h>
#include <windows.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver.h"
#include "engine/engine.h"
#include "kit/sound_level.h"
#include "program.h"
#include "resource.h"
#include "sound.capture/capture_check.h"
#include "support/bed_audio.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.windows/level_meter_paint.h"
#include "win.windows/patterned_window.h"

namespace {

using namespace testsupport;

constexpr RECT kMeter = kit::PatternedWindow::kMeterBox;

// The lit length of the left channel's bar, in pixels from its left end: the
// level and the held peak are dark on the light track.
int litPixels(HWND main, int& barWidth) {
    const kit::MeterLayout layout = kit::meterLayout(kMeter.right - kMeter.left, kMeter.bottom - kMeter.top);
    barWidth = layout.bars[0].right - layout.bars[0].left;
    Capture shot = captureWindow(main);
    const int y = kMeter.top + layout.bars[0].top + 1;
    int lit = 0;
    while (lit < barWidth && Capture::green(shot.at(kMeter.left + lit, y)) < 150) ++lit;
    return lit;
}

// The level the meter shows, in dBFS (the bottom of its scale when unlit).
double shownDbfs(HWND main) {
    int width = 0;
    int lit = litPixels(main, width);
    return kit::kMeterFloorDbfs * (1.0 - static_cast<double>(lit) / width);
}

class ProgramMeterTest : public program::ProgramCase {
protected:
    TempDir dir;
};

TEST_F(ProgramMeterTest, TheMeterFollowsThePlayedLevelWithinADecibel) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Settings stored;
    stored.load();
    stored.captureSource = Settings::kSourceLoopback;
    stored.save();
    running = std::make_unique<program::Program>("", dir.path());
    HWND button = running->recordButton();
    HWND main = running->mainWindow();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(waitForSilentSink(15000));

    driver::click(button);
    HWND options = running->dialog("File save...");
    ASSERT_NE(options, nullptr);
    driver::typeInto(options, IDC_PATH, dir.file("levels"));
    driver::clickItem(options, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    EXPECT_TRUE(waitUntil([&] { return shownDbfs(main) <= kit::kMeterFloorDbfs; }, 5000)) << "nothing plays yet";

    // Three seconds at -6 dBFS, then three at -24 dBFS.
    const int loud = 16423, soft = 2068;
    std::vector<int16_t> played = toneSignal(1000.0, 3.0, loud);
    std::vector<int16_t> after = toneSignal(1000.0, 3.0, soft);
    played.insert(played.end(), after.begin(), after.end());
    writeWav(dir.file("played.wav"), played);
    ASSERT_TRUE(playIntoSink(dir.file("played.wav")));
    int width = 0;
    litPixels(main, width);
    const double tolerance = 1.0 + -kit::kMeterFloorDbfs / width / 2;  // a decibel, and half a pixel
    for (int amplitude : {loud, soft}) {
        const double expected = kit::peakDbfs(amplitude);
        EXPECT_TRUE(waitUntil([&] { return std::fabs(shownDbfs(main) - expected) <= tolerance; }, 5000))
            << shownDbfs(main) << " dBFS shown while " << expected << " dBFS plays";
    }
    EXPECT_TRUE(waitUntil([&] { return shownDbfs(main) <= kit::kMeterFloorDbfs; }, 8000)) << "the sound has ended";

    driver::click(button);
    EXPECT_TRUE(waitUntil([&] { return readWav(dir.file("levels.wav")).riffSize > 36; }, 15000));
    program::closeNormally(*running);
}

}  // namespace
