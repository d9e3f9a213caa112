#include "engine/finalizer.h"

#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"

namespace engine {
namespace {
// The events file has always named this source so.
constexpr const char* kTraceSource = "backend/finalizer";
}  // namespace

void Finalizer::begin(std::unique_ptr<Recording> recording, bool abandonRecording) {
    if (threadHandle()) {
        FW_TRACE("finalizer: waiting for the previous run");
        wait();
    }
    current = std::move(recording);
    abandon = abandonRecording;
    start();
}

// The capture first (every recorded block handed on), then the stream (every
// block encoded, the file complete).
void Finalizer::finishRecording(RecordingOutcome& outcome) {
    Recording& r = *current;
    if (r.recorder) {
        FW_TRACE("recorder->finish ();");
        r.recorder->finish(abandon);
        outcome.saved = !abandon;
        outcome.recordedMs = r.recorder->recordedMs();
        outcome.lostMs = r.recorder->lostMs();
        outcome.deviceLost = r.recorder->deviceLost();
        outcome.deviceChanges = r.recorder->devicePresence().deviceChanges;
        outcome.rateChanges = r.recorder->rateChanges();
        FW_TRACE("recorded %llu ms, lost %llu ms%s, %u device changes, %u changes of rate",
                 static_cast<unsigned long long>(outcome.recordedMs), static_cast<unsigned long long>(outcome.lostMs),
                 outcome.deviceLost ? ", the device was lost" : "", outcome.deviceChanges, outcome.rateChanges);
    }
    FW_TRACE("stream->finish ();");
    if (r.stream) r.stream->finish(abandon);
    FW_TRACE("stream->finish () done");
}

uint32_t Finalizer::run() {
    // A failure while finishing is reported; the recording is released and
    // `done` called all the same, so that the user interface never waits for
    // a recording that cannot end.
    RecordingOutcome outcome;
    if (current) {
        fw::catchAndReport(kTraceSource, __LINE__, [&] { finishRecording(outcome); });
        fw::catchAndReport(kTraceSource, __LINE__, [&] {
            outcome.parts = current->parts ? current->parts->fileParts() : 0;
            if (current->parts && !abandon) outcome.files = current->parts->files();
            outcome.bits = current->fileBits;
            current.reset();
        });
    }
    current.reset();
    if (done) done(outcome);
    return 0;
}

}  // namespace engine
