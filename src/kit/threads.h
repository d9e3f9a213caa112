// Threads, events and the event queue: thin wrappers over kernel objects.
#pragma once

#include <windows.h>

#include <cstdint>

#include "kit/refcounted.h"
#include "kit/scoped.h"

namespace kit {

// A thread whose body is the virtual run(). The running thread holds no
// reference to its object: the owner keeps it alive until the thread has ended.
class Thread : public refcounted {
public:
    Thread() noexcept = default;
    // Destruction closes the handle; it does not stop or wait for the thread.
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts a new thread; does nothing while one runs; an ended thread's handle
    // is closed first. Throws ARuntimeError "Cannot create thread".
    void start();
    bool isRunning() const;
    void wait();                       // without time limit
    bool waitFor(DWORD milliseconds);  // true when the thread ended in time

    DWORD threadId() const noexcept { return id; }
    HANDLE threadHandle() const noexcept { return handle.get(); }

protected:
    virtual uint32_t run() = 0;

private:
    static DWORD WINAPI entry(void* self);
    DWORD id = 0;
    ScopedHandle handle;
};

// An auto-reset event, initially not signalled.
class WCondition {
public:
    WCondition();
    WCondition(const WCondition&) = delete;
    WCondition& operator=(const WCondition&) = delete;

    void wait();
    bool waitFor(DWORD milliseconds);
    void pulse();
    void set();
    void reset();
    HANDLE nativeHandle() const noexcept { return event.get(); }

private:
    ScopedHandle event;
};

// A thread-safe FIFO of (count, key, pointer) events on an I/O completion port.
// The queue neither interprets nor owns what the pointers refer to.
class EventQueue : public refcounted {
public:
    EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    void postEvent(ULONG_PTR key, void* pointer);
    void postEvent(uint32_t count, ULONG_PTR key, void* pointer);
    // Waits for the next event. True for a normally posted event.
    bool getEvent(uint32_t& count, ULONG_PTR& key, void*& pointer);
    // As getEvent, but gives up after the time-out and then answers false with key 0.
    bool getEventFor(DWORD milliseconds, uint32_t& count, ULONG_PTR& key, void*& pointer);

private:
    ScopedHandle port;
};

}  // namespace kit
