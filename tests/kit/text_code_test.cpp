#include <gmock/gmock.h>

#include <string>

#include "kit/text_code.h"

namespace {

// "łódź 🎵": Polish letters of two bytes each and an emoji of four (a
// surrogate pair in UTF-16).
const std::string kPolishEmoji = "\xC5\x82\xC3\xB3\x64\xC5\xBA \xF0\x9F\x8E\xB5";
const std::wstring kPolishEmojiWide = L"\u0142\u00f3d\u017a \U0001F3B5";

TEST(TextCode, UnicodeTextGoesToUtf8AndBackWhole) {
    EXPECT_EQ(kit::widen(kPolishEmoji, CP_UTF8), kPolishEmojiWide);
    EXPECT_EQ(kit::narrow(kPolishEmojiWide, CP_UTF8), kPolishEmoji);
    EXPECT_EQ(kit::widen("\xE9t\xE9", 1252), L"\u00e9t\u00e9");
    EXPECT_EQ(kit::narrow(L"\u0417", 1252), "?") << "what the code page lacks";
    EXPECT_EQ(kit::toUtf8("\xE9t\xE9", 1252), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(kit::toUtf8(kPolishEmoji, CP_UTF8), kPolishEmoji);
}

struct LengthCase {
    std::string text;
    UINT codePage;
    std::size_t characters;
};

class PlatformLength : public ::testing::TestWithParam<LengthCase> {};

TEST_P(PlatformLength, CountsCharactersAsMaxPathDoesNotBytes) {
    EXPECT_EQ(kit::platformLength(GetParam().text, GetParam().codePage), GetParam().characters);
}

INSTANTIATE_TEST_SUITE_P(TextCode, PlatformLength,
                         ::testing::Values(LengthCase{"", CP_UTF8, 0}, LengthCase{"C:\\take", CP_UTF8, 7},
                                           LengthCase{kPolishEmoji, CP_UTF8, 7},  // 12 bytes, the emoji two units
                                           LengthCase{"\xE6\x97\xA5\xE6\x9C\xAC", CP_UTF8, 2},  // 日本
                                           LengthCase{"\xE9t\xE9", 1252, 3}));

struct HeadCase {
    std::string text;
    std::size_t maxBytes;
    UINT codePage;
    std::size_t head;
};

class HeadBytes : public ::testing::TestWithParam<HeadCase> {};

TEST_P(HeadBytes, EndsBetweenTwoCharacters) {
    const HeadCase& c = GetParam();
    EXPECT_EQ(kit::headBytes(c.text, c.maxBytes, c.codePage), c.head);
}

INSTANTIATE_TEST_SUITE_P(TextCode, HeadBytes,
                         ::testing::Values(HeadCase{"short", 127, CP_UTF8, 5}, HeadCase{"abcdef", 4, CP_UTF8, 4},
                                           HeadCase{kPolishEmoji, 12, CP_UTF8, 12},  // all of it fits
                                           HeadCase{kPolishEmoji, 11, CP_UTF8, 8},   // inside the emoji: before it
                                           HeadCase{kPolishEmoji, 9, CP_UTF8, 8},    // one byte into the emoji
                                           HeadCase{kPolishEmoji, 8, CP_UTF8, 8},    // right before it
                                           HeadCase{kPolishEmoji, 1, CP_UTF8, 0},    // inside the first letter
                                           HeadCase{kPolishEmoji, 3, CP_UTF8, 2},
                                           HeadCase{"\xE9t\xE9t\xE9", 3, 1252, 3},    // single bytes: anywhere
                                           HeadCase{"a\x82\xA0\x82\xA2", 2, 932, 1},  // Shift JIS: never after a lead
                                           HeadCase{"a\x82\xA0\x82\xA2", 3, 932, 3}));

struct Utf8Case {
    std::string bytes;
    bool utf8;
};

class Utf8Check : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Check, TellsUtf8FromAnOlderCodePage) { EXPECT_EQ(kit::isUtf8(GetParam().bytes), GetParam().utf8); }

INSTANTIATE_TEST_SUITE_P(TextCode, Utf8Check,
                         ::testing::Values(Utf8Case{"", true}, Utf8Case{"Recorded: C:\\a.wav 00:00:07\r\n", true},
                                           Utf8Case{kPolishEmoji, true},
                                           Utf8Case{"C:\\\xE9t\xE9", false},     // "été" in 1252
                                           Utf8Case{"\xC3", false},              // cut short
                                           Utf8Case{"\xC0\xAF", false},          // overlong "/"
                                           Utf8Case{"\xED\xA0\x80", false},      // a surrogate
                                           Utf8Case{"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
                                           Utf8Case{"\xE0\x9F\xBF", false}));    // overlong

struct FileCase {
    std::string before;
    std::string after;
};

class OldTextFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(OldTextFile, BecomesUtf8WithItsMark) {
    EXPECT_EQ(kit::utf8FileContent(GetParam().before, 1252), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(TextCode, OldTextFile,
                         ::testing::Values(FileCase{"", "\xEF\xBB\xBF"},
                                           FileCase{"a.wav\r\n",
                                                    "\xEF\xBB\xBF"
                                                    "a.wav\r\n"},
                                           FileCase{"C:\\\xE9t\xE9.wav\r\n",
                                                    "\xEF\xBB\xBF"
                                                    "C:\\\xC3\xA9t\xC3\xA9.wav\r\n"},  // 1252
                                           FileCase{kPolishEmoji,
                                                    "\xEF\xBB\xBF" + kPolishEmoji},             // UTF-8 already: kept
                                           FileCase{"\xEF\xBB\xBF\xE9", "\xEF\xBB\xBF\xE9"}));  // marked: never touched

}  // namespace
