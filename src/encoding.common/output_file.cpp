#include "encoding.common/output_file.h"

#include "kit/last_error.h"

namespace kit {
namespace {
constexpr DWORD kDiskQuotaExceeded = 1295;  // not in every SDK's headers
}  // namespace

OutputFault outputFault(uint32_t windowsError) noexcept {
    switch (windowsError) {
    case ERROR_SUCCESS: return OutputFault::none;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE: return OutputFault::folderMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return OutputFault::accessDenied;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILE_NOT_FOUND: return OutputFault::invalidName;  // a name such as "" or "con:" that opens nothing
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return OutputFault::pathTooLong;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded: return OutputFault::diskFull;
    case ERROR_MOD_NOT_FOUND: return OutputFault::mp3LibraryMissing;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_PROC_NOT_FOUND:
    case ERROR_DLL_INIT_FAILED: return OutputFault::mp3LibraryUnusable;
    default: return OutputFault::other;
    }
}

OutputFile::OutputFile(const std::string& path, Open how, const char* failure, const char* source_,
                       const char* function_)
    : name(path), source(source_), function(function_) {
    DWORD disposition = how == Open::replace ? CREATE_ALWAYS : how == Open::keep ? OPEN_ALWAYS : CREATE_NEW;
    handle.reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = ::GetLastError();
    if (!handle) fail(failure, path.empty() ? ERROR_INVALID_NAME : error);
    // CREATE_ALWAYS and OPEN_ALWAYS say ERROR_ALREADY_EXISTS for a file that was there.
    madeHere = how == Open::createNew || error != ERROR_ALREADY_EXISTS;
}

void OutputFile::fail(const char* text, DWORD error) const {
    setOrigin(source, 0, function);
    throw OutputError(shared_string(text), outputFault(error), error, shared_string(name));
}

void OutputFile::write(const void* data, uint32_t length, const char* failure) {
    DWORD done = 0;
    BOOL ok = ::WriteFile(handle.get(), data, length, &done, nullptr);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    at += done;
    if (!ok || done != length) fail(failure, ok ? ERROR_DISK_FULL : error);
}

void OutputFile::seek(uint64_t offset, const char* failure) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(handle.get(), to, nullptr, FILE_BEGIN)) fail(failure, ::GetLastError());
    at = offset;
}

void OutputFile::writeAt(uint64_t offset, const void* data, uint32_t length, const char* failure) {
    uint64_t back = at;
    seek(offset, failure);
    write(data, length, failure);
    seek(back, failure);
}

uint64_t OutputFile::sizeOnDisk(const char* failure) const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.get(), &size)) fail(failure, ::GetLastError());
    return static_cast<uint64_t>(size.QuadPart);
}

void OutputFile::truncate(uint64_t size, const char* failure) {
    seek(size, failure);
    if (!::SetEndOfFile(handle.get())) fail(failure, ::GetLastError());
}

void OutputFile::close(const char* failure) {
    HANDLE h = handle.detach();
    if (h && !::CloseHandle(h)) fail(failure, ::GetLastError());
}

void OutputFile::discard() noexcept {
    KeepLastError keep;
    handle.reset();
    if (madeHere) ::DeleteFileA(name.c_str());
}

}  // namespace kit
