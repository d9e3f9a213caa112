#include "backend/finalizer.h"

#include "backend/engine_state.h"
#include "diagnostics/eventlog.h"
#include "diagnostics/report.h"

namespace backend {
namespace {
constexpr const char* kTraceSource = "backend/finalizer";
}

void Finalizer::finishRecording() {
    FW_TRACE("recorder->finish ();");
    if (engine.recorder) {
        engine.recorder->finish(abandon);
        keepOutcome(*engine.recorder);
    }
    FW_TRACE("stream->finish ();");
    if (engine.stream) engine.stream->finish(abandon);
    FW_TRACE("stream->finish () done");
}

void Finalizer::begin(FinishNotifier n, bool abandonRecording) {
    if (threadHandle()) {
        FW_TRACE("finalizer: waiting for the previous run");
        wait();
    }
    notifier.store(n);
    abandon.store(abandonRecording);
    start();
}

// What the user is told once the file is complete.
void Finalizer::keepOutcome(const kit::SoundRecorder& recorder) {
    RecordingOutcome outcome;
    outcome.saved = !abandon;
    outcome.recordedMs = recorder.recordedMs();
    outcome.lostMs = recorder.lostMs();
    outcome.deviceLost = recorder.deviceLost();
    outcome.deviceChanges = recorder.devicePresence().deviceChanges;
    outcome.rateChanges = recorder.rateChanges();
    FW_TRACE("recorded %llu ms, lost %llu ms%s, %u device changes, %u changes of rate",
             static_cast<unsigned long long>(outcome.recordedMs), static_cast<unsigned long long>(outcome.lostMs),
             outcome.deviceLost ? ", the device was lost" : "", outcome.deviceChanges, outcome.rateChanges);
    std::lock_guard<std::mutex> g(engine.outcomeLock);
    engine.outcome = outcome;
}

uint32_t Finalizer::run() {
    // A failure while finishing is reported; the state is cleared and the
    // notifier called all the same, so that the user interface never waits
    // for a recording that cannot end.
    fw::catchAndReport(kTraceSource, __LINE__, [this] { finishRecording(); });
    fw::catchAndReport(kTraceSource, __LINE__, [this] {
        FW_TRACE("1");
        engine.recorder.reset();
        FW_TRACE("2");
        engine.stream.reset();
        FW_TRACE("3");
        engine.lastParts = engine.encoder ? engine.encoder->fileParts() : 0;
        engine.encoder.reset();
        FW_TRACE("4");
        if (engine.periodicReminder) engine.periodicReminder->stop();
        if (engine.outOfSpaceReminder) engine.outOfSpaceReminder->stop();
    });
    engine.started = false;
    engine.outputSelected = false;
    if (FinishNotifier n = notifier.load()) n(nullptr);
    return 0;
}

}  // namespace backend
