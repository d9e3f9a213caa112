// The tray icon against the shell's real notification area: under Wine on a
// display without a desktop shell, explorer's tray puts the icons into a small
// stand-alone window, whose icon windows answer real mouse input with the
// callback message, as a shell's tray does.
#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "diagnostics/problem_windows.h"
#include "support/support.h"
#include "support/ui.h"
#include "win.trayicon/tray_icon.h"

namespace {

using kit::TrayIcon;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

HINSTANCE instance() { return ::GetModuleHandleA(nullptr); }
HICON programIcon(int id) { return ::LoadIconA(instance(), MAKEINTRESOURCEA(id)); }

std::vector<HWND> shellIconWindows() { return testsupport::trayIconWindows(); }

// What the shell knows: a modification of our icon succeeds only while it is there.
bool shellKnows(const TrayIcon& tray) {
    NOTIFYICONDATAA record = kit::trayNotifyRecord(tray.getWindow(), programIcon(IDI_IDLE), "probe");
    return ::Shell_NotifyIconA(NIM_MODIFY, &record);
}

struct Listener : kit::refcounted {
    explicit Listener(std::vector<std::string>& log) : log(log) {}
    void first(kit::TrayIconEvent e) { note("first", e); }
    void second(kit::TrayIconEvent e) { note("second", e); }
    void rightDown(kit::TrayIconEvent e) { note("right down", e); }
    void leftDown(kit::TrayIconEvent e) { note("left down", e); }
    void leftUp(kit::TrayIconEvent e) { note("left up", e); }
    void other(kit::TrayIconEvent e) { note("other", e); }
    void failing(kit::TrayIconEvent) {
        log.push_back("failing");
        throw kit::ARuntimeError("handler failed");
    }
    void command(kit::TrayIconEventEx e) {
        log.push_back("command " + std::to_string(e.wParam) + " " + std::to_string(e.lParam));
        source = e.icon;
    }
    void note(const char* what, const kit::TrayIconEvent& e) {
        log.push_back(what);
        source = e.icon;
    }
    std::vector<std::string>& log;
    TrayIcon* source = nullptr;
};

template <class M>
TrayIcon::Handler on(Listener& l, M member) {
    return kit::makeClosure(&l, member);
}

// The record in its version with the balloon fields and the identifier, up to
// the balloon icon: the shell's sizes for the two targets.
constexpr DWORD kRecordSize = sizeof(void*) == 8 ? 520 : 504;

TEST(TrayRecord, HasThePlatformSizeWithMessageIconAndTipCutTo127) {
    std::string tip(200, 'x');
    tip[126] = 'y';
    tip[127] = 'z';
    HWND window = reinterpret_cast<HWND>(0x1234);
    HICON icon = reinterpret_cast<HICON>(0x5678);
    NOTIFYICONDATAA r = kit::trayNotifyRecord(window, icon, tip.c_str());
    EXPECT_EQ(r.cbSize, kRecordSize);
    EXPECT_EQ(r.hWnd, window);
    EXPECT_EQ(r.uID, 1u);
    EXPECT_EQ(r.uFlags, 7u);
    EXPECT_EQ(r.uCallbackMessage, 1258u);
    EXPECT_EQ(r.hIcon, icon);
    EXPECT_EQ(std::strlen(r.szTip), 127u);
    EXPECT_EQ(r.szTip[126], 'y');

    NOTIFYICONDATAA empty = kit::trayNotifyRecord(window, icon, "");
    EXPECT_STREQ(empty.szTip, "");

    // As UTF-8 the tip keeps the record's size and is cut before a character
    // that would not fit whole: 42 three-byte characters are 126 bytes.
    std::string japanese;
    for (int i = 0; i < 50; ++i) japanese += "\xE6\x97\xA5";  // 日
    NOTIFYICONDATAA utf8 = kit::trayNotifyRecord(window, icon, japanese.c_str(), false, CP_UTF8);
    EXPECT_EQ(utf8.cbSize, kRecordSize);
    EXPECT_EQ(std::string(utf8.szTip), japanese.substr(0, 126));

    NOTIFYICONDATAA gone = kit::trayNotifyRecord(window, icon, "Sonotape", true);
    EXPECT_EQ(gone.cbSize, kRecordSize);
    EXPECT_EQ(gone.hWnd, window);
    EXPECT_EQ(gone.uID, 1u);
    EXPECT_EQ(gone.uFlags, 0u);
}

TEST(TrayIcon, ShowTwiceAddsTheIconOnceThenModifiesIt) {
    std::size_t before = shellIconWindows().size();
    kit::smartptr<TrayIcon> tray(new TrayIcon(instance()));
    EXPECT_FALSE(tray->isShown());
    EXPECT_FALSE(shellKnows(*tray));

    tray->setIcon(programIcon(IDI_IDLE));
    tray->setTip(std::string(200, 't'));
    tray->show();
    EXPECT_TRUE(tray->isShown());
    EXPECT_TRUE(testsupport::waitUntil([&] { return shellIconWindows().size() == before + 1; }, 2000));

    tray->setIcon(programIcon(IDI_RECORDING));
    DWORD start = ::GetTickCount();
    tray->show();  // a second add would fail and be retried for ten seconds
    EXPECT_LT(::GetTickCount() - start, 900u);
    testsupport::pumpFor(200);
    EXPECT_EQ(shellIconWindows().size(), before + 1);
    EXPECT_TRUE(shellKnows(*tray));

    tray->hide();
    EXPECT_FALSE(tray->isShown());
    EXPECT_FALSE(shellKnows(*tray));
    EXPECT_TRUE(testsupport::waitUntil([&] { return shellIconWindows().size() == before; }, 2000));
}

TEST(TrayIcon, HidingAnIconThatWasNeverShownDoesNothing) {
    kit::smartptr<TrayIcon> tray(new TrayIcon(instance()));
    DWORD start = ::GetTickCount();
    tray->hide();
    EXPECT_LT(::GetTickCount() - start, 500u);
    EXPECT_FALSE(tray->isShown());
}

TEST(TrayIcon, TheIconLeavesTheTrayWithItsObject) {
    HWND window;
    {
        kit::smartptr<TrayIcon> tray(new TrayIcon(instance()));
        tray->setIcon(programIcon(IDI_IDLE));
        tray->show();
        window = tray->getWindow();
        EXPECT_TRUE(::IsWindow(window));
    }
    EXPECT_FALSE(::IsWindow(window));
    NOTIFYICONDATAA record = kit::trayNotifyRecord(window, nullptr, "", true);
    EXPECT_FALSE(::Shell_NotifyIconA(NIM_DELETE, &record));
}

class TrayClicks : public ::testing::Test {
protected:
    void SetUp() override {
        std::size_t before = shellIconWindows().size();
        tray = kit::smartptr<TrayIcon>(new TrayIcon(instance()));
        tray->setIcon(programIcon(IDI_IDLE));
        tray->setTip("Sonotape");
        tray->show();
        ASSERT_TRUE(testsupport::waitUntil([&] { return shellIconWindows().size() == before + 1; }, 2000));
        icon = shellIconWindows().back();
        ::RedrawWindow(::GetParent(icon), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        testsupport::pumpFor(200);
    }
    void TearDown() override { tray.reset(); }

    // The notifications other than mouse moves, which the pointer's travel adds.
    std::vector<std::string> clicks() const {
        std::vector<std::string> out;
        for (auto& e : log)
            if (e != "other") out.push_back(e);
        return out;
    }

    std::vector<std::string> log;
    Listener listener{log};
    kit::smartptr<TrayIcon> tray;
    HWND icon = nullptr;
};

TEST_F(TrayClicks, ARightClickReachesExactlyTheRightButtonHandlersInOrder) {
    tray->addHandler(TrayIcon::RightButtonUp, on(listener, &Listener::first));
    tray->addHandler(TrayIcon::RightButtonUp, on(listener, &Listener::second));
    tray->addHandler(TrayIcon::RightButtonDown, on(listener, &Listener::rightDown));
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));
    tray->addHandler(TrayIcon::MouseMove, on(listener, &Listener::other));

    testsupport::mouseClick(testsupport::centreOf(icon), true);
    testsupport::waitUntil([&] { return clicks().size() >= 3; }, 2000);
    testsupport::pumpFor(200);
    EXPECT_THAT(clicks(), ElementsAre("right down", "first", "second"));
    EXPECT_EQ(listener.source, tray.get());
}

TEST_F(TrayClicks, ADoubleClickNotificationReachesNoHandlerAndIsAnsweredAsHandled) {
    for (auto kind : {TrayIcon::KeySelect, TrayIcon::ContextMenu, TrayIcon::MouseMove, TrayIcon::RightButtonDown,
                      TrayIcon::RightButtonUp})
        tray->addHandler(kind, on(listener, &Listener::other));
    tray->addHandler(TrayIcon::LeftButtonDown, on(listener, &Listener::leftDown));
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));

    testsupport::mouseDoubleClick(testsupport::centreOf(icon));
    testsupport::waitUntil([&] { return clicks().size() >= 3; }, 2000);
    testsupport::pumpFor(200);
    // The second press arrives as the double-click notification, which reaches nobody.
    EXPECT_THAT(clicks(), ElementsAre("left down", "left up", "left up"));

    log.clear();
    LRESULT result = 99;
    bool handled = false;
    tray->handleMessage(kit::kTrayCallbackMessage, kit::kTrayIconId, WM_LBUTTONDBLCLK, result, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(log.empty());

    handled = false;
    tray->handleMessage(kit::kTrayCallbackMessage, kit::kTrayIconId, WM_RBUTTONDOWN, result, handled);
    EXPECT_TRUE(handled);
    EXPECT_THAT(log, ElementsAre("other"));

    handled = false;
    tray->handleMessage(WM_USER + 1, 0, 0, result, handled);
    EXPECT_FALSE(handled);
}

// Handlers fed through the icon's window, as the shell feeds it, without an icon in the tray.
class TrayHandlers : public ::testing::Test {
protected:
    std::vector<std::string> log;
    Listener listener{log};
    kit::smartptr<TrayIcon> tray{new TrayIcon(instance())};
};

TEST_F(TrayHandlers, MenuCommandsReachTheCommandHandlersAndStayUnhandled) {
    tray->addCommandHandler(kit::makeClosure(&listener, &Listener::command));
    ::SendMessageA(tray->getWindow(), WM_COMMAND, 32789, 0);
    EXPECT_THAT(log, ElementsAre("command 32789 0"));
    EXPECT_EQ(listener.source, tray.get());

    LRESULT result = 0;
    bool handled = false;
    tray->handleMessage(WM_COMMAND, 40002, 0, result, handled);
    EXPECT_FALSE(handled);
}

TEST_F(TrayHandlers, AddingTheSameHandlerTwiceThrows) {
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::first));    // another member: fine
    tray->addHandler(TrayIcon::RightButtonUp, on(listener, &Listener::leftUp));  // another list: fine
    try {
        tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));
        FAIL() << "no exception";
    } catch (kit::ALogicError& e) {
        EXPECT_EQ(e.message(), "attempted to add a handler which already exists");
    }
    tray->removeHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));  // gone, so welcome again
}

TEST_F(TrayHandlers, AFailingHandlerIsReportedAndStopsTheRestOfItsList) {
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::failing));
    tray->addHandler(TrayIcon::LeftButtonUp, on(listener, &Listener::leftUp));
    testsupport::EventsFile events;
    ::SendMessageA(tray->getWindow(), kit::kTrayCallbackMessage, kit::kTrayIconId, WM_LBUTTONUP);
    EXPECT_THAT(log, ElementsAre("failing"));
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("#CaughtKitException"));
    EXPECT_THAT(added, HasSubstr("kitlib_cxx_win_utilwindow(65)"));
    EXPECT_THAT(added, HasSubstr("message = handler failed"));
    fw::requestNotice(fw::programNotice(), false);  // the report's notice leaves the screen
}

TEST(TrayIcon, AShellThatFailsTenTimesMakesShowOrHideThrowAndKeepsTheState) {
    kit::smartptr<TrayIcon> tray(new TrayIcon(instance()));
    tray->setIcon(programIcon(IDI_IDLE));
    tray->show();
    // The shell forgets the icon behind the object's back.
    NOTIFYICONDATAA record = kit::trayNotifyRecord(tray->getWindow(), nullptr, "", true);
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &record));

    testsupport::EventsFile events;
    DWORD start = ::GetTickCount();
    try {
        tray->hide();
        FAIL() << "no exception";
    } catch (kit::WindowsError& e) {
        EXPECT_THAT(e.message().c_str(), HasSubstr("Shell_NotifyIcon() failed during NIM_DELETE"));
    }
    DWORD took = ::GetTickCount() - start;
    EXPECT_GE(took, 9000u);
    EXPECT_TRUE(tray->isShown());  // unchanged by the failed call
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("attempt 10"));
    EXPECT_THAT(added, ::testing::Not(HasSubstr("attempt 11")));

    // Put it back so that the destructor's hide succeeds at once.
    NOTIFYICONDATAA again = kit::trayNotifyRecord(tray->getWindow(), programIcon(IDI_IDLE), "");
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_ADD, &again));
}

}  // namespace
