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
    // A recording that never got an output file has nothing to encode: the
    // capture and the stream are ended by force instead of waiting for an
    // encoder that never comes.
    void setAbandon(bool abandonRecording) noexcept { abandon = abandonRecording; }

protected:
    uint32_t run() override;

private:
    void finishRecording();

    EngineState& engine;
    std::atomic<FinishNotifier> notifier;
    bool abandon = false;
};

}  // namespace backend
