// The settings against Wine's real registry.
#include <gmock/gmock.h>
#include <windows.h>

#include <string>

#include "config/snt_config.h"
#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/regkey.h"
#include "support/support.h"

namespace {

using ::testing::HasSubstr;

kit::RegKey programKey() { return kit::RegKey(HKEY_CURRENT_USER, SntConfig::kKeyPath, true); }
kit::RegKey runKey() { return kit::RegKey(HKEY_CURRENT_USER, SntConfig::kRunKeyPath, true); }

void removeRunValue() { ::RegDeleteKeyValueA(HKEY_CURRENT_USER, SntConfig::kRunKeyPath, SntConfig::kRunValue); }

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, SntConfig::kKeyPath);
        removeRunValue();
    }
    void TearDown() override { removeRunValue(); }
};

constexpr const char* kNumbers[] = {"Line", "LastFormat", "Remind30min", "lastBitrate", "RemindOutOfSpace",
                                    "StartInTray", "needCalibration", "Xpos", "Ypos", "startUpDialog", "VolumeLevel"};

TEST_F(ConfigTest, TheFirstRunWritesAllThirteenDefaults) {
    SntConfig config;
    EXPECT_FALSE(config.load());
    kit::RegKey key = programKey();
    for (const char* name : kNumbers) EXPECT_NO_THROW(key.readUnsigned(name)) << name;
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
    EXPECT_EQ(key.readString("StorageDir"), defaultStorageFolder());
    EXPECT_EQ(key.readUnsigned("VolumeLevel"), 32767u);
    EXPECT_EQ(key.readUnsigned("needCalibration"), 1u);
    EXPECT_EQ(key.readUnsigned("startUpDialog"), 1u);
    EXPECT_EQ(key.readUnsigned("lastBitrate"), 128u);
    EXPECT_EQ(key.readUnsigned("LastFormat"), 1u);
    EXPECT_EQ(key.readUnsigned("Xpos"), 20u);
    EXPECT_EQ(key.readUnsigned("Ypos"), 20u);
    EXPECT_EQ(key.readUnsigned("Line"), 0u);
    EXPECT_EQ(key.readUnsigned("Remind30min"), 0u);

    SntConfig again;
    EXPECT_TRUE(again.load());
}

TEST_F(ConfigTest, APartialKeyKeepsWhatWasReadAndRewritesEverything) {
    {
        kit::RegKey key = programKey();
        key.writeUnsigned("Line", 3);
        key.writeString("StorageDir", "D:\\rec");
    }
    testsupport::EventsFile events;
    SntConfig config;
    config.lastBitrate = 64;  // not read before the failure: stays as it is
    EXPECT_FALSE(config.load());
    EXPECT_EQ(config.line, 3);
    EXPECT_EQ(config.storageDir, "D:\\rec");
    EXPECT_EQ(config.lastFormat, 1);
    EXPECT_EQ(config.lastBitrate, 64);
    kit::RegKey key = programKey();
    EXPECT_EQ(key.readUnsigned("Line"), 3u);
    EXPECT_EQ(key.readString("StorageDir"), "D:\\rec");
    EXPECT_EQ(key.readUnsigned("lastBitrate"), 64u);
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
    std::string text = events.added();
    EXPECT_THAT(text, HasSubstr("WARN       #CaughtKitException"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("ERR        #")));
    EXPECT_THAT(text, HasSubstr("ENV        #Loading config from registry failed, saving default configuration."));
}

TEST_F(ConfigTest, AValueOfTheWrongTypeMakesLoadRewriteTheConfiguration) {
    SntConfig first;
    first.load();
    const unsigned char blob[] = {1, 2, 3, 4, 5, 6};
    {
        kit::RegKey key = programKey();
        ASSERT_EQ(::RegSetValueExA(key.handle(), "Xpos", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    }
    SntConfig config;
    EXPECT_FALSE(config.load());
    EXPECT_EQ(programKey().readUnsigned("Xpos"), 20u);
}

struct PositionCase {
    int offsetFromScreen;  // added to the screen size; kUseRaw: take `raw`
    int raw;
    bool resetTo10;
};
constexpr int kUseRaw = 1 << 30;

class PositionCorrection : public ConfigTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(PositionCorrection, APositionOutsideTheScreenIsSavedAs10) {
    int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
    const PositionCase& c = GetParam();
    SntConfig config;
    config.xPos = c.offsetFromScreen == kUseRaw ? c.raw : width + c.offsetFromScreen;
    config.yPos = c.offsetFromScreen == kUseRaw ? c.raw : height + c.offsetFromScreen;
    int wantedX = c.resetTo10 ? 10 : config.xPos, wantedY = c.resetTo10 ? 10 : config.yPos;
    config.save();
    EXPECT_EQ(static_cast<int>(programKey().readUnsigned("Xpos")), wantedX);
    EXPECT_EQ(static_cast<int>(programKey().readUnsigned("Ypos")), wantedY);
}

INSTANTIATE_TEST_SUITE_P(Table, PositionCorrection,
                         ::testing::Values(PositionCase{4000, 0, true}, PositionCase{1, 0, true},
                                           PositionCase{0, 0, false}, PositionCase{-1, 0, false},
                                           PositionCase{kUseRaw, -3, true}, PositionCase{kUseRaw, 0, false}));

TEST_F(ConfigTest, TheCoefficientIsStoredAsText) {
    SntConfig config;
    config.load();
    programKey().writeString("VolumeCoeff", "0.75");
    ASSERT_TRUE(config.load());
    EXPECT_DOUBLE_EQ(config.volumeCoeff, 0.75);
    config.save();
    EXPECT_EQ(programKey().readString("VolumeCoeff"), "0.750000");

    programKey().writeString("VolumeCoeff", "abc");
    config.volumeCoeff = 1.25;
    EXPECT_TRUE(config.load());
    EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.25);
}

TEST_F(ConfigTest, AnyNonZeroNumberIsTrueAndIsSavedAsOne) {
    SntConfig config;
    config.load();
    programKey().writeUnsigned("StartInTray", 7);
    ASSERT_TRUE(config.load());
    EXPECT_TRUE(config.startInTray);
    config.save();
    EXPECT_EQ(programKey().readUnsigned("StartInTray"), 1u);
}

TEST_F(ConfigTest, TheRunEntryIsSetClearedAndQueried) {
    SntConfig config;
    EXPECT_FALSE(config.isAutostartEnabled());
    config.enableAutostart();
    EXPECT_TRUE(config.isAutostartEnabled());
    EXPECT_THAT(runKey().readString(SntConfig::kRunValue).str(), ::testing::EndsWith("config_tests.exe --tray_run"));
    config.disableAutostart();
    EXPECT_FALSE(config.isAutostartEnabled());

    runKey().writeString(SntConfig::kRunValue, "C:\\other\\program.exe");
    EXPECT_TRUE(config.isAutostartEnabled());  // the command is not compared
}

TEST_F(ConfigTest, DisablingWithoutAnEntryOnlyLogsAWarning) {
    testsupport::EventsFile events;
    SntConfig config;
    config.disableAutostart();
    EXPECT_FALSE(config.isAutostartEnabled());
    EXPECT_FALSE(fw::takeExceptionReported());
    std::string text = events.added();
    EXPECT_THAT(text, HasSubstr("WARN       #CaughtKitException"));
    EXPECT_THAT(text, HasSubstr("RegDeleteValue failed"));
}

TEST(AutostartCommand, QuotesAPathWithABlank) {
    EXPECT_EQ(autostartCommand("C:\\Sonotape\\sonotape.exe"), "C:\\Sonotape\\sonotape.exe --tray_run");
    EXPECT_EQ(autostartCommand("C:\\Program Files\\Sonotape\\sonotape.exe"),
              "\"C:\\Program Files\\Sonotape\\sonotape.exe\" --tray_run");
}

}  // namespace
