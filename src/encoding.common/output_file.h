// The file an encoder writes, straight on the platform's file calls: every
// write reports what reached the file (a full disk is an error at once, not
// later), positions and sizes are 64-bit, and a failure carries the
// platform's reason, so that the user can be told why.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "kit/exceptions.h"
#include "kit/scoped.h"
#include "kit/shared_string.h"

namespace kit {

// Why an output could not be made or written.
enum class OutputFault {
    none,
    folderMissing,  // the folder of the file does not exist
    accessDenied,   // no right to write there (or the file is read-only or in use)
    invalidName,    // the name holds characters the file system refuses, or is empty
    pathTooLong,
    diskFull,
    mp3LibraryMissing,   // lame_enc.dll is not found
    mp3LibraryUnusable,  // lame_enc.dll is there but broken or not the LAME encoder
    other,
};

// The fault behind a platform error code of a file call.
OutputFault outputFault(uint32_t windowsError) noexcept;

// A failure of an output: the fault, the platform's error code and the path.
class OutputError : public ARuntimeError {
public:
    OutputError(shared_string text_, OutputFault fault_, uint32_t code_, shared_string path_)
        : ARuntimeError(std::move(text_)), fault(fault_), code(code_), path(std::move(path_)) {}

    OutputFault fault;
    uint32_t code;
    shared_string path;
};

class OutputFile {
public:
    enum class Open {
        replace,   // create the file, emptying one that exists
        keep,      // open or create it, leaving what an existing file holds
        createNew  // fail when the file exists (ERROR_FILE_EXISTS)
    };

    // Opens for writing (others may read); failures throw OutputError with
    // the text `failure` and the origin `source`/`function`.
    OutputFile(const std::string& path, Open how, const char* failure, const char* source, const char* function);
    OutputFile(OutputFile&&) noexcept = default;
    OutputFile& operator=(OutputFile&&) noexcept = default;
    ~OutputFile() = default;  // closes; close() reports a failure

    const std::string& path() const noexcept { return name; }
    // True when this object made the file (it did not exist before).
    bool created() const noexcept { return madeHere; }
    bool isOpen() const noexcept { return static_cast<bool>(handle); }

    // Writes all `length` bytes at the current position, or throws
    // OutputError (a full disk: OutputFault::diskFull) after what fitted.
    void write(const void* data, uint32_t length, const char* failure);
    // Writes at an offset, then goes back to where it was.
    void writeAt(uint64_t offset, const void* data, uint32_t length, const char* failure);
    // Bytes written so far by write() from offset 0 (the current position).
    uint64_t position() const noexcept { return at; }
    // The file's size as the file system has it.
    uint64_t sizeOnDisk(const char* failure) const;
    // Cuts (or extends) the file at `size` and goes there.
    void truncate(uint64_t size, const char* failure);
    // Closes the file; a failure throws.
    void close(const char* failure);
    // Closes the file and removes it when this object made it.
    void discard() noexcept;

private:
    [[noreturn]] void fail(const char* text, DWORD error) const;
    void seek(uint64_t offset, const char* failure);

    ScopedHandle handle;
    std::string name;
    bool madeHere = false;
    uint64_t at = 0;
    const char* source = "";
    const char* function = "";
};

}  // namespace kit
