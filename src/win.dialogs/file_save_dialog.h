// The recording options dialog, shown at the start of every recording while
// sound is already being captured: folder and file name, format and bit rate,
// an optional time limit and a shutdown after the recording.
//
// OK is taken only for a file that can be written as named: a name the
// system's code page can hold, no device name, enough free space where it
// goes; an existing file is replaced only when the user says so. Otherwise
// the dialog says why and stays open.
#pragma once

#include <windows.h>

#include <string>

#include "win.dialogs/dialog_window.h"

class FileSaveDialog : public kit::DialogWindow {
public:
    // `recordingRate`: the rate of the recording under way (the playback
    // device's for loopback), which the format labels name; 0: none.
    explicit FileSaveDialog(HINSTANCE instance, uint32_t recordingRate = 0);

    // What the user chose.
    const std::string& getPath() const noexcept { return path; }
    const std::string& getFolder() const noexcept { return folder; }
    const std::string& getFileName() const noexcept { return fileName; }
    int getFormat() const noexcept;  // the engine's format code
    int getBitrate() const noexcept { return bitrate; }
    // The bits of the file: 24 when chosen for WAV or FLAC while offered, else 16.
    int getBits() const noexcept;
    bool hasTimeLimit() const noexcept { return timeLimit; }
    int getHours() const noexcept { return hours; }
    int getMinutes() const noexcept { return minutes; }
    bool isShutdownTicked() const noexcept { return shutdown; }
    // Shutdown ticked and time limit ticked.
    bool isShutdownWanted() const noexcept { return shutdown && timeLimit; }

    // Priming from the settings, before the dialog is shown.
    // Taken only when `text` names an existing folder with room for a file
    // name in it; a backslash is appended when missing. Until a folder is
    // taken the dialog offers the default storage folder (never a drive root
    // that nobody asked for).
    void setFolder(const char* text);
    // A code that names no format offers the default format (MP3 128).
    void setFormat(int code) noexcept;
    void setBitrate(int value) noexcept;  // taken only when greater than 0
    // A choice made without showing the dialog (a command): the complete
    // path, and a time limit when `limitMinutes` is above 0.
    void presetChoice(const std::string& fullPath, int limitMinutes);
    void setBits(int value) noexcept;  // 24, or else 16
    // Whether WAV and FLAC can be 24-bit (the recording keeps that depth);
    // otherwise the choice of bits is shown disabled, at 16.
    void offerDeepFiles(bool offered) noexcept { deepFiles = offered; }

    // Ends the dialog with Cancel, and a question it is asking with it.
    void close() override;
    // Ends the dialog with OK for what it shows, without a question or a
    // warning (the Windows session is ending): a question it is asking ends
    // unanswered. A name that OK would question (an existing file, a device
    // name, characters the code page cannot hold) gives way to the proposed
    // name in the folder offered at the start, made unique.
    void acceptAsShown();

    void handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, bool& handled) override;

private:
    void initDialog();
    void command(WORD id, WORD code);
    void updateControls();
    void updatePathVars();
    void browse();
    void showPath();
    void enableTimeControls(bool enable);
    void showFormatLabels();
    // OK: the path made complete and checked; false (after saying why) keeps the dialog open.
    bool acceptOutput();
    bool storableCharacters();
    bool enoughSpace();
    bool replaceAllowed();
    // Says why OK is not taken; false.
    bool refuse(const std::string& text);
    void focusPath();
    void endOwnedMessageBoxes();

    int formatIndex = 2;
    std::string path;
    std::string fileName;
    std::string folder;
    std::string offeredFolder;  // the folder shown when the dialog opened; names typed without one go there
    std::string proposedName;   // the name made when the dialog was, without extension
    int bitrate = 32;
    int bits = 16;
    bool deepFiles = false;
    uint32_t rate = 0;
    bool timeLimit = false;
    bool shutdown = false;
    int minutes = 0;
    int hours = 0;
};
