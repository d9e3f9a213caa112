// Ends a recording in the background: finishes the capture (every recorded
// block written), then the stream (every block encoded, the file complete),
// releases them, stops the reminders and calls the notifier.
#pragma once

#include <atomic>

#include "backend/engine.h"
#include "kit/threads.h"

namespace kit {
class SoundRecorder;
}

namespace backend {

struct EngineState;

class Finalizer : public kit::Thread {
public:
    Finalizer(EngineState& engine_, FinishNotifier notifier_) : engine(engine_), notifier(notifier_) {}

    // Finishes the engine's recording on a new run of the thread, which calls
    // `n` at its end. The previous run's thread, which may still be returning
    // from its notifier, is waited for first, so that no start is lost.
    // A recording that never got an output file (`abandonRecording`) has
    // nothing to encode: the capture and the stream are ended by force
    // instead of waiting for an encoder that never comes.
    void begin(FinishNotifier n, bool abandonRecording);

protected:
    uint32_t run() override;

private:
    void finishRecording();
    void keepOutcome(const kit::SoundRecorder& recorder);

    EngineState& engine;
    std::atomic<FinishNotifier> notifier;
    std::atomic<bool> abandon{false};
};

}  // namespace backend
