#include <gmock/gmock.h>

#include <string>

#include "kit/text_code.h"
#include "support/support.h"
#include "win.log/log_place.h"
#include "win.log/win_log.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using testsupport::readFile;
using testsupport::writeFile;

std::string numberedLines(int from, int to, const char* end = "\r\n") {
    std::string text;
    for (int i = from; i <= to; ++i) text += "Recorded: C:\\take" + std::to_string(i) + ".wav 00:00:07" + end;
    return text;
}

// The log's content after its UTF-8 mark.
std::string marked(const std::string& text) { return std::string(kit::kUtf8Mark) + text; }

int32_t linesIn(const std::string& text) { return kit::countLogLines(text.data(), text.size()); }

struct CountCase {
    const char* text;
    std::size_t size;
    int32_t lines;
};

class LineCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(LineCount, CountsLineStartsThatHaveABtye) {
    EXPECT_EQ(kit::countLogLines(GetParam().text, GetParam().size), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Log, LineCount,
                         ::testing::Values(CountCase{"", 0, 0}, CountCase{"a", 1, 1}, CountCase{"a\r\n", 3, 1},
                                           CountCase{"a\r\nb", 4, 2},    // last line without line end
                                           CountCase{"a\n\nb\n", 5, 3},  // an empty line counts
                                           CountCase{"\n", 1, 1}, CountCase{"a\0b", 3, 2},  // a zero byte ends a line
                                           CountCase{"a\r\n\r\n", 5, 2}));

TEST(AppLog, ANewFileStartsEmptyAndTheFirstAddWritesOneLine) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_TRUE(log->isReady());
    EXPECT_EQ(log->lineCount(), 0);
    EXPECT_TRUE(testsupport::fileExists(path));
    log->add("Recorded: %s %s", "D:\\rec\\take1.mp3", "00:00:07");
    EXPECT_EQ(log->lineCount(), 1);
    EXPECT_EQ(readFile(path), marked("Recorded: D:\\rec\\take1.mp3 00:00:07\r\n"));
}

TEST(AppLog, AFileOver1000LinesIsCutToItsLast1000AtOpen) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, numberedLines(1, 1005));
    testsupport::EventsFile events;
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_EQ(log->lineCount(), 1000);
    EXPECT_EQ(readFile(path), marked(numberedLines(6, 1005)));
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("Lines in file: 1005"));
    EXPECT_THAT(added, HasSubstr("Prune 5 lines..."));
    EXPECT_THAT(added, HasSubstr("WinLog init:Ok."));
}

TEST(AppLog, At1000LinesEveryAddRemovesTheOldestLine) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, numberedLines(1, 1000));
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_EQ(log->lineCount(), 1000);
    for (int i = 1001; i <= 1004; ++i) {
        log->add("Recorded: C:\\take%d.wav 00:00:07", i);
        std::string content = readFile(path);
        EXPECT_EQ(linesIn(content), 1000);
        EXPECT_EQ(log->lineCount(), 1000);
        EXPECT_EQ(content, marked(numberedLines(i - 999, i)));
    }
}

TEST(AppLog, ALastLineWithoutLineEndCountsAndStaysItsOwnLine) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, "first\r\nsecond");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_EQ(log->lineCount(), 2);
    log->add("third");
    EXPECT_EQ(log->lineCount(), 3);
    EXPECT_EQ(readFile(path), marked("first\r\nsecond\r\nthird\r\n"));
}

TEST(AppLog, EmptyLinesCount) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, "a\n\n\nb\n");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 3));
    EXPECT_EQ(log->lineCount(), 3);
    EXPECT_EQ(readFile(path), marked("\n\nb\n"));  // four lines, the oldest cut
}

TEST(AppLog, AnEmptyMessageIsNotWritten) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, "kept\r\n");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    testsupport::EventsFile events;
    log->add("%s", "");
    EXPECT_EQ(readFile(path), marked("kept\r\n"));
    EXPECT_EQ(log->lineCount(), 1);
    EXPECT_THAT(events.added(), HasSubstr("Empty string has been try adding to log"));
}

TEST(AppLog, AFileThatCannotBeOpenedLeavesTheLogNotReady) {
    testsupport::TempDir dir;
    std::string path = dir.file("missing folder\\log.txt");
    testsupport::EventsFile events;
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_FALSE(log->isReady());
    log->add("Recorded: %s", "x");
    EXPECT_FALSE(testsupport::fileExists(path));
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("WinLog init:Err."));
    EXPECT_THAT(added, HasSubstr("Log file not ready!"));
}

TEST(AppLog, OpenSwitchesToAnotherFile) {
    testsupport::TempDir dir;
    std::string first = dir.file("one.txt"), second = dir.file("two.txt");
    writeFile(second, "x\r\ny\r\n");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(first.c_str(), 10));
    log->add("into one");
    EXPECT_TRUE(log->open(second.c_str()));
    EXPECT_EQ(log->lineCount(), 2);
    log->add("into two");
    EXPECT_EQ(readFile(first), marked("into one\r\n"));
    EXPECT_EQ(readFile(second), marked("x\r\ny\r\ninto two\r\n"));
}

TEST(AppLog, AnOverlongMessageIsCutAndStillEndsItsLine) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 10));
    std::string huge(20000, 'x');
    log->add("%s", huge.c_str());
    std::string content = readFile(path);
    EXPECT_EQ(content.size(), kit::kUtf8Mark.size() + kit::WinLog::kMessageBuffer - 1);
    EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
    EXPECT_EQ(linesIn(content), 1);
}

// This test program runs in the Western code page (1252), as the program did
// before it ran as UTF-8 and does on a system older than that code page.
TEST(AppLog, ALogOfAnEarlierVersionIsConvertedOnceAndNewLinesAreUtf8) {
    ASSERT_EQ(::GetACP(), 1252u) << "written for the Western code page";
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, "Recorded: C:\\\xE9t\xE9.wav 00:00:07\r\n");  // "été" as the code page wrote it
    {
        kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 10));
        EXPECT_EQ(log->lineCount(), 1);
        log->add("Recorded: %s 00:00:03", "C:\\caf\xE9.wav");
    }
    const std::string expected =
        marked("Recorded: C:\\\xC3\xA9t\xC3\xA9.wav 00:00:07\r\nRecorded: C:\\caf\xC3\xA9.wav 00:00:03\r\n");
    EXPECT_EQ(readFile(path), expected);
    kit::smartptr<kit::WinLog> again(new kit::WinLog(path.c_str(), 10));
    EXPECT_EQ(readFile(path), expected) << "converted once";
    EXPECT_EQ(again->lineCount(), 2);
}

TEST(AppLog, CuttingTheOldestLinesKeepsTheMark) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, marked(numberedLines(1, 12)));
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 10));
    EXPECT_EQ(readFile(path), marked(numberedLines(3, 12)));
    log->add("Recorded: C:\\take13.wav 00:00:07");
    EXPECT_EQ(readFile(path), marked(numberedLines(4, 13)));
}

// Pruning in place keeps exactly the newest lines, whatever the line lengths
// and wherever the cut falls relative to the 1024-byte copy blocks.
struct PruneCase {
    int lines;
    int keep;
    int lineLength;
};

class Pruning : public ::testing::TestWithParam<PruneCase> {};

TEST_P(Pruning, KeepsTheNewestLinesByteForByte) {
    const PruneCase& c = GetParam();
    std::string all;
    std::vector<std::string> lines;
    for (int i = 0; i < c.lines; ++i) {
        std::string line = std::to_string(i) + ":" +
                           std::string(static_cast<std::size_t>(c.lineLength + i % 7), 'a' + i % 26) + "\r\n";
        lines.push_back(line);
        all += line;
    }
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    writeFile(path, all);
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), c.keep));
    std::string expected;
    int first = c.lines > c.keep ? c.lines - c.keep : 0;
    for (int i = first; i < c.lines; ++i) expected += lines[static_cast<std::size_t>(i)];
    EXPECT_EQ(readFile(path), marked(expected));
    EXPECT_EQ(log->lineCount(), std::min(c.lines, c.keep));
}

INSTANTIATE_TEST_SUITE_P(Log, Pruning,
                         ::testing::Values(PruneCase{10, 10, 5}, PruneCase{11, 10, 5}, PruneCase{50, 3, 100},
                                           PruneCase{300, 7, 1021}, PruneCase{40, 39, 1024}, PruneCase{2000, 1000, 3},
                                           PruneCase{5, 0, 10}));

// ---- a log that cannot be written --------------------------------------------------------

TEST(AppLog, ALineThatCannotBeWrittenIsWarnedAboutOnceAndWrittenWhenTheFileCanBeAgain) {
    testsupport::TempDir dir;
    std::string path = dir.file("log.txt");
    ASSERT_TRUE(::CreateDirectoryA(path.c_str(), nullptr));  // a folder of that name
    kit::smartptr<kit::WinLog> log(new kit::WinLog(path.c_str(), 1000));
    EXPECT_FALSE(log->isReady());
    EXPECT_FALSE(log->takeWarning()) << "nothing was lost yet";

    EXPECT_FALSE(log->add("Recorded: %s", "C:\\one.wav"));
    EXPECT_TRUE(log->takeWarning());
    EXPECT_FALSE(log->takeWarning()) << "once";
    EXPECT_THAT(
        kit::logNotWrittenMessage(log->fileName(), log->lastError()),
        AllOf(HasSubstr("The recording is saved"), HasSubstr(path), HasSubstr("there is a folder of that name")));
    EXPECT_FALSE(log->add("Recorded: %s", "C:\\two.wav"));
    EXPECT_FALSE(log->takeWarning()) << "not at every recording";

    ASSERT_TRUE(::RemoveDirectoryA(path.c_str()));
    EXPECT_TRUE(log->add("Recorded: %s", "C:\\three.wav")) << "the file is opened again";
    EXPECT_EQ(readFile(path), marked("Recorded: C:\\three.wav\r\n"));
}

TEST(AppLog, TheWarningSaysWhyTheFileCannotBeWritten) {
    testsupport::TempDir dir;
    std::string readOnly = dir.file("log.txt");
    writeFile(readOnly, "");
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_THAT(kit::logNotWrittenMessage(readOnly, ERROR_ACCESS_DENIED), HasSubstr("the file is read-only"));
    ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Otherwise the platform's words, not a number.
    std::string message = kit::logNotWrittenMessage(dir.file("gone\\log.txt"), ERROR_PATH_NOT_FOUND);
    EXPECT_THAT(message, HasSubstr(dir.file("gone\\log.txt")));
    EXPECT_THAT(message, Not(HasSubstr("error 3")));
}

TEST(LogPlace, TheLogIsInTheStartFolderWhenItCanBeWrittenElseInTheDataFolder) {
    testsupport::TempDir dir;
    std::string data = dir.file("Korvel\\Sonotape");
    EXPECT_TRUE(kit::canCreateFilesIn(dir.path()));
    EXPECT_EQ(kit::applicationLogPath(dir.path(), data), dir.file("log.txt"));
    EXPECT_FALSE(testsupport::fileExists(dir.file("Korvel"))) << "made only when needed";

    // The system's own folder Z:\sys (sysfs): not even root can make a file there.
    EXPECT_FALSE(kit::canCreateFilesIn("Z:\\sys"));
    EXPECT_EQ(kit::applicationLogPath("Z:\\sys", data), data + "\\log.txt");
    DWORD attributes = ::GetFileAttributesA(data.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << "made";

    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(dir.file("~sonotape-*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a probe file is left: " << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
}

}  // namespace
