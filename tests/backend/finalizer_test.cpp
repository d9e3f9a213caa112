// The finalizer ends a recording whatever happens while it finishes.
#include <gmock/gmock.h>

#include <atomic>

#include "backend/engine_state.h"
#include "backend/finalizer.h"
#include "support/support.h"

namespace {

// A stream whose finish fails, as a damaged disk or a broken thread would make it.
class FailingStream : public kit::GenericSoundEncodingStream {
public:
    void finish(bool) override {
        kit::setOrigin("tests/finalizer", 1, "FailingStream::finish");
        throw kit::ARuntimeError("the stream cannot finish");
    }
};

std::atomic<int> notified{0};
void notify(void*) { ++notified; }

TEST(Finalizer, AFailureWhileFinishingIsReportedAndTheRecordingStillEnds) {
    testsupport::EventsFile events;
    backend::EngineState state;
    state.stream = new FailingStream;
    state.started = true;
    state.outputSelected = true;
    kit::smartptr<backend::Finalizer> finalizer(new backend::Finalizer(state, &notify));
    finalizer->start();
    ASSERT_TRUE(finalizer->waitFor(10000));
    EXPECT_EQ(notified.load(), 1) << "the user interface is told the recording ended";
    EXPECT_FALSE(state.started);
    EXPECT_FALSE(state.outputSelected);
    EXPECT_EQ(state.stream.get(), nullptr);
    EXPECT_THAT(events.added(), ::testing::HasSubstr("message = the stream cannot finish, file = tests/finalizer"));
}

}  // namespace

namespace backToBack {

std::atomic<int> done{0};
HANDLE doneEvent = nullptr;
void signal(void*) {
    ++done;
    ::SetEvent(doneEvent);
}

// The user interface starts the next finish as soon as the notifier has said
// that the last one is done, while the last run's thread may still be
// returning from the notifier: no start may be lost.
TEST(Finalizer, AFinishStartedRightAfterTheNotifierIsNotLost) {
    doneEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    backend::EngineState state;
    kit::smartptr<backend::Finalizer> finalizer(new backend::Finalizer(state, nullptr));
    constexpr int kRounds = 200;
    int lost = 0;
    for (int round = 0; round < kRounds && lost == 0; ++round) {
        state.started = true;
        finalizer->begin(&signal, false);
        if (::WaitForSingleObject(doneEvent, 5000) != WAIT_OBJECT_0) ++lost;
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(done.load(), kRounds);
    EXPECT_FALSE(state.started);
    finalizer->wait();
    ::CloseHandle(doneEvent);
}

}  // namespace backToBack
