// The command pipe: how a second start of the program (`sonotape.exe --record`,
// `--stop`, `--status`) reaches the running copy.
//
// The pipe's name holds the user's session and SID; its security descriptor
// lets only this user (and SYSTEM) open it, and remote clients are refused.
// The running copy makes the first and only instance (a name another process
// holds already is said plainly), takes one request at a time in a thread of
// its own, answers a malformed one with a refusal and hands a good one to the
// user-interface thread as a letter (Letter::Command), whose answer goes back
// through the pipe. A client that connects and sends nothing is let go after
// two seconds.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "kit/scoped.h"
#include "kit/threads.h"
#include "win.gui/command_line.h"

namespace command {

// "\\.\pipe\Korvel.Sonotape.<session>.<user's SID>".
std::wstring pipeName();

class Server : public kit::Thread {
public:
    using Handler = std::function<Reply(const Command&)>;
    enum class Opened { Yes, Taken, Failed };

    explicit Server(Handler handler);
    ~Server() override;  // closes
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // User-interface thread: makes the pipe and starts taking requests.
    // Taken: another process holds the name (logged).
    Opened open();
    // Ends the thread; a request waiting for its answer is refused.
    void close();
    // User-interface thread: answers the request waiting, if any.
    void serve();

private:
    uint32_t run() override;
    void session();
    Reply ask(const Command& command);
    // Waits for an overlapped call on the pipe; false when the thread
    // stops, the time is over (the call is cancelled) or it failed.
    bool complete(BOOL started, OVERLAPPED& overlapped, DWORD timeoutMs, DWORD& bytes, DWORD& error);

    Handler handler;
    kit::ScopedHandle pipe;
    kit::ScopedHandle stopEvent;
    kit::ScopedHandle ioEvent;
    kit::ScopedHandle answeredEvent;
    std::mutex lock;  // guards what follows
    std::optional<Command> pending;
    uint64_t ticket = 0;
    Reply answer;
};

// Sends the command to the running copy and returns its answer. Refused when
// the pipe does not open in time or its server is a process of another user.
Reply send(const Command& command);

}  // namespace command
