// The library's text type: one pointer wide, reference-counted, immutable.
// Copies share one heap block; the empty string is a static block that is
// never counted or freed.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace kit {

class shared_string {
public:
    // Longest text the formatting constructors produce, terminator included.
    static constexpr std::size_t kFormatLimit = 10240;

    shared_string() noexcept;
    shared_string(const char* text);  // null gives the empty string
    shared_string(const char* text, std::size_t length);
    shared_string(std::string_view text);
    shared_string(const std::string& text) : shared_string(std::string_view(text)) {}
    shared_string(const shared_string& other) noexcept;
    shared_string(shared_string&& other) noexcept;
    ~shared_string();

    shared_string& operator=(const shared_string& other) noexcept;
    shared_string& operator=(shared_string&& other) noexcept;

    // printf-style construction, cut to kFormatLimit - 1 characters.
    static shared_string format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
    static shared_string vformat(const char* fmt, va_list args);

    const char* c_str() const noexcept { return chars_; }
    std::size_t length() const noexcept;
    bool empty() const noexcept { return chars_[0] == '\0'; }
    std::string_view view() const noexcept { return {chars_, length()}; }
    std::string str() const { return std::string(view()); }

    // Number of shared_string objects sharing this text; 0 for the empty string.
    int shareCount() const noexcept;

    friend bool operator==(const shared_string& a, const shared_string& b) noexcept {
        return a.chars_ == b.chars_ || a.view() == b.view();
    }
    friend bool operator==(const shared_string& a, const char* b) noexcept {
        return a.view() == std::string_view(b ? b : "");
    }
    friend bool operator<(const shared_string& a, const shared_string& b) noexcept { return a.view() < b.view(); }

private:
    void releaseChars() noexcept;
    char* chars_;
};

}  // namespace kit
