#include <gmock/gmock.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "kit/exceptions.h"

namespace {

TEST(Exceptions, WithoutSetOriginThereIsNoFileAndLineMinusOne) {
    kit::ARuntimeError plain("plain");
    EXPECT_EQ(plain.originFile(), nullptr);
    EXPECT_EQ(plain.originLine(), -1);

    kit::setOrigin("kit_threads", 28, "kit::Thread::start");
    kit::ARuntimeError first("first");
    kit::ARuntimeError next("next");
    EXPECT_STREQ(first.originFile(), "kit_threads");
    EXPECT_EQ(first.originLine(), 28);
    EXPECT_EQ(next.originFile(), nullptr);
    EXPECT_EQ(next.originLine(), -1);
}

TEST(Exceptions, CopiesKeepOriginTextAndCode) {
    kit::setOrigin("mod", 12, "f");
    kit::MMError original("waveInOpen() failed", 4);
    kit::MMError copy = original;
    EXPECT_STREQ(copy.originFile(), "mod");
    EXPECT_EQ(copy.originLine(), 12);
    EXPECT_EQ(copy.message(), "waveInOpen() failed");
    EXPECT_EQ(copy.resultCode(), 4u);
}

TEST(Exceptions, WindowsErrorTakesTheLastErrorEvenAfterSetOrigin) {
    ::SetLastError(5);
    kit::setOrigin("kit_window", 216, "kit::PatternedWindow::PatternedWindow");
    kit::WindowsError e("SetLayeredWindowAttributes() failed");
    EXPECT_EQ(e.errorCode(), 5u);
    EXPECT_EQ(e.message(), "windows err 5 (0x5), message: SetLayeredWindowAttributes() failed");

    kit::WindowsSpecError spec("RegCreateKeyEx failed", 1018);
    EXPECT_EQ(spec.message(), "windows spec err 1018 (0x3FA), message: RegCreateKeyEx failed");
}

TEST(Exceptions, TheHierarchyIsCaughtThroughItsBases) {
    try {
        throw kit::RegNoValueError();
    } catch (kit::SimpleRuntimeError& e) {
        EXPECT_TRUE(e.message().empty());
    }
    try {
        throw kit::ALogicError("logic");
    } catch (kit::RuntimeError& e) {  // ALogicError is a runtime error here
        EXPECT_EQ(e.message(), "logic");
    }
    bool caught = false;
    try {
        throw FwAssertionFailure();
    } catch (FwException&) {
        caught = true;
    }
    EXPECT_TRUE(caught);
}

// Two threads set their origins and throw at the same moment, many times.
TEST(Exceptions, TwoThreadsThrowingAtOnceKeepTheirOwnOrigins) {
    std::atomic<int> mismatches{0};
    std::atomic<bool> go{false};
    auto worker = [&](const char* file, int line) {
        while (!go) {}
        for (int i = 0; i < 20000; ++i) {
            try {
                kit::setOrigin(file, line, "worker");
                std::this_thread::yield();
                throw kit::ARuntimeError("x");
            } catch (kit::Exception& e) {
                if (e.originFile() != file || e.originLine() != line) ++mismatches;
            }
        }
    };
    std::thread a(worker, "source_a", 1);
    std::thread b(worker, "source_b", 2);
    go = true;
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
