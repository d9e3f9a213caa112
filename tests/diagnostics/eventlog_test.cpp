// The events file as the event log writes it.
#include <gmock/gmock.h>
#include <windows.h>

#include <regex>
#include <string>
#include <thread>

#include "diagnostics/eventlog.h"
#include "kit/threads.h"
#include "kit/text_code.h"
#include "support/support.h"

namespace {

using ::testing::HasSubstr;
using testsupport::EventsFile;

constexpr const char* kTraceSource = "tests\\diagnostics\\eventlog_test";

int countOf(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
    return n;
}

// Holds the writer while a test fills the buffers, and lets it go again.
class HeldWriter {
public:
    HeldWriter() {
        fw::testing::flushNow();
        fw::testing::holdWriting(true);
        fw::testing::flushNow();  // whatever slipped in before the hold
    }
    ~HeldWriter() { fw::testing::holdWriting(false); }
};

TEST(EventLog, ATraceLineHasTheLevelNameShortFileLineAndText) {
    EventsFile file;
    fw::setTraceOrigin("a\\b\\c\\d.cpp", 12);
    fw::trace("hello %d", 5);
    EXPECT_THAT(file.added(), HasSubstr("TRACE      #Trace                           c\\d.cpp(12)   hello 5\n"));
}

TEST(EventLog, TheLevelStaysTraceAfterATrace) {
    EventsFile file;
    FW_TRACE("first");
    fw::logEvent("Named", "after a trace");
    EXPECT_THAT(file.added(), HasSubstr("TRACE      #Named "));
}

TEST(EventLog, AThreadThatNeverSetItsContextLogsLevelZeroWithoutFile) {
    EventsFile file;
    std::thread([] { fw::logEvent("Fresh", "no context"); }).join();
    EXPECT_THAT(file.added(), HasSubstr("????       #Fresh" + std::string(25, ' ') + "  (0)   no context\n"));
}

TEST(EventLog, EventsOfBothBuffersComeOutInTheOrderTheyWereLogged) {
    HeldWriter hold;
    EventsFile file;
    for (int i = 0; i < 60; ++i) {
        fw::setTraceOrigin(kTraceSource, __LINE__);
        fw::setEventLevel(i % 2 ? fw::LEVEL_TRACE : fw::LEVEL_WARN);
        fw::logEvent("Ordered", "n=%03d", i);
    }
    // A WARN on one thread, then a TRACE on another: the TRACE comes after.
    std::thread([] { FW_LOG(fw::LEVEL_WARN, "CrossWarn", "first"); }).join();
    std::thread([] { FW_TRACE("cross trace second"); }).join();
    std::string text = file.added();
    std::size_t last = 0;
    for (int i = 0; i < 60; ++i) {
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, "n=%03d", i);
        std::size_t at = text.find(wanted);
        ASSERT_NE(at, std::string::npos) << wanted;
        EXPECT_GT(at, last) << wanted;
        last = at;
    }
    EXPECT_LT(text.find("CrossWarn"), text.find("cross trace second"));
}

TEST(EventLog, TwelveHundredEventsBetweenTwoPassesKeep999AndCountTheRest) {
    HeldWriter hold;
    EventsFile file;
    for (int i = 0; i < 1200; ++i) {
        fw::setTraceOrigin("t", 1);
        fw::setEventLevel(fw::LEVEL_USER);
        fw::logEvent("Ev", "n=%d", i);
    }
    std::string text = file.added();
    EXPECT_EQ(countOf(text, "#Ev "), 999);
    EXPECT_THAT(text, HasSubstr("n=998\n"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("n=999\n")));
    std::string discarded = "\nSYS #MessagesDiscarded\t\t<<<    201 messages from base buffer were discarded  >>>\n\n";
    ASSERT_THAT(text, HasSubstr(discarded));
    EXPECT_GT(text.find(discarded), text.find("n=998\n"));
}

TEST(EventLog, OneDroppedEventIsReportedInTheSingular) {
    HeldWriter hold;
    EventsFile file;
    for (int i = 0; i < 1000; ++i) FW_TRACE("v%d", i);
    EXPECT_THAT(file.added(), HasSubstr("<<<    1 message from verbose buffer was discarded  >>>"));
}

TEST(EventLog, EventsDroppedForTextRoomAreReportedBeforeTheNextStoredOne) {
    HeldWriter hold;
    EventsFile file;
    std::string big(10000, 'b');
    for (int i = 0; i < 7; ++i) FW_TRACE("%s", big.c_str());  // the seventh finds no room
    FW_TRACE("small after the drop");
    std::string text = file.added();
    EXPECT_EQ(countOf(text, big), 6);
    std::size_t line = text.find("<<<    1 message from verbose buffer was discarded  >>>");
    ASSERT_NE(line, std::string::npos);
    EXPECT_LT(line, text.find("small after the drop"));
    EXPECT_GT(line, text.rfind(big));
}

TEST(EventLog, EventsThatDoNotFitThePassAreCountedAtTheStartOfTheNext) {
    std::string big(9000, 'o');
    HeldWriter hold;
    EventsFile file;
    for (int i = 0; i < 7; ++i) {
        fw::setTraceOrigin("t", 1);
        fw::setEventLevel(fw::LEVEL_USER);
        fw::logEvent("Big", "%d %s", i, big.c_str());
    }
    for (int i = 0; i < 7; ++i) FW_TRACE("%d %s", 7 + i, big.c_str());
    fw::testing::flushNow();  // 11 lines of ~9 KB fill the 100 KB of one pass
    FW_TRACE("after the overflow");
    std::string text = file.added();
    EXPECT_EQ(countOf(text, big), 11);
    EXPECT_THAT(text, ::testing::Not(HasSubstr("11 " + big)));
    std::string lost = "<<<    3 messages from verbose buffer were discarded  >>>";
    ASSERT_THAT(text, HasSubstr(lost));
    EXPECT_GT(text.find(lost), text.find("10 " + big));
    EXPECT_LT(text.find(lost), text.find("after the overflow"));
}

TEST(EventLog, GapsBetweenEventsShowAsElapsedLines) {
    EventsFile file;
    FW_TRACE("before the pause");
    ::Sleep(400);  // more than 250 ms even with a coarse tick
    FW_TRACE("after the pause");
    std::string text = file.added();
    std::regex elapsed(
        R"(\n\n?\.ELAPSED\.                 <<<  0\.[345]\d second\(s\) elapsed since the last message >>>\nTRACE +#Trace .*after the pause)");
    EXPECT_TRUE(std::regex_search(text, elapsed)) << text;
}

TEST(EventLog, FatalLevelsThrowAfterStoringTheEvent) {
    EventsFile file;
    EXPECT_THROW(FW_LOG(fw::LEVEL_FATAL, "FatalThing", "gone"), FwException);
    EXPECT_THROW(fw::assertionFailed("x.cpp", 3, "a == b"), FwAssertionFailure);
    std::string text = file.added();
    EXPECT_THAT(text, HasSubstr("F_ERR      #FatalThing"));
    EXPECT_THAT(text, HasSubstr("F_ERR      #AssertionFailed                 x.cpp(3)   failed assertion = a == b\n"));
}

TEST(EventLog, LoggingKeepsTheCallersLastError) {
    ::SetLastError(1234);
    FW_TRACE("keeps the error");
    EXPECT_EQ(::GetLastError(), 1234u);
}

// This test program runs in the Western code page (1252), as the program does
// on a system older than the UTF-8 code page: the file is UTF-8 all the same.
TEST(EventLog, TheEventsFileIsUtf8WithItsMark) {
    ASSERT_EQ(::GetACP(), 1252u) << "written for the Western code page";
    EventsFile file;
    FW_TRACE("a folder C:\\\xE9t\xE9");  // "été" in the code page
    EXPECT_THAT(file.added(), HasSubstr("a folder C:\\\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(testsupport::readFile(fw::eventsFilePath()).substr(0, 3), kit::kUtf8Mark);
}

TEST(EventLog, WithoutAStringTableTheNamesComeFromTheProgram) {
    EXPECT_STREQ(fw::applicationName(), "eventlog_tests");
    EXPECT_STREQ(fw::productName(), "eventlog_tests");
    EXPECT_STREQ(fw::libraryName(), "Field Watch");
    EXPECT_THAT(fw::eventsFilePath(), ::testing::EndsWith("\\eventlog_tests Logged Events.txt"));
    EXPECT_THAT(fw::problemText(), ::testing::StartsWith("eventlog_tests seems to be experiencing problems."));
}

}  // namespace
