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

TEST(MyFinalizer, AFailureWhileFinishingIsReportedAndTheRecordingStillEnds) {
    testsupport::EventsFile events;
    backend::EngineState state;
    state.stream = new FailingStream;
    state.started = true;
    state.outputSelected = true;
    kit::smartptr<backend::MyFinalizer> finalizer(new backend::MyFinalizer(state, &notify));
    finalizer->start();
    ASSERT_TRUE(finalizer->waitFor(10000));
    EXPECT_EQ(notified.load(), 1) << "the user interface is told the recording ended";
    EXPECT_FALSE(state.started);
    EXPECT_FALSE(state.outputSelected);
    EXPECT_EQ(state.stream.get(), nullptr);
    EXPECT_THAT(events.added(), ::testing::HasSubstr("message = the stream cannot finish, file = tests/finalizer"));
}

}  // namespace
