#include <gmock/gmock.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>

#include "config/settings.h"
#include "dialog_driver.h"
#include "diagnostics/problem_windows.h"
#include "reminders/reminders.h"
#include "resource.h"
#include "support/screenshot.h"
#include "support/small_drive.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.dialogs/file_save_dialog.h"
#include "win.dialogs/file_save_logic.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kTitle = "File save...";

HINSTANCE instance() { return ::GetModuleHandleA(nullptr); }

// The folder offered when no usable one is stored.
std::string musicFolder() {
    std::string folder = defaultStorageFolder().str();
    return folder.back() == '\\' ? folder : folder + "\\";
}

class OptionsDialog : public ::testing::Test {
protected:
    kit::smartptr<FileSaveDialog> dialog{new FileSaveDialog(instance())};
};

TEST_F(OptionsDialog, OpensWithTheProposedNameAsMp3In128AndTheTimeLimitOff) {
    std::string name = dialog->getFileName();
    EXPECT_THAT(name, StartsWith("SNT_"));
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    EXPECT_TRUE(dialog->isShown());
    EXPECT_TRUE(::IsWindowEnabled(::GetDesktopWindow()));

    EXPECT_EQ(run.text(IDC_PATH), musicFolder() + name + ".mp3");
    EXPECT_TRUE(run.checked(IDC_FORMAT_MP3_128));
    EXPECT_FALSE(run.checked(IDC_FORMAT_WAV));
    EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_BITRATE)));
    EXPECT_EQ(::SendMessageA(run.item(IDC_BITRATE), CB_GETCOUNT, 0, 0), 10);
    EXPECT_EQ(::SendMessageA(run.item(IDC_BITRATE), CB_GETCURSEL, 0, 0), 5);
    EXPECT_EQ(run.text(IDC_BITRATE), "128");
    EXPECT_EQ(::SendMessageA(run.item(IDC_BITRATE), CB_GETITEMDATA, 9, 0), 9);

    EXPECT_EQ(run.text(IDC_HOURS), "0");
    EXPECT_EQ(run.text(IDC_MINUTES), "0");
    for (int id : {IDC_HOURS, IDC_MINUTES, IDC_HOURS_SPIN, IDC_MINUTES_SPIN, IDC_SHUTDOWN})
        EXPECT_FALSE(::IsWindowEnabled(run.item(id))) << id;
    EXPECT_EQ(::SendMessageA(run.item(IDC_HOURS_SPIN), UDM_GETRANGE, 0, 0), MAKELONG(23, 0));
    EXPECT_EQ(::SendMessageA(run.item(IDC_MINUTES_SPIN), UDM_GETRANGE, 0, 0), MAKELONG(59, 0));
    EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageA(run.item(IDC_HOURS_SPIN), UDM_GETBUDDY, 0, 0)),
              run.item(IDC_HOURS));
    EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageA(run.item(IDC_MINUTES_SPIN), UDM_GETBUDDY, 0, 0)),
              run.item(IDC_MINUTES));

    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_FALSE(dialog->isShown());
    EXPECT_EQ(dialog->getPath(), musicFolder() + name + ".mp3");
    EXPECT_EQ(dialog->getFormat(), 1);
    EXPECT_FALSE(dialog->hasTimeLimit());
}

TEST_F(OptionsDialog, ATypedPathGetsItsExtensionWhenTheEditBoxIsLeftAndFollowsTheFormat) {
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.type(IDC_PATH, "D:\\rec\\take1");
    EXPECT_EQ(dialog->getFolder(), "D:\\rec\\");
    EXPECT_EQ(dialog->getFileName(), "take1");
    EXPECT_EQ(run.text(IDC_PATH), "D:\\rec\\take1");  // not while typing

    run.focus(IDC_CHANGE_PATH);
    EXPECT_EQ(run.text(IDC_PATH), "D:\\rec\\take1.mp3");

    run.click(IDC_FORMAT_WAV);
    EXPECT_EQ(run.text(IDC_PATH), "D:\\rec\\take1.wav");
    EXPECT_EQ(dialog->getFormat(), 3);
    run.click(IDC_FORMAT_MP3_96);
    EXPECT_EQ(run.text(IDC_PATH), "D:\\rec\\take1.mp3");
    EXPECT_EQ(dialog->getFormat(), 2);
    EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_BITRATE)));
    run.click(IDC_FORMAT_MP3_USER);
    EXPECT_TRUE(::IsWindowEnabled(run.item(IDC_BITRATE)));
    EXPECT_EQ(dialog->getFormat(), 4);
    run.click(IDC_FORMAT_FLAC);
    EXPECT_EQ(run.text(IDC_PATH), "D:\\rec\\take1.flac");
    EXPECT_EQ(dialog->getFormat(), 5);
    EXPECT_FALSE(run.checked(IDC_FORMAT_MP3_USER)) << "one group of buttons";
    EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_BITRATE)));
    run.click(IDC_FORMAT_WAV);
    EXPECT_FALSE(run.checked(IDC_FORMAT_FLAC));

    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getPath(), "D:\\rec\\take1.wav");
    EXPECT_EQ(dialog->getFolder(), "D:\\rec\\");
    EXPECT_EQ(dialog->getFormat(), 3);
}

TEST_F(OptionsDialog, APathWithoutBackslashIsTakenAsTheFolderWithoutExtension) {
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.type(IDC_PATH, "take1");
    run.focus(IDC_CHANGE_PATH);
    EXPECT_EQ(run.text(IDC_PATH), "take1");
    EXPECT_EQ(dialog->getFolder(), "take1");
    EXPECT_EQ(dialog->getFileName(), "");
    run.click(IDCANCEL);
    EXPECT_EQ(run.result(), IDCANCEL);
    EXPECT_FALSE(dialog->isShown());
}

TEST_F(OptionsDialog, TheTimeLimitTakesHoursModulo100AndMinutesModulo60) {
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.click(IDC_TIME_LIMIT);
    EXPECT_TRUE(dialog->hasTimeLimit());
    for (int id : {IDC_HOURS, IDC_MINUTES, IDC_HOURS_SPIN, IDC_MINUTES_SPIN, IDC_SHUTDOWN})
        EXPECT_TRUE(::IsWindowEnabled(run.item(id))) << id;
    run.type(IDC_HOURS, "123");
    run.type(IDC_MINUTES, "75");
    EXPECT_EQ(dialog->getHours(), 23);
    EXPECT_EQ(dialog->getMinutes(), 15);

    // The arrow keys step the number in the box, within 0 to 59.
    run.type(IDC_MINUTES, "58");
    for (int i = 0; i < 2; ++i) {
        ::SendMessageA(run.item(IDC_MINUTES), WM_KEYDOWN, VK_UP, 0);
        ::SendMessageA(run.item(IDC_MINUTES), WM_KEYUP, VK_UP, 0);
    }
    EXPECT_EQ(run.text(IDC_MINUTES), "59");
    EXPECT_EQ(dialog->getMinutes(), 59);
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getHours(), 23);
    EXPECT_EQ(dialog->getMinutes(), 59);
}

TEST_F(OptionsDialog, ShutdownIsWantedOnlyTogetherWithTheTimeLimit) {
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.click(IDC_TIME_LIMIT);
    run.click(IDC_SHUTDOWN);
    EXPECT_TRUE(dialog->isShutdownTicked());
    EXPECT_TRUE(dialog->isShutdownWanted());
    run.click(IDC_TIME_LIMIT);  // off again
    EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_SHUTDOWN)));
    EXPECT_TRUE(dialog->isShutdownTicked());
    EXPECT_FALSE(dialog->isShutdownWanted());
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_FALSE(dialog->isShutdownWanted());
}

struct StoredFormat {
    int code;
    int button;
    const char* extension;
};

class StoredFormats : public ::testing::TestWithParam<StoredFormat> {};

TEST_P(StoredFormats, CheckTheirButton) {
    kit::smartptr<FileSaveDialog> dialog(new FileSaveDialog(instance()));
    dialog->setFormat(GetParam().code);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    for (int id : {IDC_FORMAT_WAV, IDC_FORMAT_MP3_128, IDC_FORMAT_MP3_96, IDC_FORMAT_MP3_USER, IDC_FORMAT_FLAC})
        EXPECT_EQ(run.checked(id), id == GetParam().button) << id;
    EXPECT_EQ(::IsWindowEnabled(run.item(IDC_BITRATE)) != FALSE, GetParam().button == IDC_FORMAT_MP3_USER);
    EXPECT_THAT(run.text(IDC_PATH), ::testing::EndsWith(GetParam().extension));
    run.click(IDCANCEL);
    EXPECT_EQ(run.result(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(
    OptionsDialog, StoredFormats,
    ::testing::Values(StoredFormat{0, IDC_FORMAT_WAV, ".wav"}, StoredFormat{3, IDC_FORMAT_WAV, ".wav"},
                      StoredFormat{1, IDC_FORMAT_MP3_128, ".mp3"}, StoredFormat{2, IDC_FORMAT_MP3_96, ".mp3"},
                      StoredFormat{4, IDC_FORMAT_MP3_USER, ".mp3"}, StoredFormat{5, IDC_FORMAT_FLAC, ".flac"}));

TEST_F(OptionsDialog, AStoredBitRateIsKeptWhileTheListShows128) {
    dialog->setFormat(4);
    dialog->setBitrate(256);
    dialog->setBitrate(0);  // ignored
    dialog->setBitrate(-5);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    EXPECT_EQ(run.text(IDC_BITRATE), "128");
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getBitrate(), 256);
    EXPECT_EQ(dialog->getFormat(), 4);
}

// 24 bits for WAV and FLAC where the recording keeps that depth; MP3 and a
// recording of 16 bits (the recording line) are 16-bit whatever was stored.
TEST_F(OptionsDialog, TheBitsAreChosenForWavAndFlacWhereOffered) {
    dialog->setFormat(3);
    dialog->setBits(24);
    dialog->offerDeepFiles(true);
    {
        ModalRun run(*dialog, kTitle);
        ASSERT_TRUE(run.window());
        EXPECT_TRUE(::IsWindowEnabled(run.item(IDC_BITS)));
        EXPECT_EQ(run.text(IDC_BITS), "24 bit");
        EXPECT_THAT(run.text(IDC_FORMAT_WAV), HasSubstr("24 bit"));
        EXPECT_EQ(dialog->getBits(), 24);
        ::SendMessageA(run.item(IDC_BITS), CB_SETCURSEL, 0, 0);
        ::SendMessageA(run.window(), WM_COMMAND, MAKEWPARAM(IDC_BITS, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(run.item(IDC_BITS)));
        EXPECT_EQ(dialog->getBits(), 16);
        EXPECT_THAT(run.text(IDC_FORMAT_FLAC), HasSubstr("16 bit"));
        ::SendMessageA(run.item(IDC_BITS), CB_SETCURSEL, 1, 0);
        ::SendMessageA(run.window(), WM_COMMAND, MAKEWPARAM(IDC_BITS, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(run.item(IDC_BITS)));
        run.click(IDC_FORMAT_FLAC);
        EXPECT_EQ(dialog->getBits(), 24);
        run.click(IDC_FORMAT_MP3_128);
        EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_BITS)));
        EXPECT_EQ(dialog->getBits(), 16) << "MP3 takes 16 bits";
        run.click(IDC_FORMAT_FLAC);
        run.click(IDOK);
        EXPECT_EQ(run.result(), IDOK);
        EXPECT_EQ(dialog->getBits(), 24);
    }
    kit::smartptr<FileSaveDialog> line{new FileSaveDialog(instance())};
    line->setFormat(5);
    line->setBits(24);
    ModalRun run(*line, kTitle);
    ASSERT_TRUE(run.window());
    EXPECT_FALSE(::IsWindowEnabled(run.item(IDC_BITS))) << "not offered";
    EXPECT_EQ(run.text(IDC_BITS), "16 bit");
    EXPECT_THAT(run.text(IDC_FORMAT_FLAC), HasSubstr("16 bit"));
    run.click(IDOK);
    EXPECT_EQ(line->getBits(), 16);
}

TEST_F(OptionsDialog, PickingAnotherBitRateTakesIt) {
    dialog->setFormat(4);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.focus(IDC_BITRATE);
    ::SendMessageA(run.item(IDC_BITRATE), WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageA(run.item(IDC_BITRATE), WM_KEYUP, VK_DOWN, 0);
    EXPECT_EQ(run.text(IDC_BITRATE), "160");
    EXPECT_EQ(dialog->getBitrate(), 160);
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
}

TEST_F(OptionsDialog, TheFolderIsTakenOnlyWhenItExists) {
    testsupport::TempDir dir;
    dialog->setFolder(dir.path().c_str());
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
    dialog->setFolder((dir.path() + "\\").c_str());
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
    dialog->setFolder(dir.file("missing").c_str());
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
    testsupport::writeFile(dir.file("a file"), "x");
    dialog->setFolder(dir.file("a file").c_str());
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
    dialog->setFolder(nullptr);
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");

    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    EXPECT_EQ(run.text(IDC_PATH), dir.path() + "\\" + dialog->getFileName());
}

TEST_F(OptionsDialog, AnUnknownStoredFormatOffersTheDefaultFormat) {
    dialog->setFormat(7);
    testsupport::EventsFile events;
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    EXPECT_TRUE(run.checked(IDC_FORMAT_MP3_128));
    EXPECT_EQ(run.text(IDC_PATH), musicFolder() + dialog->getFileName());
    EXPECT_THAT(run.text(IDC_PATH), ::testing::EndsWith(".mp3"));
    EXPECT_THAT(events.added(), ::testing::Not(HasSubstr("Invalid file format")));
    run.click(IDCANCEL);
    EXPECT_EQ(run.result(), IDCANCEL);
}

// ---- what OK refuses or asks ------------------------------------------------------------

// The message box the dialog shows, once it is there.
HWND waitMessage() { return testsupport::waitForWindow("#32770", "Sonotape", 5000); }

std::wstring messageText(HWND box) {
    wchar_t text[2048] = {};
    ::GetDlgItemTextW(box, 0xFFFF, text, 2048);
    return text;
}

std::string narrow(const std::wstring& text) {
    char buffer[4096] = {};
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

// Saves the message box once its text is drawn (it paints on the dialog's thread).
void screenshotMessage(HWND box, const char* name) {
    auto dark = [](uint32_t p) { return testsupport::Capture::red(p) < 80 && testsupport::Capture::green(p) < 80; };
    testsupport::Capture c;
    testsupport::waitUntil(
        [&] {
            c = testsupport::captureWindow(box);
            return testsupport::countPixels(c, {0, 30, c.width, c.height}, dark) > 200;
        },
        3000);
    EXPECT_TRUE(testsupport::savePng(c, testsupport::screenshotPath(name)));
}

// OK as a click (posted: the dialog's answer may be a modal question).
void pressOk(ModalRun& run) { ::PostMessageA(run.item(IDOK), BM_CLICK, 0, 0); }

void answer(HWND box, int button) {
    ::PostMessageA(box, WM_COMMAND, button, 0);
    testsupport::waitUntil([&] { return !::IsWindow(box); }, 3000);
}

// Stored folders that point nowhere: the music folder is offered, never a
// drive root that nobody chose.
TEST_F(OptionsDialog, AFolderThatPointsNowhereOffersTheMusicFolder) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("rel.wav"), "a recording");
    char missingDrive = 0;
    for (char c = 'z'; c > 'd' && !missingDrive; --c)
        if (!(::GetLogicalDrives() & (1u << (c - 'a')))) missingDrive = c;
    ASSERT_NE(missingDrive, 0);
    std::string longFolder = dir.path() + "\\" + std::string(240, 'x');
    for (std::string stored : {std::string(1, missingDrive) + ":\\rec", dir.file("rel.wav"), longFolder,
                               std::string("rel.wav"), std::string("")}) {
        kit::smartptr<FileSaveDialog> fresh(new FileSaveDialog(instance()));
        fresh->setFolder(stored.c_str());
        EXPECT_EQ(fresh->getFolder(), musicFolder()) << stored;
    }
    dialog->setFolder((dir.path() + "/").c_str());  // a usable folder with a slash is taken, with backslashes
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
}

// Names typed without a folder go into the folder the dialog offered; slashes
// become backslashes; the folder alone is the folder.
TEST_F(OptionsDialog, ANameTypedWithoutAFolderGoesIntoTheOfferedFolder) {
    testsupport::TempDir dir;
    struct Typed {
        std::string text;
        std::string path;
    };
    std::string slashed = dir.path();
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    for (const Typed& t : {Typed{"rel.wav", dir.file("rel.wav")}, Typed{"rel", dir.file("rel.wav")},
                           Typed{slashed + "/fwd.wav", dir.file("fwd.wav")}}) {
        kit::smartptr<FileSaveDialog> fresh(new FileSaveDialog(instance()));
        fresh->setFolder(dir.path().c_str());
        fresh->setFormat(3);
        ModalRun run(*fresh, kTitle);
        ASSERT_TRUE(run.window());
        run.type(IDC_PATH, t.text);
        pressOk(run);
        EXPECT_EQ(run.result(), IDOK) << t.text;
        EXPECT_EQ(fresh->getPath(), t.path) << t.text;
        EXPECT_EQ(fresh->getFolder(), dir.path() + "\\") << t.text;
        EXPECT_EQ(fresh->getFileName(), t.path.substr(dir.path().size() + 1)) << t.text;
    }
}

TEST_F(OptionsDialog, AnExistingFileIsReplacedOnlyWhenTheUserSaysYes) {
    testsupport::TempDir dir;
    std::string existing = dir.file("keep.wav");
    testsupport::writeFile(existing, "recorded before");
    dialog->setFolder(dir.path().c_str());
    dialog->setFormat(3);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.type(IDC_PATH, "keep");
    pressOk(run);
    HWND question = waitMessage();
    ASSERT_TRUE(question) << "OK replaced an existing file without asking";
    EXPECT_EQ(narrow(messageText(question)), existing + " already exists.\nDo you want to replace it?");
    EXPECT_TRUE(::GetWindowLongA(::GetDlgItem(question, IDNO), GWL_STYLE) & BS_DEFPUSHBUTTON) << "No is the default";
    screenshotMessage(question, "options-replace-question");
    ::PostMessageA(question, WM_KEYDOWN, VK_RETURN, 0);  // Enter takes the default
    ASSERT_TRUE(testsupport::waitUntil([&] { return !::IsWindow(question); }, 3000));
    testsupport::pumpFor(200);
    EXPECT_FALSE(run.ended()) << "No keeps the dialog open";
    EXPECT_EQ(testsupport::readFile(existing), "recorded before");

    pressOk(run);
    question = waitMessage();
    ASSERT_TRUE(question);
    answer(question, IDYES);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getPath(), existing);
}

TEST_F(OptionsDialog, ReservedDeviceNamesAreRefusedWithTheReason) {
    testsupport::TempDir dir;
    dialog->setFolder(dir.path().c_str());
    dialog->setFormat(3);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    bool first = true;
    for (const char* name : {"nul", "CON.mp3", "com1", "Lpt9.take", "aux .wav", "prn\\take"}) {
        run.type(IDC_PATH, dir.path() + "\\" + name);
        pressOk(run);
        HWND message = waitMessage();
        ASSERT_TRUE(message) << name << " was taken";
        std::string text = narrow(messageText(message));
        EXPECT_THAT(text, HasSubstr("Windows reserves it for a device")) << name;
        EXPECT_THAT(text, HasSubstr("CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9")) << name;
        if (first) screenshotMessage(message, "options-reserved-name");
        first = false;
        answer(message, IDOK);
        testsupport::pumpFor(100);
        EXPECT_FALSE(run.ended()) << name;
    }
    run.type(IDC_PATH, dir.file("null take"));  // a name that only begins like one
    pressOk(run);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getPath(), dir.file("null take.wav"));
}

TEST_F(OptionsDialog, NamesTheCodePageCannotHoldAreRefusedNamingTheCharacters) {
    const std::wstring cyrillic = L"\u0417\u0430\u043f\u0438\u0441\u044c", cjk = L"\u9332\u97f3";
    // A system older than the UTF-8 code page (this test program has no UTF-8 manifest).
    if (filesave::charactersOutsideCodePage(cyrillic + cjk, ::GetACP()).size() != 8)
        GTEST_SKIP() << "the code page holds them";
    testsupport::TempDir dir;
    dialog->setFolder(dir.path().c_str());
    dialog->setFormat(3);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    bool first = true;
    for (const std::wstring& name : {cyrillic, cjk + L" take"}) {
        run.focus(IDC_PATH);
        ::SendMessageW(run.item(IDC_PATH), EM_SETSEL, 0, -1);
        for (wchar_t c : name + L".wav") ::SendMessageW(run.item(IDC_PATH), WM_CHAR, c, 1);
        run.click(IDC_FORMAT_MP3_128);  // the box is left and the format changes: the name stays as typed
        pressOk(run);
        HWND message = waitMessage();
        ASSERT_TRUE(message) << "the name was taken";
        std::wstring text = messageText(message);
        for (wchar_t c : name) {
            if (c < 0x80) continue;  // the name's plain letters are not listed
            EXPECT_NE(text.find(c), std::wstring::npos) << "not named: U+" << std::hex << int(c);
        }
        EXPECT_NE(text.find(L"cannot be used on this computer"), std::wstring::npos);
        if (first) screenshotMessage(message, "options-code-page");
        first = false;
        answer(message, IDOK);
        testsupport::pumpFor(100);
        EXPECT_FALSE(run.ended());
        wchar_t shown[MAX_PATH] = {};
        ::GetWindowTextW(run.item(IDC_PATH), shown, MAX_PATH);
        EXPECT_EQ(std::wstring(shown), name + L".wav") << "what was typed is kept for correcting";
    }
    EXPECT_EQ(testsupport::fileExists(dir.file("??????.wav")), false);
    run.click(IDCANCEL);
    EXPECT_EQ(run.result(), IDCANCEL);
}

// On the bed: a drive letter of the Wine prefix on a 3 MiB tmpfs.
TEST_F(OptionsDialog, ADriveWithLessFreeSpaceThanARecordingNeedsIsRefusedNamingIt) {
    testsupport::SmallDrive drive(3 * 1024 * 1024);
    if (!drive.ready()) GTEST_SKIP() << "no small drive can be mounted here";
    ::CreateDirectoryA((drive.root() + "rec").c_str(), nullptr);
    dialog->setFolder((drive.root() + "rec").c_str());
    dialog->setFormat(3);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    pressOk(run);
    HWND message = waitMessage();
    ASSERT_TRUE(message) << "a drive with 3 MB free was accepted";
    std::string text = narrow(messageText(message));
    EXPECT_THAT(text, HasSubstr("not enough free space on " + drive.root()));
    EXPECT_THAT(text, HasSubstr("3.0 MB free"));
    EXPECT_THAT(text, HasSubstr(filesave::formatBytes(kit::OutOfSpaceReminder::kMustStopBytes)));
    screenshotMessage(message, "options-low-space");
    answer(message, IDOK);
    testsupport::pumpFor(100);
    EXPECT_FALSE(run.ended()) << "the user chooses another place";

    testsupport::TempDir dir;  // another place
    run.type(IDC_PATH, dir.file("take"));
    pressOk(run);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getPath(), dir.file("take.wav"));
}

struct Closer : kit::IMessageHandler {
    explicit Closer(kit::DialogWindow& d) : dialog(d) {}
    void handleMessage(UINT, WPARAM, LPARAM, LRESULT&, bool&) override { dialog.close(); }
    kit::DialogWindow& dialog;
};

TEST_F(OptionsDialog, CloseEndsTheDialogWithCancel) {
    Closer closer(*dialog);
    dialog->setMessageHandler(WM_APP + 5, &closer);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    ::SendMessageA(run.window(), WM_APP + 5, 0, 0);
    EXPECT_EQ(run.result(), IDCANCEL);
    EXPECT_FALSE(dialog->isShown());
    dialog->close();  // no window any more: nothing happens
}

TEST_F(OptionsDialog, ClosingTheDialogTakesAnOpenQuestionWithIt) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("keep.mp3"), "recorded before");
    Closer closer(*dialog);
    dialog->setMessageHandler(WM_APP + 5, &closer);
    dialog->setFolder(dir.path().c_str());
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    run.type(IDC_PATH, "keep");
    pressOk(run);
    HWND question = waitMessage();
    ASSERT_TRUE(question);
    ::SendMessageA(run.window(), WM_APP + 5, 0, 0);  // the time-out of the recording closes it
    EXPECT_EQ(run.result(), IDCANCEL);
    EXPECT_FALSE(::IsWindow(question));
    EXPECT_EQ(testsupport::readFile(dir.file("keep.mp3")), "recorded before");
}

TEST_F(OptionsDialog, ANullTableEntryIsReportedAndTheDialogGoesOn) {
    dialog->setMessageHandler(WM_APP + 6, nullptr);
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    testsupport::EventsFile events;
    ::SendMessageA(run.window(), WM_APP + 6, 0, 0);
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("#CaughtKitException"));
    EXPECT_THAT(added, HasSubstr("message = Tryed to call null-handler!"));
    run.click(IDC_FORMAT_WAV);
    EXPECT_EQ(dialog->getFormat(), 3);
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    fw::requestNotice(fw::programNotice(), false);
}

// The platform's save-file dialog, driven like the options dialog.
struct SaveAs {
    HWND window = nullptr;
    static BOOL CALLBACK find(HWND h, LPARAM self) {
        char cls[32] = {}, caption[64] = {};
        ::GetClassNameA(h, cls, sizeof cls);
        ::GetWindowTextA(h, caption, sizeof caption);
        if (std::string(cls) == "#32770" && std::string(caption) == "Save file..." && ::IsWindowVisible(h)) {
            reinterpret_cast<SaveAs*>(self)->window = h;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK findNameEdit(HWND h, LPARAM out) {
        char cls[32] = {};
        ::GetClassNameA(h, cls, sizeof cls);
        int id = ::GetDlgCtrlID(h);
        if (std::string(cls) == "Edit" && (id == 0x480 || id == 0x47c || ::GetDlgCtrlID(::GetParent(h)) == 0x47c)) {
            *reinterpret_cast<HWND*>(out) = h;
            return FALSE;
        }
        return TRUE;
    }
};

TEST_F(OptionsDialog, BrowsingWithTheWavFilterSwitchesAnMp3ChoiceToWav) {
    testsupport::TempDir dir;
    dialog->setFolder(dir.path().c_str());
    ModalRun run(*dialog, kTitle);
    ASSERT_TRUE(run.window());
    ASSERT_TRUE(run.checked(IDC_FORMAT_MP3_128));
    ::PostMessageA(run.item(IDC_CHANGE_PATH), BM_CLICK, 0, 0);  // the save-file dialog runs inside

    SaveAs saveAs;
    testsupport::waitUntil(
        [&] {
            ::EnumWindows(&SaveAs::find, reinterpret_cast<LPARAM>(&saveAs));
            return saveAs.window != nullptr;
        },
        10000);
    ASSERT_TRUE(saveAs.window) << "no save-file dialog";
    testsupport::pumpFor(300);
    HWND filter = ::GetDlgItem(saveAs.window, 0x470);
    ASSERT_TRUE(filter);
    EXPECT_EQ(::SendMessageA(filter, CB_GETCURSEL, 0, 0), 0);  // MP3 first for an MP3 format
    ::SendMessageA(filter, CB_SETCURSEL, 1, 0);
    // What the list sends when the user picks an entry with the mouse.
    for (WORD note : {CBN_SELCHANGE, CBN_SELENDOK})
        ::SendMessageA(saveAs.window, WM_COMMAND, MAKEWPARAM(0x470, note), reinterpret_cast<LPARAM>(filter));
    HWND name = nullptr;
    ::EnumChildWindows(saveAs.window, &SaveAs::findNameEdit, reinterpret_cast<LPARAM>(&name));
    ASSERT_TRUE(name);
    ::SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("take2"));
    ::PostMessageA(saveAs.window, WM_COMMAND, IDOK, 0);
    testsupport::waitUntil([&] { return !::IsWindow(saveAs.window); }, 5000);
    testsupport::pumpFor(200);

    EXPECT_TRUE(run.checked(IDC_FORMAT_WAV));
    EXPECT_FALSE(run.checked(IDC_FORMAT_MP3_128));
    EXPECT_EQ(dialog->getFormat(), 3);
    EXPECT_EQ(run.text(IDC_PATH), dir.path() + "\\take2.wav");
    run.click(IDOK);
    EXPECT_EQ(run.result(), IDOK);
    EXPECT_EQ(dialog->getPath(), dir.path() + "\\take2.wav");
    EXPECT_EQ(dialog->getFolder(), dir.path() + "\\");
}

}  // namespace
