#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "diagnostics/eventlog.h"
#include "diagnostics/problem_windows.h"
#include "support/support.h"
#include "win.windows/custom_window.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr UINT kProbeMessage = WM_APP + 1;
constexpr UINT kOtherMessage = WM_APP + 2;

// A bare CustomWindow with a window of its own class.
class ProbeWindow : public kit::CustomWindow {
public:
    ProbeWindow() : CustomWindow("probe") {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = CustomWindow::windowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "sonotape.test.probe_window";
        registerClass(wc);
        hWnd = ::CreateWindowExA(0, wc.lpszClassName, getName().c_str(), WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, static_cast<CustomWindow*>(this));
    }
};

struct Recorder : kit::IMessageHandler {
    Recorder(std::vector<std::string>& log, std::string name, bool handles = false, LRESULT answer = 0)
        : log(log), name(std::move(name)), handles(handles), answer(answer) {}
    void handleMessage(UINT message, WPARAM, LPARAM, LRESULT& result, bool& handled) override {
        if (message < WM_APP) return;
        log.push_back(name);
        if (handles) {
            result = answer;
            handled = true;
        }
    }
    std::vector<std::string>& log;
    std::string name;
    bool handles;
    LRESULT answer;
};

TEST(WindowDispatch, AMessageReachesTheTableHandlerFirstThenTheDefaultHandler) {
    kit::smartptr<ProbeWindow> window(new ProbeWindow);
    ASSERT_TRUE(::IsWindow(window->getHandle()));
    EXPECT_EQ(kit::CustomWindow::fromHandle(window->getHandle()), window.get());

    std::vector<std::string> log;
    Recorder table(log, "table", true, 7);
    Recorder fallback(log, "default");
    window->setMessageHandler(kProbeMessage, &table);
    window->setDefaultHandler(&fallback);

    EXPECT_EQ(::SendMessageA(window->getHandle(), kProbeMessage, 0, 0), 7);
    EXPECT_THAT(log, ElementsAre("table", "default"));

    log.clear();
    ::SendMessageA(window->getHandle(), kOtherMessage, 0, 0);
    EXPECT_THAT(log, ElementsAre("default"));

    // A second handler for the same message replaces the first.
    Recorder replacement(log, "replacement");
    window->setMessageHandler(kProbeMessage, &replacement);
    log.clear();
    ::SendMessageA(window->getHandle(), kProbeMessage, 0, 0);
    EXPECT_THAT(log, ElementsAre("replacement", "default"));
}

TEST(WindowDispatch, WithoutHandlersTheMessageIsTracedAndLeftToTheDefaultProcedure) {
    kit::smartptr<ProbeWindow> window(new ProbeWindow);
    testsupport::EventsFile events;
    // The default procedure answers WM_GETTEXTLENGTH with the title's length.
    EXPECT_EQ(::SendMessageA(window->getHandle(), WM_GETTEXTLENGTH, 0, 0), 5);
    EXPECT_THAT(events.added(), HasSubstr("CustomWindow: No handler!"));
}

TEST(WindowDispatch, ANullTableEntryIsReportedAndTheWindowGoesOn) {
    kit::smartptr<ProbeWindow> window(new ProbeWindow);
    std::vector<std::string> log;
    Recorder fallback(log, "default");
    window->setDefaultHandler(&fallback);
    window->setMessageHandler(kProbeMessage, nullptr);

    testsupport::EventsFile events;
    ::SendMessageA(window->getHandle(), kProbeMessage, 0, 0);
    std::string added = events.added();
    EXPECT_THAT(added, HasSubstr("#CaughtKitException"));
    EXPECT_THAT(added, HasSubstr("kit_window(79)"));
    EXPECT_THAT(added, HasSubstr("message = Tryed to call null-handler!, file = kit_window, line = 125"));
    EXPECT_TRUE(log.empty());  // the throw ended the dispatch

    ::SendMessageA(window->getHandle(), kOtherMessage, 0, 0);
    EXPECT_THAT(log, ElementsAre("default"));
    fw::requestNotice(fw::programNotice(), false);  // the report's notice leaves the screen
}

TEST(WindowDispatch, TheObjectDestroysItsWindowAndForgetsAWindowDestroyedElsewhere) {
    HWND handle;
    {
        kit::smartptr<ProbeWindow> window(new ProbeWindow);
        handle = window->getHandle();
        ASSERT_TRUE(::IsWindow(handle));
    }
    EXPECT_FALSE(::IsWindow(handle));

    kit::smartptr<ProbeWindow> closed(new ProbeWindow);
    ::DestroyWindow(closed->getHandle());
    EXPECT_EQ(closed->getHandle(), nullptr);
}

TEST(WindowDispatch, AClassRegisteredBeforeIsSharedByTheNextWindow) {
    kit::smartptr<ProbeWindow> first(new ProbeWindow);
    kit::smartptr<ProbeWindow> second(new ProbeWindow);
    EXPECT_TRUE(::IsWindow(first->getHandle()));
    EXPECT_TRUE(::IsWindow(second->getHandle()));
    EXPECT_NE(first->getHandle(), second->getHandle());
}

TEST(TextWindow, FrozenTextIgnoresSetText) {
    struct Text : kit::TextWindow {
    } text;
    EXPECT_EQ(text.getText(), " ");
    text.setText("00:00:01");
    text.freezeText();
    text.setText("00:00:02");
    EXPECT_EQ(text.getText(), "00:00:01");
    text.unfreezeText();
    text.setText("00:00:03");
    EXPECT_EQ(text.getText(), "00:00:03");
}

}  // namespace
