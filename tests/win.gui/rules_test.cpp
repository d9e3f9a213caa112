// The user interface's small decisions, as tables.
#include <gmock/gmock.h>

#include "win.gui/rules.h"

namespace {

using ::testing::HasSubstr;

struct CommandLineCase {
    const char* line;
    bool tray;
};

class StartsInTray : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(StartsInTray, OnlyWithTheLeadingBlank) {
    EXPECT_EQ(gui_rules::startsInTray(GetParam().line), GetParam().tray) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, StartsInTray,
    ::testing::Values(CommandLineCase{"C:\\Sonotape\\sonotape.exe", false},
                      CommandLineCase{"C:\\Sonotape\\sonotape.exe -t", true},
                      CommandLineCase{"\"C:\\Program Files\\Sonotape\\sonotape.exe\" --tray_run", true},
                      CommandLineCase{"sonotape.exe --tray_run --other", true},
                      CommandLineCase{"--tray_run", false},       // no blank before it
                      CommandLineCase{"sonotape.exe -tx", true},  // a plain substring
                      CommandLineCase{"sonotape.exe /t", false}, CommandLineCase{"C:\\my-tapes\\sonotape.exe", false},
                      CommandLineCase{"C:\\my -tapes\\sonotape.exe", true},  // as the substring rule has it
                      CommandLineCase{"", false}));

struct LimitCase {
    kit::ElapsedTime elapsed;
    int hours;
    int minutes;
    bool reached;
};

class TimeLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TimeLimit, ComparesHoursThenMinutes) {
    const LimitCase& c = GetParam();
    EXPECT_EQ(gui_rules::timeLimitReached(c.elapsed, c.hours, c.minutes), c.reached)
        << c.elapsed.hours << ":" << c.elapsed.minutes << ":" << c.elapsed.seconds << " against " << c.hours << ":"
        << c.minutes;
}

INSTANTIATE_TEST_SUITE_P(Limits, TimeLimit,
                         ::testing::Values(LimitCase{{0, 0, 1}, 0, 0, true},  // nothing: the first tick
                                           LimitCase{{0, 0, 59}, 0, 1, false}, LimitCase{{0, 1, 0}, 0, 1, true},
                                           LimitCase{{0, 1, 30}, 0, 1, true}, LimitCase{{0, 59, 59}, 1, 0, false},
                                           LimitCase{{1, 0, 0}, 1, 0, true},
                                           LimitCase{{1, 5, 0}, 0, 30, true},  // hours first
                                           LimitCase{{0, 45, 0}, 1, 15, false}, LimitCase{{2, 10, 0}, 2, 11, false},
                                           LimitCase{{25, 0, 0}, 23, 59, true}));

TEST(SaveDialogTimeOut, AfterOneMinuteTheTimeTheEngineKeepsTheRecordingFor) {
    EXPECT_FALSE(gui_rules::saveDialogExpired({0, 0, 59}));
    EXPECT_TRUE(gui_rules::saveDialogExpired({0, 1, 0}));
    EXPECT_TRUE(gui_rules::saveDialogExpired({0, 3, 10}));
    EXPECT_TRUE(gui_rules::saveDialogExpired({1, 0, 30})) << "an hour with no minutes is past a minute too";
    EXPECT_GT(engine::kBacklogMs, engine::kOutputChoiceMs + 1000) << "the last tick's second is kept";
}

TEST(Texts, DurationsInWords) {
    struct Case {
        uint64_t ms;
        const char* text;
    };
    for (const Case& c :
         {Case{0, "0.0 seconds"}, Case{340, "0.3 seconds"}, Case{3470, "3.4 seconds"}, Case{59999, "59.9 seconds"},
          Case{60000, "1 minute 0 seconds"}, Case{125400, "2 minutes 5 seconds"},
          Case{3599000, "59 minutes 59 seconds"}, Case{3600000, "1 hour 0 minutes"}, Case{3720000, "1 hour 2 minutes"},
          Case{90061000, "25 hours 1 minute"}})
        EXPECT_EQ(gui_rules::durationText(c.ms), c.text) << c.ms;
}

TEST(Texts, TheNoticeAfterARecordingSaysWhatWasLost) {
    engine::RecordingOutcome fine{true, 5000, 0, false};
    EXPECT_EQ(gui_rules::recordingNotice(fine, "D:\\take.wav"), "");
    engine::RecordingOutcome aborted{false, 0, 700, true};
    EXPECT_EQ(gui_rules::recordingNotice(aborted, "D:\\take.wav"), "") << "no file, nothing to say";

    std::string lossy = gui_rules::recordingNotice({true, 30000, 1500, false}, "D:\\take.wav");
    EXPECT_THAT(lossy, HasSubstr("About 1.5 seconds of sound could not be recorded"));
    EXPECT_THAT(lossy, HasSubstr("D:\\take.wav"));

    std::string lost = gui_rules::recordingNotice({true, 3400, 0, true}, "D:\\take.wav");
    EXPECT_THAT(lost, HasSubstr("The recording device was lost"));
    EXPECT_THAT(lost, HasSubstr("3.4 seconds of sound are in\nD:\\take.wav"));
    EXPECT_THAT(lost, ::testing::Not(HasSubstr("could not be recorded")));
    EXPECT_THAT(gui_rules::recordingNotice({true, 3400, 200, true}, "x.wav"),
                HasSubstr("About 0.2 seconds of sound could not be recorded before that."));

    std::string moved = gui_rules::recordingNotice({true, 9000, 0, false, 2}, "D:\\take.wav");
    EXPECT_THAT(moved, HasSubstr("The playback device changed during the recording (2 times)"));
    EXPECT_THAT(moved, HasSubstr("D:\\take.wav"));
    std::string both = gui_rules::recordingNotice({true, 9000, 300, false, 1}, "D:\\take.wav");
    EXPECT_THAT(both, HasSubstr("The playback device changed during the recording (1 time)"));
    EXPECT_THAT(both, HasSubstr("About 0.3 seconds of sound could not be recorded"));
    EXPECT_EQ(gui_rules::recordingNotice({false, 0, 0, false, 1}, "x.wav"), "") << "no file, nothing to say";

    // A change of rate splits the recording: said with the number of files,
    // before whatever else happened.
    std::string split = gui_rules::recordingNotice({true, 9000, 0, false, 1, 1}, "D:\\take.wav", 2);
    EXPECT_THAT(split, ::testing::StartsWith("The playback device's rate changed during the recording (1 time)"));
    EXPECT_THAT(split, HasSubstr("split into 2 files"));
    EXPECT_THAT(split, HasSubstr("The playback device changed during the recording (1 time)"));
    EXPECT_THAT(gui_rules::recordingNotice({true, 9000, 0, false, 0, 2}, "x.wav", 3), HasSubstr("(2 times)"));
    EXPECT_EQ(gui_rules::recordingNotice({false, 0, 0, false, 1, 1}, "x.wav", 2), "") << "no file, nothing to say";
}

TEST(Texts, TrayItemFollowsTheMainWindow) {
    EXPECT_STREQ(gui_rules::trayItemText(true), "Send to System Tray");
    EXPECT_STREQ(gui_rules::trayItemText(false), "Restore size");
}

TEST(Texts, TheSourceIsNamedWithThePlaybackDeviceOrAsTheLine) {
    struct Row {
        engine::CaptureSource source;
        const char* text;
    };
    const Row table[] = {
        {{true, "Speakers (Realtek)", false}, "Loopback of Speakers (Realtek)"},
        {{true, "", false}, "Loopback of the playback device"},
        {{false, "", false}, "Recording line"},
        {{false, "", true}, "Recording line (loopback not available)"},
    };
    for (const Row& row : table) {
        EXPECT_EQ(gui_rules::sourceText(row.source), row.text);
        EXPECT_EQ(gui_rules::trayTip(row.source), std::string("Sonotape: ") + row.text);
    }
}

TEST(Texts, OpenFolderCommand) { EXPECT_EQ(gui_rules::openFolderCommand("D:\\rec\\"), "explorer D:\\rec\\"); }

struct PlacementCase {
    int x, y;
    gui_rules::Position placed;
};

class PlaceInside : public ::testing::TestWithParam<PlacementCase> {};

// A 350 x 100 window on a 1024 x 768 work area that starts below a 30-pixel bar.
TEST_P(PlaceInside, MovesTheWindowTheLeastIntoTheWorkArea) {
    const gui_rules::Area area{0, 30, 1024, 768};
    EXPECT_EQ(gui_rules::placeInside(GetParam().x, GetParam().y, 350, 100, area), GetParam().placed);
}

INSTANTIATE_TEST_SUITE_P(Positions, PlaceInside,
                         ::testing::Values(PlacementCase{20, 40, {20, 40}}, PlacementCase{100000, 100000, {674, 668}},
                                           PlacementCase{-500, -500, {0, 30}}, PlacementCase{100000, -500, {674, 30}},
                                           PlacementCase{700, 300, {674, 300}}, PlacementCase{674, 668, {674, 668}},
                                           PlacementCase{10, 20, {10, 30}}));

TEST(PlaceInside, AWindowLargerThanTheAreaShowsItsCaption) {
    EXPECT_EQ(gui_rules::placeInside(500, 500, 2000, 1000, {0, 0, 1024, 768}), (gui_rules::Position{0, 0}));
    EXPECT_EQ(gui_rules::placeInside(-100, 50, 300, 100, {1024, 0, 2048, 768}), (gui_rules::Position{1024, 50}));
}

}  // namespace

namespace {

TEST(Texts, ARecordingInSeveralFilesNamesTheFirstAndCountsThem) {
    EXPECT_EQ(gui_rules::recordedLines("D:\\rec\\take.wav", "00:00:07", {}),
              std::vector<std::string>{"Recorded: D:\\rec\\take.wav 00:00:07"});
    EXPECT_EQ(gui_rules::recordedLines("D:\\rec\\take.wav", "00:00:07", {{"D:\\rec\\take.wav", 300000, 44100}}),
              std::vector<std::string>{"Recorded: D:\\rec\\take.wav 00:00:07"})
        << "one file: the recording's time";
    std::vector<kit::FilePart> three{{"D:\\rec\\take.wav", 44100 * 3599 + 44099, 44100},
                                     {"D:\\rec\\take (3).wav", 96000 * 62, 96000},
                                     {"D:\\rec\\take (4).wav", 0, 48000}};
    EXPECT_EQ(
        gui_rules::recordedLines("D:\\rec\\take.wav", "01:01:03", three),
        (std::vector<std::string>{"Recorded: D:\\rec\\take.wav 00:59:59", "Recorded: D:\\rec\\take (3).wav 00:01:02",
                                  "Recorded: D:\\rec\\take (4).wav 00:00:00"}));
    EXPECT_EQ(gui_rules::silenceStopItem(5), "Stop after 5 minutes of silence");
    EXPECT_EQ(gui_rules::silenceStopItem(1), "Stop after 1 minute of silence");
    EXPECT_EQ(gui_rules::silenceSplitItem(2), "New file at each silence of 2 seconds");
    EXPECT_EQ(gui_rules::silenceSplitItem(1), "New file at each silence of 1 second");
    EXPECT_EQ(gui_rules::recordedLines("D:\\rec\\take.flac", "00:00:07", {}, 24),
              std::vector<std::string>{"Recorded: D:\\rec\\take.flac 00:00:07, 24 bit"});
    EXPECT_EQ(gui_rules::recordedLines(
                  "D:\\rec\\take.flac", "00:00:09",
                  {{"D:\\rec\\take.flac", 48000 * 4, 48000}, {"D:\\rec\\take (2).flac", 96000 * 5, 96000}}, 24),
              (std::vector<std::string>{"Recorded: D:\\rec\\take.flac 00:00:04, 24 bit",
                                        "Recorded: D:\\rec\\take (2).flac 00:00:05, 24 bit"}));
    EXPECT_EQ(gui_rules::partsHint("D:\\rec\\take.wav", 2),
              "take.wav and 1 more part.\nDouble click to open the folder.");
    EXPECT_EQ(gui_rules::partsHint("D:\\rec\\the whole night of radio.wav", 3),
              "the whole night of ra... and 2 more parts.\nDouble click to open the folder.");
}

}  // namespace
