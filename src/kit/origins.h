// Where events say a failure comes from: the source name and line that the
// events file shows for a throw or catch site, kept in one table because
// readers of old events files (and tests) know them by these names and
// numbers. Sites whose own file and __LINE__ are shown do not appear here.
#pragma once

namespace origins {

struct Site {
    const char* source;
    int line;
};

// Threads and event queues.
inline constexpr Site kThreadStart{"kit_threads", 28};
inline constexpr Site kThreadIsRunning{"kit_threads", 43};
inline constexpr Site kEventQueueCreate{"kit_eventqueue", 24};
inline constexpr Site kEventQueuePost{"kit_eventqueue", 36};
inline constexpr Site kEventQueuePostCounted{"kit_eventqueue", 42};
inline constexpr Site kEventQueueGet{"kit_eventqueue", 58};

// The single-instance check.
inline constexpr Site kSecondInstanceCheck{"kit_singleappinst", 17};
inline constexpr Site kSingleInstanceStart{"kit_singleappinst", 40};

// Null smart pointers.
inline constexpr Site kSmartPtrDereference{"kit_smartptr", 78};
inline constexpr Site kSmartPtrMember{"kit_smartptr", 99};

// Operating-system helpers.
inline constexpr Site kFileExistsTrace{"kit_oslib", 35};
inline constexpr Site kExecutableName{"kit_oslib", 49};
inline constexpr Site kExecutableNameLong{"kit_oslib", 51};
inline constexpr Site kSpecialDirectory{"kit_oslib", 62};
inline constexpr Site kTempPath{"kit_oslib", 91};
inline constexpr Site kTempFileName{"kit_oslib", 102};
inline constexpr Site kReadOpen{"kit_oslib", 148};
inline constexpr Site kReadData{"kit_oslib", 151};
inline constexpr Site kReadTooLarge{"kit_oslib", 156};
inline constexpr Site kWriteOpen{"kit_oslib", 164};
inline constexpr Site kWriteData{"kit_oslib", 167};
inline constexpr Site kCopyOpenSource{"kit_oslib", 174};
inline constexpr Site kCopyOpenDestination{"kit_oslib", 177};
inline constexpr Site kCopyBuffer{"kit_oslib", 182};

// Windows: throw sites.
inline constexpr Site kNullHandler{"kit_window", 125};
inline constexpr Site kPatternedWindowCreate{"kit_window", 216};
inline constexpr Site kMeasureSingleLine{"kit_window", 279};
inline constexpr Site kDrawSingleLine{"kit_window", 281};
inline constexpr Site kMeasureFirstLine{"kit_window", 287};
inline constexpr Site kDrawFirstLine{"kit_window", 289};
inline constexpr Site kMeasureSecondLine{"kit_window", 292};
inline constexpr Site kDrawSecondLine{"kit_window", 294};
inline constexpr Site kButtonRegion{"kit_window", 381};
inline constexpr Site kButtonCreate{"kit_window", 447};

// Windows: where each window class catches what its messages throw.
inline constexpr Site kCustomWindowCatch{"kit_window", 79};
inline constexpr Site kUtilityWindowCatch{"kitlib_cxx_win_utilwindow", 65};
inline constexpr Site kDialogWindowCatch{"win.dialogs/dialog_window", 39};
inline constexpr Site kMailboxCatch{"win.gui/mailbox", 85};
inline constexpr Site kProblemPanelCatch{"diagnostics/problem_panel", 70};
inline constexpr Site kProblemFrameCatch{"diagnostics/problem_frame", 55};

}  // namespace origins
