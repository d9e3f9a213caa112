// The real sonotape.exe under Wine on the bed, driven through its windows as a
// person would use it: first start, recordings to WAV and MP3, the recording
// options dialog left open, the time limit, a second copy, the tray and the
// menu, a file that cannot be created.
#include <gmock/gmock.h>
#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "config/settings.h"
#include "driver.h"
#include "encoding.mp3/mp3_encoding.h"
#include "kit/regkey.h"
#include "kit/text_code.h"
#include "program.h"
#include "resource.h"
#include "sound.capture/capture_check.h"
#include "support/bed_audio.h"
#include "support/native_tools.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.gui/rules.h"

namespace {

using program::LogLine;
using program::logLines;
using namespace testsupport;
using program::Program;
using ::testing::HasSubstr;
using ::testing::Not;

kit::RegKey settingsKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true); }

// The text box of the main window, in window coordinates.
constexpr RECT kTextBox{118, 11, 339, 76};

bool isBlueInk(uint32_t p) { return Capture::blue(p) > 150 && Capture::red(p) < 80 && Capture::green(p) < 80; }
bool isRedInk(uint32_t p) { return Capture::red(p) > 150 && Capture::green(p) < 90 && Capture::blue(p) < 90; }
bool isDarkInk(uint32_t p) { return Capture::blue(p) < 70 && Capture::red(p) < 70 && Capture::green(p) < 70; }

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(program::anyCopyRunning()) << "a copy of the program is left running"; }

    void TearDown() override {
        running.reset();  // ends what is still running
        EXPECT_TRUE(waitUntil([] { return !program::anyCopyRunning(); }, 10000));
        // A Run entry left behind would start the program with the next
        // Wine session (wineboot runs the Run key).
        program::removeRunEntry();
    }

    Program& start(const std::string& arguments = "", const std::string& exeFolder = "") {
        running = std::make_unique<Program>(arguments, dir.path(),
                                            exeFolder.empty() ? exeFolder : exeFolder + "\\sonotape.exe");
        return *running;
    }

    // Ends the program through its main window and expects exit code 0.
    void closeNormally() { program::closeNormally(*running); }

    // In the recording options dialog: the path typed, a format button clicked.
    void chooseOutput(HWND dialog, const std::string& pathWithoutExtension, int formatButton) {
        driver::typeInto(dialog, IDC_PATH, pathWithoutExtension);
        driver::clickItem(dialog, formatButton);
    }

    // Opens the context menu with a right click on `window` and waits for it.
    HWND openMenu(HWND window) {
        pumpFor(700);  // two clicks in a row on one spot would make a double click
        driver::click(window, true);
        return driver::waitMenu();
    }

    // A WAV recording through the button, ended after about two seconds.
    void recordBriefly(HWND button, const std::string& pathWithoutExtension) {
        driver::click(button);
        HWND options = running->dialog("File save...");
        ASSERT_NE(options, nullptr);
        chooseOutput(options, pathWithoutExtension, IDC_FORMAT_WAV);
        driver::clickItem(options, IDOK);
        ASSERT_TRUE(driver::waitGone(options));
        pumpFor(1500);
        driver::click(button);
        ASSERT_TRUE(waitUntil([&] { return readWav(pathWithoutExtension + ".wav").riffSize > 36; }, 15000))
            << "the file is not completed";
    }

    // The tray item ("Send to System Tray" or "Restore size"), by the arrow keys.
    void chooseSecondItem(HWND menu) {
        driver::pressKey(menu, VK_DOWN);
        driver::pressKey(menu, VK_DOWN);
        driver::typeChar(menu, '\r');
    }

    TempDir dir;
    std::unique_ptr<Program> running;
};

// ---- first start --------------------------------------------------------------------------

TEST_F(ProgramTest, AFirstStartStoresTheDefaultsAndCancelSkipsCalibrationAndWelcome) {
    program::removeSettings();
    Program& p = start();
    HWND prompt = p.dialog(gui_rules::kCalibrationCaption);
    ASSERT_NE(prompt, nullptr) << "no calibration prompt";
    EXPECT_EQ(driver::messageBoxText(prompt), gui_rules::kCalibrationPrompt);

    kit::RegKey key = settingsKey();
    EXPECT_EQ(key.readUnsigned("needCalibration"), 1u);
    EXPECT_EQ(key.readUnsigned("startUpDialog"), 1u);
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
    EXPECT_EQ(key.readUnsigned("VolumeLevel"), 32767u);
    EXPECT_EQ(key.readUnsigned("Remind30min"), 0u);
    EXPECT_EQ(key.readUnsigned("RemindOutOfSpace"), 0u);
    EXPECT_EQ(key.readUnsigned("StartInTray"), 0u);
    EXPECT_EQ(key.readUnsigned("LastFormat"), static_cast<uint32_t>(engine::FORMAT_WAV));
    EXPECT_EQ(key.readUnsigned("lastBitrate"), 128u);
    EXPECT_EQ(key.readUnsigned("Xpos"), 10u);
    EXPECT_EQ(key.readUnsigned("Ypos"), 10u);
    EXPECT_NO_THROW(key.readUnsigned("Line"));
    EXPECT_FALSE(key.readString("StorageDir").empty());

    driver::clickItem(prompt, IDCANCEL);
    HWND main = p.mainWindow();
    ASSERT_NE(main, nullptr);
    pumpFor(1500);
    EXPECT_EQ(driver::findWindow(p.id(), program::kDialogClass, "Welcome to Sonotape"), nullptr);
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 1u) << "calibration is still to be done";
    EXPECT_EQ(p.notificationWindow(), nullptr);

    Capture idle = screenshotWindow(main, "main-window-idle");
    EXPECT_EQ(countPixels(idle, kTextBox, isBlueInk), 0);
    EXPECT_GT(countPixels(idle, kTextBox, isRedInk), 30) << "the logo is shown";
    closeNormally();
}

// With the recording line silent, only loopback of the playback device hears
// the test sounds: it is chosen, no mixer line is touched, and the recordings
// that follow hold what played, bit for bit.
TEST_F(ProgramTest, OkOnTheFirstStartCalibratesToLoopbackWelcomesOnceAndRecordsWhatPlays) {
    program::removeSettings();
    ASSERT_TRUE(changeBedSound("line-silent"));
    struct Reset {
        ~Reset() { changeBedSound("reset"); }
    } reset;
    ASSERT_TRUE(waitForSilentSink(15000));
    Program& p = start();
    HWND prompt = p.dialog(gui_rules::kCalibrationCaption);
    ASSERT_NE(prompt, nullptr);
    program::Events events;
    driver::clickItem(prompt, IDOK);

    HWND done = p.dialog("Done", 60000);
    ASSERT_NE(done, nullptr) << "the calibration did not end with its message";
    EXPECT_EQ(driver::messageBoxText(done), gui_rules::kCalibrationDone);
    kit::RegKey key = settingsKey();
    EXPECT_EQ(key.readUnsigned("needCalibration"), 0u);
    EXPECT_EQ(key.readUnsigned("CaptureSource"), 1u) << "loopback";
    EXPECT_TRUE(events.waitFor("Loopback volume = ", 5000)) << "the loopback capture was measured";
    EXPECT_THAT(events.added(), ::testing::Not(::testing::HasSubstr("loudest device"))) << "no line was measured";
    EXPECT_THAT(events.added(), ::testing::Not(::testing::HasSubstr("ERR        #")));
    EXPECT_EQ(std::string(key.readString("VolumeCoeff").c_str()).substr(0, 3), "1.0");
    EXPECT_EQ(driver::findWindow(p.id(), program::kDialogClass, "Welcome to Sonotape"), nullptr)
        << "the welcome comes after the calibration's message";

    driver::clickItem(done, IDOK);
    HWND welcome = p.dialog("Welcome to Sonotape");
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(driver::isChecked(welcome, IDC_SHOW_ON_STARTUP));
    screenshotWindow(welcome, "welcome-dialog");
    driver::clickItem(welcome, IDC_SHOW_ON_STARTUP);
    driver::clickItem(welcome, IDOK);
    ASSERT_TRUE(driver::waitGone(welcome));
    EXPECT_TRUE(waitUntil([] { return settingsKey().readUnsigned("startUpDialog") == 0; }, 3000))
        << "the box was unticked";

    ASSERT_NE(p.mainWindow(), nullptr);
    pumpFor(1500);
    EXPECT_EQ(driver::findWindow(p.id(), program::kDialogClass, "Welcome to Sonotape"), nullptr) << "welcomed once";

    HWND button = p.recordButton();
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 9, 1010);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    pumpFor(500);
    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    chooseOutput(options, dir.file("loopback"), IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(3000);
    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return logLines(dir.path()).size() == 1; }, 15000));
    // Wine's loopback stream delivers its first packet up to about 1.5 s
    // after its start: the file holds silence until then.
    WavFile wav = readWav(dir.file("loopback.wav"));
    SignalMatch m = matchCapture(wav.samples, played);
    ASSERT_GE(m.capturedOffset, 0) << "what played is in the file";
    EXPECT_LT(m.capturedOffset, 2 * kRate);
    EXPECT_TRUE(
        std::all_of(wav.samples.begin(), wav.samples.begin() + m.capturedOffset * 2, [](int16_t v) { return v == 0; }));
    // From there on every frame is the played one, up to the end but for what
    // the stream had not yet passed on when the recording ended: the silence
    // the end puts in for it, at most a block and a half.
    std::size_t heard = static_cast<std::size_t>(m.capturedOffset) + m.matchedFrames;
    EXPECT_LE(wav.samples.size() / 2 - heard, static_cast<std::size_t>(kRate) * 15 / 100);
    EXPECT_TRUE(std::all_of(wav.samples.begin() + static_cast<std::ptrdiff_t>(heard * 2), wav.samples.end(),
                            [](int16_t v) { return v == 0; }));

    driver::click(button);
    options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    chooseOutput(options, dir.file("loopback"), IDC_FORMAT_MP3_128);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(2500);
    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return logLines(dir.path()).size() == 2; }, 15000));
    NativeResult decoded = runNative(dir.path(), "mpg123 -q -w decoded.wav loopback.mp3", 60000);
    ASSERT_EQ(decoded.exitCode, 0) << decoded.output;
    WavFile mp3 = readWav(dir.file("decoded.wav"));
    ASSERT_TRUE(mp3.valid);
    double seconds = mp3.samples.size() / 2.0 / kRate;
    EXPECT_NEAR(seconds, logLines(dir.path())[1].seconds, 1.0) << "the MP3 is as long as the recording";
    EXPECT_GT(rmsLevel(mp3.samples), 1000.0) << "the MP3 holds what played";
    closeNormally();
    pumpFor(std::max<int>(0, 9300 - static_cast<int>(::GetTickCount() - playing)));
}

// ---- recordings ---------------------------------------------------------------------------

TEST_F(ProgramTest, AWavRecordingHoldsThePlayedSignalBitForBitFromTheClickOn) {
    program::prepareSettings(dir.path(), engine::FORMAT_MP3_128);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    HWND main = p.mainWindow();
    program::Events events;

    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 11, 4242);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));  // the signal is under way before the click

    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr) << "no recording options dialog";
    pumpFor(2000 - std::min<DWORD>(2000, ::GetTickCount() - clicked));
    std::string path = dir.file("take");
    chooseOutput(options, path, IDC_FORMAT_WAV);
    EXPECT_EQ(driver::itemText(options, IDC_PATH), path + ".wav");
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));

    pumpFor(4600 - std::min<DWORD>(4600, ::GetTickCount() - clicked));
    Capture recording = screenshotWindow(main, "main-window-recording");
    EXPECT_GT(countPixels(recording, kTextBox, isDarkInk), 30) << "the recording time is shown";
    EXPECT_EQ(countPixels(recording, kTextBox, isRedInk), 0) << "instead of the logo";
    pumpFor(5000 - std::min<DWORD>(5000, ::GetTickCount() - clicked));
    driver::click(button);
    pumpFor(400);
    Capture ending = screenshotWindow(main, "main-window-ending");
    EXPECT_GT(countPixels(ending, kTextBox, isDarkInk), 30) << "the wait text";
    EXPECT_EQ(countPixels(ending, kTextBox, isBlueInk), 0) << "the wait text is black";
    EXPECT_EQ(countPixels(ending, kTextBox, isRedInk), 0);

    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 15000)) << "no line in log.txt";
    std::vector<LogLine> lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].path, path + ".wav");
    EXPECT_NEAR(lines[0].seconds, 5, 1);
    pumpFor(300);
    Capture hint = screenshotWindow(main, "main-window-done-hint");
    EXPECT_GT(countPixels(hint, kTextBox, isBlueInk), 30) << "the hint is drawn blue";
    EXPECT_TRUE(events.waitFor("Begin of end record", 1000));

    WavFile wav = readWav(path + ".wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    double seconds = wav.samples.size() / 2.0 / kRate;
    EXPECT_GT(seconds, 4.4);
    EXPECT_LT(seconds, 6.0);
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.capturedOffset, 0) << "the file begins with the first captured block";
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "every frame is the played one";

    // The hint is offered for six seconds; then the logo is back.
    pumpFor(6500);
    Capture later = captureWindow(main);
    EXPECT_EQ(countPixels(later, kTextBox, isBlueInk), 0);
    EXPECT_GT(countPixels(later, kTextBox, isRedInk), 30) << "the logo is back";
    closeNormally();
    waitForSignalEnd(playing, 11500);
}

TEST_F(ProgramTest, AnMp3RecordingIsAValidFileOfTheRecordedLength) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);

    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    EXPECT_TRUE(driver::isChecked(options, IDC_FORMAT_WAV)) << "primed with the last format";
    pumpFor(2000 - std::min<DWORD>(2000, ::GetTickCount() - clicked));
    std::string path = dir.file("take");
    chooseOutput(options, path, IDC_FORMAT_MP3_128);
    EXPECT_EQ(driver::itemText(options, IDC_PATH), path + ".mp3");
    driver::clickItem(options, IDOK);
    pumpFor(5000 - std::min<DWORD>(5000, ::GetTickCount() - clicked));
    driver::click(button);

    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 15000));
    LogLine line = logLines(dir.path())[0];
    EXPECT_EQ(line.path, path + ".mp3");
    EXPECT_NEAR(line.seconds, 5, 1);
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), static_cast<uint32_t>(engine::FORMAT_MP3_128));
    EXPECT_EQ(settingsKey().readString("StorageDir"), dir.path() + "\\");

    std::string decoded = dir.file("decoded.wav");
    ASSERT_TRUE(startNative("/usr/bin/mpg123 -q -w \"" + unixPath(decoded) + "\" \"" + unixPath(path + ".mp3") + "\""));
    int64_t size = -1;
    ASSERT_TRUE(waitUntil(
        [&] {  // mpg123 is done when its file stops growing
            int64_t now = fileSize(decoded);
            bool same = now > 44 && now == size;
            size = now;
            ::Sleep(200);
            return same;
        },
        20000));
    WavFile wav = readWav(decoded);
    ASSERT_TRUE(wav.valid) << "mpg123 reads the file";
    EXPECT_EQ(wav.samplesPerSec, 44100u);
    EXPECT_EQ(wav.channels, 2u);
    double seconds = wav.samples.size() / 2.0 / kRate;
    EXPECT_GT(seconds, 4.4);
    EXPECT_LT(seconds, 6.0);
    closeNormally();
}

TEST_F(ProgramTest, ATimeLimitOfNothingEndsTheRecordingAtTheFirstTickAfterOk) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    pumpFor(1500);
    chooseOutput(options, dir.file("limited"), IDC_FORMAT_WAV);
    driver::clickItem(options, IDC_TIME_LIMIT);
    EXPECT_TRUE(driver::isEnabled(options, IDC_HOURS));
    EXPECT_EQ(driver::itemText(options, IDC_HOURS), "0");
    EXPECT_EQ(driver::itemText(options, IDC_MINUTES), "0");
    driver::clickItem(options, IDOK);
    DWORD ok = ::GetTickCount();

    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 10000))
        << "the recording did not end by itself";
    // The first tick comes within a second of OK; the log line 1.5 s after the file is complete.
    EXPECT_LT(::GetTickCount() - ok, 4500u);
    LogLine line = logLines(dir.path())[0];
    EXPECT_EQ(line.path, dir.file("limited.wav"));
    EXPECT_LE(line.seconds, 3);
    WavFile wav = readWav(dir.file("limited.wav"));
    EXPECT_TRUE(wav.valid);
    closeNormally();
}

TEST_F(ProgramTest, AnOptionsDialogLeftOpenForAMinuteAbortsTheRecording) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    program::Events events;
    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);

    ASSERT_TRUE(driver::waitGone(options, 75000)) << "the dialog stays open";
    DWORD open = ::GetTickCount() - clicked;
    EXPECT_GE(open, 59000u);
    EXPECT_LE(open, 63000u);
    EXPECT_TRUE(events.waitFor("Aborted. Returning FE_NO_ERROR.", 3000));
    pumpFor(2000);
    EXPECT_TRUE(logLines(dir.path()).empty());
    EXPECT_EQ(readFile(dir.file("log.txt")), kit::kUtf8Mark) << "no line";
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(dir.file("*").c_str(), &found);
    std::vector<std::string> files;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != ".." && name != "log.txt") files.push_back(name);
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    EXPECT_TRUE(files.empty()) << "no file was written: " << (files.empty() ? "" : files[0]);
    closeNormally();
}

// Answers the recording options dialog with `path` and `format` and returns
// the text of the message box that says why there is no file, after a
// screenshot of it. The recording has stopped; the program is idle again.
std::string refusedOutput(Program& p, const std::string& path, int format, const char* screenshot,
                          bool replace = false) {
    HWND button = p.recordButton();
    EXPECT_NE(button, nullptr);
    program::Events events;
    driver::click(button);
    HWND options = p.dialog("File save...");
    EXPECT_NE(options, nullptr);
    if (!options) return {};
    driver::typeInto(options, IDC_PATH, path);
    driver::clickItem(options, format);
    driver::clickItem(options, IDOK);
    if (replace) {  // the file exists: Yes, replace it
        HWND question = p.dialog("Sonotape");
        EXPECT_NE(question, nullptr);
        if (!question) return {};
        driver::clickItem(question, IDYES);
        EXPECT_TRUE(driver::waitGone(question));
    }
    HWND message = p.dialog("Sonotape");
    EXPECT_NE(message, nullptr) << "the user is not told";
    if (!message) return {};
    std::string text = driver::messageBoxText(message);
    EXPECT_TRUE(events.waitFor("Aborted. Returning FE_NO_ERROR.", 3000)) << "the recording is aborted";
    RECT box{};
    ::GetWindowRect(message, &box);
    EXPECT_LT(box.right - box.left, 560) << "a normal message box";
    pumpFor(500);  // painted
    screenshotWindow(message, screenshot);
    driver::clickItem(message, IDOK);
    EXPECT_TRUE(driver::waitGone(message));
    return text;
}

TEST_F(ProgramTest, AFileThatCannotBeCreatedIsNamedWithItsReasonAndTheRecordingStops) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    std::string folder = dir.file("no such folder") + "\\recordings of the evening concerts\\second part";
    std::string text = refusedOutput(p, folder + "\\take", IDC_FORMAT_WAV, "message-folder-missing");
    EXPECT_THAT(text, HasSubstr("The folder does not exist."));
    EXPECT_THAT(text, HasSubstr("take.wav"));
    EXPECT_THAT(text, HasSubstr("recording is stopped"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("lame_enc.dll")));
    EXPECT_TRUE(logLines(dir.path()).empty());

    // The program is idle again: a click starts a new recording.
    driver::click(p.recordButton());
    HWND again = p.dialog("File save...");
    ASSERT_NE(again, nullptr);
    driver::clickItem(again, IDCANCEL);
    ASSERT_TRUE(driver::waitGone(again));
    closeNormally();
}

// A copy of the program without lame_enc.dll beside it: MP3 is refused
// before the file is touched, and the message names the library.
TEST_F(ProgramTest, WithoutTheMp3LibraryAnExistingFileIsKeptAndTheLibraryNamed) {
    TempDir copy;
    ASSERT_TRUE(::CopyFileA((programFolder() + "\\sonotape.exe").c_str(), copy.file("sonotape.exe").c_str(), FALSE));
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    std::string keep = std::string(66772, 'k');
    writeFile(dir.file("keep.mp3"), keep);
    running = std::make_unique<Program>("", dir.path(), copy.path() + "\\sonotape.exe");
    std::string text =
        refusedOutput(*running, dir.file("keep"), IDC_FORMAT_MP3_128, "message-mp3-library-missing", true);
    EXPECT_THAT(text, HasSubstr("lame_enc.dll was not found"));
    EXPECT_TRUE(readFile(dir.file("keep.mp3")) == keep) << "the existing file was changed";
    std::string fresh = refusedOutput(*running, dir.file("fresh"), IDC_FORMAT_MP3_128, "message-mp3-library-missing-2");
    EXPECT_THAT(fresh, HasSubstr("lame_enc.dll was not found"));
    EXPECT_FALSE(fileExists(dir.file("fresh.mp3"))) << "an empty file was left";
    closeNormally();
}

TEST_F(ProgramTest, ClosingTheWindowDuringARecordingCompletesTheFile) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    chooseOutput(options, dir.file("closed"), IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(1500);
    closeNormally();
    WavFile wav = readWav(dir.file("closed.wav"));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36) << "the file was closed properly";
    EXPECT_GT(wav.samples.size() / 2.0 / kRate, 1.0);
    std::vector<LogLine> lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), 1u) << "a recording completed at the end is logged like any other";
    EXPECT_EQ(lines[0].path, dir.file("closed.wav"));
}

// ---- the end of the Windows session -------------------------------------------------------

// A log-off as Wine does it: wineboot asks the windows of every program whether
// the session may end, tells them it ends, and ends each program that is still
// there once its windows have answered. Answers wineboot's exit code, or -1
// when it did not end in time.
int endTheSession() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = "wineboot.exe --end-session";
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    ::CloseHandle(pi.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (waitUntil([&] { return ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 60000))
        ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

// The frames of an MP3 file after its information frame, and the number of
// frames the information frame gives (-1 without one). A partial frame at the
// end counts as no frame at all (-1).
struct Mp3Frames {
    int counted = -1;
    int announced = -1;
};
Mp3Frames mp3Frames(const std::string& file) {
    Mp3Frames r;
    auto byte = [&](std::size_t i) { return static_cast<uint8_t>(file[i]); };
    std::size_t at = 0;
    int frames = 0;
    bool first = true;
    while (at + 4 <= file.size()) {
        uint8_t header[4] = {byte(at), byte(at + 1), byte(at + 2), byte(at + 3)};
        uint32_t length = header[0] == 0xFF && (header[1] & 0xE0) == 0xE0 ? kit::mp3FrameBytes(header) : 0;
        if (length == 0 || at + length > file.size()) return r;
        if (first) {
            std::string frame = file.substr(at, length);
            std::size_t tag = frame.find("Info");
            if (tag == std::string::npos) tag = frame.find("Xing");
            if (tag != std::string::npos && tag + 12 <= frame.size() && (byte(at + tag + 7) & 1)) {
                std::size_t n = at + tag + 8;
                r.announced = (byte(n) << 24) | (byte(n + 1) << 16) | (byte(n + 2) << 8) | byte(n + 3);
            }
            first = false;
        } else {
            ++frames;
        }
        at += length;
    }
    if (at == file.size()) r.counted = frames;
    return r;
}

TEST_F(ProgramTest, TheEndOfTheSessionDuringAWavRecordingCompletesTheFileBeforeTheProgramIsEnded) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 10, 3003);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));

    program::Events events;
    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("logged off");
    chooseOutput(options, path, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(4000 - std::min<DWORD>(4000, ::GetTickCount() - clicked));
    DWORD ending = ::GetTickCount();
    EXPECT_EQ(endTheSession(), 0);
    ASSERT_TRUE(p.waitExit(5000)) << "the program is still there";
    std::printf("the session ended %lu ms after the click, in %lu ms\n", static_cast<unsigned long>(ending - clicked),
                static_cast<unsigned long>(::GetTickCount() - ending));

    WavFile wav = readWav(path + ".wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36) << "the sizes were written";
    EXPECT_EQ(wav.fileSize, wav.dataSize + 44u) << "the header holds all the sound on disk";
    double seconds = wav.samples.size() / 2.0 / kRate;
    EXPECT_GT(seconds, (ending - clicked) / 1000.0 - 0.5) << "what waited in memory was written";
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "every frame is the played one, up to the end";
    std::vector<LogLine> lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), 1u) << "no line in log.txt";
    EXPECT_EQ(lines[0].path, path + ".wav");
    EXPECT_NEAR(lines[0].seconds, seconds, 1.0);
    EXPECT_THAT(events.added(), HasSubstr("SessionEnded")) << "the events file says that the session ended";
    waitForSignalEnd(playing, 10500);
}

TEST_F(ProgramTest, TheEndOfTheSessionDuringTheOptionsDialogSavesWhatItShowsAsACompleteMp3) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    program::Events events;
    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("restarted");
    chooseOutput(options, path, IDC_FORMAT_MP3_128);
    pumpFor(3000 - std::min<DWORD>(3000, ::GetTickCount() - clicked));
    DWORD ending = ::GetTickCount();
    EXPECT_EQ(endTheSession(), 0);
    ASSERT_TRUE(p.waitExit(5000)) << "the program is still there";

    Mp3Frames frames = mp3Frames(readFile(path + ".mp3"));
    ASSERT_GT(frames.counted, 0) << "whole frames only";
    EXPECT_EQ(frames.announced, frames.counted) << "the information frame was written at the end";
    double seconds = frames.counted * 1152.0 / kRate;
    EXPECT_GT(seconds, (ending - clicked) / 1000.0 - 0.5) << "the sound recorded while the dialog was open";
    EXPECT_LT(seconds, (::GetTickCount() - clicked) / 1000.0 + 0.5);
    std::vector<LogLine> lines = logLines(dir.path());
    ASSERT_EQ(lines.size(), 1u) << "no line in log.txt";
    EXPECT_EQ(lines[0].path, path + ".mp3");
    EXPECT_EQ(settingsKey().readUnsigned("LastFormat"), static_cast<uint32_t>(engine::FORMAT_MP3_128));
    EXPECT_THAT(events.added(), HasSubstr("SessionEnded"));
}

TEST_F(ProgramTest, ACancelledEndOfTheSessionLeavesTheRecordingRunning) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("goes on");
    chooseOutput(options, path, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(1500);

    // What Windows sends when another program refuses to let the session end.
    HWND main = p.mainWindow();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the session may end";
    ASSERT_TRUE(::SendMessageTimeoutA(main, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    int64_t size = fileSize(path + ".wav");
    pumpFor(1500);
    ASSERT_TRUE(p.running());
    EXPECT_GT(fileSize(path + ".wav"), size) << "the recording goes on";
    EXPECT_TRUE(logLines(dir.path()).empty());

    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 15000));
    WavFile wav = readWav(path + ".wav");
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    EXPECT_GT(wav.samples.size() / 2.0 / kRate, 2.5);
    closeNormally();
}

// ---- other programs -----------------------------------------------------------------------

BOOL CALLBACK collectChild(HWND child, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
    return TRUE;
}

// COM's apartment window, which Wine's input-method support makes on the
// user-interface thread. Wine's COM takes a pointer in WM_USER and WM_USER+1
// sent to it (Windows' COM uses registered message numbers instead), so junk
// there ends any program that has the window; it is the platform's, not ours.
bool isWineComWindow(HWND w) { return driver::className(w) == "OleMainThreadWndClass"; }

// Every window of a process: the top-level ones (shown or not) with their
// children, and the message-only ones.
std::vector<HWND> everyWindowOf(DWORD processId) {
    std::vector<HWND> found;
    for (HWND top : driver::windowsOf(processId, false)) {
        found.push_back(top);
        ::EnumChildWindows(top, &collectChild, reinterpret_cast<LPARAM>(&found));
    }
    for (HWND w = ::FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
         w = ::FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr)) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(w, &owner);
        if (owner == processId && !isWineComWindow(w)) found.push_back(w);
    }
    return found;
}

std::string classesOf(const std::vector<HWND>& windows) {
    std::string names;
    for (HWND w : windows) names += (names.empty() ? "" : ", ") + driver::className(w);
    return names;
}

// What another program of the same user can do: every message from WM_USER
// to WM_APP+16, posted and sent with junk parameters, to every window. The
// sends do not wait one by one (the receiver takes them as sent messages all
// the same); one waiting send per window lets it work them off. Stops early
// when `stop` is set; answers the number of messages that went out.
long pester(const std::vector<HWND>& windows, const std::atomic<bool>& stop) {
    long sent = 0;
    for (HWND w : windows) {
        for (UINT m = WM_USER; m <= WM_APP + 16 && !stop; ++m, sent += 2) {
            ::PostMessageA(w, m, 0x10, 0x10);
            ::SendNotifyMessageA(w, m, static_cast<WPARAM>(-1), static_cast<LPARAM>(0xDEAD0010));
        }
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer);
    }
    return sent;
}

TEST_F(ProgramTest, NoOtherProgramCanCrashOrSteerIt) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    HWND main = p.mainWindow();
    program::Events events;

    std::vector<HWND> windows = everyWindowOf(p.id());
    bool mailboxFound = false;
    for (HWND w : windows) mailboxFound = mailboxFound || driver::className(w) == "Sonotape.Mailbox";
    EXPECT_TRUE(mailboxFound) << "the message-only mailbox is among the windows";
    EXPECT_EQ(driver::findWindow(p.id(), "Sonotape.Mailbox", nullptr, false), nullptr) << "not a top-level window";
    DWORD begun = ::GetTickCount();
    std::atomic<bool> stop{false};
    long sent = pester(windows, stop);
    std::printf("idle: %ld messages to %u windows in %lu ms (%s)\n", sent, static_cast<unsigned>(windows.size()),
                static_cast<unsigned long>(::GetTickCount() - begun), classesOf(windows).c_str());
    pumpFor(1000);
    ASSERT_TRUE(p.running()) << "crashed while idle";
    EXPECT_EQ(driver::windowsOf(p.id()), std::vector<HWND>{main}) << "a window opened while idle";
    EXPECT_THAT(events.added(), Not(HasSubstr("Begin record!")));

    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 80, 777);
    writeWav(dir.file("signal.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));
    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("pestered");
    chooseOutput(options, path, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));

    // The recording ends well before the played signal does: on a slow
    // machine only part of the messages arrive during the recording (all of
    // them arrived while idle).
    windows = everyWindowOf(p.id());
    begun = ::GetTickCount();
    std::atomic<bool> pestered{false};
    std::thread pesterer([&] {
        sent = pester(windows, stop);
        pestered = true;
    });
    waitUntil([&] { return pestered.load() || ::GetTickCount() - playing > 60000; }, 65000);
    stop = true;
    pesterer.join();
    std::printf("recording: %ld messages to %u windows in %lu ms (%s)\n", sent, static_cast<unsigned>(windows.size()),
                static_cast<unsigned long>(::GetTickCount() - begun), classesOf(windows).c_str());
    pumpFor(1000);
    ASSERT_TRUE(p.running()) << "crashed while recording";
    EXPECT_EQ(driver::windowsOf(p.id()), std::vector<HWND>{main}) << "a window opened while recording";
    ASSERT_LT(::GetTickCount() - playing, 75000u) << "the played signal ends before the recording";
    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 20000)) << "no line in log.txt";
    EXPECT_EQ(logLines(dir.path()).size(), 1u);

    WavFile wav = readWav(path + ".wav");
    ASSERT_TRUE(wav.valid);
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "every frame is the played one";
    closeNormally();
    waitForSignalEnd(playing, 81500);
}

// ---- the log of recordings ----------------------------------------------------------------

TEST_F(ProgramTest, ALogThatCannotBeWrittenIsWarnedAboutOnceAndTheRecordingsAreKept) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    ASSERT_TRUE(::CreateDirectoryA(dir.file("log.txt").c_str(), nullptr));  // a folder of that name
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);

    recordBriefly(button, dir.file("first"));
    HWND warning = p.dialog("Sonotape", 10000);
    ASSERT_NE(warning, nullptr) << "the line was dropped without a word";
    std::string text = driver::messageBoxText(warning);
    EXPECT_THAT(text, HasSubstr(dir.file("log.txt")));
    EXPECT_THAT(text, HasSubstr("there is a folder of that name"));
    pumpFor(300);
    screenshotWindow(warning, "message-log-not-written");
    driver::clickItem(warning, IDOK);
    ASSERT_TRUE(driver::waitGone(warning));
    EXPECT_TRUE(readWav(dir.file("first.wav")).valid);

    recordBriefly(button, dir.file("second"));
    pumpFor(3000);  // the line is due 1.5 s after the file is complete
    EXPECT_EQ(driver::findWindow(p.id(), program::kDialogClass, "Sonotape"), nullptr) << "warned once only";
    EXPECT_TRUE(readWav(dir.file("second.wav")).valid);
    closeNormally();
}

TEST_F(ProgramTest, StartedFromAFolderItCannotWriteItKeepsItsLogInItsDataFolder) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    char appData[MAX_PATH] = {};
    ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    const std::string dataLog = std::string(appData) + "\\Korvel\\Sonotape\\log.txt";
    ::DeleteFileA(dataLog.c_str());
    // The system's own folder Z:\sys (sysfs): not even root can make a file there.
    running = std::make_unique<Program>("", "Z:\\sys");
    HWND button = running->recordButton();
    ASSERT_NE(button, nullptr);
    recordBriefly(button, dir.file("elsewhere"));
    EXPECT_TRUE(waitUntil(
        [&] { return readFile(dataLog).find("Recorded: " + dir.file("elsewhere.wav")) == kit::kUtf8Mark.size(); },
        10000))
        << dataLog;
    EXPECT_EQ(driver::findWindow(running->id(), program::kDialogClass, "Sonotape"), nullptr) << "no warning";
    closeNormally();
    ::DeleteFileA(dataLog.c_str());
}

// What a recording after calibration holds: each played sample times the
// coefficient, truncated toward zero and held to the 16-bit range.
std::vector<int16_t> scaledCopy(const std::vector<int16_t>& played, double coefficient) {
    std::vector<int16_t> out(played.size());
    for (std::size_t i = 0; i < played.size(); ++i) {
        auto product = static_cast<int64_t>(played[i] * coefficient);
        out[i] = static_cast<int16_t>(std::clamp<int64_t>(product, -32768, 32767));
    }
    return out;
}

TEST_F(ProgramTest, ALoudRecordingIsScaledSampleBySampleAndClipsInsteadOfWrappingAround) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    {
        Settings cfg;
        cfg.load();
        cfg.volumeCoeff = 1.7;  // as a calibration of a quiet input finds
        cfg.save();
    }
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 8, 1365, 32767);
    writeWav(dir.file("loud.wav"), played);
    DWORD playing = ::GetTickCount();
    ASSERT_TRUE(playIntoSink(dir.file("loud.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));

    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    chooseOutput(options, dir.file("scaled"), IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(4000);
    driver::click(button);
    ASSERT_TRUE(waitUntil([&] { return !logLines(dir.path()).empty(); }, 15000));

    WavFile wav = readWav(dir.file("scaled.wav"));
    ASSERT_TRUE(wav.valid);
    ASSERT_GT(wav.samples.size(), static_cast<std::size_t>(kRate) * 2 * 2);
    Coverage c = playedSignalInside(wav.samples, scaledCopy(played, 1.7));
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.capturedOffset, 0);
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "every sample is the played one x 1.7, clipped";
    std::size_t clipped = 0;
    for (int16_t v : wav.samples) clipped += v == 32767 || v == -32768;
    EXPECT_GT(clipped, wav.samples.size() / 3) << "a loud signal: many samples clip";
    closeNormally();
    waitForSignalEnd(playing, 8500);
}

// ---- the recording device ---------------------------------------------------------------

TEST_F(ProgramTest, ARecordingDeviceLostMidRecordingEndsItWithTheFileTheLineAndAWord) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 10, 404);
    writeWav(dir.file("signal.wav"), played);
    ASSERT_TRUE(playIntoSink(dir.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));

    driver::click(button);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    std::string path = dir.file("unplugged");
    chooseOutput(options, path, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(2500);
    SoundServerStopped unplugged;  // the sound server goes: the recording device with it
    ASSERT_TRUE(unplugged.ok()) << "the bed's sound server cannot be stopped";

    HWND notice = p.dialog("Sonotape", 15000);
    ASSERT_NE(notice, nullptr) << "the user is not told";
    std::string text = driver::messageBoxText(notice);
    EXPECT_THAT(text, HasSubstr("The recording device was lost"));
    EXPECT_THAT(text, HasSubstr(path + ".wav"));
    EXPECT_THAT(text, HasSubstr("seconds of sound are in"));
    pumpFor(600);  // painted
    screenshotWindow(notice, "message-device-lost");
    ASSERT_EQ(logLines(dir.path()).size(), 1u) << "the recording is logged";
    EXPECT_EQ(logLines(dir.path())[0].path, path + ".wav");
    WavFile wav = readWav(path + ".wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36) << "the file is complete";
    EXPECT_EQ(wav.fileSize, wav.dataSize + 44u);
    EXPECT_GT(wav.samples.size() / 2.0 / kRate, 1.5);
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "what came before is all there";
    driver::clickItem(notice, IDOK);
    EXPECT_TRUE(p.running()) << "a lost device ends the recording, not the program";
    closeNormally();
}

TEST_F(ProgramTest, WithoutARecordingDeviceAClickSaysSo) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    SoundServerStopped noDevice;
    ASSERT_TRUE(noDevice.ok()) << "the bed's sound server cannot be stopped";
    Program& p = start();
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr);
    driver::click(button);
    HWND message = p.dialog("Sonotape");
    ASSERT_NE(message, nullptr) << "the user is not told";
    EXPECT_THAT(driver::messageBoxText(message), HasSubstr("No recording device was found"));
    pumpFor(600);  // painted
    screenshotWindow(message, "message-no-recording-device");
    driver::clickItem(message, IDOK);
    EXPECT_EQ(p.dialog("File save...", 1000), nullptr) << "no recording to name";
    closeNormally();
}

TEST_F(ProgramTest, ACalibrationWhoseTestSoundsAreMissingSaysWhichAtOnce) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    settingsKey().writeUnsigned("needCalibration", 1);
    TempDir bare;  // the program without its test sounds
    ASSERT_TRUE(::CopyFileA((programFolder() + "\\sonotape.exe").c_str(), bare.file("sonotape.exe").c_str(), FALSE));
    Program& p = start("", bare.path());
    HWND prompt = p.dialog(gui_rules::kCalibrationCaption);
    ASSERT_NE(prompt, nullptr);
    program::Events events;
    driver::clickItem(prompt, IDOK);
    HWND message = p.dialog("Sonotape", 10000);
    ASSERT_NE(message, nullptr) << "the user is not told";
    EXPECT_THAT(events.added(), Not(HasSubstr("Playing WAVE"))) << "said before anything is played";
    EXPECT_THAT(driver::messageBoxText(message), HasSubstr("The test sound sound.wav is missing beside the program"));
    pumpFor(600);  // painted
    screenshotWindow(message, "message-test-sound-missing");
    driver::clickItem(message, IDOK);
    EXPECT_EQ(settingsKey().readUnsigned("needCalibration"), 1u) << "still to be done";
    closeNormally();
}

// ---- one copy at a time -------------------------------------------------------------------

TEST_F(ProgramTest, ASecondCopySaysSoAndEndsWithCodeOneWithoutAWindow) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    Program& first = start();
    ASSERT_NE(first.mainWindow(), nullptr);

    Program second("", dir.path());
    HWND box = second.dialog(gui_rules::kSecondCopyCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(driver::messageBoxText(box), gui_rules::kSecondCopy);
    for (const char* cls : {program::kMainClass, program::kNotificationClass, program::kUtilityClass})
        EXPECT_EQ(driver::findWindow(second.id(), cls, nullptr, false), nullptr) << cls;
    driver::clickItem(box, IDOK);
    ASSERT_TRUE(second.waitExit(10000));
    EXPECT_EQ(second.exitCode(), 1u);
    EXPECT_TRUE(first.running());
    closeNormally();
}

// ---- tray and menu ------------------------------------------------------------------------

TEST_F(ProgramTest, TheTrayTheMenuAndExitDuringARecording) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    std::size_t iconsBefore = driver::trayIconWindows().size();
    Program& p = start("-t");
    ASSERT_TRUE(waitUntil([&] { return driver::trayIconWindows().size() == iconsBefore + 1; }, 10000))
        << "no tray icon";
    pumpFor(500);
    EXPECT_EQ(p.mainWindow(0), nullptr) << "-t starts in the tray only";
    HWND icon = driver::trayIconWindows().back();

    // Restore size: the window comes, the icon goes.
    HWND menu = openMenu(icon);
    ASSERT_NE(menu, nullptr) << "no context menu";
    pumpFor(300);
    screenshotWindow(menu, "context-menu");
    chooseSecondItem(menu);  // its text has no mnemonic
    HWND main = p.mainWindow();
    ASSERT_NE(main, nullptr) << "Restore size did not show the window";
    EXPECT_TRUE(waitUntil([&] { return driver::trayIconWindows().size() == iconsBefore; }, 5000));

    // Send to System Tray: the other way round.
    menu = openMenu(main);
    ASSERT_NE(menu, nullptr);
    chooseSecondItem(menu);
    EXPECT_TRUE(driver::waitGone(main));
    ASSERT_TRUE(waitUntil([&] { return driver::trayIconWindows().size() == iconsBefore + 1; }, 5000));
    icon = driver::trayIconWindows().back();

    // Start with Windows, twice.
    ASSERT_FALSE(program::runEntryExists());
    menu = openMenu(icon);
    ASSERT_NE(menu, nullptr);
    driver::typeChar(menu, 'w');
    ASSERT_TRUE(driver::waitMenuClosed());
    EXPECT_TRUE(waitUntil([] { return program::runEntryExists(); }, 3000));
    menu = openMenu(icon);
    ASSERT_NE(menu, nullptr);
    driver::typeChar(menu, 'w');
    ASSERT_TRUE(driver::waitMenuClosed());
    pumpFor(500);
    EXPECT_FALSE(program::runEntryExists());

    // A left click on the icon records; the notification window shows the time.
    driver::click(icon);
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    chooseOutput(options, dir.file("tray"), IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    HWND note = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (note = p.notificationWindow()) != nullptr; }, 5000));
    pumpFor(2300);
    Capture time = screenshotWindow(note, "notification-while-recording");
    EXPECT_GT(countPixels(time, {0, 0, time.width, time.height}, isDarkInk), 20) << "the time is shown";

    // Exit asks; Yes aborts and ends the program with code 0.
    menu = openMenu(icon);
    ASSERT_NE(menu, nullptr);
    driver::typeChar(menu, 'e');
    HWND question = p.dialog("Sonotape");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(driver::messageBoxText(question), gui_rules::kExitWhileRecording);
    driver::clickItem(question, IDYES);
    ASSERT_TRUE(p.waitExit(15000));
    EXPECT_EQ(p.exitCode(), 0u);
    EXPECT_TRUE(logLines(dir.path()).empty()) << "an aborted recording is not logged";
    EXPECT_TRUE(waitUntil([&] { return driver::trayIconWindows().size() == iconsBefore; }, 5000));
}

}  // namespace
