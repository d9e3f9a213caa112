// The finalizer ends a recording whatever happens while it finishes.
#include <gmock/gmock.h>

#include <atomic>

#include "engine/finalizer.h"
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

TEST(Finalizer, AFailureWhileFinishingIsReportedAndTheRecordingStillEnds) {
    testsupport::EventsFile events;
    std::atomic<int> done{0};
    kit::smartptr<kit::GenericSoundEncodingStream> stream(new FailingStream);
    auto recording = std::make_unique<engine::Recording>();
    recording->stream = stream;
    kit::smartptr<engine::Finalizer> finalizer(new engine::Finalizer([&](const engine::RecordingOutcome&) { ++done; }));
    finalizer->begin(std::move(recording), false);
    ASSERT_TRUE(finalizer->waitFor(10000));
    EXPECT_EQ(done.load(), 1) << "the user interface is told the recording ended";
    EXPECT_EQ(stream->references(), 1) << "the finalizer let the recording go";
    EXPECT_THAT(events.added(), ::testing::HasSubstr("message = the stream cannot finish, file = tests/finalizer"));
}

// The user interface starts the next finish as soon as it has been told that
// the last one is done, while the last run's thread may still be returning
// from telling it: no start may be lost.
TEST(Finalizer, AFinishStartedRightAfterTheLastOneSaidDoneIsNotLost) {
    std::atomic<int> done{0};
    HANDLE doneEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    kit::smartptr<engine::Finalizer> finalizer(new engine::Finalizer([&](const engine::RecordingOutcome&) {
        ++done;
        ::SetEvent(doneEvent);
    }));
    constexpr int kRounds = 200;
    int lost = 0;
    for (int round = 0; round < kRounds && lost == 0; ++round) {
        finalizer->begin(std::make_unique<engine::Recording>(), false);
        if (::WaitForSingleObject(doneEvent, 5000) != WAIT_OBJECT_0) ++lost;
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(done.load(), kRounds);
    finalizer->wait();
    ::CloseHandle(doneEvent);
}

}  // namespace
