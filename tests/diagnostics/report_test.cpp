// The catch-and-report pattern at ordinary and fatal boundaries.
#include <gmock/gmock.h>
#include <windows.h>

#include <stdexcept>

#include "diagnostics/report.h"
#include "diagnostics/shell_open.h"
#include "kit/exceptions.h"
#include "support/support.h"

namespace {

using ::testing::HasSubstr;
using testsupport::EventsFile;

TEST(CatchAndReport, AKitExceptionIsReportedWithTypeMessageAndOrigin) {
    EventsFile file;
    EXPECT_TRUE(fw::catchAndReport("tests/report", 77, [] {
        ::SetLastError(5);
        kit::setOrigin("kit_window", 216, "kit::PatternedWindow::PatternedWindow");
        throw kit::WindowsError("SetLayeredWindowAttributes() failed");
    }));
    EXPECT_THAT(file.added(),
                HasSubstr("ERR        #CaughtKitException              tests/report(77)   type = kit::WindowsError, "
                          "message = windows err 5 (0x5), message: SetLayeredWindowAttributes() failed, "
                          "file = kit_window, line = 216\n"));
}

TEST(CatchAndReport, EachKindHasItsOwnReport) {
    EventsFile file;
    fw::catchAndReport("b", 1, [] { throw std::runtime_error("bad thing"); });
    fw::catchAndReport("b", 2, [] { throw FwAssertionFailure(); });
    fw::catchAndReport("b", 3, [] { throw 42; });
    EXPECT_TRUE(fw::catchAndReport("b", 4, [] { throw kit::RegNoValueError(); }));
    std::string text = file.added();
    EXPECT_THAT(text,
                HasSubstr("#CaughtStdException              b(1)   type = std::runtime_error, message = bad thing\n"));
    EXPECT_THAT(text, HasSubstr("#CaughtFwException               b(2)   type = FwException\n"));
    EXPECT_THAT(text, HasSubstr("#CaughtUnknownException          b(3)   \n"));
    EXPECT_THAT(text, HasSubstr("#CaughtKitException              b(4)   type = kit::RegNoValueError, message = , "
                                "file = (null), line = -1\n"));
}

TEST(CatchAndReport, WorkThatSucceedsIsNoFailure) {
    bool ran = false;
    EXPECT_FALSE(fw::catchAndReport("b", 1, [&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(CatchAndReport, ABoundaryThatMustNotRaiseTheNoticeReportsAtWarn) {
    EventsFile file;
    EXPECT_TRUE(fw::catchAndReport(
        "config/snt_config", 9, [] { throw kit::RegNoValueError(); }, fw::LEVEL_WARN));
    EXPECT_THAT(file.added(), HasSubstr("WARN       #CaughtKitException              config/snt_config(9)"));
}

// A fatal boundary in a child process: the events file is opened through the
// shell seam (here: a marker file is written), then the process ends with 13.
int fatalBoundary(const std::vector<std::string>& args) {
    static std::string marker = args.at(0);
    fw::setShellOpen([](const char* path) { testsupport::writeFile(marker, path); });
    fw::catchAndReportFatal("tests/fatal", 5, [] {
        kit::setOrigin("sound.capture/sound_capture", 120, "kit::SoundThread::addBuffer");
        throw kit::MMError("waveInAddBuffer() failed", 11);
    });
    return 0;  // not reached
}
testsupport::ChildMain fatalChild("fatal-boundary", &fatalBoundary);

TEST(CatchAndReport, AFatalBoundaryOpensTheEventsFileAndEndsWithCode13) {
    testsupport::TempDir dir;
    std::string marker = dir.file("opened.txt");
    EventsFile file;
    testsupport::ChildProcess child("fatal-boundary", {marker});
    ASSERT_TRUE(child.wait(30000));
    EXPECT_EQ(child.exitCode(), 13u);
    EXPECT_EQ(testsupport::readFile(marker), fw::eventsFilePath());
    EXPECT_THAT(file.added(),
                HasSubstr("#CaughtKitException              tests/fatal(5)   type = kit::MMError, "
                          "message = waveInAddBuffer() failed, file = sound.capture/sound_capture, line = 120"));
}

}  // namespace
