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

// The folder whose free space is watched for an output path: the root of its
// drive ("d:\"), or, for a path without a drive letter (a network share), the
// folder that holds the file.
shared_string watchedRoot(const char* path);

// Watches the free space of the disk that holds a path. Below 10 MiB it calls
// its handler with the address of the free byte count (must stop), and below
// 20 MiB with null (warning), on every pass while the space stays low.
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
