// Worker threads that serve a running recording: a reminder every 30 minutes,
// and a watcher of the free space on the recording's disk.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "kit/shared_string.h"
#include "kit/threads.h"

namespace kit {

// A worker thread of a recording. `running` means one thing: the thread is
// asked to go on; its loop ends soon after it is cleared. start sets it,
// stopping clears it and waits for the thread. A derived class ends the thread
// in its own destructor (haltThread), since the thread reads its members.
class Reminder : public Thread {
public:
    bool isRunning() const noexcept { return running.load(); }

protected:
    explicit Reminder(bool runningBeforeStart) noexcept : running(runningBeforeStart) {}
    void startThread() {
        running = true;
        Thread::start();
    }
    // Clears the flag and waits for the thread: false when the wait failed (no thread).
    bool stopThread() noexcept {
        running = false;
        return ::WaitForSingleObject(threadHandle(), INFINITE) != WAIT_FAILED;
    }
    // For destructors: as stopThread, where a thread was ever started.
    void haltThread() noexcept {
        running = false;
        if (threadHandle()) ::WaitForSingleObject(threadHandle(), INFINITE);
    }

    std::atomic<bool> running;
};

// Calls its handler every `periodSeconds` while it runs (first call one full
// period after start).
class PeriodicReminder : public Reminder {
public:
    using Proc = std::function<void(int)>;  // on the reminder's thread

    PeriodicReminder(Proc proc, int periodSeconds);
    ~PeriodicReminder() override { haltThread(); }

    void start();
    // Returns within one sleep step plus a running handler call.
    void stop();

    // For tests: the length of one sleep step (300 ms).
    void setSleepStep(unsigned milliseconds) noexcept { sleepStep = milliseconds; }

protected:
    uint32_t run() override;

private:
    void loop();

    const Proc proc;
    int periodSeconds;
    unsigned sleepStep = 300;
};

// Asks the platform for the bytes available to the user on the disk that holds
// `root`; false when the query fails.
using FreeSpaceQuery = bool (*)(const char* root, uint64_t* available);
bool platformFreeSpace(const char* root, uint64_t* available);

// The folder whose free space is watched for an output path: the folder that
// holds the file ("D:\rec\" for "D:\rec\take.wav"), so that a folder on
// another volume mounted inside a drive is asked about its own volume. Empty
// for a bare file name.
shared_string watchedFolder(const char* path);

// Whether the space is below a threshold now, given whether it was below at
// the last look: once below, it counts as below until it is back above the
// threshold by kRearmBytes.
struct SpaceCrossing {
    static constexpr int64_t kRearmBytes = 1048576;
    static bool below(bool wasBelow, int64_t space, int64_t threshold) noexcept;
};

// Watches the free space of the folder that holds a path. When the space
// falls below 10 MiB it calls its handler once with the address of the free
// byte count (must stop), and below 20 MiB once with null (warning); again
// only after the space was back above the threshold. It counts as running
// from its creation: a stop before any start is traced as a failed wait.
class OutOfSpaceReminder : public Reminder {
public:
    using Proc = std::function<void(uint64_t*)>;  // on the watcher's thread

    static constexpr int64_t kMustStopBytes = 10485760;
    static constexpr int64_t kWarningBytes = 20971520;

    OutOfSpaceReminder(Proc proc, const char* path, FreeSpaceQuery query = &platformFreeSpace);
    ~OutOfSpaceReminder() override { haltThread(); }

    void setPath(const char* newPath);
    void start();
    void stop();

    // For tests: the pause between two queries (100 ms).
    void setPollInterval(unsigned milliseconds) noexcept { pollInterval = milliseconds; }

protected:
    uint32_t run() override;

private:
    shared_string path;
    const Proc proc;
    FreeSpaceQuery query;
    unsigned pollInterval = 100;
};

}  // namespace kit
