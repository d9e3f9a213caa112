// The real sonotape.exe with names in other scripts: a user named in Cyrillic
// whose Music folder is "Музыка" (the prefix's shell folders say so), the
// program installed under that user's folder with lame_enc.dll beside it, a
// folder "C:\Записи\日本語" and a file "łódź 🎵". Like the program, this test
// program runs with UTF-8 as its code page: its strings are UTF-8.
#include <gmock/gmock.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "config/settings.h"
#include "driver.h"
#include "kit/regkey.h"
#include "kit/text_code.h"
#include "program.h"
#include "resource.h"
#include "support/bed_audio.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"

namespace {

using namespace testsupport;
using program::Program;

const std::string kUserFolder = "C:\\users\\\u0414\u0430\u0440\u044c\u044f";        // Дарья
const std::string kMusic = kUserFolder + "\\\u041c\u0443\u0437\u044b\u043a\u0430";  // Музыка
const std::string kInstalled = kUserFolder + "\\AppData\\Local\\Programs\\Sonotape";
const std::string kChosenTop = "C:\\\u0417\u0430\u043f\u0438\u0441\u0438";  // C:\Записи
const std::string kChosen = kChosenTop + "\\\u65e5\u672c\u8a9e";            // 日本語
const std::string kName = "\u0142\u00f3d\u017a \U0001F3B5";                 // łódź 🎵
const std::wstring kWideName = L"\u0142\u00f3d\u017a \U0001F3B5";

constexpr const wchar_t* kShellFolderKeys[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};

// One of the user's shell folders as the prefix's registry holds it (where
// SHGetFolderPath looks), set for the test and put back after it.
class ShellFolder {
public:
    ShellFolder(const wchar_t* name_, const std::string& path) : name(name_) {
        for (int i = 0; i < 2; ++i) {
            Saved& s = saved[i];
            DWORD size = sizeof s.data;
            s.existed = ::RegGetValueW(HKEY_CURRENT_USER, kShellFolderKeys[i], name, RRF_RT_ANY | RRF_NOEXPAND, &s.type,
                                       s.data, &size) == ERROR_SUCCESS;
            s.size = size;
            std::wstring wide = kit::widen(path);
            ::RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolderKeys[i], name, i == 0 ? REG_EXPAND_SZ : REG_SZ,
                              wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
        }
    }
    ~ShellFolder() {
        for (int i = 0; i < 2; ++i) {
            const Saved& s = saved[i];
            if (s.existed)
                ::RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolderKeys[i], name, s.type, s.data, s.size);
            else
                ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolderKeys[i], name);
        }
    }
    ShellFolder(const ShellFolder&) = delete;
    ShellFolder& operator=(const ShellFolder&) = delete;

private:
    struct Saved {
        bool existed = false;
        DWORD type = 0;
        DWORD size = 0;
        wchar_t data[MAX_PATH + 1] = {};
    };
    const wchar_t* name;
    Saved saved[2];
};

void removeTree(const std::string& folder) {
    std::wstring from = kit::widen(folder) + L'\0';
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    ::SHFileOperationW(&op);
}

// The names in a folder, as the file system holds them.
std::vector<std::wstring> namesIn(const std::string& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((kit::widen(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// The recorded paths of a log.txt.
std::vector<std::string> recordedPaths(const std::string& log) {
    std::vector<std::string> paths;
    std::string text = withUnixLineEnds(log);
    static const std::regex line("Recorded: (.+) \\d\\d:\\d\\d:\\d\\d\n");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) paths.push_back((*it)[1]);
    return paths;
}

class ProgramNames : public program::ProgramCase {
protected:
    void TearDown() override {
        ProgramCase::TearDown();
        removeTree(kUserFolder);
        removeTree(kChosenTop);
    }

    // Starts the installed copy in its own folder, where its log.txt goes.
    void startInstalled() { running = std::make_unique<Program>("", kInstalled, kInstalled + "\\sonotape.exe"); }

    // The recording options dialog after a click on the record button.
    HWND openOptions(HWND button) {
        pumpFor(700);  // two clicks in a row on one spot would make a double click
        driver::click(button);
        return running->dialog("File save...");
    }

    // The path typed with the format, OK, a little sound, and the second click.
    void record(HWND options, HWND button, const std::string& pathWithoutExtension, int format) {
        driver::typeInto(options, IDC_PATH, pathWithoutExtension);
        driver::clickItem(options, format);
        driver::clickItem(options, IDOK);
        ASSERT_TRUE(driver::waitGone(options));
        pumpFor(1500);
        driver::click(button);
    }

    void closeNormally() { program::closeNormally(*running); }
};

TEST_F(ProgramNames, NamesInAnyScriptAreRecordedLoggedAndOfferedAgain) {
    for (const std::string& folder : {kMusic, kInstalled, kChosen})
        ASSERT_EQ(::SHCreateDirectoryExW(nullptr, kit::widen(folder).c_str(), nullptr), ERROR_SUCCESS) << folder;
    for (const char* file : {"sonotape.exe", "lame_enc.dll"})
        ASSERT_TRUE(::CopyFileW(kit::widen(programFolder() + "\\" + file).c_str(),
                                kit::widen(kInstalled + "\\" + file).c_str(), FALSE))
            << file;
    ShellFolder music(L"My Music", kMusic);
    program::prepareSettings(kChosen, engine::FORMAT_WAV);
    // What an earlier version stored for a folder its code page could not
    // hold: the Music folder is offered instead.
    kit::RegKey(HKEY_CURRENT_USER, Settings::kKeyPath, true).writeString("StorageDir", "C:\\users\\?????\\Music");

    startInstalled();
    HWND button = running->recordButton();
    ASSERT_NE(button, nullptr);
    HWND options = openOptions(button);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(driver::itemText(options, IDC_PATH).rfind(kMusic + "\\", 0), 0u)
        << driver::itemText(options, IDC_PATH) << ": the user's Music folder is offered";
    {
        pumpFor(1850);  // the time runs meanwhile
        RECT a{}, b{};
        ::GetWindowRect(running->mainWindow(), &a);
        ::GetWindowRect(options, &b);
        RECT both{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                  std::max(a.bottom, b.bottom)};
        savePng(captureScreen(both), screenshotPath("recording-options-dialog"));
    }
    const std::string inMusic = kMusic + "\\" + kName;
    record(options, button, inMusic, IDC_FORMAT_WAV);
    const std::string logPath = kInstalled + "\\log.txt";
    ASSERT_TRUE(waitUntil([&] { return recordedPaths(readFile(logPath)).size() == 1; }, 15000)) << readFile(logPath);
    EXPECT_GT(readWav(inMusic + ".wav").riffSize, 36u) << "a complete WAV";

    options = openOptions(button);
    ASSERT_NE(options, nullptr);
    const std::string chosen = kChosen + "\\" + kName;
    record(options, button, chosen, IDC_FORMAT_MP3_128);
    ASSERT_TRUE(waitUntil([&] { return recordedPaths(readFile(logPath)).size() == 2; }, 15000)) << readFile(logPath);
    EXPECT_EQ(driver::findWindow(running->id(), program::kDialogClass, "Sonotape"), nullptr) << "no problem reported";

    EXPECT_EQ(namesIn(kMusic), std::vector<std::wstring>{kWideName + L".wav"});
    EXPECT_EQ(namesIn(kChosen), std::vector<std::wstring>{kWideName + L".mp3"});
    EXPECT_GT(fileSize(chosen + ".mp3"), 1000) << "encoded with the lame_enc.dll beside the installed program";
    std::string log = readFile(logPath);
    EXPECT_EQ(log.substr(0, 3), kit::kUtf8Mark);
    EXPECT_EQ(recordedPaths(log), (std::vector<std::string>{inMusic + ".wav", chosen + ".mp3"}));
    closeNormally();

    wchar_t stored[MAX_PATH] = {};
    DWORD size = sizeof stored;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, kit::widen(Settings::kKeyPath).c_str(), L"StorageDir", RRF_RT_REG_SZ,
                             nullptr, stored, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(stored).rfind(kit::widen(kChosen), 0), 0u) << "stored as the system's wide text";

    startInstalled();
    button = running->recordButton();
    ASSERT_NE(button, nullptr);
    options = openOptions(button);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(driver::itemText(options, IDC_PATH).rfind(kChosen + "\\", 0), 0u)
        << driver::itemText(options, IDC_PATH) << ": the folder of the last recording is offered again";

    // A folder that is not there: the message names the folder and the file as typed.
    const std::string absent = kChosen + "\\\u043d\u0435\u0442\\";  // the folder "нет" in it
    driver::typeInto(options, IDC_PATH, absent + kName);
    driver::clickItem(options, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    HWND message = running->dialog("Sonotape");
    ASSERT_NE(message, nullptr) << "the user is not told";
    std::string text = driver::messageBoxText(message);
    EXPECT_THAT(text, ::testing::AllOf(::testing::HasSubstr(absent), ::testing::HasSubstr(kName + ".wav"),
                                       ::testing::HasSubstr("The folder does not exist.")));
    driver::clickItem(message, IDOK);
    ASSERT_TRUE(driver::waitGone(message));
    closeNormally();
}

}  // namespace
