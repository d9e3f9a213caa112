// The real sonotape.exe steered from the command line: a second process with
// --record, --stop and --status reaches the running copy through the command
// pipe, a start with --record shows no dialog, and junk on the pipe changes
// nothing.
#include <gmock/gmock.h>
#include <windows.h>

#include <memory>
#include <string>

#include "config/settings.h"
#include "driver.h"
#include "engine/engine.h"
#include "program.h"
#include "support/bed_audio.h"
#include "support/support.h"
#include "win.gui/command_channel.h"

namespace {

using namespace testsupport;
using program::Program;
using ::testing::HasSubstr;

struct Answer {
    DWORD code = 99;
    std::string output;
};

// sonotape.exe with `arguments`, its standard output read to the end, and its exit code.
Answer runCommand(const std::string& arguments, const std::string& folder) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    Answer answer;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return answer;
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string exe = programFolder() + "\\sonotape.exe";
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    BOOL started =
        ::CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi);
    ::CloseHandle(writeEnd);
    if (started) {
        char buffer[512];
        DWORD bytes = 0;
        while (::ReadFile(readEnd, buffer, sizeof buffer, &bytes, nullptr) && bytes > 0)
            answer.output.append(buffer, bytes);
        ::WaitForSingleObject(pi.hProcess, 30000);
        ::GetExitCodeProcess(pi.hProcess, &answer.code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(readEnd);
    return answer;
}

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

}  // namespace
