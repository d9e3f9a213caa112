#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/shell_open.h"
#include "encoding.common/encoding_stream.h"
#include "support/support.h"

namespace {

using kit::Chunk;
using kit::GenericSoundEncodingStream;
using kit::smartptr;
using kit::SoundEncodingThread;
using testsupport::ChildMain;
using testsupport::ChildProcess;
using testsupport::EventsFile;
using testsupport::waitUntil;

constexpr uint32_t kKey = 5;

// Keeps what it is given; can hold the encoding thread inside encodeChunk.
class RecordingEncoder : public kit::ISoundEncoder {
public:
    void encodeChunk(const Chunk& chunk) override {
        entered.fetch_add(1);
        if (gate) ::WaitForSingleObject(gate, 10000);
        std::lock_guard<std::mutex> g(m);
        chunks.emplace_back(reinterpret_cast<const char*>(chunk.data), chunk.length);
        cookies.push_back(chunk.cookie);
        threads.push_back(::GetCurrentThreadId());
    }
    void init() override {}
    void close() override {
        std::lock_guard<std::mutex> g(m);
        ++closes;
        closedAfter = chunks.size();
    }
    std::vector<std::string> encoded() {
        std::lock_guard<std::mutex> g(m);
        return chunks;
    }
    std::vector<void*> encodedCookies() {
        std::lock_guard<std::mutex> g(m);
        return cookies;
    }
    int closeCount() {
        std::lock_guard<std::mutex> g(m);
        return closes;
    }

    HANDLE gate = nullptr;  // manual-reset event; encodeChunk waits for it when set
    std::atomic<int> entered{0};
    std::mutex m;
    std::vector<std::string> chunks;
    std::vector<void*> cookies;
    std::vector<DWORD> threads;
    int closes = 0;
    std::size_t closedAfter = 0;
};

struct Completion {
    uint32_t count;
    ULONG_PTR key;
    void* cookie;
};

std::vector<Completion> takeCompletions(kit::EventQueue& q, std::size_t n, DWORD timeoutMs = 5000) {
    std::vector<Completion> got;
    DWORD start = ::GetTickCount();
    while (got.size() < n && ::GetTickCount() - start < timeoutMs) {
        Completion c{};
        if (q.getEventFor(50, c.count, c.key, c.cookie)) got.push_back(c);
    }
    return got;
}

bool noCompletionWithin(kit::EventQueue& q, DWORD ms) {
    Completion c{};
    return !q.getEventFor(ms, c.count, c.key, c.cookie);
}

void* cookie(uintptr_t n) { return reinterpret_cast<void*>(n); }

// The blocks of a producer: distinct contents and lengths.
struct Blocks {
    explicit Blocks(int n) {
        for (int i = 0; i < n; ++i) data.push_back(std::string(100 + 37 * i, static_cast<char>('a' + i)));
    }
    void writeAll(GenericSoundEncodingStream& s, uintptr_t firstCookie = 1) {
        for (std::size_t i = 0; i < data.size(); ++i)
            s.write(data[i].data(), static_cast<uint32_t>(data[i].size()), cookie(firstCookie + i));
    }
    std::vector<std::string> data;
};

class Stream : public ::testing::Test {
protected:
    smartptr<kit::EventQueue> queue{new kit::EventQueue};
    smartptr<RecordingEncoder> encoder{new RecordingEncoder};
};

TEST_F(Stream, WritesBeforeTheEncoderAreEncodedInOrderOnceItIsSet) {
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream);
    s->setCompletionQueue(queue, kKey);
    Blocks blocks(5);
    blocks.writeAll(*s);
    EXPECT_EQ(s->state(), SoundEncodingThread::active);
    EXPECT_TRUE(noCompletionWithin(*queue, 150)) << "no completion before an encoder is there";

    s->setEncoder(encoder);
    std::vector<Completion> done = takeCompletions(*queue, 5);
    ASSERT_EQ(done.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(done[i].cookie, cookie(i + 1)) << i;
        EXPECT_EQ(done[i].key, kKey);
        EXPECT_EQ(done[i].count, blocks.data[i].size());
    }
    EXPECT_EQ(encoder->encoded(), blocks.data);
    s->finish();
    EXPECT_EQ(encoder->closeCount(), 1);
    EXPECT_EQ(s->state(), SoundEncodingThread::finished);
    EXPECT_NE(encoder->threads.at(0), ::GetCurrentThreadId());
}

TEST_F(Stream, NormalFinishWithAnEmptyQueueEndsAndClosesTheEncoderOnce) {
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    s->setCompletionQueue(queue, kKey);
    DWORD t0 = ::GetTickCount();
    s->finish(false);
    EXPECT_LT(::GetTickCount() - t0, 500u);
    EXPECT_EQ(encoder->closeCount(), 1);
    EXPECT_EQ(s->state(), SoundEncodingThread::finished);
    s->finish(false);  // a second finish finds the thread ended
    EXPECT_EQ(encoder->closeCount(), 1);
}

TEST_F(Stream, NormalFinishEncodesEverythingQueuedThenCloses) {
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream);
    s->setCompletionQueue(queue, kKey);
    Blocks blocks(6);
    blocks.writeAll(*s);
    s->setEncoder(encoder);
    s->finish();
    EXPECT_EQ(encoder->encoded(), blocks.data);
    EXPECT_EQ(encoder->closeCount(), 1);
    EXPECT_EQ(encoder->closedAfter, 6u) << "closed after the last chunk";
    std::vector<Completion> done = takeCompletions(*queue, 6, 1000);
    ASSERT_EQ(done.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(done[i].cookie, cookie(i + 1));
}

TEST_F(Stream, ForcedFinishPostsACompletionForEveryQueuedChunkEncodesNoneAndStillCloses) {
    HANDLE gate = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    encoder->gate = gate;
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    s->setCompletionQueue(queue, kKey);
    Blocks blocks(4);
    blocks.writeAll(*s);
    // The encoding thread is now inside the first chunk; three wait behind it.
    ASSERT_TRUE(waitUntil([&] { return encoder->entered.load() == 1; }, 2000));
    std::thread finisher([&] { s->finish(true); });
    ASSERT_TRUE(waitUntil([&] { return s->state() == SoundEncodingThread::aborting; }, 2000));
    ::SetEvent(gate);
    finisher.join();

    EXPECT_EQ(encoder->encoded(), std::vector<std::string>{blocks.data[0]});
    EXPECT_EQ(encoder->closeCount(), 1);
    std::vector<Completion> done = takeCompletions(*queue, 4, 1000);
    ASSERT_EQ(done.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i].cookie, cookie(i + 1));
        EXPECT_EQ(done[i].count, blocks.data[i].size());
    }
    ::CloseHandle(gate);
}

TEST_F(Stream, ForcedFinishWithoutEncoderReturnsEveryChunk) {
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream);
    s->setCompletionQueue(queue, kKey);
    Blocks blocks(3);
    blocks.writeAll(*s, 10);
    s->finish(true);
    std::vector<Completion> done = takeCompletions(*queue, 3, 1000);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_EQ(done[0].cookie, cookie(10));
    EXPECT_EQ(done[2].cookie, cookie(12));
    EXPECT_EQ(s->state(), SoundEncodingThread::finished);
}

TEST_F(Stream, AWriteAfterFinishBeganIsRefusedWithAnImmediateCompletion) {
    EventsFile events;
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    s->setCompletionQueue(queue, kKey);
    s->finish();
    char data[64] = {};
    s->write(data, sizeof data, cookie(77));
    std::vector<Completion> done = takeCompletions(*queue, 1, 200);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].cookie, cookie(77));
    EXPECT_EQ(done[0].count, 64u);
    EXPECT_TRUE(encoder->encoded().empty());
    EXPECT_THAT(events.added(), ::testing::HasSubstr("addChunk: WARN state = 4 != waiting or active"));
}

TEST_F(Stream, ChunkRecordsAreRecycledNotAllocatedPerBlock) {
    EventsFile events;
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    s->setCompletionQueue(queue, kKey);
    char data[32] = {};
    // One write outstanding at a time, as the capture does it.
    for (uintptr_t i = 1; i <= 20; ++i) {
        s->write(data, sizeof data, cookie(i));
        ASSERT_EQ(takeCompletions(*queue, 1).size(), 1u);
    }
    s->finish();
    EXPECT_GE(s->chunkRecordsAllocated(), 1u);
    EXPECT_LE(s->chunkRecordsAllocated(), 2u);
    std::string log = events.added();
    EXPECT_THAT(log, ::testing::HasSubstr("clearQueues () done"));
    EXPECT_THAT(log, ::testing::HasSubstr("Encoding stream finished"));
}

TEST_F(Stream, DestroyingAnUnfinishedStreamForcesItAndWaitsForTheThread) {
    EventsFile events;
    {
        smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream);
        s->setCompletionQueue(queue, kKey);
        Blocks blocks(3);
        blocks.writeAll(*s);
        s->setEncoder(encoder);
    }  // last reference gone
    EXPECT_EQ(encoder->closeCount(), 1) << "the thread had ended when the destructor returned";
    std::vector<Completion> done = takeCompletions(*queue, 3, 1000);
    EXPECT_EQ(done.size(), 3u) << "every chunk came back, encoded or dropped";
    std::string log = events.added();
    EXPECT_THAT(log, ::testing::HasSubstr("~SoundEncodingThread()"));
    EXPECT_THAT(log, ::testing::HasSubstr("encodingThread: finish (force = 1)"));
}

TEST_F(Stream, DestroyingAFinishedStreamDoesNotForceAgain) {
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    s->setCompletionQueue(queue, kKey);
    s->finish();
    EventsFile events;
    s.reset();
    EXPECT_THAT(events.added(), ::testing::Not(::testing::HasSubstr("finish (force = 1)")));
    EXPECT_EQ(encoder->closeCount(), 1);
}

TEST_F(Stream, WithoutACompletionQueueTheLoopEndsButFinishReturnsAndTheEncoderIsClosed) {
    EventsFile events;
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(encoder));
    char data[8] = {};
    s->write(data, sizeof data, cookie(1));
    ASSERT_TRUE(waitUntil([&] { return s->state() == SoundEncodingThread::finished; }, 2000));
    s->finish();
    EXPECT_EQ(encoder->encoded().size(), 1u);
    EXPECT_EQ(encoder->closeCount(), 1);
    EXPECT_THAT(events.added(), ::testing::HasSubstr("Encoding stream finished"));
}

// An encoder whose file stops taking data (OutputError) does not end the
// process: the stream stops encoding, says it once, still completes every
// block and closes the encoder.
class FullDiskEncoder : public RecordingEncoder {
public:
    void encodeChunk(const Chunk& chunk) override {
        if (encoded().size() == 2) {
            kit::setOrigin("test", 1, "FullDiskEncoder::encodeChunk");
            throw kit::OutputError("WriteFile() failed", kit::OutputFault::diskFull, ERROR_DISK_FULL, "D:\\take.wav");
        }
        RecordingEncoder::encodeChunk(chunk);
    }
};

TEST_F(Stream, AnOutputThatFailsStopsTheEncodingButNotTheBlocksNorTheClose) {
    smartptr<FullDiskEncoder> full(new FullDiskEncoder);
    smartptr<GenericSoundEncodingStream> s(new GenericSoundEncodingStream(full));
    s->setCompletionQueue(queue, kKey);
    std::atomic<int> told{0};
    std::atomic<int> fault{0};
    s->setOutputFailureHandler([&](const kit::OutputError& e) {
        ++told;
        fault = static_cast<int>(e.fault);
    });
    EventsFile events;
    Blocks blocks(6);
    blocks.writeAll(*s);
    EXPECT_EQ(takeCompletions(*queue, 6).size(), 6u) << "every block comes back";
    s->finish();
    EXPECT_EQ(told.load(), 1);
    EXPECT_EQ(fault.load(), static_cast<int>(kit::OutputFault::diskFull));
    EXPECT_TRUE(s->outputFailed());
    EXPECT_EQ(full->encoded().size(), 2u) << "nothing is encoded after the failure";
    EXPECT_EQ(full->closeCount(), 1);
    EXPECT_THAT(events.added(), ::testing::HasSubstr("WriteFile() failed (error 112): D:\\take.wav"));
}

// Any other failing encoder ends the process as a fatal boundary does.
class FailingEncoder : public kit::ISoundEncoder {
public:
    void encodeChunk(const Chunk&) override {
        kit::setOrigin("test", 1, "FailingEncoder::encodeChunk");
        throw kit::ARuntimeError("disk gone");
    }
    void init() override {}
    void close() override {}
};

int failingEncoderChild(const std::vector<std::string>&) {
    fw::setShellOpen([](const char*) {});
    smartptr<kit::EventQueue> q(new kit::EventQueue);
    smartptr<GenericSoundEncodingStream> s(
        new GenericSoundEncodingStream(smartptr<kit::ISoundEncoder>(new FailingEncoder)));
    s->setCompletionQueue(q, kKey);
    char data[8] = {};
    s->write(data, sizeof data, cookie(1));
    ::Sleep(10000);
    return 0;  // not reached: the encoding thread ends the process
}
ChildMain failingChild("failing-encoder", failingEncoderChild);

TEST(StreamFailure, AnEncoderFailureEndsTheProcessWithCode13) {
    EventsFile events;
    ChildProcess child("failing-encoder");
    ASSERT_TRUE(child.wait(8000));
    EXPECT_EQ(child.exitCode(), 13u);
    std::string log = events.added();
    EXPECT_THAT(log, ::testing::HasSubstr("CaughtKitException"));
    EXPECT_THAT(log, ::testing::HasSubstr("message = disk gone"));
}

}  // namespace
