// The recording options dialog, shown at the start of every recording while
// sound is already being captured: folder and file name, format and bit rate,
// an optional time limit and a shutdown after the recording.
#pragma once

#include <windows.h>

#include <string>

#include "win.dialogs/dialog_window.h"

class FileSaveDialog : public kit::DialogWindow {
public:
    explicit FileSaveDialog(HINSTANCE instance);

    // What the user chose.
    const std::string& getPath() const noexcept { return path; }
    const std::string& getFolder() const noexcept { return folder; }
    const std::string& getFileName() const noexcept { return fileName; }
    int getFormat() const noexcept;  // the engine's format code
    int getFormatIndex() const noexcept { return formatIndex; }
    int getBitrate() const noexcept { return bitrate; }
    bool hasTimeLimit() const noexcept { return timeLimit; }
    int getHours() const noexcept { return hours; }
    int getMinutes() const noexcept { return minutes; }
    bool isShutdownTicked() const noexcept { return shutdown; }
    // Shutdown ticked and time limit ticked.
    bool isShutdownWanted() const noexcept { return shutdown && timeLimit; }

    // Priming from the settings, before the dialog is shown.
    // Taken only when `text` names an existing folder; a backslash is appended when missing.
    void setFolder(const char* text);
    void setFormat(int code) noexcept;
    void setBitrate(int value) noexcept;  // taken only when greater than 0

    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    void initDialog();
    void command(WORD id, WORD code);
    void updateControls();
    void updatePathVars();
    void browse();
    void showPath();
    void enableTimeControls(bool enable);

    int formatIndex = 2;
    std::string path;
    std::string fileName;
    std::string folder = "C:\\";
    int bitrate = 32;
    bool timeLimit = false;
    bool shutdown = false;
    int minutes = 0;
    int hours = 0;
};
