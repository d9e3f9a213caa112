#include <gmock/gmock.h>
#include <windows.h>

#include <string>

#include "kit/exceptions.h"
#include "kit/regkey.h"

namespace {

constexpr const char* kScratch = "Software\\SonotapeTests\\RegKey";

// Every test starts from an empty scratch key.
kit::RegKey freshScratchKey() {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    return kit::RegKey(HKEY_CURRENT_USER, kScratch, true);
}

class RegKeyTest : public ::testing::Test {
protected:
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kScratch); }
    kit::RegKey key = freshScratchKey();

    void setRaw(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExA(key.handle(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
};

TEST_F(RegKeyTest, OpeningForReadingCreatesAMissingKey) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kScratch);
    kit::RegKey readOnly(HKEY_CURRENT_USER, kScratch, false);
    HKEY probe;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &probe), ERROR_SUCCESS);
    ::RegCloseKey(probe);
}

TEST_F(RegKeyTest, MissingValuesAreNoValueErrors) {
    EXPECT_THROW(key.readString("missing"), kit::RegNoValueError);
    EXPECT_THROW(key.readUnsigned("missing"), kit::RegNoValueError);
}

TEST_F(RegKeyTest, TextsAndNumbersRoundTrip) {
    for (const char* text : {"", "C:\\Users\\me\\Music", "1.000000"}) {
        key.writeString("text", text);
        EXPECT_EQ(key.readString("text"), text);
    }
    for (uint32_t n : {0u, 1u, 32767u, 0xFFFFFFFFu}) {
        key.writeUnsigned("number", n);
        EXPECT_EQ(key.readUnsigned("number"), n);
    }
}

TEST_F(RegKeyTest, ATextLongerThanTheHintIsReadAfterResizing) {
    std::string longText(3000, 'q');
    key.writeString("long", longText.c_str());
    EXPECT_EQ(key.readString("long", 4).str(), longText);
    EXPECT_EQ(key.readString("long").str(), longText);
}

TEST_F(RegKeyTest, UnsignedFromTextAndWrongTypes) {
    key.writeString("answer", "42");
    EXPECT_EQ(key.readUnsigned("answer"), 42u);
    key.writeString("letters", "abc");
    EXPECT_EQ(key.readUnsigned("letters"), 0u);
    key.writeString("spaced", "  -7x");
    EXPECT_EQ(key.readUnsigned("spaced"), static_cast<uint32_t>(-7));

    unsigned char blob[3] = {1, 2, 3};
    setRaw("binary", REG_BINARY, blob, sizeof blob);
    EXPECT_THROW(key.readUnsigned("binary"), kit::RegInvalidDataTypeError);
    const char expand[] = "%TEMP%";
    setRaw("expand", REG_EXPAND_SZ, expand, sizeof expand);
    EXPECT_THROW(key.readUnsigned("expand"), kit::RegInvalidDataTypeError);
    EXPECT_EQ(key.readString("expand"), "%TEMP%");  // not expanded

    key.writeUnsigned("dword", 9);
    EXPECT_THROW(key.readString("dword"), kit::RegInvalidDataTypeError);
}

TEST_F(RegKeyTest, UnterminatedStoredTextStillEnds) {
    const char raw[4] = {'a', 'b', 'c', 'd'};
    setRaw("raw", REG_SZ, raw, sizeof raw);
    EXPECT_EQ(key.readString("raw"), "abcd");
}

TEST_F(RegKeyTest, DeleteValueAndItsFailure) {
    key.writeUnsigned("gone", 1);
    key.deleteValue("gone");
    EXPECT_THROW(key.readUnsigned("gone"), kit::RegNoValueError);
    EXPECT_NO_THROW(key.deleteValue("gone")) << "a value that is not there is gone already";

    key.writeUnsigned("kept", 1);
    kit::RegKey readOnly(HKEY_CURRENT_USER, kScratch, false);
    try {
        readOnly.deleteValue("kept");
        FAIL();
    } catch (kit::WindowsSpecError& e) {
        EXPECT_EQ(e.errorCode(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
        EXPECT_THAT(e.message().str(), ::testing::HasSubstr("RegDeleteValue failed"));
    }
    EXPECT_EQ(key.readUnsigned("kept"), 1u);
}

TEST_F(RegKeyTest, CopiesShareTheHandle) {
    kit::RegKey copy = key;
    EXPECT_EQ(copy.handle(), key.handle());
    copy.writeUnsigned("shared", 3);
    EXPECT_EQ(key.readUnsigned("shared"), 3u);
}

}  // namespace
