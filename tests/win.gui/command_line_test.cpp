// The commands of the command line and the command pipe's texts, as tables.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "win.dialogs/hotkey_dialog.h"
#include "win.gui/command_line.h"

namespace {

using command::Command;
using command::Format;
using command::Verb;

Command order(Verb verb, std::string path = "", Format format = Format::Last, int bitrate = 0, int minutes = 0) {
    return Command{verb, std::move(path), format, bitrate, minutes};
}

struct ArgumentsCase {
    const wchar_t* line;  // as the program gets it, split by the platform
    bool ok;
    Command command;
};

class Arguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(Arguments, AreSplitAsWindowsDoesAndBelongToTheirCommand) {
    command::Parsed parsed = command::parseArguments(command::commandLineArguments(GetParam().line));
    EXPECT_EQ(parsed.ok, GetParam().ok) << parsed.error;
    if (parsed.ok) {
        EXPECT_EQ(parsed.command, GetParam().command);
    } else {
        EXPECT_FALSE(parsed.error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Arguments,
    ::testing::Values(
        ArgumentsCase{L"sonotape.exe", true, {}}, ArgumentsCase{L"sonotape.exe --tray_run", true, {}},
        ArgumentsCase{L"sonotape.exe --record", true, order(Verb::Record)},
        ArgumentsCase{L"s.exe --record \"C:\\My Music\\take one.wav\" --format wav --for 1:30", true,
                      order(Verb::Record, "C:\\My Music\\take one.wav", Format::Wav, 0, 90)},
        ArgumentsCase{L"s.exe --record --bitrate 192", true, order(Verb::Record, "", Format::Mp3, 192, 0)},
        ArgumentsCase{L"s.exe --record D:\\ --format flac --for 0:01", true,
                      order(Verb::Record, "D:\\", Format::Flac, 0, 1)},
        // two backslashes before the closing quote are one, as Windows splits it
        ArgumentsCase{L"s.exe --record \"C:\\My Music\\\\\" --format wav", true,
                      order(Verb::Record, "C:\\My Music\\", Format::Wav, 0, 0)},
        ArgumentsCase{L"s.exe --stop", true, order(Verb::Stop)},
        ArgumentsCase{L"s.exe --status", true, order(Verb::Status)}, ArgumentsCase{L"s.exe --stop --status", false, {}},
        ArgumentsCase{L"s.exe --stop now", false, {}}, ArgumentsCase{L"s.exe --record a.wav b.wav", false, {}},
        ArgumentsCase{L"s.exe --record --format ogg", false, {}}, ArgumentsCase{L"s.exe --record --format", false, {}},
        ArgumentsCase{L"s.exe --record --format wav --bitrate 128", false, {}},
        ArgumentsCase{L"s.exe --record --bitrate 7", false, {}},
        ArgumentsCase{L"s.exe --record --bitrate 321", false, {}},
        ArgumentsCase{L"s.exe --record --bitrate -5", false, {}},
        ArgumentsCase{L"s.exe --record --for 0:00", false, {}}, ArgumentsCase{L"s.exe --record --for 1:60", false, {}},
        ArgumentsCase{L"s.exe --record --for 90", false, {}}, ArgumentsCase{L"s.exe --record --loud", false, {}}));

struct DurationCase {
    const char* text;
    int minutes;
};

TEST(Duration, IsHoursAndTwoDigitMinutes) {
    const DurationCase cases[] = {{"0:01", 1}, {"1:30", 90},   {"99:59", 5999}, {"0:00", 0}, {"00:05", 5},
                                  {"1:5", -1}, {"100:00", -1}, {"1:60", -1},    {":30", -1}, {"1:3a", -1},
                                  {"", -1},    {"1-30", -1},   {"+1:30", -1},   {"1:+3", -1}};
    for (const DurationCase& c : cases) EXPECT_EQ(command::parseDuration(c.text), c.minutes) << c.text;
}

TEST(Request, CarriesEveryCommandThereAndBack) {
    const Command commands[] = {order(Verb::Record), order(Verb::Record, "C:\\Музыка\\take.flac", Format::Flac, 0, 61),
                                order(Verb::Record, "", Format::Mp3, 256, 0), order(Verb::Stop), order(Verb::Status)};
    for (const Command& c : commands) {
        command::Parsed parsed = command::parseRequest(command::encodeRequest(c));
        ASSERT_TRUE(parsed.ok) << parsed.error << " in " << command::encodeRequest(c);
        EXPECT_EQ(parsed.command, c);
    }
}

struct RequestCase {
    std::string text;
    const char* why;  // what the refusal says
};

TEST(Request, MalformedOversizedTruncatedOrOfAnotherVersionIsRefusedWithItsReason) {
    const std::string header = std::string(command::kRequestHeader) + "\n";
    const RequestCase cases[] = {
        {"", "truncated"},
        {header, "truncated"},
        {header + "record", "truncated"},
        {header + "record\npath=C:\\a.wav", "truncated"},
        {"Sonotape 2\nrecord\n", "version"},
        {"Sonotape 1 \nrecord\n", "version"},
        {"GET / HTTP/1.1\r\n\r\n", "not a Sonotape request"},
        {std::string("\0\0\0\n", 4), "not a Sonotape request"},
        {header + "format c:\n", "unknown command"},
        {header + "RECORD\n", "unknown command"},
        {header + "stop\npath=C:\\a.wav\n", "malformed field"},
        {header + "record\npath\n", "malformed field"},
        {header + "record\npath=\n", "malformed field"},
        {header + "record\npath=C:\\a\x01.wav\n", "malformed field"},
        {header + "record\npath=C:\\a.wav\npath=C:\\b.wav\n", "malformed field"},
        {header + "record\nformat=ogg\n", "malformed field"},
        {header + "record\nbitrate=99999999999\n", "malformed field"},
        {header + "record\nbitrate=0x80\n", "malformed field"},
        {header + "record\nfor=0\n", "malformed field"},
        {header + "record\nfor=6000\n", "malformed field"},
        {header + "record\nshutdown=1\n", "malformed field"},
        {header + "record\n\n", "malformed field"},
        {header + "record\nformat=flac\nbitrate=128\n", "MP3 only"},
        {header + "record\npath=" + std::string(1100, 'a') + "\n", "malformed field"},
        {header + "record\npath=" + std::string(command::kMaxRequestBytes, 'a') + "\n", "oversized"},
    };
    for (const RequestCase& c : cases) {
        command::Parsed parsed = command::parseRequest(c.text);
        EXPECT_FALSE(parsed.ok) << c.text;
        EXPECT_NE(parsed.error.find(c.why), std::string::npos) << parsed.error << " for " << c.text;
    }
}

TEST(Reply, CarriesItsCodeAndTextOrIsARefusalSayingItCannotBeRead) {
    for (const command::Reply& r : {command::Reply{0, "Recording to C:\\a.wav"}, command::Reply{1, ""},
                                    command::Reply{2, "Sonotape is already recording to C:\\a.wav"}})
        EXPECT_EQ(command::parseReply(command::encodeReply(r)), r);
    for (const char* junk : {"", "0", "3\nthree", "x\nNo", "-1\nminus", "02\nzero two"})
        EXPECT_EQ(command::parseReply(junk).code, command::kRefused) << junk;
}

struct HotkeyCase {
    int32_t code;
    const char* text;
};

TEST(Hotkey, ReadsAsPeopleWriteItAndCrossesToTheControlAndBack) {
    const HotkeyCase cases[] = {{0, "none"},
                                {Settings::kDefaultHotkey, "Ctrl+Alt+R"},
                                {MOD_SHIFT * 256 + VK_F9, "Shift+F9"},
                                {(MOD_CONTROL | MOD_SHIFT) * 256 + '7', "Ctrl+Shift+7"},
                                {(MOD_ALT | MOD_CONTROL | MOD_SHIFT) * 256 + VK_F24, "Ctrl+Alt+Shift+F24"},
                                {'Z', "Z"}};
    for (const HotkeyCase& c : cases) {
        EXPECT_EQ(hotkeyText(c.code), c.text);
        EXPECT_EQ(hotkeyCodeFromControl(hotkeyControlFromCode(c.code)), c.code) << c.text;
    }
    EXPECT_EQ(hotkeyCodeFromControl(MAKEWORD(0, HOTKEYF_CONTROL)), 0) << "modifiers alone are no hotkey";
    EXPECT_EQ(hotkeyControlFromCode(Settings::kDefaultHotkey), MAKEWORD('R', HOTKEYF_CONTROL | HOTKEYF_ALT));
}

}  // namespace
