// The real sonotape.exe on the bed with the silence rules: chosen in the menu
// and stored; a played signal with three gaps is split into four files.
#include <gmock/gmock.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver.h"
#include "engine/engine.h"
#include "kit/regkey.h"
#include "program.h"
#include "resource.h"
#include "sound.capture/capture_check.h"  // the sink waited for
#include "support/bed_audio.h"
#include "support/support.h"
#include "support/ui.h"

namespace {

using program::LogLine;
using program::logLines;
using namespace testsupport;
using program::Program;

kit::RegKey settingsKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true); }

void appendPart(std::vector<int16_t>& to, std::size_t soundFrames, std::size_t silenceFrames, uint32_t seed) {
    std::vector<int16_t> sound = pseudoRandomSignal(soundFrames, seed);
    to.insert(to.end(), sound.begin(), sound.end());
    to.insert(to.end(), silenceFrames * 2, int16_t{0});
}

// The first frame that is not silent (the number of frames when there is none).
std::size_t firstSoundFrame(const std::vector<int16_t>& samples) {
    auto sound = std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v != 0; });
    return static_cast<std::size_t>(sound - samples.begin()) / 2;
}

class ProgramSilence : public program::ProgramCase {
protected:
    void TearDown() override {
        ProgramCase::TearDown();
        for (const char* rule : {"SilenceStart", "SilenceStop", "SilenceSplit"}) settingsKey().writeUnsigned(rule, 0);
    }
    TempDir dir;
};

// Split at 2 s of silence (stored), start when sound begins (chosen in the
// menu): the signal's 3-second gaps make four files, each a complete WAV with
// its own line in log.txt, that together hold the signal bit for bit.
TEST_F(ProgramSilence, ASignalWithThreeGapsIsSplitIntoFourFilesThatTogetherAreTheSignal) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    settingsKey().writeUnsigned("SilenceSplit", 1);
    running = std::make_unique<Program>("", dir.path());
    HWND main = running->mainWindow();
    HWND button = running->recordButton();
    ASSERT_NE(button, nullptr);

    driver::click(main, true);
    HWND menu = driver::waitMenu();
    ASSERT_NE(menu, nullptr);
    driver::typeChar(menu, 'b');  // "Start when sound begins"
    ASSERT_TRUE(driver::waitMenuClosed());
    EXPECT_TRUE(waitUntil([] { return settingsKey().readUnsigned("SilenceStart") == 1; }, 5000)) << "stored";

    // Half a second of silence first: the sink is running before the sound begins.
    std::vector<int16_t> played(kRate, 0);
    appendPart(played, kRate * 2, kRate * 3, 11);
    appendPart(played, kRate * 3 / 2, kRate * 3, 12);
    appendPart(played, kRate, kRate * 3, 13);
    appendPart(played, kRate * 2, 0, 14);
    const DWORD lengthMs = static_cast<DWORD>(played.size() / 2 * 1000 / kRate);
    writeWav(dir.file("signal.wav"), played);
    ASSERT_TRUE(waitForSilentSink(15000));

    driver::click(button);
    HWND options = running->dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("gaps");
    driver::typeInto(options, IDC_PATH, path);
    driver::clickItem(options, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(2500);  // more silence than a split takes: nothing is written before the sound
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));
    DWORD playing = ::GetTickCount();
    pumpFor(lengthMs - 500 - 300);  // (from the first sound) into the last sound; then until it has ended
    ASSERT_TRUE(waitForSilentSink(5000));
    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return logLines(dir.path()).size() >= 4; }, 20000)) << readFile(dir.file("log.txt"));
    std::printf("stopped %lu ms after the signal began (%lu ms long)\n",
                static_cast<unsigned long>(::GetTickCount() - playing), static_cast<unsigned long>(lengthMs));

    const std::string names[] = {path + ".wav", path + " (2).wav", path + " (3).wav", path + " (4).wav"};
    std::vector<LogLine> lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), 4u) << readFile(dir.file("log.txt"));
    std::vector<int16_t> joined;
    for (std::size_t n = 0; n < 4; ++n) {
        WavFile part = readWav(names[n]);
        ASSERT_TRUE(part.valid) << names[n];
        EXPECT_EQ(part.riffSize, part.dataSize + 36) << names[n];
        EXPECT_EQ(lines[n].path, names[n]) << "one line per file, in order";
        EXPECT_EQ(lines[n].seconds, static_cast<int>(part.samples.size() / 2 / kRate)) << names[n];
        joined.insert(joined.end(), part.samples.begin(), part.samples.end());
    }
    EXPECT_FALSE(fileExists(path + " (5).wav"));
    // The files begin with the pre-roll's silence and end with the silence
    // before the stop; between them, the signal from its first sound (its
    // gaps defeat a search for where it lies: it is aligned on that sound).
    std::size_t recordedSound = firstSoundFrame(joined), playedSound = firstSoundFrame(played);
    ASSERT_LT(recordedSound, joined.size() / 2) << "no sound recorded";
    EXPECT_LE(recordedSound, static_cast<std::size_t>(kRate / 4 + kRate / 100)) << "a pre-roll, not the silence";
    auto signal = played.begin() + static_cast<std::ptrdiff_t>(playedSound * 2);
    auto recorded = joined.begin() + static_cast<std::ptrdiff_t>(recordedSound * 2);
    std::size_t length = static_cast<std::size_t>(played.end() - signal);
    ASSERT_GE(static_cast<std::size_t>(joined.end() - recorded), length) << "the signal's end is missing";
    EXPECT_TRUE(std::equal(signal, played.end(), recorded))
        << "the whole signal, bit for bit; first difference at the signal's frame "
        << (std::mismatch(signal, played.end(), recorded).first - played.begin()) / 2 << " of " << played.size() / 2;
    auto after = recorded + static_cast<std::ptrdiff_t>(length);
    EXPECT_TRUE(std::all_of(after, joined.end(), [](int16_t v) { return v == 0; })) << "silence after the signal";
    program::closeNormally(*running);
}

}  // namespace
