#include "kit/threads.h"

#include "kit/clock.h"
#include "kit/exceptions.h"

namespace kit {

uint32_t systemTicks() noexcept { return ::GetTickCount(); }

// ---- Thread -------------------------------------------------------------------

DWORD WINAPI Thread::entry(void* self) { return static_cast<Thread*>(self)->run(); }

void Thread::start() {
    if (handle) {
        if (isRunning()) return;
        handle.reset();
        id = 0;
    }
    DWORD newId = 0;
    HANDLE h = ::CreateThread(nullptr, 0, &Thread::entry, this, 0, &newId);
    if (!h) {
        setOrigin(origins::kThreadStart, "kit::Thread::start");
        throw ARuntimeError("Cannot create thread");
    }
    handle.reset(h);
    id = newId;
}

bool Thread::isRunning() const {
    if (!handle) return false;
    DWORD code = 0;
    if (!::GetExitCodeThread(handle.get(), &code)) {
        setOrigin(origins::kThreadIsRunning, "kit::Thread::isRunning");
        throw ARuntimeError("Cannot get thread's exit code");
    }
    return code == STILL_ACTIVE;
}

void Thread::wait() {
    if (!handle) return;
    if (::WaitForSingleObject(handle.get(), INFINITE) == WAIT_FAILED) throw WindowsError("WaitForSingleObject failed");
}

bool Thread::waitFor(DWORD milliseconds) {
    if (!handle) return true;
    DWORD r = ::WaitForSingleObject(handle.get(), milliseconds);
    if (r == WAIT_FAILED) throw WindowsError("WaitForSingleObject failed");
    return r == WAIT_OBJECT_0;
}

// ---- WCondition ----------------------------------------------------------------

WCondition::WCondition() : event(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (!event) throw WindowsError("CreateEvent failed");
}

void WCondition::wait() {
    if (::WaitForSingleObject(event.get(), INFINITE) == WAIT_FAILED) throw WindowsError("WaitForSingleObject failed");
}

bool WCondition::waitFor(DWORD milliseconds) {
    DWORD r = ::WaitForSingleObject(event.get(), milliseconds);
    if (r == WAIT_FAILED) throw WindowsError("WaitForSingleObject failed");
    return r == WAIT_OBJECT_0;
}

void WCondition::pulse() {
    if (!::PulseEvent(event.get())) throw WindowsError("PulseEvent failed");
}

void WCondition::set() {
    if (!::SetEvent(event.get())) throw WindowsError("SetEvent failed");
}

void WCondition::reset() {
    if (!::ResetEvent(event.get())) throw WindowsError("ResetEvent failed");
}

// ---- EventQueue -----------------------------------------------------------------

EventQueue::EventQueue() : port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0)) {
    if (!port) {
        setOrigin(origins::kEventQueueCreate, "kit::EventQueue::EventQueue");
        throw WindowsError("CreateIoCompletionPort() failed when creating the port");
    }
}

void EventQueue::postEvent(ULONG_PTR key, void* pointer) {
    if (!::PostQueuedCompletionStatus(port.get(), 0, key, static_cast<LPOVERLAPPED>(pointer))) {
        setOrigin(origins::kEventQueuePost, "kit::EventQueue::postEvent");
        throw WindowsError("PostQueuedCompletionStatus() failed");
    }
}

void EventQueue::postEvent(uint32_t count, ULONG_PTR key, void* pointer) {
    if (!::PostQueuedCompletionStatus(port.get(), count, key, static_cast<LPOVERLAPPED>(pointer))) {
        setOrigin(origins::kEventQueuePostCounted, "kit::EventQueue::postEvent");
        throw WindowsError("PostQueuedCompletionStatus() failed");
    }
}

bool EventQueue::getEvent(uint32_t& count, ULONG_PTR& key, void*& pointer) {
    return getEventFor(INFINITE, count, key, pointer);
}

bool EventQueue::getEventFor(DWORD milliseconds, uint32_t& count, ULONG_PTR& key, void*& pointer) {
    DWORD bytes = 0;
    ULONG_PTR completionKey = 0;
    LPOVERLAPPED overlapped = nullptr;
    BOOL ok = ::GetQueuedCompletionStatus(port.get(), &bytes, &completionKey, &overlapped, milliseconds);
    if (!ok && !overlapped) {
        if (milliseconds != INFINITE && ::GetLastError() == WAIT_TIMEOUT) {
            count = 0;
            key = 0;
            pointer = nullptr;
            return false;
        }
        setOrigin(origins::kEventQueueGet, "kit::EventQueue::getEvent");
        throw WindowsError("GetQueuedCompletionStatus() failed");
    }
    count = bytes;
    key = completionKey;
    pointer = overlapped;
    return ok != FALSE;
}

}  // namespace kit
