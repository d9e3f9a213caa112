#include <gmock/gmock.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/output_messages.h"

namespace {

using kit::OutputFault;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct FitCase {
    const char* path;
    std::size_t width, maxLines;
    const char* fitted;
};
class FitPath : public ::testing::TestWithParam<FitCase> {};
TEST_P(FitPath, BreaksAfterBackslashesAndLeavesOutTheMiddle) {
    EXPECT_EQ(engine::fitPath(GetParam().path, GetParam().width, GetParam().maxLines), GetParam().fitted);
}
INSTANTIATE_TEST_SUITE_P(Table, FitPath,
                         ::testing::Values(FitCase{"C:\\rec\\take.wav", 60, 4, "C:\\rec\\take.wav"},
                                           FitCase{"C:\\music\\live\\take.wav", 12, 4, "C:\\music\\\nlive\\\ntake.wav"},
                                           FitCase{"C:\\abcdefghijklmnop.wav", 8, 4, "C:\\\nabcdefgh\nijklmnop\n.wav"},
                                           FitCase{"C:\\a\\b\\c\\d\\e\\f.wav", 6, 3, "C:\\a\\\n...\nf.wav"},
                                           FitCase{"", 60, 4, ""}));

TEST(FitPath, AnyPathFitsTheLinesAndKeepsItsName) {
    std::string deep = "D:\\";
    for (int i = 0; i < 40; ++i) deep += "folder number " + std::to_string(i) + "\\";
    deep += std::string(150, 'n') + ".wav";
    std::string fitted = engine::fitPath(deep);
    std::vector<std::string> lines = linesOf(fitted);
    EXPECT_LE(lines.size(), 4u);
    for (const std::string& line : lines) EXPECT_LE(line.size(), 44u) << line;
    EXPECT_EQ(lines.front(), "D:\\folder number 0\\folder number 1\\");
    EXPECT_THAT(fitted, HasSubstr("nnnn.wav"));
}

struct ReasonCase {
    OutputFault fault;
    uint32_t code;
    const char* says;
};
class OutputFailed : public ::testing::TestWithParam<ReasonCase> {};
TEST_P(OutputFailed, SaysTheReasonAndNamesTheLibraryOnlyForItsOwnFaults) {
    std::string text = engine::outputFailedText("D:\\rec\\take.wav", GetParam().fault, GetParam().code);
    EXPECT_THAT(text, HasSubstr("\nD:\\rec\\take.wav\n"));
    EXPECT_THAT(text, HasSubstr(GetParam().says));
    EXPECT_THAT(text, HasSubstr("The recording is stopped; nothing has been saved."));
    bool library =
        GetParam().fault == OutputFault::mp3LibraryMissing || GetParam().fault == OutputFault::mp3LibraryUnusable;
    EXPECT_EQ(text.find("lame_enc.dll") != std::string::npos, library) << text;
}
INSTANTIATE_TEST_SUITE_P(
    Table, OutputFailed,
    ::testing::Values(ReasonCase{OutputFault::folderMissing, 3, "The folder does not exist."},
                      ReasonCase{OutputFault::accessDenied, 5, "Access is denied"},
                      ReasonCase{OutputFault::invalidName, 123, "The name is not valid for a file."},
                      ReasonCase{OutputFault::pathTooLong, 206, "The path is too long."},
                      ReasonCase{OutputFault::diskFull, 112, "The disk is full."},
                      ReasonCase{OutputFault::mp3LibraryMissing, 126, "lame_enc.dll was not found"},
                      ReasonCase{OutputFault::mp3LibraryUnusable, 193, "lame_enc.dll cannot be used"},
                      ReasonCase{OutputFault::other, 1117, "Windows error 1117"},
                      ReasonCase{OutputFault::none, 0, "The file cannot be created."}));

TEST(OutputFailed, AnEmptyPathIsNamedAsSuchNotLeftAsAnEmptyLine) {
    std::string text = engine::outputFailedText("", OutputFault::invalidName, 123);
    EXPECT_THAT(text, HasSubstr("No file name was given."));
    EXPECT_THAT(text, Not(HasSubstr("\n\n\n")));
    EXPECT_NE(text.front(), '\n');
}

struct FaultCase {
    uint32_t code;
    OutputFault fault;
};
class Faults : public ::testing::TestWithParam<FaultCase> {};
TEST_P(Faults, FollowThePlatformsErrorCode) { EXPECT_EQ(kit::outputFault(GetParam().code), GetParam().fault); }
INSTANTIATE_TEST_SUITE_P(
    Table, Faults,
    ::testing::Values(FaultCase{3, OutputFault::folderMissing}, FaultCase{5, OutputFault::accessDenied},
                      FaultCase{32, OutputFault::accessDenied}, FaultCase{123, OutputFault::invalidName},
                      FaultCase{206, OutputFault::pathTooLong}, FaultCase{112, OutputFault::diskFull},
                      FaultCase{39, OutputFault::diskFull}, FaultCase{126, OutputFault::mp3LibraryMissing},
                      FaultCase{193, OutputFault::mp3LibraryUnusable}, FaultCase{0, OutputFault::none},
                      FaultCase{1117, OutputFault::other}));

}  // namespace
