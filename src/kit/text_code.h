// The program's text and the platform's code pages.
//
// Every string of the program is a std::string (or shared_string) in the
// process's ANSI code page. The program's manifest asks for UTF-8 as that
// code page (activeCodePage, honoured from Windows 10 version 1903 on), so
// there every name in any script reaches the "A" calls of the platform whole;
// on an older system the code page is the system's own, and what it cannot
// hold is refused where a name is chosen. Calls that take wide text (the
// shell, the known folders, the save-file dialog) get the text converted here,
// at the call. Text files the program writes (log.txt, the events file) are
// UTF-8 with a byte-order mark whatever the code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace kit {

// The UTF-8 byte-order mark at the start of the program's text files.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// Text of a code page and UTF-16. CP_ACP is the process's code page. Bytes
// the code page cannot read become U+FFFD; characters it cannot hold, "?".
std::wstring widen(std::string_view text, UINT codePage = CP_ACP);
std::string narrow(std::wstring_view text, UINT codePage = CP_ACP);

// Text of the code page as UTF-8 (the same bytes when the code page is UTF-8).
std::string toUtf8(std::string_view text, UINT codePage = CP_ACP);

// The length of the text in the platform's characters (UTF-16 units), as
// MAX_PATH and the edit boxes count them.
std::size_t platformLength(std::string_view text, UINT codePage = CP_ACP);

// The longest head of `text` of at most `maxBytes` bytes that ends between two
// characters of the code page (never inside a UTF-8 sequence or after the lead
// byte of a double-byte character).
std::size_t headBytes(std::string_view text, std::size_t maxBytes, UINT codePage = CP_ACP);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool isUtf8(std::string_view bytes) noexcept;

// The content of a text file as the program writes it now: UTF-8 after the
// byte-order mark. A file that has the mark is kept; one without it (an
// earlier version wrote it in the system's code page) is kept when its bytes
// are UTF-8 already (plain ASCII, or a system set to UTF-8) and converted from
// `oldCodePage` otherwise.
std::string utf8FileContent(std::string_view content, UINT oldCodePage);

// The ANSI code page of the system, which programs without the UTF-8
// manifest use (1252 for Western European languages), even in a process that
// runs as UTF-8.
UINT systemCodePage();

// Makes the file at `path` a UTF-8 text file with its mark, in place: a new or
// empty file gets the mark alone; an older file's content is converted once
// (utf8FileContent with the system's code page). False when the file cannot
// be opened for that (it is then left as it is).
bool makeUtf8TextFile(const char* path);

}  // namespace kit
