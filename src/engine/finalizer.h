// Ends a recording in the background: finishes the capture (every recorded
// block written), then the stream (every block encoded, the file complete),
// releases them and tells what became of the recording.
#pragma once

#include <functional>
#include <memory>

#include "engine/engine.h"
#include "engine/recording.h"
#include "kit/threads.h"

namespace engine {

class Finalizer : public kit::Thread {
public:
    using Done = std::function<void(const RecordingOutcome&)>;

    // `done` is called on the finalizer's thread at the end of each run.
    explicit Finalizer(Done done_) : done(std::move(done_)) {}

    // Finishes `recording` on a new run of the thread. The previous run's
    // thread, which may still be returning from `done`, is waited for first,
    // so that no start is lost. A recording that never got an output file
    // (`abandonRecording`) has nothing to encode: the capture and the stream
    // are ended by force instead of waiting for an encoder that never comes.
    void begin(std::unique_ptr<Recording> recording, bool abandonRecording);

protected:
    uint32_t run() override;

private:
    void finishRecording(RecordingOutcome& outcome);

    Done done;
    std::unique_ptr<Recording> current;  // the run's own, from begin to the run's end
    bool abandon = false;
};

}  // namespace engine
