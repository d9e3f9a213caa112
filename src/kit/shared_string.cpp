#include "kit/shared_string.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kit {
namespace {

// Header in front of the characters of every counted text.
struct string_buffer {
    std::atomic<int> refs;  // negative: the static empty block, never counted
    std::size_t length;
};

struct EmptyBlock {
    string_buffer header{{-1}, 0};
    char chars[1] = {'\0'};
};
EmptyBlock emptyBlock;

string_buffer* headerOf(char* chars) noexcept {
    return reinterpret_cast<string_buffer*>(chars - sizeof(string_buffer));
}

char* allocate(const char* text, std::size_t length) {
    std::size_t bytes = sizeof(string_buffer) + length + 1;
    assert(bytes >= sizeof(string_buffer) && "bytes >= sizeof (string_buffer)");
    void* block = std::malloc(bytes);
    if (!block) throw std::bad_alloc();
    auto* header = new (block) string_buffer{{1}, length};
    char* chars = reinterpret_cast<char*>(header + 1);
    std::memcpy(chars, text, length);
    chars[length] = '\0';
    return chars;
}

char* emptyChars() noexcept { return emptyBlock.chars; }

void addRef(char* chars) noexcept {
    string_buffer* h = headerOf(chars);
    if (h->refs.load(std::memory_order_relaxed) >= 0) h->refs.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

static_assert(sizeof(shared_string) == sizeof(void*), "shared_string is one pointer wide");

shared_string::shared_string() noexcept : chars_(emptyChars()) {}

shared_string::shared_string(const char* text)
    : chars_(text && *text ? allocate(text, std::strlen(text)) : emptyChars()) {}

shared_string::shared_string(const char* text, std::size_t length)
    : chars_(text && length ? allocate(text, length) : emptyChars()) {}

shared_string::shared_string(std::string_view text)
    : chars_(text.empty() ? emptyChars() : allocate(text.data(), text.size())) {}

shared_string::shared_string(const shared_string& other) noexcept : chars_(other.chars_) { addRef(chars_); }

shared_string::shared_string(shared_string&& other) noexcept : chars_(other.chars_) { other.chars_ = emptyChars(); }

shared_string::~shared_string() { releaseChars(); }

shared_string& shared_string::operator=(const shared_string& other) noexcept {
    if (chars_ != other.chars_) {
        addRef(other.chars_);
        releaseChars();
        chars_ = other.chars_;
    }
    return *this;
}

shared_string& shared_string::operator=(shared_string&& other) noexcept {
    if (this != &other) {
        releaseChars();
        chars_ = other.chars_;
        other.chars_ = emptyChars();
    }
    return *this;
}

void shared_string::releaseChars() noexcept {
    string_buffer* h = headerOf(chars_);
    if (h->refs.load(std::memory_order_relaxed) < 0) return;
    if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        h->~string_buffer();
        std::free(h);
    }
}

std::size_t shared_string::length() const noexcept { return headerOf(chars_)->length; }

int shared_string::shareCount() const noexcept {
    int refs = headerOf(chars_)->refs.load(std::memory_order_relaxed);
    return refs < 0 ? 0 : refs;
}

shared_string shared_string::vformat(const char* fmt, va_list args) {
    char buffer[kFormatLimit];
    int n = std::vsnprintf(buffer, sizeof buffer, fmt ? fmt : "", args);
    if (n < 0) n = 0;
    std::size_t length = static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1;
    return shared_string(buffer, length);
}

shared_string shared_string::format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    shared_string result = vformat(fmt, args);
    va_end(args);
    return result;
}

}  // namespace kit
