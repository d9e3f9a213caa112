// The installer of this build (BUILD_DIR/dist/sonotape-setup-<arch>.exe), run
// as an administrator would, silently, on a Windows where Sonotape has never
// been (fresh_prefix.sh gives this program a Wine prefix of its own): what
// it installs, the program it installed recording bit for bit, and an
// uninstallation that leaves nothing of Sonotape but its settings.
#include <gmock/gmock.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "config/settings.h"
#include "kit/regkey.h"
#include "resource.h"
#include "sound.capture/capture_check.h"
#include "support/bed_audio.h"
#include "support/screenshot.h"
#include "support/support.h"
#include "support/ui.h"
#include "version.h"
#include "win.gui/driver.h"
#include "win.gui/program.h"

namespace {

using namespace testsupport;

constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sonotape";
constexpr const char* kProgramFiles[] = {"sonotape.exe", "lame_enc.dll", "sound.wav", "sound.mid"};

std::string distFolder() { return programFolder() + "\\..\\dist"; }
std::string setupPath() { return distFolder() + "\\sonotape-setup-" + kTargetArch + ".exe"; }

bool keyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// A value as text (REG_SZ) or number (REG_DWORD); "<none>" when it is missing.
std::string regValue(HKEY root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    char data[2048] = {};
    DWORD size = sizeof data - 1, type = 0;
    LONG rc = ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "<none>";
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<DWORD*>(data));
    return data;
}

std::string knownFolder(REFKNOWNFOLDERID id) {
    PWSTR wide = nullptr;
    if (FAILED(::SHGetKnownFolderPath(id, 0, nullptr, &wide))) return "";
    char path[MAX_PATH * 2] = {};
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, nullptr, nullptr);
    ::CoTaskMemFree(wide);
    return path;
}

std::string specialFolder(int csidl) {
    char path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

// Runs a program to its end; its exit code, or -1 when it does not end in time.
long runToEnd(const std::string& commandLine, DWORD timeoutMs = 60000) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    ::CloseHandle(pi.hThread);
    bool ended = waitUntil([&] { return ::WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    return ended ? static_cast<long>(code) : -1;
}

struct Shortcut {
    bool loaded = false;
    std::string target, workingFolder;
};

Shortcut readShortcut(const std::string& path) {
    Shortcut s;
    ::CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                     reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH] = {};
            ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
            if (SUCCEEDED(file->Load(wide, STGM_READ))) {
                char text[MAX_PATH] = {};
                s.loaded = SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0));
                s.target = text;
                link->GetWorkingDirectory(text, MAX_PATH);
                s.workingFolder = text;
            }
            file->Release();
        }
        link->Release();
    }
    ::CoUninitialize();
    return s;
}

// The file version of the file's version resource ("1.0.0.0") and its ProductVersion text.
std::pair<std::string, std::string> fileVersion(const std::string& path) {
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return {"<none>", "<none>"};
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return {"<none>", "<none>"};
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    std::string numbers = "<none>";
    if (::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
        numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                  std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    char* text = nullptr;
    std::string product = "<none>";
    if (::VerQueryValueA(data.data(), "\\StringFileInfo\\040904B0\\ProductVersion", reinterpret_cast<void**>(&text),
                         &length) &&
        text)
        product = text;
    return {numbers, product};
}

bool folderExists(const std::string& path) {
    DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Records about four seconds of a played signal with the program's button into
// `path`.wav and checks the file bit for bit; `logPath` is where its log.txt should be. (Its length against the clock is
// the program tests' matter: a program's first capture in a new Wine prefix
// starts late, up to two seconds on a busy machine.)
void recordBitExactly(program::Program& p, const TempDir& scratch, const std::string& path,
                      const std::string& logPath) {
    HWND button = p.recordButton();
    ASSERT_NE(button, nullptr) << "the installed program shows no window";
    ASSERT_TRUE(waitForSilentSink(15000));
    std::vector<int16_t> played = pseudoRandomSignal(static_cast<std::size_t>(kRate) * 8, 1919);
    writeWav(scratch.file("signal.wav"), played);
    ASSERT_TRUE(playIntoSink(scratch.file("signal.wav")));
    ASSERT_TRUE(waitForSoundInSink(10000));  // the signal is under way before the click
    driver::click(button);
    DWORD clicked = ::GetTickCount();
    HWND options = p.dialog("File save...");
    ASSERT_NE(options, nullptr);
    driver::typeInto(options, IDC_PATH, path);
    driver::clickItem(options, IDC_FORMAT_WAV);
    driver::clickItem(options, IDOK);
    ASSERT_TRUE(driver::waitGone(options));
    pumpFor(4000 - std::min<DWORD>(4000, ::GetTickCount() - clicked));
    driver::click(button);
    // The line in log.txt (in the program's folder, where it was started, after the file's UTF-8 mark) comes
    // once the file is complete.
    ASSERT_TRUE(waitUntil([&] { return readFile(logPath).find("\xEF\xBB\xBFRecorded: " + path + ".wav") == 0; }, 15000))
        << "no line in " << logPath;

    WavFile wav = readWav(path + ".wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.riffSize, wav.dataSize + 36);
    EXPECT_GT(wav.samples.size() / 2.0 / kRate, 1.5);
    Coverage c = playedSignalInside(wav.samples, played);
    EXPECT_TRUE(c.ok) << c.why;
    EXPECT_EQ(c.matchedFrames, wav.samples.size() / 2) << "every frame is the played one";
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fileExists(setupPath())) << setupPath();
        ASSERT_FALSE(keyExists(HKEY_CURRENT_USER, kUninstallKey)) << "the prefix is not fresh";
    }
    TempDir scratch;
};

TEST_F(Installer, TheFirstPageNamesTheVersionAndInstallsForTheUserAlone) {
    program::Program setup("", scratch.path(), setupPath());
    const std::string title = std::string("Sonotape ") + SONOTAPE_VERSION + " Setup";
    HWND page = setup.dialog(title.c_str(), 20000);
    ASSERT_NE(page, nullptr) << "no window titled " << title;
    pumpFor(500);
    Capture shot = screenshotWindow(page, "installer-welcome");
    EXPECT_GT(shot.width, 400);
    std::string texts;
    for (HWND child = ::GetWindow(page, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        for (HWND inner = ::GetWindow(child, GW_CHILD); inner; inner = ::GetWindow(inner, GW_HWNDNEXT))
            texts += driver::windowText(inner) + "\n";
    EXPECT_THAT(texts, ::testing::HasSubstr(std::string("Welcome to Sonotape ") + SONOTAPE_VERSION));
    EXPECT_THAT(texts, ::testing::HasSubstr("no administrator rights are needed"));
}

TEST_F(Installer, InstallsForTheUserRecordsAndUninstallsLeavingOnlyTheSettings) {
    DWORD t0 = ::GetTickCount();
    ASSERT_EQ(runToEnd("\"" + setupPath() + "\" /S /StartWithWindows"), 0);
    std::printf("installed in %lu ms\n", static_cast<unsigned long>(::GetTickCount() - t0));

    // The four files, as packed, in the user's own programs folder.
    std::string programs = knownFolder(FOLDERID_UserProgramFiles);  // unknown to some systems (and Wine)
    if (programs.empty()) programs = specialFolder(CSIDL_LOCAL_APPDATA) + "\\Programs";
    const std::string folder = programs + "\\Sonotape";
    const std::string exe = folder + "\\sonotape.exe";
    for (const char* name : kProgramFiles)
        EXPECT_EQ(readFile(folder + "\\" + name), readFile(distFolder() + "\\sonotape\\" + name)) << name;
    EXPECT_TRUE(fileExists(folder + "\\uninstall.exe"));
    EXPECT_EQ(fileVersion(exe),
              std::make_pair(std::to_string(SONOTAPE_VERSION_MAJOR) + "." + std::to_string(SONOTAPE_VERSION_MINOR) +
                                 "." + std::to_string(SONOTAPE_VERSION_PATCH) + ".0",
                             std::string(SONOTAPE_VERSION)))
        << "the file properties show the build's version";

    // The Start-menu shortcut starts the program in its folder.
    const std::string link = specialFolder(CSIDL_PROGRAMS) + "\\Sonotape.lnk";
    Shortcut s = readShortcut(link);
    ASSERT_TRUE(s.loaded) << link;
    EXPECT_EQ(s.target, exe);
    EXPECT_EQ(s.workingFolder, folder);

    // The entry under Apps, for this user only.
    auto entry = [](const char* name) { return regValue(HKEY_CURRENT_USER, kUninstallKey, name); };
    EXPECT_EQ(entry("DisplayName"), "Sonotape");
    EXPECT_EQ(entry("DisplayVersion"), SONOTAPE_VERSION);
    EXPECT_EQ(entry("Publisher"), "Korvel Software");
    EXPECT_EQ(entry("DisplayIcon"), exe);
    EXPECT_EQ(entry("InstallLocation"), folder);
    EXPECT_EQ(entry("UninstallString"), "\"" + folder + "\\uninstall.exe\"");
    int64_t bytes = fileSize(folder + "\\uninstall.exe");
    for (const char* name : kProgramFiles) bytes += fileSize(folder + "\\" + name);
    EXPECT_NEAR(std::stol(entry("EstimatedSize")), bytes / 1024.0, 6.0) << "KiB";
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));

    // "Start Sonotape when Windows starts": the program's own Run entry.
    const std::string run = regValue(HKEY_CURRENT_USER, Settings::kRunKeyPath, Settings::kRunValue);
    EXPECT_EQ(run, autostartCommand(exe.c_str()).c_str());

    // The installed program, started as the shortcut starts it, records bit for
    // bit and notes the recording in log.txt in its own folder.
    program::prepareSettings(scratch.path(), engine::FORMAT_WAV);  // (it clears the Run entry)
    kit::RegKey(HKEY_CURRENT_USER, Settings::kRunKeyPath, true).writeString(Settings::kRunValue, run.c_str());
    {
        program::Program p("", folder, exe);
        recordBitExactly(p, scratch, scratch.file("take"), folder + "\\log.txt");

        // The uninstaller refuses while the program runs, and changes nothing.
        EXPECT_EQ(runToEnd("\"" + folder + "\\uninstall.exe\" /S _?=" + folder), 2);
        EXPECT_TRUE(fileExists(exe));
        EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kUninstallKey));

        HWND main = p.mainWindow();
        ASSERT_NE(main, nullptr);
        ::PostMessageA(main, WM_CLOSE, 0, 0);
        ASSERT_TRUE(p.waitExit(15000));
    }

    // Removed as Apps removes it, silently: nothing of it is left but the settings.
    t0 = ::GetTickCount();
    ASSERT_EQ(runToEnd(entry("UninstallString") + " /S"), 0);
    EXPECT_TRUE(waitUntil([&] { return !folderExists(folder); }, 30000)) << "the installation's folder is left";
    std::printf("uninstalled in %lu ms\n", static_cast<unsigned long>(::GetTickCount() - t0));
    EXPECT_FALSE(fileExists(link));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUninstallKey));
    EXPECT_EQ(regValue(HKEY_CURRENT_USER, Settings::kRunKeyPath, Settings::kRunValue), "<none>");
    EXPECT_EQ(regValue(HKEY_CURRENT_USER, Settings::kKeyPath, "StorageDir"), scratch.path() + "\\")
        << "the settings are kept";
    EXPECT_TRUE(fileExists(scratch.file("take.wav"))) << "recordings are never touched";
}

TEST_F(Installer, ForAllUsersInstallsInProgramFilesWithAMachineWideEntry) {
    ASSERT_EQ(runToEnd("\"" + setupPath() + "\" /S /AllUsers /StartWithWindows"), 0);
    const std::string folder = knownFolder(FOLDERID_ProgramFiles) + "\\Sonotape";
    const std::string exe = folder + "\\sonotape.exe";
    EXPECT_TRUE(fileExists(exe)) << exe;
    EXPECT_TRUE(fileExists(specialFolder(CSIDL_COMMON_PROGRAMS) + "\\Sonotape.lnk"));
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "InstallLocation"), folder);
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), SONOTAPE_VERSION);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kUninstallKey));
    EXPECT_EQ(regValue(HKEY_CURRENT_USER, Settings::kRunKeyPath, Settings::kRunValue),
              autostartCommand(exe.c_str()).c_str())
        << "quoted as the program quotes a path with a blank";

    ASSERT_EQ(runToEnd(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "QuietUninstallString")), 0);
    EXPECT_TRUE(waitUntil([&] { return !folderExists(folder); }, 30000));
    EXPECT_FALSE(fileExists(specialFolder(CSIDL_COMMON_PROGRAMS) + "\\Sonotape.lnk"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_EQ(regValue(HKEY_CURRENT_USER, Settings::kRunKeyPath, Settings::kRunValue), "<none>");
}

}  // namespace
