// The real sonotape.exe steered from the command line: a second process with
// --record, --stop and --status reaches the running copy through the command
// pipe, a start with --record shows no dialog, and junk on the pipe changes
// nothing.
#include <gmock/gmock.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver.h"
#include "engine/engine.h"
#include "program.h"
#include "support/bed_audio.h"
#include "support/support.h"
#include "win.gui/command_channel.h"

namespace {

using namespace testsupport;
using program::Answer;
using program::Program;
using program::runCommand;
using ::testing::HasSubstr;

// One raw request on the command pipe; the answer, or "" when the pipe closed without one.
std::string rawRequest(const std::string& request) {
    std::wstring name = command::pipeName();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    waitUntil(
        [&] {
            pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            return pipe != INVALID_HANDLE_VALUE;
        },
        10000);
    if (pipe == INVALID_HANDLE_VALUE) return "no pipe";
    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    DWORD bytes = 0;
    if (!request.empty()) ::WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &bytes, nullptr);
    std::string reply(4096, '\0');
    if (!::ReadFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &bytes, nullptr)) bytes = 0;
    reply.resize(bytes);
    ::CloseHandle(pipe);
    return reply;
}

// Ctrl+Alt+R as the keyboard types it: SendInput, into Wine's X11 input.
void pressRecordingHotkey() {
    INPUT keys[6] = {};
    const WORD order[3] = {VK_CONTROL, VK_MENU, 'R'};
    for (int i = 0; i < 3; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[5 - i].type = INPUT_KEYBOARD;
        keys[5 - i].ki.wVk = order[i];
        keys[5 - i].ki.dwFlags = KEYEVENTF_KEYUP;
    }
    ::SendInput(6, keys, sizeof(INPUT));
}

// The recordings the hotkey made in `folder`: fresh names.
std::vector<std::string> freshRecordings(const std::string& folder) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = ::FindFirstFileA((folder + "\\SNT_*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(folder + "\\" + data.cFileName);
    while (::FindNextFileA(search, &data));
    ::FindClose(search);
    return found;
}

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(program::anyCopyRunning()) << "a copy of the program is left running"; }
    void TearDown() override {
        running.reset();
        EXPECT_TRUE(waitUntil([] { return !program::anyCopyRunning(); }, 10000));
    }

    // The file's WAV header is written once it is complete.
    bool completed(const std::string& path) {
        return waitUntil([&] { return readWav(path).valid && readWav(path).dataSize > 0; }, 20000);
    }

    TempDir dir;
    std::unique_ptr<Program> running;
};

TEST_F(CommandTest, ASecondProcessRecordsStopsAndAsksWithDocumentedExitCodes) {
    Answer none = runCommand("--status", dir.path());
    EXPECT_EQ(none.code, 1u);
    EXPECT_THAT(none.output, HasSubstr("not running"));
    Answer usage = runCommand("--record --format ogg", dir.path());
    EXPECT_EQ(usage.code, 2u);
    EXPECT_THAT(usage.output, HasSubstr("--format takes wav, mp3 or flac"));

    program::prepareSettings(dir.path(), engine::FORMAT_MP3_128);
    running = std::make_unique<Program>("", dir.path());
    ASSERT_NE(running->mainWindow(), nullptr);
    Answer idle = runCommand("--status", dir.path());
    EXPECT_EQ(idle.code, 0u);
    EXPECT_THAT(idle.output, HasSubstr("Not recording"));

    // A relative PATH is the caller's; the format comes from its extension.
    Answer record = runCommand("--record \"by command.wav\"", dir.path());
    EXPECT_EQ(record.code, 0u) << record.output;
    const std::string path = dir.file("by command.wav");
    EXPECT_THAT(record.output, HasSubstr("Recording to " + path));
    Answer again = runCommand("--record", dir.path());
    EXPECT_EQ(again.code, 2u);
    EXPECT_THAT(again.output, HasSubstr("already recording to " + path));
    Answer status = runCommand("--status", dir.path());
    EXPECT_EQ(status.code, 0u);
    EXPECT_THAT(status.output, HasSubstr("Recording to " + path));
    EXPECT_EQ(driver::findWindow(running->id(), program::kDialogClass, nullptr, false), nullptr) << "no dialog";

    Answer stop = runCommand("--stop", dir.path());
    EXPECT_EQ(stop.code, 0u);
    EXPECT_THAT(stop.output, HasSubstr("Stopped: " + path));
    EXPECT_TRUE(completed(path));
    Answer stopAgain = runCommand("--stop", dir.path());
    EXPECT_EQ(stopAgain.code, 2u);
    EXPECT_THAT(stopAgain.output, HasSubstr("not recording"));

    // The last folder and a fresh name, the format asked for.
    Answer fresh = runCommand("--record --format flac", "C:\\");
    EXPECT_EQ(fresh.code, 0u) << fresh.output;
    EXPECT_THAT(fresh.output, HasSubstr("Recording to " + dir.path() + "\\SNT_"));
    EXPECT_THAT(fresh.output, HasSubstr(".flac"));
    EXPECT_EQ(runCommand("--stop", dir.path()).code, 0u);
    program::closeNormally(*running);
}

TEST_F(CommandTest, AStartWithRecordShowsNoDialogNotEvenOnTheFirstRunAndRecords) {
    program::removeSettings();
    const std::string path = dir.file("first.wav");
    running = std::make_unique<Program>("--record \"" + path + "\"", dir.path());
    ASSERT_TRUE(waitUntil([&] { return fileExists(path); }, 15000)) << "no recording";
    EXPECT_TRUE(running->running());
    EXPECT_EQ(driver::findWindow(running->id(), program::kDialogClass, nullptr, false), nullptr) << "no dialog";
    Answer stop = runCommand("--stop", dir.path());
    EXPECT_EQ(stop.code, 0u) << stop.output;
    EXPECT_TRUE(completed(path));
    program::removeSettings();
}

TEST_F(CommandTest, JunkOnTheCommandPipeChangesNothing) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    running = std::make_unique<Program>("", dir.path());
    ASSERT_NE(running->mainWindow(), nullptr);
    program::Events events;
    const std::string header = std::string(command::kRequestHeader) + "\n";
    const std::string junk[] = {"",
                                "GET / HTTP/1.1\r\n\r\n",
                                std::string(100000, 'x'),
                                header + std::string(5000, '\n'),
                                "Sonotape 2\nstop\n",
                                header + "record",
                                header + "record\npath=C:\\windows\\x.wav\nshutdown=1\n",
                                header + "stop\nnow=1\n",
                                std::string("Sonotape 1\0record\n", 18)};
    for (int round = 0; round < 2; ++round) {
        for (const std::string& request : junk) {
            std::string reply = rawRequest(request);
            // Refused with the reason; a request beyond the pipe's buffer may find the pipe closed instead.
            if (request.size() <= command::kMaxRequestBytes && !request.empty()) {
                EXPECT_THAT(reply, HasSubstr("2\nmalformed request")) << request.substr(0, 40);
            } else {
                EXPECT_TRUE(reply.empty() || reply.rfind("2\nmalformed request", 0) == 0) << reply;
            }
            ASSERT_TRUE(running->running()) << "crashed";
        }
        // Idle it stays idle; recording it keeps recording.
        Answer status = runCommand("--status", dir.path());
        EXPECT_EQ(status.code, 0u);
        EXPECT_THAT(status.output, HasSubstr(round == 0 ? "Not recording" : "Recording to"));
        if (round == 0) {
            EXPECT_EQ(runCommand("--record \"" + dir.file("kept.wav") + "\"", dir.path()).code, 0u);
        }
    }
    EXPECT_EQ(driver::windowsOf(running->id()).size(), 1u) << "a window opened";
    EXPECT_EQ(runCommand("--stop", dir.path()).code, 0u);
    EXPECT_TRUE(completed(dir.file("kept.wav")));
    EXPECT_THAT(events.added(), HasSubstr("malformed command request"));
    program::closeNormally(*running);
}

TEST_F(CommandTest, APipeNameAnotherProcessHoldsIsSaidAndTheProgramRunsOn) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    HANDLE squatter =
        ::CreateNamedPipeW(command::pipeName().c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_MESSAGE, 1, 512, 512, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    program::Events events;
    running = std::make_unique<Program>("", dir.path());
    HWND box = running->dialog("Sonotape");
    ASSERT_NE(box, nullptr);
    EXPECT_THAT(driver::messageBoxText(box), HasSubstr("Another program holds the name of Sonotape's command pipe"));
    EXPECT_TRUE(events.waitFor("another process holds the command pipe's name", 5000));
    driver::clickItem(box, IDOK);
    ASSERT_NE(running->mainWindow(), nullptr);
    ::CloseHandle(squatter);
    program::closeNormally(*running);
}

TEST_F(CommandTest, TheHotkeyStartsAndEndsARecordingAndAHotkeyAnotherProgramHoldsIsSaid) {
    program::prepareSettings(dir.path(), engine::FORMAT_WAV);
    running = std::make_unique<Program>("", dir.path());
    ASSERT_NE(running->mainWindow(), nullptr);
    pressRecordingHotkey();
    ASSERT_TRUE(waitUntil([&] { return freshRecordings(dir.path()).size() == 1; }, 10000)) << "no recording";
    EXPECT_EQ(driver::findWindow(running->id(), program::kDialogClass, nullptr, false), nullptr) << "no dialog";
    Answer status = runCommand("--status", dir.path());
    EXPECT_THAT(status.output, HasSubstr("Recording to " + freshRecordings(dir.path())[0]));
    pressRecordingHotkey();
    EXPECT_TRUE(completed(freshRecordings(dir.path())[0]));
    EXPECT_TRUE(waitUntil([&] { return runCommand("--status", dir.path()).output.find("Not recording") == 0; }, 10000));
    program::closeNormally(*running);

    // This test program holds it now.
    ASSERT_TRUE(::RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT, 'R'));
    running = std::make_unique<Program>("", dir.path());
    HWND box = running->dialog("Sonotape");
    ASSERT_NE(box, nullptr);
    EXPECT_THAT(driver::messageBoxText(box), HasSubstr("Another program holds the hotkey Ctrl+Alt+R"));
    driver::clickItem(box, IDOK);
    ::UnregisterHotKey(nullptr, 7);
    ASSERT_NE(running->mainWindow(), nullptr);
    program::closeNormally(*running);
}

}  // namespace
