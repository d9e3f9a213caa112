#include <gmock/gmock.h>

#include <string>

#include "diagnostics/event_format.h"
#include "diagnostics/levels.h"

namespace {

using fw::EventPrinter;
using fw::EventRecord;
using fw::OutputBuffer;

struct ShortNameCase {
    const char* path;
    const char* shortName;
};
class ShortFileName : public ::testing::TestWithParam<ShortNameCase> {};
TEST_P(ShortFileName, KeepsTheLastDirectoryAndTheFileName) {
    EXPECT_STREQ(fw::shortFileName(GetParam().path), GetParam().shortName);
}
INSTANTIATE_TEST_SUITE_P(Table, ShortFileName,
                         ::testing::Values(ShortNameCase{"a\\b\\c\\d.cpp", "c\\d.cpp"}, ShortNameCase{"d.cpp", "d.cpp"},
                                           ShortNameCase{"c/d.cpp", "c/d.cpp"},
                                           ShortNameCase{"encoding.wave/wave_encoding", "encoding.wave/wave_encoding"},
                                           ShortNameCase{"/x/y/z", "y/z"}, ShortNameCase{nullptr, ""},
                                           ShortNameCase{"", ""}));

struct ElapsedCase {
    uint32_t ms;
    const char* separator;
    const char* shown;  // value and unit as printed
};
class Elapsed : public ::testing::TestWithParam<ElapsedCase> {};
TEST_P(Elapsed, SeparatorAndUnitFollowTheGap) {
    const ElapsedCase& c = GetParam();
    EXPECT_STREQ(fw::separatorFor(false, c.ms), c.separator);
    fw::ElapsedValue v = fw::elapsedValue(c.ms);
    char shown[64];
    std::snprintf(shown, sizeof shown, "%0.2f %s", static_cast<double>(v.value), v.unit);
    EXPECT_STREQ(shown, c.shown);
}
INSTANTIATE_TEST_SUITE_P(
    Table, Elapsed,
    ::testing::Values(ElapsedCase{100, "", "0.10 second(s)"}, ElapsedCase{250, "", "0.25 second(s)"},
                      ElapsedCase{300, "\n", "0.30 second(s)"}, ElapsedCase{1000, "\n", "1.00 second(s)"},
                      ElapsedCase{2000, "\n\n", "2.00 second(s)"}, ElapsedCase{10000, "\n\n", "10.00 second(s)"},
                      ElapsedCase{12000, "\n\n\n", "12.00 second(s)"}, ElapsedCase{59999, "\n\n\n", "60.00 second(s)"},
                      ElapsedCase{60000, "\n\n\n", "1.00 minute(s)"}, ElapsedCase{3599999, "\n\n\n", "60.00 minute(s)"},
                      ElapsedCase{3600000, "\n\n\n", "1.00 hour(s)"}, ElapsedCase{172799999, "\n\n\n", "48.00 hour(s)"},
                      ElapsedCase{172800000, "\n\n\n", "2.00 day(s)"}));

TEST(LevelNames, EveryLevelHasItsPrintedName) {
    EXPECT_STREQ(fw::levelName(fw::LEVEL_WARN), "WARN");
    EXPECT_STREQ(fw::levelName(fw::LEVEL_ASSERT), "F_ERR");
    EXPECT_STREQ(fw::levelName(fw::LEVEL_FATAL), "F_ERR");
    EXPECT_STREQ(fw::levelName(fw::LEVEL_ERR), "ERR");
    EXPECT_STREQ(fw::levelName(fw::LEVEL_ENV), "ENV");
    EXPECT_STREQ(fw::levelName(fw::LEVEL_NOTIFY), "NOTIFY");
    EXPECT_STREQ(fw::levelName(7), "????") << "a level nothing uses";
    EXPECT_STREQ(fw::levelName(fw::LEVEL_TRACE), "TRACE");
    EXPECT_STREQ(fw::levelName(110), "-->");
    EXPECT_STREQ(fw::levelName(111), "<--");
    EXPECT_STREQ(fw::levelName(0), "????");
    EXPECT_STREQ(fw::levelName(12), "????");
}

EventRecord record(uint32_t tick, const char* text, const char* file = "src\\kit\\threads.cpp", int line = 28) {
    return EventRecord{file, line, fw::LEVEL_TRACE, "Trace", text, 0, tick, 1};
}

struct Printed {
    char storage[4096];
    OutputBuffer out{storage, sizeof storage};
    EventPrinter printer;
    std::string print(const EventRecord& r) {
        std::size_t before = out.size();
        EXPECT_TRUE(printer.printRecord(out, r));
        return std::string(out.begin() + before, out.size() - before);
    }
};

TEST(EventPrinter, TheFirstRecordHasThreeNewlinesAndNoElapsedLine) {
    Printed p;
    EXPECT_EQ(p.print(record(5000, "begin")),
              "\n\n\nTRACE      #Trace                           kit\\threads.cpp(28)   begin\n");
}

TEST(EventPrinter, GapsBetweenRecordsGetSeparatorsAndElapsedLines) {
    Printed p;
    p.print(record(1000, "first"));
    EXPECT_EQ(p.print(record(1100, "close")),
              "TRACE      #Trace                           kit\\threads.cpp(28)   close\n");
    EXPECT_EQ(p.print(record(1400, "300 ms later")),
              "\n.ELAPSED.                 <<<  0.30 second(s) elapsed since the last message >>>\n"
              "TRACE      #Trace                           kit\\threads.cpp(28)   300 ms later\n");
    EXPECT_THAT(p.print(record(3400, "2 s later")),
                ::testing::StartsWith("\n\n.ELAPSED.                 <<<  2.00 second(s)"));
    EXPECT_THAT(p.print(record(15400, "12 s later")),
                ::testing::StartsWith("\n\n\n.ELAPSED.                 <<<  12.00 second(s)"));
}

// Across the wrap of the tick counter the gap (272 ms) still chooses the
// separator, but no elapsed time is taken.
TEST(EventPrinter, AWrappedTickGivesASeparatorButNoElapsedLine) {
    Printed p;
    p.print(record(0xFFFFFF00u, "before the wrap"));
    EXPECT_EQ(p.print(record(0x10, "after the wrap")),
              "\nTRACE      #Trace                           kit\\threads.cpp(28)   after the wrap\n");
}

TEST(EventPrinter, ARecordWithoutAFilePrintsOnlyTheLine) {
    Printed p;
    EXPECT_THAT(p.print(record(1, "x", nullptr, 0)), ::testing::HasSubstr("  (0)   x\n"));
}

TEST(EventPrinter, DiscardedLinesUseSingularAndPlural) {
    char storage[512];
    OutputBuffer out(storage, sizeof storage);
    ASSERT_TRUE(EventPrinter::printDiscarded(out, 1, "base"));
    EXPECT_EQ(std::string(out.begin(), out.size()),
              "\nSYS #MessagesDiscarded\t\t<<<    1 message from base buffer was discarded  >>>\n\n");
    out.clear();
    ASSERT_TRUE(EventPrinter::printDiscarded(out, 2, "verbose"));
    EXPECT_EQ(std::string(out.begin(), out.size()),
              "\nSYS #MessagesDiscarded\t\t<<<    2 messages from verbose buffer were discarded  >>>\n\n");
}

TEST(OutputBuffer, APieceThatDoesNotFitIsLeftOutWhole) {
    char storage[16];
    OutputBuffer out(storage, sizeof storage);
    EXPECT_TRUE(out.append("%s", "0123456789"));
    EXPECT_FALSE(out.append("%s", "abcdef"));  // 10 + 6 + terminator > 16
    EXPECT_EQ(std::string(out.begin(), out.size()), "0123456789");
    EXPECT_TRUE(out.append("%s", "abcde"));
    EXPECT_EQ(out.size(), 15u);
}

TEST(EventPrinter, ARecordThatDoesNotFitLeavesThePreviousTickAlone) {
    char storage[200];
    OutputBuffer out(storage, sizeof storage);
    EventPrinter printer;
    ASSERT_TRUE(printer.printRecord(out, record(1000, "fits")));
    std::string big(300, 'x');
    EXPECT_FALSE(printer.printRecord(out, record(1400, big.c_str())));
    out.clear();
    ASSERT_TRUE(printer.printRecord(out, record(1100, "next")));
    EXPECT_EQ(std::string(out.begin(), out.size()),
              "TRACE      #Trace                           kit\\threads.cpp(28)   next\n");
}

}  // namespace
