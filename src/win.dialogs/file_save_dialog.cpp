#include "win.dialogs/file_save_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "engine/engine.h"
#include "config/settings.h"
#include "diagnostics/eventlog.h"
#include "encoding.mp3/mp3_encoding.h"
#include "kit/exceptions.h"
#include "kit/scoped.h"
#include "kit/text_code.h"
#include "reminders/reminders.h"
#include "resource.h"
#include "win.dialogs/file_save_logic.h"

namespace {
constexpr const char* kTraceSource = "win.dialogs/file_save_dialog";
constexpr int kPathChars = 1024;  // characters of the path box, not bytes

// The radio button of a format index (FLAC's came later and is numbered apart).
int formatButton(int index) noexcept { return index == 5 ? IDC_FORMAT_FLAC : IDC_FORMAT_WAV - 1 + index; }

void ensureCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
}

std::wstring wideText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    int got = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(got < 0 ? 0 : got));
    return text;
}

// At most `chars` characters of the control (as the edit box counts them, not
// bytes), in the program's code page.
std::string dialogText(HWND dialog, int id, int chars) {
    std::wstring text = wideText(::GetDlgItem(dialog, id));
    std::size_t length = std::min(text.size(), static_cast<std::size_t>(chars));
    if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
    return kit::narrow(std::wstring_view(text).substr(0, length));
}

void setDialogText(HWND dialog, int id, const std::string& text) {
    ::SetDlgItemTextW(dialog, id, kit::widen(text).c_str());
}

bool outsideCodePage(HWND dialog) {
    return !filesave::charactersOutsideCodePage(wideText(::GetDlgItem(dialog, IDC_PATH)), ::GetACP()).empty();
}

std::string withBackslash(std::string folder) {
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder;
}

// The volume that holds a folder, as the user knows it ("D:\", "\\server\share\").
std::string volumeOf(const std::string& folder) {
    wchar_t volume[MAX_PATH] = {};
    if (::GetVolumePathNameW(kit::widen(folder).c_str(), volume, MAX_PATH)) return kit::narrow(volume);
    return folder;
}

// Message boxes the dialog owns: a question still open when the dialog is closed.
BOOL CALLBACK endOwnedMessageBox(HWND window, LPARAM dialog) {
    char name[16] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(dialog) && std::string(name) == "#32770")
        ::EndDialog(window, IDCANCEL);
    return TRUE;
}
}  // namespace

FileSaveDialog::FileSaveDialog(HINSTANCE instance_, uint32_t recordingRate)
    : DialogWindow(instance_, IDD_FILE_SAVE, nullptr),
      folder(withBackslash(defaultStorageFolder().str())),
      rate(recordingRate) {
    unicodeWindows = true;
    ensureCommonControls();
    fileName = engine::proposedFileName();
    proposedName = fileName;
    FW_TRACE("New file name is:%s", fileName.c_str());
}

int FileSaveDialog::getFormat() const noexcept { return filesave::codeFromIndex(formatIndex); }

void FileSaveDialog::setFolder(const char* text) {
    if (!text || !isStorableFolder(text)) return;
    std::string candidate = filesave::resolvePath(text, {});
    DWORD attributes = ::GetFileAttributesA(candidate.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;  // a file is no folder
    kit::ScopedHandle dir(::CreateFileA(candidate.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) return;
    folder = withBackslash(candidate);
}

void FileSaveDialog::setFormat(int code) noexcept {
    int index = filesave::indexFromCode(code);
    formatIndex = filesave::isValidIndex(index) ? index : filesave::indexFromCode(engine::FORMAT_MP3_128);
}

void FileSaveDialog::setBitrate(int value) noexcept {
    if (value > 0) bitrate = value;
}

void FileSaveDialog::presetChoice(const std::string& fullPath, int limitMinutes) {
    path = fullPath;
    filesave::PathParts parts = filesave::splitPath(fullPath);
    folder = parts.folder;
    fileName = parts.name;
    timeLimit = limitMinutes > 0;
    hours = timeLimit ? limitMinutes / 60 : 0;
    minutes = timeLimit ? limitMinutes % 60 : 0;
}

void FileSaveDialog::setBits(int value) noexcept { bits = value == 24 ? 24 : 16; }

int FileSaveDialog::getBits() const noexcept { return deepFiles && (formatIndex == 1 || formatIndex == 5) ? bits : 16; }

// What will be recorded: the rate of the recording under way, and the bits of WAV and FLAC.
void FileSaveDialog::showFormatLabels() {
    for (int index : {1, 2, 3, 5}) {
        std::string label = filesave::formatLabel(index, rate, kit::mp3ResampleRate(rate), deepFiles ? bits : 16);
        ::SetDlgItemTextA(hDlg, formatButton(index), label.c_str());
    }
}

void FileSaveDialog::handleMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result, bool&) {
    if (message == WM_INITDIALOG) {
        result = TRUE;  // the keyboard focus goes to the first control
        initDialog();
    } else if (message == WM_COMMAND) {
        command(LOWORD(wParam), HIWORD(wParam));
    }
}

void FileSaveDialog::endOwnedMessageBoxes() {
    if (hDlg)
        ::EnumThreadWindows(::GetWindowThreadProcessId(hDlg, nullptr), &endOwnedMessageBox,
                            reinterpret_cast<LPARAM>(hDlg));
}

void FileSaveDialog::close() {
    endOwnedMessageBoxes();
    DialogWindow::close();
}

void FileSaveDialog::acceptAsShown() {
    if (!shown) return;
    endOwnedMessageBoxes();
    // Nothing may hold up the end of the session: where OK would question the
    // name, a new one in the offered folder is used.
    bool storable = !outsideCodePage(hDlg);
    std::string typed = storable ? dialogText(hDlg, IDC_PATH, kPathChars) : std::string();
    if (!typed.empty()) {
        path = filesave::resolvePath(typed, offeredFolder);
        updatePathVars();
    }
    fileName = filesave::withExtension(fileName, formatIndex);
    path = folder + fileName;
    DWORD folderAttributes = ::GetFileAttributesA(folder.c_str());
    bool usable = storable && !typed.empty() && !filesave::reservedComponent(path) &&
                  folderAttributes != INVALID_FILE_ATTRIBUTES && (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                  ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!usable) {
        folder = offeredFolder;
        std::string extension = filesave::extensionFor(formatIndex);
        fileName = proposedName + extension;
        for (int n = 2; ::GetFileAttributesA((folder + fileName).c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
            fileName = proposedName + " (" + std::to_string(n) + ")" + extension;
        path = folder + fileName;
    }
    FW_TRACE("taken as shown: %s", path.c_str());
    endDialog(IDOK);
}

void FileSaveDialog::initDialog() {
    offeredFolder = folder;
    HWND depth = ::GetDlgItem(hDlg, IDC_BITS);
    for (const char* item : {"16 bit", "24 bit"})
        ::SendMessageA(depth, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    if (!deepFiles) bits = 16;
    ::SendMessageA(depth, CB_SETCURSEL, bits == 24 ? 1 : 0, 0);
    showFormatLabels();
    HWND list = ::GetDlgItem(hDlg, IDC_BITRATE);
    for (int i = 0; i < static_cast<int>(std::size(filesave::kBitrates)); ++i) {
        char item[16];
        std::snprintf(item, sizeof item, "%d", filesave::kBitrates[i]);
        LRESULT at = ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        ::SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(at), i);
    }
    if (!filesave::isValidIndex(formatIndex)) {
        FW_TRACE("Hmm... We have a big problem. Programm doesn't know anything about %d file format", formatIndex);
        kit::setOrigin(kTraceSource, __LINE__, "FileSaveDialog::handleMessage");
        throw kit::WindowsError("Invalid file format");
    }
    ::CheckDlgButton(hDlg, formatButton(formatIndex), BST_CHECKED);
    updateControls();
    if (fileName.find('.') == std::string::npos) fileName += filesave::extensionFor(formatIndex);
    showPath();
    ::SendMessageA(list, CB_SETCURSEL, filesave::kInitialBitrateItem, 0);

    ::SetDlgItemTextA(hDlg, IDC_HOURS, "0");
    HWND hoursSpin = ::GetDlgItem(hDlg, IDC_HOURS_SPIN);
    ::SendMessageA(hoursSpin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(::GetDlgItem(hDlg, IDC_HOURS)), 0);
    ::SendMessageA(hoursSpin, UDM_SETRANGE, 0, MAKELPARAM(23, 0));
    HWND minutesSpin = ::GetDlgItem(hDlg, IDC_MINUTES_SPIN);
    ::SendMessageA(minutesSpin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(::GetDlgItem(hDlg, IDC_MINUTES)), 0);
    ::SendMessageA(minutesSpin, UDM_SETRANGE, 0, MAKELPARAM(59, 0));
    ::SetDlgItemTextA(hDlg, IDC_MINUTES, "0");
}

void FileSaveDialog::showPath() {
    path = folder + fileName;
    // A name with characters the code page cannot hold stays as typed, so
    // that OK can say which ones they are.
    if (!outsideCodePage(hDlg)) setDialogText(hDlg, IDC_PATH, path);
}

void FileSaveDialog::updateControls() {
    ::EnableWindow(::GetDlgItem(hDlg, IDC_BITRATE), ::IsDlgButtonChecked(hDlg, IDC_FORMAT_MP3_USER) == BST_CHECKED);
    ::EnableWindow(::GetDlgItem(hDlg, IDC_BITS), deepFiles && (formatIndex == 1 || formatIndex == 5));
    fileName = filesave::withExtension(fileName, formatIndex);
    showPath();
}

void FileSaveDialog::updatePathVars() {
    FW_TRACE("UpdatePathVars()");
    filesave::PathParts parts = filesave::splitPath(path);
    folder = parts.folder;
    fileName = parts.name;
    FW_TRACE("fsd_path = %s", path.c_str());
    FW_TRACE("fsd_dir = %s", folder.c_str());
    FW_TRACE("fsd_file_name = %s", fileName.c_str());
}

void FileSaveDialog::enableTimeControls(bool enable) {
    for (int id : {IDC_HOURS, IDC_MINUTES, IDC_SHUTDOWN, IDC_HOURS_SPIN, IDC_MINUTES_SPIN})
        ::EnableWindow(::GetDlgItem(hDlg, id), enable);
}

void FileSaveDialog::command(WORD id, WORD code) {
    switch (id) {
    case IDOK:
        if (acceptOutput()) endDialog(IDOK);
        break;
    case IDCANCEL: endDialog(IDCANCEL); break;
    case IDC_CHANGE_PATH:
        if (code == BN_CLICKED) browse();
        break;
    case IDC_PATH:
        if (code == EN_UPDATE) {
            path = dialogText(hDlg, IDC_PATH, kPathChars);
            updatePathVars();
        } else if (code == EN_KILLFOCUS) {
            updateControls();
        }
        break;
    case IDC_BITRATE:
        if (code == CBN_SELCHANGE) {
            HWND list = ::GetDlgItem(hDlg, IDC_BITRATE);
            char item[17] = {};
            LRESULT at = ::SendMessageA(list, CB_GETCURSEL, 0, 0);
            if (at >= 0 && ::SendMessageA(list, CB_GETLBTEXTLEN, at, 0) < static_cast<LRESULT>(sizeof item))
                ::SendMessageA(list, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(item));
            int value = filesave::readNumber(item);
            if (value > 0) bitrate = value;
        }
        break;
    case IDC_BITS:
        if (code == CBN_SELCHANGE) {
            bits = ::SendMessageA(::GetDlgItem(hDlg, IDC_BITS), CB_GETCURSEL, 0, 0) == 1 ? 24 : 16;
            showFormatLabels();
        }
        break;
    case IDC_FORMAT_WAV:
    case IDC_FORMAT_MP3_128:
    case IDC_FORMAT_MP3_96:
    case IDC_FORMAT_MP3_USER:
    case IDC_FORMAT_FLAC:
        if (code == BN_CLICKED) {
            formatIndex = id == IDC_FORMAT_FLAC ? 5 : id - IDC_FORMAT_WAV + 1;
            updateControls();
        }
        break;
    case IDC_HOURS:
        if (code == EN_UPDATE) hours = filesave::hoursFrom(dialogText(hDlg, IDC_HOURS, 7).c_str());
        break;
    case IDC_MINUTES:
        if (code == EN_UPDATE) minutes = filesave::minutesFrom(dialogText(hDlg, IDC_MINUTES, 7).c_str());
        break;
    case IDC_TIME_LIMIT:
        if (code == BN_CLICKED) {
            timeLimit = ::IsDlgButtonChecked(hDlg, IDC_TIME_LIMIT) == BST_CHECKED;
            enableTimeControls(timeLimit);
        }
        break;
    case IDC_SHUTDOWN:
        if (code == BN_CLICKED) shutdown = ::IsDlgButtonChecked(hDlg, IDC_SHUTDOWN) == BST_CHECKED;
        break;
    default: break;
    }
}

void FileSaveDialog::browse() {
    // The save-file dialog takes wide text: names in any script, MAX_PATH characters.
    wchar_t file[MAX_PATH] = {};
    std::wstring name = kit::widen(fileName), initialFolder = kit::widen(folder);
    name.copy(file, MAX_PATH - 1);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = nullptr;
    ofn.lpstrFilter = L"MP3\0*.mp3\0WAV\0*.wav\0FLAC files (*.flac)\0*.flac\0";
    ofn.nFilterIndex = static_cast<DWORD>(filesave::filterFor(formatIndex));
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = L"Save file...";
    ofn.lpstrInitialDir = initialFolder.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!::GetSaveFileNameW(&ofn)) return;

    path = kit::narrow(file);
    ::CheckDlgButton(hDlg, formatButton(formatIndex), BST_UNCHECKED);
    formatIndex = filesave::indexAfterBrowse(formatIndex, static_cast<int>(ofn.nFilterIndex));
    updatePathVars();
    ::CheckDlgButton(hDlg, formatButton(formatIndex), BST_CHECKED);
    updateControls();
}

// ---- OK -----------------------------------------------------------------------------------

bool FileSaveDialog::acceptOutput() {
    if (!storableCharacters()) return false;
    std::string typed = dialogText(hDlg, IDC_PATH, kPathChars);
    if (typed.empty()) return true;  // what cannot be created, the engine answers for
    path = filesave::resolvePath(typed, offeredFolder);
    updatePathVars();
    updateControls();  // the extension of the format, shown
    if (std::optional<std::string> reserved = filesave::reservedComponent(path))
        return refuse(filesave::reservedNameMessage(*reserved));
    return enoughSpace() && replaceAllowed();
}

bool FileSaveDialog::refuse(const std::string& text) {
    ::MessageBoxA(hDlg, text.c_str(), "Sonotape", MB_OK | MB_ICONWARNING);
    focusPath();
    return false;
}

void FileSaveDialog::focusPath() {
    if (shown) ::SendMessageA(hDlg, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(hDlg, IDC_PATH)), TRUE);
}

bool FileSaveDialog::storableCharacters() {
    std::wstring outside = filesave::charactersOutsideCodePage(wideText(::GetDlgItem(hDlg, IDC_PATH)), ::GetACP());
    if (outside.empty()) return true;
    FW_TRACE("the path holds %d characters the code page cannot hold", static_cast<int>(outside.size()));
    ::MessageBoxW(hDlg, filesave::codePageMessage(outside).c_str(), L"Sonotape", MB_OK | MB_ICONWARNING);
    focusPath();
    return false;
}

// Less free space than the space watcher stops a recording at: the recording
// would end moments after it began.
bool FileSaveDialog::enoughSpace() {
    uint64_t available = 0;
    if (!kit::platformFreeSpace(folder.c_str(), &available)) return true;  // no such folder: the engine says so
    const auto needed = static_cast<uint64_t>(kit::OutOfSpaceReminder::kMustStopBytes);
    if (available >= needed) return true;
    FW_TRACE("only %llu bytes free in %s", static_cast<unsigned long long>(available), folder.c_str());
    return refuse(filesave::lowSpaceMessage(volumeOf(folder), available, needed));
}

// As the platform's save dialogs do: an existing file is replaced only on Yes; No is the default.
bool FileSaveDialog::replaceAllowed() {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    int answer = ::MessageBoxA(hDlg, filesave::replaceQuestion(path).c_str(), "Sonotape",
                               MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer == IDYES) return shown;
    focusPath();
    return false;
}
