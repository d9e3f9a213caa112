#include <gmock/gmock.h>

#include <windows.h>

#include "win.dialogs/file_save_logic.h"

namespace {

using namespace filesave;

TEST(FormatNumbers, ButtonsAndEngineCodesMapBothWays) {
    EXPECT_EQ(indexFromCode(3), 1);  // WAV
    EXPECT_EQ(indexFromCode(1), 2);  // MP3 128
    EXPECT_EQ(indexFromCode(2), 3);  // MP3 96
    EXPECT_EQ(indexFromCode(4), 4);  // MP3 at a chosen bit rate
    EXPECT_EQ(indexFromCode(5), 5);  // FLAC
    EXPECT_EQ(indexFromCode(0), 1);  // no format stored yet: WAV
    EXPECT_FALSE(isValidIndex(indexFromCode(6)));
    EXPECT_FALSE(isValidIndex(indexFromCode(7)));
    EXPECT_FALSE(isValidIndex(indexFromCode(-1)));
    for (int index = 1; index <= 5; ++index) EXPECT_EQ(indexFromCode(codeFromIndex(index)), index);
    EXPECT_EQ(codeFromIndex(1), 3);
    EXPECT_EQ(codeFromIndex(2), 1);
    EXPECT_EQ(codeFromIndex(3), 2);
    EXPECT_EQ(codeFromIndex(4), 4);
    EXPECT_EQ(codeFromIndex(5), 5);
}

// The format buttons say what will be recorded.
struct LabelCase {
    int index;
    uint32_t rate;
    uint32_t mp3Rate;
    const char* label;
};

class FormatLabels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(FormatLabels, SayTheRateRecorded) {
    EXPECT_EQ(formatLabel(GetParam().index, GetParam().rate, GetParam().mp3Rate), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(FileSave, FormatLabels,
                         ::testing::Values(LabelCase{1, 48000, 0, "Wav uncompressed (16 bit, 48 kHz)"},
                                           LabelCase{1, 44100, 0, "Wav uncompressed (16 bit, 44.1 kHz)"},
                                           LabelCase{5, 96000, 48000, "FLAC lossless (16 bit, 96 kHz)"},
                                           LabelCase{5, 0, 0, "FLAC lossless (16 bit)"},
                                           LabelCase{2, 48000, 0, "High-quality MP3 (128Kbps)"},
                                           LabelCase{3, 96000, 48000, "Medium-quality MP3 (96Kbps, 48 kHz)"},
                                           LabelCase{2, 176400, 44100, "High-quality MP3 (128Kbps, 44.1 kHz)"},
                                           LabelCase{4, 96000, 48000, ""},
                                           LabelCase{1, 22050, 0, "Wav uncompressed (16 bit, 22.05 kHz)"}));

struct NameCase {
    const char* name;
    int index;
    const char* result;
};

class Extensions : public ::testing::TestWithParam<NameCase> {};

TEST_P(Extensions, AreAddedOrReplacedFromTheLastDot) {
    EXPECT_EQ(withExtension(GetParam().name, GetParam().index), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(FileSave, Extensions,
                         ::testing::Values(NameCase{"take1", 2, "take1.mp3"}, NameCase{"take1", 1, "take1.wav"},
                                           NameCase{"take1.mp3", 1, "take1.wav"}, NameCase{"take1.wav", 4, "take1.mp3"},
                                           NameCase{"live.at.home.wav", 3, "live.at.home.mp3"}, NameCase{"", 1, ""},
                                           NameCase{"SNT_07_03_26__09-05-03", 2, "SNT_07_03_26__09-05-03.mp3"},
                                           NameCase{"notes.txt", 1, "notes.wav"}, NameCase{"take1", 5, "take1.flac"},
                                           NameCase{"take1.wav", 5, "take1.flac"},
                                           NameCase{"take1.flac", 2, "take1.mp3"}));

struct PathCase {
    const char* path;
    const char* folder;
    const char* name;
};

class Paths : public ::testing::TestWithParam<PathCase> {};

TEST_P(Paths, SplitAtTheLastBackslash) {
    PathParts parts = splitPath(GetParam().path);
    EXPECT_EQ(parts.folder, GetParam().folder);
    EXPECT_EQ(parts.name, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(FileSave, Paths,
                         ::testing::Values(PathCase{"D:\\rec\\take1", "D:\\rec\\", "take1"},
                                           PathCase{"D:\\rec\\", "D:\\rec\\", ""}, PathCase{"take1", "take1", ""},
                                           PathCase{"C:\\a.b\\c.mp3", "C:\\a.b\\", "c.mp3"}, PathCase{"", "", ""},
                                           PathCase{"C:/rec/take1", "C:/rec/", "take1"}));

struct TypedCase {
    const char* typed;
    const char* path;
};

class TypedPaths : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedPaths, AreAbsoluteWithBackslashes) {
    EXPECT_EQ(resolvePath(GetParam().typed, "D:\\music\\"), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(FileSave, TypedPaths,
                         ::testing::Values(TypedCase{"rel.wav", "D:\\music\\rel.wav"},
                                           TypedCase{"sub\\take", "D:\\music\\sub\\take"},
                                           TypedCase{"\\take.mp3", "D:\\music\\take.mp3"},
                                           TypedCase{"C:/rec/take.wav", "C:\\rec\\take.wav"},
                                           TypedCase{"E:\\take.wav", "E:\\take.wav"},
                                           TypedCase{"\\\\server\\share\\t.mp3", "\\\\server\\share\\t.mp3"},
                                           TypedCase{"//server/share/t.mp3", "\\\\server\\share\\t.mp3"},
                                           TypedCase{"", ""}, TypedCase{"C:take.wav", "D:\\music\\C:take.wav"}));

TEST(DeviceNames, AreReservedWhateverTheirCaseExtensionOrTrailingBlanks) {
    for (const char* name : {"CON", "con", "PRN", "aux", "NUL", "nul.wav", "Nul.tar.mp3", "COM1", "com9.mp3", "LPT1",
                             "lpt9", "nul ", "aux .wav"})
        EXPECT_TRUE(isReservedDeviceName(name)) << name;
    for (const char* name : {"null", "console.wav", "COM0", "COM10", "LPT", "lpt0.mp3", "xnul.wav", "take", ""})
        EXPECT_FALSE(isReservedDeviceName(name)) << name;
    EXPECT_EQ(reservedComponent("C:\\rec\\nul.wav"), "nul.wav");
    EXPECT_EQ(reservedComponent("C:\\CON\\take.wav"), "CON");
    EXPECT_EQ(reservedComponent("C:/rec/com3"), "com3");
    EXPECT_EQ(reservedComponent("C:\\rec\\take.wav"), std::nullopt);
}

TEST(ByteCounts, AreWrittenAsPeopleReadThem) {
    EXPECT_EQ(formatBytes(0), "0 bytes");
    EXPECT_EQ(formatBytes(1023), "1023 bytes");
    EXPECT_EQ(formatBytes(900 * 1024), "900 KB");
    EXPECT_EQ(formatBytes(3 * 1024 * 1024), "3.0 MB");
    EXPECT_EQ(formatBytes(3040870), "2.9 MB");
    EXPECT_EQ(formatBytes(10485760), "10.0 MB");
    EXPECT_EQ(formatBytes(4509715660ull), "4.2 GB");
}

TEST(CodePage, TheCharactersTheWesternCodePageCannotHoldAreFoundEachOnce) {
    EXPECT_EQ(charactersOutsideCodePage(L"take \u00e9t\u00e9 1.wav", 1252), L"");  // "été": in the code page
    EXPECT_EQ(charactersOutsideCodePage(L"\u0417\u0430\u0437\u0430.wav", 1252), L"\u0417\u0430\u0437");
    EXPECT_EQ(charactersOutsideCodePage(L"a\u9332\u97f3\U0001F3B5", 1252), L"\u9332\u97f3\U0001F3B5");
    EXPECT_EQ(charactersOutsideCodePage(L"\u0142\u00f3d\u017a.wav", 1252), L"\u0142\u017a");  // "ó" is in it
}

TEST(CodePage, Utf8HoldsEveryCharacter) {
    EXPECT_EQ(
        charactersOutsideCodePage(L"\u0417\u0430\u0437\u0430 \u65e5\u672c\u8a9e \u0142\u00f3d\u017a \U0001F3B5", 65001),
        L"");
}

TEST(TimeFields, HoursAreTakenModulo100AndMinutesModulo60) {
    EXPECT_EQ(hoursFrom("123"), 23);
    EXPECT_EQ(hoursFrom("0"), 0);
    EXPECT_EQ(hoursFrom("99"), 99);
    EXPECT_EQ(minutesFrom("75"), 15);
    EXPECT_EQ(minutesFrom("59"), 59);
    EXPECT_EQ(minutesFrom(""), 0);
    EXPECT_EQ(readNumber("abc"), 0);
    EXPECT_EQ(readNumber("12a"), 12);
    EXPECT_EQ(readNumber("9999999"), 9999999);
}

TEST(Browse, TheChosenFilterDecidesBetweenWavAndMp3) {
    EXPECT_EQ(filterFor(1), kWavFilter);
    EXPECT_EQ(filterFor(2), kMp3Filter);
    EXPECT_EQ(filterFor(4), kMp3Filter);
    EXPECT_EQ(indexAfterBrowse(1, kMp3Filter), 2);  // WAV chosen, MP3 filter: MP3 128
    EXPECT_EQ(indexAfterBrowse(1, kWavFilter), 1);
    EXPECT_EQ(indexAfterBrowse(3, kWavFilter), 1);  // an MP3 format, WAV filter: WAV
    EXPECT_EQ(indexAfterBrowse(3, kMp3Filter), 3);
    EXPECT_EQ(indexAfterBrowse(4, kMp3Filter), 4);
    EXPECT_EQ(filterFor(5), kFlacFilter);
    EXPECT_EQ(indexAfterBrowse(1, kFlacFilter), 5);  // WAV chosen, FLAC filter: FLAC
    EXPECT_EQ(indexAfterBrowse(3, kFlacFilter), 5);
    EXPECT_EQ(indexAfterBrowse(5, kMp3Filter), 2);  // FLAC chosen, MP3 filter: MP3 128
    EXPECT_EQ(indexAfterBrowse(5, kWavFilter), 1);
    EXPECT_EQ(indexAfterBrowse(5, kFlacFilter), 5);
    EXPECT_EQ(indexAfterBrowse(3, 0), 1);  // no filter of ours: WAV
}

}  // namespace
