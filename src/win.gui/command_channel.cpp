#include "win.gui/command_channel.h"

#include <sddl.h>

#include <vector>

#include "diagnostics/eventlog.h"
#include "win.gui/mailbox.h"

namespace command {
namespace {

constexpr const char* kTraceSource = "win.gui/command_channel";
constexpr DWORD kClientIdleMs = 2000;
constexpr DWORD kAnswerMs = 60000;
constexpr DWORD kReplyBytes = 4096;

using ScopedLocal = kit::Scoped<kit::SimpleTraits<HLOCAL, &::LocalFree>>;

// The SID of the process's user; empty when it cannot be read.
std::vector<BYTE> processUser(HANDLE process) {
    kit::ScopedHandle token;
    if (!::OpenProcessToken(process, TOKEN_QUERY, token.receive())) return {};
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    std::vector<BYTE> copy(::GetLengthSid(sid));
    ::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
    return copy;
}

std::wstring sidText(std::vector<BYTE>& sid) {
    LPWSTR text = nullptr;
    if (sid.empty() || !::ConvertSidToStringSidW(sid.data(), &text)) return L"unknown";
    ScopedLocal owner(text);
    return text;
}

}  // namespace

std::wstring pipeName() {
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    std::vector<BYTE> user = processUser(::GetCurrentProcess());
    return L"\\\\.\\pipe\\Korvel.Sonotape." + std::to_wstring(session) + L"." + sidText(user);
}

// ---- the running copy's end ------------------------------------------------------------------

Server::Server(Handler handler_) : handler(std::move(handler_)) {
    stopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ioEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    answeredEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

Server::~Server() { close(); }

Server::Opened Server::open() {
    if (!stopEvent || !ioEvent || !answeredEvent) return Opened::Failed;
    std::vector<BYTE> user = processUser(::GetCurrentProcess());
    std::wstring sddl = L"D:P(A;;GA;;;" + sidText(user) + L")(A;;GA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        FW_LOG(fw::LEVEL_WARN, "CommandPipeNotMade", "the pipe's security descriptor: error %lu", ::GetLastError());
        return Opened::Failed;
    }
    ScopedLocal descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    std::wstring name = pipeName();
    pipe.reset(::CreateNamedPipeW(name.c_str(),
                                  PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                  kReplyBytes, kMaxRequestBytes + 1, 0, &attributes));
    if (!pipe) {
        DWORD error = ::GetLastError();
        bool taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        FW_LOG(fw::LEVEL_WARN, "CommandPipeNotMade", "%s (error %lu)",
               taken ? "another process holds the command pipe's name" : "CreateNamedPipe failed", error);
        return taken ? Opened::Taken : Opened::Failed;
    }
    start();
    return Opened::Yes;
}

void Server::close() {
    if (stopEvent) ::SetEvent(stopEvent.get());
    if (isRunning()) wait();
    pipe.reset();
}

bool Server::complete(BOOL started, OVERLAPPED& overlapped, DWORD timeoutMs, DWORD& bytes, DWORD& error) {
    error = started ? ERROR_SUCCESS : ::GetLastError();
    if (!started && error != ERROR_IO_PENDING) return false;
    HANDLE waits[] = {stopEvent.get(), overlapped.hEvent};
    if (::WaitForMultipleObjects(2, waits, FALSE, timeoutMs) != WAIT_OBJECT_0 + 1)
        ::CancelIoEx(pipe.get(), &overlapped);
    if (::GetOverlappedResult(pipe.get(), &overlapped, &bytes, TRUE)) return true;
    error = ::GetLastError();
    return false;
}

uint32_t Server::run() {
    while (::WaitForSingleObject(stopEvent.get(), 0) == WAIT_TIMEOUT) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent.get();
        ::ResetEvent(ioEvent.get());
        DWORD bytes = 0;
        DWORD error = 0;
        BOOL connected = ::ConnectNamedPipe(pipe.get(), &overlapped);
        bool client = complete(connected, overlapped, INFINITE, bytes, error) || error == ERROR_PIPE_CONNECTED;
        if (client) session();
        ::DisconnectNamedPipe(pipe.get());
    }
    return 0;
}

// One client: one request, one answer.
void Server::session() {
    std::string request(kMaxRequestBytes + 1, '\0');
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent.get();
    ::ResetEvent(ioEvent.get());
    DWORD bytes = 0;
    DWORD error = 0;
    BOOL read = ::ReadFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &bytes, &overlapped);
    bool whole = complete(read, overlapped, kClientIdleMs, bytes, error);
    if (!whole && error != ERROR_MORE_DATA) {
        FW_TRACE("A command client sent no request (error %lu)", error);
        return;
    }
    request.resize(whole ? bytes : request.size());
    Parsed parsed = parseRequest(request);
    Reply reply;
    if (parsed.ok) {
        reply = ask(parsed.command);
    } else {
        FW_TRACE("A malformed command request (%lu bytes) is refused: %s", bytes, parsed.error.c_str());
        reply = Reply{kRefused, "malformed request: " + parsed.error};
    }
    std::string text = encodeReply(reply);
    ::ResetEvent(ioEvent.get());
    BOOL written = ::WriteFile(pipe.get(), text.data(), static_cast<DWORD>(text.size()), &bytes, &overlapped);
    if (!complete(written, overlapped, kClientIdleMs, bytes, error)) return;
    // The answer is the client's once it has read it: it closes its end.
    char rest[64];
    ::ResetEvent(ioEvent.get());
    BOOL more = ::ReadFile(pipe.get(), rest, sizeof rest, &bytes, &overlapped);
    complete(more, overlapped, kClientIdleMs, bytes, error);
}

Reply Server::ask(const Command& command) {
    {
        std::lock_guard<std::mutex> guard(lock);
        pending = command;
        ++ticket;
        ::ResetEvent(answeredEvent.get());
    }
    if (!Mailbox::post(Letter{Letter::Command, {}})) return Reply{kRefused, "Sonotape is closing"};
    HANDLE waits[] = {stopEvent.get(), answeredEvent.get()};
    DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, kAnswerMs);
    std::lock_guard<std::mutex> guard(lock);
    if (woken == WAIT_OBJECT_0 + 1) return answer;
    pending.reset();
    ++ticket;
    return Reply{kRefused, woken == WAIT_OBJECT_0 ? "Sonotape is closing" : "Sonotape did not answer in time"};
}

void Server::serve() {
    Command command;
    uint64_t mine = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!pending) return;
        command = *pending;
        pending.reset();
        mine = ticket;
    }
    Reply reply{kRefused, "the command failed"};
    struct Answer {
        Server& server;
        uint64_t mine;
        Reply& reply;
        ~Answer() {
            std::lock_guard<std::mutex> guard(server.lock);
            if (mine != server.ticket) return;
            server.answer = reply;
            ::SetEvent(server.answeredEvent.get());
        }
    } answerOnAnyWay{*this, mine, reply};
    reply = handler(command);
}

// ---- the client's end ---------------------------------------------------------------------------

Reply send(const Command& command) {
    std::wstring name = pipeName();
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    kit::ScopedHandle pipe;
    for (;;) {
        pipe.reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
        if (pipe) break;
        DWORD error = ::GetLastError();
        ULONGLONG now = ::GetTickCount64();
        if (now >= deadline || (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND))
            return Reply{kRefused,
                         "the running copy of Sonotape takes no commands (error " + std::to_string(error) + ")"};
        // Busy: another command is answered; not found: the running copy is still starting.
        if (error == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), static_cast<DWORD>(deadline - now));
        else
            ::Sleep(100);
    }
    ULONG server = 0;
    if (::GetNamedPipeServerProcessId(pipe.get(), &server)) {
        kit::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server));
        std::vector<BYTE> theirs = process ? processUser(process.get()) : std::vector<BYTE>{};
        std::vector<BYTE> ours = processUser(::GetCurrentProcess());
        if (theirs.empty() || ours.empty() || !::EqualSid(theirs.data(), ours.data())) {
            FW_LOG(fw::LEVEL_WARN, "CommandPipeSquatted", "the command pipe is held by process %lu of another user",
                   server);
            return Reply{kRefused, "the command pipe is held by a process of another user; nothing was sent"};
        }
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
    std::string request = encodeRequest(command);
    DWORD bytes = 0;
    if (!::WriteFile(pipe.get(), request.data(), static_cast<DWORD>(request.size()), &bytes, nullptr))
        return Reply{kRefused, "the command could not be sent (error " + std::to_string(::GetLastError()) + ")"};
    std::string reply(kReplyBytes, '\0');
    if (!::ReadFile(pipe.get(), reply.data(), kReplyBytes, &bytes, nullptr) && ::GetLastError() != ERROR_MORE_DATA)
        return Reply{kRefused,
                     "the running copy of Sonotape did not answer (error " + std::to_string(::GetLastError()) + ")"};
    reply.resize(bytes);
    return parseReply(reply);
}

}  // namespace command
