#include <gmock/gmock.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoding.common/encoding_stream.h"
#include "encoding.wave/wave_encoding.h"
#include "sound.capture/scripted_wave_in.h"
#include "sound.capture/sound_recorder.h"
#include "support/bed_audio.h"
#include "support/support.h"

namespace {

using kit::smartptr;
using kit::SoundFormat;
using kit::SoundRecorder;
using testsupport::ScriptedWaveIn;
using testsupport::waitUntil;
using Call = ScriptedWaveIn::Call;

// ---- arithmetic ------------------------------------------------------------------------

struct ScaleCase {
    int16_t sample;
    double coefficient;
    int16_t expected;
};

class ScaleSample : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleSample, TruncatesTowardZeroThenSaturates) {
    const ScaleCase& c = GetParam();
    EXPECT_EQ(kit::scaleSample(c.sample, c.coefficient), c.expected);
    int16_t block[3] = {c.sample, c.sample, c.sample};  // the block loop gives the same
    kit::scaleSamples(block, 3, c.coefficient);
    EXPECT_EQ(block[2], c.expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Table, ScaleSample,
    ::testing::Values(ScaleCase{20000, 2.0, 32767}, ScaleCase{-20000, 2.0, -32768}, ScaleCase{-3, 0.5, -1},
                      ScaleCase{3, 0.5, 1}, ScaleCase{1, 0.5, 0}, ScaleCase{32767, 1.0, 32767},
                      ScaleCase{-32768, 1.0, -32768}, ScaleCase{32767, 2.0, 32767}, ScaleCase{-32768, 2.0, -32768},
                      ScaleCase{30000, 3.0, 32767}, ScaleCase{100, 1.5, 150}, ScaleCase{-100, 1.5, -150},
                      ScaleCase{12345, -1.0, -12345}, ScaleCase{-32768, -1.0, 32767}, ScaleCase{24001, 1.365, 32761},
                      ScaleCase{24006, 1.365, 32767}, ScaleCase{-24006, 1.365, -32768}, ScaleCase{24004, 1.365, 32765},
                      ScaleCase{-24004, 1.365, -32765}, ScaleCase{1000, 0.0, 0}, ScaleCase{7, 0.99, 6},
                      ScaleCase{5, kNaN, 0}, ScaleCase{5, kInf, 32767}, ScaleCase{-5, kInf, -32768},
                      ScaleCase{0, kInf, 0}));

// The block loop is written for speed; every 16-bit value gives what the
// single-sample rule gives, for coefficients around and above 1.
TEST(ScaleSamples, AgreeWithTheSingleSampleRuleForEveryValue) {
    std::vector<int16_t> all(65536);
    for (const double coeff : {0.37, 0.999, 1.0001, 1.365, 2.0, 17.5}) {
        for (int v = -32768; v <= 32767; ++v) all[static_cast<std::size_t>(v + 32768)] = static_cast<int16_t>(v);
        kit::scaleSamples(all.data(), all.size(), coeff);
        for (int v = -32768; v <= 32767; ++v)
            ASSERT_EQ(all[static_cast<std::size_t>(v + 32768)], kit::scaleSample(static_cast<int16_t>(v), coeff))
                << v << " x " << coeff;
    }
}

// The product is a double, on every target: kept in the 80 bits of an x87
// register, 10 x 1.7 (a double a little below 1.7) stays below 17 and
// truncates to 16, where x64 rounds the product to 17.0 first.
TEST(ScaleSamples, RoundTheProductToADoubleOnEveryTarget) {
    std::vector<int16_t> all(65536);
    for (const double coeff : {1.7, 0.3, 2.9}) {
        for (int v = -32768; v <= 32767; ++v) all[static_cast<std::size_t>(v + 32768)] = static_cast<int16_t>(v);
        kit::scaleSamples(all.data(), all.size(), coeff);
        for (int v = -32768; v <= 32767; ++v) {
            volatile double product = v * coeff;  // a store to memory is a double on every target
            double p = product;
            int16_t expected = static_cast<int16_t>(p >= 32767.0    ? 32767
                                                    : p <= -32768.0 ? -32768
                                                                    : static_cast<int>(p));
            ASSERT_EQ(all[static_cast<std::size_t>(v + 32768)], expected) << v << " x " << coeff;
            ASSERT_EQ(kit::scaleSample(static_cast<int16_t>(v), coeff), expected) << v << " x " << coeff;
        }
    }
}

struct FormatCase {
    SoundFormat format;
    unsigned ms;
    uint16_t blockAlign;
    uint32_t avgBytes;
    uint32_t blockBytes;
};

class CaptureFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(CaptureFormat, DerivesAlignmentRateAndBlockSize) {
    const FormatCase& c = GetParam();
    WAVEFORMATEX w = kit::captureFormat(c.format);
    EXPECT_EQ(w.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w.nChannels, static_cast<WORD>(c.format.channels));
    EXPECT_EQ(w.wBitsPerSample, static_cast<WORD>(c.format.bitsPerSample));
    EXPECT_EQ(w.nBlockAlign, c.blockAlign);
    EXPECT_EQ(w.nAvgBytesPerSec, c.avgBytes);
    EXPECT_EQ(w.cbSize, 0);
    EXPECT_EQ(kit::blockBytes(c.format, c.ms), c.blockBytes);
}

INSTANTIATE_TEST_SUITE_P(Table, CaptureFormat,
                         ::testing::Values(FormatCase{{2, 16, 44100}, 100, 4, 176400, 17640},
                                           FormatCase{{2, 16, 44100}, 1, 4, 176400, 176},
                                           FormatCase{{2, 16, 44100}, 3, 4, 176400, 529},
                                           FormatCase{{1, 8, 22050}, 100, 1, 22050, 2205},
                                           FormatCase{{1, 16, 8000}, 30, 2, 16000, 480},
                                           FormatCase{{2, 16, 44100}, 60000, 4, 176400, 10584000}));

TEST(BlockMsAt, TheTimeABlockOfFixedBytesHoldsAtEachRate) {
    EXPECT_EQ(kit::blockMsAt(17640, 4, 44100), 100u);
    EXPECT_EQ(kit::blockMsAt(17640, 4, 88200), 50u);
    EXPECT_EQ(kit::blockMsAt(19200, 4, 48000), 100u);
    EXPECT_EQ(kit::blockMsAt(19200, 4, 96000), 50u);
    EXPECT_EQ(kit::blockMsAt(19200, 4, 44100), 109u);  // 108.8
    EXPECT_EQ(kit::blockMsAt(176, 4, 384000), 1u);     // never 0
    EXPECT_EQ(kit::blockMsAt(17640, 0, 44100), 1u);
}

// ---- a stream the test completes by hand ------------------------------------------------

class ManualStream : public kit::IAsyncOutStream {
public:
    struct Write {
        std::vector<int16_t> samples;
        uint32_t length;
        void* cookie;
        uint32_t offset;  // the cookie's Offset: bytes written before this block
    };

    void write(const void* data, uint32_t length, void* cookie) override {
        {
            std::unique_lock<std::mutex> lock(m);
            held = !gateOpen;
            gateChanged.notify_all();
            gateChanged.wait(lock, [&] { return gateOpen; });
            held = false;
        }
        Write w{std::vector<int16_t>(length / 2), length, cookie, static_cast<OVERLAPPED*>(cookie)->Offset};
        std::memcpy(w.samples.data(), data, length / 2 * 2);
        bool complete = false;
        {
            std::lock_guard<std::mutex> g(m);
            writes.push_back(std::move(w));
            complete = autoComplete;
        }
        if (complete) queue->postEvent(length, key, cookie);
    }
    void setCompletionQueue(smartptr<kit::EventQueue> q, uint32_t k) override {
        queue = q;
        key = k;
    }

    std::size_t count() {
        std::lock_guard<std::mutex> g(m);
        return writes.size();
    }
    Write at(std::size_t i) {
        std::lock_guard<std::mutex> g(m);
        return writes.at(i);
    }
    bool waitCount(std::size_t n, DWORD ms = 5000) {
        return waitUntil([&] { return count() >= n; }, ms);
    }
    void complete(std::size_t i) {
        Write w = at(i);
        queue->postEvent(w.length, key, w.cookie);
    }
    // From now on every write completes at once; the outstanding one too.
    void completeFromNowOn() {
        std::size_t outstanding;
        {
            std::lock_guard<std::mutex> g(m);
            autoComplete = true;
            outstanding = writes.size();
        }
        if (outstanding) complete(outstanding - 1);
    }

    // While the gate is closed, the next write holds its caller (the capture thread).
    void closeGate() {
        std::lock_guard<std::mutex> g(m);
        gateOpen = false;
    }
    // Releases a held write: from here on it counts as held no longer, also
    // before its thread runs again (a test that waits for the capture thread
    // to refill the device must not take it for still held).
    void openGate() {
        std::lock_guard<std::mutex> g(m);
        gateOpen = true;
        held = false;
        gateChanged.notify_all();
    }
    bool isHeld() {
        std::lock_guard<std::mutex> g(m);
        return held;
    }
    bool waitHeld() {
        std::unique_lock<std::mutex> lock(m);
        return gateChanged.wait_for(lock, std::chrono::seconds(5), [&] { return held; });
    }

    smartptr<kit::EventQueue> queue;
    uint32_t key = 0;

private:
    std::mutex m;
    std::condition_variable gateChanged;
    std::vector<Write> writes;
    bool autoComplete = false;
    bool gateOpen = true;
    bool held = false;
};

// Block k of a source made of blocks holds the value k in every sample.
std::vector<int16_t> numberedBlocks(std::size_t blocks, std::size_t samplesPerBlock) {
    std::vector<int16_t> s(blocks * samplesPerBlock);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i / samplesPerBlock);
    return s;
}

std::atomic<uint32_t> scriptedNow{1000};
uint32_t scriptedTicks() { return scriptedNow.load(); }

std::atomic<int> crashCalls{0};
std::string crashMessage;
void countCrash(const char* message) {
    crashMessage = message;
    crashCalls.fetch_add(1);
}

class Recorder : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_THAT(device.violations(), ::testing::IsEmpty());
        EXPECT_EQ(device.prepared(), 0u) << "every block left the device unprepared";
    }
    smartptr<SoundRecorder> make(double coeff = 1.0, unsigned ms = 100, unsigned backlogMs = 60000) {
        return smartptr<SoundRecorder>(
            new SoundRecorder(stream, kit::kRecordingFormat, coeff, ms, backlogMs, device, &scriptedTicks));
    }
    // The device holds all its blocks again.
    void settle() { ASSERT_TRUE(device.waitQueued(kDeviceBlocks)); }

    static constexpr std::size_t kDeviceBlocks = SoundRecorder::kDeviceBlocks;

    ScriptedWaveIn device;
    smartptr<ManualStream> stream{new ManualStream};
};

TEST_F(Recorder, OpensTheMapperWithThePcmFormatAndRecordsNothingBeforeStart) {
    smartptr<SoundRecorder> r = make();
    EXPECT_TRUE(device.isOpen());
    WAVEFORMATEX f = device.openedFormat();
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(r->blockBytes(), 17640u);
    EXPECT_EQ(stream->key, 5u) << "completions come back with key 5";
    ::Sleep(50);
    EXPECT_EQ(device.queued(), 0u);
    EXPECT_EQ(device.calls(Call::start), 0u);

    DWORD t0 = ::GetTickCount();
    r->finish();  // without start
    EXPECT_LT(::GetTickCount() - t0, 1000u);
    r.reset();
    EXPECT_FALSE(device.isOpen()) << "the device is closed with the recorder";
}

TEST_F(Recorder, AFailingOpenThrowsTheMultimediaError) {
    device.failNext(Call::open, MMSYSERR_ALLOCATED);
    try {
        make();
        FAIL() << "constructed";
    } catch (const kit::MMError& e) {
        EXPECT_STREQ(e.message().c_str(), "waveInOpen() failed");
        EXPECT_EQ(e.resultCode(), static_cast<uint32_t>(MMSYSERR_ALLOCATED));
        EXPECT_STREQ(e.originFile(), "sound.capture/sound_capture");
    }
    EXPECT_FALSE(device.isOpen());
}

TEST_F(Recorder, BlocksReachTheStreamInRecordingOrderOneWriteAtATime) {
    device.setSource(numberedBlocks(20, 8820));
    smartptr<SoundRecorder> r = make();
    r->start();
    settle();
    ASSERT_TRUE(waitUntil([&] { return device.isStarted(); }, 2000));
    EXPECT_EQ(device.calls(Call::start), 1u);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(device.deliverFull());
        settle();  // each returned block is replaced at once
    }
    ASSERT_TRUE(stream->waitCount(1));
    ::Sleep(30);
    EXPECT_EQ(stream->count(), 1u) << "one write outstanding at a time";
    uint32_t expectedOffset = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        ASSERT_TRUE(stream->waitCount(i + 1));
        ManualStream::Write w = stream->at(i);
        EXPECT_EQ(w.length, 17640u);
        EXPECT_EQ(w.samples.front(), static_cast<int16_t>(i));
        EXPECT_EQ(w.samples.back(), static_cast<int16_t>(i));
        EXPECT_EQ(w.offset, expectedOffset) << "the cookie counts the bytes written before";
        expectedOffset += w.length;
        stream->complete(i);
    }
    ::Sleep(30);
    EXPECT_EQ(stream->count(), 5u);

    // A normal finish returns only once every pending block has been written.
    ASSERT_TRUE(device.deliverFull());
    settle();
    // The device's blocks, one being written, one spare: the rest was freed
    // when the spare list was trimmed.
    EXPECT_EQ(device.prepared(), kDeviceBlocks + 2) << "written blocks are reused, extra ones freed";
    ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(stream->waitCount(6));
    std::atomic<bool> finished{false};
    std::thread finisher([&] {
        r->finish();
        finished = true;
    });
    ::Sleep(100);
    EXPECT_FALSE(finished.load());
    stream->complete(5);
    ASSERT_TRUE(stream->waitCount(7));
    ::Sleep(50);
    EXPECT_FALSE(finished.load()) << "the last pending block is still being written";
    stream->complete(6);
    finisher.join();
    EXPECT_EQ(stream->count(), 7u);
    EXPECT_EQ(device.queued(), 0u) << "the device gave back every block";
    EXPECT_EQ(r->blocksWritten(), 7u);
    r.reset();
}

TEST_F(Recorder, ZeroLengthBlocksNeverReachTheStream) {
    device.setSource(numberedBlocks(10, 8820));
    smartptr<SoundRecorder> r = make();
    r->start();
    settle();
    ASSERT_TRUE(device.deliver(0));  // nothing is written
    settle();
    ::Sleep(30);
    EXPECT_EQ(stream->count(), 0u);
    ASSERT_TRUE(device.deliverFull());  // written
    ASSERT_TRUE(device.deliver(0));     // goes back at once
    ASSERT_TRUE(device.deliverFull());  // pending
    ASSERT_TRUE(stream->waitCount(1));
    stream->complete(0);
    ASSERT_TRUE(stream->waitCount(2));
    stream->complete(1);
    r->finish();
    ASSERT_EQ(stream->count(), 2u);
    EXPECT_EQ(stream->at(0).samples.front(), 0);
    EXPECT_EQ(stream->at(1).samples.front(), 1);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(stream->at(i).length, 17640u);
    r.reset();
}

TEST_F(Recorder, TheCoefficientScalesEverySampleAndLoudOnesClip) {
    struct Case {
        double coeff;
        std::vector<int16_t> in, out;
    };
    for (const Case& c :
         {Case{2.0, {20000, -3, 1, -20000}, {32767, -6, 2, -32768}}, Case{0.5, {-3, 3, 20000, -1}, {-1, 1, 10000, 0}},
          Case{1.0, {-32768, 32767, 5, -5}, {-32768, 32767, 5, -5}}}) {
        smartptr<ManualStream> s(new ManualStream);
        stream = s;
        smartptr<SoundRecorder> r = make(c.coeff);
        r->start();
        ASSERT_TRUE(device.deliverData(c.in.data(), static_cast<uint32_t>(c.in.size() * 2)));
        ASSERT_TRUE(s->waitCount(1));
        EXPECT_EQ(s->at(0).samples, c.out) << "coefficient " << c.coeff;
        s->complete(0);
        r->finish();
        r.reset();
    }
}

TEST_F(Recorder, WithTheBacklogFullANewBlockIsDroppedCountedAsLostAndRecordingGoesOn) {
    constexpr std::size_t kSamples = 88;  // 1 ms blocks: 176 bytes
    device.setSource(numberedBlocks(600, kSamples));
    smartptr<SoundRecorder> r = make(1.0, 1, 500);  // a backlog of 500 ms: 500 blocks
    ASSERT_EQ(r->blockBytes(), 176u);
    ASSERT_EQ(r->backlogLimit(), 500u);
    r->start();
    ASSERT_TRUE(device.deliverFull());  // block 0: the outstanding write
    ASSERT_TRUE(stream->waitCount(1));
    for (int i = 1; i <= 499; ++i) ASSERT_TRUE(device.deliverFull()) << i;
    settle();
    EXPECT_EQ(r->pendingPeak(), 499u);
    ASSERT_TRUE(device.deliverFull());  // block 500: 499 wait, so it is queued
    settle();
    EXPECT_EQ(r->pendingPeak(), 500u);
    EXPECT_EQ(r->blocksDropped(), 0u);
    ASSERT_TRUE(device.deliver(0));  // an empty block (as at the end) holds nothing to lose
    settle();
    EXPECT_EQ(r->blocksDropped(), 0u);
    ASSERT_TRUE(device.deliverFull());  // block 501: 500 wait, dropped
    settle();
    EXPECT_EQ(r->blocksDropped(), 1u);
    ASSERT_TRUE(device.deliverFull());  // block 502: dropped too, recording goes on
    settle();
    EXPECT_EQ(r->blocksDropped(), 2u);
    EXPECT_EQ(r->lostMs(), 2u) << "two blocks of 1 ms";
    EXPECT_EQ(r->pendingPeak(), 500u);
    EXPECT_LE(device.prepared(), 500 + kDeviceBlocks + 2) << "dropped blocks are not kept";

    stream->completeFromNowOn();
    ASSERT_TRUE(stream->waitCount(501, 10000));
    ASSERT_TRUE(device.deliverFull());  // block 503, written after the backlog
    ASSERT_TRUE(stream->waitCount(502));
    r->finish();
    ASSERT_EQ(stream->count(), 502u);
    for (std::size_t i = 0; i <= 500; ++i) ASSERT_EQ(stream->at(i).samples.front(), static_cast<int16_t>(i)) << i;
    EXPECT_EQ(stream->at(501).samples.front(), 503);
    r.reset();
}

TEST_F(Recorder, TheBacklogKeepsItsTimeWhenTheDevicesRateChanges) {
    smartptr<SoundRecorder> r = make(1.0, 100, 60000);
    ASSERT_EQ(r->backlogLimit(), 600u);
    r->start();
    ASSERT_TRUE(waitUntil([&] { return device.isStarted(); }, 2000));
    device.changeRate(88200);  // the blocks of 100 ms at 44 100 Hz now hold 50 ms
    EXPECT_TRUE(waitUntil([&] { return r->backlogLimit() == 1200u; }, 2000)) << r->backlogLimit();
    device.changeRate(22050);
    EXPECT_TRUE(waitUntil([&] { return r->backlogLimit() == 300u; }, 2000)) << r->backlogLimit();
    r->finish();
}

TEST_F(Recorder, TheSlowOutputWatchFiresOnTheSixthSlowCompletionInARow) {
    crashCalls = 0;
    device.setSource(numberedBlocks(40, 88));
    smartptr<SoundRecorder> r = make(1.0, 1);
    r->setTooSlowHandler(&countCrash);
    r->start();
    for (int i = 0; i < 30; ++i) ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(stream->waitCount(1));
    // Completion i at scriptedNow; the next write shows it was handled.
    std::size_t next = 0;
    auto completeAt = [&](uint32_t now) {
        scriptedNow = now;
        stream->complete(next);
        ++next;
        ASSERT_TRUE(stream->waitCount(next + 1));
    };
    uint32_t t = 5000;
    completeAt(t);  // the first completion: never slow, only remembered
    for (int i = 1; i <= 5; ++i) completeAt(t += 151);
    EXPECT_EQ(crashCalls.load(), 0) << "five slow completions in a row are tolerated";
    completeAt(t += 151);
    EXPECT_EQ(crashCalls.load(), 1) << "the sixth fires";
    EXPECT_EQ(crashMessage,
              "Sonotape can\x92t write the recording as fast as the sound comes in, so the recording was stopped. The "
              "disk may be too slow: select a lower quality or save the file on another drive.");
    completeAt(t += 1000);
    EXPECT_EQ(crashCalls.load(), 2) << "and every further slow one";
    completeAt(t += 150);  // not more than 150 ms: resets the count
    for (int i = 1; i <= 5; ++i) completeAt(t += 200);
    EXPECT_EQ(crashCalls.load(), 2);
    completeAt(t += 200);
    EXPECT_EQ(crashCalls.load(), 3);
    // The tick count wraps: differences are taken modulo 2^32.
    completeAt(0xFFFFFFF0u);
    completeAt(0x00000050u);  // 96 ms later
    for (int i = 1; i <= 5; ++i) completeAt(0x50u + 151u * static_cast<uint32_t>(i));
    EXPECT_EQ(crashCalls.load(), 4) << "the big jump to the wrap was slow (the sixth of a run), 96 ms reset it";
    stream->completeFromNowOn();
    r->finish();
    r.reset();
}

TEST_F(Recorder, AbortEndsAtOnceWithoutWritingPendingBlocks) {
    device.setSource(numberedBlocks(10, 8820));
    smartptr<SoundRecorder> r = make();
    r->start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(stream->waitCount(1));
    DWORD t0 = ::GetTickCount();
    r->finish(true);  // the write is never completed, the finish does not wait for it
    EXPECT_LT(::GetTickCount() - t0, 1000u);
    EXPECT_EQ(stream->count(), 1u) << "pending blocks are not written";
    EXPECT_EQ(device.calls(Call::reset), 1u);
    EXPECT_EQ(device.queued(), 0u);
    r.reset();
    EXPECT_FALSE(device.isOpen());
    stream->complete(0);  // the block the stream still held goes with the queue
    stream->queue.reset();
}

TEST_F(Recorder, AbortWithTheRealStreamGetsACompletionForTheQueuedChunkAndLeaksNothing) {
    // As the engine aborts a recording whose file was never chosen.
    device.setSource(numberedBlocks(10, 8820));
    smartptr<kit::GenericSoundEncodingStream> s(new kit::GenericSoundEncodingStream);
    smartptr<SoundRecorder> r(new SoundRecorder(s, kit::kRecordingFormat, 1.0, 100, 60000, device, &scriptedTicks));
    r->start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(waitUntil([&] { return r->blocksWritten() == 1; }, 2000));
    r->finish(true);
    EXPECT_EQ(r->blocksWritten(), 1u);
    r.reset();
    s->finish(true);  // posts the completion of the queued chunk
    s.reset();
}

TEST_F(Recorder, PauseReturnsThePartlyFilledBlockAndTheDeviceIsRefilled) {
    device.setSource(numberedBlocks(10, 8820));
    device.setPartialBytes(1000);
    smartptr<SoundRecorder> r = make();
    r->start();
    settle();
    r->pause();
    ASSERT_TRUE(stream->waitCount(1));
    EXPECT_EQ(stream->at(0).length, 1000u);
    settle();
    EXPECT_EQ(device.calls(Call::stop), 1u);
    stream->complete(0);
    r->finish();
    r.reset();
}

TEST_F(Recorder, DestroyedWithoutFinishItStillEndsItsThreadAndFreesItsBlocks) {
    smartptr<SoundRecorder> r = make();
    r->start();
    settle();
    stream->completeFromNowOn();
    ASSERT_TRUE(device.deliverFull());
    ASSERT_TRUE(stream->waitCount(1));
    r.reset();
    EXPECT_FALSE(device.isOpen());
    stream->queue.reset();
}

// Scripted blocks through the real capture thread, stream and WAV encoder; the
// encoder comes late, as it does while the user chooses the file.
TEST_F(Recorder, ScriptedBlocksReachTheWavFileUnchanged) {
    testsupport::TempDir dir;
    std::string path = dir.file("scripted.wav");
    std::vector<int16_t> source = testsupport::pseudoRandomSignal(4410 * 40, 99);
    device.setSource(source);
    smartptr<kit::GenericSoundEncodingStream> s(new kit::GenericSoundEncodingStream);
    smartptr<SoundRecorder> r(new SoundRecorder(s, kit::kRecordingFormat, 1.0, 100, 60000, device, &scriptedTicks));
    r->start();
    uint64_t expectedBytes = 0;
    for (int i = 0; i < 40; ++i) {
        if (i % 7 == 3) {
            ASSERT_TRUE(device.deliver(0));  // an empty block now and then
        }
        ASSERT_TRUE(device.deliverFull());
        expectedBytes += 17640;
        if (i == 10) {
            SoundFormat format = kit::kRecordingFormat;
            s->setEncoder(smartptr<kit::ISoundEncoder>(new kit::WaveSoundEncoder(path.c_str(), &format)));
        }
    }
    r->finish();
    s->finish();
    EXPECT_EQ(r->blocksWritten(), 40u);
    testsupport::WavFile w = testsupport::readWav(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.dataSize, expectedBytes);
    EXPECT_EQ(w.riffSize, expectedBytes + 36);
    EXPECT_TRUE(w.samples == source) << "the file holds the source, bit for bit";
    r.reset();
    s.reset();
}

// ---- a held-up capture path, lost sound, a lost device ------------------------------------

// The capture thread is held inside the stream's write for as long as the
// test holds the gate; meanwhile the device records at its own pace (each
// block 100 ms of the scripted clock after the one before).
class HeldUpCapture : public Recorder {
protected:
    void SetUp() override {
        Recorder::SetUp();
        device.setSource(numberedBlocks(200, 8820));
        stream->completeFromNowOn();
        recorder = make();
        recorder->start();
        settle();
    }
    void TearDown() override {
        stream->openGate();
        recorder.reset();
        Recorder::TearDown();
    }
    // `blocks` blocks at the device's pace (slow beside a capture thread that
    // runs: it has replaced every returned block before the next is due); the
    // number the device could return.
    int record(int blocks) {
        int delivered = 0;
        for (int i = 0; i < blocks; ++i) {
            if (!stream->isHeld()) settle();
            scriptedNow += 100;
            if (device.deliverOrLose()) ++delivered;
        }
        return delivered;
    }
    // The capture thread stalls in its next write while `blocks` are recorded.
    int holdUpFor(int blocks) {
        settle();
        stream->closeGate();
        scriptedNow += 100;
        EXPECT_TRUE(device.deliverFull());
        EXPECT_TRUE(stream->waitHeld());
        int delivered = record(blocks);
        stream->openGate();
        return delivered;
    }
    // The block numbers the stream received, in order.
    std::vector<int> received() {
        std::vector<int> numbers;
        for (std::size_t i = 0; i < stream->count(); ++i) numbers.push_back(stream->at(i).samples.front());
        return numbers;
    }

    smartptr<SoundRecorder> recorder;
};

TEST_F(HeldUpCapture, HalfASecondOfAStalledCaptureThreadLosesNothing) {
    record(20);
    EXPECT_EQ(holdUpFor(5), 5) << "the device had blocks for all of it";
    record(40);  // the clock has seen well past the stall
    recorder->finish();
    std::vector<int> numbers = received();
    ASSERT_EQ(numbers.size(), 66u);
    for (std::size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<int>(i)) << "no gap";
    EXPECT_EQ(recorder->lostMs(), 0u);
    EXPECT_FALSE(recorder->deviceLost());
}

TEST_F(HeldUpCapture, SoundTheDeviceCouldNotKeepIsFoundAndCounted) {
    record(20);
    EXPECT_EQ(holdUpFor(15), static_cast<int>(kDeviceBlocks) - 1) << "five blocks' worth found no block";
    testsupport::EventsFile events;
    record(40);
    recorder->finish();
    std::vector<int> numbers = received();
    ASSERT_EQ(numbers.size(), 20u + 1u + 9u + 40u);
    EXPECT_EQ(numbers[30] - numbers[29], 7) << "six blocks missing between them";
    EXPECT_EQ(recorder->lostMs(), 600u) << "as long as the gap";
    EXPECT_THAT(events.added(), ::testing::HasSubstr("the device never returned 600 ms of sound"));
    EXPECT_EQ(recorder->blocksDropped(), 0u);
}

TEST_F(Recorder, ADeviceThatStopsReturningBlocksIsLostAndTheRecordingKeepsWhatCame) {
    device.setSource(numberedBlocks(20, 8820));
    stream->completeFromNowOn();
    smartptr<SoundRecorder> r = make();
    r->start();
    settle();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(device.deliverFull());
    device.goAway();  // unplugged
    DWORD t0 = ::GetTickCount();
    ASSERT_TRUE(waitUntil([&] { return r->deviceLost(); }, 10000));
    DWORD noticed = ::GetTickCount() - t0;
    EXPECT_GE(noticed, SoundRecorder::kSilentDeviceMs - 300);
    EXPECT_LE(noticed, SoundRecorder::kSilentDeviceMs + 3000);

    t0 = ::GetTickCount();
    r->finish();  // the reset fails; the blocks the device keeps are not waited for
    EXPECT_LT(::GetTickCount() - t0, 1000u);
    EXPECT_EQ(stream->count(), 3u);
    EXPECT_EQ(r->bytesDelivered(), 3u * 17640u);
    r.reset();
    EXPECT_FALSE(device.isOpen());
}

TEST_F(Recorder, AFailingDeviceCallLosesTheDeviceNotTheRecording) {
    for (Call failing : {Call::addBuffer, Call::start}) {
        ScriptedWaveIn failingDevice;
        failingDevice.setSource(numberedBlocks(20, 8820));
        smartptr<ManualStream> s(new ManualStream);
        s->completeFromNowOn();
        smartptr<SoundRecorder> r(
            new SoundRecorder(s, kit::kRecordingFormat, 1.0, 100, 60000, failingDevice, &scriptedTicks));
        if (failing == Call::start) failingDevice.failNext(Call::start, MMSYSERR_NOMEM);
        r->start();
        if (failing != Call::start) {
            ASSERT_TRUE(failingDevice.waitQueued(kDeviceBlocks));
            ASSERT_TRUE(failingDevice.deliverFull());
            failingDevice.failNext(failing, MMSYSERR_NOMEM);
            ASSERT_TRUE(failingDevice.deliverFull());  // replacing this one fails
        }
        ASSERT_TRUE(waitUntil([&] { return r->deviceLost(); }, 3000)) << static_cast<int>(failing);
        r->finish();
        EXPECT_EQ(s->count(), failing == Call::start ? 0u : 2u) << "what came is kept";
        r.reset();
        EXPECT_THAT(failingDevice.violations(), ::testing::IsEmpty());
        EXPECT_EQ(failingDevice.prepared(), 0u);
    }
}

}  // namespace
