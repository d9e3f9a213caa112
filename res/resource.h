// Resource identifiers of the program.
#pragma once

// String table: names used by the event log.
#define IDS_APPLICATION_NAME 9870
#define IDS_PRODUCT_NAME 9871
#define IDS_LIBRARY_NAME 9872
#define IDS_EVENTS_FILE 9874

// Dialog templates.
#define IDD_CALIBRATION_WAIT 101
#define IDD_FILE_SAVE 102
#define IDD_END_WAIT 105
#define IDD_ABOUT 107
#define IDD_STARTUP 109
#define IDD_VAR_TEXT 113
#define IDD_HOTKEY 116

// Icons.
#define IDI_IDLE 110
#define IDI_RECORDING 111
#define IDI_SONOTAPE 115

// Bitmaps.
#define IDB_MAIN_SKIN 129
#define IDB_DARKNESS_BUTTON 130
#define IDB_BLINK_ON_BUTTON 131
#define IDB_BLINK_OFF_BUTTON 132
#define IDB_SONOTAPE 133

// Controls of the recording options dialog.
#define IDC_CHANGE_PATH 1000
#define IDC_PATH 1001
#define IDC_BITRATE 1004
#define IDC_FORMAT_WAV 1006
#define IDC_FORMAT_MP3_128 1007
#define IDC_FORMAT_MP3_96 1008
#define IDC_FORMAT_MP3_USER 1009
#define IDC_HOURS_SPIN 1010
#define IDC_HOURS 1011
#define IDC_MINUTES_SPIN 1012
#define IDC_MINUTES 1013
#define IDC_TIME_LIMIT 1014
#define IDC_SHUTDOWN 1015
#define IDC_FORMAT_FLAC 1016
#define IDC_BITS 1017

// The context menu (menu resource 3) and its commands.
#define IDR_CONTEXT_MENU 3
#define IDM_EXIT 32777
#define IDM_HELP 32788
#define IDM_ABOUT_BOX 32789
#define IDM_OPEN_STORAGE 32798
#define IDM_TRAY_OR_RESTORE 32799
#define IDM_REMIND_30MIN 32800
#define IDM_OUT_OF_SPACE 32801
#define IDM_START_WITH_WINDOWS 32802
#define IDM_HOTKEY 32803
#define IDM_CALIBRATE 40002
#define IDM_SILENCE_START 40010
#define IDM_SILENCE_STOP 40011
#define IDM_SILENCE_SPLIT 40012

// The accelerator table: Alt+? and Alt+/ send command 104, which nothing acts on.
#define IDR_ACCELERATORS 109
#define IDM_ABOUT 104

// Controls of the welcome and message dialogs.
#define IDC_SHOW_ON_STARTUP 1020
#define IDC_MESSAGE_TEXT 1022
#define IDC_HOTKEY 1030
