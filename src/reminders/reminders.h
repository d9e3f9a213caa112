// Worker threads that serve a running recording: a reminder every 30 minutes,
// and a watcher of the free space on the recording's disk.
#pragma once

#include <atomic>
#include <cstdint>

#include "kit/shared_string.h"
#include "kit/threads.h"

namespace kit {

// Calls its handler every `periodSeconds` while it runs (first call one full
// period after start).
class PeriodicReminder : public Thread {
public:
    using Proc = void (*)(int);

    PeriodicReminder(Proc proc, int periodSeconds);
    ~PeriodicReminder() override;

    void start();
    // Returns within one sleep step plus a running handler call.
    void stop();
    bool isRunning() const noexcept { return running.load(); }
    void setProc(Proc p) noexcept { proc.store(p); }

    // For tests: the length of one sleep step (300 ms).
    void setSleepStep(unsigned milliseconds) noexcept { sleepStep = milliseconds; }

protected:
    uint32_t run() override;

private:
    void loop();

    std::atomic<bool> running{false};
    std::atomic<Proc> proc;
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
// only after the space was back above the threshold.
class OutOfSpaceReminder : public Thread {
public:
    using Proc = void (*)(uint64_t*);

    static constexpr int64_t kMustStopBytes = 10485760;
    static constexpr int64_t kWarningBytes = 20971520;

    OutOfSpaceReminder(Proc proc, const char* path, FreeSpaceQuery query = &platformFreeSpace);
    ~OutOfSpaceReminder() override;

    void setPath(const char* newPath);
    void start();
    void stop();
    bool isRunning() const noexcept { return running.load(); }
    void setProc(Proc p) noexcept { proc.store(p); }

    // For tests: the pause between two queries (100 ms).
    void setPollInterval(unsigned milliseconds) noexcept { pollInterval = milliseconds; }

protected:
    uint32_t run() override;

private:
    std::atomic<bool> running{true};
    shared_string path;
    std::atomic<Proc> proc;
    FreeSpaceQuery query;
    unsigned pollInterval = 100;
};

}  // namespace kit
