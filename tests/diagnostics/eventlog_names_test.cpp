// With the program's string table the event log takes the product's names,
// and a failure it cannot survive is shown in a message box before exit 13.
#include <gmock/gmock.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "diagnostics/eventlog.h"
#include "support/support.h"

namespace {

TEST(EventLogNames, ComeFromTheStringTable) {
    char appData[MAX_PATH];
    ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE));
    ::CreateDirectoryA((std::string(appData) + "\\Korvel").c_str(), nullptr);
    EXPECT_STREQ(fw::applicationName(), "Korvel Sonotape");
    EXPECT_STREQ(fw::productName(), "Korvel Sonotape");
    EXPECT_STREQ(fw::libraryName(), "Korvel Field Watch");
    EXPECT_EQ(fw::eventsFilePath(), std::string(appData) + "\\Korvel\\Korvel Sonotape Logged Events.txt");
    EXPECT_THAT(fw::problemText(),
                ::testing::StartsWith("Korvel Sonotape seems to be experiencing problems. If you think the program "
                                      "works incorrectly, click below to send the information about this problem "
                                      "to the developers."));
}

int stopFatally(const std::vector<std::string>&) { fw::fatalStop("the test's reason"); }
testsupport::ChildMain fatalChild("fatal-stop", &stopFatally);

struct FoundBox {
    DWORD process;
    HWND box;
};

BOOL CALLBACK findErrorBox(HWND w, LPARAM p) {
    auto* f = reinterpret_cast<FoundBox*>(p);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(w, &pid);
    char title[64] = {};
    ::GetWindowTextA(w, title, sizeof title);
    if (pid == f->process && std::string(title) == "Error" && ::IsWindowVisible(w)) {
        f->box = w;
        return FALSE;
    }
    return TRUE;
}

TEST(EventLogNames, FatalStopShowsItsMessageAndEndsWith13) {
    testsupport::ChildProcess child("fatal-stop");
    FoundBox found{::GetProcessId(child.handle()), nullptr};
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            ::EnumWindows(&findErrorBox, reinterpret_cast<LPARAM>(&found));
            return found.box != nullptr;
        },
        20000));
    char text[1200] = {};
    ::GetDlgItemTextA(found.box, 0xFFFF, text, sizeof text);
    EXPECT_THAT(std::string(text),
                ::testing::HasSubstr("faced such big troubles that it cannot continue running. We are really sorry."));
    EXPECT_THAT(std::string(text),
                ::testing::HasSubstr("the following problem has occured:\n\tthe test's reason\n\nThank you"));
    ::PostMessageA(found.box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(child.wait(10000));
    EXPECT_EQ(child.exitCode(), 13u);
}

}  // namespace
