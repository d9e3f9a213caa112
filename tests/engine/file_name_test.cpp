#include <gmock/gmock.h>

#include <cstring>
#include <memory>

#include "engine/file_name.h"
#include "engine/engine.h"

namespace {

struct NameCase {
    SYSTEMTIME time;
    const char* name;
};

SYSTEMTIME at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

class FileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNames, NameTheRecordingByDayMonthYearAndTime) {
    char name[engine::kFileNameBytes];
    engine::formatFileName(GetParam().time, name, sizeof name);
    EXPECT_STREQ(name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Engine, FileNames,
                         ::testing::Values(NameCase{at(2026, 3, 7, 9, 5, 3), "SNT_07_03_26__09-05-03"},
                                           NameCase{at(1999, 12, 31, 23, 59, 59), "SNT_31_12_99__23-59-59"},
                                           NameCase{at(2000, 1, 1, 0, 0, 0), "SNT_01_01_00__00-00-00"},
                                           NameCase{at(2031, 10, 15, 12, 30, 45), "SNT_15_10_31__12-30-45"}));

TEST(FileNames, TheProposedNameHasTheCurrentTime) {
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    std::string name = engine::proposedFileName();
    ASSERT_EQ(name.size(), 22u);
    EXPECT_THAT(name, ::testing::MatchesRegex("SNT_\\d\\d_\\d\\d_\\d\\d__\\d\\d-\\d\\d-\\d\\d"));
    char year[3];
    std::snprintf(year, sizeof year, "%02d", before.wYear % 100);
    EXPECT_EQ(name.substr(10, 2), year);
}

TEST(FileNames, ATooSmallBufferGivesAnEmptyName) {
    char name[8] = "garbage";
    engine::formatFileName(at(2026, 3, 7, 9, 5, 3), name, sizeof name);
    EXPECT_STREQ(name, "");
}

}  // namespace
