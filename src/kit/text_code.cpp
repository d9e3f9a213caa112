#include "kit/text_code.h"

#include <cstdint>
#include <cstdlib>

#include "kit/scoped.h"

namespace kit {
namespace {

// A file larger than this is no log of ours: it is left as it is.
constexpr int64_t kLargestConvertedFile = 64ll * 1024 * 1024;

UINT resolved(UINT codePage) noexcept { return codePage == CP_ACP ? ::GetACP() : codePage; }

bool isContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// The length of the UTF-8 sequence that `lead` starts, 0 for a byte no sequence starts with.
int sequenceLength(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool readAll(HANDLE file, std::string& content) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart > kLargestConvertedFile) return false;
    content.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t at = 0;
    while (at < content.size()) {
        DWORD got = 0;
        if (!::ReadFile(file, content.data() + at, static_cast<DWORD>(content.size() - at), &got, nullptr) || got == 0)
            return false;
        at += got;
    }
    return true;
}

bool writeAllAtStart(HANDLE file, std::string_view content) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    DWORD put = 0;
    if (!::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) || put != content.size())
        return false;
    return ::SetEndOfFile(file) != FALSE;
}

}  // namespace

std::wstring widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    int length =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                              nullptr);
    return bytes;
}

std::string toUtf8(std::string_view text, UINT codePage) {
    if (resolved(codePage) == CP_UTF8) return std::string(text);
    return narrow(widen(text, codePage), CP_UTF8);
}

std::size_t platformLength(std::string_view text, UINT codePage) {
    if (text.empty()) return 0;
    int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    return static_cast<std::size_t>(length > 0 ? length : 0);
}

std::size_t headBytes(std::string_view text, std::size_t maxBytes, UINT codePage) {
    if (text.size() <= maxBytes) return text.size();
    codePage = resolved(codePage);
    if (codePage == CP_UTF8) {
        std::size_t cut = maxBytes;
        while (cut > 0 && isContinuation(static_cast<unsigned char>(text[cut]))) --cut;
        return cut;
    }
    CPINFO info{};
    if (!::GetCPInfo(codePage, &info) || info.MaxCharSize <= 1) return maxBytes;
    std::size_t at = 0;
    while (at < maxBytes) {
        std::size_t step = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) ? 2 : 1;
        if (at + step > maxBytes) break;
        at += step;
    }
    return at;
}

bool isUtf8(std::string_view bytes) noexcept {
    for (std::size_t i = 0; i < bytes.size();) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        int length = sequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) return false;
        for (int k = 1; k < length; ++k)
            if (!isContinuation(static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]))) return false;
        if (length > 2) {
            auto second = static_cast<unsigned char>(bytes[i + 1]);
            if (lead == 0xE0 && second < 0xA0) return false;   // overlong
            if (lead == 0xED && second >= 0xA0) return false;  // a surrogate
            if (lead == 0xF0 && second < 0x90) return false;   // overlong
            if (lead == 0xF4 && second >= 0x90) return false;  // beyond U+10FFFF
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

std::string utf8FileContent(std::string_view content, UINT oldCodePage) {
    if (content.substr(0, kUtf8Mark.size()) == kUtf8Mark) return std::string(content);
    std::string result(kUtf8Mark);
    if (isUtf8(content))
        result += content;
    else
        result += narrow(widen(content, oldCodePage), CP_UTF8);
    return result;
}

UINT systemCodePage() {
    HKEY key = nullptr;
    UINT codePage = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0, KEY_QUERY_VALUE,
                        &key) == ERROR_SUCCESS) {
        wchar_t value[16] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(key, L"ACP", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
            type == REG_SZ)
            codePage = static_cast<UINT>(std::wcstoul(value, nullptr, 10));
        ::RegCloseKey(key);
    }
    if (codePage == 0) {
        DWORD number = 0;
        if (::GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                             reinterpret_cast<wchar_t*>(&number), sizeof number / sizeof(wchar_t)) > 0)
            codePage = number;
    }
    return codePage != 0 ? codePage : 1252;
}

bool makeUtf8TextFile(const char* path) {
    ScopedHandle file(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char head[3] = {};
    DWORD got = 0;
    if (!::ReadFile(file.get(), head, sizeof head, &got, nullptr)) return false;
    if (std::string_view(head, got) == kUtf8Mark) return true;
    if (got == 0) return writeAllAtStart(file.get(), kUtf8Mark);
    std::string content;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) || !readAll(file.get(), content)) return false;
    return writeAllAtStart(file.get(), utf8FileContent(content, systemCodePage()));
}

}  // namespace kit
