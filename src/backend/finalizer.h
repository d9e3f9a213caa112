// Ends a recording in the background: finishes the capture (every recorded
// block written), then the stream (every block encoded, the file complete),
// releases them, stops the reminders and calls the notifier.
#pragma once

#include <atomic>

#include "backend/snt_dll.h"
#include "kit/threads.h"

namespace backend {

struct EngineState;

class MyFinalizer : public kit::Thread {
public:
    MyFinalizer(EngineState& engine, FinishNotifier notifier) : engine(engine), notifier(notifier) {}

    void setNotifier(FinishNotifier n) noexcept { notifier.store(n); }
    // A recording that never got an output file has nothing to encode: its
    // stream is finished by force instead of waiting for an encoder.
    void setForceStream(bool force) noexcept { forceStream = force; }

protected:
    uint32_t run() override;

private:
    void finishRecording();

    EngineState& engine;
    std::atomic<FinishNotifier> notifier;
    bool forceStream = false;
};

}  // namespace backend
