#include <gmock/gmock.h>
#include <windows.h>

#include "kit/exceptions.h"
#include "kit/oslib.h"
#include "kit/singleappinst.h"
#include "support/support.h"

using testsupport::ChildProcess;
using testsupport::TempDir;

namespace {

struct JoinCase {
    const char* a;
    const char* b;
    const char* joined;
};

class JoinPath : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPath, JoinsTwoPieces) { EXPECT_EQ(kit::joinPath(GetParam().a, GetParam().b), GetParam().joined); }

INSTANTIATE_TEST_SUITE_P(Table, JoinPath,
                         ::testing::Values(JoinCase{"C:\\music\\", "\\a.wav", "C:\\music\\a.wav"},
                                           JoinCase{"C:\\music", "a.wav", "C:\\music/a.wav"},
                                           JoinCase{"C:\\music\\", "a.wav", "C:\\music\\a.wav"},
                                           JoinCase{"C:\\music", "/a.wav", "C:\\music/a.wav"}, JoinCase{"", "x", "x"},
                                           JoinCase{"x", "", "x"}, JoinCase{"", "", ""},
                                           JoinCase{"\"C:\\my music\\\"", "\"a b.wav\"", "C:\\my music\\a b.wav"}));

TEST(ReadDataFile, NeedsExactlyTheSize) {
    TempDir dir;
    std::string path = dir.file("data.bin");
    kit::writeDataFile(path.c_str(), "0123456789", 10);
    char buffer[16] = {};
    kit::readDataFile(path.c_str(), buffer, 10);
    EXPECT_STREQ(buffer, "0123456789");
    try {
        kit::readDataFile(path.c_str(), buffer, 9);
        FAIL();
    } catch (kit::ARuntimeError& e) {
        EXPECT_EQ(e.message(), "input file too large in readDataFile()");
        EXPECT_EQ(e.originLine(), 156);
    }
    try {
        kit::readDataFile(path.c_str(), buffer, 11);
        FAIL();
    } catch (kit::ARuntimeError& e) {
        EXPECT_EQ(e.message(), "fwrite() failed in readDataFile()");
        EXPECT_EQ(e.originLine(), 151);
    }
    try {
        kit::readDataFile(dir.file("missing").c_str(), buffer, 1);
        FAIL();
    } catch (kit::ARuntimeError& e) {
        EXPECT_EQ(e.message(), "fopen() failed in readDataFile()");
    }
}

TEST(CopyFile, CopiesMoreThanOneBlock) {
    TempDir dir;
    std::string content(600000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
    testsupport::writeFile(dir.file("a"), content);
    kit::copyFile(dir.file("a").c_str(), dir.file("b").c_str());
    EXPECT_EQ(testsupport::readFile(dir.file("b")), content);
    EXPECT_THROW(kit::copyFile(dir.file("none").c_str(), dir.file("c").c_str()), kit::ARuntimeError);
}

TEST(OsLib, FoldersAndFilesExist) {
    EXPECT_TRUE(kit::fileExists(kit::getCurrentExecutableName().c_str()));
    EXPECT_FALSE(kit::fileExists("C:\\no\\such\\file.wav"));
    for (auto dir : {kit::getAppDataDirectory(), kit::getDefaultMusicFolder(), kit::getTempPath()})
        EXPECT_NE(::GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES) << dir.c_str();
    kit::shared_string temp = kit::getTempFileName("snt");
    EXPECT_EQ(testsupport::fileSize(temp.c_str()), 0);
    ::DeleteFileA(temp.c_str());
}

constexpr const char* kMutex = "SonotapeTestSingleInstance";

// Holds the guard until its standard input closes or 20 s pass.
int holdGuard(const std::vector<std::string>&) {
    kit::SingleInstanceChecker checker(kMutex);
    auto cookie = checker.startSingle();
    if (!cookie) return 2;
    HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, "SonotapeTestGuardReady");
    if (ready) ::SetEvent(ready);
    ::Sleep(20000);
    return 0;
}
testsupport::ChildMain holder("hold-guard", &holdGuard);

TEST(SingleInstance, ASecondProcessIsRefusedUntilTheFirstEnds) {
    HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, "SonotapeTestGuardReady");
    {
        ChildProcess first("hold-guard");
        ASSERT_EQ(::WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
        kit::SingleInstanceChecker checker(kMutex);
        EXPECT_FALSE(checker.startSingle());
        EXPECT_TRUE(kit::isSecondInstance(kMutex));
        first.kill();
        ASSERT_TRUE(first.wait(10000));
    }
    ::CloseHandle(ready);
    kit::SingleInstanceChecker checker(kMutex);
    // isSecondInstance above keeps its handle open for the rest of the process,
    // so this process still sees the mutex; a fresh name shows the released state.
    kit::SingleInstanceChecker fresh("SonotapeTestSingleInstanceFresh");
    auto cookie = fresh.startSingle();
    EXPECT_TRUE(cookie);
    EXPECT_FALSE(fresh.startSingle());
    cookie.reset();
    EXPECT_TRUE(fresh.startSingle());
}

}  // namespace
