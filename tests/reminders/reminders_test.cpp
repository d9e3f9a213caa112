#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "reminders/reminders.h"
#include "support/support.h"

namespace {

using kit::OutOfSpaceReminder;
using kit::PeriodicReminder;
using testsupport::waitUntil;

// ---- the 30-minute reminder --------------------------------------------------------------

std::atomic<int> periodicCalls{0};
void countCall(int) { ++periodicCalls; }
// Throws on its first two calls.
void throwingCall(int) {
    if (++periodicCalls <= 2) throw 1;
}

TEST(PeriodicReminder, ARecordingShorterThanThePeriodNeverCallsAndStopsWithinAStep) {
    periodicCalls = 0;
    kit::smartptr<PeriodicReminder> reminder(new PeriodicReminder(&countCall, 1800));
    reminder->start();
    ::Sleep(500);
    DWORD before = ::GetTickCount();
    reminder->stop();
    DWORD took = ::GetTickCount() - before;
    EXPECT_EQ(periodicCalls.load(), 0);
    EXPECT_FALSE(reminder->isRunning());
    EXPECT_LT(took, 1500u) << "stop waits at most one sleep step";
}

TEST(PeriodicReminder, CallsEveryPeriodAndSurvivesAThrowingHandler) {
    periodicCalls = 0;
    kit::smartptr<PeriodicReminder> reminder(new PeriodicReminder(&throwingCall, 1));
    reminder->setSleepStep(20);
    reminder->start();
    EXPECT_TRUE(waitUntil([] { return periodicCalls > 2; }, 10000)) << "it goes on after the handler threw";
    reminder->stop();
    reminder->start();  // a new recording: a new thread
    EXPECT_TRUE(reminder->isRunning());
    reminder->stop();
}

// ---- the disk-space watcher --------------------------------------------------------------

struct Scripted {
    std::mutex lock;
    std::vector<std::string> roots;
    std::vector<std::string> calls;  // "count" or "null", in order
    uint64_t free = 0;
    bool fail = false;
};
Scripted script;

bool scriptedSpace(const char* root, uint64_t* available) {
    std::lock_guard<std::mutex> hold(script.lock);
    script.roots.push_back(root);
    if (script.fail) return false;
    *available = script.free;
    return true;
}

void recordCall(uint64_t* count) {
    std::lock_guard<std::mutex> hold(script.lock);
    script.calls.push_back(count ? "count=" + std::to_string(*count) : "null");
}

void resetScript(uint64_t free, bool fail = false) {
    std::lock_guard<std::mutex> hold(script.lock);
    script.roots.clear();
    script.calls.clear();
    script.free = free;
    script.fail = fail;
}

std::vector<std::string> calls() {
    std::lock_guard<std::mutex> hold(script.lock);
    return script.calls;
}
std::size_t queries() {
    std::lock_guard<std::mutex> hold(script.lock);
    return script.roots.size();
}

kit::smartptr<OutOfSpaceReminder> watch(const char* path) {
    kit::smartptr<OutOfSpaceReminder> w(new OutOfSpaceReminder(&recordCall, path, &scriptedSpace));
    w->setPollInterval(10);
    w->start();
    return w;
}

void setFree(uint64_t free) {
    std::lock_guard<std::mutex> hold(script.lock);
    script.free = free;
}

TEST(OutOfSpaceReminder, FifteenMebibytesWarnOnceHoweverLongTheyLast) {
    resetScript(15u << 20);
    auto w = watch("D:\\rec\\take1.wav");
    ASSERT_TRUE(waitUntil([] { return queries() >= 30; }, 10000));
    w->stop();
    EXPECT_EQ(calls(), std::vector<std::string>{"null"});
}

TEST(OutOfSpaceReminder, FiveMebibytesSayStopThenWarnOnce) {
    resetScript(5u << 20);
    testsupport::EventsFile events;
    auto w = watch("D:\\rec\\take1.wav");
    ASSERT_TRUE(waitUntil([] { return queries() >= 30; }, 10000));
    w->stop();
    EXPECT_EQ(calls(), (std::vector<std::string>{"count=5242880", "null"}));
    std::string text = events.added();
    EXPECT_EQ(text.find("We need stop"), text.rfind("We need stop")) << "traced once";
    EXPECT_NE(text.find("We need stop"), std::string::npos);
}

TEST(OutOfSpaceReminder, EachCrossingBelowAThresholdIsSaidOnce) {
    resetScript(30u << 20);
    auto w = watch("D:\\rec\\take1.wav");
    auto settle = [] {
        std::size_t now = queries();
        return waitUntil([&] { return queries() >= now + 5; }, 10000);
    };
    ASSERT_TRUE(settle());
    setFree(19u << 20);  // below the warning
    ASSERT_TRUE(settle());
    setFree((20u << 20) + 1000);  // hovering just above: not yet back
    ASSERT_TRUE(settle());
    setFree(19u << 20);
    ASSERT_TRUE(settle());
    setFree(25u << 20);  // back above
    ASSERT_TRUE(settle());
    setFree(9u << 20);  // straight below both
    ASSERT_TRUE(settle());
    w->stop();
    EXPECT_EQ(calls(), (std::vector<std::string>{"null", "count=9437184", "null"}));
}

struct CrossingCase {
    bool wasBelow;
    int64_t space;
    bool below;
};
class Crossing : public ::testing::TestWithParam<CrossingCase> {};
TEST_P(Crossing, FallsAtTheThresholdAndRisesPastTheMargin) {
    constexpr int64_t kThreshold = 20 << 20;
    EXPECT_EQ(kit::SpaceCrossing::below(GetParam().wasBelow, GetParam().space, kThreshold), GetParam().below);
}
INSTANTIATE_TEST_SUITE_P(Table, Crossing,
                         ::testing::Values(CrossingCase{false, (20 << 20) - 1, true},
                                           CrossingCase{false, 20 << 20, false}, CrossingCase{true, 20 << 20, true},
                                           CrossingCase{true, (21 << 20) - 1, true},
                                           CrossingCase{true, 21 << 20, false}, CrossingCase{false, -1, true}));

TEST(OutOfSpaceReminder, EnoughSpaceCallsNothing) {
    resetScript(30u << 20);
    auto w = watch("C:\\music\\a.wav");
    ASSERT_TRUE(waitUntil([] { return queries() >= 5; }, 10000));
    w->stop();
    EXPECT_TRUE(calls().empty());
}

TEST(OutOfSpaceReminder, AFailingQueryIsTracedAndCallsNothing) {
    resetScript(1, true);
    testsupport::EventsFile events;
    auto w = watch("C:\\music\\a.wav");
    ASSERT_TRUE(waitUntil([] { return queries() >= 3; }, 10000));
    w->stop();
    EXPECT_TRUE(calls().empty());
    EXPECT_THAT(events.added(),
                ::testing::HasSubstr("SHGetDiskFreeSpace() call failed, check path. (path = C:\\music\\)"));
}

TEST(OutOfSpaceReminder, StopReturnsWithinOnePollAndStopWithoutRunIsTraced) {
    resetScript(30u << 20);
    kit::smartptr<OutOfSpaceReminder> w(new OutOfSpaceReminder(&recordCall, "C:\\", &scriptedSpace));
    testsupport::EventsFile events;
    EXPECT_TRUE(w->isRunning());  // marked running before it ever ran
    w->stop();
    EXPECT_THAT(events.added(),
                ::testing::HasSubstr("OutOfSpaceReminder::stop(): WaitForSingleObject() failed, err = 6"));
    w->start();
    ::Sleep(50);
    DWORD before = ::GetTickCount();
    w->stop();
    EXPECT_LT(::GetTickCount() - before, 1000u);
}

struct FolderCase {
    const char* path;
    const char* folder;
};
class WatchedFolder : public ::testing::TestWithParam<FolderCase> {};
TEST_P(WatchedFolder, IsTheFoldersOwnVolume) { EXPECT_EQ(kit::watchedFolder(GetParam().path), GetParam().folder); }
INSTANTIATE_TEST_SUITE_P(Table, WatchedFolder,
                         ::testing::Values(FolderCase{"D:\\rec\\deep\\take1.wav", "D:\\rec\\deep\\"},
                                           FolderCase{"c:\\a.mp3", "c:\\"}, FolderCase{"Z:\\", "Z:\\"},
                                           FolderCase{"C:\\mnt\\usb/take.wav", "C:\\mnt\\usb/"},
                                           FolderCase{"\\\\server\\share\\rec\\a.wav", "\\\\server\\share\\rec\\"},
                                           FolderCase{"take1.wav", ""}));

TEST(OutOfSpaceReminder, ANetworkPathIsWatchedThroughItsFolder) {
    resetScript(5u << 20);
    auto w = watch("\\\\server\\share\\rec\\a.wav");
    ASSERT_TRUE(waitUntil([] { return calls().size() >= 2; }, 10000));
    w->stop();
    std::lock_guard<std::mutex> hold(script.lock);
    EXPECT_EQ(script.roots.front(), "\\\\server\\share\\rec\\");
}

TEST(OutOfSpaceReminder, ThePlatformQueryAnswersForARealDrive) {
    uint64_t available = 0;
    EXPECT_TRUE(kit::platformFreeSpace("c:\\", &available));
    EXPECT_GT(available, 0u);
}

}  // namespace
