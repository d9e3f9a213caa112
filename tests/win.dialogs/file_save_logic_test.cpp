#include <gmock/gmock.h>

#include "win.dialogs/file_save_logic.h"

namespace {

using namespace filesave;

TEST(FormatNumbers, ButtonsAndEngineCodesMapBothWays) {
    EXPECT_EQ(indexFromCode(3), 1);  // WAV
    EXPECT_EQ(indexFromCode(1), 2);  // MP3 128
    EXPECT_EQ(indexFromCode(2), 3);  // MP3 96
    EXPECT_EQ(indexFromCode(4), 4);  // MP3 at a chosen bit rate
    EXPECT_EQ(indexFromCode(0), 1);  // no format stored yet: WAV
    EXPECT_FALSE(isValidIndex(indexFromCode(7)));
    EXPECT_FALSE(isValidIndex(indexFromCode(-1)));
    for (int index = 1; index <= 4; ++index) EXPECT_EQ(indexFromCode(codeFromIndex(index)), index);
    EXPECT_EQ(codeFromIndex(1), 3);
    EXPECT_EQ(codeFromIndex(2), 1);
    EXPECT_EQ(codeFromIndex(3), 2);
    EXPECT_EQ(codeFromIndex(4), 4);
}

struct NameCase {
    const char* name;
    int index;
    const char* result;
};

class Extensions : public ::testing::TestWithParam<NameCase> {};

TEST_P(Extensions, AreAddedOrReplacedFromTheLastDot) {
    EXPECT_EQ(withExtension(GetParam().name, GetParam().index), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    FileSave, Extensions,
    ::testing::Values(NameCase{"take1", 2, "take1.mp3"}, NameCase{"take1", 1, "take1.wav"},
                      NameCase{"take1.mp3", 1, "take1.wav"}, NameCase{"take1.wav", 4, "take1.mp3"},
                      NameCase{"live.at.home.wav", 3, "live.at.home.mp3"}, NameCase{"", 1, ""},
                      NameCase{"SNT_07_03_26__09-05-03", 2, "SNT_07_03_26__09-05-03.mp3"},
                      NameCase{"notes.txt", 1, "notes.wav"}));

struct PathCase {
    const char* path;
    const char* folder;
    const char* name;
};

class Paths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Paths, SplitAtTheLastBackslash) {
    PathParts parts = splitPath(GetParam().path);
    EXPECT_EQ(parts.folder, GetParam().folder);
    EXPECT_EQ(parts.name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(FileSave, Paths,
                         ::testing::Values(PathCase{"D:\\rec\\take1", "D:\\rec\\", "take1"},
                                           PathCase{"D:\\rec\\", "D:\\rec\\", ""}, PathCase{"take1", "take1", ""},
                                           PathCase{"C:\\a.b\\c.mp3", "C:\\a.b\\", "c.mp3"}, PathCase{"", "", ""}));

TEST(TimeFields, HoursAreTakenModulo100AndMinutesModulo60) {
    EXPECT_EQ(hoursFrom("123"), 23);
    EXPECT_EQ(hoursFrom("0"), 0);
    EXPECT_EQ(hoursFrom("99"), 99);
    EXPECT_EQ(minutesFrom("75"), 15);
    EXPECT_EQ(minutesFrom("59"), 59);
    EXPECT_EQ(minutesFrom(""), 0);
    EXPECT_EQ(readNumber("abc"), 0);
    EXPECT_EQ(readNumber("12a"), 12);
    EXPECT_EQ(readNumber("9999999"), 9999999);
}

TEST(Browse, TheChosenFilterDecidesBetweenWavAndMp3) {
    EXPECT_EQ(filterFor(1), kWavFilter);
    EXPECT_EQ(filterFor(2), kMp3Filter);
    EXPECT_EQ(filterFor(4), kMp3Filter);
    EXPECT_EQ(indexAfterBrowse(1, kMp3Filter), 2);  // WAV chosen, MP3 filter: MP3 128
    EXPECT_EQ(indexAfterBrowse(1, kWavFilter), 1);
    EXPECT_EQ(indexAfterBrowse(3, kWavFilter), 1);  // an MP3 format, WAV filter: WAV
    EXPECT_EQ(indexAfterBrowse(3, kMp3Filter), 3);
    EXPECT_EQ(indexAfterBrowse(4, kMp3Filter), 4);
}

}  // namespace
