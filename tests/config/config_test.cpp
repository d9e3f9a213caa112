// The settings against Wine's real registry.
#include <gmock/gmock.h>
#include <windows.h>

#include <string>

#include "config/settings.h"
#include "diagnostics/eventlog.h"
#include "kit/exceptions.h"
#include "kit/regkey.h"
#include "kit/text_code.h"
#include "support/support.h"

namespace {

using ::testing::HasSubstr;

kit::RegKey programKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true); }
kit::RegKey runKey() { return kit::RegKey(HKEY_CURRENT_USER, Settings::kRunKeyPath, true); }

void removeRunValue() { ::RegDeleteKeyValueA(HKEY_CURRENT_USER, Settings::kRunKeyPath, Settings::kRunValue); }

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, Settings::kKeyPath);
        removeRunValue();
    }
    void TearDown() override { removeRunValue(); }
};

constexpr const char* kNumbers[] = {"Line",        "LastFormat",      "Remind30min", "lastBitrate", "RemindOutOfSpace",
                                    "StartInTray", "needCalibration", "Xpos",        "Ypos",        "startUpDialog",
                                    "VolumeLevel"};

TEST_F(ConfigTest, TheFirstRunWritesAllThirteenDefaults) {
    Settings config;
    EXPECT_FALSE(config.load());
    kit::RegKey key = programKey();
    for (const char* name : kNumbers) EXPECT_NO_THROW(key.readUnsigned(name)) << name;
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
    EXPECT_EQ(key.readString("StorageDir"), defaultStorageFolder());
    EXPECT_EQ(key.readUnsigned("VolumeLevel"), 32767u);
    EXPECT_EQ(key.readUnsigned("needCalibration"), 1u);
    EXPECT_EQ(key.readUnsigned("startUpDialog"), 1u);
    EXPECT_EQ(key.readUnsigned("lastBitrate"), 128u);
    EXPECT_EQ(key.readUnsigned("LastFormat"), 3u) << "WAV";
    EXPECT_EQ(key.readUnsigned("Xpos"), 10u);
    EXPECT_EQ(key.readUnsigned("Ypos"), 10u);
    EXPECT_EQ(key.readUnsigned("Line"), 0u);
    EXPECT_EQ(key.readUnsigned("Remind30min"), 0u);
    EXPECT_EQ(key.readUnsigned("CaptureSource"), 0u) << "the recording line";
    EXPECT_EQ(key.readUnsigned("LastBits"), 16u);

    Settings again;
    EXPECT_TRUE(again.load());
}

TEST_F(ConfigTest, APartialKeyKeepsWhatIsStoredAndGivesEveryMissingValueItsDefault) {
    {
        kit::RegKey key = programKey();
        key.writeUnsigned("Line", 3);
        key.writeString("StorageDir", "D:\\rec");
    }
    testsupport::EventsFile events;
    Settings config;
    config.lastBitrate = 64;  // missing: its default, not what the member held
    EXPECT_TRUE(config.load());
    EXPECT_EQ(config.line, 3);
    EXPECT_EQ(config.storageDir, "D:\\rec");
    EXPECT_EQ(config.lastFormat, 3);
    EXPECT_EQ(config.lastBitrate, 128);
    EXPECT_TRUE(config.needCalibration);
    kit::RegKey key = programKey();
    EXPECT_EQ(key.readUnsigned("Line"), 3u);
    EXPECT_EQ(key.readString("StorageDir"), "D:\\rec");
    EXPECT_EQ(key.readUnsigned("lastBitrate"), 128u);
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
    std::string text = events.added();
    EXPECT_THAT(text, HasSubstr("WARN       #SettingMissing"));
    EXPECT_THAT(text, HasSubstr("\"lastBitrate\" is missing; its default 128 is used"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("ERR        #")));
}

// A configuration after a calibration, stored by the program itself.
void storeCalibratedSettings() {
    Settings config;
    config.load();
    config.needCalibration = false;
    config.line = 5;
    config.volumeLevel = 16383;
    config.volumeCoeff = 1.5;
    config.xPos = 300;
    config.yPos = 200;
    config.lastFormat = 1;
    config.save();
}

TEST_F(ConfigTest, OneValueOfTheWrongTypeTakesItsOwnDefaultAlone) {
    storeCalibratedSettings();
    const unsigned char blob[] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(::RegSetValueExA(programKey().handle(), "Ypos", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    testsupport::EventsFile events;
    Settings config;
    EXPECT_TRUE(config.load());
    EXPECT_EQ(config.yPos, 10);
    EXPECT_EQ(config.xPos, 300);
    EXPECT_EQ(config.volumeLevel, 16383);
    EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.5);
    EXPECT_EQ(config.line, 5);
    EXPECT_EQ(config.lastFormat, 1);
    EXPECT_FALSE(config.needCalibration) << "no calibration value was lost";
    kit::RegKey key = programKey();
    EXPECT_EQ(key.readUnsigned("Ypos"), 10u);
    EXPECT_EQ(key.readString("VolumeCoeff"), "1.500000");
    EXPECT_EQ(key.readUnsigned("VolumeLevel"), 16383u);
    EXPECT_EQ(key.readUnsigned("needCalibration"), 0u);
    std::string text = events.added();
    EXPECT_THAT(text, HasSubstr("WARN       #SettingUnusable"));
    EXPECT_THAT(text, HasSubstr("\"Ypos\" holds binary data, which cannot be used; its default 10 is used"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("CalibrationLost")));
}

TEST_F(ConfigTest, ALostCalibrationValueAsksForCalibrationAgain) {
    for (const char* name : {"VolumeLevel", "Line"}) {
        storeCalibratedSettings();
        ASSERT_EQ(::RegSetValueExA(programKey().handle(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>("xy"), 2),
                  ERROR_SUCCESS);
        testsupport::EventsFile events;
        Settings config;
        EXPECT_TRUE(config.load());
        EXPECT_TRUE(config.needCalibration) << name;
        EXPECT_EQ(programKey().readUnsigned("needCalibration"), 1u) << name;
        EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.5) << name;
        EXPECT_EQ(config.xPos, 300) << name;
        EXPECT_THAT(events.added(), HasSubstr("WARN       #CalibrationLost")) << name;
    }
}

// Values that point nowhere or mean nothing: each one alone takes its default.
struct StoredCase {
    const char* name;
    const char* text;  // a number for LastFormat and LastBits, else the stored text
    bool taken;
};

void PrintTo(const StoredCase& c, std::ostream* out) { *out << c.name << " = \"" << c.text << "\""; }

class StoredValues : public ConfigTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredValues, AreTakenOnlyWhenUsable) {
    storeCalibratedSettings();
    const StoredCase& c = GetParam();
    Settings defaults;
    std::string name = c.name;
    if (name == "LastFormat" || name == "LastBits")
        programKey().writeUnsigned(c.name, static_cast<uint32_t>(std::stol(c.text)));
    else
        programKey().writeString(c.name, c.text);
    testsupport::EventsFile events;
    Settings config;
    EXPECT_TRUE(config.load());
    std::string text = events.added();
    kit::RegKey key = programKey();
    if (c.taken) {
        EXPECT_THAT(text, ::testing::Not(HasSubstr("#Setting")));
        return;
    }
    EXPECT_THAT(text, HasSubstr("\"" + name + "\" holds ")) << text;
    EXPECT_THAT(text, HasSubstr(c.text));
    if (name == "VolumeCoeff") {
        EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.0);
        EXPECT_EQ(key.readString("VolumeCoeff"), "1.000000");
        EXPECT_TRUE(config.needCalibration) << "the calibration is asked for again";
        EXPECT_EQ(config.volumeLevel, 16383) << "the other calibration values stay";
    } else if (name == "StorageDir") {
        EXPECT_EQ(config.storageDir, defaultStorageFolder());
        EXPECT_EQ(key.readString("StorageDir"), defaultStorageFolder());
        EXPECT_FALSE(config.needCalibration);
    } else if (name == "LastBits") {
        EXPECT_EQ(config.lastBits, 16);
        EXPECT_EQ(key.readUnsigned("LastBits"), 16u);
    } else {
        EXPECT_EQ(config.lastFormat, defaults.lastFormat);
        EXPECT_EQ(key.readUnsigned("LastFormat"), static_cast<uint32_t>(defaults.lastFormat));
    }
    if (name != "VolumeCoeff") {
        EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.5);
    }
    EXPECT_EQ(config.xPos, 300);
}

const std::string kLongFolder = "C:\\" + std::string(296, 'x');
// 203 characters but 603 bytes of UTF-8: the room for a file name counts characters.
std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}
const std::string kLongCjkFolder = "C:\\" + repeated("\u65e5", 200);

INSTANTIATE_TEST_SUITE_P(
    Table, StoredValues,
    ::testing::Values(
        StoredCase{"VolumeCoeff", "nan", false}, StoredCase{"VolumeCoeff", "inf", false},
        StoredCase{"VolumeCoeff", "-1", false}, StoredCase{"VolumeCoeff", "0", false},
        StoredCase{"VolumeCoeff", "1e300", false}, StoredCase{"VolumeCoeff", "100.5", false},
        StoredCase{"VolumeCoeff", "abc", false}, StoredCase{"VolumeCoeff", "1.5 dB", false},
        StoredCase{"VolumeCoeff", "", false}, StoredCase{"VolumeCoeff", "100", true},
        StoredCase{"VolumeCoeff", " 0.001 ", true}, StoredCase{"LastFormat", "7", false},
        StoredCase{"LastFormat", "-1", false}, StoredCase{"LastFormat", "0", true}, StoredCase{"LastFormat", "4", true},
        StoredCase{"LastFormat", "5", true}, StoredCase{"LastFormat", "6", false}, StoredCase{"LastBits", "24", true},
        StoredCase{"LastBits", "16", true}, StoredCase{"LastBits", "20", false}, StoredCase{"LastBits", "32", false},
        StoredCase{"LastBits", "8", false}, StoredCase{"LastBits", "0", false},
        StoredCase{"StorageDir", "rel.wav", false}, StoredCase{"StorageDir", "", false},
        StoredCase{"StorageDir", kLongFolder.c_str(), false}, StoredCase{"StorageDir", "D:\\gone\\", true},
        StoredCase{"StorageDir", kLongCjkFolder.c_str(), true}, StoredCase{"StorageDir", "\\\\server\\share", true}));

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
    Settings config;
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

// The registry holds its text as UTF-16 whatever code page wrote it: a folder
// an earlier version stored from the Western code page (1252) reads as the
// same name in this program's UTF-8, and a name in another script is kept.
TEST_F(ConfigTest, AFolderStoredByAnEarlierVersionReadsAsTheSameName) {
    for (const wchar_t* stored : {L"D:\\\u00e9t\u00e9", L"D:\\\u0417\u0430\u043f\u0438\u0441\u0438 \U0001F3B5"}) {
        Settings{}.save();
        std::wstring text = stored;
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kit::widen(Settings::kKeyPath).c_str(), L"StorageDir", REG_SZ,
                                    text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        Settings config;
        EXPECT_TRUE(config.load());
        EXPECT_EQ(kit::widen(config.storageDir.c_str(), CP_UTF8), text);
    }
}

// "?" stood for each character an earlier version's code page could not hold:
// such a folder is taken as not stored, and the Music folder is offered.
TEST_F(ConfigTest, AFolderWithQuestionMarksCountsAsMissing) {
    Settings{}.save();
    programKey().writeString("StorageDir", "C:\\users\\?????\\Music");
    testsupport::EventsFile events;
    Settings config;
    EXPECT_TRUE(config.load());
    EXPECT_EQ(config.storageDir, defaultStorageFolder());
    EXPECT_EQ(programKey().readString("StorageDir"), defaultStorageFolder());
    EXPECT_THAT(events.added(), HasSubstr("\"StorageDir\" is missing"));
}

TEST_F(ConfigTest, TheCoefficientIsStoredAsText) {
    Settings config;
    config.load();
    programKey().writeString("VolumeCoeff", "0.75");
    ASSERT_TRUE(config.load());
    EXPECT_DOUBLE_EQ(config.volumeCoeff, 0.75);
    config.save();
    EXPECT_EQ(programKey().readString("VolumeCoeff"), "0.750000");
}

TEST_F(ConfigTest, TheCaptureSourceIsStoredBesideTheOtherValues) {
    Settings config;
    config.load();
    config.captureSource = Settings::kSourceLoopback;
    config.save();
    EXPECT_EQ(programKey().readUnsigned("CaptureSource"), 1u);
    Settings again;
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.captureSource, Settings::kSourceLoopback);

    testsupport::EventsFile events;
    programKey().writeUnsigned("CaptureSource", 7);  // no such source: the recording line
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.captureSource, Settings::kSourceRecordingLine);
    EXPECT_THAT(events.added(), HasSubstr("\"CaptureSource\" holds 7, which cannot be used; its default 0 is used"));
}

// The key of a program from before the loopback capture: it records from the
// line as it did, with its calibration; the value is written for the next start.
TEST_F(ConfigTest, AKeyWrittenBeforeTheCaptureSourceExistedRecordsFromTheLineAsBefore) {
    storeCalibratedSettings();
    programKey().deleteValue("CaptureSource");
    testsupport::EventsFile events;
    Settings config;
    config.captureSource = Settings::kSourceLoopback;
    EXPECT_TRUE(config.load());
    EXPECT_EQ(config.captureSource, Settings::kSourceRecordingLine);
    EXPECT_FALSE(config.needCalibration) << "the stored calibration stays";
    EXPECT_EQ(config.line, 5);
    EXPECT_DOUBLE_EQ(config.volumeCoeff, 1.5);
    EXPECT_EQ(programKey().readUnsigned("CaptureSource"), 0u);
    EXPECT_THAT(events.added(), ::testing::Not(HasSubstr("CalibrationLost")));
}

// The silence rules are off on a first run; a length or threshold outside its
// range, or of the wrong type, takes its default alone.
TEST_F(ConfigTest, SilenceValuesAreOffByDefaultAndUnusableOnesTakeTheirDefaults) {
    Settings config;
    config.load();
    EXPECT_FALSE(config.silenceStart);
    EXPECT_FALSE(config.silenceStop);
    EXPECT_FALSE(config.silenceSplit);
    EXPECT_EQ(config.silenceStopMinutes, 5);
    EXPECT_EQ(config.silenceSplitSeconds, 2);
    EXPECT_EQ(config.silenceThresholdDbfs, -50);
    struct Case {
        const char* name;
        uint32_t stored;
        int32_t Settings::*member;
        int32_t read;
    } cases[] = {
        {"SilenceStopMinutes", 0, &Settings::silenceStopMinutes, 5},
        {"SilenceStopMinutes", 30, &Settings::silenceStopMinutes, 30},
        {"SilenceStopMinutes", 1441, &Settings::silenceStopMinutes, 5},
        {"SilenceSplitSeconds", 0, &Settings::silenceSplitSeconds, 2},
        {"SilenceSplitSeconds", 3600, &Settings::silenceSplitSeconds, 3600},
        {"SilenceSplitSeconds", 0xFFFFFFFFu, &Settings::silenceSplitSeconds, 2},
        {"SilenceThresholdDbfs", static_cast<uint32_t>(-40), &Settings::silenceThresholdDbfs, -40},
        {"SilenceThresholdDbfs", 0, &Settings::silenceThresholdDbfs, -50},
        {"SilenceThresholdDbfs", 50, &Settings::silenceThresholdDbfs, -50},
        {"SilenceThresholdDbfs", static_cast<uint32_t>(-97), &Settings::silenceThresholdDbfs, -50},
    };
    for (const Case& c : cases) {
        config.save();
        programKey().writeUnsigned(c.name, c.stored);
        Settings again;
        ASSERT_TRUE(again.load());
        EXPECT_EQ(again.*c.member, c.read) << c.name << " = " << c.stored;
        for (int32_t Settings::*other :
             {&Settings::silenceStopMinutes, &Settings::silenceSplitSeconds, &Settings::silenceThresholdDbfs})
            if (other != c.member) {
                EXPECT_EQ(again.*other, config.*other) << c.name << ": the others stay";
            }
        EXPECT_EQ(programKey().readUnsigned(c.name), static_cast<uint32_t>(c.read)) << "written back";
    }
    programKey().writeString("SilenceSplitSeconds", "ten");
    Settings wrongType;
    ASSERT_TRUE(wrongType.load());
    EXPECT_EQ(wrongType.silenceSplitSeconds, 2);
}

TEST_F(ConfigTest, AnyNonZeroNumberIsTrueAndIsSavedAsOne) {
    Settings config;
    config.load();
    programKey().writeUnsigned("StartInTray", 7);
    ASSERT_TRUE(config.load());
    EXPECT_TRUE(config.startInTray);
    config.save();
    EXPECT_EQ(programKey().readUnsigned("StartInTray"), 1u);
}

TEST_F(ConfigTest, TheRunEntryIsSetClearedAndQueried) {
    Settings config;
    EXPECT_FALSE(config.isAutostartEnabled());
    config.enableAutostart();
    EXPECT_TRUE(config.isAutostartEnabled());
    EXPECT_THAT(runKey().readString(Settings::kRunValue).str(), ::testing::EndsWith("config_tests.exe --tray_run"));
    config.disableAutostart();
    EXPECT_FALSE(config.isAutostartEnabled());

    runKey().writeString(Settings::kRunValue, "C:\\other\\program.exe");
    EXPECT_TRUE(config.isAutostartEnabled());  // the command is not compared
}

TEST_F(ConfigTest, DisablingWithoutAnEntryIsNoFailure) {
    testsupport::EventsFile events;
    Settings config;
    config.disableAutostart();
    EXPECT_FALSE(config.isAutostartEnabled());
    EXPECT_THAT(events.added(), ::testing::Not(HasSubstr("WARN")));
}

TEST(AutostartCommand, QuotesAPathWithABlank) {
    EXPECT_EQ(autostartCommand("C:\\Sonotape\\sonotape.exe"), "C:\\Sonotape\\sonotape.exe --tray_run");
    EXPECT_EQ(autostartCommand("C:\\Program Files\\Sonotape\\sonotape.exe"),
              "\"C:\\Program Files\\Sonotape\\sonotape.exe\" --tray_run");
}

}  // namespace
